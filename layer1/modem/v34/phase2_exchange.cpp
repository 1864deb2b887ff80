// The phase-2 handlers that wait on the far end: tones and reversals, the INFO0 exchange with its
// acknowledgement and resend path, and the INFO1 receivers with their time-out and restart lists.
#include "layer1/dsp/dsp_context.h"
#include "layer1/modem/v34/phase2_handlers.h"
#include "layer1/modem/v34/phase2_state.h"

namespace {

constexpr int32_t kToneWaitSamples = 384;
constexpr int32_t kMdUnitSamples = 336;      // 35 ms
constexpr int32_t kExchangeTail = 2000;      // the answerer's carrier before it leaves the exchange
constexpr int32_t kLongTimeoutBase = 19200;
constexpr int32_t kMaxTimeout = INT32_MAX;

Phase2State* S(void* owner)
{
    return static_cast<Phase2State*>(owner);
}

bool IsCaller(const Phase2State* s)
{
    return (s->flags & kPhase2Caller) != 0;
}

bool PcmCandidate(const Phase2State* s)
{
    return (s->flags & kPhase2PcmCandidate) != 0 && s->restartType != kRestartV34Fallback;
}

void Next(Phase2State* s)
{
    ControlSequencer(&s->sequencer, SEQ_END_STEP, nullptr, 0);
}

bool StepOpen(const Phase2State* s)
{
    return s->sequencer.remaining < 0;
}

void SetStepCount(Phase2State* s, int32_t n)
{
    ControlSequencer(&s->sequencer, SEQ_SET_REMAINING, nullptr, n);
}

// The receiver's event for a step that waits for a tone or a reversal. The receiver holds a frame or a CRC
// error until it is read, and in noise a stray sync ends in a CRC error: such a report is taken and dropped
// here, or it would hide the tone and the reversals from every later step that does not read frames.
int32_t ToneEvent(Phase2State* s)
{
    const int32_t event = s->rxEvent;
    if (event == kInfoRxFrame || event == kInfoRxCrcError)
        InfoReceiverDropReport(&s->receiver);
    return event;
}

// ---- INFO0 exchange ----

void ParseRemoteInfo0(Phase2State* s, const uint16_t* body)
{
    if (!IsCaller(s) && PcmCandidate(s))
        ParseInfo0Pcm(body, &s->remoteInfo0);
    else
        ParseInfo0(body, &s->remoteInfo0);
    s->localInfo0.acknowledge = 1;
}

void Resend(Phase2State* s)
{
    uint32_t words[kInfoFrameWords32] = {};
    const uint32_t n = BuildInfo0(s->localInfo0, words);
    TxRewriteFrame(&s->transmitter, words, static_cast<int32_t>(n));
    TxSetMode(&s->transmitter, kTxModeFrameRepeat);
    s->exchangeState = 3;
    if (!IsCaller(s))
        SetStepCount(s, -1);
}

void GoOn(Phase2State* s)
{
    TxSetMode(&s->transmitter, kTxModeFrameOnce);
    s->exchangeState = 4;
}

void Exchange(Phase2State* s, bool caller)
{
    uint16_t body[kInfoBodyWords16] = {};
    int32_t length = 0;
    const int32_t event = InfoReceiverRead(&s->receiver, body, &length);
    switch (s->exchangeState) {
    case 0:
        if (event == kInfoRxFrame) {
            ParseRemoteInfo0(s, body);
            s->exchangeState = 2;
        } else if (event == kInfoRxTone) {
            TxSetMode(&s->transmitter, kTxModeFrameRepeat);
            s->exchangeState = 3;
        }
        break;
    case 1:
        if (caller) {
            if (event == kInfoRxReversal) {
                Next(s);
            } else if (event == kInfoRxFrame) {
                ParseRemoteInfo0(s, body);
                Resend(s);
            }
        } else if (event == kInfoRxFrame && !PcmCandidate(s)) {
            s->localInfo0.acknowledge = 1;
            Resend(s);
        } else if (event == kInfoRxTone && StepOpen(s)) {
            SetStepCount(s, kExchangeTail);
        }
        break;
    case 2:
        if (caller) {
            if (event == kInfoRxReversal)
                Next(s);
            else if (event == kInfoRxSync && s->remoteInfo0.acknowledge == 0)
                Resend(s);
        } else if (event == kInfoRxSync && s->remoteInfo0.acknowledge == 0 && !PcmCandidate(s)) {
            Resend(s);
        } else if (event == kInfoRxTone && StepOpen(s)) {
            SetStepCount(s, s->shortAnswer != 0 ? 1 : kExchangeTail);
        }
        break;
    case 3:
        if (event == kInfoRxFrame) {
            ParseRemoteInfo0(s, body);
            uint32_t words[kInfoFrameWords32] = {};
            const uint32_t n = BuildInfo0(s->localInfo0, words);
            TxRewriteFrame(&s->transmitter, words, static_cast<int32_t>(n));
            if (s->remoteInfo0.acknowledge == 1)
                GoOn(s);
        } else if (event == kInfoRxTone && s->localInfo0.acknowledge == 1) {
            GoOn(s);
        }
        break;
    case 4:
        if (event == kInfoRxTone)
            s->exchangeState = 2;
        break;
    default:
        break;
    }
}

// ---- INFO1 receivers ----

void ReceiveInfo1(Phase2State* s, int32_t retryType, bool caller)
{
    if (s->timeout == 0 && (s->flags & (kPhase2Restarting | kPhase2AwaitInfo1)) == 0) {
        Phase2StartListFromHandler(s, Phase2RestartList(retryType, caller));
        s->flags = static_cast<uint16_t>(s->flags | kPhase2AwaitInfo1);
        return;
    }
    uint16_t body[kInfoBodyWords16] = {};
    int32_t length = 0;
    const int32_t event = InfoReceiverRead(&s->receiver, body, &length);
    if (event == kInfoRxFrame) {
        if (caller) {
            ParseInfo1a(body, &s->info1a);
        } else {
            ParseInfo1c(body, &s->info1c);
            // A PCM answer against this modem's offer: 3429 is taken on its one carrier, whatever came.
            if (s->remoteInfo0.pcmAnswer == 1 && s->localInfo0.pcmOffer == 1)
                s->info1c.rate[kSymbolRates - 1].highCarrier = 1;
        }
        Next(s);
        s->flags = static_cast<uint16_t>(s->flags & ~kPhase2AwaitInfo1);
    } else if (event == kInfoRxTone && (s->flags & kPhase2AwaitInfo1) != 0) {
        Phase2RestartOnTone(s);
    }
}

}  // namespace

