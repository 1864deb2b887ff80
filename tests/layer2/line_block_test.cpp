// The line block against a stand-in data pump on a register window in memory: chunks in both directions
// with the pump's publication order, refused chunks, the framed paths' limits, the framing packets, and the
// service run from two threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "layer2/line_block_fixture.h"
#include "layer2/corecode/dce/line_block.h"
#include "layer2/corecode/ec/ec_frames.h"
#include "window/icd_codes.h"
#include "window/register_map.h"
#include "window/window_access.h"

namespace {

using linetest::LineBlockTest;
using linetest::Packet;
using linetest::PumpSide;

TEST_F(LineBlockTest, ModeSwitchSendsTheFramingPacketAndMarksHdlc)
{
    const struct {
        uint8_t mode;
        uint8_t kind;
        bool hdlc;
    } cases[] = {
        {LINE_MODE_PLAIN, LINE_FRAMING_ASYNC, false},
        {LINE_MODE_LAPM, LINE_FRAMING_HDLC, true},
        {LINE_MODE_MNP_FRAMED, LINE_FRAMING_HDLC, true},
        {LINE_MODE_VOICE, LINE_FRAMING_ASYNC, false},
        {9, LINE_FRAMING_ASYNC, false},  // an unknown mode runs as plain buffered
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.mode));
        packets.clear();
        lb_set_mode(&lb, c.mode);
        ASSERT_EQ(packets.size(), 1u);
        EXPECT_EQ(packets[0].code, IcdSetFraming);
        EXPECT_EQ(packets[0].payload, std::vector<uint8_t>{c.kind});
        EXPECT_EQ((WindowLoad(&pump.block, kRegFramingOptions) & kFramingHdlc) != 0, c.hdlc);
        EXPECT_EQ(lb.active.load(), 1);
    }
    packets.clear();
    lb_set_line_flow_control(&lb, 0, 1);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].code, IcdSetLineFlowControl);
    EXPECT_EQ(packets[0].payload, (std::vector<uint8_t>{1, 0x11, 0x13}));
}

// Bytes to send leave in chunks of at most 32, one chunk at a time: the next only after the pump took the last.
TEST_F(LineBlockTest, PlainBytesLeaveInChunksOfThirtyTwo)
{
    lb_set_mode(&lb, LINE_MODE_PLAIN);
    std::vector<uint8_t> data(70);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 37);
    for (uint8_t c : data)
        lb_tx_put(&lb, c);
    EXPECT_EQ(lb_tx_count(&lb), 69) << "the first byte's kick sent it at once";
    std::vector<uint8_t> flags;
    const auto chunks = DrainChunks(&flags);
    ASSERT_EQ(chunks.size(), 4u);
    EXPECT_EQ(chunks[0].size(), 1u);
    EXPECT_EQ(chunks[1].size(), 32u);
    EXPECT_EQ(chunks[2].size(), 32u);
    std::vector<uint8_t> joined;
    for (const auto& c : chunks)
        joined.insert(joined.end(), c.begin(), c.end());
    EXPECT_EQ(joined, data);
    EXPECT_EQ(flags, (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_EQ(lb.tx_kicked.load(), 0) << "ran dry: the next byte kicks again";
    EXPECT_EQ(lb.counters.sent.load(), 70u);
    // A full ring drops and counts.
    for (int i = 0; i < LINE_RING_SIZE + 40; ++i)
        lb_tx_put(&lb, 1);
    EXPECT_EQ(lb.counters.tx_discards.load(), 40u - 1u) << "the first byte left at once in a chunk";
}

// A chunk with a count beyond 32 or a status the path does not know is refused, counted and never copied;
// the registers are cleared so the pump can post the next.
TEST_F(LineBlockTest, BadChunksAreRefusedAndCounted)
{
    lb_set_mode(&lb, LINE_MODE_PLAIN);
    const struct {
        uint8_t count;
        uint8_t status;
        bool accepted;
    } cases[] = {
        {10, 0, true},      {32, 0, true},  {33, 0, false},       {255, 0, false}, {4, kRxBreak, true},
        {4, kRxBreakEnd, true}, {4, kRxGoodFrame, false}, {4, kRxAbort, false}, {4, 9, false}, {0, 200, false},
    };
    uint32_t expectedBad = 0;
    uint32_t expectedBytes = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.count) << "/" << int(c.status));
        std::vector<uint8_t> bytes(32, 0x5A);
        ASSERT_TRUE(pump.Post(bytes, c.status, c.count));
        lb_service(&lb);
        EXPECT_TRUE(pump.RxEmpty());
        expectedBad += c.accepted ? 0 : 1;
        expectedBytes += c.accepted ? c.count : 0;
        EXPECT_EQ(lb.counters.bad_chunks.load(), expectedBad);
        EXPECT_EQ(lb_rx_count(&lb), expectedBytes);
    }
    EXPECT_TRUE(lb_take_line_break(&lb));
    EXPECT_FALSE(lb_take_line_break(&lb));
}

