// The voice transfer machine: playing the application's samples (states 8-13), recording the line's (14-16),
// the +VTS tones (17), the inactivity timer and the ends of a transfer.
#include "layer2/corecode/voice/voice_transfer.h"

#include "layer2/corecode/cmd/at_context.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/dce/line_block.h"
#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/mt/dsp_device.h"
#include "layer2/corecode/mt/dsp_link_context.h"
#include "layer2/corecode/voice/voice_codecs.h"
#include "layer2/corecode/voice/voice_events.h"
#include "layer2/corecode/voice/voice_path.h"

namespace {

constexpr uint16_t kStartupDelayTicks = 25;  // before an empty transmit ring counts as an underrun
constexpr uint16_t kPlayDrainTicks = 5;      // the line transmit ring drains for up to 50 ms after DLE ETX
constexpr uint16_t kRecordRoom = 4;          // to-DTE room kept for a sample's bytes and a DLE code

LineBlock* line_of(AcuContext* acu) { return acu->dte != nullptr ? acu->dte->line_block : nullptr; }

// All or nothing into the to-DTE ring.
bool to_dte(AcuContext* acu, const uint8_t* bytes, int n)
{
    if (dte_to_free(acu->dte) < n)
        return false;
    for (int i = 0; i < n; ++i)
        dte_to_put(acu->dte, bytes[i]);
    return true;
}

// The inactivity timer runs while a voice device holds the line, from the application's last byte.
void restart_inactivity(VoiceEngine& v)
{
    v.inactivity_countdown = v.inactivity_ticks;
    v.inactivity_enabled = v.inactivity_ticks != 0 && v.line_taken;
}

void step_gain(AcuContext* acu, uint8_t* gain, int step)
{
    const VoiceEngine& v = acu->voice;
    const int g = *gain + step;
    if (g < v.gain_min || g > v.gain_max)
        return;
    *gain = static_cast<uint8_t>(g);
    voice_send_gains(acu);
}

void query_reply(AcuContext* acu)
{
    uint8_t reply[kVoiceRoomReplyMax];
    to_dte(acu, reply, voice_room_reply(lb_tx_free(line_of(acu)), reply));
}

uint8_t play_step(AcuContext* acu)
{
    VoiceEngine& v = acu->voice;
    LineBlock* lb = line_of(acu);
    while (dte_from_count(acu->dte) != 0 && lb_tx_free(lb) >= kVoicePlayMaxOut) {
        const uint8_t c = dte_from_char(acu->dte);
        restart_inactivity(v);
        uint8_t out[kVoicePlayMaxOut];
        int n = 0;
        const uint8_t command = voice_play_byte(&v.play, c, out, &n);
        if (n != 0) {
            lb_tx_write(lb, out, static_cast<uint16_t>(n));
            v.underrun_reported = 0;
        }
        switch (command) {
        case VOICE_PLAY_END:
            v.state = VS_PLAY_DRAIN;
            v.wait = kPlayDrainTicks;
            return 0;
        case VOICE_PLAY_FLUSH:
            lb_tx_reset(lb);
            v.startup_delay = kStartupDelayTicks;
            break;
        case VOICE_PLAY_QUERY: query_reply(acu); break;
        case VOICE_PLAY_GAIN_DOWN: step_gain(acu, &v.gain_tx, -1); break;
        case VOICE_PLAY_GAIN_UP: step_gain(acu, &v.gain_tx, 1); break;
        default: break;
        }
    }
    if (v.startup_delay == 0 && !v.underrun_reported && lb_tx_count(lb) == 0) {
        const uint8_t underrun[2] = {kVoiceDle, 'u'};
        if (to_dte(acu, underrun, 2))
            v.underrun_reported = 1;
    }
    return 0;
}

void record_commands(AcuContext* acu)
{
    VoiceEngine& v = acu->voice;
    while (v.state == VS_RECORD && dte_from_count(acu->dte) != 0) {
        const uint8_t c = dte_from_char(acu->dte);
        restart_inactivity(v);
        if (!v.record_dle) {
            v.record_dle = c == kVoiceDle;
            continue;  // other bytes from the application mean nothing while recording
        }
        v.record_dle = 0;
        switch (voice_record_command(c)) {
        case VOICE_RECORD_END:
        case VOICE_RECORD_ABORT:
            v.state = VS_RECORD_END;
            v.etx_sent = 0;
            break;
        case VOICE_RECORD_GAIN_DOWN: step_gain(acu, &v.gain_rx, -1); break;
        case VOICE_RECORD_GAIN_UP: step_gain(acu, &v.gain_rx, 1); break;
        default: break;
        }
    }
}

uint8_t record_step(AcuContext* acu)
{
    VoiceEngine& v = acu->voice;
    LineBlock* lb = line_of(acu);
    record_commands(acu);
    if (v.state != VS_RECORD)
        return 0;
    while (lb_rx_count(lb) != 0 && dte_to_free(acu->dte) > kRecordRoom) {
        uint8_t out[kVoiceRecordMaxOut];
        const int n = voice_record_byte(&v.record, lb_rx_get(lb), out);
        to_dte(acu, out, n);
    }
    // The line receive ring backs up while the application reads too slowly: reported once (in the room the
    // samples left), until it drains below the level again.
    const uint16_t waiting = lb_rx_count(lb);
    if (waiting < v.record_overrun_level) {
        v.overrun_reported = 0;
    } else if (!v.overrun_reported && dte_to_free(acu->dte) <= kRecordRoom) {
        const uint8_t overrun[2] = {kVoiceDle, 'o'};
        if (to_dte(acu, overrun, 2))
            v.overrun_reported = 1;
    }
    return 0;
}

uint8_t finish(AcuContext* acu)
{
    VoiceEngine& v = acu->voice;
    v.state = v.line_taken ? VS_IDLE : VS_WAITING;
    v.dte_state = v.line_taken ? VOICE_DTE_COMMAND : VOICE_DTE_NONE;
    v.inactivity_enabled = 0;
    if (v.line_taken)
        voice_pump_restart(acu, VOICE_SUB_MONITOR);
    dte_leave_voice_mode(acu->dte);
    dte_raise_cts(acu->dte);
    return VOICE_RESULT_DONE;
}

uint8_t record_end_step(AcuContext* acu)
{
    VoiceEngine& v = acu->voice;
    if (!v.etx_sent) {
        const uint8_t end[2] = {kVoiceDle, kVoiceEtx};
        if (to_dte(acu, end, 2))
            v.etx_sent = 1;
        return 0;
    }
    if (dte_to_count(acu->dte) != 0)
        return 0;
    return finish(acu);
}

uint8_t tone_step(AcuContext* acu)
{
    VoiceEngine& v = acu->voice;
    if (v.wait != 0)
        return 0;
    if (v.tone_next >= v.tone_count) {
        v.state = v.tone_return;
        if (v.line_taken)
            voice_pump_resume(acu);
        return VOICE_RESULT_DONE;
    }
    // The data pump's generators play outside its voice mode: it leaves voice mode for the tones.
    if (v.tone_next == 0 && v.line_taken)
        voice_pump_pause(acu);
    const VoiceTone& t = v.tones[v.tone_next++];
    if (acu->dsp != nullptr) {
        const uint16_t ms = static_cast<uint16_t>(t.duration * 10u);
        if (t.digit != 0)
            dsp_generate_dtmf(&acu->dsp->context, t.digit, ms, 0);
        else if (t.f1 != 0 || t.f2 != 0)
            dsp_generate_tone_pair(&acu->dsp->context, t.f1, t.f2, ms);
    }
    v.wait = t.duration;
    return 0;
}

}  // namespace

