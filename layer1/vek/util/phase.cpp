// Phase of a complex 16-bit vector, interleaved or split into real and imaginary arrays: each {re, im} becomes its angle in radians times 2^-sf as a 16-bit integer.
//
// gen and mm: the exact angle (extended-precision atan2) times the factor, rounded half away from zero; at sf = 0
// a first-order approximation whose result is -3..3.
// ss and wd: single precision four samples at a time. At sf = 0 the same first-order approximation; for
// -28 <= sf <= 1 a rational approximation of the arctangent; below -28 the single-precision atan2; from sf = 2 on
// every result is 0. These round in the current SSE rounding mode (ties to even by default) except below -28,
// where half a unit is added and the value truncated. Reciprocals are the SSE estimate refined by one Newton step.
#include <cmath>
#include <cstring>

#include "layer1/vek/arith/lanes.h"
#include "layer1/vek/util/util.h"
#include "layer1/vek/util/utilities.h"

namespace {

constexpr long double kPiL = 3.14159265358979323846264338327950288L;
constexpr float kPi = 3.14159265358979323846f;
constexpr uint32_t kMxcsrInvalid = 0x01, kMxcsrOverflow = 0x08, kMxcsrUnderflow = 0x10;

// 2^-sf exactly, as pow gives it but without its cost: the exponent is held to +-65536, beyond which the power
// is infinity or 0 in either precision.
int32_t power_of_two_exponent(int32_t sf) {
    return sf < -65536 ? 65536 : (sf > 65536 ? -65536 : -sf);
}

int16_t round_away_sat(long double v) {
    const long double w = std::trunc(v >= 0 ? v + 0.5L : v - 0.5L);
    return static_cast<int16_t>(w >= 32767.0L ? 32767 : (w <= -32768.0L ? -32768 : static_cast<int32_t>(w)));
}

// The two layouts of the input.
struct Interleaved {
    const int16_t* p;
    int16_t re(int64_t i) const { return vek::lanes::ld16(p, 2 * i); }
    int16_t im(int64_t i) const { return vek::lanes::ld16(p, 2 * i + 1); }
};
struct Split {
    const int16_t* r;
    const int16_t* m;
    int16_t re(int64_t i) const { return vek::lanes::ld16(r, i); }
    int16_t im(int64_t i) const { return vek::lanes::ld16(m, i); }
};

// --- gen and mm -------------------------------------------------------------------------------------------------

int16_t first_order_x87(int16_t re, int16_t im) {
    if (re == 0 && im == 0) return 0;
    const long double x = re, y = im, g = std::fabs(y) + static_cast<long double>(1e-10);
    const long double q = kPiL / 4;
    long double a = x >= 0 ? q - q * (x - g) / (x + g) : 3 * q - q * (x + g) / (g - x);
    if (y < 0) a = -a;
    return round_away_sat(a);
}

template <class Src>
void phase_x87(const Src& src, int16_t* dst, int32_t n, int32_t sf) {
    if (sf == 0) {
        for (int64_t i = 0; i < n; ++i) vek::lanes::st16(dst, i, first_order_x87(src.re(i), src.im(i)));
        return;
    }
    const long double factor = std::ldexp(1.0L, power_of_two_exponent(sf));
    for (int64_t i = 0; i < n; ++i) {
        const long double a = std::atan2(static_cast<long double>(src.im(i)), static_cast<long double>(src.re(i)));
        vek::lanes::st16(dst, i, a == 0 ? int16_t{0} : round_away_sat(a * factor));
    }
}

// --- ss and wd ------------------------------------------------------------------------------------------------

__m128 select(__m128 mask, __m128 a, __m128 b) {
    return _mm_or_ps(_mm_and_ps(mask, a), _mm_andnot_ps(mask, b));
}

// 1/d by the SSE estimate and one Newton step e * (2 - d * e).
__m128 recip(__m128 d) {
    const __m128 e = _mm_rcp_ps(d);
    return _mm_mul_ps(e, _mm_sub_ps(_mm_set1_ps(2.0f), _mm_mul_ps(d, e)));
}

__m128 abs_ps(__m128 x) {
    return _mm_andnot_ps(_mm_set1_ps(-0.0f), x);
}

// First-order angle of four samples (unscaled).
__m128 first_order4(__m128 x, __m128 y) {
    const __m128 zero = _mm_setzero_ps(), q = _mm_set1_ps(kPi / 4);
    const __m128 g = _mm_add_ps(abs_ps(y), _mm_set1_ps(1e-10f));
    const __m128 xneg = _mm_cmplt_ps(x, zero);
    const __m128 num = select(xneg, _mm_add_ps(x, g), _mm_sub_ps(x, g));
    const __m128 den = select(xneg, _mm_sub_ps(g, x), _mm_add_ps(x, g));
    const __m128 base = select(xneg, _mm_set1_ps(3 * kPi / 4), q);
    __m128 a = _mm_sub_ps(base, _mm_mul_ps(q, _mm_mul_ps(num, recip(den))));
    a = select(_mm_cmplt_ps(y, zero), _mm_sub_ps(zero, a), a);
    return select(_mm_and_ps(_mm_cmpeq_ps(x, zero), _mm_cmpeq_ps(y, zero)), zero, a);
}

// Rational arctangent of four samples, times the factor.
__m128 rational4(__m128 re, __m128 im, __m128 factor) {
    const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1.0f), half_pi = _mm_set1_ps(kPi / 2);
    const __m128 re_zero = _mm_cmpeq_ps(re, zero);
    const __m128 d = select(re_zero, one, abs_ps(re));
    const __m128 q = _mm_mul_ps(abs_ps(im), recip(d));
    const __m128 big = _mm_cmpgt_ps(q, one);
    const __m128 t = select(big, recip(select(big, q, one)), q);
    const __m128 u = _mm_mul_ps(t, t);
    auto poly = [&](float c3, float c2, float c1) {
        __m128 p = _mm_add_ps(_mm_mul_ps(_mm_set1_ps(c3), u), _mm_set1_ps(c2));
        p = _mm_add_ps(_mm_mul_ps(p, u), _mm_set1_ps(c1));
        return _mm_add_ps(_mm_mul_ps(p, u), one);
    };
    const __m128 p = poly(0.008561189286f, 0.2805045545f, 1.1202340126f);
    const __m128 qq = poly(0.04901758954f, 0.5650309920f, 1.4535671473f);
    __m128 a = _mm_mul_ps(_mm_mul_ps(t, p), recip(qq));
    a = select(big, _mm_sub_ps(half_pi, a), a);
    a = select(_mm_cmplt_ps(re, zero), _mm_sub_ps(_mm_set1_ps(kPi), a), a);
    // re = 0: pi/2, or 0 when im = 0 as well.
    a = select(re_zero, _mm_andnot_ps(_mm_cmpeq_ps(im, zero), half_pi), a);
    a = select(_mm_cmplt_ps(im, zero), _mm_sub_ps(zero, a), a);
    return _mm_mul_ps(a, factor);
}

