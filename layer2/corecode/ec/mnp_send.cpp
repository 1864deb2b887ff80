// The transmit side of MNP: the hand-over of one frame at a time to the line block, control frames built
// when the line is ready for them (so an LA carries the latest N(R) and credit), and LTs built from the DTE
// (through MNP class 5 when it is on) while the peer's credit allows.
#include <algorithm>

#include "layer2/corecode/dte/dte_lock.h"
#include "layer2/corecode/ec/mnp_internal.h"

namespace {

constexpr uint8_t kStage = sizeof(MnpTransmit::stage);

void hand(MnpLink* link, FrameNode* f)
{
    bool idle;
    {
        DteLockHold hold(&link->handover_lock);
        link->next = f;
        idle = link->current == nullptr;
    }
    ++link->frames_sent;
    if (idle && link->host.kick_line != nullptr)
        link->host.kick_line(link->host.context);
}

FrameNode* control_node(MnpLink* link)
{
    DteLockHold hold(&link->handover_lock);
    for (uint8_t k = 0; k < MNP_CONTROL_NODES; ++k) {
        FrameNode* f = &link->control[(link->control_next + k) % MNP_CONTROL_NODES];
        if (f != link->current && f != link->next) {
            link->control_next = static_cast<uint8_t>((link->control_next + k + 1) % MNP_CONTROL_NODES);
            return f;
        }
    }
    return nullptr;
}

FrameNode* la_frame(MnpLink* link, FrameNode* f)
{
    const uint8_t credit = link->state == MS_DATA ? mnp_rx_credit(link) : 0;
    f->length = mnp_build_la(link->neg.fixed_field, link->rx.last_ns, credit, f->data);
    link->rx.credit_sent = credit;
    link->la_due = 0;
    mnp_timer_start(link, MT_LA_PACE);
    mnp_timer_start(link, MT_LA_PACE2);
    return f;
}

bool control_due(const MnpLink* link)
{
    const MnpAttention& a = link->attn;
    return link->ld_due || a.lna_due || a.tx_due || link->lr_due || link->rr_due || link->la_due;
}

bool la_wanted(const MnpLink* link)
{
    if (link->la_due)
        return true;
    if (link->state != MS_DATA)
        return false;
    if (mnp_timer_expired(link, MT_LA_PACE) || mnp_timer_expired(link, MT_LA_PACE2))
        return true;
    // The credit went to 0 and can open again: tell the peer at once.
    return link->neg.service_class != 1 && link->rx.credit_sent == 0 && mnp_rx_credit(link) != 0;
}

// The next control frame due, built into a free control node; null when none is due.
FrameNode* control_frame(MnpLink* link)
{
    MnpAttention& a = link->attn;
    if (!control_due(link) && !la_wanted(link))
        return nullptr;
    FrameNode* f = control_node(link);
    if (f == nullptr)
        return nullptr;
    if (link->ld_due) {
        link->ld_due = 0;
        f->length = mnp_build_ld(link->reason, link->user_reason, f->data);
    } else if (a.lna_due) {
        a.lna_due = 0;
        f->length = mnp_build_lna(a.lna_seq, f->data);
    } else if (a.tx_due) {
        a.tx_due = 0;
        f->length = mnp_build_ln(a.tx_seq, a.tx_type, f->data);
        mnp_timer_start(link, MT_LN_WAIT);
    } else if (link->lr_due) {
        link->lr_due = 0;
        f->length = mnp_build_lr(link, f->data);
    } else if (link->rr_due) {
        link->rr_due = 0;
        f->length = mnp_build_rr(link->rr_ns, f->data);
        mnp_timer_start(link, MT_RR_WAIT);
    } else {
        la_frame(link, f);
    }
    return f;
}

// DTE bytes for the next LT: at most `max`, and no further than an in-sequence break.
uint32_t dte_take(MnpLink* link, uint8_t* out, uint32_t max)
{
    int32_t& before_break = link->attn.in_sequence;
    if (before_break >= 0)
        max = std::min<uint32_t>(max, static_cast<uint32_t>(before_break));
    if (max == 0 || link->host.dte_read == nullptr)
        return 0;
    const uint32_t n = link->host.dte_read(link->host.context, out, max);
    if (before_break >= 0) {
        before_break -= static_cast<int32_t>(n);
        if (before_break == 0) {
            // Everything before the break is in frames: the attention follows them.
            before_break = -1;
            link->attn.tx_seq = static_cast<uint8_t>(link->attn.tx_seq + 1);
            link->attn.tx_type = MNP_ATTN_EXPEDITED;
            link->attn.tx_due = 1;
            link->attn.retries = link->retries;
        }
    }
    return n;
}

uint16_t fill_plain(MnpLink* link, uint8_t* out, uint16_t room)
{
    MnpTransmit& t = link->tx;
    uint16_t n = 0;
    // Bytes staged while MNP class 5 ran (before an attention restarted it) go first.
    while (n < room && t.stage_count != 0) {
        out[n++] = t.stage[0];
        std::copy(t.stage + 1, t.stage + t.stage_count, t.stage);
        --t.stage_count;
    }
    return static_cast<uint16_t>(n + dte_take(link, out + n, room - n));
}

uint16_t fill_mnp5(MnpLink* link, uint8_t* out, uint16_t room)
{
    MnpTransmit& t = link->tx;
    size_t made = 0;
    bool any = false;
    for (;;) {
        if (t.stage_count == 0)
            t.stage_count = static_cast<uint8_t>(dte_take(link, t.stage, kStage));
        if (t.stage_count == 0)
            break;
        size_t m = 0;
        const size_t taken = mnp5_encode(&link->mnp5.enc, t.stage, t.stage_count, out + made, room - made, &m);
        made += m;
        std::copy(t.stage + taken, t.stage + t.stage_count, t.stage);
        t.stage_count = static_cast<uint8_t>(t.stage_count - taken);
        any |= taken != 0;
        if (taken == 0)
            break;
    }
    if (!any)
        return 0;
    made += mnp5_end_frame(&link->mnp5.enc, out + made, room - made);
    return static_cast<uint16_t>(made);
}

// Builds the next LT into its buffer; false when there is nothing to send or the buffer is still in flight.
bool build_lt(MnpLink* link)
{
    MnpTransmit& t = link->tx;
    FrameNode* f = &t.lt[(t.first + t.built) % MNP_BUFFERS];
    if (mnp_lt_in_flight(link, f))
        return false;
    const uint8_t ns = static_cast<uint8_t>(t.ns_first + t.built);
    const uint16_t header = mnp_build_lt_header(link->neg.fixed_field, ns, f->data);
    const uint16_t room = std::min<uint16_t>(t.lt_size, FRAME_BUFFER_OCTETS - header);
    const uint16_t n = link->neg.mnp5 ? fill_mnp5(link, f->data + header, room) : fill_plain(link, f->data + header, room);
    if (n == 0)
        return false;
    f->length = static_cast<uint16_t>(header + n);
    ++t.built;
    mnp_inactivity_restart(link);
    return true;
}

FrameNode* lt_frame(MnpLink* link)
{
    MnpTransmit& t = link->tx;
    if (link->state != MS_DATA || link->attn.tx_type == MNP_ATTN_DESTRUCTIVE)
        return nullptr;
    if (t.sent >= t.credit)
        return nullptr;
    if (t.sent == t.built) {
        const bool dte_waiting = t.stage_count != 0 || (link->host.dte_pending != nullptr &&
                                                         link->host.dte_pending(link->host.context) != 0);
        if (!dte_waiting || t.built >= MNP_WINDOW_MAX || !build_lt(link))
            return nullptr;
    }
    FrameNode* f = &t.lt[(t.first + t.sent) % MNP_BUFFERS];
    if (t.sent < t.high)
        ++link->lt_resent;
    ++t.sent;
    t.high = std::max(t.high, t.sent);
    if (link->timers.sec[MT_ACK_WAIT] < 0)
        mnp_timer_start(link, MT_ACK_WAIT);
    return f;
}

}  // namespace

