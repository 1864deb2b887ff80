// Fixed-point helpers shared by the V.34 and PCM pumps, the tone generators and the detector bank: Q15
// products and saturation, logarithm and square root approximations, block normalisation, the frame CRC step,
// a circular FIR, and the sample AGC.
//
// The saturating helpers report clipping through an overflow flag that the caller owns (one per device);
// pass nullptr where nobody reads it. Sat16 and SatFrom64 also clear the flag when they do not clip.
#pragma once

#include <cstdint>

// ---- saturation and products (inline: they sit in the per-sample paths) ----

// Limits x to -32768 ... 32767; *overflow = 1 when limited, else 0.
inline int16_t Sat16(int32_t x, int16_t* overflow)
{
    int16_t r;
    int16_t clipped = 1;
    if (x > INT16_MAX)
        r = INT16_MAX;
    else if (x < INT16_MIN)
        r = INT16_MIN;
    else {
        r = static_cast<int16_t>(x);
        clipped = 0;
    }
    if (overflow != nullptr)
        *overflow = clipped;
    return r;
}

// a + b (both taken as 16-bit) saturated, through Sat16.
inline int16_t AddSat16(int32_t a, int32_t b, int16_t* overflow = nullptr)
{
    return Sat16(static_cast<int32_t>(static_cast<int16_t>(a)) + static_cast<int16_t>(b), overflow);
}

// (a * b) >> 15. The one product that does not fit, -1 x -1, gives 0x7FFF and sets *overflow.
inline int16_t MulQ15(int16_t a, int16_t b, int16_t* overflow = nullptr)
{
    const int32_t p = static_cast<int32_t>(a) * b;
    if (p == 0x40000000) {
        if (overflow != nullptr)
            *overflow = 1;
        return INT16_MAX;
    }
    return static_cast<int16_t>(p >> 15);
}

// 2 * a * b as Q31; -1 x -1 gives 0x7FFFFFFF and sets *overflow.
inline int32_t MulQ15ToQ31(int16_t a, int16_t b, int16_t* overflow = nullptr)
{
    const int32_t p = static_cast<int32_t>(a) * b;
    if (p == 0x40000000) {
        if (overflow != nullptr)
            *overflow = 1;
        return INT32_MAX;
    }
    return p * 2;
}

// Q31 times Q15: (a >> 16) * 2 * b + ((b * (a & 0xFFFF)) >> 15), that is floor(a * b / 2^15), computed as the
// one 64-bit product shifted (the same value; a single multiply on the recursions' critical paths). The one
// product that does not fit, -2^31 times -32768, gives 0x7FFFFFFF.
inline int32_t MulQ31Q15(int32_t a, int16_t b)
{
    const int64_t r = (static_cast<int64_t>(a) * b) >> 15;
    if (r > INT32_MAX)
        return INT32_MAX;
    return static_cast<int32_t>(r);
}

// a + b on 32 bits, wrapping.
inline int32_t Add32(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

// x, or -x when bit 15 of x is set (a 16-bit magnitude of a value held in 32 bits).
inline int32_t Abs16Wide(int32_t x)
{
    return (x & 0x8000) != 0 ? static_cast<int32_t>(0u - static_cast<uint32_t>(x)) : x;
}

// One step of the frame CRC (reflected CRC-16, polynomial 0x8408) for one bit (nonzero = 1).
inline uint16_t Crc16BitStep(uint32_t bit, uint16_t crc)
{
    const uint32_t in = bit != 0 ? 1u : 0u;
    const uint32_t feedback = (crc ^ in) & 1u;
    return static_cast<uint16_t>((crc >> 1) ^ (feedback != 0 ? 0x8408u : 0u));
}

// The smoothed magnitude of a detector: state * 0x7F00 (Q15) + |value| * 510.
inline int32_t SmoothAbs(int32_t state, int32_t value)
{
    const uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    return static_cast<int32_t>(static_cast<uint32_t>(MulQ31Q15(state, 0x7F00)) + magnitude * 510u);
}

// Automatic gain control of one sample: y = (sample * gain) >> 15; the gain moves towards the level where
// |y| equals the target at the given rate (a gain that would pass the top stays at 0x7FFF). Returns y
// (16 bits) and updates the gain.
inline int16_t AgcSample(int16_t sample, int16_t* gain, int16_t rate, int16_t target)
{
    const int32_t y = (static_cast<int32_t>(sample) * *gain) >> 15;
    const int32_t magnitude = y < 0 ? -y : y;
    // ((target - |y|) * rate + gain * 32768) << 1, kept to 32 bits; a negative result becomes 0x7FFFFFFF.
    const int64_t inner = static_cast<int64_t>(target - magnitude) * rate + static_cast<int64_t>(*gain) * 32768;
    const int32_t g = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(inner) << 1));
    const int32_t kept = g < 0 ? INT32_MAX : g;
    *gain = static_cast<int16_t>(kept >> 16);
    return static_cast<int16_t>(static_cast<uint32_t>(y) & 0xFFFFu);
}

// ---- saturation from 64 bits, scaling ----

// The 64-bit value high:low saturated to 32 bits; *overflow as Sat16.
int32_t SatFrom64(uint32_t low, int32_t high, int16_t* overflow);
// Sat16(SatFrom64(a * b) >> 15).
int16_t MulScaleSat(int32_t a, int16_t b, int16_t* overflow);

// ---- sine and cosine ----

// Sine and cosine (Q15, amplitude 32700) of a phase (65536 = one turn), from a 128-step table with a first-
// order correction inside each step.
void SinCosQ15(uint16_t phase, int16_t* sine, int16_t* cosine);
// The 160 table entries: trunc(32700 * sin(2 pi i / 128)); the cosine is the entry 32 further on.
const int16_t* SineTableQ15();
constexpr int kSineTableEntries = 160;

// ---- normalisation, logarithm, division, square root ----

// Left-shift count that brings bit 30 up (leading sign bits less one); 15 for small values (a < 0x10000 or
// a >= 0xFFFF0000 as unsigned), so two calls normalise any value.
int16_t NormShift(int32_t a);
// 1024 * (15 - log2(a + 1)) for a >= 0, by normalisation and a polynomial.
int16_t NegLog2Q10(int32_t a);
// ((a << 16) / b) >> 1 truncated to 16 bits; b = 0 gives -1.
int16_t DivQ15Half(int16_t a, int16_t b);
// Square root of a * 2^exponent as mantissa * 2^exponent' (the exponent is updated); a <= 0 gives 0.
int16_t SqrtMantExp(int16_t a, int16_t* exponent, int16_t* overflow);
// Shifts a block of 32-bit values left so that the largest one's top bit lands on bit 26; returns the shift
// times 1024 (0 when the largest is 2^27 or more: nothing is shifted).
int16_t NormalizeBlock32(int32_t* x, int32_t n);
// As NormalizeBlock32 after turning zeros into 1, with the largest one's top bit on bit 30.
int16_t NormalizeBlock32Min1(int32_t* x, int32_t n);

// ---- circular FIR ----

// A FIR over a circular history of n samples. Each new sample is stored at the write index, which then moves
// back by one; coefficient 0 weighs the oldest sample, coefficient k (k >= 1) the sample k - 1 steps back.
struct CircularFir {
    const int16_t* coefficients;  // n entries
    int16_t* history;             // n entries
    int32_t length;               // n
    int32_t writeIndex;
};

// Puts one sample in and returns (sum of (coefficient * sample) >> 4) >> 11.
int16_t CircularFir16(CircularFir* filter, int16_t sample);
