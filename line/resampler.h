// Streaming sample-rate converter between the pump's rate and the line's 8000 Hz (and for the line model's
// clock skew): a windowed-sinc interpolator evaluated at exact rational positions.
//
// Filter design. The kernel is a Kaiser-windowed sinc with a cut-off at the middle of the transition band,
// designed for 80 dB stopband attenuation (beta 7.86), so images and aliases are at least 60 dB down with room
// to spare, and passband ripple is far below 0.01 dB. For a conversion whose lower rate has a Nyquist
// frequency N:
//   - N >= 3600 Hz: passband flat to 3400 Hz, stopband from 2N - 3400 Hz (4600 Hz at 8000 Hz, 3800 Hz at
//     7200 Hz). Content of the passband cannot alias or image into the passband; what lies between 3400 Hz and
//     N may fold only into the band above 3400 Hz.
//   - N < 3600 Hz (4800 Hz pump rate): passband to 5/6 N, stopband from 7/6 N (2000 / 2800 Hz).
// The kernel length follows from the transition width (Kaiser's estimate), about 34 taps per output at
// 8000 -> 9600 and 100 at 8000 -> 7200.
//
// Positions are tracked exactly: output n sits at input position n * Fi / Fo, kept as an integer and a
// remainder over the reduced denominator. When that denominator is at most kExactPhaseLimit the kernel table
// has one row per phase (9600 <-> 8000 uses 6 and 5 rows, 7200 <-> 8000 10 and 9); otherwise the table has
// kInterpolatedPhases rows and coefficients are interpolated linearly between neighbouring rows.
//
// Speed without changing a result: an output whose kernel reads only silence is 0 without any product, and
// up to four outputs are computed side by side, each summing its products in the same order as alone (the
// sums are independent, so the processor overlaps them).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class Resampler {
public:
    static constexpr uint64_t kExactPhaseLimit = 1024;
    static constexpr int kInterpolatedPhases = 512;

    Resampler() = default;
    // inputRate / outputRate is the exact conversion ratio (Hz, or both scaled for a fractional ratio such as a
    // clock skew); inputRateHz is the input rate in Hz, and the band edges are in Hz.
    void Configure(uint64_t inputRate, uint64_t outputRate, double inputRateHz, double passEdgeHz,
                   double stopEdgeHz);
    // The pump <-> line conversion with the band edges above.
    void ConfigureRates(uint32_t inputHz, uint32_t outputHz);
    // The wideband conversion for the pumps that use the band up to 3750 Hz (V.34 and PCM): rates as exact
    // fractions (numerator / denominator Hz); passband to 3750 Hz and stopband from 2N - 3750 Hz, N the lower
    // rate's Nyquist frequency (3750 / 4250 Hz against the 8000 Hz line).
    void ConfigureWide(uint64_t inputNum, uint64_t inputDen, uint64_t outputNum, uint64_t outputDen);
    void Reset();  // forget the signal; the first output starts from silence again

    bool Identity() const { return identity_; }
    void Push(const double* input, size_t n);
    void PushSilence(size_t n);
    // Inputs still needed before n outputs can be produced.
    size_t InputNeeded(size_t n) const;
    // Produces up to n outputs; returns how many the buffered input allowed.
    size_t Pull(double* output, size_t n);
    // Inputs the kernel reads ahead of the output position (the converter's latency; the signal itself is not
    // delayed: output n is the input at position n * Fi / Fo).
    int Lookahead() const { return halfWidth_; }
    int TapsPerOutput() const { return 2 * halfWidth_; }

private:
    double Tap(int row, int j) const { return table_[static_cast<size_t>(row) * taps_ + static_cast<size_t>(j)]; }
    void Compact();
    size_t PullExact(double* output, size_t n);
    // The next output position: frac stays below denom_.
    void Advance(size_t* pos, uint64_t* frac) const
    {
        *pos += static_cast<size_t>(stepWhole_);
        *frac += stepFrac_;
        if (*frac >= denom_) {
            *frac -= denom_;
            *pos += 1;
        }
    }

    bool identity_ = true;
    uint64_t step_ = 1;     // reduced input rate
    uint64_t denom_ = 1;    // reduced output rate
    uint64_t stepWhole_ = 0;  // step_ / denom_ and step_ % denom_: the position's advance per output
    uint64_t stepFrac_ = 0;
    bool interpolated_ = false;
    int rows_ = 1;
    int halfWidth_ = 0;
    size_t taps_ = 0;
    std::vector<double> table_;
    std::vector<double> buffer_;  // input samples; index 0 is the oldest kept
    size_t ipos_ = 0;             // buffer index at or before the next output position
    size_t signalEnd_ = 0;        // buffer index after the last input that is not 0
    uint64_t frac_ = 0;           // remainder of the position over denom_
};

// The exact rate behind a nominal pump rate: 8229 and 10287 Hz are 57600/7 and 72000/7 Hz (three samples per
// symbol at 19200/7 and 24000/7 baud); every other rate is itself.
void ExactPumpRate(uint32_t nominalHz, uint64_t* numerator, uint64_t* denominator);
constexpr double kWidePassEdgeHz = 3750.0;

// Band edges used for a pump rate <-> 8000 Hz conversion (both directions use the lower rate's edges).
void ResamplerBandEdges(uint32_t rateA, uint32_t rateB, double* passEdgeHz, double* stopEdgeHz);
