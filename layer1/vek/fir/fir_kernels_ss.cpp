// SSE column kernels: pairwise multiply-add (pmaddwd) on MMX registers, four taps per step.
#include <xmmintrin.h>

#include <algorithm>

#include "layer1/vek/fir/fir_elements.h"
#include "layer1/vek/fir/fir_generic.h"
#include "layer1/vek/fir/fir_kernels.h"
#include "layer1/vek/fir/fir_simd.h"

namespace fir {

namespace {

using Bytes = const unsigned char*;

// Partial sums of four consecutive outputs: output q reads the len samples from x + 2q bytes.
struct Four {
    __m64 acc01, acc23;  // lanes: outputs 0, 1 and 2, 3
};

// Sum over len taps of x[i] * taps16[i] for `outputs` (1, 2 or 4) consecutive windows starting at x.
inline void real_dots(Bytes x, const std::int16_t* taps16, std::int64_t len, int outputs, std::uint32_t* sums) {
    __m64 acc[4] = {_mm_setzero_si64(), _mm_setzero_si64(), _mm_setzero_si64(), _mm_setzero_si64()};
    std::int64_t i = 0;
    for (; i + 4 <= len; i += 4) {
        const __m64 t = load64(taps16 + i);
        for (int q = 0; q < outputs; ++q) acc[q] = _mm_add_pi32(acc[q], _mm_madd_pi16(load64(x + 2 * (q + i)), t));
    }
    for (int q = 0; q < outputs; ++q) {
        std::uint32_t s = sum_lanes(acc[q]);
        for (std::int64_t r = i; r < len; ++r) s = mac(s, load16(x, q + r), taps16[r]);
        sums[q] = s;
    }
}

// Outputs [0, count) from windows starting at x, 2 bytes apart: groups of four (non-temporal stores when
// the destination allows), then a pair and/or a single. Returns true when a non-temporal store was used.
bool real_run(Bytes x, const std::int16_t* taps16, std::int64_t len, std::int64_t count, int c,
              unsigned char* dst) {
    bool streamed = false;
    std::int64_t j = 0;
    std::uint32_t s[4];
    for (; j + 4 <= count; j += 4) {
        real_dots(x + 2 * j, taps16, len, 4, s);
        const __m64 lo = scale_lanes(_mm_set_pi32(static_cast<int>(s[1]), static_cast<int>(s[0])), c);
        const __m64 hi = scale_lanes(_mm_set_pi32(static_cast<int>(s[3]), static_cast<int>(s[2])), c);
        const __m64 packed = _mm_packs_pi32(lo, hi);
        unsigned char* out = dst + 2 * j;
        if ((reinterpret_cast<std::uintptr_t>(out) & 7) == 0) {
            _mm_stream_pi(reinterpret_cast<__m64*>(out), packed);
            streamed = true;
        } else {
            store64(out, packed);
        }
    }
    if (j + 2 <= count) {
        real_dots(x + 2 * j, taps16, len, 2, s);
        const __m64 v = _mm_packs_pi32(scale_lanes(_mm_set_pi32(static_cast<int>(s[1]), static_cast<int>(s[0])), c),
                                       _mm_setzero_si64());
        const std::int32_t bits = _mm_cvtsi64_si32(v);
        std::memcpy(dst + 2 * j, &bits, 4);
        j += 2;
    }
    if (j < count) {
        real_dots(x + 2 * j, taps16, len, 1, s);
        store16(dst, j, scale_output(s[0], c));
    }
    return streamed;
}

// Complex sums over len taps: (re, -im) pairs in tapsRe, (im, re) pairs in tapsIm, two samples a step.
inline ComplexElements::Acc complex_dot(Bytes x, const std::int16_t* tapsRe, const std::int16_t* tapsIm,
                                         const std::int32_t* taps32, std::int64_t len) {
    __m64 re = _mm_setzero_si64(), im = _mm_setzero_si64();
    std::int64_t i = 0;
    for (; i + 2 <= len; i += 2) {
        const __m64 xs = load64(x + 4 * i);
        re = _mm_add_pi32(re, _mm_madd_pi16(xs, load64(tapsRe + 2 * i)));
        im = _mm_add_pi32(im, _mm_madd_pi16(xs, load64(tapsIm + 2 * i)));
    }
    ComplexElements::Acc acc{sum_lanes(re), sum_lanes(im)};
    if (i < len) ComplexElements::mac(acc, loadc(x, i), taps32 + 2 * i);
    return acc;
}

// Complex outputs [0, count) from windows starting at x, 4 bytes apart, two outputs a group.
void complex_run(Bytes x, const FirState* st, std::int64_t count, int c, unsigned char* dst) {
    const std::int64_t len = st->tapsLength;
    const std::int16_t* tapsRe = st->taps16;
    const std::int16_t* tapsIm = st->taps16 + 2 * len;
    for (std::int64_t j = 0; j < count; j += 2) {
        const std::int64_t pair = std::min<std::int64_t>(2, count - j);
        for (std::int64_t q = 0; q < pair; ++q)
            storec(dst, j + q,
                   ComplexElements::scale(complex_dot(x + 4 * (j + q), tapsRe, tapsIm, st->taps32, len), c));
    }
}

}  // namespace

std::int16_t ss_one_real(FirState* st, std::int16_t in, std::int32_t sf) {
    if (has_wide_layout(st)) return GenericLoops<RealElements, 2>::one(st, in, sf);
    const std::int64_t len = st->tapsLength;
    auto* d = static_cast<std::int16_t*>(st->delay);
    std::int64_t pos = st->position;
    d[pos] = in;
    d[pos + len] = in;
    pos = pos + 1 == len ? 0 : pos + 1;
    st->position = static_cast<std::int32_t>(pos);
    std::uint32_t s;
    real_dots(reinterpret_cast<Bytes>(d + pos), st->taps16, len, 1, &s);
    _mm_empty();
    return scale_output(s, net_shift(st->scale, sf));
}

void ss_block_real(FirState* st, const std::int16_t* src, std::int16_t* dst, std::int64_t count,
                   std::int32_t sf) {
    if (has_wide_layout(st)) return GenericLoops<RealElements, 2>::block(st, src, dst, count, sf);
    const std::int64_t len = st->tapsLength;
    const int c = net_shift(st->scale, sf);
    auto* d = static_cast<std::int16_t*>(st->delay);
    const std::int64_t p = st->position;
    st->position = 0;
    // The window starts one element after the position: the history's oldest sample is dropped.
    const std::int64_t appended = std::min(count, round_up(len, 4));
    for (std::int64_t k = 0; k < appended; ++k) d[p + len + k] = load16(src, k);
    auto* out = reinterpret_cast<unsigned char*>(dst);
    const auto* srcBytes = reinterpret_cast<Bytes>(src);
    bool streamed = real_run(reinterpret_cast<Bytes>(d + p + 1), st->taps16, len, appended, c, out);
    // Output j >= appended reads inputs j - len + 1 .. j.
    if (count > appended)
        streamed |= real_run(srcBytes + 2 * (appended - len + 1), st->taps16, len, count - appended, c,
                             out + 2 * appended);
    _mm_empty();
    if (streamed) _mm_sfence();
    if (count >= len)
        for (std::int64_t k = 0; k < len; ++k) d[k] = load16(src, count - len + k);
    else
        std::memmove(d, d + p + count, static_cast<std::size_t>(len) * 2);
}

VekC16 ss_one_complex(FirState* st, VekC16 in, std::int32_t sf) {
    const std::int64_t len = st->tapsLength;
    auto* d = static_cast<VekC16*>(st->delay);
    std::int64_t pos = st->position;
    d[pos] = in;
    d[pos + len] = in;
    pos = pos + 1 == len ? 0 : pos + 1;
    st->position = static_cast<std::int32_t>(pos);
    const ComplexElements::Acc acc =
        complex_dot(reinterpret_cast<Bytes>(d + pos), st->taps16, st->taps16 + 2 * len, st->taps32, len);
    _mm_empty();
    return ComplexElements::scale(acc, net_shift(st->scale, sf));
}

void ss_block_complex(FirState* st, const VekC16* src, VekC16* dst, std::int64_t count, std::int32_t sf) {
    const std::int64_t len = st->tapsLength;
    const int c = net_shift(st->scale, sf);
    auto* d = static_cast<VekC16*>(st->delay);
    const std::int64_t p = st->position;
    st->position = 0;
    const std::int64_t B = generic_block_elements(len);
    const std::int64_t appended = std::min(count, B);
    for (std::int64_t k = 0; k < appended; ++k) d[p + len + k] = loadc(src, k);
    const std::int64_t fromDelay = count < B ? count : round_up(len, 4);
    auto* out = reinterpret_cast<unsigned char*>(dst);
    complex_run(reinterpret_cast<Bytes>(d + p + 1), st, fromDelay, c, out);
    if (count > fromDelay)
        complex_run(reinterpret_cast<Bytes>(src) + 4 * (fromDelay - len + 1), st, count - fromDelay, c,
                    out + 4 * fromDelay);
    _mm_empty();
    if (count >= len)
        for (std::int64_t k = 0; k < len; ++k) d[k] = loadc(src, count - len + k);
    else
        std::memmove(d, d + p + count, static_cast<std::size_t>(len) * 4);
}

}  // namespace fir
