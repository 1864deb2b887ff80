// HDLC framing: tables, FCS-16, bit-exact line vectors, receive statuses, and transmit -> receive round
// trips with random groupings and injected bit errors.
#include <gtest/gtest.h>

#include <random>

#include "tests/layer1/framer_fixture.h"

namespace {

#ifdef MODEM_UNDER_SANITIZER
constexpr int kRoundTripFrames = 3000;
#else
constexpr int kRoundTripFrames = 100000;
#endif

TEST(FramerTables, MatchPrintedValues)
{
    FramerTables t{};
    BuildFramerTables(&t);
    const uint16_t low[16] = {0x0000, 0x1189, 0x2312, 0x329B, 0x4624, 0x57AD, 0x6536, 0x74BF,
                              0x8C48, 0x9DC1, 0xAF5A, 0xBED3, 0xCA6C, 0xDBE5, 0xE97E, 0xF8F7};
    for (int k = 0; k < 16; ++k) {
        EXPECT_EQ(t.crcLow[k], low[k]) << k;
        EXPECT_EQ(t.crcHigh[k], k * 0x1081) << k;
    }
    EXPECT_EQ(t.mask[0], 0u);
    EXPECT_EQ(t.mask[5], 31u);
    EXPECT_EQ(t.mask[32], 0xFFFFFFFFu);
    // 0b10111: three ones from bit 0, one from bit 4; 0b11111: five both ways; 0b01110: none and none.
    EXPECT_EQ(t.onesAtStart[0x17], 3);
    EXPECT_EQ(t.onesAtEnd[0x17], 1);
    EXPECT_EQ(t.onesAtStart[0x1F], 5);
    EXPECT_EQ(t.onesAtEnd[0x1F], 5);
    EXPECT_EQ(t.onesAtStart[0x0E], 0);
    EXPECT_EQ(t.onesAtEnd[0x0E], 0);
    EXPECT_EQ(t.onesAtEnd[0x18], 2);
}

TEST(FramerFcs, CheckValueAndGoodResidue)
{
    // The FCS-16 of the nine characters "123456789" is 0x906E; a frame followed by its FCS leaves 0xF0B8.
    const std::vector<uint8_t> check = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    ASSERT_EQ(ReferenceFcs(check), 0x906E);
    FramerTables t{};
    BuildFramerTables(&t);
    uint16_t fcs = 0xFFFF;
    for (uint8_t b : check)
        fcs = FramerFcsUpdate(&t, fcs, b);
    EXPECT_EQ(static_cast<uint16_t>(~fcs), 0x906E);
    fcs = FramerFcsUpdate(&t, fcs, 0x6E);
    fcs = FramerFcsUpdate(&t, fcs, 0x90);
    EXPECT_EQ(fcs, 0xF0B8);
}

// The line bits after the opening flag for one frame, checked against a bit-by-bit reference.
std::vector<int> TransmitFrame(FramerBench* b, const std::vector<uint8_t>& data, int bitCount)
{
    b->mailbox.Write(data, kTxEndOfFrame);
    return b->GetBits(bitCount);
}

TEST(FramerHdlcTransmit, BitExactFrames)
{
    const std::vector<std::vector<uint8_t>> frames = {
        {0xFF},
        {'1', '2', '3', '4', '5', '6', '7', '8', '9'},
        {0x7E, 0x7E, 0xFF, 0xFF, 0x00, 0x3F, 0xF8},
        {0x03, 0x3F},  // a short command frame
    };
    for (const auto& data : frames) {
        FramerBench b(2);
        std::vector<int> expected;
        AppendByteBits(&expected, 0x7E, 8);  // opening flag
        const std::vector<int> frameBits = ReferenceFrameBits(data);
        expected.insert(expected.end(), frameBits.begin(), frameBits.end());
        AppendByteBits(&expected, 0x7E, 8);  // idle flag
        EXPECT_EQ(TransmitFrame(&b, data, static_cast<int>(expected.size())), expected);
    }
}

TEST(FramerHdlcTransmit, SingleFfByteIsStuffedAfterFiveOnes)
{
    FramerBench b(2);
    const std::vector<int> bits = TransmitFrame(&b, {0xFF}, 8 + 9);
    const std::vector<int> data(bits.begin() + 8, bits.end());
    EXPECT_EQ(data, (std::vector<int>{1, 1, 1, 1, 1, 0, 1, 1, 1}));
}

TEST(FramerHdlcReceive, SingleFfFrameGivesBytesFcsAndGoodStatus)
{
    FramerBench tx(2);
    const std::vector<int> bits = TransmitFrame(&tx, {0xFF}, 80);
    FramerBench rx(2);
    rx.PutBits(bits);
    rx.Drain();
    ASSERT_EQ(rx.mailbox.rx.size(), 1u);
    const uint16_t fcs = ReferenceFcs({0xFF});
    EXPECT_EQ(rx.mailbox.rx[0].bytes,
              (std::vector<uint8_t>{0xFF, static_cast<uint8_t>(fcs & 0xFF), static_cast<uint8_t>(fcs >> 8)}));
    EXPECT_EQ(rx.mailbox.rx[0].flags, kRxGoodFrame);
    EXPECT_GE(rx.framer.counters.flagsReceived, 2u);
}

TEST(FramerHdlcReceive, SevenOnesInsideAFrameAbort)
{
    FramerBench rx(2);
    std::vector<int> bits;
    AppendByteBits(&bits, 0x7E, 8);
    AppendByteBits(&bits, 0x7E, 8);
    AppendByteBits(&bits, 0x41, 8);
    AppendByteBits(&bits, 0x7F, 7);  // seven ones
    AppendByteBits(&bits, 0x7E, 8);
    rx.PutBits(bits);
    rx.Drain();
    ASSERT_FALSE(rx.mailbox.rx.empty());
    EXPECT_EQ(rx.mailbox.rx.back().flags, kRxAbort);
    EXPECT_EQ(rx.mailbox.rx.back().bytes, (std::vector<uint8_t>{0x41}));
}

TEST(FramerHdlcReceive, CorruptedFcsAndUnalignedFramesAreBad)
{
    std::vector<int> bits;
    AppendByteBits(&bits, 0x7E, 8);
    std::vector<int> frame = ReferenceFrameBits({0x10, 0x20, 0x30});
    frame[3] ^= 1;  // a data bit
    bits.insert(bits.end(), frame.begin(), frame.end());
    // A frame with a valid FCS but three extra bits before the closing flag.
    std::vector<int> odd = ReferenceFrameBits({0x55, 0x66});
    odd.insert(odd.end() - 8, {0, 1, 0});
    bits.insert(bits.end(), odd.begin(), odd.end());
    AppendByteBits(&bits, 0x7E7E, 16);
    FramerBench rx(2);
    rx.PutBits(bits);
    rx.Drain();
    ASSERT_EQ(rx.mailbox.rx.size(), 2u);
    EXPECT_EQ(rx.mailbox.rx[0].flags, kRxBadFrame);
    EXPECT_EQ(rx.mailbox.rx[1].flags, kRxBadFrame);
    EXPECT_EQ(rx.framer.counters.badFrames, 2u);
    EXPECT_EQ(rx.framer.counters.errorRuns, 1u);
}

TEST(FramerHdlcReceive, FrameThatLostBytesInAFullQueueIsBad)
{
    FramerBench rx(2);
    rx.mailbox.rxBusy = true;  // the controller takes nothing
    std::vector<uint8_t> data(200);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7 + 1);
    std::vector<int> bits;
    AppendByteBits(&bits, 0x7E, 8);
    const std::vector<int> frame = ReferenceFrameBits(data);
    bits.insert(bits.end(), frame.begin(), frame.end());
    AppendByteBits(&bits, 0x7E7E, 16);
    rx.PutBits(bits);
    rx.mailbox.rxBusy = false;
    rx.Drain();
    ASSERT_FALSE(rx.mailbox.rx.empty());
    size_t received = 0;
    for (const auto& c : rx.mailbox.rx)
        received += c.bytes.size();
    EXPECT_LT(received, data.size() + 2);
    EXPECT_EQ(rx.mailbox.rx.back().flags, kRxBadFrame);
    EXPECT_GT(rx.framer.counters.rxOverruns, 0u);
}

