// The tone commands on the emulated DSP: digit timing counts, levels, the digit-busy window of a digit, and
// a digit after a tone pair.
#include <gtest/gtest.h>

#include "dsp_fixture.h"
#include "layer1/dsp/mode_entries.h"
#include "layer1/dsp/tone_generator.h"

using dsptest::Bytes;
using dsptest::DspBench;

namespace {

struct TimingCase {
    Bytes payload;
    int32_t on, off, pause;  // blocks
    int32_t pulse;
};

TEST(ToneCommand, DtmfTimingBecomesRoundedBlockCounts)
{
    const TimingCase cases[] = {
        {{70, 0, 0, 0, 0, 0}, 7, 1, 1, 0},
        {{94, 95, 0, 0, 0x2C, 0x01}, 9, 10, 30, 0},
        {{255, 4, 7, 0, 0xFF, 0xFF}, 26, 1, 6554, 1},
    };
    for (const TimingCase& c : cases) {
        DspBench bench;
        EXPECT_EQ(bench.Reply(0x66, c.payload), (Bytes{0xC0, 0, 1, 0, 0x66}));
        const StepEntry* list = bench.context->signal.digitList;
        EXPECT_EQ(list[1].count, c.on);
        EXPECT_EQ(list[2].count, c.off);
        EXPECT_EQ(list[3].count, c.pause);
        EXPECT_EQ(bench.context->signal.dual.pulseMode, c.pulse);
    }
}

TEST(ToneCommand, LevelsInTenthsOfADecibelTruncated)
{
    struct {
        Bytes payload;
        int16_t level1, level2;
    } cases[] = {
        {{60, 40}, kGainTable[4], kGainTable[6]},
        {{0, 0}, kGainTable[0], kGainTable[0]},
        {{4, 14}, kGainTable[1], kGainTable[0]},
        {{255, 255}, kGainTable[26], kGainTable[26]},
    };
    for (const auto& c : cases) {
        DspBench bench;
        EXPECT_EQ(bench.Reply(0x88, c.payload), (Bytes{0xC0, 0, 1, 0, 0x88}));
        EXPECT_EQ(bench.context->signal.dual.level1, c.level1);
        EXPECT_EQ(bench.context->signal.dual.level2, c.level2);
    }
}

// Runs blocks until the digit has ended; returns how many blocks DigitBusy held (no command answered).
int BusyBlocks(DspBench& bench)
{
    int busy = 0;
    for (int i = 0; i < 200 && bench.context->seqA.list != kIdleListA; ++i) {
        PerBlockEntry(bench.context.get());
        busy += bench.context->command.digitBusy;
    }
    return busy;
}

TEST(ToneCommand, DigitBusyHoldsCommandsForTheOnTimeOnly)
{
    DspBench bench;
    bench.Send(0x66, {70, 30, 0, 0, 50, 0});
    bench.Send(0x67, {5});
    PerBlockEntry(bench.context.get());  // DigitStart
    EXPECT_EQ(bench.context->command.digitBusy, 1);
    EXPECT_TRUE(bench.Send(0x7D, {}).empty());  // taken, not answered
    EXPECT_EQ(BusyBlocks(bench), 7 - 1);       // the on step's last tick clears it
    EXPECT_EQ(bench.Reply(0x7D, {}), (Bytes{0xC0, 0, 1, 0, 0x7D}));
}

// A tone pair leaves the digit list with an endless on step; a digit after it still plays for its own on
// time, and the pump answers commands again when it ends.
TEST(ToneCommand, DigitAfterATonePairKeepsItsTiming)
{
    DspBench bench;
    bench.Send(0x66, {70, 0, 0, 0, 0, 0});
    bench.Send(0x7C, {0x10, 0x20, 0x30, 0x40, 1, 0});
    for (int i = 0; i < 5; ++i)
        PerBlockEntry(bench.context.get());
    EXPECT_EQ(bench.context->command.digitBusy, 0);  // a pair never holds commands
    EXPECT_EQ(bench.Reply(0x7C, {0, 0, 0, 0, 0, 0}), (Bytes{0xC0, 0, 1, 0, 0x7C}));
    EXPECT_EQ(bench.context->seqA.list, kIdleListA);
    bench.Send(0x67, {5});
    EXPECT_EQ(bench.context->signal.digitList[1].count, 7);
    PerBlockEntry(bench.context.get());
    EXPECT_EQ(BusyBlocks(bench), 7 - 1);
    EXPECT_EQ(bench.Reply(0x60, {0}), (Bytes{0xC0, 0, 1, 0, 0x60}));
}

// Going idle in the middle of a digit's on time (the controller puts the line on hook) stops the digit; the
// pump answers commands again at once instead of dropping them for good.
TEST(ToneCommand, GoingIdleDuringADigitReleasesTheCommands)
{
    DspBench bench;
    bench.Send(0x66, {250, 50, 0, 0, 50, 0});
    bench.Send(0x67, {7});
    PerBlockEntry(bench.context.get());
    PerBlockEntry(bench.context.get());
    ASSERT_EQ(bench.context->command.digitBusy, 1);
    WindowStore(bench.block.get(), kRegGpioData0, 0x04);
    PerBlockEntry(bench.context.get());
    EXPECT_EQ(bench.context->seqA.list, kIdleListA);
    EXPECT_EQ(bench.Reply(0x7D, {}), (Bytes{0xC0, 0, 1, 0, 0x7D}));
}

struct ToneTypeCase {
    int32_t type;
    uint32_t step;  // 0: silence
};

// The phase steps are the listed ones (1500 Hz is 10240, where 65536 / 9600 per Hz truncates to 10239);
// any other type is silence.
TEST(ToneCommand, StartToneTypesUseTheListedPhaseSteps)
{
    const ToneTypeCase cases[] = {
        {1, 7509}, {2, 8874}, {3, 10240}, {4, 0x3800}, {5, 0x3800}, {6, 0x3800}, {0, 0}, {7, 0}, {-1, 0}, {1000, 0},
    };
    for (const ToneTypeCase& c : cases) {
        DspBench bench;
        StartTone(bench.context.get(), c.type);
        EXPECT_EQ(bench.context->signal.tone.step, c.step) << c.type;
        EXPECT_EQ(bench.context->seqA.list, bench.context->signal.tone.list) << c.type;
        for (int i = 0; i < 3; ++i)
            PerBlockEntry(bench.context.get());
        if (c.step == 0) {  // silence for ever
            EXPECT_EQ(bench.context->seqA.remaining, -1) << c.type;
        }
    }
}

// After pulse dialling a tone pair is still a pair of tones: the loop is neither opened nor closed.
TEST(ToneCommand, TonePairAfterPulseDiallingLeavesTheLoopAlone)
{
    DspBench bench;
    bench.Send(0x66, {60, 40, 1, 0, 0, 0});
    bench.Send(0x7C, {0x10, 0x20, 0x30, 0x40, 1, 0});
    for (int i = 0; i < 10; ++i)
        PerBlockEntry(bench.context.get());
    EXPECT_TRUE(bench.lower.CallsOf(LOWER_CODE_LOOP_OPEN).empty());
    EXPECT_TRUE(bench.lower.CallsOf(LOWER_CODE_LOOP_CLOSE).empty());
    EXPECT_NE(bench.context->signal.dual.phase1, 0u);  // the pair is being generated
    bench.Send(0x7C, {0, 0, 0, 0, 0, 0});
    // A digit in pulse mode still pulses.
    bench.Send(0x67, {2});
    for (int i = 0; i < 30; ++i)
        PerBlockEntry(bench.context.get());
    EXPECT_EQ(bench.lower.CallsOf(LOWER_CODE_LOOP_OPEN).size(), 2u);
    EXPECT_EQ(bench.lower.CallsOf(LOWER_CODE_LOOP_CLOSE).size(), 2u);
}

}  // namespace
