// The telephone line between two endpoints, one direction at a time, on 8000 Hz samples in frames of any size:
// bulk delay, sample-clock skew, attenuation, frequency offset, white noise and G.711 companding. Hybrid
// echo belongs to one side of a connection (LineEcho).
//
// Levels: a full-scale 16-bit sine is +3.14 dBm0, so 0 dBm0 is a sine of amplitude 22826.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "line/resampler.h"

constexpr int kLineRate = 8000;
constexpr double kLineFullScaleSineDbm0 = 3.14;

// Mean power (in squared sample units) of a signal at the given level.
double LinePowerOfDbm0(double dbm0);

struct LineModelParams {
    double attenuationDb = 0.0;
    // White Gaussian noise, stated as a signal-to-noise ratio at the receiving end for a signal sent at
    // nominalLevelDbm0 (so the noise level is nominal - attenuation - snr dBm0). Infinity: no noise.
    double snrDb = INFINITY;
    double nominalLevelDbm0 = -10.0;
    uint32_t noiseSeed = 1;
    double bulkDelayMs = 0.0;
    // Every frequency arrives shifted by this many Hz (single-sideband shift).
    double frequencyOffsetHz = 0.0;
    // The receiver's sample clock runs this many ppm faster than the sender's: it takes (1 + ppm/1e6)
    // samples per sample sent, so a tone of f Hz arrives at f / (1 + ppm/1e6) Hz.
    double skewPpm = 0.0;
    int32_t companding = 0;  // LineCompanding
    // Drift the delay line holds for a faster receiver before it slips; 0: kLineSkewAllowanceSeconds. A long
    // call at a large skew sets more.
    double skewAllowanceSeconds = 0.0;
};

// Bulk delay when skew is set: the converter reads this many samples ahead, so at least this much delay
// applies. With a frequency offset, the phase-splitter adds kLineHilbertHalfLength samples of delay.
constexpr int kLineHilbertHalfLength = 48;
// Drift a delay line holds for a receiver whose clock is slower than the sender's, before it slips.
constexpr double kLineSkewAllowanceSeconds = 60.0;

class LineDirection {
public:
    void Configure(const LineModelParams& params);
    // Processes one frame: n samples in, n samples out.
    void Process(const int16_t* in, int16_t* out, size_t n);
    // Total delay this direction applies, in 8000 Hz samples (bulk delay, the splitter when shifting).
    int DelaySamples() const { return delaySamples_ + (shifting_ ? kLineHilbertHalfLength : 0); }
    uint64_t Underruns() const { return underruns_; }
    uint64_t Slips() const { return slips_; }

private:
    double ShiftFrequency(double x);

    LineModelParams params_;
    Resampler queue_;  // the delay line, and the skew converter when skew is set
    int delaySamples_ = 0;
    int slipSamples_ = 0;
    uint64_t slips_ = 0;
    double gain_ = 1.0;
    double noiseSigma_ = 0.0;
    std::mt19937_64 rng_;
    std::normal_distribution<double> normal_{0.0, 1.0};
    bool shifting_ = false;
    std::vector<double> hilbert_;   // odd taps of the phase splitter
    std::vector<double> history_;   // last 2 * kLineHilbertHalfLength + 1 inputs, ring
    size_t historyPos_ = 0;
    double phase_ = 0.0;            // of the frequency shift, in cycles
    double phaseStep_ = 0.0;
    std::vector<double> scratch_;
    uint64_t underruns_ = 0;
};

// The near end's echo: a copy of what a side sends, delayed and attenuated, added to what it receives.
struct LineEchoParams {
    double lossDb = INFINITY;  // echo return loss; infinity: no echo
    double delayMs = 0.0;
};

class LineEcho {
public:
    void Configure(const LineEchoParams& params);
    // Takes what the side sent in this frame and adds its echo to what it receives.
    void Apply(const int16_t* sent, int16_t* received, size_t n);

private:
    double gain_ = 0.0;
    std::vector<double> ring_;
    size_t pos_ = 0;
};

int16_t LineSaturate(double v);
