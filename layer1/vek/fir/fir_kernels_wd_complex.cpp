// SSE2 column kernel for complex single-rate blocks. The window (the len - 1 history samples the first output
// reads, the inputs, then zeros) is put on the stack, and four outputs are formed at a time, tap by tap: one
// load of the four packed samples that tap i meets for outputs j .. j + 3, multiplied pairwise with the tap's
// (re, -im) in every lane, adds each output's real part, and with (im, re) its imaginary part. The sums wrap in
// 32 bits like the generic loop's, so the outputs are its outputs; the delay line is left as the SSE
// column's kernel leaves it.
#include <emmintrin.h>

#include <algorithm>

#include "layer1/vek/fir/fir_elements.h"
#include "layer1/vek/fir/fir_kernels.h"
#include "layer1/vek/fir/fir_simd.h"

namespace fir {

namespace {

constexpr std::int64_t kWindowSamples = 640;
constexpr std::int64_t kMaxTaps = 32;

inline __m128i loadu(const VekC16* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

inline __m128i broadcast_pair(const std::int16_t* halves) {
    std::int32_t two;
    std::memcpy(&two, halves, 4);
    return _mm_set1_epi32(two);
}

// Reads reach window sample round_up(count, 4) + len - 2.
bool fits(std::int64_t len, std::int64_t count) { return len <= kMaxTaps && len + round_up(count, 4) <= kWindowSamples; }

}  // namespace

void wd_block_complex(FirState* st, const VekC16* src, VekC16* dst, std::int64_t count, std::int32_t sf) {
    if (!fits(st->tapsLength, count)) return ss_block_complex(st, src, dst, count, sf);
    const std::int64_t len = st->tapsLength;
    const int c = net_shift(st->scale, sf);
    auto* d = static_cast<VekC16*>(st->delay);
    const std::int64_t p = st->position;
    st->position = 0;
    __m128i tapsRe[kMaxTaps], tapsIm[kMaxTaps];
    for (std::int64_t i = 0; i < len; ++i) {
        tapsRe[i] = broadcast_pair(st->taps16 + 2 * i);
        tapsIm[i] = broadcast_pair(st->taps16 + 2 * len + 2 * i);
    }

    alignas(16) VekC16 window[kWindowSamples];
    const std::int64_t history = len - 1;
    std::memcpy(window, d + p + 1, static_cast<std::size_t>(history) * 4);
    std::memcpy(window + history, src, static_cast<std::size_t>(count) * 4);
    const std::int64_t filled = history + count;
    const std::int64_t read = round_up(count, 4) + len - 1;
    if (read > filled) std::memset(window + filled, 0, static_cast<std::size_t>(read - filled) * 4);

    auto* out = reinterpret_cast<unsigned char*>(dst);
    for (std::int64_t j = 0; j < count; j += 4) {
        __m128i re = _mm_setzero_si128(), im = _mm_setzero_si128();
        for (std::int64_t i = 0; i < len; ++i) {
            const __m128i xs = loadu(window + j + i);
            re = _mm_add_epi32(re, _mm_madd_epi16(xs, tapsRe[i]));
            im = _mm_add_epi32(im, _mm_madd_epi16(xs, tapsIm[i]));
        }
        const __m128i r = scale_lanes(re, c);
        const __m128i m = scale_lanes(im, c);
        const __m128i packed = _mm_unpacklo_epi16(_mm_packs_epi32(r, r), _mm_packs_epi32(m, m));
        if (count - j >= 4) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * j), packed);
        } else {
            alignas(16) unsigned char four[16];
            _mm_store_si128(reinterpret_cast<__m128i*>(four), packed);
            std::memcpy(out + 4 * j, four, static_cast<std::size_t>(count - j) * 4);
        }
    }

    // The delay line as the SSE column's kernel leaves it.
    const std::int64_t appended = std::min(count, generic_block_elements(len));
    for (std::int64_t k = 0; k < appended; ++k) d[p + len + k] = loadc(src, k);
    if (count >= len)
        for (std::int64_t k = 0; k < len; ++k) d[k] = loadc(src, count - len + k);
    else
        std::memmove(d, d + p + count, static_cast<std::size_t>(len) * 4);
}

}  // namespace fir
