// Fixed-point helpers: saturating add, the Q31 x Q15 product against exact arithmetic, and the sample AGC.
#include <gtest/gtest.h>

#include <random>

#include "layer1/modem/v34/fixed_point.h"

namespace {

TEST(FixedPoint, AddSat16)
{
    const struct {
        int32_t a, b, sum;
    } cases[] = {{30000, 10000, 32767}, {-30000, -10000, -32768}, {100, -200, -100}, {32767, 0, 32767},
                 {-32768, -1, -32768},  {0x18000, 1, -32767},     {0x7FFF, 0x10001, 32767}};
    for (const auto& c : cases)
        EXPECT_EQ(AddSat16(c.a, c.b), c.sum) << c.a << " " << c.b;
}

TEST(FixedPoint, MulQ31Q15IsTheFlooredProduct)
{
    EXPECT_EQ(MulQ31Q15(0x40000000, 0x4000), 0x20000000);
    EXPECT_EQ(MulQ31Q15(-1, 1), -1);
    EXPECT_EQ(MulQ31Q15(INT32_MIN, -32768), INT32_MAX);  // the one product that does not fit
    EXPECT_EQ(MulQ31Q15(INT32_MIN, 32767), static_cast<int32_t>((static_cast<int64_t>(INT32_MIN) * 32767) >> 15));
    EXPECT_EQ(MulQ31Q15(INT32_MAX, -32768), -INT32_MAX);
    std::mt19937 rng(7);
    for (int i = 0; i < 20000; ++i) {
        const int32_t a = static_cast<int32_t>(rng());
        const int16_t b = static_cast<int16_t>(rng());
        const int64_t exact = (static_cast<int64_t>(a) * b) >> 15;
        if (exact > INT32_MAX)
            continue;
        ASSERT_EQ(MulQ31Q15(a, b), exact) << a << " " << b;
    }
}

TEST(FixedPoint, AgcSample)
{
    const struct {
        int16_t sample, gain, rate, target;
        int16_t y, newGain;
    } cases[] = {
        // Quiet input at full gain: the gain cannot grow (a negative result is kept at the maximum).
        {1000, 0x7FFF, 1638, 4096, 999, 0x7FFF},
        // Loud input: ((4096 - 10000) x 1638 + 16384 x 32768) << 1 >> 16 = 16088.
        {20000, 16384, 1638, 4096, 10000, 16088},
        // Negative samples use |y|.
        {-20000, 16384, 1638, 4096, -10000, 16088},
        {0, 0, 1638, 4096, 0, 204},
    };
    for (const auto& c : cases) {
        int16_t gain = c.gain;
        EXPECT_EQ(AgcSample(c.sample, &gain, c.rate, c.target), c.y) << c.sample;
        EXPECT_EQ(gain, c.newGain) << c.sample;
    }
}

}  // namespace
