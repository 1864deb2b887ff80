// Two LAPM links negotiating V.44 through their XID exchange with every direction setting on each side,
// carrying data both ways byte-exact over a clean and a lossy line; a damaged code stream ends the link
// with code 250; the dictionaries are in the pool while the link runs and gone when it stops.
#include <gtest/gtest.h>

#include "ec/v42bis_support.h"
#include "layer2/corecode/ec/lapm_compress.h"
#include "lapm_pair.h"
#include "platform/machine.h"

namespace {

#ifdef MODEM_UNDER_SANITIZER
constexpr size_t kBulk = 128 * 1024;
#else
constexpr size_t kBulk = 1024 * 1024;
#endif

XidV44Values v44_request(uint8_t direction)
{
    return XidV44Values{0, direction, 2048, 2048, 140, 140, 8192, 8192};
}

struct V44Link {
    LapmPair p;
    LapmCompression ca;
    LapmCompression cb;

    V44Link(uint8_t da, uint8_t db, uint32_t seed = 3, uint8_t break_mode = 1) : p(28800, seed)
    {
        LapmSetup s = lapm_test_setup(1);
        s.p0 = 3;
        s.break_mode = break_mode;
        p.setup(s, s);
        XidV44Values va = v44_request(da);
        XidV44Values vb = v44_request(db);
        lapm_compression_attach(&p.a.link, &ca, &va);
        lapm_compression_attach(&p.b.link, &cb, &vb);
        p.start();
    }
    ~V44Link()
    {
        lapm_stop(&p.a.link);
        lapm_stop(&p.b.link);
    }

