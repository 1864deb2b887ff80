// Origination: the originate background and the dial-string executor. One step per pass: the
// call-restriction check, the wait for dial tone (or the blind wait), one dial character, the connect
// phase and the wait for the connection. Digits, flashes and tone steps go to the data pump as DSP
// messages; the message handlers report the end of each step through acu_dsp_step_done.
#include <cstring>

#include "layer2/corecode/cmd/at_output.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/cmd/core_settings.h"
#include "layer2/corecode/dte/data_link_stubs.h"
#include "layer2/corecode/mt/dsp_device.h"
#include "layer2/corecode/mt/dsp_router.h"
#include "platform/kernel.h"

namespace {

constexpr uint8_t kResultDelayedCall = 9;
constexpr uint8_t kResultBlacklisted = 10;

// DSP message types of the dial steps.
constexpr uint8_t kPulseSelect = 5, kPulseDigit = 6, kPulseEnd = 7, kFlash = 8;
constexpr uint8_t kToneSelect = 6, kToneDigit = 7, kToneEnd = 8;
constexpr uint8_t kToneDetectArm = 3;
constexpr uint8_t kRestrictionCheck = 3;

bool has_restrictions(const AcuContext* acu)
{
    return acu->settings != nullptr && cb_has_restrictions(acu->settings->block);
}

void arm_dial_timer(AcuContext* acu, uint32_t ticks, uint8_t kind)
{
    acu->seq.dial_timer = ticks != 0 ? ticks : 1;
    acu->seq.dial_timer_kind = kind;
}

void stop_dial_timer(AcuContext* acu)
{
    acu->seq.dial_timer = 0;
    acu->seq.dial_timer_kind = DTIMER_NONE;
}

bool dial_timer_expired(const AcuContext* acu, uint8_t kind)
{
    return acu->seq.dial_timer_kind == kind && acu->seq.dial_timer == 0;
}

void wait_for(AcuContext* acu, uint8_t kind)
{
    acu->seq.dial_substate = DIAL_WAITING;
    acu->seq.wait_kind = kind;
}

// Asks the pump's tone detectors for dial tone: a class 4 type 3 message with one tone id, 1.
void arm_dial_tone_detection(AcuContext* acu)
{
    static const uint8_t request[2] = {1, 1};
    acu_dsp_message(acu, kMsgToneDetect, kToneDetectArm, false, request, sizeof request);
}

// Asks the pump's tone detectors for the call-progress tones heard while the call is set up: dial tone,
// busy, the second busy kind and ringback (tone ids 1, 3, 15, 5). Without them busy would never be reported.
void arm_progress_tone_detection(AcuContext* acu)
{
    if (acu->dsp != nullptr)
        dsp_detect_progress_tones(&acu->dsp->context);
}

// Posts the number check; without a handler for it the number is allowed at once.
bool post_restriction_check(AcuContext* acu)
{
    const char* number = acu->seq.dial_ptr;
    uint8_t data[sizeof number];
    std::memcpy(data, &number, sizeof number);
    if (!acu_dsp_message(acu, kMsgCountry, kRestrictionCheck, false, data, sizeof data))
        return false;
    acu->seq.restriction_busy = 1;
    wait_for(acu, WAIT_RESTRICTION);
    if (!acu_dsp_class_served(acu, kMsgCountry))
        acu_restriction_verdict(acu, 1);
    return true;
}

// Off hook, then the dial-tone wait or the blind wait before the first character.
void start_dialling(AcuContext* acu)
{
    CallSequences& q = acu->seq;
    acu_go_off_hook(acu, false);
    if (q.leased_line || q.dial_ptr == nullptr || q.dial_ptr[0] == 0) {
        q.dial_substate = DIAL_NEXT;  // nothing to dial: straight to the end of the string
        return;
    }
    if (acu_dialtone_detect(acu)) {
        uint32_t ms = acu->settings != nullptr ? cb_dial_tone_wait_ms(acu->settings->block) : 0;
        if (ms == 0)
            ms = acu->sreg[S_DIAL_TONE_WAIT] * 1000u;
        arm_dial_timer(acu, ms / 10u, DTIMER_NO_DIALTONE);
        arm_dial_tone_detection(acu);
        q.dial_substate = DIAL_TONE_WAIT;
    } else {
        arm_dial_timer(acu, acu_seconds_ticks(acu->sreg[S_DIAL_TONE_WAIT], 50), DTIMER_NEXT);
        wait_for(acu, WAIT_TIMER);
    }
}

// Sends a dial step and waits for the data pump to finish it; false when no message node was free.
bool dial_step(AcuContext* acu, uint8_t msg_class, uint8_t type, uint8_t data)
{
    if (!acu_dsp_message(acu, msg_class, type, false, &data, 1))
        return false;
    acu->seq.step_done = acu_dsp_class_served(acu, msg_class) ? 0 : 1;
    wait_for(acu, WAIT_STEP);
    return true;
}

void end_digit_run(AcuContext* acu)
{
    if (acu->seq.pulse)
        acu_dsp_message(acu, kMsgHook, kPulseEnd, false, nullptr, 0);
    else
        acu_dsp_message(acu, kMsgToneGen, kToneEnd, false, nullptr, 0);
}

// "S", "S=n": continues in a copy of the stored number; returns false when the characters name none.
void stored_number(AcuContext* acu)
{
    CallSequences& q = acu->seq;
    const char* p = q.dial_ptr;  // just after the "S"
    unsigned n = 0;
    if (*p == 0) {
        n = 0;
    } else if (*p == '=') {
        ++p;
        if (*p < '0' || *p > '3') {
            q.dial_ptr = p;  // "S" and "=" are consumed; dialling goes on with what follows
            return;
        }
        n = static_cast<unsigned>(*p - '0');
    } else {
        return;  // "S" followed by anything but "=" changes nothing
    }
    std::memset(q.stored_number, 0, sizeof q.stored_number);
    if (acu->settings != nullptr)
        std::memcpy(q.stored_number, &acu->settings->nv.bytes[nv_number_offset(n)], NV_NUMBER_SIZE);
    q.stored_number[sizeof q.stored_number - 1] = 0;
    q.dial_ptr = q.stored_number;
    if (has_restrictions(acu))
        post_restriction_check(acu);
}

void end_of_string(AcuContext* acu)
{
    CallSequences& q = acu->seq;
    if (q.dialling_active)
        end_digit_run(acu);
    q.dialling_active = 0;
    if (q.reverse) {
        q.reverse = 0;
        PostCallEvent(acu, EV_ANSWER, 0);
        return;
    }
    if (q.return_to_command) {
        q.return_to_command = 0;
        q.progress = 0;
        q.semicolon_ended = 1;
        if (!acu->voice_mode)
            PostCallEvent(acu, EV_COMMAND, 0);
        return;
    }
    q.dial_substate = DIAL_CONNECT;
}

// Executes one character of the dial string.
void dial_next(AcuContext* acu)
{
    CallSequences& q = acu->seq;
    const char* at = q.dial_ptr != nullptr ? q.dial_ptr : "";
    char c = *at;
    if (c == 0) {
        end_of_string(acu);
        return;
    }
    q.dial_ptr = at + 1;
    const CountryBlock* block = acu->settings != nullptr ? &acu->settings->block : nullptr;
    bool taken = true;
    switch (c) {
    case '0': case '1': case '2': case '3': case '4':
    case '5': case '6': case '7': case '8': case '9':
        taken = q.pulse ? dial_step(acu, kMsgHook, kPulseDigit, static_cast<uint8_t>(c))
                        : dial_step(acu, kMsgToneGen, kToneDigit, static_cast<uint8_t>(c));
        break;
    case 'A': case 'B': case 'C': case 'D': case '#': case '*':
        if (!q.pulse)
            taken = dial_step(acu, kMsgToneGen, kToneDigit, static_cast<uint8_t>(c));
        break;
    case ',':
        arm_dial_timer(acu, acu_seconds_ticks(acu->sreg[S_COMMA_PAUSE]), DTIMER_NEXT);
        wait_for(acu, WAIT_TIMER);
        break;
    case '!':
        taken = dial_step(acu, kMsgHook, kFlash, 0);
        break;
    case 'W':
        end_digit_run(acu);
        if (acu_dialtone_detect(acu)) {
            arm_dial_timer(acu, acu_seconds_ticks(acu->sreg[S_DIAL_TONE_WAIT]), DTIMER_NO_DIALTONE);
            arm_dial_tone_detection(acu);
            wait_for(acu, WAIT_DIAL_TONE);
        } else {
            arm_dial_timer(acu, acu_seconds_ticks(acu->sreg[S_COMMA_PAUSE]), DTIMER_NEXT);
            wait_for(acu, WAIT_TIMER);
        }
        break;
    case '@':
        end_digit_run(acu);
        arm_progress_tone_detection(acu);  // the wait goes by busy and ringback
        arm_dial_timer(acu, acu_seconds_ticks(acu->sreg[S_CARRIER_WAIT]), DTIMER_NO_ANSWER);
        q.ringback_seen = 0;
        q.silence_armed = 0;
        wait_for(acu, WAIT_QUIET);
        break;
    case 'P':
        if (block != nullptr && cb_pulse_allowed(*block)) {
            q.pulse = 1;
            acu->sreg[S_OPTIONS] |= S14_PULSE;
            acu_dsp_message(acu, kMsgHook, kPulseSelect, false, nullptr, 0);
        }
        break;
    case 'T':
        if (block != nullptr && cb_tone_allowed(*block)) {
            q.pulse = 0;
            acu->sreg[S_OPTIONS] &= static_cast<uint8_t>(~S14_PULSE);
            acu_dsp_message(acu, kMsgToneGen, kToneSelect, false, nullptr, 0);
        }
        break;
    case 'R':
        q.reverse = 1;
        break;
    case 'S':
        stored_number(acu);
        break;
    case 'J':
        q.flag_j = 1;
        break;
    case 'K':
        q.flag_k = 1;
        break;
    case ';':
        q.return_to_command = 1;
        end_of_string(acu);
        break;
    default:
        break;  // anything else is passed over
    }
    if (!taken)
        q.dial_ptr = at;  // no message node: the same character again on the next pass
}

void connect_phase(AcuContext* acu)
{
    CallSequences& q = acu->seq;
    if (acu_line(acu) == nullptr) {
        PostCallEvent(acu, EV_HANGUP, RC_NO_CARRIER);  // no line to connect on
        q.dial_substate = DIAL_NONE;
        return;
    }
    DbgPrint("Originate\n");
    q.connect_timer = acu_seconds_ticks(acu->sreg[S_CARRIER_WAIT]);
    q.connect_armed = 1;
    q.pump_left_idle = 0;
    q.dial_substate = DIAL_CONNECT_WAIT;
    if (acu_busy_detect(acu))
        arm_progress_tone_detection(acu);
    acu_send_start_packet(acu, true);
}

void connect_wait(AcuContext* acu)
{
    CallSequences& q = acu->seq;
    uint8_t state = acu_pump_state(acu);
    if (state != 0)
        q.pump_left_idle = 1;
    if (q.progress == 3 || (q.progress == 15 && acu_busy_detect(acu))) {
        q.disconnect_reason = q.progress == 3 ? DISC_BUSY : DISC_BUSY_SECOND;
        q.dial_substate = DIAL_NONE;
        PostCallEvent(acu, EV_HANGUP, RC_BUSY);
        return;
    }
    if (state == 8) {
        q.dial_substate = DIAL_NONE;
        fax_call_start(acu, 1);
        PostCallEvent(acu, EV_CONNECTED, 1);
        return;
    }
    if (state == 2) {
        q.dial_substate = DIAL_NONE;
        q.connect_armed = 0;
        conn_connected(acu);
        acu_start_data_link(acu);
        PostCallEvent(acu, EV_CONNECTED, 0);
        return;
    }
    // Back to idle after it started, or no connection within S7 seconds: the call failed.
    if ((state == 0 && q.pump_left_idle) || (q.connect_armed && q.connect_timer == 0)) {
        q.disconnect_reason = DISC_NO_CONNECTION;
        q.dial_substate = DIAL_NONE;
        q.connect_armed = 0;
        PostCallEvent(acu, EV_HANGUP, RC_NO_CARRIER);
    }
}

// One pass of the wait for dial tone: dial on when it is heard, give up with NO DIALTONE when the wait
// runs out.
void dial_tone_wait_step(AcuContext* acu)
{
    CallSequences& q = acu->seq;
    if (q.progress == 1) {
        stop_dial_timer(acu);
        q.dial_substate = DIAL_NEXT;
    } else if (dial_timer_expired(acu, DTIMER_NO_DIALTONE)) {
        stop_dial_timer(acu);
        q.disconnect_reason = DISC_NO_DIALTONE;
        q.dial_substate = DIAL_NONE;
        PostCallEvent(acu, EV_HANGUP, RC_NO_DIALTONE);
    }
}

void dial_waiting(AcuContext* acu)
{
    CallSequences& q = acu->seq;
    switch (q.wait_kind) {
    case WAIT_TIMER:
        if (dial_timer_expired(acu, DTIMER_NEXT)) {
            stop_dial_timer(acu);
            q.dial_substate = DIAL_NEXT;
        }
        break;
    case WAIT_STEP:
        if (q.step_done) {
            q.step_done = 0;
            q.dial_substate = DIAL_NEXT;
        }
        break;
    case WAIT_DIAL_TONE:
        dial_tone_wait_step(acu);
        break;
    case WAIT_QUIET:
        if (q.progress == 3) {
            stop_dial_timer(acu);
            q.disconnect_reason = DISC_BUSY;
            q.dial_substate = DIAL_NONE;
            PostCallEvent(acu, EV_HANGUP, RC_BUSY);
        } else if (q.progress == 5 || q.progress == 9) {
            q.ringback_seen = 1;
            q.silence_armed = 0;
        } else if ((q.progress == 4 || q.progress == 10) && q.ringback_seen && !q.silence_armed) {
            uint32_t ms = acu->settings != nullptr ? cb_silence_ms(acu->settings->block) : 0;
            q.silence_timer = ms / 10u != 0 ? ms / 10u : 1;
            q.silence_armed = 1;
        }
        if (q.dial_substate != DIAL_WAITING)
            break;
        if (q.silence_armed && q.silence_timer == 0) {
            q.silence_armed = 0;
            stop_dial_timer(acu);
            q.dial_substate = DIAL_NEXT;
        } else if (dial_timer_expired(acu, DTIMER_NO_ANSWER)) {
            stop_dial_timer(acu);
            q.dial_substate = DIAL_NONE;
            PostCallEvent(acu, EV_HANGUP, RC_NO_ANSWER);
        }
        break;
    default:
        break;  // the restriction verdict moves on by itself
    }
}

// The steps before the connect phase, shared by data and voice dialling. Returns true when the string
// is done and the connect phase is due.
bool dial_steps(AcuContext* acu)
{
    CallSequences& q = acu->seq;
    switch (q.dial_substate) {
    case DIAL_START:
        if (q.restriction_busy)
            break;
        if (acu_line(acu) == nullptr) {
            // No data pump bound: there is no line to dial on.
            q.dial_substate = DIAL_NONE;
            PostCallEvent(acu, EV_HANGUP, RC_NO_CARRIER);
            break;
        }
        q.flag_j = 0;
        q.flag_k = 0;
        q.reverse = 0;
        q.return_to_command = 0;
        q.dialling_active = 1;
        q.pulse = at_opt_pulse(acu);
        if (!has_restrictions(acu) || q.leased_line) {
            start_dialling(acu);
        } else {
            if (q.dial_ptr != nullptr && q.dial_ptr[0] == 'S') {
                q.dial_ptr += 1;
                stored_number(acu);  // a stored number gets its own check
                if (q.dial_ptr == q.stored_number)
                    break;
            }
            post_restriction_check(acu);
        }
        break;
    case DIAL_RESUME:
        q.dial_substate = DIAL_CONNECT;
        return true;
    case DIAL_TONE_WAIT:
        dial_tone_wait_step(acu);
        break;
    case DIAL_NEXT:
        dial_next(acu);
        break;
    case DIAL_CONNECT:
        return true;
    case DIAL_WAITING:
        dial_waiting(acu);
        break;
    default:
        break;
    }
    return false;
}

}  // namespace

