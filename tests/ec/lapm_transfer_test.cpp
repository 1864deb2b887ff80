// Two LAPM links back to back: establishment, bulk transfer both ways over a lossy line with and without
// selective reject, and flow control against a reader that stops.
#include <gtest/gtest.h>

#include "lapm_pair.h"

namespace {

#ifdef MODEM_UNDER_SANITIZER
constexpr size_t kBulk = 256 * 1024;
#else
constexpr size_t kBulk = 1024 * 1024;
#endif

bool both_received(const LapmPair& p, size_t n) { return p.a.dte.output.size() >= n && p.b.dte.output.size() >= n; }

TEST(LapmPairTest, EstablishesAndAgreesOnSelectiveReject)
{
    LapmPair p;
    p.setup(lapm_test_setup(1), lapm_test_setup(1));
    p.start();
    p.run(300, [&] { return p.established(); });
    ASSERT_TRUE(p.established());
    EXPECT_EQ(p.a.link.neg.srej, 1);
    EXPECT_EQ(p.b.link.neg.srej, 1);
    EXPECT_EQ(p.a.link.neg.tx_n401, 128);
    EXPECT_EQ(p.b.link.neg.tx_k, 15);
}

struct BulkCase {
    const char* name;
    uint8_t srej;
    double loss;
    double corrupt;
};

class LapmBulkTest : public ::testing::TestWithParam<BulkCase> {};

TEST_P(LapmBulkTest, MovesDataBothWaysByteExact)
{
    const BulkCase& c = GetParam();
    LapmPair p(28800, 7);
    p.setup(lapm_test_setup(c.srej), lapm_test_setup(c.srej));
    p.ab.loss = p.ba.loss = c.loss;
    p.ab.corrupt = p.ba.corrupt = c.corrupt;
    p.start();
    std::vector<uint8_t> to_b = lapm_test_pattern(kBulk, 1);
    std::vector<uint8_t> to_a = lapm_test_pattern(kBulk, 2);
    p.a.dte.input.assign(to_b.begin(), to_b.end());
    p.b.dte.input.assign(to_a.begin(), to_a.end());
    p.run(5'000'000 / 10, [&] { return both_received(p, kBulk); });
    ASSERT_EQ(p.b.dte.output.size(), kBulk) << "status " << int(p.a.status) << "/" << int(p.b.status) << " code "
                                            << int(p.a.link.disconnect_code) << "/" << int(p.b.link.disconnect_code)
                                            << " reason " << int(p.a.link.reason) << "/" << int(p.b.link.reason)
                                            << " at " << p.now_ms << " ms";
    ASSERT_EQ(p.a.dte.output.size(), kBulk);
    EXPECT_TRUE(p.b.dte.output == to_b);
    EXPECT_TRUE(p.a.dte.output == to_a);
    EXPECT_TRUE(p.established());
    uint64_t srej = p.ab.kinds[0x0D] + p.ba.kinds[0x0D];
    uint64_t rej = p.ab.kinds[0x09] + p.ba.kinds[0x09];
    double seconds = p.now_ms / 1000.0;
    std::printf("%s: %.1f s, %.1f %% of the line rate each way; frames %llu/%llu, lost %llu, corrupted %llu, "
                "REJ %llu, SREJ %llu, retransmissions %u/%u\n",
                c.name, seconds, 100.0 * kBulk * 8 / seconds / 28800, (unsigned long long)p.ab.frames,
                (unsigned long long)p.ba.frames, (unsigned long long)(p.ab.lost + p.ba.lost),
                (unsigned long long)(p.ab.corrupted + p.ba.corrupted), (unsigned long long)rej,
                (unsigned long long)srej, p.a.counters.retransmissions, p.b.counters.retransmissions);
    if (c.loss > 0) {
        EXPECT_GT(c.srej ? srej : rej, 0u);
        EXPECT_EQ(c.srej ? rej : srej, 0u);
        EXPECT_GT(p.a.counters.errors + p.b.counters.errors, 0);
        EXPECT_GT(p.ab.lost + p.ab.corrupted, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Lines, LapmBulkTest,
                         ::testing::Values(BulkCase{"Clean", 0, 0, 0}, BulkCase{"LossyRej", 0, 0.01, 0.005},
                                           BulkCase{"LossySrej", 1, 0.01, 0.005},
                                           BulkCase{"VeryLossySrej", 1, 0.05, 0.02},
                                           BulkCase{"VeryLossyRej", 0, 0.05, 0.02}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
