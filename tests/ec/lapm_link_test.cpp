// LAPM establishment, timers, disconnection and frame octets.
#include <gtest/gtest.h>

#include "lapm_pair.h"
#include "layer2/corecode/ec/lapm_internal.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes prefix(const Bytes& v, size_t n) { return Bytes(v.begin(), v.begin() + std::min(n, v.size())); }

TEST(LapmLinkTest, OriginatorSendsItsFirstXidAfterFourTicksWithTheOwnProposal)
{
    LapmPair p;
    p.setup(lapm_test_setup(1), lapm_test_setup(1));
    p.ab.logging = p.ba.logging = true;
    p.ab.loss = 1.0;  // the answerer hears nothing
    p.start();
    p.run(39);
    EXPECT_EQ(p.ab.frames, 0u);
    p.run(2);
    ASSERT_EQ(p.ab.frames, 1u);
    const Bytes xid = {0x03, 0xAF, 0x82, 0x80, 0x00, 0x13, 0x03, 0x03, 0x8E, 0x89, 0x00, 0x05, 0x02,
                       0x04, 0x00, 0x06, 0x02, 0x04, 0x00, 0x07, 0x01, 0x0F, 0x08, 0x01, 0x0F};
    EXPECT_EQ(p.ab.log[0], xid);
    EXPECT_EQ(p.b.status, LAPM_ESTABLISHING);
}

TEST(LapmLinkTest, SetupResendsEveryHalfSecondAndGivesUpWhenTheBudgetIsSpent)
{
    LapmPair p;
    LapmSetup s = lapm_test_setup(0);
    s.retry_budget = 3;  // 3 x 10 / 5 ticks = 6 retransmissions
    p.setup(s, s);
    p.ab.logging = true;
    p.ab.loss = 1.0;
    p.start();
    p.run(1);
    p.run(1000, [&] { return p.a.status == LAPM_IDLE; });
    EXPECT_EQ(p.a.status, LAPM_IDLE);
    EXPECT_EQ(p.a.link.disconnect_code, LAPM_DC_SETUP_FAILED);
    // The first XID at 400 ms, then a resend every 500 ms; the sixth spends the budget.
    EXPECT_EQ(p.now_ms, 400u + 6 * 500);
    p.run(50);
    EXPECT_EQ(p.ab.frames, 7u);
    EXPECT_EQ(p.a.counters.retransmissions, 6);
    EXPECT_EQ(p.a.call.retransmit_failures, 1);
    for (const Bytes& f : p.ab.log)
        EXPECT_EQ(f[1], 0xAF);
}

TEST(LapmLinkTest, SetupWithoutCountingConnectionModeNeverGivesUp)
{
    LapmPair p;
    LapmSetup s = lapm_test_setup(0);
    s.retry_budget = 1;
    p.setup(s, s);
    p.a.call.connection_mode = 1;
    p.ab.loss = 1.0;
    p.start();
    p.run(3000);
    EXPECT_EQ(p.a.status, LAPM_ESTABLISHING);
    EXPECT_GT(p.ab.frames, 50u);
}

TEST(LapmLinkTest, EstablishmentFramesHaveTheirAddressesAndControlOctets)
{
    LapmPair p;
    p.setup(lapm_test_setup(0), lapm_test_setup(0));
    p.ab.logging = p.ba.logging = true;
    p.start();
    p.run(200, [&] { return p.established(); });
    ASSERT_TRUE(p.established());
    ASSERT_GE(p.ab.log.size(), 2u);
    ASSERT_GE(p.ba.log.size(), 2u);
    EXPECT_EQ(prefix(p.ba.log[0], 2), (Bytes{0x03, 0xAF}));  // XID response, answerer's response address
    EXPECT_EQ(p.ab.log[1], (Bytes{0x03, 0x7F}));              // SABME P=1
    EXPECT_EQ(p.ba.log[1], (Bytes{0x03, 0x73}));              // UA F=1
    // Information transfer starts with T401 at 5 ticks and T403 running.
    EXPECT_EQ(p.a.link.timers.t401_limit, 5u);
    EXPECT_GE(p.a.link.timers.t403, 0);
}

