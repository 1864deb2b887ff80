// Transforms of 1, 2, 3, 4 and 8 points as straight-line kernels, and the constant tables the drivers take
// them from. A kernel is named by layout (c complex interleaved, s split, r real with the spectrum packed as
// R0, R(N/2), R1, I1, ...), element type, direction (sizes 3 and up; 1 and 2 points are their own inverse),
// size, scaling, and arithmetic form:
//   _wd, _ss  single (or double) precision, every operation rounded to the element type; _wd and _ss are
//             the same operations, so their results are identical;
//   _gen      extended precision (x87), rounded to the element type when stored, except a few values of the
//             8-point kernels that pass through the element type before the last stage;
//   none      the 1-point unscaled 32f copies, bit for bit.
// A scaled kernel multiplies the values of its first stage by the factor, never its outputs. Every kernel
// reads all its input before it writes, so the destination may be the source (either split array or both).
//
// SmallKernelTable: 48 kernel pointers in six groups (complex forward, complex inverse, split forward,
// split inverse, real forward, real inverse), each four scaled kernels then four unscaled ones, indexed by
// the order (FFT tables: 1, 2, 4, 8 points) or the length less one (DFT tables: 1, 2, 3, 4 points).
#pragma once

#include <cstdint>

template <class Scaled, class Plain>
struct SmallKernelGroup {
    Scaled scaled[4];
    Plain plain[4];
};

template <class E>
struct SmallKernelTable {
    using Scaled = void (*)(const E* src, E* dst, E factor);
    using Plain = void (*)(const E* src, E* dst);
    using SplitScaled = void (*)(const E* srcRe, const E* srcIm, E* dstRe, E* dstIm, E factor);
    using SplitPlain = void (*)(const E* srcRe, const E* srcIm, E* dstRe, E* dstIm);
    SmallKernelGroup<Scaled, Plain> complexFwd;
    SmallKernelGroup<Scaled, Plain> complexInv;
    SmallKernelGroup<SplitScaled, SplitPlain> splitFwd;
    SmallKernelGroup<SplitScaled, SplitPlain> splitInv;
    SmallKernelGroup<Scaled, Plain> realFwd;
    SmallKernelGroup<Scaled, Plain> realInv;
};
static_assert(sizeof(SmallKernelTable<float>) == 48 * sizeof(void (*)()), "48 kernel pointers");

extern const SmallKernelTable<float> vek_fft32f_small_kernels_wd;
extern const SmallKernelTable<float> vek_fft32f_small_kernels_ss;
extern const SmallKernelTable<float> vek_fft32f_small_kernels_mm;
extern const SmallKernelTable<float> vek_fft32f_small_kernels_gen;
extern const SmallKernelTable<float> vek_dft32f_small_kernels_wd;
extern const SmallKernelTable<float> vek_dft32f_small_kernels_ss;
extern const SmallKernelTable<float> vek_dft32f_small_kernels_mm;
extern const SmallKernelTable<float> vek_dft32f_small_kernels_gen;
extern const SmallKernelTable<double> vek_fft64f_small_kernels_wd;
extern const SmallKernelTable<double> vek_fft64f_small_kernels_ss;
extern const SmallKernelTable<double> vek_fft64f_small_kernels_mm;
extern const SmallKernelTable<double> vek_fft64f_small_kernels_gen;

// ---- The kernels ------------------------------------------------------------------------------------------
// The kind lists below are shared by these declarations and the definitions. S(layout, type, E, name, size,
// inverse, form) stands for a scaled kernel, P(...) for an unscaled one.

#define VEK_SMALL_ARGS_c(E) const E *src, E *dst
#define VEK_SMALL_ARGS_r(E) const E *src, E *dst
#define VEK_SMALL_ARGS_s(E) const E *srcRe, const E *srcIm, E *dstRe, E *dstIm

// Sizes 2 (not complex), 4 and 8 in both scalings, every layout.
#define VEK_SMALL_KINDS(S, P, t, E, form)                                                                          \
    S(s, t, E, _n2, 2, false, form) P(s, t, E, _n2, 2, false, form)                                                \
    S(r, t, E, _n2, 2, false, form) P(r, t, E, _n2, 2, false, form)                                                \
    VEK_SMALL_KINDS_4_8(S, P, c, t, E, form) VEK_SMALL_KINDS_4_8(S, P, s, t, E, form)                              \
    VEK_SMALL_KINDS_4_8(S, P, r, t, E, form)
