// One pass of LAPM: timers, received frames, events through the state table, delivery and sending.
#include "layer2/corecode/ec/lapm_internal.h"

namespace {

// Event nodes kept free for the local events of a pass while received frames are drained.
constexpr uint32_t EVENT_NODES_SPARE = 3;
constexpr int32_t DELIVERY_TICKS = 600;

void drain_received(LapmLink* link)
{
    while (ec_frame_free_count(&link->events) > EVENT_NODES_SPARE && !link->mnp_detected) {
        KIRQL old;
        KeAcquireSpinLock(&link->rx.pool_lock, &old);
        FrameNode* frame = ec_rx_ring_take(&link->rx);
        KeReleaseSpinLock(&link->rx.pool_lock, old);
        if (!frame)
            return;
        lapm_classify(link, frame);
    }
}

void hand_break_to_dte(LapmLink* link)
{
    if (!link->rx_break_pending)
        return;
    link->rx_break_pending = 0;
    if (link->setup.pass_break && link->host.dte_break)
        link->host.dte_break(link->host.context, link->rx_break_type, link->rx_break_length);
}

bool delivery_on(const LapmLink* link)
{
    return link->call->delivery_setting != 0 && link->disconnect_code != LAPM_DC_LOCAL;
}

// After the link ends, received information may still go to the DTE for a while.
void delivery_after_disconnect(LapmLink* link)
{
    LapmTimers& t = link->timers;
    if (link->state == LS_IDLE) {
        if (delivery_on(link) && link->status != LAPM_IDLE && t.delivery >= 1 && lapm_rx_pending(link)) {
            link->status = LAPM_DISCONNECTING;
            lapm_deliver(link);
            if (!lapm_rx_pending(link))
                link->status = LAPM_IDLE;
        } else {
            link->status = LAPM_IDLE;
        }
        return;
    }
    if (link->state != LS_DISCONNECTING)
        return;
    link->status = LAPM_DISCONNECTING;
    if (!delivery_on(link))
        return;
    if (t.delivery < 0) {
        uint32_t time = link->call->delivery_time;
        t.delivery = link->call->delivery_setting == 2 && time ? static_cast<int32_t>(time / 10) : DELIVERY_TICKS;
    }
    if (t.delivery > 0)
        lapm_deliver(link);
}

}  // namespace

uint8_t lapm_step(LapmLink* link)
{
    if (link->mnp_detected)
        return LAPM_MNP_FALLBACK;
    lapm_advance_timers(link);
    drain_received(link);
    if (link->mnp_detected)
        return LAPM_MNP_FALLBACK;
    lapm_finish_sent(link);
    lapm_post_timer_event(link);
    if (!link->held)
        hand_break_to_dte(link);
    bool was_busy = link->own_busy;
    lapm_run_events(link);
    if (was_busy && link->own_busy && !link->held)
        lapm_dispatch(link, LE_ACK_POINT, nullptr);
    delivery_after_disconnect(link);
    lapm_send_one_control(link);
    if ((link->status == LAPM_TRANSFER || link->status == LAPM_HELD) && !link->xid_frame) {
        lapm_deliver(link);
        lapm_fill_iframes(link);
        lapm_pass_iframe(link);
    }
    return link->status;
}
