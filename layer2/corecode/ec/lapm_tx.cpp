// LAPM transmit side: control frames, the I-frame builder and the ring of I-frames that wait to be sent
// or acknowledged.
#include "layer2/corecode/ec/lapm_internal.h"

#include <algorithm>
#include <iterator>

namespace {

uint8_t ring_dist(uint8_t from, uint8_t to)
{
    return static_cast<uint8_t>((to + EC_RING16_SLOTS - from) % EC_RING16_SLOTS);
}

uint8_t ring_at(uint8_t from, uint8_t offset)
{
    return static_cast<uint8_t>((from + offset) % EC_RING16_SLOTS);
}

bool srej_bit(const uint8_t* bits, uint8_t ns) { return (bits[ns >> 3] >> (ns & 7)) & 1; }
void set_srej_bit(uint8_t* bits, uint8_t ns, bool on)
{
    if (on)
        bits[ns >> 3] = static_cast<uint8_t>(bits[ns >> 3] | (1u << (ns & 7)));
    else
        bits[ns >> 3] = static_cast<uint8_t>(bits[ns >> 3] & ~(1u << (ns & 7)));
}

bool is_s_control(uint8_t control) { return (control & 0x03) == 0x01; }

}  // namespace

FrameNode* lapm_build_frame(LapmLink* link, uint8_t address, uint8_t control)
{
    auto* frame = static_cast<FrameNode*>(ec_frame_take_free(&link->control));
    if (!frame)
        return nullptr;
    frame->owner = FRAME_OWNER_CONTROL;
    frame->in_flight = 0;
    frame->release_when_sent = 0;
    frame->bad = 0;
    frame->data[0] = address;
    frame->data[1] = control;
    frame->length = 2;
    return frame;
}

void lapm_queue_built(LapmLink* link, FrameNode* frame, bool front)
{
    if (front)
        ec_frame_push_front(&link->control, frame);
    else
        ec_frame_enqueue(&link->control, frame);
}

bool lapm_send_u(LapmLink* link, bool command, uint8_t control, uint8_t pf)
{
    uint8_t address = command ? link->own_cmd_addr : link->peer_cmd_addr;
    FrameNode* frame = lapm_build_frame(link, address, static_cast<uint8_t>(control | (pf ? LC_PF : 0)));
    if (!frame)
        return false;
    lapm_queue_built(link, frame, false);
    return true;
}

bool lapm_send_s(LapmLink* link, bool command, uint8_t control, uint8_t nr, uint8_t pf)
{
    uint8_t address = command ? link->own_cmd_addr : link->peer_cmd_addr;
    FrameNode* frame = lapm_build_frame(link, address, control);
    if (!frame)
        return false;
    frame->data[2] = static_cast<uint8_t>((nr << 1) | (pf ? 1 : 0));
    frame->length = 3;
    lapm_queue_built(link, frame, false);
    return true;
}

void lapm_send_rr_rnr(LapmLink* link, LapmDispatch* d, bool command, uint8_t pf)
{
    bool busy = lapm_decide_busy(link, d);
    lapm_send_s(link, command, busy ? LC_RNR : LC_RR, link->vr, pf);
}

// FRMR response with its five information octets: the rejected control field, V(S), V(R) with the C/R
// bit of the rejected frame, and the reason bits (Z: invalid N(R); W: unknown or malformed frame).
void lapm_send_frmr(LapmLink* link, const LapmDispatch* d)
{
    FrameNode* frame = lapm_build_frame(link, link->peer_cmd_addr, LC_FRMR);
    if (!frame)
        return;
    const FrameNode* rejected = d->frame;
    uint8_t control = rejected && rejected->length >= 2 ? rejected->data[1] : 0;
    uint8_t third = rejected && rejected->length >= 3 && (control & 0x03) != 0x03 ? rejected->data[2] : 0;
    bool response = rejected && rejected->data[0] != link->peer_cmd_addr;
    uint8_t vs = mod128(link->va + ring_dist(link->tx_ring.read, link->tx_send));
    frame->data[2] = control;
    frame->data[3] = third;
    frame->data[4] = static_cast<uint8_t>(vs << 1);
    frame->data[5] = static_cast<uint8_t>((link->vr << 1) | (response ? 1 : 0));
    frame->data[6] = d->event == LE_NR_ERROR || (rejected && rejected->bad) ? 0x08 : 0x01;
    frame->length = 7;
    lapm_queue_built(link, frame, false);
}

