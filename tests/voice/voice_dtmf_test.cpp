// The voice DTMF detector: its tables and fixed-point stages, the decision and confirmation timing, and every
// key from an independent generator at levels across the working range.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "layer1/modem/voice/voice_dtmf.h"
#include "voice/voice_peer.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

DtmfDetector Fresh()
{
    DtmfDetector d;
    std::memset(&d, 0, sizeof(d));
    InitDtmfDetector(&d, 9600);
    return d;
}

// Runs 96-sample blocks; returns each report with the index of its block.
struct Reports {
    std::string chars;
    std::vector<int> blocks;
};

Reports RunBlocks(DtmfDetector* d, const std::vector<int16_t>& x)
{
    Reports r;
    for (size_t b = 0; b + 96 <= x.size(); b += 96) {
        const uint8_t c = VoiceDtmfBlock(d, x.data() + b, 96);
        if (c != 0) {
            r.chars.push_back(static_cast<char>(c));
            r.blocks.push_back(static_cast<int>(b / 96));
        }
    }
    return r;
}

// Tone pairs at 9600 Hz: {low Hz, high Hz (0: none), blocks}; a pair of 0 Hz is silence.
struct Burst {
    double low;
    double high;
    int blocks;
};

std::vector<int16_t> Bursts(const std::vector<Burst>& bursts, double amplitude = 5000.0)
{
    std::vector<int16_t> x;
    size_t n = 0;
    for (const Burst& b : bursts) {
        for (int i = 0; i < 96 * b.blocks; ++i, ++n) {
            double v = 0;
            if (b.low > 0)
                v += amplitude * std::sin(2 * kPi * b.low * n / 9600.0);
            if (b.high > 0)
                v += amplitude * std::sin(2 * kPi * b.high * n / 9600.0 + 0.3);
            x.push_back(static_cast<int16_t>(std::lround(v)));
        }
    }
    return x;
}

TEST(VoiceDtmfTables, PrintedValues)
{
    const double pi = kPi;
    for (int k = 0; k < kDtmfSineEntries; ++k)
        ASSERT_EQ(kDtmfSineTable[k], static_cast<int16_t>(std::trunc(32700.0 * std::sin(2 * pi * k / 128.0)))) << k;
    EXPECT_EQ(kDtmfSineTable[32], 32700);
    EXPECT_EQ(kDtmfSineTable[16], 23122);
    EXPECT_EQ(kDtmfSineTable[96], -32700);
    const int16_t printed[] = {32767, 31790, 30894};
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(kInvSqrtTable[i], printed[i]);
    EXPECT_EQ(kInvSqrtTable[47], 16514);
    EXPECT_EQ(kInvSqrtTable[48], 16384);
    const DtmfDetector d = Fresh();
    const int16_t increments[] = {4758, 5256, 5816, 6423, 8253, 9120, 10082, 11147};
    for (int f = 0; f < kDtmfFilters; ++f) {
        EXPECT_EQ(d.filter[f].increment, increments[f]);
        EXPECT_EQ(d.filter[f].amplitude, 4096);
    }
    EXPECT_EQ(d.filterCount, 8);
}

TEST(VoiceDtmfStages, CountSignBitsAndInverseSqrt)
{
    struct Case {
        int32_t v;
        int32_t bits;
    };
    const Case cases[] = {{0, 0},  {-1, 31}, {1, 30}, {0x40000000, 0}, {0x3FFFFFFF, 1}, {INT32_MAX, 0},
                          {-2, 30}, {INT32_MIN, 0}, {0x20000000, 1}, {-0x40000001, 0}};
    for (const Case& c : cases)
        EXPECT_EQ(CountSignBits(c.v), c.bits) << c.v;
    EXPECT_EQ(InverseSqrt(0), 0x3FFFFFFF);
    EXPECT_EQ(InverseSqrt(-5), 0x3FFFFFFF);
    for (int64_t v = 3; v < INT32_MAX; v = v * 3 + 1) {
        const double want = 1073741824.0 / std::sqrt(static_cast<double>(v));
        EXPECT_NEAR(InverseSqrt(static_cast<int32_t>(v)) / want, 1.0, 2e-3) << v;
    }
}

TEST(VoiceDtmfStages, SineCosineFollowTheCircle)
{
    for (uint32_t p = 0; p < 65536; p += 37) {
        int16_t s;
        int16_t c;
        SineCosine(static_cast<uint16_t>(p), &s, &c);
        ASSERT_NEAR(s, 32700.0 * std::sin(2 * kPi * p / 65536.0), 45.0) << p;
        ASSERT_NEAR(c, 32700.0 * std::cos(2 * kPi * p / 65536.0), 45.0) << p;
    }
}

// The decision looks at the block energy first: below 1640 there is no digit whatever the spectrum.
TEST(VoiceDtmfStages, EnergyFloorAndGroupLimits)
{
    DtmfDetector d = Fresh();
    const int16_t digitFive[kDtmfFilters] = {10, 3000, 12, 9, 11, 3200, 10, 8};
    std::memcpy(d.power, digitFive, sizeof(digitFive));
    d.energy = 1640;
    EXPECT_EQ(DtmfDecide(&d), 5);
    d.energy = 1639;
    EXPECT_EQ(DtmfDecide(&d), kDtmfNoDigit);
    d.energy = 5000;
    const int16_t oneGroup[kDtmfFilters] = {10, 6000, 12, 9, 11, 30, 10, 8};  // no high-group peak
    std::memcpy(d.power, oneGroup, sizeof(oneGroup));
    EXPECT_EQ(DtmfDecide(&d), kDtmfNoDigit);
    const int16_t spread[kDtmfFilters] = {900, 1000, 800, 10, 11, 3200, 10, 8};  // low group not one tone
    std::memcpy(d.power, spread, sizeof(spread));
    EXPECT_EQ(DtmfDecide(&d), kDtmfNoDigit);
    const int16_t weak[kDtmfFilters] = {10, 1500, 12, 9, 11, 1600, 10, 8};  // sum below 3280
    std::memcpy(d.power, weak, sizeof(weak));
    EXPECT_EQ(DtmfDecide(&d), kDtmfNoDigit);
}

