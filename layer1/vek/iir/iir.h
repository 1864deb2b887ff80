// IIR filters of 16-bit real and complex samples: arbitrary-order sections (transposed direct form II) and
// cascades of second-order sections (direct form II), with 32-bit fixed-point taps. The context record, the entry
// functions of every column and the filtering kernels.
#pragma once

#include <cstdint>

#include "layer1/vek/core/vek_status.h"
#include "layer1/vek/core/vek_types.h"

// The context record, the same for every column (a context made by one column's init works with any column). On
// 64-bit the two pointers make it 32 bytes where a 32-bit build had five 32-bit words.
struct IirState {
    std::uint32_t kind;       // one of the four kinds below
    void* taps;               // stored taps: int32_t (real kinds) or VekC32 (complex kinds)
    void* delay;              // delay line of the same element type; null for arbitrary order 0
    std::int32_t order;       // arbitrary order n, or 2 * sections: the number of delay-line elements
    std::int32_t tapsFactor;  // a stored tap t stands for t * 2^tapsFactor
};

// Kinds: the four characters of the label, the first in the most significant byte.
inline constexpr std::uint32_t VEK_IIR_REAL_ARBITRARY = 0x49493039;     // "II09"
inline constexpr std::uint32_t VEK_IIR_REAL_BIQUAD = 0x49493130;        // "II10"
inline constexpr std::uint32_t VEK_IIR_COMPLEX_ARBITRARY = 0x49493131;  // "II11"
inline constexpr std::uint32_t VEK_IIR_COMPLEX_BIQUAD = 0x49493132;     // "II12"

// Inits: gen, the shared mm/ss form (_mmss) and wd; they differ only in the allocator of the arrays.
#define VEK_IIR_INIT_DECLARE(col)                                                                                     \
    VekStatus vek_iir_init_real_##col(IirState** st, const int32_t* taps, int32_t order, int32_t tf,                  \
                                      const int32_t* delay);                                                          \
    VekStatus vek_iir_init_complex_##col(IirState** st, const VekC32* taps, int32_t order, int32_t tf,                \
                                         const VekC32* delay);                                                        \
    VekStatus vek_iir_init_biquad_real_##col(IirState** st, const int32_t* taps, int32_t sections, int32_t tf,        \
                                             const int32_t* delay);                                                   \
    VekStatus vek_iir_init_biquad_complex_##col(IirState** st, const VekC32* taps, int32_t sections, int32_t tf,      \
                                                const VekC32* delay);
VEK_IIR_INIT_DECLARE(gen)
VEK_IIR_INIT_DECLARE(mmss)
VEK_IIR_INIT_DECLARE(wd)
#undef VEK_IIR_INIT_DECLARE

// Release: one function per data type for every column.
VekStatus vek_iir_free_real(IirState* st);
VekStatus vek_iir_free_complex(IirState* st);

// Filtering and delay-line access per column.
#define VEK_IIR_ENTRY_DECLARE(col)                                                                                     \
    VekStatus vek_iir_one_real_##col(int16_t x, int16_t* y, IirState* st, int32_t sf);                                 \
    VekStatus vek_iir_one_complex_##col(VekC16 x, VekC16* y, IirState* st, int32_t sf);                                \
    VekStatus vek_iir_block_real_##col(const int16_t* src, int16_t* dst, int32_t n, IirState* st, int32_t sf);         \
    VekStatus vek_iir_block_complex_##col(const VekC16* src, VekC16* dst, int32_t n, IirState* st, int32_t sf);        \
    VekStatus vek_iir_block_real_inplace_##col(int16_t* v, int32_t n, IirState* st, int32_t sf);                       \
    VekStatus vek_iir_block_complex_inplace_##col(VekC16* v, int32_t n, IirState* st, int32_t sf);                     \
    VekStatus vek_iir_get_delay_real_##col(const IirState* st, int32_t* dst);                                          \
    VekStatus vek_iir_set_delay_real_##col(IirState* st, const int32_t* src);                                          \
    VekStatus vek_iir_get_delay_complex_##col(const IirState* st, VekC32* dst);                                        \
    VekStatus vek_iir_set_delay_complex_##col(IirState* st, const VekC32* src);
VEK_IIR_ENTRY_DECLARE(gen)
VEK_IIR_ENTRY_DECLARE(mm)
VEK_IIR_ENTRY_DECLARE(ss)
VEK_IIR_ENTRY_DECLARE(wd)
#undef VEK_IIR_ENTRY_DECLARE

// Kernels: gen, wd and the shared mm/ss set. All compute alike (scalar integer arithmetic); the entry has checked
// the context, the kernel checks y, or src, dst and n. The complex one-sample kernels take the sample as one packed
// 32-bit word (real part low).
#define VEK_IIR_KERNEL_DECLARE(form, col)                                                                           \
    VekStatus vek_k_iir_##form##_real_one_##col(int16_t x, int16_t* y, IirState* st, int32_t sf);                   \
    VekStatus vek_k_iir_##form##_complex_one_##col(uint32_t x, VekC16* y, IirState* st, int32_t sf);                \
    VekStatus vek_k_iir_##form##_real_block_##col(const int16_t* src, int16_t* dst, int32_t n, IirState* st,        \
                                                  int32_t sf);                                                      \
    VekStatus vek_k_iir_##form##_complex_block_##col(const VekC16* src, VekC16* dst, int32_t n, IirState* st,       \
                                                     int32_t sf);
VEK_IIR_KERNEL_DECLARE(arb, gen)
VEK_IIR_KERNEL_DECLARE(arb, mmss)
VEK_IIR_KERNEL_DECLARE(arb, wd)
VEK_IIR_KERNEL_DECLARE(biquad, gen)
VEK_IIR_KERNEL_DECLARE(biquad, mmss)
VEK_IIR_KERNEL_DECLARE(biquad, wd)
#undef VEK_IIR_KERNEL_DECLARE
