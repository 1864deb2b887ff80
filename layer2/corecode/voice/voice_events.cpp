// The event reporter: the data pump's event characters and the call-progress results become DLE codes,
// each only when its mask bit is set and its repeat guard has run out; the local phone's hook; rings in
// voice mode.
#include "layer2/corecode/voice/voice_events.h"

#include "layer2/corecode/cmd/at_context.h"
#include "layer2/corecode/cmd/at_output.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/dte/data_link_stubs.h"
#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/mt/dsp_device.h"
#include "layer2/corecode/mt/dsp_options.h"
#include "layer2/corecode/voice/voice_stream.h"

namespace {

constexpr uint8_t kHandsetPolls = 3;
constexpr uint8_t kToneBusy = 15;

// One row per reportable event: its mask bit, repeat guard (ticks; 0: the silence duration) and code.
struct EventRule {
    uint32_t mask;        // 0: no mask bit (silence codes, reported while recording)
    int8_t guard;         // VoiceGuard, -1 none
    uint16_t guard_ticks;
    char code;
};

constexpr EventRule kBusy = {VOICE_EV_BUSY, VG_BUSY, 10, 'b'};
constexpr EventRule kCalling = {VOICE_EV_CALLING_TONE, VG_CALLING, 15, 'c'};
constexpr EventRule kE = {VOICE_EV_E, VG_E, 20, 'e'};
constexpr EventRule kDial = {VOICE_EV_DIAL_TONE, VG_DIAL, 30, 'd'};
constexpr EventRule kRingback = {VOICE_EV_RINGBACK, VG_RINGBACK, 30, 'r'};
constexpr EventRule kAnswer = {VOICE_EV_ANSWER_TONE, VG_ANSWER, 5, 'a'};
constexpr EventRule kFaxF = {VOICE_EV_FAX_F, VG_FAX_F, 5, 'f'};
constexpr EventRule kQuiet = {0, VG_QUIET, 0, 'q'};
constexpr EventRule kSilence = {0, -1, 0, 's'};

bool recording(const VoiceEngine& v) { return v.state >= VS_RECORD_WAIT && v.state <= VS_RECORD_END; }

bool transferring(const VoiceEngine& v)
{
    return (v.state >= VS_PLAY_START && v.state <= VS_RECORD_END) || v.state == VS_RECORD_START;
}

// Bytes into the to-DTE stream during a transfer (all or nothing), printed in command state.
void deliver(AcuContext* acu, const uint8_t* bytes, int n, bool print_in_command)
{
    VoiceEngine& v = acu->voice;
    if (transferring(v)) {
        if (dte_to_free(acu->dte) < n)
            return;
        for (int i = 0; i < n; ++i)
            dte_to_put(acu->dte, bytes[i]);
        return;
    }
    if (!print_in_command)
        return;
    char text[8];
    for (int i = 0; i < n; ++i)
        text[i] = static_cast<char>(bytes[i]);
    text[n] = 0;
    // A DLE code holds no zero byte, so the text carries it whole.
    PrintToDte(acu, text, PRINT_TEXT);
}

void report(AcuContext* acu, const EventRule& r)
{
    VoiceEngine& v = acu->voice;
    if (r.code == 'b' || r.code == 'r')
        v.last_progress = static_cast<uint8_t>(r.code);  // for the ringback supervision after dialling
    if (r.mask != 0 && (voice_active_mask(v) & r.mask) == 0)
        return;
    if (r.guard >= 0) {
        if (v.guard[r.guard] != 0)
            return;
        v.guard[r.guard] = r.guard_ticks != 0 ? r.guard_ticks : static_cast<uint16_t>(v.silence_duration * 10u);
    }
    const uint8_t bytes[2] = {kVoiceDle, static_cast<uint8_t>(r.code)};
    deliver(acu, bytes, 2, r.code != 'b' && r.code != 'r');
}

void report_dtmf(AcuContext* acu, char digit)
{
    if ((voice_active_mask(acu->voice) & VOICE_EV_DTMF) == 0)
        return;
    const uint8_t bytes[6] = {kVoiceDle, '/', kVoiceDle, static_cast<uint8_t>(digit), kVoiceDle, '~'};
    deliver(acu, bytes, 6, true);
}

void event_char(AcuContext* acu, uint8_t c)
{
    VoiceEngine& v = acu->voice;
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'D')) {
        report_dtmf(acu, static_cast<char>(c));
        return;
    }
    switch (c) {
    case 'E': report_dtmf(acu, '*'); break;
    case 'F': report_dtmf(acu, '#'); break;
    case 'N': report(acu, kCalling); break;
    case 'b':
        report(acu, kBusy);
        if (acu->dsp != nullptr)
            dsp_detect_tone(&acu->dsp->context, kToneBusy);
        break;
    case 'g': report(acu, kE); break;
    case 'q':
        if (recording(v))
            report(acu, kQuiet);
        break;
    case 'r':
        report(acu, kRingback);
        voice_restart_ringback_timers(acu);
        break;
    case 's':
        if (recording(v))
            report(acu, kSilence);
        break;
    default: break;
    }
}

