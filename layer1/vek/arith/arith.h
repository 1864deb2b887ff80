// Scaled multiply, subtract and divide-by-constant primitives: the entry of every column and the named kernels
// behind them.
#pragma once

#include <cstdint>

#include "layer1/vek/arith/core_link.h"

// The four columns of each entry point: gen (plain code), mm (MMX), ss (MMX with the SSE extensions, SSE single
// precision), wd (SSE2).
#define VEK_ARITH_COLUMNS(X) X(gen) X(mm) X(ss) X(wd)

#define VEK_ARITH_DECLARE(col)                                                                            \
    VekStatus vek_mul_const_16_inplace_##col(int16_t c, int16_t* v, int32_t n);                           \
    VekStatus vek_mul_const_16_inplace_scaled_##col(int16_t c, int16_t* v, int32_t n, int32_t sf);        \
    VekStatus vek_mul_const_32_inplace_scaled_##col(int32_t c, int32_t* v, int32_t n, int32_t sf);        \
    VekStatus vek_mul_vec_16_inplace_scaled_##col(const int16_t* src, int16_t* v, int32_t n, int32_t sf); \
    VekStatus vek_sub_vec_16_inplace_##col(const int16_t* src, int16_t* v, int32_t n);                    \
    VekStatus vek_sub_vec_16_inplace_scaled_##col(const int16_t* src, int16_t* v, int32_t n, int32_t sf); \
    VekStatus vek_sub_vec_16_##col(const int16_t* src1, const int16_t* src2, int16_t* dst, int32_t n);    \
    VekStatus vek_div_const_16_scaled_##col(const int16_t* src, int16_t divisor, int16_t* dst, int32_t n, \
                                            int32_t sf);                                                  \
    VekStatus vek_div_const_16_inplace_scaled_##col(int16_t divisor, int16_t* v, int32_t n, int32_t sf);
VEK_ARITH_COLUMNS(VEK_ARITH_DECLARE)
#undef VEK_ARITH_DECLARE

// Multiply kernels: raw pointers and counts, n >= 1, no checks. The sfpos kernels take sf (2..30), the sfneg
// kernels the positive shift count -sf (1..15). A _mmss kernel serves both MMX columns.
#define VEK_MUL_KERNELS(X) X(sf0_wd) X(sf0_mmss) X(sf1_wd) X(sf1_ss) X(sf1_mm) X(sfsign_wd) X(sfsign_ss) X(sfsign_mm)
#define VEK_MUL_KERNELS_ARG(X) X(sfpos_wd) X(sfpos_ss) X(sfpos_mm) X(sfneg_wd) X(sfneg_mmss)

#define VEK_MUL_DECLARE(k)                                                 \
    void vek_k_mul_const_16_inplace_##k(int16_t c, int16_t* v, int32_t n); \
    void vek_k_mul_vec_16_inplace_##k(const int16_t* src, int16_t* v, int32_t n);
#define VEK_MUL_DECLARE_ARG(k)                                                        \
    void vek_k_mul_const_16_inplace_##k(int16_t c, int16_t* v, int32_t n, int32_t s); \
    void vek_k_mul_vec_16_inplace_##k(const int16_t* src, int16_t* v, int32_t n, int32_t s);
VEK_MUL_KERNELS(VEK_MUL_DECLARE)
VEK_MUL_KERNELS_ARG(VEK_MUL_DECLARE_ARG)
#undef VEK_MUL_DECLARE
#undef VEK_MUL_DECLARE_ARG

// Subtract kernels: (source, vector, n[, s]) in place, vector[i] - source[i]; (src1, src2, dst, n) for
// src2[i] - src1[i] into dst. The sfpos kernels take sf (2..16), the sfneg kernels -sf (1..15).
#define VEK_SUB_KERNELS(X) X(wd) X(ss) X(mm)
#define VEK_SUB_DECLARE(col)                                                                          \
    void vek_k_sub_vec_16_inplace_sf0_##col(const int16_t* src, int16_t* v, int32_t n);               \
    void vek_k_sub_vec_16_inplace_sf1_##col(const int16_t* src, int16_t* v, int32_t n);               \
    void vek_k_sub_vec_16_inplace_sfpos_##col(const int16_t* src, int16_t* v, int32_t n, int32_t sf); \
    void vek_k_sub_vec_16_inplace_sfneg_##col(const int16_t* src, int16_t* v, int32_t n, int32_t s);  \
    void vek_k_sub_vec_16_inplace_sfsign_##col(const int16_t* src, int16_t* v, int32_t n);            \
    void vek_k_sub_vec_16_sf0_##col(const int16_t* src1, const int16_t* src2, int16_t* dst, int32_t n);
VEK_SUB_KERNELS(VEK_SUB_DECLARE)
#undef VEK_SUB_DECLARE
