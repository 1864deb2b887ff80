// The V.34 receiver open loop: the transmitter's modulator through the line model into the receiver, symbol by
// symbol, on a known-symbol schedule. The stream starts with random 4-point training points (sent as the
// first TRN is); a test cuts it and appends 16-point training (the second TRN, which the MSE is measured on)
// and other symbols (data). Acquisition finds the schedule's lag, the carrier
// phase and frequency and the level from the soft points of an untrained receiver, and the training gives the
// equaliser, jitter predictor, carrier and timing loops their training gains in two stages.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <vector>

#include "layer1/modem/v34/v34_rx_pp.h"
#include "layer1/modem/v34/v34_tx_steps.h"
#include "tests/modem/v34_rx_line.h"

namespace v34test {

using Complex = std::complex<double>;

inline Complex ToComplex(PackedComplex p) { return Complex(RealPart(p), ImagPart(p)); }

struct LineCase {
    const char* name;
    double offsetHz;
    double ppm;
    double tilt;
    double delay;
};

// The receiver's carrier combination of a symbol rate (the low carrier; 3429 baud has one).
inline int32_t Combination(int32_t symbolRateIndex) { return 2 * symbolRateIndex; }

class OpenLoop {
public:
    OpenLoop(const LineCase& c, uint32_t seed, int32_t symbolRateIndex = 5)
        : rxb_(Combination(symbolRateIndex)),
          txb_(symbolRateIndex, 0, static_cast<int16_t>(TxLevelFor(11) >> 2), nullptr),
          known_(40000, seed, true)
    {
        line_.offsetHz = c.offsetHz;
        line_.ppm = c.ppm;
        line_.tilt = c.tilt;
        line_.delay = c.delay;
        line_.sampleRate = symbolRateIndex == 1   ? 3.0 * 19200.0 / 7.0
                           : symbolRateIndex == 5 ? 3.0 * 24000.0 / 7.0
                                                  : 3.0 * V34SymbolRate(symbolRateIndex);
        rxb_.rx.agc.rate = 0x27000000;
        sent_ = known_.sent;
    }
    V34Receiver& rx() { return rxb_.rx; }
    const KnownSymbols& known() const { return known_; }

    // The transmitted stream keeps its first n symbols (the known points too); more are appended: known
    // 16-point training or, already scaled for the line, other symbols (data).
    void Cut(size_t n)
    {
        n = std::max(n, taken_);  // what the modulator took stays
        sent_.resize(n);
        known_.points.resize(n);
        known_.sent.resize(n);
    }
    void AppendSixteenPoint(size_t n)
    {
        known_.Add(n, false);
        sent_.insert(sent_.end(), known_.sent.end() - static_cast<std::ptrdiff_t>(n), known_.sent.end());
    }
    void Append(PackedComplex sent) { sent_.push_back(sent); }
    // PP in place of count symbols from start (not yet sent); its known points are the transmitted points in
    // the receiver's units while it trains on 4-point TRN.
    void PlacePp(size_t start, size_t count)
    {
        for (size_t n = 0; n < count; ++n) {
            const PackedComplex s = ScaleTransmitPoint(0, kV34PpScale, 0x7FFF, V34PpPoint(static_cast<int32_t>(n)));
            sent_[start + n] = s;
            known_.sent[start + n] = s;
            known_.points[start + n] = PackComplex(static_cast<int32_t>(std::lround(RealPart(s) * 512.0 / 30964)),
                                                   static_cast<int32_t>(std::lround(ImagPart(s) * 512.0 / 30964)));
        }
    }
    size_t Sent() const { return sent_.size(); }

    // One received symbol; the decision (when lag >= 0) is the known training point lag symbols back.
    VekC32 Symbol(int32_t lag)
    {
        V34Receiver& r = rxb_.rx;
        for (;;) {
            const VekC32 y = V34ReceiveSymbol(&r);
            if (r.skip == 0) {
                RxSlot* slot = CurrentSlot(&r);
                const int64_t n = static_cast<int64_t>(r.symbolCount) - lag;
                if (lag >= 0 && n >= 0 && n < static_cast<int64_t>(known_.points.size()))
                    slot->decision = known_.points[static_cast<size_t>(n)];
                r.symbolCount += 1;
                return y;
            }
            FeedBlock();
        }
    }

    // The next block into the receiver.
    void FeedBlock()
    {
        int16_t block[kV34BlockSamples];
        NextBlock(block);
        TakeReceiveBlock(&rxb_.rx, block);
    }

