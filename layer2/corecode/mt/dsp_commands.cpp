// The command senders, the line-control field setters and the line-interface mode table.
#include <cstdio>

#include "layer2/corecode/mt/dsp_commands.h"

#include "platform/byte_order.h"
#include "window/icd_packet.h"

const LineModeRow LineModeTable[kLineModeRows] = {
    {0, 0, 0, 0, 0, 0, 0, 0}, {1, 0, 0, 2, 3, 0, 0, 0}, {0, 1, 0, 2, 3, 0, 0, 1}, {0, 1, 0, 2, 3, 0, 0, 1},
    {1, 1, 0, 0, 0, 0, 0, 0}, {1, 1, 0, 2, 3, 0, 0, 0}, {0, 1, 0, 1, 0, 0, 0, 0}, {0, 1, 0, 0, 1, 0, 0, 0},
    {0, 0, 0, 0, 1, 0, 0, 1}, {1, 1, 0, 1, 2, 0, 0, 1}, {0, 0, 1, 2, 0, 0, 0, 0}, {0, 0, 1, 2, 0, 0, 0, 0},
    {1, 1, 0, 2, 0, 0, 0, 0}, {1, 1, 0, 2, 0, 1, 1, 0}, {1, 1, 0, 2, 0, 0, 0, 0}, {1, 1, 0, 2, 0, 1, 1, 1},
    {1, 1, 0, 2, 0, 0, 0, 1}, {1, 1, 0, 2, 0, 2, 0, 0}, {1, 1, 0, 2, 0, 1, 1, 0}, {1, 1, 0, 2, 0, 1, 1, 1},
    {1, 1, 0, 1, 2, 1, 1, 1}, {1, 1, 0, 1, 2, 1, 1, 0},
};

namespace {

struct RateCode {
    uint16_t rate;
    uint8_t code;
};

const RateCode kRateCodes[] = {
    {75, 3},     {300, 2},    {1200, 3},   {2400, 4},   {4800, 5},   {7200, 6},   {9600, 7},   {12000, 8},
    {14400, 9},  {16800, 10}, {19200, 11}, {21600, 16}, {24000, 17}, {26400, 18}, {28800, 19}, {31200, 20},
    {33333, 32}, {33600, 21}, {36000, 22}, {37333, 33}, {41333, 34}, {42666, 35}, {44000, 36}, {45333, 37},
    {46666, 38}, {48000, 39}, {49333, 40}, {50666, 41}, {52000, 42}, {53333, 43}, {54666, 44}, {56000, 45}, {57333, 46},
};

constexpr uint8_t kOptionHookBit = 0x04;

const int16_t kVoicePathWords[14] = {1638,  -3271, 1638, -15575, 31150, 16383, -6562,
                                     16383, -15013, 28969, 255,   32512, 256,   12288};

// Fills the buffer and sends it with the channel held from the fill to the reply (the buffer is shared).
int send(DspLineControl* lc, uint8_t code, const uint8_t* payload, int length, uint8_t reply_mode = kReplyAck,
         uint8_t* reply_out = nullptr)
{
    return dsp_send_command(lc->link, code, payload, length, reply_mode, reply_out);
}

}  // namespace

void dsp_line_control_init(DspLineControl* lc, DspLink* link, DspMessageQueue* queue)
{
    *lc = DspLineControl{};
    lc->link = link;
    lc->queue = queue;
    lc->speakerVolume = 1;
}

uint8_t dsp_rate_code(uint32_t rate)
{
    for (const RateCode& r : kRateCodes)
        if (r.rate == rate)
            return r.code;
    return 9;
}

void opt_set(uint8_t* word, uint8_t bit, uint8_t flag)
{
    if (flag)
        *word |= bit;
    else
        *word &= static_cast<uint8_t>(~bit);
}

int dsp_set_speaker(DspLineControl* lc, bool on)
{
    lc->speakerOn = on ? 1 : 0;
    const uint8_t payload[2] = {static_cast<uint8_t>(on ? lc->speakerVolume : 0), 0};
    return send(lc, IcdSetLowerOption, payload, 2);
}

int dsp_set_speaker_volume(DspLineControl* lc, uint8_t volume)
{
    lc->speakerVolume = volume == 0 ? 1 : volume;
    return dsp_set_speaker(lc, lc->speakerOn != 0);
}

int dsp_set_option_6c(DspLineControl* lc, uint8_t b)
{
    const uint8_t payload[2] = {b, 0};
    return send(lc, IcdSetOption6C, payload, 1);
}

