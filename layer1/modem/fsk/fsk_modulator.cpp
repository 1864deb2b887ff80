// The FSK modulator: a phase-continuous baseband oscillator stepped by the bit, shaped by the channel's 64-tap
// filter as a complex signal, then moved up to the carrier and scaled by the gain.
#include <cstring>

#include "layer1/modem/fsk/fsk_state.h"
#include "layer1/dsp/nco.h"
#include "platform/saturate.h"

namespace {

// Asks the port for the next bit at each bit boundary.
void NextBit(FskState* fsk)
{
    FskModulatorState& m = fsk->mod;
    const int32_t bit = fsk->port.getTxBit ? fsk->port.getTxBit(fsk->port.owner) : -1;
    if (bit < 0) {
        m.silent = 1;
        return;
    }
    m.silent = 0;
    m.phaseStep = ((bit & 1) == fsk->polarity) ? fsk->tx->step1 : fsk->tx->step0;
}

}  // namespace

void FskResetModulator(FskState* fsk)
{
    FskModulatorState& m = fsk->mod;
    const int16_t gain = m.gain;
    std::memset(&m, 0, sizeof(m));
    m.gain = gain;
    // The first sample asks for the first bit.
    m.sampleCount = fsk->tx->samplesPerBit - 1;
    m.silent = 1;
    m.phaseStep = fsk->tx->step1;
}

namespace {

// Up to kFskChunk samples in three passes: the bit timing and the baseband oscillator fill the filter window
// (silent samples add nothing to it), the shaping filter runs over the whole window, then the carrier mix.
void ModulateRun(FskState* fsk, int16_t* out, int32_t n)
{
    FskModulatorState& m = fsk->mod;
    const FskTxChannel* ch = fsk->tx;
    FskWindow w;
    FskWindowLoad(&w, m.historyCos, m.historySin);
    uint8_t live[kFskChunk];
    int32_t count = 0;
    for (int32_t i = 0; i < n; ++i) {
        m.sampleCount += 1;
        if (m.sampleCount >= ch->samplesPerBit) {
            m.sampleCount = 0;
            NextBit(fsk);
        }
        live[i] = m.silent ? 0 : 1;
        if (m.silent)
            continue;
        m.basebandPhase += static_cast<uint32_t>(m.phaseStep);
        NcoSinCos(m.basebandPhase, w.Im(count), w.Re(count));
        count += 1;
    }
    int32_t re[kFskChunk], im[kFskChunk];
    for (int32_t j = 0; j < count; ++j)
        FskFilter(ch->taps, w.Re(j), w.Im(j), &re[j], &im[j]);
    FskWindowSave(&w, count, m.historyCos, m.historySin);
    uint32_t carrierPhase = m.carrierPhase;
    const int64_t gain = m.gain;
    for (int32_t i = 0, j = 0; i < n; ++i) {
        if (!live[i]) {
            out[i] = 0;
            continue;
        }
        carrierPhase += ch->carrierStep;
        int16_t cs, cc;
        NcoSinCos(carrierPhase, &cs, &cc);
        const int64_t v = ((static_cast<int64_t>(re[j]) * cc) >> 14) - ((static_cast<int64_t>(im[j]) * cs) >> 14);
        out[i] = Saturate16((v * gain) >> 15);
        j += 1;
    }
    m.carrierPhase = carrierPhase;
}

}  // namespace

void FskModulate(FskState* fsk, int16_t* out, int32_t n)
{
    for (int32_t done = 0; done < n; done += kFskChunk)
        ModulateRun(fsk, out + done, n - done < kFskChunk ? n - done : kFskChunk);
}