TEST(FramerHdlcTransmit, AbortSendsEightOnesAndAFlag)
{
    FramerBench b(2);
    b.mailbox.Write({0x12, 0x34}, kTxAbort);
    b.mailbox.Write({0x56}, kTxEndOfFrame);
    const std::vector<int> bits = b.GetBits(200);
    FramerBench rx(2);
    rx.PutBits(bits);
    rx.Drain();
    ASSERT_EQ(rx.mailbox.rx.size(), 2u);
    EXPECT_EQ(rx.mailbox.rx[0].flags, kRxAbort);
    EXPECT_EQ(rx.mailbox.rx[1].flags, kRxGoodFrame);
    EXPECT_EQ(rx.mailbox.rx[1].bytes[0], 0x56);
}

// Sends frames through transmit -> receive in random groups of 1-16 bits, flipping bits with the given
// probability; returns the frames received with their statuses.
struct RoundTrip {
    std::vector<std::vector<uint8_t>> sent;
    std::vector<FramerChunk> frames;  // whole frames (bytes without the FCS) with their status
};

RoundTrip RunRoundTrip(int frameCount, double errorRate, uint32_t seed)
{
    std::mt19937 rng(seed);
    FramerBench tx(2);
    FramerBench rx(2);
    RoundTrip result;
    std::uniform_int_distribution<int> length(1, 48);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> group(1, 16);
    std::bernoulli_distribution flip(errorRate > 0 ? errorRate : 0.0);
    for (int f = 0; f < frameCount; ++f) {
        std::vector<uint8_t> data(static_cast<size_t>(length(rng)));
        for (auto& d : data)
            d = static_cast<uint8_t>(byte(rng));
        if (f % 5 == 0)
            for (auto& d : data)
                d = static_cast<uint8_t>(d | 0x7E);  // long runs of ones
        result.sent.push_back(data);
        tx.mailbox.Write(data, kTxEndOfFrame);
    }
    FramerChunk current{0, {}};
    int tail = 0;
    while (tail < 64) {
        if (tx.mailbox.tx.empty() && tx.framer.tx.fifo.count == 0)
            tail += 16;
        const int n = group(rng);
        uint32_t bits = static_cast<uint32_t>(FramerGetTxBits(&tx.framer, n));
        if (errorRate > 0)
            for (int i = 0; i < n; ++i)
                if (flip(rng))
                    bits ^= 1u << i;
        const int split = std::uniform_int_distribution<int>(0, n)(rng);
        if (split > 0)
            FramerPutRxBits(&rx.framer, bits, split);
        if (n - split > 0)
            FramerPutRxBits(&rx.framer, bits >> split, n - split);
        FramerPostRxBytes(&rx.framer);
        for (const auto& c : rx.mailbox.rx) {
            current.bytes.insert(current.bytes.end(), c.bytes.begin(), c.bytes.end());
            if (c.flags != 0) {
                current.flags = c.flags;
                if (current.bytes.size() >= 2 && c.flags == kRxGoodFrame)
                    current.bytes.resize(current.bytes.size() - 2);
                result.frames.push_back(current);
                current = FramerChunk{0, {}};
            }
        }
        rx.mailbox.rx.clear();
    }
    return result;
}

