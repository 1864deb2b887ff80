// The start-up path of a connection's set-up: the block sent once or over and over (a waiting copy withdrawn
// when the block changes), and the receiver that accepts a message only when two copies in a row agree,
// counts call indicators and, when told to, the far end's closing zero octets.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "layer2/line_block_fixture.h"
#include "layer2/corecode/dce/line_block.h"

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kMenu = {0xE0, 0xC1, 0x05, 0x12, 0x94, 0x2A, 0x0D};

Bytes Copies(const Bytes& message, int n)
{
    Bytes out;
    for (int i = 0; i < n; ++i)
        out.insert(out.end(), message.begin(), message.end());
    return out;
}

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

class LineStartupTest : public linetest::LineBlockTest {
protected:
    void SetUp() override
    {
        LineBlockTest::SetUp();
        lb_startup_begin(&lb);
    }

    // Posts the bytes in chunks of `chunk`, the service taking each.
    void Receive(const Bytes& bytes, size_t chunk = 32)
    {
        for (size_t at = 0; at < bytes.size(); at += chunk) {
            const size_t n = std::min(chunk, bytes.size() - at);
            ASSERT_TRUE(pump.Post(Bytes(bytes.begin() + at, bytes.begin() + at + n), 0));
            lb_service(&lb);
        }
    }

    Bytes Message()
    {
        uint8_t out[LINE_STARTUP_MESSAGE_MAX + 1];
        const uint8_t n = lb_rx_msg_get(&lb, out);
        return Bytes(out, out + n);
    }

    // The chunks the data pump takes, up to `limit`, with the service run after each as its notification does.
    std::vector<Bytes> Take(int limit)
    {
        std::vector<Bytes> chunks;
        Bytes bytes;
        uint8_t flags = 0;
        for (int i = 0; i < limit && pump.Take(&bytes, &flags); ++i) {
            EXPECT_EQ(flags, 0);
            chunks.push_back(bytes);
            lb_service(&lb);
        }
        return chunks;
    }
};

TEST_F(LineStartupTest, TheBlockGoesOnceOrOverAndOver)
{
    EXPECT_TRUE(packets.empty()) << "the set-up procedure keeps the framing it chose";
    const Bytes menu = Join({{0xFF}, kMenu});
    ASSERT_TRUE(lb_send_block(&lb, menu.data(), static_cast<uint8_t>(menu.size()), true));
    EXPECT_EQ(Take(5), std::vector<Bytes>(5, menu));
    // A new block withdraws the copy waiting in the chunk and goes next, once.
    const Bytes zeros = {0, 0, 0};
    ASSERT_TRUE(lb_send_block(&lb, zeros.data(), 3, false));
    EXPECT_EQ(Take(5), std::vector<Bytes>{zeros});
    ASSERT_TRUE(lb_send_block(&lb, menu.data(), static_cast<uint8_t>(menu.size()), true));
    lb_send_block_clear(&lb);
    lb_tx_chunk_forget(&lb);
    lb_service(&lb);
    EXPECT_TRUE(Take(5).empty());
    const Bytes big(33, 0x55);
    EXPECT_FALSE(lb_send_block(&lb, big.data(), 33, false));
    EXPECT_TRUE(Take(5).empty());
}

TEST_F(LineStartupTest, AnotherPathEndsTheStartUpPath)
{
    lb_service_stop(&lb);
    EXPECT_EQ(lb.active.load(), 1) << "the set-up runs on while other users of the line stop";
    ASSERT_TRUE(lb_send_block(&lb, kMenu.data(), static_cast<uint8_t>(kMenu.size()), true));
    Take(1);
    lb_set_mode(&lb, LINE_MODE_PLAIN);
    Bytes bytes;
    uint8_t flags = 0;
    pump.Take(&bytes, &flags);  // a copy written before the switch
    lb_service(&lb);
    EXPECT_FALSE(pump.Take(&bytes, &flags)) << "no copy after the switch";
    Receive(Copies(kMenu, 3));
    EXPECT_TRUE(Message().empty());
    EXPECT_EQ(lb_rx_count(&lb), 21) << "the plain path has the bytes";
}

