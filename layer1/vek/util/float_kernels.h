// Kernels of the utility families that no slot reaches: floating-point and wide-integer members of the square-root,
// conversion, magnitude and phase, statistics, extremum, threshold, dot-product, power-spectrum and absolute-value
// families. Raw pointers and counts (n >= 1), no checks, no status; any alignment. Complex elements are pairs, real
// part first. Where a conversion narrows, `mode` 0 truncates and any other value rounds to nearest with ties to
// even, and sf scales by 2^-sf exactly; results saturate to the destination type.
#pragma once

#include <cstdint>

#include "layer1/vek/core/vek_types.h"

struct VekC32f {
    float re, im;
};
struct VekC64f {
    double re, im;
};

// --- square roots -------------------------------------------------------------------------------------------------
void vek_k_sqrt_32f_approx(const float* src, float* dst, int32_t n);  // reciprocal estimate and one Newton step
void vek_k_sqrt_32f(const float* src, float* dst, int32_t n);
void vek_k_sqrt_64f(const double* src, double* dst, int32_t n);
void vek_k_sqrt_c64f(const VekC64f* src, VekC64f* dst, int32_t n);  // principal root
// round(sqrt(x) * 2^-sf), ties to even; negative inputs give 0; saturated to the type.
void vek_k_sqrt_32s_scaled(const int32_t* src, int32_t* dst, int32_t n, int32_t sf);
void vek_k_sqrt_16u_scaled(const uint16_t* src, uint16_t* dst, int32_t n, int32_t sf);
void vek_k_sqrt_64s(const int64_t* src, int64_t* dst, int32_t n);  // rounded root, negative inputs give 0
void vek_k_lookup_8u(const uint8_t* src, uint8_t* dst, int32_t n, const uint8_t* table);

// --- conversions --------------------------------------------------------------------------------------------------
#define VEK_WIDEN_KERNELS(X) \
    X(8s, f32, int8_t, float) X(8u, f32, uint8_t, float) X(16u, f32, uint16_t, float) X(32s, f32, int32_t, float) \
    X(32s, f64, int32_t, double) X(16s, f64, int16_t, double) X(f32, f64, float, double)
#define VEK_NARROW_KERNELS(X) \
    X(f32, 8s, float, int8_t) X(f32, 8u, float, uint8_t) X(f32, 16u, float, uint16_t) X(f32, 32s, float, int32_t) \
    X(f64, 32s, double, int32_t)
#define VEK_DECLARE_WIDEN(a, b, S, D) void vek_k_convert_##a##_##b(const S* src, D* dst, int32_t n);
#define VEK_DECLARE_NARROW(a, b, S, D) \
    void vek_k_convert_##a##_##b##_scaled(const S* src, D* dst, int32_t n, int32_t mode, int32_t sf);
VEK_WIDEN_KERNELS(VEK_DECLARE_WIDEN)
VEK_NARROW_KERNELS(VEK_DECLARE_NARROW)
#undef VEK_DECLARE_WIDEN
#undef VEK_DECLARE_NARROW
void vek_k_convert_f64_f32(const double* src, float* dst, int32_t n);  // clamped to +-FLT_MAX first
void vek_k_convert_16s_f32_times(const int16_t* src, float* dst, int32_t n, const float* factor);
void vek_k_convert_16s_f64_times(const int16_t* src, double* dst, int32_t n, const double* factor);

// --- magnitude and phase --------------------------------------------------------------------------------------------
void vek_k_magnitude_c32f(const VekC32f* src, float* dst, int32_t n);
void vek_k_magnitude_split_32f(const float* re, const float* im, float* dst, int32_t n);
void vek_k_magnitude_c64f(const VekC64f* src, double* dst, int32_t n);
void vek_k_magnitude_split_64f(const double* re, const double* im, double* dst, int32_t n);
void vek_k_magnitude_c16_32f(const VekC16* src, float* dst, int32_t n);
void vek_k_phase_c32f(const VekC32f* src, float* dst, int32_t n);
void vek_k_phase_split_32f(const float* re, const float* im, float* dst, int32_t n);
void vek_k_phase_c64f(const VekC64f* src, double* dst, int32_t n);
void vek_k_phase_split_64f(const double* re, const double* im, double* dst, int32_t n);
void vek_k_phase_c16_32f(const VekC16* src, float* dst, int32_t n);
void vek_k_phase_split_16_32f(const int16_t* re, const int16_t* im, float* dst, int32_t n);

