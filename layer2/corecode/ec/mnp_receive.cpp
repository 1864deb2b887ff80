// The receive side of MNP: the receive buffers handed between the line block and the link machine, the
// dispatch of received frames in data transfer (LT, LA, LN, LNA, LD, retransmission request), the receive
// credit, and the delivery of LT data to the DTE (through the MNP class 5 decoder when it is on).
#include <algorithm>

#include "layer2/corecode/dte/dte_lock.h"
#include "layer2/corecode/ec/mnp_internal.h"

namespace {

constexpr uint32_t kDeliverMin = 64;   // to-DTE room a plain LT's delivery waits for (unless it ends the LT)
constexpr uint8_t kHalfSequence = 128; // N(S) differences from here on are old frames
constexpr uint32_t kLtSmallest = 8;     // the LT size never shrinks below this

FrameNode* pool_take(MnpReceive& r)
{
    DteLockHold hold(&r.ring_lock);
    return ring_take(&r.pool);
}

void pool_give(MnpReceive& r, FrameNode* f)
{
    DteLockHold hold(&r.ring_lock);
    f->length = 0;
    f->bad = 0;
    ring_put(&r.pool, f);
}

// LT size adaptation: a quarter more after progress, half after a loss; the alternate-framing variant
// grows by (1024 - 4 x size) / 256 and loses 45/256 of the size.
uint16_t lt_growth(const MnpLink* link)
{
    const int size = link->tx.lt_size;
    const int grow = link->setup.alt_framing ? (1024 - 4 * size) / 256 : size / 4;
    return static_cast<uint16_t>(std::max(1, grow));
}

uint16_t lt_shrunk(const MnpLink* link)
{
    const uint32_t size = link->tx.lt_size;
    const uint32_t next = link->setup.alt_framing ? size - size * 45 / 256 : size / 2;
    return static_cast<uint16_t>(std::max<uint32_t>(next, kLtSmallest));
}

// Takes the acknowledgement of an LA: releases the LTs up to N(R), takes the credit, adapts the LT size,
// and marks a resend when the LA repeats the previous one while LTs wait for their acknowledgement.
void take_la(MnpLink* link, uint8_t nr, uint8_t credit)
{
    MnpTransmit& t = link->tx;
    const uint8_t acked = static_cast<uint8_t>(nr - t.ns_first + 1);
    if (acked > t.high) {
        ++link->malformed;  // acknowledges LTs never sent: not taken
        return;
    }
    const bool repeat = acked == 0 && nr == t.last_nr && credit == t.last_credit;
    const uint16_t max_lt = std::min<uint16_t>(link->neg.max_lt, MNP_LT_MAX);
    if (acked != 0 || credit != t.last_credit) {
        t.first = static_cast<uint8_t>((t.first + acked) % MNP_BUFFERS);
        t.ns_first = static_cast<uint8_t>(t.ns_first + acked);
        t.built = static_cast<uint8_t>(t.built - acked);
        t.sent = static_cast<uint8_t>(t.sent > acked ? t.sent - acked : 0);
        t.high = static_cast<uint8_t>(t.high - acked);
        const uint16_t grow = lt_growth(link);
        t.lt_size = std::min<uint16_t>(static_cast<uint16_t>(t.lt_size + grow), max_lt);
        if (acked != 0) {
            t.resend_guard = 0;
            link->retries = mnp_retry_limit(link);
            mnp_inactivity_restart(link);
            if (t.high != 0)
                mnp_timer_start(link, MT_ACK_WAIT);
            else
                mnp_timer_stop(link, MT_ACK_WAIT);
        }
    } else if (t.high != 0 && (repeat || mnp_timer_expired(link, MT_ACK_WAIT)) && !t.resend_guard) {
        // The peer lost an LT: send again from the oldest unacknowledged, in smaller pieces.
        mnp_resend(link, 0);
        t.resend_guard = 1;
        t.lt_size = lt_shrunk(link);
        mnp_timer_start(link, MT_ACK_WAIT);
    }
    t.credit = credit;
    t.last_nr = nr;
    t.last_credit = credit;
    if (link->counters != nullptr)
        ec_set_link_value(link->counters, t.lt_size);
}

void take_lt(MnpLink* link, FrameNode* f, const MnpFrameView& v)
{
    MnpReceive& r = link->rx;
    const uint8_t ahead = static_cast<uint8_t>(v.a - r.last_ns);
    if (ahead == 1 && ring_put(&r.delivery, f)) {
        r.last_ns = v.a;
        f->offset = static_cast<uint16_t>(v.info - f->data);
        r.gap_reported = 0;
        r.dup_reported = 0;
        r.rr_sent = 0;
        mnp_timer_stop(link, MT_RR_WAIT);
        link->la_due = 1;
        mnp_inactivity_restart(link);
        return;
    }
    mnp_rx_release(link, f);
    if (ahead == 0 || ahead >= kHalfSequence) {
        // Sent again after our LA was lost: acknowledge once more.
        if (!r.dup_reported)
            link->la_due = 1;
        r.dup_reported = 1;
        return;
    }
    if (link->counters != nullptr)
        ec_count_error(link->counters);
    // An N(S) no higher than one already seen in this gap means the sender went back to resend, and the LT
    // we wait for was lost again: the gap is reported afresh instead of waiting for the timers.
    const bool resend_lost = r.gap_reported && ahead <= r.gap_ahead;
    r.gap_ahead = ahead;
    if (resend_lost) {
        r.gap_reported = 0;
        r.rr_sent = 0;
    }
    if (!r.gap_reported)
        link->la_due = 1;
    r.gap_reported = 1;
    if (link->neg.c4 && !r.rr_sent) {
        r.rr_sent = 1;
        r.rr_retries = link->retries;
        link->rr_due = 1;
        link->rr_ns = static_cast<uint8_t>(r.last_ns + 1);
    }
}

void take_ln(MnpLink* link, const MnpFrameView& v)
{
    MnpAttention& a = link->attn;
    a.lna_due = 1;
    a.lna_seq = v.a;
    if (a.rx_seen && v.a == a.rx_seq)
        return;  // our LNA was lost: answered again, nothing more
    a.rx_seen = 1;
    a.rx_seq = v.a;
    if (v.b == MNP_ATTN_DESTRUCTIVE)
        mnp_attention_reset(link);
    if ((v.b == MNP_ATTN_DESTRUCTIVE || v.b == MNP_ATTN_EXPEDITED) && link->host.dte_break != nullptr)
        link->host.dte_break(link->host.context, v.b, 0);
}

void take_lna(MnpLink* link, const MnpFrameView& v)
{
    MnpAttention& a = link->attn;
    if (a.tx_type == 0 || v.a != a.tx_seq)
        return;
    a.tx_type = 0;
    a.tx_due = 0;
    mnp_timer_stop(link, MT_LN_WAIT);
}

// One received frame in data transfer; the frame goes back to the pool unless it waits for delivery.
void dispatch(MnpLink* link, FrameNode* f)
{
    MnpFrameView v;
    if (!mnp_parse(f->data, f->length, &v)) {
        ++link->malformed;
        if (link->counters != nullptr)
            ec_count_error(link->counters);
        mnp_rx_release(link, f);
        return;
    }
    // While our destructive attention waits for its LNA, frames the peer sent before it are old.
    if (link->attn.tx_type == MNP_ATTN_DESTRUCTIVE && v.type != MNP_LNA && v.type != MNP_LD && v.type != MNP_LN) {
        mnp_rx_release(link, f);
        return;
    }
    switch (v.type) {
    case MNP_LT: take_lt(link, f, v); return;
    case MNP_LA: take_la(link, v.a, v.b); break;
    case MNP_LN: take_ln(link, v); break;
    case MNP_LNA: take_lna(link, v); break;
    case MNP_RR: mnp_resend(link, static_cast<uint8_t>(v.a - link->tx.ns_first)); break;
    case MNP_LR: link->la_due = 1; break;  // the peer lost our LA that ended the link request
    case MNP_LD:
        link->peer_reason = v.a;
        mnp_fail(link, v.a);
        break;
    default: break;
    }
    mnp_rx_release(link, f);
}

}  // namespace

