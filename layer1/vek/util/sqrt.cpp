// Square root of a 16-bit vector, in place or into a second vector: round(sqrt(x) * 2^-sf), ties to even, at most
// 32767. A negative element gives 0 and the call returns the warning 3; sf above 8 gives zeros (the largest root
// scaled by 2^-9 is below one half) and sf below -14 gives 32767 for every positive element.
//
// gen computes every element in exact integer arithmetic. The SIMD columns take the single-precision root for
// sf 0..8: an input of 15 bits has a correctly rounded root that truncates to the true floor, or to the integer
// just above the true root, and one exact midpoint test in single precision (every value involved stays below 2^24)
// gives the rounded result. For sf < 0 wd takes the double-precision root of x * 4^-sf, whose rounding to nearest
// is exact below the saturation bound; mm, and ss there, take the x87 extended-precision root.
#include <cmath>

#include "layer1/vek/arith/lanes.h"
#include "layer1/vek/util/root.h"
#include "layer1/vek/util/utilities.h"
#include "layer1/vek/util/walk.h"

namespace {

using vek::lanes::ld16;
using vek::lanes::st16;

// The value of one non-negative element, exactly.
int16_t root_exact(int32_t x, int32_t sf) {
    if (sf > 8) return 0;
    if (sf < -14) return static_cast<int16_t>(x > 0 ? 32767 : 0);
    uint64_t r;
    if (sf >= 0) {
        r = vek::root::round_root(static_cast<uint64_t>(x), sf);
    } else {
        r = vek::root::round_root(static_cast<uint64_t>(x) << (-2 * sf), 0);
    }
    return static_cast<int16_t>(r > 32767 ? 32767 : r);
}

// x87 form: the extended-precision root, truncated, then the exact midpoint test (sf 0..8); for sf < 0 the root of
// x * 4^-sf (exact in 64 bits of mantissa) rounded by adding one half, as no tie can occur.
int16_t root_x87(int32_t x, int32_t sf) {
    if (sf > 8) return 0;
    if (sf < -14) return static_cast<int16_t>(x > 0 ? 32767 : 0);
    if (sf >= 0) {
        const long double r = std::sqrt(static_cast<long double>(x)) * std::ldexp(1.0L, -sf);
        const uint64_t t = static_cast<uint64_t>(r);
        return static_cast<int16_t>(vek::root::rounds_up(static_cast<uint64_t>(x), t, sf) ? t + 1 : t);
    }
    const long double big = std::ldexp(static_cast<long double>(x), -2 * sf);
    const uint64_t r = static_cast<uint64_t>(std::sqrt(big) + 0.5L);
    return static_cast<int16_t>(r > 32767 ? 32767 : r);
}

template <int16_t (*Root)(int32_t, int32_t)>
bool sqrt_scalar(const int16_t* s, int16_t* d, int64_t from, int64_t to, int32_t sf) {
    bool neg = false;
    for (int64_t i = from; i < to; ++i) {
        const int16_t x = ld16(s, i);
        neg |= x < 0;
        st16(d, i, x < 0 ? int16_t{0} : Root(x, sf));
    }
    return neg;
}

// Four lanes of sqrt(x) * 2^-sf rounded half to even, sf 0..8, x already cleared where negative. Trunc is the
// column's float truncation.
template <class Trunc>
__m128 root4(__m128 x, __m128 scale, __m128 d) {
    const __m128 one = _mm_set1_ps(1.0f), two = _mm_set1_ps(2.0f);
    const __m128 t = Trunc::apply(_mm_mul_ps(_mm_sqrt_ps(x), scale));
    const __m128 m = _mm_mul_ps(_mm_add_ps(_mm_mul_ps(t, two), one), d);
    const __m128 lhs = _mm_mul_ps(x, _mm_set1_ps(4.0f)), rhs = _mm_mul_ps(m, m);
    const __m128 odd = _mm_cmpneq_ps(_mm_mul_ps(Trunc::apply(_mm_mul_ps(t, _mm_set1_ps(0.5f))), two), t);
    const __m128 up = _mm_or_ps(_mm_cmpgt_ps(lhs, rhs), _mm_and_ps(_mm_cmpeq_ps(lhs, rhs), odd));
    return _mm_add_ps(t, _mm_and_ps(up, one));
}

struct TruncSse2 {
    static __m128 apply(__m128 v) { return _mm_cvtepi32_ps(_mm_cvttps_epi32(v)); }
};
struct TruncSse {
    static __m128 apply(__m128 v) {
        return _mm_cvtpi32x2_ps(_mm_cvttps_pi32(v), _mm_cvttps_pi32(_mm_movehl_ps(v, v)));
    }
};

// Clears negative lanes of four floats and collects whether there were any.
inline __m128 clear_negative(__m128 x, int& neg) {
    const __m128 m = _mm_cmplt_ps(x, _mm_setzero_ps());
    neg |= _mm_movemask_ps(m);
    return _mm_andnot_ps(m, x);
}

// wd, sf 0..8: eight elements a step.
struct BlockSse2 {
    const int16_t* s;
    int16_t* d;
    int32_t sf;
    __m128 scale, dd;
    int neg = 0;
    bool tail_neg = false;
    void scalar(int64_t i) { tail_neg |= sqrt_scalar<root_exact>(s, d, i, i + 1, sf); }
    void vec(int64_t i) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        const __m128i sign = _mm_srai_epi16(v, 15);
        const __m128 lo = clear_negative(_mm_cvtepi32_ps(_mm_unpacklo_epi16(v, sign)), neg);
        const __m128 hi = clear_negative(_mm_cvtepi32_ps(_mm_unpackhi_epi16(v, sign)), neg);
        const __m128i r = _mm_packs_epi32(_mm_cvttps_epi32(root4<TruncSse2>(lo, scale, dd)),
                                          _mm_cvttps_epi32(root4<TruncSse2>(hi, scale, dd)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), r);
    }
};

