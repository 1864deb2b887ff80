// The phase-2 handlers that set the transmitter, load the counters and measure the round trip.
#include "layer1/modem/v34/phase2_handlers.h"

#include "layer1/dsp/dsp_context.h"
#include "layer1/modem/v34/phase2_state.h"

namespace {

constexpr int16_t kSecondToneLevel = 3464;
constexpr int32_t kAnswerDelay = 384;        // the far end answers a reversal 40 ms after it arrives
constexpr int32_t kRtdTimeout = 19200;       // 2 s for the far end's reversal
constexpr int32_t kL2TimeoutCaller = 6240;
constexpr int32_t kL2TimeoutAnswerer = 5760;
constexpr int32_t kInfo1Timeout = 6720;
constexpr int32_t kProbeTimeout = 8640;

Phase2State* S(void* owner)
{
    return static_cast<Phase2State*>(owner);
}

bool IsCaller(const Phase2State* s)
{
    return (s->flags & kPhase2Caller) != 0;
}

void Next(Phase2State* s)
{
    ControlSequencer(&s->sequencer, SEQ_END_STEP, nullptr, 0);
}

void SendFrame(Phase2State* s, uint32_t (*build)(Phase2State*, uint32_t*))
{
    uint32_t words[kInfoFrameWords32] = {};
    const uint32_t n = build(s, words);
    TxFrame(&s->transmitter, words, static_cast<int32_t>(n));
}

uint32_t BuildLocalInfo0(Phase2State* s, uint32_t* words)
{
    s->localInfo0.acknowledge = 0;
    return BuildInfo0(s->localInfo0, words);
}

// The PCM-mode record's four fields of the PCM INFO1a.
uint32_t BuildPcmInfo1a(Phase2State* s, uint32_t* words)
{
    const uint8_t* f = s->context->pcm.fields;
    return BuildInfo1Pcm(f[0], f[1], f[2], f[3], words);
}

}  // namespace

void Phase2StartListFromHandler(Phase2State* s, const StepEntry* list)
{
    ControlSequencer(&s->sequencer, SEQ_START_AT, list, 0);
    if (s->sequencer.remaining > 0)
        s->sequencer.remaining += 1;
}

void Phase2RestartOnTone(Phase2State* s)
{
    s->flags = static_cast<uint16_t>((s->flags & ~kPhase2AwaitInfo1) | kPhase2Restarting);
    s->restartType = 7;
    Phase2StartListFromHandler(s, Phase2RestartList(7, IsCaller(s)));
}

void P2Wait(void* owner)
{
    (void)owner;
}

void P2TxSilence(void* owner)
{
    TxSilence(&S(owner)->transmitter);
}

void P2TxCarrier(void* owner)
{
    TxCarrier(&S(owner)->transmitter);
}

void P2TxReversal(void* owner)
{
    TxReversal(&S(owner)->transmitter);
}

void P2TxReversals(void* owner)
{
    TxReversals(&S(owner)->transmitter);
}

void P2TxL1(void* owner)
{
    Phase2State* s = S(owner);
    TxProbeL1(&s->transmitter);
    SetCarrierFilter(&s->receiver, 1);
}

void P2TxL2(void* owner)
{
    Phase2State* s = S(owner);
    TxProbeL2(&s->transmitter);
    s->timeout = s->rtd + (IsCaller(s) ? kL2TimeoutCaller : kL2TimeoutAnswerer);
}

void P2SecondTone(void* owner)
{
    SetSecondTone(&S(owner)->transmitter, kSecondToneLevel);
}

void P2SendInfo0(void* owner)
{
    SendFrame(S(owner), BuildLocalInfo0);
}

void P2SendInfo1c(void* owner)
{
    SendFrame(S(owner), BuildInfo1c);
}

void P2SendInfo1a(void* owner)
{
    SendFrame(S(owner), BuildInfo1a);
}

void P2SendInfo1aPcm(void* owner)
{
    SendFrame(S(owner), BuildPcmInfo1a);
}

