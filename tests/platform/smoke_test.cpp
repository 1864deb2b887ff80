#include <gtest/gtest.h>

#include "platform/machine.h"

TEST(PlatformSmoke, SleepAdvancesVirtualTime)
{
    platform::Clock clock;
    platform::ClockThread self(clock);
    for (int i = 0; i < 6000; i++) platform::SleepMs(10);
    EXPECT_EQ(clock.Now(), 60LL * 10000000);
}
