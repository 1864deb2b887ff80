// Oscillator, DTMF rows and tone-pair samples, measured after conversion to 8000 samples per second:
// frequencies against the DTMF frequencies of the telephone standard, levels against the gains, and an
// independent DTMF receiver decoding every digit.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "layer1/dsp/nco.h"
#include "layer1/dsp/tone_dual.h"
#include "tone_measure.h"

#ifdef HAVE_SPANDSP
#include <spandsp.h>
#endif

namespace {

using tonetest::Amplitude;
using tonetest::PeakFrequency;

const double kPi = std::acos(-1.0);

TEST(ToneNco, SineTableMatchesPrintedValues)
{
    const int16_t* t = NcoSineTable();
    EXPECT_EQ(t[0], 0);
    EXPECT_EQ(t[1], 3212);
    EXPECT_EQ(t[4], 12539);
    EXPECT_EQ(t[8], 23170);
    EXPECT_EQ(t[16], 32767);
    EXPECT_EQ(t[32], 0);
    EXPECT_EQ(t[48], -32767);
    EXPECT_EQ(t[64 + 15], t[15]);
}

// The table is built at compile time by its own series; every entry equals the rule computed with the library.
TEST(ToneNco, SineTableFollowsItsRule)
{
    const int16_t* t = NcoSineTable();
    for (int k = 0; k < kNcoTableEntries; ++k)
        EXPECT_EQ(t[k], std::lround(32767.0 * std::sin(2.0 * kPi * k / 64.0))) << k;
}

TEST(ToneNco, SinCosCloseToExactOverTheWholeCycle)
{
    int worst = 0;
    for (uint32_t p = 0; p < 65536; ++p) {
        int16_t s, c;
        NcoSinCos(p, &s, &c);
        const double a = 2.0 * kPi * p / 65536.0;
        worst = std::max(worst, static_cast<int>(std::fabs(s - 32767.0 * std::sin(a))));
        worst = std::max(worst, static_cast<int>(std::fabs(c - 32767.0 * std::cos(a))));
    }
    EXPECT_LE(worst, 160);  // first-order correction between points 1/64 cycle apart
    int16_t s, c;
    NcoSinCos(0x10000u + 0x4000u, &s, &c);  // only the low 16 bits of the accumulator count
    EXPECT_EQ(s, 32767);
}

TEST(ToneNco, PhaseStepsOfTheAnswerAndCallingTones)
{
    EXPECT_EQ(NcoPhaseStep(1100), 7509u);
    EXPECT_EQ(NcoPhaseStep(1300), 8874u);
    // The rule truncates; the 1500 and 2100 Hz tones use their own listed steps 10240 and 0x3800.
    EXPECT_EQ(NcoPhaseStep(1500), 10239u);
    EXPECT_EQ(NcoPhaseStep(2100), 14335u);
    EXPECT_EQ(NcoPhaseStep(697), 4758u);
}

TEST(ToneDtmf, DigitTimingAndRows)
{
    EXPECT_EQ(DigitBlockCount(70), 7);
    EXPECT_EQ(DigitBlockCount(0), 1);
    EXPECT_EQ(DigitBlockCount(94), 9);
    EXPECT_EQ(DigitBlockCount(95), 10);
    DualToneGenerator g{};
    SetDtmfDigit(&g, 0x0D);
    EXPECT_EQ(g.step1, NcoPhaseStep(1633));
    EXPECT_EQ(g.step2, NcoPhaseStep(941));
    SetDtmfDigit(&g, 0x0E);
    EXPECT_EQ(g.step1, NcoPhaseStep(1209));
    EXPECT_EQ(g.step2, NcoPhaseStep(941));
}

// 9600 -> 8000 samples per second: windowed-sinc interpolation with the cut-off below 4000 Hz.
std::vector<double> To8000(const std::vector<int16_t>& in)
{
    std::vector<double> out;
    const int half = 48;
    const double cutoff = 3800.0 / 9600.0;  // of the input rate
    for (size_t m = 0;; ++m) {
        const double t = static_cast<double>(m) * 9600.0 / 8000.0;
        const long centre = static_cast<long>(t);
        if (centre + half >= static_cast<long>(in.size()))
            break;
        double acc = 0;
        for (long k = centre - half + 1; k <= centre + half; ++k) {
            if (k < 0)
                continue;
            const double x = t - static_cast<double>(k);
            const double sinc = x == 0 ? 2 * cutoff : std::sin(2 * kPi * cutoff * x) / (kPi * x);
            const double w = 0.42 + 0.5 * std::cos(kPi * x / half) + 0.08 * std::cos(2 * kPi * x / half);
            acc += in[static_cast<size_t>(k)] * sinc * w;
        }
        out.push_back(acc);
    }
    return out;
}

std::vector<int16_t> Generate(int digit, int16_t level1, int16_t level2, int blocks)
{
    DualToneGenerator g{};
    g.level1 = level1;
    g.level2 = level2;
    SetDtmfDigit(&g, digit);
    std::vector<int16_t> out(static_cast<size_t>(blocks) * 96);
    for (int b = 0; b < blocks; ++b)
        DualToneFillBlock(&g, out.data() + b * 96, 96);
    return out;
}

TEST(ToneDtmf, EveryPairWithinHalfAHertzAndItsLevelOn8000Hz)
{
    // Gains of -4 dB (high group) and -6 dB (low group).
    const int16_t level1 = static_cast<int16_t>(std::lround(32767 * std::pow(10.0, -4 / 20.0)));
    const int16_t level2 = static_cast<int16_t>(std::lround(32767 * std::pow(10.0, -6 / 20.0)));
    for (int digit = 0; digit < 16; ++digit) {
        const std::vector<double> x = To8000(Generate(digit, level1, level2, 60));
        const std::vector<double> mid(x.begin() + 400, x.begin() + 400 + 4000);
        const DtmfRow row = kDtmfTable[digit];
        const double f1 = PeakFrequency(mid, row.tone1Hz);
        const double f2 = PeakFrequency(mid, row.tone2Hz);
        EXPECT_NEAR(f1, row.tone1Hz, 0.5) << digit;
        EXPECT_NEAR(f2, row.tone2Hz, 0.5) << digit;
        EXPECT_NEAR(20 * std::log10(Amplitude(mid, f1) / 32767.0), -4.0, 0.2) << digit;
        EXPECT_NEAR(20 * std::log10(Amplitude(mid, f2) / 32767.0), -6.0, 0.2) << digit;
    }
}

#ifdef HAVE_SPANDSP
std::string Decode(int16_t level1, int16_t level2)
{
    std::vector<int16_t> line;
    for (int digit = 0; digit < 16; ++digit) {
        const std::vector<int16_t> on = Generate(digit, level1, level2, 7);
        line.insert(line.end(), on.begin(), on.end());
        line.insert(line.end(), 7 * 96, 0);
    }
    return tonetest::DecodeDtmf(To8000(line));
}

TEST(ToneDtmf, IndependentReceiverDecodesAllSixteenDigits)
{
    // Digits in nibble order 0-15 are the keys 0-9, A-D, * and #.
    const struct { double db1, db2; } levels[] = {{-4, -6}, {-1, -3}, {-24, -26}};
    for (const auto& l : levels) {
        const std::string got = Decode(static_cast<int16_t>(std::lround(32767 * std::pow(10.0, l.db1 / 20))),
                                       static_cast<int16_t>(std::lround(32767 * std::pow(10.0, l.db2 / 20))));
        EXPECT_EQ(got, "0123456789ABCD*#") << l.db1;
    }
}
#endif

}  // namespace