// ss, sf 0..8: four elements a step through MMX registers.
struct BlockSse {
    const int16_t* s;
    int16_t* d;
    int32_t sf;
    __m128 scale, dd;
    int neg = 0;
    bool tail_neg = false;
    void scalar(int64_t i) { tail_neg |= sqrt_scalar<root_exact>(s, d, i, i + 1, sf); }
    void vec(int64_t i) {
        const __m128 x = clear_negative(_mm_cvtpi16_ps(vek::lanes::Mmx::load(s + i)), neg);
        vek::lanes::Mmx::store(d + i, _mm_cvtps_pi16(root4<TruncSse>(x, scale, dd)));
    }
};

// wd, sf -14..-1: two elements a step in double precision.
struct BlockDouble {
    const int16_t* s;
    int16_t* d;
    int32_t sf;
    __m128d scale;
    int neg = 0;
    bool tail_neg = false;
    void scalar(int64_t i) { tail_neg |= sqrt_scalar<root_exact>(s, d, i, i + 1, sf); }
    void vec(int64_t i) {
        for (int k = 0; k < 8; k += 2) {
            const int16_t a = ld16(s, i + k), b = ld16(s, i + k + 1);
            neg |= (a < 0) | (b < 0);
            const __m128d x = _mm_set_pd(b < 0 ? 0 : b, a < 0 ? 0 : a);
            const __m128d r = _mm_add_pd(_mm_sqrt_pd(_mm_mul_pd(x, scale)), _mm_set1_pd(0.5));
            const __m128i k32 = _mm_cvttpd_epi32(_mm_min_pd(r, _mm_set1_pd(32767.0)));
            st16(d, i + k, static_cast<int16_t>(_mm_cvtsi128_si32(k32)));
            st16(d, i + k + 1, static_cast<int16_t>(_mm_cvtsi128_si32(_mm_srli_si128(k32, 4))));
        }
    }
};

template <class Block, class L>
bool run_block(int16_t* d, int32_t n, Block b) {
    vek::walk::elements<L, sizeof(typename L::V) / 2, 2>(d, n, b);
    return b.neg != 0 || b.tail_neg;
}

enum class Col { Gen, Mm, Ss, Wd };

template <Col C>
bool sqrt_all(const int16_t* s, int16_t* d, int32_t n, int32_t sf) {
    if constexpr (C == Col::Gen) {
        return sqrt_scalar<root_exact>(s, d, 0, n, sf);
    } else {
        if (sf > 8 || sf < -14 || (C == Col::Mm) || (C == Col::Ss && sf < 0)) return sqrt_scalar<root_x87>(s, d, 0, n, sf);
        const float scale = std::ldexp(1.0f, -sf), dd = std::ldexp(1.0f, sf);
        if constexpr (C == Col::Ss) {
            return run_block<BlockSse, vek::lanes::Mmx>(d, n, BlockSse{s, d, sf, _mm_set1_ps(scale), _mm_set1_ps(dd)});
        } else if (sf >= 0) {
            return run_block<BlockSse2, vek::lanes::Sse2>(d, n,
                                                          BlockSse2{s, d, sf, _mm_set1_ps(scale), _mm_set1_ps(dd)});
        } else {
            return run_block<BlockDouble, vek::lanes::Sse2>(d, n,
                                                            BlockDouble{s, d, sf, _mm_set1_pd(std::ldexp(1.0, -2 * sf))});
        }
    }
}

template <Col C>
VekStatus sqrt_entry(const int16_t* s, int16_t* d, int32_t n, int32_t sf) {
    if (s == nullptr || d == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    return sqrt_all<C>(s, d, n, sf) ? VEK_WARN_SQRT_NEGATIVE : VEK_OK;
}

}  // namespace

#define VEK_SQRT_ENTRIES(col, C)                                                             \
    VekStatus vek_sqrt_16_inplace_##col(int16_t* v, int32_t n, int32_t sf) {                 \
        return sqrt_entry<C>(v, v, n, sf);                                                   \
    }                                                                                        \
    VekStatus vek_sqrt_16_##col(const int16_t* s, int16_t* d, int32_t n, int32_t sf) {       \
        return sqrt_entry<C>(s, d, n, sf);                                                   \
    }
VEK_SQRT_ENTRIES(gen, Col::Gen)
VEK_SQRT_ENTRIES(mm, Col::Mm)
VEK_SQRT_ENTRIES(ss, Col::Ss)
VEK_SQRT_ENTRIES(wd, Col::Wd)
#undef VEK_SQRT_ENTRIES
