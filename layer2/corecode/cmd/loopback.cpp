// The loop-back tests (&T): the analog loop through the data pump, started from the command state and
// ended by the test timer (S18), a hang-up or DTR; and a test the data pump asks for itself.
#include "layer2/corecode/cmd/at_output.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/dte/dte.h"

namespace {

constexpr uint16_t kOnHookTicks = 1000;
constexpr uint16_t kLoopStartTicks = 1000;  // for the data pump to take the loop
constexpr uint16_t kLoopConnectTicks = 200;
constexpr uint16_t kLoopReleaseTicks = 250;
constexpr uint8_t kPumpStateLoop = 5;

bool analog(uint8_t kind) { return kind == TEST_ANALOG || kind == TEST_ANALOG_SELF; }

void end_test(AcuContext* acu)
{
    CallSequences& q = acu->seq;
    if (q.test_kind != TEST_NONE && q.test_substate < 8)
        acu_send_loop(acu, q.test_kind, false);
    // Back to the rows the test started from; the self-test rows only last while a self-test runs, so a
    // finished test never leaves the machine in them (where dial and answer requests would go unheard).
    uint8_t row = q.test_saved_row == 4 ? 0 : q.test_saved_row;
    acu->state_variant[CALL_IDLE] = row;
    acu->state_variant[CALL_COMMAND] = row;
    q.test_kind = TEST_NONE;
    q.test_timer_armed = 0;
    q.test_command_pending = 0;
    acu->test_state = 0;
}

}  // namespace

void acu_request_test(AcuContext* acu, uint8_t kind)
{
    acu->seq.test_kind = kind;
    acu->seq.test_command_pending = 1;
    acu->test_state = kind;
    PostCallEvent(acu, EV_TEST, 0);
}

void acu_enter_test(AcuContext* acu)
{
    CallSequences& q = acu->seq;
    q.test_substate = 0;
    q.test_saved_row = acu->state_variant[CALL_IDLE];
    if (acu_event_parameter(acu) == 1) {
        acu->state_variant[CALL_TEST] = 12;
    } else {
        acu->state_variant[CALL_TEST] = 10;
        if (q.test_kind == TEST_NONE) {
            // Nothing asked for a local test: leave at once.
            PostCallEvent(acu, EV_TO_IDLE, 0);
        }
    }
}

void acu_test_hangup(AcuContext* acu)
{
    CallSequences& q = acu->seq;
    acu->hangup_reason = acu_event_parameter(acu);
    if (acu->state_variant[CALL_TEST] != 10 && acu->state_variant[CALL_TEST] != 11) {
        acu->state_variant[CALL_TEST] = 10;
        q.test_substate = 8;
    } else if (q.test_substate < 8) {
        q.test_substate = 8;
    }
}

void acu_test_to_hangup(AcuContext* acu)
{
    acu->seq.test_kind = TEST_NONE;
    acu->test_state = 0;
    acu_start_hangup(acu);
}

void acu_test_carrier_lost(AcuContext* acu)
{
    uint8_t kind = acu->seq.test_kind;
    if (kind == TEST_REMOTE || kind == TEST_REMOTE_SELF) {
        PostCallEvent(acu, EV_HANGUP, RC_NONE);
        PostCallEvent(acu, EV_HANGUP, RC_NO_CARRIER);
    }
}

void acu_test_retrain(AcuContext* acu) { (void)acu; }

void acu_test_break(AcuContext* acu)
{
    end_test(acu);
    ReportExtendedConnect(acu, RC_OK);
}

void acu_test_to_command(AcuContext* acu)
{
    end_test(acu);
    ReportExtendedConnect(acu, RC_OK);
}

void acu_select_selftest(AcuContext* acu)
{
    CallSequences& q = acu->seq;
    q.test_kind = acu_event_parameter(acu) == 2 ? TEST_REMOTE_SELF : TEST_ANALOG_SELF;
    acu->test_state = q.test_kind;
    // The Test state needs its own row and a fresh sequence, as for any other test.
    q.test_substate = 0;
    q.test_saved_row = acu->state_variant[CALL_IDLE];
    acu->state_variant[CALL_TEST] = 10;
}