TEST_F(LineBlockTest, PlainReceiveDropsAboveTheRingLimit)
{
    lb_set_mode(&lb, LINE_MODE_PLAIN);
    std::vector<uint8_t> bytes(32);
    for (int k = 0; k < 40; ++k) {
        for (int i = 0; i < 32; ++i)
            bytes[i] = static_cast<uint8_t>(k * 32 + i);
        ASSERT_TRUE(pump.Post(bytes, 0));
        lb_service(&lb);
    }
    EXPECT_EQ(lb_rx_count(&lb), LINE_RX_DROP_ABOVE + 1);
    EXPECT_EQ(lb.counters.rx_discards.load(), 40u * 32u - (LINE_RX_DROP_ABOVE + 1));
    uint8_t out[LINE_RING_SIZE];
    const uint16_t n = lb_rx_take(&lb, out, sizeof out);
    ASSERT_EQ(n, LINE_RX_DROP_ABOVE + 1);
    for (uint16_t i = 0; i < n; ++i)
        ASSERT_EQ(out[i], static_cast<uint8_t>(i)) << "the first bytes are kept in order";
}

// A frame leaves as chunks of 32, 32 and 6 octets; only the last carries the end-of-frame flag.
TEST_F(LineBlockTest, FramedTransmitMarksTheLastChunk)
{
    UseFrames();
    lb_set_mode(&lb, LINE_MODE_LAPM);
    FrameNode a{};
    a.length = 70;
    for (int i = 0; i < 70; ++i)
        a.data[i] = static_cast<uint8_t>(i);
    FrameNode b{};
    b.length = 3;
    txQueue = {&a, &b};
    lb_frame_kick(&lb);
    std::vector<uint8_t> flags;
    const auto chunks = DrainChunks(&flags);
    ASSERT_EQ(chunks.size(), 4u);
    EXPECT_EQ(chunks[0].size(), 32u);
    EXPECT_EQ(chunks[1].size(), 32u);
    EXPECT_EQ(chunks[2].size(), 6u);
    EXPECT_EQ(chunks[3].size(), 3u);
    EXPECT_EQ(flags, (std::vector<uint8_t>{0, 0, kTxEndOfFrame, kTxEndOfFrame}));
    EXPECT_EQ(chunks[2][5], 69);
    EXPECT_EQ(lb.tx_active.load(), 0) << "no further frame";
}

// Received frames on the LAPM path: the pump passes the two frame-check octets on; limits and verdicts.
TEST_F(LineBlockTest, FramedReceiveLimitsAndVerdicts)
{
    const struct {
        int octets;      // received, frame check included
        uint8_t status;  // at the end of the frame
        bool bad;
        int length;      // kept
    } cases[] = {
        {134, kRxGoodFrame, false, 132}, {135, kRxGoodFrame, true, 0},  {3, kRxGoodFrame, false, 1},
        {2, kRxGoodFrame, true, 2},      {40, kRxBadFrame, true, 38},
    };
    UseFrames();
    lb_set_mode(&lb, LINE_MODE_LAPM);
    lb_rx_buffer_set(&lb, &rxBuffer);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.octets);
        received.clear();
        std::vector<uint8_t> all(c.octets);
        for (int i = 0; i < c.octets; ++i)
            all[i] = static_cast<uint8_t>(i + 1);
        for (int at = 0; at < c.octets; at += 32) {
            const int n = std::min(32, c.octets - at);
            const bool last = at + n == c.octets;
            ASSERT_TRUE(pump.Post(std::vector<uint8_t>(all.begin() + at, all.begin() + at + n), last ? c.status : 0));
            lb_service(&lb);
        }
        ASSERT_EQ(received.size(), 1u);
        EXPECT_EQ(received[0].bad != 0, c.bad);
        if (c.length != 0) {
            EXPECT_EQ(received[0].length, c.length);
        }
    }
    // An abort ends its frame, counted; the frame after it is received whole and good.
    const int before = framesCounted;
    received.clear();
    ASSERT_TRUE(pump.Post({1, 2, 3}, kRxAbort));
    lb_service(&lb);
    ASSERT_TRUE(pump.Post({9, 8, 7, 6, 5}, kRxGoodFrame));
    lb_service(&lb);
    EXPECT_EQ(framesCounted, before + 1);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].length, 3);
    EXPECT_EQ(received[0].bad, 0);
    EXPECT_EQ(received[0].data[0], 9);
}

