// LAPM timers: T401, T403, the set-up and inactivity timers, all counted in 100 ms ticks from their start
// (-1 = stopped), with T401 and T403 chosen by the line rates; and the retransmission budget.
#include "layer2/corecode/ec/lapm_internal.h"

#include <algorithm>
#include <climits>
#include <iterator>

namespace {

struct RateTimers {
    uint16_t max_rate;  // class: rates up to this value
    uint16_t value[3];  // T401, T403, T401 while disconnecting
};

constexpr RateTimers kRateTimers[] = {
    {300, {540, 860, 40}},  {1200, {170, 60, 20}}, {2400, {90, 40, 20}},  {9600, {40, 40, 10}},
    {14400, {35, 35, 10}},  {28800, {20, 30, 10}}, {33600, {10, 30, 10}}, {0xFFFF, {1, 30, 10}},
};

uint32_t value_for_rate(uint16_t rate, int column)
{
    for (const RateTimers& row : kRateTimers)
        if (rate <= row.max_rate)
            return row.value[column];
    return kRateTimers[std::size(kRateTimers) - 1].value[column];
}

// Ticks the link waits for its first answers while it is being set up: half a second, or, where the line is
// slower, the time an XID command and its response take on it (the longest set-up frames, flags and frame
// check included) and the data pumps' own delays. A shorter wait makes the originator send its XID and SABME
// again before they could be answered, and the answerer ends a link that is reset a second time.
constexpr uint32_t T401_ESTABLISHING = 5;
constexpr uint32_t SETUP_FRAME_OCTETS = 96;
constexpr uint32_t PUMP_DELAY_TICKS = 3;

uint32_t establishing_t401(const LapmLink* link)
{
    uint32_t rate = std::min(link->call->tx_rate, link->call->rx_rate);
    if (rate == 0)
        rate = std::max(link->call->tx_rate, link->call->rx_rate);
    if (rate == 0)
        return T401_ESTABLISHING;
    // Two frames of 10-bit characters, in 100 ms ticks, rounded up.
    const uint32_t line = (2 * SETUP_FRAME_OCTETS * 10 * 10 + rate - 1) / rate + PUMP_DELAY_TICKS;
    return std::max(T401_ESTABLISHING, line);
}
// The set-up timer posts the originator's start event again after this many ticks.
constexpr int32_t SETUP_TICKS = 4;

}  // namespace

uint32_t lapm_rate_value(const LapmLink* link, int column)
{
    uint32_t tx = value_for_rate(link->call->tx_rate, column);
    uint32_t rx = value_for_rate(link->call->rx_rate, column);
    if (link->call->rx_rate != link->call->tx_rate && rx != tx)
        return (tx + rx) / 2;
    return tx;
}

void lapm_reload_t401(LapmLink* link)
{
    if (link->status == LAPM_IDLE || link->status == LAPM_ESTABLISHING)
        link->timers.t401_limit = establishing_t401(link);
    else
        link->timers.t401_limit = lapm_rate_value(link, 0);
}

void lapm_t401_start(LapmLink* link)
{
    link->timers.t401 = 0;
    link->timers.t403 = -1;
}

void lapm_t401_stop(LapmLink* link) { link->timers.t401 = -1; }

void lapm_t403_start(LapmLink* link)
{
    link->timers.t403 = 0;
    link->timers.t401 = -1;
}

void lapm_t403_stop(LapmLink* link) { link->timers.t403 = -1; }

void lapm_timers_by_ring(LapmLink* link)
{
    if (lapm_unacked(link))
        lapm_t401_start(link);
    else
        lapm_t403_start(link);
}

void lapm_inactivity_restart(LapmLink* link)
{
    link->timers.inactivity = link->timers.inactivity_limit ? 0 : -1;
}

static void advance(int32_t* timer, uint32_t ticks)
{
    if (*timer >= 0)
        *timer = static_cast<int32_t>(std::min<uint32_t>(static_cast<uint32_t>(*timer) + ticks, INT32_MAX));
}

void lapm_advance_timers(LapmLink* link)
{
    LapmTimers& t = link->timers;
    uint32_t ticks = t.pending_ticks;
    t.pending_ticks = 0;
    advance(&t.setup, ticks);
    advance(&t.inactivity, ticks);
    advance(&t.t401, ticks);
    advance(&t.t403, ticks);
    if (t.delivery > 0)
        t.delivery = ticks >= static_cast<uint32_t>(t.delivery) ? 0 : t.delivery - static_cast<int32_t>(ticks);
}

// At most one timer event per step, in this order of precedence.
void lapm_post_timer_event(LapmLink* link)
{
    LapmTimers& t = link->timers;
    if (t.setup >= SETUP_TICKS) {
        if (lapm_post_event(link, LE_START_ORIGINATE, nullptr))
            t.setup = -1;
    } else if (t.inactivity >= 0 && t.inactivity_limit && static_cast<uint32_t>(t.inactivity) >= t.inactivity_limit) {
        if (lapm_post_event(link, LE_LOCAL_DISC, nullptr)) {
            t.inactivity = -1;
            link->reason = LAPM_REASON_INACTIVITY;
            link->disconnect_code = LAPM_DC_INACTIVITY;
        }
    } else if (t.t401 >= 0 && static_cast<uint32_t>(t.t401) >= t.t401_limit) {
        if (lapm_post_event(link, LE_T401, nullptr))
            t.t401 -= static_cast<int32_t>(t.t401_limit);
    } else if (t.t403 >= 0 && static_cast<uint32_t>(t.t403) >= t.t403_limit) {
        if (lapm_post_event(link, LE_T403, nullptr))
            t.t403 -= static_cast<int32_t>(t.t403_limit);
    }
}

void lapm_clear_retransmissions(LapmLink* link)
{
    link->retransmissions = 0;
    ec_add_retransmissions(link->counters, 0);
}

// A retransmission counts only while call control's connection mode is 2. When the budget is spent the
// event becomes LE_BUDGET_SPENT. The threshold is at least 1: at low rates budget x 10 / T401 would
// otherwise be 0 and the link would fail at once or never.
constexpr uint32_t kMinTransferRecoveries = 3;

void lapm_count_retransmission(LapmLink* link, LapmDispatch* d)
{
    if (link->call->connection_mode != 2)
        return;
    ec_add_retransmissions(link->counters, 1);
    ++link->retransmissions;
    uint32_t budget = link->setup.retry_budget;
    if (budget == 0)
        return;
    uint32_t limit = link->timers.t401_limit ? budget * 10 / link->timers.t401_limit : budget * 10;
    if (limit == 0)
        limit = 1;
    // In information transfer T401 is the rate table's (9 s at 2400 bit/s), so a budget of a few tens of
    // seconds gives one retransmission: a single poll lost in a burst of noise would end a link that is
    // fine. A recovery may always poll a few times.
    if (link->status == LAPM_TRANSFER && limit < kMinTransferRecoveries)
        limit = kMinTransferRecoveries;
    if (link->retransmissions >= limit) {
        d->event = LE_BUDGET_SPENT;
        ++link->call->retransmit_failures;
    }
}
