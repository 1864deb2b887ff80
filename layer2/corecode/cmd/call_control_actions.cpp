// Call-control actions of the Idle, Command and Hang-up states and the grids that select them. The
// originate, answer, on-line and test sequences are not built yet: their entry actions end the attempt
// through the ordinary hang-up path, so the modem never stays in a state without a background.
#include <cstddef>

#include "layer2/corecode/cmd/at_collector.h"
#include "layer2/corecode/cmd/at_output.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/dte/dte.h"

namespace {

void acu_report_result(AcuContext* acu)
{
    ReportExtendedConnect(acu, acu_event_parameter(acu));
    // End the command unless the interpreter is still running its line.
    if (acu->collector != COLLECT_EXECUTE && acu->collector != COLLECT_PAUSED &&
        acu->collector != COLLECT_RETURN_ONLINE)
        acu->collector = COLLECT_WAIT_PREFIX;
}

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
    if (acu_event_parameter(acu) == 6)
        acu->state_variant[CALL_COMMAND] = 2;
    // A new "A" starts a new line: a line abandoned by a call attempt is not resumed.
    acu->collector = COLLECT_WAIT_PREFIX;
}

void acu_select_class(AcuContext* acu)
{
    uint8_t p = acu_event_parameter(acu);
    if (p == 3) {
        acu->state_variant[CALL_IDLE] = 6;
        acu->state_variant[CALL_COMMAND] = 6;
    } else if (p == 5) {
        acu->state_variant[CALL_IDLE] = 7;
        acu->state_variant[CALL_COMMAND] = 7;
    }
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

void acu_reset(AcuContext* acu) { acu->initialised = 0; }

void acu_start_hangup(AcuContext* acu)
{
    acu->state_variant[CALL_HANGUP] = 2;
    acu->hangup_reason = acu_event_parameter(acu);
}

void acu_hangup_done(AcuContext* acu)
{
    acu->state_variant[CALL_IDLE] = 0;
    acu->hangup_pending = 0;
}

// Originate and answer: dialling and answering are not built; the attempt ends as a call without carrier.
void acu_start_originate(AcuContext* acu)
{
    acu->originating = 1;
    acu->state_variant[CALL_ORIGINATE] = 2;
    PostCallEvent(acu, EV_HANGUP, RC_NO_CARRIER);
}

void acu_start_answer(AcuContext* acu)
{
    acu->answering = 1;
    acu->state_variant[CALL_ANSWER] = 2;
    PostCallEvent(acu, EV_HANGUP, RC_NO_CARRIER);
}

void acu_call_result(AcuContext* acu)
{
    uint8_t index = acu_event_parameter(acu);
    if ((acu->sreg[14] & 0x04) == 0 && index != RC_NONE)
        ReportExtendedConnect(acu, index);
}

void acu_call_abort_by_dte(AcuContext* acu)
{
    dte_cmd_in_clear(acu->dte);
    PostCallEvent(acu, EV_HANGUP, RC_NO_CARRIER);
}

// Tests are not built: the request ends at once.
void acu_enter_test(AcuContext* acu)
{
    acu->test_state = 0;
    PostCallEvent(acu, EV_TO_IDLE, 0);
}

// DTR and RTS handling by state come with the rest of call control.
void acu_dtr_idle(AcuContext* acu) { (void)acu; }

// Background of Idle: nothing to watch until ring detection exists.
void acu_idle_bg(AcuContext* acu) { (void)acu; }

// Hang-up background. Nothing holds the line yet, so the line-side steps are empty: the sequence ends at
// once, back in the command state when H or Z asked for it, else in Idle with the hang-up reason.
void acu_hangup_bg(AcuContext* acu)
{
    acu->originating = 0;
    acu->answering = 0;
    acu->online = 0;
    if (acu->return_to_command) {
        acu->return_to_command = 0;
        if (acu->state_variant[CALL_HANGUP] == 2)
            acu->state_variant[CALL_COMMAND] = 0;
        PostCallEvent(acu, EV_COMMAND, 0);
        return;
    }
    PostCallEvent(acu, EV_TO_IDLE, 0);
    acu_clamp_dte(acu);
    PostCallEvent(acu, EV_RESULT, acu->hangup_reason);
}

void cc_collect(AcuContext* acu) { CollectCommandLine(acu); }

constexpr CallEventEntry S(uint32_t next, CallAction action = nullptr) { return CallEventEntry{next, action}; }

// Columns: events 0-17.
const CallEventTable kIdle = {{
    S(0, acu_report_result), S(0, acu_idle_input), S(2, acu_start_originate), S(3, acu_start_answer), S(0),
    S(0, acu_idle_done), S(0, acu_reset), S(0), S(0), S(0), S(5, acu_start_hangup), S(0), S(6, acu_enter_test),
    S(1, acu_enter_command), S(0, acu_dtr_idle), S(0), S(0), S(0),
}};

const CallEventTable kCommand = {{
    S(1, acu_report_result), S(1), S(2, acu_start_originate), S(3, acu_start_answer), S(4), S(0, acu_command_done),
    S(0, acu_reset), S(1), S(1), S(1), S(5, acu_start_hangup), S(1), S(6, acu_enter_test), S(1, acu_select_class),
    S(1, acu_dtr_idle), S(1), S(1), S(0),
}};

const CallEventTable kHangup = {{
    S(5), S(5), S(5), S(5), S(5), S(0, acu_hangup_done), S(0, acu_reset), S(5), S(5), S(5), S(5), S(5), S(5), S(1),
    S(5), S(5), S(5), S(0),
}};

const CallEventTable kOriginate = {{
    S(2, acu_call_result), S(2, acu_call_abort_by_dte), S(2), S(3, acu_start_answer), S(4), S(0), S(0, acu_reset),
    S(2), S(2), S(2), S(5, acu_start_hangup), S(2), S(2), S(1), S(2), S(2), S(2), S(0),
}};

const CallEventTable kAnswer = {{
    S(3, acu_call_result), S(3, acu_call_abort_by_dte), S(3), S(3), S(4), S(0), S(0, acu_reset), S(3), S(3), S(3),
    S(5, acu_start_hangup), S(3), S(3), S(3), S(3), S(3), S(3), S(0),
}};

}  // namespace

// Rows not listed hold no tables yet (they come with the rest of call control).
const CallEventTable* const CallEventGrid[CALL_ROWS][CALL_COUNT] = {
    /* 0 */ {&kIdle, &kCommand, nullptr, nullptr, nullptr, &kHangup, nullptr, nullptr},
    /* 1 */ {},
    /* 2 */ {nullptr, nullptr, &kOriginate, &kAnswer, nullptr, &kHangup, nullptr, nullptr},
};

const CallBackground CallBackgroundGrid[CALL_ROWS][CALL_COUNT] = {
    /* 0 */ {acu_idle_bg, cc_collect, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    /* 1 */ {},
    /* 2 */ {nullptr, nullptr, nullptr, nullptr, nullptr, acu_hangup_bg, nullptr, nullptr},
};
