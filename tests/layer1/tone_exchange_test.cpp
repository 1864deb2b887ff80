// The simulated exchange receives what the pump dials: DTMF digits through its own receiver (frequency,
// twist, level and timing limits of telephone exchanges) and pulse digits through the hook changes of the
// card's line port.
#include <gtest/gtest.h>

#include <string>

#include "line/exchange_port.h"
#include "support/exchange_country.h"
#include "support/pump_harness.h"

using pumptest::PumpModem;
using pumptest::RunFor;

namespace {

struct DialCase {
    const char* name;
    bool pulse;
    const char* number;  // the called line's number, dialled key by key
    int level;           // 0x88 payload for both groups (0.1 dB of attenuation), -1: the pump's default
};

uint8_t DigitCode(char key)
{
    switch (key) {
    case '*': return 14;
    case '#': return 15;
    default: return static_cast<uint8_t>(key <= '9' ? key - '0' : key - 'A' + 10);
    }
}

TEST(ToneExchange, ExchangeReceivesTheDigitsThePumpDials)
{
    const DialCase cases[] = {
        {"tone", false, "0123456789ABCD*#", -1},
        {"tone at the lowest level", false, "0123456789ABCD*#", 255},
        {"pulse", true, "4051", -1},
    };
    for (const DialCase& c : cases) {
        SCOPED_TRACE(c.name);
        platform::Clock clock;
        platform::ClockThread self(clock);
        LineNetwork* network = LineNetworkCreate();
        Exchange* ex = ExchangeCreate(country_exchange_signals(linetest::BuiltinCountryBlock("USA")));
        ExchangeBinding* binding = ExchangeBind(ex, network);
        {
            PumpModem modem(clock, network);
            std::string error;
            ASSERT_TRUE(ExchangeBindPort(binding, modem.Port(), "100", LineConnectionParams(), &error)) << error;
            ASSERT_GE(ExchangeAddLine(ex, c.number, &error), 0) << error;
            ASSERT_EQ(modem.Start(), STATUS_SUCCESS);
            modem.SetRegister(242, 0x04);
            RunFor(50);
            modem.SetRegister(242, 0x00);  // off hook: dial tone
            RunFor(500);
            EXPECT_EQ(ExchangeGetState(ex, 0), EXL_DIALLING);
            if (c.level >= 0)
                modem.SendCommand(0x88, {uint8_t(c.level), uint8_t(c.level)});
            // Tone: 70 ms on, 70 ms off. Pulse: 60 ms break, 40 ms make, 500 ms between digits.
            modem.SendCommand(0x66, c.pulse ? std::vector<uint8_t>{60, 40, 1, 0, 0xF4, 0x01}
                                            : std::vector<uint8_t>{70, 70, 0, 0, 0, 0});
            for (const char* k = c.number; *k != 0; ++k) {
                const uint8_t code = DigitCode(*k);
                modem.SendCommand(0x67, {code});
                RunFor(c.pulse ? (code == 0 ? 10 : code) * 100 + 600 : 200);
            }
            RunFor(300);
            EXPECT_EQ(ExchangeGetDialled(ex, 0), c.number);
            EXPECT_EQ(ExchangeGetState(ex, 0), EXL_RINGBACK);
            ASSERT_EQ(modem.Remove(), STATUS_SUCCESS);
        }
        ExchangeUnbind(binding);
        ExchangeDestroy(ex);
        LineNetworkDestroy(network);
    }
}

}  // namespace
