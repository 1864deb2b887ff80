// Vector forms of the FIR output rule and unaligned loads, for the MMX-register (SSE column) and SSE2
// kernels. They give exactly scale_output() of fir_internal.h on every lane.
#pragma once

#include <emmintrin.h>
#include <mmintrin.h>

#include <cstring>

#include "layer1/vek/fir/fir_internal.h"

namespace fir {

inline __m64 load64(const void* p) {
    std::int64_t v;
    std::memcpy(&v, p, 8);
    return _mm_cvtsi64_m64(v);
}
inline void store64(void* p, __m64 v) {
    const std::int64_t bits = _mm_cvtm64_si64(v);
    std::memcpy(p, &bits, 8);
}
inline std::uint32_t sum_lanes(__m64 v) {
    return static_cast<std::uint32_t>(_mm_cvtsi64_si32(v)) +
           static_cast<std::uint32_t>(_mm_cvtsi64_si32(_mm_srli_si64(v, 32)));
}
inline std::uint32_t sum_lanes(__m128i v) {
    const __m128i h = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
    const __m128i q = _mm_add_epi32(h, _mm_shuffle_epi32(h, _MM_SHUFFLE(2, 3, 0, 1)));
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(q));
}

// Two 32-bit accumulators scaled by the net shift c, still as 32-bit lanes (saturation happens when the
// caller packs them to 16 bits). c > 0: saturate first, so the left shift of at most 16 cannot overflow.
// c < 0, k = -c: (acc >> k) plus the carry of (low k bits + 2^(k-1) - 1 + bit k) >> k, which is the
// round-half-to-even quotient without a 33-bit intermediate.
inline __m64 scale_lanes(__m64 acc, int c) {
    if (c == 0) return acc;
    if (c > 0) {
        const __m64 s = _mm_packs_pi32(acc, acc);
        const __m64 widened = _mm_srai_pi32(_mm_unpacklo_pi16(s, s), 16);
        return _mm_sll_pi32(widened, _mm_cvtsi32_si64(c > 16 ? 16 : c));
    }
    const int k = -c;
    const __m64 count = _mm_cvtsi32_si64(k);
    const __m64 hi = _mm_sra_pi32(acc, count);
    const __m64 lowMask = _mm_set1_pi32(static_cast<int>((std::uint32_t{1} << k) - 1));
    const __m64 bias = _mm_set1_pi32(static_cast<int>((std::uint32_t{1} << (k - 1)) - 1));
    const __m64 bit = _mm_and_si64(hi, _mm_set1_pi32(1));
    const __m64 low = _mm_add_pi32(_mm_add_pi32(_mm_and_si64(acc, lowMask), bias), bit);
    return _mm_add_pi32(hi, _mm_srl_pi32(low, count));
}

inline __m128i scale_lanes(__m128i acc, int c) {
    if (c == 0) return acc;
    if (c > 0) {
        const __m128i s = _mm_packs_epi32(acc, acc);
        const __m128i widened = _mm_srai_epi32(_mm_unpacklo_epi16(s, s), 16);
        return _mm_sll_epi32(widened, _mm_cvtsi32_si128(c > 16 ? 16 : c));
    }
    const int k = -c;
    const __m128i count = _mm_cvtsi32_si128(k);
    const __m128i hi = _mm_sra_epi32(acc, count);
    const __m128i lowMask = _mm_set1_epi32(static_cast<int>((std::uint32_t{1} << k) - 1));
    const __m128i bias = _mm_set1_epi32(static_cast<int>((std::uint32_t{1} << (k - 1)) - 1));
    const __m128i bit = _mm_and_si128(hi, _mm_set1_epi32(1));
    const __m128i low = _mm_add_epi32(_mm_add_epi32(_mm_and_si128(acc, lowMask), bias), bit);
    return _mm_add_epi32(hi, _mm_srl_epi32(low, count));
}

}  // namespace fir
