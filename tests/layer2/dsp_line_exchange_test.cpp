// Hook changes and dialling end to end: AT commands through call control, the line-side message handlers
// and the real data pump onto the simulated line, where the exchange sees the loop, receives the DTMF and
// pulse digits and routes the call; an independent DTMF receiver decodes what the modem sent.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "at_fixture.h"
#include "dsp_real_pump.h"
#include "layer2/corecode/cmd/country_exchange.h"
#include "layer2/windows/wdm/modem_core.h"
#include "line/exchange_port.h"
#include "line/line_port.h"
#include "line/wav_file.h"

#ifdef HAVE_SPANDSP
#include <spandsp.h>
#endif

namespace {

// The modem on line "2" of an exchange of its own country, with a second line to call.
struct ExchangeCall {
    coretest::TempRegistry reg;
    dsptest::RealPumpModem modem{reg.Path()};
    Exchange* ex = nullptr;
    ExchangeBinding* binding = nullptr;
    int modemLine = -1;

    explicit ExchangeCall(const std::string& called)
    {
        ex = ExchangeCreate(country_exchange_signals(modem.Ext()->core->settings.block));
        binding = ExchangeBind(ex, modem.Network());
        std::string error;
        EXPECT_TRUE(ExchangeBindPort(binding, modem.Port(), "2", LineConnectionParams(), &error)) << error;
        modemLine = 0;
        EXPECT_GE(ExchangeAddLine(ex, called, &error), 0) << error;
    }
    ~ExchangeCall()
    {
        ExchangeUnbind(binding);
        ExchangeDestroy(ex);
    }
    std::string Events()
    {
        std::string out;
        for (const ExchangeEvent& e : ExchangeTakeEvents(ex))
            out += e.text + "\n";
        return out;
    }
};

// The line starts on hook; a dial string of nothing but ";" takes it off hook and keeps it there, and ATH0
// puts it back on hook.
TEST(LineExchange, HookChangesOpenAndCloseTheLoop)
{
    ExchangeCall call("1");
    call.modem.Read(200);
    EXPECT_FALSE(LinePortLoopClosed(call.modem.Port()));
    const std::string out = call.modem.Dialogue("ATX0D;\r", 3000);
    EXPECT_NE(out.find("OK"), std::string::npos) << attest::Visible(out);
    EXPECT_TRUE(LinePortLoopClosed(call.modem.Port()));
    EXPECT_EQ(ExchangeGetState(call.ex, call.modemLine), EXL_DIALLING);
    EXPECT_EQ(call.modem.Dialogue("ATH0\r"), "ATH0\r\r\nOK\r\n");
    call.modem.Read(500);
    EXPECT_FALSE(LinePortLoopClosed(call.modem.Port()));
    EXPECT_EQ(ExchangeGetState(call.ex, call.modemLine), EXL_IDLE);
}

// Every DTMF key, dialled blind: the exchange's receiver takes the whole number and rings the called line,
// and an independent receiver finds the same keys in what the modem sent.
TEST(LineExchange, DtmfDialling)
{
    const std::string number = "0123456789ABCD*#";
    ExchangeCall call(number);
    const std::string path = call.reg.Path() + ".tx.raw";
    std::string error;
    ASSERT_TRUE(LinePortSetCaptures(call.modem.Port(), path, "", &error)) << error;
    const std::string out = call.modem.Dialogue("ATX0DT" + number + ";\r", 6000);
    EXPECT_NE(out.find("OK"), std::string::npos) << attest::Visible(out);
    EXPECT_EQ(ExchangeGetDialled(call.ex, call.modemLine), number) << call.Events();
    EXPECT_EQ(ExchangeGetState(call.ex, call.modemLine), EXL_RINGBACK) << call.Events();
    LinePortCloseCaptures(call.modem.Port());
#ifdef HAVE_SPANDSP
    SampleFileReader r;
    ASSERT_TRUE(SampleFileOpenRead(&r, path, LINE_FILE_RAW, &error)) << error;
    std::vector<int16_t> line;
    int16_t buffer[800];
    size_t n;
    while ((n = SampleFileRead(&r, buffer, 800)) != 0)
        line.insert(line.end(), buffer, buffer + n);
    SampleFileCloseRead(&r);
    dtmf_rx_state_t* rx = dtmf_rx_init(nullptr, nullptr, nullptr);
    dtmf_rx(rx, line.data(), static_cast<int>(line.size()));
    char digits[64] = {};
    dtmf_rx_get(rx, digits, 63);
    dtmf_rx_free(rx);
    EXPECT_EQ(std::string(digits), number);
#endif
    std::remove(path.c_str());
    EXPECT_EQ(call.modem.Dialogue("ATH0\r"), "ATH0\r\r\nOK\r\n");
}

// Pulse digits from the data pump's pulse generator, "0" (ten pulses) among them, within the exchange's
// limits; each digit's breaks are counted on the line port's hook log.
TEST(LineExchange, PulseDialling)
{
    const std::string number = "1905";
    ExchangeCall call(number);
    uint64_t cursor = 0;
    LineHookChange changes[kLineHookChanges];
    const std::string out = call.modem.Dialogue("ATX0DP" + number + ";\r", 8000);
    EXPECT_NE(out.find("OK"), std::string::npos) << attest::Visible(out);
    EXPECT_EQ(ExchangeGetDialled(call.ex, call.modemLine), number) << call.Events();
    EXPECT_EQ(ExchangeGetState(call.ex, call.modemLine), EXL_RINGBACK) << call.Events();
    const size_t n = LinePortHookChanges(call.modem.Port(), &cursor, changes, kLineHookChanges);
    // Off hook, then a break and a make per pulse: 1 + 9 + 10 + 5 pulses.
    ASSERT_EQ(n, 1u + 2u * 25u);
    EXPECT_TRUE(changes[0].closed);
    EXPECT_EQ(call.modem.Dialogue("ATH0\r"), "ATH0\r\r\nOK\r\n");
}

}  // namespace
