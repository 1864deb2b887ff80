// Saturating 32-bit helpers and the packed complex value of the V.34 and PCM pumps: absolute values, sums,
// Q15 and Q31 division, magnitude, square root, rotation by a phase word and the phase between two points.
// All are pure functions of 32-bit integers; a 16-bit result is returned sign-extended.
#pragma once

#include <cstdint>

// A complex value in one word: real part in bits 0-15, imaginary part in bits 16-31, each signed Q15.
typedef uint32_t PackedComplex;

inline PackedComplex PackComplex(int32_t re, int32_t im)
{
    return (static_cast<uint32_t>(im) << 16) | (static_cast<uint32_t>(re) & 0xFFFFu);
}
inline int16_t RealPart(PackedComplex z) { return static_cast<int16_t>(z & 0xFFFFu); }
inline int16_t ImagPart(PackedComplex z) { return static_cast<int16_t>(z >> 16); }

// |x| of the low 16 bits; 0x8000 gives 0x7FFF; a non-negative 16-bit value is returned as it came, upper bits
// included.
inline int32_t AbsSat16(int32_t x)
{
    const int16_t v = static_cast<int16_t>(x);
    if (v >= 0)
        return x;
    return v == INT16_MIN ? INT16_MAX : -v;
}

inline int32_t AbsSat32(int32_t x)
{
    if (x >= 0)
        return x;
    return x == INT32_MIN ? INT32_MAX : -x;
}

inline int32_t AddSat32(int32_t a, int32_t b)
{
    const int64_t s = static_cast<int64_t>(a) + b;
    return s > INT32_MAX ? INT32_MAX : (s < INT32_MIN ? INT32_MIN : static_cast<int32_t>(s));
}

// The Q31 product (a * b) >> 31, low 32 bits: -1.0 x -1.0 wraps to -1.0.
inline int32_t MulQ31(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>((static_cast<int64_t>(a) * b) >> 31)));
}

// Q15 quotient of a 32-bit dividend by the low 16 bits of the divisor (|dividend| below |divisor| << 16).
int32_t DivQ15(int32_t dividend, int32_t divisor);
// (a * 2^31) / b truncated; a quotient beyond 32 bits (|a| >= |b|) and b = 0 give +-0x7FFFFFFF by its sign
// (b = 0: +0x7FFFFFFF).
int32_t DivQ31(int32_t a, int32_t b);
// max + 0.30 * min of the two parts' magnitudes, each first shifted right by 2.
int32_t ApproxMagnitude(PackedComplex z);
// About sqrt(x * 2^21) / 8 by Newton's method; x <= 0 gives 0.
int32_t SqrtNewton(int32_t x);
// (cos, sin) in Q15 of the angle in the phase word's high 16 bits (one turn = 65536).
PackedComplex PhaseToPhasor(int32_t phase);
// x times the phasor of the phase word, each part truncated to 16 bits.
PackedComplex RotateComplex(PackedComplex x, int32_t phase);
// The angle from a to b in Q31 radians, by an arctangent polynomial good for |angle| <= 45 degrees; beyond it
// the angle keeps its sign.
int32_t PhaseDifference(PackedComplex a, PackedComplex b);

// The 16-bit value (sign-extended) shifted left or arithmetically right by the low 5 bits of the count.
int32_t ShiftLeft16(int32_t value, int32_t count);
int32_t ShiftRight16(int32_t value, int32_t count);
typedef int32_t (*Shift16Function)(int32_t value, int32_t count);

// Zeroes four 32-bit words; returns 0.
int32_t ClearQuad(int32_t* words);
