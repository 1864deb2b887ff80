// The line data path: the mode switch with its framing packet, the line rings and the plain buffered path's
// chunk steps, and line flow control.
#include <cstring>

#include "layer2/corecode/dce/line_block.h"
#include "layer2/corecode/dte/dte_lock.h"
#include "window/icd_codes.h"
#include "window/register_map.h"
#include "window/window_access.h"

namespace {

constexpr uint16_t kSyncKick = 64;

uint8_t framing_kind(const LineBlock* lb)
{
    switch (lb->mode.load()) {
    case LINE_MODE_SYNC: return LINE_FRAMING_SYNC;
    case LINE_MODE_MNP_FRAMED:
    case LINE_MODE_LAPM: return LINE_FRAMING_HDLC;
    default: return LINE_FRAMING_ASYNC;
    }
}

void empty_rings(LineBlock* lb)
{
    {
        DteLockHold hold(&lb->rx_lock);
        ring_clear(&lb->rx);
    }
    DteLockHold hold(&lb->tx_lock);
    ring_clear(&lb->tx);
}

// Whether bytes just stored start the transmitter: the first byte in an empty ring, or with synchronous access
// once 64 wait (its poll kicks at the end of each turn): a short first chunk would leave the data pump
// without its next one inside a frame or a stream.
bool first_kick(const LineBlock* lb, uint16_t added)
{
    if (lb->mode.load() == LINE_MODE_SYNC)
        return lb->tx.count >= kSyncKick;
    return added != 0 && lb->tx.count == added;
}

}  // namespace

void lb_reset_frame_state(LineBlock* lb)
{
    lb->tx_frame = nullptr;
    lb->tx_cursor = nullptr;
    lb->tx_char_count = 0;
    lb->tx_active = 0;
    lb->rx_frame = nullptr;
    lb->rx_length = 0;
    lb->rx_error = 0;
    lb->rx_discarding = 0;
    lb->last_bad_ns = 128;
    octet_tx_reset(&lb->octet_tx);
    // The octet receiver hunts for a frame start with no buffer until error control sets one.
    octet_rx_set_buffer(&lb->octet_rx, nullptr, 0);
}

void lb_kick(LineBlock* lb)
{
    lb->tx_kicked = 1;
    if (lb->host.kick != nullptr)
        lb->host.kick(lb->host.ctx);
    else
        lb_service(lb);
}

bool lb_data_wanted(const LineBlock* lb)
{
    const DspInterfaceBlock* w = lb->window.load(std::memory_order_acquire);
    return w != nullptr && (WindowLoad(w, kRegStatus) & kTxDataWantedBit) != 0;
}

bool lb_tx_drained(LineBlock* lb)
{
    const DspInterfaceBlock* w = lb->window.load(std::memory_order_acquire);
    return lb_tx_count(lb) == 0 && w != nullptr && WindowLoadPair(w, kRegTxCount) == 0 &&
           (WindowLoad(w, kRegStatus) & kTxDataWantedBit) != 0;
}

// Register 60 bit 3 follows HDLC framing, then packet 0x61 with the kind.
void lb_send_framing(LineBlock* lb, uint8_t kind)
{
    const LineBlockHost& h = lb->host;
    if (h.reg_read != nullptr && h.reg_write != nullptr) {
        uint8_t v = h.reg_read(h.ctx, kRegFramingOptions);
        v = kind == LINE_FRAMING_HDLC ? static_cast<uint8_t>(v | kFramingHdlc) : static_cast<uint8_t>(v & ~kFramingHdlc);
        h.reg_write(h.ctx, kRegFramingOptions, v);
    }
    if (h.send_packet != nullptr)
        h.send_packet(h.ctx, IcdSetFraming, &kind, 1);
}

void lb_set_mode(LineBlock* lb, uint8_t mode)
{
    if (mode > LINE_MODE_CALLER_ID)
        mode = LINE_MODE_PLAIN;  // an unknown mode runs as plain buffered
    lb->active = 0;
    lb_reset_frame_state(lb);
    lb_send_block_clear(lb);  // the start-up path, when it ran, has ended
    lb->fax.path = 0;
    {
        DteLockHold hold(&lb->detect.lock);
        lb->detect.active = 0;  // a new path ends the detection phase
    }
    lb->break_pending = 0;
    lb_plain_reset(lb);  // the fall-back options belong to one set-up; the caller sets them after the switch
    lb->mode = mode;
    switch (mode) {
    case LINE_MODE_MNP_FRAMED:
        lb->max_frame = LINE_MAX_FRAME_MNP;
        lb->frame_check_in_data = 1;
        lb->framed = 1;
        break;
    case LINE_MODE_LAPM:
        lb->max_frame = LINE_MAX_FRAME_LAPM;
        lb->frame_check_in_data = 1;
        lb->framed = 1;
        break;
    case LINE_MODE_MNP_OCTET:
        lb->framed = 0;
        break;
    default:
        lb->framed = 0;
        empty_rings(lb);
        lb->tx_kicked = 0;
        lb->rx_held = 0;
        break;
    }
    if (mode == LINE_MODE_SYNC)
        v80_send_framing(lb);  // the kind of the sub-mode with the synchronous access option bytes
    else
        lb_send_framing(lb, framing_kind(lb));
    if (lb->host.note_data_mode != nullptr)
        lb->host.note_data_mode(lb->host.ctx, mode == LINE_MODE_SYNC ? 1 : 0);
    lb->active = 1;
    lb_kick(lb);
}

