// Hook changes and dialling end to end: AT commands through call control, the line-side message handlers
// and the real data pump onto the simulated line, where the exchange sees the loop, receives the DTMF and
// pulse digits and routes the call; an independent DTMF receiver decodes what the modem sent. And a tone pair
// from the line-side handlers over the real data pump, measured on the line.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "at_fixture.h"
#include "layer1/tone_measure.h"
#include "layer2/corecode/cmd/country_builtin.h"
#include "layer2/corecode/mt/dsp_line_handlers.h"
#include "support/pump_harness.h"
#include "dsp_real_pump.h"
#include "stack/country_exchange.h"
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
    call.modem.Read(static_cast<int>(ExchangeClearTime(call.ex->country) / 10000));
    EXPECT_FALSE(LinePortLoopClosed(call.modem.Port()));
    EXPECT_EQ(ExchangeGetState(call.ex, call.modemLine), EXL_IDLE);
}

// Dials every DTMF key after the X command x and checks what the exchange and the independent receiver took.
void DtmfDialling(const std::string& x)
{
    const std::string number = "0123456789ABCD*#";
    ExchangeCall call(number);
    const std::string path = call.reg.Path() + ".tx.raw";
    std::string error;
    ASSERT_TRUE(LinePortSetCaptures(call.modem.Port(), path, "", &error)) << error;
    const std::string out = call.modem.Dialogue("AT" + x + "DT" + number + ";\r", 6000);
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

// Every DTMF key, dialled blind (X0) and after dial tone (X4): the exchange's receiver takes the whole number
// and rings the called line, and an independent receiver finds the same keys in what the modem sent.
TEST(LineExchange, DtmfDialling)
{
    for (const char* x : {"X0", "X4"}) {
        SCOPED_TRACE(x);
        DtmfDialling(x);
    }
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

// A tone pair asked of the tone-generation handler comes out at its frequencies (the handler turns them into
// the data pump's phase steps), at the country's two levels, for its on time, and stops.
TEST(LineTonePair, PlaysAtItsFrequenciesForItsTime)
{
    platform::Clock clock;
    platform::ClockThread self{clock};
    LineNetwork* network = LineNetworkCreate();
    LineEndpoint* loop = LineLoopbackCreate();
    auto modem = std::make_unique<pumptest::PumpModem>(clock, network);
    LineConnect(network, &modem->Port()->endpoint, loop, LineConnectionParams{});
    coretest::TempRegistry reg;
    const std::string path = reg.Path() + ".pair.raw";
    std::string error;
    ASSERT_TRUE(modem->Capture(path, "", &error)) << error;
    ASSERT_EQ(modem->Start(), STATUS_SUCCESS);
    const CountryBlock& country = country_builtin_block(0);
    auto dev = std::make_unique<DspDevice>();
    uint8_t optionA = 0;
    auto pump = [&](int ms) {
        for (int t = 0; t < ms; t += 10) {
            pumptest::RunFor(10);
            platform::MachineScope scope(modem->Machine());
            dsp_msg_add_ms(&dev->queue, 10);
            dsp_msg_pump(&dev->context);
        }
    };
    {
        platform::MachineScope scope(modem->Machine());
        dsp_device_init(dev.get(), nullptr);
        dsp_device_bind(dev.get(), modem->Context()->interfaceBlock, modem->Context());
        modem->Forward(dsp_event_routine);
        dsp_set_port_ready(&dev->link, true);
        DspHandlerRequest handlers[kDspLineHandlerCount];
        const int n = dsp_line_handlers(dev.get(), handlers);
        DspInterfaceSetup(&dev->context, &dev->queue, &dev->link, &optionA, &country, handlers, n, nullptr);
    }
    pump(200);
    {
        platform::MachineScope scope(modem->Machine());
        ASSERT_EQ(dsp_generate_tone_pair(&dev->context, 350, 440, 500), 1);
    }
    pump(1000);
    {
        platform::MachineScope scope(modem->Machine());
        dsp_device_unbind(dev.get());
    }
    ASSERT_EQ(modem->Remove(), STATUS_SUCCESS);
    LinePortCloseCaptures(modem->Port());
    modem.reset();
    LineNetworkDestroy(network);
    LineEndpointDestroy(loop);

    SampleFileReader r;
    ASSERT_TRUE(SampleFileOpenRead(&r, path, LINE_FILE_RAW, &error)) << error;
    std::vector<double> line;
    int16_t buffer[800];
    size_t got;
    while ((got = SampleFileRead(&r, buffer, 800)) != 0)
        line.insert(line.end(), buffer, buffer + got);
    SampleFileCloseRead(&r);
    std::remove(path.c_str());
    // The burst: from the first to the last sample above an eighth of the peak.
    double peak = 0;
    for (double v : line)
        peak = std::max(peak, std::fabs(v));
    ASSERT_GT(peak, 3000.0);
    size_t first = line.size(), last = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        if (std::fabs(line[i]) > peak / 8) {
            first = std::min(first, i);
            last = i;
        }
    }
    const double ms = static_cast<double>(last - first) / 8.0;
    EXPECT_NEAR(ms, 500.0, 20.0);
    const std::vector<double> middle(line.begin() + static_cast<long>(first) + 400,
                                     line.begin() + static_cast<long>(first) + 3600);
    EXPECT_NEAR(tonetest::PeakFrequency(middle, 350), 350.0, 0.5);
    EXPECT_NEAR(tonetest::PeakFrequency(middle, 440), 440.0, 0.5);
    const double a350 = tonetest::Amplitude(middle, 350);
    const double a440 = tonetest::Amplitude(middle, 440);
    // The first tone at the country's low-group level, the second at its high-group level (2 dB above).
    EXPECT_NEAR(20 * std::log10(a440 / a350), 2.0, 1.0);
    // Nothing where a frequency read as a phase step would have put it (350 x 9600 / 65536 = 51 Hz).
    EXPECT_LT(tonetest::Amplitude(middle, 51.3), a350 / 100);
}

}  // namespace
