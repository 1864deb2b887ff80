#include "layer2/corecode/cmd/call_control.h"

#include <cstring>

#include "layer2/corecode/cmd/at_collector.h"
#include "layer2/corecode/cmd/at_sreg.h"
#include "layer2/corecode/cmd/at_ticks.h"
#include "layer2/corecode/cmd/fax_commands.h"
#include "layer2/corecode/cmd/v80_poll.h"
#include "layer2/corecode/cmd/profile.h"
#include "layer2/corecode/dte/data_link_stubs.h"
#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/mt/dsp_commands.h"
#include "layer2/corecode/mt/dsp_device.h"
#include "layer2/corecode/mt/dsp_router.h"
#include "platform/kernel.h"

void EventQueueInit(EventQueue* q)
{
    q->ready_head = nullptr;
    q->ready_tail = nullptr;
    for (unsigned k = 0; k < CALL_EVENT_NODES; ++k) {
        q->nodes[k].link = k + 1 < CALL_EVENT_NODES ? &q->nodes[k + 1] : nullptr;
        q->nodes[k].event = 0;
        q->nodes[k].parameter = 0;
    }
    q->free_head = &q->nodes[0];
    q->free_tail = &q->nodes[CALL_EVENT_NODES - 1];
}

void PostCallEvent(AcuContext* acu, uint8_t event, uint8_t parameter)
{
    EventQueue* q = &acu->queue;
    CallEventNode* node = q->free_head;
    if (node == nullptr) {
        ++q->dropped;
        DbgPrint("PostCallEvent: queue full, event %u (parameter %u) dropped (%u dropped)\n",
                 static_cast<unsigned>(event), static_cast<unsigned>(parameter), static_cast<unsigned>(q->dropped));
        return;
    }
    q->free_head = node->link;
    if (q->free_head == nullptr)
        q->free_tail = nullptr;
    node->link = nullptr;
    node->event = event;
    node->parameter = parameter;
    if (q->ready_tail != nullptr)
        q->ready_tail->link = node;
    else
        q->ready_head = node;
    q->ready_tail = node;
}

uint8_t acu_event_parameter(const AcuContext* acu)
{
    return acu->current_node != nullptr ? static_cast<uint8_t>(acu->current_node->parameter) : 0;
}

namespace {

void free_node(EventQueue* q, CallEventNode* node)
{
    node->link = nullptr;
    if (q->free_tail != nullptr)
        q->free_tail->link = node;
    else
        q->free_head = node;
    q->free_tail = node;
}

// One pass of the DSP message pump: elapsed time for the router's timers, the ring-cadence step (the data
// pump's detector reports), then the queued messages.
void dsp_message_pump(AcuContext* acu)
{
    DspLineControl* lc = acu_line(acu);
    if (lc == nullptr || lc->queue == nullptr)
        return;
    dsp_msg_post_elapsed(lc->queue);
    dsp_cadence_step(&acu->dsp->context);
    dsp_msg_dispatch(lc->queue);
}

// DTR: one event per edge. RTS: its level on every pass.
void watch_dte_signals(AcuContext* acu)
{
    uint8_t dtr = dte_get_signal(acu->dte, 1);
    if (dtr != acu->dtr_seen) {
        acu->dtr_seen = dtr;
        PostCallEvent(acu, EV_DTE_SIGNAL, dtr ? 1 : 2);
    }
    bool rts = dte_get_signal(acu->dte, 2) != 0 || acu->seq.rts_forced;
    PostCallEvent(acu, EV_DTE_SIGNAL, rts ? 3 : 4);
}

// Carrier, the data pump's connection state and the call-progress code.
void watch_status(AcuContext* acu)
{
    CallSequences& q = acu->seq;
    bool carrier = acu_carrier_present(acu);
    if (q.carrier_seen && !carrier) {
        ++q.carrier_losses;
        PostCallEvent(acu, EV_CARRIER_LOST, 0);
    }
    q.carrier_seen = carrier ? 1 : 0;
    uint8_t state = acu_pump_state(acu);
    if (state != q.pump_state_seen) {
        q.pump_state_seen = state;
        if (state == 3 || state == 13) {
            PostCallEvent(acu, EV_RETRAIN, 0);
        } else if (state == 6 && q.test_kind == TEST_NONE) {
            q.test_saved_state = acu->call_state;
            PostCallEvent(acu, EV_TEST, 1);
        }
    }
    switch (q.progress) {
    case 2:
    case 7:
    case 13:
    case 14:
        if (!acu->voice_mode)
            PostCallEvent(acu, EV_PROGRESS, q.progress);
        break;
    case 3:
    case 5:
        break;
    default:
        q.last_progress_flag = 0;
        break;
    }
}

}  // namespace