// Each column's register work around the single-precision core: splitting four packed {re, im} samples into real
// and imaginary parts, and converting four scaled angles in the current SSE rounding mode, saturated to 16 bits.
struct LanesWd {
    static void split(const int16_t* p, __m128& re, __m128& im) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        re = _mm_cvtepi32_ps(_mm_srai_epi32(_mm_slli_epi32(v, 16), 16));
        im = _mm_cvtepi32_ps(_mm_srai_epi32(v, 16));
    }
    static __m128 from16(const int16_t* p) {
        const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
        return _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16));
    }
    static void put(__m128 v, int16_t* out) {
        const __m128i r = _mm_cvtps_epi32(v);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packs_epi32(r, r));
    }
    static void done() {}
};
struct LanesSs {
    static void split(const int16_t* p, __m128& re, __m128& im) {
        const __m64 a = vek::lanes::Mmx::load(p), b = vek::lanes::Mmx::load(p + 4);
        re = _mm_cvtpi32x2_ps(_mm_srai_pi32(_mm_slli_pi32(a, 16), 16), _mm_srai_pi32(_mm_slli_pi32(b, 16), 16));
        im = _mm_cvtpi32x2_ps(_mm_srai_pi32(a, 16), _mm_srai_pi32(b, 16));
    }
    static __m128 from16(const int16_t* p) { return _mm_cvtpi16_ps(vek::lanes::Mmx::load(p)); }
    static void put(__m128 v, int16_t* out) {
        const __m64 r = _mm_packs_pi32(_mm_cvtps_pi32(v), _mm_cvtps_pi32(_mm_movehl_ps(v, v)));
        vek::lanes::Mmx::store(out, r);
    }
    static void done() { _mm_empty(); }
};

// Four samples of either layout into single-precision lanes.
template <class Lanes>
void load4(const Interleaved& src, int64_t i, __m128& re, __m128& im) {
    Lanes::split(src.p + 2 * i, re, im);
}
template <class Lanes>
void load4(const Split& src, int64_t i, __m128& re, __m128& im) {
    re = Lanes::from16(src.r + i);
    im = Lanes::from16(src.m + i);
}

