// Test fixtures of the V.34 receiver: the library objects the DSP set-up makes for it, a modulator, and a
// floating-point line model (delay, tilt, frequency offset by a single-sideband shift, sample-clock offset,
// noise, echo) between a transmitter's samples and a receiver's.
#pragma once

#include <cmath>
#include <complex>
#include <cstdint>
#include <random>
#include <vector>

#include "layer1/modem/v34/v34_modulator.h"
#include "layer1/modem/v34/v34_power.h"
#include "layer1/modem/v34/v34_pump.h"
#include "layer1/modem/v34/v34_rx.h"
#include "layer1/vek/core/vek_dispatch.h"
#include "layer1/vek/core/vek_select.h"

namespace v34test {

// The receiver with the objects CreateDspFilters makes for it (same sizes, steps and update delays).
struct RxBench {
    V34Receiver rx{};
    V34ReceiverObjects o{};
    explicit RxBench(int32_t combination)
    {
        vek_init();
        int32_t taps[kV34RailTaps];
        V34RailFilterTaps(taps);
        for (FirState*& f : o.rail)
            vek_fir_init_real(&f, taps, kV34RailTaps, 0, nullptr);
        vek_lms_init_complex(&o.equaliser, nullptr, 72, nullptr, 0, 2, 6, 0);
        vek_lms_init_complex(&o.feedback, nullptr, 120, nullptr, 0, 1, 3, 0);
        vek_lms_init_real(&o.jitter, nullptr, 60, nullptr, 0, 1, 2, 0);
        for (int i = 0; i < 3; ++i) {
            vek_lms_init_complex(&o.nearEcho[i], nullptr, 48, nullptr, 0, 1, 1, 0);
            vek_lms_init_complex(&o.farEcho[i], nullptr, 48, nullptr, 0, 1, 1, 0);
        }
        AttachV34Receiver(&rx, &o);
        rx.combination = combination;
        rx.agc.gain = 0x4000;
        rx.agc.shift = 1;
        rx.agc.power = kV34AgcTarget;
        rx.agc.target = kV34AgcTarget;
        SetReencodeScale(&rx.reencode, kV34TrainingGain, kV34TrainingScale);
        rx.estimator = TimingEstimate;
        rx.faultMonitor = 1;
        rx.monitorLimit = 340000;
        ResetV34Receiver(&rx, 0);
    }
    ~RxBench()
    {
        for (FirState* f : o.rail)
            vek_fir_free_real(f);
        vek_lms_free_complex(o.equaliser);
        vek_lms_free_complex(o.feedback);
        vek_lms_free(o.jitter);
        for (int i = 0; i < 3; ++i) {
            vek_lms_free_complex(o.nearEcho[i]);
            vek_lms_free_complex(o.farEcho[i]);
        }
    }
    RxBench(const RxBench&) = delete;
    RxBench& operator=(const RxBench&) = delete;
};

struct TxBench {
    V34ModulatorState m{};
    FirState* pre[kV34PreEmphasisFilters] = {};
    TxBench(int32_t rateIndex, int32_t high, int16_t gain, V34EchoRing* echo)
    {
        vek_init();
        for (auto& rail : m.branch) {
            for (int k = 0; k < 3; ++k) {
                int32_t taps[16];
                V34PulseBranch(k, taps);
                vek_fir_init_real(&rail[k], taps, 16, 0, nullptr);
            }
        }
        CreateV34PreEmphasisFilters(pre);
        m.preEmphasisSet = pre;
        m.echo = echo;
        m.outputGain = gain;
        SetupV34Modulator(0, rateIndex, high, &m);
    }
    ~TxBench()
    {
        for (auto& rail : m.branch)
            for (FirState* b : rail)
                vek_fir_free_real(b);
        FreeV34PreEmphasisFilters(pre);
    }
    TxBench(const TxBench&) = delete;
    TxBench& operator=(const TxBench&) = delete;
    void Block(const PackedComplex symbols[kV34BlockSymbols], int16_t out[kV34BlockSamples])
    {
        V34Modulator(symbols, &m, out);
    }
};

// Random training points (1/128 grid units) and their transmitted form: 16 points at scale 13848 (TRN after
// J asked for 16 points, MP) or 4 points at 30964 (the first TRN).
struct KnownSymbols {
    std::vector<PackedComplex> points;
    std::vector<PackedComplex> sent;
    KnownSymbols(size_t n, uint32_t seed, bool fourPoint = false) : rng_(seed) { Add(n, fourPoint); }
    void Add(size_t n, bool fourPoint)
    {
        constexpr int16_t levels[4] = {-384, -128, 128, 384};
        for (size_t i = 0; i < n; ++i) {
            const PackedComplex p = fourPoint ? PackComplex(levels[1 + (rng_() & 1)], levels[1 + (rng_() & 1)])
                                              : PackComplex(levels[rng_() & 3], levels[rng_() & 3]);
            points.push_back(p);
            sent.push_back(ScaleTransmitPoint(0, fourPoint ? 30964 : 13848, 0x7FFF, p));
        }
    }

private:
    std::mt19937 rng_;
};

// The line between two modems, in floating point at the sample rate: a tilt filter, a frequency offset by a
// single-sideband shift of the analytic signal, a fractional delay with a sample-clock offset (windowed-sinc
// interpolation), a gain and white noise. The output is rounded to 16 bits.
class Line {
public:
    double tilt = 0.0;        // y = x - tilt x[n-1]
    double offsetHz = 0.0;
    double ppm = 0.0;         // the receiver's clock against the transmitter's
    double delay = 0.0;       // samples
    double gain = 1.0;
    double noiseRms = 0.0;
    double sampleRate = 72000.0 / 7.0;
    double highPassHz = 200.0;  // the line's lower band edge (fourth-order Butterworth); 0: none

