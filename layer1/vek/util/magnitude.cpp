// Magnitude of a complex 16-bit vector, interleaved or split: sqrt(re^2 + im^2) * 2^-sf, rounded to nearest (ties
// to even; no tie can occur for sf <= 0) and limited to 32767. sf below -14 gives 32767 for every non-zero element,
// sf above 16 gives zeros.
//
// The sum of squares s is exact in 32 unsigned bits (two -32768 parts give 2^31). gen computes the root exactly in
// integers. mm takes the x87 extended-precision root, ss the single-precision root as an estimate corrected by
// exact integer squares, wd the double-precision root of four elements at a time with the midpoint test in double
// precision (every value involved is exact there).
#include <cmath>

#include "layer1/vek/arith/lanes.h"
#include "layer1/vek/util/root.h"
#include "layer1/vek/util/utilities.h"

namespace {

using vek::lanes::ld16;
using vek::lanes::st16;
using vek::root::u128;

struct Interleaved {
    const int16_t* p;
    uint32_t sumsq(int64_t i) const {
        const int32_t re = ld16(p, 2 * i), im = ld16(p, 2 * i + 1);
        return static_cast<uint32_t>(re * re) + static_cast<uint32_t>(im * im);
    }
    // Four sums of squares (as 32-bit lanes, 2^31 reading as negative).
    __m128i sumsq4(int64_t i) const {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * i));
        return _mm_madd_epi16(v, v);
    }
};
struct Split {
    const int16_t* re;
    const int16_t* im;
    uint32_t sumsq(int64_t i) const {
        const int32_t r = ld16(re, i), m = ld16(im, i);
        return static_cast<uint32_t>(r * r) + static_cast<uint32_t>(m * m);
    }
    __m128i sumsq4(int64_t i) const {
        const __m128i v = _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(re + i)),
                                             _mm_loadl_epi64(reinterpret_cast<const __m128i*>(im + i)));
        return _mm_madd_epi16(v, v);
    }
};

int16_t sat(uint64_t r) {
    return static_cast<int16_t>(r > 32767 ? 32767 : r);
}

// The value of one element exactly (sf -14..16).
int16_t mag_exact(uint32_t s, int32_t sf) {
    if (sf > 0) return sat(vek::root::round_root(s, sf));
    return sat(vek::root::round_root(static_cast<uint64_t>(s) << (-2 * sf), 0));
}

// The exact value from an estimate e of the rounded result that is off by at most a few units.
int16_t mag_from_estimate(uint32_t s, int32_t sf, int64_t e) {
    if (e < 0) e = 0;
    if (sf > 0) {
        // e near floor(sqrt(s) / 2^sf): make it the floor, then round
        uint64_t f = static_cast<uint64_t>(e);
        while (static_cast<u128>((f + 1) << sf) * ((f + 1) << sf) <= s) ++f;
        while (f > 0 && static_cast<u128>(f << sf) * (f << sf) > s) --f;
        return sat(vek::root::rounds_up(s, f, sf) ? f + 1 : f);
    }
    if (e > 33000) return 32767;  // the estimate is far above the bound whatever its error
    const u128 x4 = static_cast<u128>(s) << (2 - 2 * sf);  // 4 * s * 4^-sf
    uint64_t k = static_cast<uint64_t>(e);
    while (static_cast<u128>(2 * k + 1) * (2 * k + 1) < x4) ++k;
    while (k > 0 && static_cast<u128>(2 * k - 1) * (2 * k - 1) > x4) --k;
    return sat(k);
}

int16_t mag_x87(uint32_t s, int32_t sf) {
    const long double r = std::sqrt(static_cast<long double>(s));
    if (sf > 0) {
        const uint64_t t = static_cast<uint64_t>(r * std::ldexp(1.0L, -sf));
        return sat(vek::root::rounds_up(s, t, sf) ? t + 1 : t);
    }
    return sat(static_cast<uint64_t>(std::ldexp(r, -sf) + 0.5L));
}

