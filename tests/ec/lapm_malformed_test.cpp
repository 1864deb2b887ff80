// Received frames that break the rules: short, bad address, unknown control, wrong length, oversized,
// bad FCS, N(R) out of range; and random frames thrown at a live link.
#include <gtest/gtest.h>

#include <random>

#include "lapm_pair.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct MalformedCase {
    const char* name;
    Bytes frame;
    bool bad_fcs;
    uint32_t short_frames, wrong_address, wrong_length, bad_frames;
    bool link_stays_up;
};

class LapmMalformedTest : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(LapmMalformedTest, IsDroppedOrAnsweredAndCounted)
{
    const MalformedCase& c = GetParam();
    LapmPair p;
    p.setup(lapm_test_setup(0), lapm_test_setup(0));
    p.start();
    p.run(300, [&] { return p.established(); });
    ASSERT_TRUE(p.established());
    LapmLink& b = p.b.link;
    uint8_t bad_before = p.b.counters.bad_frames;
    p.ba.logging = true;
    lapm_rx_frame(&b, c.frame.data(), static_cast<uint16_t>(c.frame.size()), c.bad_fcs);
    p.run(5);
    EXPECT_EQ(b.short_frames, c.short_frames);
    EXPECT_EQ(b.wrong_address, c.wrong_address);
    EXPECT_EQ(b.wrong_length, c.wrong_length);
    EXPECT_EQ(static_cast<uint8_t>(p.b.counters.bad_frames - bad_before), c.bad_frames);
    EXPECT_EQ(b.status == LAPM_TRANSFER, c.link_stays_up);
    if (!c.link_stays_up) {
        ASSERT_GE(p.ba.log.size(), 2u);
        EXPECT_EQ(p.ba.log[0], (Bytes{0x03, 0x87, 0x01, 0x0A, 0x00, 0x00, 0x08}));  // FRMR: RR with N(R) 5
        EXPECT_EQ(p.ba.log[1], (Bytes{0x01, 0x53}));                              // then DISC P=1
        EXPECT_EQ(b.reason, LAPM_REASON_FRMR);
    } else {
        // Still carries data afterwards.
        p.a.dte.input = {'o', 'k'};
        p.run(50);
        EXPECT_EQ(p.b.dte.output, (Bytes{'o', 'k'}));
    }
}

const Bytes kXidShort = {0x03, 0xAF, 0x82, 0x80, 0x00, 0x13, 0x03, 0x03, 0x8A};

INSTANTIATE_TEST_SUITE_P(
    Frames, LapmMalformedTest,
    ::testing::Values(MalformedCase{"OneOctet", {0x03}, false, 1, 0, 0, 0, true},
                      MalformedCase{"ShortIFrame", {0x03, 0x00}, false, 1, 0, 0, 0, true},
                      MalformedCase{"ShortRr", {0x03, 0x01}, false, 1, 0, 0, 0, true},
                      MalformedCase{"BadAddress", {0x07, 0x01, 0x00}, false, 0, 1, 0, 0, true},
                      MalformedCase{"LongRr", {0x03, 0x01, 0x00, 0x55}, false, 0, 0, 1, 0, true},
                      MalformedCase{"LongSabme", {0x03, 0x7F, 0x00}, false, 0, 0, 1, 0, true},
                      MalformedCase{"ShortFrmr", {0x01, 0x87, 0, 0, 0}, false, 0, 0, 1, 0, true},
                      MalformedCase{"ShortUiCommand", {0x03, 0x03, 0x40}, false, 0, 0, 1, 0, true},
                      MalformedCase{"XidShorterThanItsGroup", kXidShort, false, 0, 0, 1, 0, true},
                      MalformedCase{"UnknownControl", {0x03, 0x2F}, false, 0, 0, 0, 0, true},
                      MalformedCase{"XidWithPollBit", {0x03, 0xBF, 0x82}, false, 0, 0, 0, 0, true},
                      MalformedCase{"TestWithPollBit", {0x03, 0xF3, 1, 2}, false, 0, 0, 0, 0, true},
                      MalformedCase{"BadFcs", {0x03, 0x01, 0x00}, true, 0, 0, 0, 1, true},
                      MalformedCase{"Oversized", Bytes(200, 0x02), false, 0, 0, 0, 1, true},
                      MalformedCase{"NrOutOfRange", {0x03, 0x01, 0x0A}, false, 0, 0, 0, 0, false}),
    [](const auto& info) { return std::string(info.param.name); });

