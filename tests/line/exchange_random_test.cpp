// Random subscribers on one exchange: lines going off and on hook at random times, keying random DTMF
// digits, dialling random pulses and flashing the hook. After every frame the exchange must be consistent
// with itself and with the hooks: partners point at each other, a ringing line is on hook and rung by a
// caller hearing ringback, an off-hook line is never idle or ringing, a line on hook for longer than a
// hang-up is idle or ringing.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "exchange_fixture.h"
#include "line/line_model.h"

namespace {

using linetest::ScriptedExchange;

std::vector<int16_t> RandomKey(std::mt19937& rng)
{
    static const double low[4] = {697, 770, 852, 941}, high[4] = {1209, 1336, 1477, 1633};
    // Mostly the keys 1-3 of the numbers on this exchange, with good timing; otherwise anything.
    const bool likely = rng() % 4 != 0;
    const double fl = likely ? low[0] : low[rng() % 4], fh = likely ? high[rng() % 3] : high[rng() % 4];
    const double a = std::sqrt(2.0 * LinePowerOfDbm0(-10));
    const int on = likely ? 50 : 20 + static_cast<int>(rng() % 60);  // ms, some too short
    std::vector<int16_t> x;
    for (int i = 0; i < on * 8; ++i)
        x.push_back(LineSaturate(a * (std::sin(2 * M_PI * fl * i / 8000) + std::sin(2 * M_PI * fh * i / 8000))));
    x.insert(x.end(), static_cast<size_t>(20 + rng() % 60) * 8, 0);
    return x;
}

TEST(ExchangeRandomTest, StatesStayConsistentUnderRandomSubscribers)
{
#ifdef MODEM_UNDER_SANITIZER
    const int seconds = 30;
#else
    const int seconds = 120;
#endif
    const std::vector<std::string> numbers = {"1", "2", "31", "32"};
    ScriptedExchange s("GBR", numbers);
    const double clearMs = static_cast<double>(ExchangeClearTime(s.country) / 10000);
    std::mt19937 rng(12345);
    const int n = static_cast<int>(numbers.size());
    std::vector<bool> closed(n, false);
    std::vector<double> changedAt(n, 0);
    int calls = 0, answered = 0;
    for (int frame = 0; frame < seconds * 100; ++frame) {
        const double now = s.NowMs();
        for (int i = 0; i < n; ++i) {
            if (!s.changes.empty() && s.changes.back().time > s.now)
                break;  // a pulse train or flash still pending: wait for it
            const unsigned r = rng() % 1000;
            if (r < 4) {
                closed[i] = !closed[i];
                s.Hook(i, closed[i], rng() % 10);
                changedAt[i] = now;
            } else if (closed[i] && r < 12 && s.toSend[i].empty()) {
                s.Send(i, RandomKey(rng));
            } else if (closed[i] && r < 14) {
                // A pulse digit with random timing, or a hook flash.
                const double brk = 30 + rng() % 80, make = 20 + rng() % 50;
                s.PulseDial(i, std::string(1, static_cast<char>('1' + rng() % 3)), brk, make, 300);
            }
        }
        s.Run(10);
        for (int i = 0; i < n; ++i) {
            SCOPED_TRACE(testing::Message() << "line " << i << " at " << s.NowMs() << " ms");
            const ExchangeLineState st = s.State(i);
            const int p = ExchangeGetPartner(s.ex, i);
            if (p >= 0) {
                ASSERT_LT(p, n);
                ASSERT_EQ(ExchangeGetPartner(s.ex, p), i);
            }
            switch (st) {
            case EXL_RINGBACK:
                ASSERT_GE(p, 0);
                ASSERT_EQ(s.State(p), EXL_RINGING);
                break;
            case EXL_RINGING:
                ASSERT_GE(p, 0);
                ASSERT_EQ(s.State(p), EXL_RINGBACK);
                break;
            case EXL_CONNECTED:
                ASSERT_GE(p, 0);
                ASSERT_EQ(s.State(p), EXL_CONNECTED);
                break;
            default:
                ASSERT_EQ(p, -1) << ExchangeLineStateName(st);
            }
            const bool settled = s.changes.empty();  // no pulse or flash under way
            if (settled && closed[i] && s.NowMs() - changedAt[i] > 20) {
                ASSERT_NE(st, EXL_IDLE);
                ASSERT_NE(st, EXL_RINGING);
            }
            if (settled && !closed[i] && s.NowMs() - changedAt[i] > clearMs + 30) {
                ASSERT_TRUE(st == EXL_IDLE || st == EXL_RINGING) << ExchangeLineStateName(st);
            }
        }
    }
    for (const auto& e : s.events) {
        calls += e.text.rfind("calling", 0) == 0;
        answered += e.text == "answered";
    }
    // The script reached the interesting states.
    EXPECT_GE(calls, seconds / 30);
    EXPECT_GT(answered, 0);
}

}  // namespace
