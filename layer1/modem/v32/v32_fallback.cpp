// When V.32bis does not come up: the answerer that heard no caller tries the FSK modes; the caller that
// waits for the answerer's AC listens at 7200 samples per second for the signals of other modulations.
#include "layer1/dsp/dsp_context.h"
#include "layer1/dsp/mode_entries.h"
#include "layer1/dsp/procedure_state.h"
#include "layer1/modem/v32/v32_mode.h"

namespace {

constexpr int32_t kUsb1Limit = 960;   // 133 ms of the V.22 answerer's unscrambled ones
constexpr int32_t kFskLimit = 540;    // 75 ms of an FSK mark

// The caller sends AA (1800 Hz) while it listens: its own echo, taken out by a notch before the detectors,
// would otherwise hold the ratio of a far signal below their thresholds.
// y = (b0 u + b1 x1 + b2 x2 + a1 y1 + a2 y2) >> 15.
int32_t AaEchoNotch(int32_t* s, int32_t u)
{
    const NotchCoefficients& c = kNotch7200_1800;
    const int64_t acc = static_cast<int64_t>(c.b0) * u + static_cast<int64_t>(c.b1) * s[0] +
                        static_cast<int64_t>(c.b2) * s[1] + static_cast<int64_t>(c.a1) * s[2] +
                        static_cast<int64_t>(c.a2) * s[3];
    const int32_t y = SaturateTo32(acc >> 15);
    s[1] = s[0];
    s[0] = u;
    s[3] = s[2];
    s[2] = y;
    return y;
}

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
    for (int32_t& v : p.ownTone)
        v = 0;
}

int32_t V32bisFallbackDetect(DspContext* ctx, int32_t sample)
{
    V32Pump& p = ctx->v32;
    if (ctx->connection.procedureKind == 0)
        return 0;
    sample = AaEchoNotch(p.ownTone, sample);
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
