// Lane walks of the scaled add, subtract and multiply entries on 8-bit unsigned and 16-bit signed halves (16-bit
// complex data are walked as their halves, a complex constant as a pair pattern that follows the half index).
//
// Every half is widened to a signed 16-bit lane (8u data zero-extended), the exact result is formed in 32-bit
// lanes (sums and differences by a multiply-add with +-1 pairs, products by the low and high halves), scaled for
// the call's scale-factor case and packed back with signed saturation; 8u results are then packed once more with
// unsigned saturation. A scalar head brings the destination to the lane width, the scalar tail takes the rest;
// both use the generic element rule, which the lanes reproduce exactly. MMX code ends with EMMS.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "layer1/vek/arith/core_link.h"
#include "layer1/vek/arith/exact.h"
#include "layer1/vek/arith/lanes.h"
#include "layer1/vek/arith/recipes.h"

namespace vek::simd {

using core_link::Column;
using exact::Bounds;
using exact::Case;

template <class Op, class H>
inline constexpr bool has = std::is_same_v<H, exact::H8u> || std::is_same_v<H, exact::H16s>;

template <Column C>
using LanesOf = std::conditional_t<C == Column::kWd, lanes::Sse2,
                                   std::conditional_t<C == Column::kSs, lanes::MmxSse, lanes::Mmx>>;

// --- loading and storing one lane vector of halves ---

template <class L, class S>
struct Io;

template <class L>
struct Io<L, int16_t> {
    static typename L::V load(const int16_t* p) { return L::load(p); }
    static void store(int16_t* p, typename L::V v) { L::store(p, v); }
};

template <>
struct Io<lanes::Sse2, uint8_t> {
    static __m128i load(const uint8_t* p) {
        return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128());
    }
    static void store(uint8_t* p, __m128i v) { _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_packus_epi16(v, v)); }
};

template <class L>
struct IoMmx8 {
    static __m64 load(const uint8_t* p) {
        int32_t t;
        std::memcpy(&t, p, 4);
        return _mm_unpacklo_pi8(_mm_cvtsi32_si64(t), _mm_setzero_si64());
    }
    static void store(uint8_t* p, __m64 v) {
        const int32_t t = _mm_cvtsi64_si32(_mm_packs_pu16(v, v));
        std::memcpy(p, &t, 4);
    }
};
template <>
struct Io<lanes::Mmx, uint8_t> : IoMmx8<lanes::Mmx> {};
template <>
struct Io<lanes::MmxSse, uint8_t> : IoMmx8<lanes::MmxSse> {};

// --- the second operand ---

template <class L, class S>
struct ConstLanes {
    S even, odd;
    typename L::V ve, vo;
    ConstLanes(S e, S o) : even(e), odd(o), ve(L::pair16(e, o)), vo(L::pair16(o, e)) {}
    int64_t at(int64_t i) const { return (i & 1) ? odd : even; }
    typename L::V vat(int64_t k) const { return (k & 1) ? vo : ve; }
};

template <class L, class S>
struct VecLanes {
    const S* p;
    int64_t at(int64_t i) const { return exact::ld(p, i); }
    typename L::V vat(int64_t k) const { return Io<L, S>::load(p + k); }
};

// --- exact intermediates in 32-bit lanes beside the ones recipes.h has ---

struct Sum {
    template <class L>
    static void lanes(typename L::V a, typename L::V b, typename L::V& lo, typename L::V& hi) {
        const typename L::V one = L::set1_16(1);
        lo = L::madd16(L::unpacklo16(b, a), one);
        hi = L::madd16(L::unpackhi16(b, a), one);
    }
};
struct RevDifference {  // a - b
    template <class L>
    static void lanes(typename L::V a, typename L::V b, typename L::V& lo, typename L::V& hi) {
        const typename L::V pm = L::pair16(-1, 1);
        lo = L::madd16(L::unpacklo16(b, a), pm);
        hi = L::madd16(L::unpackhi16(b, a), pm);
    }
};

template <class Op>
using Mid = std::conditional_t<
    std::is_same_v<Op, exact::Add>, Sum,
    std::conditional_t<std::is_same_v<Op, exact::Sub>, recipes::Difference,
                       std::conditional_t<std::is_same_v<Op, exact::SubRev>, RevDifference, recipes::Product>>>;

// Scale factor 0: the saturating 16-bit sum and difference need no widening.
template <class Op>
struct Sf0 {
    template <class L>
    typename L::V vec(typename L::V a, typename L::V b) const {
        if constexpr (std::is_same_v<Op, exact::Add>)
            return L::adds16(b, a);
        else if constexpr (std::is_same_v<Op, exact::Sub>)
            return L::subs16(b, a);
        else if constexpr (std::is_same_v<Op, exact::SubRev>)
            return L::subs16(a, b);
        else
            return recipes::Widened<recipes::Product, recipes::ScaleSf0>{}.template vec<L>(a, b);
    }
};

