// Line probing: the evaluation on synthetic spectra, the measurement on L1 and L2 from the phase-2
// transmitter through the simulated line (channels, noise, frequency offset), and the MD length.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "layer1/modem/v34/phase2_state.h"
#include "layer1/modem/v34/phase2_transmitter.h"
#include "layer1/modem/v34/probe_analysis.h"
#include "support/duplex_line.h"
#include "support/v34_pair.h"

namespace {

constexpr int kTones = 25;
constexpr int kRate3429 = 10;

Phase2ProbeResults Evaluate(const std::vector<double>& tonesDb, double noise)
{
    int32_t tones[kTones];
    int32_t between[kTones];
    for (int i = 0; i < kTones; ++i) {
        tones[i] = static_cast<int32_t>(1e6 * std::pow(10.0, tonesDb[static_cast<size_t>(i)] / 10.0));
        between[i] = static_cast<int32_t>(noise);
    }
    Phase2ProbeResults r{};
    EvaluateSpectra(tones, between, &r);
    return r;
}

std::vector<double> Flat()
{
    return std::vector<double>(kTones, 0.0);
}

TEST(V34Probe, FlatSpectrumTakesTheFlatFilterEverywhere)
{
    const Phase2ProbeResults r = Evaluate(Flat(), 10.0);  // 50 dB per bin
    for (int c = 0; c < kProbeCombinations; ++c) {
        EXPECT_EQ(r.preEmphasis[c], 0) << c;
        EXPECT_GT(r.maxRate[c], 0) << c;
    }
    EXPECT_EQ(r.maxRate[kRate3429], 14);
    EXPECT_EQ(r.exclude, 0);
}

TEST(V34Probe, TiltTakesAHigherFilter)
{
    std::vector<double> db = Flat();
    for (int i = 0; i < kTones; ++i)
        db[static_cast<size_t>(i)] = -0.6 * i;  // 15 dB down at the top of the band
    const Phase2ProbeResults r = Evaluate(db, 10.0);
    int raised = 0;
    for (int c = 0; c < kProbeCombinations; ++c)
        raised += r.preEmphasis[c] > 0 ? 1 : 0;
    EXPECT_EQ(raised, kProbeCombinations);
}

TEST(V34Probe, RollOffAbove3300HzExcludesTheTopRates)
{
    std::vector<double> db = Flat();
    for (int i = 21; i < kTones; ++i)  // 3300 Hz on
        db[static_cast<size_t>(i)] = -12.0 * (i - 20);
    const Phase2ProbeResults r = Evaluate(db, 10.0);
    EXPECT_EQ(r.exclude, 1);
    EXPECT_EQ(r.maxRate[kRate3429], 0);
    EXPECT_GT(r.maxRate[0], 0);
    EXPECT_GT(r.reduction[0] + r.reduction[1], 0);
}

TEST(V34Probe, ScoreAtTheFloorGivesCodeZero)
{
    // Tones 4 times the noise beside them: the score stays under 5839 everywhere.
    const Phase2ProbeResults low = Evaluate(Flat(), 250000.0);
    for (int c = 0; c < kProbeCombinations; ++c)
        EXPECT_EQ(low.maxRate[c], 0) << c;
    // The codes rise with the ratio and never pass each rate's maximum.
    const int maxCode[kSymbolRates] = {9, 11, 11, 12, 13, 14};
    int last = 0;
    for (double noise : {60000.0, 10000.0, 1000.0, 100.0, 10.0, 1.0}) {
        const Phase2ProbeResults r = Evaluate(Flat(), noise);
        EXPECT_GE(r.maxRate[0], last) << noise;
        last = r.maxRate[0];
        for (int c = 0; c < kProbeCombinations; ++c)
            EXPECT_LE(r.maxRate[c], maxCode[c / 2]) << c;
    }
    EXPECT_EQ(last, 9);
}

TEST(V34Probe, MdLengthTable)
{
    struct Case {
        int32_t rtd;
        int32_t md;
    };
    for (const Case& c : {Case{0, 120}, Case{500, 120}, Case{806, 120}, Case{810, 112}, Case{1100, 84},
                          Case{1160, 9}, Case{19000, 62}})
        EXPECT_EQ(MdLengthForRtd(c.rtd, -1, 0), c.md) << c.rtd;
    EXPECT_EQ(MdLengthForRtd(0, -1, 1), 121);
}

// L1 then L2 from the phase-2 transmitter through one direction of the line; the analysis starts 48 samples
// after L1 arrives, as the pump's lists start it.
struct ProbeRun {
    ProbeAnalysis analysis;
    Phase2ProbeResults result;
    bool complete = false;
};

ProbeRun MeasureProbe(const linetest::DuplexSide& arrival, double snrDb, double offsetHz)
{
    linetest::DuplexParams p;
    p.rateHz = 9600;
    p.wideband = true;
    p.levelDbm0 = -7.4;  // L2's level
    p.side[1] = arrival;
    p.side[1].snrDb = snrDb;
    p.side[1].offsetHz = offsetHz;
    const size_t prefill = 120;
    const int32_t latency = pairtest::MeasureOneWayLatency(p, prefill, 96);
    linetest::DuplexLine line(p);
    line.Prefill(prefill);
    Phase2Transmitter t;
    InitPhase2Transmitter(&t, 1);
    TxProbeL1(&t);
    ProbeRun run;
    InitProbeAnalysis(&run.analysis);
    std::vector<int16_t> tx(96), silence(96, 0), rx0(96), rx1(96);
    int64_t sample = 0;
    for (int block = 0; block < 100 && !run.complete; ++block) {
        for (int16_t& v : tx) {
            if (sample++ == 1536)
                TxProbeL2(&t);
            v = Phase2TransmitSample(&t);
        }
        const int16_t* out[2] = {tx.data(), silence.data()};
        int16_t* in[2] = {rx0.data(), rx1.data()};
        line.Step(out, in, 96);
        for (int i = 0; i < 96 && !run.complete; ++i) {
            const int64_t at = static_cast<int64_t>(block + 1) * 96 + i;
            if (at >= latency + 48)
                run.complete = ProbeAnalysisSample(&run.analysis, rx1[static_cast<size_t>(i)]) == 1;
        }
    }
    if (run.complete)
        EvaluateProbe(&run.analysis, &run.result);
    return run;
}

TEST(V34Probe, FrequencyOffsetWithinHalfAHertz)
{
    for (double hz : {0.0, 5.0, -5.0, 7.0, -7.0, 2.3}) {
        const ProbeRun run = MeasureProbe(linetest::DuplexSide{}, 40.0, hz);
        ASSERT_TRUE(run.complete) << hz;
        // 0.02 Hz units; the measurement is the correction, the negated offset.
        EXPECT_NEAR(-run.result.frequencyOffset * 0.02, hz, 0.5) << hz;
    }
}

TEST(V34Probe, RateCodesFallWithNoiseOverChannels)
{
    linetest::DuplexSide tilt;
    LineChannelShape shape = LineFlatChannel(300.0, 3400.0);
    shape.tiltDb = -6.0;
    tilt.channel = LineChannelTaps(shape);
    linetest::DuplexSide flat;
    flat.channel = LineChannelTaps(LineFlatChannel(300.0, 3400.0));
    linetest::DuplexSide wide;
    wide.channel = LineChannelTaps(LineFlatChannel(300.0, 3700.0));
    linetest::DuplexSide codec;
    codec.channel = LineChannelTaps(LineCodecChannel());
    struct Channel {
        const char* name;
        linetest::DuplexSide side;
    };
    for (const Channel& ch : {Channel{"300-3700", wide}, Channel{"300-3400", flat}, Channel{"codec", codec},
                              Channel{"tilt", tilt}}) {
        int previous[kProbeCombinations];
        for (int& v : previous)
            v = 99;
        int sumFirst = 0;
        int sumLast = 0;
        for (double snr : {45.0, 35.0, 28.0, 22.0, 16.0}) {
            const ProbeRun run = MeasureProbe(ch.side, snr, 0.0);
            ASSERT_TRUE(run.complete) << ch.name << " " << snr;
            int sum = 0;
            for (int c = 0; c < kProbeCombinations; ++c) {
                EXPECT_LE(run.result.maxRate[c], previous[c]) << ch.name << " " << snr << " combination " << c;
                previous[c] = run.result.maxRate[c];
                sum += run.result.maxRate[c];
            }
            sumFirst = snr == 45.0 ? sum : sumFirst;
            sumLast = sum;
        }
        EXPECT_LT(sumLast + 20, sumFirst) << ch.name;
    }
}

TEST(V34Probe, Flat300To3700GivesThe3429RateAndARollOffExcludesIt)
{
    linetest::DuplexSide wide;
    wide.channel = LineChannelTaps(LineFlatChannel(300.0, 3700.0));
    const ProbeRun a = MeasureProbe(wide, 45.0, 0.0);
    ASSERT_TRUE(a.complete);
    EXPECT_EQ(a.result.exclude, 0);
    EXPECT_GE(a.result.maxRate[kRate3429], 13);
    linetest::DuplexSide steep;
    LineChannelShape s = LineFlatChannel(300.0, 3300.0);
    s.edgeHz = 300.0;
    s.stopDb = 50.0;
    steep.channel = LineChannelTaps(s);
    const ProbeRun b = MeasureProbe(steep, 45.0, 0.0);
    ASSERT_TRUE(b.complete);
    EXPECT_EQ(b.result.exclude, 1);
    EXPECT_EQ(b.result.maxRate[kRate3429], 0);
}

TEST(V34Probe, TooLittleEnergyNeverLeavesTheLevelMeasurement)
{
    ProbeAnalysis p;
    InitProbeAnalysis(&p);
    for (int n = 0; n < 20000; ++n)
        EXPECT_EQ(ProbeAnalysisSample(&p, static_cast<int16_t>(n % 3 == 0 ? 2 : -1)), 0);
    EXPECT_EQ(p.state, kProbeGain);
}

}  // namespace