bool lapm_queue_control_frame(LapmLink* link, uint8_t pf, uint8_t control)
{
    if (is_s_control(control))
        return lapm_send_s(link, true, control, link->vr, pf);
    return lapm_send_u(link, true, control, pf);
}

bool lapm_queue_response_frame(LapmLink* link, uint8_t pf, uint8_t control)
{
    if (is_s_control(control))
        return lapm_send_s(link, false, control, link->vr, pf);
    return lapm_send_u(link, false, control, pf);
}

void lapm_send_one_control(LapmLink* link)
{
    if (!link->control.head || !lapm_handover_free(link))
        return;
    auto* frame = static_cast<FrameNode*>(ec_frame_pop(&link->control));
    if (!lapm_handover(link, frame))
        ec_frame_push_front(&link->control, frame);
}

static bool control_queued(const LapmLink* link, const FrameNode* frame)
{
    for (const QueueNode* node = link->control.head; node; node = node->next)
        if (node == frame)
            return true;
    return false;
}

bool lapm_resend_pending(LapmLink* link)
{
    FrameNode* frame = link->xid_frame ? link->xid_frame : link->break_frame;
    if (!frame)
        return false;
    if (!control_queued(link, frame))
        lapm_queue_built(link, frame, true);
    return true;
}

bool lapm_unacked(const LapmLink* link) { return link->tx_high != link->tx_ring.read; }

static uint8_t frame_ns(const FrameNode* frame) { return static_cast<uint8_t>(frame->data[1] >> 1); }

// The next I-frame to pass: a frame asked for by SREJ first, else the next one in the ring while the
// window allows. `advance` tells whether it is the ring's next frame.
static FrameNode* next_iframe(const LapmLink* link, bool* advance)
{
    uint8_t sent = ring_dist(link->tx_ring.read, link->tx_high);
    for (uint8_t i = 0; i < sent; ++i) {
        FrameNode* frame = link->tx_ring.slot[ring_at(link->tx_ring.read, i)];
        if (srej_bit(link->srej_resend, frame_ns(frame))) {
            *advance = false;
            return frame;
        }
    }
    if (link->tx_send == link->tx_ring.write || ring_dist(link->tx_ring.read, link->tx_send) >= link->window)
        return nullptr;
    *advance = true;
    return link->tx_ring.slot[link->tx_send];
}

bool lapm_iframe_ready(const LapmLink* link)
{
    bool advance;
    return !link->break_in_progress && !link->xid_frame && next_iframe(link, &advance) != nullptr;
}

void lapm_pass_iframe(LapmLink* link)
{
    if (link->break_in_progress || link->xid_frame || !lapm_handover_free(link))
        return;
    bool advance = false;
    FrameNode* frame = next_iframe(link, &advance);
    if (!frame)
        return;
    frame->data[2] = static_cast<uint8_t>(link->vr << 1);
    if (!lapm_handover(link, frame))
        return;
    if (advance) {
        link->tx_send = ring_advance<EC_RING16_SLOTS>(link->tx_send);
        if (ring_dist(link->tx_ring.read, link->tx_send) > ring_dist(link->tx_ring.read, link->tx_high))
            link->tx_high = link->tx_send;
    } else {
        set_srej_bit(link->srej_resend, frame_ns(frame), false);
    }
    if (link->timers.t401 < 0)
        lapm_t401_start(link);
    lapm_inactivity_restart(link);
}

void lapm_rewind(LapmLink* link, uint8_t nr)
{
    uint8_t offset = mod128(nr - link->va);
    if (offset <= ring_dist(link->tx_ring.read, link->tx_high))
        link->tx_send = ring_at(link->tx_ring.read, offset);
}

void lapm_resend_ns(LapmLink* link, uint8_t ns)
{
    if (mod128(ns - link->va) < ring_dist(link->tx_ring.read, link->tx_high))
        set_srej_bit(link->srej_resend, ns, true);
}

// Acknowledges every I-frame before N(R); false when N(R) lies outside V(A)..V(S).
bool lapm_acknowledge(LapmLink* link, uint8_t nr)
{
    uint8_t count = mod128(nr - link->va);
    if (count > ring_dist(link->tx_ring.read, link->tx_high))
        return false;
    if (count == 0)
        return true;
    bool send_behind = ring_dist(link->tx_ring.read, link->tx_send) < count;
    for (uint8_t i = 0; i < count; ++i) {
        FrameNode* frame = ring_take(&link->tx_ring);
        set_srej_bit(link->srej_resend, frame_ns(frame), false);
        lapm_frame_done(link, frame);
    }
    if (send_behind)
        link->tx_send = link->tx_ring.read;
    link->va = nr;
    // The link made progress: the retransmission budget counts afresh (the link status keeps its total).
    link->retransmissions = 0;
    // While a poll waits for its answer T401 keeps running: only the answer (or T401) ends the recovery.
    if (link->poll_outstanding) {
        if (link->timers.t401 < 0)
            lapm_t401_start(link);
    } else {
        lapm_timers_by_ring(link);
    }
    return true;
}

