// Dot products with a scale factor: the members the pumps use and the two the pumps do not.
//
// 16-bit by 16-bit to 16 bits: the products are summed in a 32-bit accumulator that wraps (two's complement), so
// every summation order gives the same accumulator. It is then scaled: sf is clamped to -14..31, rounded half to
// even by a shift done in 64 bits (a 32-bit rounding sum would change sign near 2^31), and saturated.
//
// 16-bit real by 16-bit complex to 32-bit complex: both sums are exact 64-bit sums of the 32-bit products. Each is
// scaled on its own: sf 32 and above act as 31; a left shift is at most 31 for a negative sum and at most 30 for a
// non-negative one, and saturates.
//
// 16-bit by 16-bit to 32 bits: the exact 64-bit sum, scaled by the same rule. The SIMD columns add the products in
// pair sums; the one pair sum that does not fit in 32 signed bits (all four operands -32768, 2^31) is read as the
// unsigned value it is, so every column and alignment gives the exact sum.
// 16-bit real by 16-bit complex to 16-bit complex: two 32-bit sums that wrap, each scaled by the 16-bit rule.
#include <initializer_list>

#include "layer1/vek/arith/lanes.h"
#include "layer1/vek/arith/scale.h"
#include "layer1/vek/util/util.h"
#include "layer1/vek/util/utilities.h"

