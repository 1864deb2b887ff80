// The rate choice: the limits' end markers agree with each symbol rate's highest rate, an MSE equal to a
// limit takes that rate and one above it does not, a tiny MSE reaches the highest rate, and the 64-state code
// takes 0.9 of the MSE.
#include <gtest/gtest.h>

#include <cstdint>

#include "layer1/modem/v34/v34_rx.h"
#include "layer1/modem/v34/v34_rx_rate.h"

namespace {

TEST(V34RxRate, EndMarkersFollowTheHighestRate)
{
    for (int32_t s = 0; s < 6; ++s) {
        const int32_t* row = V34RateThresholds(s);
        const int32_t top = V34MaxRateIndex(s);
        for (int32_t n = 1; n <= kV34RateEntries; ++n)
            EXPECT_EQ(row[n - 1] == kV34RateEnd, n > top) << s << "/" << n;
        EXPECT_EQ(row[0] == kV34RateNotAllowed, V34MinRateIndex(s) == 2) << s;
        EXPECT_EQ(ChooseV34Rate(s, 0), top) << "a tiny MSE takes the highest rate";
    }
}

TEST(V34RxRate, AnMseEqualToALimitTakesThatRate)
{
    struct Case {
        int32_t s;
        uint32_t mse;
        int32_t rate;
    };
    const Case cases[] = {
        {5, 70618, 14},    {5, 70619, 13},    {5, 104238, 13}, {5, 170385, 11}, {0, 111844, 9},
        {0, 111845, 8},    {0, 23962697, 1},  {0, 23962698, 0}, {1, 16051419, 2}, {1, 16051420, 1},
        {4, 66675, 13},    {3, 0xFFFFFFFFu, 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ChooseV34Rate(c.s, c.mse), c.rate) << c.s << " " << c.mse;
}

TEST(V34RxRate, TheMseOf256SymbolsAndThe64StateCode)
{
    EXPECT_EQ(V34ChoiceMse(256u * 4000u, 0), 64000u);
    EXPECT_EQ(V34ChoiceMse(256u * 4000u, 1), 64000u);
    EXPECT_EQ(V34ChoiceMse(256u * 4000u, 2), 57599u);  // 0.9 in Q31, truncated
    EXPECT_EQ(V34ChoiceMse(uint64_t{1} << 40, 0), 0x7FFFFFFFu) << "held to 31 bits";
}

}  // namespace
