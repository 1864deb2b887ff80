// LMS adaptive filters: the context record and every named function of the family in each column
// (gen generic, mm MMX, ss SSE, wd SSE2), with the SIMD inner loops they hand their work to.
#pragma once

#include <cstdint>

#include "layer1/vek/core/vek_status.h"
#include "layer1/vek/core/vek_types.h"

inline constexpr int32_t kLmsKindReal = 0x4c4d5352;     // "LMSR"
inline constexpr int32_t kLmsKindComplex = 0x4c4d5343;  // "LMSC"

// A complex tap or a complex filter output is a VekC32 (two signed 32-bit values, real part first); a complex
// sample is a VekC16, one 32-bit word with the real part in the low 16 bits. Inside the library the complex
// delay line is handled as raw 32-bit words.
// One adaptive filter. Field order as the library defines it; the two pointers make the record 48 bytes on
// 64-bit instead of nine 32-bit words.
//   taps       tapsLength values (complex: pairs), stored in reverse of the caller's order
//   delayLine  2 * delayLength samples; positions p and p + delayLength always hold the same sample
//   index      where the next sample is written, 0 <= index < delayLength
struct LmsState {
  int32_t kind;
  int32_t* taps;
  void* delayLine;
  int32_t tapsLength;
  int32_t step;
  int32_t delayLength;  // updateDelay + tapsLength * step
  int32_t updateDelay;
  int32_t index;
  int32_t mu;  // step size in units of 2^-15
};

// Creation, free, taps, delay line, put and mu, per column.
#define VEK_LMS_CONTEXT_DECLS(col)                                                                            \
  VekStatus vek_lms_init_real_##col(LmsState** ctx, const int32_t* taps, int32_t len, const int16_t* delay,  \
                                    int32_t index, int32_t step, int32_t updateDelay, int32_t mu);           \
  VekStatus vek_lms_init_complex_##col(LmsState** ctx, const VekC32* taps, int32_t len,                  \
                                       const VekC16* delay, int32_t index, int32_t step,                   \
                                       int32_t updateDelay, int32_t mu);                                     \
  VekStatus vek_lms_set_taps_real_##col(LmsState* ctx, const int32_t* taps);                                 \
  VekStatus vek_lms_set_taps_complex_##col(LmsState* ctx, const VekC32* taps);                           \
  VekStatus vek_lms_set_delay_real_##col(LmsState* ctx, const int16_t* samples, int32_t index);              \
  VekStatus vek_lms_set_delay_complex_##col(LmsState* ctx, const VekC16* samples, int32_t index);          \
  VekStatus vek_lms_get_delay_real_##col(const LmsState* ctx, int16_t* dst, int32_t* index);                       \
  VekStatus vek_lms_get_delay_complex_##col(const LmsState* ctx, VekC16* dst, int32_t* index);

VEK_LMS_CONTEXT_DECLS(gen)
VEK_LMS_CONTEXT_DECLS(mm)
VEK_LMS_CONTEXT_DECLS(ss)
VEK_LMS_CONTEXT_DECLS(wd)
#undef VEK_LMS_CONTEXT_DECLS

VekStatus vek_lms_free_gen(LmsState* ctx);

