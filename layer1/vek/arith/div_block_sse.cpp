// Block kernels of division in the SSE2 and SSE columns: single-precision arithmetic on four lanes, quotients
// converted to integers in the caller's SSE rounding mode (round to nearest, ties to even, by default) and
// saturated. The vector and reverse kernels multiply by the processor's reciprocal estimate (refined by one Newton
// step, except for 8u vectors); a step whose divisors hold a zero goes to the element kernel of the column, and so
// does every step of a 16s vector at sf -15 or below. Quotients are clamped to the result range in floating point
// before the conversion, so none leaves the converter's range. Both columns compute the same values.
//
// The 8u vector kernel refines its estimate as well: the bare estimate is allowed, but its error reaches a tenth of
// a unit at 255 and made exact halves such as 5 / 2 come out on either side by processor model; the refined
// estimate never exceeds the true reciprocal, so ties come out even on every processor.
#include <emmintrin.h>

#include <cmath>

#include "layer1/vek/arith/div_kernels.h"

namespace {

using namespace vek::div;

float power(int32_t sf) {  // 2^-sf in single precision, sf clamped where every quotient is already 0 or saturated
    const int s = sf > 64 ? 64 : (sf < -64 ? -64 : static_cast<int>(sf));
    return std::ldexp(1.0f, -s);
}

__m128 refined_reciprocal(__m128 d) {
    const __m128 r = _mm_rcp_ps(d);
    return _mm_sub_ps(_mm_add_ps(r, r), _mm_mul_ps(_mm_mul_ps(d, r), r));
}

__m128 clamp(__m128 q, float lo, float hi) {
    return _mm_max_ps(_mm_min_ps(q, _mm_set1_ps(hi)), _mm_set1_ps(lo));
}

// Four 16-bit values widened to single precision.
__m128 widen16(const void* p, bool isSigned) {
    const __m128i v = _mm_loadl_epi64(static_cast<const __m128i*>(p));
    const __m128i w = isSigned ? _mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16)
                               : _mm_unpacklo_epi16(v, _mm_setzero_si128());
    return _mm_cvtepi32_ps(w);
}
__m128 widen8(const uint8_t* p) {
    int32_t t;
    std::memcpy(&t, p, 4);
    const __m128i z = _mm_setzero_si128();
    return _mm_cvtepi32_ps(_mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(t), z), z));
}

// Eight rounded quotients (already clamped) into 16-bit results.
void store16(void* p, __m128 lo, __m128 hi) {
    _mm_storeu_si128(static_cast<__m128i*>(p), _mm_packs_epi32(_mm_cvtps_epi32(lo), _mm_cvtps_epi32(hi)));
}
void store16u(void* p, __m128 lo, __m128 hi) {
    const __m128i bias = _mm_set1_epi32(32768);
    const __m128i v = _mm_packs_epi32(_mm_sub_epi32(_mm_cvtps_epi32(lo), bias), _mm_sub_epi32(_mm_cvtps_epi32(hi), bias));
    _mm_storeu_si128(static_cast<__m128i*>(p), _mm_xor_si128(v, _mm_set1_epi16(static_cast<int16_t>(0x8000))));
}
void store8(uint8_t* p, __m128 q) {
    const __m128i w = _mm_packs_epi32(_mm_cvtps_epi32(q), _mm_setzero_si128());
    const int32_t t = _mm_cvtsi128_si32(_mm_packus_epi16(w, w));
    std::memcpy(p, &t, 4);
}

bool any_zero16(const void* p, int count) {  // count 8 or 16 halves of 16 bits
    const __m128i z = _mm_setzero_si128();
    int mask = 0;
    for (int k = 0; k < count; k += 8)
        mask |= _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(
                                                      static_cast<const uint8_t*>(p) + 2 * k)),
                                                  z));
    return mask != 0;
}

template <class D>
using Elem = Kernel<D>;

