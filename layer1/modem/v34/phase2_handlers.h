// The step handlers of the phase-2 lists. Each takes the Phase2State as its owner; the sequencer ticks once
// per sample. "Next" ends the current step. A list a handler starts has its first step lengthened by one
// sample, for the tick that is running.
#pragma once

#include "layer1/dsp/sequencer.h"

struct Phase2State;

void P2Wait(void* owner);
void P2TxSilence(void* owner);
void P2TxCarrier(void* owner);
void P2TxReversal(void* owner);
void P2TxReversals(void* owner);
void P2TxL1(void* owner);
void P2TxL2(void* owner);
void P2SecondTone(void* owner);
void P2SendInfo0(void* owner);
void P2SendInfo1c(void* owner);
void P2SendInfo1a(void* owner);
void P2SendInfo1aPcm(void* owner);
void P2WaitSent(void* owner);
void P2WaitSentRtd(void* owner);
void P2ExpectInfo0(void* owner);
void P2ExpectInfo1a(void* owner);
void P2ExpectInfo1c(void* owner);
void P2DelayAnswerReversal(void* owner);
void P2DelayLatency(void* owner);
void P2CountDelay(void* owner);
void P2StartRtd(void* owner);
void P2MeasureRtd(void* owner);
void P2WaitReversal(void* owner);
void P2WaitReversalOrTimeout(void* owner);
void P2WaitTone(void* owner);
void P2WaitToneOrRestart(void* owner);
void P2WaitMd(void* owner);
void P2CallerWaitToneAfterProbe(void* owner);
void P2AnswererWaitToneAfterProbe(void* owner);
void P2StartProbeAnalysis(void* owner);
void P2RunProbeAnalysis(void* owner);
void P2ReceiveInfo1a(void* owner);
void P2ReceiveInfo1c(void* owner);
void P2Info0ExchangeCaller(void* owner);
void P2Info0ExchangeAnswerer(void* owner);
void P2ChooseMainList(void* owner);
void P2Finish(void* owner);

// Starts a list from inside a handler: its first step gets one more sample.
void Phase2StartListFromHandler(Phase2State* s, const StepEntry* list);
// The default restart (type 7) after a tone where a frame or reversals were due.
void Phase2RestartOnTone(Phase2State* s);