void DispatchCallEvents(AcuContext* acu)
{
    at_poll_dte_input(acu);
    watch_dte_signals(acu);
    watch_status(acu);
    EventQueue* q = &acu->queue;
    if (q->ready_head == nullptr) {
        dsp_message_pump(acu);
        return;
    }
    while (q->ready_head != nullptr) {
        CallEventNode* node = q->ready_head;
        q->ready_head = node->link;
        if (q->ready_head == nullptr)
            q->ready_tail = nullptr;
        uint8_t state = acu->call_state < CALL_COUNT ? acu->call_state : static_cast<uint8_t>(CALL_IDLE);
        uint8_t row = acu->state_variant[state];
        const CallEventTable* table = row < CALL_ROWS ? CallEventGrid[row][state] : nullptr;
        // A cell without a table keeps the state and runs nothing (never a previous event's action).
        CallAction action = nullptr;
        if (table != nullptr && node->event < EV_COUNT) {
            // The next state is written first, so the action sees it.
            acu->call_state = static_cast<uint8_t>(table->entry[node->event].next_state);
            action = table->entry[node->event].action;
        }
        acu->current_node = node;
        if (action != nullptr)
            action(acu);
        acu->current_node = nullptr;
        free_node(q, node);
        dsp_message_pump(acu);
    }
}

void DispatchStateBackground(AcuContext* acu)
{
    uint8_t state = acu->call_state < CALL_COUNT ? acu->call_state : static_cast<uint8_t>(CALL_IDLE);
    uint8_t row = acu->state_variant[state];
    CallBackground bg = row < CALL_ROWS ? CallBackgroundGrid[row][state] : nullptr;
    if (bg != nullptr)
        bg(acu);
}

void CallControlInit(AcuContext* acu)
{
    v80_end(acu);
    ec_stop(acu->dte);
    AtInterpreterInit(acu);
    EventQueueInit(&acu->queue);
    acu->current_node = nullptr;
    acu->call_state = CALL_IDLE;
    std::memset(acu->state_variant, 0, sizeof acu->state_variant);
    acu->echo_hold = 0;
    acu->online = 0;
    acu->test_state = 0;
    acu->hangup_pending = 0;
    acu->return_to_command = 0;
    acu->originating = 0;
    acu->answering = 0;
    conn_reset(acu);
    qc_data_init(acu);
    // The sequences start over; the hook state and the DTR-dialling setting stay.
    CallSequences& q = acu->seq;
    // A reset in the middle of a call releases the line: nothing would ever put it back on hook.
    if (q.line_off_hook || acu_pump_state(acu) != 0) {
        acu_send_pump_hangup(acu, true);
        acu_go_on_hook(acu);
    }
    uint8_t off_hook = q.line_off_hook;
    uint8_t on_hook_flag = q.on_hook_flag;
    uint8_t dtr_dial_mode = q.dtr_dial_mode;
    uint32_t losses = q.carrier_losses;
    std::memset(&q, 0, sizeof q);
    q.line_off_hook = off_hook;
    q.on_hook_flag = on_hook_flag;
    q.dtr_dial_mode = dtr_dial_mode;
    q.carrier_losses = losses;
    q.hold_time = 255;
    q.last_ec_status = 1;
    at_escape_reset(acu);
    at_power_up_profile(acu);
    if (acu->set.line_options & kLineOptionLeased) {
        // Leased line: the call starts by itself, as originator when S14 bit 7 says so.
        acu->initialised = 1;
        PostCallEvent(acu, at_opt_originate(acu) ? EV_ORIGINATE : EV_ANSWER, 0);
        return;
    }
    if (!acu->set.fixed_rate)
        dte_cmd_flag_set(acu->dte);
    acu->initialised = 1;
}

void acu_start_reset(AcuContext* acu, uint8_t profile)
{
    acu->recall_pending = static_cast<uint8_t>((profile & 3) | 4);
    acu->recall_respond = 1;
}

