// Tone and DTMF generation on the register window's commands: DTMF and pulse digits (0x66, 0x67, 0x88), tone
// pairs (0x7C), and the single calling and answer tones with their cadences (StartTone). Every tone is written
// into the transmit work buffer of the current block, which the idle block handler sends.
#include <cstring>

#include "layer1/dsp/command_dispatcher.h"
#include "layer1/dsp/mode_entries.h"
#include "layer1/dsp/nco.h"
#include "layer1/dsp/register_window.h"
#include "window/icd_packet.h"
#include "layer1/dsp/tone_generator.h"

namespace {

constexpr int32_t kDigitListStartCount = 96000;
constexpr int kDigitOnIndex = 1;
constexpr int16_t kAfterSilenceAmplitude = 6916;
constexpr uint8_t kSingleToneConnected = 8;  // status state

DspContext* Context(void* owner) { return static_cast<DspContext*>(owner); }
DualToneGenerator& Dual(DspContext* ctx) { return ctx->signal.dual; }
int32_t BlockLength(DspContext* ctx)
{
    const int32_t b = ctx->lowerAudio->format.blockLength;
    return b > 0 && b <= kLowerBufferSamples ? b : kLowerBufferSamples;
}

bool FirstTick(const Sequencer& s) { return s.remaining == s.list[s.position].count; }
bool LastTick(const Sequencer& s) { return s.remaining == 1; }

// In voice mode the generator's block goes to the sample stream at once.
void SendIfVoice(DspContext* ctx)
{
    if (!ctx->command.voiceActive)
        return;
    const int32_t b = BlockLength(ctx);
    WriteSampleBlock(ctx->lowerAudio, ctx->txWork, b);
    std::memset(ctx->txWork, 0, static_cast<size_t>(b) * sizeof(int16_t));
}

void ReturnSequencerAToIdle(DspContext* ctx)
{
    ControlSequencer(&ctx->seqA, SEQ_START_AT, kIdleListA, 0);
}

// --- the digit list ---

// Pulse mode dials digits only: a tone pair always plays as tones. Pulsing it would open the loop at its
// first block and, with its endless on step, never close it again: the call would be dropped.
bool Pulsing(const DualToneGenerator& g) { return g.pulseMode && !g.tonePairActive; }

void DigitStart(void* owner)
{
    DspContext* ctx = Context(owner);
    DualToneGenerator& g = Dual(ctx);
    g.phase1 = 0;
    g.phase2 = 0;
    if (!g.tonePairActive)
        ctx->command.digitBusy = 1;
    g.generatorActive = 1;
}

// Tone mode: one block of the pair. Pulse mode: the loop opens at the first tick (the break of a pulse).
void DigitOn(void* owner)
{
    DspContext* ctx = Context(owner);
    DualToneGenerator& g = Dual(ctx);
    const Sequencer& s = ctx->signal.digitSequencer;
    if (Pulsing(g)) {
        if (FirstTick(s))
            StartLowerStream(ctx->lowerAudio);
    } else {
        DualToneFillBlock(&g, ctx->txWork, BlockLength(ctx));
        SendIfVoice(ctx);
    }
    if (LastTick(s))
        ctx->command.digitBusy = 0;
}

// Tone mode: silence. Pulse mode: the loop closes at the first tick (the make), and the last tick goes back
// to DigitOn until every pulse of the digit has been sent.
void DigitOff(void* owner)
{
    DspContext* ctx = Context(owner);
    DualToneGenerator& g = Dual(ctx);
    Sequencer& s = ctx->signal.digitSequencer;
    if (!Pulsing(g)) {
        std::memset(ctx->txWork, 0, static_cast<size_t>(BlockLength(ctx)) * sizeof(int16_t));
        SendIfVoice(ctx);
        return;
    }
    if (FirstTick(s)) {
        StopLowerStream(ctx->lowerAudio);
        if (g.digit != 0)
            g.digit = static_cast<uint16_t>(g.digit - 1);
    }
    if (LastTick(s) && g.digit != 0)
        ControlSequencer(&s, SEQ_RESTART_AT, nullptr, kDigitOnIndex);
}

void DigitEnd(void* owner)
{
    DspContext* ctx = Context(owner);
    Dual(ctx).generatorActive = 0;
    if (LastTick(ctx->signal.digitSequencer)) {
        ReturnSequencerAToIdle(ctx);
        ctx->command.digitBusy = 0;
    }
}

// Sequencer A's step while a digit or a tone pair plays: one tick of the generator's own sequencer.
void RunDigitSequencer(void* owner)
{
    DspContext* ctx = Context(owner);
    RunStep(ctx, &ctx->signal.digitSequencer);
}

const StepEntry kDigitDriverList[] = {{{RunDigitSequencer}, -1}, kStepEnd};

void SetDigitCounts(DspContext* ctx, int32_t on, int32_t off, int32_t pause)
{
    StepEntry* list = ctx->signal.digitList;
    list[1].count = on;
    list[2].count = off;
    list[3].count = pause;
}

void StartDigitList(DspContext* ctx)
{
    ControlSequencer(&ctx->seqA, SEQ_START_AT, kDigitDriverList, 0);
    ControlSequencer(&ctx->signal.digitSequencer, SEQ_START_AT, ctx->signal.digitList, 0);
}

// --- the single tones ---

void ToneBlock(DspContext* ctx)
{
    ToneGenerator& t = ctx->signal.tone;
    const int32_t b = BlockLength(ctx);
    for (int32_t i = 0; i < b; ++i) {
        t.phase += t.step;
        int16_t s, c;
        NcoSinCos(t.phase, &s, &c);
        ctx->txWork[i] = static_cast<int16_t>((t.amplitude * s) >> 15);
    }
}

void SilenceBlock(DspContext* ctx)
{
    ToneGenerator& t = ctx->signal.tone;
    t.amplitude = 0;
    ToneBlock(ctx);
    t.amplitude = kAfterSilenceAmplitude;
}

void ToneStartStep(void* owner)
{
    DspContext* ctx = Context(owner);
    ctx->signal.tone.phase = 0;
    ToneBlock(ctx);
}

void ToneStep(void* owner) { ToneBlock(Context(owner)); }
void ToneSilenceStep(void* owner) { SilenceBlock(Context(owner)); }

// The tone turns by half a cycle at the start of the block. Moving the phase by half a cycle less one step
// would turn it by 180 degrees less one sample's advance (about 101 degrees at 2100 Hz), which answer-tone
// detectors do not take for a reversal.
void ToneReversalStep(void* owner)
{
    DspContext* ctx = Context(owner);
    ToneGenerator& t = ctx->signal.tone;
    t.phase += 0x8000u;
    ToneBlock(ctx);
}

void ToneRepeatStep(void* owner)
{
    DspContext* ctx = Context(owner);
    ToneBlock(ctx);
    ControlSequencer(&ctx->seqA, SEQ_RESTART_AT, nullptr, 1);
}

void ToneEndStep(void* owner)
{
    DspContext* ctx = Context(owner);
    if (ctx->connection.singleTone) {
        UpdateStatusRegister(ctx->interfaceBlock, kSingleToneConnected, 1);
        WriteRegister(ctx->interfaceBlock, kRegNotify, 1);
    }
    SilenceBlock(ctx);
}

// 1100 Hz, the fax calling tone: 0.5 s of tone, 3 s of silence (50 blocks on, 300 off).
const StepEntry kCallingToneList[] = {
    {{ToneStartStep}, 1}, {{ToneStep}, 49}, {{ToneSilenceStep}, 300}, {{ToneRepeatStep}, 1}, kStepEnd,
};
// 1500 Hz: 201 blocks of tone, 200 of silence.
const StepEntry kToneList200[] = {
    {{ToneStartStep}, 1}, {{ToneStep}, 200}, {{ToneSilenceStep}, 200}, {{ToneRepeatStep}, 1}, kStepEnd,
};
// 1300 Hz: 61 blocks of tone, 170 of silence.
const StepEntry kToneList60[] = {
    {{ToneStartStep}, 1}, {{ToneStep}, 60}, {{ToneSilenceStep}, 170}, {{ToneRepeatStep}, 1}, kStepEnd,
};
// 2100 Hz for 341 blocks, then silence.
const StepEntry kAnswerToneList[] = {
    {{ToneStartStep}, 1}, {{ToneStep}, 340}, {{ToneEndStep}, 1}, {{ToneSilenceStep}, -1}, kStepEnd,
};
// 2100 Hz with a phase reversal every 45 blocks.
const StepEntry kReversalToneList[] = {
    {{ToneStartStep}, 1}, {{ToneStep}, 43}, {{ToneReversalStep}, 1}, {{ToneRepeatStep}, 1}, kStepEnd,
};
const StepEntry kSilenceList[] = {{{ToneSilenceStep}, -1}, kStepEnd};

struct ToneType {
    uint32_t step;
    const StepEntry* list;
};

// Phase steps as listed (65536 / 9600 per Hz, 1500 Hz and 2100 Hz rounded up by one).
const ToneType kToneTypes[] = {
    {0, kSilenceList},
    {7509, kCallingToneList},    // 1: 1100 Hz
    {8874, kToneList60},         // 2: 1300 Hz
    {10240, kToneList200},       // 3: 1500 Hz
    {0x3800, kAnswerToneList},   // 4: 2100 Hz
    {0x3800, kReversalToneList}, // 5: 2100 Hz with reversals
    {0x3800, kReversalToneList}, // 6
};

}  // namespace

