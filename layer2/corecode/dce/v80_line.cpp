// The line side of synchronous access: the parameters and the framing packet, the reset, and the line block's
// synchronous path that decodes the line transmit ring into chunks and shields what is received.
#include <cstring>

#include "layer2/corecode/dce/line_block.h"
#include "layer2/corecode/dce/v80.h"
#include "layer2/corecode/dte/dte_lock.h"
#include "window/icd_codes.h"
#include "window/register_map.h"
#include "window/window_access.h"

namespace {

constexpr uint16_t kRxRoom = 1022;  // the line receive ring takes bytes while it holds fewer
constexpr uint8_t kChunkFull = 30;  // a chunk is closed once it holds more octets than this
constexpr uint8_t kFlagOctet = 0x7E;

// Stores one octet or an EM pair in the line receive ring (the caller holds its lock); false when full.
bool rx_store(LineBlock* lb, const uint8_t* bytes, int n)
{
    if (lb->rx.count + n > kRxRoom)
        return false;
    for (int i = 0; i < n; ++i)
        ring_put(&lb->rx, bytes[i]);
    return true;
}

// A report may take the ring's last two places, which data leaves free.
void rx_report(LineBlock* lb, uint8_t code)
{
    if (ring_free(&lb->rx) < 2) {
        lb->v80.discards++;
        return;
    }
    ring_put(&lb->rx, V80_EM);
    ring_put(&lb->rx, code);
}

}  // namespace

void v80_init(V80State* v)
{
    v->active = 0;
    v->framed = 0;
    std::memset(v->params, 0, sizeof v->params);
    v->option = 0;
    v->dte_escape = 0;
    v->lost = 0;
    v->tx_overrun = 0;
    v->underrun = 0;
    v->lost_pending = 0;
    v->last_was_em = 0;
    v->frames_from_app = 0;
    v->poll_escape = 0;
    v->rate_args = 0;
    v->rate_first = 0;
    v->deferred = 0;
    v->conn_state = 0;
    v->request_pending = 0;
    v->reported = 0;
    v->rate_report = 0;
    v->frames_to_app = 0;
    v->tx_restart = 0;
    v->frame_open = 0;
    v->rx_overrun = 0;
    v->rx_suspended = 0;
    v->rx_held = 0;
    v->rx_damaged = 0;
    v->discards = 0;
}

void v80_send_framing(LineBlock* lb)
{
    const V80State* v = &lb->v80;
    const bool framed = v->framed.load() != 0;
    const uint8_t crc = v->params[4];
    uint8_t payload[4];
    payload[0] = framed ? LINE_FRAMING_HDLC : LINE_FRAMING_SYNC;
    payload[1] = static_cast<uint8_t>((v->params[5] != 0 ? 0x04 : 0) | (crc == 2 ? 3 : crc == 1 ? 2 : 1));
    payload[2] = framed ? (v->params[1] != 0 ? 0xFF : kFlagOctet) : v->params[6];
    payload[3] = kFlagOctet;
    const LineBlockHost& h = lb->host;
    if (h.reg_read != nullptr && h.reg_write != nullptr) {
        uint8_t r = h.reg_read(h.ctx, kRegFramingOptions);
        r = framed ? static_cast<uint8_t>(r | kFramingHdlc) : static_cast<uint8_t>(r & ~kFramingHdlc);
        h.reg_write(h.ctx, kRegFramingOptions, r);
    }
    if (h.send_packet != nullptr)
        h.send_packet(h.ctx, IcdSetFraming, payload, 4);
}

void v80_set_params(LineBlock* lb, const uint8_t params[8])
{
    V80State* v = &lb->v80;
    std::memcpy(v->params, params, sizeof v->params);
    v->option = params[2];
    if (v->active.load())
        v80_send_framing(lb);
}

void v80_reset(LineBlock* lb)
{
    V80State* v = &lb->v80;
    uint8_t params[8];
    std::memcpy(params, v->params, sizeof params);
    const uint8_t framed = v->framed.load();
    const uint8_t active = v->active.load();
    v80_init(v);
    std::memcpy(v->params, params, sizeof params);
    v->option = params[2];
    v->framed = framed;
    v->active = active;
    lb_rx_reset(lb);
}

void v80_stop(LineBlock* lb)
{
    v80_reset(lb);
    lb->v80.active = 0;
}

