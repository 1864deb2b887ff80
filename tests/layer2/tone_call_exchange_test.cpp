// Dial-tone waits through the whole controller over the real data pump on the simulated exchange: with X4
// the modem waits for the exchange's dial tone (found by the tone detectors, after the tone has lasted its
// second) before it dials; with no dial tone, or a tone outside the call-progress band in its place, the
// call ends "NO DIALTONE" without a digit.
#include <gtest/gtest.h>

#include <string>

#include "exchange_modems.h"

namespace {

using attest::Visible;
using calltest::ExchangeModems;
using calltest::ExchangeOptions;
using calltest::kLineA;
using calltest::kLineB;

// Time (ms) of the first exchange event of line A that starts with `text`, from the fixture's event text
// ("<ms> ms line <n>: <text>" lines); -1 when there is none.
long FirstEvent(const std::string& events, const std::string& text)
{
    const std::string tag = " ms line " + std::to_string(kLineA) + ": " + text;
    size_t line = 0;
    while (line < events.size()) {
        const size_t end = events.find('\n', line);
        const std::string l = events.substr(line, end == std::string::npos ? std::string::npos : end - line);
        const size_t at = l.find(tag);
        if (at != std::string::npos)
            return std::stol(l.substr(0, at));
        if (end == std::string::npos)
            break;
        line = end + 1;
    }
    return -1;
}

TEST(ToneCallExchange, DialToneWaitThenTheDigits)
{
    struct Case {
        const char* name;
        bool dialTone;
        uint16_t replaceHz;  // non-zero: this steady tone is sent in place of dial tone
        bool dials;
    };
    const Case cases[] = {
        {"the country's dial tone", true, 0, true},
        {"no dial tone", false, 0, false},
        {"1400 Hz in place of dial tone", true, 1400, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExchangeOptions options;
        options.dialTone = c.dialTone;
        ExchangeModems x(options);
        if (c.replaceHz != 0) {
            std::lock_guard<std::mutex> g(x.Ex()->lock);
            x.Ex()->country.signal[EXS_DIAL_TONE] = ExchangeSignal{c.replaceHz, 0, false, 10, 0, {}, {}};
        }
        x.Type(x.A(), "ATX4DT202\r");
        if (c.dials) {
            ASSERT_TRUE(x.RunUntil([&] { return x.State(kLineB) == EXL_RINGING; }, 8000))
                << Visible(x.OutA()) << x.EventText();
            EXPECT_EQ(ExchangeGetDialled(x.Ex(), kLineA), "202");
            const long tone = FirstEvent(x.EventText(), "dial tone");
            const long digit = FirstEvent(x.EventText(), "DTMF digit");
            ASSERT_GE(tone, 0) << x.EventText();
            EXPECT_GE(digit - tone, 1000) << x.EventText();
            EXPECT_LE(digit - tone, 1500) << x.EventText();
            EXPECT_EQ(x.OutA().find("NO DIALTONE"), std::string::npos) << Visible(x.OutA());
        } else {
            ASSERT_TRUE(x.RunUntil([&] { return x.OutA().find("NO DIALTONE") != std::string::npos; }, 9000))
                << Visible(x.OutA()) << x.EventText();
            EXPECT_EQ(ExchangeGetDialled(x.Ex(), kLineA), "");
            EXPECT_EQ(x.State(kLineB), EXL_IDLE);
        }
    }
}

}  // namespace
