// The fax pumps in the data pump: command 0x73 chooses the modulation, the direction and the lists; the
// V.17 short-training requests of a device train long on the first and every eleventh; two pumps carry
// data from one's transmit mailbox to the other's receive mailbox; release of hold restarts the transmitter.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>

#include "dsp_fixture.h"
#include "pump_chunks.h"

using dsptest::BlockRunner;

namespace {

struct StartCase {
    uint8_t data0;
    uint8_t data1;
    int32_t code;     // -1: nothing runs
    bool receive;
};

TEST(FaxPump, StartCommandChoosesModulationRateAndDirection)
{
    const StartCase cases[] = {
        {0xA4, 0x00, 0x01, false},  // V.27ter 2400
        {0xA5, 0x04, 0x00, true},   // V.27ter 4800, receive
        {0xB5, 0x00, 0x12, false},  // V.29 4800
        {0xB6, 0x04, 0x11, true},   // V.29 7200
        {0xB7, 0x80, 0x10, false},  // V.29 9600 (bit 7 kept as a flag)
        {0xE8, 0x00, 0x21, false},  // V.17 long training at 12000
        {0xE6, 0x04, 0x23, true},   // V.17 7200
        {0xD9, 0x04, 0x28, true},   // V.17 short training at 14400
        {0x55, 0x00, -1, false},    // no fax modulation: both directions idle
    };
    for (const StartCase& c : cases) {
        BlockRunner r;
        const std::vector<uint8_t> reply = r.bench.Reply(0x73, {c.data0, c.data1});
        EXPECT_EQ(r.ctx->fax.code, c.code) << std::hex << int(c.data0);
        EXPECT_EQ(r.ctx->faxFlags[1], c.data1 >> 7);
        const bool txRuns = r.ctx->seqA.list != kIdleListA;
        const bool rxRuns = r.ctx->seqB.list != kIdleListB;
        EXPECT_EQ(txRuns, c.code >= 0 && !c.receive) << std::hex << int(c.data0);
        EXPECT_EQ(rxRuns, c.code >= 0 && c.receive) << std::hex << int(c.data0);
        // Acknowledged; the pump state is 0 with the data bit clear, the transmitter may go.
        ASSERT_GE(reply.size(), 5u);
        EXPECT_EQ(reply[0], 0xC0);
        EXPECT_EQ(reply[4], 0x73);
        EXPECT_EQ(r.bench.Reg(kRegStatus) & 0x1F, 0);
        EXPECT_EQ(r.ctx->command.hold, 1);
    }
}

// Every eleventh short-training request of a device trains long, the first included; the count is the
// device's own.
TEST(FaxPump, ShortTrainingRequestsTrainLongOnTheFirstAndEveryEleventh)
{
    BlockRunner a;
    BlockRunner b;
    std::vector<int> longs;
    for (int request = 1; request <= 23; ++request) {
        a.bench.Send(0x73, {0xD8, 0x00});
        // Through the first silence: the choice is made on its last symbol.
        for (int blk = 0; blk < 20; ++blk)
            a.Block(nullptr);
        if ((a.ctx->fax.tx.code & kFaxShortTrainBit) == 0)
            longs.push_back(request);
    }
    EXPECT_EQ(longs, (std::vector<int>{1, 12, 23}));
    b.bench.Send(0x73, {0xD8, 0x00});
    for (int blk = 0; blk < 20; ++blk)
        b.Block(nullptr);
    EXPECT_EQ(b.ctx->fax.tx.code & kFaxShortTrainBit, 0) << "the other device's first request trains long";
}

// Bits of the received bytes, least significant first.
std::vector<uint8_t> BitsOf(const std::vector<uint8_t>& bytes)
{
    std::vector<uint8_t> bits;
    for (uint8_t b : bytes)
        for (int k = 0; k < 8; ++k)
            bits.push_back(static_cast<uint8_t>((b >> k) & 1));
    return bits;
}

TEST(FaxPump, TwoPumpsCarryDataFromMailboxToMailbox)
{
    const uint8_t modes[] = {0xA5, 0xB7, 0xE9, 0xE6};
    for (uint8_t mode : modes) {
        BlockRunner tx;
        BlockRunner rx;
        tx.bench.Send(0x73, {mode, 0x00});
        rx.bench.Send(0x73, {mode, 0x04});
        std::mt19937 rng(mode);
        std::vector<uint8_t> sent(2000);
        for (uint8_t& v : sent)
            v = static_cast<uint8_t>(rng());
        tx.link.toSend.assign(sent.begin(), sent.end());
        std::vector<int16_t> line(96, 0);
        bool reported = false;
        for (int blk = 0; blk < 800; ++blk) {
            const std::vector<int16_t> out = tx.Block(nullptr);
            rx.Block(out.data());
            reported = reported || (rx.bench.Reg(kRegStatus) & 0x1F) == 0x18;
        }
        EXPECT_TRUE(reported) << std::hex << int(mode) << ": state 8 with the data bit";
        const std::vector<uint8_t> got = BitsOf(rx.link.received);
        const std::vector<uint8_t> want = BitsOf(sent);
        // The receiver's bytes start anywhere in the bit stream: find the data, then compare it all.
        size_t at = 0;
        bool found = false;
        for (; at + want.size() <= got.size() && !found; ++at)
            found = std::equal(want.begin(), want.begin() + 64, got.begin() + static_cast<long>(at));
        ASSERT_TRUE(found) << std::hex << int(mode);
        EXPECT_TRUE(std::equal(want.begin(), want.end(), got.begin() + static_cast<long>(at - 1))) << std::hex << int(mode);
    }
}

// Release of hold (0x74) ends the transmission and sends silence until hold (0x75) is set again.
TEST(FaxPump, ReleaseOfHoldSilencesTheTransmitterUntilHoldReturns)
{
    BlockRunner r;
    r.bench.Send(0x73, {0xB7, 0x00});
    for (int blk = 0; blk < 60; ++blk)
        r.Block(nullptr);
    r.bench.Send(0x74, {});
    r.Block(nullptr);  // the shaping filter's tail
    int peak = 0;
    for (int blk = 0; blk < 30; ++blk)
        for (int16_t v : r.Block(nullptr))
            peak = std::max(peak, std::abs(static_cast<int>(v)));
    EXPECT_EQ(peak, 0);
    r.bench.Send(0x75, {});
    peak = 0;
    for (int blk = 0; blk < 30; ++blk)
        for (int16_t v : r.Block(nullptr))
            peak = std::max(peak, std::abs(static_cast<int>(v)));
    EXPECT_GT(peak, 1000);
}

}  // namespace
