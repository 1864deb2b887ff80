// Loop bodies of the int16 <-> float conversions of the mm, ss and wd columns. Rounding is done in software
// (ties to even, or truncation), so the result never depends on the caller's MXCSR or x87 control word.
#include <cmath>
#include <cstring>
#include <xmmintrin.h>

#include "layer1/vek/util/convert_f32.h"

namespace {

// x rounded to an integer value: to nearest with ties to even, or toward zero.
template <class T>
T round_value(T x, bool nearest)
{
    const T t = std::trunc(x);
    if (!nearest) {
        return t;
    }
    const T diff = x - t;  // exact
    if (diff > T(0.5) || (diff == T(0.5) && std::fmod(t, T(2)) != 0)) {
        return t + 1;
    }
    if (diff < T(-0.5) || (diff == T(-0.5) && std::fmod(t, T(2)) != 0)) {
        return t - 1;
    }
    return t;
}

// src * 2^-sf in the precision T, rounded once as one multiplication by the exact power of two would be.
template <class T>
T scaled(float v, std::int32_t sf)
{
    const int e = sf > 400 ? -400 : (sf < -400 ? 400 : -sf);
    return std::ldexp(static_cast<T>(v), e);
}

template <class T>
std::int16_t saturate(T y, std::int16_t nanValue)
{
    if (std::isnan(y)) {
        return nanValue;
    }
    if (y >= T(32767)) {
        return 32767;
    }
    if (y <= T(-32768)) {
        return -32768;
    }
    return static_cast<std::int16_t>(y);
}

void from_s16(const std::int16_t* src, float* dst, std::int32_t len)
{
    for (std::int32_t i = 0; i < len; ++i) {
        std::int16_t v;
        std::memcpy(&v, src + i, 2);
        const float f = static_cast<float>(v);
        std::memcpy(dst + i, &f, 4);
    }
}

template <class T, bool ByInputSign>
void to_s16(const float* src, std::int16_t* dst, std::int32_t len, bool nearest, std::int32_t sf)
{
    const unsigned csr = _mm_getcsr();  // the caller's MXCSR, status flags included, comes back unchanged
    for (std::int32_t i = 0; i < len; ++i) {
        float v;
        std::memcpy(&v, src + i, 4);
        const T y = round_value(scaled<T>(v, sf), nearest);
        const std::int16_t nanValue = ByInputSign ? (std::signbit(v) ? -32768 : 32767) : 32767;
        const std::int16_t r = saturate(y, nanValue);
        std::memcpy(dst + i, &r, 2);
    }
    _mm_setcsr(csr);
}

}  // namespace

void vek_k_convert_s16_f32_body_mm(const std::int16_t* s, float* d, std::int32_t n) { from_s16(s, d, n); }
void vek_k_convert_s16_f32_body_ss(const std::int16_t* s, float* d, std::int32_t n) { from_s16(s, d, n); }
void vek_k_convert_s16_f32_body_wd(const std::int16_t* s, float* d, std::int32_t n) { from_s16(s, d, n); }

void vek_k_convert_f32_s16_scaled_body_mm(const float* s, std::int16_t* d, std::int32_t n, std::int32_t mode,
                                          std::int32_t sf)
{
    to_s16<long double, true>(s, d, n, mode == 1, sf);
}

void vek_k_convert_f32_s16_scaled_body_ss(const float* s, std::int16_t* d, std::int32_t n, std::int32_t mode,
                                          std::int32_t sf)
{
    to_s16<float, false>(s, d, n, mode == 1, sf);
}

void vek_k_convert_f32_s16_scaled_body_wd(const float* s, std::int16_t* d, std::int32_t n, std::int32_t mode,
                                          std::int32_t sf)
{
    to_s16<float, false>(s, d, n, mode != 0, sf);
}
