// Conversions of the 16-bit transforms (see fft_convert.h).
#include "layer1/vek/fft/fft_convert.h"

#include <cmath>
#include <cstring>
#include <xmmintrin.h>

#include "layer1/vek/util/utilities.h"

namespace {

VekStatus check(const void* src, const void* dst, std::int32_t len)
{
    if (src == nullptr || dst == nullptr) {
        return VEK_ERR_NULL_POINTER;
    }
    return len < 1 ? VEK_ERR_SIZE : VEK_OK;
}

// The gen loop: extended precision, ties to even in software, saturation on the rounded value.
void to_s16_gen(const float* src, std::int16_t* dst, std::int32_t len, std::int32_t mode, std::int32_t sf)
{
    const unsigned csr = _mm_getcsr();
    const int e = sf > 400 ? -400 : (sf < -400 ? 400 : -sf);
    for (std::int32_t i = 0; i < len; ++i) {
        float v;
        std::memcpy(&v, src + i, 4);
        const long double y = std::ldexp(static_cast<long double>(v), e);
        long double r = truncl(y);
        if (mode == 1) {
            const long double d = y - r;
            const bool odd = fmodl(r, 2.0L) != 0;
            if (d > 0.5L || (d == 0.5L && odd)) {
                r += 1;
            } else if (d < -0.5L || (d == -0.5L && odd)) {
                r -= 1;
            }
        }
        std::int16_t out;
        if (std::isnan(y)) {
            out = std::signbit(v) ? -32768 : 32767;
        } else {
            out = r >= 32767 ? 32767 : (r <= -32768 ? -32768 : static_cast<std::int16_t>(r));
        }
        std::memcpy(dst + i, &out, 2);
    }
    _mm_setcsr(csr);
}

void narrow(const std::int32_t* src, std::int16_t* dst, std::int32_t count, std::int32_t sf)
{
    for (std::int32_t i = 0; i < count; ++i) {
        const std::int64_t x = src[i];
        std::int64_t y;
        if (sf > 0) {
            y = sf >= 40 ? 0 : (x + (std::int64_t{1} << (sf - 1))) >> sf;
        } else if (sf == 0 || x == 0) {
            y = x;
        } else {
            y = -sf >= 20 ? (x > 0 ? 32767 : -32768) : x * (std::int64_t{1} << -sf);
        }
        dst[i] = static_cast<std::int16_t>(y > 32767 ? 32767 : (y < -32768 ? -32768 : y));
    }
}

void widen(const std::int16_t* src, std::int32_t* dst, std::int32_t count, std::int32_t s)
{
    for (std::int32_t i = 0; i < count; ++i) {
        dst[i] = static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::int32_t>(src[i])) << s);
    }
}

void mul_inv_sqrt2(std::int32_t* data, std::int32_t count)
{
    for (std::int32_t i = 0; i < count; ++i) {
        const std::uint32_t x = static_cast<std::uint32_t>(data[i]);
        const std::int32_t hi = data[i] >> 16;
        const std::uint32_t lo = x & 0xFFFFu;
        const std::uint32_t y = static_cast<std::uint32_t>(hi) * 46340u + ((lo * 23170u) >> 15);
        data[i] = static_cast<std::int32_t>(y);
    }
}

}  // namespace

VekStatus vek_k_convert_s16_f32_gen(const std::int16_t* src, float* dst, std::int32_t len)
{
    const VekStatus st = check(src, dst, len);
    if (st == VEK_OK) {
        for (std::int32_t i = 0; i < len; ++i) {
            dst[i] = static_cast<float>(src[i]);
        }
    }
    return st;
}

VekStatus vek_k_convert_f32_s16_scaled_gen(const float* src, std::int16_t* dst, std::int32_t len,
                                           std::int32_t mode, std::int32_t sf)
{
    const VekStatus st = check(src, dst, len);
    if (st == VEK_OK) {
        to_s16_gen(src, dst, len, mode, sf);
    }
    return st;
}

#define VEK_FFT_CONVERT_COLUMN(col)                                                                               \
    VekStatus vek_k_convert_s16_f32_##col(const std::int16_t* src, float* dst, std::int32_t len)                \
    {                                                                                                             \
        const VekStatus st = check(src, dst, len);                                                               \
        if (st == VEK_OK) {                                                                                       \
            vek_k_convert_s16_f32_body_##col(src, dst, len);                                                      \
        }                                                                                                         \
        return st;                                                                                                \
    }                                                                                                             \
    VekStatus vek_k_convert_f32_s16_scaled_##col(const float* src, std::int16_t* dst, std::int32_t len,         \
                                                 std::int32_t mode, std::int32_t sf)                             \
    {                                                                                                             \
        const VekStatus st = check(src, dst, len);                                                               \
        if (st == VEK_OK) {                                                                                       \
            const unsigned csr = _mm_getcsr(); /* flags the conversion raises do not reach the caller */         \
            vek_k_convert_f32_s16_scaled_body_##col(src, dst, len, mode, sf);                                     \
            _mm_setcsr(csr);                                                                                      \
        }                                                                                                         \
        return st;                                                                                                \
    }
VEK_FFT_CONVERT_COLUMN(mm)
VEK_FFT_CONVERT_COLUMN(ss)
VEK_FFT_CONVERT_COLUMN(wd)
#undef VEK_FFT_CONVERT_COLUMN

void vek_k_convert_s16_s32_shift_gen(const std::int16_t* s, std::int32_t* d, std::int32_t n, std::int32_t sh)
{
    widen(s, d, n, sh);
}
void vek_k_convert_s16_s32_shift_mmx(const std::int16_t* s, std::int32_t* d, std::int32_t n, std::int32_t sh)
{
    widen(s, d, n, sh);
}
void vek_k_convert_s32_s16_scaled_gen(const std::int32_t* s, std::int16_t* d, std::int32_t n, std::int32_t sf)
{
    narrow(s, d, n, sf);
}
void vek_k_convert_s32_s16_scaled_mmx(const std::int32_t* s, std::int16_t* d, std::int32_t n, std::int32_t sf)
{
    narrow(s, d, n, sf);
}

void vek_k_interleave_c16_gen(std::int16_t* dst, const std::int16_t* re, const std::int16_t* im, std::int32_t order)
{
    for (std::int64_t k = 0; k < (std::int64_t{1} << order); ++k) {
        dst[2 * k] = re[k];
        dst[2 * k + 1] = im[k];
    }
}
void vek_k_interleave_c16_mmx(std::int16_t* dst, const std::int16_t* re, const std::int16_t* im, std::int32_t order)
{
    vek_k_interleave_c16_gen(dst, re, im, order);
}
void vek_k_deinterleave_c16_gen(const std::int16_t* src, std::int16_t* re, std::int16_t* im, std::int32_t order)
{
    for (std::int64_t k = 0; k < (std::int64_t{1} << order); ++k) {
        re[k] = src[2 * k];
        im[k] = src[2 * k + 1];
    }
}
void vek_k_deinterleave_c16_mmx(const std::int16_t* src, std::int16_t* re, std::int16_t* im, std::int32_t order)
{
    vek_k_deinterleave_c16_gen(src, re, im, order);
}

void vek_k_fft_mul_inv_sqrt2_s32_gen(std::int32_t* d, std::int32_t n) { mul_inv_sqrt2(d, n); }
void vek_k_fft_mul_inv_sqrt2_s32_mmx(std::int32_t* d, std::int32_t n) { mul_inv_sqrt2(d, n); }
