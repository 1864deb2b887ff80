// Lane recipes of the 16-bit element-wise kernels (multiply and subtract, in place or into a destination).
//
// A kernel is  dst[i] = F(a[i], b[i])  where a is the operand applied (a broadcast constant or a source vector) and
// b the operand it is applied to (the in-place vector or the second source). F is made of
//   - an intermediate: the exact product b*a or difference b-a in 32-bit lanes (Product, Difference), or the
//     saturating 16-bit difference itself (SatDifference);
//   - a scaling of that intermediate for one scale-factor case, packed back to 16 bits with signed saturation.
// `walk16` runs any such recipe: element by element below the kernel's minimum length; otherwise a scalar head
// until the destination is aligned for the lane set, an unrolled body, a scalar tail. Every recipe computes in
// its body exactly what its scalar formula computes, so the results never depend on length or alignment.
#pragma once

#include <cstdint>

#include "layer1/vek/arith/lanes.h"
#include "layer1/vek/arith/scale.h"

namespace vek::recipes {

using lanes::ld16;
using lanes::st16;
using scale::SfCase;

// --- operands ---------------------------------------------------------------------------------------------------

template <class L>
struct ConstOperand {
    int16_t c;
    typename L::V vc;
    explicit ConstOperand(int16_t value) : c(value), vc(L::set1_16(value)) {}
    int16_t at(int64_t) const { return c; }
    typename L::V vat(int64_t) const { return vc; }
};

template <class L>
struct VecOperand {
    const int16_t* p;
    int16_t at(int64_t i) const { return ld16(p, i); }
    typename L::V vat(int64_t i) const { return L::load(p + i); }
};

// --- intermediates: two vectors of 32-bit lanes (elements 0..k/2-1 and k/2..k-1) -----------------------------

struct Product {
    static int32_t scalar(int16_t a, int16_t b) { return int32_t{b} * a; }
    template <class L>
    static void lanes(typename L::V a, typename L::V b, typename L::V& lo, typename L::V& hi) {
        const typename L::V l = L::mullo16(b, a), h = L::mulhi16(b, a);
        lo = L::unpacklo16(l, h);
        hi = L::unpackhi16(l, h);
    }
};

// The difference is formed exactly by a multiply-add of the pairs {b, a} with {1, -1}.
struct Difference {
    static int32_t scalar(int16_t a, int16_t b) { return int32_t{b} - a; }
    template <class L>
    static void lanes(typename L::V a, typename L::V b, typename L::V& lo, typename L::V& hi) {
        const typename L::V pm = L::pair16(1, -1);
        lo = L::madd16(L::unpacklo16(b, a), pm);
        hi = L::madd16(L::unpackhi16(b, a), pm);
    }
};

// --- scalings of 32-bit lanes -----------------------------------------------------------------------------------

template <class L>
inline typename L::V sign_map16(typename L::V v) {
    // 32767 where v > 0, -32768 where v < 0, 0 where v = 0.
    const typename L::V z = L::zero();
    const typename L::V pos = L::and_(L::cmpgt16(v, z), L::set1_16(32767));
    const typename L::V neg = L::and_(L::cmpgt16(z, v), L::set1_16(-32768));
    return L::or_(pos, neg);
}

struct ScaleSf0 {
    int16_t scalar(int32_t r) const { return scale::sat16(r); }
    template <class L>
    typename L::V vec(typename L::V lo, typename L::V hi) const {
        return L::packs32(lo, hi);
    }
};

// sf = 1 (bias 0) and 2 <= sf <= 30: round half to even, then saturate.
struct ScaleRound {
    int sf;
    int32_t bias;  // 2^(sf-1) - 1
    explicit ScaleRound(int s) : sf(s), bias((int32_t{1} << (s - 1)) - 1) {}
    int16_t scalar(int32_t r) const { return scale::sat16(scale::round_shift(r, sf)); }
    template <class L>
    typename L::V lane(typename L::V x) const {
        const typename L::V kept = L::and_(L::srli32(x, sf), L::set1_32(1));
        return L::srai32(L::add32(x, L::add32(kept, L::set1_32(bias))), sf);
    }
    template <class L>
    typename L::V vec(typename L::V lo, typename L::V hi) const {
        return L::packs32(lane<L>(lo), lane<L>(hi));
    }
};

// -15 <= sf <= -1, k = -sf. With sat_first the intermediate is saturated to 16 bits before the shift (the
// product rule); otherwise the exact value is shifted (the difference rule). Both give sat16(r << k).
template <bool sat_first>
struct ScaleShiftLeft {
    int k;
    int16_t scalar(int32_t r) const {
        const int32_t base = sat_first ? scale::sat16(r) : r;
        return scale::sat16(static_cast<int64_t>(base) * (int64_t{1} << k));
    }
    template <class L>
    typename L::V vec(typename L::V lo, typename L::V hi) const {
        if constexpr (sat_first) {
            const typename L::V s = L::packs32(lo, hi);
            lo = L::srai32(L::unpacklo16(s, s), 16);
            hi = L::srai32(L::unpackhi16(s, s), 16);
        }
        return L::packs32(L::slli32(lo, k), L::slli32(hi, k));
    }
};

// sf at or below the sign bound: only the sign of the intermediate survives.
struct ScaleSign {
    int16_t scalar(int32_t r) const { return static_cast<int16_t>(r > 0 ? 32767 : (r < 0 ? -32768 : 0)); }
    template <class L>
    typename L::V vec(typename L::V lo, typename L::V hi) const {
        return sign_map16<L>(L::packs32(lo, hi));
    }
};

// --- element functions ------------------------------------------------------------------------------------------

// Widen to 32-bit lanes, then scale.
template <class Mid, class Scale>
struct Widened {
    Scale s;
    int16_t scalar(int16_t a, int16_t b) const { return s.scalar(Mid::scalar(a, b)); }
    template <class L>
    typename L::V vec(typename L::V a, typename L::V b) const {
        typename L::V lo, hi;
        Mid::template lanes<L>(a, b, lo, hi);
        return s.template vec<L>(lo, hi);
    }
};

// b - a with 16-bit saturation, straight in 16-bit lanes.
struct SatDifference {
    int16_t scalar(int16_t a, int16_t b) const { return scale::sat16(int32_t{b} - a); }
    template <class L>
    typename L::V vec(typename L::V a, typename L::V b) const {
        return L::subs16(b, a);
    }
};

// Only the sign of b - a: the saturating difference keeps the sign of the exact one.
struct SignDifference {
    int16_t scalar(int16_t a, int16_t b) const {
        const int32_t d = int32_t{b} - a;
        return static_cast<int16_t>(d > 0 ? 32767 : (d < 0 ? -32768 : 0));
    }
    template <class L>
    typename L::V vec(typename L::V a, typename L::V b) const {
        return sign_map16<L>(L::subs16(b, a));
    }
};

// --- the walk -------------------------------------------------------------------------------------------------

// dst[i] = f(a[i], b[i]) for i < n. dst may be b itself (in place) or a (same index); partial overlap is not
// supported. kMin is the length below which the whole vector runs element by element; kUnroll the number of
// lane vectors per body step.
template <class L, int kMin, int kUnroll, class A, class F>
inline void walk16(const F& f, const A& a, const int16_t* b, int16_t* dst, int32_t n) {
    int64_t i = 0;
    if (n >= kMin) {
        const int64_t head = lanes::align_head16<L>(dst);
        for (; i < head; ++i) st16(dst, i, f.scalar(a.at(i), ld16(b, i)));
        constexpr int64_t step = int64_t{L::kLanes16} * kUnroll;
        for (; n - i >= step; i += step) {
            for (int u = 0; u < kUnroll; ++u) {
                const int64_t k = i + int64_t{u} * L::kLanes16;
                L::store(dst + k, f.template vec<L>(a.vat(k), L::load(b + k)));
            }
        }
        L::done();
    }
    for (; i < n; ++i) st16(dst, i, f.scalar(a.at(i), ld16(b, i)));
}

}  // namespace vek::recipes
