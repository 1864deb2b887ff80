// MNP timers: six per-second countdowns whose values come from the line rate, the inactivity time, and the
// 100 ms ticks that drive them (every tenth tick is a second).
#include <iterator>

#include "layer2/corecode/ec/mnp_internal.h"

namespace {

struct RateTimers {
    uint16_t max_rate;            // class: rates up to this value
    uint8_t value[MNP_TIMERS];    // seconds of timers 0-5
};

constexpr RateTimers kRateTimers[] = {
    {300, {10, 21, 21, 21, 21, 21}}, {1200, {5, 10, 6, 6, 6, 6}}, {2400, {4, 4, 4, 4, 4, 4}},
    {9600, {3, 4, 4, 4, 4, 4}},      {14400, {2, 3, 3, 3, 3, 2}}, {0xFFFF, {2, 2, 2, 2, 2, 2}},
};

constexpr uint8_t kTicksPerSecond = 10;

// The line rate of the table: the average of the two directions when they differ.
uint32_t line_rate(const MnpLink* link)
{
    if (link->call == nullptr)
        return 0xFFFF;
    const uint32_t tx = link->call->tx_rate;
    const uint32_t rx = link->call->rx_rate;
    return tx == rx ? tx : (tx + rx) / 2;
}

}  // namespace

void mnp_timers_reset(MnpLink* link)
{
    MnpTimers& t = link->timers;
    const uint32_t rate = line_rate(link);
    const RateTimers* row = &kRateTimers[std::size(kRateTimers) - 1];
    for (const RateTimers& r : kRateTimers)
        if (rate <= r.max_rate) {
            row = &r;
            break;
        }
    for (uint8_t i = 0; i < MNP_TIMERS; ++i) {
        t.value[i] = row->value[i];
        t.sec[i] = -1;
    }
    t.pending_ticks = 0;
    t.sub_ticks = 0;
    t.wait_ticks = -1;
    mnp_inactivity_restart(link);
}

void mnp_timer_start(MnpLink* link, uint8_t timer) { link->timers.sec[timer] = link->timers.value[timer]; }

void mnp_timer_stop(MnpLink* link, uint8_t timer) { link->timers.sec[timer] = -1; }

bool mnp_timer_expired(const MnpLink* link, uint8_t timer) { return link->timers.sec[timer] == 0; }

void mnp_inactivity_restart(MnpLink* link)
{
    link->timers.inactivity = link->setup.inactivity_s != 0 ? link->setup.inactivity_s : -1;
}

bool mnp_timers_run(MnpLink* link)
{
    MnpTimers& t = link->timers;
    const uint32_t ticks = t.pending_ticks;
    t.pending_ticks = 0;
    bool inactive = false;
    for (uint32_t k = 0; k < ticks; ++k) {
        if (t.wait_ticks > 0)
            --t.wait_ticks;
        if (++t.sub_ticks < kTicksPerSecond)
            continue;
        t.sub_ticks = 0;
        for (int16_t& s : t.sec)
            if (s > 0)
                --s;
        if (t.inactivity > 0 && --t.inactivity == 0)
            inactive = true;
    }
    return inactive;
}

void mnp_tick(MnpLink* link) { ++link->timers.pending_ticks; }
