// Element-type conversions: the dispatched widening of 8-bit to 16-bit integers, and the kernels that convert
// between 16-bit integers and 32-bit floats for the transform front end.
//
// Float to 16-bit: value * 2^-sf, rounded by the mode, saturated. The SIMD forms multiply in single precision by the
// exact factor when it is a normal float (-127 <= sf <= 126), where an overflow saturates and an underflow gives 0
// just as the exact product would; any other sf goes through double precision, so that no factor degenerates to 0
// or infinity. Rounding to nearest never depends on the caller: the SIMD forms set the SSE rounding control for the
// call and write the caller's MXCSR back exactly (denormals-are-zero and the sticky flags included), and the x87
// form rounds in software.
#include <cmath>
#include <cstring>

#include "layer1/vek/arith/lanes.h"
#include "layer1/vek/util/utilities.h"
#include "layer1/vek/util/walk.h"

namespace {

using vek::lanes::ld16;
using vek::lanes::Mmx;
using vek::lanes::Sse2;
using vek::lanes::st16;

constexpr uint32_t kMxcsrRounding = 0x6000;

float ldf(const float* p, int64_t i) {
    float v;
    std::memcpy(&v, p + i, sizeof v);
    return v;
}
void stf(float* p, int64_t i, float v) {
    std::memcpy(p + i, &v, sizeof v);
}

// --- 8-bit to 16-bit --------------------------------------------------------------------------------------------

VekStatus check8(const int8_t* s, const int16_t* d, int32_t n) {
    if (s == nullptr || d == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    return VEK_OK;
}

// --- float to 16-bit, one element ---------------------------------------------------------------------------------

double round_half_even(double v) {
    const double f = std::floor(v), diff = v - f;
    return (diff > 0.5 || (diff == 0.5 && std::fmod(f, 2.0) != 0)) ? f + 1 : f;
}

// nan_by_sign: a NaN gives the bound of its sign bit (the x87 form) instead of 32767.
int16_t to16(float x, int32_t sf, bool nearest, bool nan_by_sign) {
    if (std::isnan(x)) return static_cast<int16_t>(nan_by_sign && std::signbit(x) ? -32768 : 32767);
    const int32_t e = sf > 1100 ? 1100 : (sf < -1100 ? -1100 : sf);
    const double v = std::ldexp(static_cast<double>(x), -e);
    const double r = nearest ? round_half_even(v) : std::trunc(v);
    return static_cast<int16_t>(r >= 32767.0 ? 32767 : (r <= -32768.0 ? -32768 : static_cast<int32_t>(r)));
}

// Runs the SIMD body with the rounding control set to nearest when asked; the caller's MXCSR is written back.
template <class F>
void with_rounding(bool nearest, F&& f) {
    const uint32_t saved = _mm_getcsr();
    if (nearest && (saved & kMxcsrRounding) != 0) _mm_setcsr(saved & ~kMxcsrRounding);
    f();
    _mm_setcsr(saved);
}

void f32_to_s16_sse2(const float* s, int16_t* d, int64_t n, float factor, bool nearest) {
    struct Body {
        const float* s;
        int16_t* d;
        __m128 f;
        bool nearest;
        void scalar(int64_t i) { st16(d, i, one(_mm_set_ss(ldf(s, i)))); }
        int16_t one(__m128 x) {
            const __m128 v = _mm_min_ss(_mm_mul_ss(x, f), _mm_set_ss(32767.0f));  // a NaN becomes 32767
            const int32_t r = nearest ? _mm_cvtss_si32(v) : _mm_cvttss_si32(v);
            return static_cast<int16_t>(r < -32768 ? -32768 : r);
        }
        void vec(int64_t i) {
            __m128i r[2];
            for (int h = 0; h < 2; ++h) {
                const __m128 v = _mm_min_ps(_mm_mul_ps(_mm_loadu_ps(s + i + 4 * h), f), _mm_set1_ps(32767.0f));
                r[h] = nearest ? _mm_cvtps_epi32(v) : _mm_cvttps_epi32(v);
            }
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_packs_epi32(r[0], r[1]));
        }
    } b{s, d, _mm_set1_ps(factor), nearest};
    with_rounding(nearest, [&] { vek::walk::elements<Sse2, 8, 2>(d, n, b); });
}

void f32_to_s16_sse(const float* s, int16_t* d, int64_t n, float factor, bool nearest) {
    struct Body {
        const float* s;
        int16_t* d;
        __m128 f;
        bool nearest;
        void scalar(int64_t i) {
            const __m128 v = _mm_min_ss(_mm_mul_ss(_mm_set_ss(ldf(s, i)), f), _mm_set_ss(32767.0f));
            const int32_t r = nearest ? _mm_cvtss_si32(v) : _mm_cvttss_si32(v);
            st16(d, i, static_cast<int16_t>(r < -32768 ? -32768 : r));
        }
        void vec(int64_t i) {
            const __m128 v = _mm_min_ps(_mm_mul_ps(_mm_loadu_ps(s + i), f), _mm_set1_ps(32767.0f));
            const __m128 h = _mm_movehl_ps(v, v);
            const __m64 lo = nearest ? _mm_cvtps_pi32(v) : _mm_cvttps_pi32(v);
            const __m64 hi = nearest ? _mm_cvtps_pi32(h) : _mm_cvttps_pi32(h);
            Mmx::store(d + i, _mm_packs_pi32(lo, hi));
        }
    } b{s, d, _mm_set1_ps(factor), nearest};
    with_rounding(nearest, [&] { vek::walk::elements<Mmx, 4, 2>(d, n, b); });
}

template <void (*Simd)(const float*, int16_t*, int64_t, float, bool)>
void f32_to_s16(const float* s, int16_t* d, int32_t n, bool nearest, int32_t sf) {
    if (sf >= -127 && sf <= 126) {
        Simd(s, d, n, std::ldexp(1.0f, -sf), nearest);
    } else {
        for (int64_t i = 0; i < n; ++i) st16(d, i, to16(ldf(s, i), sf, nearest, false));
    }
}

}  // namespace

