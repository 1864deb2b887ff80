// The digital loop-back tests on a real connection: two modems on the simulated exchange at V.22bis in
// buffered mode. A local digital loop (&T3) on one side sends the other side's bytes back; the remote loops
// (&T6, &T7) run once the data pump reports the far end's loop, which the test reports for it here (the data
// pump has no line signal that asks the far modem for a loop); the self-test pattern counts no errors on a
// clean loop and exactly the damaged characters when some are put on the line.
#include <gtest/gtest.h>

#include <string>

#include "data_exchange_fixture.h"
#include "layer2/corecode/cmd/at_context.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/dce/line_block.h"
#include "window/register_map.h"

namespace {

using calltest::ExchangeModems;
using datatest::AllByteValues;
using datatest::AsString;
using datatest::FirstDifference;
using dsptest::RealPumpModem;

// Buffered mode (\\N0): no error control, the bytes straight through the plain line path.
bool ConnectBuffered(ExchangeModems& x)
{
    x.Type(x.A(), "AT\\N0\r");
    x.Type(x.B(), "AT\\N0\r");
    x.Run(300);
    x.TakeA();
    x.TakeB();
    return datatest::ConnectV22bis(x);
}

AcuContext* Acu(RealPumpModem& m) { return m.Ext()->acu; }

// "+++" with its guard times on one modem: the connection is held in the command state.
void Escape(ExchangeModems& x, RealPumpModem& m, const std::string& (ExchangeModems::*out)() const)
{
    x.Run(1200);
    x.Type(m, "+++");
    ASSERT_TRUE(x.RunUntil([&] { return (x.*out)().find("OK\r\n") != std::string::npos; }, 3000))
        << attest::Visible((x.*out)());
}

// Plays the data pump's part of the far end's loop: sets the connection state (register 54, low nibble).
void SetPumpState(RealPumpModem& m, uint8_t state)
{
    uint8_t* reg = &m.Block()->window.reg[kRegStatus];
    uint8_t old = __atomic_load_n(reg, __ATOMIC_ACQUIRE);
    while (!__atomic_compare_exchange_n(reg, &old, static_cast<uint8_t>((old & 0xF0) | state), false,
                                        __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) {
    }
}

// Writes all of `data` from a modem's port.
void WriteAll(ExchangeModems& x, RealPumpModem& m, const std::string& data)
{
    size_t at = 0;
    for (int guard = 0; at < data.size() && guard < 100000; ++guard) {
        at += m.SendSome(reinterpret_cast<const uint8_t*>(data.data()) + at, data.size() - at, 10);
        x.Run(0);
    }
    ASSERT_EQ(at, data.size());
}

// B holds the connection and loops it with &T3: A's bytes come back to A byte-exact and B's application sees
// none of them; &T0 ends the loop with the call still held, and what A sends afterwards waits for B's "O".
TEST(LoopBackExchange, LocalDigitalLoopSendsTheFarEndsBytesBack)
{
    ExchangeModems x;
    ASSERT_TRUE(ConnectBuffered(x));
    Escape(x, x.B(), &ExchangeModems::OutB);
    x.TakeB();
    x.Type(x.B(), "AT&T3\r");
    x.Run(300);
    EXPECT_EQ(x.TakeB(), "AT&T3\r\r\nOK\r\n");
    EXPECT_EQ(Acu(x.B())->sreg[16], 0x04);
    EXPECT_EQ(x.TakeA(), "+++") << "B's escape characters are data for A";

    const std::string looped = AsString(AllByteValues(600, 3));
    WriteAll(x, x.A(), looped);
    ASSERT_TRUE(x.RunUntil([&] { return x.OutA().size() >= looped.size(); }, 15000)) << x.OutA().size();
    EXPECT_EQ(FirstDifference(x.TakeA(), looped), std::string::npos);
    EXPECT_EQ(x.OutB(), "") << "the looped bytes never reach B's application";

    x.Type(x.B(), "AT&T0\r");
    x.Run(300);
    EXPECT_EQ(x.TakeB(), "AT&T0\r\r\nOK\r\n");
    EXPECT_EQ(Acu(x.B())->sreg[16], 0);
    const std::string after = "after the loop";
    WriteAll(x, x.A(), after);
    x.Run(1000);
    EXPECT_EQ(x.OutA(), "") << "nothing is looped any more";
    x.Type(x.B(), "ATO\r");
    ASSERT_TRUE(x.RunUntil([&] { return x.OutB().find(after) != std::string::npos; }, 5000))
        << attest::Visible(x.OutB());
    EXPECT_EQ(x.TakeB(), "ATO\r\r\nCONNECT 2400\r\n" + after);
}

// With a test time (S18) the loop ends by itself; a hang-up ends it too, and &T3 needs a held plain
// connection: in the command state without a call it is refused.
TEST(LoopBackExchange, LocalDigitalLoopEndsWithItsTestTimeAndNeedsAHeldCall)
{
    ExchangeModems x;
    x.Type(x.A(), "AT&T3\r");
    x.Run(300);
    EXPECT_EQ(x.TakeA(), "AT&T3\r\r\nERROR\r\n");
    ASSERT_TRUE(ConnectBuffered(x));
    Escape(x, x.B(), &ExchangeModems::OutB);
    x.TakeB();
    x.Type(x.B(), "ATS18=2&T3\r");
    x.Run(300);
    EXPECT_EQ(x.TakeB(), "ATS18=2&T3\r\r\nOK\r\n");
    EXPECT_EQ(x.TakeA(), "+++");
    WriteAll(x, x.A(), "ping");
    ASSERT_TRUE(x.RunUntil([&] { return x.OutA() == "ping"; }, 3000)) << attest::Visible(x.OutA());
    x.TakeA();
    x.Run(2000);
    EXPECT_EQ(Acu(x.B())->seq.digital_loop, 0) << "the test time is over";
    EXPECT_EQ(Acu(x.B())->seq.test_kind, 0);
    WriteAll(x, x.A(), "pong");
    x.Run(1000);
    EXPECT_EQ(x.OutA(), "");
    // A second loop, ended by the hang-up of the held call.
    x.Type(x.B(), "AT&T3\r");
    x.Run(300);
    EXPECT_EQ(x.TakeB(), "AT&T3\r\r\nOK\r\n");
    x.Type(x.B(), "ATH\r");
    ASSERT_TRUE(x.RunUntil([&] { return x.OutA().find("NO CARRIER") != std::string::npos; }, 20000))
        << attest::Visible(x.OutA());
    x.Run(1000);
    EXPECT_EQ(Acu(x.B())->seq.digital_loop, 0);
    x.TakeB();
    x.Type(x.B(), "AT\r");
    x.Run(300);
    EXPECT_EQ(x.TakeB(), "AT\r\r\nOK\r\n");
}

// A runs the remote loop with the self-test (&T7) while B loops: once the data pump reports the loop, A
// reports the connection, sends the pattern for the test time (S18) and reports its error count, then "OK"
// with the call still held. Characters put on B's line are counted: exactly those whose low seven bits
// differ from the pattern.
TEST(LoopBackExchange, RemoteSelfTestCountsTheDamagedCharacters)
{
    const struct {
        std::string injected;  // put on B's transmit side during the test
        const char* count;
    } cases[] = {
        {"", "000"},
        {std::string("\x00\xD5\x54\x55\xFF", 5), "003"},  // 0xD5 and 0x55 are the pattern in seven bits
    };
    for (const auto& c : cases) {
        ExchangeModems x;
        ASSERT_TRUE(ConnectBuffered(x));
        Escape(x, x.B(), &ExchangeModems::OutB);
        x.Type(x.B(), "AT&T3\r");
        Escape(x, x.A(), &ExchangeModems::OutA);
        x.Run(300);
        x.TakeA();
        x.Type(x.A(), "ATS18=4&T7\r");
        ASSERT_TRUE(x.RunUntil([&] { return Acu(x.A())->seq.test_substate == 2; }, 1000));
        EXPECT_EQ(Acu(x.A())->sreg[16], 0x20);
        SetPumpState(x.A(), 5);
        ASSERT_TRUE(x.RunUntil([&] { return x.OutA().find("CONNECT 2400\r\n") != std::string::npos; }, 1000))
            << attest::Visible(x.OutA());
        x.Run(1000);
        if (!c.injected.empty()) {
            LineBlock* lb = &x.B().Ext()->line;
            ASSERT_EQ(lb_tx_write(lb, reinterpret_cast<const uint8_t*>(c.injected.data()),
                                  static_cast<uint16_t>(c.injected.size())),
                      c.injected.size());
        }
        ASSERT_TRUE(x.RunUntil([&] { return Acu(x.A())->seq.test_substate >= 9; }, 5000));
        SetPumpState(x.A(), 2);  // the data pump's loop ends with the test
        ASSERT_TRUE(x.RunUntil([&] { return x.OutA().find("OK\r\n") != std::string::npos; }, 3000))
            << attest::Visible(x.OutA());
        EXPECT_EQ(x.TakeA(), "ATS18=4&T7\r\r\nCONNECT 2400\r\n\r\n" + std::string(c.count) + "\r\n\r\nOK\r\n");
        const SelfTestState& st = Acu(x.A())->seq.selftest;
        EXPECT_GT(st.sent, 600u) << "about 240 characters a second for the test time";
        EXPECT_GT(st.checked, 800u) << "the pattern came back";
        const int64_t inFlight = int64_t{st.sent} + int64_t(c.injected.size()) - st.checked;
        EXPECT_GE(inFlight, 0);
        EXPECT_LT(inFlight, 40) << "the pattern still on its way at the end is checked too";
        EXPECT_EQ(Acu(x.A())->sreg[16], 0);
        // The call is still held: A returns to data.
        x.Type(x.A(), "ATO\r");
        ASSERT_TRUE(x.RunUntil([&] { return x.OutA().find("CONNECT 2400\r\n") != std::string::npos; }, 3000))
            << attest::Visible(x.OutA());
    }
}

// Without the data pump reporting the far end's loop, &T6 ends after its countdown with "ERROR", the call
// still held; with it, A's application talks through B's loop for the test time and "+++" ends the test
// early with "OK".
TEST(LoopBackExchange, RemoteLoopCarriesTheApplicationsBytesOrEndsInError)
{
    ExchangeModems x;
    ASSERT_TRUE(ConnectBuffered(x));
    Escape(x, x.A(), &ExchangeModems::OutA);
    x.Run(300);
    x.TakeA();
    x.Type(x.A(), "AT&T6\r");
    ASSERT_TRUE(x.RunUntil([&] { return x.OutA().find("ERROR\r\n") != std::string::npos; }, 15000))
        << attest::Visible(x.OutA());
    x.Run(300);
    EXPECT_EQ(x.TakeA(), "AT&T6\r\r\nERROR\r\n");
    EXPECT_EQ(Acu(x.A())->seq.test_kind, 0);

    Escape(x, x.B(), &ExchangeModems::OutB);
    x.Type(x.B(), "AT&T3\r");
    x.Run(300);
    x.Type(x.A(), "ATS18=30&T6\r");
    ASSERT_TRUE(x.RunUntil([&] { return Acu(x.A())->seq.test_substate == 2; }, 1000)) << attest::Visible(x.OutA());
    SetPumpState(x.A(), 5);
    ASSERT_TRUE(x.RunUntil([&] { return x.OutA().find("CONNECT 2400\r\n") != std::string::npos; }, 1000))
        << attest::Visible(x.OutA());
    x.Run(300);
    EXPECT_EQ(x.TakeA(), "ATS18=30&T6\r\r\nCONNECT 2400\r\n+++") << "B's escape characters were waiting for A";
    const std::string looped = AsString(AllByteValues(400, 5));
    WriteAll(x, x.A(), looped);
    ASSERT_TRUE(x.RunUntil([&] { return x.OutA().size() >= looped.size(); }, 10000)) << x.OutA().size();
    EXPECT_EQ(FirstDifference(x.TakeA(), looped), std::string::npos);
    Escape(x, x.A(), &ExchangeModems::OutA);
    SetPumpState(x.A(), 2);
    x.Run(500);
    EXPECT_EQ(x.TakeA(), "+++\r\nOK\r\n") << "the escape characters go round the loop as on line";
    EXPECT_EQ(Acu(x.A())->seq.test_kind, 0);
    x.Type(x.A(), "AT\r");
    x.Run(300);
    EXPECT_EQ(x.TakeA(), "AT\r\r\nOK\r\n");
}

// The far modem asks for a loop: B's data pump reports the test state while B is on line, and B sends back
// what A sends until the data pump reports the connection again; then B's application gets the data again.
TEST(LoopBackExchange, LoopAskedForByTheDataPumpReturnsTheData)
{
    ExchangeModems x;
    ASSERT_TRUE(ConnectBuffered(x));
    SetPumpState(x.B(), 6);
    ASSERT_TRUE(x.RunUntil([&] { return Acu(x.B())->seq.data_path_test == 1; }, 1000));
    EXPECT_EQ(Acu(x.B())->call_state, CALL_TEST);
    WriteAll(x, x.A(), "looped by B");
    ASSERT_TRUE(x.RunUntil([&] { return x.OutA() == "looped by B"; }, 3000)) << attest::Visible(x.OutA());
    EXPECT_EQ(x.OutB(), "");
    SetPumpState(x.B(), 2);
    ASSERT_TRUE(x.RunUntil([&] { return Acu(x.B())->call_state == CALL_ONLINE; }, 1000));
    EXPECT_EQ(Acu(x.B())->seq.data_path_test, 0);
    x.TakeA();
    WriteAll(x, x.A(), "to B");
    ASSERT_TRUE(x.RunUntil([&] { return x.OutB() == "to B"; }, 3000)) << attest::Visible(x.OutB());
    EXPECT_EQ(x.OutA(), "");
}

// The error count: a character whose low seven bits are the pattern is no error (parity may set bit 7); the
// count stops at 255.
TEST(LoopBackExchange, SelfTestErrorCountIgnoresBitSevenAndStopsAt255)
{
    const struct {
        std::string received;
        uint8_t errors;
    } cases[] = {
        {"", 0},
        {"UUUU", 0},
        {std::string("\xD5\x55\xD5", 3), 0},
        {std::string("\x54\x00\x7F\xD4", 4), 4},
        {std::string(300, '\0'), 255},
    };
    for (const auto& c : cases) {
        SelfTestState st{};
        selftest_count(&st, reinterpret_cast<const uint8_t*>(c.received.data()), static_cast<uint32_t>(c.received.size()));
        EXPECT_EQ(st.errors, c.errors) << c.received.size();
        EXPECT_EQ(st.received, c.received.empty() ? 0 : 1);
    }
    SelfTestState st{};
    st.errors = 254;
    const uint8_t two[2] = {0, 0};
    selftest_count(&st, two, 2);
    EXPECT_EQ(st.errors, 255);
}

}  // namespace
