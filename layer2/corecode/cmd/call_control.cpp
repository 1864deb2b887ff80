#include "layer2/corecode/cmd/call_control.h"

#include <cstring>

#include "layer2/corecode/cmd/at_collector.h"
#include "layer2/corecode/cmd/at_sreg.h"
#include "layer2/corecode/cmd/at_ticks.h"
#include "layer2/corecode/cmd/profile.h"
#include "layer2/corecode/dte/dte.h"
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

// Seam of the DSP link: one pass of its message pump.
void dsp_message_pump(AcuContext* acu) { (void)acu; }

void watch_dte_signals(AcuContext* acu)
{
    uint8_t dtr = dte_get_signal(acu->dte, 1);
    if (dtr != acu->dtr_seen) {
        acu->dtr_seen = dtr;
        PostCallEvent(acu, EV_DTE_SIGNAL, dtr ? 1 : 2);
    }
    PostCallEvent(acu, EV_DTE_SIGNAL, dte_get_signal(acu->dte, 2) ? 3 : 4);
}

}  // namespace

void DispatchCallEvents(AcuContext* acu)
{
    at_poll_dte_input(acu);
    watch_dte_signals(acu);
    // The status watcher (carrier, pump state, call progress) comes with connection control.
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
    at_escape_reset(acu);
    at_power_up_profile(acu);
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
    // Error-control, fax and voice polls and the connection step come with the data link and connection
    // control.
    DispatchStateBackground(acu);
    DispatchCallEvents(acu);
    acu_recall_profile_deferred(acu);
}

void AcuInit(AcuContext* acu, DteContext* dte, CoreSettings* settings, ModemCore* core)
{
    std::memset(acu, 0, sizeof *acu);
    acu->dte = dte;
    acu->settings = settings;
    acu->core = core;
    EventQueueInit(&acu->queue);
    at_sreg_factory(acu);
    profile_factory_values(acu);
    AtInterpreterInit(acu);
    acu->initialised = 0;
}
