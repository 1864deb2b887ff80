// Line probing: while the far end sends L1 and L2, the modem measures the received spectrum at the 150 Hz tone
// spacing (and the noise between the tones), the frequency offset and the levels; then it evaluates the line
// for every symbol-rate/carrier combination and pre-emphasis filter, and turns the result into the INFO1
// fields. Fixed point throughout; no allocation.
#pragma once

#include <cstdint>

#include "layer1/modem/v34/complex_fixed.h"

struct Phase2State;
struct Phase2ProbeResults;

constexpr int kProbeBlock = 128;        // samples per transform: bins of 75 Hz at 9600 Hz
constexpr int kProbeBins = 52;          // bins 0-51 (to 3825 Hz) kept per transform
constexpr int kProbeTones = 25;         // 150 ... 3750 Hz
constexpr int kProbeHistory = 16;
constexpr int kProbeFilters = 11;       // pre-emphasis filters; 0 is flat

enum ProbeAnalysisStateId : int32_t {
    kProbeSettle = 0,   // let the signal settle
    kProbeGain = 1,     // measure the level and choose the input gain
    kProbePass1 = 2,    // during L1: spectrum, delay and frequency offset
    kProbeGap = 3,      // between the passes
    kProbePass2 = 4,    // during L2, with the offset removed: the spectrum the decisions use
    kProbeDone = 5,
};

struct ProbeAnalysis {
    int32_t levelFilter[4];            // four low-pass stages, Q31; the last is the DC level
    int16_t buffer[kProbeBlock];       // collected samples (after the input gain)
    int32_t count;
    int32_t peak;
    int64_t energy;
    int16_t gainMantissa;              // input gain = mantissa / 32768 * 2^exponent
    int16_t gainExponent;
    PackedComplex work[kProbeBlock];   // the transform's work buffer
    int16_t twiddleCos[kProbeBlock / 2];
    int16_t twiddleSin[kProbeBlock / 2];
    uint32_t mixPhase;                 // removes the measured frequency offset in the second pass
    int32_t mixStep;
    int64_t power[kProbeBins];         // accumulated bin powers of the current pass
    int32_t blocks;                    // transforms done in this pass
    int32_t blockTarget;               // 10 (first pass) or 16 (second)
    int32_t lag;                       // 4 or 8: blocks between the transforms compared
    PackedComplex history[kProbeHistory][kProbeBins];
    int64_t slopeSum;
    int64_t interceptSum;
    int32_t comparisons;
    int32_t state;
    int32_t sampleCount;
    int32_t sampleTarget;
    int32_t delayEstimate;             // timing drift between the compared transforms (first pass)
    int32_t frequencyOffset;           // measured, 0.02 Hz units, first pass
    int32_t residualOffset;            // measured in the second pass, after the removal
    int32_t firstSpectrum[kProbeBins]; // accumulated powers, scaled into 32 bits
    int32_t secondSpectrum[kProbeBins];
    int32_t firstShift;                // the scaling's right shifts
    int32_t secondShift;
    int16_t overflow;
};

void InitProbeAnalysis(ProbeAnalysis* p);
// One received sample; 1 when the measurement is complete.
int32_t ProbeAnalysisSample(ProbeAnalysis* p, int16_t sample);
// The line evaluation: per combination the best pre-emphasis filter and the data-rate code, the exclude flag,
// the power-reduction suggestions and the levels. Run once after ProbeAnalysisSample reported completion.
int32_t EvaluateProbe(const ProbeAnalysis* p, Phase2ProbeResults* result);
// The evaluation from a given signal and noise spectrum (25 tone bins and the 25 bins 75 Hz below each, in
// any common scale): what EvaluateProbe runs after copying the bins out.
void EvaluateSpectra(const int32_t* tones, const int32_t* between, Phase2ProbeResults* result);

// The pre-emphasis response of filter j (0-10) for combination c over bins 0-25 (150 Hz tone numbers).
void PreEmphasisResponse(int32_t combination, int32_t filter, int32_t* response);

// The INFO1 fields from the result block (caller: INFO1c; answerer: INFO1a).
void ComputeInfo1c(Phase2State* s);
void ComputeInfo1a(Phase2State* s);
// Builders from the phase-2 state: the fields first, then the frame; return the length in bits.
uint32_t BuildInfo1c(Phase2State* s, uint32_t* words);
uint32_t BuildInfo1a(Phase2State* s, uint32_t* words);

// The symbol rates x carrier: combination of (rate index, high carrier); 3429 has one carrier.
int32_t ProbeCombination(int32_t rate, int32_t high);
