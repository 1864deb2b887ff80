// Two V.32bis modems on the duplex line: handshake, rates, data, retrain and renegotiation.
#include <gtest/gtest.h>

#include "modem/v32_fixture.h"

namespace {

using v32test::EchoLine;
using v32test::Pair;
using v32test::PairOptions;

// Both ends report data with the same rate, and each sent the status sequence 0x10, 2.
void ExpectData(Pair& pair, int32_t rate)
{
    for (int s = 0; s < 2; ++s) {
        const v32test::End& e = pair.Side(s);
        EXPECT_TRUE(e.modem.dataRunning) << s << " " << pair.Describe();
        EXPECT_EQ(e.modem.rateCode, rate) << s << " " << pair.Describe();
        ASSERT_GE(e.statuses.size(), 2u) << s;
        EXPECT_EQ(e.statuses[e.statuses.size() - 2], 0x10);
        EXPECT_EQ(e.statuses.back(), 2);
    }
}

TEST(V32Pair, TheHighestCommonRateOfTheTwoMasksIsAgreed)
{
    const struct {
        uint8_t caller, answerer;
        int32_t rate;
    } cases[] = {
        {0x02, 0x3E, 5},  // 4800 only at the caller
        {0x0E, 0x06, 6},  // 7200 is the highest both have
    };
    for (const auto& c : cases) {
        PairOptions o;
        o.callerRates = c.caller;
        o.answererRates = c.answerer;
        Pair pair(o);
        ASSERT_TRUE(pair.RunUntilData(16.0)) << pair.Describe();
        ExpectData(pair, c.rate);
    }
}

TEST(V32Pair, NoCommonRateEndsBothSidesWithStatus4)
{
    PairOptions o;
    o.callerRates = 0x20;    // 14400 only
    o.answererRates = 0x02;  // 4800 only
    Pair pair(o);
    pair.Run(16.0);
    for (int s = 0; s < 2; ++s) {
        const v32test::End& e = pair.Side(s);
        EXPECT_FALSE(e.modem.dataRunning) << s;
        EXPECT_TRUE(e.modem.gaveUp) << s << " " << pair.Describe();
        ASSERT_FALSE(e.statuses.empty()) << s;
        EXPECT_EQ(e.statuses.back(), 4) << s;
    }
}

}  // namespace
