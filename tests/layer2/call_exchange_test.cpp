// Two modems on the simulated exchange, end to end in virtual time: each modem is the whole controller over
// the real data pump on its own machine, the exchange between them gives dial tone, takes the digits, rings,
// connects and clears down as a public exchange would.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "exchange_modems.h"
#include "layer2/corecode/mt/dsp_control.h"

namespace {

using attest::Visible;
using calltest::Count;
using calltest::ExchangeModems;
using calltest::kLineA;
using calltest::kLineB;

// Byte 2 of the start packets a modem sent (bit 2: originate), in order.
std::vector<uint8_t> StartFlags(const std::vector<dsptest::WireCommand>& log)
{
    std::vector<uint8_t> out;
    for (const auto& c : log)
        if (c.code == IcdStartConnection && c.payload.size() > 2)
            out.push_back(c.payload[2]);
    return out;
}

// The events of one exchange line from its first event that starts with `from` on.
std::vector<std::string> EventsFrom(const ExchangeModems& x, int line, const std::string& from)
{
    std::vector<std::string> all = x.EventsOf(line);
    for (size_t i = 0; i < all.size(); ++i)
        if (all[i].rfind(from, 0) == 0)
            return std::vector<std::string>(all.begin() + static_cast<long>(i), all.end());
    return {};
}

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
    ASSERT_EQ(CountCode(log, IcdStartDataPump), 1u);
    for (const auto& c : log) {
        if (c.code == IcdStartDataPump) {
            EXPECT_EQ(c.payload[2] & 0x08, 0x08) << "the start packet asks for the loop";
        }
    }
    EXPECT_EQ(x.TakeA(), "AT&T1\r");
    ASSERT_TRUE(x.RunUntil([&] { return x.OutA().find("OK") != std::string::npos; }, 12000));
    EXPECT_EQ(x.TakeA(), "\r\nOK\r\n");
    EXPECT_EQ(CountCode(x.A().Log(), IcdGoIdle), 1u) << "the loop is released";
    x.Type(x.A(), "AT\r");
    x.Run(300);
    EXPECT_EQ(x.TakeA(), "AT\r\r\nOK\r\n");
    EXPECT_EQ(x.EventText(), "") << "the loop never takes the line off hook";
}

