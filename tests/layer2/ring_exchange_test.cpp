// An incoming call end to end: the simulated exchange rings the modem's line with the country's cadence,
// the data pump's ring energy detector reports the bursts, the controller's cadence detector matches them
// and the AT port shows "RING" once per ring, counted in S1.
#include <gtest/gtest.h>

#include <string>

#include "at_fixture.h"
#include "dsp_real_pump.h"
#include "stack/country_exchange.h"
#include "layer2/windows/wdm/modem_core.h"
#include "line/exchange_port.h"

namespace {

size_t Count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

TEST(RingExchange, RingingFromTheExchangeReachesTheAtPortAsRing)
{
    coretest::TempRegistry reg;
    dsptest::RealPumpModem modem{reg.Path()};
    ASSERT_NE(modem.Ext()->core, nullptr);
    // The exchange rings with the cadence of the country the controller is set to.
    Exchange* ex = ExchangeCreate(country_exchange_signals(modem.Ext()->core->settings.block));
    ExchangeBinding* binding = ExchangeBind(ex, modem.Network());
    std::string error;
    ASSERT_TRUE(ExchangeBindPort(binding, modem.Port(), "2", LineConnectionParams(), &error)) << error;
    const int caller = ExchangeAddLine(ex, "1", &error);
    ASSERT_GE(caller, 0) << error;
    EXPECT_EQ(modem.Dialogue("AT\r"), "AT\r\r\nOK\r\n");
    // Nothing rings yet.
    std::string out = modem.Read(6000);
    EXPECT_EQ(out, "");
    // The caller lifts the handset and dials 2 by pulses (60 ms break, 40 ms make).
    ExchangeHook(ex, caller, true, static_cast<LONGLONG>(KeQueryInterruptTime()));
    out += modem.Read(500);
    for (int p = 0; p < 2; ++p) {
        ExchangeHook(ex, caller, false, static_cast<LONGLONG>(KeQueryInterruptTime()));
        out += modem.Read(60);
        ExchangeHook(ex, caller, true, static_cast<LONGLONG>(KeQueryInterruptTime()));
        out += modem.Read(40);
    }
    out += modem.Read(1000);
    EXPECT_EQ(ExchangeGetState(ex, 0), EXL_RINGING);
    // Three rings of the country's cadence, each one "RING" (the first after its on period).
    out += modem.Read(14000);
    const size_t rings = Count(out, "\r\nRING\r\n");
    EXPECT_EQ(rings, 3u) << attest::Visible(out);
    EXPECT_EQ(out.find_first_not_of("\r\nRING"), std::string::npos) << attest::Visible(out);
    EXPECT_EQ(modem.Ext()->acu->sreg[1], rings);
    ExchangeUnbind(binding);
    ExchangeDestroy(ex);
}

}  // namespace
