// The receive side of the V.34 block handler: the block into the receiver (DC removed, echo cancelled), the
// receive script's symbols, the far-end retrain detector, carrier loss in data mode and the rate monitor.
#include <cmath>

#include "layer1/dsp/dsp_context.h"
#include "layer1/modem/v34/v34_pump.h"
#include "layer1/modem/v34/v34_rx_steps.h"

namespace {

// A received block power below -43 dBm0 for one second is carrier loss (BlockPowerDb reads about 3 dB under
// dBm0: a full-scale sine, +3 dBm0, reads 0).
constexpr int32_t kCarrierLossLevel = -46;
constexpr int32_t kCarrierLossBlocks = 100;
// The phase-2 tone holds at least 60 % of the power in three blocks in a row (30 ms).
constexpr int32_t kToneBlocks = 3;
constexpr int32_t kToneFloor = -50;

}  // namespace

int32_t V34ToneCoefficient(int32_t frequency, int32_t sampleRate)
{
    if (sampleRate <= 0)
        return 0;
    const double pi = std::acos(-1.0);
    return static_cast<int32_t>(std::lround(2.0 * std::cos(2.0 * pi * frequency / sampleRate) * 16384.0));
}

int32_t V34PhaseTwoToneBlock(const int16_t block[kV34BlockSamples], int32_t coefficient)
{
    int64_t s1 = 0, s2 = 0, total = 0;
    for (int i = 0; i < kV34BlockSamples; ++i) {
        const int64_t x = block[i];
        const int64_t s = x + ((coefficient * s1) >> 14) - s2;
        s2 = s1;
        s1 = s;
        total += x * x;
    }
    // Goertzel power |X|^2; a pure tone of energy E gives about N E / 2.
    const int64_t power = s1 * s1 + s2 * s2 - ((coefficient * s1) >> 14) * s2;
    return total > 0 && 2 * power * 10 >= 6 * total * kV34BlockSamples ? 1 : 0;
}

void AttachV34ReceiveSide(DspContext* ctx)
{
    V34Pump& p = ctx->v34pump;
    const DspFilters& f = ctx->filters;
    V34ReceiverObjects o{};
    o.rail[0] = f.fir48[0];
    o.rail[1] = f.fir48[1];
    o.equaliser = f.lms72;
    o.feedback = f.lms120;
    o.jitter = f.lmsReal60;
    for (int i = 0; i < 3; ++i) {
        o.nearEcho[i] = f.lms48[0][i];
        o.farEcho[i] = f.lms48[1][i];
    }
    AttachV34Receiver(&p.receiver, &o);
}

void SetupV34ReceiveSide(DspContext* ctx)
{
    V34Pump& p = ctx->v34pump;
    V34Receiver& rx = p.receiver;
    const V34ReceiverParams& params = p.rx;
    AttachV34ReceiveSide(ctx);
    rx.combination = params.rateCarrierCode;
    rx.polynomial = params.answerer;
    rx.agc = RxAgcState{};
    rx.agc.gain = static_cast<int16_t>(params.inputGainMantissa > 0 ? params.inputGainMantissa : 0x4000);
    rx.agc.shift = params.inputGainExponent;
    rx.agc.power = kV34AgcTarget;
    rx.agc.target = kV34AgcTarget;
    rx.reencode = ReencodeState{};
    SetReencodeScale(&rx.reencode, kV34TrainingGain, kV34TrainingScale);
    rx.estimator = TimingEstimate;
    rx.faultMonitor = 1;
    rx.monitorOn = 0;
    rx.monitorLimit = kV34MonitorGoodLimit;
    // The near echo starts where the sample path returns the modem's own symbols, eight symbols (the pulse's
    // half length) early; the far echo a round trip later.
    const int32_t nearDelay = params.pathLatency > 8 ? params.pathLatency - 8 : 0;
    SetEchoDelays(&rx.echo, nearDelay, nearDelay + (params.farEchoPosition - params.pathLatency));
    ResetV34Receiver(&rx, 0);
    rx.cancel = CancelEcho;
    p.watch = V34RxWatch{};
    const int32_t farTone = params.answerer != 0 ? 1200 : 2400;
    p.watch.toneCoefficient = V34ToneCoefficient(farTone, 3 * V34SymbolRate(params.rateCarrierCode / 2));
}

void V34ReceiveBlock(DspContext* ctx)
{
    V34Pump& p = ctx->v34pump;
    ReadReceiveBlock(&p.receiver, ctx->lowerAudio, p.rxBlock);
    p.blockLevel = BlockPowerDb(p.rxBlock, kV34BlockSamples);
    ctx->rxLevel = p.blockLevel;
    ctx->rxLevelParam = static_cast<int16_t>(8 - p.blockLevel);
    V34RxWatch& w = p.watch;
    if (p.blockLevel > kToneFloor && V34PhaseTwoToneBlock(p.rxBlock, w.toneCoefficient) != 0) {
        if (++w.toneBlocks == kToneBlocks)
            p.shared.farRetrainRequest = 1;
    } else {
        w.toneBlocks = 0;
    }
    if (w.dataMode != 0) {
        w.quietBlocks = p.blockLevel < kCarrierLossLevel ? w.quietBlocks + 1 : 0;
        if (w.quietBlocks == kCarrierLossBlocks && p.txState == kV34TxRunning)
            p.txState = kV34TxCarrierLost;
        if (p.receiver.monitorOn != 0 && p.txState == kV34TxRunning && RateMonitorStep(&p.receiver.monitor) != 0)
            p.txState = kV34TxRenegotiate;
    }
    // The receive script (the training and data steps) takes the block's symbols, one tick each, until the
    // receiver has used the block up.
    RunV34ReceiveScript(&p);
}
