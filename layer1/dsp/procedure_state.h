// The state of the answer and originate procedures: the list sequencer B runs, the counters, and the tone
// detectors the listening steps use; and the answer tone with amplitude modulation (ANSam).
#pragma once

#include <cstdint>

#include "layer1/dsp/detector_filters.h"
#include "layer1/dsp/sequencer.h"

struct DspContext;

struct AnsamGenerator {
    uint16_t phase;             // of the 2100 Hz carrier
    uint16_t amPhase;           // of the 15 Hz envelope
    int32_t reversalCount;      // samples since the last phase reversal
    int16_t amplitude;
    int32_t samplesPerCall;
};

struct ProcedureState {
    const StepEntry* list;      // the procedure list sequencer B runs; jumps are made on it
    int16_t waitCounter;        // automode caller: blocks of 2250 Hz still needed before V.22 starts
    int32_t answerToneCounter;  // automode caller: blocks of 2100 Hz over all returns to listening
    NotchToneDetector notch2100;
    NotchToneDetector notch1800;
    NotchToneDetector notch1650;
    NotchToneDetector notch1300;
    NotchToneDetector notch2225;
    NotchToneDetector fskMark;  // the mode's FSK mark: 2225, 1300 or 1650 Hz
    NotchToneDetector pairAc;   // 600 + 3000 Hz
    NotchToneDetector pairUsb1; // 2250 + 2850 Hz: the V.22 answerer's unscrambled ones
    BandToneDetector band[BAND_TONE_COUNT];
    AnsamGenerator ansam;
};

// The procedure lists, for tests.
extern const StepEntry CallingToneSteps[];
extern const StepEntry BasicOriginateSteps[];
extern const StepEntry BasicAnswerSteps[];
extern const StepEntry AutomodeOriginateSteps[];
extern const StepEntry AutomodeAnswerSteps[];
extern const StepEntry AnsamSteps[];

// Starts the pump of the connection's mode (procedure_start.cpp).
void StartPumpByMode(DspContext* context);
void StartV32bisCaller(DspContext* context);
// Sends the answer tone with 15 Hz amplitude modulation and a reversal every 4321 samples into the transmit
// work buffer (answer_tone_am.cpp).
void GenerateAnsam(DspContext* context, uint16_t phaseStep, uint16_t amStep);
