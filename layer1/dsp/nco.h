// The oscillator primitive of the tone generators: a 16-bit phase (65536 = one cycle) to sine and cosine
// from a 64-point sine table with a first-order correction, at 9600 samples per second. Inline: every
// modulator and tone generator calls it once or twice per sample.
#pragma once

#include <cstdint>

#include "platform/saturate.h"

constexpr int kNcoTableEntries = 80;  // 64 points of one cycle and 16 more for the cosine

namespace nco_detail {

// sin(2 pi k / 64) by its series on the first quadrant (exact to the last bits of a double there).
constexpr double QuarterSine(int q)  // q in 0 ... 16
{
    const double x = 3.14159265358979323846 * q / 32.0;
    double term = x;
    double sum = x;
    for (int n = 1; n < 15; ++n) {
        term *= -x * x / ((2.0 * n) * (2.0 * n + 1.0));
        sum += term;
    }
    return sum;
}

constexpr int16_t RoundedSineEntry(int k)
{
    const int m = k % 64;
    const int q = m % 32;
    const double s = QuarterSine(q <= 16 ? q : 32 - q);
    const int32_t magnitude = static_cast<int32_t>(32767.0 * s + 0.5);
    return static_cast<int16_t>(m < 32 ? magnitude : -magnitude);
}

struct SineTable {
    int16_t entry[kNcoTableEntries];
};

constexpr SineTable MakeSineTable()
{
    SineTable t{};
    for (int k = 0; k < kNcoTableEntries; ++k)
        t.entry[k] = RoundedSineEntry(k);
    return t;
}

inline constexpr SineTable kSineTable = MakeSineTable();

}  // namespace nco_detail

// Entry k = round(32767 x sin(2 pi k / 64)).
inline const int16_t* NcoSineTable()
{
    return nco_detail::kSineTable.entry;
}

inline void NcoSinCos(uint32_t phase, int16_t* sine, int16_t* cosine)
{
    const int16_t* t = nco_detail::kSineTable.entry;
    const uint32_t p = (phase + 512u) & 0xFFFFu;
    const uint32_t index = p >> 10;
    const int32_t s = t[index];
    const int32_t c = t[index + 16];
    const int32_t d = static_cast<int32_t>(p & 1023u) - 512;
    const int32_t dr = (d * 102940) >> 15;  // the offset in radians, Q15
    // Over every phase both sums stay within +-32767 (SignalGuard.OscillatorOverEveryPhase checks each one), so
    // they need no saturation.
    *sine = static_cast<int16_t>(s + ((dr * c) >> 15));
    *cosine = static_cast<int16_t>(c - ((dr * s) >> 15));
}

// Phase step per sample of a frequency in Hz at 9600 samples per second (65536 / 9600 per Hz).
uint32_t NcoPhaseStep(int32_t hz);
