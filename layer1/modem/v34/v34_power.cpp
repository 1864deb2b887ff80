// The scale table is computed once from the constellation and the shell mapping's ring usage: each pair's
// scale is 30965 x sqrt(2 / E), E the mean energy of its points (the four corner points at 2400 bit/s have
// E = 2). It agrees with the 2400-baud values and the ends of the 3429-baud block within 0.1 %.
// The receive gains have no rule of their own: each is 31124 x the fourth root of the shaped constellation's
// energy over the unshaped one's (31124 without shaping), kept within 29812 ... 31124.
#include "layer1/modem/v34/v34_power.h"

#include <cmath>

#include "layer1/modem/v34/complex_fixed.h"
#include "layer1/modem/v34/v34_constellation.h"
#include "layer1/modem/v34/v34_framing.h"

namespace {

constexpr int32_t kBlockStart[kV34SymbolRates] = {0, 8, 18, 28, 39, 51};
constexpr int32_t kLowestRate[kV34SymbolRates] = {1, 2, 2, 2, 2, 2};
constexpr int32_t kHighestRate[kV34SymbolRates] = {9, 11, 11, 12, 13, 14};
constexpr double kCornerScale = 30965.0;

// The share of each ring over the eight positions when the shell index runs over 0 ... 2^K - 1 (the last sum
// class taken in part counts in proportion).
void RingShares(int32_t m, int32_t k, double* share)
{
    constexpr int kSums = 8 * (kV34MaxRings - 1) + 1;
    double n7[kSums] = {1.0};  // tuples of j rings by their sum, built up to j = 7 and then 8
    double n8[kSums] = {};
    for (int j = 1; j <= 8; ++j) {
        double next[kSums] = {};
        for (int s = 0; s <= (j - 1) * (m - 1); ++s)
            for (int r = 0; r < m; ++r)
                next[s + r] += n7[s];
        if (j == 8) {
            for (int s = 0; s < kSums; ++s)
                n8[s] = next[s];
        } else {
            for (int s = 0; s < kSums; ++s)
                n7[s] = next[s];
        }
    }
    for (int r = 0; r < m; ++r)
        share[r] = 0.0;
    double left = std::ldexp(1.0, k);
    const double total = left;
    for (int t = 0; t <= 8 * (m - 1) && left > 0; ++t) {
        const double take = left < n8[t] ? left : n8[t];
        for (int r = 0; r < m && r <= t; ++r)
            share[r] += take / n8[t] * n7[t - r];
        left -= take;
    }
    for (int r = 0; r < m; ++r)
        share[r] /= total;
}

double FrameEnergy(int32_t m, int32_t k, int32_t q)
{
    double share[kV34MaxRings];
    RingShares(m, k, share);
    const V34Point* pts = V34QuarterConstellation();
    const int32_t per = 1 << q;
    double e = 0.0;
    for (int32_t r = 0; r < m; ++r) {
        double ring = 0.0;
        for (int32_t j = 0; j < per; ++j) {
            const V34Point& p = pts[r * per + j];
            ring += p.x * p.x + p.y * p.y;
        }
        e += share[r] * ring / per;
    }
    return e;
}

struct ScaleTable {
    int16_t v[2 * kV34ScaleEntries];
    ScaleTable()
    {
        for (int32_t s = 0; s < kV34SymbolRates; ++s) {
            for (int32_t rate = kLowestRate[s]; rate <= kHighestRate[s]; ++rate) {
                const int32_t j = V34ScaleIndex(s, rate, 0);
                const double plain = V34MeanPointEnergy(s, rate, 0);
                const double shaped = V34MeanPointEnergy(s, rate, 1);
                v[j] = static_cast<int16_t>(std::lround(kCornerScale * std::sqrt(2.0 / plain)));
                v[j + 1] = static_cast<int16_t>(std::lround(kCornerScale * std::sqrt(2.0 / shaped)));
                v[kV34ScaleEntries + j] = 31124;
                long g = std::lround(31124.0 * std::sqrt(std::sqrt(shaped / plain)));
                v[kV34ScaleEntries + j + 1] = static_cast<int16_t>(g < 29812 ? 29812 : (g > 31124 ? 31124 : g));
            }
        }
    }
};

}  // namespace

int32_t V34ScaleIndex(int32_t s, int32_t rate, int32_t shaping)
{
    if (s < 0 || s >= kV34SymbolRates || rate < kLowestRate[s] || rate > kHighestRate[s])
        return -1;
    return 2 * (kBlockStart[s] + rate - 1) + (shaping != 0 ? 1 : 0);
}

