// The exchange shows the caller: caller ID between the first and second ring, the call-waiting tone and caller
// ID to a line in conversation when a third line calls, the hook flash that takes the waiting call (told from
// a hang-up by its length, per country), and the messages the caller-ID sender builds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "exchange_fixture.h"
#include "line/exchange_caller_id.h"
#include "support/line_signal.h"
#include "stack/country_exchange.h"

#ifdef HAVE_SPANDSP
#include <spandsp.h>
#endif

namespace {

using linetest::ScriptedExchange;
using Bytes = std::vector<uint8_t>;

// Lines 0 and 1 in conversation (0 called 1 by pulses), line 2 idle.
void Connect(ScriptedExchange& s)
{
    s.Hook(0, true);
    s.Run(300);
    s.PulseDial(0, "2", 60, 40, 800);
    s.Run(1200);
    ASSERT_EQ(s.State(1), EXL_RINGING);
    s.Hook(1, true);
    s.Run(100);
    ASSERT_EQ(s.State(0), EXL_CONNECTED);
    ASSERT_EQ(s.State(1), EXL_CONNECTED);
}

TEST(ExchangeCallerId, MessagesCarryTheFieldsAndAChecksum)
{
    const Bytes multiple = CallerIdMultipleMessage(CallerIdFields{"12101630", "201", "ANN"});
    const Bytes expect = {0x80, 20, 1, 8, '1', '2', '1', '0', '1', '6', '3', '0', 2, 3, '2', '0', '1', 7, 3,
                          'A',  'N', 'N'};
    ASSERT_EQ(multiple.size(), expect.size() + 1);
    EXPECT_EQ(Bytes(multiple.begin(), multiple.end() - 1), expect);
    const struct {
        const char* name;
        Bytes message;
    } cases[] = {
        {"multiple", multiple},
        {"withheld", CallerIdMultipleMessage(CallerIdFields{"1210", "", ""})},
        {"very long fields", CallerIdMultipleMessage(CallerIdFields{"x", std::string(200, '9'), std::string(200, 'N')})},
        {"single", CallerIdSingleMessage(CallerIdFields{"01020304", "5551234", ""})},
        {"single, withheld", CallerIdSingleMessage(CallerIdFields{"01020304", "", ""})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_GE(c.message.size(), 3u);
        EXPECT_EQ(c.message.size(), c.message[1] + 3u) << "type, length, message, checksum";
        unsigned sum = 0;
        for (uint8_t b : c.message)
            sum += b;
        EXPECT_EQ(sum & 0xFF, 0u);
    }
    const Bytes single = CallerIdSingleMessage(CallerIdFields{"01020304", "", ""});
    EXPECT_EQ(Bytes(single.begin(), single.end() - 1), (Bytes{0x04, 9, '0', '1', '0', '2', '0', '3', '0', '4', 'P'}));
}

// Per country: a loop open as long as each of the country's hook-flash methods keeps the call up; one a
// little longer than the longest flash and half again clears it. The clear time is never below 300 ms.
TEST(ExchangeCallerId, FlashIsToldFromHangUpByTheCountrysFlashTimes)
{
    for (const char* iso : {"USA", "GBR", "DEU", "FRA", "JPN"}) {
        SCOPED_TRACE(iso);
        const CountryBlock block = linetest::BuiltinCountryBlock(iso);
        CountryLineProfile profile{};
        ASSERT_TRUE(cb_line_profile(block, 0, &profile));
        uint16_t longest = 0;
        for (uint16_t ms : profile.flash_ms)
            longest = std::max(longest, ms);
        const ExchangeCountry country = country_exchange_signals(block);
        EXPECT_EQ(country.flashMaxMs, longest);
        const LONGLONG clear = ExchangeClearTime(country);
        EXPECT_EQ(clear, std::max<LONGLONG>(300 * 10000, longest * 15000LL));
        struct Break {
            double ms;
            bool hangsUp;
        };
        std::vector<Break> breaks;
        for (uint16_t ms : profile.flash_ms)
            breaks.push_back({static_cast<double>(ms), false});
        breaks.push_back({static_cast<double>(clear / 10000) - 20, false});
        breaks.push_back({static_cast<double>(clear / 10000) + 20, true});
        for (const Break& b : breaks) {
            SCOPED_TRACE(b.ms);
            ScriptedExchange s(iso, {"1", "2"});
            Connect(s);
            s.Hook(0, false);
            s.Hook(0, true, b.ms);
            s.Run(b.ms + 100);
            EXPECT_EQ(s.State(0), b.hangsUp ? EXL_DIALLING : EXL_CONNECTED);
            EXPECT_EQ(s.State(1), b.hangsUp ? EXL_BUSY : EXL_CONNECTED);
            const auto ev = s.EventsOf(0);
            EXPECT_EQ(std::count(ev.begin(), ev.end(), "hook flash"), b.hangsUp ? 0 : 1);
        }
    }
}

// A third line calls a line in conversation that has call waiting: the caller hears ringback, the called
// line hears the call-waiting tone (its partner muted meanwhile) and, with caller ID, the caller's message.
// A flash takes the waiting call and holds the first party; a second flash goes back; every call stays up.
TEST(ExchangeCallerId, CallWaitingAnnouncesTheCallerAndFlashesSwapTheCalls)
{
    ScriptedExchange s("USA", {"1", "2", "3"});
    ExchangeSetSubscriber(s.ex, 1, ExchangeSubscriber{"", true, true});
    ExchangeSetSubscriber(s.ex, 2, ExchangeSubscriber{"CAROL", false, false});
    ExchangeSetDateTime(s.ex, "12110400", 0);
    Connect(s);
    const double before = s.NowMs();
    s.Hook(2, true);
    s.Run(300);
    s.PulseDial(2, "2", 60, 40, 800);
    s.Run(1200);
    EXPECT_EQ(s.State(2), EXL_RINGBACK);
    EXPECT_EQ(s.State(1), EXL_CONNECTED);
    EXPECT_EQ(ExchangeGetWaiting(s.ex, 1), 2);
    EXPECT_EQ(ExchangeGetPartner(s.ex, 1), 0) << "still talking to the first party";
    const auto ev = s.EventsOf(1);
    ASSERT_NE(std::find(ev.begin(), ev.end(), "call waiting from 3"), ev.end());
    // The tone: 300 ms of 440 Hz (the middle of the country's 250-350 ms pattern, at ringback's frequency).
    s.Run(1500);
    const std::vector<int16_t> heard = s.Heard(1, before, s.NowMs());
    const std::vector<size_t> seg = linetest::Segments(heard);
    ASSERT_GE(seg.size(), 3u);
    EXPECT_NEAR(static_cast<double>(seg[0]), 300 * 8, 2);
    EXPECT_NEAR(static_cast<double>(seg[1]), 200 * 8, 2) << "a pause, then the caller's message";
#ifdef HAVE_SPANDSP
    // An independent receiver reads the message that follows.
    struct Got {
        Bytes msg;
    } got;
    adsi_rx_state_t* rx = adsi_rx_init(
        nullptr, ADSI_STANDARD_CLIP,
        [](void* user, const uint8_t* msg, int len) {
            if (len > 0)
                static_cast<Got*>(user)->msg.assign(msg, msg + len);
        },
        &got);
    ASSERT_NE(rx, nullptr);
    std::vector<int16_t> x = heard;
    adsi_rx(rx, x.data(), static_cast<int>(x.size()));
    adsi_rx_free(rx);
    const Bytes sent = CallerIdMultipleMessage(CallerIdFields{"12110400", "3", "CAROL"});
    ASSERT_GE(got.msg.size(), sent.size() - 1);
    EXPECT_EQ(Bytes(got.msg.begin(), got.msg.begin() + static_cast<long>(sent.size() - 1)),
              Bytes(sent.begin(), sent.end() - 1));
#endif
    // A flash (the country's 600 ms) takes the waiting call: 1 and 3 talk, 2 is held and hears nothing.
    s.Hook(1, false);
    s.Hook(1, true, 600);
    s.Run(700);
    EXPECT_EQ(s.State(0), EXL_CONNECTED);
    EXPECT_EQ(s.State(1), EXL_CONNECTED);
    EXPECT_EQ(s.State(2), EXL_CONNECTED);
    EXPECT_EQ(ExchangeGetPartner(s.ex, 1), 2);
    EXPECT_EQ(ExchangeGetHeld(s.ex, 1), 0);
    EXPECT_EQ(ExchangeGetWaiting(s.ex, 1), -1);
    const auto tone = linetest::ToneS16(1000, 8000, 8000, 400);
    double t0 = s.NowMs();
    s.Send(1, tone);
    s.Run(100);
    EXPECT_EQ(s.Heard(2, t0 + 10, t0 + 60), std::vector<int16_t>(tone.begin(), tone.begin() + 400));
    EXPECT_EQ(s.Heard(0, t0 + 10, t0 + 60), std::vector<int16_t>(400, 0)) << "the held party hears nothing";
    // A second flash goes back to the first party.
    s.Hook(1, false);
    s.Hook(1, true, 100);
    s.Run(200);
    EXPECT_EQ(ExchangeGetPartner(s.ex, 1), 0);
    EXPECT_EQ(ExchangeGetHeld(s.ex, 1), 2);
    t0 = s.NowMs();
    s.Send(1, tone);
    s.Run(100);
    EXPECT_EQ(s.Heard(0, t0 + 10, t0 + 60), std::vector<int16_t>(tone.begin(), tone.begin() + 400));
    // The held party hangs up: the call with the first goes on.
    s.Hook(2, false);
    s.Run(1000);
    EXPECT_EQ(s.State(2), EXL_IDLE);
    EXPECT_EQ(ExchangeGetHeld(s.ex, 1), -1);
    EXPECT_EQ(s.State(0), EXL_CONNECTED);
    EXPECT_EQ(s.State(1), EXL_CONNECTED);
}

// A waiting caller who gives up leaves the call as it was; the line hanging up with a caller waiting lets
// the waiting caller go (busy). Without call waiting the third caller hears busy.
TEST(ExchangeCallerId, WaitingCallerEndsAndLinesWithoutCallWaiting)
{
    const struct {
        const char* name;
        bool callWaiting;
        int hangsUp;  // 2 the waiting caller, 1 the called line, -1 nobody
        ExchangeLineState states[3];
    } cases[] = {
        {"no call waiting: busy", false, -1, {EXL_CONNECTED, EXL_CONNECTED, EXL_BUSY}},
        {"waiting caller gives up", true, 2, {EXL_CONNECTED, EXL_CONNECTED, EXL_IDLE}},
        {"called line hangs up", true, 1, {EXL_BUSY, EXL_IDLE, EXL_BUSY}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedExchange s("DEU", {"1", "2", "3"});
        ExchangeSetSubscriber(s.ex, 1, ExchangeSubscriber{"", false, c.callWaiting});
        Connect(s);
        s.Hook(2, true);
        s.Run(300);
        s.PulseDial(2, "2", 60, 40, 800);
        s.Run(1500);
        if (c.hangsUp >= 0) {
            s.Hook(c.hangsUp, false);
            s.Run(1000);
        }
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(s.State(i), c.states[i]) << i;
        EXPECT_EQ(ExchangeGetWaiting(s.ex, 1), -1);
        for (int i = 0; i < 3; ++i) {
            const int p = ExchangeGetPartner(s.ex, i);
            if (p >= 0)
                EXPECT_EQ(ExchangeGetPartner(s.ex, p), i) << i;
        }
    }
}

// Caller ID on hook starts half a second after the first ring and ends well before the second ring.
TEST(ExchangeCallerId, OnHookCallerIdFitsBetweenTheFirstAndSecondRing)
{
    for (const char* iso : {"USA", "GBR", "FRA"}) {
        SCOPED_TRACE(iso);
        ScriptedExchange s(iso, {"1", "2"});
        ExchangeSetSubscriber(s.ex, 1, ExchangeSubscriber{"", true, false});
        s.Hook(0, true);
        s.Run(300);
        s.PulseDial(0, "2", 60, 40, 800);
        s.Run(1000);
        ASSERT_EQ(s.State(1), EXL_RINGING);
        double start = -1;
        for (const auto& e : s.events)
            if (e.line == 1 && e.text == "ringing")
                start = static_cast<double>(e.time) / linetest::kExMs;
        ASSERT_GE(start, 0);
        s.Run(10000);
        const ExchangeSignal& ring = s.country.signal[EXS_RINGING];
        double firstRing = 0;
        for (unsigned k = 0; k < ring.pairs; ++k)
            firstRing += ring.onMs[k] + (k + 1 < ring.pairs ? ring.offMs[k] : 0);
        const double cycle = static_cast<double>(ExchangeSignalCycle(ring)) / 8;
        // The ringing signal is 25 Hz or less; caller ID is the only thing above 1000 Hz.
        const std::vector<int16_t> h = s.Heard(1, start, start + cycle);
        size_t first = h.size(), last = 0;
        for (size_t i = 1; i < h.size(); ++i) {
            if (h[i] != 0 && h[i - 1] != 0 && (h[i] > 0) != (h[i - 1] > 0) && i > (firstRing + 10) * 8) {
                first = std::min(first, i);
                last = i;
            }
        }
        ASSERT_LT(first, h.size());
        EXPECT_NEAR(static_cast<double>(first) / 8, firstRing + 500, 20);
        EXPECT_LT(static_cast<double>(last) / 8 + 200, cycle) << "ends before the second ring";
    }
}

}  // namespace
