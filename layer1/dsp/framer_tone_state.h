// The data framer and the tone generators of one device, as one record of the DspContext.
#pragma once

#include <cstdint>

#include "layer1/dsp/framer.h"
#include "layer1/dsp/sequencer.h"
#include "layer1/dsp/tone_dual.h"

constexpr int kDigitListEntries = 5;  // DigitStart, DigitOn, DigitOff, DigitEnd and the end marker

// The single tones of StartTone: the list in use, phase, phase step and amplitude.
struct ToneGenerator {
    const StepEntry* list;
    uint32_t phase;
    uint32_t step;
    int16_t amplitude;
};

struct FramerToneState {
    BitStreamFramer framer;
    DualToneGenerator dual;
    Sequencer digitSequencer;                 // the dual-tone generator's own sequencer
    StepEntry digitList[kDigitListEntries];   // writable: commands 0x66 and 0x7C rewrite its counts
    int32_t digitCounts[3];                   // on, off and pause blocks of the last 0x66 (a digit's timing)
    ToneGenerator tone;
};
