// Set-up and front end of the fax receiver: high-pass, demodulation, matched filter at two outputs per
// symbol, the equaliser's delay line, and one tick of the inner sequencer per symbol.
#include "layer1/modem/fax/fax_rx.h"

#include <cmath>

#include "layer1/dsp/nco.h"
#include "layer1/modem/common/trellis_qam.h"

namespace {

// Thresholds and scales that follow from the modulation (computed on the command path).
void FaxRxConstants(FaxRxState* rx)
{
    const FaxModemParams& p = rx->params;
    // Matched-filter output of a carrier of amplitude a: a x (sum of taps) / 65536, the power word of a
    // symbol (two outputs) that squared >> 8.
    double sum = 0;
    for (int32_t k = 0; k < rx->tapCount; ++k)
        sum += rx->taps[0][k];
    const double a = 22826.0 * std::pow(10.0, -43.0 / 20.0) * sum / 65536.0;
    rx->onPower = static_cast<int32_t>(a * a / 256.0);
    // Reference power: the first training point.
    FaxPoint ref = p.modulation == FAX_V17 ? FaxV17TrainingPoint(0) : p.modulation == FAX_V29 ? FaxV29TrainingA() : FaxV27Point(0);
    const double power = double(ref.re) * ref.re + double(ref.im) * ref.im;
    rx->shiftBias = static_cast<int32_t>(std::lround(std::log2(power) - 25.0));
    // Smallest distance between two data points.
    FaxPoint pts[128];
    int32_t n = 0;
    const int32_t rate = FaxRateIndexOf(rx->code);
    if (p.modulation == FAX_V17) {
        const TrellisPoint* c = TrellisQamConstellation(p.bitsPerSymbol);
        for (n = 0; n < TrellisQamPoints(p.bitsPerSymbol); ++n)
            pts[n] = FaxPoint{c[n].re * kFaxV17Unit, c[n].im * kFaxV17Unit};
    } else {
        const int32_t step = p.bitsPerSymbol == 2 ? 2 : 1;
        for (int32_t phase = 0; phase < 8; phase += step) {
            pts[n++] = p.modulation == FAX_V29 ? FaxV29Point(rate, phase, 0) : FaxV27Point(phase);
            if (p.modulation == FAX_V29 && rate == 0)
                pts[n++] = FaxV29Point(rate, phase, 1);
        }
    }
    int32_t best = 0x7FFFFFFF;
    for (int32_t i = 0; i < n; ++i)
        for (int32_t j = i + 1; j < n; ++j) {
            const int32_t d = FaxDistance(pts[i], pts[j]);
            if (d < best)
                best = d;
        }
    rx->halfDistance = best / 4;
}

}  // namespace

void FaxRxInit(FaxRxState* rx, int32_t code, const FaxRxPort& port, int32_t keepEqualiser)
{
    const FaxModemParams p = FaxParamsOf(code);
    const bool keep = keepEqualiser && p.modulation == FAX_V17 && p.shortTrain && rx->params.modulation == FAX_V17 &&
                      rx->keepTraining;
    int32_t tapRe[kFaxEqualiserTaps], tapIm[kFaxEqualiserTaps];
    int32_t gain = 0, frequency = 0, centre = 0;
    if (keep) {
        centre = rx->centrePhase;
        for (int32_t k = 0; k < kFaxEqualiserTaps; ++k) {
            tapRe[k] = rx->tapRe[k];
            tapIm[k] = rx->tapIm[k];
        }
        gain = rx->gain;
        frequency = rx->loopFrequency;
    }
    *rx = FaxRxState{};
    rx->code = code;
    rx->params = p;
    rx->port = port;
    for (int32_t j = 0; j < 8; ++j)
        rx->tapCount = FaxShapingFilter(p, rx->taps[j], j);
    // V.29's carrier is 1700 Hz; the 16-bit phase step nearest to it.
    rx->carrierStep = static_cast<uint32_t>((p.carrierHz * 65536 + kFaxSampleRate / 2) / kFaxSampleRate);
    rx->gain = 65536;
    FaxEqualiserReset(rx, 0);
    if (keep) {
        for (int32_t k = 0; k < kFaxEqualiserTaps; ++k) {
            rx->tapRe[k] = tapRe[k];
            rx->tapIm[k] = tapIm[k];
        }
        rx->gain = gain;
        rx->loopFrequency = frequency;
        rx->centrePhase = centre;
        rx->keepTraining = 1;
    }
    FaxViterbiReset(&rx->viterbi);
    FaxRxConstants(rx);
    rx->list = FaxRxListOf(code);
    ControlSequencer(&rx->inner, SEQ_START_AT, rx->list, 0);
}

