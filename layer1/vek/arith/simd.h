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

}  // namespace vek::simd
