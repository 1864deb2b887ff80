// The V.8 procedure: the caller listens for ANSam while its V.21 channel-1 transmitter idles, waits a second
// after recognising it and then lets the controller send its call menu; the answerer sends ANSam and listens
// for a V.32bis caller's 1800 Hz, a V.23 caller's 520 Hz or the call menu. The controller's second start
// command (with the phase-2 kind) carries the procedure on to the pump the exchange chose.
#include "layer1/dsp/dsp_context.h"
#include "layer1/dsp/mode_entries.h"
#include "layer1/dsp/procedure_state.h"
#include "layer1/dsp/register_window.h"
#include "layer1/modem/v34/phase2_state.h"
#include "platform/saturate.h"

namespace {

constexpr int32_t kFront7 = kFrontPreFilter | kFrontOwnNotch | kFrontNormalise;
constexpr int32_t kFront5 = kFrontPreFilter | kFrontNormalise;
constexpr uint8_t kProgressAnswerTone = 6;
constexpr uint8_t kProgressMenuWanted = 32;
constexpr uint8_t kProgressV8Running = 34;
constexpr int16_t kTeBlocks = 100;               // 1 s from ANSam to the call menu
constexpr int32_t kArmSamples = 500;             // 52 ms of 2100 Hz arm the tracker
constexpr int32_t kPlainAnswerTone = 13900;      // 1.45 s of 2100 Hz without modulation: a V.32bis answerer
constexpr int32_t kBell103Answer = 9600;         // 1 s of 2225 Hz
constexpr int32_t kCallerTone = 960;             // 100 ms of 1800 Hz or 520 Hz at the answerer
constexpr int32_t kLowLevelBlocks = 190;
constexpr int16_t kZeroOctets = 3;
constexpr int32_t kLoudFskGain = 0xB0000;

DspContext* Ctx(void* owner) { return static_cast<DspContext*>(owner); }
int32_t Samples(const DspContext* ctx) { return ctx->lowerAudio->format.blockLength; }

const int32_t* Front(DspContext* ctx, int32_t flags)
{
    DetectorFrontEnd(ctx, flags, ctx->rxWork, Samples(ctx));
    return ctx->detector.input;
}

bool Notch(DspContext* ctx, const int32_t* x, NotchToneDetector* d, int32_t limit)
{
    return RunNotchToneDetector(d, x, Samples(ctx), limit) != 0;
}

void Progress(DspContext* ctx, uint8_t value, bool notify)
{
    WriteRegister(ctx->interfaceBlock, kRegProgress, value);
    if (notify)
        WriteRegister(ctx->interfaceBlock, kRegNotify, 1);
}

void ToneOff(DspContext* ctx) { ControlSequencer(&ctx->seqA, SEQ_START_AT, kIdleListA, 0); }
void EndStep(DspContext* ctx) { ControlSequencer(&ctx->seqB, SEQ_END_STEP, nullptr, 0); }

// --- caller ---

void AnsamListen(void* owner)
{
    DspContext* ctx = Ctx(owner);
    ProcedureState& p = ctx->procedure;
    Progress(ctx, kProgressV8Running, true);
    const int32_t* x = Front(ctx, kFront5);
    int32_t filtered[kDetectorBlockSamples];
    const int32_t n = Samples(ctx) < kDetectorBlockSamples ? Samples(ctx) : kDetectorBlockSamples;
    AnsamBandFilter(&p.am, x, filtered, n);
    if (p.amArmed)
        TrackAm(&p.am, filtered, n);
    if (p.am.runCount > 0) {
        EndStep(ctx);
        return;
    }
    // On the normalised input, as the other procedures: the call-progress thresholds are set for it, and on the
    // bare pre-filtered block a busy line would never be reported to a V.8 caller.
    RunDetectorBank(ctx, x, Samples(ctx), 0);
    if (p.amArmed) {
        if (Notch(ctx, x, &p.notch2100, kPlainAnswerTone)) {
            Progress(ctx, kProgressAnswerTone, true);
            StartV32bisCaller(ctx);
            return;
        }
    } else if (Notch(ctx, x, &p.notch2100, kArmSamples)) {
        p.amArmed = 1;
        FreezeGainNormaliser(&ctx->detector.normaliser);
        InitNotchToneDetector(&p.notch2100, &kNotch2100, 5, 2);
    }
    if (Notch(ctx, x, &p.notch2225, kBell103Answer)) {
        Progress(ctx, kProgressAnswerTone, true);
        StartLowSpeedMode(ctx, 4);
    }
}

void TeWait(void* owner)
{
    DspContext* ctx = Ctx(owner);
    ProcedureState& p = ctx->procedure;
    p.v8Wait = static_cast<int16_t>(p.v8Wait - 1);
    if (p.v8Wait > 0)
        return;
    SetHold(ctx);
    Progress(ctx, kProgressMenuWanted, true);
    ctx->detector.preFilter = PreFilterState{0, 0};
    p.v8Continue = 0;
    EndStep(ctx);
}

void CallerExchange(void* owner)
{
    DspContext* ctx = Ctx(owner);
    const int32_t n = Samples(ctx);
    int32_t filtered[kLowerBufferSamples];
    DetectorPreFilter(&ctx->detector.preFilter, ctx->rxWork, filtered, n);
    for (int32_t i = 0; i < n; ++i)
        ctx->rxWork[i] = Saturate16(filtered[i]);
    RunFskReceiver(ctx, ctx->rxWork, n);
    if (ctx->procedure.v8Continue)
        EndStep(ctx);
}

void SendEnd(void* owner)
{
    DspContext* ctx = Ctx(owner);
    if (!ctx->fsk.mod.silent)
        return;
    ToneOff(ctx);
    EndStep(ctx);
    CheckFskRxLevel(ctx);
}

void StartOriginateStep(void* owner) { V8StartPumpOriginate(Ctx(owner)); }
void Hold(void*) {}

// --- answerer ---

void AnswerAnsam(void* owner)
{
    DspContext* ctx = Ctx(owner);
    ProcedureState& p = ctx->procedure;
    const int32_t* x = Front(ctx, kFront7);
    if (Notch(ctx, x, &p.notch1800, kCallerTone)) {
        p.seen1800 = 1;
        ControlSequencer(&ctx->seqB, SEQ_RESTART_AT, nullptr, 2);
    } else if (Notch(ctx, x, &p.notch520, kCallerTone)) {
        StartLowSpeedMode(ctx, 7);
        return;
    }
    RunFskReceiver(ctx, ctx->rxWork, Samples(ctx));
}

void AnswerToneOff(void* owner) { ToneOff(Ctx(owner)); }

void Choose(void* owner)
{
    DspContext* ctx = Ctx(owner);
    if (ctx->procedure.seen1800)
        StartV32bis(ctx, 2);
    else
        StartV22bisFallback(ctx);
}

// The newest entry of the receive FIFO, when one came since the last look: 1 when it is a zero octet.
bool ZeroOctetArrived(DspContext* ctx)
{
    const FramerRxState& rx = ctx->signal.framer.rx;
    if (rx.fifo.write == ctx->procedure.rxSeen)
        return false;
    ctx->procedure.rxSeen = rx.fifo.write;
    return rx.fifo.entry[(rx.fifo.write + kFramerFifoEntries - 1) % kFramerFifoEntries] == 0;
}

void AnswerExchange(void* owner)
{
    DspContext* ctx = Ctx(owner);
    ProcedureState& p = ctx->procedure;
    RunFskReceiver(ctx, ctx->rxWork, Samples(ctx));
    const FskDemodulatorState& d = ctx->fsk.demod;
    if (d.agc.exponent < d.savedExponent && d.agc.mantissa < d.savedMantissa) {
        const int16_t before = p.lowLevel;
        p.lowLevel = static_cast<int16_t>(p.lowLevel + 1);
        if (before > kLowLevelBlocks) {
            ToneOff(ctx);
            EndStep(ctx);
            return;
        }
    }
    if (ZeroOctetArrived(ctx)) {
        p.zeroOctets = static_cast<int16_t>(p.zeroOctets + 1);
        if (p.zeroOctets >= kZeroOctets) {
            ToneOff(ctx);
            EndStep(ctx);
        }
    }
}

void RestoreFskLevel(void* owner)
{
    FskDemodulatorState& d = Ctx(owner)->fsk.demod;
    d.agc.exponent = d.savedExponent;
    d.agc.mantissa = d.savedMantissa;
}

void StartAnswerStep(void* owner) { V8StartPumpAnswer(Ctx(owner)); }

// Pump start tables: FSK type, or one of the pumps below; -1 nothing.
constexpr int32_t kV22 = -2;
constexpr int32_t kV32bis = -3;
constexpr int32_t kPhase2 = -4;

int32_t OriginatePump(int32_t mode)
{
    if (mode > 16)
        return kPhase2;
    switch (mode) {
    case 0: return 4;
    case 1: case 6: case 7: return kV22;
    case 2: case 3: return 0;
    case 4: return 6;
    case 5: return 8;
    case 12: case 16: return kV32bis;
    default: return -1;
    }
}

int32_t AnswerPump(int32_t mode)
{
    switch (mode) {
    case 17: case 18: case 23: case 24: return kPhase2;
    case 0: return 5;
    case 1: case 6: case 7: return kV22;
    case 2: case 3: return 0;
    case 4: return 7;
    case 5: return 9;
    case 12: case 16: return kV32bis;
    default: return -1;
    }
}

void StartPump(DspContext* ctx, int32_t what, int32_t v32Type)
{
    if (what == kPhase2)
        StartPhase2(ctx);
    else if (what == kV22)
        StartV22(ctx);
    else if (what == kV32bis)
        StartV32bis(ctx, v32Type);
    else if (what >= 0)
        StartLowSpeedMode(ctx, what);
}

}  // namespace

