// DTMF rows and tone-pair samples.
#include "layer1/dsp/tone_dual.h"

#include "layer1/dsp/nco.h"
#include "layer1/modem/v34/fixed_point.h"

const DtmfRow kDtmfTable[16] = {
    {1336, 941}, {1209, 697}, {1336, 697}, {1477, 697}, {1209, 770}, {1336, 770}, {1477, 770}, {1209, 852},
    {1336, 852}, {1477, 852}, {1633, 697}, {1633, 770}, {1633, 852}, {1633, 941}, {1209, 941}, {1477, 941},
};

int32_t DigitBlockCount(int32_t ms)
{
    const int32_t n = (ms + 5) / 10;
    return n < 1 ? 1 : n;
}

void SetDtmfDigit(DualToneGenerator* g, int32_t digit)
{
    const DtmfRow& row = kDtmfTable[digit & 0xF];
    g->digit = static_cast<uint16_t>(digit & 0xF);
    g->step1 = NcoPhaseStep(row.tone1Hz);
    g->step2 = NcoPhaseStep(row.tone2Hz);
}

// The generator's fields in locals: out could otherwise alias the 16-bit levels, which would be read again
// after every store.
void DualToneFillBlock(DualToneGenerator* g, int16_t* out, int32_t n)
{
    uint32_t phase1 = g->phase1, phase2 = g->phase2;
    const uint32_t step1 = g->step1, step2 = g->step2;
    const int32_t level1 = g->level1, level2 = g->level2;
    for (int32_t i = 0; i < n; ++i) {
        phase1 += step1;
        phase2 += step2;
        int16_t s1, s2, c1, c2;
        NcoSinCos(phase1, &s1, &c1);
        NcoSinCos(phase2, &s2, &c2);
        out[i] = AddSat16((level1 * s1) >> 15, (level2 * s2) >> 15);
    }
    g->phase1 = phase1;
    g->phase2 = phase2;
}
