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

void FskModulate(FskState* fsk, int16_t* out, int32_t n)
{
    FskModulatorState& m = fsk->mod;
    const FskTxChannel* ch = fsk->tx;
    for (int32_t i = 0; i < n; ++i) {
        m.sampleCount += 1;
        if (m.sampleCount >= ch->samplesPerBit) {
            m.sampleCount = 0;
            NextBit(fsk);
        }
        if (m.silent) {
            out[i] = 0;
            continue;
        }
        m.basebandPhase += static_cast<uint32_t>(m.phaseStep);
        int16_t s, c;
        NcoSinCos(m.basebandPhase, &s, &c);
        m.position = (m.position + kFskTaps - 1) % kFskTaps;
        m.basebandCos[m.position] = c;
        m.basebandCos[m.position + kFskTaps] = c;
        m.basebandSin[m.position] = s;
        m.basebandSin[m.position + kFskTaps] = s;
        int32_t re, im;
        FskFilter(ch->taps, &m.basebandCos[m.position], &m.basebandSin[m.position], &re, &im);
        m.carrierPhase += ch->carrierStep;
        int16_t cs, cc;
        NcoSinCos(m.carrierPhase, &cs, &cc);
        const int64_t v = ((static_cast<int64_t>(re) * cc) >> 14) - ((static_cast<int64_t>(im) * cs) >> 14);
        out[i] = Saturate16((v * m.gain) >> 15);
    }
}
