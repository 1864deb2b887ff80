// SSE2 lane walk of the scaled add, subtract and reverse subtract of 32-bit halves (32-bit real and complex data).
//
// The exact sum or difference needs 33 bits, so each half is sign-extended to a 64-bit lane (two per register)
// and the scale-factor case is applied there: right shifts with rounding half to even through an offset of 2^40
// that makes the lane positive (SSE2 shifts 64-bit lanes only logically), left shifts directly (|r| <= 2^32
// shifted by at most 31 stays inside 64 bits; the sign case is the shift by 31, which saturates every non-zero
// value). The lanes are then narrowed back to 32 bits with saturation: a value whose high half is not the sign
// extension of its low half becomes the bound of its sign. Scalar head and tail use the generic element rule.
#pragma once

#include <emmintrin.h>

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "layer1/vek/arith/exact.h"

namespace vek::simd32 {

using exact::Bounds;
using exact::Case;

template <class Op>
inline constexpr bool has = std::is_same_v<Op, exact::Add> || std::is_same_v<Op, exact::Sub> ||
                            std::is_same_v<Op, exact::SubRev>;

struct Pair64 {
    __m128i lo, hi;  // elements 0, 1 and 2, 3 as 64-bit lanes
};

inline Pair64 widen(__m128i v) {
    const __m128i sign = _mm_srai_epi32(v, 31);
    return {_mm_unpacklo_epi32(v, sign), _mm_unpackhi_epi32(v, sign)};
}

template <class Op>
inline __m128i exact64(__m128i x, __m128i y) {
    if constexpr (std::is_same_v<Op, exact::Add>)
        return _mm_add_epi64(x, y);
    else if constexpr (std::is_same_v<Op, exact::Sub>)
        return _mm_sub_epi64(x, y);
    else
        return _mm_sub_epi64(y, x);
}

// The case's scaling of one register of 64-bit lanes (s: the right shift of Sf1/Pos, the left shift of Neg).
template <Case K>
inline __m128i scale64(__m128i r, int s) {
    if constexpr (K == Case::Sf0) {
        return r;
    } else if constexpr (K == Case::Sf1 || K == Case::Pos) {
        const __m128i cnt = _mm_cvtsi32_si128(s);
        const __m128i t = _mm_add_epi64(r, _mm_set1_epi64x(int64_t{1} << 40));
        const __m128i kept = _mm_and_si128(_mm_srl_epi64(t, cnt), _mm_set1_epi64x(1));
        const __m128i biased = _mm_add_epi64(_mm_add_epi64(t, kept), _mm_set1_epi64x((int64_t{1} << (s - 1)) - 1));
        return _mm_sub_epi64(_mm_srl_epi64(biased, cnt), _mm_set1_epi64x(int64_t{1} << (40 - s)));
    } else if constexpr (K == Case::Neg) {
        return _mm_sll_epi64(r, _mm_cvtsi32_si128(s));
    } else {
        return _mm_slli_epi64(r, 31);
    }
}

// Four 64-bit lanes back to 32 bits with signed saturation.
inline __m128i narrow(__m128i a, __m128i b) {
    const __m128i lo = _mm_unpacklo_epi64(_mm_shuffle_epi32(a, _MM_SHUFFLE(2, 0, 2, 0)),
                                          _mm_shuffle_epi32(b, _MM_SHUFFLE(2, 0, 2, 0)));
    const __m128i hi = _mm_unpacklo_epi64(_mm_shuffle_epi32(a, _MM_SHUFFLE(3, 1, 3, 1)),
                                          _mm_shuffle_epi32(b, _MM_SHUFFLE(3, 1, 3, 1)));
    const __m128i fits = _mm_cmpeq_epi32(hi, _mm_srai_epi32(lo, 31));
    const __m128i bound = _mm_xor_si128(_mm_srai_epi32(hi, 31), _mm_set1_epi32(0x7FFFFFFF));
    return _mm_or_si128(_mm_and_si128(fits, lo), _mm_andnot_si128(fits, bound));
}

struct ConstOperand {
    int32_t even, odd;
    __m128i ve, vo;
    ConstOperand(int32_t e, int32_t o) : even(e), odd(o), ve(_mm_set_epi32(o, e, o, e)), vo(_mm_set_epi32(e, o, e, o)) {}
    int64_t at(int64_t i) const { return (i & 1) ? odd : even; }
    __m128i vat(int64_t k) const { return (k & 1) ? vo : ve; }
};
struct VecOperand {
    const int32_t* p;
    int64_t at(int64_t i) const { return exact::ld(p, i); }
    __m128i vat(int64_t k) const { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k)); }
};

// dst[i] = rule(x[i] op a[i]) over m halves in case K; dst may be x or a's vector.
template <class Op, Case K, class A>
inline void walk(const A& a, const int32_t* x, int32_t* dst, int64_t m, int32_t sf, const Bounds& b) {
    const auto scalar = [&](int64_t i) {
        exact::st(dst, i, static_cast<int32_t>(exact::scale<K>(Op::template r<int64_t>(exact::ld(x, i), a.at(i)), sf, b)));
    };
    const int s = K == Case::Neg ? static_cast<int>(-int64_t{sf}) : static_cast<int>(sf);
    int64_t i = 0;
    if (m >= 12) {
        const uintptr_t mis = reinterpret_cast<uintptr_t>(dst) & 15;
        const int64_t head = mis % 4 ? 0 : static_cast<int64_t>(((16 - mis) & 15) / 4);
        for (; i < head; ++i) scalar(i);
        for (; m - i >= 4; i += 4) {
            const Pair64 xv = widen(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i)));
            const Pair64 yv = widen(a.vat(i));
            const __m128i r = narrow(scale64<K>(exact64<Op>(xv.lo, yv.lo), s), scale64<K>(exact64<Op>(xv.hi, yv.hi), s));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), r);
        }
    }
    for (; i < m; ++i) scalar(i);
}

template <class Op, class A>
inline void run(const A& a, const int32_t* x, int32_t* dst, int64_t m, int32_t sf, const Bounds& b) {
    const Case c = exact::case_of(sf, b);
    if (c == Case::Zero) {
        std::memset(dst, 0, static_cast<size_t>(m) * 4);
        return;
    }
    exact::with_case(c, [&](auto k) { walk<Op, k.value>(a, x, dst, m, sf, b); });
}

}  // namespace vek::simd32
