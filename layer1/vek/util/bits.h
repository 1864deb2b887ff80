// The shift and bitwise-logic kernel family: raw loops with no checks (a non-null pointer, n >= 1 and, for the
// shifts, a count below the element width), each in an SSE2 set (_sse2) and an MMX set (_mmx). Shifts act on
// 8-bit unsigned, 16-bit and 32-bit elements, in place (count, data, n) or into a destination (src, count, dst, n);
// left shifts and logical right shifts let zeros in, arithmetic right shifts copy the sign. The logic kernels
// combine 8-bit or 16-bit elements with a constant (its low byte or low 16 bits) or with a second vector.
#pragma once

#include <cstdint>

#define VEK_SHIFT_KERNELS(X)                                                                              \
    X(shl_8u, uint8_t) X(shr_8u, uint8_t) X(shl_16, int16_t) X(shr_16u, uint16_t) X(sar_16, int16_t)      \
    X(shl_32, int32_t) X(sar_32, int32_t)
#define VEK_LOGIC_KERNELS(X) X(and, 8u, uint8_t) X(or, 8u, uint8_t) X(xor, 8u, uint8_t) \
    X(and, 16u, uint16_t) X(or, 16u, uint16_t) X(xor, 16u, uint16_t)

#define VEK_SHIFT_DECLARE(name, T, set)                                              \
    void vek_k_##name##_inplace_##set(int32_t count, T* v, int32_t n);              \
    void vek_k_##name##_##set(const T* src, int32_t count, T* dst, int32_t n);
#define VEK_LOGIC_DECLARE(op, ty, T, set)                                                        \
    void vek_k_##op##_const_##ty##_inplace_##set(int32_t value, T* v, int32_t n);               \
    void vek_k_##op##_const_##ty##_##set(const T* src, int32_t value, T* dst, int32_t n);       \
    void vek_k_##op##_vec_##ty##_inplace_##set(const T* src, T* srcdst, int32_t n);             \
    void vek_k_##op##_vec_##ty##_##set(const T* src1, const T* src2, T* dst, int32_t n);
#define VEK_SHIFT_DECLARE_SSE2(name, T) VEK_SHIFT_DECLARE(name, T, sse2)
#define VEK_SHIFT_DECLARE_MMX(name, T) VEK_SHIFT_DECLARE(name, T, mmx)
#define VEK_LOGIC_DECLARE_SSE2(op, ty, T) VEK_LOGIC_DECLARE(op, ty, T, sse2)
#define VEK_LOGIC_DECLARE_MMX(op, ty, T) VEK_LOGIC_DECLARE(op, ty, T, mmx)
VEK_SHIFT_KERNELS(VEK_SHIFT_DECLARE_SSE2)
VEK_SHIFT_KERNELS(VEK_SHIFT_DECLARE_MMX)
VEK_LOGIC_KERNELS(VEK_LOGIC_DECLARE_SSE2)
VEK_LOGIC_KERNELS(VEK_LOGIC_DECLARE_MMX)
#undef VEK_SHIFT_DECLARE_SSE2
#undef VEK_SHIFT_DECLARE_MMX
#undef VEK_LOGIC_DECLARE_SSE2
#undef VEK_LOGIC_DECLARE_MMX
#undef VEK_SHIFT_DECLARE
#undef VEK_LOGIC_DECLARE
