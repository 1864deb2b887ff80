// The engine's side of the voice commands: the parameter commands, the device selection (+VLS), the
// compression method (+VSM), the tones (+VTS) and the start of the transfers (+VTX, +VRX).
#include <cstring>

#include "layer2/corecode/cmd/at_context.h"
#include "layer2/corecode/cmd/at_ext_util.h"
#include "layer2/corecode/cmd/at_scan.h"
#include "layer2/corecode/voice/voice_codecs.h"
#include "layer2/corecode/voice/voice_events.h"
#include "layer2/corecode/voice/voice_path.h"
#include "layer2/corecode/voice/voice_transfer.h"

namespace {

constexpr uint8_t kGainLow = 121;
constexpr uint8_t kGainNominal = 128;
constexpr uint8_t kGainHigh = 131;
constexpr uint8_t kSilenceDurationMax = 50;
constexpr uint8_t kToneDurationMin = 5;
constexpr uint16_t kToneHzMin = 200;
constexpr uint16_t kToneHzMax = 3000;
constexpr uint16_t kToneTicksMin = 5;
constexpr uint16_t kToneTicksMax = 500;

// Tags of the +VTS tone list (argument type 18).
enum : uint16_t {
    TONE_END = 0,
    TONE_EMPTY_ITEM = 1,
    TONE_CHAR = 2,
    TONE_EMPTY_GROUP = 3,
    TONE_BRACE_CHAR = 4,
    TONE_BRACE_DURATION = 5,
    TONE_FREQ1 = 7,
    TONE_FREQ2 = 8,
    TONE_DURATION = 9,
    TONE_PARTIAL = 255,
};

VoiceEngine& E(AcuContext* acu) { return acu->voice; }

uint8_t text_result(AcuContext* acu, const char* text)
{
    VoiceEngine& v = E(acu);
    v.text[0] = 0;
    txt_append(v.text, sizeof v.text, text);
    return VOICE_RESULT_TEXT;
}

uint8_t value_result(AcuContext* acu, uint32_t value)
{
    VoiceEngine& v = E(acu);
    v.text[0] = 0;
    txt_append_dec(v.text, sizeof v.text, value);
    return VOICE_RESULT_TEXT;
}

bool transferring(const VoiceEngine& v) { return v.state >= VS_PLAY_START && v.state <= VS_TONES; }

// +VGM and +VGS: 121-131, or 1, 2, 3 for 121, 128, 131.
uint8_t set_local_gain(AcuContext* acu, const uint8_t* args, uint8_t* gain)
{
    static const uint8_t kShort[3] = {kGainLow, kGainNominal, kGainHigh};
    const uint8_t a = args[0];
    if (a >= 1 && a <= 3)
        *gain = kShort[a - 1];
    else if (a >= kGainLow && a <= kGainHigh)
        *gain = a;
    else
        return VOICE_RESULT_ERROR;
    if (E(acu).device_type != 0)
        voice_send_gains(acu);
    return VOICE_RESULT_OK;
}

// +VGR and +VGT: kept within the codec's gain bounds.
uint8_t set_line_gain(AcuContext* acu, const uint8_t* args, uint8_t* gain)
{
    const VoiceEngine& v = E(acu);
    const uint8_t a = args[0];
    *gain = a < v.gain_min ? kGainLow : a > v.gain_max ? kGainHigh : a;
    if (transferring(v))
        voice_send_gains(acu);
    return VOICE_RESULT_OK;
}

uint8_t set_buffer_marks(const uint8_t* args)
{
    ExtList l;
    if (!ext_read_list(args, 2, 2, &l) || (l.present[0] && l.value[0] != 256) || (l.present[1] && l.value[1] != 896))
        return VOICE_RESULT_ERROR;
    return VOICE_RESULT_OK;
}

uint8_t set_silence(AcuContext* acu, const uint8_t* args)
{
    VoiceEngine& v = E(acu);
    ExtList l;
    if (!ext_read_list(args, 1, 2, &l) || (l.present[0] && (l.value[0] < kGainLow || l.value[0] > kGainHigh)) ||
        (l.present[1] && l.value[1] > kSilenceDurationMax))
        return VOICE_RESULT_ERROR;
    if (l.present[0])
        v.silence_sensitivity = static_cast<uint8_t>(l.value[0]);
    if (l.present[1])
        v.silence_duration = static_cast<uint8_t>(l.value[1]);
    if (v.line_taken)
        voice_send_silence(acu);
    return VOICE_RESULT_OK;
}

uint8_t masks_text(AcuContext* acu)
{
    VoiceEngine& v = E(acu);
    const VoiceCodecEntry& c = v.codecs[v.codec];
    v.text[0] = 0;
    txt_append(v.text, sizeof v.text, "\"C\"\r\n");
    txt_append_hex8(v.text, sizeof v.text, c.play_mask);
    txt_append(v.text, sizeof v.text, "\r\n");
    txt_append_hex8(v.text, sizeof v.text, c.record_mask);
    txt_append(v.text, sizeof v.text, "\r\n");
    txt_append_hex8(v.text, sizeof v.text, c.idle_mask);
    return VOICE_RESULT_TEXT;
}

uint8_t mask_query(AcuContext* acu)
{
    VoiceEngine& v = E(acu);
    v.text[0] = 0;
    txt_append_hex8(v.text, sizeof v.text, voice_active_mask(v));
    return VOICE_RESULT_TEXT;
}

uint8_t set_masks(AcuContext* acu, const uint8_t* args)
{
    VoiceEngine& v = E(acu);
    uint32_t mask;
    std::memcpy(&mask, args, sizeof mask);
    v.masks[0] = v.masks[1] = v.masks[2] = mask;
    return VOICE_RESULT_OK;
}

// The +VLS values: device type (0 none, 1 telephone line, 2 speakerphone, 3 a local device only) and whether
// call control's voice-connection flag is cleared (result 4) or set (5).
struct LineSelection {
    uint8_t value;
    const char* label;
    uint8_t device;
    uint8_t result;
};

constexpr LineSelection kSelections[] = {
    {0, " ", 0, VOICE_RESULT_LINE_RELEASED},   {1, "T", 1, VOICE_RESULT_LINE_TAKEN},
    {2, "L", 3, VOICE_RESULT_LINE_TAKEN},      {4, "S", 3, VOICE_RESULT_LINE_TAKEN},
    {5, "ST", 1, VOICE_RESULT_LINE_TAKEN},     {6, "M", 3, VOICE_RESULT_LINE_TAKEN},
    {7, "MST", 2, VOICE_RESULT_LINE_RELEASED}, {8, "S1", 3, VOICE_RESULT_LINE_TAKEN},
    {9, "S1T", 1, VOICE_RESULT_LINE_RELEASED}, {11, "M1", 3, VOICE_RESULT_LINE_TAKEN},
    {13, "M1S1T", 2, VOICE_RESULT_LINE_RELEASED}, {14, "H", 3, VOICE_RESULT_LINE_TAKEN},
    {15, "HT", 2, VOICE_RESULT_LINE_RELEASED},
};

uint8_t line_select(AcuContext* acu, uint8_t value)
{
    VoiceEngine& v = E(acu);
    const LineSelection* s = nullptr;
    for (const LineSelection& row : kSelections)
        if (row.value == value)
            s = &row;
    if (s == nullptr)
        return VOICE_RESULT_ERROR;
    voice_transfer_abort(acu);
    v.vls = value;
    if (s->device == 0) {
        voice_path_reset(acu);
        v.state = VS_WAITING;
        v.dte_state = VOICE_DTE_NONE;
        return s->result;
    }
    // The local devices (handset, speaker, microphone alone) have no path here; the line and the
    // speakerphone take the line.
    if (s->device != 3) {
        v.device_type = s->device;
        if (!v.line_taken)
            voice_path_enable(acu, 1);
        voice_drop_events(acu);
    }
    v.dte_state = VOICE_DTE_COMMAND;
    v.state = s->result == VOICE_RESULT_LINE_RELEASED ? VS_WAITING : VS_STOP_DETECTORS;
    return s->result;
}

uint8_t selections_text(AcuContext* acu)
{
    VoiceEngine& v = E(acu);
    v.text[0] = 0;
    for (const LineSelection& row : kSelections) {
        if (v.text[0] != 0)
            txt_append(v.text, sizeof v.text, "\r\n");
        txt_append_dec(v.text, sizeof v.text, row.value);
        txt_append(v.text, sizeof v.text, ",\"");
        txt_append(v.text, sizeof v.text, row.label);
        txt_append(v.text, sizeof v.text, "\"");
    }
    return VOICE_RESULT_TEXT;
}

uint8_t set_method(AcuContext* acu, const uint8_t* args)
{
    VoiceEngine& v = E(acu);
    int codec = v.codec;
    uint32_t rate = v.rate;
    uint32_t options[2] = {v.codecs[codec].options[0], v.codecs[codec].options[1]};
    bool rate_given = false;
    // Up to four (tag, value) pairs of 16-bit values; tag 0 ends them, unknown tags are passed over.
    for (unsigned at = 0, pairs = 0; at + 4 <= AT_ARG_BUFFER && pairs < 4; at += 4, ++pairs) {
        const uint32_t tag = at_arg_u16(args + at, 0);
        const uint32_t value = at_arg_u16(args + at, 1);
        if (tag == 0)
            break;
        if (tag == 1) {
            const uint32_t method = value == 128 ? 0 : value == 129 ? 1 : value == 132 ? 2 : value;
            codec = voice_codec_by_method(v.codecs, method);
            if (codec < 0)
                return VOICE_RESULT_ERROR;
        } else if (tag == 2) {
            rate = value;
            rate_given = true;
        } else if (tag == 3 || tag == 4) {
            options[tag - 3] = value;
        }
    }
    const VoiceCodecEntry& c = v.codecs[codec];
    bool rate_ok = false;
    for (int r = 0; r < c.rate_count; ++r)
        rate_ok = rate_ok || c.rates[r] == rate;
    if ((rate_given || codec != v.codec) && !rate_ok)
        return VOICE_RESULT_ERROR;
    if (options[0] != c.options[0] || options[1] != c.options[1])
        return VOICE_RESULT_ERROR;
    v.codec = static_cast<uint8_t>(codec);
    v.rate = static_cast<uint16_t>(rate);
    v.masks[0] = c.play_mask;
    v.masks[1] = c.record_mask;
    v.masks[2] = c.idle_mask;
    return VOICE_RESULT_OK;
}

uint8_t methods_text(AcuContext* acu)
{
    VoiceEngine& v = E(acu);
    v.text[0] = 0;
    for (int i = 0; i < kVoiceCodecCount; ++i) {
        const VoiceCodecEntry& c = v.codecs[i];
        char* t = v.text;
        const unsigned size = sizeof v.text;
        if (i != 0)
            txt_append(t, size, "\r\n");
        txt_append_dec(t, size, c.method);
        txt_append(t, size, ",\"");
        txt_append(t, size, c.name);
        txt_append(t, size, "\",");
        for (int b = 0; b < c.bits_count; ++b) {
            txt_append_dec(t, size, c.bits[b]);
            txt_append(t, size, ",");
        }
        txt_append_dec(t, size, c.options[0]);
        txt_append(t, size, ",(");
        for (int r = 0; r < c.rate_count; ++r) {
            if (r != 0)
                txt_append(t, size, ",");
            txt_append_dec(t, size, c.rates[r]);
        }
        txt_append(t, size, "),(");
        txt_append_dec(t, size, c.options[1]);
        txt_append(t, size, "),(");
        txt_append_dec(t, size, c.options[2]);
        txt_append(t, size, ")");
    }
    return VOICE_RESULT_TEXT;
}

uint8_t method_query(AcuContext* acu)
{
    VoiceEngine& v = E(acu);
    const VoiceCodecEntry& c = v.codecs[v.codec];
    v.text[0] = 0;
    txt_append_dec(v.text, sizeof v.text, c.method);
    txt_append(v.text, sizeof v.text, ",");
    txt_append_dec(v.text, sizeof v.text, v.rate);
    txt_append(v.text, sizeof v.text, ",");
    txt_append_dec(v.text, sizeof v.text, c.options[0]);
    txt_append(v.text, sizeof v.text, ",");
    txt_append_dec(v.text, sizeof v.text, c.options[1]);
    return VOICE_RESULT_TEXT;
}

bool tone_char(uint16_t c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'D') || c == '!' || c == '#' || c == '*';
}