// The lane function of case K.
template <class Op, Case K>
inline auto lane_fn(int32_t sf) {
    using M = Mid<Op>;
    if constexpr (K == Case::Sf0) {
        return Sf0<Op>{};
    } else if constexpr (K == Case::Sf1 || K == Case::Pos) {
        return recipes::Widened<M, recipes::ScaleRound>{recipes::ScaleRound(K == Case::Sf1 ? 1 : sf)};
    } else if constexpr (K == Case::Neg) {
        return recipes::Widened<M, recipes::ScaleShiftLeft<std::is_same_v<Op, exact::Mul>>>{{-sf}};
    } else {
        return recipes::Widened<M, recipes::ScaleSign>{};
    }
}

// dst[i] = rule(x[i] op a[i]) over m halves in case K; dst may be x.
template <class L, class Op, class H, Case K, class A>
inline void walk(const A& a, const typename H::Store* x, typename H::Store* dst, int64_t m, int32_t sf,
                 const Bounds& b) {
    using S = typename H::Store;
    using W = typename H::Wide;
    constexpr int64_t kStep = L::kLanes16;
    const auto scalar = [&](int64_t i) {
        exact::st(dst, i, static_cast<S>(exact::scale<K>(Op::template r<W>(exact::ld(x, i), a.at(i)), sf, b)));
    };
    int64_t i = 0;
    if (m >= 4 * kStep) {
        constexpr uintptr_t unit = kStep * sizeof(S);
        const uintptr_t mis = reinterpret_cast<uintptr_t>(dst) & (unit - 1);
        const int64_t head = mis % sizeof(S) ? 0 : static_cast<int64_t>(((unit - mis) & (unit - 1)) / sizeof(S));
        for (; i < head; ++i) scalar(i);
        const auto f = lane_fn<Op, K>(sf);
        for (; m - i >= 2 * kStep; i += 2 * kStep) {
            const typename L::V r0 = f.template vec<L>(a.vat(i), Io<L, S>::load(x + i));
            const typename L::V r1 = f.template vec<L>(a.vat(i + kStep), Io<L, S>::load(x + i + kStep));
            Io<L, S>::store(dst + i, r0);
            Io<L, S>::store(dst + i + kStep, r1);
        }
        L::done();
    }
    for (; i < m; ++i) scalar(i);
}

template <class L, class Op, class H, class A>
inline void run(const A& a, const typename H::Store* x, typename H::Store* dst, int64_t m, int32_t sf,
                const Bounds& b) {
    const Case c = exact::case_of(sf, b);
    if (c == Case::Zero) {
        std::memset(dst, 0, static_cast<size_t>(m) * sizeof(typename H::Store));
        return;
    }
    exact::with_case(c, [&](auto k) { walk<L, Op, H, k.value>(a, x, dst, m, sf, b); });
}

template <Column C, class Op, class H>
inline void halves_const(const typename H::Store* x, typename H::Store even, typename H::Store odd,
                         typename H::Store* dst, int64_t m, int32_t sf, const Bounds& b) {
    using L = LanesOf<C>;
    run<L, Op, H>(ConstLanes<L, typename H::Store>(even, odd), x, dst, m, sf, b);
}

template <Column C, class Op, class H>
inline void halves_vec(const typename H::Store* x, const typename H::Store* y, typename H::Store* dst, int64_t m,
                       int32_t sf, const Bounds& b) {
    using L = LanesOf<C>;
    run<L, Op, H>(VecLanes<L, typename H::Store>{y}, x, dst, m, sf, b);
}

// --- complex products of 16-bit halves ---

// The exact real and imaginary parts of four (SSE2) or two (MMX) complex products in 32-bit lanes, interleaved
// as (re, im) pairs in lo and hi. The real part x.re*y.re - x.im*y.im comes from one multiply-add of (x.re,
// NOT x.im) with (y.re, y.im), which equals it minus y.im, plus y.im; the negation is never formed, so y.im =
// -32768 needs no special case, and the wrap-around of the intermediate cancels. The imaginary part x.re*y.im +
// x.im*y.re is one multiply-add with y's halves exchanged; its only value beyond 32 bits, 2^31 (all four halves
// -32768), comes out as -2^31 and is mended to 2^31 - 1, which rounds and saturates alike at every scale factor.
template <class L>
inline void complex_product(typename L::V x, typename L::V y, typename L::V& lo, typename L::V& hi) {
    const typename L::V re = L::add32(L::madd16(L::xor_(x, L::pair16(0, -1)), y), L::srai32(y, 16));
    const typename L::V swapped = L::or_(L::slli32(y, 16), L::srli32(y, 16));
    typename L::V im = L::madd16(x, swapped);
    im = L::add32(im, L::cmpeq32(im, L::set1_32(INT32_MIN)));
    lo = L::unpacklo32(re, im);
    hi = L::unpackhi32(re, im);
}

