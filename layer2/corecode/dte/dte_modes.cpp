// DTE modes, the clamp around command state, start-up defaults and the 10 ms data-path tick.
#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/dte/dte_lock.h"
#include "layer2/corecode/dte/dte_stubs.h"
#include "layer2/corecode/mt/port_ops.h"
#include "layer2/corecode/mt/port_record.h"

namespace {

void empty_data_rings(DteContext* d)
{
    {
        DteLockHold hold(&d->from_lock);
        ring_clear(&d->from_dte);
    }
    DteLockHold hold(&d->to_lock);
    ring_clear(&d->to_dte);
}

void restart_escape_detector(DteContext* d)
{
    d->flow.escape_count = 0;
    d->flow.escape_armed = 0;
    d->flow.quiet_steps = 0;
    d->flow.leading_guard = 0;
    d->flow.guard_divider = 2;
    d->flow.guard_countdown = d->flow.guard_time.load();
}

void default_flow_characters(DteContext* d)
{
    d->flow.in_xon = 0x11;
    d->flow.in_xoff = 0x13;
    d->flow.out_xon = 0x11;
    d->flow.out_xoff = 0x13;
    d->flow.flow_off_mark = 896;
    d->flow.flow_on_mark = 256;
}

void store_data_params(DteContext* d, const uint8_t params[12])
{
    d->flow.in_options = params[3];
    d->flow.in_xon = params[4];
    d->flow.in_xoff = params[5];
    d->flow.out_options = params[6];
    d->flow.out_xon = params[7];
    d->flow.out_xoff = params[8];
    d->flow.pass_through = params[9];
    d->flow.escape_char = params[10];
    d->flow.guard_time = params[11];
}

// The escape sequence completes when exactly three escape characters, the first after a guard time of
// quiet, are followed by another guard time of quiet. In synchronous access the sequence becomes EM 0xBB in
// the data; in the other data modes call control takes it as a break event (back to the command state).
void escape_guard_step(DteContext* d)
{
    if (d->flow.quiet_steps != 0xFFFF)
        d->flow.quiet_steps++;
    const uint8_t mode = d->mode.load();
    if (mode != DTE_MODE_DATA && mode != DTE_MODE_FAX && mode != DTE_MODE_SYNC)
        return;
    if (d->flow.escape_count != 3 || !d->flow.escape_armed || d->flow.quiet_steps < d->flow.guard_time)
        return;
    d->flow.escape_count = 0;
    d->flow.escape_armed = 0;
    if (mode == DTE_MODE_SYNC) {
        dte_rx_char(d, 0x19);
        dte_rx_char(d, 0xBB);
    } else {
        d->escape_event = 1;
    }
}

}  // namespace

void dte_init(DteContext* d, PortRecord* port)
{
    d->port = port;
    KeInitializeSpinLock(&d->app_rx_lock);
    KeInitializeSpinLock(&d->app_tx_lock);
    KeInitializeSpinLock(&d->from_lock);
    KeInitializeSpinLock(&d->to_lock);
    KeInitializeSpinLock(&d->cmd_in_lock);
    KeInitializeSpinLock(&d->cmd_out_lock);
    KeInitializeSpinLock(&d->sniff_lock);
    ring_clear(&d->from_dte);
    ring_clear(&d->to_dte);
    ring_clear(&d->cmd_in);
    ring_clear(&d->cmd_out);
    ring_clear(&d->sniff);
    d->line.data_bits = 8;
    d->line.stop_bits = 0;
    d->line.baud_rate = 14400;
    d->line.parity = 0;
    default_flow_characters(d);
    d->flow.escape_char = '+';
    d->flow.guard_time = 50;
    d->flow.data_mask = 0xFF;
    d->flow.data_bits = 8;
    d->mode = DTE_MODE_COMMAND;
    d->flow.clamp = 1;
    d->mc_rx_idle = 1;
    d->cmd_out_idle = 1;
    d->drain_active = 0;
    d->countdown_100ms = 10;
    d->countdown_1s = 10;
    d->countdown_1min = 60;
}

void dte_data_mode_start(DteContext* d, const uint8_t params[12])
{
    d->flow.in_options = params[3];
    d->flow.out_options = params[6];
    default_flow_characters(d);
    store_data_params(d, params);
    if (d->escape_reset != nullptr)
        d->escape_reset(d->escape_owner);
    d->flow.flow_off_asserted = 0;
    d->flow.flow_off_pending = 0;
    d->flow.flow_on_pending = 0;
    d->flow.output_running = 0;
    d->flow.output_held = 0;
    d->flow.break_signalling = 0;
    d->flow.break_in_progress = 0;
    d->flow.sync_remembered = 0;
    d->drain_active = 0;
    empty_data_rings(d);
    restart_escape_detector(d);
    d->mode = DTE_MODE_DATA;
    d->flow.data_bits = d->line.data_bits;
    d->flow.parity = d->line.parity;
    d->flow.data_mask = d->line.data_bits == 7 ? 0x7F : 0xFF;
    if ((d->flow.in_options & 2) && !d->line.rts.load())
        d->flow.output_held = 1;
}

