// Rate words, line-quality grading, training points, uncoded maps, transmit pulse and carrier table.
#include "layer1/modem/v32/v32_tables.h"

#include <array>
#include <cmath>
#include <cstddef>

namespace {

// Rate bits from the highest rate down, with their rate codes.
struct RateBit {
    uint16_t bit;
    int32_t rateCode;
};
constexpr RateBit kRatesDown[] = {
    {kV32Word14400, 9}, {kV32Word12000, 8}, {kV32Word9600, 7}, {kV32Word7200, 6}, {kV32Word4800, 5},
};

// The quality-mask steps: below the bound (the last step inclusive), the rates still possible.
struct QualityStep {
    int32_t bound;
    uint16_t mask;
};
constexpr QualityStep kQualitySteps[] = {
    {600, 0x9FF0}, {1800, 0x8FF0}, {5000, 0x8BF0}, {9001, 0x8BB0}, {16383, 0x89B0},
};
constexpr uint16_t kNoRateMask = 0x8990;

// Grading thresholds per rate code 5-9.
constexpr int32_t kGradeThresholds[5][3] = {
    {15750, 32766, 32766}, {8750, 18000, 36000}, {3150, 10000, 20000}, {1050, 3600, 7200}, {0, 1200, 2400},
};

// Quarter turns added by the uncoded dibit Q1 Q2 (Q1 in bit 0).
constexpr int32_t kQuadrantChange[4] = {1, 2, 0, 3};

// Points of the first quadrant group (the quadrant of A) by Q3 Q4, in units.
constexpr int32_t kQuadrantPoints[4][2] = {{-6, -2}, {-2, -2}, {-6, -6}, {-2, -6}};

V32Point Turn(V32Point p, int32_t quarters)
{
    for (int32_t k = 0; k < (quarters & 3); ++k)
        p = V32Point{-p.im, p.re};  // a quarter turn anticlockwise
    return p;
}

const std::array<int16_t, 2048>& CosTable()
{
    static const std::array<int16_t, 2048> table = [] {
        std::array<int16_t, 2048> t{};
        for (std::size_t k = 0; k < t.size(); ++k)
            t[k] = static_cast<int16_t>(std::lround(32767.0 * std::cos(2.0 * M_PI * static_cast<double>(k) / 2048.0)));
        return t;
    }();
    return table;
}

}  // namespace

const int16_t kV32Pulse[3][kV32PulseTaps] = {
    {-156, 238, -349, 503, -727, 1089, -1805, 4130, 20852, -2921, 1497, -945, 642, -445, 308, -208},
    {-361, 542, -789, 1135, -1654, 2536, -4485, 13856, 13856, -4485, 2536, -1654, 1135, -789, 542, -361},
    {-208, 308, -445, 642, -945, 1497, -2921, 20852, 4130, -1805, 1089, -727, 503, -349, 238, -156},
};

uint16_t V32RateWordOf(int32_t rateCode)
{
    if (rateCode == 4)
        return kV32WordFrame;
    for (const RateBit& r : kRatesDown) {
        if (r.rateCode == rateCode)
            return static_cast<uint16_t>(kV32WordFrame | r.bit);
    }
    return 0;
}

int32_t V32RateCodeOfWord(uint16_t word)
{
    for (const RateBit& r : kRatesDown) {
        if (word & r.bit)
            return r.rateCode;
    }
    return 0;
}

uint16_t V32PickRate(uint16_t word)
{
    const int32_t code = V32RateCodeOfWord(word);
    const uint16_t base = code ? V32RateWordOf(code) : kV32WordFrame;
    return static_cast<uint16_t>(base | (word & (kV32WordTrellis | kV32WordMarker)));
}

uint16_t V32QualityMask(int32_t m)
{
    for (const QualityStep& s : kQualitySteps) {
        if (m < s.bound)
            return s.mask;
    }
    return kNoRateMask;
}

uint16_t V32CapabilityWord(uint8_t options, int32_t mode)
{
    uint16_t w;
    if (mode == 16) {
        w = (options & 0x02) ? 0x89B0 : 0x8990;
        if (options & 0x04)
            w |= kV32Word7200;
        if (options & 0x08)
            w |= kV32Word9600;
        if (options & 0x10)
            w |= kV32Word12000;
        if (options & 0x20)
            w |= kV32Word14400;
        return w;
    }
    w = kV32WordFrame;
    w |= (options & 0x02) ? 0x0120 : 0x0100;
    if (options & 0x08)
        w |= kV32Word9600;
    return w;
}

V32RateSetting V32SettingOfWord(uint16_t word)
{
    V32RateSetting s{};
    s.rateCode = V32RateCodeOfWord(word);
    switch (s.rateCode) {
    case 5: s.bitsPerSymbol = 2; break;
    case 6: s.bitsPerSymbol = 3; break;
    case 7: s.bitsPerSymbol = 4; break;
    case 8: s.bitsPerSymbol = 5; break;
    default: s.bitsPerSymbol = 6; break;
    }
    s.trellis = s.rateCode != 5 && (word & kV32WordTrellis) ? 1 : 0;
    return s;
}

int32_t V32WordType(uint16_t word)
{
    if ((word & 0x899F) == 0x8990)
        return 1;
    if ((word & 0xFE8F) == 0x8880)
        return 2;
    return 0;
}

bool V32WordAccepted(uint16_t word, int32_t type)
{
    const bool framed = type == 1 ? (word & 0x899F) == 0x8990 : (word & 0xFE8F) == 0x8880;
    return framed && (word & kV32WordRates) != 0;
}

bool V32WordIsE(uint16_t word, int32_t type)
{
    const bool framed = type == 1 ? (word & 0xE99F) == 0x899F : (word & 0xFE8F) == 0x888F;
    return framed;
}

int32_t V32QualityGrade(int32_t rateCode, int32_t e)
{
    if (rateCode < 5 || rateCode > 9)
        return 1;
    const int32_t* t = kGradeThresholds[rateCode - 5];
    if (e < t[0])
        return 0;
    if (e < t[1])
        return 1;
    if (e < t[2])
        return 2;
    return 3;
}

V32Point V32TrainingPoint(int32_t index)
{
    return Turn(V32Point{-6 * kV32Unit, -2 * kV32Unit}, index);
}

V32Point V32Point4800(int32_t quadrant) { return V32TrainingPoint(quadrant); }

V32Point V32Point9600(int32_t quadrant, int32_t q34)
{
    const int32_t* b = kQuadrantPoints[q34 & 3];
    return Turn(V32Point{b[0] * kV32Unit, b[1] * kV32Unit}, quadrant);
}

int32_t V32DiffQuadrant(int32_t previous, int32_t dibit) { return (previous + kQuadrantChange[dibit & 3]) & 3; }

int32_t V32DiffDibit(int32_t previous, int32_t received)
{
    const int32_t change = (received - previous) & 3;
    for (int32_t d = 0; d < 4; ++d) {
        if (kQuadrantChange[d] == change)
            return d;
    }
    return 0;
}

int16_t V32Cos(int32_t index) { return CosTable()[static_cast<std::size_t>(index & 2047)]; }
int16_t V32Sin(int32_t index) { return CosTable()[static_cast<std::size_t>((index - 512) & 2047)]; }
