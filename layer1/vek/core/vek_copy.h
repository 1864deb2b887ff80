// Copy, zero and fill of vectors (slots 14-19 and the fills that other families call directly), one function
// per variant column, and the raw kernels behind them.
//
// Entries check their arguments (a null pointer gives -8, n <= 0 gives -6, nothing written) and hand bytes
// to the variant's kernel. Kernels take raw pointers and byte or element counts and check nothing; they copy
// forward, and source and destination must not overlap. Kernels with non-temporal stores end with a store
// fence, so their results are visible to any thread that synchronises with the caller afterwards.
#pragma once

#include <cstddef>
#include <cstdint>

#include "layer1/vek/core/vek_types.h"

#define VEK_COPY_DECLARE_VARIANT(v)                                                             \
    VekStatus vek_copy_8_##v(const std::uint8_t* src, std::uint8_t* dst, std::int32_t n);       \
    VekStatus vek_copy_16_##v(const std::int16_t* src, std::int16_t* dst, std::int32_t n);      \
    VekStatus vek_copy_32_##v(const std::int32_t* src, std::int32_t* dst, std::int32_t n);      \
    VekStatus vek_zero_8_##v(std::uint8_t* dst, std::int32_t n);                                \
    VekStatus vek_zero_16_##v(std::int16_t* dst, std::int32_t n);                               \
    VekStatus vek_zero_32_##v(std::int32_t* dst, std::int32_t n);                               \
    VekStatus vek_set_8_##v(std::uint8_t value, std::uint8_t* dst, std::int32_t n);             \
    VekStatus vek_set_32_##v(std::int32_t value, std::int32_t* dst, std::int32_t n);            \
    void vek_k_copy_##v(const void* src, void* dst, std::size_t bytes);                         \
    void vek_k_zero_##v(void* dst, std::size_t bytes);                                          \
    void vek_k_fill8_##v(std::uint8_t value, void* dst, std::size_t bytes);                     \
    void vek_k_fill32_##v(std::int32_t value, std::int32_t* dst, std::size_t count);

VEK_COPY_DECLARE_VARIANT(gen)
VEK_COPY_DECLARE_VARIANT(mm)
VEK_COPY_DECLARE_VARIANT(ss)
VEK_COPY_DECLARE_VARIANT(wd)
#undef VEK_COPY_DECLARE_VARIANT

// Thresholds of the non-temporal paths, in bytes (the 32-bit fill of ss counts elements).
inline constexpr std::size_t VEK_SS_COPY_BULK_MIN = 8192;
inline constexpr std::size_t VEK_SS_COPY_PAGED_MIN = 16384;
inline constexpr std::size_t VEK_SS_COPY_PAGED_REST = 20479;
inline constexpr std::size_t VEK_SS_ZERO_NT_MIN = 20480;
inline constexpr std::size_t VEK_SS_FILL32_NT_MIN = 5120;
inline constexpr std::size_t VEK_WD_COPY_NT_ABOVE = 131200;
inline constexpr std::size_t VEK_WD_ZERO_NT_ABOVE = 262144;