void voice_begin_play(AcuContext* acu)
{
    VoiceEngine& v = acu->voice;
    v.state = VS_PLAY_START;
    v.dte_state = VOICE_DTE_PLAY;
    voice_play_stream_init(&v.play, voice_codec_packing(v.codec));
    v.underrun_reported = 0;
    v.startup_delay = kStartupDelayTicks;
}

void voice_begin_record(AcuContext* acu)
{
    VoiceEngine& v = acu->voice;
    v.state = VS_RECORD_START;
    v.dte_state = VOICE_DTE_RECORD;
    voice_record_stream_init(&v.record, voice_codec_packing(v.codec));
    v.record_dle = 0;
    v.overrun_reported = 0;
}

void voice_begin_tones(AcuContext* acu)
{
    VoiceEngine& v = acu->voice;
    v.tone_return = v.state;
    v.tone_next = 0;
    v.wait = 0;
    v.state = VS_TONES;
}

uint8_t voice_transfer_step(AcuContext* acu)
{
    VoiceEngine& v = acu->voice;
    LineBlock* lb = line_of(acu);
    if (lb == nullptr && v.state >= VS_PLAY_START && v.state <= VS_RECORD_END)
        return finish(acu);
    switch (v.state) {
    case VS_PLAY_START:
        voice_send_gains(acu);
        voice_pump_restart(acu, VOICE_SUB_PLAY);
        dte_raise_cts(acu->dte);
        v.state = VS_PLAY;
        return play_step(acu);
    case VS_PLAY:
        return play_step(acu);
    case VS_PLAY_DRAIN:
        if (v.wait != 0 && lb_tx_count(lb) != 0)
            return 0;
        return finish(acu);
    case VS_RECORD_START:
        voice_send_gains(acu);
        voice_send_silence(acu);
        voice_pump_restart(acu, VOICE_SUB_RECORD);
        v.state = VS_RECORD;
        return record_step(acu);
    case VS_RECORD:
        return record_step(acu);
    case VS_RECORD_END:
        return record_end_step(acu);
    case VS_TONES:
        return tone_step(acu);
    default:
        return 0;
    }
}

uint8_t voice_transfer_abort(AcuContext* acu)
{
    VoiceEngine& v = acu->voice;
    if (v.state == VS_TONES)
        v.state = v.tone_return;
    if (v.state < VS_PLAY_START || v.state > VS_RECORD_END)
        return 0;
    return finish(acu);
}

bool voice_inactivity_expired(AcuContext* acu)
{
    VoiceEngine& v = acu->voice;
    return v.inactivity_enabled && v.inactivity_countdown == 0;
}

void voice_restart_inactivity(AcuContext* acu) { restart_inactivity(acu->voice); }
