// Two modems on the simulated exchange set their calls up through V.8: the caller's call menu and the
// answerer's joint menu go over V.21, each side reports them with +A8E's indications, and both carry the data
// pumps on to the modulation the menus share. A V.8 caller facing an answerer without V.8 goes on through the
// pump's own fall-backs; menus with nothing in common end the call.
#include <gtest/gtest.h>

#include <string>

#include "layer2/exchange_modems.h"

namespace {

using calltest::ExchangeModems;
using calltest::kLineA;

bool BothConnected(ExchangeModems& x)
{
    return x.OutA().find("CONNECT") != std::string::npos && x.OutB().find("CONNECT") != std::string::npos;
}

// The menus of the factory settings (V.32bis, V.22bis, V.21 and V.23 on offer, LAPM asked for): the
// call-function, modulation, its two extensions, the protocol and the access octets after the sync octet.
constexpr const char* kFactoryMenu = "+A8M: E0C10513942A0D";

TEST(V8Exchange, MenusGoBothWaysAndTheCallConnectsAt14400)
{
    ExchangeModems x;
    x.Type(x.B(), "ATS0=1+A8E=6,5\r");
    x.Type(x.A(), "ATX4+A8E=6,5;DT202\r");
    ASSERT_TRUE(x.RunUntil([&] { return BothConnected(x); }, 30000))
        << x.OutA() << "\n---\n" << x.OutB() << "\n" << x.EventText();
    x.Run(500);
    const std::string a = x.OutA();
    const std::string b = x.OutB();
    EXPECT_NE(a.find("CONNECT 14400"), std::string::npos) << a;
    EXPECT_NE(b.find("CONNECT 14400"), std::string::npos) << b;
    // Caller: the pump asked for the call menu, the joint menu came back, the exchange ended.
    const size_t asked = a.find("+A8A: 01");
    const size_t joint = a.find(kFactoryMenu);
    const size_t done = a.find("+A8J: 001");
    ASSERT_NE(asked, std::string::npos) << a;
    ASSERT_NE(joint, std::string::npos) << a;
    ASSERT_NE(done, std::string::npos) << a;
    EXPECT_LT(asked, joint);
    EXPECT_LT(joint, done);
    EXPECT_LT(done, a.find("CONNECT"));
    // Answerer: the call menu's call function and the menu, then the caller's closing zeros.
    const size_t function = b.find("+A8I: C1");
    ASSERT_NE(function, std::string::npos) << b;
    ASSERT_NE(b.find(kFactoryMenu), std::string::npos) << b;
    EXPECT_LT(function, b.find(kFactoryMenu));
    EXPECT_LT(b.find(kFactoryMenu), b.find("+A8J: 001"));
    EXPECT_LT(b.find("+A8J: 001"), b.find("CONNECT"));
    EXPECT_EQ(x.State(kLineA), EXL_CONNECTED);
    // The status screen shows the V.32bis connection the menus chose.
    x.TakeA();
    x.Type(x.A(), "+++");
    ASSERT_TRUE(x.RunUntil([&] { return x.OutA().find("OK") != std::string::npos; }, 5000)) << x.OutA();
    x.Type(x.A(), "ATI20\r");
    x.Run(500);
    EXPECT_NE(x.OutA().find("V32BIS"), std::string::npos) << x.OutA();
    EXPECT_NE(x.OutA().find("V.8"), std::string::npos) << "the log notes the menus' choice\n" << x.OutA();
}

// The modulation a V.8 call lands on follows what both menus offer. The caller's DTE sees the exchange
// (+A8E=6); the answerer's stays quiet with the factory +A8E (the modem runs the exchange itself).
TEST(V8Exchange, TheMenusChooseWhatBothSidesOffer)
{
    const struct {
        const char* caller;
        const char* answerer;
        const char* connect;
    } cases[] = {
        {"+MS=V32B", "", "CONNECT 14400"},
        {"", "+MS=V32B,1,0,12000", "CONNECT 12000"},
        {"+MS=V32", "", "CONNECT 9600"},
        {"+MS=V21", "", "CONNECT 300"},
        // Call function 21: the caller's call indicators go first, the menus follow as ever.
        {"+A8E=6,1,21", "", "CONNECT 14400"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.caller) + " / " + c.answerer);
        ExchangeModems x;
        x.Type(x.B(), std::string("ATS0=1") + c.answerer + "\r");
        x.Type(x.A(), std::string("ATX4+A8E=6;") + c.caller + (*c.caller ? ";" : "") + "DT202\r");
        ASSERT_TRUE(x.RunUntil([&] { return BothConnected(x); }, 30000))
            << x.OutA() << "\n---\n" << x.OutB() << "\n" << x.EventText();
        x.Run(300);
        EXPECT_NE(x.OutA().find(c.connect), std::string::npos) << x.OutA();
        EXPECT_NE(x.OutB().find(c.connect), std::string::npos) << x.OutB();
        EXPECT_NE(x.OutA().find("+A8J: 001"), std::string::npos) << x.OutA();
        EXPECT_EQ(x.OutB().find("+A8"), std::string::npos) << x.OutB();
    }
}

