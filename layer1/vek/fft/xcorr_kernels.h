// Region kernels of the cross-correlation for float, double and complex data: the same four regions and the
// same (moving, anchored, n, out, count) contract as the 16-bit kernels behind slot 117 (see xcorr.cpp).
// No library function calls them; they are the correlation's kernel layer for these element types.
//
//   tail, src1 inside: out[i]  = sum of term(moving[i + t], anchored[t])
//   head:              out[-i] = sum of term(anchored[t], moving[i + t])   (written backward from out)
//   src2 inside:       out[i]  = sum of term(anchored[t], moving[t - i])
// t runs over 0 .. n-i-1 for head and tail, 0 .. n-1 for the inside kernels; term(x, y) = x * y for real
// data and x * conj(y) for complex data, so every region yields c(L) = sum conj(src1[j]) * src2[j + L].
#pragma once

#include <cstdint>

// Complex single and double elements: real part first.
struct VekC32f {
    float re;
    float im;
};
struct VekC64f {
    double re;
    double im;
};
static_assert(sizeof(VekC32f) == 8 && sizeof(VekC64f) == 16, "complex elements are two packed scalars");

#define VEK_XCORR_REGION_DECLARE(tag, E, col)                                                                     \
    void vek_k_cross_corr_##tag##_tail_##col(const E* moving, const E* anchored, std::int32_t n, E* out,          \
                                             std::int32_t count);                                                 \
    void vek_k_cross_corr_##tag##_head_##col(const E* moving, const E* anchored, std::int32_t n, E* out,          \
                                             std::int32_t count);                                                 \
    void vek_k_cross_corr_##tag##_src1_inside_##col(const E* moving, const E* anchored, std::int32_t n, E* out,   \
                                                    std::int32_t count);                                          \
    void vek_k_cross_corr_##tag##_src2_inside_##col(const E* moving, const E* anchored, std::int32_t n, E* out,   \
                                                    std::int32_t count);
VEK_XCORR_REGION_DECLARE(32f, float, wd)
VEK_XCORR_REGION_DECLARE(32fc, VekC32f, wd)
VEK_XCORR_REGION_DECLARE(64f, double, wd)
VEK_XCORR_REGION_DECLARE(64fc, VekC64f, wd)
VEK_XCORR_REGION_DECLARE(32f, float, ss)
VEK_XCORR_REGION_DECLARE(32fc, VekC32f, ss)
#undef VEK_XCORR_REGION_DECLARE
