// The receiver's reset and its per-symbol path: sample intake through the AGC and the carrier, interpolation,
// the rail filters, the equaliser and feedback filter, re-encoding of the slot's decision, the decision
// monitor, the error and the adaptation, the timing step and the slot update.
#include <cstring>

#include "layer1/modem/v34/fixed_point.h"
#include "layer1/modem/v34/v34_framing.h"
#include "layer1/modem/v34/v34_power.h"
#include "layer1/modem/v34/v34_rx.h"
#include "layer1/vek/core/vek_dispatch.h"

namespace {

constexpr int32_t kFaultLimit = 50;
constexpr int32_t kMonitorBadLimit = 688000;
constexpr int32_t kFeedbackLine = 160;   // at least the feedback filter's line (taps + update delay)
constexpr int32_t kEqualiserLine = 160;  // 72 taps at step 2 plus the update delay of 6

const VekC16 kZeroLine[kEqualiserLine > kFeedbackLine ? kEqualiserLine : kFeedbackLine] = {};
const VekC32 kZeroTaps[120] = {};
const int16_t kZeroReal[kV34RailTaps + 64] = {};
const int32_t kZeroRealTaps[64] = {};

int16_t Sat16(int64_t v) { return static_cast<int16_t>(v > INT16_MAX ? INT16_MAX : (v < INT16_MIN ? INT16_MIN : v)); }

int32_t ClearLms(LmsState* s, bool taps, int32_t tapCount)
{
    if (s == nullptr)
        return 0;
    int32_t r = vek_lms_set_delay_complex(s, kZeroLine, 0);
    if (taps && tapCount <= 120)
        r |= vek_lms_set_taps_complex(s, kZeroTaps);
    return r;
}

// Re-encodes the slot's decision the way the far transmitter encoded it: precoded, then scaled.
PackedComplex Reencode(ReencodeState* r, PackedComplex d)
{
    const PackedComplex p = PrecoderOutput(r->coefficients, r->past);
    const PackedComplex v = PackComplex(Sat16(int32_t{RealPart(d)} - RealPart(p)), Sat16(int32_t{ImagPart(d)} - ImagPart(p)));
    r->past[2] = r->past[1];
    r->past[1] = r->past[0];
    r->past[0] = v;
    return ScaleTransmitPoint(r->nonlinear, r->scale, r->gain, v);
}

// t = |(|delta|^2 x 128 + 2047 t) >> 11|, and the monitor's counts.
void MonitorDecision(V34Receiver* rx, PackedComplex soft, PackedComplex d)
{
    const int64_t dr = int64_t{RealPart(soft)} - RealPart(d);
    const int64_t di = int64_t{ImagPart(soft)} - ImagPart(d);
    int64_t t = ((dr * dr + di * di) * 128 + 2047 * static_cast<int64_t>(rx->decisionAverage)) >> 11;
    t = t < 0 ? -t : t;
    rx->decisionAverage = static_cast<int32_t>(t > INT32_MAX ? INT32_MAX : t);
    if (rx->monitorOn == 0)
        return;
    RateMonitor& m = rx->monitor;
    if (rx->decisionAverage <= kMonitorBadLimit) {
        if (m.bad > 0)
            m.bad -= 1;
    } else {
        m.bad += 1;
    }
    if (rx->decisionAverage < rx->monitorLimit)
        m.good += 1;
    else if (m.good > 0)
        m.good -= 1;
}

// p += (v - p) / 64: the powers the diagnostic SNR reads.
void SmoothPower(uint32_t* p, int64_t v)
{
    const int64_t next = *p + ((v - static_cast<int64_t>(*p)) >> 6);
    *p = static_cast<uint32_t>(next < 0 ? 0 : (next > 0xFFFFFFFF ? 0xFFFFFFFF : next));
}

// Takes samples of the current block into the symbol until positions start ... 3 are filled.
bool TakeSamples(V34Receiver* rx)
{
    while (rx->intake <= 3) {
        if (rx->readIndex >= rx->blockLength)
            return false;
        const int32_t a = RxAgcStep(&rx->agc, rx->block[rx->readIndex++]);
        const int32_t c = rx->carrierCos[rx->carrierPosition];
        const int32_t s = rx->carrierSin[rx->carrierPosition];
        rx->carrierPosition = rx->carrierPosition + 1 >= rx->carrierPeriod ? 0 : rx->carrierPosition + 1;
        rx->demodulated[0][rx->intake] = MulQ31(a, static_cast<int32_t>(static_cast<uint32_t>(c) << 16));
        rx->demodulated[1][rx->intake] = -MulQ31(a, static_cast<int32_t>(static_cast<uint32_t>(s) << 16));
        rx->intake += 1;
    }
    return true;
}

// One baseband sample: interpolated, rounded, filtered, kept in the history and put into the equaliser.
void FilterSample(V34Receiver* rx, int32_t position)
{
    int16_t out[2];
    for (int32_t r = 0; r < 2; ++r) {
        const int32_t v = InterpolateRail(&rx->interpolator, r, rx->demodulated[r][position]);
        const int16_t rounded = Sat16((static_cast<int64_t>(v) + 0x4000) >> 15);
        out[r] = rounded;
        if (rx->rail[r] != nullptr)
            vek_fir_one_real(rounded, &out[r], rx->rail[r], 15);
    }
    const PackedComplex sample = PackComplex(out[0], out[1]);
    rx->history[rx->historyIndex & (kV34RxHistory - 1)] = sample;
    if ((rx->historyIndex & 1u) != 0)
        SignalDetectorStep(&rx->detector, sample);
    rx->historyIndex += 1;
    if (rx->equaliser != nullptr)
        vek_lms_put_value_complex(VekC16{out[0], out[1]}, rx->equaliser);
}

VekC32 Equalise(V34Receiver* rx)
{
    VekC32 y{0, 0};
    VekC32 f{0, 0};
    if (rx->equaliser != nullptr)
        vek_lms_filter_complex(&y, rx->equaliser);
    if (rx->feedback != nullptr)
        vek_lms_filter_complex(&f, rx->feedback);
    y.re = Add32(y.re, f.re);
    y.im = Add32(y.im, f.im);
    if (rx->feedback != nullptr)
        vek_lms_put_value_complex(VekC16{Sat16(y.re >> 14), Sat16(y.im >> 14)}, rx->feedback);
    return y;
}

// The soft point: the jitter-corrected point with the gain taken out, then divided by the scale, in 1/128
// grid units.
PackedComplex SoftPoint(const ReencodeState& r, PackedComplex corrected)
{
    const PackedComplex u = UnscaleReceivePoint(r.nonlinear, r.reciprocalGain, corrected);
    const int64_t x = (static_cast<int64_t>(RealPart(u)) * r.reciprocalScale + 8192) >> 15;
    const int64_t y = (static_cast<int64_t>(ImagPart(u)) * r.reciprocalScale + 8192) >> 15;
    return PackComplex(Sat16(x), Sat16(y));
}

}  // namespace

