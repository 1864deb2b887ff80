// Moving application bytes into the modem core, modem bytes out to the application, and the
// watermark flow control of the application.
#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/dte/dte_fax.h"
#include "layer2/corecode/dce/line_block.h"
#include "layer2/corecode/dte/dte_lock.h"
#include "layer2/corecode/mt/port_ops.h"
#include "layer2/corecode/mt/port_record.h"

namespace {

void flow_off_now(DteContext* d)
{
    d->flow.flow_off_asserted = 1;
    d->flow.flow_off_pending = 0;
    if (d->flow.out_options & 2)
        port_set_cts(d->port, 0);
    if (d->flow.out_options & 1) {
        if (dte_app_rx_put(d, d->flow.out_xoff) != 0)
            d->flow.flow_off_pending = 1;
    }
}

void flow_on_now(DteContext* d)
{
    d->flow.flow_off_asserted = 0;
    d->flow.flow_on_pending = 0;
    if (d->flow.out_options & 2)
        port_set_cts(d->port, 1);
    if (d->flow.out_options & 1) {
        if (dte_app_rx_put(d, d->flow.out_xon) != 0)
            d->flow.flow_on_pending = 1;
    }
}

bool port_is_open(DteContext* d)
{
    return d->port != nullptr && d->port->open_marker.load() == PORT_OPEN_MARKER;
}

void resume_output(DteContext* d)
{
    d->flow.output_held = 0;
    dte_to_drain(d);
}

}  // namespace

void dte_flow_off_check(DteContext* d)
{
    if (d->flow.flow_off_asserted.load() || d->flow.out_options == 0)
        return;
    if (dte_from_count(d) < d->flow.flow_off_mark)
        return;
    if (d->flow.break_signalling.load())
        d->flow.flow_off_pending = 1;
    else
        flow_off_now(d);
}

void dte_flow_on_check(DteContext* d)
{
    if (!d->flow.flow_off_asserted.load())
        return;
    if (dte_from_count(d) > d->flow.flow_on_mark)
        return;
    if (d->flow.break_signalling.load())
        d->flow.flow_on_pending = 1;
    else
        flow_on_now(d);
}

void dte_set_flow_thresholds(DteContext* d, uint16_t off_mark, uint16_t on_mark)
{
    d->flow.flow_off_mark = off_mark;
    d->flow.flow_on_mark = on_mark;
}

void dte_ring_sizes(DteContext* d, uint16_t* size, uint16_t* off_mark, uint16_t* on_mark)
{
    (void)d;
    *size = DTE_DATA_RING_SIZE;
    *off_mark = 896;
    *on_mark = 256;
}

void dte_itf_query(DteContext* d, uint16_t* size, uint16_t* off_mark, uint16_t* on_mark, uint16_t* off_min,
                   uint16_t* off_max, uint16_t* on_min, uint16_t* on_max, uint16_t* waiting)
{
    *size = DTE_DATA_RING_SIZE;
    *off_mark = d->flow.flow_off_mark;
    *on_mark = d->flow.flow_on_mark;
    *off_min = 614;
    *off_max = 819;
    *on_min = 204;
    *on_max = 409;
    *waiting = dte_from_count(d);
}

int dte_rx_char(DteContext* d, uint8_t c)
{
    if (d->flow.input_discard.load())
        return 0;
    if (d->flow.in_options & 1) {
        bool flow_char = false;
        if (c == d->flow.in_xon) {
            flow_char = true;
            resume_output(d);
        } else if (c == d->flow.in_xoff) {
            flow_char = true;
            d->flow.output_held = 1;
        }
        if (flow_char && !d->flow.pass_through)
            return 0;
    }
    if (d->mode.load() == DTE_MODE_SYNC && d->line_block != nullptr) {
        // Synchronous access: a full ring is reported in band and the byte counted as lost by the decoder.
        if (dte_from_count(d) >= DTE_DATA_RING_SIZE) {
            d->tx_discards++;
            v80_dte_overrun(d);
        }
        v80_dte_decode(d, c);
    } else {
        DteLockHold hold(&d->from_lock);
        if (d->from_dte.count >= DTE_DATA_RING_SIZE) {
            if (d->mode.load() != DTE_MODE_SYNC)
                return 1;
            d->tx_discards++;  // synchronous access counts the byte as lost
            return 0;
        }
        ring_put(&d->from_dte, c);
    }
    dte_flow_off_check(d);
    if (d->sniffing.load())
        dte_sniff_put(d, static_cast<uint8_t>(c & 0x7F));
    const uint16_t quiet = d->flow.quiet_steps;
    d->flow.quiet_steps = 0;
    if (c != d->flow.escape_char) {
        d->flow.escape_count = 0;
        d->flow.escape_armed = 0;
        return 0;
    }
    // The sequence counts only when its first character followed a guard time of quiet.
    if (d->flow.escape_count == 0)
        d->flow.escape_armed = quiet >= d->flow.guard_time ? 1 : 0;
    d->flow.escape_count = static_cast<uint16_t>(d->flow.escape_count + 1);
    if (d->flow.escape_count == 3) {
        dte_sniff_clear(d);
        d->sniffing = 1;
    } else if (d->flow.escape_count > 3 || d->flow.escape_count == 0) {
        d->flow.escape_count = 4;
    }
    return 0;
}

