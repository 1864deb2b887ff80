// Voice mode through the register window: the start at every rate code, the pending start, the sub-mode
// command, play and record byte accounting, the queues behind busy mailboxes, and the silence, 1100 Hz and
// line-control behaviour.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "voice/voice_fixture.h"

namespace {

using voicetest::Bytes;
using voicetest::VoiceBench;

constexpr double kPi = 3.14159265358979323846;

struct RateCase {
    uint8_t code;
    uint16_t rate;
    uint16_t block;
    int voiceBlock;
};
const RateCase kRates[] = {{0, 4800, 48, 48}, {1, 7200, 72, 72}, {2, 8000, 80, 80}, {3, 9600, 96, 96}, {4, 9600, 96, 110}};

TEST(VoiceMode, StartAtEveryRateCode)
{
    for (const RateCase& c : kRates) {
        SCOPED_TRACE(c.code);
        VoiceBench v;
        v.Send(IcdConfigDetectors, {2, 0});
        v.callbacks = 0;
        const std::vector<Bytes> r = v.Send(IcdStartVoice, {c.code, 0, 2, 0});
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0], Bytes({IcdAck, 0, 1, 0, IcdStartVoice}));
        ASSERT_FALSE(v.formats.empty());
        EXPECT_EQ(v.formats.back().rate, c.rate);
        EXPECT_EQ(v.formats.back().block, c.block);
        EXPECT_EQ(v.context->command.voiceActive, 1);
        EXPECT_EQ(GetRegister(v.block.get(), kRegStatus) & kStatusPumpStateMask, 12);
        // Register 255 holds 1, stored without a notification.
        EXPECT_EQ(GetRegister(v.block.get(), kRegNotify), 1);
        // Every block is read and written at the stream's length.
        const size_t out = v.lineOut.size();
        v.Blocks(5);
        EXPECT_EQ(v.lineOut.size() - out, 5u * c.block);
    }
}

// Outside detector mode 2 the start waits: sub-code 9 of 0x95, or the switch to detector mode 2, enters
// voice. Voice entered that way reports digits too.
TEST(VoiceMode, PendingStartIsEnteredLater)
{
    {
        VoiceBench v;
        v.Send(IcdStartVoice, {2, 0, 0, 0});
        EXPECT_EQ(v.context->command.voiceActive, 0);
        EXPECT_TRUE(v.formats.empty());
        const std::vector<Bytes> r = v.Send(IcdVoiceMode, {9});
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0], Bytes({IcdAck, 0, 1, 0, IcdVoiceMode}));
        EXPECT_EQ(v.context->command.voiceActive, 1);
        EXPECT_EQ(v.formats.back().rate, 8000);
        EXPECT_EQ(v.context->voice.subMode, 2);
        EXPECT_EQ(v.context->voice.dtmf.filterCount, 8);
    }
    {
        VoiceBench v;
        v.Send(IcdStartVoice, {3, 0, 1, 0});
        EXPECT_EQ(v.context->command.voiceActive, 0);
        v.Send(IcdConfigDetectors, {2, 0});
        EXPECT_EQ(v.context->command.voiceActive, 1);
        EXPECT_EQ(v.context->voice.subMode, 1);
    }
}

TEST(VoiceMode, SubCodesSelectTheSubMode)
{
    struct Case {
        uint8_t subCode;
        int32_t subMode;  // -1: voice ends
    };
    const Case cases[] = {{0, 2}, {1, -1}, {2, 1}, {3, 0}, {4, 1}, {5, 0}, {6, 3}, {7, 4}, {8, 4}, {9, 2}, {10, 5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.subCode));
        VoiceBench v;
        v.StartVoice(3, 0, 5);
        const std::vector<Bytes> r = v.Send(IcdVoiceMode, {c.subCode});
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0], Bytes({IcdAck, 0, 1, 0, IcdVoiceMode}));
        if (c.subMode < 0) {
            EXPECT_EQ(v.context->command.voiceActive, 0);
            EXPECT_EQ(v.formats.back().rate, 9600);
            continue;
        }
        EXPECT_EQ(v.context->command.voiceActive, 1);
        EXPECT_EQ(v.context->voice.txSeq.position, c.subMode);
        EXPECT_EQ(v.context->voice.rxSeq.position, c.subMode);
    }
    // Outside voice mode the command is echoed.
    VoiceBench v;
    const std::vector<Bytes> r = v.Send(IcdVoiceMode, {0});
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0][0], IcdVoiceMode);
}

