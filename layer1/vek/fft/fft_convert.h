// Conversions at the edges of the 16-bit transforms: guarded int16 <-> float conversions with a scale factor,
// and the unchecked fixed-point kernels (widening with a block shift, narrowing with a rounding shift,
// interleaving split data, multiplying by 1/sqrt(2)). The mm, ss and wd columns share one form of each
// fixed-point kernel (the _mmx names); gen has its own.
#pragma once

#include <cstdint>

#include "layer1/vek/core/vek_status.h"

#define VEK_FFT_CONVERT_DECLARE(col)                                                                              \
    VekStatus vek_k_convert_s16_f32_##col(const std::int16_t* src, float* dst, std::int32_t len);               \
    VekStatus vek_k_convert_f32_s16_scaled_##col(const float* src, std::int16_t* dst, std::int32_t len,         \
                                                 std::int32_t round_mode, std::int32_t sf);
VEK_FFT_CONVERT_DECLARE(gen)
VEK_FFT_CONVERT_DECLARE(mm)
VEK_FFT_CONVERT_DECLARE(ss)
VEK_FFT_CONVERT_DECLARE(wd)
#undef VEK_FFT_CONVERT_DECLARE

// dst[i] = src[i] * 2^s, 0 <= s <= 16.
void vek_k_convert_s16_s32_shift_gen(const std::int16_t* src, std::int32_t* dst, std::int32_t count, std::int32_t s);
void vek_k_convert_s16_s32_shift_mmx(const std::int16_t* src, std::int32_t* dst, std::int32_t count, std::int32_t s);

// dst[i] = src[i] * 2^-sf, a right shift rounding half up (sum formed in 64 bits), a left shift that
// saturates; shifts of 32 or more give 0 (right) or the saturated sign (left); saturated to int16.
void vek_k_convert_s32_s16_scaled_gen(const std::int32_t* src, std::int16_t* dst, std::int32_t count,
                                      std::int32_t sf);
void vek_k_convert_s32_s16_scaled_mmx(const std::int32_t* src, std::int16_t* dst, std::int32_t count,
                                      std::int32_t sf);

// dst[2k] = re[k], dst[2k+1] = im[k] for k < 2^order, and the inverse.
void vek_k_interleave_c16_gen(std::int16_t* dst, const std::int16_t* re, const std::int16_t* im, std::int32_t order);
void vek_k_interleave_c16_mmx(std::int16_t* dst, const std::int16_t* re, const std::int16_t* im, std::int32_t order);
void vek_k_deinterleave_c16_gen(const std::int16_t* src, std::int16_t* re, std::int16_t* im, std::int32_t order);
void vek_k_deinterleave_c16_mmx(const std::int16_t* src, std::int16_t* re, std::int16_t* im, std::int32_t order);

// x = hi * 46340 + ((lo * 23170) >> 15) with hi = x >> 16, lo = x & 0xFFFF: x * 23170 / 32768 (wrapping).
void vek_k_fft_mul_inv_sqrt2_s32_gen(std::int32_t* data, std::int32_t count);
void vek_k_fft_mul_inv_sqrt2_s32_mmx(std::int32_t* data, std::int32_t count);
