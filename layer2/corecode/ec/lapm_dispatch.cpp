// LAPM events: the event queue and the dispatch of each event through the state table.
#include "layer2/corecode/ec/lapm_actions.h"

const LapmActionFn lapm_actions[LA_COUNT_OF_ACTIONS] = {
    nullptr,
    lapm_test_echo,
    lapm_go_idle,
    lapm_send_dm_f1,
    lapm_idle_send_dm,
    lapm_originate_xid,
    lapm_answer_xid,
    lapm_accept_sabme_f0,
    lapm_accept_sabme_f1,
    lapm_release,
    lapm_take_xid_response,
    lapm_refuse_dm,
    lapm_xid_done_sabme,
    lapm_setup_retry,
    lapm_setup_give_up,
    lapm_send_disc,
    lapm_enter_data,
    lapm_send_ua_f1,
    lapm_send_ua_f0,
    lapm_dm_f0_reason96,
    lapm_dm_f1_reason96,
    lapm_stop_timers,
    lapm_fail_reason93,
    lapm_resabme_f1,
    lapm_resabme_f0,
    lapm_disc_ua_f1,
    lapm_disc_ua_f0,
    lapm_frmr_disc,
    lapm_poll_rr,
    lapm_ack_f1,
    lapm_ack_f0,
    lapm_peer_ready_f1,
    lapm_reject_f1,
    lapm_reject,
    lapm_peer_busy_f1,
    lapm_peer_busy,
    lapm_peer_ready,
    lapm_t401_poll,
    lapm_ui_response,
    lapm_ready_f1,
    lapm_clear_peer_busy,
    lapm_srej,
    lapm_recover_rr,
    lapm_recover_rej,
    lapm_recover_busy_f1,
    lapm_recover_busy,
    lapm_recover_rnr,
    lapm_t403_poll,
    lapm_ack_cmd,
    lapm_i_ack_f1,
    lapm_i_ack_f0,
    lapm_t401_recover,
    lapm_ack_rr_f0,
    lapm_peer_busy_poll_f1,
    lapm_peer_busy_poll,
    lapm_count_error,
};

bool lapm_post_event(LapmLink* link, uint16_t event, FrameNode* frame)
{
    auto* node = static_cast<LapmEventNode*>(ec_frame_take_free(&link->events));
    if (!node)
        return false;
    node->event = event;
    node->frame = frame;
    ec_frame_enqueue(&link->events, node);
    return true;
}

// The table as given settles every event within a few passes; the bound only guards against a loop.
constexpr int LAPM_MAX_REDISPATCH = 8;

void lapm_dispatch(LapmLink* link, uint16_t event, FrameNode* frame)
{
    LapmDispatch d{event, frame};
    for (int pass = 0; pass < LAPM_MAX_REDISPATCH && d.event != LE_CONSUMED; ++pass) {
        const LapmCell* cell = lapm_cell(link->state, d.event);
        if (!cell)
            break;
        uint16_t event_before = d.event;
        link->prev_event = link->event;
        link->event = d.event;
        if (cell->next != LAPM_KEEP) {
            link->prev_state = link->state;
            link->state = cell->next;
        }
        if (cell->action != LA_NONE)
            lapm_actions[cell->action](link, &d);
        if (d.event == event_before)
            break;
    }
    if (d.frame)
        lapm_frame_done(link, d.frame);
}

// While held only local events and frames other than I-frames and UI breaks are taken.
static bool taken_while_held(const LapmEventNode* node)
{
    uint16_t e = node->event;
    return !(e == LE_I_P1 || e == LE_I_P0 || e == LE_UI_CMD_P1 || e == LE_UI_CMD_P0);
}

static LapmEventNode* take_held_event(LapmLink* link)
{
    QueueNode* node = link->events.head;
    for (uint32_t position = 1; node; node = node->next, ++position) {
        if (taken_while_held(static_cast<LapmEventNode*>(node)))
            return static_cast<LapmEventNode*>(ec_frame_remove_at(&link->events, position));
    }
    return nullptr;
}

void lapm_run_events(LapmLink* link)
{
    if (link->held) {
        LapmEventNode* node = take_held_event(link);
        if (!node) {
            lapm_dispatch(link, LE_OWN_BUSY, nullptr);
            return;
        }
        uint16_t event = node->event;
        FrameNode* frame = node->frame;
        ec_frame_release(&link->events, node);
        lapm_dispatch(link, event, frame);
        return;
    }
    while (auto* node = static_cast<LapmEventNode*>(ec_frame_pop(&link->events))) {
        uint16_t event = node->event;
        FrameNode* frame = node->frame;
        ec_frame_release(&link->events, node);
        lapm_dispatch(link, event, frame);
    }
}
