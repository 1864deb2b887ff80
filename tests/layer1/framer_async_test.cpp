// Asynchronous and synchronous framing: characters, break, mark idle, the type-6 sync pattern, receive
// chunking and the transmit-data-wanted bit.
#include <gtest/gtest.h>

#include <random>

#include "tests/layer1/framer_fixture.h"

namespace {

#ifdef MODEM_UNDER_SANITIZER
constexpr int kRoundTripChars = 10000;
#else
constexpr int kRoundTripChars = 100000;
#endif

std::vector<int> Character(uint8_t c)
{
    std::vector<int> bits{0};
    AppendByteBits(&bits, c, 8);
    bits.push_back(1);
    return bits;
}

TEST(FramerAsyncTransmit, CharactersAreStartDataStop)
{
    FramerBench b(0);
    b.mailbox.Write({0x41, 0x00}, 0);
    std::vector<int> expected = Character(0x41);
    const std::vector<int> second = Character(0x00);
    expected.insert(expected.end(), second.begin(), second.end());
    expected.insert(expected.end(), {1, 1, 1, 1});  // mark when empty
    EXPECT_EQ(b.GetBits(24), expected);
}

TEST(FramerAsyncReceive, TwoZeroCharactersGiveBreakThenOneBitEndsIt)
{
    FramerBench b(0);
    b.PutBits({1, 1, 1});
    b.PutBits(std::vector<int>(20, 0));  // two all-zero characters without stop bits
    b.Drain();
    ASSERT_FALSE(b.mailbox.rx.empty());
    EXPECT_EQ(b.mailbox.rx.back().flags, kRxBreak);
    b.PutBits(std::vector<int>(15, 0));
    b.PutBits({1});
    b.PutBits(std::vector<int>(11, 1));
    b.Drain();
    EXPECT_EQ(b.mailbox.rx.back().flags, kRxBreakEnd);
    EXPECT_TRUE(b.mailbox.rx.back().bytes.empty());
    // Characters are received again after the break.
    b.PutBits(Character(0x5A));
    b.PutBits(std::vector<int>(12, 1));
    b.Drain();
    EXPECT_EQ(b.mailbox.rx.back().bytes, (std::vector<uint8_t>{0x5A}));
    // A second break is seen as well.
    b.PutBits(std::vector<int>(22, 0));
    b.PutBits(std::vector<int>(12, 1));
    b.Drain();
    int breaks = 0;
    for (const auto& c : b.mailbox.rx)
        breaks += c.flags == kRxBreak;
    EXPECT_EQ(breaks, 2);
}

TEST(FramerAsyncTransmit, BreakFlagSendsABreakTheReceiverReports)
{
    FramerBench b(0);
    b.mailbox.Write({0x41}, kTxBreak);
    b.mailbox.Write({0x42}, 0);
    const std::vector<int> bits = b.GetBits(160);
    FramerBench rx(0);
    rx.PutBits(bits);
    rx.Drain();
    std::vector<uint16_t> entries;
    for (const auto& c : rx.mailbox.rx) {
        for (uint8_t x : c.bytes)
            entries.push_back(x);
        if (c.flags != 0)
            entries.push_back(static_cast<uint16_t>(c.flags << 8));
    }
    EXPECT_EQ(entries, (std::vector<uint16_t>{0x41, 0x00, kRxBreak << 8, kRxBreakEnd << 8, 0x42}));
}

TEST(FramerAsyncTransmit, MarkIdleTypeReturnsMinusOneWhenEmpty)
{
    FramerBench b(5);
    EXPECT_EQ(FramerGetTxBits(&b.framer, 8), -1);
    b.mailbox.Write({0xFF, 0x00}, 0);
    EXPECT_EQ(FramerGetTxBits(&b.framer, 10), 0x3FF);     // 0xFF as ten ones
    EXPECT_EQ(FramerGetTxBits(&b.framer, 10), 0x200);     // start, eight zeros, stop
    EXPECT_EQ(FramerGetTxBits(&b.framer, 4), -1);
}

TEST(FramerTransmit, EmptyFifoAsksForDataOncePerCallUntilAChunkArrives)
{
    FramerBench b(0);
    for (int i = 0; i < 3; ++i)
        FramerGetTxBits(&b.framer, 8);
    EXPECT_EQ(b.mailbox.wantedSets, 3);
    EXPECT_TRUE(b.mailbox.wanted);
    b.mailbox.Write({1, 2}, 0);
    FramerGetTxBits(&b.framer, 8);
    EXPECT_EQ(b.mailbox.wantedClears, 1);
    EXPECT_FALSE(b.mailbox.wanted);
}

TEST(FramerReceive, ChunksHoldAtMost32BytesAndEndAtAStatus)
{
    FramerBench b(1);
    b.mailbox.rxBusy = true;
    for (int i = 0; i < 100; ++i)
        b.PutBits([&] { std::vector<int> v; AppendByteBits(&v, static_cast<uint32_t>(i), 8); return v; }());
    RxFifoPush(&b.framer, kRxAbort << 8);
    RxFifoPush(&b.framer, kRxBadFrame << 8);
    b.mailbox.rxBusy = false;
    b.Drain();
    ASSERT_EQ(b.mailbox.rx.size(), 5u);
    EXPECT_EQ(b.mailbox.rx[0].bytes.size(), 32u);
    EXPECT_EQ(b.mailbox.rx[1].bytes.size(), 32u);
    EXPECT_EQ(b.mailbox.rx[2].bytes.size(), 32u);
    EXPECT_EQ(b.mailbox.rx[3].bytes.size(), 4u);
    EXPECT_EQ(b.mailbox.rx[3].flags, kRxAbort);
    EXPECT_EQ(b.mailbox.rx[4].bytes.size(), 0u);
    EXPECT_EQ(b.mailbox.rx[4].flags, kRxBadFrame);
    EXPECT_EQ(b.mailbox.rx[3].bytes[3], 99);
}

TEST(FramerReceive, SyncPatternStartsTypeSixBytes)
{
    FramerBench b(6);
    std::vector<int> bits(20, 1);
    bits.insert(bits.end(), {0, 1});
    AppendByteBits(&bits, 0x21F, 12);
    AppendByteBits(&bits, 0xA5, 8);
    AppendByteBits(&bits, 0x3C, 8);
    b.PutBits(bits);
    b.Drain();
    std::vector<uint8_t> got;
    for (const auto& c : b.mailbox.rx)
        got.insert(got.end(), c.bytes.begin(), c.bytes.end());
    EXPECT_EQ(got, (std::vector<uint8_t>{0x21, 0xA5, 0x3C}));
}

TEST(FramerSync, BytesRoundTripAndIdleIsOnes)
{
    FramerBench b(1);
    b.mailbox.Write({0x00, 0xFF, 0x81}, 0);
    std::vector<int> expected;
    AppendByteBits(&expected, 0x81FF00, 24);
    expected.insert(expected.end(), {1, 1, 1, 1});
    EXPECT_EQ(b.GetBits(28), expected);
}

TEST(FramerAsyncRoundTrip, RandomCharactersAndGroupingsAreByteIdentical)
{
    std::mt19937 rng(4242);
    FramerBench tx(0);
    FramerBench rx(0);
    std::vector<uint8_t> sent;
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> chunk(1, 32);
    std::uniform_int_distribution<int> group(1, 16);
    while (static_cast<int>(sent.size()) < kRoundTripChars) {
        std::vector<uint8_t> data(static_cast<size_t>(chunk(rng)));
        for (auto& d : data)
            d = static_cast<uint8_t>(byte(rng));
        sent.insert(sent.end(), data.begin(), data.end());
        // Some chunks end with an idle request: mark until the end of that call.
        tx.mailbox.Write(data, byte(rng) < 32 ? kTxIdle : 0);
    }
    std::vector<uint8_t> got;
    int tail = 0;
    while (tail < 64) {
        if (tx.mailbox.tx.empty() && tx.framer.tx.fifo.count == 0 && tx.framer.tx.count == 0)
            tail += 16;
        const int n = group(rng);
        const uint32_t bits = static_cast<uint32_t>(FramerGetTxBits(&tx.framer, n));
        const int split = std::uniform_int_distribution<int>(0, n)(rng);
        if (split > 0)
            FramerPutRxBits(&rx.framer, bits, split);
        if (n - split > 0)
            FramerPutRxBits(&rx.framer, bits >> split, n - split);
        FramerPostRxBytes(&rx.framer);
        for (const auto& c : rx.mailbox.rx) {
            EXPECT_EQ(c.flags, 0);
            got.insert(got.end(), c.bytes.begin(), c.bytes.end());
        }
        rx.mailbox.rx.clear();
    }
    ASSERT_EQ(got.size(), sent.size());
    EXPECT_TRUE(got == sent);
}

}  // namespace