int dte_route_char(DteContext* d, uint8_t c)
{
    if (!port_is_open(d))
        return 1;
    if (d->flow.clamp.load())
        return dte_cmd_in_put(d, c);
    if (d->flow.voice_dte.load())
        return dte_from_put(d, c);
    if (d->mode.load() == DTE_MODE_FAX)
        return fax_dte_put(d, c);
    return dte_rx_char(d, c);
}

void mc_tx_notify_check(DteContext* d)
{
    PortRecord* p = d->port;
    if (p == nullptr || p->tx_threshold == PORT_MAXDWORD)
        return;
    if (dte_app_tx_count(d) < p->tx_threshold && !(p->notify_flags & PORT_NOTIFIED_TX))
        port_notify(p, 2);
}

void mc_rx_int(DteContext* d)
{
    PortRecord* p = d->port;
    if (p == nullptr)
        return;
    if (d->mc_rx_idle.exchange(0) != 1)
        return;
    bool work = dte_app_tx_count(d) != 0 || p->immediate_char.load() >= 0 ||
                (p->rx_flow_asserted & (PORT_RXFLOW_XOFF_PENDING | PORT_RXFLOW_XON_PENDING));
    if (!work) {
        d->mc_rx_idle = 1;
        return;
    }
    dte_flow_on_check(d);
    uint32_t room;
    if (d->flow.clamp.load()) {
        DteLockHold hold(&d->cmd_in_lock);
        room = ring_free(&d->cmd_in);
    } else {
        room = dte_from_free(d);
    }
    uint32_t moved = 0;
    const uint32_t held_mask = PORT_HOLD_CTS | PORT_HOLD_DSR | PORT_HOLD_DCD;
    while (!(p->hold.load() & held_mask)) {
        if (p->rx_flow_asserted & PORT_RXFLOW_XOFF_PENDING) {
            if (dte_route_char(d, p->state.xoff_char) != 0)
                break;
            p->rx_flow_asserted &= static_cast<uint8_t>(~PORT_RXFLOW_XOFF_PENDING);
            p->rx_flow_asserted |= PORT_RXFLOW_XOFF_SENT;
        }
        if (p->rx_flow_asserted & PORT_RXFLOW_XON_PENDING) {
            if (dte_route_char(d, p->state.xon_char) != 0)
                break;
            p->rx_flow_asserted &= static_cast<uint8_t>(~PORT_RXFLOW_XON_PENDING);
        }
        if (p->hold.load() & PORT_HOLD_XOFF_RECEIVED)
            break;
        int imm = p->immediate_char.load();
        if (imm >= 0) {
            if (dte_route_char(d, static_cast<uint8_t>(imm)) != 0)
                break;
            p->immediate_char = -1;
            p->hold &= ~PORT_HOLD_IMMEDIATE;
        }
        if (d->flow.flow_off_asserted.load())
            break;
        if (room == 0 || dte_app_tx_count(d) == 0)
            break;
        if (dte_route_char(d, dte_app_tx_peek(d)) != 0)
            break;
        dte_app_tx_get(d);
        moved++;
        room--;
    }
    if (moved != 0) {
        uint32_t ev = SERIAL_EV_TXCHAR;
        if (dte_app_tx_count(d) == 0)
            ev |= SERIAL_EV_TXEMPTY;
        port_post_events(p, ev);
        mc_tx_notify_check(d);
        port_notify(p, 4);
    }
    d->mc_rx_idle = 1;
}

void dte_to_drain(DteContext* d)
{
    if (d->drain_active.exchange(1) != 0)
        return;
    d->flow.output_running = 0;
    if (dte_break_reached(d)) {
        d->drain_active = 0;
        return;
    }
    if (d->flow.flow_off_pending.load())
        flow_off_now(d);
    if (d->flow.flow_on_pending.load())
        flow_on_now(d);
    if (dte_to_count(d) != 0 && !d->flow.output_held.load() && !d->flow.break_signalling.load()) {
        uint32_t room = dte_app_rx_free(d);
        const bool sync = d->mode.load() == DTE_MODE_SYNC && d->line_block != nullptr;
        while (room != 0) {
            uint8_t c;
            if (dte_break_reached(d))
                break;
            {
                DteLockHold hold(&d->to_lock);
                if (d->to_dte.count == 0)
                    break;
                c = ring_peek(&d->to_dte);
            }
            if (sync) {
                // Synchronous access: the reports that wait go before the byte (room counts them too).
                if (!v80_dte_deliver(d, c, &room))
                    break;
            } else if (dte_app_rx_put(d, static_cast<uint8_t>(c & d->flow.data_mask)) != 0) {
                break;  // refused: keep the byte in the ring
            } else {
                room--;
            }
            DteLockHold hold(&d->to_lock);
            ring_get(&d->to_dte);
        }
        if (!d->flow.break_signalling.load())
            d->flow.output_running = 1;
    }
    d->drain_active = 0;
}
