// The pieces of the V.34 receiver's front end that hold their own small state: the DC remover of the block,
// the sample AGC, the signal detector, the quadratic interpolator of the symbol timing, and the phase loop that
// the carrier, the symbol timing and the far echo share.
#pragma once

#include <cstdint>

#include "layer1/modem/v34/complex_fixed.h"

// ---- phase loop ----

enum PhaseLoopFlags : int32_t {
    kLoopFirstEstimate = 1,  // the timing estimate takes the current vectors as the previous ones
    kLoopFrozen = 2,         // the loop's error is taken as 0
};

// A second-order loop: phase (Q31 phase word: one turn is 2^32), integrator, gains (Q31) and flags.
struct PhaseLoop {
    int32_t phase;
    int32_t integrator;
    int32_t proportional;
    int32_t integral;
    int32_t output;
    int32_t flags;
};

// integrator += MulQ31(integral gain, e); phase += MulQ31(integrator, output gain) + MulQ31(e, proportional
// gain); a frozen loop takes e = 0. All sums wrap (the phase word is a turn).
void PhaseLoopUpdate(PhaseLoop* loop, int32_t error);

// ---- DC removal ----

struct DcRemoval {
    int32_t i1;
    int32_t i2;
};

// Per sample x: e = x - 3 i1 - 3 i2; i1 += e >> 4; i2 += i1 >> 3 (the new i1); out = e x 28551 >> 15,
// saturated to 16 bits.
void RemoveDc(DcRemoval* dc, int16_t* samples, int32_t n);

// ---- AGC ----

struct RxAgcState {
    int32_t power;         // average of the squared output (Q15 units squared)
    int32_t target;
    int32_t rate;          // Q31; 0 holds the gain
    int32_t lastStep;
    int32_t lastError;
    int32_t shift;         // signed: left shift of the product (right shift when negative)
    int32_t inputAverage;  // (15 m + |x|) / 16
    int16_t gain;          // kept within 0x3000 ... 0x6000 by the shift
};

// One sample: returns y = x x gain shifted by the shift count (the output in Q30: its high half is Q15); the
// power follows ((y + 0x4000) >> 15)^2; the gain adapts only while the average magnitude of the input is 50 or
// more.
int32_t RxAgcStep(RxAgcState* agc, int16_t x);

// ---- signal detector ----

// Runs on every second baseband sample. The S counter rises while the power is at least three times the power
// of the difference to the sample four updates back (a signal that repeats with that period, as S does); the
// fault counter rises while the residual of a two-coefficient predictor of that difference is near full scale
// (an overloaded or wildly unsteady input).
struct SignalDetector {
    PackedComplex ring[4];
    uint32_t index;                 // 2 bits
    int32_t power;
    int32_t differencePower;
    PackedComplex coefficient[2];   // Q15
    PackedComplex past[2];          // the last two differences
    int16_t gain;                   // Q15, 0x4000 after reset
    int16_t sCount;
    int16_t faultCount;
};

void ResetSignalDetector(SignalDetector* detector);
void SignalDetectorStep(SignalDetector* detector, PackedComplex sample);

// ---- interpolator ----

// The quadratic interpolator: from tau = 759250124 - timing phase (one sample is 1518500249, 2^31 / sqrt 2),
// c0 = tau^2, b = tau / sqrt 2, c2 = tau^2 - 2b + 1/2, c1 = 2b - 2 tau^2 + 1/2 (they sum to 1); the output
// for input x(n) is c0 x(n) + c1 x(n-1) + c2 x(n-2), which lies at n - 1.5 + mu samples with mu = tau sqrt 2.
struct Interpolator {
    int32_t c[3];
    int32_t history[2][3];  // per rail x(n-1), x(n-2), x(n-3)
};

constexpr int32_t kTimingHalfSample = 759250124;
constexpr int32_t kTimingSample = 1518500249;

void SetInterpolatorPhase(Interpolator* interpolator, int32_t timingPhase);
// Output of one rail for a new input (both Q30); the rail's history moves on.
int32_t InterpolateRail(Interpolator* interpolator, int32_t rail, int32_t x);
// A timing step of +1: the histories move back one place, so the last input can be given again.
void InterpolatorBackUp(Interpolator* interpolator);
