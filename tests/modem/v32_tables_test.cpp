// The V.32bis rate words, quality grading and point maps against the values the pump's documentation
// prints, and the transmitter's signals measured on its output.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "layer1/modem/common/scrambler23.h"
#include "layer1/modem/common/trellis_qam.h"
#include "layer1/modem/v32/v32.h"
#include "support/line_signal.h"

namespace {

TEST(V32Words, RateWordsPerRateCode)
{
    const struct {
        int32_t code;
        uint16_t word;
    } cases[] = {{4, 0x8880}, {5, 0x88A0}, {6, 0x8A80}, {7, 0x88C0}, {8, 0x8C80}, {9, 0x9880}, {3, 0}, {10, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(V32RateWordOf(c.code), c.word) << c.code;
        if (c.code >= 5 && c.code <= 9) {
            EXPECT_EQ(V32RateCodeOfWord(c.word), c.code);
        }
    }
}

TEST(V32Words, PickRateKeepsTheHighestRateAndTheTrellisAndMarkerBits)
{
    const struct {
        uint16_t in;
        uint16_t out;
    } cases[] = {
        {0x9FF0, 0x9990}, {0x8FF0, 0x8D90}, {0x8BF0, 0x89D0}, {0x8BB0, 0x8B90},
        {0x89B0, 0x89B0}, {0x8990, 0x8990}, {0x8880, 0x8880}, {0x88E0, 0x88C0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(V32PickRate(c.in), c.out) << std::hex << c.in;
}

TEST(V32Words, QualityMaskStepsAtTheirBounds)
{
    const struct {
        int32_t m;
        uint16_t mask;
    } cases[] = {
        {0, 0x9FF0},    {599, 0x9FF0},  {600, 0x8FF0},  {1799, 0x8FF0}, {1800, 0x8BF0}, {4999, 0x8BF0},
        {5000, 0x8BB0}, {9000, 0x8BB0}, {9001, 0x89B0}, {16382, 0x89B0}, {16383, 0x8990}, {1 << 30, 0x8990},
    };
    for (const auto& c : cases)
        EXPECT_EQ(V32QualityMask(c.m), c.mask) << c.m;
}

TEST(V32Words, CapabilityWordFromTheRateOptions)
{
    const struct {
        uint8_t options;
        int32_t mode;
        uint16_t word;
    } cases[] = {
        {0x3E, 16, 0x9FF0}, {0x02, 16, 0x89B0}, {0x00, 16, 0x8990}, {0x20, 16, 0x9990},
        {0x0C, 16, 0x8BD0}, {0x0A, 12, 0x89E0}, {0x08, 12, 0x89C0}, {0x02, 13, 0x89A0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(V32CapabilityWord(c.options, c.mode), c.word) << int(c.options) << " " << c.mode;
}

TEST(V32Words, WhatAWordSelects)
{
    const struct {
        uint16_t word;
        int32_t code, bits, trellis;
    } cases[] = {
        {0x89B0, 5, 2, 0}, {0x8B90, 6, 3, 1}, {0x89D0, 7, 4, 1}, {0x88C0, 7, 4, 0}, {0x8D90, 8, 5, 1}, {0x9990, 9, 6, 1},
    };
    for (const auto& c : cases) {
        const V32RateSetting s = V32SettingOfWord(c.word);
        EXPECT_EQ(s.rateCode, c.code) << std::hex << c.word;
        EXPECT_EQ(s.bitsPerSymbol, c.bits) << std::hex << c.word;
        EXPECT_EQ(s.trellis, c.trellis) << std::hex << c.word;
    }
}

TEST(V32Words, TypesAndTheExchangeChecks)
{
    EXPECT_EQ(V32WordType(0x9990), 1);
    EXPECT_EQ(V32WordType(0x88C0), 2);
    EXPECT_EQ(V32WordType(0xFFFF), 0);  // descrambled training: all ones
    EXPECT_TRUE(V32WordAccepted(0x9990, 1));
    EXPECT_FALSE(V32WordAccepted(0x8990, 1));  // no rate bit
    EXPECT_TRUE(V32WordAccepted(0x88C0, 2));
    EXPECT_FALSE(V32WordAccepted(0x88C0, 1));
    EXPECT_TRUE(V32WordIsE(0x999F, 1));
    EXPECT_FALSE(V32WordIsE(0x9990, 1));
    EXPECT_TRUE(V32WordIsE(0x88CF, 2));
    EXPECT_FALSE(V32WordIsE(0xFFFF, 1));
}

TEST(V32Words, QualityGradeThresholdsPerRate)
{
    const struct {
        int32_t code, e, grade;
    } cases[] = {
        {9, 0, 1},      {9, 1199, 1},   {9, 1200, 2},   {9, 2400, 3},  {8, 1049, 0},  {8, 1050, 1},
        {7, 20000, 3},  {6, 8749, 0},   {5, 32765, 1},  {5, 32766, 3}, {4, 0, 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(V32QualityGrade(c.code, c.e), c.grade) << c.code << " " << c.e;
}

TEST(V32Points, TrainingPointsAreTheRecommendationsAtoD)
{
    const int want[4][2] = {{-6, -2}, {2, -6}, {6, 2}, {-2, 6}};
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(V32TrainingPoint(k).re, want[k][0] * kV32Unit) << k;
        EXPECT_EQ(V32TrainingPoint(k).im, want[k][1] * kV32Unit) << k;
    }
}

TEST(V32Points, UncodedMapsCoverTheSixteenPointGrid)
{
    std::set<std::pair<int, int>> seen;
    for (int q = 0; q < 4; ++q) {
        for (int b = 0; b < 4; ++b) {
            const V32Point p = V32Point9600(q, b);
            EXPECT_TRUE(std::abs(p.re) == 2 * kV32Unit || std::abs(p.re) == 6 * kV32Unit);
            EXPECT_TRUE(std::abs(p.im) == 2 * kV32Unit || std::abs(p.im) == 6 * kV32Unit);
            seen.insert({p.re, p.im});
        }
        EXPECT_EQ(V32Point4800(q).re, V32TrainingPoint(q).re);
    }
    EXPECT_EQ(seen.size(), 16u);
    for (int prev = 0; prev < 4; ++prev)
        for (int d = 0; d < 4; ++d)
            EXPECT_EQ(V32DiffDibit(prev, V32DiffQuadrant(prev, d)), d);
}

TEST(V32Scramblers, SerialFormsInvertEachOtherAndMatchTheGroupForm)
{
    for (int32_t caller = 0; caller < 2; ++caller) {
        uint32_t tx = 0, rx = 0x55555;
        uint32_t lfsr = 7;
        int errors = 0;
        for (int k = 0; k < 3000; ++k) {
            const int32_t n = 1 + k % 6;
            lfsr = lfsr * 1103515245u + 12345u;
            const uint32_t data = (lfsr >> 9) & ((1u << n) - 1u);
            const uint32_t back = V32Descramble(&rx, V32Scramble(&tx, data, n, caller), n, caller);
            if (k > 10)
                errors += back != data;
        }
        EXPECT_EQ(errors, 0) << caller;
    }
    // The caller's generator is the fax pumps' one.
    uint32_t serial = 0, group = 0;
    for (int k = 0; k < 500; ++k) {
        const uint32_t bits = static_cast<uint32_t>(k * 37 % 64);
        EXPECT_EQ(ScrambleSerial23(&serial, bits, 6, 18), Scramble23(&group, bits, 6)) << k;
    }
}

// The branch metrics from the cell lists equal a search of every point (the lowest label on a tie), for
// points inside the constellation, between its points and far outside it.
TEST(V32Subsets, CellListsGiveTheSameNearestPointsAsASearchOfEveryPoint)
{
    std::mt19937 rng(5);
    for (int32_t bits = 3; bits <= 6; ++bits) {
        const TrellisPoint* c = TrellisQamConstellation(bits);
        std::uniform_int_distribution<int32_t> coord(-20 * kV32Unit, 20 * kV32Unit);
        for (int k = 0; k < 20000; ++k) {
            // Every fourth point exactly on a grid line or a constellation point, where ties happen.
            V32Point p{coord(rng), coord(rng)};
            if (k % 4 == 0)
                p = V32Point{p.re / kV32Unit * kV32Unit, p.im / (kV32Unit / 2) * (kV32Unit / 2)};
            int32_t best[8], label[8];
            V32SubsetMetrics(bits, p, best, label);
            for (int32_t s = 0; s < 8; ++s) {
                int64_t low = INT64_MAX;
                int32_t want = -1;
                for (int32_t j = s; j < TrellisQamPoints(bits); j += 8) {
                    const int64_t dr = p.re - static_cast<int64_t>(c[j].re) * kV32Unit;
                    const int64_t di = p.im - static_cast<int64_t>(c[j].im) * kV32Unit;
                    const int64_t d = (dr * dr + di * di) >> 8;
                    if (d < low) {
                        low = d;
                        want = j;
                    }
                }
                ASSERT_EQ(label[s], want) << bits << " " << p.re << " " << p.im << " " << s;
                ASSERT_EQ(best[s], low) << bits << " " << s;
            }
        }
    }
}

}  // namespace
