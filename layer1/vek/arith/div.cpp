// Division of a 16-bit vector by a 16-bit constant with a scale factor: destination[i] = source[i] / divisor *
// 2^-sf, rounded and saturated. Every column multiplies by a reciprocal formed once per call; the columns differ
// in the precision of that reciprocal and in how ties round:
//   gen  x87 extended precision, ties away from zero;
//   mm   x87 extended precision, ties to even (the x87 rounds to nearest for the call), in every element;
//   ss   single-precision reciprocal: ties to even in the aligned middle (packed single, current SSE rounding
//        mode), ties away from zero in the head and tail (product in double);
//   wd   as ss, the head and tail product in single precision.
// The power of two is exact for any scale factor: beyond |sf| = 64 every quotient is 0 or saturated already, so
// sf is clamped there, which keeps the factor finite and never changes a result.
#include <cmath>

#include "layer1/vek/arith/arith.h"
#include "layer1/vek/arith/lanes.h"
#include "layer1/vek/arith/scale.h"

namespace {

using vek::lanes::ld16;
using vek::lanes::st16;

int clamp_sf(int32_t sf) {
    return sf > 64 ? 64 : (sf < -64 ? -64 : static_cast<int>(sf));
}

// Element kernels: (divisor, source, destination, n, sf), n >= 0.

void elem_gen(int16_t d, const int16_t* src, int16_t* dst, int64_t n, int sf) {
    const long double f = std::ldexp(1.0L / d, -sf);
    for (int64_t i = 0; i < n; ++i) {
        long double v = ld16(src, i) * f;
        v = v >= 0 ? v + 0.5L : v - 0.5L;
        st16(dst, i, v >= 32767.0L ? 32767 : (v <= -32768.0L ? -32768 : static_cast<int16_t>(v)));
    }
}

// x87 product rounded to nearest (ties to even) by the current x87 rounding mode, which the mm entry sets.
void elem_mm(int16_t d, const int16_t* src, int16_t* dst, int64_t n, int sf) {
    const long double f = std::ldexp(1.0L / d, -sf);
    for (int64_t i = 0; i < n; ++i) {
        long double v = ld16(src, i) * f;
        v = v > 32767.0L ? 32767.0L : (v < -32768.0L ? -32768.0L : v);
        st16(dst, i, static_cast<int16_t>(std::lrint(v)));
    }
}

// Single-precision reciprocal, product in double (ss) or single (wd) precision, ties away from zero.
template <class Product>
void elem_single(int16_t d, const int16_t* src, int16_t* dst, int64_t n, int sf) {
    const float f = std::ldexp(1.0f / static_cast<float>(d), -sf);
    for (int64_t i = 0; i < n; ++i) {
        double v = static_cast<double>(static_cast<Product>(ld16(src, i)) * static_cast<Product>(f));
        v = v > 0 ? v + 0.5 : v - 0.5;
        st16(dst, i, v >= 32767.0 ? 32767 : (v <= -32768.0 ? -32768 : static_cast<int16_t>(v)));
    }
}

// Block kernels: n a multiple of 16, source and destination 32-byte aligned.

// mm: x87 as the element kernel. A factor below 2^-16 in magnitude cannot give a quotient of half a unit (16-bit
// sources stay below 2^15), so the block is cleared without multiplying.
void block_mm(int16_t d, const int16_t* src, int16_t* dst, int64_t n, int sf) {
    const long double f = std::ldexp(1.0L / d, -sf);
    if (std::fabs(f) < 1.0L / 65536.0L) {
        std::memset(dst, 0, static_cast<size_t>(n) * 2);
        return;
    }
    elem_mm(d, src, dst, n, sf);
}

// The packed product is clamped to the 16-bit range in single precision before the conversion, so factors of any
// size saturate by sign.
void block_ss(int16_t d, const int16_t* src, int16_t* dst, int64_t n, int sf) {
    const __m128 f = _mm_set1_ps(std::ldexp(1.0f / static_cast<float>(d), -sf));
    const __m128 hi = _mm_set1_ps(32767.0f), lo = _mm_set1_ps(-32768.0f);
    for (int64_t i = 0; i < n; i += 16) {
        vek::lanes::MmxSse::prefetch(src + i + 16);
        for (int64_t k = i; k < i + 16; k += 4) {
            __m128 q = _mm_mul_ps(_mm_cvtpi16_ps(vek::lanes::Mmx::load(src + k)), f);
            q = _mm_max_ps(_mm_min_ps(q, hi), lo);
            const __m64 r0 = _mm_cvtps_pi32(q), r1 = _mm_cvtps_pi32(_mm_movehl_ps(q, q));
            vek::lanes::Mmx::store(dst + k, _mm_packs_pi32(r0, r1));
        }
    }
    _mm_empty();
}

void block_wd(int16_t d, const int16_t* src, int16_t* dst, int64_t n, int sf) {
    const __m128 f = _mm_set1_ps(std::ldexp(1.0f / static_cast<float>(d), -sf));
    const __m128 hi = _mm_set1_ps(32767.0f), lo = _mm_set1_ps(-32768.0f);
    for (int64_t i = 0; i < n; i += 8) {
        const __m128i x = _mm_load_si128(reinterpret_cast<const __m128i*>(src + i));
        const __m128i x0 = _mm_srai_epi32(_mm_unpacklo_epi16(x, x), 16),
                      x1 = _mm_srai_epi32(_mm_unpackhi_epi16(x, x), 16);
        const __m128 q0 = _mm_max_ps(_mm_min_ps(_mm_mul_ps(_mm_cvtepi32_ps(x0), f), hi), lo);
        const __m128 q1 = _mm_max_ps(_mm_min_ps(_mm_mul_ps(_mm_cvtepi32_ps(x1), f), hi), lo);
        _mm_store_si128(reinterpret_cast<__m128i*>(dst + i),
                        _mm_packs_epi32(_mm_cvtps_epi32(q0), _mm_cvtps_epi32(q1)));
    }
}

using Kernel = void (*)(int16_t, const int16_t*, int16_t*, int64_t, int);

// Which elements go to the block kernel: none below 32 elements, or when the source is odd or the two pointers
// sit at different offsets within 32 bytes; otherwise a head up to the 32-byte boundary by the element kernel,
// the largest multiple of 16 elements by the block kernel, the rest by the element kernel.
void split(Kernel block, Kernel elem, int16_t d, const int16_t* src, int16_t* dst, int64_t n, int sf) {
    const uintptr_t as = reinterpret_cast<uintptr_t>(src) & 31, ad = reinterpret_cast<uintptr_t>(dst) & 31;
    if (n < 32 || (as & 1) || as != ad) {
        elem(d, src, dst, n, sf);
        return;
    }
    const int64_t h = as == 0 ? 0 : static_cast<int64_t>((32 - as) / 2);
    if (n < h) {
        elem(d, src, dst, n, sf);
        return;
    }
    elem(d, src, dst, h, sf);
    const int64_t m = (n - h) & ~int64_t{15};
    block(d, src + h, dst + h, m, sf);
    elem(d, src + h + m, dst + h + m, n - h - m, sf);
}

enum class Col { kGen, kMm, kSs, kWd };

template <Col C>
VekStatus div_const(const int16_t* src, int16_t d, int16_t* dst, int32_t n, int32_t sf) {
    if (src == nullptr || dst == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    if (d == 0) return VEK_ERR_DIV_BY_ZERO;
    const int s = clamp_sf(sf);
    if constexpr (C == Col::kGen) {
        elem_gen(d, src, dst, n, s);
    } else if constexpr (C == Col::kMm) {
        // Round to nearest for the call; the caller's rounding bits come back afterwards.
        const uint16_t cw = vek_fpu_set_control(0x0000, 0x0C00);
        split(block_mm, elem_mm, d, src, dst, n, s);
        if (cw & 0x0C00) vek_fpu_load_control(cw);
    } else if constexpr (C == Col::kSs) {
        split(block_ss, elem_single<double>, d, src, dst, n, s);
    } else {
        split(block_wd, elem_single<float>, d, src, dst, n, s);
    }
    return VEK_OK;
}

}  // namespace

#define VEK_DIV_ENTRIES(col, C)                                                                           \
    VekStatus vek_div_const_16_scaled_##col(const int16_t* src, int16_t divisor, int16_t* dst, int32_t n, \
                                            int32_t sf) {                                                 \
        return div_const<C>(src, divisor, dst, n, sf);                                                    \
    }                                                                                                     \
    VekStatus vek_div_const_16_inplace_scaled_##col(int16_t divisor, int16_t* v, int32_t n, int32_t sf) { \
        return vek_div_const_16_scaled_##col(v, divisor, v, n, sf);                                       \
    }
VEK_DIV_ENTRIES(gen, Col::kGen)
VEK_DIV_ENTRIES(mm, Col::kMm)
VEK_DIV_ENTRIES(ss, Col::kSs)
VEK_DIV_ENTRIES(wd, Col::kWd)
#undef VEK_DIV_ENTRIES
