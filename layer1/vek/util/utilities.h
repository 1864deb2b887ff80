// The vector utilities that the data pumps do not call: square root, element-type conversions, magnitude and phase
// of split vectors, complex resampling, shifts, statistics, thresholds, maximum with index, conjugate, scaled dot
// products, power spectrum, absolute value and complex split and join. The entry of every column, and the kernels
// of these families that other families (the transforms) or tests reach directly.
#pragma once

#include <cstdint>

#include "layer1/vek/arith/core_link.h"

#define VEK_UTILITIES_DECLARE(col)                                                                                  \
    VekStatus vek_sqrt_16_inplace_##col(int16_t* v, int32_t n, int32_t sf);                                         \
    VekStatus vek_sqrt_16_##col(const int16_t* src, int16_t* dst, int32_t n, int32_t sf);                           \
    VekStatus vek_magnitude_complex_16_##col(const VekC16* src, int16_t* dst, int32_t n, int32_t sf);               \
    VekStatus vek_magnitude_split_16_##col(const int16_t* re, const int16_t* im, int16_t* dst, int32_t n,           \
                                           int32_t sf);                                                             \
    VekStatus vek_phase_split_16_##col(const int16_t* re, const int16_t* im, int16_t* dst, int32_t n, int32_t sf);  \
    VekStatus vek_upsample_complex_16_##col(const VekC16* src, int32_t src_len, VekC16* dst, int32_t* dst_len,      \
                                            int32_t factor, int32_t* phase);                                        \
    VekStatus vek_downsample_complex_16_##col(const VekC16* src, int32_t src_len, VekC16* dst, int32_t* dst_len,    \
                                              int32_t factor, int32_t* phase);                                      \
    VekStatus vek_shift_u16_inplace_##col(int32_t shift, uint16_t* v, int32_t n);                                   \
    VekStatus vek_shift_u16_inplace_body_##col(int32_t shift, uint16_t* v, int32_t n);                              \
    VekStatus vek_shift_left_32_inplace_##col(int32_t shift, int32_t* v, int32_t n);                                \
    VekStatus vek_shift_16_inplace_##col(int32_t shift, int16_t* v, int32_t n);                                     \
    VekStatus vek_shift_32_inplace_##col(int32_t shift, int32_t* v, int32_t n);                                     \
    VekStatus vek_mean_16_##col(const int16_t* src, int32_t n, int16_t* mean, int32_t sf);                          \
    VekStatus vek_mean_complex_16_##col(const VekC16* src, int32_t n, VekC16* mean, int32_t sf);                    \
    VekStatus vek_stddev_16_##col(const int16_t* src, int32_t n, int32_t* out, int32_t sf);                         \
    VekStatus vek_stddev_16_scaled_##col(const int16_t* src, int32_t n, int16_t* out, int32_t sf);                  \
    VekStatus vek_norm_l2_16_##col(const int16_t* src, int32_t n, int32_t* out, int32_t sf);                        \
    VekStatus vek_norm_diff_inf_16_##col(const int16_t* a, const int16_t* b, int32_t n, int32_t* out, int32_t sf);  \
    VekStatus vek_norm_diff_l2_16_##col(const int16_t* a, const int16_t* b, int32_t n, int32_t* out, int32_t sf);   \
    VekStatus vek_threshold_lt_16_inplace_##col(int16_t* v, int32_t n, int16_t level);                              \
    VekStatus vek_threshold_gt_16_inplace_##col(int16_t* v, int32_t n, int16_t level);                              \
    VekStatus vek_threshold_16_body_##col(int16_t* v, int32_t n, int16_t level, int32_t mode);                      \
    VekStatus vek_max_index_16_##col(const int16_t* src, int32_t n, int16_t* maximum, int32_t* index);              \
    VekStatus vek_conj_16_inplace_##col(VekC16* v, int32_t n);                                                      \
    VekStatus vek_conj_16_##col(const VekC16* src, VekC16* dst, int32_t n);                                         \
    VekStatus vek_dot_16_to32_##col(const int16_t* a, const int16_t* b, int32_t n, int32_t* result, int32_t sf);    \
    VekStatus vek_dot_16_c16_to16_##col(const int16_t* a, const VekC16* b, int32_t n, VekC16* result, int32_t sf);  \
    VekStatus vek_power_spectrum_complex_16_##col(const VekC16* src, int16_t* dst, int32_t n, int32_t sf);          \
    VekStatus vek_power_spectrum_split_16_##col(const int16_t* re, const int16_t* im, int16_t* dst, int32_t n,      \
                                                int32_t sf);                                                        \
    VekStatus vek_abs_16_inplace_##col(int16_t* v, int32_t n);                                                      \
    VekStatus vek_abs_16_##col(const int16_t* src, int16_t* dst, int32_t n);