// Two threads run the service for a while (the pump's notification and a producer's kick) while a pump
// thread posts numbered chunks and takes sent ones: every chunk is taken exactly once, in order.
TEST_F(LineBlockTest, ServiceFromTwoThreadsLosesAndDuplicatesNothing)
{
    int ms = 300;
    if (const char* env = std::getenv("MODEM_LINE_STRESS_MS"))
        ms = std::atoi(env);
    lb_set_mode(&lb, LINE_MODE_PLAIN);
    std::atomic<bool> stop{false};
    std::atomic<uint32_t> posted{0};
    std::atomic<uint32_t> producedTx{0};
    std::vector<uint8_t> sentSeen;
    std::vector<uint8_t> receivedSeen;
    std::thread pumpThread([&] {
        uint32_t seq = 0;
        std::vector<uint8_t> bytes;
        uint8_t flags;
        while (!stop.load()) {
            std::vector<uint8_t> chunk(1 + seq % 32);
            for (auto& b : chunk)
                b = static_cast<uint8_t>(posted.load() + (&b - chunk.data()));
            if (pump.Post(chunk, 0))
                posted += static_cast<uint32_t>(chunk.size()), ++seq;
            if (pump.Take(&bytes, &flags))
                sentSeen.insert(sentSeen.end(), bytes.begin(), bytes.end());
        }
        while (pump.Take(&bytes, &flags))
            sentSeen.insert(sentSeen.end(), bytes.begin(), bytes.end());
    });
    auto runner = [&](bool producer) {
        uint32_t next = 0;
        while (!stop.load()) {
            if (producer) {
                if (lb_tx_free(&lb) > 0)
                    lb_tx_put(&lb, static_cast<uint8_t>(next++)), producedTx = next;
            } else {
                lb_service(&lb);
                uint8_t out[64];
                const uint16_t n = lb_rx_take(&lb, out, sizeof out);
                receivedSeen.insert(receivedSeen.end(), out, out + n);
            }
        }
    };
    std::thread a(runner, false);
    std::thread b(runner, true);
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    stop = true;
    a.join();
    b.join();
    pumpThread.join();
    // What is still in the mailboxes and rings comes out afterwards, single-threaded.
    for (int i = 0; i < 100; ++i) {
        lb_service(&lb);
        uint8_t out[64];
        const uint16_t n = lb_rx_take(&lb, out, sizeof out);
        receivedSeen.insert(receivedSeen.end(), out, out + n);
        std::vector<uint8_t> bytes;
        uint8_t flags;
        while (pump.Take(&bytes, &flags))
            sentSeen.insert(sentSeen.end(), bytes.begin(), bytes.end());
    }
    EXPECT_EQ(lb.counters.rx_discards.load(), 0u);
    ASSERT_EQ(receivedSeen.size(), posted.load() - lb.counters.rx_discards.load());
    for (size_t i = 0; i < receivedSeen.size(); ++i)
        ASSERT_EQ(receivedSeen[i], static_cast<uint8_t>(i)) << "received byte " << i;
    ASSERT_EQ(sentSeen.size() + lb_tx_count(&lb), producedTx.load());
    for (size_t i = 0; i < sentSeen.size(); ++i)
        ASSERT_EQ(sentSeen[i], static_cast<uint8_t>(i)) << "sent byte " << i;
    EXPECT_GT(sentSeen.size(), 0u);
    EXPECT_GT(receivedSeen.size(), 0u);
}

