// Basic types of the vector library: status, complex elements, processor columns and the opaque context
// records that the families define.
#pragma once

#include <cstdint>

// Result of every library function except slots 0-13: 0 success, negative error (nothing written),
// positive warning (the work was done).
using VekStatus = std::int32_t;

// Complex 16-bit element: real part first (lower address, low half of the packed 32-bit word).
struct VekC16 {
    std::int16_t re;
    std::int16_t im;
};
static_assert(sizeof(VekC16) == 4, "VekC16 is one packed 32-bit word");

// Complex 32-bit element: real part first.
struct VekC32 {
    std::int32_t re;
    std::int32_t im;
};
static_assert(sizeof(VekC32) == 8, "VekC32 is two 32-bit words");

// Processor type and column index of a variant row. VEK_CPU_END ends a fallback list.
enum VekCpuType : std::int32_t {
    VEK_CPU_GEN = 0,
    VEK_CPU_MM = 1,
    VEK_CPU_SS = 2,
    VEK_CPU_WD = 3,
    VEK_CPU_END = 4,
};
inline constexpr int VEK_COLUMN_COUNT = 4;

// Context records owned by the families; the slot signatures only pass pointers to them.
struct FirState;
struct LmsState;
struct IirState;
struct FftSpec;
struct DftSpec;
struct TrellisMetric4d;
struct VekVersion;
