// Conversions between 16-bit integers and single-precision floats: the loop bodies behind the guarded
// conversions of the transforms (mm, ss and wd columns). Callers have checked the pointers and len >= 1.
#pragma once

#include <cstdint>

// dst[i] = src[i] as a float (exact); any alignment.
void vek_k_convert_s16_f32_body_mm(const std::int16_t* src, float* dst, std::int32_t len);
void vek_k_convert_s16_f32_body_ss(const std::int16_t* src, float* dst, std::int32_t len);
void vek_k_convert_s16_f32_body_wd(const std::int16_t* src, float* dst, std::int32_t len);

// dst[i] = src[i] * 2^-sf rounded by round_mode and saturated. wd: mode 0 truncates, any other mode rounds
// to nearest even; ss and mm: mode 1 rounds to nearest even, any other mode truncates. NaN gives 32767 in
// ss and wd and the saturated value of its sign in mm. The scale is an exact power of two for every sf (a
// non-zero value scaled beyond the float range saturates, zero stays 0). The caller's rounding control is
// neither read nor changed.
void vek_k_convert_f32_s16_scaled_body_mm(const float* src, std::int16_t* dst, std::int32_t len,
                                          std::int32_t round_mode, std::int32_t sf);
void vek_k_convert_f32_s16_scaled_body_ss(const float* src, std::int16_t* dst, std::int32_t len,
                                          std::int32_t round_mode, std::int32_t sf);
void vek_k_convert_f32_s16_scaled_body_wd(const float* src, std::int16_t* dst, std::int32_t len,
                                          std::int32_t round_mode, std::int32_t sf);
