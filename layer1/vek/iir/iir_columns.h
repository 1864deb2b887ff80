// What the IIR columns take from the library core: the allocator of the tap and delay arrays (wd has its own, the
// other columns share the generic one) and each column's byte copy and byte clear.
#pragma once

#include <cstdint>

#include "layer1/vek/core/vek_copy.h"
#include "layer1/vek/core/vek_memory.h"

namespace vek::iir {

enum class Col { Gen, Mm, Ss, Wd };

// n elements of the tap type (4 bytes real, 8 bytes complex).
template <Col C, class Tap>
void* alloc_elements(int32_t n) {
    if constexpr (sizeof(Tap) == 4)
        return C == Col::Wd ? vek_alloc_32_wd(n) : vek_alloc_32_gen(n);
    else
        return C == Col::Wd ? vek_alloc_64_wd(n) : vek_alloc_64_gen(n);
}

// Byte copy and clear through the column's entries; a count of 0 (or one past 32 bits) copies nothing.
template <Col C>
void copy_bytes(const void* src, void* dst, int64_t bytes) {
    if (bytes <= 0 || bytes > INT32_MAX) return;
    const auto* s = static_cast<const uint8_t*>(src);
    auto* d = static_cast<uint8_t*>(dst);
    const auto n = static_cast<int32_t>(bytes);
    if constexpr (C == Col::Gen)
        vek_copy_8_gen(s, d, n);
    else if constexpr (C == Col::Mm)
        vek_copy_8_mm(s, d, n);
    else if constexpr (C == Col::Ss)
        vek_copy_8_ss(s, d, n);
    else
        vek_copy_8_wd(s, d, n);
}
template <Col C>
void zero_bytes(void* dst, int64_t bytes) {
    if (bytes <= 0 || bytes > INT32_MAX) return;
    auto* d = static_cast<uint8_t*>(dst);
    const auto n = static_cast<int32_t>(bytes);
    if constexpr (C == Col::Gen)
        vek_zero_8_gen(d, n);
    else if constexpr (C == Col::Mm)
        vek_zero_8_mm(d, n);
    else if constexpr (C == Col::Ss)
        vek_zero_8_ss(d, n);
    else
        vek_zero_8_wd(d, n);
}

}  // namespace vek::iir