bool frequency_ok(uint16_t f) { return f == 0 || (f >= kToneHzMin && f <= kToneHzMax); }

// The +VTS items into the engine's tone list; false for anything outside the rules.
bool read_tones(AcuContext* acu, const uint8_t* args)
{
    VoiceEngine& v = E(acu);
    v.tone_count = 0;
    unsigned at = 0;
    auto next = [&](uint16_t* out) {
        if (at + 2 > AT_ARG_BUFFER)
            return false;
        *out = at_arg_u16(args + at, 0);
        at += 2;
        return true;
    };
    uint16_t tag = 0;
    if (!next(&tag))
        return false;
    while (tag != TONE_END) {
        if (v.tone_count >= kVoiceToneItems)
            return false;
        VoiceTone t{};
        if (tag == TONE_CHAR) {
            uint16_t c = 0;
            if (!next(&c) || !tone_char(c))
                return false;
            t.digit = static_cast<uint8_t>(c);
            t.duration = v.tone_duration;
            if (!next(&tag))
                return false;
        } else if (tag == TONE_FREQ1) {
            uint16_t field[3] = {0, 0, 0};
            bool seen[3] = {false, false, false};
            while (tag >= TONE_FREQ1 && tag <= TONE_DURATION) {
                if (!next(&field[tag - TONE_FREQ1]))
                    return false;
                seen[tag - TONE_FREQ1] = true;
                if (!next(&tag))
                    return false;
            }
            if (tag == TONE_PARTIAL && !next(&tag))
                return false;
            // A missing frequency is silence; the duration must be given.
            if (!seen[2] || !frequency_ok(field[0]) || !frequency_ok(field[1]) || field[2] < kToneTicksMin ||
                field[2] > kToneTicksMax)
                return false;
            t.f1 = field[0];
            t.f2 = field[1];
            t.duration = field[2];
        } else {
            return false;
        }
        v.tones[v.tone_count++] = t;
    }
    return v.tone_count != 0;
}