VekStatus vec16(const int16_t* a, const int16_t* x, int16_t* d, int32_t n, int32_t sf, Elem<Vec16> elem) {
    VekStatus st = VEK_OK;
    const __m128 k = _mm_set1_ps(power(sf));
    for (int32_t i = 0; i + 16 <= n; i += 16) {
        if (sf <= -15 || any_zero16(a + i, 16)) {
            st |= elem(a + i, x + i, d + i, 16, sf);
            continue;
        }
        for (int32_t j = i; j < i + 16; j += 8) {
            __m128 q[2];
            for (int h = 0; h < 2; ++h) {
                const __m128 r = refined_reciprocal(widen16(a + j + 4 * h, true));
                q[h] = clamp(_mm_mul_ps(_mm_mul_ps(r, widen16(x + j + 4 * h, true)), k), -32768.0f, 32767.0f);
            }
            store16(d + j, q[0], q[1]);
        }
    }
    return st ? VEK_WARN_DIV_BY_ZERO : VEK_OK;
}

VekStatus vec8(const uint8_t* a, const uint8_t* x, uint8_t* d, int32_t n, int32_t sf, Elem<Vec8> elem) {
    VekStatus st = VEK_OK;
    const __m128 k = _mm_set1_ps(power(sf));
    for (int32_t i = 0; i + 16 <= n; i += 16) {
        const __m128i dv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(dv, _mm_setzero_si128()))) {
            st |= elem(a + i, x + i, d + i, 16, sf);
            continue;
        }
        for (int32_t j = i; j < i + 16; j += 4) {
            const __m128 q = _mm_mul_ps(_mm_mul_ps(widen8(x + j), k), refined_reciprocal(widen8(a + j)));
            store8(d + j, clamp(q, 0.0f, 255.0f));
        }
    }
    return st ? VEK_WARN_DIV_BY_ZERO : VEK_OK;
}

VekStatus const8(uint8_t v, const uint8_t* x, uint8_t* d, int32_t n, int32_t sf) {
    const __m128 f = _mm_set1_ps((1.0f / static_cast<float>(v)) * power(sf));
    for (int32_t i = 0; i < n - n % 16; i += 4) store8(d + i, clamp(_mm_mul_ps(widen8(x + i), f), 0.0f, 255.0f));
    return VEK_OK;
}

// Two complex elements as (re0, im0, re1, im1) and their numerators against divisor lanes (ar0, ai0, ar1, ai1):
// re = b.re*a.re + b.im*a.im and im = b.im*a.re - b.re*a.im, from the dividend, its pair-swapped copy, the
// divisor's real parts and its negated imaginary parts.
__m128 numerators(__m128 b, __m128 a) {
    const __m128 are = _mm_shuffle_ps(a, a, _MM_SHUFFLE(2, 2, 0, 0));
    const __m128 aim = _mm_shuffle_ps(a, a, _MM_SHUFFLE(3, 3, 1, 1));
    const __m128 swapped = _mm_shuffle_ps(b, b, _MM_SHUFFLE(2, 3, 0, 1));
    const __m128 conj = _mm_set_ps(-1.0f, 1.0f, -1.0f, 1.0f);
    return _mm_add_ps(_mm_mul_ps(b, are), _mm_mul_ps(_mm_mul_ps(swapped, aim), conj));
}
// Squared magnitudes of two complex lanes pairs, each in both lanes of its element.
__m128 magnitudes(__m128 a) {
    const __m128 sq = _mm_mul_ps(a, a);
    return _mm_add_ps(sq, _mm_shuffle_ps(sq, sq, _MM_SHUFFLE(2, 3, 0, 1)));
}

VekStatus vecc16(const VekC16* a, const VekC16* x, VekC16* d, int32_t n, int32_t sf, Elem<VecC16> elem) {
    VekStatus st = VEK_OK;
    const __m128 k = _mm_set1_ps(power(sf));
    for (int32_t i = 0; i + 4 <= n; i += 4) {
        bool reZero = false, imZero = false;
        for (int j = i; j < i + 4; ++j) {
            const VekC16 v = vek::exact::ld(a, j);
            reZero |= v.re == 0;
            imZero |= v.im == 0;
        }
        if (reZero && imZero) {
            st |= elem(a + i, x + i, d + i, 4, sf);
            continue;
        }
        __m128 q[2];
        for (int h = 0; h < 2; ++h) {
            const __m128 av = widen16(a + i + 2 * h, true), bv = widen16(x + i + 2 * h, true);
            const __m128 m = magnitudes(av), r = _mm_rcp_ps(m);
            const __m128 t = _mm_mul_ps(_mm_sub_ps(_mm_add_ps(r, r), _mm_mul_ps(_mm_mul_ps(m, r), r)), k);
            q[h] = clamp(_mm_mul_ps(numerators(bv, av), t), -32768.0f, 32767.0f);
        }
        store16(d + i, q[0], q[1]);
    }
    return st ? VEK_WARN_DIV_BY_ZERO : VEK_OK;
}

