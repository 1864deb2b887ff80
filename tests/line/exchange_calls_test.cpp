// Calls through the exchange with scripted hook changes and dialling: dial tone on seizure, ringing and
// ringback, answer and the speech path both ways, clear-down by either side, busy and congestion, and the
// ringing and ringback cadences of several countries (the ringing as a card on hook sees it).
#include <gtest/gtest.h>

#include <cmath>

#include "exchange_fixture.h"
#include "line/line_model.h"
#include "line/resampler.h"
#include "support/line_signal.h"

namespace {

using linetest::ScriptedExchange;
using linetest::Segments;

// A DTMF key as a reference tone pair, then the pause.
std::vector<int16_t> Key(char key, double onMs = 60, double offMs = 60)
{
    static const char* rows[4] = {"123A", "456B", "789C", "*0#D"};
    static const double low[4] = {697, 770, 852, 941}, high[4] = {1209, 1336, 1477, 1633};
    double fl = 0, fh = 0;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            if (rows[r][c] == key) {
                fl = low[r];
                fh = high[c];
            }
    const double a = std::sqrt(2.0 * LinePowerOfDbm0(-10));
    std::vector<int16_t> x;
    for (int i = 0; i < onMs * 8; ++i)
        x.push_back(LineSaturate(a * (std::sin(2 * M_PI * fl * i / 8000) + std::sin(2 * M_PI * fh * i / 8000))));
    x.insert(x.end(), static_cast<size_t>(offMs * 8), 0);
    return x;
}

std::vector<int16_t> Keys(const std::string& keys)
{
    std::vector<int16_t> x;
    for (char k : keys) {
        const auto d = Key(k);
        x.insert(x.end(), d.begin(), d.end());
    }
    return x;
}

double PowerDb(const std::vector<int16_t>& x)
{
    const auto d = linetest::ToDouble(x);
    return linetest::PowerDb(d, 0, d.size());
}

// Amplitude of the tone near f in x, and how pure the fit is.
linetest::ToneFit Fit(const std::vector<int16_t>& x, double f)
{
    const auto d = linetest::ToDouble(x);
    return linetest::FitTone(d, 8000, f, 0, d.size());
}

TEST(ExchangeCallTest, SeizureGivesDialToneUntilTheFirstDigit)
{
    ScriptedExchange s("USA", {"123", "456"});
    s.Run(100);
    EXPECT_LT(PowerDb(s.Heard(0, 0, 100)), -200.0) << "silence on hook";
    s.Hook(0, true);
    s.Run(500);
    EXPECT_EQ(s.State(0), EXL_DIALLING);
    // 350 + 440 Hz at -13 dBm0 each: the sum's fit at one frequency leaves the other as residual.
    const auto tone = s.Heard(0, 200, 600);
    const double expected = std::sqrt(2.0 * LinePowerOfDbm0(-13));
    EXPECT_NEAR(Fit(tone, 350).amplitude, expected, expected * 0.01);
    EXPECT_NEAR(Fit(tone, 440).amplitude, expected, expected * 0.01);
    s.Send(0, Key('4'));
    s.Run(300);
    EXPECT_LT(PowerDb(s.Heard(0, 700, 900)), -200.0) << "dial tone stops at the first digit";
    EXPECT_EQ(ExchangeGetDialled(s.ex, 0), "4");
}

struct ClearCase {
    const char* who;
    int first;  // the line that hangs up first
};

TEST(ExchangeCallTest, AnsweredCallCarriesSpeechBothWaysAndClearsOnEitherHangUp)
{
    for (const ClearCase c : {ClearCase{"caller", 0}, ClearCase{"called", 1}}) {
        SCOPED_TRACE(c.who);
        ScriptedExchange s("DEU", {"123", "456", "789"});
        s.Hook(0, true);
        s.Run(300);
        s.Send(0, Keys("456"));
        s.Run(600);
        EXPECT_EQ(s.State(0), EXL_RINGBACK);
        EXPECT_EQ(s.State(1), EXL_RINGING);
        EXPECT_EQ(s.State(2), EXL_IDLE);
        EXPECT_EQ(ExchangeGetPartner(s.ex, 1), 0);
        s.Run(1500);
        s.Hook(1, true);
        s.Run(50);
        EXPECT_EQ(s.State(0), EXL_CONNECTED);
        EXPECT_EQ(s.State(1), EXL_CONNECTED);
        // Speech both ways, sample for sample, one frame later.
        const double t0 = s.NowMs();
        auto a = linetest::ToneS16(1000, 8000, 9000, 800);
        auto b = linetest::ToneS16(1700, 8000, 5000, 800);
        s.Send(0, a);
        s.Send(1, b);
        s.Run(200);
        EXPECT_EQ(s.Heard(1, t0 + 10, t0 + 110), a);
        EXPECT_EQ(s.Heard(0, t0 + 10, t0 + 110), b);
        // The first hangs up: a break shorter than a hang-up changes nothing, a long one clears (the country's
        // longest hook flash and half again).
        const int other = 1 - c.first;
        const int clearMs = static_cast<int>(ExchangeClearTime(s.country) / 10000);
        s.Hook(c.first, false);
        s.Hook(c.first, true, 150);
        s.Run(500);
        EXPECT_EQ(s.State(c.first), EXL_CONNECTED);
        s.Hook(c.first, false);
        s.Run(clearMs - 10);
        EXPECT_EQ(s.State(c.first), EXL_CONNECTED);
        s.Run(20);
        EXPECT_EQ(s.State(c.first), EXL_IDLE);
        EXPECT_EQ(s.State(other), EXL_BUSY);
        s.Run(1000);
        const auto busy = s.Heard(other, s.NowMs() - 1000, s.NowMs());
        EXPECT_NEAR(Fit(busy, 425).frequency, 425, 0.5);
        s.Hook(other, false);
        s.Run(clearMs + 100);
        EXPECT_EQ(s.State(other), EXL_IDLE);
        std::vector<std::string> expect = {"off hook",     "dial tone",   "DTMF digit 4", "DTMF digit 5",
                                           "DTMF digit 6", "calling 456", "ringback",     "connected"};
        if (c.first == 0)
            expect.insert(expect.end(), {"hook flash", "on hook", "idle"});
        else
            expect.insert(expect.end(), {"busy", "on hook", "idle"});
        EXPECT_EQ(s.EventsOf(0), expect);
    }
}

TEST(ExchangeCallTest, BusyLineAndUnknownNumbers)
{
    struct Case {
        const char* dialled;
        bool calledOffHook;
        ExchangeLineState outcome;
        double afterMs;  // when the outcome is there, after the last key
    } cases[] = {
        {"456", true, EXL_BUSY, 100},
        {"456", false, EXL_RINGBACK, 100},
        {"9", false, EXL_CONGESTION, 100},   // no number starts with 9
        {"457", false, EXL_CONGESTION, 100},
        {"45", false, EXL_DIALLING, 4500},   // still waiting for digits
        {"45", false, EXL_CONGESTION, 5200}, // given up
        {"123", false, EXL_BUSY, 100},       // the caller's own number
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dialled);
        ScriptedExchange s("USA", {"123", "456"});
        if (c.calledOffHook)
            s.Hook(1, true);
        s.Hook(0, true);
        s.Run(300);
        s.Send(0, Keys(c.dialled));
        s.Run(120.0 * std::string(c.dialled).size() + c.afterMs);
        EXPECT_EQ(s.State(0), c.outcome);
        if (c.outcome == EXL_BUSY || c.outcome == EXL_CONGESTION) {
            // The country's cadence: 0.5/0.5 s busy, 0.25/0.25 s congestion, 480 + 620 Hz.
            s.Run(2100);
            const auto seg = Segments(s.Heard(0, s.NowMs() - 2000, s.NowMs()));
            const size_t half = c.outcome == EXL_BUSY ? 4000 : 2000;
            ASSERT_GE(seg.size(), 3u);
            for (size_t k = 1; k < seg.size(); ++k)
                EXPECT_NEAR(static_cast<double>(seg[k]), half, 8.0) << k;
        }
        EXPECT_EQ(s.State(1), c.calledOffHook ? EXL_DIALLING : (c.outcome == EXL_RINGBACK ? EXL_RINGING : EXL_IDLE));
    }
}