// Round half to even of 32-bit lanes shifted right by s (1..31) without leaving 32 bits: the arithmetic shift plus
// the carry of (the dropped bits + 2^(s-1) - 1 + the lowest kept bit), added as unsigned.
template <class L>
inline typename L::V round_shift32(typename L::V x, int s) {
    const typename L::V kept = L::and_(L::srli32(x, s), L::set1_32(1));
    const typename L::V dropped = L::and_(x, L::set1_32(static_cast<int32_t>((uint32_t{1} << s) - 1)));
    const typename L::V carry = L::add32(L::add32(dropped, kept), L::set1_32(static_cast<int32_t>((uint32_t{1} << (s - 1)) - 1)));
    return L::add32(L::srai32(x, s), L::srli32(carry, s));
}

template <class L, Case K>
inline typename L::V scale_products(typename L::V lo, typename L::V hi, int32_t sf) {
    if constexpr (K == Case::Sf0) {
        return L::packs32(lo, hi);
    } else if constexpr (K == Case::Sf1 || K == Case::Pos) {
        const int s = K == Case::Sf1 ? 1 : static_cast<int>(sf);
        return L::packs32(round_shift32<L>(lo, s), round_shift32<L>(hi, s));
    } else if constexpr (K == Case::Neg) {
        return recipes::ScaleShiftLeft<true>{static_cast<int>(-int64_t{sf})}.template vec<L>(lo, hi);
    } else {
        return recipes::sign_map16<L>(L::packs32(lo, hi));
    }
}

// dst[i] = rule(x[i] * a[i]) over n complex elements in case K; dst may be x or a's vector. The lanes need the
// destination on a 4-byte boundary to align it; otherwise they run unaligned from the start.
template <class L, Case K, class A>
inline void walk_products(const A& a, const int16_t* x, int16_t* dst, int64_t n, int32_t sf, const Bounds& b) {
    constexpr int64_t kStep = L::kLanes16 / 2;  // complex elements per lane vector
    const auto scalar = [&](int64_t e) {
        const int64_t i = 2 * e, xr = exact::ld(x, i), xi = exact::ld(x, i + 1), yr = a.at(i), yi = a.at(i + 1);
        exact::st(dst, i, static_cast<int16_t>(exact::scale<K>(xr * yr - xi * yi, sf, b)));
        exact::st(dst, i + 1, static_cast<int16_t>(exact::scale<K>(xr * yi + xi * yr, sf, b)));
    };
    int64_t e = 0;
    if (n >= 4 * kStep) {
        constexpr uintptr_t unit = L::kAlign;
        const uintptr_t mis = reinterpret_cast<uintptr_t>(dst) & (unit - 1);
        const int64_t head = mis % 4 ? 0 : static_cast<int64_t>(((unit - mis) & (unit - 1)) / 4);
        for (; e < head; ++e) scalar(e);
        for (; n - e >= 2 * kStep; e += 2 * kStep) {
            typename L::V lo, hi;
            complex_product<L>(L::load(x + 2 * e), a.vat(2 * e), lo, hi);
            const typename L::V r0 = scale_products<L, K>(lo, hi, sf);
            complex_product<L>(L::load(x + 2 * (e + kStep)), a.vat(2 * (e + kStep)), lo, hi);
            const typename L::V r1 = scale_products<L, K>(lo, hi, sf);
            L::store(dst + 2 * e, r0);
            L::store(dst + 2 * (e + kStep), r1);
        }
        L::done();
    }
    for (; e < n; ++e) scalar(e);
}

template <Column C, class A>
inline void products(const A& a, const int16_t* x, int16_t* dst, int64_t n, int32_t sf, const Bounds& b) {
    const Case c = exact::case_of(sf, b);
    if (c == Case::Zero) {
        std::memset(dst, 0, static_cast<size_t>(n) * 4);
        return;
    }
    exact::with_case(c, [&](auto k) { walk_products<LanesOf<C>, k.value>(a, x, dst, n, sf, b); });
}

template <Column C>
inline void products_const(const int16_t* x, int16_t re, int16_t im, int16_t* dst, int64_t n, int32_t sf,
                           const Bounds& b) {
    products<C>(ConstLanes<LanesOf<C>, int16_t>(re, im), x, dst, n, sf, b);
}
template <Column C>
inline void products_vec(const int16_t* x, const int16_t* y, int16_t* dst, int64_t n, int32_t sf, const Bounds& b) {
    products<C>(VecLanes<LanesOf<C>, int16_t>{y}, x, dst, n, sf, b);
}

}  // namespace vek::simd