void dte_set_data_params(DteContext* d, const uint8_t params[12])
{
    store_data_params(d, params);
    d->flow.flow_off_mark = 896;
    d->flow.flow_on_mark = 256;
    restart_escape_detector(d);
}

void dte_clamp_on(DteContext* d) { d->flow.clamp = 1; }
void dte_clamp_off(DteContext* d) { d->flow.clamp = 0; }

void dte_clamp_enter(DteContext* d)
{
    d->flow.clamp = 1;
    empty_data_rings(d);
    DteLockHold hold(&d->to_lock);
    if (d->flow.break_state != 0) {
        d->flow.break_state = 0;
        d->flow.break_signalling = 0;
        d->line.break_to_dte = 0;
    }
}

void dte_clamp_hold(DteContext* d)
{
    d->flow.sync_remembered = d->mode.load() == DTE_MODE_SYNC;
    d->mode = DTE_MODE_COMMAND;
    d->flow.clamp = 1;
}

void dte_clamp_begin(DteContext* d)
{
    d->flow.sync_remembered = d->mode.load() == DTE_MODE_SYNC;
    d->mode = DTE_MODE_COMMAND;
    dte_clamp_enter(d);
}

void dte_end_clamp(DteContext* d)
{
    d->flow.clamp = 0;
    dte_flow_on_check(d);
    if (dte_to_count(d) != 0 && !d->flow.output_held.load())
        dte_to_drain(d);
}

void dte_clamp_release(DteContext* d)
{
    d->mode = d->flow.sync_remembered ? DTE_MODE_SYNC : DTE_MODE_DATA;
    d->flow.sync_remembered = 0;
    dte_end_clamp(d);
}

void dte_command_mode_reset(DteContext* d)
{
    if (d->cmd_out_idle.load() != 1)
        return;  // a command-output flush is running
    dte_cmd_in_clear(d);
    dte_cmd_out_clear(d);
    empty_data_rings(d);
    d->flow.clamp = 1;
    d->flow.output_held = 0;
    d->cmd_out_held = 0;
    d->mode = DTE_MODE_COMMAND;
    d->cmd_flag = 0;
    if (d->port != nullptr && d->port->open_marker.load() == PORT_OPEN_MARKER) {
        port_set_cts(d->port, 1);
        if (d->flow.flow_off_asserted.load() || d->flow.flow_off_pending.load())
            dte_flow_on_check(d);
    }
}

void dte_to_command_mode(DteContext* d)
{
    d->flow.data_mode_marker = 0;
    dte_command_mode_reset(d);
    dte_clamp_enter(d);
}

void dte_to_data_mode(DteContext* d)
{
    d->flow.data_mode_marker = 1;
    dte_end_clamp(d);
}

void dte_voice_mode_start(DteContext* d, uint8_t in_options, uint8_t out_options)
{
    default_flow_characters(d);
    d->flow.in_options = in_options;
    d->flow.out_options = out_options;
    d->flow.data_mask = 0xFF;
    d->flow.voice_dte = 1;
    d->flow.clamp = 0;
}

void dte_leave_voice_mode(DteContext* d)
{
    d->mode = DTE_MODE_COMMAND;
    d->flow.clamp = 1;
    d->flow.voice_dte = 0;
}

void dte_add_elapsed(DteContext* d, uint32_t ms)
{
    PortRecord* p = d->port;
    if (p == nullptr)
        return;
    p->read_interval_elapsed += ms;
    p->read_total_elapsed += ms;
    p->write_total_elapsed += ms;
}

void dte_periodic_tick(DteContext* d)
{
    // Break timing of a break from the application, then the escape guard step every 20 ms.
    if (d->flow.break_in_progress && d->break_ticks < 255)
        d->break_ticks++;
    dte_break_tick(d);
    if (--d->flow.guard_divider == 0) {
        d->flow.guard_divider = 2;
        if (d->flow.guard_countdown != 0) {
            d->flow.guard_countdown--;
            if (d->flow.guard_countdown == 0 && !d->flow.leading_guard)
                d->flow.leading_guard = 1;
        }
        escape_guard_step(d);
    }
    dte_add_elapsed(d, 10);
    d->tick_10ms++;
    if (--d->countdown_100ms == 0) {
        d->countdown_100ms = 10;
        d->count_100ms++;
        if (--d->countdown_1s == 0) {
            d->countdown_1s = 10;
            d->count_1s++;
            if (--d->countdown_1min == 0) {
                d->countdown_1min = 60;
                d->count_1min++;
            }
        }
    }
}
