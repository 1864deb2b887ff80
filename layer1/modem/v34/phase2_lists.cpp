// The phase-2 step lists: the order of the signals and their timing in samples (one tick per sample at
// 9600 Hz), for both sides, with the restart and retry lists.
#include "layer1/modem/v34/phase2_handlers.h"
#include "layer1/modem/v34/phase2_state.h"

namespace {

#define S(h, n) StepEntry{{h}, n}

const StepEntry kCallerStart[] = {
    S(P2TxSilence, 1), S(P2ExpectInfo0, 1), S(P2Wait, 432), S(P2SendInfo0, 1), S(P2Info0ExchangeCaller, -1),
    S(P2ChooseMainList, 1), kStepEnd};

const StepEntry kAnswererStart[] = {
    S(P2TxSilence, 1), S(P2ExpectInfo0, 1), S(P2Wait, 432), S(P2SecondTone, 1), S(P2SendInfo0, 1),
    S(P2Info0ExchangeAnswerer, -1), S(P2ChooseMainList, 1), kStepEnd};

const StepEntry kCallerMain[] = {
    S(P2DelayAnswerReversal, 1), S(P2CountDelay, -1), S(P2TxReversal, 1), S(P2StartRtd, 1), S(P2Wait, 96),
    S(P2TxSilence, 1), S(P2Wait, 192), S(P2DelayLatency, 1), S(P2CountDelay, -1), S(P2MeasureRtd, -1),
    S(P2Wait, 96), S(P2StartProbeAnalysis, 1), S(P2RunProbeAnalysis, -1), S(P2TxCarrier, 1), S(P2WaitTone, -1),
    S(P2WaitReversalOrTimeout, -1), S(P2DelayAnswerReversal, 1), S(P2CountDelay, -1), S(P2TxReversal, 1),
    S(P2Wait, 96), S(P2TxL1, 1), S(P2Wait, 1536), S(P2TxL2, 1), S(P2CallerWaitToneAfterProbe, -1),
    S(P2SendInfo1c, 1), S(P2WaitSentRtd, -1), S(P2TxSilence, 1), S(P2ExpectInfo1a, 1), S(P2ReceiveInfo1a, -1),
    S(P2Finish, 1), S(P2Wait, -1), kStepEnd};

const StepEntry kAnswererMain[] = {
    S(P2TxReversal, 1), S(P2StartRtd, 1), S(P2Wait, 288), S(P2DelayLatency, 1), S(P2CountDelay, -1),
    S(P2MeasureRtd, -1), S(P2DelayAnswerReversal, 1), S(P2CountDelay, -1), S(P2TxReversal, 1), S(P2Wait, 96),
    S(P2TxL1, 1), S(P2Wait, 1536), S(P2TxL2, 1), S(P2AnswererWaitToneAfterProbe, -1), S(P2TxCarrier, 1),
    S(P2Wait, 480), S(P2TxReversal, 1), S(P2Wait, 96), S(P2TxSilence, 1), S(P2Wait, 192), S(P2DelayLatency, 1),
    S(P2CountDelay, -1), S(P2WaitReversal, -1), S(P2Wait, 96), S(P2StartProbeAnalysis, 1),
    S(P2RunProbeAnalysis, -1), S(P2TxCarrier, 1), S(P2ExpectInfo1c, 1), S(P2ReceiveInfo1c, -1),
    S(P2SendInfo1a, 1), S(P2WaitSent, -1), S(P2TxSilence, 192), S(P2Finish, 1), S(P2TxSilence, -1), kStepEnd};

const StepEntry kShortAnswerer[] = {
    S(P2TxCarrier, 1), S(P2WaitReversal, -1), S(P2DelayAnswerReversal, 1), S(P2CountDelay, -1),
    S(P2TxReversal, 1), S(P2Wait, 96), S(P2SendInfo1aPcm, 1), S(P2WaitSent, -1), S(P2TxSilence, 192),
    S(P2Finish, 1), S(P2TxSilence, -1), kStepEnd};

const StepEntry kCallerRestart[] = {
    S(P2TxSilence, 1), S(P2Wait, 720), S(P2TxCarrier, 1), S(P2ExpectInfo0, 1), S(P2Info0ExchangeCaller, -1),
    S(P2ChooseMainList, 1), kStepEnd};

const StepEntry kCallerRetry[] = {
    S(P2TxSilence, 1), S(P2WaitTone, -1), S(P2TxCarrier, 1), S(P2WaitReversal, -1), S(P2ChooseMainList, 1),
    kStepEnd};

// Type 1.
const StepEntry kCallerInfo1Retry[] = {
    S(P2TxSilence, 1), S(P2WaitToneOrRestart, -1), S(P2SendInfo1c, 1), S(P2WaitSentRtd, -1),
    S(P2ExpectInfo1a, 1), S(P2ReceiveInfo1a, -1), S(P2Finish, 1), S(P2Wait, -1), kStepEnd};

// Type 3.
const StepEntry kCallerInfo1AfterL2[] = {
    S(P2TxSilence, 1), S(P2Wait, 720), S(P2TxReversals, 1), S(P2WaitToneOrRestart, -1), S(P2SendInfo1c, 1),
    S(P2WaitSentRtd, -1), S(P2ExpectInfo1a, 1), S(P2ReceiveInfo1a, -1), S(P2Finish, 1), S(P2Wait, -1), kStepEnd};

const StepEntry kAnswererRestart[] = {
    S(P2TxSilence, 1), S(P2Wait, 720), S(P2SecondTone, 1), S(P2TxCarrier, 1), S(P2ExpectInfo0, 1),
    S(P2Info0ExchangeAnswerer, -1), S(P2ChooseMainList, 1), kStepEnd};

const StepEntry kAnswererRetry[] = {
    S(P2Wait, 1), S(P2WaitTone, -1), S(P2SecondTone, 1), S(P2TxCarrier, 1), S(P2Wait, 480), S(P2ChooseMainList, 1),
    kStepEnd};

// Type 6.
const StepEntry kAnswererMdAndInfo1[] = {
    S(P2TxSilence, 1), S(P2Wait, 720), S(P2SecondTone, 1), S(P2TxReversals, 1), S(P2WaitMd, -1),
    S(P2ExpectInfo1c, 1), S(P2ReceiveInfo1c, -1), S(P2SendInfo1a, 1), S(P2WaitSent, -1), S(P2TxSilence, 192),
    S(P2Finish, 1), S(P2TxSilence, -1), kStepEnd};

// Type 2.
const StepEntry kAnswererInfo1cWait[] = {
    S(P2SecondTone, 1), S(P2TxReversals, 1), S(P2ExpectInfo1c, 1), S(P2ReceiveInfo1c, -1), S(P2SendInfo1a, 1),
    S(P2WaitSent, -1), S(P2TxSilence, 192), S(P2Finish, 1), S(P2TxSilence, -1), kStepEnd};

// Type 4.
const StepEntry kAnswererInfo1cAfterReversal[] = {
    S(P2TxSilence, 1), S(P2WaitToneOrRestart, -1), S(P2SecondTone, 1), S(P2TxReversals, 1), S(P2ExpectInfo1c, 1),
    S(P2ReceiveInfo1c, -1), S(P2SendInfo1a, 1), S(P2WaitSent, -1), S(P2TxSilence, 192), S(P2Finish, 1),
    S(P2TxSilence, -1), kStepEnd};

#undef S

}  // namespace

const StepEntry* Phase2FirstList(int32_t caller)
{
    return caller ? kCallerStart : kAnswererStart;
}

const StepEntry* Phase2RestartList(int32_t type, int32_t caller)
{
    switch (type) {
    case 1: return kCallerInfo1Retry;
    case 2: return kAnswererInfo1cWait;
    case 3: return kCallerInfo1AfterL2;
    case 4: return kAnswererInfo1cAfterReversal;
    case 6: return kAnswererMdAndInfo1;
    default: return caller ? kCallerRestart : kAnswererRestart;
    }
}

const StepEntry* Phase2MainList(int32_t caller)
{
    return caller ? kCallerMain : kAnswererMain;
}

const StepEntry* Phase2ShortAnswererList()
{
    return kShortAnswerer;
}

const StepEntry* Phase2RetryList(int32_t caller)
{
    return caller ? kCallerRetry : kAnswererRetry;
}
