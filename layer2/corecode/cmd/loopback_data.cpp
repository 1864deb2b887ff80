// The data path of the loop-back tests: the local digital loop on a held connection (&T3), the DTE's data
// over the far end's loop (&T6), the self-test pattern and its error count (&T7, &T8), and the loop this
// side runs when the data pump reports that the far modem asked for one. Call control runs
// acu_test_data_step in place of error control while a test owns the data path.
#include "layer2/corecode/cmd/at_collector.h"
#include "layer2/corecode/cmd/at_output.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/dce/buffered_mode.h"
#include "layer2/corecode/dce/line_block.h"
#include "layer2/corecode/dce/loop_test.h"
#include "layer2/corecode/dte/dte.h"

namespace {

LineBlock* line_of(AcuContext* acu) { return acu->dte != nullptr ? acu->dte->line_block : nullptr; }

bool retraining(AcuContext* acu)
{
    uint8_t state = acu_pump_state(acu);
    return state == 3 || state == 13;
}

}  // namespace

bool acu_digital_loop_possible(AcuContext* acu)
{
    // A held data connection on the plain path: on a framed (error-controlled) link the received bytes are
    // frames of the protocol, which a loop cannot return.
    LineBlock* lb = line_of(acu);
    return acu->online && acu->state_variant[CALL_IDLE] == 1 && lb != nullptr &&
           lb->mode.load() == LINE_MODE_PLAIN && acu->seq.test_kind == TEST_NONE;
}

void acu_arm_test_timer(AcuContext* acu)
{
    CallSequences& q = acu->seq;
    q.test_timer = static_cast<uint16_t>(acu_seconds_ticks(acu->sreg[S_TEST_TIMER]));
    q.test_timer_armed = acu->sreg[S_TEST_TIMER] != 0;
}

void acu_digital_loop_start(AcuContext* acu)
{
    acu->seq.digital_loop = 1;
    acu_arm_test_timer(acu);
}

void acu_digital_loop_stop(AcuContext* acu)
{
    CallSequences& q = acu->seq;
    if (!q.digital_loop)
        return;
    q.digital_loop = 0;
    q.test_timer_armed = 0;
    if (q.test_kind == TEST_DIGITAL) {
        q.test_kind = TEST_NONE;
        acu->sreg[16] = 0;
        acu->test_state = 0;
    }
}

void acu_request_remote_loop(AcuContext* acu)
{
    // The data pump's command set has no request that makes the far modem loop; the far end's loop shows
    // only as the data pump's loop state, which the test waits for until its countdown ends it.
    (void)acu;
}

void acu_test_data_path(AcuContext* acu, bool on)
{
    if (acu->seq.test_kind != TEST_REMOTE || acu->dte == nullptr)
        return;
    if (on) {
        acu_release_dte(acu);
        dte_to_data_mode(acu->dte);
    } else {
        dte_clamp_hold(acu->dte);
    }
}

void acu_selftest_step(AcuContext* acu)
{
    if (retraining(acu))
        return;
    LineBlock* lb = line_of(acu);
    selftest_send(&acu->seq.selftest, lb);
    selftest_check(&acu->seq.selftest, lb);
}

void acu_selftest_report(AcuContext* acu)
{
    char text[4];
    PrintToDte(acu, at_three_digit_text(text, acu->seq.selftest.errors), 1);
}

void acu_test_data_step(AcuContext* acu)
{
    CallSequences& q = acu->seq;
    LineBlock* lb = line_of(acu);
    if (q.data_path_test) {
        loop_digital_poll(lb);
        return;
    }
    if (q.digital_loop) {
        // The loop lasts while the connection is held in the command state, for the test time when one is set.
        if (acu->call_state == CALL_ONLINE || !acu->online || (q.test_timer_armed && q.test_timer == 0)) {
            acu_digital_loop_stop(acu);
            return;
        }
        loop_digital_poll(lb);
        return;
    }
    if (q.test_kind == TEST_REMOTE && q.test_substate == 6 && acu->dte != nullptr) {
        if (acu->dte->flow.clamp.load())
            acu_test_data_path(acu, true);  // the connection has been reported on the pass before
        if (acu->dte->escape_event.exchange(0) != 0)
            PostCallEvent(acu, EV_BREAK, 0);
        buffered_mode_poll(acu->dte, lb);
    }
}