void P2Info0ExchangeCaller(void* owner)
{
    Exchange(S(owner), true);
}

void P2Info0ExchangeAnswerer(void* owner)
{
    Exchange(S(owner), false);
}

void P2ReceiveInfo1a(void* owner)
{
    ReceiveInfo1(S(owner), 1, true);
}

void P2ReceiveInfo1c(void* owner)
{
    ReceiveInfo1(S(owner), 6, false);
}

// ---- waits ----

void P2WaitReversal(void* owner)
{
    Phase2State* s = S(owner);
    const int32_t event = ToneEvent(s);
    if (event == kInfoRxReversal)
        Next(s);
}

void P2WaitReversalOrTimeout(void* owner)
{
    Phase2State* s = S(owner);
    const int32_t event = ToneEvent(s);
    if (event == kInfoRxReversal || s->timeout == 0)
        Next(s);
}

void P2WaitTone(void* owner)
{
    Phase2State* s = S(owner);
    const int32_t event = ToneEvent(s);
    if (s->timeout != 0) {
        if (event == kInfoRxTone)
            Next(s);
    } else if (StepOpen(s)) {
        SetStepCount(s, kToneWaitSamples);
    }
}

void P2WaitToneOrRestart(void* owner)
{
    Phase2State* s = S(owner);
    const int32_t event = ToneEvent(s);
    if (event == kInfoRxReversalRun)
        Next(s);
    else if (event == kInfoRxTone)
        Phase2RestartOnTone(s);
}

void P2WaitMd(void* owner)
{
    Phase2State* s = S(owner);
    if (StepOpen(s))
        SetStepCount(s, s->info1c.mdLength * kMdUnitSamples);
}

void P2CallerWaitToneAfterProbe(void* owner)
{
    Phase2State* s = S(owner);
    const int32_t event = ToneEvent(s);
    if (s->timeout != 0) {
        if (event != kInfoRxTone)
            return;
        Next(s);
    } else {
        Phase2RestartOnTone(s);
    }
    SetCarrierFilter(&s->receiver, 0);
}

void P2AnswererWaitToneAfterProbe(void* owner)
{
    Phase2State* s = S(owner);
    const int32_t event = ToneEvent(s);
    if (s->timeout != 0) {
        if (event != kInfoRxTone)
            return;
        // Computed in 32 bits: no wrap for round trips the 16-bit field can hold.
        const int64_t t = 2 * static_cast<int64_t>(s->rtd) + kLongTimeoutBase;
        s->timeout = static_cast<int32_t>(t > kMaxTimeout ? kMaxTimeout : t);
        SetCarrierFilter(&s->receiver, 0);
        Next(s);
        return;
    }
    TxCarrier(&s->transmitter);
    Phase2StartListFromHandler(s, Phase2RetryList(0));
    SetCarrierFilter(&s->receiver, 0);
}
