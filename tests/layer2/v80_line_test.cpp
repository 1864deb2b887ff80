// Synchronous access on the line block against a register window in memory: what the application's coded
// stream becomes in the transmit chunks (data forms, frame end and abort flags, chunk limits), what received
// chunks become in the receive ring (shielded octets, check octets held back, frame ends and errors in band),
// and the kick that waits for 64 bytes.
#include <gtest/gtest.h>

#include <vector>

#include "layer2/corecode/dce/line_block.h"
#include "layer2/corecode/dce/v80.h"
#include "window/register_map.h"
#include "window/window_access.h"

namespace {

class V80Line : public ::testing::Test {
protected:
    void SetUp() override
    {
        LineBlockHost host{};
        host.ctx = this;
        host.kick = [](void* ctx) { static_cast<V80Line*>(ctx)->kicks++; };
        lb_init(&lb, &host);
        lb_bind_window(&lb, &block);
        lb.v80.active = 1;
        lb_set_mode(&lb, LINE_MODE_SYNC);
        lb_service(&lb);  // nothing to send yet: the transmitter rests
        kicks = 0;
    }
    void Framed() { lb.v80.framed = 1; }
    // The chunks the line block writes for what waits in the line transmit ring (the data pump takes each).
    std::vector<std::pair<std::vector<uint8_t>, uint8_t>> Chunks()
    {
        std::vector<std::pair<std::vector<uint8_t>, uint8_t>> out;
        for (int k = 0; k < 100; ++k) {
            lb_service(&lb);
            const uint16_t pair = WindowLoadPair(&block, kRegTxCount);
            if (pair == 0)
                break;
            std::vector<uint8_t> bytes(pair & 0xFFu);
            WindowLoadBytes(&block, kRegTxData, bytes.data(), static_cast<int>(bytes.size()));
            out.push_back({bytes, static_cast<uint8_t>(pair >> 8)});
            WindowStorePair(&block, kRegTxCount, 0);
        }
        return out;
    }
    void Post(const std::vector<uint8_t>& bytes, uint8_t status)
    {
        WindowStoreBytes(&block, kRegRxData, bytes.data(), static_cast<int>(bytes.size()));
        WindowStorePair(&block, kRegRxCount, static_cast<uint16_t>(bytes.size() | (status << 8)));
        lb_service(&lb);
    }
    std::vector<uint8_t> Received()
    {
        std::vector<uint8_t> out(lb_rx_count(&lb));
        lb_rx_take(&lb, out.data(), static_cast<uint16_t>(out.size()));
        return out;
    }

    DspInterfaceBlock block{};
    LineBlock lb{};
    int kicks = 0;
};

TEST_F(V80Line, CodedStreamBecomesChunks)
{
    Framed();
    // EM 5D is two 0x19 octets; EM A4 is 0x19 0x99; the frame ends with EM B1 (flag 1, the data pump's
    // frame end); the next frame is aborted with EM B2 (flag 3).
    const std::vector<uint8_t> stream = {0x41, V80_EM, 0x5D, V80_EM, 0xA4, 0x42, V80_EM, V80_FLAG,
                                         0x43, V80_EM, V80_ERR};
    lb_tx_write(&lb, stream.data(), static_cast<uint16_t>(stream.size()));
    const auto chunks = Chunks();
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[0].first, (std::vector<uint8_t>{0x41, 0x19, 0x19, 0x19, 0x99, 0x42}));
    EXPECT_EQ(chunks[0].second, kTxEndOfFrame);
    EXPECT_EQ(chunks[1].first, (std::vector<uint8_t>{0x43}));
    EXPECT_EQ(chunks[1].second, kTxAbort);
}

TEST_F(V80Line, ChunksNeverSplitACodeAndTakeTheFrameEndAlong)
{
    Framed();
    // 31 octets, then a two-octet code: it does not fit, so it opens the next chunk.
    std::vector<uint8_t> stream(31, 0x55);
    stream.push_back(V80_EM);
    stream.push_back(0x5D);
    // 29 more octets make that chunk full (31); the frame end after a full chunk goes with it.
    stream.insert(stream.end(), 29, 0x66);
    stream.push_back(V80_EM);
    stream.push_back(V80_FLAG);
    lb_tx_write(&lb, stream.data(), static_cast<uint16_t>(stream.size()));
    const auto chunks = Chunks();
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[0].first.size(), 31u);
    EXPECT_EQ(chunks[0].second, 0);
    EXPECT_EQ(chunks[1].first.size(), 31u);
    EXPECT_EQ(chunks[1].first[0], 0x19);
    EXPECT_EQ(chunks[1].first[1], 0x19);
    EXPECT_EQ(chunks[1].second, kTxEndOfFrame);
}

TEST_F(V80Line, ReceivedOctetsAreShieldedAndCheckOctetsDropped)
{
    // Transparent: every octet goes on; the four that collide become EM pairs (0x13 is EM A1).
    Post({0x13, 0x41, 0x11, 0x19, 0x99}, 0);
    EXPECT_EQ(Received(), (std::vector<uint8_t>{V80_EM, 0xA1, 0x41, V80_EM, 0xA0, V80_EM, 0x5C, V80_EM, 0x76}));
    // Framed: the two check octets the data pump passes on stay behind; a good end is EM B1, a bad check
    // sequence or an abort EM B0.
    Framed();
    Post({0x01, 0x02}, 0);
    Post({0x13, 0xAA, 0xBB}, kRxGoodFrame);
    Post({0x05, 0xCC, 0xDD}, kRxBadFrame);
    Post({0x06}, kRxAbort);
    EXPECT_EQ(Received(), (std::vector<uint8_t>{0x01, 0x02, V80_EM, 0xA1, V80_EM, V80_FLAG, 0x05, V80_EM, V80_MARK,
                                                V80_EM, V80_MARK}));
    EXPECT_EQ(lb.v80.frames_to_app.load(), 1);
}

TEST_F(V80Line, FullReceiveRingIsReportedOnce)
{
    std::vector<uint8_t> chunk(32, 0x41);
    for (int k = 0; k < 40; ++k)
        Post(chunk, 0);
    const std::vector<uint8_t> got = Received();
    ASSERT_EQ(got.size(), 1024u) << "1022 octets and the report";
    int reports = 0;
    for (size_t i = 0; i + 1 < got.size(); ++i)
        reports += got[i] == V80_EM && got[i + 1] == V80_RX_OVERRUN;
    EXPECT_EQ(reports, 1);
    EXPECT_GT(lb.v80.discards.load(), 0u);
}

TEST_F(V80Line, TheTransmitterIsKickedOnceSixtyFourBytesWait)
{
    std::vector<uint8_t> bytes(63, 0x41);
    lb_tx_write(&lb, bytes.data(), 63);
    EXPECT_EQ(kicks, 0) << "a single byte or a short burst waits for the poll's kick";
    lb_tx_put(&lb, 0x42);
    EXPECT_EQ(kicks, 1);
}

}  // namespace