    // The line's next block (zero symbols sent once the stream is used up).
    void NextBlock(int16_t block[kV34BlockSamples])
    {
        int filled = 0;
        while (filled < kV34BlockSamples) {
            if (line_.Next(&block[filled])) {
                ++filled;
                continue;
            }
            PackedComplex symbols[kV34BlockSymbols] = {};
            for (int i = 0; i < kV34BlockSymbols && taken_ + i < sent_.size(); ++i)
                symbols[i] = sent_[taken_ + i];
            taken_ += kV34BlockSymbols;
            int16_t tx[kV34BlockSamples];
            txb_.Block(symbols, tx);
            line_.Push(tx, kV34BlockSamples);
        }
    }

private:
    RxBench rxb_;
    TxBench txb_;
    KnownSymbols known_;
    Line line_;
    std::vector<PackedComplex> sent_;
    size_t taken_ = 0;
};

// A spike in the middle of the equaliser: the output is the input 24 symbols late.
inline void SpikeEqualiser(V34Receiver& rx, int32_t value)
{
    VekC32 taps[kV34EqualiserTaps] = {};
    taps[36].re = value * 65536;
    vek_lms_set_taps_complex(rx.equaliser, taps);
}

struct Acquisition {
    int32_t lag = -1;
    double phase = 0.0;      // radians, at the last symbol of the acquisition
    double frequency = 0.0;  // radians per symbol
    double gain = 1.0;       // soft point magnitude over the known point's
};

// Finds the known schedule's lag, the carrier phase and frequency and the level from the soft points of an
// untrained receiver (what the PP analysis gives the training).
inline Acquisition Acquire(OpenLoop& loop, int32_t kWindows = 10)
{
    constexpr int32_t kWindow = 48;  // symbols per correlation window
    constexpr int32_t kMaxLag = 90;
    std::vector<Complex> soft;
    for (int i = 0; i < kWindow * kWindows; ++i) {
        loop.Symbol(-1);
        soft.push_back(ToComplex(loop.rx().slot[(loop.rx().symbolCount - 1) & 1].soft));
    }
    const uint32_t first = loop.rx().symbolCount - kWindow * kWindows;
    Acquisition a;
    double best = 0.0;
    for (int lag = 0; lag <= kMaxLag; ++lag) {
        double sum = 0.0;
        for (int w = 0; w < kWindows; ++w) {
            Complex c = 0;
            for (int i = 0; i < kWindow; ++i) {
                const int n = w * kWindow + i;
                c += soft[n] * std::conj(ToComplex(loop.known().points[first + n - lag]));
            }
            sum += std::abs(c);
        }
        if (sum > best) {
            best = sum;
            a.lag = lag;
        }
    }
    std::vector<double> phases;
    double energy = 0.0, known = 0.0;
    for (int w = 0; w < kWindows; ++w) {
        Complex c = 0;
        for (int i = 0; i < kWindow; ++i) {
            const int n = w * kWindow + i;
            const Complex p = ToComplex(loop.known().points[first + n - a.lag]);
            c += soft[n] * std::conj(p);
            energy += std::norm(soft[n]);
            known += std::norm(p);
        }
        double ph = std::arg(c);
        while (!phases.empty() && ph - phases.back() > M_PI)
            ph -= 2 * M_PI;
        while (!phases.empty() && ph - phases.back() < -M_PI)
            ph += 2 * M_PI;
        phases.push_back(ph);
    }
    // Least-squares line through the window phases (window centres).
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (int w = 0; w < kWindows; ++w) {
        const double x = (w + 0.5) * kWindow;
        sx += x;
        sy += phases[w];
        sxx += x * x;
        sxy += x * phases[w];
    }
    a.frequency = (kWindows * sxy - sx * sy) / (kWindows * sxx - sx * sx);
    const double intercept = (sy - a.frequency * sx) / kWindows;
    a.phase = intercept + a.frequency * (kWindow * kWindows);
    a.gain = std::sqrt(energy / known);
    return a;
}

inline int32_t PhaseWord(double radians)
{
    const double turns = radians / (2 * M_PI);
    return static_cast<int32_t>(
        static_cast<uint32_t>(static_cast<int64_t>(std::llround((turns - std::floor(turns)) * 4294967296.0))));
}

inline void SetLoop(PhaseLoop& l, int32_t proportional, int32_t integral, int32_t output)
{
    l.proportional = proportional;
    l.integral = integral;
    l.output = output;
}

struct Options {
    bool feedback = true;
    bool timing = true;
};

constexpr int32_t kAcquire = 300;  // symbols of AGC before it is frozen

// The start of training: AGC, acquisition, then the equaliser scaled to the level, the carrier loop on the
// acquired phase and frequency, and the first stage's gains. Returns the lag.
constexpr int32_t kOpenLoopOutputGain = 0x147AE14;

// The first training stage's loop gains and adaptation steps, with the feedback filter and timing estimator
// detached where the options leave them out.
inline void FirstStageGains(V34Receiver& rx, Options options)
{
    SetLoop(rx.carrier, 3579139, 4473924, kOpenLoopOutputGain);
    SetLoop(rx.timing, 0x147AE14, 149130, 0x7FFFFFFF);
    rx.timing.flags |= kLoopFirstEstimate;
    vek_lms_set_mu_complex(rx.equaliser, -6000);
    vek_lms_set_mu_complex(rx.feedback, -750);
    vek_lms_set_mu_real(rx.jitter, 300);
    if (!options.feedback)
        rx.feedback = nullptr;
    if (!options.timing)
        rx.estimator = nullptr;
}

inline int32_t StartTraining(OpenLoop& loop, Options options)
{
    V34Receiver& rx = loop.rx();
    SpikeEqualiser(rx, 8192);
    for (int i = 0; i < kAcquire; ++i)
        loop.Symbol(-1);
    rx.agc.rate = 0;
    const Acquisition a = Acquire(loop);
    EXPECT_GE(a.lag, 0);
    SpikeEqualiser(rx, static_cast<int32_t>(std::min(32767.0, std::lround(8192 / a.gain) * 1.0)));
    rx.carrier.phase = PhaseWord(-(a.phase + a.frequency));
    rx.carrier.integrator = static_cast<int32_t>(
        std::lround(-a.frequency / (2 * M_PI) * 4294967296.0 / (kOpenLoopOutputGain / 2147483648.0)));
    FirstStageGains(rx, options);
    return a.lag;
}

constexpr int32_t kPpStart = 300;   // symbols of 4-point training for the AGC before PP
constexpr int32_t kPpLength = 288;

// The start of training from PP, as the training steps start it: the AGC on the 4-point symbols before PP,
// then frozen; three captures of PP a period apart once the equaliser's line holds PP; the analysis (carrier
// offset and initial equaliser); the first 192 symbols without adaptation (they give the test its lag); then
// the first stage's gains. Returns the lag.
inline int32_t StartTrainingFromPp(OpenLoop& loop, Options options)
{
    V34Receiver& rx = loop.rx();
    loop.PlacePp(kPpStart, kPpLength);
    for (int i = 0; i < kPpStart; ++i)
        loop.Symbol(-1);
    rx.agc.rate = 0;
    for (int i = 0; i < 3 * kV34PpPeriod; ++i)
        loop.Symbol(-1);
    PpCapture capture{};
    for (int k = 0; k < kV34PpCaptures; ++k) {
        for (int i = 0; i < kV34PpPeriod; ++i)
            loop.Symbol(-1);
        EXPECT_EQ(CapturePp(rx.equaliser, &capture), 0);
    }
    EXPECT_EQ(AnalysePp(&rx, &capture), 0);
    const Acquisition a = Acquire(loop, 4);
    EXPECT_GE(a.lag, 0);
    FirstStageGains(rx, options);
    return a.lag;
}

// The training schedule's gain changes at symbol i of the training after acquisition.
inline void TrainingStage(V34Receiver& rx, int32_t i)
{
    if (i == 300) {
        SetLoop(rx.carrier, 2147483, 3834792, kOpenLoopOutputGain);
        SetLoop(rx.timing, 10737418, 81344, 0x7FFFFFFF);
        if (rx.feedback != nullptr)
            vek_lms_set_mu_complex(rx.feedback, -2550);
    }
    if (i == 600) {
        if (rx.feedback != nullptr)
            vek_lms_set_mu_complex(rx.feedback, -2500);
        vek_lms_set_mu_real(rx.jitter, 100);
        SetLoop(rx.timing, 8589934, 81344, 0x7FFFFFFF);
    }
}

// The re-encoder's scale from the MP exchange on (the far end's 16-point signals are sent at 13848).
constexpr int32_t kMpScale = 13315;
constexpr int32_t kMeasureSymbols = 1500;

// What follows TRN up to the rate choice: the re-encoder at the MP scale, the equaliser, feedback filter,
// jitter predictor and carrier loop at their MP gains, the timing gains from symbol 50, 1500 symbols in all
// on the known schedule of 16-point training that follows the 4-point one; then the MSE over 256 symbols as the
// rate choice takes it (the squared errors summed, >> 4). The symbols of after (data) follow the training.
inline int32_t MeasureMse(OpenLoop& loop, int32_t lag, const std::vector<PackedComplex>& after = {})
{
    V34Receiver& rx = loop.rx();
    loop.Cut(static_cast<size_t>(rx.symbolCount) - lag);
    loop.AppendSixteenPoint(kMeasureSymbols + 256 + 64);
    for (const PackedComplex s : after)
        loop.Append(s);
    SetReencodeScale(&rx.reencode, kV34TrainingGain, kMpScale);
    vek_lms_set_mu_complex(rx.equaliser, -6000);
    if (rx.feedback != nullptr)
        vek_lms_set_mu_complex(rx.feedback, -750);
    vek_lms_set_mu_real(rx.jitter, 70);
    rx.carrier.proportional = 2684354;
    rx.carrier.integral = 447392;
    for (int i = 0; i < kMeasureSymbols; ++i) {
        if (i == 50) {
            rx.timing.proportional = 8589934;
            rx.timing.integral = 81344;
        }
        loop.Symbol(lag);
    }
    int64_t mse = 0;
    for (int i = 0; i < 256; ++i) {
        loop.Symbol(lag);
        mse += rx.squaredError;
    }
    return static_cast<int32_t>(mse >> 4);
}

}  // namespace v34test