// Random frames, some with a plausible address and control, into both ends of a link that carries data.
TEST(LapmFuzzTest, RandomFramesNeverBreakTheLinkRecord)
{
#ifdef MODEM_UNDER_SANITIZER
    constexpr int kRounds = 4000;
#else
    constexpr int kRounds = 20000;
#endif
    std::mt19937 rng(99);
    for (uint8_t srej : {0, 1}) {
        LapmPair p(28800, srej + 5u);
        p.setup(lapm_test_setup(srej), lapm_test_setup(srej));
        p.ab.loss = p.ba.loss = 0.02;
        p.start();
        p.a.dte.input.assign(200000, 'a');
        p.b.dte.input.assign(200000, 'b');
        for (int i = 0; i < kRounds; ++i) {
            LapmLink* target = rng() & 1 ? &p.a.link : &p.b.link;
            Bytes f(rng() % 140);
            for (auto& x : f)
                x = static_cast<uint8_t>(rng());
            if (f.size() >= 2 && (rng() & 1)) {
                f[0] = rng() & 1 ? 0x01 : 0x03;
                static const uint8_t controls[] = {0x00, 0x01, 0x05, 0x09, 0x0D, 0x7F, 0x6F, 0x1F, 0x0F, 0x53,
                                                   0x43, 0x73, 0x63, 0x97, 0x87, 0xAF, 0x13, 0x03, 0xE3};
                f[1] = controls[rng() % sizeof controls];
            }
            lapm_rx_frame(target, f.data(), static_cast<uint16_t>(f.size()), (rng() % 8) == 0);
            p.run(1 + rng() % 3);
            if (p.a.status == LAPM_IDLE && p.b.status == LAPM_IDLE) {
                LapmSetup s = lapm_test_setup(srej);
                p.setup(s, s);
                p.start();
            }
        }
        EXPECT_LE(ec_frame_count(&p.a.link.control) + ec_frame_free_count(&p.a.link.control), LAPM_CONTROL_NODES);
        EXPECT_LE(ec_frame_free_count(&p.b.link.iframes), LAPM_TX_NODES);
    }
}

}  // namespace

namespace {

// Negotiation fields of any content: every length is checked against the end of the field, and the
// negotiated sizes and windows stay usable.
TEST(LapmFuzzTest, RandomXidFieldsAreReadWithinTheirBounds)
{
    std::mt19937 rng(17);
    LapmPair p;
    p.setup(lapm_test_setup(1), lapm_test_setup(1));
    for (int i = 0; i < 20000; ++i) {
        std::vector<uint8_t> info(rng() % 40);
        for (auto& x : info)
            x = static_cast<uint8_t>(rng());
        if (info.size() >= 4 && (rng() & 1)) {
            info[0] = 0x82;
            info[1] = 0x80;
            info[2] = 0;
            info[3] = static_cast<uint8_t>(info.size() - 4 + (rng() % 3) - 1);
        }
        // The field sits at the end of a heap block, so a read past it is caught by the sanitizer.
        std::unique_ptr<uint8_t[]> exact(new uint8_t[info.size() + 1]);
        std::copy(info.begin(), info.end(), exact.get());
        lapm_xid_hdlc_ops.take(&p.a.link, exact.get(), static_cast<uint16_t>(info.size()));
        EXPECT_GE(p.a.link.neg.tx_n401, 1);
        EXPECT_LE(p.a.link.neg.tx_n401, 128);
        EXPECT_GE(p.a.link.neg.tx_k, 1);
        EXPECT_LE(p.a.link.neg.tx_k, 15);
    }
}

}  // namespace
