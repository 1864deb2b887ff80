// The voice engine's life: start-up and defaults, the 10 ms tick, the step call control runs (with the events
// it posts for the engine's results), ringback supervision after dialling, and the ways out of a transfer.
#include "layer2/corecode/voice/voice_engine.h"

#include "layer2/corecode/cmd/at_context.h"
#include "layer2/corecode/cmd/at_ticks.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/mt/dsp_device.h"
#include "layer2/corecode/mt/dsp_link_context.h"
#include "layer2/corecode/mt/dsp_router.h"
#include "layer2/corecode/voice/voice_codecs.h"
#include "layer2/corecode/voice/voice_events.h"
#include "layer2/corecode/voice/voice_path.h"
#include "layer2/corecode/voice/voice_transfer.h"

namespace {

constexpr uint8_t kDefaultCodec = 6;          // method 140
constexpr uint16_t kDefaultRate = 8000;
constexpr uint16_t kRecordOverrunLevel = 512;
constexpr uint16_t kRingbackWaitTicks = 150;
constexpr uint16_t kDialToneGuardTicks = 30;
constexpr uint8_t kMsgVoiceRequest = 8;       // class-3 message type of a DSP request for the engine
constexpr uint32_t kDspWaitLimitMs = 500;
constexpr uint8_t kResultRingback = 12;       // "RINGBACK"

void count_down16(uint16_t* value)
{
    if (*value != 0)
        --*value;
}

bool transferring(const VoiceEngine& v) { return v.state >= VS_PLAY_START && v.state <= VS_TONES; }

// Ringback supervision after dialling: a ringback report (8), a busy report (9), or the end of the +VRA /
// +VRN times (5, the call is given up).
uint8_t ringback_step(AcuContext* acu)
{
    VoiceEngine& v = acu->voice;
    if (v.state == VS_RINGBACK) {
        if (v.wait == 0) {
            v.state = VS_RINGBACK_RUN;
            voice_restart_ringback_timers(acu);
        }
        return 0;
    }
    const uint8_t seen = v.last_progress;
    v.last_progress = 0;
    if (seen == 'b') {
        v.state = VS_IDLE;
        return VOICE_RESULT_BUSY;
    }
    if (seen == 'r')
        return VOICE_RESULT_RINGBACK;
    if ((v.vra != 0 && v.ringback_countdown == 0) || (v.vrn != 0 && v.no_ringback_countdown == 0)) {
        v.state = VS_IDLE;
        return VOICE_RESULT_LINE_TAKEN;
    }
    return 0;
}

}  // namespace

void voice_init(AcuContext* acu)
{
    VoiceEngine& v = acu->voice;
    voice_codecs_fill(v.codecs);
    v.gain_min = 121;
    v.gain_max = 131;
    v.codec = kDefaultCodec;
    v.rate = kDefaultRate;
    v.record_overrun_level = kRecordOverrunLevel;
    v.state = VS_OFF;
    v.dte_state = VOICE_DTE_NONE;
    const VoiceCodecEntry& c = v.codecs[v.codec];
    v.masks[0] = c.play_mask;
    v.masks[1] = c.record_mask;
    v.masks[2] = c.idle_mask;
    voice_defaults(acu);
    if (acu->dte != nullptr) {
        acu->dte->voice = &v;
        uint16_t size;
        dte_ring_sizes(acu->dte, &size, &v.mark_high, &v.mark_low);
    }
}

void voice_defaults(AcuContext* acu)
{
    VoiceEngine& v = acu->voice;
    v.vra = 0;
    v.vrn = 0;
    v.silence_sensitivity = 128;
    v.silence_duration = 50;
    v.tone_duration = 35;
    v.mark_low = 256;
    v.mark_high = 896;
    v.gain_mic = 128;
    v.gain_spk = 128;
    v.gain_rx = 131;
    v.gain_tx = 131;
}

void voice_set_params(AcuContext* acu, uint8_t voice_mark, uint8_t speaker_bits, uint8_t flo, uint8_t vcid)
{
    VoiceEngine& v = acu->voice;
    v.voice_mark = voice_mark;
    v.speaker_bits = speaker_bits;
    v.flo = flo;
    v.vcid = vcid;
}

void voice_tick(AcuContext* acu)
{
    VoiceEngine& v = acu->voice;
    if (v.state == VS_OFF)
        return;
    count_down16(&v.wait);
    count_down16(&v.startup_delay);
    count_down16(&v.ringback_countdown);
    count_down16(&v.no_ringback_countdown);
    for (uint16_t& g : v.guard)
        count_down16(&g);
    if (v.inactivity_enabled && v.inactivity_countdown != 0)
        --v.inactivity_countdown;
}