void acu_test_bg(AcuContext* acu)
{
    CallSequences& q = acu->seq;
    switch (q.test_substate) {
    case 0:
        if (!analog(q.test_kind)) {
            // Digital and remote loops run on the data path, which is not there: end as "ERROR".
            PostCallEvent(acu, EV_HANGUP, RC_ERROR);
            q.test_substate = 8;
            break;
        }
        if (q.line_off_hook) {
            acu_go_on_hook(acu);
            q.test_countdown = kOnHookTicks;
            q.test_substate = 1;
            break;
        }
        acu_send_loop(acu, q.test_kind, true);
        q.test_timer = static_cast<uint16_t>(acu_seconds_ticks(acu->sreg[S_TEST_TIMER]));
        q.test_timer_armed = acu->sreg[S_TEST_TIMER] != 0;
        q.test_countdown = kLoopStartTicks;
        q.test_substate = 2;
        break;
    case 1:
        if (acu_carrier_present(acu) && q.test_countdown != 0)
            break;
        q.test_substate = 0;
        break;
    case 2:
        dte_raise_cts(acu->dte);
        if (q.test_countdown == 0) {
            q.test_substate = 8;
        } else if (acu_carrier_present(acu)) {
            q.test_countdown = kLoopConnectTicks;
            q.test_substate = 3;
        }
        break;
    case 3:
        if (q.test_countdown == 0) {
            q.test_substate = 8;
        } else if (acu_pump_state(acu) == kPumpStateLoop) {
            PostCallEvent(acu, EV_RESULT, RC_CONNECT_REPORT);
            q.test_substate = q.test_kind == TEST_ANALOG_SELF ? 7 : 6;
        }
        break;
    case 6:
        // The loop runs for the test time (S18); without one it ends at once, so a test never holds the
        // modem with nothing to end it.
        if (q.test_timer_armed && q.test_timer != 0)
            break;
        q.test_timer_armed = 0;
        if (q.break_pending) {
            q.break_pending = 0;
            PostCallEvent(acu, EV_BREAK, 0);
        } else {
            PostCallEvent(acu, EV_HANGUP, RC_OK);
        }
        break;
    case 7:
        q.selftest_errors = 0;
        q.test_substate = 6;
        break;
    case 8:
        acu_send_loop(acu, q.test_kind, false);
        q.test_countdown = kLoopReleaseTicks;
        q.test_substate = 9;
        break;
    case 9: {
        uint8_t state = acu_pump_state(acu);
        if (q.test_countdown != 0 && (state == 5 || state == 6))
            break;
        q.test_substate = 10;
        break;
    }
    case 10:
        q.test_substate = 11;
        if (q.test_command_pending) {
            PostCallEvent(acu, EV_COMMAND, 0);  // back to the command line that started the test
        } else {
            end_test(acu);
            PostCallEvent(acu, EV_TO_IDLE, 1);
            PostCallEvent(acu, EV_RESULT, acu->hangup_reason);
        }
        break;
    default:
        break;
    }
}

void acu_test_wait_bg(AcuContext* acu)
{
    CallSequences& q = acu->seq;
    uint8_t state = acu_pump_state(acu);
    if (state == 3)
        return;
    if (state == 2) {
        if (q.test_saved_state == CALL_COMMAND)
            PostCallEvent(acu, EV_COMMAND, 0);
        else if (q.test_saved_state == CALL_ONLINE)
            PostCallEvent(acu, EV_CONNECTED, 2);
        else
            PostCallEvent(acu, EV_TO_IDLE, 0);
    } else if (state == 0) {
        PostCallEvent(acu, EV_HANGUP, RC_NO_CARRIER);
    }
}

void acu_selftest_bg(AcuContext* acu)
{
    // The pattern test needs the data path; until it exists no characters are sent or counted.
    (void)acu;
}