VekStatus constc16(VekC16 v, const VekC16* x, VekC16* d, int32_t n, int32_t sf) {
    const float re = v.re, im = v.im;
    const __m128 f = _mm_set1_ps(power(sf) / (re * re + im * im));
    const __m128 av = _mm_set_ps(im, re, im, re);
    for (int32_t i = 0; i + 4 <= n; i += 4) {
        const __m128 q0 = clamp(_mm_mul_ps(numerators(widen16(x + i, true), av), f), -32768.0f, 32767.0f);
        const __m128 q1 = clamp(_mm_mul_ps(numerators(widen16(x + i + 2, true), av), f), -32768.0f, 32767.0f);
        store16(d + i, q0, q1);
    }
    return VEK_OK;
}

VekStatus rev16u(uint16_t v, const uint16_t* x, uint16_t* d, int32_t n, Elem<Rev16u> elem) {
    VekStatus st = VEK_OK;
    const __m128 c = _mm_set1_ps(v);
    for (int32_t i = 0; i + 16 <= n; i += 16) {
        if (any_zero16(x + i, 16)) {
            st |= elem(v, x + i, d + i, 16, 0);
            continue;
        }
        for (int32_t j = i; j < i + 16; j += 8) {
            const __m128 q0 = _mm_mul_ps(c, refined_reciprocal(widen16(x + j, false)));
            const __m128 q1 = _mm_mul_ps(c, refined_reciprocal(widen16(x + j + 4, false)));
            store16u(d + j, clamp(q0, 0.0f, 65535.0f), clamp(q1, 0.0f, 65535.0f));
        }
    }
    return st ? VEK_WARN_DIV_BY_ZERO : VEK_OK;
}

}  // namespace

#define VEK_DIV_SSE_BLOCKS(col)                                                                                  \
    VekStatus vek_k_div_vec_16_scaled_block_##col(const int16_t* a, const int16_t* x, int16_t* d, int32_t n,     \
                                                  int32_t sf) {                                                  \
        return vec16(a, x, d, n, sf, vek_k_div_vec_16_scaled_##col);                                             \
    }                                                                                                            \
    VekStatus vek_k_div_vec_8_scaled_block_##col(const uint8_t* a, const uint8_t* x, uint8_t* d, int32_t n,      \
                                                 int32_t sf) {                                                   \
        return vec8(a, x, d, n, sf, vek_k_div_vec_8_scaled_##col);                                               \
    }                                                                                                            \
    VekStatus vek_k_div_vec_c16_scaled_block_##col(const VekC16* a, const VekC16* x, VekC16* d, int32_t n,       \
                                                   int32_t sf) {                                                 \
        return vecc16(a, x, d, n, sf, vek_k_div_vec_c16_scaled_##col);                                           \
    }                                                                                                            \
    VekStatus vek_k_div_const_8_scaled_block_##col(uint8_t v, const uint8_t* x, uint8_t* d, int32_t n,           \
                                                   int32_t sf) {                                                 \
        return const8(v, x, d, n, sf);                                                                           \
    }                                                                                                            \
    VekStatus vek_k_div_const_c16_scaled_block_##col(VekC16 v, const VekC16* x, VekC16* d, int32_t n,            \
                                                     int32_t sf) {                                               \
        return constc16(v, x, d, n, sf);                                                                         \
    }                                                                                                            \
    VekStatus vek_k_divrev_const_16u_block_##col(uint16_t v, const uint16_t* x, uint16_t* d, int32_t n,          \
                                                 int32_t) {                                                      \
        return rev16u(v, x, d, n, vek_k_divrev_const_16u_##col);                                                 \
    }
VEK_DIV_SSE_BLOCKS(wd)
VEK_DIV_SSE_BLOCKS(ss)
#undef VEK_DIV_SSE_BLOCKS