TEST_F(LineStartupTest, AMessageCountsWhenTwoCopiesInARowAgree)
{
    Bytes damaged = kMenu;
    damaged[3] = 0x13;
    Bytes shortened = kMenu;
    shortened.erase(shortened.begin() + 4);
    const struct {
        const char* name;
        Bytes stream;
        Bytes expect;
    } cases[] = {
        {"two copies and the next start", Copies(kMenu, 3), kMenu},
        {"noise before the first start", Join({{0x55, 0x12, 0x33}, Copies(kMenu, 3)}), kMenu},
        {"two copies without the start that ends the second", Copies(kMenu, 2), {}},
        {"a damaged copy first", Join({damaged, Copies(kMenu, 3)}), kMenu},
        {"a damaged second copy", Join({kMenu, damaged, Copies(kMenu, 3)}), kMenu},
        {"a copy that lost an octet", Join({kMenu, shortened, Copies(kMenu, 3)}), kMenu},
        {"a copy with an octet too many", Join({kMenu, Join({kMenu, {0x33}}), Copies(kMenu, 3)}), kMenu},
        {"messages too short to count", Copies({0xE0, 0xC1}, 6), {}},
        {"an overlong message, then menus", Join({{0xE0}, Bytes(40, 0x21), Copies(kMenu, 3)}), kMenu},
    };
    for (const auto& c : cases) {
        for (size_t chunk : {size_t{1}, size_t{5}, size_t{32}}) {
            SCOPED_TRACE(std::string(c.name) + " in chunks of " + std::to_string(chunk));
            lb_rx_msg_reset(&lb);
            Receive(c.stream, chunk);
            EXPECT_EQ(Message(), c.expect);
        }
    }
}

TEST_F(LineStartupTest, AnAcceptedMessageStaysUntilTheReceiverIsReset)
{
    Bytes other = kMenu;
    other[2] = 0x05;
    Receive(Copies(kMenu, 3));
    Receive(Copies(other, 4));
    EXPECT_EQ(Message(), kMenu);
    lb_rx_msg_reset(&lb);
    EXPECT_TRUE(Message().empty());
    Receive(Copies(other, 3));
    EXPECT_EQ(Message(), other);
}

TEST_F(LineStartupTest, CallIndicatorsAndClosingZeros)
{
    // A zero octet, then a call-function octet: one call indicator. Anything else between them: none.
    Receive(Join({Copies({0x00, 0xC1}, 3), {0x00, 0x05, 0xC1, 0x00, 0x00, 0x21}}));
    EXPECT_EQ(lb_rx_msg_indicators(&lb), 4);
    lb_rx_msg_clear_indicators(&lb);
    EXPECT_EQ(lb_rx_msg_indicators(&lb), 0);
    EXPECT_EQ(lb_rx_msg_zeros(&lb), 0) << "zeros count only when asked for";
    // The closing zeros count only in a row.
    lb_rx_msg_count_zeros(&lb);
    Receive({0x00, 0x00, 0xE0, 0x00, 0x00});
    EXPECT_EQ(lb_rx_msg_zeros(&lb), 2);
    Receive({0x00, 0x00, 0x00});
    EXPECT_EQ(lb_rx_msg_zeros(&lb), 3);
    EXPECT_TRUE(Message().empty());
    lb_rx_msg_reset(&lb);
    EXPECT_EQ(lb_rx_msg_zeros(&lb), 0);
}

// Random bytes and chunk counts: the receiver never keeps more than a message's room, and every message it
// accepts is one that arrived twice in a row.
TEST_F(LineStartupTest, RandomBytesNeverOverrunTheMessage)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 300; ++round) {
        lb_rx_msg_reset(&lb);
        Bytes stream;
        const int n = static_cast<int>(rng() % 400);
        for (int i = 0; i < n; ++i) {
            const uint32_t r = rng();
            stream.push_back((r & 7) == 0 ? 0xE0 : static_cast<uint8_t>(r >> 8));
        }
        Receive(stream, 1 + rng() % 32);
        const Bytes m = Message();
        ASSERT_LE(m.size(), LINE_STARTUP_MESSAGE_MAX);
        if (!m.empty()) {
            const Bytes twice = Join({m, m, {0xE0}});
            EXPECT_NE(std::search(stream.begin(), stream.end(), twice.begin(), twice.end()), stream.end());
        }
    }
}

}  // namespace
