// Two pumps through phase 2 on the simulated line, started from their commands, in both roles: the results
// mirror each other, the round trip is measured, and the restart and time-out paths run.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "layer1/dsp/dsp_context.h"
#include "layer1/modem/v34/bit_field.h"
#include "layer1/modem/v34/info_frames.h"
#include "layer1/modem/v34/phase2_handlers.h"
#include "support/v34_pair.h"

using pairtest::PairOptions;
using pairtest::V34Pair;

namespace {

constexpr int kMaxBlocks = 3000;  // 30 s

struct LineCase {
    const char* name;
    double roundTripMs;
    double snrDb;
    double offsetHz;
    bool swapped;  // side 1 calls
    double lossDb = 0;
    double echoLossDb = INFINITY;  // both hybrids' echo (the far one 6 dB further down, 20 ms back)
};

PairOptions Options(const LineCase& c)
{
    PairOptions o;
    o.line.bulkDelayMs = c.roundTripMs / 2;
    o.line.levelDbm0 = -7.4;
    for (linetest::DuplexSide& s : o.line.side) {
        s.snrDb = c.snrDb;
        s.offsetHz = c.offsetHz;
        s.attenuationDb = c.lossDb;
        s.nearLossDb = c.echoLossDb;
        s.farLossDb = c.echoLossDb + 6;
        s.farDelayMs = 20;
    }
    if (c.swapped) {
        o.mode[0] = 18;
        o.mode[1] = 17;
        o.originate[0] = false;
        o.originate[1] = true;
    }
    return o;
}

int CallerSide(const V34Pair& pair)
{
    return (pair.Context(0)->phase2.flags & kPhase2Caller) != 0 ? 0 : 1;
}

void ExpectMirrored(const V34Pair& pair, const char* name)
{
    const Phase2Result& a = pair.Context(0)->phase2Result;
    const Phase2Result& b = pair.Context(1)->phase2Result;
    EXPECT_EQ(a.callerRateIndex, b.callerRateIndex) << name;
    EXPECT_EQ(a.callerHighCarrier, b.callerHighCarrier) << name;
    EXPECT_EQ(a.callerPreEmphasis, b.callerPreEmphasis) << name;
    EXPECT_EQ(a.callerMaxRate, b.callerMaxRate) << name;
    EXPECT_EQ(a.callerMdLength, b.callerMdLength) << name;
    EXPECT_EQ(a.callerFreqOffset, b.callerFreqOffset) << name;
    EXPECT_EQ(a.answererRateIndex, b.answererRateIndex) << name;
    EXPECT_EQ(a.answererHighCarrier, b.answererHighCarrier) << name;
    EXPECT_EQ(a.answererPreEmphasis, b.answererPreEmphasis) << name;
    EXPECT_EQ(a.answererMaxRate, b.answererMaxRate) << name;
    EXPECT_EQ(a.answererMdLength, b.answererMdLength) << name;
    EXPECT_EQ(a.answererFreqOffset, b.answererFreqOffset) << name;
    EXPECT_GT(a.callerMaxRate, 0) << name;
    EXPECT_GT(a.answererMaxRate, 0) << name;
}

TEST(V34Phase2Pair, BothRolesFinishOnTheLinesOfTheTable)
{
    const LineCase cases[] = {
        {"clean", 0, INFINITY, 0, false},        {"clean, roles swapped", 0, INFINITY, 0, true},
        {"600 ms round trip", 600, INFINITY, 0, false},
        // 20 dB below the signal at full level (the noise at about -27 dBm0, far above the receiver's no-signal
        // level: behind the carrier filter it must not pass for the far end's tone while this modem probes).
        {"20 dB", 0, 20, 0, false}, {"20 dB, roles swapped", 0, 20, 0, true},
        {"20 dB, +5 Hz, echoes 10 dB down", 0, 20, 5, false, 0, 10},
        // 20 dB below a signal that lost 20 dB on the line (the noise at about -47 dBm0).
        {"20 dB, 20 dB loss", 0, 20, 0, false, 20}, {"20 dB, 20 dB loss, roles swapped", 0, 20, 0, true, 20},
        {"+5 Hz", 0, 40, 5, false, 10}, {"-5 Hz", 0, 40, -5, true, 10},
    };
    for (const LineCase& c : cases) {
        V34Pair pair(Options(c));
        pair.StartPhase2();
        pair.RunUntil([&] { return pair.BothFinished(); }, kMaxBlocks);
        for (int s = 0; s < 2 && !pair.BothFinished(); ++s) {
            const Phase2State& st = pair.Context(s)->phase2;
            ADD_FAILURE() << c.name << " side " << s << " list " << (st.sequencer.list == Phase2MainList(st.flags & 1))
                          << " position " << st.sequencer.position << " restart " << st.restartType << " exchange "
                          << st.exchangeState << " flags " << st.flags;
        }
        if (!pair.BothFinished())
            continue;
        for (int s = 0; s < 2; ++s) {
            // Phase 3 takes over at 33600 bit/s; no restart ran; the probe measured the far end's offset.
            const DspContext* ctx = pair.Context(s);
            EXPECT_EQ(ctx->v34.phase3Starts, 1) << c.name;
            EXPECT_EQ(ctx->v34.txRateCode, 14) << c.name;
            EXPECT_EQ(ctx->phase2.restartType, 0) << c.name;
            EXPECT_NEAR(-ctx->phase2.probe.frequencyOffset * 0.02, c.offsetHz, 0.5) << c.name;
            // The line's frequency shifter adds its splitter's delay each way.
            const double shifter = c.offsetHz != 0 ? 2 * kLineHilbertHalfLength * 9600.0 / 8000.0 : 0.0;
            EXPECT_NEAR(ctx->phase2.rtd, c.roundTripMs * 9.6 + shifter, 16) << c.name;
        }
        ExpectMirrored(pair, c.name);
        const Phase2Result& r = pair.Context(CallerSide(pair))->phase2Result;
        if (!std::isfinite(c.snrDb)) {
            // A clean line runs 3429 baud at 33600 both ways.
            EXPECT_EQ(r.callerRateIndex, 5) << c.name;
            EXPECT_EQ(r.answererRateIndex, 5) << c.name;
            EXPECT_EQ(r.callerMaxRate, 14) << c.name;
        }
    }
}

TEST(V34Phase2Pair, RoundTripMeasuredOnBothSides)
{
    for (double ms : {0.0, 50.0, 300.0, 600.0}) {
        V34Pair pair(Options(LineCase{"rtd", ms, INFINITY, 0, false}));
        pair.StartPhase2();
        pair.RunUntil([&] { return pair.BothFinished(); }, kMaxBlocks);
        ASSERT_TRUE(pair.BothFinished()) << ms;
        for (int s = 0; s < 2; ++s) {
            EXPECT_NEAR(pair.Context(s)->phase2.rtd, ms * 9.6, 16) << ms << " side " << s;
            EXPECT_EQ(pair.Context(s)->phase2Result.rtd, pair.Context(s)->phase2.rtd);
        }
    }
}

// A sample path of 432 samples (two blocks each way): the answering delay is exceeded, phase 2 still ends;
// and a one-second round trip, whose time-outs need more than 16 bits.
TEST(V34Phase2Pair, LongLatencyAndLongRoundTripFinish)
{
    PairOptions o = Options(LineCase{"432", 0, INFINITY, 0, false});
    o.depthBlocks[0] = 2;
    o.depthBlocks[1] = 2;
    o.prefill = 120 + (384 - pairtest::MeasureOneWayLatency(o.line, 120, 96));
    {
        V34Pair pair(o);
        pair.StartPhase2();
        EXPECT_EQ(pair.Context(0)->phase2.pathLatency, 432);
        pair.RunUntil([&] { return pair.BothFinished(); }, kMaxBlocks);
        EXPECT_TRUE(pair.BothFinished());
        // The answering reversal goes out late by the latency beyond the 384-sample answering delay.
        for (int s = 0; s < 2; ++s)
            EXPECT_NEAR(pair.Context(s)->phase2.rtd, 432 - 384, 16);
    }
    V34Pair pair(Options(LineCase{"1 s", 1000, INFINITY, 0, false}));
    pair.StartPhase2();
    pair.RunUntil([&] { return pair.BothFinished(); }, kMaxBlocks);
    ASSERT_TRUE(pair.BothFinished());
    for (int s = 0; s < 2; ++s)
        EXPECT_NEAR(pair.Context(s)->phase2.rtd, 9600, 16);
    ExpectMirrored(pair, "1 s");
}

TEST(V34Phase2Pair, TwoThousandFourHundredOnlyOption)
{
    V34Pair pair(Options(LineCase{"2400", 0, INFINITY, 0, false}));
    pair.StartPhase2();
    // The pump-options word set to the lowest data rate only, on the answerer.
    pair.Context(1)->phase2.only2400 = 1;
    pair.RunUntil([&] { return pair.BothFinished(); }, kMaxBlocks);
    ASSERT_TRUE(pair.BothFinished());
    for (int s = 0; s < 2; ++s) {
        EXPECT_EQ(pair.Context(s)->phase2Result.callerRateIndex, 0);
        EXPECT_EQ(pair.Context(s)->phase2Result.answererRateIndex, 0);
    }
}

TEST(V34Phase2Pair, SteepRollOffKeepsTheRateAt3200OrBelow)
{
    PairOptions o = Options(LineCase{"roll-off", 0, 45, 0, false});
    LineChannelShape steep = LineFlatChannel(300.0, 3300.0);
    steep.edgeHz = 300.0;
    steep.stopDb = 50.0;
    for (linetest::DuplexSide& s : o.line.side)
        s.channel = LineChannelTaps(steep);
    V34Pair pair(o);
    pair.StartPhase2();
    pair.RunUntil([&] { return pair.BothFinished(); }, kMaxBlocks);
    ASSERT_TRUE(pair.BothFinished());
    for (int s = 0; s < 2; ++s) {
        EXPECT_EQ(pair.Context(s)->phase2.probe.exclude, 1);
        EXPECT_LE(pair.Context(s)->phase2Result.callerRateIndex, 4);
        EXPECT_LE(pair.Context(s)->phase2Result.answererRateIndex, 4);
    }
    ExpectMirrored(pair, "roll-off");
}

// The pump's own L1 and L2 on the line: the answerer's transmit samples follow the probe period at L1's
// amplitude, then at half of it, with no gap.
TEST(V34Phase2Pair, ProbeSignalsFromTheListsAtTheirLengthAndLevels)
{
    V34Pair pair{PairOptions{}};
    std::vector<int16_t> sent;
    pair.txHook = [&](int side, const int16_t* x, int n) {
        if (side == 1)
            sent.insert(sent.end(), x, x + n);
    };
    pair.StartPhase2();
    pair.RunUntil([&] { return pair.BothFinished(); }, kMaxBlocks);
    ASSERT_TRUE(pair.BothFinished());
    // Runs of samples equal to (amplitude x period[k]) >> 15 with k counting on from 0.
    auto run = [&](size_t from, int16_t amplitude, int first, size_t* start) {
        for (size_t i = from; i + 64 < sent.size(); ++i) {
            size_t n = 0;
            while (i + n < sent.size() &&
                   sent[i + n] == static_cast<int16_t>((amplitude * kProbeWaveform[(first + n) % 64]) >> 15))
                ++n;
            if (n >= 128) {
                *start = i;
                return n;
            }
        }
        return size_t{0};
    };
    size_t l1Start = 0;
    const size_t l1 = run(0, 21697, 0, &l1Start);
    size_t l2Start = 0;
    const size_t l2 = run(l1Start + l1, 10848, static_cast<int>(l1 % 64), &l2Start);
    // One sample for the step that starts L1, then the 1536-sample wait; L2 follows at once.
    EXPECT_EQ(l1, 1537u);
    EXPECT_EQ(l2Start, l1Start + l1);
    EXPECT_GT(l2, 2000u);
}

TEST(V34Phase2Pair, Flat300To3700ChannelGives3429BothWays)
{
    PairOptions o = Options(LineCase{"300-3700", 0, 45, 0, false});
    for (linetest::DuplexSide& s : o.line.side)
        s.channel = LineChannelTaps(LineFlatChannel(300.0, 3700.0));
    V34Pair pair(o);
    pair.StartPhase2();
    pair.RunUntil([&] { return pair.BothFinished(); }, kMaxBlocks);
    ASSERT_TRUE(pair.BothFinished());
    ExpectMirrored(pair, "300-3700");
    const Phase2Result& r = pair.Context(0)->phase2Result;
    EXPECT_EQ(r.callerRateIndex, 5);
    EXPECT_EQ(r.answererRateIndex, 5);
    EXPECT_EQ(pair.Context(0)->phase2.probe.exclude, 0);
}

}  // namespace
