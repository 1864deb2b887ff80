// Data-mode decisions: the trellis decoder's final pairs gathered into mapping frames for the demapper.
#include "layer1/modem/v34/v34_rx_data.h"

#include "layer1/modem/v34/v34_encoder.h"
#include "layer1/modem/v34/v34_framing.h"
#include "layer1/modem/v34/v34_power.h"
#include "layer1/vek/core/vek_dispatch.h"

void InitV34DataDecisions(V34DataDecisions* d, int32_t symbolRateIndex, int32_t rateMultiple, int32_t shaping,
                          int32_t trellisStates, const PackedComplex coefficients[3], int32_t polynomial)
{
    InitV34TrellisDecoder(&d->decoder, trellisStates);
    V34FrameParams& f = d->demapper.frame;
    f.symbolRateIndex = symbolRateIndex >= 0 && symbolRateIndex < kV34SymbolRates ? symbolRateIndex : 0;
    f.rateMultiple = rateMultiple < 1 ? 1 : (rateMultiple > 14 ? 14 : rateMultiple);
    f.extraMultiple = 0;
    f.row = shaping != 0 ? 1 : 0;
    f.symbolRate = V34SymbolRate(f.symbolRateIndex);
    InitV34Demapper(&d->demapper, coefficients);
    d->held = 0;
    d->polynomial = polynomial;
}

int32_t DecideDataPair(V34DataDecisions* d, const PackedComplex soft[2], int32_t invert, PackedComplex tentative[2])
{
    if (TrellisDecode(&d->decoder, soft, invert, d->frame + d->held, tentative) != kV34TrellisFilled)
        return 0;
    d->held += 2;
    if (d->held < 8)
        return 0;
    d->held = 0;
    return DemapFrame(&d->demapper, d->frame);
}

int32_t ReadDataBytes(V34DataDecisions* d, uint8_t* out, int32_t max)
{
    return DescrambleBytes(&d->demapper.bits, d->polynomial, &d->descrambler, out, max);
}

namespace {

constexpr int32_t kDataJitterStep = 10;
constexpr int64_t kMaxScale = 0x1000000;   // keeps the reciprocal 0x1000000 / scale above 0
constexpr int32_t kDataCarrierGains[2] = {429496, 149130};
constexpr int32_t kDataTimingGains[2] = {11302545, 94187};

}  // namespace

void DecideReceivedPair(void* owner, V34Receiver*, RxSlot* first, RxSlot* second, int32_t invert)
{
    V34DataDecisions* d = static_cast<V34DataDecisions*>(owner);
    const PackedComplex soft[2] = {first->soft, second->soft};
    PackedComplex tentative[2];
    DecideDataPair(d, soft, invert, tentative);
    first->decision = tentative[0];
    second->decision = tentative[1];
}

int32_t StartV34DataReceive(V34Receiver* rx, V34DataDecisions* d, const V34RxDataParams* params)
{
    const V34RxDataParams& a = *params;
    if (a.symbolRateIndex < 0 || a.symbolRateIndex >= kV34SymbolRates || a.rateIndex < V34MinRateIndex(a.symbolRateIndex) ||
        a.rateIndex > V34MaxRateIndex(a.symbolRateIndex))
        return -1;
    InitV34DataDecisions(d, a.symbolRateIndex, a.rateIndex, a.shaping, a.trellisStates, a.coefficients, a.polynomial);
    int32_t transmitScale = 0;
    int32_t receiveGain = 0;
    V34PowerScale(a.symbolRateIndex, a.rateIndex, a.shaping, d->demapper.frame.b, a.coefficients, &transmitScale, &receiveGain);
    ReencodeState& r = rx->reencode;
    const int64_t scale = a.trainedScale > 0 ? int64_t{transmitScale} * r.scale / a.trainedScale : transmitScale;
    for (int k = 0; k < 3; ++k) {
        r.coefficients[k] = a.coefficients[k];
        r.past[k] = 0;
    }
    r.nonlinear = a.nonlinear != 0 ? 1 : 0;
    SetReencodeScale(&r, r.nonlinear != 0 ? receiveGain : kV34TrainingGain,
                     static_cast<int32_t>(scale > kMaxScale ? kMaxScale : scale));
    const V34FrameParams& f = d->demapper.frame;
    rx->framePairs = 4 * f.P;
    rx->superframePattern = V34SuperframePattern(f.J);
    rx->patternBits = 2 * f.J;
    rx->patternPosition = 0;
    rx->superframeFlag = 0;
    rx->pairCount = 0;
    rx->symbolCount = 0;
    // The equaliser and feedback filter rest until the decisions settle (the caller restarts them); the loops
    // take their data-mode gains and the timing its data-mode estimator.
    if (rx->equaliser != nullptr)
        vek_lms_set_mu_complex(rx->equaliser, 0);
    if (rx->feedback != nullptr)
        vek_lms_set_mu_complex(rx->feedback, 0);
    if (rx->jitter != nullptr)
        vek_lms_set_mu_real(rx->jitter, kDataJitterStep);
    rx->carrier.proportional = kDataCarrierGains[0];
    rx->carrier.integral = kDataCarrierGains[1];
    rx->timing.proportional = kDataTimingGains[0];
    rx->timing.integral = kDataTimingGains[1];
    rx->estimator = TimingEstimateData;
    // The rate monitor starts at the agreed rate.
    RateMonitor& m = rx->monitor;
    m.good = m.bad = m.armed = m.armCount = 0;
    m.symbolRateIndex = a.symbolRateIndex;
    m.current = a.rateIndex;
    m.goodLimit = kV34MonitorGoodLimit;
    rx->monitorOn = 1;
    return 0;
}

int32_t ReceiveDataBytes(V34Receiver* rx, V34DataDecisions* d, uint8_t* out, int32_t max)
{
    ReceiveDataSymbol(rx, DecideReceivedPair, d);
    if (rx->skip != 0)
        return -1;
    return ReadDataBytes(d, out, max);
}