void mnp_rx_reset(MnpLink* link)
{
    MnpReceive& r = link->rx;
    r.pool = MnpRing{};
    r.received = MnpRing{};
    r.delivery = MnpRing{};
    for (FrameNode& f : r.buffers) {
        f = FrameNode{};
        ring_put(&r.pool, &f);
    }
    r.line_buffer = nullptr;
    r.carried = nullptr;
    r.last_ns = 0;
    r.offset = 0;
    r.decoding = 0;
    r.gap_reported = 0;
    r.dup_reported = 0;
    r.rr_sent = 0;
    r.credit_sent = 0;
}

FrameNode* mnp_rx_done(MnpLink* link, FrameNode* done)
{
    MnpReceive& r = link->rx;
    FrameNode* fresh = pool_take(r);
    DteLockHold hold(&r.frame_lock);
    if (done != nullptr && !ring_put(&r.received, done))
        pool_give(r, done);
    r.line_buffer = fresh;
    return fresh;
}

FrameNode* mnp_rx_take(MnpLink* link)
{
    MnpReceive& r = link->rx;
    if (r.carried != nullptr) {
        FrameNode* f = r.carried;
        r.carried = nullptr;
        return f;
    }
    DteLockHold hold(&r.frame_lock);
    return ring_take(&r.received);
}

