// Two LAPM links negotiating V.42bis through their XID exchange and carrying compressed data both ways,
// over a clean and a lossy line; differing settings land on the common subset.
#include <gtest/gtest.h>

#include "ec/v42bis_support.h"
#include "layer2/corecode/ec/lapm_compress.h"
#include "lapm_pair.h"

namespace {

#ifdef MODEM_UNDER_SANITIZER
constexpr size_t kBulk = 128 * 1024;
#else
constexpr size_t kBulk = 1024 * 1024;
#endif

struct Compressed {
    LapmPair p;
    LapmCompression ca;
    LapmCompression cb;

    Compressed(const LapmSetup& sa, const LapmSetup& sb, uint32_t seed = 3) : p(28800, seed)
    {
        p.setup(sa, sb);
        XidV44Values no_v44{};
        lapm_compression_attach(&p.a.link, &ca, &no_v44);
        lapm_compression_attach(&p.b.link, &cb, &no_v44);
        p.start();
    }
};

LapmSetup with_v42bis(uint8_t p0, uint16_t p1, uint8_t p2)
{
    LapmSetup s = lapm_test_setup(1);
    s.p0 = p0;
    s.p1 = p1;
    s.p2 = p2;
    return s;
}

struct Case {
    const char* name;
    double loss;
};

class LapmV42bisTest : public ::testing::TestWithParam<Case> {};

TEST_P(LapmV42bisTest, TextOneWayRandomTheOtherByteExact)
{
    static Compressed* c;
    c = new Compressed(with_v42bis(3, 2048, 32), with_v42bis(3, 2048, 32), 11);
    LapmPair& p = c->p;
    p.ab.loss = p.ba.loss = GetParam().loss;
    std::vector<uint8_t> to_b = v42bis_test::make_text(kBulk, 1);
    std::vector<uint8_t> to_a = v42bis_test::make_random(kBulk, 2);
    p.a.dte.input.assign(to_b.begin(), to_b.end());
    p.b.dte.input.assign(to_a.begin(), to_a.end());
    p.run(5'000'000 / 10, [&] { return p.a.dte.output.size() >= kBulk && p.b.dte.output.size() >= kBulk; });
    EXPECT_EQ(c->ca.v42bis.p0, 3);
    EXPECT_EQ(c->cb.v42bis.p0, 3);
    ASSERT_EQ(p.b.dte.output.size(), kBulk) << "code " << int(p.a.link.disconnect_code) << "/"
                                            << int(p.b.link.disconnect_code);
    ASSERT_EQ(p.a.dte.output.size(), kBulk);
    EXPECT_TRUE(p.b.dte.output == to_b);
    EXPECT_TRUE(p.a.dte.output == to_a);
    // Text crosses the line in well under half its size; random data barely grows.
    EXPECT_LT(p.ab.octets, kBulk / 2 + kBulk / 20);
    EXPECT_LT(p.ba.octets, kBulk + kBulk / 10);
    delete c;
}

INSTANTIATE_TEST_SUITE_P(Lines, LapmV42bisTest, ::testing::Values(Case{"clean", 0.0}, Case{"lossy", 0.01}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LapmV42bis, DifferingSettingsLandOnTheCommonSubset)
{
    struct Row {
        uint8_t pa, pb;
        uint16_t da, db;
        uint8_t sa, sb;
        uint8_t local_a, local_b;
    };
    const Row rows[] = {{3, 1, 1024, 2048, 250, 6, 2, 1}, {1, 3, 2048, 512, 32, 100, 1, 2}, {0, 3, 2048, 2048, 32, 32, 0, 0}};
    for (const Row& r : rows) {
        auto c = std::make_unique<Compressed>(with_v42bis(r.pa, r.da, r.sa), with_v42bis(r.pb, r.db, r.sb));
        LapmPair& p = c->p;
        std::vector<uint8_t> to_b = v42bis_test::make_text(40000, 5);
        std::vector<uint8_t> to_a = v42bis_test::make_mixed(40000, 6);
        p.a.dte.input.assign(to_b.begin(), to_b.end());
        p.b.dte.input.assign(to_a.begin(), to_a.end());
        p.run(200'000, [&] { return p.a.dte.output.size() >= to_a.size() && p.b.dte.output.size() >= to_b.size(); });
        for (const LapmLink* l : {&p.a.link, &p.b.link}) {
            EXPECT_EQ(l->neg.p1, std::min(r.da, r.db));
            EXPECT_EQ(l->neg.p2, std::min(r.sa, r.sb));
        }
        EXPECT_EQ(c->ca.v42bis.p0, r.local_a);
        EXPECT_EQ(c->cb.v42bis.p0, r.local_b);
        EXPECT_TRUE(p.b.dte.output == to_b);
        EXPECT_TRUE(p.a.dte.output == to_a);
    }
}

TEST(LapmV42bis, DecoderErrorDisconnectsWithCode250)
{
    auto c = std::make_unique<Compressed>(with_v42bis(3, 2048, 32), with_v42bis(3, 2048, 32));
    LapmPair& p = c->p;
    p.run(300, [&] { return p.established(); });
    ASSERT_TRUE(p.established());
    // The line turns the first I-frame's information into escape + ECM + a string code not learnt.
    bool damaged = false;
    p.ab.filter = [&](std::vector<uint8_t>& f) {
        if (!damaged && f.size() > 3 && (f[1] & 1) == 0) {
            f.resize(3);
            f.insert(f.end(), {0x00, 0x00, 0x2C, 0x01});
            damaged = true;
        }
        return true;
    };
    std::vector<uint8_t> text = v42bis_test::make_text(2000, 8);
    p.a.dte.input.assign(text.begin(), text.end());
    p.run(3000, [&] { return p.b.link.disconnect_code != 0; });
    EXPECT_TRUE(damaged);
    EXPECT_EQ(p.b.link.disconnect_code, LAPM_DC_COMPRESSOR);
}

} // namespace