// wd: four elements, -14 <= sf <= 16.
template <class Src>
void mag4_sse2(const Src& src, int16_t* d, int64_t i, int32_t sf) {
    const __m128i s = src.sumsq4(i);
    const __m128d two32 = _mm_set1_pd(4294967296.0);
    const __m128d zero = _mm_setzero_pd();
    auto to_double = [&](__m128i v) {  // unsigned 32-bit lanes 0 and 1
        const __m128d x = _mm_cvtepi32_pd(v);
        return _mm_add_pd(x, _mm_and_pd(_mm_cmplt_pd(x, zero), two32));
    };
    __m128d x[2] = {to_double(s), to_double(_mm_srli_si128(s, 8))};
    __m128i out[2];
    for (int h = 0; h < 2; ++h) {
        if (sf <= 0) {
            const __m128d r = _mm_sqrt_pd(_mm_mul_pd(x[h], _mm_set1_pd(std::ldexp(1.0, -2 * sf))));
            out[h] = _mm_cvttpd_epi32(_mm_min_pd(_mm_add_pd(r, _mm_set1_pd(0.5)), _mm_set1_pd(32767.0)));
        } else {
            const __m128d one = _mm_set1_pd(1.0), two = _mm_set1_pd(2.0), dd = _mm_set1_pd(std::ldexp(1.0, sf));
            const __m128d r = _mm_mul_pd(_mm_sqrt_pd(x[h]), _mm_set1_pd(std::ldexp(1.0, -sf)));
            const __m128i ti = _mm_cvttpd_epi32(r);
            const __m128d t = _mm_cvtepi32_pd(ti);
            const __m128d m = _mm_mul_pd(_mm_add_pd(_mm_mul_pd(t, two), one), dd);
            const __m128d lhs = _mm_mul_pd(x[h], _mm_set1_pd(4.0)), rhs = _mm_mul_pd(m, m);
            const __m128d odd = _mm_castsi128_pd(
                _mm_shuffle_epi32(_mm_cmpeq_epi32(_mm_and_si128(ti, _mm_set1_epi32(1)), _mm_set1_epi32(1)),
                                  _MM_SHUFFLE(1, 1, 0, 0)));
            const __m128d up = _mm_or_pd(_mm_cmpgt_pd(lhs, rhs), _mm_and_pd(_mm_cmpeq_pd(lhs, rhs), odd));
            out[h] = _mm_cvttpd_epi32(_mm_min_pd(_mm_add_pd(t, _mm_and_pd(up, one)), _mm_set1_pd(32767.0)));
        }
    }
    for (int k = 0; k < 4; ++k) {
        const __m128i v = out[k / 2];
        st16(d, i + k, static_cast<int16_t>(_mm_cvtsi128_si32(k % 2 ? _mm_srli_si128(v, 4) : v)));
    }
}

// ss: four single-precision roots as estimates, corrected exactly.
template <class Src>
void mag4_sse(const Src& src, int16_t* d, int64_t i, int32_t sf) {
    uint32_t s[4];
    for (int k = 0; k < 4; ++k) s[k] = src.sumsq(i + k);
    const __m64 lo = _mm_set_pi32(static_cast<int32_t>(s[1]), static_cast<int32_t>(s[0]));
    const __m64 hi = _mm_set_pi32(static_cast<int32_t>(s[3]), static_cast<int32_t>(s[2]));
    __m128 x = _mm_andnot_ps(_mm_set1_ps(-0.0f), _mm_cvtpi32x2_ps(lo, hi));  // 2^31 reads as -2^31
    const float scale = std::ldexp(1.0f, -sf);
    const __m128 r = _mm_add_ps(_mm_mul_ps(_mm_sqrt_ps(x), _mm_set1_ps(scale)), _mm_set1_ps(sf > 0 ? 0.0f : 0.5f));
    float e[4];
    _mm_storeu_ps(e, r);
    _mm_empty();
    for (int k = 0; k < 4; ++k) st16(d, i + k, mag_from_estimate(s[k], sf, static_cast<int64_t>(std::fmin(e[k], 1e9f))));
}

enum class Col { Gen, Mm, Ss, Wd };

template <Col C, class Src>
void magnitude(const Src& src, int16_t* d, int64_t n, int32_t sf) {
    if (sf > 16 || sf < -14) {
        for (int64_t i = 0; i < n; ++i)
            st16(d, i, static_cast<int16_t>(sf > 16 || src.sumsq(i) == 0 ? 0 : 32767));
        return;
    }
    int64_t i = 0;
    if constexpr (C == Col::Wd) {
        for (; n - i >= 4; i += 4) mag4_sse2(src, d, i, sf);
    } else if constexpr (C == Col::Ss) {
        for (; n - i >= 4; i += 4) mag4_sse(src, d, i, sf);
    } else if constexpr (C == Col::Mm) {
        for (; i < n; ++i) st16(d, i, mag_x87(src.sumsq(i), sf));
    }
    for (; i < n; ++i) st16(d, i, mag_exact(src.sumsq(i), sf));
}

template <Col C>
VekStatus mag_complex(const VekC16* s, int16_t* d, int32_t n, int32_t sf) {
    if (s == nullptr || d == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    magnitude<C>(Interleaved{reinterpret_cast<const int16_t*>(s)}, d, n, sf);
    return VEK_OK;
}

template <Col C>
VekStatus mag_split(const int16_t* re, const int16_t* im, int16_t* d, int32_t n, int32_t sf) {
    if (re == nullptr || im == nullptr || d == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    magnitude<C>(Split{re, im}, d, n, sf);
    return VEK_OK;
}

}  // namespace

#define VEK_MAG_ENTRIES(col, C)                                                                              \
    VekStatus vek_magnitude_complex_16_##col(const VekC16* s, int16_t* d, int32_t n, int32_t sf) {           \
        return mag_complex<C>(s, d, n, sf);                                                                  \
    }                                                                                                        \
    VekStatus vek_magnitude_split_16_##col(const int16_t* re, const int16_t* im, int16_t* d, int32_t n,      \
                                           int32_t sf) {                                                     \
        return mag_split<C>(re, im, d, n, sf);                                                               \
    }
VEK_MAG_ENTRIES(gen, Col::Gen)
VEK_MAG_ENTRIES(mm, Col::Mm)
VEK_MAG_ENTRIES(ss, Col::Ss)
VEK_MAG_ENTRIES(wd, Col::Wd)
#undef VEK_MAG_ENTRIES
