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
    // The channel's response as FIR taps at 8000 Hz (LineChannelTaps), applied after the attenuation; empty:
    // none. Its delay (taps - 1) / 2 counts in DelaySamples.
    std::vector<double> channel;
    // Phase jitter: the phase swings by +-jitterDegrees at jitterHz (sinusoidal).
    double jitterHz = 0.0;
    double jitterDegrees = 0.0;
    // Bursts of noise: every burstPeriodMs (0: none) the noise rises for burstLengthMs to burstSnrDb (stated
    // like snrDb), starting burstPeriodMs after the configuration.
    double burstPeriodMs = 0.0;
    double burstLengthMs = 0.0;
    double burstSnrDb = 0.0;
};

// A channel shape for LineChannelTaps: 0 dB between lowHz and highHz, falling by a raised cosine over
// edgeHz outside them to -stopDb; a tilt of tiltDb at 3000 Hz against 1000 Hz (linear in frequency between,
// continued beyond); above rolloffHz a further fall of rolloffDbPerKHz.
struct LineChannelShape {
    double lowHz = 300.0;
    double highHz = 3400.0;
    double edgeHz = 200.0;
    double stopDb = 40.0;
    double tiltDb = 0.0;
    double rolloffHz = 4000.0;
    double rolloffDbPerKHz = 0.0;
};
// Shapes of a telephone channel: flat between two edges; a codec's band (G.712-like: flat 300-3400 Hz, the
// edges falling over 400 Hz to -28 dB, -14 dB at 100 and 3600 Hz).
LineChannelShape LineFlatChannel(double lowHz, double highHz);
LineChannelShape LineCodecChannel();
// Linear-phase FIR taps (odd length) whose gain follows the shape within about 0.1 dB in the passband.
std::vector<double> LineChannelTaps(const LineChannelShape& shape, int taps = 127);
// The shape's gain at f Hz, in dB.
double LineChannelGainDb(const LineChannelShape& shape, double hz);

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
    int DelaySamples() const
    {
        return delaySamples_ + (shifting_ ? kLineHilbertHalfLength : 0) +
               (params_.channel.empty() ? 0 : static_cast<int>(params_.channel.size() - 1) / 2);
    }
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
    double burstSigma_ = 0.0;
    uint64_t burstPeriod_ = 0;   // samples
    uint64_t burstLength_ = 0;
    uint64_t samples_ = 0;       // since the configuration
    std::mt19937_64 rng_;
    std::normal_distribution<double> normal_{0.0, 1.0};
    bool shifting_ = false;
    std::vector<double> hilbert_;   // odd taps of the phase splitter
    std::vector<double> history_;   // last 2 * kLineHilbertHalfLength + 1 inputs, ring
    size_t historyPos_ = 0;
    double phase_ = 0.0;            // of the frequency shift, in cycles
    double phaseStep_ = 0.0;
    double jitterPhase_ = 0.0;      // cycles of the jitter tone
    std::vector<double> channelHistory_;  // last channel.size() inputs, ring
    size_t channelPos_ = 0;
    std::vector<double> scratch_;
    uint64_t underruns_ = 0;
};

// The near end's echo: a copy of what a side sends, delayed and attenuated, added to what it receives.
struct LineEchoParams {
    double lossDb = INFINITY;  // echo return loss; infinity: no echo
    double delayMs = 0.0;
    // The echo's own frequency offset (a far echo that crossed the carrier system twice); the shift's
    // splitter delay is taken out of delayMs, so the echo stays where delayMs puts it.
    double frequencyOffsetHz = 0.0;
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
    bool shifting_ = false;
    LineDirection shift_;
    std::vector<int16_t> echo_;
    std::vector<int16_t> shifted_;
};

int16_t LineSaturate(double v);
