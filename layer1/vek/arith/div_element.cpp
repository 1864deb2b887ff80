// Element kernels of division. The generic kernels and the element kernels of the SSE2 and SSE columns compute
// the exact quotient in integers and round it half away from zero (8u and 16u quotients, never negative, half
// up), so they agree bit for bit at every scale factor, complex sums included. The MMX column's kernels divide in
// x87 extended precision and round by the x87 integer conversion in the current rounding mode, which the MMX
// entries set to round to nearest (ties to even): every quotient of 16-bit data is exact or at least 2^-32 away
// from a half, far above the 64-bit significand's rounding, so the result is the exact quotient rounded to even.
// The MMX block kernels divide element by element as its element kernels do (one exact division per element is
// as fast here as batching one division over several elements and keeps every half exact), but for the 8u
// constant kernel (below).
#include <cmath>

#include "layer1/vek/arith/div_kernels.h"

namespace {

using namespace vek::div;
using vek::exact::ld;
using vek::exact::st;

// 2^-sf, exact in extended precision (beyond |sf| = 64 every quotient is 0 or saturated already).
long double power(int32_t sf) {
    const int s = sf > 64 ? 64 : (sf < -64 ? -64 : static_cast<int>(sf));
    return std::ldexp(1.0L, -s);
}

// The quotient clamped to [lo, hi], then stored as an integer by the x87 in its current rounding mode (a clamped
// value is an integer already).
int64_t x87_round(long double q, int64_t lo, int64_t hi) {
    if (q >= static_cast<long double>(hi)) return hi;
    if (q <= static_cast<long double>(lo)) return lo;
    int64_t r;
    asm("fistpll %0" : "=m"(r) : "t"(q) : "st");
    return r;
}

template <class D>
VekStatus x87_elements(typename D::A a, const typename D::E* src, typename D::E* dst, int32_t n, int32_t sf) {
    using E = typename D::E;
    VekStatus status = VEK_OK;
    const long double k = power(sf);
    for (int64_t i = 0; i < n; ++i) {
        const E x = ld(src, i);
        if constexpr (std::is_same_v<E, VekC16>) {
            VekC16 d;
            if constexpr (kVectorDivisor<D>)
                d = ld(a, i);
            else
                d = a;
            const ComplexParts c = complex_parts(x, d);
            if (c.m == 0) {
                st(dst, i, VekC16{0, 0});
                status = VEK_WARN_DIV_BY_ZERO;
                continue;
            }
            const long double m = static_cast<long double>(c.m);
            st(dst, i, VekC16{static_cast<int16_t>(x87_round(c.p / m * k, D::kLo, D::kHi)),
                              static_cast<int16_t>(x87_round(c.s / m * k, D::kLo, D::kHi))});
        } else if constexpr (std::is_same_v<D, Rev16u>) {
            if (x == 0) {
                st(dst, i, E{65535});
                status = VEK_WARN_DIV_BY_ZERO;
                continue;
            }
            st(dst, i, static_cast<E>(x87_round(static_cast<long double>(a) / x, D::kLo, D::kHi)));
        } else {
            long double d;
            if constexpr (kVectorDivisor<D>)
                d = ld(a, i);
            else
                d = a;
            if (d == 0) {
                if constexpr (kVectorDivisor<D>) st(dst, i, D::on_zero(x));
                status = VEK_WARN_DIV_BY_ZERO;
                continue;
            }
            st(dst, i, static_cast<E>(x87_round(x / d * k, D::kLo, D::kHi)));
        }
    }
    return status;
}

// The MMX block kernel of 8u by a constant works in integers with a truncated reciprocal, so its results can lie
// one below the rounded quotient (3 / 6 gives 0): R = floor(2^16 / v) rounded down by sf for sf >= 0, or
// R = floor(2^(9 - sf) / v) for sf < 0, all in 64 bits so that any sf is exact (beyond the clamps every
// non-zero source gives 0 or 255 already).
VekStatus const8_integer(uint8_t v, const uint8_t* src, uint8_t* dst, int32_t n, int32_t sf) {
    if (sf >= 0) {
        const int s = sf > 20 ? 20 : static_cast<int>(sf);
        uint64_t r = (uint64_t{1} << 16) / v;
        if (s > 0) r = (r + (uint64_t{1} << (s - 1))) >> s;
        for (int64_t i = 0; i < n; ++i) dst[i] = static_cast<uint8_t>((src[i] * r + 32768) >> 16);
    } else {
        const int s = sf < -40 ? 40 : static_cast<int>(-int64_t{sf});
        const uint64_t r = (uint64_t{1} << (9 + s)) / v;
        for (int64_t i = 0; i < n; ++i) {
            const uint64_t q = (src[i] * r + 256) >> 9;
            dst[i] = static_cast<uint8_t>(q > 255 ? 255 : q);
        }
    }
    return VEK_OK;
}

template <class D>
VekStatus mm_block(typename D::A a, const typename D::E* src, typename D::E* dst, int32_t n, int32_t sf) {
    if constexpr (std::is_same_v<D, Const8>)
        return const8_integer(a, src, dst, n, sf);
    else
        return x87_elements<D>(a, src, dst, n, sf);
}

}  // namespace

#define VEK_DIV_ELEMENTS(stem, D)                                                         \
    VekStatus stem##_gen VEK_DIV_KERNEL_PARAMS(D) {                                       \
        return exact_elements<D>(a, src, dst, n, sf, Rounding::HalfAway);                 \
    }                                                                                     \
    VekStatus stem##_wd VEK_DIV_KERNEL_PARAMS(D) {                                        \
        return exact_elements<D>(a, src, dst, n, sf, Rounding::HalfAway);                 \
    }                                                                                     \
    VekStatus stem##_ss VEK_DIV_KERNEL_PARAMS(D) {                                        \
        return exact_elements<D>(a, src, dst, n, sf, Rounding::HalfAway);                 \
    }                                                                                     \
    VekStatus stem##_mm VEK_DIV_KERNEL_PARAMS(D) {                                        \
        return x87_elements<D>(a, src, dst, n, sf);                                       \
    }                                                                                     \
    VekStatus stem##_block_mm VEK_DIV_KERNEL_PARAMS(D) {                                  \
        return mm_block<D>(a, src, dst, n, sf);                                           \
    }
VEK_DIV_OPERATIONS(VEK_DIV_ELEMENTS)
#undef VEK_DIV_ELEMENTS
