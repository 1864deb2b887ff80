// Multi-rate block loop of the SSE and SSE2 columns: every lane's taps are contiguous and padded to a
// multiple of four, so a lane is a run of pairwise multiply-adds on MMX registers.
#include <mmintrin.h>
#include <xmmintrin.h>

#include <algorithm>
#include <cstring>

#include "layer1/vek/fir/fir_elements.h"
#include "layer1/vek/fir/fir_multirate.h"
#include "layer1/vek/fir/fir_simd.h"

namespace fir {

namespace {

// Real lane: npad samples (any address) times npad 16-bit taps, four per step.
inline RealElements::Acc real_lane(const unsigned char* x, const std::int16_t* taps, std::int64_t npad) {
    __m64 acc = _mm_setzero_si64();
    for (std::int64_t r = 0; r < npad; r += 4)
        acc = _mm_add_pi32(acc, _mm_madd_pi16(load64(x + 2 * r), load64(taps + r)));
    return RealElements::Acc{sum_lanes(acc)};
}

// Complex lane: two packed samples per step against two (re, im) taps. The real part multiplies each
// sample with (re, -im), the imaginary part with (im, re).
inline ComplexElements::Acc complex_lane(const unsigned char* x, const std::int16_t* taps, std::int64_t npad) {
    const __m64 negateIm = _mm_set_pi16(-1, 0, -1, 0);
    __m64 accRe = _mm_setzero_si64(), accIm = _mm_setzero_si64();
    for (std::int64_t r = 0; r < npad; r += 2) {
        const __m64 xs = load64(x + 4 * r);
        const __m64 t = load64(taps + 2 * r);
        const __m64 conj = _mm_sub_pi16(_mm_xor_si64(t, negateIm), negateIm);
        const __m64 swapped = _mm_shuffle_pi16(t, _MM_SHUFFLE(2, 3, 0, 1));
        accRe = _mm_add_pi32(accRe, _mm_madd_pi16(xs, conj));
        accIm = _mm_add_pi32(accIm, _mm_madd_pi16(xs, swapped));
    }
    return ComplexElements::Acc{sum_lanes(accRe), sum_lanes(accIm)};
}

template <class E>
typename E::Acc lane(const unsigned char* x, const std::int16_t* taps, std::int64_t npad) {
    if constexpr (E::tapWords == 1)
        return real_lane(x, taps, npad);
    else
        return complex_lane(x, taps, npad);
}

template <class E>
void block_padded(FirState* st, const typename E::Elem* src, typename E::Elem* dst, std::int64_t iterations,
                  std::int32_t sf) {
    using Elem = typename E::Elem;
    using Acc = typename E::Acc;
    const MultirateSizes z = multirate_sizes(st->tapsLength, st->upFactor, st->downFactor);
    const std::int64_t n = z.n, npad = st->paddedLength / 2;
    const std::int64_t U = st->upFactor;
    const std::int64_t inputs = st->downFactor * iterations;
    const std::int64_t outputs = U * iterations;
    auto* d = static_cast<Elem*>(st->delay);
    const std::int64_t appended = std::min(inputs, z.T + 1);
    for (std::int64_t k = 0; k < appended; ++k) d[n + k] = E::load(src, k);
    const std::int64_t inDelay = n + appended, limit = n + inputs;
    const std::int32_t* step = st->phaseTable;
    const std::int16_t* table = st->taps16;
    const int c = net_shift(st->scale, sf);
    const auto* srcBytes = reinterpret_cast<const unsigned char*>(src);

    std::int64_t offset = 0;  // window position of the lane, advanced by the byte steps
    std::int64_t g = 0;
    for (std::int64_t j = 0; j < outputs; j += 4) {
        const std::int64_t lanes = std::min<std::int64_t>(4, outputs - j);
        for (std::int64_t l = 0; l < lanes; ++l) {
            offset += step[4 * g + l] / 2;
            const std::int16_t* taps = table + E::tapWords * (4 * g + l) * npad;
            Acc acc;
            if (offset + npad <= inDelay) {
                acc = lane<E>(reinterpret_cast<const unsigned char*>(d + offset), taps, npad);
            } else if (offset >= n && offset + npad <= limit) {
                acc = lane<E>(srcBytes + sizeof(Elem) * (offset - n), taps, npad);
            } else {
                // Near the end of the input: the sum stops at the last input.
                const std::int64_t stop = std::min(npad, limit - offset);
                for (std::int64_t r = 0; r < stop; ++r) {
                    const std::int64_t w = offset + r;
                    const Elem x = w < inDelay ? d[w] : E::load(src, w - n);
                    E::mac(acc, x, taps + E::tapWords * r);
                }
            }
            E::store(dst, j + l, E::scale(acc, c));
        }
        if (++g == U) {
            g = 0;
            offset += step[4 * U] / 2;
        }
    }
    _mm_empty();
    if (inputs + n <= inDelay)
        std::memmove(d, d + inputs, static_cast<std::size_t>(n) * sizeof(Elem));
    else
        for (std::int64_t i = 0; i < n; ++i) d[i] = E::load(src, inputs - n + i);
}

}  // namespace

void multirate_block_real_padded(FirState* st, const std::int16_t* src, std::int16_t* dst,
                                 std::int64_t iterations, std::int32_t sf) {
    block_padded<RealElements>(st, src, dst, iterations, sf);
}

void multirate_block_complex_padded(FirState* st, const VekC16* src, VekC16* dst, std::int64_t iterations,
                                    std::int32_t sf) {
    block_padded<ComplexElements>(st, src, dst, iterations, sf);
}

}  // namespace fir
