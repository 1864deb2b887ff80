// The plain path's fall-back while a link is set up on the octet-framed path: a far end that answers a link
// request with plain characters (a modem without error control, or its user typing) makes the set-up give way
// to the plain path, on the fall-back character, after 200 raw bytes without a frame, or when the drop timer
// runs out. The raw bytes kept meanwhile are the first data of the plain path, so nothing the far end sent is
// lost. The request is served by error control's background step, which switches the path and tells the
// manager once.
#include "layer2/corecode/dce/line_block.h"
#include "layer2/corecode/dte/dte_lock.h"

namespace {

constexpr uint8_t kLow7 = 0x7F;

// Under the line-receive lock. A full ring drops the byte and counts it, as the plain path does.
void keep(LineBlock* lb, uint8_t c)
{
    if (lb->rx.count > LINE_RX_DROP_ABOVE) {
        lb->counters.rx_discards++;
        return;
    }
    ring_put(&lb->rx, c);
}

// A pending request stays as it is: one fall-back, whatever asks for it again before it is served.
void request(LineBlock* lb, uint8_t reason)
{
    uint8_t none = 0;
    lb->fallback_request.compare_exchange_strong(none, static_cast<uint8_t>(reason + 1));
}

void clear_options(LinePlainOptions* o) { *o = LinePlainOptions{}; }

// The receive ring keeps its bytes; the octet-framed and framed states are forgotten.
void switch_path(LineBlock* lb)
{
    lb->active = 0;
    {
        DteLockHold hold(&lb->detect.lock);
        lb->detect.active = 0;
    }
    lb->framed = 0;
    lb_reset_frame_state(lb);
    lb->rx_held = 0;
    lb->tx_kicked = 0;
    lb->mode = LINE_MODE_PLAIN;
    lb->active = 1;
}

void tell_fallback(LineBlock* lb, uint8_t reason)
{
    if (lb->ec.fallback != nullptr)
        lb->ec.fallback(lb->ec.ctx, reason);
}

}  // namespace

void lb_plain_reset(LineBlock* lb)
{
    {
        DteLockHold hold(&lb->rx_lock);
        clear_options(&lb->plain);
    }
    lb->fallback_request = 0;
}

void lb_plain_setup(LineBlock* lb, uint8_t options, uint16_t drop_seconds, uint8_t fallback_char,
                    uint8_t raw_buffering)
{
    lb->fallback_request = 0;
    DteLockHold hold(&lb->rx_lock);
    ring_clear(&lb->rx);
    lb->rx_held = 0;
    LinePlainOptions& o = lb->plain;
    clear_options(&o);
    o.fallback_enable = (options & LINE_PLAIN_FALLBACK_CHAR) != 0 ? 1 : 0;
    o.fallback_char = static_cast<uint8_t>(fallback_char & kLow7);
    if ((options & LINE_PLAIN_DROP_TIMER) != 0)
        o.drop_seconds = drop_seconds;
    o.raw_buffering = raw_buffering != 0 ? 1 : 0;
}

bool lb_plain_watch(LineBlock* lb, uint8_t c, bool between_frames)
{
    DteLockHold hold(&lb->rx_lock);
    // Once the set-up gives way, everything that follows is the far end's data for the plain path.
    if (lb->fallback_request.load() != 0) {
        keep(lb, c);
        return true;
    }
    LinePlainOptions& o = lb->plain;
    if (o.raw_buffering) {
        keep(lb, c);
        if (lb->rx.count >= LINE_RAW_FALLBACK_BYTES) {
            request(lb, LINE_FALLBACK_RAW_BYTES);
            return true;
        }
    }
    if (o.fallback_enable && between_frames && (c & kLow7) == o.fallback_char) {
        request(lb, LINE_FALLBACK_CHARACTER);
        return true;
    }
    return false;
}

void lb_plain_options_end(LineBlock* lb)
{
    DteLockHold hold(&lb->rx_lock);
    if (lb->fallback_request.load() != 0)
        return;  // too late: the set-up has already given way
    LinePlainOptions& o = lb->plain;
    // The raw bytes were the frames' own octets.
    if (o.raw_buffering)
        ring_clear(&lb->rx);
    clear_options(&o);
}

void lb_plain_tick(LineBlock* lb)
{
    const LineBlockHost& h = lb->host;
    DteLockHold hold(&lb->rx_lock);
    LinePlainOptions& o = lb->plain;
    if (o.drop_seconds == 0)
        return;
    if (h.retraining != nullptr && h.retraining(h.ctx))
        return;
    if (++o.drop_ticks < LINE_TICKS_PER_SECOND)
        return;
    o.drop_ticks = 0;
    if (--o.drop_seconds == 0)
        request(lb, LINE_FALLBACK_DROP_TIMER);
}

void lb_switch_to_plain(LineBlock* lb, uint8_t reason)
{
    switch_path(lb);
    tell_fallback(lb, reason);
}

void lb_background(LineBlock* lb)
{
    const uint8_t pending = lb->fallback_request.load();
    if (pending != 0) {
        {
            DteLockHold hold(&lb->rx_lock);
            clear_options(&lb->plain);
        }
        // The request is cleared only once the path is plain: bytes arriving meanwhile still go to the ring.
        switch_path(lb);
        lb->fallback_request = 0;
        tell_fallback(lb, static_cast<uint8_t>(pending - 1));
    }
    uint8_t reason = 0;
    uint8_t result = 0;
    if (lb_detect_take_result(lb, &reason, &result) && lb->ec.detection != nullptr)
        lb->ec.detection(lb->ec.ctx, reason, result);
}

bool lb_plain_running(LineBlock* lb)
{
    return lb->active.load() != 0 && lb->mode.load() == LINE_MODE_PLAIN && !lb_detect_active(lb);
}
