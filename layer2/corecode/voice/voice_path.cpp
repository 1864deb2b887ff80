// The voice path towards the data pump and the line: the line-interface row, the gains, the data pump's
// voice mode with its rate, coding and sub-mode, and the line rings in voice mode.
#include "layer2/corecode/voice/voice_path.h"

#include "layer2/corecode/cmd/at_context.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/cmd/call_control_state.h"
#include "layer2/corecode/dce/line_block.h"
#include "layer2/corecode/dte/dte_context.h"
#include "layer2/corecode/mt/dsp_commands.h"
#include "layer2/corecode/mt/dsp_control.h"
#include "layer2/corecode/mt/dsp_device.h"
#include "layer2/corecode/voice/voice_codecs.h"

namespace {

constexpr uint8_t kRowIdle = 0;
constexpr uint8_t kRowLine = 9;
constexpr uint8_t kRowSpeakerphone = 20;
constexpr uint8_t kPumpVoiceLine = 9;          // 0x95: voice on the telephone line
constexpr uint8_t kPumpVoiceSpeakerphone = 20; // 0x95: voice on the speakerphone
constexpr uint8_t kDetectorModeProgress = 1;   // call-progress tones and their cadences
constexpr uint8_t kDetectorModeVoice = 2;      // voice starts at once in this detector mode

// Gain byte of the data pump's voice gain word: receive level in the low nibble, transmit in the high one
// (8 nominal at 128, one step per unit of the 121-131 range).
uint8_t gain_byte(const VoiceEngine& v)
{
    const int rx = 8 + (static_cast<int>(v.gain_rx) - 128);
    const int tx = 8 + (static_cast<int>(v.gain_tx) - 128);
    auto nibble = [](int g) { return static_cast<uint8_t>(g < 0 ? 0 : g > 15 ? 15 : g); };
    return static_cast<uint8_t>(nibble(rx) | (nibble(tx) << 4));
}

}  // namespace

void voice_pump_start(AcuContext* acu, uint8_t sub_mode)
{
    VoiceEngine& v = acu->voice;
    DspLineControl* lc = acu_line(acu);
    if (lc == nullptr)
        return;
    dsp_start_voice(lc, voice_rate_code(v.rate), voice_codec_pump_format(v.codec), sub_mode);
}

void voice_pump_pause(AcuContext* acu)
{
    if (DspLineControl* lc = acu_line(acu))
        dsp_go_idle(lc);
}

void voice_pump_resume(AcuContext* acu)
{
    if (acu->dsp != nullptr)
        dsp_set_detector_mode(acu->dsp, kDetectorModeVoice);
    voice_pump_start(acu, VOICE_SUB_MONITOR);
}

void voice_pump_restart(AcuContext* acu, uint8_t sub_mode)
{
    voice_pump_pause(acu);
    if (LineBlock* lb = acu->dte != nullptr ? acu->dte->line_block : nullptr) {
        lb_service(lb);  // a chunk the data pump posted before it stopped
        lb_rx_reset(lb);
        lb_tx_reset(lb);
        lb_tx_chunk_forget(lb);  // and one it did not take
    }
    if (acu->dsp != nullptr)
        dsp_set_detector_mode(acu->dsp, kDetectorModeVoice);
    voice_pump_start(acu, sub_mode);
}

void voice_send_gains(AcuContext* acu)
{
    if (DspLineControl* lc = acu_line(acu))
        dsp_write_gain_word(lc, gain_byte(acu->voice));
}

void voice_send_silence(AcuContext* acu)
{
    const VoiceEngine& v = acu->voice;
    if (DspLineControl* lc = acu_line(acu))
        dsp_set_voice_params(lc, v.silence_duration != 0 ? 1 : 0, v.silence_duration);
}

void voice_path_enable(AcuContext* acu, uint8_t on)
{
    VoiceEngine& v = acu->voice;
    DspLineControl* lc = acu_line(acu);
    LineBlock* lb = acu->dte != nullptr ? acu->dte->line_block : nullptr;
    if (on) {
        const bool speaker = v.device_type == 2;
        if (lc != nullptr) {
            dsp_apply_line_mode(lc, speaker ? kRowSpeakerphone : kRowLine);
            acu->seq.line_off_hook = 1;
            acu->seq.on_hook_flag = 0;
            voice_send_gains(acu);
            voice_send_silence(acu);
            // The call-progress detector mode arms the cadence detector (busy and ringback, which the voice
            // steps report), then the voice detector mode lets voice start.
            if (acu->dsp != nullptr) {
                dsp_set_detector_mode(acu->dsp, kDetectorModeProgress);
                dsp_set_detector_mode(acu->dsp, kDetectorModeVoice);
            }
            voice_pump_start(acu, VOICE_SUB_MONITOR);
            dsp_set_voice_mode(lc, speaker ? kPumpVoiceSpeakerphone : kPumpVoiceLine);
        }
        if (lb != nullptr)
            lb_set_mode(lb, LINE_MODE_VOICE);
        v.line_taken = 1;
        return;
    }
    if (!v.line_taken)
        return;
    if (lb != nullptr)
        lb_service_stop(lb);
    if (lc != nullptr) {
        dsp_go_idle(lc);
        if (acu->dsp != nullptr)
            dsp_detector_reset(acu->dsp);
        dsp_apply_line_mode(lc, kRowIdle);
        acu->seq.line_off_hook = 0;
        acu->seq.on_hook_flag = 1;
    }
    v.line_taken = 0;
}

void voice_path_reset(AcuContext* acu)
{
    voice_path_enable(acu, 0);
    acu->voice.device_type = 0;
    acu->voice.vls = 0;
}

int voice_path_active(const AcuContext* acu) { return acu->voice.line_taken; }

void voice_line_flush_tx(AcuContext* acu)
{
    if (acu->dte != nullptr && acu->dte->line_block != nullptr)
        lb_tx_reset(acu->dte->line_block);
}
