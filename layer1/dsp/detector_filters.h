// The filters and tone detectors the detector bank, the call procedures and the FSK tone waits share: the
// detector pre-filter, the gain normaliser, the notch-ratio tone detectors (one, two or three notches in
// series) and the fourth-order band detectors with their coefficient tables.
#pragma once

#include <cstdint>

// A 64-bit intermediate kept to the 32-bit range by saturation.
inline int32_t SaturateTo32(int64_t v)
{
    return v > INT32_MAX ? INT32_MAX : (v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v));
}

// Pre-filter of the detector input (per sample, states s0 and s1): a = 3 (5461 x - s0 - s1); s0 += a >> 4;
// s1 += s0 >> 3; output a >> 15. A second-order high-pass: double zero at DC, poles at radius 0.90 and about
// 190 Hz (at 9600 samples/s), gain about -5 dB above 300 Hz; it keeps mains hum and DC off the detectors.
struct PreFilterState {
    int32_t s0;
    int32_t s1;
};
void DetectorPreFilter(PreFilterState* state, const int16_t* in, int32_t* out, int32_t n);

// Gain normaliser: y = gain x >> (15 - exponent), saturated to +-32767; unless frozen the envelope follows |y|
// and the gain moves so that the mean magnitude settles near 2700.
struct GainNormaliser {
    int16_t exponent;  // -10 ... 10
    int16_t gain;      // mantissa
    int32_t envelope;
    int16_t frozen;
};
void InitGainNormaliser(GainNormaliser* g, int32_t exponent, int32_t gain);
void FreezeGainNormaliser(GainNormaliser* g);
int32_t GainNormaliserSample(GainNormaliser* g, int32_t x);
// The same over a block, y[i] for x[i] (the state kept in locals meanwhile).
void GainNormaliserBlock(GainNormaliser* g, const int32_t* x, int32_t* y, int32_t n);

// One notch {b0, b1, b2, a1, a2} in Q15: b0 = b2 = 32767, b1 = -2 cos(w) 32767, a1 = 1.8 cos(w) 32768,
// a2 = -26541 (pole radius 0.9), w = 2 pi f / fs.
struct NotchCoefficients {
    int32_t b0, b1, b2, a1, a2;
};

// The rule above, rounded; the printed sets below follow it.
NotchCoefficients NotchCoefficientsFor(double hz, double sampleRate);

// Sets at 9600 samples/s.
extern const NotchCoefficients kNotch1100;
extern const NotchCoefficients kNotchCallProgress[3];  // zeros near 655, 475 and 300 Hz
extern const NotchCoefficients kNotch2100, kNotch1800, kNotch2250, kNotch1650, kNotch1300, kNotch600,
    kNotch3000, kNotch2850, kNotch2225, kNotch1270, kNotch520;
// Sets at 7200 samples/s (the V.32bis receiver).
extern const NotchCoefficients kNotch7200_1650, kNotch7200_2250, kNotch7200_2100, kNotch7200_1300,
    kNotch7200_2850, kNotch7200_2225, kNotch7200_600, kNotch7200_1800;

constexpr int kMaxNotchStages = 3;

// Ratio detector: total power of the input against the power left after the notches; the run count counts
// samples whose ratio reaches the on ratio and clears on a ratio below the off ratio. One notch: averaging
// shift 6. Two notches in series: shift 3, residual starting at 10. Three: shift 4, residual starting at 1.
struct NotchToneDetector {
    const NotchCoefficients* coefficients[kMaxNotchStages];
    int32_t state[kMaxNotchStages][4];  // x1, x2, y1, y2 per notch
    int32_t total;
    int32_t residual;
    int32_t onRatio;
    int32_t offRatio;
    int32_t shift;
    int32_t runCount;
    int32_t stages;
    int32_t residualStart;
};

void InitNotchToneDetector(NotchToneDetector* d, const NotchCoefficients* set, int32_t onRatio, int32_t offRatio);
void InitTwoNotchDetector(NotchToneDetector* d, const NotchCoefficients* first, const NotchCoefficients* second,
                          int32_t onRatio, int32_t offRatio);
void InitThreeNotchDetector(NotchToneDetector* d, const NotchCoefficients sets[3], int32_t onRatio,
                            int32_t offRatio);
// Over a block of 32-bit samples: the ratio at the sample whose run count exceeds the limit (the run count is
// cleared and the rest of the block is not looked at), else 0. The run count carries over between blocks.
int32_t RunNotchToneDetector(NotchToneDetector* d, const int32_t* x, int32_t n, int32_t limit);
// One sample: the ratio when the run count exceeds the limit (cleared), else 0.
int32_t NotchToneDetectorSample(NotchToneDetector* d, int32_t x, int32_t limit);
// As RunNotchToneDetector; *stoppedAt is the index of the sample that ended the run (a detection or an
// overload), n when none did. Going on from the next sample gives what sample by sample would.
int32_t ScanNotchToneDetector(NotchToneDetector* d, const int32_t* x, int32_t n, int32_t limit, int32_t* stoppedAt);

// Fourth-order band filter: ten Q31 words of which 1, 3, 4 serve stage 1 and 6, 8, 9 stage 2 (0, 2, 5, 7 hold
// 0.5 and are not used).
struct FourthOrderBandFilter {
    int32_t word[10];
};

struct BandToneDetector {
    const FourthOrderBandFilter* filter;
    int32_t x2, x1, p2, p1, w2, w1;
    int32_t inputShift;
    int32_t e1, e2, e3;
    int32_t integrator;
    int32_t integratorShift;
    int32_t onThreshold;
    int32_t offThreshold;
    int16_t onBlocks;
    int32_t offBlocks;
};

// The band detector instances: 2100, 600, 3000, 2250, 1650, 1800 and 1300 Hz.
enum BandTone : int32_t {
    BAND_2100 = 0,
    BAND_600,
    BAND_3000,
    BAND_2250,
    BAND_1650,
    BAND_1800,
    BAND_1300,
    BAND_TONE_COUNT,
};
void InitBandToneDetector(BandToneDetector* d, BandTone tone);
void ResetBandToneDetector(BandToneDetector* d);
// One sample through the detector's band filter (output 16-bit scale).
int32_t FourthOrderBandSample(BandToneDetector* d, int32_t x);
// Over n samples: true when the detector has been on for at least minBlocks consecutive blocks.
int32_t RunBandToneDetector(const int32_t* x, BandToneDetector* d, int32_t minBlocks, int32_t n);

// Own-tone band-stop filters of the detector front end (the same filter form).
enum OwnToneNotch : int32_t {
    OWN_NOTCH_NONE = -1,
    OWN_NOTCH_1100 = 0,
    OWN_NOTCH_1300,
    OWN_NOTCH_2100,
    OWN_NOTCH_COUNT,
};
void InitOwnToneNotch(BandToneDetector* d, OwnToneNotch notch);
