// Phase 2's control head: start, restart, reset and options, the per-block handler and the hand-over to
// V.34 phase 3 or to PCM mode.
#include <cstring>

#include "layer1/dsp/dsp_context.h"
#include "layer1/dsp/register_window.h"
#include "layer1/modem/v34/phase2_state.h"

namespace {

// The connection option word (V34Link::connectionOptionWord).
constexpr uint32_t kOptionRatesLimited = 1u << 0;    // Phase2SetOption 0 chose the local symbol rates
constexpr uint32_t kOptionKeepWord1Bit0 = 1u << 1;   // the start leaves bit 0 of keptWord1 alone
constexpr uint32_t kOptionKeepWord1High = 1u << 3;   // the start leaves the upper half of keptWord1 alone
constexpr uint32_t kKeptWord1High = 30079;
// The connection mode byte (DspContext::modeFlagByte).
constexpr uint8_t kModePcmOffered = 1u << 1;
constexpr uint8_t kModePcmOption = 0x60;             // bits 5-6
constexpr int32_t kMaxInitialWaitMs = 30;
constexpr int32_t kV34ModeCaller = 17;
constexpr int32_t kV34ModeAnswerer = 18;
constexpr int32_t kRateCode33600 = 14;
constexpr uint8_t kPcmChoiceEvent[2] = {1, 6};
constexpr uint16_t kSampleRate = 9600;

// Every rate and carrier, power reduction, maximum rate difference 0, no CME, the 1664-point constellation.
void DefaultLocalInfo0(Info0Fields* f)
{
    std::memset(f, 0, sizeof(*f));
    f->support2400 = 1;
    for (uint16_t& c : f->capability)
        c = 1;
    f->constellation1664 = 1;
}

// Clears the symbol rates above v (2400 and 2743 keep only 2400) and always 3429; 3429-allowed stays.
void LimitSymbolRates(Info0Fields* f, int32_t v)
{
    static const int kAbove2743[] = {kInfo0Cap2743, kInfo0Cap2800, kInfo0Cap3000Low, kInfo0Cap3000High,
                                     kInfo0Cap3200Low, kInfo0Cap3200High};
    int first = 6;  // index into kAbove2743 of the first rate to clear
    switch (v) {
    case 2400:
    case 2743: first = 0; f->support2400 = 1; break;
    case 2800: first = 1; break;
    case 3000: first = 2; break;
    case 3200: first = 4; break;
    default: break;
    }
    for (int k = first; k < 6; ++k)
        f->capability[kAbove2743[k]] = 0;
    f->capability[kInfo0Cap3429] = 0;
}

void StartList(Phase2State& s, const StepEntry* list)
{
    ControlSequencer(&s.sequencer, SEQ_START_AT, list, 0);
}

}  // namespace

void HoldStep(void* owner)
{
    (void)owner;
}

Phase2Result* StartPhase2(DspContext* ctx)
{
    Phase2State& s = ctx->phase2;
    Phase2Result& r = ctx->phase2Result;
    V34Link& v = ctx->v34;
    LowerAudioInterface* la = ctx->lowerAudio;
    s.context = ctx;
    uint32_t answer = 0;
    LowerControl(la, LOWER_CODE_PHASE2, &s.lowerStatus, &answer);

    r.originate = static_cast<uint16_t>(ctx->connection.originate);
    if (ctx->modeNumber == kV34ModeCaller || ctx->modeNumber == kV34ModeAnswerer) {
        s.flags = ctx->connection.originate == 1 ? kPhase2Caller : 0;
    } else {
        // Any other connection type is a PCM candidate and answers.
        s.flags = kPhase2PcmCandidate;
        ctx->connection.originate = 0;
        r.originate = 0;
    }
    s.restartType = 0;
    s.exchangeState = 0;
    s.result = &r;
    if ((v.connectionOptionWord & kOptionKeepWord1Bit0) == 0)
        s.keptWord1 |= 1u;
    if ((v.connectionOptionWord & kOptionKeepWord1High) == 0)
        s.keptWord1 = (s.keptWord1 & 0xFFFFu) | (kKeptWord1High << 16);
    // The defaults, unless the rates were limited on top of them (a record cleared by a reset gets them too).
    if ((v.connectionOptionWord & kOptionRatesLimited) == 0 || s.localInfo0.support2400 == 0)
        DefaultLocalInfo0(&s.localInfo0);
    s.levelWords[0] = la->rxLevelWords[0];
    s.levelWords[1] = la->rxLevelWords[1];
    const uint8_t mode = ctx->modeFlagByte;
    s.localInfo0.pcmOffer = (mode & kModePcmOffered) != 0 ? 1 : 0;
    s.localInfo0.pcmOption = s.localInfo0.pcmOffer && (mode & kModePcmOption) != 0 ? (s.shortAnswer != 0) : 0;

    // The initial wait in samples, kept apart from the option (ms), so a second start waits as long.
    const int32_t waitSamples = s.initialWait * kPhase2BlockSamples / 10;
    StartList(s, Phase2FirstList(s.flags & kPhase2Caller));
    if (waitSamples != 0)
        ControlSequencer(&s.sequencer, SEQ_SET_REMAINING, nullptr, s.sequencer.remaining + waitSamples);

    InitPhase2Transmitter(&s.transmitter, (s.flags & kPhase2Caller) != 0 ? 0 : 1);
    InitInfoReceiver(&s.receiver, s.flags & kPhase2Caller, kInfo0Body);
    SetLowerFormat(la, kSampleRate, kPhase2BlockSamples);
    s.pathLatency = (la->rxDepthBlocks + la->txDepthBlocks) * kPhase2BlockSamples +
                    static_cast<int32_t>(la->extraSamples) + kPhase2BlockSamples / 2;
    r.restarting = 0;
    ctx->blockHandler = Phase2BlockHandler;
    return &r;
}

