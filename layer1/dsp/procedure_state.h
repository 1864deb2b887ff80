// The state of the answer and originate procedures: the list sequencer B runs, the counters, and the tone
// detectors the listening steps use; and the answer tone with amplitude modulation (ANSam).
#pragma once

#include <cstdint>

#include "layer1/dsp/am_tracker.h"
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
    // V.8 procedure.
    NotchToneDetector notch1270;
    NotchToneDetector notch520;
    AmTracker am;
    int32_t amArmed;            // caller: 2100 Hz heard for 52 ms; the tracker runs and the normaliser is held
    int16_t v8Wait;             // caller: blocks of the wait after ANSam
    int32_t v8Continue;         // caller: the second start command has come
    int32_t seen1800;           // answerer: the V.32bis caller's 1800 Hz came during ANSam
    int16_t zeroOctets;         // answerer: zero octets received in the exchange
    int16_t lowLevel;           // answerer: blocks of the FSK level below the saved one
    int32_t savedLevel;         // the block level when the exchange went on
    uint32_t rxSeen;            // answerer: the receive FIFO's write count last looked at
};

// The procedure lists, for tests.
extern const StepEntry CallingToneSteps[];
extern const StepEntry BasicOriginateSteps[];
extern const StepEntry BasicAnswerSteps[];
extern const StepEntry AutomodeOriginateSteps[];
extern const StepEntry AutomodeAnswerSteps[];
extern const StepEntry AnsamSteps[];
extern const StepEntry V8OriginateSteps[];
extern const StepEntry V8AnswerSteps[];

// Starts the pump of the connection's mode (procedure_start.cpp).
void StartPumpByMode(DspContext* context);
void StartV32bisCaller(DspContext* context);
// The pump of the mode at the end of a V.8 procedure (procedure_v8.cpp); V.22bis after a V.8 answer that heard
// no caller.
void V8StartPumpOriginate(DspContext* context);
void V8StartPumpAnswer(DspContext* context);
void StartV22bisFallback(DspContext* context);
// The FSK receiver's level at the exchange: a loud one is turned down at the line; the AGC is then held.
void CheckFskRxLevel(DspContext* context);
// Sends the answer tone with 15 Hz amplitude modulation and a reversal every 4321 samples into the transmit
// work buffer (answer_tone_am.cpp).
void GenerateAnsam(DspContext* context, uint16_t phaseStep, uint16_t amStep);