void acu_dsp_step_done(AcuContext* acu)
{
    acu->seq.step_done = 1;
}

void acu_restriction_verdict(AcuContext* acu, uint8_t verdict)
{
    CallSequences& q = acu->seq;
    if (!q.restriction_busy)
        return;
    q.restriction_busy = 0;
    if (acu->call_state != CALL_ORIGINATE || q.dial_substate != DIAL_WAITING || q.wait_kind != WAIT_RESTRICTION)
        return;
    switch (verdict) {
    case 1:
        if (!q.line_off_hook)
            start_dialling(acu);
        else
            q.dial_substate = DIAL_NEXT;
        break;
    case 2:
        q.restriction_state = 3;
        q.dial_substate = DIAL_NONE;
        PostCallEvent(acu, EV_HANGUP, kResultDelayedCall);
        break;
    default:
        q.restriction_state = 4;
        q.disconnect_reason = DISC_BLACKLISTED;
        q.dial_substate = DIAL_NONE;
        PostCallEvent(acu, EV_HANGUP, kResultBlacklisted);
        break;
    }
}

void acu_originate_bg(AcuContext* acu)
{
    CallSequences& q = acu->seq;
    if (dial_steps(acu)) {
        if (q.dial_substate == DIAL_CONNECT)
            connect_phase(acu);
        return;
    }
    if (q.dial_substate == DIAL_CONNECT_WAIT)
        connect_wait(acu);
}

// Voice dialling: the same steps; at the end of the string the voice engine takes over from the command
// state.
void acu_voice_originate_bg(AcuContext* acu)
{
    if (dial_steps(acu)) {
        acu->seq.dial_substate = DIAL_NONE;
        PostCallEvent(acu, EV_COMMAND, 0);
    }
}