TEST(ExchangeCallTest, CallerHangingUpStopsTheRinging)
{
    ScriptedExchange s("USA", {"123", "456"});
    s.Hook(0, true);
    s.Run(300);
    s.Send(0, Keys("456"));
    s.Run(1000);
    ASSERT_EQ(s.State(1), EXL_RINGING);
    s.Hook(0, false);
    s.Run(static_cast<int>(ExchangeClearTime(s.country) / 10000) + 100);
    EXPECT_EQ(s.State(0), EXL_IDLE);
    EXPECT_EQ(s.State(1), EXL_IDLE);
    s.Run(5000);
    EXPECT_LT(PowerDb(s.Heard(1, s.NowMs() - 5000, s.NowMs())), -200.0);
    // The line can be called again.
    s.Hook(0, true);
    s.Run(300);
    s.Send(0, Keys("456"));
    s.Run(800);
    EXPECT_EQ(s.State(1), EXL_RINGING);
}

TEST(ExchangeCallTest, PulseDialledCallsAndFaultyPulses)
{
    struct Case {
        double breakMs, makeMs, pauseMs;
        ExchangeLineState outcome;
    } cases[] = {
        {61, 39, 700, EXL_RINGBACK},
        {70, 30, 800, EXL_RINGBACK},
        {45, 55, 700, EXL_CONGESTION},  // breaks too short
        {60, 40, 150, EXL_CONGESTION},  // inter-digit pause too short
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.breakMs);
        ScriptedExchange s("USA", {"123", "406"});
        s.Hook(0, true);
        s.Run(300);
        s.PulseDial(0, "406", c.breakMs, c.makeMs, c.pauseMs);
        s.Run(4000);
        EXPECT_EQ(s.State(0), c.outcome);
        EXPECT_EQ(s.State(1), c.outcome == EXL_RINGBACK ? EXL_RINGING : EXL_IDLE);
    }
}

