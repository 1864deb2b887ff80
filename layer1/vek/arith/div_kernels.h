// The named kernels of the division slots 210-223 (but 213 and 219): per operation a generic kernel, and per
// SIMD column an element kernel, a block kernel and the split routine that divides a vector between them. Every
// kernel has the shape (divisor, dividend, destination, n, sf) of its operation (div_ops.h; the reverse division
// ignores sf) and returns 0, or 6 when it met a zero divisor. None of them checks its arguments.
#pragma once

#include "layer1/vek/arith/div_ops.h"

// X(name stem, operation)
#define VEK_DIV_OPERATIONS(X)             \
    X(vek_k_div_vec_16_scaled, Vec16)     \
    X(vek_k_div_vec_8_scaled, Vec8)       \
    X(vek_k_div_vec_c16_scaled, VecC16)   \
    X(vek_k_div_const_8_scaled, Const8)   \
    X(vek_k_div_const_c16_scaled, ConstC16) \
    X(vek_k_divrev_const_16u, Rev16u)

#define VEK_DIV_KERNEL_PARAMS(D) \
    (vek::div::D::A a, const vek::div::D::E* src, vek::div::D::E* dst, int32_t n, int32_t sf)
#define VEK_DIV_DECLARE(stem, D)                                  \
    VekStatus stem##_gen VEK_DIV_KERNEL_PARAMS(D);                \
    VekStatus stem##_wd VEK_DIV_KERNEL_PARAMS(D);                 \
    VekStatus stem##_ss VEK_DIV_KERNEL_PARAMS(D);                 \
    VekStatus stem##_mm VEK_DIV_KERNEL_PARAMS(D);                 \
    VekStatus stem##_block_wd VEK_DIV_KERNEL_PARAMS(D);           \
    VekStatus stem##_block_ss VEK_DIV_KERNEL_PARAMS(D);           \
    VekStatus stem##_block_mm VEK_DIV_KERNEL_PARAMS(D);           \
    VekStatus stem##_split_wd VEK_DIV_KERNEL_PARAMS(D);           \
    VekStatus stem##_split_ss VEK_DIV_KERNEL_PARAMS(D);           \
    VekStatus stem##_split_mm VEK_DIV_KERNEL_PARAMS(D);
VEK_DIV_OPERATIONS(VEK_DIV_DECLARE)
#undef VEK_DIV_DECLARE
