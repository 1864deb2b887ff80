// Call-control actions: what an event does in a state (the tables in call_control_grid.cpp name them).
// Actions only set up the sequences; the backgrounds carry them forward one step per pass.
#include <cstring>

#include "layer2/corecode/cmd/at_collector.h"
#include "layer2/corecode/cmd/at_output.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/dte/data_link_stubs.h"
#include "layer2/corecode/dte/dte.h"

namespace {

void report(AcuContext* acu, uint8_t index)
{
    ReportExtendedConnect(acu, index);
    // End the command unless the interpreter is still running its line.
    if (acu->collector != COLLECT_EXECUTE && acu->collector != COLLECT_PAUSED &&
        acu->collector != COLLECT_RETURN_ONLINE)
        acu->collector = COLLECT_WAIT_PREFIX;
}

// Result of a call: nothing with quiet results or for "no result".
void call_report(AcuContext* acu, uint8_t index)
{
    if (!at_opt_quiet(acu) && index != RC_NONE)
        ReportExtendedConnect(acu, index);
}

// A DTE character during a call aborts it while it is being dialled or connected (data mode).
void abort_by_dte(AcuContext* acu, bool connecting)
{
    dte_cmd_in_clear(acu->dte);
    if (connecting && acu->fax_class == 0)
        PostCallEvent(acu, EV_HANGUP, RC_NO_CARRIER);
}

// The DTR rules. `in_call`: a call holds the line (hang-up reason 32 on line).
void dtr_rules(AcuContext* acu, bool online, bool line_held)
{
    CallSequences& q = acu->seq;
    uint8_t p = acu_event_parameter(acu);
    if (p == 1) {
        if (acu->call_state == CALL_IDLE && q.dtr_dial_counter == 0) {
            if (q.dtr_dial_mode == 2)
                PostCallEvent(acu, EV_ORIGINATE, 2);
            else if (q.dtr_dial_mode == 3)
                PostCallEvent(acu, EV_ORIGINATE, 1);
        }
        return;
    }
    if (p != 2)
        return;  // RTS levels: hardware flow control belongs to the data path
    uint8_t d = at_opt_amp_d(acu);
    if (d == 3) {
        PostCallEvent(acu, EV_RESET, 0);
        return;
    }
    if (d == 2 || q.dtr_dial_mode == 2 || q.dtr_dial_mode == 3 || (d == 0 && q.dtr_dial_mode == 1)) {
        // Nothing to hang up while no call holds the line.
        if (!line_held && !q.line_off_hook)
            return;
        if (online)
            q.disconnect_reason = DISC_DTR;
        PostCallEvent(acu, EV_HANGUP, RC_OK);
        return;
    }
    if (d == 1 && online)
        PostCallEvent(acu, EV_TO_IDLE, 0);  // escape to command mode with the line held
}

void select_idle_row(AcuContext* acu, uint8_t row)
{
    acu->state_variant[CALL_IDLE] = row;
    acu->state_variant[CALL_COMMAND] = row;
}

}  // namespace

void acu_no_op(AcuContext* acu) { (void)acu; }

void acu_report_result(AcuContext* acu) { report(acu, acu_event_parameter(acu)); }
void acu_report_result_idle(AcuContext* acu) { report(acu, acu_event_parameter(acu)); }

void acu_idle_input(AcuContext* acu)
{
    if (dte_cmd_in_count(acu->dte) == 0)
        return;
    uint8_t raw = dte_cmd_in_get(acu->dte);
    at_echo(acu, raw);
    uint8_t c = static_cast<uint8_t>(raw & 0x7F);
    if (c == 'A' || c == 'a') {
        acu->prefix_letter = c;
        PostCallEvent(acu, EV_COMMAND, 0);
    }
}

void acu_enter_command(AcuContext* acu)
{
    acu->state_variant[CALL_COMMAND] = acu->state_variant[CALL_IDLE];
    // Parameter 6 (a command line pending after the escape from on line) restarts the dial string; the
    // Command row stays the Idle row (the held-connection row), as row 2 has no Command table and would
    // leave the machine deaf.
    if (acu_event_parameter(acu) == 6)
        acu->seq.dial_ptr = nullptr;
    // A new "A" starts a new line: a line abandoned by a call attempt is not resumed.
    acu->collector = COLLECT_WAIT_PREFIX;
}

// Class value 5 would select row 7, which has no tables: the machine would ignore every event from then on.
// The rows stay as they are for it.
void acu_select_class(AcuContext* acu)
{
    if (acu_event_parameter(acu) == 3)
        select_idle_row(acu, 6);
}

void acu_voice_class(AcuContext* acu)
{
    uint8_t p = acu_event_parameter(acu);
    if (p == 0 || p == 1)
        select_idle_row(acu, 0);
}