double V34MeanPointEnergy(int32_t s, int32_t rate, int32_t shaping)
{
    V34FrameParams p{};
    p.symbolRateIndex = s;
    p.rateMultiple = rate;
    p.row = shaping != 0 ? 1 : 0;
    p.symbolRate = V34SymbolRate(s);
    V34FrameParameters(&p);
    if (p.K == 0)
        return 2.0;
    int32_t longFrames = 0;
    for (int32_t i = 0; i < p.P; ++i)
        longFrames += (p.switchingPattern >> i) & 1;
    const double full = FrameEnergy(p.M, p.K, p.q);
    const double short_ = FrameEnergy(p.M, p.K - 1, p.q);
    return (longFrames * full + (p.P - longFrames) * short_) / p.P;
}

const int16_t* V34ScaleTable()
{
    static const ScaleTable table;  // computed at the first call, without allocation
    return table.v;
}

PackedComplex ScaleTransmitPoint(int32_t nonlinear, int32_t scale, int32_t gain, PackedComplex point)
{
    const int64_t x = (static_cast<int64_t>(scale) * RealPart(point)) >> 9;
    const int64_t y = (static_cast<int64_t>(scale) * ImagPart(point)) >> 9;
    int64_t t = nonlinear != 0 ? (x * x + y * y) >> 15 : 0;
    t = (t * 22934) >> 15;
    const int64_t w = (gain * ((((t * 10923) + ((t * t) >> 14) * 1092) >> 15) + 0x4000)) >> 15;
    return PackComplex(static_cast<int32_t>((x * w) >> 14), static_cast<int32_t>((y * w) >> 14));
}

PackedComplex UnscaleReceivePoint(int32_t nonlinear, int32_t reciprocalScale, PackedComplex point)
{
    const int64_t x = (static_cast<int64_t>(reciprocalScale) * RealPart(point)) >> 14;
    const int64_t y = (static_cast<int64_t>(reciprocalScale) * ImagPart(point)) >> 14;
    int64_t t = nonlinear != 0 ? (x * (x >> 1) + y * (y >> 1)) >> 15 : 0;
    t = (t * -68802) >> 15;
    // w = 1 + t (14458 + t (15623 + t (15347 + t 7596))) in Horner's form, Q14.
    int64_t p = ((t * 7596) >> 15) + 15347;
    p = ((t * p) >> 15) + 15623;
    p = ((t * p) >> 15) + 14458;
    const int64_t w = ((t * p) >> 16) + 0x3FFF;
    return PackComplex(static_cast<int32_t>((x * w) >> 14), static_cast<int32_t>((y * w) >> 14));
}

namespace {

// k = a smooth limit of q (Q15): q + 0.571 q below 9503, else 1 - c - 0.08 c with c = (1 - q)^2.
int32_t PrecoderLimit(int32_t q)
{
    if (q < 9503)
        return q + ((q * 18704) >> 15);
    const int32_t a = q - 0x7FFF;
    const int32_t c = (a * a) >> 15;
    const int32_t d = (c * 2621) >> 15;
    return 0x7FFF - d - c;
}

}  // namespace

void V34PowerScale(int32_t s, int32_t rate, int32_t shaping, int32_t b, const int16_t coefficients[6],
                   int32_t* transmitScale, int32_t* receiveGain)
{
    const int16_t* table = V34ScaleTable();
    int32_t j = V34ScaleIndex(s, rate, shaping);
    if (j < 0)
        j = 0;
    const int32_t g = table[j];
    *receiveGain = table[kV34ScaleEntries + j];
    const int32_t h = static_cast<int16_t>((g * (b < 56 ? 14156 : 28312)) >> 15);
    const int32_t hh = h * h;
    const int32_t m = AddSat32(hh, (hh >> 16) * 18704);
    int32_t e = 0;
    for (int i = 0; i < 6; ++i)
        e = AddSat32(e, coefficients[i] * coefficients[i]);
    e = AddSat32(e, e);
    e = AddSat32(e, (e >> 16) * 10240) & 0x7FFFFFFF;
    const int32_t q = e < m ? (DivQ15(e, m >> 16) & 0x7FFF) : 0x7FFF;
    const int32_t k = PrecoderLimit(q);
    const int32_t l = (k * (hh >> 15)) >> 15;
    const int32_t m2 = (l * l) >> 14;
    const int32_t n = ((l * m2) >> 15) * -20480;
    int32_t o = AddSat32(0x1FFFFFFF, n);
    o = AddSat32(o, (m2 >> 1) * 0x6000);
    o = AddSat32(o, -(l << 14));
    *transmitScale = AddSat32(0x8000, g * (o >> 14)) >> 15;
}

void V34PowerScale(int32_t s, int32_t rate, int32_t shaping, int32_t b, const PackedComplex coefficients[3],
                   int32_t* transmitScale, int32_t* receiveGain)
{
    int16_t halves[6];
    for (int k = 0; k < 3; ++k) {
        halves[2 * k] = RealPart(coefficients[k]);
        halves[2 * k + 1] = ImagPart(coefficients[k]);
    }
    V34PowerScale(s, rate, shaping, b, halves, transmitScale, receiveGain);
}