void AttachV34Receiver(V34Receiver* rx, const V34ReceiverObjects* o)
{
    rx->rail[0] = o->rail[0];
    rx->rail[1] = o->rail[1];
    rx->equaliser = o->equaliser;
    rx->feedback = o->feedback;
    rx->jitter = o->jitter;
    AttachEchoFilters(&rx->echo, o->nearEcho, o->farEcho);
}

RxSlot* CurrentSlot(V34Receiver* rx) { return &rx->slot[rx->symbolCount & 1u]; }

int32_t ResetV34Receiver(V34Receiver* rx, int32_t keep)
{
    int32_t status = 0;
    for (FirState* f : rx->rail) {
        if (f != nullptr)
            status |= vek_fir_set_delay_real(f, kZeroReal);
    }
    rx->interpolator = Interpolator{};
    ResetSignalDetector(&rx->detector);
    rx->carrierPeriod = V34RxCarrierTable(rx->combination, rx->carrierCos, rx->carrierSin);
    rx->carrierPosition = 0;
    std::memset(rx->demodulated, 0, sizeof rx->demodulated);
    std::memset(rx->history, 0, sizeof rx->history);
    rx->historyIndex = 0;
    status |= ClearLms(rx->equaliser, (keep & 1) == 0, kV34EqualiserTaps);
    status |= ClearLms(rx->feedback, keep == 0, 120);
    rx->carrier = PhaseLoop{};
    rx->predictorOff = 0;
    rx->carrierSymbols = 0;
    if (rx->jitter != nullptr) {
        status |= vek_lms_set_delay_real(rx->jitter, kZeroReal, 0);
        status |= vek_lms_set_taps_real(rx->jitter, kZeroRealTaps);
    }
    rx->timing = PhaseLoop{};
    rx->bandEdge[0] = rx->bandEdge[1] = 0;
    rx->timingError = 0;
    rx->timingStep = 0;
    if (rx->estimator == nullptr)
        rx->estimator = TimingEstimate;
    SetInterpolatorPhase(&rx->interpolator, 0);
    for (PackedComplex& p : rx->reencode.past)
        p = 0;
    std::memset(rx->slot, 0, sizeof rx->slot);
    if (ResetEchoCanceller(&rx->echo, keep) != 0)
        status = -2;
    rx->error = 0;
    rx->squaredError = 0;
    rx->signalPower = 0;
    rx->errorPower = 0;
    rx->decisionAverage = 0;
    rx->skip = 0;
    rx->readIndex = 0;
    rx->blockLength = 0;
    rx->startIndex = 1;
    rx->intake = 1;
    rx->reversalSum = 0;
    rx->reversalTerms[0] = rx->reversalTerms[1] = rx->reversalTerms[2] = 0;
    rx->reversalPosition = 0;
    return status != 0 ? -2 : 0;
}