const StepEntry V8OriginateSteps[] = {
    {{AnsamListen}, -1}, {{TeWait}, -1}, {{CallerExchange}, -1}, {{SendEnd}, -1}, {{StartOriginateStep}, 1},
    {{Hold}, -1}, kStepEnd,
};

const StepEntry V8AnswerSteps[] = {
    {{AnswerAnsam}, 500}, {{AnswerToneOff}, 5}, {{Choose}, 1}, {{AnswerExchange}, -1}, {{RestoreFskLevel}, 1},
    {{StartAnswerStep}, 1}, {{Hold}, -1}, kStepEnd,
};

void V8StartPumpOriginate(DspContext* ctx) { StartPump(ctx, OriginatePump(ctx->modeNumber), 1); }
void V8StartPumpAnswer(DspContext* ctx) { StartPump(ctx, AnswerPump(ctx->modeNumber), 2); }

void StartV22bisFallback(DspContext* ctx)
{
    ctx->connection.procedureKind = 1;
    ctx->modeNumber = 7;
    ctx->connection.rateCode = 4;
    StartV22(ctx);
}

void CheckFskRxLevel(DspContext* ctx)
{
    FskDemodulatorState& d = ctx->fsk.demod;
    const int64_t g = static_cast<int64_t>(d.agc.mantissa) << (d.agc.exponent & 31);
    if (g >= kLoudFskGain) {
        uint32_t value = 6;
        uint32_t out = 0;
        LowerControl(ctx->lowerAudio, LOWER_CODE_RX_GAIN, &value, &out);
        d.agc.exponent -= 1;
    }
    d.agc.frozen = 1;
    d.savedExponent = d.agc.exponent;
    d.savedMantissa = d.agc.mantissa;
}

