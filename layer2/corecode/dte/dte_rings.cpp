// The from-DTE and to-DTE data rings, the command rings and the on-line sniff ring.
#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/dte/dte_lock.h"
#include "layer2/corecode/mt/port_record.h"

namespace {

bool counts_line_bytes(DteContext* d)
{
    uint8_t cs = d->conn_state.load();
    return d->mode.load() != DTE_MODE_COMMAND && cs != 8 && cs != 11;
}

uint8_t apply_parity(uint8_t c, uint8_t data_bits, uint8_t parity)
{
    if (data_bits != 7)
        return c;
    uint8_t low = static_cast<uint8_t>(c & 0x7F);
    int ones = __builtin_popcount(low);
    switch (parity) {
    case 1: return static_cast<uint8_t>((ones & 1) ? low : (low | 0x80));  // odd total
    case 2: return static_cast<uint8_t>((ones & 1) ? (low | 0x80) : low);  // even total
    case 3: return static_cast<uint8_t>(low | 0x80);
    case 4: return low;
    default: return c;
    }
}

}  // namespace

void dte_from_clear(DteContext* d)
{
    {
        DteLockHold hold(&d->from_lock);
        d->tx_discards += d->from_dte.count;
        ring_clear(&d->from_dte);
    }
    uint8_t mode = d->mode.load();
    if (mode == DTE_MODE_DATA || mode == DTE_MODE_FAX) {
        d->flow.guard_divider = 2;
        d->flow.escape_count = 0;
        d->flow.leading_guard = 0;
        d->flow.guard_countdown = d->flow.guard_time.load();
    }
    dte_flow_on_check(d);
}

uint16_t dte_from_count(DteContext* d)
{
    DteLockHold hold(&d->from_lock);
    return d->from_dte.count;
}

uint16_t dte_from_free(DteContext* d)
{
    DteLockHold hold(&d->from_lock);
    return ring_free(&d->from_dte);
}

int dte_from_put(DteContext* d, uint8_t c)
{
    DteLockHold hold(&d->from_lock);
    return ring_put(&d->from_dte, c);
}

uint8_t dte_from_char(DteContext* d)
{
    uint8_t c;
    {
        DteLockHold hold(&d->from_lock);
        if (d->from_dte.count == 0)
            return 0;
        c = ring_get(&d->from_dte);
    }
    c = apply_parity(c, d->flow.data_bits, d->flow.parity);
    if (counts_line_bytes(d))
        d->sent_count++;
    dte_flow_on_check(d);
    return c;
}

void dte_to_clear(DteContext* d)
{
    DteLockHold hold(&d->to_lock);
    d->rx_discards += d->to_dte.count;
    ring_clear(&d->to_dte);
    d->flow.output_running = 0;
}

uint16_t dte_to_count(DteContext* d)
{
    DteLockHold hold(&d->to_lock);
    return d->to_dte.count;
}

uint16_t dte_to_free(DteContext* d)
{
    if (dte_to_count(d) != 0)
        dte_to_drain(d);
    if (d->flow.clamp.load())
        return 0;
    return static_cast<uint16_t>(DTE_DATA_RING_SIZE - dte_to_count(d));
}

void dte_to_put(DteContext* d, uint8_t c)
{
    DteLockHold hold(&d->to_lock);
    if (d->to_dte.count < DTE_DATA_RING_SIZE) {
        ring_put(&d->to_dte, static_cast<uint8_t>(c & d->flow.data_mask));
        if (counts_line_bytes(d))
            d->received_count++;
    }
}

void dte_cmd_in_clear(DteContext* d)
{
    DteLockHold hold(&d->cmd_in_lock);
    ring_clear(&d->cmd_in);
}

static void cmd_in_service_first(DteContext* d)
{
    if (d->flow.clamp.load() && d->port && d->port->open_marker.load() == PORT_OPEN_MARKER &&
        dte_app_tx_count(d) != 0)
        mc_rx_int(d);
}

uint16_t dte_cmd_in_count(DteContext* d)
{
    cmd_in_service_first(d);
    DteLockHold hold(&d->cmd_in_lock);
    return d->cmd_in.count;
}