namespace {

// One half-symbol output of the matched filter: the newest mixed samples against the taps.
void MatchedFilter(FaxRxState* rx, int32_t* re, int32_t* im)
{
    const int32_t* r = rx->mixRe + rx->mixPos;
    const int32_t* q = rx->mixIm + rx->mixPos;
    const int16_t* h = rx->taps[rx->timingEighths];
    int64_t sr = 0, sq = 0;
    for (int32_t k = 0; k < rx->tapCount; ++k) {
        sr += static_cast<int64_t>(r[k]) * h[k];
        sq += static_cast<int64_t>(q[k]) * h[k];
    }
    *re = static_cast<int32_t>(sr >> 16);
    *im = static_cast<int32_t>(sq >> 16);
}

void PushHalf(FaxRxState* rx, int32_t re, int32_t im)
{
    // Power of the outputs before the gain, smoothed over about four symbols.
    const int64_t p = (static_cast<int64_t>(re) * re + static_cast<int64_t>(im) * im) >> 8;
    const int32_t pc = p > 0x3FFFFFFF ? 0x3FFFFFFF : static_cast<int32_t>(p);
    rx->symbolPower += pc >> 1;
    rx->eqPos = (rx->eqPos + kFaxEqualiserTaps - 1) % kFaxEqualiserTaps;
    const int32_t gr = static_cast<int32_t>((static_cast<int64_t>(re) * rx->gain) >> 16);
    const int32_t gi = static_cast<int32_t>((static_cast<int64_t>(im) * rx->gain) >> 16);
    rx->eqRe[rx->eqPos] = rx->eqRe[rx->eqPos + kFaxEqualiserTaps] = gr;
    rx->eqIm[rx->eqPos] = rx->eqIm[rx->eqPos + kFaxEqualiserTaps] = gi;
}

void Symbol(FaxRxState* rx)
{
    rx->power += (rx->symbolPower - rx->power) >> 2;
    rx->symbols += 1;
    FaxEqualiserRun(rx);
    RunStep(rx, &rx->inner);
    rx->symbolPower = 0;
}

}  // namespace

void FaxRxShiftTiming(FaxRxState* rx, int32_t eighths)
{
    // A row further on samples earlier; a whole sample is taken from the output counter.
    int32_t j = rx->timingEighths - eighths;
    while (j < 0) {
        j += 8;
        rx->halfCount -= 1;  // the next output one sample later
    }
    while (j >= 8) {
        j -= 8;
        rx->halfCount += 1;  // one sample earlier
    }
    rx->timingEighths = j;
}

void FaxRxBlock(FaxRxState* rx, const int16_t* in, int32_t n)
{
    const int32_t half = rx->params.samplesPerSymbol / 2;
    for (int32_t i = 0; i < n; ++i) {
        // DC block: y = x - x' + (1 - 1/256) y', the output kept with 4 more bits.
        const int32_t x = in[i];
        rx->dcOut += ((x - rx->dcIn) << 4) - (rx->dcOut >> 8);
        rx->dcIn = x;
        const int32_t y = rx->dcOut >> 4;
        int16_t s, c;
        NcoSinCos(rx->carrierPhase, &s, &c);
        rx->carrierPhase = (rx->carrierPhase + rx->carrierStep) & 0xFFFFu;
        rx->mixPos = (rx->mixPos + rx->tapCount - 1) % rx->tapCount;
        // Baseband: y times e^(-j carrier), with one bit of headroom kept (Q14).
        const int32_t mr = (y * c) >> 14;
        const int32_t mi = -((y * s) >> 14);
        rx->mixRe[rx->mixPos] = rx->mixRe[rx->mixPos + rx->tapCount] = mr;
        rx->mixIm[rx->mixPos] = rx->mixIm[rx->mixPos + rx->tapCount] = mi;
        rx->halfCount += 1;
        if (rx->halfCount < half)
            continue;
        rx->halfCount -= half;
        int32_t re, im;
        MatchedFilter(rx, &re, &im);
        PushHalf(rx, re, im);
        rx->halfPhase ^= 1;
        if (rx->halfPhase == 0)
            Symbol(rx);
    }
}
