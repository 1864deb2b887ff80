// Set-up of the fax transmitter, and the modulator: each symbol goes into the shaping filter's delay line,
// the filter gives samples-per-symbol baseband values, and each is put on the carrier:
// out = (I cos - Q sin) of the carrier phase, brought to the transmit level.
#include "layer1/modem/fax/fax_tx.h"

#include <cmath>

#include "layer1/dsp/nco.h"
#include "layer1/modem/common/trellis_qam.h"

namespace {

// Mean power of the data points of a code, in the pump's units squared.
double DataPower(int32_t code, const FaxModemParams& p)
{
    double sum = 0;
    int32_t n = 0;
    if (p.modulation == FAX_V17) {
        const TrellisPoint* c = TrellisQamConstellation(p.bitsPerSymbol);
        for (n = 0; n < TrellisQamPoints(p.bitsPerSymbol); ++n)
            sum += (c[n].re * c[n].re + c[n].im * c[n].im) * double(kFaxV17Unit) * kFaxV17Unit;
        return sum / n;
    }
    for (int32_t phase = 0; phase < 8; ++phase) {
        for (int32_t a = 0; a < 2; ++a) {
            const FaxPoint q = p.modulation == FAX_V29 ? FaxV29Point(FaxRateIndexOf(code), phase, a) : FaxV27Point(phase);
            sum += double(q.re) * q.re + double(q.im) * q.im;
            n += 1;
        }
    }
    return sum / n;
}

// Q16 factor that brings the modulated data signal to the power of a full-scale sine.
int32_t LevelScale(const FaxTxState* tx)
{
    double energy = 0;
    for (int32_t k = 0; k < tx->tapCount; ++k)
        energy += (tx->taps[k] / 16384.0) * (tx->taps[k] / 16384.0);
    const double rms = std::sqrt(DataPower(tx->code, tx->params) * energy / (2.0 * tx->params.samplesPerSymbol));
    return static_cast<int32_t>(std::lround(32767.0 / std::sqrt(2.0) / rms * 65536.0));
}

}  // namespace

int16_t FaxTxGainOf(double dbm0)
{
    const double g = 32768.0 * std::pow(10.0, (dbm0 - 3.14) / 20.0);
    return static_cast<int16_t>(g > 32767 ? 32767 : std::lround(g));
}

void FaxTxInit(FaxTxState* tx, int32_t code, const FaxTxPort& port, int16_t gain, int32_t* longTrainCounter)
{
    *tx = FaxTxState{};
    tx->code = code;
    tx->params = FaxParamsOf(code);
    tx->port = port;
    tx->gain = gain;
    tx->longTrainCounter = longTrainCounter;
    tx->tapCount = FaxShapingFilter(tx->params, tx->taps);
    tx->carrierStep = static_cast<uint32_t>((tx->params.carrierHz * 65536 + kFaxSampleRate / 2) / kFaxSampleRate);
    tx->levelScale = LevelScale(tx);
    tx->list = FaxTxListOf(code);
    ControlSequencer(&tx->inner, SEQ_START_AT, tx->list, 0);
}

void FaxTxRestart(FaxTxState* tx)
{
    tx->inData = 0;
    ControlSequencer(&tx->inner, SEQ_START_AT, tx->list, 0);
}

namespace {

int16_t Saturate(int32_t v) { return static_cast<int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v)); }

// Shapes the newest symbol into sps samples and modulates them.
void Modulate(FaxTxState* tx, int16_t* out)
{
    const int32_t sps = tx->params.samplesPerSymbol;
    tx->history = (tx->history + kFaxFilterSpan - 1) % kFaxFilterSpan;
    tx->re[tx->history] = tx->re[tx->history + kFaxFilterSpan] = tx->symbol.re;
    tx->im[tx->history] = tx->im[tx->history + kFaxFilterSpan] = tx->symbol.im;
    const int32_t* re = tx->re + tx->history;  // re[k]: the symbol k symbols ago
    const int32_t* im = tx->im + tx->history;
    for (int32_t p = 0; p < sps; ++p) {
        int64_t i = 0, q = 0;
        for (int32_t k = 0; k < kFaxFilterSpan; ++k) {
            const int32_t h = tx->taps[p + k * sps];
            i += static_cast<int64_t>(re[k]) * h;
            q += static_cast<int64_t>(im[k]) * h;
        }
        int16_t s, c;
        NcoSinCos(tx->carrierPhase, &s, &c);
        tx->carrierPhase = (tx->carrierPhase + tx->carrierStep) & 0xFFFFu;
        // Baseband in the symbols' units (Q14 taps), then on the carrier (Q15).
        const int64_t v = ((i >> 14) * c - (q >> 14) * s) >> 15;
        out[p] = Saturate(static_cast<int32_t>((((v * tx->levelScale) >> 16) * tx->gain) >> 15));
    }
}

}  // namespace

void FaxTxBlock(FaxTxState* tx, int16_t* out, int32_t n)
{
    const int32_t sps = tx->params.samplesPerSymbol;
    for (int32_t at = 0; at + sps <= n; at += sps) {
        RunStep(tx, &tx->inner);
        Modulate(tx, out + at);
    }
}
