// Two pumps through phase 2 on the simulated line, started from their commands, in both roles.
#include <gtest/gtest.h>

#include <cstdio>

#include "layer1/dsp/dsp_context.h"
#include "support/v34_pair.h"

using pairtest::PairOptions;
using pairtest::V34Pair;

namespace {

constexpr int kPhase2Blocks = 1500;  // 15 s

void Dump(const V34Pair& pair, int side)
{
    const DspContext* c = pair.Context(side);
    const Phase2State& s = c->phase2;
    std::printf("side %d: pos %d rem %d flags %x rtd %d exch %d tx mode %d rtype %d p3 %d pcm %d\n", side,
                s.sequencer.position, s.sequencer.remaining, s.flags, s.rtd, s.exchangeState, s.transmitter.mode,
                s.restartType, c->v34.phase3Starts, c->pcm.modeStarts);
    const Phase2Result& r = c->phase2Result;
    std::printf("  caller idx %d hc %d pe %d max %d md %d fo %d | answerer idx %d hc %d pe %d max %d md %d fo %d | "
                "rtdWord %x freq %d\n", r.callerRateIndex, r.callerHighCarrier, r.callerPreEmphasis, r.callerMaxRate,
                r.callerMdLength, r.callerFreqOffset, r.answererRateIndex, r.answererHighCarrier,
                r.answererPreEmphasis, r.answererMaxRate, r.answererMdLength, r.answererFreqOffset, r.rtdWord,
                static_cast<int32_t>(r.freqOffset));
    std::printf("  codes:");
    for (int k = 0; k < 11; ++k)
        std::printf(" %d/%d", s.probe.maxRate[k], s.probe.preEmphasis[k]);
    std::printf(" excl %d red %d %d sugg %d offset %d gain %d/%d\n", s.probe.exclude, s.probe.reduction[0],
                s.probe.reduction[1], s.probe.powerSuggestion, s.probe.frequencyOffset, s.analysis.gainMantissa,
                s.analysis.gainExponent);
}

TEST(V34Phase2Pair, CleanLineBothRolesFinish)
{
    PairOptions o;
    V34Pair pair(o);
    pair.StartPhase2();
    int last[2] = {-1, -1};
    const void* lastList[2] = {nullptr, nullptr};
    for (int b = 0; b < kPhase2Blocks && !pair.BothFinished(); ++b) {
        pair.Block();
        for (int s = 0; s < 2; ++s) {
            const Phase2State& st = pair.Context(s)->phase2;
            if (st.sequencer.position != last[s] || st.sequencer.list != lastList[s]) {
                std::printf("block %d side %d -> list %p pos %d rem %d\n", b, s, (const void*)st.sequencer.list,
                            st.sequencer.position, st.sequencer.remaining);
                last[s] = st.sequencer.position;
                lastList[s] = st.sequencer.list;
            }
        }
    }
    Dump(pair, 0);
    Dump(pair, 1);
    EXPECT_TRUE(pair.BothFinished());
}

}  // namespace
