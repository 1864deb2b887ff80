// Two modems on the simulated exchange, end to end in virtual time: each modem is the whole controller over
// the real data pump on its own machine, the exchange between them gives dial tone, takes the digits, rings,
// connects and clears down as a public exchange would.
#include <gtest/gtest.h>

#include <string>

#include "exchange_modems.h"

namespace {

using attest::Visible;
using calltest::Count;
using calltest::ExchangeModems;
using calltest::kLineA;
using calltest::kLineB;

constexpr uint8_t kIcdStart = 0x6E;
constexpr uint8_t kIcdGoIdle = 0x98;
constexpr uint8_t kIcdConfigDetectors = 0x65;

size_t CountCode(const std::vector<dsptest::WireCommand>& log, uint8_t code)
{
    size_t n = 0;
    for (const auto& c : log)
        n += c.code == code;
    return n;
}

TEST(CallExchange, EachModemAnswersOnItsOwnPortAndBothLinesStayIdle)
{
    ExchangeModems x;
    x.Type(x.A(), "ATE0\r");
    x.Type(x.B(), "ATS7?\r");
    x.Run(500);
    EXPECT_EQ(x.TakeA(), "ATE0\r\r\nOK\r\n");
    EXPECT_EQ(x.TakeB(), "ATS7?\r\r\n060\r\n\r\nOK\r\n");
    x.Type(x.A(), "AT\r");
    x.Run(300);
    EXPECT_EQ(x.TakeA(), "\r\nOK\r\n") << "A's echo setting is its own";
    EXPECT_EQ(x.TakeB(), "");
    EXPECT_EQ(x.State(kLineA), EXL_IDLE);
    EXPECT_EQ(x.State(kLineB), EXL_IDLE);
    EXPECT_EQ(x.EventText(), "");
}

// H and Z in the command state each end with exactly one "OK", and a command that follows them on the
// same line still runs.
TEST(CallExchange, HangUpAndResetInTheCommandStateGiveOneOk)
{
    const struct {
        const char* line;
        const char* expected;
    } cases[] = {
        {"ATH\r", "ATH\r\r\nOK\r\n"},
        {"ATH0\r", "ATH0\r\r\nOK\r\n"},
        {"ATZ\r", "ATZ\r\r\nOK\r\n"},
        {"ATHS7?\r", "ATHS7?\r\r\n060\r\n\r\nOK\r\n"},
    };
    ExchangeModems x;
    for (const auto& c : cases) {
        x.Type(x.A(), c.line);
        x.Run(3000);
        EXPECT_EQ(x.TakeA(), c.expected) << c.line;
    }
    EXPECT_EQ(x.State(kLineA), EXL_IDLE);
    EXPECT_EQ(x.EventText(), "");
}

// &T1: the data pump is started on its analog loop (no line is seized). Its data modulations do not give a
// carrier on the loop yet, so the test ends when the loop start times out (10 s), releases the loop and
// reports "OK"; the modem takes commands again afterwards.
TEST(CallExchange, AnalogLoopBackTestRunsAndEnds)
{
    ExchangeModems x;
    x.A().ClearLog();
    x.Type(x.A(), "AT&T1\r");
    x.Run(500);
    auto log = x.A().Log();
    ASSERT_EQ(CountCode(log, kIcdStart), 1u);
    for (const auto& c : log) {
        if (c.code == kIcdStart) {
            EXPECT_EQ(c.payload[2] & 0x08, 0x08) << "the start packet asks for the loop";
        }
    }
    EXPECT_EQ(x.TakeA(), "AT&T1\r");
    ASSERT_TRUE(x.RunUntil([&] { return x.OutA().find("OK") != std::string::npos; }, 12000));
    EXPECT_EQ(x.TakeA(), "\r\nOK\r\n");
    EXPECT_EQ(CountCode(x.A().Log(), kIcdGoIdle), 1u) << "the loop is released";
    x.Type(x.A(), "AT\r");
    x.Run(300);
    EXPECT_EQ(x.TakeA(), "AT\r\r\nOK\r\n");
    EXPECT_EQ(x.EventText(), "") << "the loop never takes the line off hook";
}

// Ringing is still seen after the data pump has been started and sent idle again: by an answer that found
// no carrier, and by a loop-back test. (Going idle drops the pump's detector step; the controller sets the
// idle detectors with ring-energy reports again each time.)
TEST(CallExchange, RingingIsSeenAgainAfterTheDataPumpWasInUse)
{
    for (const bool loopTest : {false, true}) {
        SCOPED_TRACE(loopTest ? "after a loop-back test" : "after an answer without carrier");
        ExchangeModems x;
        const int phone = x.AddPhone("300");
        x.Type(x.B(), "ATS7=5\r");
        x.Run(300);
        if (loopTest) {
            x.Type(x.B(), "AT&T1\r");
            ASSERT_TRUE(x.RunUntil([&] { return Count(x.OutB(), "OK") == 2; }, 12000)) << Visible(x.OutB());
        } else {
            x.PhoneCall(phone, "202");
            ASSERT_TRUE(x.RunUntil([&] { return Count(x.OutB(), "RING") == 1; }, 8000)) << Visible(x.OutB());
            x.Type(x.B(), "ATA\r");
            ASSERT_TRUE(x.RunUntil([&] { return Count(x.OutB(), "NO CARRIER") == 1; }, 10000))
                << Visible(x.OutB());
            x.PhoneHook(phone, false);
            x.Run(2000);
        }
        x.TakeB();
        x.B().ClearLog();
        x.PhoneCall(phone, "202");
        EXPECT_EQ(x.State(kLineB), EXL_RINGING);
        x.Run(12000);
        EXPECT_EQ(Count(x.OutB(), "\r\nRING\r\n"), 2u) << Visible(x.OutB());
    }
}

}  // namespace
