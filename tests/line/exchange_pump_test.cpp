// The data pump dialling through the exchange: the caller's pump goes off hook through its stream register,
// dials DTMF digits and a pulse digit with its digit commands, and the exchange recognises them and rings the
// called line; the called pump answers by going off hook and the call is connected, then cleared when the
// caller goes on hook; removing the called card, still off hook, releases its line.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "exchange_fixture.h"
#include "layer1/dsp/register_window.h"
#include "line/exchange_port.h"
#include "support/pump_harness.h"

namespace {

using pumptest::PumpModem;
using pumptest::RunFor;

TEST(ExchangePumpTest, PumpDialsToneAndPulseDigitsAndTheCallIsAnswered)
{
    platform::Clock clock;
    platform::ClockThread self{clock};
    LineNetwork* network = LineNetworkCreate();
    Exchange* ex = ExchangeCreate(country_exchange_signals(linetest::BuiltinCountryBlock("DEU")));
    ExchangeBinding* binding = ExchangeBind(ex, network);
    pumptest::ModemOptions oa, ob;
    oa.name = "caller";
    ob.name = "called";
    auto a = std::make_unique<PumpModem>(clock, network, oa);
    auto b = std::make_unique<PumpModem>(clock, network, ob);
    std::string error;
    ASSERT_TRUE(ExchangeBindPort(binding, a->Port(), "123", LineConnectionParams(), &error)) << error;
    ASSERT_TRUE(ExchangeBindPort(binding, b->Port(), "4506", LineConnectionParams(), &error)) << error;
    ASSERT_EQ(a->Start(), STATUS_SUCCESS);
    ASSERT_EQ(b->Start(), STATUS_SUCCESS);
    // The loop follows changes of the stream register's bit 2 (set: on hook).
    for (PumpModem* m : {a.get(), b.get()})
        m->SetRegister(kRegGpioData0, 0x04);
    RunFor(50);
    a->SetRegister(kRegGpioData0, 0x00);  // off hook
    RunFor(500);
    EXPECT_EQ(ExchangeGetState(ex, 0), EXL_DIALLING);
    a->SendCommand(0x66, {70, 70, 0, 0, 0, 0});  // DTMF, 70 ms on and off
    for (uint8_t digit : {4, 5, 0}) {
        a->SendCommand(0x67, {digit});
        RunFor(250);
    }
    a->SendCommand(0x66, {60, 40, 1, 0, 0x20, 3});  // pulses: 60 ms break, 40 ms make, 800 ms after the digit
    a->SendCommand(0x67, {6});
    RunFor(6 * 100 + 900);
    EXPECT_EQ(ExchangeGetDialled(ex, 0), "4506");
    EXPECT_EQ(ExchangeGetState(ex, 0), EXL_RINGBACK);
    EXPECT_EQ(ExchangeGetState(ex, 1), EXL_RINGING);
    RunFor(2000);
    b->SetRegister(kRegGpioData0, 0x00);  // answer
    RunFor(100);
    EXPECT_EQ(ExchangeGetState(ex, 0), EXL_CONNECTED);
    EXPECT_EQ(ExchangeGetState(ex, 1), EXL_CONNECTED);
    a->SetRegister(kRegGpioData0, 0x04);  // the caller hangs up (a loop open longer than any hook flash)
    RunFor(static_cast<int>(ExchangeClearTime(ex->country) / 10000) + 100);
    EXPECT_EQ(ExchangeGetState(ex, 0), EXL_IDLE);
    EXPECT_EQ(ExchangeGetState(ex, 1), EXL_BUSY);
    std::vector<std::string> texts;
    for (const auto& e : ExchangeTakeEvents(ex))
        if (e.line == 0)
            texts.push_back(e.text);
    const std::vector<std::string> expect = {"off hook",       "dial tone",      "DTMF digit 4", "DTMF digit 5",
                                             "DTMF digit 0",   "pulse digit 6",  "calling 4506", "ringback",
                                             "connected",      "on hook",        "idle"};
    EXPECT_EQ(texts, expect);
    // A card removed while off hook releases the line.
    LinePort* portB = b->Port();
    ASSERT_TRUE(LinePortLoopClosed(portB));
    a.reset();
    b.reset();
    EXPECT_FALSE(LinePortLoopClosed(portB));
    ExchangeUnbind(binding);
    LineNetworkDestroy(network);
    ExchangeDestroy(ex);
}

}  // namespace
