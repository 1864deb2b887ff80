// The data-frame parameters of every (symbol rate, data rate) pair against a table worked out here from V.34's
// rules, and the small framing helpers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "layer1/modem/v34/v34_framing.h"

namespace {

// V.34's symbol rates as exact fractions of 2400 (2743 is 2400 x 8/7, 3429 is 2400 x 10/7), with J and P.
struct RateRule {
    int64_t num;
    int64_t den;
    int32_t J;
    int32_t P;
    int32_t lowest;   // data-rate multiples of 2400 allowed at this symbol rate
    int32_t highest;
};
constexpr RateRule kRules[6] = {
    {1, 1, 7, 12, 1, 9}, {8, 7, 8, 12, 2, 11}, {7, 6, 7, 14, 2, 11},
    {5, 4, 7, 15, 2, 12}, {4, 3, 7, 16, 2, 13}, {10, 7, 8, 15, 2, 14},
};

struct Expected {
    int32_t b, K, q, r;
};

// A data frame lasts 280/J ms, so it carries N = R x 0.28 / J bits; frames of b and b - 1 bits with
// b = ceil(N / P) and r = N - P(b - 1) long ones. Above 12 bits, K = b - 12 - 8q with q the smallest that
// keeps K below 32.
Expected FromRules(const RateRule& rule, int32_t rate)
{
    // N = R * 8P / S with S = 2400 * num / den: exact in integers.
    const int64_t nNum = static_cast<int64_t>(rate) * 8 * rule.P * rule.den;
    const int64_t nDen = 2400 * rule.num;
    EXPECT_EQ(nNum % nDen, 0) << "a data frame carries a whole number of bits";
    const int64_t n = nNum / nDen;
    Expected e{};
    e.b = static_cast<int32_t>((n + rule.P - 1) / rule.P);
    e.r = static_cast<int32_t>(n - static_cast<int64_t>(rule.P) * (e.b - 1));
    if (e.b > 12) {
        e.q = 0;
        while (e.b - 12 - 8 * e.q > 31)
            ++e.q;
        e.K = e.b - 12 - 8 * e.q;
    }
    return e;
}

V34FrameParams Params(int32_t rateIndex, int32_t multiple, int32_t row)
{
    V34FrameParams p{};
    p.symbolRateIndex = rateIndex;
    p.rateMultiple = multiple;
    p.row = row;
    p.symbolRate = V34SymbolRate(rateIndex);
    return p;
}

int Ones(uint32_t v)
{
    int n = 0;
    for (; v != 0; v &= v - 1)
        ++n;
    return n;
}

TEST(V34FrameParameters, EveryAllowedPairFollowsTheRules)
{
    int pairs = 0;
    for (int s = 0; s < 6; ++s) {
        const RateRule& rule = kRules[s];
        for (int m = rule.lowest; m <= rule.highest; ++m) {
            const Expected e = FromRules(rule, 2400 * m);
            for (int row = 0; row < 2; ++row) {
                V34FrameParams p = Params(s, m, row);
                EXPECT_EQ(V34FrameParameters(&p), rule.P);
                SCOPED_TRACE(testing::Message() << "symbol rate " << s << " rate " << 2400 * m << " row " << row);
                EXPECT_EQ(p.J, rule.J);
                EXPECT_EQ(p.P, rule.P);
                EXPECT_EQ(p.b, e.b);
                EXPECT_EQ(p.K, e.K);
                EXPECT_EQ(p.q, e.q);
                EXPECT_EQ(Ones(p.switchingPattern), e.r);
                EXPECT_EQ(p.switchingPattern >> p.P, 0);
                // Long frames spread evenly: frame i is long when floor((i+1)r/P) passes floor(ir/P).
                for (int i = 0; i < p.P; ++i) {
                    const bool longFrame = ((i + 1) * e.r) / p.P != (i * e.r) / p.P;
                    EXPECT_EQ(((p.switchingPattern >> (p.P - 1 - i)) & 1) != 0, longFrame) << "frame " << i;
                }
                EXPECT_EQ(p.bitMask, e.b < 56 ? 127 : 255);
                EXPECT_EQ(p.step, e.b < 56 ? -2 : -4);
                EXPECT_EQ(p.gain, rule.J == 8 ? 30714 : 7678);
                EXPECT_EQ(p.fraction, 0);
            }
            ++pairs;
        }
    }
    EXPECT_EQ(pairs, 65);
}

TEST(V34FrameParameters, PrintedExamples)
{
    V34FrameParams low = Params(0, 1, 0);
    V34FrameParameters(&low);
    EXPECT_EQ(low.b, 8);
    EXPECT_EQ(low.K, 0);
    EXPECT_EQ(low.q, 0);
    EXPECT_EQ(low.M, 1);

    V34FrameParams top = Params(5, 14, 1);
    V34FrameParameters(&top);
    EXPECT_EQ(top.b, 79);
    EXPECT_EQ(top.K, 27);
    EXPECT_EQ(top.q, 5);
    EXPECT_EQ(top.P, 15);
    EXPECT_EQ(Ones(top.switchingPattern), 6);

    V34FrameParams all = Params(4, 2, 0);  // 3200 baud at 4800: b 12, every frame long
    V34FrameParameters(&all);
    EXPECT_EQ(all.b, 12);
    EXPECT_EQ(all.switchingPattern, 0xFFFF);

    V34FrameParams extra = Params(0, 1, 0);
    extra.extraMultiple = 1;
    V34FrameParameters(&extra);
    EXPECT_EQ(extra.b, 9);
    EXPECT_EQ(extra.fraction, 1755);
}

TEST(V34FrameParameters, RingCountsMatchThePrintedRowsAndCoverTheIndices)
{
    const int row0[32] = {1, 2, 2, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 10, 11, 12,
                          13, 14, 15};
    const int row1[32] = {1, 2, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 5, 5, 5, 6, 6, 7, 8, 8, 9, 10, 11, 12, 13,
                          14, 15, 17, 18};
    for (int k = 0; k < 32; ++k) {
        EXPECT_EQ(V34RingCount(0, k), row0[k]) << k;
        EXPECT_EQ(V34RingCount(1, k), row1[k]) << k;
        for (int row = 0; row < 2; ++row) {
            uint64_t power = 1;
            for (int i = 0; i < 8; ++i)
                power *= static_cast<uint64_t>(V34RingCount(row, k));
            EXPECT_GE(power, uint64_t{1} << k) << "row " << row << " K " << k;
        }
    }
}

// g2, g4 and z8 against direct counts of ring tuples, for every M of both rows (z8 passes 2^32 at 17 and 18).
TEST(V34FrameParameters, ShellTablesCountRingTuples)
{
    for (int m = 1; m <= 18; ++m) {
        V34FrameParams q{};
        q.M = m;
        BuildV34ShellTables(&q);
        std::vector<uint64_t> pairs(2 * m - 1, 0), quads(4 * m - 3, 0), eights(8 * m - 7, 0);
        for (int a = 0; a < m; ++a)
            for (int b = 0; b < m; ++b)
                ++pairs[a + b];
        for (size_t x = 0; x < pairs.size(); ++x)
            for (size_t y = 0; y < pairs.size(); ++y)
                quads[x + y] += pairs[x] * pairs[y];
        for (size_t x = 0; x < quads.size(); ++x)
            for (size_t y = 0; y < quads.size(); ++y)
                eights[x + y] += quads[x] * quads[y];
        for (size_t i = 0; i < pairs.size(); ++i)
            EXPECT_EQ(q.g2[i], pairs[i]) << "M " << m;
        for (size_t i = 0; i < quads.size(); ++i)
            EXPECT_EQ(q.g4[i], quads[i]) << "M " << m;
        uint64_t below = 0;
        for (size_t i = 0; i < eights.size(); ++i) {
            EXPECT_EQ(q.z8[i], below) << "M " << m << " sum " << i;
            below += eights[i];
        }
        EXPECT_EQ(q.z8[eights.size()], below);
        uint64_t all = 1;
        for (int i = 0; i < 8; ++i)
            all *= static_cast<uint64_t>(m);
        EXPECT_EQ(below, all);
    }
}

// The frame parameters build the tables of their own M (3429 baud at 33600 with shaping: K 27, M 13).
TEST(V34FrameParameters, BuildsTheShellTablesOfItsRingCount)
{
    V34FrameParams p = Params(5, 14, 1);
    V34FrameParameters(&p);
    EXPECT_EQ(p.M, 13);
    V34FrameParams q{};
    q.M = 13;
    BuildV34ShellTables(&q);
    for (int i = 0; i < 8 * 13 - 6; ++i)
        EXPECT_EQ(p.z8[i], q.z8[i]) << i;
}

TEST(V34Framing, RotateQuadrantAccumulatesAndRotates)
{
    uint8_t q = 3;
    EXPECT_EQ(RotateQuadrant(1, &q), PackComplex(128, 128));
    EXPECT_EQ(q, 0);
    struct Case {
        uint8_t stored;
        uint32_t bits;
        int re, im;
        uint8_t after;
    };
    const Case cases[] = {
        {0, 0x0, 128, 128, 0},  {0, 0x1, 128, -128, 1},  {0, 0x2, -128, -128, 2}, {0, 0x3, -128, 128, 3},
        {1, 0x4, 128, 384, 1},  {2, 0x8, -128, 384, 2},  {0, 0xC, -384, -384, 0}, {2, 0xF, -384, 384, 1},
    };
    for (const Case& c : cases) {
        uint8_t s = c.stored;
        EXPECT_EQ(RotateQuadrant(c.bits, &s), PackComplex(c.re, c.im)) << c.bits << " from " << int(c.stored);
        EXPECT_EQ(s, c.after);
    }
}

TEST(V34Framing, PrecoderOutputRoundsEachPartInQ14)
{
    const PackedComplex zero[3] = {};
    const PackedComplex history[3] = {PackComplex(1000, -2000), PackComplex(-300, 77), PackComplex(5, 5)};
    EXPECT_EQ(PrecoderOutput(zero, history), 0u);
    // c0 = 0.5: (500, -1000) exactly; c1 = j: j * (-300 + 77j) = (-77, -300).
    const PackedComplex c[3] = {PackComplex(8192, 0), PackComplex(0, 16384), 0};
    EXPECT_EQ(PrecoderOutput(c, history), PackComplex(500 - 77, -1000 - 300));
    // (|v| + 8191) >> 14: half a unit rounds down, a bit more rounds up, symmetric in sign.
    const PackedComplex h1[3] = {PackComplex(1, -1), 0, 0};
    const PackedComplex half[3] = {PackComplex(8192, 0), 0, 0};
    EXPECT_EQ(PrecoderOutput(half, h1), PackComplex(0, 0));
    const PackedComplex more[3] = {PackComplex(8193, 0), 0, 0};
    EXPECT_EQ(PrecoderOutput(more, h1), PackComplex(1, -1));
}

TEST(V34Framing, PackBitsAppendsAcrossWordsAndRefusesOverflow)
{
    uint32_t words[4] = {};
    BitPacker p{words, 3, 0, 0};
    std::vector<bool> model;
    uint32_t seed = 12345;
    int written = 0;
    while (true) {
        seed = seed * 1103515245u + 12345u;
        const int n = 1 + static_cast<int>((seed >> 16) % 32);
        const uint32_t v = seed ^ (seed << 7);
        if (written + n + 32 > 128) {
            const uint32_t before = p.position;
            EXPECT_EQ(PackBits(&p, v, n), 1);
            EXPECT_EQ(p.position, before);
            break;
        }
        ASSERT_EQ(PackBits(&p, v, n), 0);
        for (int i = 0; i < n; ++i)
            model.push_back(((v >> i) & 1u) != 0);
        written += n;
    }
    EXPECT_EQ(p.count, static_cast<uint32_t>(written));
    for (int i = 0; i < written; ++i)
        EXPECT_EQ(((words[i / 32] >> (i % 32)) & 1u) != 0, model[i]) << i;
}

TEST(V34Framing, Crc16BitsIsTheFrameCrc)
{
    // The reflected CRC-16 0x8408 from 0xFFFF, uninverted, over "123456789" is 0x6F91.
    uint16_t crc = 0xFFFF;
    for (char c : std::string("123456789"))
        Crc16Bits(&crc, static_cast<uint8_t>(c), 8);
    EXPECT_EQ(crc, 0x6F91);
    uint16_t split = 0xFFFF;
    Crc16Bits(&split, 0x34333231, 32);
    Crc16Bits(&split, 0x38373635, 32);
    Crc16Bits(&split, 0x39, 8);
    EXPECT_EQ(split, 0x6F91);
}

}  // namespace
