// Saturation of an exact intermediate to the 16-bit sample range, the one helper for every block that turns
// a wider result back into a sample or a Q15 value.
#pragma once

#include <cstdint>

inline int16_t Saturate16(int64_t v)
{
    return static_cast<int16_t>(v > INT16_MAX ? INT16_MAX : (v < INT16_MIN ? INT16_MIN : v));
}