TEST(LapmLinkTest, FirstIFramesAndAcknowledgementsCarryTheirNumbers)
{
    LapmPair p;
    p.setup(lapm_test_setup(0), lapm_test_setup(0));
    p.start();
    p.run(200, [&] { return p.established(); });
    p.ab.logging = p.ba.logging = true;
    p.a.dte.input = {'h', 'i'};
    p.run(50);
    ASSERT_FALSE(p.ab.log.empty());
    EXPECT_EQ(p.ab.log[0], (Bytes{0x03, 0x00, 0x00, 'h', 'i'}));
    ASSERT_FALSE(p.ba.log.empty());
    EXPECT_EQ(p.ba.log[0], (Bytes{0x03, 0x01, 0x02}));  // RR response F=0, N(R)=1 from the answerer
    EXPECT_EQ(p.b.dte.output, (Bytes{'h', 'i'}));
}

TEST(LapmLinkTest, TimerValuesFollowTheLineRates)
{
    struct Row {
        uint16_t tx, rx;
        uint32_t t401, t403;
        uint32_t setup;  // T401 while the link is not up: an XID each way at the slower rate, at least 5
    };
    for (Row r : {Row{28800, 1200, 95, 45, 19}, Row{300, 300, 540, 860, 67}, Row{2400, 2400, 90, 40, 11},
                  Row{33600, 33600, 10, 30, 5}, Row{40000, 40000, 1, 30, 5}, Row{9600, 14400, 37, 37, 5}}) {
        LapmPair p;
        p.a.call.tx_rate = r.tx;
        p.a.call.rx_rate = r.rx;
        LapmSetup s = lapm_test_setup(0);
        lapm_setup(&p.a.link, &s);
        EXPECT_EQ(p.a.link.timers.t401_limit, r.setup) << r.tx << "/" << r.rx;
        EXPECT_EQ(p.a.link.timers.t403_limit, r.t403) << r.tx << "/" << r.rx;
        p.a.link.status = LAPM_TRANSFER;
        lapm_reload_t401(&p.a.link);
        EXPECT_EQ(p.a.link.timers.t401_limit, r.t401) << r.tx << "/" << r.rx;
    }
}

}  // namespace

namespace {

std::vector<std::pair<void*, uint16_t>> g_line_starts;

TEST(LapmLinkTest, StartHandsTheLineOptionToTheLineSideWhenOriginating)
{
    g_line_starts.clear();
    LapmPair p;
    LapmSetup s = lapm_test_setup(0);
    s.line_option = 0x1234;
    for (LapmEnd* e : {&p.a, &p.b})
        e->link.host.line_start = [](void* c, uint16_t option) { g_line_starts.emplace_back(c, option); };
    p.setup(s, s);
    p.start();
    ASSERT_EQ(g_line_starts.size(), 2u);
    EXPECT_EQ(g_line_starts[0], (std::pair<void*, uint16_t>{&p.a.dte, 0x1234}));
    EXPECT_EQ(g_line_starts[1], (std::pair<void*, uint16_t>{&p.b.dte, 0}));
}

}  // namespace

namespace {

// At the lowest rates an XID command and its response take longer on the line than the half second the
// set-up waits at higher rates: the originator must not send them again before they could be answered, and
// the answerer, which takes a second reset of an established link as a fault (DM), stays in transfer.
TEST(LapmLinkTest, SetupAtLowRatesWaitsForTheAnswerOnce)
{
    for (uint16_t rate : {300, 1200, 2400}) {
        SCOPED_TRACE(rate);
        LapmPair p(rate);
        p.setup(lapm_test_setup(1), lapm_test_setup(1));
        p.start();
        ASSERT_LT(p.run(6000, [&] { return p.a.status == LAPM_TRANSFER && p.b.status == LAPM_TRANSFER; }), 6000u);
        p.run(1000);
        EXPECT_EQ(p.a.status, LAPM_TRANSFER);
        EXPECT_EQ(p.b.status, LAPM_TRANSFER);
        EXPECT_EQ(p.ab.kinds[LC_SABME | LC_PF], 1u) << "SABME sent again";
        EXPECT_EQ(p.ab.kinds[LC_XID], 1u) << "XID sent again";
        EXPECT_EQ(p.ba.kinds[LC_DM | LC_PF] + p.ba.kinds[LC_DM], 0u);
    }
}

}  // namespace
