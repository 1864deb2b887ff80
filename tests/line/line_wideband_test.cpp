// The line for the V.34 and PCM pumps: wideband converters at the exact V.34 rates, the channel response,
// the far echo's own offset, phase jitter, clock skew measured back, and two ports at 72000/7 and 9600 Hz
// running for minutes without drift or slip.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <complex>
#include <thread>

#include "line/line_model.h"
#include "line/line_network.h"
#include "line/resampler.h"
#include "support/counted_thread.h"
#include "support/line_fake_pump.h"
#include "support/line_signal.h"

using linetest::FitTone;
using linetest::FakePump;

namespace {

struct Rate {
    uint32_t nominal;
    double hz;
};
const Rate kRates[] = {{9600, 9600.0}, {8229, 57600.0 / 7}, {8400, 8400.0}, {9000, 9000.0}, {10287, 72000.0 / 7}};

std::vector<double> ToneAt(double hz, double rate, double amplitude, size_t n)
{
    std::vector<double> x(n);
    for (size_t i = 0; i < n; ++i)
        x[i] = amplitude * std::cos(2 * M_PI * hz * static_cast<double>(i) / rate);
    return x;
}

std::vector<double> ConvertWide(uint32_t nominalIn, uint32_t nominalOut, const std::vector<double>& in)
{
    uint64_t ni, di, no, dout;
    ExactPumpRate(nominalIn, &ni, &di);
    ExactPumpRate(nominalOut, &no, &dout);
    Resampler r;
    r.ConfigureWide(ni, di, no, dout);
    r.Push(in.data(), in.size());
    std::vector<double> out(in.size() * 2 + 16);
    out.resize(r.Pull(out.data(), out.size()));
    return out;
}

double Rms(const std::vector<double>& x, size_t begin, size_t end)
{
    double s = 0;
    for (size_t i = begin; i < end; ++i)
        s += x[i] * x[i];
    return std::sqrt(s / static_cast<double>(end - begin));
}

// Amplitude at hz in x[begin, end) with a Blackman window (its leakage is far below -100 dB a few hundred
// hertz from a tone of this length).
double AmplitudeAt(const std::vector<double>& x, double rate, double hz, size_t begin, size_t end)
{
    std::complex<double> s = 0;
    double w = 0;
    const double n = static_cast<double>(end - begin);
    for (size_t i = begin; i < end; ++i) {
        const double u = static_cast<double>(i - begin) / n;
        const double win = 0.42 - 0.5 * std::cos(2 * M_PI * u) + 0.08 * std::cos(4 * M_PI * u);
        s += x[i] * win * std::polar(1.0, -2 * M_PI * hz * static_cast<double>(i) / rate);
        w += win;
    }
    return 2 * std::abs(s) / w;
}

// The frequency f of a signal sampled at rate, as seen below rate / 2.
double Folded(double f, double rate)
{
    f = std::fmod(f, rate);
    return f > rate / 2 ? rate - f : f;
}

TEST(LineWideband, ConvertersPassTheBandAndHoldImagesAndAliasesSeventyDbDown)
{
    const double a = 10000.0;
    for (const Rate& r : kRates) {
        for (double hz : {150.0, 600.0, 1800.0, 3000.0, 3600.0, 3750.0}) {
            // Up to the line: the tone within 1 dB, the pump rate's image of it folded onto the line 70 dB down.
            const std::vector<double> up = ConvertWide(r.nominal, 8000, ToneAt(hz, r.hz, a, 24000));
            const size_t eu = up.size() - 2000;
            EXPECT_NEAR(20 * std::log10(AmplitudeAt(up, 8000, hz, 2000, eu) / a), 0.0, 1.0) << r.nominal << " " << hz;
            const double alias = Folded(r.hz - hz, 8000);
            EXPECT_LT(20 * std::log10(AmplitudeAt(up, 8000, alias, 2000, eu) / a), -70.0)
                << r.nominal << " " << hz << " alias at " << alias;
            // Down to the pump: within 1 dB, the line's image at 8000 - f (where the pump's band holds it) 70 dB
            // down.
            const std::vector<double> down = ConvertWide(8000, r.nominal, ToneAt(hz, 8000, a, 24000));
            const size_t ed = down.size() - 2000;
            EXPECT_NEAR(20 * std::log10(AmplitudeAt(down, r.hz, hz, 2000, ed) / a), 0.0, 1.0) << r.nominal << " " << hz;
            const double image = 8000 - hz;
            if (image < r.hz / 2)
                EXPECT_LT(20 * std::log10(AmplitudeAt(down, r.hz, image, 2000, ed) / a), -70.0)
                    << r.nominal << " " << hz << " image at " << image;
        }
        // Tones between the stop edge and the pump's Nyquist frequency fold below 3750 Hz: 70 dB down.
        for (double hz = 4250.0; hz < r.hz / 2 - 50; hz += 200.0) {
            const std::vector<double> up = ConvertWide(r.nominal, 8000, ToneAt(hz, r.hz, a, 24000));
            EXPECT_LT(20 * std::log10(Rms(up, 2000, up.size() - 2000) * std::sqrt(2.0) / a), -70.0)
                << r.nominal << " " << hz;
        }
    }
}

TEST(LineWideband, ChannelShapeAndDelayExactToTheSample)
{
    const LineChannelShape flat = LineFlatChannel(300.0, 3400.0);
    const std::vector<double> taps = LineChannelTaps(flat);
    ASSERT_EQ(taps.size(), 127u);
    auto gainDb = [&](double hz) {
        std::complex<double> h = 0;
        for (size_t k = 0; k < taps.size(); ++k)
            h += taps[k] * std::polar(1.0, -2 * M_PI * hz * static_cast<double>(k) / 8000.0);
        return 20 * std::log10(std::abs(h));
    };
    for (double hz : {400.0, 1000.0, 2000.0, 3300.0})
        EXPECT_NEAR(gainDb(hz), 0.0, 0.2) << hz;
    for (double hz : {100.0, 3700.0})
        EXPECT_LT(gainDb(hz), -30.0) << hz;
    LineChannelShape tilt = flat;
    tilt.tiltDb = -6.0;
    const std::vector<double> tilted = LineChannelTaps(tilt);
    std::complex<double> h1 = 0, h3 = 0;
    for (size_t k = 0; k < tilted.size(); ++k) {
        h1 += tilted[k] * std::polar(1.0, -2 * M_PI * 1000.0 * static_cast<double>(k) / 8000.0);
        h3 += tilted[k] * std::polar(1.0, -2 * M_PI * 3000.0 * static_cast<double>(k) / 8000.0);
    }
    EXPECT_NEAR(20 * std::log10(std::abs(h3) / std::abs(h1)), -6.0, 0.2);
    // An impulse (a 1 kHz burst's centre) arrives exactly DelaySamples later.
    LineModelParams p;
    p.bulkDelayMs = 12.5;
    p.channel = taps;
    LineDirection d;
    d.Configure(p);
    EXPECT_EQ(d.DelaySamples(), 100 + 63);
    std::vector<int16_t> in(800, 0), out(800);
    in[10] = 20000;
    d.Process(in.data(), out.data(), in.size());
    size_t peak = 0;
    for (size_t i = 0; i < out.size(); ++i)
        if (std::abs(out[i]) > std::abs(out[peak]))
            peak = i;
    EXPECT_EQ(static_cast<int>(peak) - 10, d.DelaySamples());
}

TEST(LineWideband, SnrWithAChannelWithinAFifthOfADecibel)
{
    for (double snr : {15.0, 25.0, 40.0}) {
        LineModelParams p;
        p.nominalLevelDbm0 = -10.0;
        p.snrDb = snr;
        p.noiseSeed = 11;
        p.channel = LineChannelTaps(LineFlatChannel(300.0, 3400.0));
        LineDirection d;
        d.Configure(p);
        const double a = std::sqrt(2.0 * LinePowerOfDbm0(-10.0));
        const std::vector<int16_t> x = linetest::ToneS16(1000, 8000, a, 160000);
        std::vector<int16_t> y(x.size());
        for (size_t i = 0; i < x.size(); i += 80)
            d.Process(x.data() + i, y.data() + i, 80);
        const std::vector<double> out = linetest::ToDouble(y);
        const auto fit = FitTone(out, 8000, 1000, 1000, out.size());
        EXPECT_NEAR(-fit.residualDb, snr, 0.2) << snr;
    }
}

TEST(LineWideband, SkewMeasuredBackWithinOnePpm)
{
    for (double ppm : {100.0, -100.0, 37.0}) {
        LineModelParams p;
        p.skewPpm = ppm;
        LineDirection d;
        d.Configure(p);
        const std::vector<int16_t> x = linetest::ToneS16(1000, 8000, 16000, 8000 * 20);
        std::vector<int16_t> y(x.size());
        for (size_t i = 0; i < x.size(); i += 80)
            d.Process(x.data() + i, y.data() + i, 80);
        const std::vector<double> out = linetest::ToDouble(y);
        const auto fit = FitTone(out, 8000, 1000 / (1 + ppm * 1e-6), 8000 * 5, out.size());
        EXPECT_NEAR((1000.0 / fit.frequency - 1.0) * 1e6, ppm, 1.0) << ppm;
    }
}

TEST(LineWideband, FarEchoWithItsOwnOffsetAndPhaseJitter)
{
    // The echo of a 1 kHz tone comes back 20 dB down, 2 Hz up.
    LineEcho echo;
    echo.Configure(LineEchoParams{20.0, 40.0, 2.0});
    const std::vector<int16_t> x = linetest::ToneS16(1000, 8000, 16000, 8000 * 4);
    std::vector<int16_t> heard(x.size(), 0);
    for (size_t i = 0; i < x.size(); i += 80)
        echo.Apply(x.data() + i, heard.data() + i, 80);
    const std::vector<double> h = linetest::ToDouble(heard);
    const auto fit = FitTone(h, 8000, 1002, 4000, h.size());
    EXPECT_NEAR(fit.frequency, 1002.0, 0.01);
    EXPECT_NEAR(20 * std::log10(fit.amplitude / 16000), -20.0, 0.1);
    // It starts 40 ms after the signal (the shifter's delay taken out of the echo's).
    size_t first = 0;
    while (first < heard.size() && std::abs(heard[first]) < 400)
        ++first;
    EXPECT_NEAR(static_cast<double>(first), 320.0, 3.0);
    // Jitter of +-10 degrees at 50 Hz swings the phase of a tone by that much.
    LineModelParams p;
    p.jitterHz = 50.0;
    p.jitterDegrees = 10.0;
    LineDirection d;
    d.Configure(p);
    std::vector<int16_t> y(x.size());
    for (size_t i = 0; i < x.size(); i += 80)
        d.Process(x.data() + i, y.data() + i, 80);
    // Phase against the undisturbed tone, over 1 ms windows.
    double swing = 0;
    for (size_t w = 4000; w + 8 < y.size(); w += 8) {
        std::complex<double> s = 0;
        for (size_t i = w; i < w + 8; ++i)
            s += static_cast<double>(y[i]) * std::polar(1.0, -2 * M_PI * 1000.0 * static_cast<double>(i - d.DelaySamples()) / 8000.0);
        swing = std::max(swing, std::fabs(std::arg(s)) * 180 / M_PI);
    }
    EXPECT_NEAR(swing, 10.0, 0.6);
}

struct LineExactRateTest : ::testing::Test {
    platform::Clock clock;
    platform::ClockThread self{clock};
    LineNetwork* network = LineNetworkCreate();
    ~LineExactRateTest() override
    {
        if (network != nullptr)
            LineNetworkDestroy(network);
    }
};

// Port a at 72000/7 Hz sends a tone, port b at 9600 Hz receives it; minutes of blocks on one clock.
TEST_F(LineExactRateTest, TwoPortsAt72000Over7And9600RunWithoutDriftOrSlip)
{
#ifdef MODEM_UNDER_SANITIZER
    const LONGLONG seconds = 60;
#else
    const LONGLONG seconds = 600;
#endif
    LinePortConfig ca;
    ca.name = "v34";
    LinePortConfig cb;
    cb.name = "phase2";
    cb.wideband = true;
    LinePort* a = LineNetworkAddPort(network, ca);
    LinePort* b = LineNetworkAddPort(network, cb);
    LineConnect(network, &a->endpoint, &b->endpoint, {});
    FakePump pa(a);
    FakePump pb(b);
    LowerFormat v34{10287, 96};
    pa.Control(LOWER_CODE_FORMAT, &v34, nullptr);
    std::vector<double> atB;
    std::atomic<bool> bDone{false};
    const int blocksB = static_cast<int>(seconds * 100);
    std::vector<LONGLONG> timesA;
    std::thread other = testsupport::StartCountedThread(clock, "pump-b", [&] {
        pb.Run(blocksB, [&](int i) {
            const std::vector<int16_t> x = pb.Read(96);
            if (i >= blocksB - 200)
                atB.insert(atB.end(), x.begin(), x.end());
            pb.Write(std::vector<int16_t>(96, 0));
        });
        bDone = true;
    });
    double phase = 0;
    const double rateA = 72000.0 / 7;
    // The queues settle in the first blocks after the change to 72000/7 Hz; from then on nothing may run dry.
    LinePortStats settled[2];
    while (!bDone) {
        pa.Run(1, [&](int) {
            pa.Read(96);
            std::vector<int16_t> out(96);
            for (int16_t& v : out) {
                v = static_cast<int16_t>(std::lround(12000 * std::cos(phase)));
                phase = std::fmod(phase + 2 * M_PI * 1000.0 / rateA, 2 * M_PI);
            }
            pa.Write(out);
            timesA.push_back(pa.LastEventTime());
            if (timesA.size() == 200) {
                settled[0] = LinePortGetStats(a);
                settled[1] = LinePortGetStats(b);
            }
        });
    }
    other.join();
    // a's blocks come every 96 x 7 / 72000 s exactly (from the block after the format change on).
    const size_t n = timesA.size();
    ASSERT_GT(n, 1000u);
    const LONGLONG span = timesA[n - 1] - timesA[2];
    const double expected = static_cast<double>(n - 3) * 96.0 * 7.0 / 72000.0 * 1e7;
    EXPECT_NEAR(static_cast<double>(span), expected, 1.0);
    // The tone arrives at its frequency after minutes: no drift, no slip, no gap.
    const auto fit = FitTone(atB, 9600, 1000, 0, atB.size());
    EXPECT_NEAR(fit.frequency, 1000.0, 0.001);
    EXPECT_LT(fit.residualDb, -60.0);
    for (int k = 0; k < 2; ++k) {
        LinePort* p = k == 0 ? a : b;
        const LinePortStats s = LinePortGetStats(p);
        EXPECT_EQ(s.rxUnderruns, settled[k].rxUnderruns) << p->config.name;
        EXPECT_EQ(s.rxOverflows, 0u) << p->config.name;
        EXPECT_EQ(s.txUnderruns, settled[k].txUnderruns) << p->config.name;
        EXPECT_EQ(s.txMissing, 0u) << p->config.name;
    }
    pa.Stop();
    pb.Stop();
    LineNetworkDestroy(network);
    network = nullptr;
}

}  // namespace