#define VEK_SMALL_KINDS_4_8(S, P, L, t, E, form)                                                                   \
    S(L, t, E, _fwd_n4, 4, false, form) P(L, t, E, _fwd_n4, 4, false, form)                                        \
    S(L, t, E, _inv_n4, 4, true, form) P(L, t, E, _inv_n4, 4, true, form)                                          \
    S(L, t, E, _fwd_n8, 8, false, form) P(L, t, E, _fwd_n8, 8, false, form)                                        \
    S(L, t, E, _inv_n8, 8, true, form) P(L, t, E, _inv_n8, 8, true, form)
#define VEK_SMALL_KINDS_3(S, P, L, form)                                                                           \
    S(L, 32f, float, _fwd_n3, 3, false, form) P(L, 32f, float, _fwd_n3, 3, false, form)                            \
    S(L, 32f, float, _inv_n3, 3, true, form) P(L, 32f, float, _inv_n3, 3, true, form)

// 32f: the single-precision forms lack four kinds (c n1 scaled and c n2 scaled in wd, c n2 and r n1
// scaled in ss); the 1-point unscaled kinds are plain copies.
#define VEK_SMALL_32F_FORM(S, P, form)                                                                             \
    VEK_SMALL_KINDS(S, P, 32f, float, form)                                                                        \
    VEK_SMALL_KINDS_3(S, P, c, form) VEK_SMALL_KINDS_3(S, P, s, form) VEK_SMALL_KINDS_3(S, P, r, form)             \
    S(s, 32f, float, _n1, 1, false, form)
#define VEK_SMALL_32F_ALL(S, P)                                                                                    \
    VEK_SMALL_32F_FORM(S, P, wd) VEK_SMALL_32F_FORM(S, P, ss) VEK_SMALL_32F_FORM(S, P, gen)                        \
    S(c, 32f, float, _n1, 1, false, ss) S(c, 32f, float, _n1, 1, false, gen)                                       \
    S(c, 32f, float, _n2, 2, false, ss) S(c, 32f, float, _n2, 2, false, gen)                                       \
    P(c, 32f, float, _n2, 2, false, wd) P(c, 32f, float, _n2, 2, false, gen)                                       \
    S(r, 32f, float, _n1, 1, false, wd) S(r, 32f, float, _n1, 1, false, gen)
// 64f: every kind in both forms, no 3-point kinds.
#define VEK_SMALL_64F_FORM(S, P, form)                                                                             \
    VEK_SMALL_KINDS(S, P, 64f, double, form)                                                                       \
    S(c, 64f, double, _n2, 2, false, form) P(c, 64f, double, _n2, 2, false, form)                                  \
    S(c, 64f, double, _n1, 1, false, form) P(c, 64f, double, _n1, 1, false, form)                                  \
    S(s, 64f, double, _n1, 1, false, form) P(s, 64f, double, _n1, 1, false, form)                                  \
    S(r, 64f, double, _n1, 1, false, form) P(r, 64f, double, _n1, 1, false, form)
#define VEK_SMALL_64F_ALL(S, P) VEK_SMALL_64F_FORM(S, P, wd) VEK_SMALL_64F_FORM(S, P, gen)

#define VEK_SMALL_DECLARE_S(L, t, E, name, N, Inv, form)                                                          \
    void vek_k_small_##L##t##name##_scaled_##form(VEK_SMALL_ARGS_##L(E), E factor);
#define VEK_SMALL_DECLARE_P(L, t, E, name, N, Inv, form) void vek_k_small_##L##t##name##_##form(VEK_SMALL_ARGS_##L(E));
VEK_SMALL_32F_ALL(VEK_SMALL_DECLARE_S, VEK_SMALL_DECLARE_P)
VEK_SMALL_64F_ALL(VEK_SMALL_DECLARE_S, VEK_SMALL_DECLARE_P)
#undef VEK_SMALL_DECLARE_S
#undef VEK_SMALL_DECLARE_P

void vek_k_small_c32f_n1(const float* src, float* dst);
void vek_k_small_s32f_n1(const float* srcRe, const float* srcIm, float* dstRe, float* dstIm);
void vek_k_small_r32f_n1(const float* src, float* dst);