int dsp_start_data_pump(DspLineControl* lc, uint8_t flags, uint32_t rate, uint8_t mode)
{
    if (mode == 23) {
        mode = 18;
        rate = rate / 2400u * 2400u;
        if (rate > 33600)
            rate = 33600;
    }
    IcdConnectionPayload start{};
    start.rateCode = dsp_rate_code(rate);
    start.mode = mode;
    start.originate = flags & 1;
    start.procedureKind = (flags >> 1) & 3;
    start.singleTone = (flags >> 3) & 1;
    start.flag6 = (flags >> 4) & 1;
    uint8_t payload[kIcdConnectionLength];
    const int result = send(lc, IcdStartDataPump, payload, IcdEncode(start, payload));
    lc->connectionState = 3;
    return result;
}

int dsp_set_voice_mode(DspLineControl* lc, uint8_t c)
{
    const uint8_t payload[2] = {c, 0};
    return send(lc, IcdVoiceMode, payload, 1);
}

int dsp_set_line_control(DspLineControl* lc, uint16_t keep, uint16_t value, uint8_t channel)
{
    uint8_t payload[6];
    WriteLe16(payload, keep);
    WriteLe16(payload + 2, value);
    payload[4] = channel;
    payload[5] = 0;
    return send(lc, IcdSetLineControl, payload, 6);
}

int dsp_send_escape_code(DspLineControl* lc, uint8_t b)
{
    const uint8_t payload[2] = {b, 0};
    return send(lc, IcdSetByte99, payload, 2);
}

int dsp_go_idle(DspLineControl* lc)
{
    return send(lc, IcdGoIdle, nullptr, 0);
}

int dsp_start_voice(DspLineControl* lc, uint8_t a, uint8_t b, uint8_t c)
{
    const uint8_t payload[4] = {a, b, c, 0};
    return send(lc, IcdStartVoice, payload, 4);
}

int dsp_set_voice_params(DspLineControl* lc, uint8_t a, uint8_t b)
{
    const uint8_t payload[2] = {a, b};
    return send(lc, IcdSetVoiceParams, payload, 2);
}

int dsp_set_caller_id_mode(DspLineControl* lc, uint8_t m)
{
    const uint8_t payload[2] = {m, 0};
    return send(lc, IcdSetCallerIdMode, payload, 2);
}

int dsp_query_version(DspLineControl* lc, uint8_t* reply_out)
{
    return send(lc, IcdQueryVersion, nullptr, 0, kReplyExpected, reply_out);
}

int dsp_reset_with_line_byte(DspLineControl* lc)
{
    const uint8_t payload[2] = {0, 0};
    const int result = send(lc, IcdSetLineByte, payload, 2);
    if (result != kIcdSent)
        return result;
    return send(lc, IcdReset, payload, 2);
}

int dsp_write_gain_word(DspLineControl* lc, uint8_t b)
{
    const DspValueRequest request{kGainWordAddress, 0};
    const uint16_t word = static_cast<uint16_t>(b << 8);
    return dsp_write_value(lc->link, &request, &word, 1);
}

int dsp_set_line_field_2_3(DspLineControl* lc, uint8_t flag, uint8_t channel)
{
    lc->bits2Flag[channel & 1] = flag;
    return dsp_set_line_control(lc, 0xFFF3, flag == 1 ? 12 : 0, channel);
}

int dsp_set_line_field_12_13(DspLineControl* lc, uint8_t v, uint8_t channel)
{
    lc->bits12Value[channel & 1] = v & 3;
    return dsp_set_line_control(lc, 0xCFFF, static_cast<uint16_t>((v & 3) << 12), channel);
}

int dsp_set_line_field_10_11(DspLineControl* lc, uint8_t v, uint8_t channel)
{
    return dsp_set_line_control(lc, 0xF3FF, static_cast<uint16_t>((v & 3) << 10), channel);
}

int dsp_set_line_field_8_9(DspLineControl* lc, uint8_t v, uint8_t channel)
{
    return dsp_set_line_control(lc, 0xFCFF, static_cast<uint16_t>((v & 3) << 8), channel);
}

void dsp_line_field_12_13_hold(DspLineControl* lc, bool hold)
{
    if (hold) {
        lc->bits12Saved[0] = lc->bits12Value[0];
        lc->bits12Saved[1] = lc->bits12Value[1];
        dsp_set_line_field_12_13(lc, 0, 0);
        dsp_set_line_field_12_13(lc, 0, 1);
    } else {
        dsp_set_line_field_12_13(lc, lc->bits12Saved[0], 0);
        dsp_set_line_field_12_13(lc, lc->bits12Saved[1], 1);
    }
}