// The sample ranges (at 9600 Hz, after the card's rate converter) during which a card on hook sees ringing.
std::vector<std::pair<size_t, size_t>> PulseTrainIntervals(const std::vector<int16_t>& line8k)
{
    Resampler up;
    up.ConfigureRates(8000, 9600);
    std::vector<double> in(line8k.begin(), line8k.end());
    up.Push(in.data(), in.size());
    std::vector<double> x(in.size() * 6 / 5);
    x.resize(up.Pull(x.data(), x.size()));
    linetest::PulseTrainModel model;
    std::vector<std::pair<size_t, size_t>> out;
    bool was = false;
    for (size_t i = 0; i < x.size(); ++i) {
        const bool on = model.Step(x[i]);
        if (on && !was)
            out.push_back({i, i});
        if (!on && was)
            out.back().second = i;
        was = on;
    }
    if (was)
        out.back().second = x.size();
    return out;
}

TEST(ExchangeCallTest, RingingAndRingbackFollowTheCountrysCadence)
{
    for (const char* iso : {"USA", "GBR", "FRA", "JPN", "DEU"}) {
        SCOPED_TRACE(iso);
        ScriptedExchange s(iso, {"123", "456"});
        s.Hook(0, true);
        s.Run(300);
        s.Send(0, Keys("456"));
        s.Run(700);
        ASSERT_EQ(s.State(1), EXL_RINGING);
        double start = 0;  // when the ringing began, ms
        for (const auto& e : s.events)
            if (e.line == 1 && e.text == "ringing")
                start = static_cast<double>(e.time) / linetest::kExMs;
        const ExchangeSignal& ring = s.country.signal[EXS_RINGING];
        const ExchangeSignal& back = s.country.signal[EXS_RINGBACK];
        const double cycleMs = static_cast<double>(ExchangeSignalCycle(ring)) / 8;
        ASSERT_GT(cycleMs, 0);
        s.Run(2 * cycleMs + 200);
        // Ringing and ringback start together and follow their on/off times to the sample.
        for (const auto& [line, sig] : {std::pair<int, const ExchangeSignal*>{1, &ring}, {0, &back}}) {
            const auto seg = Segments(s.Heard(line, start, start + 2 * cycleMs));
            std::vector<size_t> expect;
            for (int rep = 0; rep < 2; ++rep)
                for (int k = 0; k < sig->pairs; ++k) {
                    expect.push_back(sig->onMs[k] * 8u);
                    expect.push_back(sig->offMs[k] * 8u);
                }
            expect.pop_back();  // the last pause runs past the window
            ASSERT_GE(seg.size(), expect.size()) << "line " << line;
            for (size_t k = 0; k < expect.size(); ++k)
                EXPECT_NEAR(static_cast<double>(seg[k]), static_cast<double>(expect[k]), 2.0) << "line " << line << " segment " << k;
        }
        // The called card on hook sees one pulse train per burst of ringing at the ringing frequency.
        EXPECT_NEAR(Fit(s.Heard(1, start, start + ring.onMs[0]), ring.f1).frequency, ring.f1, 0.01);
        const auto ringing = s.Heard(1, start - 10, start + 2 * cycleMs);
        const auto trains = PulseTrainIntervals(ringing);
        std::vector<std::pair<double, double>> bursts;  // ms from the window's start
        double t = 10;
        for (int rep = 0; rep < 2; ++rep)
            for (int k = 0; k < ring.pairs; ++k) {
                bursts.push_back({t, t + ring.onMs[k]});
                t += ring.onMs[k] + ring.offMs[k];
            }
        ASSERT_EQ(trains.size(), bursts.size());
        const double periodMs = 1000.0 / ring.f1;
        for (size_t k = 0; k < bursts.size(); ++k) {
            const double on = trains[k].first / 9.6, off = trains[k].second / 9.6;
            EXPECT_GE(on, bursts[k].first) << k;
            EXPECT_LE(on, bursts[k].first + 2 * periodMs + 2) << k;
            EXPECT_GE(off, bursts[k].second) << k;
            EXPECT_LE(off, bursts[k].second + periodMs + 500 / 9.6 + 2) << k;
        }
    }
}

}  // namespace
