// The hand-over of frames between LAPM and the line block: one frame in transmission, one waiting, and
// the sent frames that the step has not finished yet. A node the line block still holds is never reused:
// a frame finished with while in flight is released when the line block gives it back.
#include "layer2/corecode/ec/lapm_internal.h"

namespace {

class HandoverHold {
public:
    explicit HandoverHold(LapmLink* link) : lock_(&link->handover_lock) { KeAcquireSpinLock(lock_, &old_); }
    ~HandoverHold() { KeReleaseSpinLock(lock_, old_); }
    HandoverHold(const HandoverHold&) = delete;
    HandoverHold& operator=(const HandoverHold&) = delete;

private:
    KSPIN_LOCK* lock_;
    KIRQL old_;
};

void return_node(LapmLink* link, FrameNode* frame)
{
    frame->in_flight = 0;
    frame->release_when_sent = 0;
    switch (frame->owner) {
    case FRAME_OWNER_RX_POOL: ec_rx_pool_give(&link->rx, frame); break;
    case FRAME_OWNER_CONTROL: ec_frame_release(&link->control, frame); break;
    default: ec_frame_release(&link->iframes, frame); break;
    }
}

}  // namespace

bool lapm_handover(LapmLink* link, FrameNode* frame)
{
    bool idle;
    {
        HandoverHold hold(link);
        if (link->next)
            return false;
        link->next = frame;
        ++frame->in_flight;
        idle = link->current == nullptr;
    }
    if (idle && link->host.kick_line)
        link->host.kick_line(link->host.context);
    return true;
}

bool lapm_handover_free(LapmLink* link)
{
    HandoverHold hold(link);
    return link->next == nullptr;
}

FrameNode* lapm_tx_next(LapmLink* link)
{
    HandoverHold hold(link);
    FrameNode* sent = link->current;
    if (sent) {
        bool retain = sent->in_flight == 1 && (sent->owner != FRAME_OWNER_IFRAME || sent->release_when_sent);
        if (retain) {
            FrameNode** slot = nullptr;
            for (FrameNode*& s : link->retained)
                if (!s) {
                    slot = &s;
                    break;
                }
            // All slots wait for the step: keep the sent frame as current and send nothing now.
            if (!slot)
                return nullptr;
            *slot = sent;
        }
        --sent->in_flight;
    }
    link->current = link->next;
    link->next = nullptr;
    return link->current;
}

// Takes a control frame out of the queue of frames waiting to be sent, if it is there.
static void unqueue_control(LapmLink* link, FrameNode* frame)
{
    uint32_t position = 1;
    for (QueueNode* node = link->control.head; node; node = node->next, ++position)
        if (node == frame) {
            ec_frame_remove_at(&link->control, position);
            return;
        }
}

void lapm_frame_done(LapmLink* link, FrameNode* frame)
{
    if (frame->owner == FRAME_OWNER_CONTROL)
        unqueue_control(link, frame);
    {
        HandoverHold hold(link);
        if (frame == link->next) {
            link->next = nullptr;
            --frame->in_flight;
        }
        if (frame->in_flight > 0) {
            frame->release_when_sent = 1;
            return;
        }
    }
    return_node(link, frame);
}

void lapm_finish_sent(LapmLink* link)
{
    FrameNode* done[LAPM_RETAINED_SLOTS] = {};
    bool held = false;
    {
        HandoverHold hold(link);
        held = link->retained[LAPM_RETAINED_SLOTS - 1] != nullptr && (link->current || link->next);
        for (uint8_t i = 0; i < LAPM_RETAINED_SLOTS; ++i) {
            done[i] = link->retained[i];
            link->retained[i] = nullptr;
        }
    }
    // With every slot taken the line block was given nothing and stopped asking: start it again.
    if (held && link->host.kick_line)
        link->host.kick_line(link->host.context);
    bool any = false;
    for (FrameNode* frame : done) {
        if (!frame)
            continue;
        any = true;
        bool pending = frame == link->xid_frame || frame == link->break_frame;
        if (frame->release_when_sent || !pending)
            return_node(link, frame);
    }
    if (any) {
        lapm_inactivity_restart(link);
        if (link->timers.t401 < 0)
            link->timers.t403 = 0;
    }
}

void lapm_handover_reset(LapmLink* link)
{
    HandoverHold hold(link);
    link->current = nullptr;
    link->next = nullptr;
    for (FrameNode*& s : link->retained)
        s = nullptr;
}

bool lapm_handover_idle(LapmLink* link)
{
    HandoverHold hold(link);
    return !link->current && !link->next;
}
