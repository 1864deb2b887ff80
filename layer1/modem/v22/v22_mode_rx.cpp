// The V.22 / V.22bis receive steps (V22RxSteps): listening, training, the rate change and data, with the
// carrier-loss and retrain reports and the answerer's watch for FSK callers.
#include <cstring>

#include "layer1/dsp/dsp_context.h"
#include "layer1/dsp/mode_entries.h"
#include "layer1/dsp/register_window.h"
#include "layer1/modem/v22/v22_mode.h"

namespace {

constexpr int32_t kEntryReset = 1;
constexpr int32_t kEntryConnect = 9;
constexpr int32_t kEntryLost = 11;
constexpr int32_t kEnergyBlocksV22 = 3;
// The rate step's limit: the far end's 2400 bit/s ones come about 0.9 s after its S1 in a retrain, 0.25 s
// after our training in a first handshake, each plus the round trip; 3 s leaves room for a satellite hop.
// Beyond it the far end has stopped mid-handshake and the call ends as on carrier loss.
constexpr int32_t kRateStepLimit = 300;
// An FSK caller's mark must hold 200 ms: longer than the 100 ms S1 of a V.22bis caller.
constexpr int32_t kFskCallerLimit = 1920;

struct FskCallerRow {
    double hz;
    int32_t type;   // answering FSK start type
};
constexpr FskCallerRow kFskCallers[V22_FSK_CALLERS] = {{1270.0, 5}, {390.0, 7}, {980.0, 0}};

DspContext* Ctx(void* owner) { return static_cast<DspContext*>(owner); }

void Notify(DspContext* ctx, uint8_t status, int set)
{
    UpdateStatusRegister(ctx->interfaceBlock, status, set);
    WriteRegister(ctx->interfaceBlock, kRegNotify, 1);
}

bool Bis(const DspContext* ctx) { return ctx->v22.modem.bits_per_symbol == 4 && ctx->modeNumber == 7; }

// One block through the receiver, and what it found.
void RxBlock(DspContext* ctx)
{
    V22Pump& p = ctx->v22;
    const uint32_t events = V22RxBlock(&p.modem, ctx->rxWork, ctx->lowerAudio->format.blockLength);
    if (events & V22_RX_EVENT_CARRIER_LOST) {
        ControlSequencer(&p.rx, SEQ_RESTART_AT, nullptr, kEntryLost);
        return;
    }
    if (events & V22_RX_EVENT_RETRAIN) {
        Notify(ctx, kPumpStateRetrain, 1);
        ControlSequencer(&p.tx, SEQ_START_AT, V22RetrainSteps, 0);
        ControlSequencer(&p.rx, SEQ_RESTART_AT, nullptr, kEntryReset);
        p.rateEntered = 0;
    }
}

void RxInit(void* owner)
{
    DspContext* ctx = Ctx(owner);
    V22Pump& p = ctx->v22;
    V22RxInit(&p.modem);
    Notify(ctx, kStatusConnected, 0);
    p.fskPreFilter = PreFilterState{0, 0};
    for (int k = 0; k < V22_FSK_CALLERS; ++k) {
        p.fskNotch[k] = NotchCoefficientsFor(kFskCallers[k].hz, 9600.0);
        InitNotchToneDetector(&p.fskCaller[k], &p.fskNotch[k], 5, 2);
    }
}

void RxReset(void* owner) { V22RxReset(&Ctx(owner)->v22.modem); }

// An answerer hearing an FSK caller's mark starts that FSK mode. Returns true when it did.
bool WatchFskCallers(DspContext* ctx)
{
    V22Pump& p = ctx->v22;
    if (ctx->connection.originate)
        return false;
    const int32_t n = ctx->lowerAudio->format.blockLength;
    int32_t filtered[kLowerBufferSamples];
    DetectorPreFilter(&p.fskPreFilter, ctx->rxWork, filtered, n);
    for (int k = 0; k < V22_FSK_CALLERS; ++k) {
        if (RunNotchToneDetector(&p.fskCaller[k], filtered, n, kFskCallerLimit) != 0) {
            StartLowSpeedMode(ctx, kFskCallers[k].type);
            return true;
        }
    }
    return false;
}

// Listening. V.22bis waits for the far end's S1 to come and go; V.22 (which has no S1) for its signal to be
// there for three blocks, so that training never starts on the silence before the caller's first signal.
void RxWait(void* owner)
{
    DspContext* ctx = Ctx(owner);
    V22Pump& p = ctx->v22;
    V22RxWaitSettings(&p.modem);
    RxBlock(ctx);
    if (WatchFskCallers(ctx))
        return;
    if (V22RxS1Ended(&p.modem.rx)) {
        ControlSequencer(&p.rx, SEQ_END_STEP, nullptr, 0);
        return;
    }
    if (Bis(ctx)) {
        ControlSequencer(&p.rx, SEQ_SET_REMAINING, nullptr, 3);
        return;
    }
    p.energyBlocks = (p.modem.rx.detect & V22_DETECT_ENERGY) ? p.energyBlocks + 1 : 0;
    ControlSequencer(&p.rx, SEQ_SET_REMAINING, nullptr, p.energyBlocks >= kEnergyBlocksV22 ? 0 : 3);
}

void RxSettle(void* owner)
{
    DspContext* ctx = Ctx(owner);
    V22RxSettle(&ctx->v22.modem);
    RxBlock(ctx);
}

void RxSeed(void* owner)
{
    DspContext* ctx = Ctx(owner);
    V22RxSeed(&ctx->v22.modem);
    RxBlock(ctx);
}

void RxTrain1(void* owner)
{
    DspContext* ctx = Ctx(owner);
    V22RxTrain1(&ctx->v22.modem);
    RxBlock(ctx);
}

void RxTrain2(void* owner)
{
    DspContext* ctx = Ctx(owner);
    V22RxTrain2(&ctx->v22.modem);
    RxBlock(ctx);
}

void RxTimingReference(void* owner)
{
    DspContext* ctx = Ctx(owner);
    V22RxTimingReference(&ctx->v22.modem);
    RxBlock(ctx);
}

// V.22 goes straight on; V.22bis holds until the far end's sixteen-point signal has switched the decisions
// and its scrambled ones at 2400 bit/s come through the descrambler.
void RxRate(void* owner)
{
    DspContext* ctx = Ctx(owner);
    V22Pump& p = ctx->v22;
    if (!Bis(ctx)) {
        ControlSequencer(&p.rx, SEQ_RESTART_AT, nullptr, kEntryConnect);
        return;
    }
    if (!p.rateEntered) {
        V22RxRateSettings(&p.modem);
        p.rateEntered = 1;
        p.rateBlocks = 0;
    }
    if (++p.rateBlocks > kRateStepLimit) {
        p.rateEntered = 0;
        ControlSequencer(&p.rx, SEQ_RESTART_AT, nullptr, kEntryLost);
        return;
    }
    // Ones count only on sixteen-point decisions: the 1200 bit/s ones before them pass the descrambler too.
    if ((p.modem.rx.detect & (V22_DETECT_ONES | V22_DETECT_FOUR_POINT)) == V22_DETECT_ONES) {
        p.modem.bits_per_symbol = 4;
        p.rateEntered = 0;
        ControlSequencer(&p.rx, SEQ_END_STEP, nullptr, 0);
    } else {
        ControlSequencer(&p.rx, SEQ_SET_REMAINING, nullptr, 3);
    }
    RxBlock(ctx);
}

void RxConnect(void* owner)
{
    DspContext* ctx = Ctx(owner);
    const bool bis = Bis(ctx);
    V22RxConnect(&ctx->v22.modem, bis);
    ctx->connection.rateCode = bis ? 4 : 3;
    if (bis)
        ctx->modeNumber = 7;
    RxBlock(ctx);
}

void RxData(void* owner)
{
    DspContext* ctx = Ctx(owner);
    ControlSequencer(&ctx->v22.rx, SEQ_SET_REMAINING, nullptr, 3);
    RxBlock(ctx);
}

void RxLost(void* owner)
{
    DspContext* ctx = Ctx(owner);
    ControlSequencer(&ctx->seqA, SEQ_START_AT, kIdleListA, 0);
    ControlSequencer(&ctx->seqB, SEQ_START_AT, kIdleListB, 0);
    Notify(ctx, kPumpStateGivenUp, 1);
    std::memset(ctx->rxWork, 0, sizeof(ctx->rxWork));
}

}  // namespace

const StepEntry V22RxSteps[] = {
    {{RxInit}, 1},  {{RxReset}, 1},           {{RxWait}, 3},  {{RxSettle}, 5},  {{RxSeed}, 1},  {{RxTrain1}, 8},
    {{RxTrain2}, 30}, {{RxTimingReference}, 1}, {{RxRate}, 3}, {{RxConnect}, 1}, {{RxData}, 3}, {{RxLost}, 1},
    kStepEnd,
};

void V22RxSequencerStep(void* owner)
{
    DspContext* ctx = Ctx(owner);
    RunStep(ctx, &ctx->v22.rx);
}
