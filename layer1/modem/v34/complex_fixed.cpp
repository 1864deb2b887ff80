#include "layer1/modem/v34/complex_fixed.h"

#include "layer1/modem/v34/fixed_point.h"

int32_t DivQ15(int32_t n, int32_t divisor)
{
    const int16_t d = static_cast<int16_t>(divisor);
    if (d == 0)
        return n > 0 ? 0x7FFF : (n < 0 ? -0x8000 : 1);
    const uint32_t q = static_cast<uint32_t>(AbsSat32(n)) / static_cast<uint32_t>(AbsSat16(d));
    const bool signsDiffer = (n > 0 && d < 0) || (n < 0 && d > 0);
    if (signsDiffer)
        return -static_cast<int32_t>((q >> 1) & 0x7FFFu);
    return static_cast<int32_t>((q >> 17) << 16 | ((q >> 1) & 0x7FFFu));
}

int32_t DivQ31(int32_t a, int32_t b)
{
    if (b == 0)
        return INT32_MAX;
    const int64_t q = (static_cast<int64_t>(a) * 2147483648LL) / b;
    // A quotient that does not fit keeps its sign instead of wrapping.
    if (q > INT32_MAX)
        return INT32_MAX;
    if (q < -INT32_MAX)
        return -INT32_MAX;
    return static_cast<int32_t>(q);
}

int32_t ApproxMagnitude(PackedComplex z)
{
    const int32_t re = AbsSat16(RealPart(z)) >> 2;
    const int32_t im = AbsSat16(ImagPart(z)) >> 2;
    const int32_t larger = re > im ? re : im;  // equal parts: the imaginary one counts as the larger
    const int32_t smaller = re > im ? im : re;
    return larger + ((smaller * 9850) >> 15);
}

int32_t SqrtNewton(int32_t x)
{
    if (x <= 0)
        return 0;
    const int32_t b = x * 256;
    int32_t c = x * 64;
    // c <- (c + b * 8192 / c) / 2, the quotient formed in two parts, exact in 64 bits.
    for (int step = 0; step < 6; ++step) {
        const int64_t sum = c + static_cast<int64_t>(b % c) * 8192 / c + static_cast<int64_t>(b / c) * 8192;
        c = static_cast<int32_t>(step < 5 ? sum >> 1 : sum >> 4);
    }
    return c;
}

PackedComplex PhaseToPhasor(int32_t phase)
{
    int16_t s, c;
    SinCosQ15(static_cast<uint16_t>(static_cast<uint32_t>(phase) >> 16), &s, &c);
    return PackComplex(c, s);
}

PackedComplex RotateComplex(PackedComplex x, int32_t phase)
{
    int16_t s, c;
    SinCosQ15(static_cast<uint16_t>(static_cast<uint32_t>(phase) >> 16), &s, &c);
    const int32_t re = RealPart(x), im = ImagPart(x);
    return PackComplex((re * c - im * s) >> 15, (re * s + im * c) >> 15);
}

int32_t PhaseDifference(PackedComplex a, PackedComplex b)
{
    const int32_t ar = RealPart(a), ai = ImagPart(a), br = RealPart(b), bi = ImagPart(b);
    // 32-bit products as the pump forms them (wrapping only for two -32768 x -32768 terms).
    const int32_t num = static_cast<int32_t>(static_cast<uint32_t>(ar * bi) - static_cast<uint32_t>(br * ai));
    const int32_t den = static_cast<int32_t>(static_cast<uint32_t>(ai * bi) + static_cast<uint32_t>(ar * br));
    if (num == 0)
        return 0;
    const int32_t t = DivQ31(num, den);
    // atan(t) ~ 0.99996 t - 0.33184 t^3 + 0.18450 t^5 - 0.07943 t^7, the coefficients in Q31.
    const int32_t t2 = MulQ31(t, t);
    const int32_t t3 = MulQ31(t2, t);
    const int32_t t5 = MulQ31(t3, t2);
    const int32_t t7 = MulQ31(t5, t2);
    const uint32_t sum = static_cast<uint32_t>(MulQ31(t, 2147398663)) + static_cast<uint32_t>(MulQ31(t3, -712615343)) +
                         static_cast<uint32_t>(MulQ31(t5, 396203717)) + static_cast<uint32_t>(MulQ31(t7, -170572058));
    return static_cast<int32_t>(sum);
}

int32_t ShiftLeft16(int32_t value, int32_t count)
{
    const int32_t v = static_cast<int16_t>(value);
    return static_cast<int32_t>(static_cast<uint32_t>(v) << (count & 31));
}

int32_t ShiftRight16(int32_t value, int32_t count)
{
    const int32_t v = static_cast<int16_t>(value);
    return v >> (count & 31);
}

int32_t ClearQuad(int32_t* words)
{
    for (int i = 0; i < 4; ++i)
        words[i] = 0;
    return 0;
}
