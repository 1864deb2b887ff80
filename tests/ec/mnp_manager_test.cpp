// The error-control manager with its real MNP engine, two modems' data links back to back: which protocol
// the settings choose against far ends that answer MNP, LAPM, only buffered or nothing; the fall-back to
// buffered mode when the link request goes unanswered; flow control by credit; breaks; the link status.
#include <gtest/gtest.h>

#include "ec_pair.h"
#include "layer2/corecode/ec/mnp.h"

namespace {

// MNP, its class and class 5, LAPM, buffered fall-back.
struct Settings {
    uint8_t mnp, mnp_class, mnp5, lapm, buffered;
};

EcParams params(const Settings& s) { return ec_test_params(s.mnp, s.mnp_class, s.mnp5, s.lapm, s.buffered); }

constexpr Settings kMnpOnly{1, 2, 1, 0, 0};        // \N5-like: MNP required
constexpr Settings kMnpSync{1, 3, 0, 0, 1};        // MNP class 3, buffered allowed
constexpr Settings kMnpOrBuffered{1, 2, 0, 0, 1};  // MNP, else buffered
constexpr Settings kLapm{0, 2, 0, 1, 1};           // LAPM (no MNP), buffered allowed
constexpr Settings kLapmOnly{0, 2, 0, 1, 0};
constexpr Settings kBuffered{0, 2, 0, 0, 1};       // \N0/\N1-like: no error control

TEST(MnpManagerTest, ChoiceAgainstTheFarEnd)
{
    const struct {
        const char* name;
        Settings ours;
        Settings far;
        bool far_silent;
        uint8_t state;     // our manager's state at the end
        uint8_t status;    // our last ec_poll answer
        uint8_t protocol;  // protocol code of the link status
        bool data;         // data passes both ways afterwards
    } cases[] = {
        {"MNP, far end MNP", kMnpOnly, kMnpOnly, false, EC_MNP, MNP_STATUS_CONNECTED, EC_PROTOCOL_MNP, true},
        {"MNP class 3, far end MNP class 3", kMnpSync, kMnpSync, false, EC_MNP, MNP_STATUS_CONNECTED,
         EC_PROTOCOL_MNP, true},
        {"MNP class 3, far end MNP class 2", kMnpSync, kMnpOrBuffered, false, EC_MNP, MNP_STATUS_CONNECTED,
         EC_PROTOCOL_MNP, true},
        {"LAPM, far end LAPM", kLapm, kLapm, false, EC_LAPM, LAPM_TRANSFER, EC_PROTOCOL_LAPM, true},
        {"MNP or buffered, far end buffered only", kMnpOrBuffered, kBuffered, false, EC_BUFFERED,
         MNP_STATUS_BUFFERED, EC_PROTOCOL_NONE, true},
        {"MNP or buffered, far end LAPM only", kMnpOrBuffered, kLapmOnly, false, EC_BUFFERED,
         MNP_STATUS_BUFFERED, EC_PROTOCOL_NONE, false},
        {"MNP or buffered, far end silent", kMnpOrBuffered, kMnpOrBuffered, true, EC_BUFFERED,
         MNP_STATUS_BUFFERED, EC_PROTOCOL_NONE, false},
        {"MNP required, far end buffered only", kMnpOnly, kBuffered, false, EC_MNP, MNP_STATUS_IDLE,
         EC_PROTOCOL_NONE, false},
        {"buffered, far end buffered", kBuffered, kBuffered, false, EC_BUFFERED, MNP_STATUS_BUFFERED,
         EC_PROTOCOL_NONE, true},
    };
    for (const auto& c : cases) {
        EcPair p(14400, 3);
        p.set_params(params(c.ours), params(c.far));
        p.mute_ba = c.far_silent;
        p.start();
        p.run(4500);  // the link request's retries run out within this
        uint8_t status[EC_LINK_STATUS_SIZE];
        ec_get_link_status(&p.a.manager, status);
        EXPECT_EQ(p.a.manager.state, c.state) << c.name;
        EXPECT_EQ(p.a.status, c.status) << c.name;
        EXPECT_EQ(status[8], c.protocol) << c.name;
        if (!c.data)
            continue;
        const std::vector<uint8_t> to_b = ec_test_text(3000, 1);
        const std::vector<uint8_t> to_a = ec_test_text(3000, 2);
        p.a.dte.output.clear();
        p.b.dte.output.clear();
        p.a.dte.input.assign(to_b.begin(), to_b.end());
        p.b.dte.input.assign(to_a.begin(), to_a.end());
        p.run(2000, [&] { return p.a.dte.output.size() >= 3000 && p.b.dte.output.size() >= 3000; });
        EXPECT_TRUE(p.b.dte.output == to_b) << c.name;
        EXPECT_TRUE(p.a.dte.output == to_a) << c.name;
    }
}

TEST(MnpManagerTest, UnansweredLinkRequestFailsThenRunsBuffered)
{
    EcPair p(2400, 4);
    p.set_params(params(kMnpOrBuffered), params(kMnpOrBuffered));
    p.mute_ba = true;
    p.start();
    std::vector<uint8_t> seen;
    uint64_t failed_at = 0;
    for (int i = 0; i < 8000 && p.a.status != MNP_STATUS_BUFFERED; ++i) {
        p.run(1);
        if (seen.empty() || seen.back() != p.a.status)
            seen.push_back(p.a.status);
        if (p.a.status == MNP_STATUS_FAILED && failed_at == 0)
            failed_at = p.now_ms;
    }
    EXPECT_EQ(seen, (std::vector<uint8_t>{MNP_STATUS_ESTABLISHING, MNP_STATUS_FAILED, MNP_STATUS_BUFFERED}));
    EXPECT_EQ(p.a.manager.state, EC_BUFFERED);
    EXPECT_EQ(p.a.manager.mnp_link.reason, MNP_REASON_RETRIES);
    // Ten attempts four seconds apart (timer 0 at 2400 bit/s).
    EXPECT_GE(failed_at, 36000u);
    EXPECT_LE(failed_at, 41000u);
}

TEST(MnpManagerTest, StalledReaderHoldsTheSenderByCreditWithoutLoss)
{
    EcPair p(14400, 5);
    p.set_params(params(kMnpOrBuffered), params(kMnpOrBuffered));
    p.start();
    p.run(1000, [&] { return p.a.status == MNP_STATUS_CONNECTED && p.b.status == MNP_STATUS_CONNECTED; });
    ASSERT_EQ(p.b.status, MNP_STATUS_CONNECTED);
    const std::vector<uint8_t> data = ec_test_pattern(64 * 1024, 9);
    p.a.dte.input.assign(data.begin(), data.end());
    p.b.dte.read_per_pass = 0;
    p.run(3000);
    const MnpLink& sender = p.a.manager.mnp_link;
    EXPECT_EQ(p.b.manager.mnp_link.rx.credit_sent, 0);
    EXPECT_EQ(sender.tx.credit, 0);
    EXPECT_GT(p.a.dte.input.size(), 0u);  // held back at the sender, not lost
    EXPECT_TRUE(p.b.dte.output.empty());
    EXPECT_EQ(p.a.status, MNP_STATUS_CONNECTED);
    p.b.dte.read_per_pass = 8192;
    p.run(20000, [&] { return p.b.dte.output.size() >= data.size(); });
    EXPECT_TRUE(p.b.dte.output == data);
}

TEST(MnpManagerTest, BreaksReachTheFarDte)
{
    for (uint8_t mode : {1, 2}) {
        EcPair p(14400, 6);
        // MNP class 5 on: a destructive break restarts both coders, and what follows decodes.
        const Settings mnp5{1, 2, 1, 0, 1};
        EcParams pa = params(mnp5);
        pa.break_mode = mode;
        p.set_params(pa, params(mnp5));
        p.start();
        p.run(1000, [&] { return p.a.status == MNP_STATUS_CONNECTED && p.b.status == MNP_STATUS_CONNECTED; });
        const std::vector<uint8_t> before = ec_test_text(5000, 1);
        const std::vector<uint8_t> after = ec_test_text(5000, 2);
        p.a.dte.input.assign(before.begin(), before.end());
        p.run(2000, [&] { return p.b.dte.output.size() >= before.size(); });
        ASSERT_TRUE(ec_send_break(&p.a.manager, 0, 0));
        p.run(50);
        p.a.dte.input.assign(after.begin(), after.end());
        p.run(2000, [&] { return p.b.dte.output.size() >= before.size() + after.size(); });
        std::vector<uint8_t> want = before;
        want.insert(want.end(), after.begin(), after.end());
        EXPECT_TRUE(p.b.dte.output == want) << int(mode);
        ASSERT_EQ(p.b.dte.breaks.size(), 1u) << int(mode);
        EXPECT_EQ(p.b.dte.breaks[0].first, mode);
        EXPECT_EQ(p.a.status, MNP_STATUS_CONNECTED);
    }
}

TEST(MnpManagerTest, LinkStatusOfAnMnpLink)
{
    EcPair p(14400, 7);
    p.set_params(params(kMnpOnly), params(kMnpOnly));
    p.start();
    p.run(1000, [&] { return p.a.status == MNP_STATUS_CONNECTED && p.b.status == MNP_STATUS_CONNECTED; });
    uint8_t s[EC_LINK_STATUS_SIZE];
    ec_get_link_status(&p.a.manager, s);
    EXPECT_EQ(s[1], 7);          // MNP class 5 on
    EXPECT_EQ(s[2] | s[3] << 8, 256);
    EXPECT_EQ(s[8], EC_PROTOCOL_MNP);
    EXPECT_EQ(s[11], EC_MNP);
    EXPECT_GT(s[5], 0);          // frames received
    p.a.dte.input.assign(100, 'x');
    ec_get_link_status(&p.a.manager, s);
    EXPECT_EQ(s[10] & 1, 1);     // data waiting
    p.run(300);
    ec_get_link_status(&p.a.manager, s);
    EXPECT_EQ(s[10], 0);
    // A disconnect asked by call control ends in buffered mode when reason 0 allows it.
    ec_disconnect(&p.a.manager, 0);
    p.run(300);
    EXPECT_EQ(p.a.status, MNP_STATUS_BUFFERED);
    EXPECT_EQ(p.a.manager.state, EC_BUFFERED);
    EXPECT_EQ(p.b.manager.mnp_link.peer_reason, MNP_REASON_USER);
}

TEST(MnpManagerTest, HoldResumeAndLineAbort)
{
    EcPair p(14400, 8);
    p.set_params(params(kMnpOrBuffered), params(kMnpOrBuffered));
    p.start();
    EXPECT_EQ(ec_hold(&p.a.manager), 145);  // not yet in data transfer
    p.run(1000, [&] { return p.a.status == MNP_STATUS_CONNECTED && p.b.status == MNP_STATUS_CONNECTED; });
    EXPECT_EQ(ec_hold(&p.a.manager), 0);
    p.run(5);
    EXPECT_EQ(p.a.status, MNP_STATUS_HELD);
    EXPECT_EQ(ec_start(&p.a.manager, 2), 0);
    p.run(5);
    EXPECT_EQ(p.a.status, MNP_STATUS_CONNECTED);
    const std::vector<uint8_t> data = ec_test_text(2000, 3);
    p.a.dte.input.assign(data.begin(), data.end());
    p.run(500, [&] { return p.b.dte.output.size() >= data.size(); });
    EXPECT_TRUE(p.b.dte.output == data);
    // The line side ends the link: buffered mode takes over on the plain path.
    ec_line_abort(&p.a.manager, 3);
    p.run(2);
    EXPECT_EQ(p.a.manager.state, EC_BUFFERED);
    EXPECT_EQ(p.a.status, MNP_STATUS_BUFFERED);
    EXPECT_EQ(p.a.manager.mnp_link.peer_reason, 3);
    EXPECT_EQ(p.a.framings.back(), LINE_FRAMING_ASYNC);
    EXPECT_EQ(p.a.lb.mode.load(), LINE_MODE_PLAIN);
}

}  // namespace