uint8_t start_tones(AcuContext* acu, const uint8_t* args)
{
    if (!read_tones(acu, args))
        return VOICE_RESULT_ERROR;
    voice_begin_tones(acu);
    return VOICE_RESULT_RUNNING;
}

// +VTX and +VRX need the voice command state: a device selected and no transfer running.
uint8_t start_transfer(AcuContext* acu, bool play)
{
    VoiceEngine& v = E(acu);
    if (v.dte_state != VOICE_DTE_COMMAND || !v.line_taken || transferring(v))
        return VOICE_RESULT_ERROR;
    if (play)
        voice_begin_play(acu);
    else
        voice_begin_record(acu);
    return VOICE_RESULT_TRANSFER;
}

uint8_t store_byte(const uint8_t* args, uint8_t min, uint8_t max, uint8_t* field)
{
    if (args[0] < min || args[0] > max)
        return VOICE_RESULT_ERROR;
    *field = args[0];
    return VOICE_RESULT_OK;
}

}  // namespace

uint8_t voice_command(AcuContext* acu, uint8_t number, const uint8_t* args)
{
    VoiceEngine& v = E(acu);
    voice_restart_inactivity(acu);
    switch (number) {
    case 1: return set_buffer_marks(args);
    case 2: return text_result(acu, "256,896");
    case 3: return text_result(acu, "(256),(896)");
    case 4: return set_masks(acu, args);
    case 5: return masks_text(acu);
    case 6: return mask_query(acu);
    case 7: case 12: case 13: case 18: return text_result(acu, "121-131");
    case 8: return set_local_gain(acu, args, &v.gain_mic);
    case 9: return value_result(acu, v.gain_mic);
    case 10: return set_line_gain(acu, args, &v.gain_rx);
    case 11: return value_result(acu, v.gain_rx);
    case 14: return set_local_gain(acu, args, &v.gain_spk);
    case 15: return value_result(acu, v.gain_spk);
    case 16: return set_line_gain(acu, args, &v.gain_tx);
    case 17: return value_result(acu, v.gain_tx);
    case 19:
        v.vit = args[0];
        v.inactivity_ticks = v.vit * 10u;
        v.inactivity_enabled = 0;  // until the next data
        return VOICE_RESULT_OK;
    case 20: case 27: case 30: case 41: return text_result(acu, "0-255");
    case 21: return value_result(acu, v.vit);
    case 22: return line_select(acu, args[0]);
    case 23: return selections_text(acu);
    case 24: return value_result(acu, v.vls);
    case 25: v.vra = args[0]; return VOICE_RESULT_OK;
    case 26: return value_result(acu, v.vra);
    case 28: v.vrn = args[0]; return VOICE_RESULT_OK;
    case 29: return value_result(acu, v.vrn);
    case 31: return start_transfer(acu, false);
    case 32: return set_silence(acu, args);
    case 33: {
        v.text[0] = 0;
        txt_append_dec(v.text, sizeof v.text, v.silence_sensitivity);
        txt_append(v.text, sizeof v.text, ",");
        txt_append_dec(v.text, sizeof v.text, v.silence_duration);
        return VOICE_RESULT_TEXT;
    }
    case 34: return text_result(acu, "(121-131),(0-50)");
    case 35: return set_method(acu, args);
    case 36: return methods_text(acu);
    case 37: return method_query(acu);
    case 38: return text_result(acu, "(0,1)");
    case 39: return store_byte(args, 0, 1, &v.vsp);
    case 40: return value_result(acu, v.vsp);
    case 42: v.vsps = args[0]; return VOICE_RESULT_OK;
    case 43: return value_result(acu, v.vsps);
    case 44: return store_byte(args, kToneDurationMin, 255, &v.tone_duration);
    case 45: return text_result(acu, "5-255");
    case 46: return value_result(acu, v.tone_duration);
    case 47: return start_tones(acu, args);
    case 48: return text_result(acu, "(200-3000),(200-3000),(5-500)");
    case 49: return start_transfer(acu, true);
    default: return VOICE_RESULT_ERROR;
    }
}
