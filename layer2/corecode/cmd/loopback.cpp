// The loop-back tests (&T): the analog loop through the data pump, started from the command state; the local
// digital loop on a held connection; the remote digital loop, with or without the self-test pattern, once
// the data pump reports the far end's loop; all ended by the test timer (S18), &T0, a hang-up or DTR; and
// the loop the data pump asks for on behalf of the far modem.
#include "layer2/corecode/cmd/at_output.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/dte/dte.h"

namespace {

constexpr uint16_t kOnHookTicks = 1000;
constexpr uint16_t kLoopStartTicks = 1000;  // for the data pump to take the loop
constexpr uint16_t kLoopConnectTicks = 200;
constexpr uint16_t kLoopReleaseTicks = 250;
constexpr uint8_t kPumpStateLoop = 5;
constexpr uint16_t kPatternDrainEnd = kLoopReleaseTicks - 50;  // 0.5 s for the last pattern to come back

bool analog(uint8_t kind) { return kind == TEST_ANALOG || kind == TEST_ANALOG_SELF; }

void end_test(AcuContext* acu)
{
    CallSequences& q = acu->seq;
    if (q.test_kind != TEST_NONE && q.test_substate < 8) {
        if (analog(q.test_kind))
            acu_send_loop(acu, q.test_kind, false);
        else
            acu_test_data_path(acu, false);
    }
    acu_digital_loop_stop(acu);
    // Back to the rows the test started from; the self-test rows only last while a self-test runs, so a
    // finished test never leaves the machine in them (where dial and answer requests would go unheard).
    uint8_t row = q.test_saved_row == 4 ? 0 : q.test_saved_row;
    acu->state_variant[CALL_IDLE] = row;
    acu->state_variant[CALL_COMMAND] = row;
    q.test_kind = TEST_NONE;
    acu->sreg[16] = 0;  // no test bit stays set once the test is over
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
        q.data_path_test = 1;  // the far modem's loop: this side sends back what it receives
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
    acu->seq.data_path_test = 0;
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

namespace {

// Sub-state 0: start the test of the kind asked for.
void test_start(AcuContext* acu)
{
    CallSequences& q = acu->seq;
    if (q.test_kind == TEST_DIGITAL) {
        // The loop runs on the held connection's data path while the modem takes commands again.
        acu_digital_loop_start(acu);
        q.test_substate = 11;
        PostCallEvent(acu, EV_TO_IDLE, 1);
        return;
    }
    if (!analog(q.test_kind)) {
        acu_request_remote_loop(acu);
        q.test_countdown = kLoopStartTicks;
        q.test_substate = 2;
        return;
    }
    if (q.line_off_hook) {
        acu_go_on_hook(acu);
        q.test_countdown = kOnHookTicks;
        q.test_substate = 1;
        return;
    }
    acu_send_loop(acu, q.test_kind, true);
    acu_arm_test_timer(acu);
    q.test_countdown = kLoopStartTicks;
    q.test_substate = 2;
}

// Sub-state 2 of the remote loops: wait for the data pump to report the far end's loop.
void remote_wait(AcuContext* acu)
{
    CallSequences& q = acu->seq;
    if (acu_pump_state(acu) == kPumpStateLoop) {
        acu_arm_test_timer(acu);
        if (q.test_kind == TEST_REMOTE) {
            // The DTE's data goes over the loop once the report has gone out (the test's data step).
            PostCallEvent(acu, EV_RESULT, RC_CONNECT_REPORT);
            q.test_substate = 6;
        } else {
            q.test_substate = 7;
        }
    } else if (q.test_countdown == 0) {
        PostCallEvent(acu, EV_HANGUP, RC_ERROR);  // the far end never looped
        q.test_substate = 8;
    }
}

// Sub-state 6: the test runs for its test time (S18); without one it ends at once, so a test never holds
// the modem with nothing to end it.
void test_running(AcuContext* acu)
{
    CallSequences& q = acu->seq;
    if (q.test_kind == TEST_REMOTE_SELF || q.test_kind == TEST_ANALOG_SELF)
        acu_selftest_step(acu);
    if (q.test_timer_armed && q.test_timer != 0)
        return;
    q.test_timer_armed = 0;
    if (q.break_pending) {
        q.break_pending = 0;
        PostCallEvent(acu, EV_BREAK, 0);
    } else {
        PostCallEvent(acu, EV_HANGUP, RC_OK);
    }
}

void test_release(AcuContext* acu)
{
    CallSequences& q = acu->seq;
    if (analog(q.test_kind))
        acu_send_loop(acu, q.test_kind, false);
    else
        acu_test_data_path(acu, false);
    q.test_countdown = kLoopReleaseTicks;
    q.test_substate = 9;
}

void test_finish(AcuContext* acu)
{
    CallSequences& q = acu->seq;
    q.test_substate = 11;
    if (q.test_kind == TEST_REMOTE_SELF || q.test_kind == TEST_ANALOG_SELF)
        acu_selftest_report(acu);
    if (q.test_command_pending) {
        PostCallEvent(acu, EV_COMMAND, 0);  // back to the command line that started the test
    } else {
        end_test(acu);
        PostCallEvent(acu, EV_TO_IDLE, 1);
        PostCallEvent(acu, EV_RESULT, acu->hangup_reason);
    }
}

}  // namespace

void acu_test_bg(AcuContext* acu)
{
    CallSequences& q = acu->seq;
    switch (q.test_substate) {
    case 0:
        test_start(acu);
        break;
    case 1:
        if (acu_carrier_present(acu) && q.test_countdown != 0)
            break;
        q.test_substate = 0;
        break;
    case 2:
        if (!analog(q.test_kind)) {
            remote_wait(acu);
            break;
        }
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
        test_running(acu);
        break;
    case 7:
        if (q.test_kind == TEST_REMOTE_SELF)
            PostCallEvent(acu, EV_RESULT, RC_CONNECT_REPORT);
        selftest_reset(&q.selftest);
        q.test_substate = 6;
        break;
    case 8:
        test_release(acu);
        break;
    case 9: {
        // The pattern still on its way back belongs to the test: it is checked for a round trip at least.
        const bool self = q.test_kind == TEST_REMOTE_SELF || q.test_kind == TEST_ANALOG_SELF;
        if (self)
            selftest_check(&q.selftest, acu->dte != nullptr ? acu->dte->line_block : nullptr);
        uint8_t state = acu_pump_state(acu);
        if (q.test_countdown != 0 && (state == 5 || state == 6 || (self && q.test_countdown > kPatternDrainEnd)))
            break;
        q.test_substate = 10;
        break;
    }
    case 10:
        test_finish(acu);
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
    if (state == 2 || state == 0)
        q.data_path_test = 0;
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
    uint8_t kind = acu->seq.test_kind;
    if (kind == TEST_REMOTE_SELF || kind == TEST_ANALOG_SELF)
        acu_selftest_step(acu);
}
