// The six scaled division operations of slots 210-223 (but the 16-bit one by a constant), described once so that
// every column's kernels, the split routine and the entries are written once for all of them.
//
// Each operation divides element i of a dividend vector (the source) by a divisor that is either a vector
// (A = const E*) or a constant (A = the constant), times 2^-sf, and saturates to its result type. The reverse
// division divides its constant by the elements instead. A zero divisor in a vector gives the operation's
// zero-divisor value and the warning status 6.
#pragma once

#include <cstdint>

#include "layer1/vek/arith/exact.h"
#include "layer1/vek/core/vek_status.h"
#include "layer1/vek/core/vek_types.h"

namespace vek::div {

// A quotient num / den (den > 0) times 2^-sf, for any sf: the power of two goes into whichever side keeps it an
// integer. Beyond |sf| = 64 every quotient of 16-bit data is 0 or saturated already, so sf is clamped there.
struct Ratio {
    __int128 num, den;
};
inline Ratio scaled_ratio(int64_t num, int64_t den, int32_t sf) {
    const int s = sf > 64 ? 64 : (sf < -64 ? -64 : static_cast<int>(sf));
    __int128 n = num, d = den;
    if (d < 0) n = -n, d = -d;
    if (s > 0) d <<= s;
    if (s < 0) n *= static_cast<__int128>(1) << -s;
    return {n, d};
}

enum class Rounding { HalfAway, HalfEven };

// The exactly rounded quotient, saturated to [lo, hi]. Quotients of 16-bit data at moderate scale factors fit
// 64 bits, where the division is much cheaper than in 128.
template <class W>
inline int64_t round_quotient(W num, W den, Rounding how, int64_t lo, int64_t hi) {
    const bool neg = num < 0;
    const W a = neg ? -num : num;
    W q = a / den;
    const W twice = (a % den) * 2;
    if (twice > den || (twice == den && (how == Rounding::HalfAway || (q & 1)))) ++q;
    if (neg) q = -q;
    return q > hi ? hi : (q < lo ? lo : static_cast<int64_t>(q));
}
inline int64_t round_ratio(Ratio r, Rounding how, int64_t lo, int64_t hi) {
    constexpr __int128 kFits = static_cast<__int128>(1) << 61;
    if (r.num < kFits && r.num > -kFits && r.den < kFits)
        return round_quotient<int64_t>(static_cast<int64_t>(r.num), static_cast<int64_t>(r.den), how, lo, hi);
    return round_quotient<__int128>(r.num, r.den, how, lo, hi);
}

struct VecArg {};
struct ConstArg {};

// Vector 16s: dividend / divisor; a zero divisor gives 0, 32767 or -32768 by the dividend's sign.
struct Vec16 {
    using E = int16_t;
    using A = const int16_t*;
    static constexpr int kBlock = 16;  // elements per 32-byte block
    static constexpr int64_t kLo = -32768, kHi = 32767;
    static E on_zero(E x) { return static_cast<E>(x > 0 ? 32767 : (x < 0 ? -32768 : 0)); }
};
// Vector 8u: a zero divisor gives 0 for a zero dividend, else 255.
struct Vec8 {
    using E = uint8_t;
    using A = const uint8_t*;
    static constexpr int kBlock = 32;
    static constexpr int64_t kLo = 0, kHi = 255;
    static E on_zero(E x) { return x ? 255 : 0; }
};
// Vector 16sc: a zero divisor gives (0, 0).
struct VecC16 {
    using E = VekC16;
    using A = const VekC16*;
    static constexpr int kBlock = 8;
    static constexpr int64_t kLo = -32768, kHi = 32767;
};
// 8u by a constant.
struct Const8 {
    using E = uint8_t;
    using A = uint8_t;
    static constexpr int kBlock = 32;
    static constexpr int64_t kLo = 0, kHi = 255;
};
// 16sc by a constant.
struct ConstC16 {
    using E = VekC16;
    using A = VekC16;
    static constexpr int kBlock = 8;
    static constexpr int64_t kLo = -32768, kHi = 32767;
};
// A 16u constant divided by each element, no scale factor; a zero element gives 65535.
struct Rev16u {
    using E = uint16_t;
    using A = uint16_t;
    static constexpr int kBlock = 16;
    static constexpr int64_t kLo = 0, kHi = 65535;
};

template <class D>
inline constexpr bool kVectorDivisor = std::is_pointer_v<typename D::A>;

// The divisor operand of a piece starting at element k.
template <class A>
inline A advance(A a, int64_t k) {
    if constexpr (std::is_pointer_v<A>)
        return a + k;
    else
        return a;
}

// Kernel shape shared by every element, block and split routine: (divisor, dividend, destination, n, sf) -> 0 or 6.
template <class D>
using Kernel = VekStatus (*)(typename D::A, const typename D::E*, typename D::E*, int32_t, int32_t);

// The complex numerator (dividend times the conjugate of the divisor) and the squared magnitude, exact in 64 bits.
struct ComplexParts {
    int64_t p, s, m;
};
inline ComplexParts complex_parts(VekC16 b, VekC16 a) {
    const int64_t ar = a.re, ai = a.im, br = b.re, bi = b.im;
    return {br * ar + bi * ai, bi * ar - br * ai, ar * ar + ai * ai};
}

// One element by the exact rule with the given rounding (the generic kernels and the element kernels of the SSE2
// and SSE columns). Returns false for a zero divisor.
template <class D>
inline bool exact_element(typename D::A a, const typename D::E* src, typename D::E* dst, int64_t i, int32_t sf,
                          Rounding how) {
    using E = typename D::E;
    const E x = exact::ld(src, i);
    if constexpr (std::is_same_v<D, VecC16> || std::is_same_v<D, ConstC16>) {
        VekC16 d;
        if constexpr (std::is_same_v<D, VecC16>)
            d = exact::ld(a, i);
        else
            d = a;
        const ComplexParts c = complex_parts(x, d);
        if (c.m == 0) {
            exact::st(dst, i, VekC16{0, 0});
            return false;
        }
        const auto re = static_cast<int16_t>(round_ratio(scaled_ratio(c.p, c.m, sf), how, D::kLo, D::kHi));
        const auto im = static_cast<int16_t>(round_ratio(scaled_ratio(c.s, c.m, sf), how, D::kLo, D::kHi));
        exact::st(dst, i, VekC16{re, im});
        return true;
    } else if constexpr (std::is_same_v<D, Rev16u>) {
        if (x == 0) {
            exact::st(dst, i, E{65535});
            return false;
        }
        exact::st(dst, i, static_cast<E>(round_ratio(scaled_ratio(a, x, 0), how, D::kLo, D::kHi)));
        return true;
    } else {
        int64_t d;
        if constexpr (kVectorDivisor<D>)
            d = exact::ld(a, i);
        else
            d = a;
        if (d == 0) {
            if constexpr (kVectorDivisor<D>) exact::st(dst, i, D::on_zero(x));
            return false;
        }
        exact::st(dst, i, static_cast<E>(round_ratio(scaled_ratio(x, d, sf), how, D::kLo, D::kHi)));
        return true;
    }
}

template <class D>
inline VekStatus exact_elements(typename D::A a, const typename D::E* src, typename D::E* dst, int32_t n, int32_t sf,
                                Rounding how) {
    VekStatus st = VEK_OK;
    for (int64_t i = 0; i < n; ++i)
        if (!exact_element<D>(a, src, dst, i, sf, how)) st = VEK_WARN_DIV_BY_ZERO;
    return st;
}

}  // namespace vek::div
