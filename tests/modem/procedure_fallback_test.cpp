// The V.32bis pump's fall-backs in the procedures: an automode answerer whose V.32bis caller never comes
// listens for V.21 for 2 s, then for V.23 for 2 s, then resets; an automode caller waiting for the V.32bis
// answerer starts V.21 or V.23 on the FSK answerer's mark.
#include <gtest/gtest.h>

#include "v22_fixture.h"

using v22test::LineSettings;
using v22test::Pump;
using v22test::PumpPair;

namespace {

// The pump as an automode V.32bis answerer or caller that has just started its V.32bis pump.
void StartV32bisAfterAutomode(Pump& p, int32_t originate)
{
    LockDsp(p.ctx->interfaceBlock);
    p.ctx->modeNumber = 16;
    p.ctx->connection.rateCode = 9;
    p.ctx->connection.originate = originate;
    p.ctx->connection.procedureKind = 1;
    p.ctx->pumpOption = 0x3E;
    InitRxFramer(p.ctx, 0);
    InitTxFramer(p.ctx, 0);
    StartV32bis(p.ctx, originate ? 1 : 2);
    UnlockDsp(p.ctx->interfaceBlock);
}

TEST(V32bisFallback, AnswererWithoutACallerTriesV21ThenV23ThenResets)
{
    Pump p;
    StartV32bisAfterAutomode(p, 0);
    std::vector<int32_t> types;
    int fallbackAt = -1, v23At = -1, resetAt = -1;
    for (int t = 0; t < 700; ++t) {
        p.Block(nullptr);
        if (fallbackAt < 0 && p.ctx->blockHandler != V32bisBlockHandler && p.ctx->fsk.type == 0)
            fallbackAt = t;
        if (v23At < 0 && fallbackAt >= 0 && p.ctx->fsk.type == 7)
            v23At = t;
        if (resetAt < 0 && v23At >= 0 && p.ctx->seqB.list != AutomodeAnswerSteps)
            resetAt = t;
    }
    // 1920 symbols of silence (0.8 s, at 6.67 ms blocks: the 9600 Hz blocks here run the pump's own), then
    // V.21 for 200 blocks, V.23 for 200 blocks.
    ASSERT_GE(fallbackAt, 0);
    EXPECT_NEAR(fallbackAt, 80, 3);
    ASSERT_GE(v23At, 0);
    EXPECT_NEAR(v23At - fallbackAt, 201, 2);
    EXPECT_EQ(p.ctx->modeNumber, 4);
    ASSERT_GE(resetAt, 0);
    EXPECT_NEAR(resetAt - v23At, 201, 2);
}

TEST(V32bisFallback, AnswererTakesAV21CallerAfterTheV32bisWait)
{
    PumpPair pair(LineSettings{});
    StartV32bisAfterAutomode(pair.b, 0);
    LockDsp(pair.a.ctx->interfaceBlock);
    pair.a.ctx->connection.originate = 1;
    StartLowSpeedMode(pair.a.ctx, 0);
    UnlockDsp(pair.a.ctx->interfaceBlock);
    for (int t = 0; t < 400 && pair.b.ctx->seqB.list != FskReceiveList(); ++t)
        pair.Step();
    EXPECT_EQ(pair.b.ctx->seqB.list, FskReceiveList());
    EXPECT_EQ(pair.b.ctx->fsk.type, 0);
    const std::vector<uint8_t> bytes = fsktest::RandomBytes(40, 5);
    pair.a.link.toSend.assign(bytes.begin(), bytes.end());
    for (int t = 0; t < 300 && pair.b.link.received.size() < bytes.size(); ++t)
        pair.Step();
    EXPECT_TRUE(pair.b.link.received == bytes) << fsktest::Mismatch(pair.b.link.received, bytes);
}

TEST(V32bisFallback, CallerHearingAnFskAnswererStartsItsMode)
{
    const struct {
        int32_t answererType, callerType, mode;
    } cases[] = {{0, 0, 2}, {7, 6, 4}};
    for (const auto& c : cases) {
        PumpPair pair(LineSettings{});
        StartV32bisAfterAutomode(pair.a, 1);
        LockDsp(pair.b.ctx->interfaceBlock);
        pair.b.ctx->connection.originate = 0;
        StartLowSpeedMode(pair.b.ctx, c.answererType);
        UnlockDsp(pair.b.ctx->interfaceBlock);
        for (int t = 0; t < 400 && pair.a.ctx->blockHandler == V32bisBlockHandler; ++t)
            pair.Step();
        EXPECT_FALSE(pair.a.ctx->blockHandler == V32bisBlockHandler) << c.answererType;
        EXPECT_EQ(pair.a.ctx->fsk.type, c.callerType);
        EXPECT_EQ(pair.a.ctx->modeNumber, c.mode);
    }
}

}  // namespace