// --- statistics -----------------------------------------------------------------------------------------------------
int32_t vek_k_norm_inf_16(const int16_t* src, int32_t n, int32_t* out);  // -32768 counts as 32768
#define VEK_NORM_KERNELS(X) X(f32, float) X(f64, double)
#define VEK_DECLARE_NORMS(t, T)                                                          \
    void vek_k_norm_inf_##t(const T* src, int32_t n, T* out);                            \
    void vek_k_norm_l1_##t(const T* src, int32_t n, T* out);                             \
    void vek_k_norm_l2_##t(const T* src, int32_t n, T* out); /* sum of squares */        \
    void vek_k_norm_diff_inf_##t(const T* a, const T* b, int32_t n, T* out);             \
    void vek_k_norm_diff_l1_##t(const T* a, const T* b, int32_t n, T* out);              \
    void vek_k_norm_diff_l2_##t(const T* a, const T* b, int32_t n, T* out);              \
    void vek_k_stddev_##t(const T* src, int32_t n, T* out); /* n >= 2 */                 \
    T vek_k_sum_##t(const T* src, int32_t n);
VEK_NORM_KERNELS(VEK_DECLARE_NORMS)
#undef VEK_DECLARE_NORMS
void vek_k_sum_complex_f32(const VekC32f* src, int32_t n, double out[2]);

// --- extrema ----------------------------------------------------------------------------------------------------
#define VEK_EXTREMUM_KERNELS(X) X(64f, double) X(32f, float) X(64s, int64_t) X(32s, int32_t)
#define VEK_DECLARE_EXTREMA(t, T)                        \
    void vek_k_max_##t(const T* src, int32_t n, T* out); \
    void vek_k_min_##t(const T* src, int32_t n, T* out);
VEK_EXTREMUM_KERNELS(VEK_DECLARE_EXTREMA)
#undef VEK_DECLARE_EXTREMA
float vek_k_min_block_32f(const float* src, int32_t n);  // n a multiple of 8
float vek_k_max_block_32f(const float* src, int32_t n);
int32_t vek_k_find_value_index_32(const int32_t* src, int32_t value);  // the value must be present
float vek_k_min_index_32f(const float* src, int32_t n, int32_t* index);
float vek_k_max_index_32f(const float* src, int32_t n, int32_t* index);
double vek_k_min_index_64f(const double* src, int32_t n, int32_t* index);
double vek_k_max_index_64f(const double* src, int32_t n, int32_t* index);

// --- thresholds: mode 1 lowers elements above the level, any other mode raises elements below it ------------------
// (the double forms and the 16-bit complex form take any non-zero mode as lowering)
void vek_k_threshold_32f(const float* src, float* dst, int32_t n, float level, int32_t mode);
void vek_k_threshold_32f_inplace(float* v, int32_t n, float level, int32_t mode);
void vek_k_threshold_64f(const double* src, double* dst, int32_t n, double level, int32_t mode);
void vek_k_threshold_32s(const int32_t* src, int32_t* dst, int32_t n, int32_t level, int32_t mode);
void vek_k_threshold_32s_inplace(int32_t* v, int32_t n, int32_t level, int32_t mode);
void vek_k_threshold_64s_inplace(int64_t* v, int32_t n, int64_t level, int32_t mode);
// Complex thresholds by magnitude: elements beyond the level (above when lowering, below when raising) are scaled to
// it; when raising, a zero element becomes {level, 0}.
void vek_k_threshold_c16(int16_t level, const VekC16* src, VekC16* dst, int32_t n, int32_t mode);
void vek_k_threshold_c32f(float level, const VekC32f* src, VekC32f* dst, int32_t n, int32_t mode);
void vek_k_threshold_c64f(double level, const VekC64f* src, VekC64f* dst, int32_t n, int32_t mode);
// Value substitution: x < level (lt) or x > level (gt) becomes value; complex forms compare squared magnitudes.
#define VEK_THRESHOLD_VALUE_KERNELS(X) X(16s, int16_t) X(32s, int32_t) X(64f, double)
#define VEK_DECLARE_THRESHOLD_VALUE(t, T)                                                          \
    void vek_k_threshold_lt_val_##t(const T* src, T* dst, int32_t n, T level, T value);          \
    void vek_k_threshold_gt_val_##t(const T* src, T* dst, int32_t n, T level, T value);
