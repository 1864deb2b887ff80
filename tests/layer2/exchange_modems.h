// Two whole modems (controller over the real data pump, each on its own machine) on one simulated exchange:
// one virtual clock, one line network, modem A on the line numbered 201 and modem B on 202. Run() lets virtual
// time pass while it collects what each modem sends to its AT port and what the exchange reports.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "at_fixture.h"
#include "core_fixture.h"
#include "dsp_real_pump.h"
#include "stack/country_exchange.h"
#include "layer2/windows/wdm/modem_core.h"
#include "line/exchange_port.h"

namespace calltest {

constexpr const char* kNumberA = "201";
constexpr const char* kNumberB = "202";
constexpr int kLineA = 0;  // exchange line indexes
constexpr int kLineB = 1;

inline size_t Count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

struct ExchangeOptions {
    bool dialTone = true;  // false: the exchange seizes the line but sends no dial tone
    LineConnectionParams lineA;  // A's line to the exchange (both directions)
};

class ExchangeModems {
public:
    explicit ExchangeModems(const ExchangeOptions& options = {})
        : clock_(ClockConfigFor()), self_(clock_, true, "test"), network_(LineNetworkCreate())
    {
        a_ = std::make_unique<dsptest::RealPumpModem>(clock_, network_, "modemA", regA_.Path());
        b_ = std::make_unique<dsptest::RealPumpModem>(clock_, network_, "modemB", regB_.Path());
        // The exchange sends the call-progress tones and ringing of the country the controllers are set to.
        ExchangeCountry country{};
        if (a_->Ext()->core != nullptr)
            country = country_exchange_signals(a_->Ext()->core->settings.block);
        if (!options.dialTone)
            country.signal[EXS_DIAL_TONE] = ExchangeSignal{};
        ex_ = ExchangeCreate(country);
        binding_ = ExchangeBind(ex_, network_);
        std::string error;
        EXPECT_TRUE(ExchangeBindPort(binding_, a_->Port(), kNumberA, options.lineA, &error)) << error;
        EXPECT_TRUE(ExchangeBindPort(binding_, b_->Port(), kNumberB, LineConnectionParams(), &error)) << error;
    }
    ~ExchangeModems()
    {
        ExchangeUnbind(binding_);
        // Every stack of the network goes before any machine: the line thread belongs to A's machine.
        b_->Shutdown();
        a_->Shutdown();
        b_.reset();
        a_.reset();
        ExchangeDestroy(ex_);
        LineNetworkDestroy(network_);
    }

    dsptest::RealPumpModem& A() { return *a_; }
    dsptest::RealPumpModem& B() { return *b_; }
    Exchange* Ex() { return ex_; }
    platform::Clock& Clock() { return clock_; }
    ExchangeLineState State(int line) { return ExchangeGetState(ex_, line); }
    // How long an open loop lasts before the exchange takes it as a hang-up (longer than any hook flash).
    int ClearMs() const { return static_cast<int>(ExchangeClearTime(ex_->country) / 10000); }

    // Lets ms of virtual time pass in 10 ms steps, collecting both modems' output and the exchange's events.
    void Run(int ms)
    {
        for (int t = 0; t < ms; t += 10) {
            Collect();
            platform::SleepMs(10);
        }
        Collect();
    }
    // Runs until cond() holds or limitMs pass; whether it held.
    template <typename Cond>
    bool RunUntil(Cond cond, int limitMs)
    {
        for (int t = 0; t < limitMs; t += 10) {
            Collect();
            if (cond())
                return true;
            platform::SleepMs(10);
        }
        Collect();
        return cond();
    }
    // A command line typed on a modem (the collected output keeps everything).
    void Type(dsptest::RealPumpModem& modem, const std::string& text)
    {
        modem.Send(text);
    }

    // A plain telephone on the exchange (no modem), driven by the test: its line index.
    int AddPhone(const std::string& number)
    {
        std::string error;
        const int line = ExchangeAddLine(ex_, number, &error);
        EXPECT_GE(line, 0) << error;
        return line;
    }
    void PhoneHook(int line, bool offHook) { ExchangeHook(ex_, line, offHook, clock_.Now()); }
    // Lifts the handset and dials by pulses (60 ms break, 40 ms make, 700 ms between digits).
    void PhoneCall(int line, const std::string& digits)
    {
        PhoneHook(line, true);
        Run(500);
        for (char d : digits) {
            const int pulses = d == '0' ? 10 : d - '0';
            for (int p = 0; p < pulses; ++p) {
                PhoneHook(line, false);
                Run(60);
                PhoneHook(line, true);
                Run(40);
            }
            Run(700);
        }
    }

    // What each modem sent so far; Take* also forgets it.
    const std::string& OutA() const { return outA_; }
    const std::string& OutB() const { return outB_; }
    std::string TakeA() { return std::exchange(outA_, std::string()); }
    std::string TakeB() { return std::exchange(outB_, std::string()); }

    // The texts of the exchange's events for one line, in order.
    std::vector<std::string> EventsOf(int line) const
    {
        std::vector<std::string> out;
        for (const auto& e : events_)
            if (e.line == line)
                out.push_back(e.text);
        return out;
    }
    bool HasEvent(int line, const std::string& text) const
    {
        for (const auto& e : events_)
            if (e.line == line && e.text == text)
                return true;
        return false;
    }
    std::string EventText() const
    {
        std::string out;
        for (const auto& e : events_)
            out += std::to_string(e.time / 10000) + " ms line " + std::to_string(e.line) + ": " + e.text + "\n";
        return out;
    }
    void ClearEvents() { events_.clear(); }

private:
    static platform::ClockConfig ClockConfigFor()
    {
        platform::ClockConfig c;
        c.timeIncrement = 100000;
        return c;
    }
    void Collect()
    {
        outA_ += a_->Take();
        outB_ += b_->Take();
        for (auto& e : ExchangeTakeEvents(ex_))
            events_.push_back(e);
    }

    coretest::TempRegistry regA_;
    coretest::TempRegistry regB_;
    platform::Clock clock_;
    platform::ClockThread self_;
    LineNetwork* network_;
    std::unique_ptr<dsptest::RealPumpModem> a_;
    std::unique_ptr<dsptest::RealPumpModem> b_;
    Exchange* ex_ = nullptr;
    ExchangeBinding* binding_ = nullptr;
    std::string outA_;
    std::string outB_;
    std::vector<ExchangeEvent> events_;
};

}  // namespace calltest
