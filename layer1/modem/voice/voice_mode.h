// Voice mode inside the data pump: what the mode's command handlers, block handler and steps share.
#pragma once

#include <cstdint>

#include "layer1/dsp/sequencer.h"

struct DspContext;

// The voice transmit and receive lists: six entries each, one per sub-mode, all running every block.
extern const StepEntry kVoiceTxList[];
extern const StepEntry kVoiceRxList[];
constexpr int32_t kVoiceSubModes = 6;
constexpr int32_t kVoiceSubModeNone = 5;

void InitVoiceState(DspContext* context);
// Coder states, levels, counters, silence settings, sample buffers and the 1100 Hz detector.
void ResetVoiceState(DspContext* context);
void StartVoiceLists(DspContext* context, int32_t subMode);
void EnterVoice(DspContext* context);
void VoiceBlockHandler(DspContext* context);
// Moves waiting recorded bytes into a free receive mailbox and, while a play step runs, takes a waiting
// transmit chunk into the transmit queue (one chunk each way per call; called with the device lock held).
void VoiceMailboxRefill(void* owner);
// Takes transmit chunks until n bytes wait or the mailbox is empty or the queue is full.
void VoiceFetchTxBytes(DspContext* context, uint32_t n);
// Frees the resamplers' filters (device removal).
void FreeVoiceResamplers(DspContext* context);
