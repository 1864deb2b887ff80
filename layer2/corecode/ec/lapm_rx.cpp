// LAPM receive side: I-frames taken by N(S) (in sequence, stored for a selective reject, or answered
// with REJ), delivery to the DTE, and the own receiver's busy mark.
#include "layer2/corecode/ec/lapm_internal.h"

#include <algorithm>
#include <cstring>

namespace {

// A receive buffer in the in-sequence queue that stands for a break, not for data.
constexpr uint8_t RX_BREAK_MARK = 2;

uint8_t frame_ns(const FrameNode* frame) { return static_cast<uint8_t>(frame->data[1] >> 1); }

void list_append(FrameList* list, FrameNode* frame)
{
    frame->next = nullptr;
    if (list->tail)
        list->tail->next = frame;
    else
        list->head = frame;
    list->tail = frame;
}

FrameNode* list_pop(FrameList* list)
{
    FrameNode* frame = list->head;
    if (!frame)
        return nullptr;
    list->head = static_cast<FrameNode*>(frame->next);
    if (!list->head)
        list->tail = nullptr;
    frame->next = nullptr;
    return frame;
}

bool requested(const LapmLink* link, uint8_t ns) { return (link->srej_requested[ns >> 3] >> (ns & 7)) & 1; }

void set_requested(LapmLink* link, uint8_t ns, bool on)
{
    uint8_t bit = static_cast<uint8_t>(1u << (ns & 7));
    link->srej_requested[ns >> 3] = static_cast<uint8_t>(on ? link->srej_requested[ns >> 3] | bit
                                                            : link->srej_requested[ns >> 3] & ~bit);
}

// Stores an out-of-sequence frame in N(S) order (relative to V(R)); false for a duplicate.
bool store_out_of_sequence(LapmLink* link, FrameNode* frame)
{
    uint8_t offset = mod128(frame_ns(frame) - link->vr);
    FrameNode* before = nullptr;
    FrameNode* at = link->oos_queue.head;
    while (at && mod128(frame_ns(at) - link->vr) < offset) {
        before = at;
        at = static_cast<FrameNode*>(at->next);
    }
    if (at && frame_ns(at) == frame_ns(frame))
        return false;
    frame->next = at;
    if (before)
        before->next = frame;
    else
        link->oos_queue.head = frame;
    if (!at)
        link->oos_queue.tail = frame;
    return true;
}

// Asks by SREJ for every missing N(S) before the last stored frame that was not asked for yet.
void request_gaps(LapmLink* link)
{
    if (!link->oos_queue.tail)
        return;
    uint8_t last = mod128(frame_ns(link->oos_queue.tail) - link->vr);
    const FrameNode* stored = link->oos_queue.head;
    for (uint8_t offset = 0; offset < last; ++offset) {
        uint8_t ns = mod128(link->vr + offset);
        while (stored && mod128(frame_ns(stored) - link->vr) < offset)
            stored = static_cast<const FrameNode*>(stored->next);
        if ((stored && frame_ns(stored) == ns) || requested(link, ns))
            continue;
        if (!lapm_send_s(link, true, LC_SREJ, ns, 0))
            return;
        set_requested(link, ns, true);
    }
}

void take_in_sequence(LapmLink* link, FrameNode* frame)
{
    list_append(&link->rx_queue, frame);
    set_requested(link, link->vr, false);
    link->vr = mod128(link->vr + 1);
    link->rej_outstanding = 0;
}

void reject_out_of_sequence(LapmLink* link, uint8_t ns)
{
    if (!link->rej_outstanding) {
        lapm_send_s(link, false, LC_REJ, link->vr, 0);
        link->rej_outstanding = 1;
    } else if (mod128(ns - link->vr) <= mod128(link->rej_highest - link->vr)) {
        lapm_send_s(link, false, LC_REJ, link->vr, 0);
    }
    link->rej_highest = ns;
}

}  // namespace

