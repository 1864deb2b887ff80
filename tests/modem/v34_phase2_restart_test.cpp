// Phase 2's time-outs and restarts between two pumps on the line: no answering reversal, a corrupted INFO1
// on either side, a tone where INFO1 was due, a PCM-candidate answerer against a caller that sends a PCM
// INFO0, and a far end that falls silent at any point.
#include <gtest/gtest.h>

#include <cstring>

#include "layer1/dsp/dsp_context.h"
#include "layer1/modem/v34/bit_field.h"
#include "layer1/modem/v34/info_frames.h"
#include "layer1/modem/v34/phase2_handlers.h"
#include "support/v34_pair.h"

using pairtest::PairOptions;
using pairtest::V34Pair;

namespace {

constexpr int kCaller = 0;
constexpr int kAnswerer = 1;

int StepIndex(const StepEntry* list, StepHandler handler)
{
    for (int i = 0; list[i].handler != nullptr; ++i)
        if (list[i].handler == handler)
            return i;
    return -1;
}

bool At(const V34Pair& pair, int side, const StepEntry* list, StepHandler handler)
{
    const Sequencer& q = pair.Context(side)->phase2.sequencer;
    return q.list == list && q.position == StepIndex(list, handler);
}

// Turns the received block upside down every other block: the frame's bits break, its CRC fails.
void Corrupt(int16_t* x, int n, uint64_t block)
{
    if (block % 2 == 0)
        for (int i = 0; i < n; ++i)
            x[i] = static_cast<int16_t>(-x[i]);
}

TEST(V34Phase2Restart, NoAnsweringReversalStartsTheCallerRetryAfterTwoSeconds)
{
    V34Pair pair{PairOptions{}};
    pair.StartPhase2();
    bool cut = false;
    uint64_t cutBlock = 0;
    pair.rxHook = [&](int side, int16_t* x, int n) {
        if (side == kCaller && cut)
            std::memset(x, 0, static_cast<size_t>(n) * sizeof(int16_t));
    };
    const StepEntry* main = Phase2MainList(1);
    const int startRtd = StepIndex(main, P2StartRtd);
    pair.RunUntil([&] {
        const Sequencer& q = pair.Context(kCaller)->phase2.sequencer;
        return q.list == main && q.position >= startRtd;
    }, 1000);
    ASSERT_TRUE(At(pair, kCaller, main, P2MeasureRtd) || pair.Context(kCaller)->phase2.sequencer.position < StepIndex(main, P2MeasureRtd));
    cut = true;
    cutBlock = pair.Blocks();
    pair.RunUntil([&] { return pair.Context(kCaller)->phase2.sequencer.list == Phase2RetryList(1); }, 400);
    EXPECT_EQ(pair.Context(kCaller)->phase2.sequencer.list, Phase2RetryList(1));
    // 2 s from the caller's own reversal, which went out a few blocks before its wait began.
    EXPECT_GE(pair.Blocks() - cutBlock, 190u);
    EXPECT_LE(pair.Blocks() - cutBlock, 201u);
}

TEST(V34Phase2Restart, CorruptedInfo1StartsTheInfo1Lists)
{
    struct Case {
        int side;
        StepHandler receive;
        int type;
    };
    for (const Case& c : {Case{kAnswerer, P2ReceiveInfo1c, 6}, Case{kCaller, P2ReceiveInfo1a, 1}}) {
        V34Pair pair{PairOptions{}};
        pair.StartPhase2();
        const StepEntry* main = Phase2MainList(c.side == kCaller);
        pair.rxHook = [&](int side, int16_t* x, int n) {
            if (side == c.side && At(pair, side, main, c.receive))
                Corrupt(x, n, pair.Blocks());
        };
        const StepEntry* retry = Phase2RestartList(c.type, c.side == kCaller);
        pair.RunUntil([&] { return pair.Context(c.side)->phase2.sequencer.list == retry; }, 2000);
        const Phase2State& s = pair.Context(c.side)->phase2;
        EXPECT_EQ(s.sequencer.list, retry) << c.type;
        EXPECT_NE(s.flags & kPhase2AwaitInfo1, 0) << c.type;
        EXPECT_EQ(pair.Context(c.side)->v34.phase3Starts, 0) << c.type;
    }
}

TEST(V34Phase2Restart, ToneWhereInfo1WasDueRestartsWithType7)
{
    V34Pair pair{PairOptions{}};
    pair.StartPhase2();
    const StepEntry* main = Phase2MainList(1);
    bool tone = false;
    Phase2Transmitter far;
    InitPhase2Transmitter(&far, 1);
    TxCarrier(&far);
    pair.rxHook = [&](int side, int16_t* x, int n) {
        if (side != kCaller)
            return;
        if (tone) {
            for (int i = 0; i < n; ++i)
                x[i] = Phase2TransmitSample(&far);
        } else if (At(pair, side, main, P2ReceiveInfo1a)) {
            Corrupt(x, n, pair.Blocks());
        }
    };
    pair.RunUntil([&] { return pair.Context(kCaller)->phase2.sequencer.list == Phase2RestartList(1, 1); }, 2000);
    ASSERT_EQ(pair.Context(kCaller)->phase2.sequencer.list, Phase2RestartList(1, 1));
    // The answerer is gone; a steady tone arrives instead of its reversals.
    tone = true;
    pair.RunUntil([&] { return pair.Context(kCaller)->phase2.restartType == 7; }, 200);
    const Phase2State& s = pair.Context(kCaller)->phase2;
    EXPECT_EQ(s.restartType, 7);
    EXPECT_EQ(s.sequencer.list, Phase2RestartList(7, 1));
    EXPECT_NE(s.flags & kPhase2Restarting, 0);
}

// A PCM INFO0 as the digital side sends it: 30 information bits (the nine capabilities, the rate
// difference, CME, 1664 points, the PCM-option and PCM-answer bits, the acknowledgement, a 4-bit and a 5-bit
// field and three single bits, one spare), the CRC and the fill: 62 bits.
uint32_t BuildPcmInfo0(uint32_t acknowledge, uint32_t* words)
{
    std::memset(words, 0, 4 * sizeof(uint32_t));
    uint32_t p = PutBits(words, 0, kInfoHeadBits, kInfoFillAndSync);
    p = PutBits(words, p, 9, 0x1FF);
    p = PutBits(words, p, 3, 0);
    p = PutBits(words, p, 1, 0);
    p = PutBits(words, p, 1, 1);
    p = PutBits(words, p, 1, 0);  // PCM option
    p = PutBits(words, p, 1, 1);  // PCM answer
    p = PutBits(words, p, 1, acknowledge);
    p = PutBits(words, p, 4, 5);
    p = PutBits(words, p, 5, 17);
    p = PutBits(words, p, 3, 0x5);
    p = PutBits(words, p, 1, 0);
    const uint16_t crc = StreamCrc(words, kInfoHeadBits, p - kInfoHeadBits);
    p = PutBits(words, p, kInfoCrcBits, crc);
    return PutBits(words, p, kInfoTailBits, kInfoFill);
}

TEST(V34Phase2Restart, PcmCandidateAnswererAgainstAPcmInfo0EntersPcmMode)
{
    PairOptions o;
    o.mode[kAnswerer] = 23;
    o.modeFlagByte[kAnswerer] = 0x02;  // PCM offered
    V34Pair pair(o);
    pair.StartPhase2();
    ASSERT_NE(pair.Context(kAnswerer)->phase2.flags & kPhase2PcmCandidate, 0);
    ASSERT_EQ(pair.Context(kAnswerer)->phase2.localInfo0.pcmOffer, 1);
    // Whatever INFO0 the caller's transmitter holds goes out in the PCM form, acknowledgement included.
    pair.afterBlock = [&](int side) {
        Phase2State& s = pair.Context(side)->phase2;
        if (side != kCaller || s.sequencer.list == Phase2MainList(1))
            return;
        Phase2Transmitter& t = s.transmitter;
        if (t.frameLength != 49 && t.frameLength != 62)
            return;
        uint32_t words[4];
        const uint32_t n = BuildPcmInfo0(s.localInfo0.acknowledge, words);
        TxRewriteFrame(&t, words, static_cast<int32_t>(n));
        t.frameLength = static_cast<int32_t>(n);
    };
    pair.RunUntil([&] { return pair.BothFinished(); }, 3000);
    ASSERT_TRUE(pair.BothFinished());
    const DspContext* a = pair.Context(kAnswerer);
    EXPECT_EQ(a->pcm.modeStarts, 1);
    EXPECT_EQ(a->v34.phase3Starts, 0);
    EXPECT_EQ(a->phase2.remoteInfo0.pcmAnswer, 1);
    int events = 0;
    for (const pairtest::Bytes& p : pair.Packets(kAnswerer))
        events += p == pairtest::Bytes{0xD4, 0, 2, 0, 1, 6} ? 1 : 0;
    EXPECT_EQ(events, 1);
    const Phase2Result& r = a->phase2Result;
    EXPECT_EQ(r.callerRateIndex, 6);
    EXPECT_EQ(r.answererMdLength, 0);
    EXPECT_EQ(r.remotePcmFields[0], 5);
    EXPECT_EQ(r.remotePcmFields[1], 17);
    // The caller read the PCM INFO1a: the 3200 entry and index 6, taken as 0.
    EXPECT_EQ(pair.Context(kCaller)->phase2.info1a.callerRateIndex, 6);
    EXPECT_EQ(pair.Context(kCaller)->phase2Result.callerRateIndex, 0);
    EXPECT_EQ(pair.Context(kCaller)->v34.phase3Starts, 1);
}

TEST(V34Phase2Restart, FarEndFallingSilentNeverFaultsAndAResetReturnsToIdle)
{
#ifdef MODEM_UNDER_SANITIZER
    const int cuts[] = {20, 50, 110, 160};
    const int after = 600;
#else
    const int cuts[] = {5, 45, 55, 90, 130, 160, 170, 180};
    const int after = 1000;
#endif
    for (int side = 0; side < 2; ++side) {
        for (int cut : cuts) {
            V34Pair pair{PairOptions{}};
            pair.StartPhase2();
            pair.rxHook = [&](int s, int16_t* x, int n) {
                if (s == side && pair.Blocks() >= static_cast<uint64_t>(cut))
                    std::memset(x, 0, static_cast<size_t>(n) * sizeof(int16_t));
            };
            for (int b = 0; b < cut + after; ++b)
                pair.Block();
            DspContext* ctx = pair.Context(side);
            // A late cut may come after the far end's last frame has arrived: that side has finished.
            if (ctx->v34.phase3Starts == 1) {
                EXPECT_GE(cut, 170) << side;
                continue;
            }
            // Still in phase 2, waiting: no hand-over without the far end.
            EXPECT_EQ(ctx->blockHandler, &Phase2BlockHandler) << side << " " << cut;
            EXPECT_EQ(ctx->v34.phase3Starts, 0) << side << " " << cut;
            pair.Send(side, 0x60, {0});
            EXPECT_NE(ctx->blockHandler, &Phase2BlockHandler) << side << " " << cut;
            pair.Block();
        }
    }
}


// A stray sync in noise ends in a CRC error that the receiver holds until it is read. Steps that wait for a
// tone or a reversal drop it, so the tone and the reversals still come through and phase 2 ends as usual.
TEST(V34Phase2Restart, HeldCrcErrorDoesNotHideTonesOrReversals)
{
    struct Case {
        int side;
        StepHandler wait;
        double roundTripMs;  // long enough for the wait to span a block
    };
    for (const Case& c : {Case{kCaller, P2WaitTone, 0}, Case{kCaller, P2MeasureRtd, 300},
                          Case{kAnswerer, P2WaitReversal, 300}, Case{kAnswerer, P2AnswererWaitToneAfterProbe, 0}}) {
        PairOptions o;
        o.line.bulkDelayMs = c.roundTripMs / 2;
        V34Pair pair(o);
        pair.StartPhase2();
        const StepEntry* main = Phase2MainList(c.side == kCaller);
        int injected = 0;
        pair.afterBlock = [&](int side) {
            if (side == c.side && injected == 0 && At(pair, side, main, c.wait)) {
                pair.Context(side)->phase2.receiver.state = kInfoRxCrcError;
                injected = 1;
            }
        };
        pair.RunUntil([&] { return pair.BothFinished(); }, 1500);
        EXPECT_EQ(injected, 1) << c.side;
        EXPECT_TRUE(pair.BothFinished()) << c.side;
        for (int s = 0; s < 2; ++s)
            EXPECT_EQ(pair.Context(s)->phase2.restartType, 0) << c.side;
    }
}

}  // namespace
