// The exchange's pulse-digit receiver at the limits of 10 pulse-per-second dialling: pulse period, break
// ratio, the length of a digit's last break, the inter-digit pause and the pulse count.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "line/exchange_pulse.h"

namespace {

constexpr LONGLONG kMs = 10000;

struct HookScript {
    std::vector<std::pair<LONGLONG, bool>> changes;  // time, loop closed
    LONGLONG t = 100 * kMs;
    // One digit of `pulses` breaks of breakMs with makes of makeMs between them, then the pause.
    void Digit(int pulses, double breakMs, double makeMs, double pauseMs)
    {
        for (int p = 0; p < pulses; ++p) {
            changes.push_back({t, false});
            t += static_cast<LONGLONG>(breakMs * kMs);
            changes.push_back({t, true});
            t += static_cast<LONGLONG>((p + 1 < pulses ? makeMs : pauseMs) * kMs);
        }
    }
};

struct Result {
    std::string keys;  // the digits, '?' for each rejected one
    std::vector<std::string> reasons;
};

// Replays the changes, polling every 10 ms as the exchange does per frame, and once more a second after.
Result Receive(const HookScript& s)
{
    PulseReceiver r;
    PulseReceiverInit(&r, true);
    Result out;
    auto poll = [&](LONGLONG t) {
        const PulseVerdict v = PulseReceiverPoll(&r, t);
        if (!v.digit)
            return;
        out.keys += v.valid ? v.key : '?';
        if (!v.valid)
            out.reasons.push_back(v.reject);
    };
    size_t next = 0;
    for (LONGLONG t = 0; t <= s.t + 1000 * kMs; t += 10 * kMs) {
        while (next < s.changes.size() && s.changes[next].first <= t) {
            poll(s.changes[next].first);
            PulseReceiverHook(&r, s.changes[next].second, s.changes[next].first);
            ++next;
        }
        poll(t);
    }
    return out;
}

TEST(ExchangePulseTest, NationalTimingsDialEveryDigit)
{
    // Break/make pairs of the usual senders (60/40, 61/39, 67/33), and the same quantised to 10 ms blocks.
    const double timings[][2] = {{60, 40}, {61, 39}, {67, 33}, {70, 30}, {66, 34}};
    for (const auto& bm : timings) {
        HookScript s;
        for (int d = 1; d <= 10; ++d)
            s.Digit(d, bm[0], bm[1], 700);
        EXPECT_EQ(Receive(s).keys, "1234567890") << bm[0] << "/" << bm[1];
    }
}

struct LimitCase {
    const char* what;
    int pulses;
    double breakMs, makeMs;
    bool accepted;
};

TEST(ExchangePulseTest, PeriodRatioAndBreakLimits)
{
    const LimitCase cases[] = {
        {"9 pps", 3, 66.0 * 111 / 100, 34.0 * 111 / 100, true},
        {"11 pps", 3, 60.0 * 91 / 100, 40.0 * 91 / 100, true},
        {"8.7 pps", 3, 60.0 * 115 / 100, 40.0 * 115 / 100, false},
        {"11.4 pps", 3, 60.0 * 88 / 100, 40.0 * 88 / 100, false},
        {"break ratio 55 %", 4, 55, 45, true},
        {"break ratio 71 %", 4, 71, 29, true},
        {"break ratio 50 %", 4, 50, 50, false},
        {"break ratio 76 %", 4, 76, 24, false},
        {"single break 50 ms", 1, 50, 0, true},
        {"single break 78 ms", 1, 78, 0, true},
        {"single break 44 ms", 1, 44, 0, false},
        {"single break 86 ms", 1, 86, 0, false},
        {"eleven pulses", 11, 60, 40, false},
    };
    for (const LimitCase& c : cases) {
        HookScript s;
        s.Digit(c.pulses, c.breakMs, c.makeMs, 800);
        const Result r = Receive(s);
        const std::string expect = c.accepted ? std::string(1, static_cast<char>('0' + c.pulses % 10)) : "?";
        EXPECT_EQ(r.keys, expect) << c.what;
    }
}

TEST(ExchangePulseTest, InterDigitPause)
{
    struct Case {
        double pauseMs;
        const char* expect;
    } cases[] = {{210, "23"}, {700, "23"}, {150, "2?"}};
    for (const Case& c : cases) {
        HookScript s;
        s.Digit(2, 60, 40, c.pauseMs);
        s.Digit(3, 60, 40, 800);
        const Result r = Receive(s);
        EXPECT_EQ(r.keys, c.expect) << c.pauseMs << " ms";
        if (!r.reasons.empty()) {
            EXPECT_EQ(r.reasons[0], "inter-digit pause");
        }
    }
}

}  // namespace