VekStatus vek_convert_s8_s16_gen(const int8_t* s, int16_t* d, int32_t n) {
    if (VekStatus st = check8(s, d, n); st != VEK_OK) return st;
    for (int64_t i = 0; i < n; ++i) st16(d, i, s[i]);
    return VEK_OK;
}

// The mm and ss rows hold this one entry: five elements a step, then one at a time.
VekStatus vek_convert_s8_s16_mm(const int8_t* s, int16_t* d, int32_t n) {
    if (VekStatus st = check8(s, d, n); st != VEK_OK) return st;
    int64_t i = 0;
    for (; n - i >= 5; i += 5)
        for (int k = 0; k < 5; ++k) st16(d, i + k, s[i + k]);
    for (; i < n; ++i) st16(d, i, s[i]);
    return VEK_OK;
}

// SSE2: bytes widened to words by pairing each with itself, then an arithmetic shift right by 8.
VekStatus vek_convert_s8_s16_wd(const int8_t* s, int16_t* d, int32_t n) {
    if (VekStatus st = check8(s, d, n); st != VEK_OK) return st;
    struct Body {
        const int8_t* s;
        int16_t* d;
        void scalar(int64_t i) { st16(d, i, s[i]); }
        void vec(int64_t i) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_srai_epi16(_mm_unpacklo_epi8(v, v), 8));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i + 8), _mm_srai_epi16(_mm_unpackhi_epi8(v, v), 8));
        }
    } b{s, d};
    vek::walk::elements<Sse2, 16, 2>(d, n, b);
    return VEK_OK;
}

void vek_k_convert_s16_f32_body_wd(const int16_t* s, float* d, int32_t n) {
    struct Body {
        const int16_t* s;
        float* d;
        void scalar(int64_t i) { stf(d, i, ld16(s, i)); }
        void vec(int64_t i) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
            const __m128i sign = _mm_srai_epi16(v, 15);
            _mm_storeu_ps(d + i, _mm_cvtepi32_ps(_mm_unpacklo_epi16(v, sign)));
            _mm_storeu_ps(d + i + 4, _mm_cvtepi32_ps(_mm_unpackhi_epi16(v, sign)));
        }
    } b{s, d};
    vek::walk::elements<Sse2, 8, 4>(d, n, b);
}
void vek_k_convert_s16_f32_body_ss(const int16_t* s, float* d, int32_t n) {
    struct Body {
        const int16_t* s;
        float* d;
        void scalar(int64_t i) { stf(d, i, ld16(s, i)); }
        void vec(int64_t i) { _mm_storeu_ps(d + i, _mm_cvtpi16_ps(Mmx::load(s + i))); }
    } b{s, d};
    vek::walk::elements<Mmx, 4, 4>(d, n, b);
}
void vek_k_convert_s16_f32_body_mm(const int16_t* s, float* d, int32_t n) {
    for (int64_t i = 0; i < n; ++i) stf(d, i, static_cast<float>(static_cast<long double>(ld16(s, i))));
}

void vek_k_convert_f32_s16_scaled_body_wd(const float* s, int16_t* d, int32_t n, int32_t mode, int32_t sf) {
    f32_to_s16<f32_to_s16_sse2>(s, d, n, mode != 0, sf);
}
void vek_k_convert_f32_s16_scaled_body_ss(const float* s, int16_t* d, int32_t n, int32_t mode, int32_t sf) {
    f32_to_s16<f32_to_s16_sse>(s, d, n, mode == 1, sf);
}
// x87 form: an input at or beyond the rounding bound (32767.5 to nearest, 32768 truncating, scaled by 2^sf)
// gives the bound of its sign, a NaN by its sign bit too; the rest is converted with the mode's rounding.
void vek_k_convert_f32_s16_scaled_body_mm(const float* s, int16_t* d, int32_t n, int32_t mode, int32_t sf) {
    for (int64_t i = 0; i < n; ++i) st16(d, i, to16(ldf(s, i), sf, mode == 1, true));
}
