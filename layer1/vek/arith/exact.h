// The element rule of the scaled add, subtract and multiply family, written once for every element type.
//
// An element's exact result r (a sum, a difference or a product of the operand halves) is formed in an integer
// wide enough to hold it, multiplied by 2^-sf with rounding half to even, and saturated to the result type. The
// scale factor selects a case once per call, so the loops below run one straight body per case.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

namespace vek::exact {

// Element access at any address: vectors of 16- and 32-bit data may sit at odd offsets.
template <class T>
inline T ld(const T* p, int64_t i) {
    T v;
    std::memcpy(&v, p + i, sizeof v);
    return v;
}
template <class T>
inline void st(T* p, int64_t i, T v) {
    std::memcpy(p + i, &v, sizeof v);
}

// The range of a result half and the two case bounds of one operation on it: above `zero_above` every result
// rounds to 0, at or below `sign_at` only the sign of r survives.
struct Bounds {
    int64_t lo, hi;
    int32_t zero_above;
    int32_t sign_at;
};

enum class Case { Zero, Sf0, Sf1, Pos, Neg, Sign };

inline Case case_of(int32_t sf, const Bounds& b) {
    if (sf == 0) return Case::Sf0;
    if (sf == 1) return Case::Sf1;
    if (sf > b.zero_above) return Case::Zero;
    if (sf > 1) return Case::Pos;
    if (sf <= b.sign_at) return Case::Sign;
    return Case::Neg;
}

template <class W>
inline W clamp(W r, const Bounds& b) {
    return r > W(b.hi) ? W(b.hi) : (r < W(b.lo) ? W(b.lo) : r);
}

// One result in case K. W is int64_t, or __int128 where r needs 64 bits and a sign (complex 32-bit products).
// Pos serves sf 2..zero_above and Sf1 sf 1: the bias 2^(sf-1) - 1 plus the lowest kept bit makes the arithmetic
// shift round half to even; |r| stays far enough below the top of W for the bias to fit. Neg multiplies by
// 2^-sf (at most 2^31) after checking the bounds, so the product never leaves W.
template <Case K, class W>
inline W scale(W r, int32_t sf, const Bounds& b) {
    if constexpr (K == Case::Zero) {
        return 0;
    } else if constexpr (K == Case::Sf0) {
        return clamp(r, b);
    } else if constexpr (K == Case::Sf1 || K == Case::Pos) {
        const int s = K == Case::Sf1 ? 1 : static_cast<int>(sf);
        const W bias = (W(1) << (s - 1)) - 1;
        return clamp(W((r + bias + ((r >> s) & 1)) >> s), b);
    } else if constexpr (K == Case::Neg) {
        const int k = static_cast<int>(-int64_t{sf});
        if (r > (W(b.hi) >> k)) return W(b.hi);
        if (r < -((-W(b.lo)) >> k)) return W(b.lo);
        return clamp(W(r * (W(1) << k)), b);
    } else {
        return r > 0 ? W(b.hi) : (r < 0 ? W(b.lo) : W(0));
    }
}

// Calls f with the case as a compile-time constant.
template <class F>
inline void with_case(Case c, F&& f) {
    switch (c) {
        case Case::Zero:
            return f(std::integral_constant<Case, Case::Zero>{});
        case Case::Sf0:
            return f(std::integral_constant<Case, Case::Sf0>{});
        case Case::Sf1:
            return f(std::integral_constant<Case, Case::Sf1>{});
        case Case::Pos:
            return f(std::integral_constant<Case, Case::Pos>{});
        case Case::Neg:
            return f(std::integral_constant<Case, Case::Neg>{});
        case Case::Sign:
            return f(std::integral_constant<Case, Case::Sign>{});
    }
}

// --- operations on one half: x is the element operated on, y the other operand (constant or second vector) ---

struct Add {
    template <class W>
    static W r(W x, W y) { return x + y; }
};
struct Sub {  // element - constant, srcdst - src, src2 - src1
    template <class W>
    static W r(W x, W y) { return x - y; }
};
struct SubRev {  // constant - element
    template <class W>
    static W r(W x, W y) { return y - x; }
};
struct Mul {
    template <class W>
    static W r(W x, W y) { return x * y; }
};

// --- element types: the storage of one half, its wide intermediate and its range ---

template <class H, class W>
struct Half {
    using Store = H;
    using Wide = W;
    static constexpr int64_t kLo = std::is_signed_v<H> ? int64_t{INT64_C(-1) << (8 * sizeof(H) - 1)} : 0;
    static constexpr int64_t kHi = std::is_signed_v<H> ? -(kLo + 1) : int64_t((uint64_t{1} << (8 * sizeof(H))) - 1);
};
using H8u = Half<uint8_t, int64_t>;
using H16s = Half<int16_t, int64_t>;
using H32s = Half<int32_t, int64_t>;

// The case bounds of each operation and half type (the zero range starts above Z; below -S only signs remain).
template <class Op, class H, bool kComplexMul = false>
constexpr Bounds bounds() {
    constexpr int bits = 8 * sizeof(typename H::Store);
    int32_t z = 0, s = 0;
    if constexpr (std::is_same_v<Op, Mul>) {
        z = kComplexMul ? 2 * bits - 1 : (bits == 8 ? 16 : 2 * bits - 2);
        s = bits == 8 ? 8 : bits;
    } else {
        z = bits == 8 ? (std::is_same_v<Op, Add> ? 9 : 8) : bits;
        s = bits == 8 ? 8 : bits - 1 + (bits == 16 ? 1 : 0);
    }
    return Bounds{H::kLo, H::kHi, z, -s};
}

// --- the loops of the generic column ---

// Operand y of an elementwise loop over halves: a constant (one value, or a pair alternating with the half
// index for complex data) or a vector.
template <class H>
struct ConstHalves {
    typename H::Store even, odd;
    typename H::Wide at(int64_t i) const { return (i & 1) ? odd : even; }
};
template <class H>
struct VecHalves {
    const typename H::Store* p;
    typename H::Wide at(int64_t i) const { return ld(p, i); }
};

// dst[i] = rule(Op(x[i], y[i])) for the m halves; dst may be x itself.
template <class Op, class H, class Y>
inline void halves(const typename H::Store* x, const Y& y, typename H::Store* dst, int64_t m, int32_t sf,
                   const Bounds& b) {
    using W = typename H::Wide;
    using S = typename H::Store;
    with_case(case_of(sf, b), [&](auto k) {
        for (int64_t i = 0; i < m; ++i)
            st(dst, i, static_cast<S>(scale<k.value>(Op::template r<W>(ld(x, i), y.at(i)), sf, b)));
    });
}

// Complex products: tag of the operation, and the loop over n elements of interleaved halves. The real half
// x.re*y.re - x.im*y.im and the imaginary half x.re*y.im + x.im*y.re are exact in W (int64_t for 16-bit halves,
// __int128 for 32-bit halves, whose imaginary half can reach 2^63).
struct CMul {};

template <class H, class W, class Y>
inline void complex_products(const typename H::Store* x, const Y& y, typename H::Store* dst, int64_t n, int32_t sf,
                             const Bounds& b) {
    using S = typename H::Store;
    with_case(case_of(sf, b), [&](auto k) {
        for (int64_t i = 0; i < 2 * n; i += 2) {
            const W xr = ld(x, i), xi = ld(x, i + 1), yr = y.at(i), yi = y.at(i + 1);
            st(dst, i, static_cast<S>(scale<k.value>(W(xr * yr - xi * yi), sf, b)));
            st(dst, i + 1, static_cast<S>(scale<k.value>(W(xr * yi + xi * yr), sf, b)));
        }
    });
}

}  // namespace vek::exact
