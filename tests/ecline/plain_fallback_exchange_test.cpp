// The MNP set-up giving way to a far end without error control, end to end on the simulated exchange at
// V.22bis: A dials asking for MNP with buffered fall-back (+ES=4,0), B answers buffered only and its
// application talks at once. \C1 keeps the raw bytes and falls back after 200 of them (or after the drop time
// when nothing comes), \C2 falls back on the %A character; with \C0 A goes on asking for its link.
#include <gtest/gtest.h>

#include <string>

#include "layer2/data_exchange_fixture.h"
#include "layer2/corecode/dce/data_link.h"

namespace {

using calltest::ExchangeModems;

bool Has(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }

// What A's application received after its connection report.
std::string AfterConnect(const std::string& out)
{
    const size_t at = out.find("CONNECT 2400\r\n");
    return at == std::string::npos ? std::string() : out.substr(at + 14);
}

std::string Printable(size_t n, char first)
{
    std::string s;
    for (size_t i = 0; i < n; ++i)
        s += static_cast<char>(first + i % 26);
    return s;
}

// Dials with A's \C setting; B answers buffered only. Whether B reported its connection.
bool Dial(ExchangeModems& x, const std::string& backslashC)
{
    x.Type(x.A(), "ATX4W4" + backslashC + "+MS=V22B;+ES=4,0,1\r");
    x.Type(x.B(), "ATS0=1X4+MS=V22B;+ES=1,0,1\r");
    x.Run(300);
    EXPECT_EQ(x.TakeA().find("ERROR"), std::string::npos);
    EXPECT_EQ(x.TakeB().find("ERROR"), std::string::npos);
    x.Type(x.A(), "ATDT202\r");
    const bool ok = x.RunUntil([&] { return Has(x.OutB(), "CONNECT 2400"); }, 40000);
    x.Run(100);
    x.TakeB();
    return ok;
}

uint8_t EcState(dsptest::RealPumpModem& m) { return m.Ext()->data_link.ec.state; }

// B's user types; A's set-up gives way as its \C asks, and A's application gets what it should of B's text:
// everything with \C1 (the raw bytes were kept), what followed the fall-back character with \C2. Then A's
// application talks to B's over the plain path.
TEST(PlainFallbackExchange, FarEndWithoutErrorControlTalking)
{
    const std::string text = Printable(260, 'a');
    const struct {
        const char* setting;
        std::string sent;
        std::string delivered;
    } cases[] = {
        {"\\C1", text, text},
        {"\\C2", "hello\rworld", "world"},
        {"%A33\\C2", "hello!world\r", "world\r"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setting);
        ExchangeModems x;
        ASSERT_TRUE(Dial(x, c.setting)) << attest::Visible(x.OutB());
        ASSERT_EQ(EcState(x.A()), EC_MNP) << "A asks for its MNP link";
        x.B().Send(c.sent);
        ASSERT_TRUE(x.RunUntil([&] { return AfterConnect(x.OutA()).size() >= c.delivered.size(); }, 8000))
            << attest::Visible(x.OutA());
        x.Run(500);
        EXPECT_TRUE(Has(x.OutA(), "+ER: NONE")) << attest::Visible(x.OutA());
        EXPECT_EQ(AfterConnect(x.OutA()), c.delivered) << attest::Visible(x.OutA());
        EXPECT_EQ(EcState(x.A()), EC_BUFFERED);
        x.TakeA();
        const std::string back = Printable(100, 'A');
        x.A().Send(back);
        ASSERT_TRUE(x.RunUntil([&] { return Has(x.OutB(), back); }, 3000)) << attest::Visible(x.OutB());
    }
}

// A far end that sends nothing: \C1's drop time (10 s) ends the set-up; with \C0 A is still asking for its
// link when that time has passed.
TEST(PlainFallbackExchange, SilentFarEndDropTime)
{
    for (const char* setting : {"\\C1", "\\C0"}) {
        SCOPED_TRACE(setting);
        const bool drops = setting[2] == '1';
        ExchangeModems x;
        ASSERT_TRUE(Dial(x, setting)) << attest::Visible(x.OutB());
        int waitedMs = 0;
        const bool connected = x.RunUntil([&] {
            waitedMs += 10;
            return Has(x.OutA(), "CONNECT 2400");
        }, 13000);
        EXPECT_EQ(connected, drops) << attest::Visible(x.OutA());
        if (drops) {
            EXPECT_GE(waitedMs, 9000);
            EXPECT_TRUE(Has(x.OutA(), "+ER: NONE")) << attest::Visible(x.OutA());
            x.Run(300);
            x.TakeB();
            x.A().Send("after the drop time");
            EXPECT_TRUE(x.RunUntil([&] { return Has(x.OutB(), "after the drop time"); }, 3000));
        } else {
            EXPECT_EQ(EcState(x.A()), EC_MNP);
        }
    }
}

}  // namespace
