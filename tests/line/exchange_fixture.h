// A scripted exchange for the tests: lines with numbers, hook changes at exact times, what each line sends
// queued sample by sample, and everything each line heard, all on a virtual time that advances 10 ms a frame.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#include "line/exchange.h"
#include "support/exchange_country.h"

namespace linetest {

constexpr LONGLONG kExMs = 10000;  // 100 ns units per ms

struct ScriptedExchange {
    Exchange* ex = nullptr;
    ExchangeCountry country;
    LONGLONG now = 0;
    struct Change {
        LONGLONG time;
        int line;
        bool closed;
    };
    std::vector<Change> changes;  // pending, in time order
    std::vector<std::deque<int16_t>> toSend;
    std::vector<std::vector<int16_t>> heard;
    std::vector<ExchangeEvent> events;

    ScriptedExchange(const char* iso, const std::vector<std::string>& numbers)
        : country(country_exchange_signals(BuiltinCountryBlock(iso)))
    {
        ex = ExchangeCreate(country);
        for (const std::string& n : numbers) {
            std::string error;
            EXPECT_GE(ExchangeAddLine(ex, n, &error), 0) << error;
        }
        toSend.resize(numbers.size());
        heard.resize(numbers.size());
    }
    ~ScriptedExchange() { ExchangeDestroy(ex); }

    // A hook change `afterMs` from now.
    void Hook(int line, bool closed, double afterMs = 0)
    {
        changes.push_back({now + static_cast<LONGLONG>(afterMs * kExMs), line, closed});
        std::stable_sort(changes.begin(), changes.end(),
                         [](const Change& a, const Change& b) { return a.time < b.time; });
    }
    // Pulse digits: breaks and makes in ms, then the pause after each digit; starts `afterMs` from now.
    void PulseDial(int line, const std::string& digits, double breakMs, double makeMs, double pauseMs,
                   double afterMs = 0)
    {
        double t = afterMs;
        for (char d : digits) {
            const int pulses = d == '0' ? 10 : d - '0';
            for (int p = 0; p < pulses; ++p) {
                Hook(line, false, t);
                t += breakMs;
                Hook(line, true, t);
                t += p + 1 < pulses ? makeMs : pauseMs;
            }
        }
    }
    void Send(int line, const std::vector<int16_t>& samples)
    {
        toSend[line].insert(toSend[line].end(), samples.begin(), samples.end());
    }
    // Runs frames for ms milliseconds.
    void Run(double ms)
    {
        const LONGLONG end = now + static_cast<LONGLONG>(ms * kExMs);
        while (now < end) {
            ExchangeTick(ex, now);
            for (size_t i = 0; i < heard.size(); ++i) {
                int16_t frame[kLineFrameSamples];
                ExchangeGet(ex, static_cast<int>(i), frame);
                heard[i].insert(heard[i].end(), frame, frame + kLineFrameSamples);
                for (auto& v : frame) {
                    v = 0;
                }
                for (size_t k = 0; k < kLineFrameSamples && !toSend[i].empty(); ++k) {
                    frame[k] = toSend[i].front();
                    toSend[i].pop_front();
                }
                ExchangePut(ex, static_cast<int>(i), frame);
            }
            now += 10 * kExMs;
            while (!changes.empty() && changes.front().time < now) {
                ExchangeHook(ex, changes.front().line, changes.front().closed, changes.front().time);
                changes.erase(changes.begin());
            }
            for (auto& e : ExchangeTakeEvents(ex))
                events.push_back(e);
        }
    }
    ExchangeLineState State(int line) { return ExchangeGetState(ex, line); }
    // The texts of the events of one line, in order.
    std::vector<std::string> EventsOf(int line) const
    {
        std::vector<std::string> out;
        for (const auto& e : events)
            if (e.line == line)
                out.push_back(e.text);
        return out;
    }
    // The samples line heard from fromMs to toMs (times since the start).
    std::vector<int16_t> Heard(int line, double fromMs, double toMs) const
    {
        const auto& h = heard[line];
        const size_t a = std::min(h.size(), static_cast<size_t>(fromMs * 8));
        const size_t b = std::min(h.size(), static_cast<size_t>(toMs * 8));
        return std::vector<int16_t>(h.begin() + a, h.begin() + b);
    }
    double NowMs() const { return static_cast<double>(now) / kExMs; }
};

// On and off periods of a cadenced signal that is exactly zero when off: lengths in samples, starting with
// the first on period (leading silence dropped); a run of 8 or more zeros counts as off.
inline std::vector<size_t> Segments(const std::vector<int16_t>& x)
{
    std::vector<size_t> seg;
    size_t i = 0;
    while (i < x.size() && x[i] == 0)
        ++i;
    bool on = true;
    size_t start = i, zeros = 0;
    for (; i < x.size(); ++i) {
        if (on) {
            zeros = x[i] == 0 ? zeros + 1 : 0;
            if (zeros >= 8) {
                seg.push_back(i + 1 - zeros - start);
                start = i + 1 - zeros;
                on = false;
            }
        } else if (x[i] != 0) {
            seg.push_back(i - start);
            start = i;
            on = true;
            zeros = 0;
        }
    }
    return seg;
}

// The data pump's pulse-train rule, as a card on hook applies it to the raw 9600 Hz samples to see ringing:
// a sample of 16385 or more is high; a pulse is more than 5 high samples after more than 8 low ones; pulses
// 51 to 899 samples apart raise the score, others lower it; more than 500 low samples clear it. Step returns
// whether the score is above 0.
struct PulseTrainModel {
    int high = 0, low = 0, since = 0, state = 0, score = 0;
    bool Step(double v)
    {
        if (v < 16385)
            ++low;
        else
            ++high;
        ++since;
        if (state == 16) {
            if (low > 8) {
                state = 0;
                high = low = 0;
            }
        } else if (state != 0) {
            state = 0;
        }
        if (state == 0 && high > 5) {
            state = 16;
            if (since <= 50 || since >= 900)
                score = std::max(0, score - 1);
            else
                ++score;
            since = low = high = 0;
        }
        if (low > 500)
            score = 0;
        return score > 0;
    }
};

}  // namespace linetest
