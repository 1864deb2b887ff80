// The V.22 / V.22bis pump: two pumps connecting through the line model at both rates and in both roles, and
// carrying random data error-free through the framer mailboxes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "v22_fixture.h"

using v22test::LineSettings;
using v22test::PumpPair;

namespace {

TEST(V22PumpPair, ConnectsAtBothRates)
{
    struct Case {
        int32_t mode;
        uint8_t rateCode;
    };
    const Case cases[] = {{7, 4}, {6, 3}};
    for (const Case& c : cases) {
        LineSettings s;
        PumpPair pair(s);
        pair.a.StartV22Mode(c.mode, 1);
        pair.b.StartV22Mode(c.mode, 0);
        ASSERT_TRUE(pair.RunUntilConnected(800)) << c.mode << " a " << int(pair.a.Status()) << " b "
                                                 << int(pair.b.Status());
        EXPECT_EQ(pair.a.ctx->connection.rateCode, c.rateCode);
        EXPECT_EQ(pair.b.ctx->connection.rateCode, c.rateCode);
    }
}

}  // namespace

namespace {

#if defined(MODEM_UNDER_SANITIZER)
constexpr size_t kDataBytes = 4096;
#else
constexpr size_t kDataBytes = 65536;
#endif

struct DataCase {
    const char* name;
    int32_t mode;
    LineSettings line;
    size_t bytes;
};

void CarryData(const DataCase& c)
{
    PumpPair pair(c.line);
    pair.a.StartV22Mode(c.mode, 1);
    pair.b.StartV22Mode(c.mode, 0);
    ASSERT_TRUE(pair.RunUntilConnected(800)) << c.name;
    for (int i = 0; i < 20; ++i)
        pair.Step();
    pair.a.link.received.clear();
    pair.b.link.received.clear();
    const std::vector<uint8_t> fromA = fsktest::RandomBytes(c.bytes, 11);
    const std::vector<uint8_t> fromB = fsktest::RandomBytes(c.bytes, 12);
    pair.a.link.toSend.assign(fromA.begin(), fromA.end());
    pair.b.link.toSend.assign(fromB.begin(), fromB.end());
    const int64_t limit = static_cast<int64_t>(c.bytes) * 10 * 100 / (c.mode == 7 ? 2400 : 1200) + 500;
    for (int64_t t = 0; t < limit && (pair.b.link.received.size() < fromA.size() || pair.a.link.received.size() < fromB.size()); ++t)
        pair.Step();
    EXPECT_TRUE(pair.b.link.received == fromA) << c.name << fsktest::Mismatch(pair.b.link.received, fromA);
    EXPECT_TRUE(pair.a.link.received == fromB) << c.name << fsktest::Mismatch(pair.a.link.received, fromB);
    EXPECT_TRUE(pair.a.Connected() && pair.b.Connected()) << c.name;
}

TEST(V22PumpPair, CarriesRandomDataBothWays)
{
    LineSettings fast;
    fast.skewPpm = 100.0;
    fast.offsetHz = 7.0;
    fast.echoLossDb = 12.0;
    LineSettings slow = fast;
    slow.skewPpm = -100.0;
    slow.offsetHz = -7.0;
    const DataCase cases[] = {
        {"V.22bis +100 ppm", 7, fast, kDataBytes},
        {"V.22bis -100 ppm", 7, slow, kDataBytes},
        {"V.22 +100 ppm", 6, fast, kDataBytes / 2},
        {"V.22 -100 ppm", 6, slow, kDataBytes / 2},
    };
    for (const DataCase& c : cases)
        CarryData(c);
}

}  // namespace

namespace {

// The caller's carrier loop starts from the offset measured while the answerer's scrambled ones settle,
// and that estimate (from a signal that is nearly one tone) can be a few hertz off. The training steps must
// pull the rest in before the sixteen-point decisions start: a residual of a hertz left the data loop
// slipping cycles for the whole call (seen from the whole modem's path, where the estimate came out 4 Hz
// off on a clean line). Here the preset is pushed 6 Hz off either way, with and without a line offset.
TEST(V22PumpPair, TrainingPullsInACarrierPresetSixHertzOff)
{
    const double unitsPerHz = 1.0 / 600.0 * 65536.0 * 32768.0 / 2710.0;  // integrator units of one hertz
    const struct {
        double offsetHz;
        double presetErrorHz;
    } cases[] = {{0.0, 6.0}, {0.0, -6.0}, {7.0, 6.0}, {-7.0, -6.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.offsetHz << " Hz, preset " << c.presetErrorHz << " Hz off");
        LineSettings s;
        s.snrDb = INFINITY;
        s.offsetHz = c.offsetHz;
        PumpPair pair(s);
        pair.a.StartV22Mode(7, 1);
        pair.b.StartV22Mode(7, 0);
        bool settling = false;
        bool preset = false;
        for (int i = 0; i < 400 && !preset; ++i) {
            pair.Step();
            V22RxState& r = pair.a.ctx->v22.modem.rx;
            if (r.control & V22_RX_START_ENERGY) {
                settling = true;
            } else if (settling) {
                // The integrator turns the phase against the offset.
                r.loop_integrator = static_cast<int32_t>(-(c.offsetHz + c.presetErrorHz) * unitsPerHz);
                preset = true;
            }
        }
        ASSERT_TRUE(preset);
        ASSERT_TRUE(pair.RunUntilConnected(800));
        for (int i = 0; i < 100; ++i)
            pair.Step();
        const V22RxState& r = pair.a.ctx->v22.modem.rx;
        EXPECT_NEAR(r.loop_integrator, -c.offsetHz * unitsPerHz, 0.5 * unitsPerHz);
        EXPECT_LT(r.squared_error, 20) << "the decisions are right";
    }
}

}  // namespace

namespace {

// A long line delays each direction by up to a few tens of milliseconds (more over satellite hops): the
// handshake's waits must allow for the round trip, and data must flow both ways after it.
TEST(V22PumpPair, ConnectsAndCarriesDataOverADelayedLine)
{
    for (double delayMs : {0.0, 40.0, 80.0, 120.0}) {
        for (int32_t mode : {7, 6}) {
            LineSettings line;
            line.skewPpm = 50.0;
            line.offsetHz = 3.0;
            line.echoLossDb = 12.0;
            line.delayMs = delayMs;
            const std::string name = std::string(mode == 7 ? "V.22bis " : "V.22 ") + std::to_string(int(delayMs)) + " ms";
#if defined(MODEM_UNDER_SANITIZER)
            CarryData({name.c_str(), mode, line, 300});
#else
            CarryData({name.c_str(), mode, line, 1500});
#endif
        }
    }
}

}  // namespace