// A digit is confirmed after more than 6 equal blocks and reported on the 8th digit-free block after it.
TEST(VoiceDtmfTiming, ConfirmationAndReport)
{
    struct Case {
        const char* name;
        std::vector<Burst> bursts;
        std::string chars;
        std::vector<int> blocks;
    };
    const Case cases[] = {
        {"100 ms", {{697, 1209, 10}, {0, 0, 30}}, "1", {17}},
        {"70 ms, the shortest", {{941, 1336, 7}, {0, 0, 30}}, "0", {14}},
        {"60 ms, too short", {{697, 1209, 6}, {0, 0, 30}}, "", {}},
        {"star", {{941, 1209, 10}, {0, 0, 20}}, "E", {17}},
        {"hash", {{941, 1477, 10}, {0, 0, 20}}, "F", {17}},
        {"D", {{941, 1633, 10}, {0, 0, 20}}, "D", {17}},
        {"single low tone", {{697, 0, 20}, {0, 0, 20}}, "", {}},
        {"single high tone", {{0.001, 1336, 20}, {0, 0, 20}}, "", {}},
        // Two presses of 50 ms with a 30 ms gap are two short presses, not one long one.
        {"two short presses", {{852, 1477, 5}, {0, 0, 3}, {852, 1477, 5}, {0, 0, 20}}, "", {}},
        {"two digits", {{770, 1336, 10}, {0, 0, 10}, {852, 1633, 10}, {0, 0, 10}}, "5C", {17, 37}},
        // A key held with gaps shorter than 8 blocks is reported once after it ends.
        {"gap of 5 blocks", {{697, 1477, 10}, {0, 0, 5}, {697, 1477, 10}, {0, 0, 20}}, "3", {32}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DtmfDetector d = Fresh();
        const Reports r = RunBlocks(&d, Bursts(c.bursts));
        EXPECT_EQ(r.chars, c.chars);
        EXPECT_EQ(r.blocks, c.blocks);
    }
}

// A confirmed digit whose tone keeps returning after gaps shorter than 8 blocks is dropped once 13
// non-matching blocks have been counted; the next key is detected as usual.
TEST(VoiceDtmfTiming, ReturningToneIsDropped)
{
    std::vector<Burst> b = {{770, 1209, 8}};
    for (int i = 0; i < 6; ++i) {
        b.push_back({0, 0, 3});
        b.push_back({770, 1209, 1});
    }
    b.push_back({0, 0, 30});
    b.push_back({852, 1336, 10});
    b.push_back({0, 0, 12});
    DtmfDetector d = Fresh();
    EXPECT_EQ(RunBlocks(&d, Bursts(b)).chars, "8");
}

TEST(VoiceDtmfTiming, NothingBeforeSetup)
{
    DtmfDetector d;
    std::memset(&d, 0, sizeof(d));
    EXPECT_EQ(RunBlocks(&d, Bursts({{697, 1209, 10}, {0, 0, 20}})).chars, "");
    InitDtmfDetector(&d, 9600);
    EXPECT_EQ(RunBlocks(&d, Bursts({{697, 1209, 10}, {0, 0, 20}})).chars, "1");
}

#ifdef HAVE_SPANDSP
// The independent generator's keys at 8000 Hz, brought to 9600 Hz, at levels from -3 to -30 dBm0 per tone
// (the loudest pushes the block energy past 2^30) and with 4 dB of twist either way.
TEST(VoiceDtmfPeer, EveryKeyOnceAcrossLevels)
{
    struct Case {
        int level;
        int twist;
    };
    const Case cases[] = {{-3, 0}, {-10, 0}, {-20, 4}, {-20, -4}, {-30, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.level);
        SCOPED_TRACE(c.twist);
        DtmfDetector d = Fresh();
        const std::vector<int16_t> x = voicetest::AtRate(voicetest::PeerDtmf("123A456B789C*0#D", c.level, c.twist, 100, 100), 9600);
        EXPECT_EQ(RunBlocks(&d, x).chars, "123A456B789CE0FD");
    }
}

// Keys of 50 ms from the independent generator are under the minimum: none is reported, not even when one
// key is pressed twice in quick succession (the two presses never add up to one long enough).
TEST(VoiceDtmfPeer, ShortKeysAreNotReported)
{
    std::vector<double> x8;
    for (const char* pair : {"11", "55", "99", "**", "DD"}) {
        const std::vector<double> p = voicetest::PeerDtmf(pair, -10, 0, 50, 50);
        x8.insert(x8.end(), p.begin(), p.end());
    }
    DtmfDetector d = Fresh();
    EXPECT_EQ(RunBlocks(&d, voicetest::AtRate(x8, 9600)).chars, "");
}
#endif

}  // namespace
