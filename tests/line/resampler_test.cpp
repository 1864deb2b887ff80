// The line's rate converter: level, frequency and position exactness, images and aliases.
#include <gtest/gtest.h>

#include <cmath>

#include "line/resampler.h"
#include "support/line_signal.h"

using linetest::FitTone;
using linetest::Tone;

namespace {

std::vector<double> Convert(uint32_t from, uint32_t to, const std::vector<double>& in, size_t chunk = 96)
{
    Resampler r;
    r.ConfigureRates(from, to);
    std::vector<double> out;
    std::vector<double> buf(4096);
    for (size_t i = 0; i < in.size(); i += chunk) {
        const size_t n = std::min(chunk, in.size() - i);
        r.Push(in.data() + i, n);
        for (;;) {
            const size_t got = r.Pull(buf.data(), buf.size());
            out.insert(out.end(), buf.begin(), buf.begin() + static_cast<long>(got));
            if (got < buf.size())
                break;
        }
    }
    return out;
}

TEST(Resampler, RoundTrip9600To8000To9600KeepsFrequencyAndLevel)
{
    const double amplitude = 10000.0;
    const auto in = Tone(1000.0, 9600, amplitude, 96 * 300);
    const auto line = Convert(9600, 8000, in);
    const auto back = Convert(8000, 9600, line, 80);
    ASSERT_GT(back.size(), 96u * 250);
    const auto fit = FitTone(back, 9600, 1000.0, 2000, back.size() - 200);
    EXPECT_NEAR(fit.frequency, 1000.0, 1e-3);
    EXPECT_NEAR(20 * std::log10(fit.amplitude / amplitude), 0.0, 0.1);
    EXPECT_LT(fit.residualDb, -60.0);
}

struct ImageCase {
    uint32_t from, to;
    double toneHz;
};

TEST(Resampler, ImagesOfPassbandTonesAreSixtyDbDown)
{
    // Any energy besides the tone itself (images of an up-conversion, aliases of a down-conversion, kernel
    // errors) stays 60 dB below it; the level holds to 0.1 dB across the passband.
    const ImageCase cases[] = {
        {8000, 9600, 300},  {8000, 9600, 1000}, {8000, 9600, 3400}, {9600, 8000, 3400}, {8000, 7200, 3400},
        {7200, 8000, 3400}, {8000, 4800, 1800}, {4800, 8000, 1800}, {8000, 8229, 3000}, {10287, 8000, 2900},
        {8000, 10287, 3400}, {8000, 8400, 2000}, {9000, 8000, 700},
    };
    for (const auto& c : cases) {
        const auto in = Tone(c.toneHz, c.from, 8000.0, c.from * 3);
        const auto out = Convert(c.from, c.to, in);
        const auto fit = FitTone(out, c.to, c.toneHz, c.to / 4, out.size() - c.to / 4);
        EXPECT_NEAR(fit.frequency, c.toneHz, 1e-3) << c.from << "->" << c.to << " " << c.toneHz;
        EXPECT_NEAR(20 * std::log10(fit.amplitude / 8000.0), 0.0, 0.1) << c.from << "->" << c.to << " " << c.toneHz;
        EXPECT_LT(fit.residualDb, -60.0) << c.from << "->" << c.to << " " << c.toneHz;
    }
}

TEST(Resampler, TonesBeyondTheStopEdgeAreSixtyDbDown)
{
    // Content the lower rate cannot carry must not fold back into the band.
    const ImageCase cases[] = {
        {9600, 8000, 4650}, {9600, 8000, 4790}, {8000, 7200, 3850}, {8000, 4800, 2850}, {10287, 8000, 4700},
    };
    for (const auto& c : cases) {
        const auto in = Tone(c.toneHz, c.from, 8000.0, c.from * 2);
        const auto out = Convert(c.from, c.to, in);
        const double inDb = linetest::PowerDb(in, 0, in.size());
        const double outDb = linetest::PowerDb(out, c.to / 4, out.size() - c.to / 4);
        EXPECT_LT(outDb - inDb, -60.0) << c.from << "->" << c.to << " " << c.toneHz;
    }
}

TEST(Resampler, PositionsAreExactAndInputNeededIsEnough)
{
    Resampler r;
    r.ConfigureRates(8000, 9600);
    // 96 outputs per block, pulled for 1000 blocks: the inputs consumed equal 80 per block, no drift.
    size_t pushed = 0;
    std::vector<double> out(96);
    std::vector<double> in(200, 1.0);
    for (int block = 0; block < 1000; ++block) {
        const size_t need = r.InputNeeded(96);
        r.Push(in.data(), need);
        pushed += need;
        ASSERT_EQ(r.Pull(out.data(), 96), 96u);
        EXPECT_EQ(r.InputNeeded(0), 0u);
    }
    EXPECT_LE(pushed - 80u * 1000, static_cast<size_t>(r.Lookahead()) + 1);
    EXPECT_NEAR(out[95], 1.0, 1e-12);  // unity gain at DC

    Resampler identity;
    identity.ConfigureRates(8000, 8000);
    EXPECT_TRUE(identity.Identity());
    const double x[3] = {1, 2, 3};
    identity.Push(x, 3);
    double y[3];
    EXPECT_EQ(identity.Pull(y, 3), 3u);
    EXPECT_EQ(y[2], 3.0);
}

}  // namespace
