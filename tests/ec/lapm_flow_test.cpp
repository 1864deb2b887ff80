// LAPM flow control, breaks, disconnection and delivery after the link ends.
#include <gtest/gtest.h>

#include "lapm_pair.h"

namespace {

using Bytes = std::vector<uint8_t>;

class LapmUp : public ::testing::Test {
protected:
    void bring_up(uint8_t srej = 0, uint8_t break_mode = 1)
    {
        LapmSetup s = lapm_test_setup(srej);
        s.break_mode = break_mode;
        p.setup(s, s);
        p.start();
        p.run(300, [&] { return p.established(); });
        ASSERT_TRUE(p.established());
    }
    LapmPair p;
};

TEST_F(LapmUp, StalledReaderGetsRnrAndLosesNothingWhenItResumes)
{
    bring_up();
    Bytes data = lapm_test_pattern(64 * 1024, 3);
    p.a.dte.input.assign(data.begin(), data.end());
    p.b.dte.read_per_pass = 0;
    p.run(3000);  // 30 s without reading
    EXPECT_GT(p.ba.kinds[0x05], 0u);  // RNR
    EXPECT_EQ(p.b.link.own_busy, 1);
    EXPECT_EQ(p.a.link.peer_busy, 1);
    EXPECT_TRUE(p.b.dte.output.empty());
    EXPECT_TRUE(p.established()) << int(p.a.status) << "/" << int(p.b.status) << " code "
                                 << int(p.a.link.disconnect_code) << "/" << int(p.b.link.disconnect_code) << " reason "
                                 << int(p.a.link.reason) << "/" << int(p.b.link.reason) << " states "
                                 << int(p.a.link.state) << "/" << int(p.b.link.state);
    uint64_t rr_before = p.ba.kinds[0x01] + p.ba.kinds[0x09];
    p.b.dte.read_per_pass = 64;
    p.run(20000, [&] { return p.b.dte.output.size() == data.size(); });
    EXPECT_TRUE(p.b.dte.output == data);
    EXPECT_GT(p.ba.kinds[0x01] + p.ba.kinds[0x09], rr_before);
    EXPECT_EQ(p.b.link.own_busy, 0);
    EXPECT_EQ(p.a.link.peer_busy, 0);
}

TEST_F(LapmUp, LocalDisconnectSendsDiscAndBothEndsGoIdle)
{
    bring_up();
    p.ab.logging = p.ba.logging = true;
    lapm_disconnect(&p.a.link, 1);
    p.run(300, [&] { return p.a.status == LAPM_IDLE && p.b.status == LAPM_IDLE; });
    EXPECT_EQ(p.a.status, LAPM_IDLE);
    EXPECT_EQ(p.b.status, LAPM_IDLE);
    ASSERT_FALSE(p.ab.log.empty());
    EXPECT_EQ(p.ab.log[0], (Bytes{0x03, 0x53}));  // DISC P=1
    ASSERT_FALSE(p.ba.log.empty());
    EXPECT_EQ(p.ba.log[0], (Bytes{0x03, 0x73}));  // UA F=1
    EXPECT_EQ(p.a.link.disconnect_code, LAPM_DC_LOCAL);
    EXPECT_EQ(p.b.link.disconnect_code, LAPM_DC_NORMAL);
}

TEST_F(LapmUp, InactivityEndsTheLinkWithItsCodeAndReason)
{
    LapmSetup s = lapm_test_setup(0);
    s.inactivity_s = 3;
    p.setup(s, lapm_test_setup(0));
    p.start();
    p.run(300, [&] { return p.established(); });
    ASSERT_TRUE(p.established());
    uint64_t up = p.now_ms;
    p.run(2000, [&] { return p.a.status == LAPM_DISCONNECTING; });
    EXPECT_EQ(p.a.link.disconnect_code, LAPM_DC_INACTIVITY);
    EXPECT_EQ(p.a.link.reason, LAPM_REASON_INACTIVITY);
    EXPECT_NEAR(static_cast<double>(p.now_ms - up), 3000.0, 150.0);
}

TEST_F(LapmUp, DeliveryAfterDisconnectHandsOverWhatWasReceived)
{
    bring_up();
    p.b.call.delivery_setting = 1;
    Bytes data = lapm_test_pattern(2000, 4);
    p.a.dte.input.assign(data.begin(), data.end());
    p.b.dte.read_per_pass = 0;
    p.run(200, [&] { return p.a.dte.input.empty() && !(lapm_pending_bits(&p.a.link) & 1); });
    EXPECT_TRUE(p.b.dte.output.empty());
    lapm_disconnect(&p.a.link, 0);
    p.run(30);
    EXPECT_EQ(p.b.status, LAPM_DISCONNECTING);
    p.b.dte.read_per_pass = 100;
    p.run(500, [&] { return p.b.status == LAPM_IDLE; });
    EXPECT_TRUE(p.b.dte.output == data);
    EXPECT_EQ(p.b.status, LAPM_IDLE);
}

TEST_F(LapmUp, WithoutDeliveryAfterDisconnectTheLinkEndsAtOnce)
{
    bring_up();
    p.a.dte.input = {1, 2, 3};
    p.b.dte.read_per_pass = 0;
    p.run(100);
    lapm_disconnect(&p.a.link, 0);
    p.run(300, [&] { return p.b.status == LAPM_IDLE; });
    EXPECT_EQ(p.b.status, LAPM_IDLE);
    EXPECT_TRUE(p.b.dte.output.empty());
}

TEST_F(LapmUp, DestructiveBreakDiscardsQueuedDataBothWaysAtItsAcknowledgement)
{
    bring_up(0, 1);
    p.b.dte.read_per_pass = 0;
    p.a.dte.input.assign(500, 'x');
    p.run(100);
    p.a.dte.input.assign(3000, 'y');  // still waiting at the originator's DTE side
    p.ab.logging = true;
    EXPECT_TRUE(lapm_send_break(&p.a.link, 7, 0));
    p.run(100);
    ASSERT_FALSE(p.b.dte.breaks.empty());
    EXPECT_EQ(p.b.dte.breaks[0], (std::pair<uint8_t, uint8_t>{1, 7}));
    EXPECT_GE(p.a.dte.discards, 1u);
    EXPECT_GE(p.b.dte.discards, 1u);
    EXPECT_EQ(p.a.link.break_in_progress, 0);
    p.b.dte.read_per_pass = 4096;
    p.run(100);
    EXPECT_TRUE(p.b.dte.output.empty());  // what was queued before the break is gone
    bool ui_sent = false;
    for (const Bytes& f : p.ab.log)
        if (f.size() == 5 && f[1] == 0x03)
            ui_sent = f == Bytes{0x03, 0x03, 0x40, 0xC0, 7};
    EXPECT_TRUE(ui_sent);
    p.a.dte.input = {'o', 'k'};
    p.run(100);
    EXPECT_EQ(p.b.dte.output, (Bytes{'o', 'k'}));
}

TEST_F(LapmUp, ExpeditedBreakKeepsTheDataAndReachesTheDte)
{
    bring_up(0, 2);
    p.a.dte.input = {'a', 'b'};
    p.run(50);
    EXPECT_FALSE(lapm_send_break(&p.a.link, 0, 0));
    p.run(50);
    p.a.dte.input = {'c'};
    p.run(50);
    EXPECT_EQ(p.b.dte.output, (Bytes{'a', 'b', 'c'}));
    ASSERT_EQ(p.b.dte.breaks.size(), 1u);
    EXPECT_EQ(p.b.dte.breaks[0].first, 2);
    EXPECT_EQ(p.a.dte.discards, 0u);
    // A second break uses the other sequence bit and is taken too.
    EXPECT_FALSE(lapm_send_break(&p.a.link, 0, 0));
    p.run(50);
    EXPECT_EQ(p.b.dte.breaks.size(), 2u);
}

TEST_F(LapmUp, SelectiveRejectAsksOnceForTheMissingFrameAndDeliversInOrder)
{
    bring_up(1);
    int seen = 0;
    p.ab.filter = [&](Bytes& f) { return !((f[1] & 1) == 0 && seen++ == 0); };  // lose the first I-frame
    p.ba.logging = true;
    p.a.dte.input.assign(128, 'A');
    p.run(1);
    p.a.dte.input.insert(p.a.dte.input.end(), 128, 'B');
    p.a.dte.input.insert(p.a.dte.input.end(), 128, 'C');
    p.run(200);
    Bytes want(128, 'A');
    want.insert(want.end(), 128, 'B');
    want.insert(want.end(), 128, 'C');
    EXPECT_EQ(p.b.dte.output, want);
    int srej = 0;
    for (const Bytes& f : p.ba.log)
        if (f[1] == 0x0D) {
            ++srej;
            EXPECT_EQ(f, (Bytes{0x01, 0x0D, 0x00}));  // SREJ command from the answerer for N(S) 0
        }
    EXPECT_EQ(srej, 1);
}

TEST_F(LapmUp, HoldSendsRnrAndResumeSendsRr)
{
    bring_up();
    p.ab.logging = true;
    EXPECT_EQ(lapm_hold(&p.a.link), 0);
    p.run(20);
    EXPECT_EQ(p.a.status, LAPM_HELD);
    ASSERT_FALSE(p.ab.log.empty());
    EXPECT_EQ(p.ab.log[0][1], 0x05);
    p.b.dte.input = {'z'};
    p.run(50);
    EXPECT_TRUE(p.a.dte.output.empty());
    lapm_start(&p.a.link, 2);
    p.run(300, [&] { return !p.a.dte.output.empty(); });
    EXPECT_EQ(p.a.status, LAPM_TRANSFER);
    EXPECT_EQ(p.a.dte.output, (Bytes{'z'}));
}

}  // namespace
