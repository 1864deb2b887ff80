// Fixed-point helpers shared by the V.34 pump, the tone generators and the detector bank.
#pragma once

#include <cstdint>

// a + b saturated to -32768 ... 32767 (both taken as 16-bit).
int16_t AddSat16(int32_t a, int32_t b);

// Q31 times Q15: (a >> 16) * 2 * b + ((b * (a & 0xFFFF)) >> 15), that is floor(a * b / 2^15). The one product
// that does not fit, -2^31 times -32768, gives 0x7FFFFFFF.
int32_t MulQ31Q15(int32_t a, int16_t b);

// Automatic gain control of one sample: y = (sample * gain) >> 15; the gain moves towards the level where
// |y| equals the target at the given rate. Returns y (16 bits) and updates the gain.
int16_t AgcSample(int16_t sample, int16_t* gain, int16_t rate, int16_t target);