void acu_recall_profile_deferred(AcuContext* acu)
{
    if ((acu->recall_pending & 4) == 0 || acu->call_state != CALL_IDLE)
        return;
    if ((acu->recall_pending & 8) == 0) {
        acu->recall_pending |= 8;
        acu->initialised = 0;  // the next pass runs CallControlInit
        return;
    }
    // CallControlInit has loaded the power-up profile; the reset's own profile follows, keeping the DTE
    // rate and format.
    at_load_profile(acu, acu->recall_pending & 3u, true);
    acu->command_error = 0;
    acu->recall_pending = 0;
    if (acu->recall_respond) {
        acu->recall_respond = 0;
        PostCallEvent(acu, EV_RESULT, RC_OK);
    }
}

namespace {

template <typename T>
void count_down(T* value)
{
    if (*value != 0)
        --*value;
}

}  // namespace

void acu_call_tick_10ms(AcuContext* acu)
{
    CallSequences& q = acu->seq;
    if (q.dial_timer_kind != DTIMER_NONE)
        count_down(&q.dial_timer);
    if (q.silence_armed)
        count_down(&q.silence_timer);
    if (q.connect_armed)
        count_down(&q.connect_timer);
    if (q.answer_timer_armed)
        count_down(&q.answer_timer);
    if (q.test_timer_armed)
        count_down(&q.test_timer);
    count_down(&q.answer_countdown);
    count_down(&q.hangup_countdown);
    count_down(&q.test_countdown);
    ec_tick_10ms(acu->dte);
    conn_tick_10ms(acu);
}

void CallControlCommandStep(AcuContext* acu)
{
    (void)acu;
}

void CallControlTick(AcuContext* acu)
{
    if (!acu->initialised)
        CallControlInit(acu);
    ++acu->steps;
    acu_service_ticks(acu);
    CallSequences& q = acu->seq;
    // Error control: the change of its status is an event.
    if (q.test_kind == TEST_NONE && !q.data_path_test) {
        uint8_t status = v80_running(acu) ? v80_poll(acu) : ec_poll(acu->dte);
        if (status != q.last_ec_status) {
            q.last_ec_status = status;
            PostCallEvent(acu, EV_EC_STATUS, status);
        }
    } else {
        acu_test_data_step(acu);  // a loop-back test owns the data path
    }
    // Fax and voice engines.
    voice_poll(acu);
    if (acu->fax_class != 0 && acu->fax_class != 8) {
        fax_silence_step(acu);
        switch (fax_poll(acu)) {
        case 2: PostCallEvent(acu, EV_TO_IDLE, 0); PostCallEvent(acu, EV_RESULT, RC_OK); break;
        case 3: PostCallEvent(acu, EV_TO_IDLE, 0); PostCallEvent(acu, EV_RESULT, RC_NO_CARRIER); break;
        case 4: PostCallEvent(acu, EV_TO_IDLE, 0); PostCallEvent(acu, EV_RESULT, RC_ERROR); break;
        case 7: PostCallEvent(acu, EV_TO_IDLE, 0); PostCallEvent(acu, EV_RESULT, RC_FCERROR); break;
        case 5: PostCallEvent(acu, EV_HANGUP, RC_OK); break;
        case 6: PostCallEvent(acu, EV_CONNECTED, 1); break;
        default: break;
        }
    }
    // The call-progress code of this pass, seen alike by the background and the status watcher.
    q.progress = acu_call_progress(acu);
    conn_step(acu);
    acu_cid_service(acu);
    DispatchStateBackground(acu);
    DispatchCallEvents(acu);
    acu_recall_profile_deferred(acu);
}

void AcuInit(AcuContext* acu, DteContext* dte, CoreSettings* settings, ModemCore* core)
{
    std::memset(acu, 0, sizeof *acu);
    acu->dte = dte;
    if (dte != nullptr) {
        dte->escape_reset = [](void* owner) { at_escape_reset(static_cast<AcuContext*>(owner)); };
        dte->escape_owner = acu;
    }
    acu->settings = settings;
    acu->core = core;
    EventQueueInit(&acu->queue);
    at_sreg_factory(acu);
    profile_factory_values(acu);
    AtInterpreterInit(acu);
    at_diag_reset(acu);
    acu->voice_table = VoiceCommands;
    voice_init(acu);
    acu->initialised = 0;
}
