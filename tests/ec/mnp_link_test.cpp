// Two MNP links back to back through line blocks and the pump's framer: establishment in both framings,
// bulk transfer both ways through a noisy line with MNP class 5 on and off.
#include <gtest/gtest.h>

#include "ec_pair.h"
#include "layer2/corecode/ec/mnp.h"

namespace {

#ifdef MODEM_UNDER_SANITIZER
constexpr size_t kBulk = 48 * 1024;
#else
constexpr size_t kBulk = 1024 * 1024;
#endif

bool connected(const EcPair& p)
{
    return p.a.status == MNP_STATUS_CONNECTED && p.b.status == MNP_STATUS_CONNECTED;
}

TEST(MnpLinkTest, EstablishesInBothFramings)
{
    for (uint8_t cls : {2, 3}) {
        EcPair p;
        p.set_params(ec_test_params(1, cls, 1, 0, 0), ec_test_params(1, cls, 1, 0, 0));
        p.start();
        p.run(1000, [&] { return connected(p); });
        ASSERT_TRUE(connected(p)) << int(cls) << " status " << int(p.a.status) << "/" << int(p.b.status)
                                  << " states " << int(p.a.manager.mnp_link.state) << "/"
                                  << int(p.b.manager.mnp_link.state);
        EXPECT_EQ(p.a.manager.mnp_link.neg.service_class, cls);
        EXPECT_EQ(p.a.manager.mnp_link.neg.mnp5, 1);
        EXPECT_EQ(p.b.manager.mnp_link.neg.mnp5, 1);
        EXPECT_EQ(p.a.framing, cls == 3 ? 2 : 0);
        EXPECT_EQ(p.b.framing, cls == 3 ? 2 : 0);
        std::printf("class %d connected at %llu ms\n", cls, (unsigned long long)p.now_ms);
    }
}

}  // namespace

namespace {

struct BulkCase {
    const char* name;
    uint8_t mnp_class;
    uint8_t mnp5;
    double ber;
    bool text;
};

class MnpBulkTest : public ::testing::TestWithParam<BulkCase> {};

TEST_P(MnpBulkTest, MovesDataBothWaysByteExact)
{
    const BulkCase& c = GetParam();
    EcPair p(14400, 11);
    p.set_params(ec_test_params(1, c.mnp_class, c.mnp5, 0, 0), ec_test_params(1, c.mnp_class, c.mnp5, 0, 0));
    p.start();
    p.run(1000, [&] { return connected(p); });
    ASSERT_TRUE(connected(p));
    p.ber_ab = p.ber_ba = c.ber;
    const std::vector<uint8_t> to_b = c.text ? ec_test_text(kBulk, 1) : ec_test_pattern(kBulk, 1);
    const std::vector<uint8_t> to_a = c.text ? ec_test_text(kBulk, 2) : ec_test_pattern(kBulk, 2);
    p.a.dte.input.assign(to_b.begin(), to_b.end());
    p.b.dte.input.assign(to_a.begin(), to_a.end());
    p.run(10'000'000 / 10, [&] { return p.a.dte.output.size() >= kBulk && p.b.dte.output.size() >= kBulk; });
    const MnpLink& la = p.a.manager.mnp_link;
    const MnpLink& lb = p.b.manager.mnp_link;
    ASSERT_EQ(p.b.dte.output.size(), kBulk) << "status " << int(p.a.status) << "/" << int(p.b.status) << " state "
                                            << int(la.state) << "/" << int(lb.state) << " reason " << int(la.reason)
                                            << "/" << int(lb.reason) << " at " << p.now_ms << " ms";
    ASSERT_EQ(p.a.dte.output.size(), kBulk);
    EXPECT_TRUE(p.b.dte.output == to_b);
    EXPECT_TRUE(p.a.dte.output == to_a);
    EXPECT_TRUE(connected(p));
    const double seconds = p.now_ms / 1000.0;
    std::printf("%s: %.1f s, %.0f bytes/s each way at 14400 bit/s; LTs resent %u/%u, bad frames %u/%u, "
                "bits flipped %llu\n",
                c.name, seconds, kBulk / seconds, la.lt_resent, lb.lt_resent,
                p.a.lb.counters.bad_frames.load(), p.b.lb.counters.bad_frames.load(),
                (unsigned long long)(p.a.bits_flipped + p.b.bits_flipped));
    if (c.ber > 0)
        EXPECT_GT(la.lt_resent + lb.lt_resent, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, MnpBulkTest,
    ::testing::Values(BulkCase{"OctetClean", 2, 0, 0, false}, BulkCase{"OctetNoisy", 2, 0, 2e-5, false},
                      BulkCase{"OctetNoisyMnp5Text", 2, 1, 2e-5, true}, BulkCase{"OctetNoisyMnp5Random", 2, 1, 2e-5, false},
                      BulkCase{"HdlcClean", 3, 0, 0, false}, BulkCase{"HdlcNoisy", 3, 0, 2e-5, false},
                      BulkCase{"HdlcNoisyMnp5Text", 3, 1, 2e-5, true}, BulkCase{"OctetVeryNoisy", 2, 1, 1e-4, true},
                      BulkCase{"HdlcVeryNoisy", 3, 0, 1e-4, false}),
    [](const ::testing::TestParamInfo<BulkCase>& i) { return std::string(i.param.name); });

}  // namespace
