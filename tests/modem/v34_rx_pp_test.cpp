// The receiver's start from PP: the frequency offset between three captures a period apart, and the initial
// equaliser computed from one period, checked by filtering the periodic received signal with its taps at the
// symbol instants (a raised-cosine line with a phase, a gain and an echo, written here in floating point).
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>

#include "layer1/modem/v34/v34_power.h"
#include "layer1/modem/v34/v34_rx.h"
#include "layer1/modem/v34/v34_rx_pp.h"
#include "layer1/modem/v34/v34_tx_steps.h"

namespace {

using Complex = std::complex<double>;
const double kPi = std::acos(-1.0);

Complex Transmitted(int n)
{
    const PackedComplex p = ScaleTransmitPoint(0, kV34PpScale, 0x7FFF, V34PpPoint(((n % 48) + 48) % 48));
    return Complex(RealPart(p), ImagPart(p));
}

// Raised cosine, roll-off 0.25, symbol period 1.
double RaisedCosine(double t)
{
    constexpr double beta = 0.25;
    const double x = 2.0 * beta * t;
    const double sinc = std::fabs(t) < 1e-9 ? 1.0 : std::sin(kPi * t) / (kPi * t);
    if (std::fabs(std::fabs(x) - 1.0) < 1e-9)
        return sinc * kPi / 4.0;
    return sinc * std::cos(kPi * beta * t) / (1.0 - x * x);
}

// The line: gain e^{j phase}, and an echo of the given size one and a half symbols later.
struct Line {
    Complex gain;
    Complex echo;
    // The periodic received PP at time t (symbols): sum over the transmitted symbols.
    Complex At(double t) const
    {
        Complex sum = 0.0;
        for (int n = static_cast<int>(std::floor(t)) - 40; n <= static_cast<int>(std::floor(t)) + 40; ++n) {
            sum += Transmitted(n) * RaisedCosine(t - n);
            sum += echo * Transmitted(n) * RaisedCosine(t - 1.5 - n);
        }
        return sum * gain;
    }
};

PackedComplex Pack(Complex v) { return PackComplex(static_cast<int32_t>(std::lround(v.real())), static_cast<int32_t>(std::lround(v.imag()))); }

TEST(V34RxPp, OffsetBetweenCapturesAPeriodApart)
{
    const Line line{Complex(0.3, 0.1), 0.0};
    for (const double hz : {-7.0, -1.0, 0.0, 2.5, 7.0}) {
        const double perSymbol = hz / (24000.0 / 7.0);  // turns at 3429 baud
        PpCapture c{};
        for (int k = 0; k < kV34PpCaptures; ++k) {
            for (int i = 0; i < kV34PpSamples; ++i) {
                const double t = 48.0 * k + i * 2.0 / 3.0;
                c.samples[k][i] = Pack(line.At(t) * std::polar(1.0, 2.0 * kPi * perSymbol * t));
            }
            c.count += 1;
        }
        const double measured = PpFrequencyOffset(&c) / 4294967296.0 * (24000.0 / 7.0);
        EXPECT_NEAR(measured, hz, 0.02) << hz;
    }
}

// The taps undo the line: at the symbol instants the output (sum >> 11) is the transmitted point times
// gain / 32768, some whole symbols late.
TEST(V34RxPp, InitialEqualiserUndoesTheLineAtTheSymbolInstants)
{
    struct Case {
        Complex gain;
        Complex echo;
        int32_t trainingGain;
    };
    const Case cases[] = {
        {Complex(0.25, 0.0), 0.0, 32768},
        {std::polar(0.2, 2.0), Complex(0.3, -0.2), 32768},
        {std::polar(0.6, -1.0), Complex(-0.25, 0.1), 32862},
    };
    for (const Case& k : cases) {
        const Line line{k.gain, k.echo};
        // One period as the capture holds it: sample i at 2i/3 symbols, the last (i = 71) the newest.
        PackedComplex period[kV34PpSamples];
        for (int i = 0; i < kV34PpSamples; ++i)
            period[i] = Pack(line.At(i * 2.0 / 3.0));
        VekC32 taps[kV34PpSamples];
        const int32_t peak = InitialEqualiser(period, k.trainingGain, taps);
        EXPECT_NEAR(peak, kV34PpPeakTap, 2);
        // Filter at the newest sample's time and whole symbols on: symbol n - delay comes out.
        Complex y[48];
        for (int n = 0; n < 48; ++n) {
            const double t = 71.0 * 2.0 / 3.0 + n;
            y[n] = 0.0;
            for (int j = 0; j < kV34PpSamples; ++j) {
                const Complex w(static_cast<double>(taps[j].re >> 16), static_cast<double>(taps[j].im >> 16));
                y[n] += w * line.At(t - j * 2.0 / 3.0);
            }
            y[n] /= 2048.0;
        }
        double bestError = 1e300;
        for (int delay = 0; delay < 48; ++delay) {
            double error = 0.0, energy = 0.0;
            for (int n = 0; n < 48; ++n) {
                const Complex want = Transmitted(n - delay) * (k.trainingGain / 32768.0);
                error += std::norm(y[n] - want);
                energy += std::norm(want);
            }
            bestError = std::fmin(bestError, error / energy);
        }
        EXPECT_LT(bestError, 1e-5) << "gain " << k.gain << " echo " << k.echo;
    }
}

TEST(V34RxPp, ACaptureWithoutSignalIsRefused)
{
    PackedComplex period[kV34PpSamples] = {};
    VekC32 taps[kV34PpSamples];
    EXPECT_EQ(InitialEqualiser(period, 32768, taps), -1);
    PpCapture c{};
    EXPECT_EQ(AnalysePp(nullptr, &c), -1) << "three captures are needed";
    EXPECT_EQ(CapturePp(nullptr, &c), -2);
    c.count = kV34PpCaptures;
    EXPECT_EQ(CapturePp(nullptr, &c), -1);
}

}  // namespace
