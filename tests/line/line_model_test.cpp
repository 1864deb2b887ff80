// The line model: each impairment measured against its setting; G.711 against an independent coder.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "line/g711.h"
#include "line/line_model.h"
#include "line/wav_file.h"
#include "support/line_signal.h"

#ifdef HAVE_SPANDSP
extern "C" {
#include <spandsp/telephony.h>
#include <spandsp/bit_operations.h>
#include <spandsp/g711.h>
}
#endif

using linetest::FitTone;

namespace {

// Runs x through one direction in 80-sample frames.
std::vector<double> Through(const LineModelParams& p, const std::vector<int16_t>& x)
{
    LineDirection d;
    d.Configure(p);
    std::vector<int16_t> out(x.size());
    for (size_t i = 0; i + 80 <= x.size(); i += 80)
        d.Process(x.data() + i, out.data() + i, 80);
    return linetest::ToDouble(out);
}

double AmplitudeOfDbm0(double dbm0)
{
    return std::sqrt(2.0 * LinePowerOfDbm0(dbm0));
}

TEST(LineModel, LevelConvention)
{
    EXPECT_NEAR(AmplitudeOfDbm0(kLineFullScaleSineDbm0), 32767.0, 1e-6);
    EXPECT_NEAR(AmplitudeOfDbm0(0.0), 22826.4, 0.1);
}

TEST(LineModel, AttenuationTable)
{
    for (double att : {0.0, 3.0, 10.0, 26.5}) {
        LineModelParams p;
        p.attenuationDb = att;
        const auto out = Through(p, linetest::ToneS16(1000, 8000, 20000, 8000));
        const auto fit = FitTone(out, 8000, 1000, 800, 8000);
        EXPECT_NEAR(20 * std::log10(fit.amplitude / 20000), -att, 0.02) << att;
    }
}

TEST(LineModel, MeasuredSnrMatchesSetting)
{
    for (double snr : {10.0, 20.0, 35.0}) {
        LineModelParams p;
        p.attenuationDb = 6.0;
        p.nominalLevelDbm0 = -12.0;
        p.snrDb = snr;
        p.noiseSeed = 7;
        const auto out = Through(p, linetest::ToneS16(1000, 8000, AmplitudeOfDbm0(-12.0), 80 * 1000));
        const auto fit = FitTone(out, 8000, 1000, 0, out.size());
        EXPECT_NEAR(-fit.residualDb, snr, 0.3) << snr;
    }
    // The same seed gives the same noise; another seed different noise.
    LineModelParams p;
    p.snrDb = 20;
    const std::vector<int16_t> silence(800, 0);
    EXPECT_EQ(Through(p, silence), Through(p, silence));
    LineModelParams q = p;
    q.noiseSeed = 2;
    EXPECT_NE(Through(p, silence), Through(q, silence));
}

// Noise bursts: silence stays silent outside the bursts; inside each the noise has the burst's level.
TEST(LineModel, NoiseBurstsComeAtTheirPeriodWithTheirLevel)
{
    LineModelParams p;
    p.nominalLevelDbm0 = -10.0;
    p.burstPeriodMs = 100;
    p.burstLengthMs = 10;
    p.burstSnrDb = 5;
    const std::vector<int16_t> silence(8000, 0);
    const auto out = Through(p, silence);
    const double want = std::sqrt(LinePowerOfDbm0(-15.0));
    for (size_t burst = 1; burst < 10; ++burst) {
        const size_t start = burst * 800;
        double power = 0;
        for (size_t i = start; i < start + 80; ++i)
            power += out[i] * out[i];
        EXPECT_NEAR(std::sqrt(power / 80), want, 0.25 * want) << burst;
        for (size_t i = start + 80; i < start + 800; ++i)
            ASSERT_EQ(out[i], 0.0) << i;
    }
    for (size_t i = 0; i < 800; ++i)
        ASSERT_EQ(out[i], 0.0) << "the first burst comes one period in";
}

TEST(LineModel, BulkDelayIsExact)
{
    for (double ms : {0.0, 1.0, 12.5, 40.0}) {
        LineModelParams p;
        p.bulkDelayMs = ms;
        std::vector<int16_t> x(1600, 0);
        x[100] = 10000;
        const auto out = Through(p, x);
        const size_t expected = 100 + static_cast<size_t>(std::lround(ms * 8));
        size_t peak = 0;
        for (size_t i = 0; i < out.size(); ++i)
            if (std::fabs(out[i]) > std::fabs(out[peak]))
                peak = i;
        EXPECT_EQ(peak, expected) << ms;
        EXPECT_EQ(out[peak], 10000.0) << ms;
    }
}

TEST(LineModel, HybridEchoLossAndDelay)
{
    const struct {
        double lossDb, delayMs;
    } cases[] = {{6.0, 0.0}, {10.0, 2.5}, {20.0, 30.0}};
    for (const auto& c : cases) {
        LineEcho echo;
        echo.Configure({c.lossDb, c.delayMs});
        std::vector<int16_t> sent(800, 0), received(800, 0);
        sent[40] = 20000;
        for (size_t i = 0; i < 800; i += 80)
            echo.Apply(sent.data() + i, received.data() + i, 80);
        const size_t at = 40 + static_cast<size_t>(std::lround(c.delayMs * 8));
        EXPECT_NEAR(20 * std::log10(received[at] / 20000.0), -c.lossDb, 0.01) << c.lossDb;
        int nonzero = 0;
        for (int16_t v : received)
            nonzero += v != 0;
        EXPECT_EQ(nonzero, 1);
    }
    LineEcho none;
    none.Configure({});
    std::vector<int16_t> sent(80, 1000), received(80, 5);
    none.Apply(sent.data(), received.data(), 80);
    EXPECT_EQ(received, std::vector<int16_t>(80, 5));
}

TEST(LineModel, FrequencyOffsetShiftsEveryTone)
{
    for (double offset : {-7.0, 0.5, 20.0}) {
        for (double f : {600.0, 1800.0, 3000.0}) {
            LineModelParams p;
            p.frequencyOffsetHz = offset;
            const auto out = Through(p, linetest::ToneS16(f, 8000, 15000, 8000 * 4));
            const auto fit = FitTone(out, 8000, f + offset, 800, out.size());
            EXPECT_NEAR(fit.frequency, f + offset, 0.01) << f << " " << offset;
            EXPECT_NEAR(20 * std::log10(fit.amplitude / 15000), 0.0, 0.1) << f << " " << offset;
            EXPECT_LT(fit.residualDb, -40.0) << f << " " << offset;  // the other sideband is suppressed
        }
    }
}

TEST(LineModel, ClockSkewScalesFrequencyAndSampleCount)
{
    for (double ppm : {100.0, -250.0}) {
        LineModelParams p;
        p.skewPpm = ppm;
        const double f = 1000.0;
        const auto out = Through(p, linetest::ToneS16(f, 8000, 15000, 8000 * 20));
        const double expected = f / (1.0 + ppm * 1e-6);
        const auto fit = FitTone(out, 8000, expected, 8000, out.size());
        EXPECT_NEAR(fit.frequency, expected, 0.002) << ppm;
        EXPECT_LT(fit.residualDb, -50.0) << ppm;
    }
}

TEST(LineModel, CompandingAddsOnlyQuantisationNoise)
{
    for (int law : {LINE_COMPANDING_ALAW, LINE_COMPANDING_ULAW}) {
        LineModelParams p;
        p.companding = law;
        const auto out = Through(p, linetest::ToneS16(1000, 8000, AmplitudeOfDbm0(-10), 8000));
        const auto fit = FitTone(out, 8000, 1000, 0, out.size());
        EXPECT_LT(fit.residualDb, -33.0) << law;  // G.711 gives about 38 dB signal to quantisation noise
        EXPECT_GT(fit.residualDb, -50.0) << law;
    }
}

#ifdef HAVE_SPANDSP
TEST(G711, MatchesIndependentCoderForEveryValue)
{
    for (int v = -32768; v <= 32767; ++v) {
        ASSERT_EQ(LinearToAlaw(static_cast<int16_t>(v)), linear_to_alaw(v)) << v;
        ASSERT_EQ(LinearToUlaw(static_cast<int16_t>(v)), linear_to_ulaw(v)) << v;
    }
    for (int c = 0; c < 256; ++c) {
        EXPECT_EQ(AlawToLinear(static_cast<uint8_t>(c)), alaw_to_linear(static_cast<uint8_t>(c))) << c;
        EXPECT_EQ(UlawToLinear(static_cast<uint8_t>(c)), ulaw_to_linear(static_cast<uint8_t>(c))) << c;
    }
}
#endif

TEST(G711, KnownCodes)
{
    // Silence and full scale in both laws.
    EXPECT_EQ(LinearToAlaw(0), 0xD5);
    EXPECT_EQ(LinearToUlaw(0), 0xFF);
    EXPECT_EQ(LinearToUlaw(32767), 0x80);
    EXPECT_EQ(LinearToUlaw(-32768), 0x00);
    EXPECT_EQ(LinearToAlaw(32767), 0xAA);
    EXPECT_EQ(LinearToAlaw(-32768), 0x2A);
    EXPECT_EQ(Compand(LINE_COMPANDING_NONE, 1234), 1234);
}

TEST(SampleFile, WavAndRawRoundTripAndBadFilesAreRefused)
{
    const std::string dir = linetest::TempPrefix();
    const std::vector<int16_t> x = {0, 1, -1, 32767, -32768, 1234};
    for (int32_t format : {LINE_FILE_WAV, LINE_FILE_RAW}) {
        const std::string path = dir + (format == LINE_FILE_WAV ? "line_rt.wav" : "line_rt.raw");
        EXPECT_EQ(LineFileFormatOf(path), format);
        SampleFileWriter w;
        std::string error;
        ASSERT_TRUE(SampleFileOpenWrite(&w, path, format, &error)) << error;
        ASSERT_TRUE(SampleFileWrite(&w, x.data(), x.size()));
        SampleFileCloseWrite(&w);
        SampleFileReader r;
        ASSERT_TRUE(SampleFileOpenRead(&r, path, format, &error)) << error;
        std::vector<int16_t> y(10, 99);
        EXPECT_EQ(SampleFileRead(&r, y.data(), 10), x.size());
        EXPECT_TRUE(r.ended);
        y.resize(x.size());
        EXPECT_EQ(y, x);
        SampleFileCloseRead(&r);
    }
    // A WAV file of the wrong kind, a truncated one and a missing one give a message naming the file.
    const std::string bad = dir + "line_bad.wav";
    FILE* f = std::fopen(bad.c_str(), "wb");
    const unsigned char stereo[] = {'R', 'I', 'F', 'F', 36, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0,
                                    1,   0,   2,   0,   0x40, 0x1F, 0, 0, 0, 0, 0, 0, 4, 0, 16, 0};
    std::fwrite(stereo, 1, sizeof(stereo), f);
    std::fclose(f);
    SampleFileReader r;
    std::string error;
    EXPECT_FALSE(SampleFileOpenRead(&r, bad, LINE_FILE_WAV, &error));
    EXPECT_NE(error.find("line_bad.wav"), std::string::npos);
    EXPECT_NE(error.find("16-bit mono 8000 Hz"), std::string::npos);
    f = std::fopen(bad.c_str(), "wb");
    std::fwrite("RIFF", 1, 4, f);
    std::fclose(f);
    EXPECT_FALSE(SampleFileOpenRead(&r, bad, LINE_FILE_WAV, &error));
    EXPECT_FALSE(SampleFileOpenRead(&r, dir + "line_missing.wav", LINE_FILE_WAV, &error));
    EXPECT_EQ(r.file, nullptr);
}

}  // namespace
