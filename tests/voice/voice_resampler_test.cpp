// The voice resampler: count and phase sequences, gain at 0 Hz for every set-up code, the filter kept over a
// second set-up, and a clean tone through the rates that carry a phase from block to block.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "layer1/modem/voice/voice_resampler.h"
#include "layer1/vek/core/vek_select.h"

namespace {

const int32_t kAllCodes[] = {72,   102,  4880,  4896,  7280,  7296,  8048, 8072,
                             8096, 9680, 11080, 11096, 80110, 96110, 12345};

struct ResamplerFixture : ::testing::Test {
    void SetUp() override
    {
        vek_init();
        r = std::make_unique<VoiceResampler>();
        std::memset(r.get(), 0, sizeof(VoiceResampler));
    }
    void TearDown() override { FreeResampler(r.get()); }

    // Runs one block; returns the output.
    std::vector<int16_t> Run(const std::vector<int16_t>& in)
    {
        std::vector<int16_t> out(kResamplerMaxOutput, 0x5555);
        EXPECT_EQ(RunResampler(r.get(), in.data(), out.data(), &r->phase, 0), 0);
        out.resize(static_cast<size_t>(r->outputCount));
        return out;
    }

    std::unique_ptr<VoiceResampler> r;
};

TEST_F(ResamplerFixture, CountAndPhaseSequences)
{
    struct Case {
        int32_t code;
        std::vector<int32_t> counts;
        std::vector<int32_t> phases;  // at the start of each block
    };
    const Case cases[] = {
        {4896, {96, 96, 96}, {0, 0, 0}},
        {7296, {96, 96, 96}, {0, 0, 0}},
        {8096, {96, 96, 96}, {0, 0, 0}},
        {96110, {110, 110, 110, 109, 110, 110, 109, 110, 110, 110, 109, 110, 110, 109},
         {0, 2, 4, 6, 1, 3, 5, 0, 2, 4, 6, 1, 3, 5}},
        {11096, {97, 96, 96, 96, 97, 96, 96, 96}, {0, 6, 4, 2, 0, 6, 4, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        ASSERT_EQ(SetupResampler(r.get(), c.code), 0);
        const std::vector<int16_t> in(static_cast<size_t>(r->inputCount), 100);
        int32_t total = 0;
        for (size_t k = 0; k < c.counts.size(); ++k) {
            EXPECT_EQ(r->phase, c.phases[k]) << k;
            total += static_cast<int32_t>(Run(in).size());
            EXPECT_EQ(r->outputCount, c.counts[k]) << k;
        }
        if (c.code == 96110)
            EXPECT_EQ(total, 2 * 768);
    }
}

TEST_F(ResamplerFixture, RowsOfTheSetupCodes)
{
    struct Case {
        int32_t code;
        int16_t up, down;
        int32_t in, out, taps;
    };
    const Case cases[] = {
        {72, 10, 9, 96, 106, 128},    {102, 7, 9, 96, 74, 128},     {4880, 5, 3, 48, 80, 128},
        {4896, 2, 1, 48, 96, 64},     {7280, 10, 9, 72, 80, 128},   {7296, 4, 3, 72, 96, 64},
        {8048, 3, 5, 80, 48, 128},    {8072, 9, 10, 80, 72, 128},   {8096, 6, 5, 80, 96, 64},
        {9680, 5, 6, 96, 80, 64},     {11080, 8, 11, 110, 80, 128}, {11096, 7, 8, 110, 96, 128},
        {80110, 11, 8, 80, 110, 128}, {96110, 8, 7, 96, 110, 128},  {0, 5, 6, 96, 80, 64},
        {4897, 5, 6, 96, 80, 64},
    };
    for (const Case& c : cases) {
        const ResamplerRow row = ResamplerRowOf(c.code);
        EXPECT_EQ(row.up, c.up) << c.code;
        EXPECT_EQ(row.down, c.down) << c.code;
        EXPECT_EQ(row.inputCount, c.in) << c.code;
        EXPECT_EQ(row.outputCount, c.out) << c.code;
        EXPECT_EQ(row.taps, c.taps) << c.code;
    }
}

// Every table sums to L x 32768, each polyphase branch to 32768, and is symmetric; its -6 dB point lies at
// 1/(2 max(L, M)) of the up-sampled rate.
TEST(VoiceResamplerTaps, SumBranchesSymmetryAndCutOff)
{
    for (int32_t code : kAllCodes) {
        SCOPED_TRACE(code);
        const ResamplerRow row = ResamplerRowOf(code);
        std::vector<int32_t> taps(static_cast<size_t>(row.taps));
        ResamplerTaps(row, taps.data());
        int64_t sum = 0;
        for (int32_t t : taps)
            sum += t;
        EXPECT_EQ(sum, int64_t{row.up} * 32768);
        for (int32_t b = 0; b < row.up; ++b) {
            int64_t branch = 0;
            for (int32_t i = b; i < row.taps; i += row.up)
                branch += taps[static_cast<size_t>(i)];
            EXPECT_EQ(branch, 32768) << b;
        }
        for (int32_t i = 0; i < row.taps; ++i)
            EXPECT_EQ(taps[static_cast<size_t>(i)], taps[static_cast<size_t>(row.taps - 1 - i)]) << i;
        const double edge = 1.0 / (2.0 * std::max(row.up, row.down));
        std::complex<double> h = 0;
        const double pi = 3.14159265358979323846;
        for (int32_t i = 0; i < row.taps; ++i)
            h += std::polar(static_cast<double>(taps[static_cast<size_t>(i)]), -2.0 * pi * edge * i);
        const double gainDb = 20.0 * std::log10(std::abs(h) / static_cast<double>(sum));
        EXPECT_NEAR(gainDb, -6.0, 0.5);
    }
}

// A constant input of 1000 settles to 1000 at every output, within rounding, for every code.
TEST_F(ResamplerFixture, ConstantInputKeepsItsValue)
{
    for (int32_t code : kAllCodes) {
        SCOPED_TRACE(code);
        ASSERT_EQ(SetupResampler(r.get(), code), 0);
        const std::vector<int16_t> in(static_cast<size_t>(r->inputCount), 1000);
        for (int block = 0; block < 12; ++block) {
            const std::vector<int16_t> out = Run(in);
            if (block < 4)
                continue;  // the filter fills
            for (int16_t v : out)
                ASSERT_NEAR(v, 1000, 1) << block;
        }
    }
}

// A second set-up with the code in force keeps the filter and its delay line (the output carries on from
// the history) but clears the phase; another code makes a new filter with a clear delay line.
TEST_F(ResamplerFixture, SecondSetupKeepsTheFilter)
{
    ASSERT_EQ(SetupResampler(r.get(), 96110), 0);
    const FirState* filter = r->filter;
    const std::vector<int16_t> in(96, 1000);
    Run(in);
    Run(in);
    ASSERT_NE(r->phase, 0);
    ASSERT_EQ(SetupResampler(r.get(), 96110), 0);
    EXPECT_EQ(r->filter, filter);
    EXPECT_EQ(r->phase, 0);
    EXPECT_EQ(r->outputCount, 110);
    const std::vector<int16_t> zeros(96, 0);
    EXPECT_GT(Run(zeros)[0], 500);  // the history is still there
    ASSERT_EQ(SetupResampler(r.get(), 11096), 0);
    EXPECT_EQ(r->code, 11096);
    const std::vector<int16_t> zeros110(110, 0);
    for (int16_t v : Run(zeros110))
        EXPECT_EQ(v, 0);
}

// Level and purity of a 1 kHz tone through each voice code, measured by a least-squares fit at the output
// rate. The codes whose phase cycles from block to block (11096, 96110) must not jitter: the up-sampler
// spaces the input evenly across blocks, so the residue stays far below the tone.
TEST_F(ResamplerFixture, ToneLevelAndPurity)
{
    struct Case {
        int32_t code;
        double inRate;
        double outRate;
    };
    const double r11 = 9600.0 * 8.0 / 7.0;
    const Case cases[] = {
        {4896, 4800, 9600}, {7296, 7200, 9600}, {8096, 8000, 9600}, {96110, 9600, r11}, {11096, r11, 9600},
    };
    const double pi = 3.14159265358979323846;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        ASSERT_EQ(SetupResampler(r.get(), c.code), 0);
        std::vector<int16_t> out;
        size_t n = 0;
        for (int block = 0; block < 60; ++block) {
            std::vector<int16_t> in(static_cast<size_t>(r->inputCount));
            for (int16_t& v : in)
                v = static_cast<int16_t>(std::lround(10000.0 * std::sin(2 * pi * 1000.0 * n++ / c.inRate)));
            const std::vector<int16_t> o = Run(in);
            out.insert(out.end(), o.begin(), o.end());
        }
        // Fit a sin + b cos at 1 kHz over the settled part.
        double ss = 0, sc = 0, cc = 0, xs = 0, xc = 0;
        const size_t from = out.size() / 4;
        for (size_t i = from; i < out.size(); ++i) {
            const double s = std::sin(2 * pi * 1000.0 * i / c.outRate);
            const double co = std::cos(2 * pi * 1000.0 * i / c.outRate);
            ss += s * s;
            sc += s * co;
            cc += co * co;
            xs += out[i] * s;
            xc += out[i] * co;
        }
        const double det = ss * cc - sc * sc;
        const double a = (xs * cc - xc * sc) / det;
        const double b = (xc * ss - xs * sc) / det;
        double residue = 0;
        for (size_t i = from; i < out.size(); ++i) {
            const double fit =
                a * std::sin(2 * pi * 1000.0 * i / c.outRate) + b * std::cos(2 * pi * 1000.0 * i / c.outRate);
            residue += (out[i] - fit) * (out[i] - fit);
        }
        const double amplitude = std::hypot(a, b);
        const double rmsResidue = std::sqrt(residue / static_cast<double>(out.size() - from));
        EXPECT_NEAR(20.0 * std::log10(amplitude / 10000.0), 0.0, 0.1);
        EXPECT_GT(20.0 * std::log10(amplitude / std::sqrt(2.0) / rmsResidue), 45.0);
    }
}

}  // namespace