// Octet-framed MNP: the controller frames each frame itself in plain chunks (SYN DLE STX, DLE doubled,
// DLE ETX and the CRC-16 low byte first) and takes received chunks byte by byte into frame buffers.
TEST_F(LineBlockTest, OctetFramedMnpFramesTheFramesItself)
{
    UseFrames();
    lb_set_mode(&lb, LINE_MODE_MNP_OCTET);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].payload, std::vector<uint8_t>{LINE_FRAMING_ASYNC});
    lb_rx_buffer_set(&lb, &rxBuffer);
    FrameNode frame{};
    const std::vector<uint8_t> octets = {4, 2, 1, 1, 0x10};
    std::copy(octets.begin(), octets.end(), frame.data);
    frame.length = static_cast<uint16_t>(octets.size());
    txQueue.push_back(&frame);
    lb_frame_kick(&lb);
    std::vector<uint8_t> flags;
    std::vector<uint8_t> line;
    for (const auto& c : DrainChunks(&flags))
        line.insert(line.end(), c.begin(), c.end());
    EXPECT_EQ(line, (std::vector<uint8_t>{0x16, 0x10, 0x02, 4, 2, 1, 1, 0x10, 0x10, 0x10, 0x03, 0x65, 0xB9}));
    EXPECT_EQ(flags, std::vector<uint8_t>(flags.size(), 0));
    EXPECT_EQ(lb.tx_active.load(), 0) << "no frame left to send";

    // The same bytes received, split across chunks, twice: one frame good, the second hit by an overrun.
    const std::vector<std::pair<std::vector<uint8_t>, uint8_t>> chunks = {
        {{line.begin(), line.begin() + 5}, 0},
        {{line.begin() + 5, line.end()}, 0},
        {{line.begin(), line.begin() + 7}, 0},
        {{line.begin() + 7, line.end()}, kRxOverrun},
    };
    for (const auto& [bytes, status] : chunks) {
        ASSERT_TRUE(pump.Post(bytes, status));
        lb_service(&lb);
    }
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(std::vector<uint8_t>(received[0].data, received[0].data + received[0].length), octets);
    EXPECT_EQ(received[0].bad, 0);
    EXPECT_EQ(received[1].bad, 1);
    EXPECT_EQ(framesCounted, 1);
}

// MNP framed by the data pump: frames of up to 266 octets with the frame check (an LT of 256 information
// octets and its header) are taken whole; one octet more is marked bad.
TEST_F(LineBlockTest, MnpFramedFramesUpTo266Octets)
{
    UseFrames();
    lb_set_mode(&lb, LINE_MODE_MNP_FRAMED);
    lb_rx_buffer_set(&lb, &rxBuffer);
    for (const auto& [octets, bad] : {std::pair{266, false}, std::pair{267, true}}) {
        received.clear();
        for (int at = 0; at < octets; at += 32) {
            const int n = std::min(32, octets - at);
            ASSERT_TRUE(pump.Post(std::vector<uint8_t>(n, 0x44), at + n == octets ? kRxGoodFrame : 0));
            lb_service(&lb);
        }
        ASSERT_EQ(received.size(), 1u);
        EXPECT_EQ(received[0].bad != 0, bad) << octets;
        if (!bad) {
            EXPECT_EQ(received[0].length, 264);
        }
    }
}

}  // namespace

namespace {

// ---- the V.42 detection phase ----

class LineDetectTest : public LineBlockTest {
protected:
    // Every transmit chunk written so far, concatenated.
    std::vector<uint8_t> Sent()
    {
        std::vector<uint8_t> flags;
        std::vector<uint8_t> all;
        for (const auto& c : DrainChunks(&flags))
            all.insert(all.end(), c.begin(), c.end());
        return all;
    }
    void Receive(const std::vector<uint8_t>& bytes)
    {
        ASSERT_TRUE(pump.Post(bytes, 0));
        lb_service(&lb);
    }
    bool Result(uint8_t* reason, uint8_t* result) { return lb_detect_take_result(&lb, reason, result); }
    void Ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            lb_line_tick(&lb);
    }
};