    void Push(const int16_t* x, int n)
    {
        for (int i = 0; i < n; ++i) {
            double v = x[i] - tilt * last_;
            last_ = x[i];
            if (highPassHz > 0.0) {
                if (!designed_)
                    Design();
                for (Biquad& b : hp_)
                    v = b.Run(v);
            }
            raw_.push_back(v);
        }
    }
    // Produces one received sample when the transmitter's samples reach far enough; false otherwise.
    bool Next(int16_t* out)
    {
        const double t = static_cast<double>(count_) * (1.0 + ppm * 1e-6) - delay;
        const int64_t centre = static_cast<int64_t>(std::floor(t));
        if (centre + kHalf + kHilbert >= static_cast<int64_t>(raw_.size()))
            return false;
        double acc = 0.0;
        for (int64_t k = centre - kHalf + 1; k <= centre + kHalf; ++k) {
            const double d = t - static_cast<double>(k);
            const double w = 0.5 + 0.5 * std::cos(pi_ * d / kHalf);
            acc += Shifted(k) * Sinc(d) * w;
        }
        count_ += 1;
        double y = acc * gain + (noiseRms > 0 ? noise_(rng_) * noiseRms : 0.0);
        y = std::round(y);
        *out = static_cast<int16_t>(y > 32767 ? 32767 : (y < -32768 ? -32768 : y));
        return true;
    }

private:
    struct Biquad {
        double b0, b1, b2, a1, a2, z1 = 0, z2 = 0;
        double Run(double x)
        {
            const double y = b0 * x + z1;
            z1 = b1 * x - a1 * y + z2;
            z2 = b2 * x - a2 * y;
            return y;
        }
    };
    Biquad hp_[2]{};
    bool designed_ = false;
    // Two high-pass sections (Q 0.541 and 1.307) by the bilinear transform.
    void Design()
    {
        const double q[2] = {0.5412, 1.3066};
        const double w = 2.0 * pi_ * highPassHz / sampleRate;
        for (int k = 0; k < 2; ++k) {
            const double alpha = std::sin(w) / (2.0 * q[k]);
            const double c = std::cos(w);
            const double a0 = 1.0 + alpha;
            hp_[k] = Biquad{(1.0 + c) / 2.0 / a0, -(1.0 + c) / a0, (1.0 + c) / 2.0 / a0, -2.0 * c / a0, (1.0 - alpha) / a0};
        }
        designed_ = true;
    }
    static constexpr int kHalf = 16;
    static constexpr int kHilbert = 63;
    const double pi_ = std::acos(-1.0);
    std::vector<double> raw_;
    double last_ = 0.0;
    int64_t count_ = 0;
    std::mt19937 rng_{99};
    std::normal_distribution<double> noise_{0.0, 1.0};

    double Sinc(double d) const { return std::fabs(d) < 1e-12 ? 1.0 : std::sin(pi_ * d) / (pi_ * d); }
    double Raw(int64_t k) const { return k < 0 || k >= static_cast<int64_t>(raw_.size()) ? 0.0 : raw_[k]; }
    // Re{(x + j H x) e^(j 2 pi f k / fs)} with a windowed Hilbert filter of 127 taps.
    double Shifted(int64_t k) const
    {
        if (offsetHz == 0.0)
            return Raw(k);
        double h = 0.0;
        for (int m = 1; m <= kHilbert; m += 2) {
            const double w = 0.54 + 0.46 * std::cos(pi_ * m / (kHilbert + 1));
            h += (2.0 / (pi_ * m)) * w * (Raw(k - m) - Raw(k + m));
        }
        const double phase = 2.0 * pi_ * offsetHz * static_cast<double>(k) / sampleRate;
        return Raw(k) * std::cos(phase) - h * std::sin(phase);
    }
};

}  // namespace v34test
