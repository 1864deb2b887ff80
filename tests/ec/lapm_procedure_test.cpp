// LAPM procedures off the main road: TEST echo, in-sequence breaks, a failed negotiation, a SABME repeated
// because its UA was lost, noise bursts, and a stalled reader on a lossy line.
#include <gtest/gtest.h>

#include "lapm_pair.h"

namespace {

using Bytes = std::vector<uint8_t>;

bool bring_up(LapmPair& p, const LapmSetup& a, const LapmSetup& b)
{
    p.setup(a, b);
    p.start();
    p.run(300, [&] { return p.established(); });
    return p.established();
}

TEST(LapmProcedureTest, TestCommandIsEchoedWhenAgreed)
{
    for (uint8_t agreed : {0, 1}) {
        LapmPair p;
        LapmSetup s = lapm_test_setup(0);
        s.test_request = agreed;
        ASSERT_TRUE(bring_up(p, s, s));
        EXPECT_EQ(p.b.link.neg.test, agreed);
        p.ba.logging = true;
        const Bytes test = {0x03, 0xE3, 'p', 'i', 'n', 'g'};
        lapm_rx_frame(&p.b.link, test.data(), static_cast<uint16_t>(test.size()), false);
        p.run(20);
        bool echoed = false;
        for (const Bytes& f : p.ba.log)
            echoed = echoed || f == Bytes{0x03, 0xE3, 'p', 'i', 'n', 'g'};
        EXPECT_EQ(echoed, agreed == 1);
        EXPECT_EQ(ec_rx_pool_free(&p.b.link.rx), EC_RX_POOL_BUFFERS);  // the echoed buffer came back
    }
}

TEST(LapmProcedureTest, InSequenceBreakClosesTheIFrameAfterItsByteCount)
{
    LapmPair p;
    LapmSetup s = lapm_test_setup(0);
    s.break_mode = 3;
    ASSERT_TRUE(bring_up(p, s, s));
    p.ab.logging = true;
    EXPECT_FALSE(lapm_send_break(&p.a.link, 0, 5));
    p.a.dte.input.assign(20, 'q');
    p.run(50);
    ASSERT_GE(p.ab.log.size(), 2u);
    EXPECT_EQ(p.ab.log[0].size(), 3u + 5);  // the frame closes after five bytes
    EXPECT_EQ(p.b.dte.output, Bytes(20, 'q'));
}

TEST(LapmProcedureTest, RequiredFcsOptionNotOfferedFailsTheNegotiation)
{
    LapmPair p;
    LapmSetup a = lapm_test_setup(0);
    LapmSetup b = lapm_test_setup(0);
    b.fcs_request = 2;  // the answerer requires it; the originator does not offer it
    p.setup(a, b);
    p.start();
    p.run(1);
    p.run(5000, [&] { return p.a.status == LAPM_IDLE; });
    EXPECT_EQ(p.b.status, LAPM_IDLE);
    EXPECT_EQ(p.b.link.reason, LAPM_REASON_XID_FAILED);
    // The originator keeps asking until its budget is spent.
    EXPECT_EQ(p.a.status, LAPM_IDLE);
    EXPECT_EQ(p.a.link.disconnect_code, LAPM_DC_SETUP_FAILED);
}

TEST(LapmProcedureTest, SabmeRepeatedAfterALostUaLosesNoData)
{
    LapmPair p;
    int ua_seen = 0;
    p.ba.filter = [&](Bytes& f) { return !(f.size() == 2 && f[1] == 0x73 && ua_seen++ == 0); };
    p.setup(lapm_test_setup(0), lapm_test_setup(0));
    p.start();
    p.b.dte.input.assign(1000, 'r');  // the answerer sends as soon as it has accepted the SABME
    p.run(1000, [&] { return p.a.dte.output.size() == 1000; });
    EXPECT_TRUE(p.established());
    EXPECT_EQ(p.a.dte.output, Bytes(1000, 'r'));
    EXPECT_EQ(p.b.link.sabme_seen, 1);
}

TEST(LapmProcedureTest, NoiseBurstsCostTimeButNoData)
{
    for (uint8_t srej : {0, 1}) {
        LapmPair p(9600, 3);
        uint64_t frame = 0;
        // Every 200th frame starts a burst that wipes out the next 12 frames in that direction.
        auto burst = [](uint64_t* n) {
            return [n](Bytes&) {
                uint64_t at = (*n)++ % 200;
                return at >= 12;
            };
        };
        uint64_t frame_ba = 0;
        p.ab.filter = burst(&frame);
        p.ba.filter = burst(&frame_ba);
        p.setup(lapm_test_setup(srej), lapm_test_setup(srej));
        p.start();
        p.run(3000, [&] { return p.established(); });
        ASSERT_TRUE(p.established());
        Bytes data = lapm_test_pattern(96 * 1024, 8);
        p.a.dte.input.assign(data.begin(), data.end());
        p.b.dte.input.assign(data.rbegin(), data.rend());
        p.run(200000, [&] { return p.b.dte.output.size() == data.size() && p.a.dte.output.size() == data.size(); });
        EXPECT_TRUE(p.b.dte.output == data) << int(srej);
        EXPECT_TRUE(std::equal(p.a.dte.output.begin(), p.a.dte.output.end(), data.rbegin()) &&
                    p.a.dte.output.size() == data.size())
            << int(srej) << " sizes " << p.a.dte.output.size() << " " << data.size() << " at " << p.now_ms;
        EXPECT_GT(p.a.counters.retransmissions + p.b.counters.retransmissions, 0);
        EXPECT_TRUE(p.established());
    }
}

TEST(LapmProcedureTest, StalledReaderOnALossyLineResumesWithoutLoss)
{
    LapmPair p(28800, 21);
    ASSERT_TRUE(bring_up(p, lapm_test_setup(1), lapm_test_setup(1)));
    p.ab.loss = p.ba.loss = 0.03;
    Bytes data = lapm_test_pattern(100000, 9);
    p.a.dte.input.assign(data.begin(), data.end());
    p.b.dte.read_per_pass = 0;
    p.run(6000);
    EXPECT_TRUE(p.established());
    p.b.dte.read_per_pass = 200;
    p.run(60000, [&] { return p.b.dte.output.size() == data.size(); });
    EXPECT_TRUE(p.b.dte.output == data) << p.now_ms;
}

}  // namespace