std::vector<uint8_t> Pairs(uint8_t answer, int n)
{
    std::vector<uint8_t> out;
    for (int i = 0; i < n; ++i) {
        out.push_back('E');
        out.push_back(answer);
    }
    return out;
}

// The answerer waits for four ODP characters in a row (bit 7 alternating; another byte starts the count
// again), answers with ten 'E' 'C' pairs in one chunk, and reports LAPM once they have had time to leave.
TEST_F(LineDetectTest, AnswererAnswersFourOdpWithTenPairsThenReportsLapm)
{
    lb_detect_start(&lb, 1, 0, 300, 2400);
    ASSERT_GE(packets.size(), 1u);
    EXPECT_EQ(packets.back().payload, std::vector<uint8_t>{LINE_FRAMING_DETECT});
    EXPECT_TRUE(Sent().empty()) << "the answerer sends nothing before ODP";
    Receive({0x11, 0x91, 0x11, 0x00, 0x91, 0x11, 0x91});
    EXPECT_TRUE(Sent().empty()) << "a stray byte starts the count again";
    Receive({0x11});
    EXPECT_EQ(Sent(), Pairs('C', 10));
    uint8_t reason = 0, result = 0;
    Ticks(10);  // 20 characters at 2400 bit/s: about 83 ms
    EXPECT_FALSE(Result(&reason, &result));
    Ticks(1);
    ASSERT_TRUE(Result(&reason, &result));
    EXPECT_EQ(reason, 0);
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(lb_detect_active(&lb));
}

// An answerer started with answer code 1 offers MNP first: five 'M' pairs, then ten 'C' pairs, and waits.
TEST_F(LineDetectTest, AnswerCodeOneSendsMnpPairsThenLapmPairs)
{
    lb_detect_start(&lb, 1, 1, 300, 2400);
    Receive({0x11, 0x91, 0x11, 0x91});
    EXPECT_EQ(Sent(), Pairs('M', 5));
    Ticks(2);
    EXPECT_EQ(Sent(), Pairs('C', 10));
    Ticks(40);
    uint8_t reason = 0, result = 0;
    EXPECT_FALSE(Result(&reason, &result));
    EXPECT_TRUE(lb_detect_active(&lb));
}

// The originator sends ODP in turns paced by the line rate and decides on two equal ADP pairs in a row.
TEST_F(LineDetectTest, OriginatorDecidesOnTwoEqualPairs)
{
    const struct {
        std::vector<uint8_t> heard;
        bool decided;
        uint8_t result;
    } cases[] = {
        {{'E', 'C', 'E', 'C'}, true, 0},
        {{'E', 0x00, 'E', 0x00}, true, 2},
        {{'E', 'A', 'E', 'A'}, true, 255},          // another odd character: no error control known
        {{'E', 'C', 'E', 'M', 'E', 'C'}, false, 0},  // never two equal pairs in a row
        {{'E', 'M', 'E', 'M'}, false, 0},           // MNP was not asked for: the time-out decides
        {{'E', 'B', 'E', 'B'}, false, 0},           // an even character decides nothing
        {{'E', 'C', 'x', 'E', 'C'}, false, 0},      // a stray byte forgets the pair
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.heard.begin(), c.heard.end()));
        lb_detect_start(&lb, 0, 0, 300, 2400);
        EXPECT_EQ(Sent(), (std::vector<uint8_t>{0x11, 0x91}));
        Ticks(1);
        EXPECT_TRUE(Sent().empty()) << "two ticks between turns at 2400 bit/s";
        Ticks(1);
        EXPECT_EQ(Sent(), (std::vector<uint8_t>{0x11, 0x91}));
        Receive(c.heard);
        uint8_t reason = 0, result = 0;
        ASSERT_EQ(Result(&reason, &result), c.decided);
        if (c.decided) {
            EXPECT_EQ(reason, 0);
            EXPECT_EQ(result, c.result);
        }
        EXPECT_EQ(lb_detect_active(&lb), !c.decided);
    }
}