FrameNode* mnp_tx_next(MnpLink* link)
{
    DteLockHold hold(&link->handover_lock);
    link->current = link->next;
    link->next = nullptr;
    return link->current;
}

bool mnp_handover_free(MnpLink* link)
{
    DteLockHold hold(&link->handover_lock);
    return link->next == nullptr;
}

bool mnp_handover_idle(MnpLink* link)
{
    DteLockHold hold(&link->handover_lock);
    return link->current == nullptr && link->next == nullptr;
}

void mnp_handover_reset(MnpLink* link)
{
    DteLockHold hold(&link->handover_lock);
    link->current = nullptr;
    link->next = nullptr;
}

bool mnp_lt_in_flight(MnpLink* link, const FrameNode* node)
{
    DteLockHold hold(&link->handover_lock);
    return node == link->current || node == link->next;
}

// A control frame due while an LT waits in the hand-over (not yet taken by the line block) goes first: the
// LT is taken back and handed again after it. An acknowledgement then waits for one frame on the line at
// most, not two.
static void reclaim_lt(MnpLink* link)
{
    MnpTransmit& t = link->tx;
    if (t.sent == 0)
        return;
    FrameNode* last = &t.lt[(t.first + t.sent - 1) % MNP_BUFFERS];
    {
        DteLockHold hold(&link->handover_lock);
        if (link->next != last)
            return;
        link->next = nullptr;
    }
    if (t.high == t.sent)
        --t.high;
    --t.sent;
    --link->frames_sent;
}

void mnp_transmit(MnpLink* link)
{
    if (!mnp_handover_free(link)) {
        if (!control_due(link))
            return;
        reclaim_lt(link);
        if (!mnp_handover_free(link))
            return;
    }
    FrameNode* f = control_frame(link);
    if (f == nullptr)
        f = lt_frame(link);
    if (f != nullptr)
        hand(link, f);
}

void mnp_resend(MnpLink* link, uint8_t from_offset)
{
    MnpTransmit& t = link->tx;
    if (from_offset < t.sent)
        t.sent = from_offset;
}

void mnp_tx_reset(MnpLink* link)
{
    MnpTransmit& t = link->tx;
    t.first = 0;
    t.built = 0;
    t.sent = 0;
    t.high = 0;
    t.ns_first = 1;
    t.credit = 0;
    t.last_nr = 0;
    t.last_credit = 0;
    t.resend_guard = 0;
    t.stage_count = 0;
    t.lt_size = MNP_LT_MAX;
}