void P2WaitSent(void* owner)
{
    Phase2State* s = S(owner);
    if (TxTakeDone(&s->transmitter) == 1)
        Next(s);
}

void P2WaitSentRtd(void* owner)
{
    Phase2State* s = S(owner);
    if (TxTakeDone(&s->transmitter) == 1) {
        Next(s);
        s->timeout = s->rtd + kInfo1Timeout;
    }
}

void P2ExpectInfo0(void* owner)
{
    Phase2State* s = S(owner);
    s->localInfo0.acknowledge = 0;
    if ((s->flags & kPhase2PcmCandidate) != 0 && s->restartType != kRestartV34Fallback) {
        ExpectInfoLength(&s->receiver, kInfo0PcmBody);
    } else {
        static const int32_t kLengths[] = {kInfo0Body, kInfoShortBody};
        ExpectInfoLengths(&s->receiver, kLengths, 2);
    }
    s->exchangeState = (s->flags & kPhase2Restarting) != 0 ? 1 : 0;
}

void P2ExpectInfo1a(void* owner)
{
    ExpectInfoLength(&S(owner)->receiver, kInfo1aBody);
}

void P2ExpectInfo1c(void* owner)
{
    ExpectInfoLength(&S(owner)->receiver, kInfo1cBody);
}

void P2DelayAnswerReversal(void* owner)
{
    Phase2State* s = S(owner);
    s->waitCounter = kAnswerDelay - 1 - s->pathLatency;
}

void P2DelayLatency(void* owner)
{
    Phase2State* s = S(owner);
    s->waitCounter = s->pathLatency - 1;
}

// Ends when the counter was 1 or less, so a latency beyond the answering delay cannot hang phase 2.
void P2CountDelay(void* owner)
{
    Phase2State* s = S(owner);
    const int32_t was = s->waitCounter;
    s->waitCounter = was - 1;
    if (was <= 1)
        Next(s);
}

void P2StartRtd(void* owner)
{
    Phase2State* s = S(owner);
    s->flags = static_cast<uint16_t>(s->flags & ~kPhase2AwaitInfo1);
    s->rtdCounter = 1;
    s->timeout = kRtdTimeout;
}

void P2MeasureRtd(void* owner)
{
    Phase2State* s = S(owner);
    if (s->timeout == 0) {
        Phase2StartListFromHandler(s, Phase2RetryList(IsCaller(s)));
        return;
    }
    const int32_t event = s->rxEvent;
    if (event == kInfoRxFrame || event == kInfoRxCrcError) {
        // A stray sync in noise: drop the report, or it would hide the far end's reversal.
        InfoReceiverDropReport(&s->receiver);
        return;
    }
    if (event != kInfoRxReversal)
        return;
    const int32_t rtd = s->rtdCounter - s->pathLatency - kAnswerDelay;
    s->rtd = static_cast<int16_t>(rtd < 0 ? 0 : rtd);
    Next(s);
    s->timeout = s->rtd + kProbeTimeout;
}

void P2StartProbeAnalysis(void* owner)
{
    InitProbeAnalysis(&S(owner)->analysis);
}

void P2RunProbeAnalysis(void* owner)
{
    Phase2State* s = S(owner);
    if (ProbeAnalysisSample(&s->analysis, s->lastSample) == 1) {
        EvaluateProbe(&s->analysis, &s->probe);
        Next(s);
    }
}

void P2ChooseMainList(void* owner)
{
    Phase2State* s = S(owner);
    if (IsCaller(s))
        Phase2StartListFromHandler(s, Phase2MainList(1));
    else if (s->localInfo0.pcmOption != 0 && s->shortAnswer != 0)
        Phase2StartListFromHandler(s, Phase2ShortAnswererList());
    else
        Phase2StartListFromHandler(s, Phase2MainList(0));
}

void P2Finish(void* owner)
{
    Phase2State* s = S(owner);
    s->flags = static_cast<uint16_t>(s->flags | kPhase2Finished);
}