// Played bytes are decoded in order, one voice block a block; too few bytes play silence and stay staged.
TEST(VoiceMode, PlayTakesWholeBlocksAndKeepsTheRest)
{
    VoiceBench v;
    v.StartVoice(2, 2, 0);  // 8000 Hz, offset binary, play
    for (int i = 0; i < 50; ++i)
        v.toPlay.push_back(static_cast<uint8_t>(i + 1));
    size_t out = v.lineOut.size();
    v.Blocks(2);
    ASSERT_EQ(v.lineOut.size() - out, 160u);
    for (size_t i = out; i < v.lineOut.size(); ++i)
        ASSERT_EQ(v.lineOut[i], 0);
    EXPECT_EQ(v.context->voice.txQueue.count, 50u);
    for (int i = 50; i < 96; ++i)
        v.toPlay.push_back(static_cast<uint8_t>(i + 1));
    out = v.lineOut.size();
    v.Block();
    ASSERT_EQ(v.lineOut.size() - out, 80u);
    for (int i = 0; i < 80; ++i)
        ASSERT_EQ(v.lineOut[out + static_cast<size_t>(i)], (i + 1 - 128) * 256) << i;
    EXPECT_EQ(v.context->voice.txQueue.count, 16u);
}

// A long stream plays without loss or repetition at every rate code: N bytes a block, in order.
TEST(VoiceMode, PlayStreamsEveryByteOnceAtEveryRate)
{
    for (const RateCase& c : kRates) {
        SCOPED_TRACE(c.code);
        VoiceBench v;
        v.StartVoice(c.code, 2, 0);
        const size_t total = static_cast<size_t>(c.voiceBlock) * 40;
        for (size_t i = 0; i < total; ++i)
            v.toPlay.push_back(static_cast<uint8_t>(i * 7));
        const size_t out = v.lineOut.size();
        v.Blocks(45);
        EXPECT_TRUE(v.toPlay.empty());
        EXPECT_EQ(v.context->voice.txQueue.count, 0u);
        if (c.code == 4)
            continue;  // resampled: the sample values are checked by the two-pump test
        std::vector<int16_t> played(v.lineOut.begin() + static_cast<long>(out), v.lineOut.end());
        // Silence until the first whole block has arrived, then every byte in order.
        size_t first = 0;
        while (first < played.size() && played[first] == 0 && first % c.block == 0 &&
               std::all_of(played.begin() + static_cast<long>(first),
                           played.begin() + static_cast<long>(first + c.block), [](int16_t s) { return s == 0; }))
            first += c.block;
        ASSERT_LE(first, 2u * c.block);
        for (size_t i = 0; i < total; ++i)
            ASSERT_EQ(played[first + i], (static_cast<int>(static_cast<uint8_t>(i * 7)) - 128) * 256) << i;
    }
}

// Recorded samples arrive in order, B bytes a block (109 or 110 at rate code 4) in chunks of 30.
TEST(VoiceMode, RecordPostsEveryBlockInChunksOf30)
{
    struct Case {
        uint8_t code;
        std::vector<int> chunks;  // of the first blocks
    };
    const Case cases[] = {
        {0, {30, 18, 30, 18}},
        {1, {30, 30, 12, 30, 30, 12}},
        {2, {30, 30, 20, 30, 30, 20}},
        {3, {30, 30, 30, 6}},
        {4, {30, 30, 30, 20, 30, 30, 30, 20, 30, 30, 30, 20, 30, 30, 30, 19}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.code));
        VoiceBench v;
        v.StartVoice(c.code, 1, 3);  // identity coding, encode only
        for (int i = 0; i < 96 * 40; ++i)
            v.lineIn.push_back(static_cast<int16_t>(0x100 * (i % 3) + (i & 0xFF)));
        v.Blocks(4);
        ASSERT_GE(v.chunkSizes.size(), c.chunks.size());
        EXPECT_EQ(std::vector<int>(v.chunkSizes.begin(), v.chunkSizes.begin() + static_cast<long>(c.chunks.size())),
                  c.chunks);
        if (c.code == 4) {
            EXPECT_EQ(v.recorded.size(), 110u + 110 + 110 + 109);
            continue;
        }
        const size_t b = kRates[c.code].block;
        ASSERT_EQ(v.recorded.size(), 4 * b);
        for (size_t i = 0; i < v.recorded.size(); ++i)
            ASSERT_EQ(v.recorded[i], i & 0xFF) << i;
    }
}

// A controller that leaves the receive mailbox full for a while loses nothing: the bytes wait and arrive in
// order once it reads again.
TEST(VoiceMode, RecordedBytesWaitForABusyMailbox)
{
    VoiceBench v;
    v.StartVoice(2, 1, 1);
    for (int i = 0; i < 80 * 40; ++i)
        v.lineIn.push_back(static_cast<int16_t>(i & 0xFF));
    v.holdRx = true;
    v.Blocks(15);
    EXPECT_EQ(v.context->voice.rxQueue.count, 15u * 80 - 30);
    // The controller catches up with the chunk it left; each later chunk follows as it takes the last one.
    v.holdRx = false;
    v.ServeRx();
    v.Blocks(5);
    ASSERT_EQ(v.recorded.size(), 20u * 80);
    for (size_t i = 0; i < v.recorded.size(); ++i)
        ASSERT_EQ(v.recorded[i], i & 0xFF) << i;
    EXPECT_EQ(v.context->voice.rxOverruns, 0u);
}

