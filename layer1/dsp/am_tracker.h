// The answer-tone amplitude tracker of the V.8 caller: it recognises ANSam (2100 Hz whose envelope is
// modulated at 15 Hz) by a resonator at 15 Hz on the magnitude of the band-filtered signal, against the
// signal's power. A band filter ahead of it keeps the caller's own V.21 channel-1 signal (980/1180 Hz) out.
#pragma once

#include <cstdint>

constexpr int32_t kAnsamFilterSections = 5;

// Five cascaded second-order sections in Q31, each {x1, x2, y1, y2}.
struct AnsamFilterState {
    int32_t s[kAnsamFilterSections][4];
};

struct AmTracker {
    int32_t power;              // smoothed a^2 (Q31)
    int32_t am;                 // smoothed 15 Hz component (Q31)
    int16_t runCount;           // samples in a row that showed the modulation
    int32_t armedBlocks;        // blocks tracked since the tracker was armed
    int32_t previousMagnitude;  // the 15 Hz resonator on |a|
    int32_t y1;
    int32_t y2;
    int32_t blockLength;
    AnsamFilterState filter;
};

// Coefficients of one section {b0, b1, b2, a1, a2}, each halved (Q31); y = 2 (b0 x + b1 x1 + b2 x2 - a1 y1 -
// a2 y2).
struct AnsamSection {
    int32_t b0, b1, b2, a1, a2;
};
// The caller's set: a tenth-order high-pass (Butterworth, 1500 Hz at 9600 samples/s; about 30 dB down at
// 1100 Hz, flat from 1700 Hz), its passband gain a half, sections in rising Q so that none overflows.
const AnsamSection* AnsamBandSections();

void StartAmTracker(AmTracker* t, int32_t blockLength);
// The filter over a block of normalised samples (16-bit scale); the outputs are Q31.
void AnsamBandFilter(AmTracker* t, const int32_t* x, int32_t* y, int32_t n);
// Tracks the modulation over a filtered block; after the block the armed-block count rises and for the first
// 15 blocks the run count is held at 0.
void TrackAm(AmTracker* t, const int32_t* y, int32_t n);
