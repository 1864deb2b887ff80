// The four argument forms of the scaled add, subtract and multiply entries, written once for every operation,
// element type and column: argument checks in the family's order, the shortcuts, then one pass over the halves
// of the elements (a complex element is two halves). The generic column runs the element rule of exact.h; the
// MMX, SSE and SSE2 columns run the lane walks of simd.h where one exists for the operation and type (8u, 16s and
// 16sc data, complex products included), and the same scalar loops otherwise (32-bit products, the widening
// forms); the SSE2 column also walks 32-bit sums and differences in 64-bit lanes (simd32.h), the MMX columns run
// those as scalar loops.
#pragma once

#include <cstdint>
#include <cstring>

#include "layer1/vek/arith/core_link.h"
#include "layer1/vek/arith/exact.h"
#include "layer1/vek/arith/simd.h"
#include "layer1/vek/arith/simd32.h"

namespace vek::forms {

using core_link::Column;
using namespace vek::exact;

// One operation on one type: Op on halves H, kHalves halves per element (2 for complex), E the element type of
// the interface and K that of its constant. The sf 0 shortcut of a zero constant applies to add and subtract of
// real types.
template <class Op, class H, int kHalves, class El, class Kc>
struct Spec {
    using O = Op;
    using Half = H;
    using S = typename H::Store;
    using E = El;
    using K = Kc;
    static constexpr int halves = kHalves;
    static constexpr bool complex_mul = std::is_same_v<Op, CMul>;
    static constexpr Bounds b = complex_mul ? bounds<Mul, H, true>() : bounds<Op, H>();
    static constexpr bool zero_shortcut = kHalves == 1 && !std::is_same_v<Op, SubRev> && !std::is_same_v<Op, Mul>;
};

// The five element types of one operation: 8u, 16s, 16sc, 32s, 32sc.
#define VEK_SPECS(Op)                                             \
    using Op##_8 = Spec<Op, H8u, 1, uint8_t, uint8_t>;            \
    using Op##_16 = Spec<Op, H16s, 1, int16_t, int16_t>;          \
    using Op##_c16 = Spec<Op, H16s, 2, VekC16, VekC16>;           \
    using Op##_32 = Spec<Op, H32s, 1, int32_t, int32_t>;          \
    using Op##_c32 = Spec<Op, H32s, 2, VekC32, int32_t>;
VEK_SPECS(Add)
VEK_SPECS(Sub)
VEK_SPECS(SubRev)
VEK_SPECS(Mul)
#undef VEK_SPECS
using CMul_c16 = Spec<CMul, H16s, 2, VekC16, VekC16>;
using CMul_c32 = Spec<CMul, H32s, 2, VekC32, int32_t>;

template <class P>
using WideOf = std::conditional_t<sizeof(typename P::S) == 4, __int128, int64_t>;

// dst[i] = rule(x[i] op y[i]) over m halves, y a constant pair or a vector.
template <Column C, class P>
inline void run_const(const typename P::S* x, typename P::S even, typename P::S odd, typename P::S* dst, int64_t m,
                      int32_t sf) {
    if constexpr (P::complex_mul && C != Column::kGen && std::is_same_v<typename P::Half, H16s>) {
        simd::products_const<C>(x, even, odd, dst, m / 2, sf, P::b);
    } else if constexpr (P::complex_mul) {
        complex_products<typename P::Half, WideOf<P>>(x, ConstHalves<typename P::Half>{even, odd}, dst, m / 2, sf,
                                                      P::b);
    } else if constexpr (C != Column::kGen && simd::has<typename P::O, typename P::Half>) {
        simd::halves_const<C, typename P::O, typename P::Half>(x, even, odd, dst, m, sf, P::b);
    } else if constexpr (C == Column::kWd && std::is_same_v<typename P::Half, H32s> && simd32::has<typename P::O>) {
        simd32::run<typename P::O>(simd32::ConstOperand(even, odd), x, dst, m, sf, P::b);
    } else {
        halves<typename P::O, typename P::Half>(x, ConstHalves<typename P::Half>{even, odd}, dst, m, sf, P::b);
    }
}
template <Column C, class P>
inline void run_vec(const typename P::S* x, const typename P::S* y, typename P::S* dst, int64_t m, int32_t sf) {
    if constexpr (P::complex_mul && C != Column::kGen && std::is_same_v<typename P::Half, H16s>) {
        simd::products_vec<C>(x, y, dst, m / 2, sf, P::b);
    } else if constexpr (P::complex_mul) {
        complex_products<typename P::Half, WideOf<P>>(x, VecHalves<typename P::Half>{y}, dst, m / 2, sf, P::b);
    } else if constexpr (C != Column::kGen && simd::has<typename P::O, typename P::Half>) {
        simd::halves_vec<C, typename P::O, typename P::Half>(x, y, dst, m, sf, P::b);
    } else if constexpr (C == Column::kWd && std::is_same_v<typename P::Half, H32s> && simd32::has<typename P::O>) {
        simd32::run<typename P::O>(simd32::VecOperand{y}, x, dst, m, sf, P::b);
    } else {
        halves<typename P::O, typename P::Half>(x, VecHalves<typename P::Half>{y}, dst, m, sf, P::b);
    }
}

// A constant of the form's element type as its two halves (real types: the value twice).
template <class S>
struct Pair {
    S even, odd;
};
template <class S>
inline Pair<S> halves_of(S c) {
    return {c, c};
}
inline Pair<int16_t> halves_of(VekC16 c) {
    return {c.re, c.im};
}

template <class S>
inline bool zero_const(Pair<S> c) {
    return c.even == 0 && c.odd == 0;
}

// Constant, in place: (c, srcdst, n, sf).
template <Column C, class P>
VekStatus const_inplace(typename P::K c, typename P::E* v, int32_t n, int32_t sf) {
    if (v == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    const auto h = halves_of(c);
    if constexpr (P::zero_shortcut)
        if (sf == 0 && zero_const(h)) return VEK_OK;
    auto* x = reinterpret_cast<typename P::S*>(v);
    run_const<C, P>(x, h.even, h.odd, x, int64_t{n} * P::halves, sf);
    return VEK_OK;
}

// Constant, out of place: (src, c, dst, n, sf). dst may be src itself.
template <Column C, class P>
VekStatus const_out(const typename P::E* src, typename P::K c, typename P::E* dst, int32_t n,
                    int32_t sf) {
    using E = typename P::E;
    if (src == nullptr || dst == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    const auto h = halves_of(c);
    if constexpr (P::zero_shortcut) {
        if (sf == 0 && zero_const(h)) {
            std::memmove(dst, src, sizeof(E) * static_cast<size_t>(n));
            return VEK_OK;
        }
    }
    run_const<C, P>(reinterpret_cast<const typename P::S*>(src), h.even, h.odd,
                    reinterpret_cast<typename P::S*>(dst), int64_t{n} * P::halves, sf);
    return VEK_OK;
}

// 32-bit complex constants come as two arguments.
template <Column C, class P>
VekStatus const_inplace_c32(int32_t re, int32_t im, VekC32* v, int32_t n, int32_t sf) {
    if (v == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    auto* x = reinterpret_cast<int32_t*>(v);
    run_const<C, P>(x, re, im, x, int64_t{n} * 2, sf);
    return VEK_OK;
}
template <Column C, class P>
VekStatus const_out_c32(const VekC32* src, int32_t re, int32_t im, VekC32* dst, int32_t n, int32_t sf) {
    if (src == nullptr || dst == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    run_const<C, P>(reinterpret_cast<const int32_t*>(src), re, im, reinterpret_cast<int32_t*>(dst), int64_t{n} * 2,
                    sf);
    return VEK_OK;
}

// The complex vector add and subtract test the length first and then run the real form on twice as many
// halves; a doubled length that no longer fits the signed 32-bit count is a size error as well.
template <class P>
inline VekStatus complex_length_first(int32_t n) {
    if constexpr (P::halves == 2 && !P::complex_mul) {
        if (n <= 0 || int64_t{n} * 2 > INT32_MAX) return VEK_ERR_SIZE;
    }
    return VEK_OK;
}

// Vector, in place: (src, srcdst, n, sf): srcdst[i] = srcdst[i] op src[i].
template <Column C, class P>
VekStatus vec_inplace(const typename P::E* src, typename P::E* v, int32_t n, int32_t sf) {
    if (const VekStatus s = complex_length_first<P>(n); s != VEK_OK) return s;
    if (src == nullptr || v == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    auto* x = reinterpret_cast<typename P::S*>(v);
    run_vec<C, P>(x, reinterpret_cast<const typename P::S*>(src), x, int64_t{n} * P::halves, sf);
    return VEK_OK;
}

// Vector, out of place: (src1, src2, dst, n, sf): dst[i] = src2[i] op src1[i].
template <Column C, class P>
VekStatus vec_out(const typename P::E* src1, const typename P::E* src2, typename P::E* dst, int32_t n,
                  int32_t sf) {
    if (const VekStatus s = complex_length_first<P>(n); s != VEK_OK) return s;
    if (src1 == nullptr || src2 == nullptr || dst == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    run_vec<C, P>(reinterpret_cast<const typename P::S*>(src2), reinterpret_cast<const typename P::S*>(src1),
                  reinterpret_cast<typename P::S*>(dst), int64_t{n} * P::halves, sf);
    return VEK_OK;
}

// The unscaled slots: the scaled form at sf 0.
template <Column C, class P>
VekStatus const_inplace_unscaled(typename P::K c, typename P::E* v, int32_t n) {
    return const_inplace<C, P>(c, v, n, 0);
}
template <Column C, class P>
VekStatus vec_inplace_unscaled(const typename P::E* src, typename P::E* v, int32_t n) {
    return vec_inplace<C, P>(src, v, n, 0);
}
template <Column C, class P>
VekStatus vec_out_unscaled(const typename P::E* src1, const typename P::E* src2, typename P::E* dst, int32_t n) {
    return vec_out<C, P>(src1, src2, dst, n, 0);
}

}  // namespace vek::forms

