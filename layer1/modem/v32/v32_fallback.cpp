// When V.32bis does not come up: the answerer that heard no caller tries the FSK modes; the caller that
// waits for the answerer's AC listens at 7200 samples per second for the signals of other modulations.
#include "layer1/dsp/dsp_context.h"
#include "layer1/dsp/mode_entries.h"
#include "layer1/dsp/procedure_state.h"
#include "layer1/modem/v32/v32_mode.h"

namespace {

constexpr int32_t kUsb1Limit = 960;   // 133 ms of the V.22 answerer's unscrambled ones
constexpr int32_t kFskLimit = 540;    // 75 ms of an FSK mark

void LeaveV32(DspContext* ctx)
{
    SetLowerFormat(ctx->lowerAudio, 9600, 96);
    ctx->blockHandler = IdleBlockHandler;
}

}  // namespace

void InitV32bisFallbackDetectors(DspContext* ctx)
{
    V32Pump& p = ctx->v32;
    InitNotchToneDetector(&p.answerTone, &kNotch7200_2100, 5, 2);
    InitTwoNotchDetector(&p.usb1, &kNotch7200_2250, &kNotch7200_2850, 5, 2);
    InitNotchToneDetector(&p.v21, &kNotch7200_1650, 5, 2);
    InitNotchToneDetector(&p.v23, &kNotch7200_1300, 5, 2);
}

int32_t V32bisFallbackDetect(DspContext* ctx, int32_t sample)
{
    V32Pump& p = ctx->v32;
    if (ctx->connection.procedureKind == 0)
        return 0;
    if (NotchToneDetectorSample(&p.answerTone, sample, 1)) {
        if (ctx->procedure.answerToneCounter == 0)
            ctx->procedure.answerToneCounter = 320;
        ctx->procedure.answerToneCounter += 1;
    }
    if (NotchToneDetectorSample(&p.usb1, sample, kUsb1Limit)) {
        LeaveV32(ctx);
        StartV22(ctx);
        return 1;
    }
    int32_t type = -1;
    if (NotchToneDetectorSample(&p.v21, sample, kFskLimit))
        type = 0;
    else if (NotchToneDetectorSample(&p.v23, sample, kFskLimit))
        type = 6;
    if (type < 0)
        return 0;
    LeaveV32(ctx);
    StartLowSpeedMode(ctx, type);
    return 1;
}

void V32bisAnswerFallback(DspContext* ctx)
{
    StartLowSpeedMode(ctx, 0);
    ctx->procedure.list = AutomodeAnswerSteps;
    ControlSequencer(&ctx->seqB, SEQ_START_AT, AutomodeAnswerSteps, 5);
    ctx->connection.procedureKind = 1;
    LeaveV32(ctx);
}