namespace {

using vek::lanes::ld16;
using vek::lanes::Mmx;
using vek::lanes::Sse2;

// --- 16 x 16 -> 16 ---------------------------------------------------------------------------------------------

uint32_t dot_wrap_scalar(const int16_t* a, const int16_t* b, int64_t from, int64_t to) {
    uint32_t acc = 0;
    for (int64_t i = from; i < to; ++i) acc += static_cast<uint32_t>(int32_t{ld16(a, i)} * ld16(b, i));
    return acc;
}

uint32_t dot_wrap_gen(const int16_t* a, const int16_t* b, int64_t n) {
    uint32_t acc = 0;
    int64_t i = 0;
    for (; n - i >= 5; i += 5) {
        for (int k = 0; k < 5; ++k) acc += static_cast<uint32_t>(int32_t{ld16(a, i + k)} * ld16(b, i + k));
    }
    return acc + dot_wrap_scalar(a, b, i, n);
}

// Multiply-add into 32-bit lanes, 16 samples per round (a pair sum of 2^31 wraps, as the accumulator does).
template <class L, bool kAlignHead>
uint32_t dot_wrap_simd(const int16_t* a, const int16_t* b, int64_t n) {
    int64_t h = kAlignHead ? vek::lanes::align_head16<L>(a) : 0;
    if (h > n) h = n;
    uint32_t acc = dot_wrap_scalar(a, b, 0, h);
    typename L::V v = L::zero();
    int64_t i = h;
    for (; n - i >= 16; i += 16)
        for (int k = 0; k < 16; k += L::kLanes16) v = L::add32(v, L::madd16(L::load(a + i + k), L::load(b + i + k)));
    int32_t lanes[L::kLanes16 / 2];
    L::store(lanes, v);
    L::done();
    for (int32_t x : lanes) acc += static_cast<uint32_t>(x);
    return acc + dot_wrap_scalar(a, b, i, n);
}

int16_t scale_dot16(uint32_t acc, int32_t sf) {
    const int32_t r = static_cast<int32_t>(acc);
    if (sf > 30) sf = 31;
    if (sf < -13) sf = -14;
    if (sf > 0) return vek::scale::sat16(vek::scale::round_shift(r, sf));
    if (sf == 0) return vek::scale::sat16(r);
    const int k = -sf;
    if (r >= (-32768 >> k) && r <= (32767 >> k)) return static_cast<int16_t>(r * (1 << k));
    return static_cast<int16_t>(r <= 0 ? -32768 : 32767);
}

template <uint32_t (*Acc)(const int16_t*, const int16_t*, int64_t)>
VekStatus dot16(const int16_t* a, const int16_t* b, int32_t n, int16_t* result, int32_t sf) {
    if (a == nullptr || b == nullptr || result == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    *result = scale_dot16(Acc(a, b, n), sf);
    return VEK_OK;
}

// --- 16 x c16 -> c32 ------------------------------------------------------------------------------------------

struct Sums {
    int64_t re = 0, im = 0;
};

void dotc_scalar(const int16_t* a, const int16_t* b, int64_t from, int64_t to, Sums& s) {
    for (int64_t i = from; i < to; ++i) {
        const int32_t x = ld16(a, i);
        s.re += x * ld16(b, 2 * i);
        s.im += x * ld16(b, 2 * i + 1);
    }
}

// Generic: a pair of samples per round.
Sums dotc_gen(const int16_t* a, const int16_t* b, int64_t n) {
    Sums s;
    int64_t i = 0;
    for (; n - i >= 2; i += 2) dotc_scalar(a, b, i, i + 2, s);
    dotc_scalar(a, b, i, n, s);
    return s;
}

// SIMD: each real sample is doubled into {x, x} against {re, im}; the exact 32-bit products are sign-extended and
// added into 64-bit sums.
Sums dotc_mmx(const int16_t* a, const int16_t* b, int64_t n) {
    Sums s;
    int64_t i = 0;
    for (; n - i >= 4; i += 4) {
        const __m64 x = Mmx::load(a + i);
        for (int half = 0; half < 2; ++half) {
            const __m64 xx = half == 0 ? _mm_unpacklo_pi16(x, x) : _mm_unpackhi_pi16(x, x);
            const __m64 y = Mmx::load(b + 2 * i + 4 * half);
            const __m64 lo = _mm_mullo_pi16(xx, y), hi = _mm_mulhi_pi16(xx, y);
            int32_t p[4];
            Mmx::store(p, _mm_unpacklo_pi16(lo, hi));
            Mmx::store(p + 2, _mm_unpackhi_pi16(lo, hi));
            s.re += int64_t{p[0]} + p[2];
            s.im += int64_t{p[1]} + p[3];
        }
    }
    Mmx::done();
    dotc_scalar(a, b, i, n, s);
    return s;
}

Sums dotc_sse2(const int16_t* a, const int16_t* b, int64_t n) {
    __m128i acc = _mm_setzero_si128();  // {re, im} as two 64-bit lanes
    int64_t i = 0;
    for (; n - i >= 8; i += 8) {
        const __m128i x = Sse2::load(a + i);
        for (int half = 0; half < 2; ++half) {
            const __m128i xx = half == 0 ? _mm_unpacklo_epi16(x, x) : _mm_unpackhi_epi16(x, x);
            const __m128i y = Sse2::load(b + 2 * i + 8 * half);
            const __m128i l = _mm_mullo_epi16(xx, y), h = _mm_mulhi_epi16(xx, y);
            for (const __m128i p : {_mm_unpacklo_epi16(l, h), _mm_unpackhi_epi16(l, h)}) {
                const __m128i sign = _mm_srai_epi32(p, 31);
                acc = _mm_add_epi64(acc, _mm_unpacklo_epi32(p, sign));
                acc = _mm_add_epi64(acc, _mm_unpackhi_epi32(p, sign));
            }
        }
    }
    int64_t lanes[2];
    Sse2::store(lanes, acc);
    Sums s{lanes[0], lanes[1]};
    dotc_scalar(a, b, i, n, s);
    return s;
}

int32_t scale_dot32(int64_t r, int32_t sf) {
    if (sf == 0) return vek::scale::sat32(r);
    if (sf > 0) return vek::scale::sat32(vek::scale::round_shift(r, sf > 31 ? 31 : sf));
    const int cap = r < 0 ? 31 : 30;
    const int k = sf < -cap ? cap : -sf;
    return vek::scale::shl_sat32(r, k);
}

template <Sums (*Acc)(const int16_t*, const int16_t*, int64_t)>
VekStatus dotc(const int16_t* a, const VekC16* b, int32_t n, VekC32* result, int32_t sf) {
    if (a == nullptr || b == nullptr || result == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    const Sums s = Acc(a, reinterpret_cast<const int16_t*>(b), n);
    result->re = scale_dot32(s.re, sf);
    result->im = scale_dot32(s.im, sf);
    return VEK_OK;
}


// --- 16 x 16 -> 32 ---------------------------------------------------------------------------------------------

int64_t dot64_scalar(const int16_t* a, const int16_t* b, int64_t from, int64_t to) {
    int64_t t = 0;
    for (int64_t i = from; i < to; ++i) t += int32_t{ld16(a, i)} * ld16(b, i);
    return t;
}

// Pair sums of the multiply-add as unsigned when they read -2^31: that value only arises from 2 * 2^30.
int64_t pair_sum(int32_t p) {
    return p == INT32_MIN ? (int64_t{1} << 31) : p;
}

template <class L>
int64_t dot64_simd(const int16_t* a, const int16_t* b, int64_t n) {
    int64_t h = vek::lanes::align_head16<L>(a);
    if (h > n) h = n;
    int64_t t = dot64_scalar(a, b, 0, h);
    int64_t i = h;
    if constexpr (L::kLanes16 == 8) {
        // SSE2: each pair sum widened into a 64-bit lane, its sign word cleared where it reads -2^31
        __m128i acc = _mm_setzero_si128();
        const __m128i min = _mm_set1_epi32(INT32_MIN);
        for (; n - i >= 8; i += 8) {
            const __m128i p = _mm_madd_epi16(L::load(a + i), L::load(b + i));
            const __m128i sign = _mm_andnot_si128(_mm_cmpeq_epi32(p, min), _mm_srai_epi32(p, 31));
            acc = _mm_add_epi64(acc, _mm_unpacklo_epi32(p, sign));
            acc = _mm_add_epi64(acc, _mm_unpackhi_epi32(p, sign));
        }
        int64_t lanes[2];
        L::store(lanes, acc);
        t += lanes[0] + lanes[1];
    } else {
        for (; n - i >= L::kLanes16; i += L::kLanes16) {
            int32_t pairs[L::kLanes16 / 2];
            L::store(pairs, L::madd16(L::load(a + i), L::load(b + i)));
            for (int32_t p : pairs) t += pair_sum(p);
        }
        L::done();
    }
    return t + dot64_scalar(a, b, i, n);
}

// Generic: an odd first element alone, then pairs.
int64_t dot64_gen(const int16_t* a, const int16_t* b, int64_t n) {
    int64_t t = n % 2 ? dot64_scalar(a, b, 0, 1) : 0;
    for (int64_t i = n % 2; i < n; i += 2) t += dot64_scalar(a, b, i, i + 2);
    return t;
}

template <int64_t (*Sum)(const int16_t*, const int16_t*, int64_t)>
VekStatus dot32(const int16_t* a, const int16_t* b, int32_t n, int32_t* result, int32_t sf) {
    if (a == nullptr || b == nullptr || result == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    *result = scale_dot32(Sum(a, b, n), sf);
    return VEK_OK;
}

// --- 16 x c16 -> c16 -------------------------------------------------------------------------------------------

struct WrapSums {
    uint32_t re = 0, im = 0;
};

void dotc16_scalar(const int16_t* a, const int16_t* b, int64_t from, int64_t to, WrapSums& s) {
    for (int64_t i = from; i < to; ++i) {
        const int32_t x = ld16(a, i);
        s.re += static_cast<uint32_t>(x * ld16(b, 2 * i));
        s.im += static_cast<uint32_t>(x * ld16(b, 2 * i + 1));
    }
}

WrapSums dotc16_gen(const int16_t* a, const int16_t* b, int64_t n) {
    WrapSums s;
    dotc16_scalar(a, b, 0, n, s);
    return s;
}

// Each real sample doubled into {x, 0} and {0, x} against {re, im}: the multiply-add gives the real and the
// imaginary products in 32-bit lanes, added with wrap-around.
template <class L>
WrapSums dotc16_simd(const int16_t* a, const int16_t* b, int64_t n) {
    typename L::V re = L::zero(), im = L::zero();
    const typename L::V lo_mask = L::set1_32(0xFFFF);
    int64_t i = 0;
    const int64_t per = L::kLanes16 / 2;  // complex elements per vector
    for (; n - i >= per; i += per) {
        // {x0, x1, ...} as 32-bit lanes holding x in the low half
        int32_t xs[L::kLanes16 / 2];
        for (int k = 0; k < per; ++k) xs[k] = static_cast<uint16_t>(ld16(a, i + k));
        const typename L::V x = L::and_(L::load(xs), lo_mask);
        const typename L::V y = L::load(b + 2 * i);
        re = L::add32(re, L::madd16(x, y));               // x * re
        im = L::add32(im, L::madd16(L::slli32(x, 16), y));  // x * im
    }
    uint32_t r[L::kLanes16 / 2], m[L::kLanes16 / 2];
    L::store(r, re);
    L::store(m, im);
    L::done();
    WrapSums s;
    for (int k = 0; k < L::kLanes16 / 2; ++k) {
        s.re += r[k];
        s.im += m[k];
    }
    dotc16_scalar(a, b, i, n, s);
    return s;
}

template <WrapSums (*Sum)(const int16_t*, const int16_t*, int64_t)>
VekStatus dotc16(const int16_t* a, const VekC16* b, int32_t n, VekC16* result, int32_t sf) {
    if (a == nullptr || b == nullptr || result == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    const WrapSums s = Sum(a, reinterpret_cast<const int16_t*>(b), n);
    *result = VekC16{scale_dot16(s.re, sf), scale_dot16(s.im, sf)};
    return VEK_OK;
}

}  // namespace

VekStatus vek_dot_16_to16_gen(const int16_t* a, const int16_t* b, int32_t n, int16_t* r, int32_t sf) {
    return dot16<dot_wrap_gen>(a, b, n, r, sf);
}
VekStatus vek_dot_16_to16_mm(const int16_t* a, const int16_t* b, int32_t n, int16_t* r, int32_t sf) {
    return dot16<dot_wrap_simd<Mmx, false>>(a, b, n, r, sf);
}
VekStatus vek_dot_16_to16_ss(const int16_t* a, const int16_t* b, int32_t n, int16_t* r, int32_t sf) {
    return dot16<dot_wrap_simd<Mmx, false>>(a, b, n, r, sf);
}
VekStatus vek_dot_16_to16_wd(const int16_t* a, const int16_t* b, int32_t n, int16_t* r, int32_t sf) {
    return dot16<dot_wrap_simd<Sse2, true>>(a, b, n, r, sf);
}

VekStatus vek_dot_16_c16_to32_gen(const int16_t* a, const VekC16* b, int32_t n, VekC32* r, int32_t sf) {
    return dotc<dotc_gen>(a, b, n, r, sf);
}
VekStatus vek_dot_16_c16_to32_mm(const int16_t* a, const VekC16* b, int32_t n, VekC32* r, int32_t sf) {
    return dotc<dotc_mmx>(a, b, n, r, sf);
}
VekStatus vek_dot_16_c16_to32_ss(const int16_t* a, const VekC16* b, int32_t n, VekC32* r, int32_t sf) {
    return dotc<dotc_mmx>(a, b, n, r, sf);
}
VekStatus vek_dot_16_c16_to32_wd(const int16_t* a, const VekC16* b, int32_t n, VekC32* r, int32_t sf) {
    return dotc<dotc_sse2>(a, b, n, r, sf);
}

VekStatus vek_dot_16_to32_gen(const int16_t* a, const int16_t* b, int32_t n, int32_t* r, int32_t sf) {
    return dot32<dot64_gen>(a, b, n, r, sf);
}
VekStatus vek_dot_16_to32_mm(const int16_t* a, const int16_t* b, int32_t n, int32_t* r, int32_t sf) {
    return dot32<dot64_simd<Mmx>>(a, b, n, r, sf);
}
VekStatus vek_dot_16_to32_ss(const int16_t* a, const int16_t* b, int32_t n, int32_t* r, int32_t sf) {
    return dot32<dot64_simd<Mmx>>(a, b, n, r, sf);
}
VekStatus vek_dot_16_to32_wd(const int16_t* a, const int16_t* b, int32_t n, int32_t* r, int32_t sf) {
    return dot32<dot64_simd<Sse2>>(a, b, n, r, sf);
}

VekStatus vek_dot_16_c16_to16_gen(const int16_t* a, const VekC16* b, int32_t n, VekC16* r, int32_t sf) {
    return dotc16<dotc16_gen>(a, b, n, r, sf);
}
VekStatus vek_dot_16_c16_to16_mm(const int16_t* a, const VekC16* b, int32_t n, VekC16* r, int32_t sf) {
    return dotc16<dotc16_simd<Mmx>>(a, b, n, r, sf);
}
VekStatus vek_dot_16_c16_to16_ss(const int16_t* a, const VekC16* b, int32_t n, VekC16* r, int32_t sf) {
    return dotc16<dotc16_simd<Mmx>>(a, b, n, r, sf);
}
VekStatus vek_dot_16_c16_to16_wd(const int16_t* a, const VekC16* b, int32_t n, VekC16* r, int32_t sf) {
    return dotc16<dotc16_simd<Sse2>>(a, b, n, r, sf);
}
