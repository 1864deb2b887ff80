// Call restrictions seen from the AT port: calls that end busy are noted by the country's restriction
// handler, a number dialled again during its delay gives "DELAYED CALL", and after the country's maximum
// attempts less one "BLACKLISTED", without the line going off hook; and the same over the whole controller and
// the real data pump after a change of country.
#include <gtest/gtest.h>

#include <string>

#include "at_fixture.h"
#include "call_fixture.h"
#include "dsp_real_pump.h"
#include "layer2/corecode/cmd/country_block.h"
#include "layer2/corecode/mt/dsp_line_handlers.h"

using calltest::CallRig;

namespace {

class RestrictedLine {
public:
    RestrictedLine()
    {
        r.A()->sreg[22] &= static_cast<uint8_t>(~0x10);  // blind dialling
        r.A()->sreg[8] = 0;
        // Four attempts (restricted after the third failure), delays 0 and 2 s, kept for good.
        CountryBlock& b = r.settings->block;
        cb_put_u8(b, CB_BLACKLIST, 4);
        cb_put_u8(b, CB_BLACKLIST + 1, 2);
        cb_put_u8(b, CB_BLACKLIST + 2, 0);
        cb_put_u16(b, CB_BLACKLIST + 4, 600);
        cb_put_u16(b, CB_BL_DELAYS, 0);
        for (unsigned k = 1; k < CB_BL_DELAY_MAX; ++k)
            cb_put_u16(b, CB_BL_DELAYS + 2 * k, 2);
        // The real class 7 handler replaces the rig's recording one.
        DspLinkContext& ctx = r.dev->context;
        ctx.country = &b;
        ctx.queue = &r.dev->queue;
        ctx.hooks.ctx = r.A();
        ctx.hooks.restriction_verdict = [](void* a, uint8_t v) {
            acu_restriction_verdict(static_cast<AcuContext*>(a), v);
        };
        DspHandlerRequest h{kMsgCountry, dsp_on_country_msg, r.dev.get()};
        EXPECT_EQ(dsp_msg_register_handler(&r.dev->queue, &h), 0);
    }

    void Run(int ms)
    {
        for (int t = 0; t < ms; t += 10) {
            dsp_msg_add_ms(&r.dev->queue, 10);
            r.Run(10);
        }
    }

    // Dials the number; a call that starts the data pump meets a busy line. Returns the result code and
    // whether the line went off hook.
    std::string Dial(const std::string& number, bool* off_hook)
    {
        const size_t starts = r.IcdCount(IcdStartConnection);
        r.tone = 0;
        *off_hook = false;
        r.Type("ATD" + number + "\r");
        std::string out;
        for (int t = 0; t < 30000; t += 10) {
            r.tone = r.IcdCount(IcdStartConnection) > starts ? 3 : 0;
            *off_hook = *off_hook || r.A()->seq.line_off_hook != 0;
            Run(10);
            out += r.Output();
            if (out.size() > 2 && out.find("\r\n", 2) != std::string::npos)
                break;
        }
        for (int t = 0; t < 3000 && r.A()->call_state != CALL_IDLE; t += 10)
            Run(10);
        EXPECT_EQ(r.A()->call_state, CALL_IDLE) << number;
        return out;
    }

    CallRig r;
};

TEST(CallRestrictions, DelayedThenBlacklistedAtTheAtPort)
{
    RestrictedLine line;
    struct Step {
        const char* dial;
        int wait_ms;  // before dialling
        const char* result;
        bool off_hook;
    };
    const Step steps[] = {
        {"T5551234", 0, "BUSY", true},           // first failure: no delay
        {"T555-1234", 0, "BUSY", true},          // second: 2 s delay
        {"T5551234", 0, "DELAYED CALL", false},  // within the delay
        {"T5559999", 0, "BUSY", true},           // another number is not held up
        {"T5551234", 2000, "BUSY", true},        // after the delay: the third failure restricts it
        {"T5551234", 0, "BLACKLISTED", false},
        {"T5551234", 60000, "BLACKLISTED", false},
        {"T5559999", 0, "BUSY", true},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.dial);
        line.Run(s.wait_ms);
        bool off_hook = false;
        EXPECT_EQ(line.Dial(s.dial, &off_hook), std::string("\r\n") + s.result + "\r\n");
        EXPECT_EQ(off_hook, s.off_hook);
    }
}

// The whole controller over the real data pump: after a change to a country that restricts calls, the
// handler registered at set-up answers the checks through the device's hooks. A call nobody answers ends
// with "NO CARRIER" after S7; the second consecutive one holds the number back for the country's 5 s.
// The whole controller over the real data pump, switched to a country that restricts calls, dialling blind
// with a short S7.
struct RestrictingModem {
    RestrictingModem()
    {
        EXPECT_NE(modem.Ext()->core, nullptr);
        EXPECT_EQ(modem.Dialogue("AT+GCI=04\r"), "AT+GCI=04\r\r\nOK\r\n");
        EXPECT_EQ(modem.Dialogue("ATX0S7=1\r"), "ATX0S7=1\r\r\nOK\r\n");
    }
    coretest::TempRegistry reg;
    dsptest::RealPumpModem modem{reg.Path()};
};

TEST(CallRestrictions, CountryChangeBringsRestrictionsToTheWholeStack)
{
    RestrictingModem rig;
    dsptest::RealPumpModem& modem = rig.modem;
    const struct {
        const char* dial;
        const char* result;
    } calls[] = {{"T12", "NO CARRIER"}, {"T12", "NO CARRIER"}, {"T12", "DELAYED CALL"}, {"T13", "NO CARRIER"}};
    for (const auto& c : calls) {
        SCOPED_TRACE(c.dial);
        const std::string command = std::string("ATD") + c.dial + "\r";
        const std::string out = modem.Dialogue(command, 4000);
        EXPECT_EQ(out, command + "\r\n" + c.result + "\r\n") << attest::Visible(out);
    }
}

// Choosing the country again applies its parameters afresh: a number held back by its delay is free again.
TEST(CallRestrictions, ChoosingTheCountryAgainForgetsTheNotedNumbers)
{
    RestrictingModem rig;
    dsptest::RealPumpModem& modem = rig.modem;
    for (int k = 0; k < 2; ++k)
        EXPECT_EQ(modem.Dialogue("ATDT12\r", 4000), "ATDT12\r\r\nNO CARRIER\r\n");
    EXPECT_EQ(modem.Dialogue("AT+GCI=04\r"), "AT+GCI=04\r\r\nOK\r\n");
    const std::string out = modem.Dialogue("ATDT12\r", 4000);
    EXPECT_EQ(out, "ATDT12\r\r\nNO CARRIER\r\n") << attest::Visible(out);
}

}  // namespace