// HDLC flags heard as characters end detection (reason 2); the time-out gives reason 1: the originator stops,
// the answerer that saw no ODP goes on reporting it.
TEST_F(LineDetectTest, FlagsAndTimeOut)
{
    uint8_t reason = 0, result = 0;
    lb_detect_start(&lb, 1, 0, 300, 2400);
    Receive({0x7E, 0x3F, 0x11, 0xBF, 0x7E, 0x3F, 0x7E});
    ASSERT_TRUE(Result(&reason, &result));
    EXPECT_EQ(reason, 2);
    EXPECT_EQ(result, 255);

    lb_detect_start(&lb, 0, 0, 5, 2400);
    Ticks(5);
    EXPECT_FALSE(Result(&reason, &result));
    Ticks(1);
    ASSERT_TRUE(Result(&reason, &result));
    EXPECT_EQ(reason, 1);
    EXPECT_FALSE(lb_detect_active(&lb));

    lb_detect_start(&lb, 1, 0, 5, 2400);
    Ticks(6);
    ASSERT_TRUE(Result(&reason, &result));
    EXPECT_EQ(reason, 1);
    EXPECT_TRUE(lb_detect_active(&lb));
    Ticks(1);
    EXPECT_TRUE(Result(&reason, &result)) << "reported again on the next tick";
}

// Every byte also runs the octet-framed MNP receiver: a good frame (here a caller's link request, a doubled
// DLE inside) ends detection with reason 3 on either side; a frame with a bad check, or one cut by an overrun,
// does not.
TEST_F(LineDetectTest, MnpFrameEndsDetection)
{
    const std::vector<uint8_t> request = {0x17, 1, 2, 1, 6, 1, 0, 0, 0, 0, 0xFF, 2, 1, 2, 3, 1, 0x10, 4, 2, 0x40, 0};
    std::vector<uint8_t> framed = {0x16, 0x10, 0x02};
    uint16_t crc = 0;
    for (const uint8_t c : request) {
        framed.push_back(c);
        if (c == 0x10)
            framed.push_back(c);
        crc = lb_crc16(c, crc);
    }
    crc = lb_crc16(0x03, crc);
    framed.insert(framed.end(), {0x10, 0x03, static_cast<uint8_t>(crc), static_cast<uint8_t>(crc >> 8)});
    std::vector<uint8_t> damaged = framed;
    damaged[8] ^= 0x04;
    const struct {
        uint8_t role;
        const std::vector<uint8_t>* heard;
        uint8_t status;
        bool ends;
    } cases[] = {
        {1, &framed, 0, true}, {0, &framed, 0, true}, {1, &damaged, 0, false}, {1, &framed, kRxOverrun, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "role " << int(c.role) << (c.heard == &damaged ? " damaged" : "")
                                        << " status " << int(c.status));
        lb_detect_start(&lb, c.role, 0, 300, 2400);
        Sent();
        // In chunks, as the line delivers it; an overrun is reported on the chunk after the lost bytes.
        const size_t half = c.heard->size() / 2;
        Receive(std::vector<uint8_t>(c.heard->begin(), c.heard->begin() + static_cast<long>(half)));
        ASSERT_TRUE(pump.Post(std::vector<uint8_t>(c.heard->begin() + static_cast<long>(half), c.heard->end()), c.status));
        lb_service(&lb);
        uint8_t reason = 0, result = 0;
        ASSERT_EQ(Result(&reason, &result), c.ends);
        if (c.ends) {
            EXPECT_EQ(reason, 3);
        }
        EXPECT_EQ(lb_detect_active(&lb), !c.ends);
    }
}

// Pacing of the transmit turns by line rate.
TEST_F(LineDetectTest, TurnsArePacedByTheLineRate)
{
    for (const auto& [rate, ticks] : {std::pair<uint16_t, int>{1, 64}, {300, 12}, {1200, 4}, {9600, 2}}) {
        SCOPED_TRACE(rate);
        lb_detect_start(&lb, 0, 0, 3000, rate);
        EXPECT_EQ(Sent().size(), 2u);
        Ticks(ticks - 1);
        EXPECT_TRUE(Sent().empty());
        Ticks(1);
        EXPECT_EQ(Sent().size(), 2u);
    }
}

}  // namespace
