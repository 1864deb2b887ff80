// The tone detectors on their own and in detector modes 0 and 2: the 1100 Hz calling tone ('N'), the notch
// coefficient sets against their rule, overload handling, the band detectors and own-tone notches, the
// pre-filter and the gain normaliser, and silent blocks through all of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "tests/layer1/detector_fixture.h"

namespace {

using namespace dettest;

std::vector<int32_t> Sine32(double hz, double amplitude, size_t n, double rate = kRate)
{
    std::vector<int32_t> x(n);
    for (size_t i = 0; i < n; ++i)
        x[i] = static_cast<int32_t>(std::lround(amplitude * std::sin(2 * kPi * hz * static_cast<double>(i) / rate)));
    return x;
}

struct CallingCase {
    int ms;
    double dbm0;
    size_t events;
};

// 1100 Hz posts 'N' once the run count passes 960 samples, and again after 960 more qualifying samples.
TEST(CallingTone, PostsNAfterEach960QualifyingSamples)
{
    const CallingCase cases[] = {{90, -20, 0}, {150, -20, 1}, {150, -45, 1}, {150, 0, 1}, {210, -20, 2}, {320, -30, 3}};
    for (uint8_t mode : {0, 2}) {
        for (const CallingCase& c : cases) {
            DetectorBench b;
            b.Mode(mode);
            ToneMix m{{{1100, Amplitude(c.dbm0)}}};
            Observed o = b.Run(Cadenced(m, 960, static_cast<size_t>(c.ms) * 96 / 10, 0, 1, 4800));
            EXPECT_EQ(o.Count('N'), c.events) << int(mode) << " " << c.ms << " ms at " << c.dbm0;
            EXPECT_EQ(o.Chars().size(), c.events);
        }
    }
}

TEST(CallingTone, NeighbouringTonesAreNotTaken)
{
    for (double hz : {1000.0, 1200.0, 1300.0, 2100.0}) {
        DetectorBench b;
        b.Mode(0);
        ToneMix m{{{hz, Amplitude(-20)}}};
        Observed o = b.Run(Cadenced(m, 0, 9600, 0, 1, 0));
        EXPECT_EQ(o.Count('N'), 0u) << hz;
    }
}

// Every printed notch set follows b1 = -2 cos(w) 32767, a1 = 1.8 cos(w) 32768, a2 = -26541: its zero lies
// within a hertz of the tone it is named for, and a1 matches the rule to rounding.
TEST(NotchSets, FollowTheCoefficientRule)
{
    struct Case {
        const NotchCoefficients* set;
        double hz, rate;
    } cases[] = {
        {&kNotch1100, 1100, 9600},      {&kNotch2100, 2100, 9600},      {&kNotch1800, 1800, 9600},
        {&kNotch2250, 2250, 9600},      {&kNotch1650, 1650, 9600},      {&kNotch1300, 1300, 9600},
        {&kNotch600, 600, 9600},        {&kNotch3000, 3000, 9600},      {&kNotch2850, 2850, 9600},
        {&kNotch2225, 2225, 9600},      {&kNotch1270, 1270, 9600},      {&kNotch520, 520, 9600},
        {&kNotch7200_1650, 1650, 7200}, {&kNotch7200_2250, 2250, 7200}, {&kNotch7200_2100, 2100, 7200},
        {&kNotch7200_1300, 1300, 7200}, {&kNotch7200_2850, 2850, 7200}, {&kNotch7200_2225, 2225, 7200},
        {&kNotch7200_600, 600, 7200},   {&kNotch7200_1800, 1800, 7200},
    };
    for (const Case& c : cases) {
        const NotchCoefficients rule = NotchCoefficientsFor(c.hz, c.rate);
        const double zero = std::acos(-c.set->b1 / (2.0 * 32767.0)) * c.rate / (2 * kPi);
        EXPECT_NEAR(zero, c.hz, 1.0) << c.hz << " at " << c.rate;
        EXPECT_NEAR(c.set->a1, rule.a1, 3) << c.hz << " at " << c.rate;
        EXPECT_EQ(c.set->b0, 32767);
        EXPECT_EQ(c.set->b2, 32767);
        EXPECT_EQ(c.set->a2, -26541);
    }
}

// A sample above 0xFFFF in magnitude clears the run count: 900 good samples, one overload, 900 more never
// pass a limit of 960; without the overload they do. The two- and three-notch forms also restart.
TEST(NotchDetector, OverloadClearsTheRunCount)
{
    const std::vector<int32_t> tone = Sine32(1100, 8000, 1800);
    for (bool overload : {false, true}) {
        NotchToneDetector d;
        InitNotchToneDetector(&d, &kNotch1100, 5, 2);
        int32_t hits = RunNotchToneDetector(&d, tone.data(), 900, 960);
        if (overload) {
            const int32_t big = 0x10000;
            hits += RunNotchToneDetector(&d, &big, 1, 960);
            EXPECT_EQ(d.runCount, 0);
        }
        hits += RunNotchToneDetector(&d, tone.data() + 900, 900, 960);
        EXPECT_EQ(hits != 0, !overload);
    }
    NotchToneDetector pair;
    InitTwoNotchDetector(&pair, &kNotch600, &kNotch3000, 5, 2);
    std::vector<int32_t> ac = Sine32(600, 4000, 400);
    const std::vector<int32_t> high = Sine32(3000, 4000, 400);
    for (size_t i = 0; i < ac.size(); ++i)
        ac[i] += high[i];
    RunNotchToneDetector(&pair, ac.data(), 400, 10000);
    EXPECT_GT(pair.runCount, 300);
    const int32_t big = -0x10000;
    EXPECT_EQ(RunNotchToneDetector(&pair, &big, 1, 10000), 0);
    EXPECT_EQ(pair.runCount, 0);
    EXPECT_EQ(pair.total, 0);
    EXPECT_EQ(pair.residual, 1);
}

// The two-notch detectors: a clean pair is taken (the residual left by both notches may round to nothing),
// a tone away from both notches or noise is not.
TEST(NotchDetector, TwoNotchPairs)
{
    struct Case {
        const NotchCoefficients *n1, *n2;
        double f1, f2;
        bool noise;
        bool detect;
    } cases[] = {
        {&kNotch600, &kNotch3000, 600, 3000, false, true},   {&kNotch2250, &kNotch2850, 2250, 2850, false, true},
        {&kNotch2250, &kNotch2850, 2250, 2850, true, true},  {&kNotch600, &kNotch3000, 1800, 0, false, false},
        {&kNotch2250, &kNotch2850, 1200, 0, false, false},   {&kNotch600, &kNotch3000, 0, 0, true, false},
    };
    for (const Case& c : cases) {
        NotchToneDetector d;
        InitTwoNotchDetector(&d, c.n1, c.n2, 5, 2);
        std::vector<int32_t> x(9600, 0);
        for (double hz : {c.f1, c.f2}) {
            if (hz == 0)
                continue;
            const std::vector<int32_t> y = Sine32(hz, 4000, x.size());
            for (size_t i = 0; i < x.size(); ++i)
                x[i] += y[i];
        }
        if (c.noise) {
            const std::vector<int16_t> nz = WhiteNoise(x.size(), c.f1 == 0 ? 4000 : 100, 5);
            for (size_t i = 0; i < x.size(); ++i)
                x[i] += nz[i];
        }
        bool hit = false;
        for (size_t at = 0; at < x.size(); at += kBlock)
            hit = hit || RunNotchToneDetector(&d, x.data() + at, kBlock, 480) != 0;
        EXPECT_EQ(hit, c.detect) << c.f1 << "+" << c.f2 << (c.noise ? " with noise" : "");
    }
}

// Each band detector comes on for its own tone within 20 blocks and stays off for the others' tones.
TEST(BandDetectors, OnForTheirOwnToneOnly)
{
    const double tones[BAND_TONE_COUNT] = {2100, 600, 3000, 2250, 1650, 1800, 1300};
    for (int k = 0; k < BAND_TONE_COUNT; ++k) {
        for (int j = 0; j < BAND_TONE_COUNT; ++j) {
            BandToneDetector d;
            InitBandToneDetector(&d, static_cast<BandTone>(k));
            const std::vector<int32_t> x = Sine32(tones[j], 4000, 30 * kBlock);
            int firstOn = -1;
            for (int b = 0; b < 30; ++b) {
                if (RunBandToneDetector(x.data() + b * kBlock, &d, 1, kBlock) && firstOn < 0)
                    firstOn = b;
            }
            if (j == k) {
                EXPECT_GE(firstOn, 0) << tones[k];
                EXPECT_LT(firstOn, 20) << tones[k];
            } else {
                EXPECT_EQ(firstOn, -1) << tones[k] << " took " << tones[j];
            }
        }
    }
}

// The own-tone band-stops take their tone at least 25 dB further down than 1800 Hz (1100 Hz for the 2100 Hz
// stop).
TEST(BandDetectors, OwnToneNotchesStopTheirTone)
{
    const double stop[OWN_NOTCH_COUNT] = {1100, 1300, 2100};
    for (int k = 0; k < OWN_NOTCH_COUNT; ++k) {
        double gain[2] = {0, 0};
        int which = 0;
        for (double hz : {stop[k], k == OWN_NOTCH_2100 ? 1100.0 : 1800.0}) {
            BandToneDetector d;
            InitOwnToneNotch(&d, static_cast<OwnToneNotch>(k));
            const std::vector<int32_t> x = Sine32(hz, 4000, 4800);
            double in = 0, out = 0;
            for (size_t i = 0; i < x.size(); ++i) {
                const int32_t y = FourthOrderBandSample(&d, x[i]);
                if (i >= 2400) {
                    in += static_cast<double>(x[i]) * x[i];
                    out += static_cast<double>(y) * y;
                }
            }
            gain[which++] = 10 * std::log10((out + 1) / in);
        }
        EXPECT_GT(gain[1] - gain[0], 25) << stop[k];
        EXPECT_GT(gain[1], -15) << stop[k];
    }
}

// The pre-filter blocks DC and mains hum and passes the voice band at about -5 dB.
TEST(FrontEnd, PreFilterResponse)
{
    struct Case {
        double hz, lo, hi;  // gain limits in dB
    } cases[] = {{0, -1000, -40}, {50, -200, -25}, {480, -7, -3}, {1100, -7, -4}, {3000, -7, -4}};
    for (const Case& c : cases) {
        PreFilterState st{};
        std::vector<int16_t> x(9600);
        for (size_t i = 0; i < x.size(); ++i)
            x[i] = c.hz == 0 ? 8000 : Clip(8000 * std::sin(2 * kPi * c.hz * static_cast<double>(i) / kRate));
        std::vector<int32_t> y(x.size());
        DetectorPreFilter(&st, x.data(), y.data(), static_cast<int32_t>(x.size()));
        double in = 0, out = 0;
        for (size_t i = 4800; i < x.size(); ++i) {
            in += static_cast<double>(x[i]) * x[i];
            out += static_cast<double>(y[i]) * y[i];
        }
        const double db = 10 * std::log10((out + 1e-9) / in);
        EXPECT_GT(db, c.lo) << c.hz;
        EXPECT_LT(db, c.hi) << c.hz;
    }
}

// The normaliser brings tones from -50 dB to full scale to one level (mean magnitude near 2700), and follows a
// drop of 40 dB from a loud level within 50 ms.
TEST(FrontEnd, NormaliserSettlesEveryLevel)
{
    for (double db : {-50.0, -30.0, -10.0, 0.0}) {
        GainNormaliser g;
        InitGainNormaliser(&g, 7, 0x7FFF);
        const std::vector<int32_t> loud = Sine32(1000, 32000 * std::pow(10, db / 20), 4800);
        double sum = 0;
        for (size_t i = 0; i < loud.size(); ++i) {
            const int32_t y = GainNormaliserSample(&g, loud[i]);
            if (i >= 2400)
                sum += std::abs(y);
        }
        EXPECT_NEAR(sum / 2400, 2700, 600) << db;
        if (db < -20)
            continue;
        const std::vector<int32_t> quiet = Sine32(1000, 32000 * std::pow(10, (db - 40) / 20), 480);
        double tail = 0;
        for (size_t i = 0; i < quiet.size(); ++i) {
            const int32_t y = GainNormaliserSample(&g, quiet[i]);
            if (i >= 384)
                tail += std::abs(y);
        }
        EXPECT_NEAR(tail / 96, 2700, 900) << db;
        EXPECT_GE(g.exponent, -10);
        EXPECT_LE(g.exponent, 10);
    }
}

// Block scan of a notch detector as the call-progress detector runs it: every detection (sample, ratio).
std::vector<std::pair<int32_t, int32_t>> ScanBlock(NotchToneDetector* d, const int32_t* x, int32_t n, int32_t limit)
{
    std::vector<std::pair<int32_t, int32_t>> found;
    for (int32_t i = 0; i < n;) {
        int32_t at;
        const int32_t r = ScanNotchToneDetector(d, x + i, n - i, limit, &at);
        if (r != 0)
            found.emplace_back(i + at, r);
        i += at + 1;
    }
    return found;
}

std::vector<std::pair<int32_t, int32_t>> ScanSamples(NotchToneDetector* d, const int32_t* x, int32_t n, int32_t limit)
{
    std::vector<std::pair<int32_t, int32_t>> found;
    for (int32_t i = 0; i < n; ++i)
        if (const int32_t r = NotchToneDetectorSample(d, x[i], limit); r != 0)
            found.emplace_back(i, r);
    return found;
}

// A tone pair, then silence, through the front end, the bank and two notch detectors: each stage run over
// whole blocks (a silent block is skipped once the stage's state comes back after its first 24 samples) gives,
// block after block, the outputs and states the same stage gives one sample at a time. Every stage settles in
// the silence (the 1100 Hz notch into a cycle of 8 samples), so the skip is taken.
TEST(FrontEnd, SilentBlocksGiveWhatSampleBySampleGives)
{
    constexpr int kBlocks = 60;
    std::vector<int16_t> x(static_cast<size_t>(kBlock) * kBlocks, 0);
    for (size_t i = 0; i < static_cast<size_t>(kBlock) * 12; ++i) {
        const double t = static_cast<double>(i) / kRate;
        x[i] = Clip(6000 * std::sin(2 * kPi * 480 * t) + 6000 * std::sin(2 * kPi * 1100 * t));
    }
    struct Path {
        PreFilterState pre{};
        GainNormaliser normaliser{};
        DetectorBank bank{};
        NotchToneDetector calling{}, progress{};
    } block, sample;
    for (Path* p : {&block, &sample}) {
        InitGainNormaliser(&p->normaliser, 7, 0x7FFF);
        ResetBank(&p->bank);
        ConfigureSection(&p->bank, 0, kCallProgressBandSection);
        InitNotchToneDetector(&p->calling, &kNotch1100, 5, 2);
        InitThreeNotchDetector(&p->progress, kNotchCallProgress, 5, 3);
    }
    int settled[5] = {};
    for (int b = 0; b < kBlocks; ++b) {
        SCOPED_TRACE(b);
        const int16_t* in = &x[static_cast<size_t>(b) * kBlock];
        const Path before = block;
        int32_t fa[kBlock], fb[kBlock], ya[kBlock], yb[kBlock];
        DetectorPreFilter(&block.pre, in, fa, kBlock);
        GainNormaliserBlock(&block.normaliser, fa, ya, kBlock);
        const uint16_t bitsA = RunBankSamples(&block.bank, ya, kBlock);
        const auto callingA = ScanBlock(&block.calling, ya, kBlock, 960);
        const auto progressA = ScanBlock(&block.progress, fa, kBlock, 24);
        uint16_t bitsB = 0;
        for (int i = 0; i < kBlock; ++i) {
            DetectorPreFilter(&sample.pre, in + i, fb + i, 1);
            GainNormaliserBlock(&sample.normaliser, fb + i, yb + i, 1);
            bitsB = RunBankSamples(&sample.bank, yb + i, 1);
        }
        const auto callingB = ScanSamples(&sample.calling, yb, kBlock, 960);
        const auto progressB = ScanSamples(&sample.progress, fb, kBlock, 24);
        ASSERT_TRUE(std::equal(fa, fa + kBlock, fb));
        ASSERT_TRUE(std::equal(ya, ya + kBlock, yb));
        ASSERT_EQ(bitsA, bitsB);
        ASSERT_EQ(callingA, callingB);
        ASSERT_EQ(progressA, progressB);
        ASSERT_EQ(std::memcmp(&block.pre, &sample.pre, sizeof(PreFilterState)), 0);
        ASSERT_EQ(block.normaliser.gain, sample.normaliser.gain);
        ASSERT_EQ(block.normaliser.exponent, sample.normaliser.exponent);
        ASSERT_EQ(block.normaliser.envelope, sample.normaliser.envelope);
        const DetectorSection& sa = block.bank.section[0];
        const DetectorSection& sb = sample.bank.section[0];
        ASSERT_TRUE(std::equal(sa.y1, sa.y1 + 2, sb.y1) && std::equal(sa.y2, sa.y2 + 2, sb.y2) &&
                    std::equal(sa.x1, sa.x1 + 2, sb.x1) && std::equal(sa.x2, sa.x2 + 2, sb.x2));
        ASSERT_EQ(sa.energy, sb.energy);
        ASSERT_EQ(block.bank.levelGain, sample.bank.levelGain);
        ASSERT_EQ(std::memcmp(&block.calling, &sample.calling, sizeof(NotchToneDetector)), 0);
        ASSERT_EQ(std::memcmp(&block.progress, &sample.progress, sizeof(NotchToneDetector)), 0);
        if (b < 13)
            continue;
        settled[0] += std::memcmp(&before.pre, &block.pre, sizeof(PreFilterState)) == 0;
        settled[1] += std::memcmp(&before.bank, &block.bank, sizeof(DetectorBank)) == 0;
        settled[2] += std::memcmp(&before.calling, &block.calling, sizeof(NotchToneDetector)) == 0;
        settled[3] += std::memcmp(&before.progress, &block.progress, sizeof(NotchToneDetector)) == 0;
        settled[4] += before.normaliser.gain == block.normaliser.gain &&
                      before.normaliser.exponent == block.normaliser.exponent &&
                      before.normaliser.envelope == block.normaliser.envelope;
    }
    for (int s : settled)
        EXPECT_GT(s, 10);
}

}  // namespace