// A V.8 caller reaches an answerer that sends a plain answer tone (V.22bis only): the pump reports it, the
// caller tells the DTE the answerer has no V.8 and goes on to V.32bis, whose start hears V.22bis and falls back.
TEST(V8Exchange, ACallerFacingAnAnswererWithoutV8FallsBack)
{
    ExchangeModems x;
    x.Type(x.B(), "ATS0=1+MS=V22B\r");
    x.Type(x.A(), "ATX4+A8E=6;DT202\r");
    ASSERT_TRUE(x.RunUntil([&] { return BothConnected(x); }, 30000))
        << x.OutA() << "\n---\n" << x.OutB() << "\n" << x.EventText();
    x.Run(300);
    EXPECT_NE(x.OutA().find("+A8A: 02"), std::string::npos) << x.OutA();
    EXPECT_EQ(x.OutA().find("+A8M"), std::string::npos) << x.OutA();
    EXPECT_NE(x.OutA().find("CONNECT 2400"), std::string::npos) << x.OutA();
    EXPECT_NE(x.OutB().find("CONNECT 2400"), std::string::npos) << x.OutB();
}

// Menus with no modulation in common: the answerer ends the call at once (no fall-back connection), and the
// caller gives up when its S7 wait runs out.
TEST(V8Exchange, MenusWithNothingInCommonEndTheCall)
{
    ExchangeModems x;
    x.Type(x.B(), "ATS0=1+MS=V32B,0;+A8E=1,5\r");
    x.Type(x.A(), "ATX4S7=15+MS=V21,0;DT202\r");
    ASSERT_TRUE(x.RunUntil([&] { return x.OutB().find("NO CARRIER") != std::string::npos; }, 30000))
        << x.OutA() << "\n---\n" << x.OutB() << "\n" << x.EventText();
    EXPECT_NE(x.OutB().find("+A8M: E0C10510902A0D"), std::string::npos) << "the caller offered V.21 only\n"
                                                                         << x.OutB();
    ASSERT_TRUE(x.RunUntil([&] { return x.OutA().find("NO CARRIER") != std::string::npos; }, 30000))
        << x.OutA() << "\n" << x.EventText();
    EXPECT_EQ(x.OutA().find("CONNECT"), std::string::npos) << x.OutA();
    EXPECT_EQ(x.OutB().find("CONNECT"), std::string::npos) << x.OutB();
}

// A V.8 set-up hands over to the data path: the application's bytes cross in both directions, and nothing of
// the menus that were being repeated when the pumps went on comes before them (buffered mode, no error
// control to hide a stray byte).
TEST(V8Exchange, NothingOfTheMenusReachesTheData)
{
    ExchangeModems x;
    x.Type(x.B(), "ATS0=1\\N0\r");
    x.Type(x.A(), "ATX4\\N0DT202\r");
    ASSERT_TRUE(x.RunUntil([&] { return BothConnected(x); }, 30000))
        << x.OutA() << "\n---\n" << x.OutB() << "\n" << x.EventText();
    x.Run(1000);
    EXPECT_NE(x.TakeA().find("CONNECT 14400"), std::string::npos);
    EXPECT_NE(x.TakeB().find("CONNECT 14400"), std::string::npos);
    x.Type(x.A(), "from the caller\r\n");
    x.Type(x.B(), "from the answerer\r\n");
    x.Run(1000);
    EXPECT_EQ(x.TakeB(), "from the caller\r\n");
    EXPECT_EQ(x.TakeA(), "from the answerer\r\n");
}

}  // namespace
