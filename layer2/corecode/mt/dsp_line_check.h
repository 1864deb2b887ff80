// Class 9: the line-check stepping, once per pass of the message pump.
//
// Type 3 (posted by dsp_line_check at the connect step of a call) turns its node into a type 5 message and
// posts it again. Type 5 runs one step of the call-waiting sequence and posts itself again while bit 3 of the
// DSP event flag word is set; once the bit is clear the node goes back to the pool, so repeated calls never
// use up the message nodes. One node at most does the stepping.
#pragma once

#include <cstdint>

struct DspMessageNode;

constexpr uint16_t kEventFlagCallWaiting = 0x08;  // DSP event flag word: the call-waiting sequence runs

// Per-device state of the handler, inside the DSP link context (cleared at set-up).
struct DspLineCheckState {
    const DspMessageNode* stepper;  // the node posted for the stepping (null none)
    uint32_t steps;                 // call-waiting steps run
};
