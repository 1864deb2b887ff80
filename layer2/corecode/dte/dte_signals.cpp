// The emulated modem-control lines between the application and the modem, and the line settings
// the port layer hands down.
#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/dte/dte_stubs.h"
#include "layer2/corecode/mt/port_ops.h"
#include "layer2/corecode/mt/port_record.h"

namespace {

// Store a signal byte; true when it changed.
bool change(std::atomic<uint8_t>* line, uint8_t on)
{
    return line->exchange(on) != on;
}

// The modem-status sequence of a raise or drop of DSR, CTS, DCD or RI.
void signal_status(DteContext* d, uint32_t events, uint8_t change_bit, uint8_t status_bit, bool on,
                   bool clear_change_with_update)
{
    PortRecord* p = d->port;
    if (p == nullptr)
        return;
    port_post_events(p, events);
    port_modify_msr(p, 2, change_bit);
    port_update_msr(p, on ? 2 : 1, status_bit);
    port_notify(p, 4);
    if (clear_change_with_update)
        port_update_msr(p, 1, change_bit);
    else
        port_modify_msr(p, 1, change_bit);
}

// Data output towards the application follows RTS when input option bit 1 is set.
void output_eval_rts(DteContext* d)
{
    if (!(d->flow.in_options & 2))
        return;
    if (d->line.rts.load()) {
        d->flow.output_held = 0;
        dte_to_drain(d);
    } else {
        d->flow.output_held = 1;
    }
}

// Command output follows RTS when the port uses RTS for receive flow control.
void cmd_out_eval_rts(DteContext* d)
{
    if (d->line.rts.load())
        d->cmd_out_held = 0;
    else if (d->port != nullptr && (d->port->rx_handshake.load() & 2))
        d->cmd_out_held = 1;
}

void rts_changed(DteContext* d)
{
    if (d->flow.clamp.load())
        cmd_out_eval_rts(d);
    else
        output_eval_rts(d);
}

// Break from the application: reported at once (untimed) or timed by the 10 ms tick.
void break_from_application(DteContext* d)
{
    bool on = d->line.brk.load() != 0;
    if (!d->break_timed_option.load()) {
        if (on && acu_dte_break(d, 0, dte_from_count(d)) == 1)
            dte_from_clear(d);
        return;
    }
    if (on) {
        d->flow.break_in_progress = 1;
        d->break_ticks = 0;
    } else if (d->flow.break_in_progress) {
        d->flow.break_in_progress = 0;
        d->last_break_length = d->break_ticks;
        if (acu_dte_break(d, d->break_ticks, dte_from_count(d)) == 1)
            dte_from_clear(d);
    }
}

}  // namespace

void dte_set_dtr(DteContext* d) { change(&d->line.dtr, 1); }
void dte_clear_dtr(DteContext* d) { change(&d->line.dtr, 0); }

void dte_set_rts(DteContext* d)
{
    if (change(&d->line.rts, 1))
        rts_changed(d);
}

void dte_clear_rts(DteContext* d)
{
    if (change(&d->line.rts, 0))
        rts_changed(d);
}

void dte_raise_dsr(DteContext* d)
{
    if (change(&d->line.dsr, 1))
        signal_status(d, SERIAL_EV_DSR | SERIAL_EV_DSR_ON, MSR_DDSR, MSR_DSR, true, false);
}

void dte_drop_dsr(DteContext* d)
{
    if (change(&d->line.dsr, 0))
        signal_status(d, SERIAL_EV_DSR, MSR_DDSR, MSR_DSR, false, true);
}

void dte_raise_cts(DteContext* d)
{
    if (change(&d->line.cts, 1))
        signal_status(d, SERIAL_EV_CTS, MSR_DCTS, MSR_CTS, true, false);
}

void dte_drop_cts(DteContext* d)
{
    if (change(&d->line.cts, 0))
        signal_status(d, SERIAL_EV_CTS, MSR_DCTS, MSR_CTS, false, false);
}

void dte_raise_dcd(DteContext* d)
{
    if (change(&d->line.dcd, 1))
        signal_status(d, SERIAL_EV_RLSD | SERIAL_EV_RLSD_ON, MSR_DDCD, MSR_DCD, true, false);
}

void dte_drop_dcd(DteContext* d)
{
    if (change(&d->line.dcd, 0))
        signal_status(d, SERIAL_EV_RLSD, MSR_DDCD, MSR_DCD, false, false);
}

void dte_raise_ri(DteContext* d)
{
    if (change(&d->line.ri, 1))
        signal_status(d, SERIAL_EV_RING, MSR_TERI, MSR_RI, true, false);
}

void dte_drop_ri(DteContext* d)
{
    if (change(&d->line.ri, 0))
        signal_status(d, SERIAL_EV_RING_TRAIL, MSR_TERI, MSR_RI, false, false);
}

void dte_set_break(DteContext* d)
{
    d->line.brk = 1;
    break_from_application(d);
}

void dte_clear_break(DteContext* d)
{
    d->line.brk = 0;
    break_from_application(d);
}

int dte_set_baud_rate(DteContext* d, uint32_t baud)
{
    d->line.baud_rate = baud;
    return 1;
}

int dte_set_data_bits(DteContext* d, uint8_t bits)
{
    d->line.data_bits = bits;
    return 1;
}

void dte_set_stop_bits(DteContext* d, uint8_t code)
{
    if (code <= 2)
        d->line.stop_bits = code;
}

void dte_set_parity(DteContext* d, uint8_t code)
{
    if (code <= 4)
        d->line.parity = code;
}

uint32_t dte_get_baud_rate(DteContext* d) { return d->line.baud_rate; }
uint8_t dte_get_data_bits(DteContext* d) { return d->line.data_bits; }
uint8_t dte_get_parity(DteContext* d) { return d->line.parity; }

uint8_t dte_get_parity_mode(DteContext* d, uint8_t* ignored, uint8_t* out1, uint8_t* out2)
{
    (void)ignored;
    if (out1)
        *out1 = 1;
    if (out2)
        *out2 = 0;
    return d->line.parity;
}

DteLineState* dte_get_line_state(DteContext* d) { return &d->line; }

uint8_t dte_get_signal(DteContext* d, int index)
{
    switch (index) {
    case 0: return d->line.dsr.load();
    case 1: return d->line.dtr.load();
    case 2: return d->line.rts.load();
    case 3: return d->line.cts.load();
    case 4: return d->line.dcd.load();
    case 5: return d->line.ri.load();
    case 6: return d->line.brk.load();
    case 7: return d->line.break_to_dte.load();
    default: return 0;
    }
}

void dte_port_state_reset(DteContext* d)
{
    dte_app_queues_reset(d, 2);
    d->line.data_bits = 8;
    d->line.stop_bits = 0;
    d->line.parity = 0;
    d->line.baud_rate = 14400;
    d->line.brk = 0;
    d->line.break_to_dte = 0;
    d->line.ri = 0;
    dte_clear_dtr(d);
    dte_clear_rts(d);
    dte_drop_dsr(d);
    dte_drop_cts(d);
    dte_drop_dcd(d);
    dte_app_queues_clear_all(d);
}