VEK_THRESHOLD_VALUE_KERNELS(VEK_DECLARE_THRESHOLD_VALUE)
#undef VEK_DECLARE_THRESHOLD_VALUE
void vek_k_threshold_lt_val_64s_inplace(int64_t* v, int32_t n, int64_t level, int64_t value);
void vek_k_threshold_gt_val_64s_inplace(int64_t* v, int32_t n, int64_t level, int64_t value);
void vek_k_threshold_lt_val_c16(const VekC16* src, VekC16* dst, int32_t n, int16_t level, VekC16 value);
void vek_k_threshold_gt_val_c16(const VekC16* src, VekC16* dst, int32_t n, int16_t level, VekC16 value);
void vek_k_threshold_lt_val_c32f(const VekC32f* src, VekC32f* dst, int32_t n, float level, VekC32f value);
void vek_k_threshold_gt_val_c32f(const VekC32f* src, VekC32f* dst, int32_t n, float level, VekC32f value);
void vek_k_threshold_lt_val_c64f(const VekC64f* src, VekC64f* dst, int32_t n, double level, VekC64f value);
void vek_k_threshold_gt_val_c64f(const VekC64f* src, VekC64f* dst, int32_t n, double level, VekC64f value);

// --- dot products ---------------------------------------------------------------------------------------------------
// complex by complex 16-bit: 32-bit wrapping sums scaled by the 16-bit rule, or the raw 64-bit sums
void vek_k_dot_c16_to16(const VekC16* a, const VekC16* b, int32_t n, VekC16* out, int32_t sf);
void vek_k_dot_c16_to64(const VekC16* a, const VekC16* b, int32_t n, int64_t out[2]);
float vek_k_dot_32f(const float* a, const float* b, int32_t n);
VekC32f vek_k_dot_c32f(const VekC32f* a, const VekC32f* b, int32_t n);
VekC32f vek_k_dot_32f_c32f(const float* a, const VekC32f* b, int32_t n);
double vek_k_dot_64f(const double* a, const double* b, int32_t n);
VekC64f vek_k_dot_c64f(const VekC64f* a, const VekC64f* b, int32_t n);
VekC64f vek_k_dot_64f_c64f(const double* a, const VekC64f* b, int32_t n);
double vek_k_dot_32f_to64f(const float* a, const float* b, int32_t n);
double vek_k_dot_16_32_to64f(const int16_t* a, const int32_t* b, int32_t n);

// --- power spectra ----------------------------------------------------------------------------------------------
void vek_k_power_spectrum_c64f(const VekC64f* src, double* dst, int32_t n);
void vek_k_power_spectrum_split_64f(const double* re, const double* im, double* dst, int32_t n);
void vek_k_power_spectrum_c32f(const VekC32f* src, float* dst, int32_t n);
void vek_k_power_spectrum_split_32f(const float* re, const float* im, float* dst, int32_t n);
void vek_k_power_spectrum_16_to32f(const VekC16* src, float* dst, int32_t n);  // 2^31 stays positive
void vek_k_power_spectrum_split_16_to32f(const int16_t* re, const int16_t* im, float* dst, int32_t n);

// --- absolute value, split and join ---------------------------------------------------------------------------------
void vek_k_abs_32f(const float* src, float* dst, int32_t n);   // the sign bit cleared
void vek_k_abs_64f(const double* src, double* dst, int32_t n);
void vek_k_abs_64f_inplace(double* v, int32_t n);
void vek_k_complex_real_32(const int32_t* c, int32_t* re, int32_t n);
void vek_k_complex_imag_32(const int32_t* c, int32_t* im, int32_t n);
void vek_k_complex_join_32(const int32_t* re, const int32_t* im, int32_t* c, int32_t n);
void vek_k_complex_join_re_32(const int32_t* re, int32_t* c, int32_t n);  // imaginary parts 0
void vek_k_complex_join_im_32(const int32_t* im, int32_t* c, int32_t n);  // real parts 0
void vek_k_complex_real_64(const int64_t* c, int64_t* re, int32_t n);
void vek_k_complex_join_64(const int64_t* re, const int64_t* im, int64_t* c, int32_t n);