void v80_line_receive(LineBlock* lb, const uint8_t* bytes, uint8_t count, uint8_t status)
{
    V80State* v = &lb->v80;
    if (v->rx_suspended.load())
        return;
    DteLockHold hold(&lb->rx_lock);
    const bool framed = v->framed.load() != 0;
    for (uint8_t i = 0; i < count; ++i) {
        uint8_t octet = bytes[i];
        if (framed && v->rx_damaged) {
            v->discards++;
            lb->counters.rx_discards++;
            continue;
        }
        if (framed) {
            // The data pump passes the check octets on: each octet goes once two more have come.
            if (v->rx_held < 2) {
                v->rx_hold[v->rx_held++] = octet;
                continue;
            }
            const uint8_t oldest = v->rx_hold[0];
            v->rx_hold[0] = v->rx_hold[1];
            v->rx_hold[1] = octet;
            octet = oldest;
        }
        const uint8_t code = v80_receive_code(octet);
        const uint8_t pair[2] = {V80_EM, code};
        const bool stored = code != 0 ? rx_store(lb, pair, 2) : rx_store(lb, &octet, 1);
        if (!stored) {
            v->discards++;
            lb->counters.rx_discards++;
            if (v->rx_overrun.load() == 0) {
                v->rx_overrun = 2;
                rx_report(lb, V80_RX_OVERRUN);  // once, until data flows again
            }
            v->rx_damaged = framed ? 1 : 0;
            continue;
        }
        lb->counters.received++;
        if (v->rx_overrun.load() == 2)
            v->rx_overrun = 0;
    }
    const bool frame_end = status == kRxGoodFrame || status == kRxBadFrame || status == kRxAbort;
    if (frame_end)
        v->rx_held = 0;  // the frame's check octets, or what an abort leaves
    if (frame_end && v->rx_damaged) {
        // A frame that lost octets is no frame the application may take, and what comes after it must not
        // join it: it ends as aborted once that end finds room, and the frames until then are dropped whole.
        if (ring_free(&lb->rx) >= 2) {
            rx_report(lb, V80_MARK);
            v->rx_damaged = 0;
        }
        v->discards++;
        lb->counters.rx_discards++;
        return;
    }
    switch (status) {
    case kRxGoodFrame:
        rx_report(lb, V80_FLAG);
        v->frames_to_app++;
        break;
    case kRxBadFrame:
    case kRxAbort:
        // A frame with a bad check sequence is no frame the application may take: it ends as aborted.
        rx_report(lb, V80_MARK);
        v->discards++;
        lb->counters.rx_discards++;
        break;
    case kRxOverrun:
        v->discards++;
        lb->counters.rx_discards++;
        if (v->rx_overrun.load() == 0) {
            v->rx_overrun = 2;
            rx_report(lb, V80_RX_OVERRUN);
        }
        break;
    default:
        break;
    }
}

void v80_line_transmit(LineBlock* lb)
{
    V80State* v = &lb->v80;
    if (!v->active.load() || v->underrun.load() != 0)
        return;
    uint8_t out[kMailboxBytes];
    uint8_t n = 0;
    uint8_t flags = 0;
    {
        DteLockHold hold(&lb->tx_lock);
        while (n <= kChunkFull && lb->tx.count != 0 && flags == 0) {
            const uint8_t c = ring_peek(&lb->tx);
            if (c != V80_EM) {
                out[n++] = ring_get(&lb->tx);
                continue;
            }
            if (lb->tx.count < 2)
                break;  // the pair is written whole; never split
            const uint8_t code = lb->tx.buffer[(lb->tx.read + 1) % LINE_RING_SIZE];
            uint8_t octets[2];
            const int k = v80_code_octets(code, octets);
            if (k > 0 && n + k > kMailboxBytes)
                break;
            ring_get(&lb->tx);
            ring_get(&lb->tx);
            if (k > 0) {
                for (int i = 0; i < k; ++i)
                    out[n++] = octets[i];
            } else if (code == V80_FLAG) {
                flags = kTxEndOfFrame;
            } else if (code == V80_ERR) {
                flags = kTxAbort;
            }
        }
        // A full chunk followed by the frame end takes it along.
        if (flags == 0 && lb->tx.count >= 2 && ring_peek(&lb->tx) == V80_EM &&
            lb->tx.buffer[(lb->tx.read + 1) % LINE_RING_SIZE] == V80_FLAG) {
            ring_get(&lb->tx);
            ring_get(&lb->tx);
            flags = kTxEndOfFrame;
        }
    }
    if (n == 0 && flags == 0) {
        // Framed: the line ran dry inside a frame and the data pump has nothing left: the frame is lost.
        if (v->framed.load() && v->frame_open && lb_data_wanted(lb)) {
            v->frame_open = 0;
            v->underrun = 1;
            lb_write_chunk(lb, out, 0, kTxAbort);
        }
        lb->tx_kicked = 0;
        return;
    }
    if (v->framed.load())
        v->frame_open = flags == 0 ? 1 : 0;
    lb_write_chunk(lb, out, n, flags);
    lb->counters.sent += n;
}
