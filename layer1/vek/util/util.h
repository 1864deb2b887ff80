// Utility primitives the data pumps use (conversion, sum, extrema, dot products, L1 norms, resampling), the
// nearest-value search and the phase of a complex vector: the entry of every column and the kernels other
// families reuse.
#pragma once

#include <cstdint>

#include "layer1/vek/arith/core_link.h"

#define VEK_UTIL_DECLARE(col)                                                                                        \
    VekStatus vek_convert_s16_s32_##col(const int16_t* src, int32_t* dst, int32_t n);                                \
    VekStatus vek_convert_s32_s16_sat_##col(const int32_t* src, int16_t* dst, int32_t n);                            \
    VekStatus vek_sum_16_##col(const int16_t* src, int32_t n, int32_t* sum, int32_t sf);                             \
    VekStatus vek_min_index_16_##col(const int16_t* src, int32_t n, int16_t* minimum, int32_t* index);               \
    VekStatus vek_min_16_##col(const int16_t* src, int32_t n, int16_t* minimum);                                     \
    VekStatus vek_max_16_##col(const int16_t* src, int32_t n, int16_t* maximum);                                     \
    VekStatus vek_dot_16_to16_##col(const int16_t* a, const int16_t* b, int32_t n, int16_t* result, int32_t sf);     \
    VekStatus vek_dot_16_c16_to32_##col(const int16_t* a, const VekC16* b, int32_t n, VekC32* result, int32_t sf);   \
    VekStatus vek_norm_l1_16_##col(const int16_t* src, int32_t n, int32_t* result, int32_t sf);                      \
    VekStatus vek_norm_diff_l1_16_##col(const int16_t* a, const int16_t* b, int32_t n, int32_t* result, int32_t sf); \
    VekStatus vek_downsample_16_##col(const int16_t* src, int32_t src_len, int16_t* dst, int32_t* dst_len,           \
                                      int32_t factor, int32_t* phase);                                               \
    VekStatus vek_upsample_16_##col(const int16_t* src, int32_t src_len, int16_t* dst, int32_t* dst_len,             \
                                    int32_t factor, int32_t* phase);                                                 \
    VekStatus vek_find_nearest_##col(const uint16_t* src, uint16_t* entries, int32_t* indices, int32_t n,            \
                                     const uint16_t* table, int32_t table_len);                                      \
    VekStatus vek_phase_complex_16_##col(const VekC16* src, int16_t* dst, int32_t n, int32_t sf);
VEK_UTIL_DECLARE(gen)
VEK_UTIL_DECLARE(mm)
VEK_UTIL_DECLARE(ss)
VEK_UTIL_DECLARE(wd)
#undef VEK_UTIL_DECLARE

// Nearest-value search of one value: the gen, mm and ss columns share one function, wd has its own.
VekStatus vek_find_nearest_one_gen(uint16_t value, uint16_t* entry, int32_t* index, const uint16_t* table,
                                   int32_t table_len);
VekStatus vek_find_nearest_one_wd(uint16_t value, uint16_t* entry, int32_t* index, const uint16_t* table,
                                  int32_t table_len);
// The search loops: table_len >= 2, no checks.
void vek_find_nearest_one_kernel(uint16_t value, uint16_t* entry, int32_t* index, const uint16_t* table,
                                 int32_t table_len);
void vek_find_nearest_kernel(const uint16_t* src, uint16_t* entries, int32_t* indices, int32_t n,
                             const uint16_t* table, int32_t table_len);

// Kernels shared with the statistics and extrema families (n >= 1, no checks).
int16_t vek_min_16_kernel(const int16_t* src, int32_t n);  // MMX minimum
int16_t vek_max_16_kernel(const int16_t* src, int32_t n);  // MMX maximum
// Position of the first element equal to value among the first n (-1 when absent); 16 elements a step.
int32_t vek_k_find_value_index_16_a(const int16_t* src, int32_t n, int16_t value);  // SSE2
int32_t vek_k_find_value_index_16_b(const int16_t* src, int32_t n, int16_t value);  // MMX with SSE extensions
// Exact sum of n samples (any n >= 1): as a 64-bit integer (MMX forms) or as a double (SSE2 form).
void vek_k_sum_16_block_mm(const int16_t* src, int32_t n, int64_t* out);
void vek_k_sum_16_block_ss(const int16_t* src, int32_t n, int64_t* out);
double vek_k_sum_16_block_wd(const int16_t* src, int32_t n);
