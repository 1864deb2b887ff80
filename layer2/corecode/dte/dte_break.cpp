// Breaks signalled towards the application: queued at a position of the to-DTE ring or started at
// once, timed by the 10 ms tick, ended with a NUL, the break error and the break events.
#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/dte/dte_lock.h"
#include "layer2/corecode/mt/port_ops.h"
#include "layer2/corecode/mt/port_record.h"

namespace {

// Under the DTE-output lock. The duration is loaded here, so every break ends.
void start_break_locked(DteContext* d)
{
    d->line.break_to_dte = 1;
    d->flow.break_signalling = 1;
    d->flow.break_state = 3;
    d->flow.break_countdown = DTE_BREAK_TICKS;
}

void queue_break_locked(DteContext* d, uint16_t position)
{
    d->flow.break_state = 1;
    d->flow.break_position = position;
}

void end_break(DteContext* d)
{
    d->line.break_to_dte = 0;
    d->flow.break_signalling = 0;
    if (dte_app_rx_free(d) != 0)
        dte_app_rx_put(d, 0);
    PortRecord* p = d->port;
    if (p != nullptr) {
        p->error_word |= COMM_ERROR_BREAK;
        port_post_events(p, SERIAL_EV_BREAK | SERIAL_EV_ERR);
        port_notify(p, 4);
    }
    dte_flow_off_check(d);
    dte_flow_on_check(d);
    if (!d->flow.output_held.load())
        dte_to_drain(d);
}

}  // namespace

void dte_to_break(DteContext* d, uint8_t type)
{
    if (type == 0 || d->flow.break_signalling.load())
        return;
    if (type == 1) {
        // Destructive: both data rings are emptied (the dropped bytes are counted) and the break
        // goes first.
        {
            DteLockHold hold(&d->from_lock);
            d->tx_discards += d->from_dte.count;
            ring_clear(&d->from_dte);
        }
        {
            DteLockHold hold(&d->to_lock);
            d->rx_discards += d->to_dte.count;
            ring_clear(&d->to_dte);
        }
        d->flow.escape_count = 0;
        d->flow.leading_guard = 0;
        d->flow.guard_divider = 2;
        d->flow.guard_countdown = d->flow.guard_time.load();
        dte_flow_on_check(d);
        DteLockHold hold(&d->to_lock);
        if (d->flow.output_running.load())
            queue_break_locked(d, 0);
        else
            start_break_locked(d);
        return;
    }
    DteLockHold hold(&d->to_lock);
    if (type == 2) {
        if (d->flow.output_running.load())
            queue_break_locked(d, d->to_dte.read);
        else
            start_break_locked(d);
        return;
    }
    if (d->to_dte.count != 0 || d->flow.output_held.load() || d->flow.output_running.load())
        queue_break_locked(d, d->to_dte.write);
    else
        start_break_locked(d);
}

void dte_break_tick(DteContext* d)
{
    bool ended = false;
    {
        DteLockHold hold(&d->to_lock);
        if (d->flow.break_state == 3 && d->flow.break_countdown != 0) {
            d->flow.break_countdown--;
            if (d->flow.break_countdown == 0) {
                d->flow.break_state = 0;
                ended = true;
            }
        }
    }
    if (ended)
        end_break(d);
}

// Starts a queued break once the to-DTE read position has reached it; true when it started.
bool dte_break_reached(DteContext* d)
{
    DteLockHold hold(&d->to_lock);
    if (d->flow.break_state != 1 || d->to_dte.read != d->flow.break_position)
        return false;
    start_break_locked(d);
    return true;
}
