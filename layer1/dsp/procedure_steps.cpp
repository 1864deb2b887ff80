// The listening and deciding steps of the single-tone, basic and automode procedures (sequencer B, one tick
// per block). Every listening step starts with the detector front end on the received block; the tests run
// on its normalised output.
#include "layer1/dsp/dsp_context.h"
#include "layer1/dsp/mode_entries.h"
#include "layer1/dsp/procedure_state.h"
#include "layer1/dsp/register_window.h"

namespace {

constexpr int32_t kFront7 = kFrontPreFilter | kFrontOwnNotch | kFrontNormalise;
constexpr int32_t kFront5 = kFrontPreFilter | kFrontNormalise;
constexpr int32_t kFront1 = kFrontPreFilter;
constexpr uint8_t kProgressAnswerTone = 6;
constexpr uint8_t kPumpStateSingleToneConnected = 8;

DspContext* Ctx(void* owner) { return static_cast<DspContext*>(owner); }
int32_t Samples(const DspContext* ctx) { return ctx->lowerAudio->format.blockLength; }

const int32_t* Front(DspContext* ctx, int32_t flags)
{
    DetectorFrontEnd(ctx, flags, ctx->rxWork, Samples(ctx));
    return ctx->detector.input;
}

bool Band(DspContext* ctx, const int32_t* x, BandTone tone, int32_t blocks)
{
    return RunBandToneDetector(x, &ctx->procedure.band[tone], blocks, Samples(ctx)) != 0;
}

bool Notch(DspContext* ctx, const int32_t* x, NotchToneDetector* d, int32_t limit)
{
    return RunNotchToneDetector(d, x, Samples(ctx), limit) != 0;
}

bool V22Mode(int32_t mode) { return mode == 1 || mode == 6 || mode == 7; }
bool V32Mode(int32_t mode) { return mode == 12 || mode == 16; }

void ToneOff(DspContext* ctx) { ControlSequencer(&ctx->seqA, SEQ_START_AT, kIdleListA, 0); }
void EndStep(DspContext* ctx) { ControlSequencer(&ctx->seqB, SEQ_END_STEP, nullptr, 0); }
// Moves sequencer B to an entry of the procedure list from the next tick on.
void JumpTo(DspContext* ctx, int32_t index)
{
    ControlSequencer(&ctx->seqB, SEQ_RESTART_AT, nullptr, index);
}

// --- single tone ---

void WaitAnswerTone(void* owner)
{
    DspContext* ctx = Ctx(owner);
    if (Band(ctx, Front(ctx, kFront7), BAND_2100, 10))
        EndStep(ctx);
}

void WaitAnswerToneEnd(void* owner)
{
    DspContext* ctx = Ctx(owner);
    if (Band(ctx, Front(ctx, kFront7), BAND_2100, 1))
        return;
    UpdateStatusRegister(ctx->interfaceBlock, kPumpStateSingleToneConnected, 1);
    UpdateStatusRegister(ctx->interfaceBlock, kStatusConnected, 1);
    WriteRegister(ctx->interfaceBlock, kRegNotify, 1);
    ToneOff(ctx);
    EndStep(ctx);
}

void Hold(void*) {}

// --- basic ---

// The caller listens: the answer tone stops the calling tone (then V.32bis waits on, other modes wait for
// their answerer's signal); in the V.22 and V.32bis modes the answerer's own signal may come first.
void BasicListen(void* owner)
{
    DspContext* ctx = Ctx(owner);
    ProcedureState& p = ctx->procedure;
    const int32_t mode = ctx->modeNumber;
    const int32_t* x = Front(ctx, kFront7);
    if (!ctx->command.voiceActive)
        RunDetectorBank(ctx, x, Samples(ctx), 0);
    const bool answerTone = Notch(ctx, x, &p.notch2100, 960);
    if (answerTone) {
        ToneOff(ctx);
        JumpTo(ctx, V32Mode(mode) ? 1 : 2);
    }
    if (V22Mode(mode) || V32Mode(mode)) {
        if (Notch(ctx, x, V22Mode(mode) ? &p.pairUsb1 : &p.pairAc, 1488))
            StartPumpByMode(ctx);
    } else if (answerTone) {
        StartPumpByMode(ctx);
    }
}

void BasicV32Wait(void* owner)
{
    DspContext* ctx = Ctx(owner);
    ProcedureState& p = ctx->procedure;
    const int32_t* x = Front(ctx, kFront5);
    if (Notch(ctx, x, &p.notch2100, 8640) || Notch(ctx, x, &p.pairAc, 96))
        StartV32bis(ctx, 1);
}

void BasicModeWait(void* owner)
{
    DspContext* ctx = Ctx(owner);
    ProcedureState& p = ctx->procedure;
    const int32_t mode = ctx->modeNumber;
    const int32_t* x = Front(ctx, kFront5);
    NotchToneDetector* d = V22Mode(mode) ? &p.pairUsb1 : (V32Mode(mode) ? &p.pairAc : &p.fskMark);
    if (Notch(ctx, x, d, 1488))
        StartPumpByMode(ctx);
}

void BasicAnswerTone(void* owner)
{
    DspContext* ctx = Ctx(owner);
    const int32_t* x = Front(ctx, kFront7);
    if (V32Mode(ctx->modeNumber) && Notch(ctx, x, &ctx->procedure.notch1800, 960))
        EndStep(ctx);
}

void Silence(void* owner)
{
    DspContext* ctx = Ctx(owner);
    Front(ctx, kFront1);
    ToneOff(ctx);
}

void StartPump(void* owner) { StartPumpByMode(Ctx(owner)); }

// --- automode ---

void AutomodeListen(void* owner)
{
    DspContext* ctx = Ctx(owner);
    ProcedureState& p = ctx->procedure;
    const int32_t* x = Front(ctx, kFront7);
    // The call-progress thresholds are set for the normalised input, as in the basic procedure: on the
    // bare pre-filtered block a busy tone during the answer wait would never be reported.
    RunDetectorBank(ctx, x, Samples(ctx), 0);
    if (Band(ctx, x, BAND_2100, 10)) {
        ToneOff(ctx);
        JumpTo(ctx, 2);
        WriteRegister(ctx->interfaceBlock, kRegProgress, kProgressAnswerTone);
    }
    if (Band(ctx, x, BAND_1300, 10))
        StartLowSpeedMode(ctx, 6);
    if (Band(ctx, x, BAND_1650, 10))
        StartLowSpeedMode(ctx, 0);
    const bool ac600 = Band(ctx, x, BAND_600, 10);
    if (Band(ctx, x, BAND_3000, 10) || ac600)
        StartV32bisCaller(ctx);
    if (Band(ctx, x, BAND_2250, 16)) {
        // The 3.1 s wait gives a V.32bis answerer time to show itself. Without a V.32bis pump it only
        // outlasts a V.22bis answerer's wait for S1, which then drops to V.22 while this caller would go on
        // at 2400: the caller starts V.22bis at once instead.
        p.waitCounter = V32bisAvailable() ? 310 : 1;
        ToneOff(ctx);
        JumpTo(ctx, 1);
    }
}

void AutomodeV22Wait(void* owner)
{
    DspContext* ctx = Ctx(owner);
    ProcedureState& p = ctx->procedure;
    const int32_t* x = Front(ctx, kFront5);
    if (Band(ctx, x, BAND_2250, 1)) {
        p.waitCounter = static_cast<int16_t>(p.waitCounter - 1);
        if (p.waitCounter <= 0)
            StartV22(ctx);
    } else if (Band(ctx, x, BAND_600, 1)) {
        StartV32bisCaller(ctx);
    }
}

void AutomodeAnswerToneWait(void* owner)
{
    DspContext* ctx = Ctx(owner);
    ProcedureState& p = ctx->procedure;
    const int32_t* x = Front(ctx, kFront5);
    if (!Band(ctx, x, BAND_2100, 1)) {
        JumpTo(ctx, 0);
        return;
    }
    const int32_t before = p.answerToneCounter;
    p.answerToneCounter += 1;
    if (before > 90) {
        p.answerToneCounter = 0;
        StartV32bisCaller(ctx);
    }
}

void AutomodeAnswerTone(void* owner)
{
    DspContext* ctx = Ctx(owner);
    const int32_t* x = Front(ctx, kFront7);
    if (Band(ctx, x, BAND_1800, 10))
        JumpTo(ctx, 3);
}

void ToneOffStep(void* owner) { ToneOff(Ctx(owner)); }
void StartV22Step(void* owner) { StartV22(Ctx(owner)); }
void StartV32bisAnswerStep(void* owner) { StartV32bis(Ctx(owner), 2); }

// After a failed V.32bis answer: listen with the FSK receiver; ten ones in a row hand over to the FSK mode.
void FskListen(void* owner)
{
    DspContext* ctx = Ctx(owner);
    RunFskReceiver(ctx, ctx->rxWork, Samples(ctx));
    if (ctx->fsk.demod.onesCount > 10)
        ControlSequencer(&ctx->seqB, SEQ_START_AT, FskReceiveList(), 0);
}

void StartV23AnswerStep(void* owner)
{
    DspContext* ctx = Ctx(owner);
    StartLowSpeedMode(ctx, 7);
    ctx->procedure.list = AutomodeAnswerSteps;
    ControlSequencer(&ctx->seqB, SEQ_START_AT, AutomodeAnswerSteps, 7);
}

// The pump resets itself: a full reset, whatever the last command left in the command record.
void ResetStep(void* owner) { FullResetDsp(Ctx(owner)); }

}  // namespace

const StepEntry CallingToneSteps[] = {{{WaitAnswerTone}, -1}, {{WaitAnswerToneEnd}, -1}, {{Hold}, -1}, kStepEnd};

const StepEntry BasicOriginateSteps[] = {{{BasicListen}, -1}, {{BasicV32Wait}, -1}, {{BasicModeWait}, -1}, kStepEnd};

const StepEntry BasicAnswerSteps[] = {
    {{BasicAnswerTone}, 270}, {{Silence}, 8}, {{StartPump}, 1}, {{Hold}, -1}, kStepEnd,
};

const StepEntry AutomodeOriginateSteps[] = {
    {{AutomodeListen}, -1}, {{AutomodeV22Wait}, -1}, {{AutomodeAnswerToneWait}, -1}, kStepEnd,
};

const StepEntry AutomodeAnswerSteps[] = {
    {{AutomodeAnswerTone}, 270}, {{ToneOffStep}, 7}, {{StartV22Step}, 1}, {{ToneOffStep}, 7},
    {{StartV32bisAnswerStep}, 1}, {{FskListen}, 200}, {{StartV23AnswerStep}, 1}, {{FskListen}, 200},
    {{ResetStep}, 1}, {{Hold}, -1}, kStepEnd,
};