// Functions with fewer own copies (the columns that share one are listed in the variant table).
VekStatus vek_lms_get_taps_real_gen(const LmsState* ctx, int32_t* dst);
VekStatus vek_lms_get_taps_real_wd(const LmsState* ctx, int32_t* dst);
VekStatus vek_lms_get_taps_complex_gen(const LmsState* ctx, VekC32* dst);
VekStatus vek_lms_get_taps_complex_wd(const LmsState* ctx, VekC32* dst);
VekStatus vek_lms_get_taps_ptr_gen(LmsState* ctx, int32_t** out);
VekStatus vek_lms_get_taps_ptr_wd(LmsState* ctx, int32_t** out);
VekStatus vek_lms_get_delay_value_real_gen(const LmsState* ctx, int16_t* out, int32_t k);
VekStatus vek_lms_get_delay_value_real_wd(const LmsState* ctx, int16_t* out, int32_t k);
VekStatus vek_lms_get_delay_value_complex_gen(const LmsState* ctx, VekC16* out, int32_t k);
VekStatus vek_lms_get_delay_value_complex_wd(const LmsState* ctx, VekC16* out, int32_t k);
VekStatus vek_lms_put_value_real_gen(int16_t x, LmsState* ctx);
VekStatus vek_lms_put_value_real_mm(int16_t x, LmsState* ctx);
VekStatus vek_lms_put_value_real_wd(int16_t x, LmsState* ctx);
VekStatus vek_lms_put_value_complex_gen(VekC16 x, LmsState* ctx);
VekStatus vek_lms_put_value_complex_mm(VekC16 x, LmsState* ctx);
VekStatus vek_lms_put_value_complex_wd(VekC16 x, LmsState* ctx);
VekStatus vek_lms_set_mu_real_gen(LmsState* ctx, int32_t mu);
VekStatus vek_lms_set_mu_real_wd(LmsState* ctx, int32_t mu);
VekStatus vek_lms_set_mu_complex_gen(LmsState* ctx, int32_t mu);
VekStatus vek_lms_set_mu_complex_wd(LmsState* ctx, int32_t mu);

// Filtering and adaptation, per column.
#define VEK_LMS_FILTER_DECLS(col)                                                                        \
  VekStatus vek_lms_filter_real_##col(int32_t* out, const LmsState* ctx);                                     \
  VekStatus vek_lms_put_filter_real_##col(int16_t x, int32_t* out, LmsState* ctx);                      \
  VekStatus vek_lms_filter_complex_##col(VekC32* out, const LmsState* ctx);                               \
  VekStatus vek_lms_put_filter_complex_##col(VekC16 x, VekC32* out, LmsState* ctx);               \
  VekStatus vek_lms_update_real_##col(int32_t error, LmsState* ctx);                                    \
  VekStatus vek_lms_update_complex_##col(int32_t errorRe, int32_t errorIm, LmsState* ctx);              \
  VekStatus vek_lms_direct_one_##col(int16_t x, int16_t desired, int16_t* y, int32_t* taps, int32_t len, \
                                     int32_t mu, int16_t* delay, int32_t* index);

VEK_LMS_FILTER_DECLS(gen)
VEK_LMS_FILTER_DECLS(mm)
VEK_LMS_FILTER_DECLS(ss)
VEK_LMS_FILTER_DECLS(wd)
#undef VEK_LMS_FILTER_DECLS

// Inner loops of the ss (MMX with SSE extensions) and wd (SSE2) columns. `x` is the first sample of the window;
// the taps are in stored order. Update kernels require |g| <= 32767 (each part for complex).
void vek_lms_filter_kernel(const int32_t* taps, const int16_t* x, int32_t len, int32_t step, int32_t* out);
void vek_lms_filter_kernel_ss(const int32_t* taps, const int16_t* x, int32_t len, int32_t step, int32_t* out);
void vek_lms_update_kernel(int32_t* taps, const int16_t* x, int32_t len, int32_t step, int32_t g);
void vek_lms_update_kernel_ss(int32_t* taps, const int16_t* x, int32_t len, int32_t step, int32_t g);
void vek_lms_filter_kernel_complex(const int32_t* taps, const uint32_t* x, int32_t len, int32_t step,
                                   VekC32* out);
void vek_lms_filter_kernel_complex_ss(const int32_t* taps, const uint32_t* x, int32_t len, int32_t step,
                                      VekC32* out);
void vek_lms_update_kernel_complex(int32_t* taps, const uint32_t* x, int32_t len, int32_t step, int32_t gr,
                                   int32_t gi);
void vek_lms_update_kernel_complex_ss(int32_t* taps, const uint32_t* x, int32_t len, int32_t step, int32_t gr,
                                      int32_t gi);

// The floating-point form of the one-sample normalised LMS shared by ss and wd (arguments already checked).
void vek_lms_direct_one_kernel(int16_t x, int16_t desired, int16_t* y, int32_t* taps, int32_t len, int32_t mu,
                               int16_t* delay, int32_t* index);