void ResetPhase2State(DspContext* ctx)
{
    Phase2State& s = ctx->phase2;
    const uint32_t kept0 = s.keptWord0;
    const uint32_t kept1 = s.keptWord1;
    std::memset(&s, 0, sizeof(s));
    s.keptWord0 = kept0;
    s.keptWord1 = kept1;
    ctx->v34.fallenBackToV34 = 0;
}

Phase2Result* RestartPhase2(DspContext* ctx, int32_t type)
{
    Phase2State& s = ctx->phase2;
    if ((s.flags & kPhase2PcmCandidate) != 0 && s.restartKind == 2)
        type = kRestartV34Fallback;
    s.initialWait = 0;
    StartPhase2(ctx);
    s.result->restarting = 1;
    s.flags |= kPhase2Restarting;
    s.exchangeState = 1;
    s.restartType = type;
    StartList(s, Phase2RestartList(type, s.flags & kPhase2Caller));
    s.result->restarting = 0;
    return s.result;
}

int32_t Phase2SetOption(DspContext* ctx, int32_t option, int32_t value)
{
    Phase2State& s = ctx->phase2;
    switch (option) {
    case 0:
        ctx->v34.connectionOptionWord |= kOptionRatesLimited;
        if (s.localInfo0.support2400 == 0)
            DefaultLocalInfo0(&s.localInfo0);
        LimitSymbolRates(&s.localInfo0, value);
        return 1;
    case 1:
        s.restartKind = 0;
        return 0;
    case 2:
        s.shortAnswer = value != 0;
        return s.shortAnswer;
    case 3:
        s.initialWait = static_cast<int16_t>(value < 0 ? 0 : (value > kMaxInitialWaitMs ? kMaxInitialWaitMs : value));
        return s.initialWait;
    default:
        return option - 3;
    }
}

void Phase2BlockHandler(DspContext* ctx)
{
    Phase2State& s = ctx->phase2;
    LowerAudioInterface* la = ctx->lowerAudio;
    // A failed read leaves zeros, never the last block again.
    std::memset(s.rxBlock, 0, sizeof(s.rxBlock));
    ReadSampleBlock(la, s.rxBlock, kPhase2BlockSamples);
    for (int i = 0; i < kPhase2BlockSamples; ++i) {
        s.lastSample = s.rxBlock[i];
        s.rxEvent = InfoReceiverSample(&s.receiver, s.lastSample);
        if (s.rtdCounter > 0 && s.rtdCounter < INT16_MAX)
            s.rtdCounter = static_cast<int16_t>(s.rtdCounter + 1);
        if (s.timeout > 0)
            s.timeout -= 1;
        s.sampleEvent = 0;
        RunStep(&s, &s.sequencer);
        s.txBlock[i] = Phase2TransmitSample(&s.transmitter);
    }
    WriteSampleBlock(la, s.txBlock, kPhase2BlockSamples);
    if ((s.flags & kPhase2Finished) != 0) {
        CollectPhase2Results(ctx);
        FinishPhase2(ctx);
    }
}

void DeliverPendingPhase2Event(DspContext* ctx)
{
    Phase2State& s = ctx->phase2;
    if (s.eventPending != 0 && PostReply(ctx->interfaceBlock, IcdEvent, 2, kPcmChoiceEvent) != 0)
        s.eventPending = 0;
}

void FinishPhase2(DspContext* ctx)
{
    Phase2State& s = ctx->phase2;
    s.flags = static_cast<uint16_t>(s.flags & ~kPhase2Restarting);
    if ((s.flags & kPhase2PcmCandidate) != 0 && s.restartType != kRestartV34Fallback) {
        // The controller learns that PCM was chosen; an event the mailbox cannot take yet is posted again on
        // later blocks until it is.
        if (s.remoteInfo0.pcmAnswer == 1 && s.localInfo0.pcmOffer == 1) {
            s.eventPending = 1;
            DeliverPendingPhase2Event(ctx);
        }
        StartPcmMode(ctx);
        return;
    }
    if (s.restartType == kRestartV34Fallback)
        ctx->v34.fallenBackToV34 = 1;
    ctx->v34.txRateCode = kRateCode33600;
    StartV34Phase3(ctx);
}