uint8_t voice_run(AcuContext* acu)
{
    VoiceEngine& v = acu->voice;
    if (v.state == VS_OFF)
        return 0;
    voice_report_events(acu, acu->seq.progress);
    if (voice_inactivity_expired(acu)) {
        voice_transfer_abort(acu);
        voice_path_reset(acu);
        v.inactivity_enabled = 0;
        v.state = VS_WAITING;
        v.dte_state = VOICE_DTE_NONE;
        return VOICE_RESULT_INACTIVITY;
    }
    switch (v.state) {
    case VS_RESET:
        v.state = v.line_taken ? VS_IDLE : VS_WAITING;
        return 0;
    case VS_STOP_DETECTORS:
        if (acu->dsp != nullptr)
            dsp_stop_tone_detect(&acu->dsp->context);
        v.state = VS_IDLE;
        return 0;
    case VS_RINGBACK:
    case VS_RINGBACK_RUN: return ringback_step(acu);
    case VS_CONNECT:
        v.state = VS_IDLE;
        return VOICE_RESULT_DONE;
    case VS_RESTART:
        v.state = VS_RESET;
        return 0;
    default: return transferring(v) ? voice_transfer_step(acu) : 0;
    }
}

void voice_poll(AcuContext* acu)
{
    VoiceEngine& v = acu->voice;
    if (acu->fax_class != 8 || !acu->voice_mode) {
        if (v.state != VS_OFF)
            voice_end(acu);
        return;
    }
    if (v.state == VS_OFF) {
        voice_defaults(acu);
        voice_drop_events(acu);
        v.state = VS_RESET;
    }
    switch (voice_run(acu)) {
    case VOICE_RESULT_DONE:
        PostCallEvent(acu, EV_TO_IDLE, 0);
        PostCallEvent(acu, EV_RESULT, RC_OK);
        break;
    case VOICE_RESULT_LINE_TAKEN: PostCallEvent(acu, EV_HANGUP, RC_OK); break;
    case VOICE_RESULT_CONNECTED: PostCallEvent(acu, EV_CONNECTED, 1); break;
    case VOICE_RESULT_INACTIVITY:
        // The application stayed silent: the line is released and the application hears of it.
        PostCallEvent(acu, EV_TO_IDLE, 0);
        PostCallEvent(acu, EV_RESULT, RC_NO_CARRIER);
        break;
    case VOICE_RESULT_RINGBACK: PostCallEvent(acu, EV_RESULT, kResultRingback); break;
    case VOICE_RESULT_BUSY: PostCallEvent(acu, EV_RESULT, RC_BUSY); break;
    default: break;
    }
}

void voice_stop(AcuContext* acu)
{
    if (acu->voice.state == VS_OFF)
        return;
    voice_transfer_abort(acu);
    acu->voice.state = VS_RESET;
}

void voice_set_idle(AcuContext* acu)
{
    if (acu->voice.state != VS_OFF)
        acu->voice.state = VS_RESET;
}

void voice_end(AcuContext* acu)
{
    VoiceEngine& v = acu->voice;
    voice_transfer_abort(acu);
    voice_path_reset(acu);
    v.state = VS_OFF;
    v.dte_state = VOICE_DTE_NONE;
    v.connection_flag = 0;
    v.inactivity_enabled = 0;
}

void voice_action(AcuContext* acu, uint8_t action)
{
    VoiceEngine& v = acu->voice;
    if (action == 0) {
        if (acu->dsp != nullptr)
            dsp_stop_tone_detect(&acu->dsp->context);
        v.state = VS_RINGBACK;
        v.wait = kRingbackWaitTicks;
        v.guard[VG_DIAL] = kDialToneGuardTicks;
        v.last_progress = 0;
        return;
    }
    v.device_type = 1;
    if (!v.line_taken)
        voice_path_enable(acu, 1);
    v.dte_state = VOICE_DTE_COMMAND;
    v.state = VS_STOP_DETECTORS;
}

void voice_clear_wait_state(AcuContext* acu)
{
    acu->voice.dsp_wait = 0;
    acu->voice.handset_polls = 0;
}

bool voice_dsp_request_wait(AcuContext* acu)
{
    VoiceEngine& v = acu->voice;
    v.dsp_wait = 1;
    if (!acu_dsp_message(acu, kMsgHook, kMsgVoiceRequest, false, nullptr, 0)) {
        v.dsp_wait = 0;
        return false;
    }
    // Bounded: a request nobody answers gives up instead of holding the command side for ever.
    for (uint32_t ms = 0; v.dsp_wait && ms < kDspWaitLimitMs && acu_may_wait(acu); ++ms) {
        acu_sleep_1ms();
        acu_service_ticks(acu);
    }
    const bool answered = v.dsp_wait == 0;
    v.dsp_wait = 0;
    return answered;
}