// Silence: every block below the threshold + 3 counts; the silence time x 10 blocks make a period, 'q' for
// the first and 's' for each further one; a louder block starts again; 0x96 sets enable and time.
TEST(VoiceMode, SilenceReportsAfterTheSilenceTime)
{
    struct Case {
        const char* name;
        Bytes params;         // 0x96 payload, empty for the defaults
        int loudAt;           // block with a loud burst, -1 none
        int blocks;
        std::string chars;
        std::vector<uint64_t> at;  // blocks after the start
    };
    const Case cases[] = {
        {"defaults", {}, -1, 1060, "qss", {350, 700, 1050}},
        {"0.5 s", {1, 5}, -1, 160, "qss", {50, 100, 150}},
        {"loud block restarts", {1, 5}, 30, 100, "q", {81}},  // block 31 after the start is the loud one
        {"disabled", {0, 5}, -1, 200, "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VoiceBench v;
        if (!c.params.empty())
            v.Send(IcdSetVoiceParams, c.params);
        v.StartVoice(3, 0, 2);
        const uint64_t start = v.blocksRead;
        for (int b = 0; b < c.blocks; ++b) {
            for (int i = 0; i < 96; ++i) {
                const double loud = (b == c.loudAt) ? 8000.0 * std::sin(2 * kPi * 400.0 * i / 9600.0) : 0.0;
                v.lineIn.push_back(static_cast<int16_t>(loud + ((i * 37) % 5) - 2));
            }
        }
        v.Blocks(c.blocks);
        EXPECT_EQ(v.EventChars(), c.chars);
        std::vector<uint64_t> at;
        for (uint64_t e : v.EventBlocks())
            at.push_back(e - start);
        EXPECT_EQ(at, c.at);
    }
}

// 1100 Hz on the line while recording is reported once as 'N'.
TEST(VoiceMode, CallingToneReportedOnce)
{
    for (uint8_t rate : {0, 3}) {
        SCOPED_TRACE(static_cast<int>(rate));
        VoiceBench v;
        v.StartVoice(rate, 0, 1);
        const double fs = rate == 0 ? 4800.0 : 9600.0;
        for (int i = 0; i < static_cast<int>(fs) * 2; ++i)
            v.lineIn.push_back(static_cast<int16_t>(6000.0 * std::sin(2 * kPi * 1100.0 * i / fs)));
        v.Blocks(200);
        EXPECT_EQ(v.EventChars(), "N");
    }
}

// With the call-progress detector on (detector mode 1), a busy cadence heard during voice is reported as
// 'b', once while it holds.
TEST(VoiceMode, BusyCadenceDuringVoice)
{
    VoiceBench v;
    v.StartVoice(2, 0, 0);
    v.Send(IcdConfigDetectors, {1, 0});
    ASSERT_EQ(v.context->command.voiceActive, 1);
    for (int i = 0; i < 8000 * 5; ++i) {
        const bool on = (i / 4000) % 2 == 0;
        const double t = i / 8000.0;
        const double s = on ? 4000.0 * (std::sin(2 * kPi * 480.0 * t) + std::sin(2 * kPi * 620.0 * t)) : 0.0;
        v.lineIn.push_back(static_cast<int16_t>(s));
    }
    v.Blocks(500);
    EXPECT_EQ(v.EventChars(), "b");
}

// Line control 0x9C: the two 2-bit gain fields go to the sample-stream driver unless masked.
TEST(VoiceMode, LineControlSendsTheGainFields)
{
    struct Case {
        Bytes payload;
        std::vector<std::vector<uint32_t>> calls;
    };
    const Case cases[] = {
        {{0, 0, 0, 0x0E, 0}, {{4, 2, 0}, {3, 3, 0}}},
        {{0, 0x03, 0, 0x0E, 0}, {{3, 3, 0}}},
        {{0, 0x0C, 0, 0x0E, 0}, {{4, 2, 0}}},
        {{0, 0, 0, 18, 0}, {}},         // the hook pair only
        {{0, 0, 0, 0x0E, 1}, {}},       // another line index: kept only
    };
    for (const Case& c : cases) {
        VoiceBench v;
        const std::vector<Bytes> r = v.Send(IcdSetLineControl, c.payload);
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0], Bytes({IcdAck, 0, 1, 0, IcdSetLineControl}));
        EXPECT_EQ(v.gainCalls, c.calls);
    }
}

}  // namespace