FrameNode* lapm_open_iframe(LapmLink* link)
{
    if (link->building)
        return link->building;
    if (ec_tx_ring_depth(&link->tx_ring) >= EC_RING16_SLOTS - 1)
        return nullptr;
    auto* frame = static_cast<FrameNode*>(ec_frame_take_free(&link->iframes));
    if (!frame)
        return nullptr;
    frame->owner = FRAME_OWNER_IFRAME;
    frame->in_flight = 0;
    frame->release_when_sent = 0;
    frame->data[0] = link->own_cmd_addr;
    frame->data[1] = static_cast<uint8_t>(link->next_ns << 1);
    frame->data[2] = 0;
    frame->length = 3;
    link->next_ns = mod128(link->next_ns + 1);
    link->building = frame;
    return frame;
}

void lapm_close_iframe(LapmLink* link)
{
    ring_put(&link->tx_ring, link->building);
    link->building = nullptr;
}

void lapm_fill_iframes(LapmLink* link)
{
    if (lapm_compression_fill(link))
        return;
    const LapmHost& h = link->host;
    for (;;) {
        if (!link->building && h.dte_pending(h.context) == 0)
            return;
        FrameNode* frame = lapm_open_iframe(link);
        if (!frame)
            return;
        uint32_t room = link->neg.tx_n401 + 3u - frame->length;
        if (link->mode3_waiting)
            room = std::min<uint32_t>(room, link->mode3_count);
        uint32_t got = h.dte_read(h.context, frame->data + frame->length, room);
        frame->length = static_cast<uint16_t>(frame->length + got);
        bool close = frame->length - 3u >= link->neg.tx_n401;
        if (link->mode3_waiting) {
            link->mode3_count = static_cast<uint16_t>(link->mode3_count - got);
            if (link->mode3_count == 0) {
                link->mode3_waiting = 0;
                close = close || frame->length > 3;
            }
        }
        if (!close && frame->length > 3 && h.dte_pending(h.context) == 0 && link->tx_send == link->tx_ring.write)
            close = true;
        if (!close)
            return;
        lapm_close_iframe(link);
    }
}

void lapm_release_tx(LapmLink* link)
{
    while (FrameNode* frame = ring_take(&link->tx_ring))
        lapm_frame_done(link, frame);
    if (link->building) {
        lapm_frame_done(link, link->building);
        link->building = nullptr;
    }
    link->tx_send = link->tx_ring.read;
    link->tx_high = link->tx_ring.read;
    std::fill(std::begin(link->srej_resend), std::end(link->srej_resend), 0);
}

void lapm_renumber_tx(LapmLink* link)
{
    uint8_t ns = 0;
    for (uint8_t i = link->tx_ring.read; i != link->tx_ring.write; i = ring_advance<EC_RING16_SLOTS>(i))
        link->tx_ring.slot[i]->data[1] = static_cast<uint8_t>((ns++) << 1);
    if (link->building)
        link->building->data[1] = static_cast<uint8_t>((ns++) << 1);
    link->next_ns = ns;
    link->va = 0;
    link->tx_send = link->tx_ring.read;
    link->tx_high = link->tx_ring.read;
    std::fill(std::begin(link->srej_resend), std::end(link->srej_resend), 0);
}

// Drops the I-frames that were built but never sent (a destructive break); their numbers are reused.
void lapm_drop_unsent(LapmLink* link)
{
    while (link->tx_ring.write != link->tx_high) {
        link->tx_ring.write = static_cast<uint8_t>((link->tx_ring.write + EC_RING16_SLOTS - 1) % EC_RING16_SLOTS);
        lapm_frame_done(link, link->tx_ring.slot[link->tx_ring.write]);
    }
    if (link->building) {
        lapm_frame_done(link, link->building);
        link->building = nullptr;
    }
    link->next_ns = mod128(link->va + ring_dist(link->tx_ring.read, link->tx_high));
}