// A dials B by tones or by pulses: the exchange sees A off hook, gives dial tone, which A hears before it
// dials, takes the digits and rings B, which shows "RING". Nobody answers: the connection wait (S7) ends the
// call with "NO CARRIER", A goes on hook and B stops ringing.
TEST(CallExchange, DiallingReachesTheOtherModemAndAnUnansweredCallEndsAfterS7)
{
    const struct {
        const char* line;
        const char* digits;  // how the exchange received them
    } cases[] = {
        {"ATS7=6DT202\r", "DTMF"},
        {"ATS7=6DP202\r", "pulse"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        ExchangeModems x;
        x.Type(x.A(), c.line);
        ASSERT_TRUE(x.RunUntil([&] { return x.OutB().find("RING") != std::string::npos; }, 12000))
            << x.EventText();
        const std::string d = c.digits;
        EXPECT_EQ(x.EventsOf(kLineA),
                  (std::vector<std::string>{"off hook", "dial tone", d + " digit 2", d + " digit 0", d + " digit 2",
                                            "calling 202", "ringback"}));
        EXPECT_EQ(x.State(kLineB), EXL_RINGING);
        x.ClearEvents();
        x.Run(1000);
        EXPECT_EQ(x.TakeA(), std::string(c.line)) << "S7 has not run out";
        ASSERT_TRUE(x.RunUntil([&] { return x.OutA().find("NO CARRIER") != std::string::npos; }, 8000));
        EXPECT_EQ(x.TakeA(), "\r\nNO CARRIER\r\n");
        x.Run(x.ClearMs() + 200);
        EXPECT_EQ(StartFlags(x.A().Log()), std::vector<uint8_t>{0x1C}) << "started as originator in automode with V.8";
        EXPECT_EQ(x.EventsOf(kLineA), (std::vector<std::string>{"on hook", "idle"}));
        EXPECT_EQ(x.State(kLineB), EXL_IDLE) << "the ringing stopped";
        EXPECT_EQ(Count(x.TakeB(), "\r\nRING\r\n"), x.B().Ext()->acu->sreg[1]);
    }
}

// The number is busy, unknown, or the exchange sends no dial tone. With busy detection (X3, X4) the busy
// tone gives "BUSY", and so does the congestion tone (the second busy kind); with X1 neither is listened for
// and the call ends when S7 runs out. X4 waits for dial tone: without it the call ends "NO DIALTONE" after
// the country's dial-tone wait. "@" waits for quiet answer: busy ends it, and ringing that goes on past S7
// ends it "NO ANSWER".
TEST(CallExchange, BusyUnknownNumberNoAnswerAndNoDialTone)
{
    const struct {
        const char* name;
        bool dialTone;
        bool bOffHook;
        const char* dial;
        const char* lastEvent;  // of A's line before it hangs up
        const char* result;
        bool started;           // the data pump was started
    } cases[] = {
        {"busy", true, true, "X4DT202", "busy", "BUSY", true},
        {"busy, not listened for", true, true, "X1DT202", "busy", "NO CARRIER", true},
        {"unknown number", true, false, "X4DT299", "congestion", "BUSY", true},
        {"unknown number, not listened for", true, false, "X1DT299", "congestion", "NO CARRIER", true},
        {"busy, waiting for quiet answer", true, true, "X4DT202@", "busy", "BUSY", false},
        {"ringing, waiting for quiet answer", true, false, "X4DT202@", "ringback", "NO ANSWER", false},
        {"no dial tone", false, false, "X4DT202", "dial tone", "NO DIALTONE", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ExchangeModems x(calltest::ExchangeOptions{c.dialTone});
        if (c.bOffHook) {
            x.Type(x.B(), "ATDT;\r");
            ASSERT_TRUE(x.RunUntil([&] { return x.OutB().find("OK") != std::string::npos; }, 8000));
            EXPECT_EQ(x.State(kLineB), EXL_DIALLING);
        }
        x.ClearEvents();
        const std::string line = std::string("ATS7=6") + c.dial + "\r";
        x.Type(x.A(), line);
        ASSERT_TRUE(x.RunUntil([&] { return x.OutA().find(c.result) != std::string::npos; }, 15000))
            << Visible(x.OutA()) << "\n" << x.EventText();
        x.Run(x.ClearMs() + 200);
        EXPECT_EQ(x.TakeA(), line + "\r\n" + c.result + "\r\n");
        const auto events = x.EventsOf(kLineA);
        ASSERT_GE(events.size(), 4u) << x.EventText();
        EXPECT_EQ(events.front(), "off hook");
        EXPECT_EQ(events[events.size() - 3], c.lastEvent) << x.EventText();
        EXPECT_EQ(events[events.size() - 2], "on hook");
        EXPECT_EQ(x.State(kLineA), EXL_IDLE);
        EXPECT_EQ(StartFlags(x.A().Log()).size(), c.started ? 1u : 0u);
    }
}

// B answers (ATA after "RING"): the exchange connects the two lines, A's data pump was started as
// originator and B's as answerer. The modulations that would train are not there: A's connection wait
// ends with "NO CARRIER" after its S7 and A hangs up; B, left with busy tone, ends at its own S7.
TEST(CallExchange, AnsweredCallConnectsTheLinesAndStartsBothPumps)
{
    ExchangeModems x;
    x.Type(x.B(), "ATS7=8\r");
    x.Type(x.A(), "ATS7=6DT202\r");
    ASSERT_TRUE(x.RunUntil([&] { return x.OutB().find("RING") != std::string::npos; }, 12000));
    x.Type(x.B(), "ATA\r");
    ASSERT_TRUE(x.RunUntil([&] { return x.State(kLineB) == EXL_CONNECTED; }, 2000)) << x.EventText();
    EXPECT_EQ(x.State(kLineA), EXL_CONNECTED);
    EXPECT_EQ(ExchangeGetPartner(x.Ex(), kLineA), kLineB);
    x.Run(3000);
    EXPECT_EQ(StartFlags(x.A().Log()), std::vector<uint8_t>{0x1C}) << "A originates in automode with V.8";
    EXPECT_EQ(StartFlags(x.B().Log()), std::vector<uint8_t>{0x18}) << "B answers in automode with V.8";
    ASSERT_TRUE(x.RunUntil([&] { return x.OutA().find("NO CARRIER") != std::string::npos; }, 6000));
    x.Run(x.ClearMs() + 200);
    EXPECT_EQ(x.State(kLineA), EXL_IDLE);
    EXPECT_EQ(x.State(kLineB), EXL_BUSY) << "B still off hook, hearing busy tone";
    ASSERT_TRUE(x.RunUntil([&] { return x.OutB().find("NO CARRIER") != std::string::npos; }, 10000));
    x.Run(x.ClearMs() + 200);
    EXPECT_EQ(x.State(kLineB), EXL_IDLE);
    EXPECT_EQ(Count(x.OutA(), "CONNECT") + Count(x.OutB(), "CONNECT"), 0u);
    const std::string b = x.TakeB();
    EXPECT_EQ(b.substr(std::min(b.size(), b.find("ATA"))), "ATA\r\r\nNO CARRIER\r\n");
}

// "ATDT1;" dials and returns to the command state off hook with "OK" and no "CONNECT"; ATH (or ATZ) then
// puts the line on hook with exactly one "OK".
TEST(CallExchange, SemicolonKeepsTheLineOffHookUntilHangUp)
{
    for (const char* hangup : {"ATH\r", "ATZ\r"}) {
        SCOPED_TRACE(hangup);
        ExchangeModems x;
        x.Type(x.A(), "ATDT1;\r");
        ASSERT_TRUE(x.RunUntil([&] { return x.OutA().find("OK") != std::string::npos; }, 8000));
        x.Run(1000);
        EXPECT_EQ(x.TakeA(), "ATDT1;\r\r\nOK\r\n");
        EXPECT_EQ(EventsFrom(x, kLineA, "off hook").size() >= 3, true) << x.EventText();
        EXPECT_TRUE(x.HasEvent(kLineA, "DTMF digit 1"));
        EXPECT_NE(x.State(kLineA), EXL_IDLE) << "the loop stays closed";
        EXPECT_EQ(StartFlags(x.A().Log()).size(), 0u);
        x.ClearEvents();
        x.Type(x.A(), hangup);
        x.Run(3000);
        EXPECT_EQ(x.TakeA(), std::string(hangup) + "\r\nOK\r\n");
        EXPECT_EQ(x.EventsOf(kLineA), (std::vector<std::string>{"on hook", "idle"}));
    }
}

// With &D2, dropping DTR while the call rings B hangs up: A goes on hook, B stops ringing, and A reports the
// hang-up's result ("OK": the DTR hang-up carries no result of its own).
TEST(CallExchange, DtrDropWithAmpD2HangsUp)
{
    ExchangeModems x;
    x.Type(x.A(), "AT&D2S7=30DT202\r");
    ASSERT_TRUE(x.RunUntil([&] { return x.OutB().find("RING") != std::string::npos; }, 12000));
    x.ClearEvents();
    EXPECT_EQ(x.A().Control(IOCTL_SERIAL_CLR_DTR), STATUS_SUCCESS);
    x.Run(3000);
    EXPECT_EQ(x.EventsOf(kLineA), (std::vector<std::string>{"on hook", "idle"}));
    EXPECT_EQ(x.State(kLineB), EXL_IDLE);
    EXPECT_EQ(x.TakeA(), "AT&D2S7=30DT202\r\r\nOK\r\n");
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


namespace {

// Automatic answer: with S0 = n the called modem answers on the n-th ring (the exchange connects the lines and
// the modem starts as answerer); S0 = 0 never answers, nor does &D2 while the application holds DTR off.
TEST(CallExchange, AutomaticAnswerAfterS0Rings)
{
    struct Case {
        const char* setup;
        bool dtr_off;
        size_t rings_before_answer;  // 0: never answers
    } cases[] = {
        {"ATS0=2\r", false, 2},
        {"ATS0=1\r", false, 1},
        {"ATS0=0\r", false, 0},
        {"AT&D2S0=1\r", true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.setup);
        ExchangeModems x;
        x.Type(x.B(), c.setup);
        if (c.dtr_off) {
            EXPECT_EQ(x.B().Control(IOCTL_SERIAL_CLR_DTR), STATUS_SUCCESS);
        }
        x.Type(x.A(), "ATS7=30DT202\r");
        const bool answered = x.RunUntil([&] { return x.State(kLineB) == EXL_CONNECTED; }, 20000);
        EXPECT_EQ(answered, c.rings_before_answer != 0) << x.EventText();
        if (answered) {
            EXPECT_EQ(Count(x.OutB(), "RING"), c.rings_before_answer);
            x.Run(3000);  // the answer delay comes before the start
            EXPECT_EQ(StartFlags(x.B().Log()), std::vector<uint8_t>{0x18}) << "B answers in automode with V.8";
        } else {
            EXPECT_GE(Count(x.OutB(), "RING"), 2u);
        }
    }
}


// A new call right after the last one ended: the line stays open for the whole on-hook wait, so the exchange
// clears the old call, and the new call hears dial tone and dials.
TEST(CallExchange, ANewCallAtOnceAfterBusyHearsDialTone)
{
    ExchangeModems x;
    x.Type(x.B(), "ATDT;\r");
    ASSERT_TRUE(x.RunUntil([&] { return x.OutB().find("OK") != std::string::npos; }, 8000));
    x.Type(x.A(), "ATX4S7=6DT202\r");
    ASSERT_TRUE(x.RunUntil([&] { return x.OutA().find("BUSY") != std::string::npos; }, 15000)) << x.EventText();
    x.Type(x.B(), "ATH\r");
    x.ClearEvents();
    x.Type(x.A(), "ATX4S7=6DT202\r");
    ASSERT_TRUE(x.RunUntil([&] { return x.OutB().find("RING") != std::string::npos; }, 15000))
        << Visible(x.OutA()) << "\n" << x.EventText();
    EXPECT_EQ(Count(x.OutA(), "NO DIALTONE"), 0u);
}

}  // namespace

// Two modems connect through the exchange: A dials, B answers after S0 rings, both report the rate. With
// the factory settings (V.90 in automode) they land on the best modulation that is built, V.32bis at 14400.
TEST(CallExchange, TwoModemsConnectAndReportTheRate)
{
    const struct {
        const char* ms;
        const char* connect;
    } cases[] = {{"+MS=V22B", "CONNECT 2400"}, {"+MS=V22", "CONNECT 1200"}, {"", "CONNECT 14400"},
                 {"+MS=V32B", "CONNECT 14400"}};
    for (const auto& c : cases) {
        const std::string ms = c.ms;
        SCOPED_TRACE(ms);
        ExchangeModems x;
        x.Type(x.B(), std::string("ATS0=1") + ms + "\r");
        x.Type(x.A(), std::string("ATX4") + ms + (ms.empty() ? "" : ";") + "DT202\r");
        const bool ok = x.RunUntil([&] {
            return x.OutA().find("CONNECT") != std::string::npos && x.OutB().find("CONNECT") != std::string::npos;
        }, 30000);
        ASSERT_TRUE(ok) << x.OutA() << "\n---\n" << x.OutB() << "\n" << x.EventText();
        x.Run(500);
        EXPECT_NE(x.OutA().find(c.connect), std::string::npos) << x.OutA();
        EXPECT_NE(x.OutB().find(c.connect), std::string::npos) << x.OutB();
        EXPECT_EQ(x.State(kLineA), EXL_CONNECTED);
    }
}

// An automode caller (factory settings) reaches a V.22bis-only answerer: it starts V.32bis on the answer
// tone, hears the answerer's unscrambled ones instead of AC and falls back to V.22bis.
TEST(CallExchange, AnAutomodeCallerFallsBackToV22bisAgainstAV22bisAnswerer)
{
    ExchangeModems x;
    x.Type(x.B(), "ATS0=1+MS=V22B\r");
    x.Type(x.A(), "ATX4DT202\r");
    ASSERT_TRUE(x.RunUntil([&] {
        return x.OutA().find("CONNECT") != std::string::npos && x.OutB().find("CONNECT") != std::string::npos;
    }, 30000)) << x.OutA() << "\n---\n" << x.OutB() << "\n" << x.EventText();
    x.Run(500);
    EXPECT_NE(x.OutA().find("CONNECT 2400"), std::string::npos) << x.OutA();
    EXPECT_NE(x.OutB().find("CONNECT 2400"), std::string::npos) << x.OutB();
}

// A connected call that one side drops: A hangs up when DTR falls (&D2), the exchange clears the call and B
// loses the carrier and reports NO CARRIER.
TEST(CallExchange, CarrierLostAfterTheFarEndHangsUpEndsWithNoCarrier)
{
    ExchangeModems x;
    x.Type(x.B(), "ATS0=1+MS=V22B\r");
    x.Type(x.A(), "AT&D2+MS=V22B;DT202\r");
    ASSERT_TRUE(x.RunUntil([&] {
        return x.OutA().find("CONNECT 2400") != std::string::npos && x.OutB().find("CONNECT 2400") != std::string::npos;
    }, 30000)) << x.OutA() << "\n---\n" << x.OutB();
    x.Run(1000);
    EXPECT_EQ(x.A().Control(IOCTL_SERIAL_CLR_DTR), STATUS_SUCCESS);
    ASSERT_TRUE(x.RunUntil([&] { return x.OutB().find("NO CARRIER") != std::string::npos; }, 20000))
        << x.OutB() << "\n" << x.EventText();
    x.Run(2000);
    EXPECT_EQ(x.State(kLineA), EXL_IDLE);
}
