// The plain path's fall-back options on the octet-framed path: raw bytes kept and 200 of them giving the
// set-up up, the fall-back character between frames, the drop timer in seconds (held while the line
// retrains), a good frame ending the options, and the background step serving one fall-back once.
#include <gtest/gtest.h>

#include <vector>

#include "layer2/line_block_fixture.h"
#include "layer2/corecode/dce/line_block.h"
#include "layer2/corecode/dce/octet_frame.h"

namespace {

class LinePlainTest : public linetest::LineBlockTest {
protected:
    void SetUp() override
    {
        LineBlockTest::SetUp();
        lb.host.retraining = [](void* ctx) { return static_cast<LinePlainTest*>(ctx)->retraining; };
        LineEcReports reports{};
        reports.ctx = this;
        reports.fallback = [](void* ctx, uint8_t reason) { static_cast<LinePlainTest*>(ctx)->fallbacks.push_back(reason); };
        lb_set_ec_reports(&lb, &reports);
        UseFrames();
        lb_set_mode(&lb, LINE_MODE_MNP_OCTET);
        lb_rx_buffer_set(&lb, &rxBuffer);
    }

    // Posts the bytes in chunks of up to 32, as the data pump does, the service taking each.
    void Receive(const std::vector<uint8_t>& bytes)
    {
        for (size_t at = 0; at < bytes.size(); at += 32) {
            const size_t n = std::min<size_t>(32, bytes.size() - at);
            ASSERT_TRUE(pump.Post(std::vector<uint8_t>(bytes.begin() + at, bytes.begin() + at + n), 0));
            lb_service(&lb);
        }
    }

    std::vector<uint8_t> RingBytes()
    {
        std::vector<uint8_t> out(lb_rx_count(&lb));
        out.resize(lb_rx_take(&lb, out.data(), static_cast<uint16_t>(out.size())));
        return out;
    }

    void Ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            lb_line_tick(&lb);
    }

    bool retraining = false;
    std::vector<uint8_t> fallbacks;
};

// One octet-framed frame as it goes over the line.
std::vector<uint8_t> OnTheLine(const std::vector<uint8_t>& octets)
{
    OctetTx tx{};
    octet_tx_start(&tx, octets.data(), static_cast<uint16_t>(octets.size()));
    std::vector<uint8_t> line;
    uint8_t chunk[32];
    while (uint8_t n = octet_tx_fill(&tx, chunk, sizeof chunk))
        line.insert(line.end(), chunk, chunk + n);
    return line;
}

std::vector<uint8_t> Text(size_t n)
{
    std::vector<uint8_t> out(n);
    for (size_t i = 0; i < n; ++i)
        out[i] = static_cast<uint8_t>('a' + i % 26);
    return out;
}

// 200 raw bytes without a frame give the set-up up (reason 2); the background step moves the line to the
// plain path keeping every byte the far end sent, the ones after the 200th included, and tells error control
// once however often it runs.
TEST_F(LinePlainTest, TwoHundredRawBytesGiveWayKeepingEveryByte)
{
    lb_plain_setup(&lb, 0, 0, 13, 1);
    const std::vector<uint8_t> sent = Text(199);
    Receive(sent);
    EXPECT_EQ(lb.fallback_request.load(), 0) << "199 bytes are not enough";
    const std::vector<uint8_t> more = Text(60);
    Receive(more);
    EXPECT_EQ(lb.fallback_request.load(), LINE_FALLBACK_RAW_BYTES + 1);
    EXPECT_EQ(lb.mode.load(), LINE_MODE_MNP_OCTET) << "nothing moves before the background step";
    lb_background(&lb);
    lb_background(&lb);
    EXPECT_EQ(fallbacks, std::vector<uint8_t>{LINE_FALLBACK_RAW_BYTES});
    EXPECT_TRUE(lb_plain_running(&lb));
    Receive({'!', '?'});  // the plain path now
    std::vector<uint8_t> want = sent;
    want.insert(want.end(), more.begin(), more.end());
    want.insert(want.end(), {'!', '?'});
    EXPECT_EQ(RingBytes(), want);
    EXPECT_TRUE(received.empty()) << "no frame came of the raw bytes";
}

