#include "layer1/modem/v34/fixed_point.h"

#include <bit>
#include <cmath>

int32_t SatFrom64(uint32_t low, int32_t high, int16_t* overflow)
{
    const int64_t v = static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) | low);
    int16_t clipped = 1;
    int32_t r;
    if (v > INT32_MAX)
        r = INT32_MAX;
    else if (v < INT32_MIN)
        r = INT32_MIN;
    else {
        r = static_cast<int32_t>(v);
        clipped = 0;
    }
    if (overflow != nullptr)
        *overflow = clipped;
    return r;
}

int16_t MulScaleSat(int32_t a, int16_t b, int16_t* overflow)
{
    const int64_t p = static_cast<int64_t>(a) * b;
    const uint64_t u = static_cast<uint64_t>(p);
    const int32_t s = SatFrom64(static_cast<uint32_t>(u), static_cast<int32_t>(static_cast<uint32_t>(u >> 32)), overflow);
    return Sat16(s >> 15, overflow);
}

const int16_t* SineTableQ15()
{
    struct Table {
        int16_t t[kSineTableEntries];
        Table()
        {
            const double pi = std::acos(-1.0);
            for (int i = 0; i < kSineTableEntries; ++i)
                t[i] = static_cast<int16_t>(std::trunc(32700.0 * std::sin(2.0 * pi * i / 128.0)));
        }
    };
    static const Table table;
    return table.t;
}

void SinCosQ15(uint16_t phase, int16_t* sine, int16_t* cosine)
{
    const int16_t* t = SineTableQ15();
    const int32_t i = phase >> 9;
    // The remainder inside the step in Q15 radians: 2 pi / 65536 is 102940 / 2^15 / 2^15 of a radian.
    const int32_t d = ((phase & 511) * 102940) >> 15;
    *sine = static_cast<int16_t>(t[i] + ((d * t[i + 32]) >> 15));
    *cosine = static_cast<int16_t>(t[i + 32] - ((d * t[i]) >> 15));
}

int16_t NormShift(int32_t a)
{
    const uint32_t u = static_cast<uint32_t>(a);
    if (u < 0x10000u || u >= 0xFFFF0000u)
        return 15;
    const uint32_t magnitudeBits = a >= 0 ? u : ~u;
    return static_cast<int16_t>(std::countl_zero(magnitudeBits) - 1);
}

int16_t NegLog2Q10(int32_t a)
{
    // Normalise a + 1 (held unsigned: a may be 0x7FFFFFFF) so that its top bit is bit 30.
    uint32_t v = static_cast<uint32_t>(a) + 1u;
    const int32_t s1 = NormShift(static_cast<int32_t>(v));
    v <<= s1;
    const int32_t s2 = NormShift(static_cast<int32_t>(v));
    v <<= s2;
    // The mantissa m = top / 0x8000 lies in [0.5, 1); x = 1 - m and p ~ -log2(1 - x) in Q15.
    const int16_t x = static_cast<int16_t>(0x8000 - static_cast<int32_t>(v >> 16));
    const int16_t x2 = MulQ15(x, x);
    const int16_t x4 = MulQ15(x2, x2);
    const int16_t x6 = MulQ15(x4, x2);
    const int32_t sum = MulQ15(x, 14313) + x + x4 + MulQ15(x4, 7483) + MulQ15(x6, 924) + MulQ15(x2, 26767);
    const int16_t p = static_cast<int16_t>(sum);
    return static_cast<int16_t>((p + 16) / 32 + 1024 * (s1 + s2) - 16384);
}

int16_t DivQ15Half(int16_t a, int16_t b)
{
    if (b == 0)
        return -1;
    // Exact in 64 bits: (-32768 << 16) / -1 does not fit 32.
    const int64_t q = (static_cast<int64_t>(a) * 65536) / b;
    return static_cast<int16_t>(static_cast<uint64_t>(q >> 1) & 0xFFFFu);
}

int16_t SqrtMantExp(int16_t a, int16_t* exponent, int16_t* overflow)
{
    if (a <= 0)
        return 0;
    int32_t v = a;
    int32_t e = *exponent;
    while (v < 0x7FFF) {
        v <<= 1;
        e -= 1;
    }
    // sqrt(1 + u) ~ 1 + c - c^2/2 + c^3/2 with c = u / 2.
    const int16_t c = static_cast<int16_t>((v - 0x7FFF) >> 1);
    const int16_t c2 = MulQ15(c, c, overflow);
    const int16_t c3 = MulQ15(c2, c, overflow);
    int32_t f = c + (c3 >> 1) - (c2 >> 1) + 0x7FFF;
    while (f > 32766) {
        f >>= 1;
        e += 2;
    }
    int16_t k = 0x7FFF;
    if ((e & 1) != 0) {
        e += 1;
        k = 23170;  // 1 / sqrt(2)
    }
    *exponent = static_cast<int16_t>(e / 2);
    return MulQ15(static_cast<int16_t>(f), k, overflow);
}

namespace {

int32_t Largest(const int32_t* x, int32_t n)
{
    int32_t m = x[0];
    for (int32_t i = 1; i < n; ++i)
        m = x[i] > m ? x[i] : m;
    return m;
}

void ShiftBlockLeft(int32_t* x, int32_t n, int32_t s)
{
    for (int32_t i = 0; i < n; ++i)
        x[i] = static_cast<int32_t>(static_cast<uint32_t>(x[i]) << s);
}

// NormShift applied twice: the shift that brings the top bit of m to bit 30.
int32_t FullNormShift(int32_t m)
{
    const int32_t s1 = NormShift(m);
    return s1 + NormShift(static_cast<int32_t>(static_cast<uint32_t>(m) << s1));
}

}  // namespace

int16_t NormalizeBlock32(int32_t* x, int32_t n)
{
    if (n <= 0)
        return 0;
    const int32_t s = FullNormShift(Largest(x, n)) - 4;
    if (s < 0)
        return 0;
    ShiftBlockLeft(x, n, s);
    return static_cast<int16_t>(s * 1024);
}

int16_t NormalizeBlock32Min1(int32_t* x, int32_t n)
{
    if (n <= 0)
        return 0;
    for (int32_t i = 0; i < n; ++i)
        x[i] = x[i] == 0 ? 1 : x[i];
    const int32_t s = FullNormShift(Largest(x, n));
    ShiftBlockLeft(x, n, s);
    return static_cast<int16_t>(s * 1024);
}

int16_t CircularFir16(CircularFir* f, int16_t sample)
{
    const int32_t n = f->length;
    int32_t w = f->writeIndex;
    f->history[w] = sample;
    w = w == 0 ? n - 1 : w - 1;
    f->writeIndex = w;
    // Coefficient k weighs history[(w + k) mod n]: two contiguous runs, wrapping sum on 32 bits.
    const int16_t* c = f->coefficients;
    const int16_t* h = f->history;
    uint32_t sum = 0;
    const int32_t first = n - w;
    for (int32_t k = 0; k < first; ++k)
        sum += static_cast<uint32_t>((static_cast<int32_t>(c[k]) * h[w + k]) >> 4);
    for (int32_t k = first; k < n; ++k)
        sum += static_cast<uint32_t>((static_cast<int32_t>(c[k]) * h[k - first]) >> 4);
    return static_cast<int16_t>(static_cast<int32_t>(sum) >> 11);
}
