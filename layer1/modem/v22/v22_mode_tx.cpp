// The V.22 / V.22bis transmit steps and lists. Each step makes one block of line signal; counts are blocks.
#include <cstring>

#include "layer1/dsp/dsp_context.h"
#include "layer1/dsp/mode_entries.h"
#include "layer1/dsp/register_window.h"
#include "layer1/modem/v22/v22_mode.h"

namespace {

constexpr int32_t kAnswerS1Entry = 8;
constexpr int32_t kOriginateAfterS1Entry = 6;
constexpr int32_t kOriginateV22Ones = 13;   // the last scrambled-ones entry of the V.22 caller
constexpr int32_t kFskBell103Originate = 4;

DspContext* Ctx(void* owner) { return static_cast<DspContext*>(owner); }

void Notify(DspContext* ctx, uint8_t status, int set)
{
    UpdateStatusRegister(ctx->interfaceBlock, status, set);
    WriteRegister(ctx->interfaceBlock, kRegNotify, 1);
}

void Send(DspContext* ctx, uint16_t control)
{
    ctx->v22.modem.tx.tx_control = control;
    V22TxBlock(&ctx->v22.modem, ctx->txWork, ctx->lowerAudio->format.blockLength);
}

void Silence(DspContext* ctx)
{
    std::memset(ctx->txWork, 0, sizeof(ctx->txWork));
}

void Hold(Sequencer* s) { ControlSequencer(s, SEQ_SET_REMAINING, nullptr, 3); }

bool S1Ended(DspContext* ctx) { return V22RxS1Ended(&ctx->v22.modem.rx) != 0; }

void TxInit(void* owner)
{
    DspContext* ctx = Ctx(owner);
    V22TxReset(&ctx->v22.modem.tx);
    Silence(ctx);
}

void TxSilence(void* owner) { Silence(Ctx(owner)); }

// Unscrambled ones; on the answer list the caller's S1, come and gone, moves on to the answerer's S1.
void TxUsb1(void* owner)
{
    DspContext* ctx = Ctx(owner);
    Send(ctx, kV22TxUnscrambledOnes);
    if (ctx->v22.tx.list == V22AnswerSteps && S1Ended(ctx))
        ControlSequencer(&ctx->v22.tx, SEQ_RESTART_AT, nullptr, kAnswerS1Entry);
}

void TxUsb1Retrain(void* owner)
{
    DspContext* ctx = Ctx(owner);
    Send(ctx, kV22TxUnscrambledOnes);
    if (S1Ended(ctx))
        ControlSequencer(&ctx->v22.tx, SEQ_END_STEP, nullptr, 0);
    else
        Hold(&ctx->v22.tx);
}

void FallBackTo1200(DspContext* ctx)
{
    ctx->modeNumber = 6;
    ctx->connection.rateCode = 3;
    ctx->v22.modem.bits_per_symbol = 2;
}

void TxFallback1200(void* owner)
{
    DspContext* ctx = Ctx(owner);
    FallBackTo1200(ctx);
    Silence(ctx);
}

void TxS1(void* owner) { Send(Ctx(owner), kV22TxS1); }

// The caller's scrambled ones while it waits for the answerer's S1 to come and go.
void TxOnesWait(void* owner)
{
    DspContext* ctx = Ctx(owner);
    Send(ctx, kV22TxOnes1200);
    if (S1Ended(ctx))
        ControlSequencer(&ctx->v22.tx, SEQ_RESTART_AT, nullptr, kOriginateAfterS1Entry);
}

// No S1 from the answerer: the FSK fall-back when the start command allows it (payload[0] bits 6-7), else the
// call goes on as V.22 at 1200 bit/s: a V.22 answerer sends no S1.
void TxFskFallback(void* owner)
{
    DspContext* ctx = Ctx(owner);
    if (ctx->connection.rateOption != 0) {
        StartLowSpeedMode(ctx, kFskBell103Originate);
        return;
    }
    FallBackTo1200(ctx);
    Send(ctx, kV22TxOnes1200);
    ControlSequencer(&ctx->v22.tx, SEQ_START_AT, V22OriginateSteps, kOriginateV22Ones);
    ctx->v22.tx.remaining += 1;  // this tick's count-down
}

void TxOnes1200(void* owner) { Send(Ctx(owner), kV22TxOnes1200); }

void TxOnes2400(void* owner)
{
    DspContext* ctx = Ctx(owner);
    ctx->v22.modem.bits_per_symbol = 4;
    Send(ctx, kV22TxOnes2400);
}

// Data: the connection is reported once the receiver has reached its data state.
void ReportConnection(DspContext* ctx, bool bis)
{
    V22RxState& r = ctx->v22.modem.rx;
    if (!(r.detect & V22_DETECT_UNREPORTED))
        return;
    const bool quick = ctx->v22.quick && (!bis || ctx->v22.tx.list == V22bisQuickSteps);
    Notify(ctx, quick ? kPumpStateQuickData : kPumpStateData, 1);
    Notify(ctx, kStatusConnected, 1);
    r.detect &= static_cast<uint16_t>(~V22_DETECT_UNREPORTED);
}

void TxData2400(void* owner)
{
    DspContext* ctx = Ctx(owner);
    ReportConnection(ctx, true);
    Send(ctx, kV22TxData2400);
    Hold(&ctx->v22.tx);
}

void TxData1200(void* owner)
{
    DspContext* ctx = Ctx(owner);
    ReportConnection(ctx, false);
    Send(ctx, kV22TxData1200);
    Hold(&ctx->v22.tx);
}

void TxIdle(void* owner)
{
    DspContext* ctx = Ctx(owner);
    Silence(ctx);
    ControlSequencer(&ctx->seqA, SEQ_START_AT, kIdleListA, 0);
    Notify(ctx, kPumpStateGivenUp, 1);
}

}  // namespace