void progress(AcuContext* acu, uint8_t code)
{
    switch (code) {
    case 1: report(acu, kDial); break;
    case 6: report(acu, kAnswer); break;
    case 15:
    case 98: report(acu, kBusy); break;
    case 28: report(acu, kFaxF); break;
    case 114:
        report(acu, kRingback);
        voice_restart_ringback_timers(acu);
        break;
    default: break;
    }
}

void handset(AcuContext* acu)
{
    VoiceEngine& v = acu->voice;
    const bool off = acu->dsp != nullptr && dsp_local_phone_off_hook(acu->dsp);
    // An input that never read on hook has no phone behind it (the card leaves it low): the first on-hook
    // reading arms the detection.
    if (!off)
        v.handset_armed = 1;
    if (off && v.handset_armed) {
        if (v.handset_polls < kHandsetPolls)
            ++v.handset_polls;
        if (v.handset_polls == kHandsetPolls && !v.handset_off) {
            v.handset_off = 1;
            const uint8_t bytes[2] = {kVoiceDle, 'H'};
            deliver(acu, bytes, 2, true);
        }
        return;
    }
    v.handset_polls = 0;
    if (v.handset_off) {
        v.handset_off = 0;
        const uint8_t bytes[2] = {kVoiceDle, 'h'};
        deliver(acu, bytes, 2, true);
    }
}

}  // namespace

uint32_t voice_active_mask(const VoiceEngine& v)
{
    if (v.state >= VS_PLAY_START && v.state <= VS_PLAY_DRAIN && v.state != VS_RECORD_START)
        return v.masks[0];
    if (recording(v) || v.state == VS_RECORD_START)
        return v.masks[1];
    return v.masks[2];
}

void voice_report_events(AcuContext* acu, uint8_t progress_code)
{
    VoiceEngine& v = acu->voice;
    if (v.state == VS_OFF || v.state == VS_RESET || v.state == VS_STOP_DETECTORS)
        return;
    handset(acu);
    if (acu->dsp != nullptr) {
        for (uint8_t c = dsp_take_queued_event_char(&acu->dsp->link); c != 0;
             c = dsp_take_queued_event_char(&acu->dsp->link))
            event_char(acu, c);
    }
    if (progress_code != 0)
        progress(acu, progress_code);
}

void voice_restart_ringback_timers(AcuContext* acu)
{
    VoiceEngine& v = acu->voice;
    v.ringback_countdown = static_cast<uint16_t>(v.vra * 10u);
    v.no_ringback_countdown = static_cast<uint16_t>(v.vrn * 10u);
}

void voice_drop_events(AcuContext* acu)
{
    if (acu->dsp != nullptr)
        dsp_clear_event_chars(&acu->dsp->link);
}

int voice_ring_allowed(DteContext* d)
{
    VoiceEngine* v = d != nullptr ? d->voice : nullptr;
    if (v == nullptr || v->state == VS_OFF)
        return 1;
    const int allowed = (voice_active_mask(*v) & VOICE_EV_HANGUP) != 0;
    if (allowed && v->state == VS_WAITING && v->dte_state == VOICE_DTE_NONE)
        v->ring_pending = 1;
    return allowed;
}
