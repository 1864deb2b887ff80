// The energy detector of detector mode 0: ringing reaches the card as a train of high pulses in the received
// samples (the rectified ring signal). The score counts pulses that follow the previous one at a ringing
// rate and drops on pulses that come too soon or too late; a long low stretch clears it.
#pragma once

#include <cstdint>

struct PulseTrainDetector {
    int32_t highCount;
    int32_t lowCount;
    int32_t sincePulse;
    int32_t state;          // 0 or 16 (inside a pulse)
    int16_t score;
    int16_t lastScore;      // last non-zero score
};

void ClearPulseTrainDetector(PulseTrainDetector* d);
// One sample of the raw received block; returns 1 while the score is above 0.
int32_t PulseTrainSample(PulseTrainDetector* d, int32_t v);
// Over a block: 1 while the score is above 0 after its last sample.
int32_t PulseTrainDetect(PulseTrainDetector* d, const int16_t* samples, int32_t n);
