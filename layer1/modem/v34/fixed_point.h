// Fixed-point helpers shared by the V.34 pump, the tone generators and the detector bank.
#pragma once

#include <cstdint>

#include "platform/saturate.h"

// Both helpers are inline: the tone generators and filters call them on every sample.

// a + b saturated to -32768 ... 32767 (both taken as 16-bit).
inline int16_t AddSat16(int32_t a, int32_t b)
{
    return Saturate16(static_cast<int32_t>(static_cast<int16_t>(a)) + static_cast<int16_t>(b));
}

// Q31 times Q15: (a >> 16) * 2 * b + ((b * (a & 0xFFFF)) >> 15), that is floor(a * b / 2^15). The one product
// that does not fit, -2^31 times -32768, gives 0x7FFFFFFF.
inline int32_t MulQ31Q15(int32_t a, int16_t b)
{
    // The two partial products of the 32 x 16 multiply, exact in 64 bits.
    const int64_t high = static_cast<int64_t>(a >> 16) * 2 * b;
    const int64_t low = (static_cast<int64_t>(b) * static_cast<int64_t>(a & 0xFFFF)) >> 15;
    const int64_t r = high + low;
    if (r > INT32_MAX)
        return INT32_MAX;
    return static_cast<int32_t>(r);
}

// Automatic gain control of one sample: y = (sample * gain) >> 15; the gain moves towards the level where
// |y| equals the target at the given rate. Returns y (16 bits) and updates the gain.
int16_t AgcSample(int16_t sample, int16_t* gain, int16_t rate, int16_t target);
