// What the arithmetic and utility families take from the library core: status codes, complex element records,
// each column's copy and zero primitives by column, and the x87 control word.
#pragma once

#include <cstdint>

#include "layer1/vek/core/vek_copy.h"
#include "layer1/vek/core/vek_fpu.h"
#include "layer1/vek/core/vek_status.h"
#include "layer1/vek/core/vek_types.h"

namespace vek::core_link {

enum Column { kGen = VEK_CPU_GEN, kMm = VEK_CPU_MM, kSs = VEK_CPU_SS, kWd = VEK_CPU_WD };

// The zero-fill and copy primitives of column C.
template <Column C>
inline VekStatus zero16(int16_t* dst, int32_t n) {
    if constexpr (C == kGen)
        return vek_zero_16_gen(dst, n);
    else if constexpr (C == kMm)
        return vek_zero_16_mm(dst, n);
    else if constexpr (C == kSs)
        return vek_zero_16_ss(dst, n);
    else
        return vek_zero_16_wd(dst, n);
}
template <Column C>
inline VekStatus zero32(int32_t* dst, int32_t n) {
    if constexpr (C == kGen)
        return vek_zero_32_gen(dst, n);
    else if constexpr (C == kMm)
        return vek_zero_32_mm(dst, n);
    else if constexpr (C == kSs)
        return vek_zero_32_ss(dst, n);
    else
        return vek_zero_32_wd(dst, n);
}
template <Column C>
inline VekStatus copy16(const int16_t* src, int16_t* dst, int32_t n) {
    if constexpr (C == kGen)
        return vek_copy_16_gen(src, dst, n);
    else if constexpr (C == kMm)
        return vek_copy_16_mm(src, dst, n);
    else if constexpr (C == kSs)
        return vek_copy_16_ss(src, dst, n);
    else
        return vek_copy_16_wd(src, dst, n);
}

template <Column C>
inline VekStatus copy32(const int32_t* src, int32_t* dst, int32_t n) {
    if constexpr (C == kGen)
        return vek_copy_32_gen(src, dst, n);
    else if constexpr (C == kMm)
        return vek_copy_32_mm(src, dst, n);
    else if constexpr (C == kSs)
        return vek_copy_32_ss(src, dst, n);
    else
        return vek_copy_32_wd(src, dst, n);
}

}  // namespace vek::core_link
