// The V.34 pump's fixed-point helpers: their stated edge values, the overflow flag, and error bounds against
// double precision on random inputs.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "layer1/modem/v34/fixed_point.h"

namespace {

const double kPi = std::acos(-1.0);

TEST(V34FixedPoint, NegLog2Q10EdgeValues)
{
    const struct {
        int32_t a;
        int16_t r;
    } cases[] = {{0, 15360}, {65535, -1024}, {1 << 20, -5120}, {1, 14336}, {INT32_MAX, -16384}};
    for (const auto& c : cases)
        EXPECT_EQ(NegLog2Q10(c.a), c.r) << c.a;
}

TEST(V34FixedPoint, NegLog2Q10IsCloseToTheLogarithm)
{
    std::mt19937 rng(11);
    double worst = 0;
    for (int i = 0; i < 200000; ++i) {
        // Spread over every octave.
        const int32_t a = static_cast<int32_t>(rng() >> (rng() % 32));
        const double exact = 1024.0 * (15.0 - std::log2(static_cast<double>(a) + 1.0));
        worst = std::max(worst, std::fabs(NegLog2Q10(a) - exact));
    }
    EXPECT_LT(worst, 8.0);  // under 0.008 of an octave
}

TEST(V34FixedPoint, SaturationSetsAndClearsTheOverflowFlag)
{
    int16_t overflow = 0;
    EXPECT_EQ(MulQ15(-32768, -32768, &overflow), 32767);
    EXPECT_EQ(overflow, 1);
    EXPECT_EQ(Sat16(5, &overflow), 5);
    EXPECT_EQ(overflow, 0);
    EXPECT_EQ(Sat16(40000, &overflow), 32767);
    EXPECT_EQ(overflow, 1);
    overflow = 0;
    EXPECT_EQ(MulQ15(-32768, 32767, &overflow), -32767);  // fits: the flag stays as it was
    EXPECT_EQ(overflow, 0);

    // Each helper from a flag that holds the opposite of what it must leave.
    struct Case {
        const char* name;
        int32_t (*run)(int16_t* overflow);
        int32_t want;
        int16_t flag;
    };
    const Case cases[] = {
        {"Sat16 low rail", [](int16_t* o) -> int32_t { return Sat16(-40000, o); }, -32768, 1},
        {"Sat16 top in range", [](int16_t* o) -> int32_t { return Sat16(32767, o); }, 32767, 0},
        {"SatFrom64 2^31", [](int16_t* o) { return SatFrom64(0x80000000u, 0, o); }, INT32_MAX, 1},
        {"SatFrom64 -2^31", [](int16_t* o) { return SatFrom64(0x80000000u, -1, o); }, INT32_MIN, 0},
        {"SatFrom64 below", [](int16_t* o) { return SatFrom64(0x7FFFFFFFu, -1, o); }, INT32_MIN, 1},
        {"SatFrom64 small", [](int16_t* o) { return SatFrom64(12345u, 0, o); }, 12345, 0},
        {"MulQ15ToQ31 -1 x -1", [](int16_t* o) { return MulQ15ToQ31(-32768, -32768, o); }, INT32_MAX, 1},
        {"MulScaleSat in range", [](int16_t* o) -> int32_t { return MulScaleSat(1 << 14, 16384, o); }, 8192, 0},
        {"MulScaleSat rail", [](int16_t* o) -> int32_t { return MulScaleSat(INT32_MAX, 32767, o); }, 32767, 1},
        {"MulScaleSat low rail", [](int16_t* o) -> int32_t { return MulScaleSat(INT32_MIN, 32767, o); }, -32768, 1},
        {"AddSat16 top", [](int16_t* o) -> int32_t { return AddSat16(32000, 1000, o); }, 32767, 1},
        {"AddSat16 sum", [](int16_t* o) -> int32_t { return AddSat16(-100, 50, o); }, -50, 0},
    };
    for (const Case& c : cases) {
        int16_t o = c.flag ? 0 : 1;
        EXPECT_EQ(c.run(&o), c.want) << c.name;
        EXPECT_EQ(o, c.flag) << c.name;
    }
}

TEST(V34FixedPoint, SmallHelpersEdgeTable)
{
    const struct {
        const char* name;
        int32_t got;
        int32_t want;
    } cases[] = {
        {"DivQ15Half by zero", DivQ15Half(1234, 0), -1},
        {"DivQ15Half zero by zero", DivQ15Half(0, 0), -1},
        {"DivQ15Half -1 by zero", DivQ15Half(-32768, 0), -1},
        {"DivQ15Half half", DivQ15Half(8192, 16384), 16384},
        {"DivQ15Half negative", DivQ15Half(-8192, 16384), -16384},
        {"DivQ15Half -32768 / -1 wraps", DivQ15Half(-32768, -1), 0},
        {"NormShift 0", NormShift(0), 15},
        {"NormShift 0xFFFF", NormShift(0xFFFF), 15},
        {"NormShift -1", NormShift(-1), 15},
        {"NormShift -65536", NormShift(-65536), 15},
        {"NormShift 0x10000", NormShift(0x10000), 14},
        {"NormShift 2^30", NormShift(1 << 30), 0},
        {"NormShift INT32_MAX", NormShift(INT32_MAX), 0},
        {"NormShift -65537", NormShift(-65537), 14},
        {"NormShift INT32_MIN", NormShift(INT32_MIN), 0},
        {"Add32 wraps", Add32(INT32_MAX, 1), INT32_MIN},
        {"Abs16Wide bit 15 set", Abs16Wide(0x8001), -0x8001},
        {"Abs16Wide bit 15 clear", Abs16Wide(-0x10000), -0x10000},
        {"Abs16Wide -5", Abs16Wide(-5), 5},
        {"Crc16BitStep 1 on 0xFFFF", Crc16BitStep(1, 0xFFFF), 0x7FFF},
        {"Crc16BitStep 0 on 0xFFFF", Crc16BitStep(0, 0xFFFF), 0x7FFF ^ 0x8408},
        {"Crc16BitStep nonzero is 1", Crc16BitStep(0x80, 0x0001), 0x0000},
        {"SmoothAbs", SmoothAbs(1 << 20, -100), static_cast<int32_t>((static_cast<int64_t>(1 << 20) * 0x7F00 >> 15) +
                                                                     51000)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.got, c.want) << c.name;
}

TEST(V34FixedPoint, SineTableFollowsItsRule)
{
    const int16_t* t = SineTableQ15();
    EXPECT_EQ(t[0], 0);
    EXPECT_EQ(t[32], 32700);
    EXPECT_EQ(t[64], 0);
    EXPECT_EQ(t[96], -32700);
    EXPECT_EQ(t[16], 23122);   // 32700 sin(pi/4) = 23122.7, truncated
    EXPECT_EQ(t[80], -23122);  // truncated toward zero
    for (int i = 0; i < kSineTableEntries; ++i)
        EXPECT_EQ(t[i], static_cast<int16_t>(std::trunc(32700.0 * std::sin(2 * kPi * i / 128)))) << i;
}

TEST(V34FixedPoint, SinCosIsWithinItsStepError)
{
    int worst = 0;
    for (int phase = 0; phase < 65536; ++phase) {
        int16_t s, c;
        SinCosQ15(static_cast<uint16_t>(phase), &s, &c);
        const double a = 2 * kPi * phase / 65536.0;
        worst = std::max(worst, static_cast<int>(std::lround(std::fabs(s - 32700 * std::sin(a)))));
        worst = std::max(worst, static_cast<int>(std::lround(std::fabs(c - 32700 * std::cos(a)))));
    }
    // The first-order step leaves up to d^2 / 2 of the amplitude (d < 0.05 rad) and the table's truncation.
    EXPECT_LE(worst, 42);
    int16_t s, c;
    SinCosQ15(0, &s, &c);
    EXPECT_EQ(s, 0);
    EXPECT_EQ(c, 32700);
}

TEST(V34FixedPoint, SqrtMantExpMatchesTheSquareRoot)
{
    EXPECT_EQ([] { int16_t e = 3; return SqrtMantExp(0, &e, nullptr); }(), 0);
    EXPECT_EQ([] { int16_t e = 3; return SqrtMantExp(-5, &e, nullptr); }(), 0);
    std::mt19937 rng(5);
    double worst = 0;
    for (int i = 0; i < 50000; ++i) {
        const int16_t a = static_cast<int16_t>(1 + rng() % 32767);
        int16_t e = static_cast<int16_t>(static_cast<int>(rng() % 41) - 20);
        const double exact = std::sqrt(32768.0 * a * std::ldexp(1.0, e));
        int16_t overflow = 0;
        const int16_t m = SqrtMantExp(a, &e, &overflow);
        EXPECT_EQ(overflow, 0);
        ASSERT_GT(m, 8000);
        worst = std::max(worst, std::fabs(std::ldexp(static_cast<double>(m), e) / exact - 1.0));
    }
    // The cubic series of sqrt(1 + u) is 1.6 % high at the top of the octave (u = 1).
    EXPECT_LT(worst, 0.017);
}

TEST(V34FixedPoint, NormalizeBlockPutsTheLargestTopBitInPlace)
{
    struct Case {
        std::vector<int32_t> in;
        int16_t result;
        std::vector<int32_t> out;
    };
    const Case cases[] = {
        {{1, 0, -1}, 26 * 1024, {1 << 26, 0, -(1 << 26)}},
        {{0x100, 3}, 18 * 1024, {0x100 << 18, 3 << 18}},
        {{1 << 26, 5}, 0, {1 << 26, 5}},
        {{1 << 27, 5}, 0, {1 << 27, 5}},  // too large: nothing moves
        {{INT32_MAX, -4}, 0, {INT32_MAX, -4}},
    };
    for (const Case& c : cases) {
        std::vector<int32_t> x = c.in;
        EXPECT_EQ(NormalizeBlock32(x.data(), static_cast<int32_t>(x.size())), c.result) << c.in[0];
        EXPECT_EQ(x, c.out) << c.in[0];
    }
    const Case min1[] = {
        {{0, 0}, 30 * 1024, {1 << 30, 1 << 30}},
        {{0, 0x10000}, 14 * 1024, {1 << 14, 1 << 30}},
        {{1 << 30, 0}, 0, {1 << 30, 1}},
    };
    for (const Case& c : min1) {
        std::vector<int32_t> x = c.in;
        EXPECT_EQ(NormalizeBlock32Min1(x.data(), static_cast<int32_t>(x.size())), c.result) << c.in[1];
        EXPECT_EQ(x, c.out) << c.in[1];
    }
}

TEST(V34FixedPoint, CircularFirMatchesADirectConvolution)
{
    for (int n : {7, 63, 64}) {
        std::mt19937 rng(n);
        std::vector<int16_t> coef(n), history(n, 0);
        for (int16_t& c : coef)
            c = static_cast<int16_t>(rng());
        CircularFir f{coef.data(), history.data(), n, 0};
        std::vector<int16_t> input;
        for (int i = 0; i < 500; ++i) {
            input.push_back(static_cast<int16_t>(rng()));
            // Coefficient 0 weighs the sample n - 1 steps back, coefficient k >= 1 the sample k - 1 back.
            uint32_t sum = 0;
            for (int k = 0; k < n; ++k) {
                const int back = k == 0 ? n - 1 : k - 1;
                const int idx = static_cast<int>(input.size()) - 1 - back;
                const int32_t x = idx >= 0 ? input[idx] : 0;
                sum += static_cast<uint32_t>((coef[k] * x) >> 4);
            }
            const int16_t want = static_cast<int16_t>(static_cast<int32_t>(sum) >> 11);
            ASSERT_EQ(CircularFir16(&f, input.back()), want) << n << " " << i;
        }
    }
}

}  // namespace