TEST(FramerHdlcRoundTrip, RandomFramesAndGroupingsAreByteIdentical)
{
    const RoundTrip r = RunRoundTrip(kRoundTripFrames, 0.0, 12345);
    ASSERT_EQ(r.frames.size(), r.sent.size());
    for (size_t i = 0; i < r.sent.size(); ++i) {
        ASSERT_EQ(r.frames[i].flags, kRxGoodFrame) << i;
        ASSERT_EQ(r.frames[i].bytes, r.sent[i]) << i;
    }
}

TEST(FramerHdlcRoundTrip, BitErrorsNeverGiveAWrongGoodFrame)
{
    const RoundTrip r = RunRoundTrip(kRoundTripFrames / 5, 1.0 / 2000, 777);
    size_t next = 0;
    int good = 0;
    int bad = 0;
    for (const auto& f : r.frames) {
        if (f.flags != kRxGoodFrame) {
            ++bad;
            continue;
        }
        ++good;
        // A good frame is one of the frames sent, in order.
        while (next < r.sent.size() && r.sent[next] != f.bytes)
            ++next;
        ASSERT_LT(next, r.sent.size()) << "a frame marked good was never sent";
        ++next;
    }
    EXPECT_GT(good, 0);
    EXPECT_GT(bad, 0);
}

}  // namespace
