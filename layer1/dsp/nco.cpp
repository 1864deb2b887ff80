// Sine table, sine/cosine of a 16-bit phase, and the phase step rule.
#include "layer1/dsp/nco.h"
#include "platform/saturate.h"

#include <cmath>

namespace {

struct SineTable {
    int16_t entry[kNcoTableEntries];
    SineTable()
    {
        const double pi = std::acos(-1.0);
        for (int k = 0; k < kNcoTableEntries; ++k)
            entry[k] = static_cast<int16_t>(std::lround(32767.0 * std::sin(2.0 * pi * k / 64.0)));
    }
};

}  // namespace

const int16_t* NcoSineTable()
{
    static const SineTable table;
    return table.entry;
}

void NcoSinCos(uint32_t phase, int16_t* sine, int16_t* cosine)
{
    const int16_t* t = NcoSineTable();
    const uint32_t p = (phase + 512u) & 0xFFFFu;
    const uint32_t index = p >> 10;
    const int32_t s = t[index];
    const int32_t c = t[index + 16];
    const int32_t d = static_cast<int32_t>(p & 1023u) - 512;
    const int32_t dr = (d * 102940) >> 15;  // the offset in radians, Q15
    *sine = Saturate16(s + ((dr * c) >> 15));
    *cosine = Saturate16(c - ((dr * s) >> 15));
}

uint32_t NcoPhaseStep(int32_t hz)
{
    return static_cast<uint32_t>((static_cast<int64_t>(hz) * 223696) / 32768) & 0xFFFFu;
}