const StepEntry V22OriginateSteps[] = {
    {{TxInit}, 1}, {{TxSilence}, 45}, {{TxS1}, 10}, {{TxOnes1200}, 1}, {{TxOnesWait}, 107},
    {{TxFskFallback}, 1}, {{TxOnes1200}, 60}, {{TxOnes2400}, 20}, {{TxData2400}, 3}, {{TxIdle}, 1},
    // 10: V.22
    {{TxInit}, 1}, {{TxSilence}, 45}, {{TxOnes1200}, 54}, {{TxOnes1200}, 76}, {{TxData1200}, 3}, {{TxIdle}, 1},
    kStepEnd,
};

const StepEntry V22AnswerSteps[] = {
    {{TxInit}, 1}, {{TxUsb1}, 300}, {{TxFallback1200}, 1},
    // 3: V.22
    {{TxInit}, 1}, {{TxUsb1}, 61}, {{TxOnes1200}, 76}, {{TxData1200}, 3}, {{TxIdle}, 1},
    // 8: V.22bis after the caller's S1
    {{TxS1}, 10}, {{TxOnes1200}, 50}, {{TxOnes2400}, 20}, {{TxData2400}, 3}, {{TxIdle}, 1},
    kStepEnd,
};

const StepEntry V22RetrainSteps[] = {
    {{TxUsb1Retrain}, 3}, {{TxS1}, 15}, {{TxOnes1200}, 76}, {{TxOnes2400}, 30}, {{TxData2400}, 3}, {{TxIdle}, 1},
    kStepEnd,
};

const StepEntry V22bisQuickSteps[] = {
    {{TxInit}, 1}, {{TxSilence}, 20}, {{TxS1}, 10}, {{TxOnes1200}, 50}, {{TxOnes2400}, 20}, {{TxData2400}, 3},
    {{TxIdle}, 1}, kStepEnd,
};

const StepEntry V22QuickSteps[] = {
    {{TxInit}, 1}, {{TxSilence}, 20}, {{TxOnes1200}, 54}, {{TxOnes1200}, 77}, {{TxData1200}, 3}, {{TxIdle}, 1},
    kStepEnd,
};

void V22TxSequencerStep(void* owner)
{
    DspContext* ctx = Ctx(owner);
    RunStep(ctx, &ctx->v22.tx);
}
