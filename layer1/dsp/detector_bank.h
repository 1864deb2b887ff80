// The programmable detector bank: ten filter sections, each two second-order stages and an energy detector
// with on and off thresholds; a section that is on contributes its result bits to the bank's result, which the
// controller reads in register 57. Sections 0-2 are loaded from the three detector coefficient sets of
// parameter memory; sections 8 and 9 are the talk-off (speech) guard.
#pragma once

#include <cstdint>

struct DspContext;

constexpr int kDetectorSections = 10;

struct DetectorSection {
    int16_t coefficient[2][5];  // per stage: c0 (x2), c1 (x1), c2 (x), c3 (y2), c4 (y1); Q14 after doubling
    int16_t x1[2];              // input history per stage
    int16_t x2[2];
    int32_t y1[2];              // output history per stage
    int32_t y2[2];
    int32_t energy;
    int16_t on;
    int16_t gain;
    int16_t leak;
    int16_t bits;
    int16_t onThreshold;        // compared with energy / 65536
    int16_t offThreshold;
};

// Everything ConfigureSection takes: the stage coefficients, the detector values, a chain source (outside 0-9:
// none) and the square flag.
struct SectionConfig {
    int16_t coefficient[2][5];
    int16_t gain;
    int16_t leak;
    int16_t bits;
    int16_t onThreshold;
    int16_t offThreshold;
    int16_t chainSource;
    int16_t square;
};

struct DetectorBank {
    DetectorSection section[kDetectorSections];
    int16_t enabled[kDetectorSections];
    int16_t chainSource[kDetectorSections];  // -1 or 0-9
    int16_t square[kDetectorSections];
    // Input level control (AgcSample): the gain state, its ceiling, the rate and the target magnitude.
    int16_t levelGain;
    int16_t levelCeiling;
    int16_t levelRate;
    int16_t levelTarget;
    int16_t talkOff;
    int16_t section9Active;
    int32_t holdOff;          // samples left of the talk-off hold
    uint16_t previousResult;
    uint16_t result;
};

extern const SectionConfig kTalkOffFilterSection;   // section 8: a pure filter feeding section 9
extern const SectionConfig kTalkOffDetectSection;   // section 9
extern const SectionConfig kCallProgressBandSection; // section 0 at answer start

void ConfigureSection(DetectorBank* bank, int32_t i, const SectionConfig& config);
void DisableSection(DetectorBank* bank, int32_t i);
void ResetBank(DetectorBank* bank);
void SetTalkOff(DetectorBank* bank, int32_t on);
// One section's filter over one sample (the two stages); returns the top 16 bits of stage 2.
int32_t SectionFilterSample(DetectorSection* s, int32_t x);
// One section's energy detector over one filter output; returns the on state.
int32_t SectionDetectSample(DetectorSection* s, int32_t x);
// The bank over n samples (16-bit range); returns the result of the last sample.
uint16_t RunBankSamples(DetectorBank* bank, const int32_t* x, int32_t n);

// The data pump's entries: reload marked sections 0-2 from parameter memory, run the bank over a block and
// report a changed result in register 57 (register 56 cleared) with a notification.
void RunDetectorBank(DspContext* context, const int32_t* x, int32_t n, int32_t talkOff);
