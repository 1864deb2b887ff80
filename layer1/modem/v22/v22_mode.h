// The V.22 / V.22bis mode of the data pump: the glue between the modem (layer1/modem/v22) and the pump. Two
// sequencers of its own run the transmit and receive step lists inside sequencers A and B; the steps report
// to the status register, hand bits to and from the framer and fall back to the FSK modes.
#pragma once

#include <cstdint>

#include "layer1/dsp/detector_filters.h"
#include "layer1/dsp/sequencer.h"
#include "layer1/modem/v22/v22.h"

struct DspContext;

// FSK callers the answerer's receiver listens for while it waits for S1.
enum V22FskCaller : int32_t {
    V22_FSK_BELL103 = 0,   // 1270 Hz mark: Bell 103 answering (type 5)
    V22_FSK_V23,           // 390 Hz backward-channel mark: V.23 answering (type 7)
    V22_FSK_V21,           // 980 Hz mark: V.21 answering (type 0)
    V22_FSK_CALLERS,
};

struct V22Pump {
    V22Modem modem;
    Sequencer tx;                    // V22TxSequencer
    Sequencer rx;                    // V22RxSequencer
    int32_t quick;                   // started by 0x6E: connection reported as state 5
    int32_t rateEntered;             // R-rate has made its settings
    int32_t rateBlocks;              // blocks spent in R-rate
    int32_t energyBlocks;            // R-wait (V.22): blocks with the far end's signal
    PreFilterState fskPreFilter;
    NotchCoefficients fskNotch[V22_FSK_CALLERS];
    NotchToneDetector fskCaller[V22_FSK_CALLERS];
};

// The transmit and receive lists, for tests that look at the handshake.
extern const StepEntry V22OriginateSteps[];
extern const StepEntry V22AnswerSteps[];
extern const StepEntry V22RetrainSteps[];
extern const StepEntry V22bisQuickSteps[];
extern const StepEntry V22QuickSteps[];
extern const StepEntry V22RxSteps[];

// Steps of sequencers A and B while the mode runs: one tick of the mode's own sequencers.
void V22TxSequencerStep(void* owner);
void V22RxSequencerStep(void* owner);
void V22BindPort(DspContext* context);