    void send(const std::vector<uint8_t>& to_b, const std::vector<uint8_t>& to_a, uint64_t passes)
    {
        p.a.dte.input.assign(to_b.begin(), to_b.end());
        p.b.dte.input.assign(to_a.begin(), to_a.end());
        p.run(passes, [&] { return p.a.dte.output.size() >= to_a.size() && p.b.dte.output.size() >= to_b.size(); });
    }
};

uint8_t swap_directions(uint8_t d) { return static_cast<uint8_t>(((d & 1) << 1) | ((d >> 1) & 1)); }

struct Line {
    const char* name;
    double loss;
};

class LapmV44Bulk : public ::testing::TestWithParam<Line> {};

TEST_P(LapmV44Bulk, TextOneWayRandomTheOtherByteExact)
{
    auto c = std::make_unique<V44Link>(3, 3, 11);
    LapmPair& p = c->p;
    p.ab.loss = p.ba.loss = GetParam().loss;
    std::vector<uint8_t> to_b = v42bis_test::make_text(kBulk, 1);
    std::vector<uint8_t> to_a = v42bis_test::make_random(kBulk, 2);
    c->send(to_b, to_a, 5'000'000 / 10);
    EXPECT_EQ(c->ca.comp.engine, &kV44Engine);
    EXPECT_EQ(c->cb.comp.engine, &kV44Engine);
    EXPECT_EQ(c->ca.v42bis.p0, 0);
    ASSERT_EQ(p.b.dte.output.size(), kBulk) << "code " << int(p.a.link.disconnect_code) << "/"
                                            << int(p.b.link.disconnect_code);
    ASSERT_EQ(p.a.dte.output.size(), kBulk);
    EXPECT_TRUE(p.b.dte.output == to_b);
    EXPECT_TRUE(p.a.dte.output == to_a);
    // Text crosses in well under half its size; random data barely grows (transparent mode).
    EXPECT_LT(p.ab.octets, kBulk * 4 / 10);
    EXPECT_LT(p.ba.octets, kBulk + kBulk / 10);
}

INSTANTIATE_TEST_SUITE_P(Lines, LapmV44Bulk, ::testing::Values(Line{"clean", 0.0}, Line{"lossy", 0.01}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LapmV44, EveryDirectionSettingOnEachSide)
{
    for (uint8_t da = 0; da <= 3; ++da) {
        for (uint8_t db = 0; db <= 3; ++db) {
            auto c = std::make_unique<V44Link>(da, db);
            LapmPair& p = c->p;
            std::vector<uint8_t> to_b = v42bis_test::make_text(30000, 5 + da);
            std::vector<uint8_t> to_a = v42bis_test::make_mixed(30000, 6 + db);
            c->send(to_b, to_a, 200'000);
            SCOPED_TRACE(testing::Message() << "originator " << int(da) << ", answerer " << int(db));
            bool v44 = da != 0 && db != 0;
            // Each side's directions in its own terms: its transmit meets the peer's receive.
            uint8_t local_a = v44 ? da & swap_directions(db) : 0;
            uint8_t local_b = v44 ? db & swap_directions(da) : 0;
            EXPECT_EQ(c->ca.v44.tx.flags | c->ca.v44.rx.flags, local_a);
            EXPECT_EQ(c->cb.v44.tx.flags | c->cb.v44.rx.flags, local_b);
            // Without V.44 on both sides V.42bis runs; agreeing on V.44 turns V.42bis off.
            EXPECT_EQ(c->ca.v42bis.p0, v44 ? 0 : 3);
            EXPECT_EQ(c->cb.v42bis.p0, v44 ? 0 : 3);
            ASSERT_EQ(p.b.dte.output.size(), to_b.size());
            ASSERT_EQ(p.a.dte.output.size(), to_a.size());
            EXPECT_TRUE(p.b.dte.output == to_b);
            EXPECT_TRUE(p.a.dte.output == to_a);
            bool a_compresses = v44 ? (local_a & V44_ENCODE) != 0 : true;
            if (a_compresses)
                EXPECT_LT(p.ab.octets, to_b.size() / 2);
            else
                EXPECT_GT(p.ab.octets, to_b.size());
        }
    }
}

TEST(LapmV44, DamagedCodeStreamDisconnectsWithCode250)
{
    auto c = std::make_unique<V44Link>(3, 3);
    LapmPair& p = c->p;
    p.run(300, [&] { return p.established(); });
    ASSERT_TRUE(p.established());
    // The line turns the first I-frame's information into codeword 5 while 4 is the next free one.
    bool damaged = false;
    p.ab.filter = [&](std::vector<uint8_t>& f) {
        if (!damaged && f.size() > 3 && (f[1] & 1) == 0) {
            f.resize(3);
            f.push_back(0x0B);
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

TEST(LapmV44, InSequenceBreakFlushesAtItsByteCount)
{
    auto c = std::make_unique<V44Link>(3, 3, 3, 3);
    LapmPair& p = c->p;
    p.run(300, [&] { return p.established(); });
    ASSERT_TRUE(p.established());
    p.ab.logging = true;
    EXPECT_FALSE(lapm_send_break(&p.a.link, 0, 100));
    std::vector<uint8_t> text = v42bis_test::make_text(1000, 4);
    p.a.dte.input.assign(text.begin(), text.end());
    p.run(2000, [&] { return p.b.dte.output.size() == text.size(); });
    EXPECT_TRUE(p.b.dte.output == text);
    // The first I-frame ends with the code of the 100 bytes before the break, flushed: a decoder that
    // gets only this frame gives exactly those bytes.
    const std::vector<uint8_t>* first = nullptr;
    for (const auto& f : p.ab.log)
        if (!first && f.size() > 3 && (f[1] & 1) == 0)
            first = &f;
    ASSERT_NE(first, nullptr);
    V44Engine dec{};
    XidV44Values v{0, V44_DECODE, 2048, 2048, 140, 140, 8192, 8192};
    ASSERT_TRUE(v44_start(&dec, &v));
    uint8_t out[200];
    size_t used = 0;
    size_t made = 0;
    EXPECT_EQ(v44_decompress(&dec, first->data() + 3, first->size() - 3, &used, out, sizeof out, &made), V44_OK);
    EXPECT_EQ(std::vector<uint8_t>(out, out + made), std::vector<uint8_t>(text.begin(), text.begin() + 100));
    EXPECT_EQ(dec.dec.bit_count, 0);  // nothing left over: the frame ends on the fill after FLUSH
    v44_free_dictionaries(&dec);
}

TEST(LapmV44, DictionariesLiveWhileTheLinkRunsAndGoBackAtStop)
{
    platform::Clock clock;
    platform::Machine machine({&clock, "v44-link", ""});
    platform::MachineScope scope(machine);
    const ULONG tags[] = {POOL_TAG('D', 'I', 'C', 'T'), POOL_TAG('D', 'I', 'C', 'R'), POOL_TAG('D', 'I', 'C', 'S')};
    {
        auto c = std::make_unique<V44Link>(3, 3);
        std::vector<uint8_t> text = v42bis_test::make_text(20000, 9);
        c->send(text, text, 100'000);
        EXPECT_TRUE(c->p.b.dte.output == text);
        for (ULONG tag : tags)
            EXPECT_EQ(machine.LiveBlocks(tag), 2) << tag;  // one per link
        EXPECT_EQ(machine.LiveBytes(tags[0]), 2 * (8192 + 8 * 2048));
        lapm_stop(&c->p.a.link);
        for (ULONG tag : tags)
            EXPECT_EQ(machine.LiveBlocks(tag), 1) << tag;
    }
    EXPECT_EQ(machine.LiveBlocks(), 0);
}

TEST(LapmV44, NoDictionaryMemoryEndsTheLinkWithCode250)
{
    platform::Clock clock;
    platform::Machine machine({&clock, "v44-short", ""});
    platform::MachineScope scope(machine);
    auto c = std::make_unique<V44Link>(3, 3);
    machine.FailAllocation(1);  // the answerer takes the XID command first and sets up its engine
    c->p.run(1000, [&] { return c->p.a.link.disconnect_code != 0 || c->p.b.link.disconnect_code != 0; });
    EXPECT_EQ(c->p.b.link.disconnect_code, LAPM_DC_COMPRESSOR);
    EXPECT_EQ(c->cb.v44.tx.flags | c->cb.v44.rx.flags, 0);
}

} // namespace