void InitToneGenerators(DspContext* ctx)
{
    FramerToneState& st = ctx->signal;
    st.digitList[0] = StepEntry{{DigitStart}, 1};
    st.digitList[1] = StepEntry{{DigitOn}, kDigitListStartCount};
    st.digitList[2] = StepEntry{{DigitOff}, kDigitListStartCount};
    st.digitList[3] = StepEntry{{DigitEnd}, kDigitListStartCount};
    st.digitList[4] = kStepEnd;
    for (int32_t& c : st.digitCounts)
        c = kDigitListStartCount;
    st.digitSequencer = Sequencer{st.digitList, 0, 0, 0};
    st.dual = DualToneGenerator{};
    // Until the first 0x88: the low group 2 dB below the high group, both low enough that their sum never clips.
    st.dual.level1 = DbToGain(ctx->lowerAudio, kDefaultHighGroupDb);
    st.dual.level2 = DbToGain(ctx->lowerAudio, kDefaultLowGroupDb);
    st.tone = ToneGenerator{kSilenceList, 0, 0, 0};
}

void StartTone(DspContext* ctx, int32_t type)
{
    ToneGenerator& t = ctx->signal.tone;
    const ToneType& k = type >= 1 && type <= 6 ? kToneTypes[type] : kToneTypes[0];
    t.amplitude = DbToGain(ctx->lowerAudio, ctx->txLevelDb);
    // The fax calling tone's bursts all go out at one level: the first is no louder than the ones after a
    // silence (with the transmit level at its 0 dB default it was the full scale, about +3 dBm0).
    if (type == 1 && t.amplitude > kAfterSilenceAmplitude)
        t.amplitude = kAfterSilenceAmplitude;
    t.step = k.step;
    t.list = k.list;
    ControlSequencer(&ctx->seqA, SEQ_START_AT, k.list, 0);
}