VEK_UTILITIES_DECLARE(gen)
VEK_UTILITIES_DECLARE(mm)
VEK_UTILITIES_DECLARE(ss)
VEK_UTILITIES_DECLARE(wd)
#undef VEK_UTILITIES_DECLARE

// Widening of bytes: the mm and ss rows hold one entry (the _mm form).
VekStatus vek_convert_s8_s16_gen(const int8_t* src, int16_t* dst, int32_t n);
VekStatus vek_convert_s8_s16_mm(const int8_t* src, int16_t* dst, int32_t n);
VekStatus vek_convert_s8_s16_wd(const int8_t* src, int16_t* dst, int32_t n);

// Complex split and join exist in two forms; the mm and ss rows hold the gen form.
VekStatus vek_complex_split_16_gen(const VekC16* src, int16_t* re, int16_t* im, int32_t n);
VekStatus vek_complex_split_16_wd(const VekC16* src, int16_t* re, int16_t* im, int32_t n);
VekStatus vek_complex_join_16_gen(const int16_t* re, const int16_t* im, VekC16* dst, int32_t n);
VekStatus vek_complex_join_16_wd(const int16_t* re, const int16_t* im, VekC16* dst, int32_t n);

// ---- Kernels reached by other families (raw pointers, n >= 1, no checks) ----------------------------------------

// 16-bit integers to 32-bit floats, exact.
void vek_k_convert_s16_f32_body_wd(const int16_t* src, float* dst, int32_t n);
void vek_k_convert_s16_f32_body_ss(const int16_t* src, float* dst, int32_t n);
void vek_k_convert_s16_f32_body_mm(const int16_t* src, float* dst, int32_t n);
// 32-bit floats times 2^-sf, rounded by the mode and saturated to 16 bits. Mode 0 truncates and mode 1 rounds to
// nearest (ties to even) in every form; any other mode rounds in wd and truncates in ss and mm. A NaN gives 32767 in
// wd and ss, and the bound of its sign in mm. The caller's SSE and x87 rounding state is unchanged afterwards.
void vek_k_convert_f32_s16_scaled_body_wd(const float* src, int16_t* dst, int32_t n, int32_t mode, int32_t sf);
void vek_k_convert_f32_s16_scaled_body_ss(const float* src, int16_t* dst, int32_t n, int32_t mode, int32_t sf);
void vek_k_convert_f32_s16_scaled_body_mm(const float* src, int16_t* dst, int32_t n, int32_t mode, int32_t sf);

// The 16-bit threshold kernels of the three SIMD columns: mode 1 lowers elements above the level, mode 0 raises
// elements below it (the wd kernel takes any non-zero mode as 1). Source and destination may be the same.
void vek_threshold_16_kernel(const int16_t* src, int16_t* dst, int32_t n, int16_t level, int32_t mode);
void vek_k_threshold_16_ss(const int16_t* src, int16_t* dst, int32_t n, int16_t level, int32_t mode);
void vek_k_threshold_16_mm(const int16_t* src, int16_t* dst, int32_t n, int16_t level, int32_t mode);

// Conjugate kernels (MMX, shared by the three SIMD columns) and the conjugated reversal.
void vek_k_conj_16_inplace(VekC16* v, int32_t n);
void vek_k_conj_16(const VekC16* src, VekC16* dst, int32_t n);
void vek_k_conj_flip_16(const VekC16* src, VekC16* dst, int32_t n);                    // dst[n-1-i] = conj src[i]
void vek_k_copy_conj_flip_16(const VekC16* src, VekC16* copy, VekC16* flip, int32_t n);  // and copy[i] = src[i]

// Maximum with the index of its first occurrence for n >= 32 (the SIMD columns' block searches).
int16_t vek_k_max_index_16_wd(const int16_t* src, int32_t n, int32_t* index);
int16_t vek_k_max_index_16_ss(const int16_t* src, int32_t n, int32_t* index);
int16_t vek_k_max_index_16_mm(const int16_t* src, int32_t n, int32_t* index);