void acu_command_done(AcuContext* acu)
{
    uint8_t p = acu_event_parameter(acu);
    if (p >= 2 && p <= 5)
        PostCallEvent(acu, EV_RESULT, RC_OK);
    else if (p != 6)
        acu->state_variant[CALL_IDLE] = acu->state_variant[CALL_COMMAND];
}

void acu_idle_done(AcuContext* acu) { (void)acu; }

void acu_common_call_settings(AcuContext* acu)
{
    CallSequences& q = acu->seq;
    q.flag_j = 0;
    q.flag_k = 0;
    q.reverse = 0;
    q.return_to_command = 0;
    q.semicolon_ended = 0;
    q.connect_reported = 0;
    q.progress_ended = 0;
    q.disconnect_reason = DISC_NONE;
    q.dial_timer = 0;
    q.dial_timer_kind = DTIMER_NONE;
    q.connect_timer = 0;
    q.answer_timer = 0;
    q.answer_timer_armed = 0;
    q.restriction_state = 0;
}

void acu_start_originate(AcuContext* acu)
{
    CallSequences& q = acu->seq;
    acu->originating = 1;
    acu->answering = 0;
    acu_common_call_settings(acu);
    // A leased-line start dials nothing and waits for no dial tone, through the ordinary originate row.
    q.leased_line = (acu->set.line_options & kLineOptionLeased) ? 1 : 0;
    acu->state_variant[CALL_ORIGINATE] = 2;
    uint8_t p = acu_event_parameter(acu);
    q.dial_substate = p == 2 ? DIAL_RESUME : DIAL_START;
    if (q.leased_line)
        q.dial_ptr = "";
    else if (p == 1)
        q.dial_ptr = "S";  // the stored number 0
    else
        q.dial_ptr = acu->dial_string;
}

void acu_start_answer(AcuContext* acu)
{
    acu->answering = 1;
    acu->originating = 0;
    acu_common_call_settings(acu);
    acu->seq.leased_line = (acu->set.line_options & kLineOptionLeased) ? 1 : 0;
    acu->state_variant[CALL_ANSWER] = 2;
    acu->seq.answer_substate = 0;
}

void acu_enter_online(AcuContext* acu)
{
    uint8_t p = acu_event_parameter(acu);
    if (p == 1) {
        acu->state_variant[CALL_ONLINE] = 3;
    } else if (p != 2 || CallEventGrid[acu->state_variant[CALL_ONLINE] % CALL_ROWS][CALL_ONLINE] == nullptr) {
        // (Parameter 2 keeps the On-line row, unless that row has no On-line table.)
        acu->state_variant[CALL_ONLINE] = 2;
        at_escape_reset(acu);
    }
    acu->online = 1;
}

void acu_online_to_command(AcuContext* acu)
{
    acu->state_variant[CALL_IDLE] = 1;
    acu->seq.release_dte_pending = 0;
    acu_hold_data_mode(acu);
    ReportExtendedConnect(acu, RC_OK);
}

void acu_originate_to_command(AcuContext* acu)
{
    // Dialling ended by ";": back to the command state with the line held off hook.
    acu->state_variant[CALL_COMMAND] = acu->state_variant[CALL_IDLE];
    acu->seq.dial_substate = DIAL_NONE;
    ReportExtendedConnect(acu, RC_OK);
}

void acu_online_input(AcuContext* acu) { abort_by_dte(acu, !acu->online); }
void acu_call_abort_by_dte(AcuContext* acu) { abort_by_dte(acu, true); }
void acu_voice_call_input(AcuContext* acu) { abort_by_dte(acu, false); }
void acu_test_input(AcuContext* acu) { abort_by_dte(acu, acu->seq.test_substate < 6); }

void acu_online_break(AcuContext* acu) { PostCallEvent(acu, EV_TO_IDLE, 0); }

void acu_online_result(AcuContext* acu) { call_report(acu, acu_event_parameter(acu)); }
void acu_call_result(AcuContext* acu) { call_report(acu, acu_event_parameter(acu)); }

void acu_ec_status(AcuContext* acu)
{
    uint8_t status = acu_event_parameter(acu);
    switch (status) {
    case 1:
    case 4:
        break;
    case 2:
        PostCallEvent(acu, EV_TO_IDLE, 0);
        break;
    case 3:
    case 5:
    case 6:
        ec_report_values(acu->dte, &acu->ec_protocol, &acu->compression_state);
        if (acu_compression_refused(acu, acu->compression_state)) {
            // +DS asks for a compressed link and the far end did not agree: the link ends with its
            // disconnect (DISC or LD, where there is one) and the call with "NO CARRIER".
            ec_disconnect(acu->dte, EC_DISCONNECT_LOCAL);
            PostCallEvent(acu, EV_HANGUP, RC_NO_CARRIER);
            break;
        }
        acu->ec_first_state = 0;
        acu->seq.connect_reported = 1;
        PostCallEvent(acu, EV_RESULT, RC_CONNECT_REPORT);
        acu->seq.release_dte_pending = 1;  // data mode once the report has gone out
        if (at_opt_amp_c(acu))
            dte_raise_dcd(acu->dte);
        break;
    default:  // 0 and 7 and above: the link failed
        PostCallEvent(acu, EV_HANGUP, RC_NO_CARRIER);
        break;
    }
}

