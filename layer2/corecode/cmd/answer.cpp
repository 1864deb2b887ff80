// Answering: off hook, the answer detectors and the answer timer, then the start packet and the wait for
// the connection. One step per pass of call control.
#include "layer2/corecode/cmd/at_output.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/mt/dsp_commands.h"
#include "layer2/corecode/dte/data_link_stubs.h"
#include "platform/kernel.h"

namespace {

constexpr uint16_t kAnswerDelayTicks = 200;  // before the answer tone
constexpr uint16_t kAdaptiveTicks = 400;     // voice/data discrimination of adaptive answer

// The answer timer: without a connection "NO CARRIER", else an ordinary hang-up.
bool answer_timer_expired(AcuContext* acu)
{
    CallSequences& q = acu->seq;
    if (!q.answer_timer_armed || q.answer_timer != 0)
        return false;
    q.answer_timer_armed = 0;
    q.answer_substate = 0xFF;
    if (q.connect_reported) {
        q.disconnect_reason = DISC_ANSWER_TIMER;
        PostCallEvent(acu, EV_HANGUP, RC_OK);
    } else {
        PostCallEvent(acu, EV_HANGUP, RC_NO_CARRIER);
    }
    return true;
}

// Adaptive answer (+FAA / +FAE) in a fax class: the data pump listens in voice mode for the calling tone
// before the answer.
bool adaptive(const AcuContext* acu) { return acu->fax_class != 0 && acu->fax.adaptive_answer != 0; }

// What adaptive answer found, before the connection goes on: a fax caller (its calling tone was heard) or a
// data caller, for whom the class returns to data.
void report_adaptive(AcuContext* acu, bool fax)
{
    const bool verbal = (acu->sreg[S_OPTIONS] & S14_VERBAL) != 0;
    if (fax) {
        PrintToDte(acu, verbal ? "FAX" : "15", verbal ? 1 : 0);
        return;
    }
    PrintToDte(acu, verbal ? "DATA" : "13", verbal ? 1 : 0);
    fax_mode_end(acu, 1);
    acu->fax_class = 0;
}

}  // namespace

void acu_arm_answer_timer(AcuContext* acu)
{
    CallSequences& q = acu->seq;
    if (q.answer_timer_armed)
        return;
    q.answer_timer = static_cast<uint16_t>(acu_seconds_ticks(acu->sreg[S_CARRIER_WAIT]));
    q.answer_timer_armed = 1;
}

void acu_answer_bg(AcuContext* acu)
{
    CallSequences& q = acu->seq;
    if (answer_timer_expired(acu))
        return;
    switch (q.answer_substate) {
    case 0:
        if (q.progress == 2)
            break;
        acu->answering = 1;
        acu_go_off_hook(acu, true);
        acu_arm_answer_timer(acu);
        q.no_voice_seen = 0;
        // Adaptive answer (voice/data discrimination) belongs to the fax and voice classes.
        if (adaptive(acu)) {
            if (acu_line(acu) != nullptr)
                dsp_start_voice(acu_line(acu), 0, 0, 2);
            q.answer_countdown = kAdaptiveTicks;
            q.answer_substate = 1;
        } else if (acu->fax_class != 0 && acu->voice_mode) {
            q.answer_countdown = kAdaptiveTicks;
            q.answer_substate = 1;
        } else {
            q.answer_countdown = kAnswerDelayTicks;
            q.answer_substate = 2;
        }
        break;
    case 1:
        if (acu_take_event_char(acu) == 'N') {
            q.no_voice_seen = 1;
            q.answer_countdown = 0;
        }
        if (q.answer_countdown == 0)
            q.answer_substate = 2;
        break;
    case 2:
        if (q.answer_countdown != 0)
            break;
        if (acu_line(acu) == nullptr) {
            q.answer_substate = 0xFF;
            PostCallEvent(acu, EV_HANGUP, RC_NO_CARRIER);  // no line to answer on
            break;
        }
        DbgPrint("Answer\n");
        q.pump_left_idle = 0;
        acu_send_start_packet(acu, false);
        q.answer_substate = 3;
        break;
    case 3: {
        uint8_t state = acu_pump_state(acu);
        if (state != 0)
            q.pump_left_idle = 1;
        if (state == 8) {
            q.answer_substate = 0xFF;
            if (adaptive(acu) && q.no_voice_seen)
                report_adaptive(acu, true);
            fax_call_start(acu, 0);
            PostCallEvent(acu, EV_CONNECTED, 1);
        } else if (state == 2) {
            q.answer_substate = 0xFF;
            if (adaptive(acu))
                report_adaptive(acu, false);
            q.answer_timer_armed = 0;
            conn_connected(acu);
            acu_start_data_link(acu);
            PostCallEvent(acu, EV_CONNECTED, 0);
        } else if (state == 0 && q.pump_left_idle) {
            q.answer_substate = 0xFF;
            PostCallEvent(acu, EV_HANGUP, q.connect_reported ? RC_OK : RC_NO_CARRIER);
        }
        break;
    }
    default:
        break;  // the outcome is posted; the state changes with it
    }
}