void CmdSetDtmfTiming(DspContext* ctx)
{
    const uint8_t* p = ctx->command.payload;
    DualToneGenerator& g = Dual(ctx);
    g.onTime = p[0];
    g.offTime = p[1];
    g.pulseMode = p[2] != 0 ? 1 : 0;
    g.pauseTime = static_cast<uint16_t>(p[4] | (p[5] << 8));
    int32_t* counts = ctx->signal.digitCounts;
    counts[0] = DigitBlockCount(g.onTime);
    counts[1] = DigitBlockCount(g.offTime);
    counts[2] = DigitBlockCount(g.pauseTime);
    SetDigitCounts(ctx, counts[0], counts[1], counts[2]);
    AckCommand(ctx, IcdSetDtmfTiming);
}

void CmdStartDigit(DspContext* ctx)
{
    DualToneGenerator& g = Dual(ctx);
    const int32_t digit = ctx->command.payload[0] & 0xF;
    if (g.pulseMode)
        g.digit = static_cast<uint16_t>(digit == 0 ? 10 : digit);
    else
        SetDtmfDigit(&g, digit);
    // A tone pair leaves the list with an endless on step; a digit never inherits it: it would play for ever
    // and, holding DigitBusy, leave every later command (reset included) unanswered.
    const int32_t* counts = ctx->signal.digitCounts;
    if (ctx->signal.digitList[kDigitOnIndex].count < 0)
        SetDigitCounts(ctx, counts[0], counts[1], counts[2]);
    StartDigitList(ctx);
    AckCommand(ctx, IcdStartDigit);
}

void CmdSetDualToneLevels(DspContext* ctx)
{
    const uint8_t* p = ctx->command.payload;
    DualToneGenerator& g = Dual(ctx);
    g.level1 = DbToGain(ctx->lowerAudio, (p[1] + 5) / -10);
    g.level2 = DbToGain(ctx->lowerAudio, (p[0] + 5) / -10);
    AckCommand(ctx, IcdSetDualToneLevels);
}

// The two words are phase steps; control bit 2 keeps their order and sets tone 1 to the transmit level.
void CmdPlayTonePair(DspContext* ctx)
{
    const IcdTonePairPayload pair = IcdDecodeTonePair(ctx->command.payload);
    const uint32_t word1 = pair.step1;
    const uint32_t word2 = pair.step2;
    const uint8_t control = pair.control;
    DualToneGenerator& g = Dual(ctx);
    if (control != 0) {
        const bool inOrder = (control & 0x04) != 0;
        if (inOrder)
            g.level1 = DbToGain(ctx->lowerAudio, ctx->txLevelDb);
        g.tonePairActive = 1;
        g.step1 = inOrder ? word1 : word2;
        g.step2 = inOrder ? word2 : word1;
        SetDigitCounts(ctx, -1, 1, 1);
        StartDigitList(ctx);
    } else if (g.tonePairActive) {
        g.tonePairActive = 0;
        ctx->signal.digitSequencer.remaining = 1;
        DigitEnd(ctx);
    }
    AckCommand(ctx, IcdPlayTonePair);
}