void acu_carrier_lost(AcuContext* acu)
{
    if (acu->seq.disconnect_reason == DISC_BUSY_SECOND)
        acu->seq.disconnect_reason = DISC_CARRIER_LOST;
    PostCallEvent(acu, EV_HANGUP, RC_NO_CARRIER);
}

void acu_retrain_started(AcuContext* acu) { acu->seq.retrain_step = 7; }

void acu_start_hangup(AcuContext* acu)
{
    acu->state_variant[CALL_HANGUP] = 2;
    acu->seq.hangup_substate = 0;
    acu->seq.hangup_countdown = 0;
    acu->hangup_reason = acu_event_parameter(acu);
}

void acu_fax_hangup(AcuContext* acu)
{
    acu_start_hangup(acu);
    acu->seq.hangup_substate = 9;
}

void acu_hangup_done(AcuContext* acu)
{
    acu->state_variant[CALL_IDLE] = 0;
    acu->hangup_pending = 0;
}

void acu_fax_done(AcuContext* acu) { acu->state_variant[CALL_IDLE] = 3; }
void acu_selftest_done(AcuContext* acu) { acu->state_variant[CALL_IDLE] = 4; }

void acu_test_done(AcuContext* acu)
{
    acu->state_variant[CALL_IDLE] = acu_event_parameter(acu) == 1 ? acu->seq.test_saved_row : 0;
    acu->test_state = 0;
}

void acu_reset(AcuContext* acu) { acu->initialised = 0; }

// "D" or "A" while a fax connection holds the line: the engine starts again, as caller for "D".
void acu_fax_connect(AcuContext* acu)
{
    const bool originate = acu->current_node != nullptr && acu->current_node->event == EV_ORIGINATE;
    fax_call_start(acu, originate ? 1 : 0);
    PostCallEvent(acu, EV_CONNECTED, 1);
}

void acu_dtr_idle(AcuContext* acu) { dtr_rules(acu, false, false); }
void acu_dtr_command(AcuContext* acu) { dtr_rules(acu, false, acu->state_variant[CALL_IDLE] == 1); }
void acu_dtr_call(AcuContext* acu) { dtr_rules(acu, false, true); }
void acu_dtr_online(AcuContext* acu) { dtr_rules(acu, true, true); }
void acu_dtr_test(AcuContext* acu) { dtr_rules(acu, false, true); }
void acu_dtr_selftest(AcuContext* acu) { dtr_rules(acu, false, false); }
void acu_dtr_fax_command(AcuContext* acu) { dtr_rules(acu, false, false); }
void acu_dtr_fax_online(AcuContext* acu) { dtr_rules(acu, true, true); }
void acu_dtr_voice(AcuContext* acu) { dtr_rules(acu, false, false); }
void acu_dtr_voice_online(AcuContext* acu) { dtr_rules(acu, true, true); }

// Voice mode: dialling through the same executor, the line taken and released for the voice engine.
void acu_voice_originate(AcuContext* acu)
{
    acu_start_originate(acu);
    acu->state_variant[CALL_ORIGINATE] = 6;
}

void acu_voice_answer(AcuContext* acu)
{
    acu_go_off_hook(acu, true);
    voice_action(acu, 1);
    PostCallEvent(acu, EV_RESULT, RC_OK);
}

void acu_voice_online(AcuContext* acu)
{
    acu->state_variant[CALL_ONLINE] = 6;
    acu->online = 1;
}

void acu_voice_hangup(AcuContext* acu)
{
    voice_stop(acu);
    voice_path_reset(acu);
    acu_go_on_hook(acu);
    acu->online = 0;
    acu->hangup_pending = 0;
}

void acu_voice_reset(AcuContext* acu)
{
    acu_voice_hangup(acu);
    acu->seq.dial_substate = DIAL_NONE;
}

void acu_voice_result(AcuContext* acu) { report(acu, acu_event_parameter(acu)); }
void acu_voice_call_result(AcuContext* acu) { call_report(acu, acu_event_parameter(acu)); }

void acu_collect_bg(AcuContext* acu) { CollectCommandLine(acu); }
