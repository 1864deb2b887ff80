// The transmitter's sample path: each symbol enters a 16-symbol history, which the pulse row of the sample's
// phase filters; the result is modulated onto the 1800 Hz carrier (a quarter turn per sample) and scaled.
#include "layer1/modem/v32/v32.h"
#include "platform/saturate.h"

namespace {

constexpr uint32_t kCarrierStep = 0x2000000;  // a quarter turn of the 27-bit accumulator
constexpr uint32_t kCarrierMask = 0x7FFFFFF;

}  // namespace

// The tone-like signals skip the pulse filter: a steady tone is the point itself on the carrier, and an
// alternation of opposite points (AC, CA) is the point times a 1200 Hz cosine (whose sign at the symbols gives
// the alternation), raised by 3 dB to the tone's power. So a reversal is a clean jump of phase for the far
// end's detectors instead of a burst of the pulse filter's ringing at the band edge.
namespace {

constexpr int32_t kAlternationQ14[6] = {23170, 11585, -11585, -23170, -11585, 11585};

}  // namespace

int16_t V32TxSample(V32Modem* m)
{
    V32Tx& t = m->tx;
    if (t.sampleInSymbol == 0) {
        V32Point p{0, 0};
        int32_t kind = 0;
        V32TxSymbol(m, &p, &kind);
        t.toneKind = kind;
        t.tonePoint = p;
        if (kind != V32_SYMBOL_PULSE)
            p = V32Point{0, 0};
        t.historyPos = (t.historyPos + 1) & (kV32PulseTaps - 1);
        t.history[t.historyPos] = p;
    }
    int64_t fre = 0, fim = 0;
    if (t.toneKind == V32_SYMBOL_PULSE) {
        const int16_t* row = kV32Pulse[2 - t.sampleInSymbol];
        int64_t re = 0, im = 0;
        for (int32_t k = 0; k < kV32PulseTaps; ++k) {
            const V32Point& h = t.history[(t.historyPos + 1 + k) & (kV32PulseTaps - 1)];
            re += static_cast<int64_t>(row[k]) * h.re;
            im += static_cast<int64_t>(row[k]) * h.im;
        }
        fre = re >> 15;
        fim = im >> 15;
    } else if (t.toneKind == V32_SYMBOL_TONE) {
        fre = t.tonePoint.re;
        fim = t.tonePoint.im;
    } else if (t.toneKind == V32_SYMBOL_ALTERNATION) {
        const int64_t c = kAlternationQ14[t.toneSample];
        fre = (t.tonePoint.re * c) >> 14;
        fim = (t.tonePoint.im * c) >> 14;
    }
    t.toneSample = t.toneSample == 5 ? 0 : t.toneSample + 1;
    const int32_t index = static_cast<int32_t>(((t.carrierPhase + 0x8000u) >> 16) & 0x7FFu);
    const int64_t mod = (fre * V32Cos(index) - fim * V32Sin(index) + 0x4000) >> 15;
    t.carrierPhase = (t.carrierPhase + kCarrierStep) & kCarrierMask;
    t.sampleInSymbol = t.sampleInSymbol == 2 ? 0 : t.sampleInSymbol + 1;
    const int64_t scaled = (mod * t.gain) >> 13;
    return Saturate16(static_cast<int32_t>(scaled > 40000 ? 40000 : (scaled < -40000 ? -40000 : scaled)));
}

void V32TxApplyRate(V32Modem* m, uint16_t word)
{
    V32Tx& t = m->tx;
    const V32RateSetting s = V32SettingOfWord(word);
    t.bitsPerSymbol = s.bitsPerSymbol;
    t.trellis = s.trellis;
    t.dataMask = (1u << s.bitsPerSymbol) - 1u;
    t.startCount = 0;
    t.startDone = 0;
    t.quadrant = 0;
    t.diffPair = 0;
    t.trellisState = 0;
}