// The fall-back character (compared on its low 7 bits) ends the set-up only between frames, only when its
// option is on; inside a frame it is the frame's octet.
TEST_F(LinePlainTest, FallbackCharacterBetweenFramesOnly)
{
    const std::vector<uint8_t> frameWithCr = OnTheLine({4, 4, 1, 1, 0x0D, 0x8D});
    const struct {
        uint8_t options;
        std::vector<uint8_t> line;
        bool fallsBack;
        size_t frames;
    } cases[] = {
        {LINE_PLAIN_FALLBACK_CHAR, {'a', 0x0D}, true, 0},
        {LINE_PLAIN_FALLBACK_CHAR, {0x8D}, true, 0},  // parity bit set
        {LINE_PLAIN_FALLBACK_CHAR, {OCTET_SYN, OCTET_DLE, 0x0D}, true, 0},  // the start not complete yet
        {LINE_PLAIN_FALLBACK_CHAR, frameWithCr, false, 1},
        {0, {'a', 0x0D}, false, 0},
        {LINE_PLAIN_DROP_TIMER, {0x0D}, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.line));
        lb_set_mode(&lb, LINE_MODE_MNP_OCTET);
        lb_rx_buffer_set(&lb, &rxBuffer);
        received.clear();
        fallbacks.clear();
        lb_plain_setup(&lb, c.options, 5, 0x0D, 0);
        Receive(c.line);
        lb_background(&lb);
        EXPECT_EQ(fallbacks, c.fallsBack ? std::vector<uint8_t>{LINE_FALLBACK_CHARACTER} : std::vector<uint8_t>{});
        EXPECT_EQ(received.size(), c.frames);
    }
}

// The drop timer counts whole seconds of 100 ticks from the set-up and asks for the fall-back (reason 0) when
// it runs out; ticks while the line retrains do not count; option bit 0 without a time starts nothing.
TEST_F(LinePlainTest, DropTimerCountsSecondsExceptWhileRetraining)
{
    lb_plain_setup(&lb, LINE_PLAIN_DROP_TIMER, 3, 0, 0);
    Ticks(299);
    EXPECT_EQ(lb.fallback_request.load(), 0);
    Ticks(1);
    EXPECT_EQ(lb.fallback_request.load(), LINE_FALLBACK_DROP_TIMER + 1);
    lb_background(&lb);
    EXPECT_EQ(fallbacks, std::vector<uint8_t>{LINE_FALLBACK_DROP_TIMER});

    lb_set_mode(&lb, LINE_MODE_MNP_OCTET);
    lb_plain_setup(&lb, LINE_PLAIN_DROP_TIMER, 2, 0, 0);
    Ticks(50);
    retraining = true;
    Ticks(500);
    retraining = false;
    Ticks(149);
    EXPECT_EQ(lb.fallback_request.load(), 0) << "the retrain's ticks counted";
    Ticks(1);
    EXPECT_EQ(lb.fallback_request.load(), LINE_FALLBACK_DROP_TIMER + 1);

    lb_set_mode(&lb, LINE_MODE_MNP_OCTET);
    lb_plain_setup(&lb, LINE_PLAIN_DROP_TIMER, 0, 0, 0);
    Ticks(100000);
    EXPECT_EQ(lb.fallback_request.load(), 0);
}

// A good frame shows the far end runs the link: the raw bytes (the frame's own octets) are dropped and the
// options end, so later bytes, characters and seconds give nothing up. A bad frame changes nothing.
TEST_F(LinePlainTest, AGoodFrameEndsTheOptions)
{
    lb_plain_setup(&lb, LINE_PLAIN_DROP_TIMER | LINE_PLAIN_FALLBACK_CHAR, 2, 0x0D, 1);
    std::vector<uint8_t> bad = OnTheLine({4, 4, 1, 1, 7});
    bad[5] ^= 0x01;
    Receive(bad);
    EXPECT_EQ(lb_rx_count(&lb), bad.size()) << "a bad frame is raw bytes still";
    const std::vector<uint8_t> good = OnTheLine({4, 4, 1, 1, 7});
    Receive(good);
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[1].bad, 0);
    EXPECT_EQ(lb_rx_count(&lb), 0u);
    Receive(Text(300));
    Receive({0x0D});
    Ticks(1000);
    lb_background(&lb);
    EXPECT_TRUE(fallbacks.empty());
    EXPECT_EQ(lb.mode.load(), LINE_MODE_MNP_OCTET);
}

// A new path forgets the options and a fall-back not yet served.
TEST_F(LinePlainTest, ModeSwitchForgetsOptionsAndPendingFallback)
{
    lb_plain_setup(&lb, LINE_PLAIN_FALLBACK_CHAR | LINE_PLAIN_DROP_TIMER, 1, 0x0D, 1);
    Receive({0x0D});
    ASSERT_NE(lb.fallback_request.load(), 0);
    lb_set_mode(&lb, LINE_MODE_MNP_OCTET);
    lb_rx_buffer_set(&lb, &rxBuffer);
    Receive({0x0D});
    Ticks(200);
    lb_background(&lb);
    EXPECT_TRUE(fallbacks.empty());
}

}  // namespace
