// The start of a procedure (single-tone, basic, automode) and the pump that ends it.
#include "layer1/dsp/dsp_context.h"
#include "layer1/dsp/mode_entries.h"
#include "layer1/dsp/procedure_state.h"
#include "layer1/dsp/register_window.h"

namespace {

// FSK start types per mode, originating and answering (-1: no FSK mode).
struct PumpRow {
    int32_t mode;
    int32_t originate;   // FSK type, or -2: V.22, -3: V.32bis
    int32_t answer;
};
constexpr int32_t kV22 = -2;
constexpr int32_t kV32bis = -3;
constexpr PumpRow kPumpByMode[] = {
    {0, 4, 5}, {1, kV22, kV22}, {6, kV22, kV22}, {7, kV22, kV22}, {2, 0, 0},
    {4, 6, 7}, {5, 8, 9}, {12, kV32bis, kV32bis}, {16, kV32bis, kV32bis},
};

}  // namespace

void StartPumpByMode(DspContext* ctx)
{
    for (const PumpRow& row : kPumpByMode) {
        if (row.mode != ctx->modeNumber)
            continue;
        const int32_t what = ctx->connection.originate ? row.originate : row.answer;
        if (what == kV22)
            StartV22(ctx);
        else if (what == kV32bis)
            StartV32bis(ctx, ctx->connection.originate ? 1 : 2);
        else
            StartLowSpeedMode(ctx, what);
        return;
    }
}

void StartV32bisCaller(DspContext* ctx)
{
    StartV32bis(ctx, 1);
    ctx->procedure.answerToneCounter = 0;
}

void InitProcedureDetectors(DspContext* ctx)
{
    ProcedureState& p = ctx->procedure;
    for (int k = 0; k < BAND_TONE_COUNT; ++k)
        InitBandToneDetector(&p.band[k], static_cast<BandTone>(k));
    InitNotchToneDetector(&p.notch2100, &kNotch2100, 5, 2);
    InitNotchToneDetector(&p.notch1800, &kNotch1800, 5, 2);
    InitNotchToneDetector(&p.notch1650, &kNotch1650, 5, 2);
    InitNotchToneDetector(&p.notch1300, &kNotch1300, 5, 2);
    InitNotchToneDetector(&p.notch2225, &kNotch2225, 5, 2);
    InitTwoNotchDetector(&p.pairAc, &kNotch600, &kNotch3000, 5, 2);
    InitTwoNotchDetector(&p.pairUsb1, &kNotch2250, &kNotch2850, 5, 2);
    const int32_t mode = ctx->modeNumber;
    InitNotchToneDetector(&p.fskMark, mode == 0 ? &kNotch2225 : ((mode == 4 || mode == 5) ? &kNotch1300 : &kNotch1650),
                          5, 2);
}

// Single tone, originating: the calling tone (started by the command) plays while the caller listens for the
// answer tone.
void StartSingleToneProcedure(DspContext* ctx)
{
    InitProcedureDetectors(ctx);
    SetOwnToneNotch(ctx, OWN_NOTCH_1100);
    ControlSequencer(&ctx->seqB, SEQ_START_AT, CallingToneSteps, 0);
}

void StartBasicProcedure(DspContext* ctx)
{
    ProcedureState& p = ctx->procedure;
    ctx->blockHandler = IdleBlockHandler;
    InitProcedureDetectors(ctx);
    if (!ctx->connection.originate) {
        p.list = BasicAnswerSteps;
        SetOwnToneNotch(ctx, OWN_NOTCH_2100);
        StartTone(ctx, (ctx->modeNumber == 12 || ctx->modeNumber == 16) ? 5 : 4);
    } else {
        p.list = BasicOriginateSteps;
        SetOwnToneNotch(ctx, OWN_NOTCH_1300);
        if (ctx->connection.lineOption & 1)
            StartTone(ctx, 2);
        else
            ControlSequencer(&ctx->seqA, SEQ_START_AT, kIdleListA, 0);
    }
    ControlSequencer(&ctx->seqB, SEQ_START_AT, p.list, 0);
}

void StartAutomodeProcedure(DspContext* ctx)
{
    ProcedureState& p = ctx->procedure;
    ctx->blockHandler = IdleBlockHandler;
    InitProcedureDetectors(ctx);
    if (!ctx->connection.originate) {
        p.list = AutomodeAnswerSteps;
        SetOwnToneNotch(ctx, OWN_NOTCH_2100);
        StartTone(ctx, 5);
    } else {
        p.list = AutomodeOriginateSteps;
        SetOwnToneNotch(ctx, OWN_NOTCH_1300);
        if (ctx->connection.lineOption & 1)
            StartTone(ctx, 2);
        else
            ControlSequencer(&ctx->seqA, SEQ_START_AT, kIdleListA, 0);
        p.answerToneCounter = 0;
    }
    ControlSequencer(&ctx->seqB, SEQ_START_AT, p.list, 0);
}

