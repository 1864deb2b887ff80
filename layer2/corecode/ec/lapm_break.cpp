// Breaks over LAPM: a UI command carries a break (destructive or expedited) and a UI response of three
// octets acknowledges it; an in-sequence break closes the current I-frame after a count of DTE bytes.
#include "layer2/corecode/ec/lapm_internal.h"

static bool ui_frame_last_queued(const LapmLink* link)
{
    const auto* last = static_cast<const FrameNode*>(link->control.tail);
    return last && (last->data[1] & ~LC_PF) == LC_UI;
}

bool lapm_send_break(LapmLink* link, uint8_t length, uint16_t count)
{
    uint8_t mode = link->setup.break_mode;
    if ((link->status != LAPM_HELD && link->status != LAPM_TRANSFER) || mode == 0 || link->break_in_progress ||
        link->mode3_waiting || ui_frame_last_queued(link))
        return false;
    link->break_length = length;
    if (mode == 3) {
        link->mode3_waiting = 1;
        link->mode3_count = count;
        return false;
    }
    FrameNode* frame = lapm_build_frame(link, link->own_cmd_addr, LC_UI);
    if (!frame)
        return false;
    frame->data[2] = static_cast<uint8_t>(BRK_SIGNAL | link->break_seq);
    frame->data[3] = mode == 1 ? BRK_DESTRUCTIVE : BRK_EXPEDITED;
    frame->length = 4;
    if (length) {
        frame->data[4] = length;
        frame->length = 5;
    }
    lapm_queue_built(link, frame, true);
    link->break_frame = frame;
    link->break_in_progress = 1;
    lapm_inactivity_restart(link);
    return mode == 1;
}

// All data queued in both directions goes: the DTE rings, received frames not yet delivered and I-frames
// not yet sent.
void lapm_discard_all(LapmLink* link)
{
    if (link->host.dte_discard)
        link->host.dte_discard(link->host.context);
    lapm_drop_unsent(link);
    while (link->rx_queue.head) {
        FrameNode* frame = link->rx_queue.head;
        link->rx_queue.head = static_cast<FrameNode*>(frame->next);
        lapm_frame_done(link, frame);
    }
    link->rx_queue.tail = nullptr;
    lapm_inactivity_restart(link);
}

void lapm_take_break(LapmLink* link, FrameNode* frame)
{
    uint8_t signal = frame->data[2];
    if ((signal & ~BRK_SEQ) != BRK_SIGNAL)
        return;
    uint8_t seq = signal & BRK_SEQ;
    FrameNode* ack = lapm_build_frame(link, link->peer_cmd_addr, LC_UI);
    if (ack) {
        ack->data[2] = static_cast<uint8_t>(BRK_ACK | seq);
        ack->length = 3;
    }
    // A repeated break (its acknowledgement was lost) is only acknowledged again.
    if (seq == link->rx_break_seq) {
        if (ack)
            lapm_queue_built(link, ack, false);
        return;
    }
    link->rx_break_seq = seq;
    uint8_t kind = frame->data[3];
    uint8_t length = frame->length >= 5 ? frame->data[4] : 0;
    if (kind & 0x80)
        lapm_discard_all(link);
    if (ack)
        lapm_queue_built(link, ack, false);
    if (!(kind & 0x40))
        return;
    uint8_t type = (kind & 0x80) ? 1 : 2;
    if (link->setup.pass_break) {
        link->rx_break_pending = 1;
        link->rx_break_type = type;
        link->rx_break_length = length;
    } else {
        lapm_queue_rx_break(link, type, length);
    }
}

bool lapm_take_break_ack(LapmLink* link, const FrameNode* frame)
{
    if (!frame || !link->break_in_progress || !link->break_frame)
        return false;
    if ((frame->data[2] & ~BRK_SEQ) != BRK_ACK || (frame->data[2] & BRK_SEQ) != link->break_seq)
        return false;
    bool destructive = link->break_frame->data[3] == BRK_DESTRUCTIVE;
    FrameNode* sent = link->break_frame;
    link->break_frame = nullptr;
    lapm_frame_done(link, sent);
    link->break_in_progress = 0;
    link->break_seq ^= BRK_SEQ;
    if (destructive)
        lapm_discard_all(link);
    return true;
}