void dsp_line_field_2_3_both(DspLineControl* lc, uint8_t flag)
{
    const uint16_t value = flag == 0 ? (3 << 2) : 0;
    dsp_set_line_control(lc, 0xFFF3, value, 0);
    dsp_set_line_control(lc, 0xFFF3, value, 1);
}

bool dsp_set_hook(DspLineControl* lc, bool off_hook)
{
    opt_set(&lc->optionA, kOptionHookBit, off_hook ? 1 : 0);
    if (!lc->queue)
        return false;
    return dsp_msg_send(lc->queue, kMsgHook, off_hook ? 3 : 4, true, nullptr, 0);
}

void dsp_apply_line_mode(DspLineControl* lc, uint8_t row)
{
    if (row >= kLineModeRows)
        return;
    const LineModeRow& r = LineModeTable[row];
    dsp_set_hook(lc, r.hook != 0);
    dsp_relay_voice(lc->link, r.voice != 0);
    dsp_relay_caller_id(lc->link, r.callerId != 0);
    dsp_relay_speaker_handset(lc->link, r.speaker != 0);
    dsp_set_line_field_2_3(lc, r.bits2Ch0 == 1 ? 1 : 0, 0);
    dsp_set_line_field_2_3(lc, r.bits2Ch1 == 1 ? 1 : 0, 1);
    dsp_set_line_field_12_13(lc, r.bits12Ch0, 0);
    dsp_set_line_field_12_13(lc, r.bits12Ch1, 1);
    if (row == 0) {
        for (uint8_t ch = 0; ch < 2; ++ch) {
            dsp_set_line_field_10_11(lc, 2, ch);
            dsp_set_line_field_8_9(lc, 3, ch);
        }
    }
    lc->lineModeRow = row;
}

void dsp_line_mode_default(DspLineControl* lc)
{
    dsp_apply_line_mode(lc, 0);
}

int dsp_load_voice_path_params(DspLineControl* lc)
{
    dsp_set_line_control(lc, 0, 4608, 0);
    dsp_set_line_control(lc, 0, 7692, 1);
    lc->voiceFlags[0] = lc->voiceFlags[1] = lc->voiceFlags[2] = 0;
    uint16_t words[15];
    for (int i = 0; i < 14; ++i)
        words[i] = static_cast<uint16_t>(kVoicePathWords[i]);
    words[14] = static_cast<uint16_t>(lc->voiceSetting);
    const int counts[3] = {7, 7, 1};
    int at = 0;
    int result = kIcdSent;
    for (int part = 0; part < 3; ++part) {
        const DspValueRequest request{kVoicePathAddress[part], 0};
        const int r = dsp_write_value(lc->link, &request, words + at, counts[part]);
        if (r != kIcdSent && result == kIcdSent)
            result = r;
        at += counts[part];
    }
    // '+' at 0x92 and '/' at 0x93: the data pump keeps the two words as one 32-bit parameter at 0x92 and has
    // no entry of its own at 0x93, so both go in one write there.
    const uint16_t marks[2] = {'+', '/'};
    const DspValueRequest a92{kVoiceMarkAddress, 0};
    dsp_write_value(lc->link, &a92, marks, 2);
    return result;
}

int dsp_show_version(DspLineControl* lc)
{
    uint8_t d[16] = {};
    const int result = dsp_query_version(lc, d);
    if (result != kIcdSent)
        return result;
    char text[64];
    const IcdVersionPayload v = IcdDecodeVersion(d);
    std::snprintf(text, sizeof text, "\r\nDSP Software Version : %u.%u.%u.%u", v.part[0], v.part[1], v.part[2],
                  v.part[3]);
    if (lc->link->hooks.print)
        lc->link->hooks.print(lc->link->hooks.ctx, text);
    return result;
}

uint8_t dsp_read_progress(DspLineControl* lc)
{
    lc->progress = dsp_reg_read(lc->link, kRegProgress);
    return lc->progress;
}

uint8_t dsp_get_call_progress(DspLineControl* lc)
{
    const uint8_t p = dsp_read_progress(lc);
    if (p >= 4 && p != 5 && p != 7)
        return p;
    return lc->take_tone_result ? lc->take_tone_result(lc->toneCtx) : 0;
}