void lapm_accept_iframe(LapmLink* link, FrameNode* frame)
{
    if (link->own_busy) {
        lapm_frame_done(link, frame);
        link->rej_wanted = 1;
        lapm_release_oos(link);
        return;
    }
    uint8_t ns = frame_ns(frame);
    frame->offset = 0;
    if (ns == link->vr) {
        take_in_sequence(link, frame);
        if (link->neg.srej) {
            while (link->oos_queue.head && frame_ns(link->oos_queue.head) == link->vr)
                take_in_sequence(link, list_pop(&link->oos_queue));
            request_gaps(link);
        }
        return;
    }
    if (mod128(ns - link->vr) > link->neg.rx_k) {
        lapm_frame_done(link, frame);
        return;
    }
    ec_count_error(link->counters);
    if (link->neg.srej) {
        if (!store_out_of_sequence(link, frame))
            lapm_frame_done(link, frame);
        request_gaps(link);
        return;
    }
    lapm_frame_done(link, frame);
    reject_out_of_sequence(link, ns);
}

// Queues a received break in sequence with the data: the DTE gets it after the bytes before it.
void lapm_queue_rx_break(LapmLink* link, uint8_t type, uint8_t length)
{
    FrameNode* mark = ec_rx_pool_take(&link->rx);
    if (!mark)
        return;
    mark->bad = RX_BREAK_MARK;
    mark->data[0] = type;
    mark->data[1] = length;
    list_append(&link->rx_queue, mark);
}

void lapm_deliver(LapmLink* link)
{
    const LapmHost& h = link->host;
    while (FrameNode* frame = link->rx_queue.head) {
        if (frame->bad == RX_BREAK_MARK) {
            if (h.dte_break)
                h.dte_break(h.context, frame->data[0], frame->data[1]);
        } else if (lapm_compression_rx_on(link)) {
            if (!lapm_compression_deliver_frame(link, frame))
                return;
        } else {
            uint32_t left = frame->length - 3u - frame->offset;
            uint32_t n = std::min(left, h.dte_room(h.context));
            if (n) {
                h.dte_write(h.context, frame->data + 3 + frame->offset, n);
                frame->offset = static_cast<uint16_t>(frame->offset + n);
            }
            if (n < left)
                return;
        }
        lapm_frame_done(link, list_pop(&link->rx_queue));
    }
}

bool lapm_rx_pending(const LapmLink* link) { return link->rx_queue.head != nullptr; }

// Busy while held or negotiating; otherwise by the free receive buffers, with hysteresis: ready needs
// more than 8 free while ready, and at least 16 free to leave busy.
bool lapm_decide_busy(LapmLink* link, LapmDispatch* d)
{
    bool busy;
    if (link->held || link->xid_frame) {
        busy = true;
    } else {
        uint8_t free = ec_rx_pool_free(&link->rx);
        busy = link->own_busy ? free < 16 : free <= 8;
    }
    if (busy != static_cast<bool>(link->own_busy)) {
        link->own_busy = busy ? 1 : 0;
        if (d)
            d->event = busy ? LE_OWN_BUSY : LE_OWN_READY;
    }
    return busy;
}

void lapm_release_oos(LapmLink* link)
{
    while (FrameNode* frame = list_pop(&link->oos_queue))
        lapm_frame_done(link, frame);
    std::memset(link->srej_requested, 0, sizeof link->srej_requested);
}

void lapm_release_rx(LapmLink* link)
{
    while (FrameNode* frame = list_pop(&link->rx_queue))
        lapm_frame_done(link, frame);
    lapm_release_oos(link);
}

bool lapm_rx_frame(LapmLink* link, const uint8_t* octets, uint16_t length, bool bad)
{
    FrameNode* frame = ec_rx_pool_take(&link->rx);
    if (!frame)
        return false;
    uint16_t n = std::min<uint16_t>(length, FRAME_NODE_OCTETS);
    if (n)
        std::memcpy(frame->data, octets, n);
    frame->length = n;
    frame->bad = bad || length > FRAME_NODE_OCTETS ? 1 : 0;
    KIRQL old;
    KeAcquireSpinLock(&link->rx.pool_lock, &old);
    ec_rx_ring_put(&link->rx, frame);
    KeReleaseSpinLock(&link->rx.pool_lock, old);
    return true;
}
