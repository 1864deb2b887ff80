// The receive demapper: ShellDemapper against ShellMap, the encoder's frames demapped back to the data bytes
// for every (symbol rate, data rate) pair with and without shaping and precoding, erasures for points off the
// constellation (every coordinate region, no access outside a table), and the byte reader and descrambler.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <vector>

#include "layer1/modem/v34/shell_map.h"
#include "layer1/modem/v34/v34_constellation.h"
#include "layer1/modem/v34/v34_demapper.h"
#include "tests/modem/v34_rx_chain.h"

namespace {

using v34test::AllRatePairs;
using v34test::RatePair;
using v34test::TxChain;

#if defined(MODEM_UNDER_SANITIZER)
constexpr int kFramesPerCase = 40;
constexpr int kCoordinateStep = 256;
#else
constexpr int kFramesPerCase = 400;   // 260 cases: about 10^5 frames
constexpr int kCoordinateStep = 128;  // every level x / 128 once
#endif

V34Demapper MakeDemapper(const RatePair& p, int shaping, bool precoding)
{
    V34Demapper d{};
    v34test::SetRate(&d.frame, p, shaping);
    InitV34Demapper(&d, v34test::Precoder(precoding));
    return d;
}

TEST(V34ShellDemapper, InvertsShellMapExhaustivelyUpToSixteenBits)
{
    for (int row = 0; row < 2; ++row) {
        for (int k = 1; k <= 16; ++k) {
            V34FrameParams t{};
            t.M = V34RingCount(row, k);
            BuildV34ShellTables(&t);
            for (uint32_t index = 0; index < (1u << k); ++index) {
                uint8_t rings[8];
                ShellMap(index, &t, rings);
                ASSERT_EQ(ShellDemapper(rings, &t), index) << "row " << row << " K " << k;
            }
        }
    }
    // Larger indices for every M of both rows (17 and 18 included).
    std::mt19937 rng(5);
    std::set<int> ms;
    for (int row = 0; row < 2; ++row)
        for (int k = 17; k <= 31; ++k)
            ms.insert(V34RingCount(row, k));
    EXPECT_TRUE(ms.count(18) != 0 || ms.count(17) != 0);
    for (const int m : ms) {
        V34FrameParams t{};
        t.M = m;
        BuildV34ShellTables(&t);
        const uint64_t all = t.z8[8 * (m - 1) + 1];
        for (int n = 0; n < 20000; ++n) {
            const uint32_t index = static_cast<uint32_t>((static_cast<uint64_t>(rng()) << 1) % std::min<uint64_t>(all, 1ull << 31));
            uint8_t rings[8];
            ShellMap(index, &t, rings);
            ASSERT_EQ(ShellDemapper(rings, &t), index) << "M " << m;
        }
    }
}

// Demaps the encoder's frames (noise-free points) and descrambles; the bytes must come back exactly.
TEST(V34Demapper, EveryPairReturnsTheDataBytes)
{
    int cases = 0;
    for (const RatePair& p : AllRatePairs()) {
        for (int shaping = 0; shaping < 2; ++shaping) {
            for (const bool precoding : {false, true}) {
                SCOPED_TRACE(testing::Message() << "rate index " << p.symbolRateIndex << " x" << p.rate << " shaping "
                                                << shaping << " precoding " << precoding);
                const int polynomial = cases & 1;
                TxChain tx(p, shaping, 16, precoding, polynomial, 100u + static_cast<uint32_t>(cases));
                V34Demapper d = MakeDemapper(p, shaping, precoding);
                ++cases;
                uint32_t reg = 0;
                std::vector<uint8_t> got;
                int bits = 0;
                for (int f = 0; f < kFramesPerCase; ++f) {
                    PackedComplex rx[8], ideal[8];
                    tx.NextFrame(0, rx, ideal);
                    const int want = d.frame.b - (((d.frame.switchingPattern >> (d.frame.P - 1 - d.frameIndex)) & 1u) ? 0 : 1);
                    ASSERT_EQ(DemapFrame(&d, ideal), want);
                    bits += want;
                    uint8_t out[16];
                    const int n = DescrambleBytes(&d.bits, polynomial, &reg, out, 16);
                    got.insert(got.end(), out, out + n);
                }
                EXPECT_EQ(d.erasures, 0u);
                EXPECT_EQ(d.errors, 0);
                ASSERT_EQ(static_cast<int>(got.size()), bits / 8);
                ASSERT_TRUE(std::equal(got.begin(), got.end(), tx.sent().begin()));
            }
        }
    }
}

// Every region of 16-bit coordinates, with and without precoding, for the smallest and the largest
// constellation: no access outside a table (the sanitizers watch), erasures counted, bits still appended.
TEST(V34Demapper, AnyCoordinatesAreDemappedAndErasuresCounted)
{
    const RatePair smallest{0, 1}, largest{5, 14};
    for (const RatePair& p : {smallest, largest}) {
        for (const bool precoding : {false, true}) {
            V34Demapper d = MakeDemapper(p, 1, precoding);
            PackedComplex frame[8];
            int filled = 0;
            uint64_t points = 0;
            for (int x = -32768; x <= 32767; x += kCoordinateStep) {
                for (int y = -32768 + 37; y <= 32767; y += kCoordinateStep) {
                    frame[filled++] = PackComplex(x, y);
                    ++points;
                    if (filled == 8) {
                        DemapFrame(&d, frame);
                        uint8_t out[16];
                        while (ReadRxBytes(&d.bits, out, 16) > 0) {
                        }
                        filled = 0;
                    }
                }
            }
            EXPECT_EQ(d.errors, 0);
            EXPECT_GT(d.erasures, points / 2) << "most of the plane is off the constellation";
            EXPECT_LT(d.erasures, points);
        }
    }
}

TEST(V34Demapper, PointsOffTheConstellationBecomeTheNearestValidPoint)
{
    // 2400 baud at 4800 bit/s without shaping: a small constellation, no shell bits.
    const RatePair p{0, 2};
    V34Demapper a = MakeDemapper(p, 0, false);
    V34Demapper b = MakeDemapper(p, 0, false);
    const V34Point* q = V34QuarterConstellation();
    ASSERT_GT(a.validPoints, 1);
    const V34Point last = q[a.validPoints - 1];
    // The same point pushed far out along its own direction (and beyond the +-45 levels) is an erasure that
    // decodes like the outermost point on that line.
    PackedComplex on[8], off[8];
    for (int n = 0; n < 8; ++n) {
        on[n] = PackComplex(128 * last.x, 128 * last.y);
        off[n] = PackComplex(128 * (last.x + 40 * (last.x > 0 ? 1 : -1)), 128 * last.y);
    }
    on[1] = off[1] = PackComplex(128, 128);
    DemapFrame(&a, on);
    DemapFrame(&b, off);
    EXPECT_EQ(a.erasures, 0u);
    EXPECT_EQ(b.erasures, 7u);
    ASSERT_EQ(a.bits.count, b.bits.count);
    EXPECT_EQ(a.bits.words[0], b.bits.words[0]);
    EXPECT_EQ(a.bits.words[1], b.bits.words[1]);
}

TEST(V34Demapper, AFullBufferSetsTheErrorFlagAndKeepsWhatItHeld)
{
    const RatePair p{5, 14};
    V34Demapper d = MakeDemapper(p, 1, false);
    TxChain tx(p, 1, 16, false, 1, 9);
    int frames = 0;
    while (d.errors == 0 && frames < 100) {
        PackedComplex rx[8], ideal[8];
        tx.NextFrame(0, rx, ideal);
        DemapFrame(&d, ideal);
        ++frames;
    }
    EXPECT_EQ(d.errors, 1);
    EXPECT_LE(d.bits.count, static_cast<uint32_t>(kV34RxBitWords * 32 - 32));
    // What it held reads back as the first bytes sent (after descrambling).
    std::vector<uint8_t> got(d.bits.count / 8);
    uint32_t reg = 0;
    ASSERT_EQ(DescrambleBytes(&d.bits, 1, &reg, got.data(), static_cast<int>(got.size())), static_cast<int>(got.size()));
    EXPECT_TRUE(std::equal(got.begin(), got.end(), tx.sent().begin()));
}

TEST(V34RxBytes, WholeBytesUpToTheMaximumAcrossTheRingsEnd)
{
    V34RxBitBuffer bits{};
    std::mt19937 rng(8);
    std::vector<uint8_t> stream;
    uint32_t pending = 0;
    int pendingBits = 0;
    std::vector<uint8_t> got;
    for (int round = 0; round < 400; ++round) {
        const int n = 1 + static_cast<int>(rng() % 32);
        const uint32_t v = static_cast<uint32_t>(rng());
        BitPacker packer{bits.words, kV34RxBitWords - 1u, bits.position, bits.count};
        if (PackBits(&packer, v, n) == 0) {
            bits.position = packer.position;
            bits.count = packer.count;
            for (int i = 0; i < n; ++i) {
                pending |= ((v >> i) & 1u) << pendingBits;
                if (++pendingBits == 8) {
                    stream.push_back(static_cast<uint8_t>(pending));
                    pending = 0;
                    pendingBits = 0;
                }
            }
        }
        const int max = static_cast<int>(rng() % 12);
        uint8_t out[12];
        const uint32_t before = bits.count;
        const int got1 = ReadRxBytes(&bits, out, max);
        EXPECT_EQ(got1, std::min<int>(max, static_cast<int>(before / 8)));
        EXPECT_EQ(bits.count, before - 8u * static_cast<uint32_t>(got1));
        got.insert(got.end(), out, out + got1);
    }
    ASSERT_GT(got.size(), 3u * kV34RxBitWords * 4u) << "the ring wrapped several times";
    EXPECT_TRUE(std::equal(got.begin(), got.end(), stream.begin()));
}

TEST(V34RxBytes, TheByteDescramblerEqualsTheBitDescrambler)
{
    for (int polynomial = 0; polynomial < 2; ++polynomial) {
        std::mt19937 rng(12 + polynomial);
        V34RxBitBuffer bits{};
        uint32_t scramble = 0, bitReg = 0, byteReg = 0;
        for (int n = 0; n < 3000; ++n) {
            const uint32_t in = rng() & 0xFFu;
            const uint32_t line = ScrambleBits(8, polynomial, in, &scramble);
            BitPacker packer{bits.words, kV34RxBitWords - 1u, bits.position, bits.count};
            ASSERT_EQ(PackBits(&packer, line, 8), 0);
            bits.position = packer.position;
            bits.count = packer.count;
            uint8_t out = 0;
            ASSERT_EQ(DescrambleBytes(&bits, polynomial, &byteReg, &out, 1), 1);
            const uint32_t byBits = DescrambleBits(8, polynomial, line, &bitReg) & 0xFFu;
            ASSERT_EQ(out, byBits) << n;
            ASSERT_EQ(out, in) << n;
        }
    }
}

}  // namespace
