// The detector state of the data pump (one record in the DspContext): the bank, the front end's work buffers
// and normaliser, the calling-tone and call-progress detectors, cadence matching, the ring energy detector and
// the caller-ID guard, and the detector mode that command 0x65 selects.
#pragma once

#include <cstdint>

#include "layer1/dsp/cadence.h"
#include "layer1/dsp/detector_bank.h"
#include "layer1/dsp/detector_filters.h"
#include "layer1/dsp/pulse_train.h"
#include "layer1/dsp/sequencer.h"

struct DspContext;

constexpr int kDetectorBlockSamples = 96;  // the detectors run on 9600 Hz blocks of 96 samples

// DetectorFrontEnd flags.
constexpr int32_t kFrontPreFilter = 1;
constexpr int32_t kFrontOwnNotch = 2;
constexpr int32_t kFrontNormalise = 4;

struct DetectorState {
    DetectorBank bank;

    // Front end: pre-filter, own-tone notch and normaliser, and the blocks they leave.
    PreFilterState preFilter;
    BandToneDetector ownNotch;
    int32_t ownNotchKind;                        // OwnToneNotch of ownNotch, OWN_NOTCH_NONE when not set up
    GainNormaliser normaliser;
    int32_t preFiltered[kDetectorBlockSamples];
    int32_t notched[kDetectorBlockSamples];
    int32_t input[kDetectorBlockSamples];         // the normalised block

    NotchToneDetector callingTone;                // 1100 Hz
    NotchToneDetector callProgress;               // three notches over the call-progress band

    // Call-progress level limits (gains of DbToGain) and the level state of the call-progress detector.
    int16_t callProgressOnLevel;
    int16_t callProgressOffLevel;
    int16_t callProgressLevelOn;
    int16_t callProgressTone;                     // the detector's verdict for the last block
    int16_t cadenceEnabled;
    CadenceTracker cadence;
    CadenceSpec cadenceSpec[CADENCE_KINDS];
    int16_t cadenceReport;                        // register-56 value of the cadence last reported (0, 3, 5)

    PulseTrainDetector energy;                    // the ring energy detector of mode 0
    int16_t energyOn;
    int16_t energyReportFlag;                     // 0x65 payload[1] bit 0
    int16_t option;                               // 0x65 payload[1] bits 1-4, kept
    uint16_t sampleCounter;                       // free-running, time stamps of the energy reports
    uint32_t energyDetections;

    int32_t callerIdGuard;                        // blocks of a loud caller-ID receiver input left (mode 5)
};

// Per-block detector step of the detector list (sequencer B).
void DetectorBlockStep(void* owner);
extern const StepEntry kDetectorList[];

void SetDetectorMode(DspContext* context, int32_t mode);
// Front end over a block of 16-bit samples: flag 1 pre-filter; flag 2 the own-tone notch (when one is set up);
// flag 4 normalise the notched (flag 2) or pre-filtered block into the detector input.
void DetectorFrontEnd(DspContext* context, int32_t flags, const int16_t* block, int32_t n);
void SetOwnToneNotch(DspContext* context, int32_t notch);
void ClearEnergyDetector(DspContext* context);
void InitDetectorState(DspContext* context);