uint16_t dte_cmd_in_free(DteContext* d)
{
    cmd_in_service_first(d);
    DteLockHold hold(&d->cmd_in_lock);
    return ring_free(&d->cmd_in);
}

uint8_t dte_cmd_in_get(DteContext* d)
{
    DteLockHold hold(&d->cmd_in_lock);
    if (d->cmd_in.count == 0)
        return 0;
    return ring_get(&d->cmd_in);
}

int dte_cmd_in_put(DteContext* d, uint8_t c)
{
    if (d->flow.in_options & 1) {
        if (c == d->flow.in_xon) {
            d->cmd_out_held = 0;
            return 0;
        }
        if (c == d->flow.in_xoff) {
            d->cmd_out_held = 1;
            return 0;
        }
    }
    DteLockHold hold(&d->cmd_in_lock);
    return ring_put(&d->cmd_in, c);
}

void dte_cmd_out_clear(DteContext* d)
{
    DteLockHold hold(&d->cmd_out_lock);
    ring_clear(&d->cmd_out);
}

void dte_cmd_out_put(DteContext* d, uint8_t c)
{
    DteLockHold hold(&d->cmd_out_lock);
    ring_put(&d->cmd_out, c);  // dropped when full
}

static uint16_t cmd_out_count(DteContext* d)
{
    DteLockHold hold(&d->cmd_out_lock);
    return d->cmd_out.count;
}

uint16_t dte_cmd_out_pending(DteContext* d)
{
    if (cmd_out_count(d) != 0)
        dte_cmd_out_flush(d);
    return cmd_out_count(d);
}

uint16_t dte_cmd_out_free(DteContext* d)
{
    if (cmd_out_count(d) != 0)
        dte_cmd_out_flush(d);
    // Never below 0: a full ring (2048 waiting) has no room, not 65535.
    uint16_t count = cmd_out_count(d);
    return count >= DTE_CMD_RING_SIZE - 1 ? 0 : static_cast<uint16_t>(DTE_CMD_RING_SIZE - 1 - count);
}

void dte_cmd_out_flush(DteContext* d)
{
    if (cmd_out_count(d) == 0 || d->cmd_out_held.load())
        return;
    if (d->cmd_out_idle.exchange(0) != 1)
        return;
    for (;;) {
        uint8_t c;
        {
            DteLockHold hold(&d->cmd_out_lock);
            if (d->cmd_out.count == 0)
                break;
            c = ring_peek(&d->cmd_out);
        }
        if (dte_app_rx_free(d) == 0)
            break;
        if (dte_app_rx_put(d, c) != 0)
            break;  // refused: the byte stays in the ring
        DteLockHold hold(&d->cmd_out_lock);
        ring_get(&d->cmd_out);
    }
    d->cmd_out_idle = 1;
}

void dte_cmd_flag_set(DteContext* d) { d->cmd_flag = 1; }
void dte_cmd_flag_clear(DteContext* d) { d->cmd_flag = 0; }

// The sniff ring stores every character (no full check); its count is held at the ring size so a
// reader never takes a byte twice after the writer wrapped.
void dte_sniff_put(DteContext* d, uint8_t c)
{
    DteLockHold hold(&d->sniff_lock);
    ByteRing<DTE_SNIFF_RING_SIZE>* r = &d->sniff;
    r->buffer[r->write] = c;
    r->write = static_cast<uint16_t>(r->write + 1);
    if (r->write >= DTE_SNIFF_RING_SIZE)
        r->write = 0;
    if (r->count < DTE_SNIFF_RING_SIZE)
        r->count = static_cast<uint16_t>(r->count + 1);
    else
        r->read = r->write;  // oldest byte overwritten: start reading after it
}

void dte_sniff_clear(DteContext* d)
{
    DteLockHold hold(&d->sniff_lock);
    ring_clear(&d->sniff);
}

uint16_t dte_sniff_count(DteContext* d)
{
    DteLockHold hold(&d->sniff_lock);
    return d->sniff.count;
}

uint8_t dte_sniff_get(DteContext* d)
{
    DteLockHold hold(&d->sniff_lock);
    if (d->sniff.count == 0)
        return 0;
    return ring_get(&d->sniff);
}