void StartV8Procedure(DspContext* ctx)
{
    ProcedureState& p = ctx->procedure;
    ctx->detector.preFilter = PreFilterState{0, 0};
    if (ctx->connection.originate) {
        StartAmTracker(&p.am, Samples(ctx));
        p.amArmed = 0;
        InitNotchToneDetector(&p.notch2100, &kNotch2100, 3, 1);
        InitNotchToneDetector(&p.notch2225, &kNotch2225, 5, 2);
        InitGainNormaliser(&ctx->detector.normaliser, 7, 0x3000);
        StartLowSpeedMode(ctx, 11);
        p.list = V8OriginateSteps;
        p.v8Wait = kTeBlocks;
        ControlSequencer(&ctx->seqB, SEQ_START_AT, p.list, 0);
    } else {
        ResetBandToneDetector(&p.band[BAND_1800]);
        InitNotchToneDetector(&p.notch1800, &kNotch1800, 5, 2);
        InitNotchToneDetector(&p.notch1270, &kNotch1270, 5, 2);
        InitNotchToneDetector(&p.notch520, &kNotch520, 5, 2);
        StartLowSpeedMode(ctx, 12);
        SetOwnToneNotch(ctx, OWN_NOTCH_2100);
        p.list = V8AnswerSteps;
        p.seen1800 = 0;
        ControlSequencer(&ctx->seqB, SEQ_START_AT, p.list, 0);
        ControlSequencer(&ctx->seqA, SEQ_START_AT, AnsamSteps, 0);
    }
    Progress(ctx, kProgressV8Running, true);
}

// The continuations act only while the V.8 procedure of their side runs: one that comes at another time (a
// controller out of step, or no V.8 procedure started) would carry stale state on.
void Phase2OriginateContinue(DspContext* ctx)
{
    if (ctx->seqB.list != V8OriginateSteps)
        return;
    ctx->procedure.v8Continue = 1;
    ctx->procedure.savedLevel = ctx->rxLevel;
}

void Phase2AnswerContinue(DspContext* ctx)
{
    ProcedureState& p = ctx->procedure;
    if (ctx->seqB.list != V8AnswerSteps || ctx->fsk.txList == nullptr)
        return;
    p.zeroOctets = 0;
    p.lowLevel = 0;
    p.rxSeen = ctx->signal.framer.rx.fifo.write;
    p.savedLevel = ctx->rxLevel;
    CheckFskRxLevel(ctx);
    ControlSequencer(&ctx->seqA, SEQ_START_AT, ctx->fsk.txList, 0);
    ControlSequencer(&ctx->seqB, SEQ_START_AT, V8AnswerSteps, 3);
}