VekC32 V34ReceiveSymbol(V34Receiver* rx)
{
    rx->skip = 0;
    if (!TakeSamples(rx)) {
        rx->skip = 1;
        return VekC32{0, 0};
    }
    if (rx->faultMonitor != 0) {
        if (rx->detector.faultCount > kFaultLimit) {
            rx->skip = 1;
            rx->retrainReason = 4;
        }
    } else {
        rx->detector.faultCount = 0;
        rx->detector.differencePower = 0;
    }
    // Positions 1 ... 3 give the symbol's three samples; after a step of -1 position 0 only passes through the
    // interpolator, after +1 position 1 holds the last sample of the symbol before, given again.
    SetInterpolatorPhase(&rx->interpolator, rx->timing.phase);
    if (rx->startIndex == 0) {
        InterpolateRail(&rx->interpolator, 0, rx->demodulated[0][0]);
        InterpolateRail(&rx->interpolator, 1, rx->demodulated[1][0]);
    }
    for (int32_t p = 1; p <= 3; ++p)
        FilterSample(rx, p);
    const VekC32 y = Equalise(rx);

    RxSlot* slot = CurrentSlot(rx);
    const PackedComplex z = Reencode(&rx->reencode, slot->decision);
    MonitorDecision(rx, slot->soft, slot->decision);
    const PackedComplex w = RotateSaturating(z, slot->angle);
    const int32_t er = Sat16(int32_t{RealPart(slot->output)} - RealPart(w));
    const int32_t ei = Sat16(int32_t{ImagPart(slot->output)} - ImagPart(w));
    rx->squaredError = (er * er + ei * ei) >> 4;
    SmoothPower(&rx->signalPower, int64_t{RealPart(z)} * RealPart(z) + int64_t{ImagPart(z)} * ImagPart(z));
    SmoothPower(&rx->errorPower, int64_t{er} * er + int64_t{ei} * ei);
    if (rx->equaliser != nullptr)
        vek_lms_update_complex(er, ei, rx->equaliser);
    if (rx->feedback != nullptr)
        vek_lms_update_complex(er, ei, rx->feedback);
    rx->error = RotateSaturating(PackComplex(er, ei), static_cast<int32_t>(0u - static_cast<uint32_t>(slot->angle)));

    const int32_t step = rx->estimator != nullptr ? rx->estimator(rx) : 0;
    rx->timingStep = step;
    rx->startIndex = step + 1;
    rx->intake = rx->startIndex;
    if (step == 1) {
        InterpolatorBackUp(&rx->interpolator);
        rx->demodulated[0][1] = rx->demodulated[0][3];
        rx->demodulated[1][1] = rx->demodulated[1][3];
    }

    slot->output = PackComplex(Sat16(y.re >> 11), Sat16(y.im >> 11));
    const int32_t phase = CarrierUpdate(rx, slot, slot->output, z);
    slot->angle = static_cast<int32_t>(0u - static_cast<uint32_t>(phase));
    slot->soft = SoftPoint(rx->reencode, slot->corrected);
    return y;
}
