// Hang-up in its orderly steps (data pump told to clear down, wait for the carrier to go, on hook, the
// outputs and flags of the call cleared, the result reported), the on-line monitor and the Idle
// background. Every wait has a countdown, so a hang-up always ends in Idle (or Command) with its result.
#include "layer2/corecode/cmd/at_collector.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/cmd/conn_control.h"
#include "layer2/corecode/cmd/core_settings.h"
#include "layer2/corecode/cmd/v80_poll.h"
#include "layer2/corecode/dte/data_link_stubs.h"
#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/mt/dsp_router.h"
#include "platform/kernel.h"

namespace {

constexpr uint16_t kCarrierWaitNoCarrier = 250;  // ticks for the carrier to go after "NO CARRIER"
constexpr uint16_t kCarrierWaitOther = 500;
constexpr uint16_t kLinkDisconnectWait = 300;  // ticks for the error-corrected link's disconnect
constexpr uint8_t kRestrictionFailed = 4;
constexpr uint8_t kRestrictionSucceeded = 5;

// Step 8: the outputs and the flags of the call.
void hangup_cleanup(AcuContext* acu)
{
    CallSequences& q = acu->seq;
    DteContext* d = acu->dte;
    v80_end(acu);
    ec_stop(d);
    conn_mark_modulation_family(acu, acu->conn.modulation, false);
    // Whatever the connection left in the data rings goes with it (counted as discards).
    dte_from_clear(d);
    dte_to_clear(d);
    q.release_dte_pending = 0;
    if (!at_opt_amp_s(acu))
        dte_raise_dsr(d);
    if (at_opt_amp_c(acu))
        dte_drop_dcd(d);  // DCD follows the carrier
    dte_drop_ri(d);
    acu->online = 0;
    acu->originating = 0;
    acu->answering = 0;
    acu->hangup_pending = 0;
    q.dial_substate = DIAL_NONE;
    q.answer_substate = 0;
    q.answer_timer_armed = 0;
    q.connect_armed = 0;
    q.dial_timer_kind = DTIMER_NONE;
    q.silence_armed = 0;
    q.flag_j = 0;
    q.flag_k = 0;
    q.hold_flag = 0;
    q.dialling_active = 0;
}

void hangup_finish(AcuContext* acu)
{
    hangup_cleanup(acu);
    if (acu->return_to_command) {
        // H or Z typed in the command state: the command line goes on.
        acu->return_to_command = 0;
        acu->state_variant[CALL_IDLE] = 0;  // no connection is held any more
        if (acu->state_variant[CALL_HANGUP] == 2)
            acu->state_variant[CALL_COMMAND] = 0;
        PostCallEvent(acu, EV_COMMAND, 0);
        return;
    }
    PostCallEvent(acu, EV_TO_IDLE, 0);
    acu_clamp_dte(acu);
    PostCallEvent(acu, EV_RESULT, acu->hangup_reason);
}

}  // namespace

void acu_hangup_bg(AcuContext* acu)
{
    CallSequences& q = acu->seq;
    switch (q.hangup_substate) {
    case 0:
        // A call ended from the command state (H after the escape), or one whose link is already sending its
        // disconnect, ends the error-corrected link first: the far end hears DISC or LD and hangs up on it
        // rather than on the loss of the carrier. Waiting for data still to be sent is not done.
        if (acu_carrier_present(acu) &&
            (ec_disconnecting(acu->dte) ||
             (acu->state_variant[CALL_IDLE] == 1 && ec_disconnect(acu->dte, EC_DISCONNECT_LOCAL)))) {
            q.hangup_countdown = kLinkDisconnectWait;
            q.hangup_substate = 2;
        } else {
            q.hangup_substate = 3;
        }
        break;
    case 1:
        q.hangup_substate = 3;
        break;
    case 2:
        if (ec_disconnecting(acu->dte) && q.hangup_countdown != 0 && acu_carrier_present(acu))
            break;
        ec_stop(acu->dte);
        q.hangup_substate = 3;
        break;
    case 3:
        acu_digital_loop_stop(acu);  // a loop on the connection ends with it
        q.data_path_test = 0;
        if (at_opt_y(acu) && !q.hold_flag) {
            q.hangup_countdown = q.hold_time;
            q.hangup_substate = 4;
        } else {
            q.hold_flag = 0;
            q.hangup_substate = 5;
        }
        break;
    case 4:
        if (q.hangup_countdown == 0) {
            q.disconnect_reason = DISC_HOLD_TIME;
            q.hangup_substate = 5;
        }
        break;
    case 5:
        if (q.line_off_hook || acu_pump_state(acu) != 0) {
            if (q.disconnect_reason == DISC_NONE)
                q.disconnect_reason = DISC_CLEARDOWN;
            acu_send_pump_hangup(acu, acu->fax_class == 0);
        }
        q.hangup_countdown = acu->hangup_reason == RC_NO_CARRIER ? kCarrierWaitNoCarrier : kCarrierWaitOther;
        q.hangup_substate = 6;
        break;
    case 6:
        if (!acu_carrier_present(acu) || q.hangup_countdown == 0)
            q.hangup_substate = 7;
        break;
    case 7:
        if (q.line_off_hook) {
            if (acu->settings != nullptr && cb_has_restrictions(acu->settings->block) && acu->originating)
                acu_dsp_message(acu, kMsgCountry, q.connect_reported ? kRestrictionSucceeded : kRestrictionFailed,
                                false, nullptr, 0);
            acu_go_on_hook(acu);
            DbgPrint("Hangup\n");
        }
        q.hangup_substate = 8;
        break;
    case 8:
        q.hangup_substate = 10;  // done; the events below move the machine on
        hangup_finish(acu);
        break;
    case 9:
        fax_abort(acu);  // fax: the engine ends the call's modulation, line path and fax DTE
        q.hangup_substate = 5;
        break;
    default:
        break;
    }
}

void acu_online_monitor_bg(AcuContext* acu)
{
    CallSequences& q = acu->seq;
    acu_data_link_monitor(acu);
    if (q.break_pending) {
        q.break_pending = 0;
        PostCallEvent(acu, EV_BREAK, 0);
    }
    if (q.hold_flag) {
        if (at_opt_y(acu)) {
            q.disconnect_reason = DISC_HOLD_TIME;
            PostCallEvent(acu, EV_HANGUP, RC_NO_CARRIER);
        } else {
            q.hold_flag = 0;
        }
        return;
    }
    if (q.progress == 8) {
        q.progress_ended = 1;
        PostCallEvent(acu, EV_HANGUP, RC_NO_CARRIER);
    }
}

void acu_idle_bg(AcuContext* acu)
{
    DteContext* d = acu->dte;
    if (!at_opt_amp_s(acu) && acu->seq.dtr_dial_mode == 0)
        dte_raise_dsr(d);
    if (!at_opt_amp_c(acu))
        dte_raise_dcd(d);
    if (acu->ring_timer == 0)
        acu->sreg[S_RING_COUNT] = 0;
    dte_raise_cts(d);
}