void mnp_rx_release(MnpLink* link, FrameNode* f) { pool_give(link->rx, f); }

void mnp_rx_flush(MnpLink* link)
{
    MnpReceive& r = link->rx;
    while (FrameNode* f = ring_take(&r.delivery))
        pool_give(r, f);
    r.offset = 0;
    r.decoding = 0;
}

uint8_t mnp_rx_credit(const MnpLink* link)
{
    const uint8_t waiting = ring_depth(&link->rx.delivery);
    if (link->neg.service_class == 1)
        return waiting == 0 ? 1 : 0;
    const int credit = MNP_WINDOW_MAX - waiting;
    return static_cast<uint8_t>(std::max(0, std::min<int>({credit, link->neg.window, link->neg.ack_threshold})));
}

void mnp_attention_reset(MnpLink* link)
{
    mnp5_reset(&link->mnp5);
    mnp_rx_flush(link);
    MnpTransmit& t = link->tx;
    // Unsent and unacknowledged LTs are dropped; numbering starts again on both sides.
    t.first = static_cast<uint8_t>((t.first + t.built) % MNP_BUFFERS);
    t.built = 0;
    t.sent = 0;
    t.high = 0;
    t.ns_first = 1;
    t.stage_count = 0;
    t.resend_guard = 0;
    link->rx.last_ns = 0;
    link->rx.gap_reported = 0;
    link->rx.dup_reported = 0;
    link->rx.rr_sent = 0;
    mnp_timer_stop(link, MT_ACK_WAIT);
    if (link->host.dte_discard != nullptr)
        link->host.dte_discard(link->host.context);
}

void mnp_receive(MnpLink* link)
{
    while (link->state == MS_DATA) {
        FrameNode* f = mnp_rx_take(link);
        if (f == nullptr)
            return;
        if (link->counters != nullptr) {
            if (f->bad)
                ec_count_bad_frame(link->counters);
            else
                ec_count_good_frame(link->counters);
        }
        if (f->bad) {
            mnp_rx_release(link, f);
            continue;
        }
        dispatch(link, f);
    }
}

void mnp_deliver(MnpLink* link)
{
    MnpReceive& r = link->rx;
    const MnpHost& h = link->host;
    if (h.dte_room == nullptr || h.dte_write == nullptr)
        return;
    while (FrameNode* f = r.delivery.read != r.delivery.write ? r.delivery.slot[r.delivery.read] : nullptr) {
        const uint8_t* data = f->data + f->offset;
        const uint32_t left = static_cast<uint32_t>(f->length - f->offset);
        uint32_t room = h.dte_room(h.context);
        uint8_t out[MNP_LT_MAX];
        uint32_t used = 0;
        uint32_t made = 0;
        if (link->neg.mnp5) {
            if (room < MNP5_RX_HEADROOM)
                return;
            size_t u = 0;
            size_t m = 0;
            const int status = mnp5_decode(&link->mnp5.dec, data, left, &u, out, std::min<uint32_t>(room, sizeof out), &m);
            used = static_cast<uint32_t>(u);
            made = static_cast<uint32_t>(m);
            if (status != MNP5_OK && status != MNP5_MORE) {
                h.dte_write(h.context, out, made);
                link->compressor_failed = 1;
                return;
            }
            r.decoding = status == MNP5_MORE;
            h.dte_write(h.context, out, made);
        } else {
            if (room < kDeliverMin && room < left)
                return;
            used = made = std::min(room, left);
            h.dte_write(h.context, data, made);
        }
        f->offset = static_cast<uint16_t>(f->offset + used);
        if (made != 0)
            mnp_inactivity_restart(link);
        if (f->offset < f->length || r.decoding) {
            if (used == 0 && made == 0)
                return;
            continue;
        }
        ring_take(&r.delivery);
        pool_give(r, f);
    }
}