void lb_restart(LineBlock* lb)
{
    if (lb->mode.load() == LINE_MODE_SYNC)
        v80_send_framing(lb);
    else
        lb_send_framing(lb, framing_kind(lb));
    lb->active = 1;
    lb_kick(lb);
}

void lb_set_line_flow_control(LineBlock* lb, uint8_t pass_through, uint8_t enable)
{
    lb->flow_xon = 0x11;
    lb->flow_xoff = 0x13;
    lb->flow_pass_through = pass_through;
    lb->flow_enable = enable;
    const uint8_t payload[3] = {enable, lb->flow_xon, lb->flow_xoff};
    if (lb->host.send_packet != nullptr)
        lb->host.send_packet(lb->host.ctx, IcdSetLineFlowControl, payload, 3);
}

void lb_rx_reset(LineBlock* lb)
{
    DteLockHold hold(&lb->rx_lock);
    ring_clear(&lb->rx);
    lb->rx_held = 0;
}

uint16_t lb_rx_count(LineBlock* lb)
{
    DteLockHold hold(&lb->rx_lock);
    return lb->rx.count;
}

uint8_t lb_rx_get(LineBlock* lb)
{
    DteLockHold hold(&lb->rx_lock);
    uint8_t c = ring_get(&lb->rx);
    if (lb->rx_held.load() && lb->rx.count < LINE_RX_RELEASE_MARK)
        lb->rx_held = 0;
    return c;
}

uint16_t lb_rx_take(LineBlock* lb, uint8_t* out, uint16_t max)
{
    DteLockHold hold(&lb->rx_lock);
    uint16_t n = 0;
    while (n < max && lb->rx.count != 0)
        out[n++] = ring_get(&lb->rx);
    if (lb->rx_held.load() && lb->rx.count < LINE_RX_RELEASE_MARK)
        lb->rx_held = 0;
    return n;
}

void lb_tx_reset(LineBlock* lb)
{
    DteLockHold hold(&lb->tx_lock);
    ring_clear(&lb->tx);
}

uint16_t lb_tx_count(LineBlock* lb)
{
    DteLockHold hold(&lb->tx_lock);
    return lb->tx.count;
}

uint16_t lb_tx_free(LineBlock* lb)
{
    DteLockHold hold(&lb->tx_lock);
    return ring_free(&lb->tx);
}

void lb_tx_put(LineBlock* lb, uint8_t c)
{
    bool start;
    {
        DteLockHold hold(&lb->tx_lock);
        if (ring_put(&lb->tx, c) != 0) {
            lb->counters.tx_discards++;
            return;
        }
        // The flag changes under the ring's lock, so a transmit pass that ran dry cannot clear it after
        // this byte went in.
        start = first_kick(lb, 1) && lb->tx_kicked.exchange(1) == 0;
    }
    if (start)
        lb_kick(lb);
}

uint16_t lb_tx_write(LineBlock* lb, const uint8_t* bytes, uint16_t count)
{
    uint16_t n = 0;
    bool start;
    {
        DteLockHold hold(&lb->tx_lock);
        const bool was_empty = lb->tx.count == 0;
        while (n < count && ring_put(&lb->tx, bytes[n]) == 0)
            ++n;
        start = (was_empty || lb->mode.load() == LINE_MODE_SYNC) && first_kick(lb, n) && lb->tx_kicked.exchange(1) == 0;
    }
    if (start)
        lb_kick(lb);
    return n;
}

bool lb_take_line_break(LineBlock* lb) { return lb->break_pending.exchange(0) != 0; }

void lb_plain_receive(LineBlock* lb, const uint8_t* bytes, uint8_t count, uint8_t status)
{
    if (status == kRxBreak) {
        lb->counters.breaks++;
        lb->break_pending = 1;
    }
    if (status == kRxOverrun)
        lb->counters.rx_discards++;
    DteLockHold hold(&lb->rx_lock);
    for (uint8_t i = 0; i < count; ++i) {
        const uint8_t c = bytes[i];
        if (lb->flow_enable && !lb->flow_pass_through && (c == lb->flow_xon || c == lb->flow_xoff))
            continue;
        if (lb->rx.count > LINE_RX_DROP_ABOVE) {
            lb->counters.rx_discards++;
            continue;
        }
        ring_put(&lb->rx, c);
        lb->counters.received++;
        if (lb->flow_enable && lb->rx.count >= LINE_RX_HOLD_MARK)
            lb->rx_held = 1;
    }
}

void lb_plain_transmit(LineBlock* lb)
{
    uint8_t bytes[kMailboxBytes];
    uint8_t n = 0;
    {
        DteLockHold hold(&lb->tx_lock);
        while (n < kMailboxBytes && lb->tx.count != 0)
            bytes[n++] = ring_get(&lb->tx);
        if (n == 0)
            lb->tx_kicked = 0;
    }
    if (n == 0)
        return;
    lb_write_chunk(lb, bytes, n, 0);
    lb->counters.sent += n;
}