// Runs f over groups of four samples; a last partial group is padded with {0, 0} and only its samples are stored.
template <class Lanes, class Src, class F>
void groups_of_four(const Src& src, int16_t* dst, int64_t n, F f) {
    __m128 re, im;
    int64_t i = 0;
    for (; n - i >= 4; i += 4) {
        load4<Lanes>(src, i, re, im);
        Lanes::put(f(re, im), dst + i);
    }
    if (i < n) {
        int16_t r[4] = {0, 0, 0, 0}, m[4] = {0, 0, 0, 0}, out[4];
        for (int64_t k = 0; k < n - i; ++k) {
            r[k] = src.re(i + k);
            m[k] = src.im(i + k);
        }
        Lanes::put(f(Lanes::from16(r), Lanes::from16(m)), out);
        std::memcpy(dst + i, out, static_cast<size_t>(n - i) * 2);
    }
    Lanes::done();
}

void clear_flags_if(uint32_t raised, uint32_t clear) {
    const uint32_t csr = _mm_getcsr();
    if (csr & raised) _mm_setcsr(csr & ~clear);
}

template <class Lanes, class Src>
void phase_single(const Src& src, int16_t* dst, int32_t n, int32_t sf) {
    if (sf >= 2) {
        for (int64_t i = 0; i < n; ++i) vek::lanes::st16(dst, i, 0);
        return;
    }
    if (sf == 0) {
        groups_of_four<Lanes>(src, dst, n, first_order4);
        clear_flags_if(kMxcsrInvalid, kMxcsrInvalid | kMxcsrUnderflow);
        return;
    }
    const double factor_d = std::ldexp(1.0, power_of_two_exponent(sf));
    if (sf >= -28) {
        const __m128 factor = _mm_set1_ps(static_cast<float>(factor_d));
        groups_of_four<Lanes>(src, dst, n, [&](__m128 re, __m128 im) { return rational4(re, im, factor); });
        clear_flags_if(kMxcsrInvalid | kMxcsrOverflow, kMxcsrInvalid | kMxcsrOverflow | kMxcsrUnderflow);
        return;
    }
    // Below -28: single-precision atan2 times the factor, half a unit added, truncated, saturated.
    const float factor = static_cast<float>(factor_d);
    for (int64_t i = 0; i < n; ++i) {
        const float a = std::atan2(static_cast<float>(src.im(i)), static_cast<float>(src.re(i)));
        int16_t r = 0;
        if (a != 0) {
            const float v = a * factor;
            const float w = v >= 0 ? v + 0.5f : v - 0.5f;
            r = w >= 32767.0f ? 32767 : (w <= -32768.0f ? -32768 : static_cast<int16_t>(static_cast<int32_t>(w)));
        }
        vek::lanes::st16(dst, i, r);
    }
}

enum class Col { X87, Ss, Wd };

template <Col C, class Src>
void phase_any(const Src& src, int16_t* d, int32_t n, int32_t sf) {
    if constexpr (C == Col::X87)
        phase_x87(src, d, n, sf);
    else if constexpr (C == Col::Ss)
        phase_single<LanesSs>(src, d, n, sf);
    else
        phase_single<LanesWd>(src, d, n, sf);
}

template <Col C>
VekStatus phase_complex(const VekC16* s, int16_t* d, int32_t n, int32_t sf) {
    if (s == nullptr || d == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    phase_any<C>(Interleaved{reinterpret_cast<const int16_t*>(s)}, d, n, sf);
    return VEK_OK;
}

template <Col C>
VekStatus phase_split(const int16_t* re, const int16_t* im, int16_t* d, int32_t n, int32_t sf) {
    if (re == nullptr || im == nullptr || d == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    phase_any<C>(Split{re, im}, d, n, sf);
    return VEK_OK;
}

}  // namespace

#define VEK_PHASE_ENTRIES(col, C)                                                                              \
    VekStatus vek_phase_complex_16_##col(const VekC16* s, int16_t* d, int32_t n, int32_t sf) {                 \
        return phase_complex<C>(s, d, n, sf);                                                                  \
    }                                                                                                          \
    VekStatus vek_phase_split_16_##col(const int16_t* re, const int16_t* im, int16_t* d, int32_t n, int32_t sf) { \
        return phase_split<C>(re, im, d, n, sf);                                                               \
    }
VEK_PHASE_ENTRIES(gen, Col::X87)
VEK_PHASE_ENTRIES(mm, Col::X87)
VEK_PHASE_ENTRIES(ss, Col::Ss)
VEK_PHASE_ENTRIES(wd, Col::Wd)
#undef VEK_PHASE_ENTRIES
