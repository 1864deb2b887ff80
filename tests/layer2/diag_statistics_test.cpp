// The statistics reader of the diagnostic record against the data pump's line statistics: the readings'
// scales give the controller's formulas their levels and echo losses; after V.22bis and V.32bis calls on the
// simulated exchange "#UD" and "I34" show the levels the line's attenuation makes, the echo loss of the
// line's echo and the round trip of its delay.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "data_exchange_fixture.h"
#include "layer1/dsp/line_statistics.h"
#include "layer2/corecode/cmd/diag_record.h"

namespace {

using calltest::ExchangeModems;
using calltest::ExchangeOptions;

// Mean square of a sine at `dbm0` (0 dBm0: amplitude 22826).
double MeanSquareOf(double dbm0) { return 22826.0 * 22826.0 / 2.0 * std::pow(10.0, dbm0 / 10.0); }

TEST(DiagStatistics, ReadingScalesGiveTheFormulasTheirDecibels)
{
    for (double dbm0 : {0.0, -3.0, -10.0, -21.0, -33.0, -43.0}) {
        SCOPED_TRACE(dbm0);
        const uint32_t reading = LineLevelReading(static_cast<uint64_t>(MeanSquareOf(dbm0)));
        // The level entries are -dBm0, rounded down by the formula's shift.
        EXPECT_NEAR(diag_tx_level(reading), -dbm0, 1.0);
    }
    for (double tx : {-6.0, -10.0, -15.0}) {
        for (double loss : {6.0, 12.0, 20.0, 35.0}) {
            SCOPED_TRACE(testing::Message() << tx << " dBm0, echo " << loss << " dB down");
            const double ms = MeanSquareOf(tx);
            const uint32_t reference = LineEchoReference(static_cast<uint64_t>(ms));
            const auto echo = static_cast<uint32_t>(ms / std::pow(10.0, loss / 10.0));
            EXPECT_NEAR(diag_near_echo_loss(reference, echo), loss, 1.0);
        }
    }
    EXPECT_EQ(LineLevelReading(0), 0u);
    EXPECT_EQ(LineLevelReading(~uint64_t{0}), 0xFFFFFFFFu);  // saturates
}

// "DIAG <2A4D3263 kk = vv>" lines by key.
std::map<int, unsigned long> DiagEntries(const std::string& text)
{
    std::map<int, unsigned long> out;
    const std::string head = "DIAG <2A4D3263 ";
    for (size_t at = text.find(head); at != std::string::npos; at = text.find(head, at + 1)) {
        const std::string key = text.substr(at + head.size(), 2);
        const size_t v = at + head.size() + 5;
        const size_t end = text.find('>', v);
        const std::string value = text.substr(v, end == std::string::npos ? 0 : end - v);
        // The text entries (04, 05 and the maker's name) are not numbers.
        if (key == "04" || key == "05" || key == "FF" || value.empty())
            continue;
        out[static_cast<int>(std::strtol(key.c_str(), nullptr, 16))] = std::strtoul(value.c_str(), nullptr, 16);
    }
    return out;
}

// Escapes to the command state (a second's quiet either side) and runs a command; what it printed.
std::string OnLineCommand(ExchangeModems& x, dsptest::RealPumpModem& m, const std::string& command)
{
    const bool isA = &m == &x.A();
    auto out = [&] { return isA ? x.OutA() : x.OutB(); };
    isA ? x.TakeA() : x.TakeB();
    x.Run(1200);
    x.Type(m, "+++");
    EXPECT_TRUE(x.RunUntil([&] { return out().find("OK\r\n") != std::string::npos; }, 3000)) << out();
    isA ? x.TakeA() : x.TakeB();
    x.Type(m, command);
    x.Run(500);
    return isA ? x.TakeA() : x.TakeB();
}

bool Connect(ExchangeModems& x, const std::string& ms)
{
    x.Type(x.B(), "ATS0=1+MS=" + ms + "\r");
    x.Type(x.A(), "ATX4+MS=" + ms + ";DT202\r");
    const bool ok = x.RunUntil([&] {
        return x.OutA().find("CONNECT") != std::string::npos && x.OutB().find("CONNECT") != std::string::npos;
    }, 40000);
    EXPECT_TRUE(ok) << x.OutA() << "\n---\n" << x.OutB();
    return ok;
}

struct LineCase {
    const char* ms;
    double attenuationDb;  // A's line, both ways
    double delayMs;        // A's line, each way
    double echoLossDb;     // A hears itself this far down (infinity: no echo)
    bool cancels;          // the modulation runs an echo canceller (echo and delay measured)
};

// What a call shows: each side's "#UD" entries and A's link screen, a few seconds into data.
struct CallSeen {
    std::map<int, unsigned long> a, b;
    std::string screen;
};

CallSeen Call(const LineCase& c, double delayMs)
{
    ExchangeOptions o;
    o.lineA.aToB.attenuationDb = o.lineA.bToA.attenuationDb = c.attenuationDb;
    o.lineA.aToB.bulkDelayMs = o.lineA.bToA.bulkDelayMs = delayMs;
    o.lineA.echoA.lossDb = c.echoLossDb;
    o.lineA.echoA.delayMs = 1.0;
    ExchangeModems x(o);
    CallSeen seen;
    if (!Connect(x, c.ms))
        return seen;
    x.Run(4000);
    seen.a = DiagEntries(OnLineCommand(x, x.A(), "AT#UD\r"));
    seen.b = DiagEntries(OnLineCommand(x, x.B(), "AT#UD\r"));
    x.Type(x.A(), "ATI34\r");
    x.Run(500);
    seen.screen = x.TakeA();
    return seen;
}

class DiagStatisticsCall : public testing::TestWithParam<LineCase> {};

TEST_P(DiagStatisticsCall, EntriesFollowTheLine)
{
    const LineCase& c = GetParam();
    const CallSeen seen = Call(c, c.delayMs);
    const std::map<int, unsigned long>& a = seen.a;
    const std::map<int, unsigned long>& b = seen.b;
    for (int key : {0x10, 0x11, 0x14, 0x15, 0x16, 0x17}) {
        ASSERT_TRUE(a.count(key)) << key;
        ASSERT_TRUE(b.count(key)) << key;
    }
    // Both modems send at one level, and each hears the other's through the line's attenuation.
    EXPECT_NEAR(static_cast<double>(a.at(0x11)), static_cast<double>(b.at(0x11)), 1.0);
    EXPECT_GE(a.at(0x11), 1u);
    EXPECT_LE(a.at(0x11), 20u);
    EXPECT_NEAR(static_cast<double>(a.at(0x10)), static_cast<double>(b.at(0x11)) + c.attenuationDb, 1.5);
    EXPECT_NEAR(static_cast<double>(b.at(0x10)), static_cast<double>(a.at(0x11)) + c.attenuationDb, 1.5);
    if (c.cancels) {
        // The near echo's loss; no far echo comes back.
        EXPECT_NEAR(static_cast<double>(a.at(0x14)), c.echoLossDb, 2.0);
        EXPECT_GT(a.at(0x15), a.at(0x14) + 10);
        // The round trip grows by twice the delay added each way (the network itself takes a little).
        const CallSeen base = Call(c, 0.0);
        ASSERT_TRUE(base.a.count(0x17));
        EXPECT_LE(base.a.at(0x17), 40u);
        EXPECT_NEAR(static_cast<double>(a.at(0x17)) - static_cast<double>(base.a.at(0x17)), 2.0 * c.delayMs, 2.0);
        EXPECT_EQ(a.at(0x16), a.at(0x17));
    } else {
        EXPECT_EQ(a.at(0x14), 0u);
        EXPECT_EQ(a.at(0x15), 0u);
        EXPECT_EQ(a.at(0x17), 0u);
    }
    // The link screen prints the same figures (the reader runs on meanwhile: within a unit).
    const std::string& screen = seen.screen;
    unsigned tx = 0, rx = 0, delay = 0, near = 0;
    const size_t levels = screen.find("Signal level, -dBm    :");
    const size_t trip = screen.find("Round trip delay, ms  :");
    const size_t echo = screen.find("Near echo loss, -dBm  :");
    ASSERT_NE(levels, std::string::npos) << screen;
    ASSERT_NE(trip, std::string::npos) << screen;
    ASSERT_NE(echo, std::string::npos) << screen;
    ASSERT_EQ(std::sscanf(screen.c_str() + levels, "Signal level, -dBm    : %u %u", &tx, &rx), 2);
    ASSERT_EQ(std::sscanf(screen.c_str() + trip, "Round trip delay, ms  : %u", &delay), 1);
    ASSERT_EQ(std::sscanf(screen.c_str() + echo, "Near echo loss, -dBm  : %u", &near), 1);
    EXPECT_NEAR(tx, a.at(0x11), 1.0);
    EXPECT_NEAR(rx, a.at(0x10), 1.0);
    EXPECT_NEAR(delay, a.at(0x17), 1.0);
    EXPECT_NEAR(near, a.at(0x14), 1.0);
}

INSTANTIATE_TEST_SUITE_P(Lines, DiagStatisticsCall,
                         testing::Values(LineCase{"V22B", 6.0, 0.0, INFINITY, false},
                                         LineCase{"V32B", 8.0, 15.0, 20.0, true},
                                         LineCase{"V32B", 3.0, 40.0, 12.0, true}));

}  // namespace
