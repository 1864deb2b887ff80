// Class 6: tone dialling, DTMF digits and tone pairs.
#include "layer2/corecode/mt/dsp_tone_gen_handler.h"

#include "layer2/corecode/cmd/country_block.h"
#include "layer2/corecode/mt/dsp_control.h"
#include "layer2/corecode/mt/dsp_device.h"
#include "layer2/corecode/mt/dsp_line_handlers.h"
#include "platform/byte_order.h"
#include "window/icd_packet.h"

namespace {

enum ToneGenMsgType : uint8_t {
    kToneReset = 1,
    kToneRequest = 3,
    kToneSelect = 6,
    kToneDigit = 7,
    kToneEnd = 8,
};

constexpr uint8_t kRequestDtmf = 1;
constexpr uint8_t kRequestTonePair = 2;
constexpr uint8_t kTonePairPlay = 1;
constexpr uint16_t kToneMaxHz = 4000;  // the line's band: the pump's 9600 Hz words wrap above 4800 Hz
constexpr uint32_t kPumpRate = 9600;

int send_tone_pair(DspDevice* dev, uint16_t w1, uint16_t w2, uint8_t control)
{
    uint8_t payload[kIcdTonePairLength];
    const int length = IcdEncode(IcdTonePairPayload{w1, w2, control}, payload);
    return dsp_send_command(&dev->link, IcdPlayTonePair, payload, length, kReplyAck, nullptr);
}

// The generator's levels: the country's DTMF low-group level for the first tone, high-group for the second.
void send_levels(DspDevice* dev)
{
    const CountryDtmf d = cb_dtmf(*dev->context.country);
    dsp_set_tx_level(dev, 0, static_cast<uint16_t>(d.level_low | (d.level_high << 8)));
}

void stop_tone_pair(DspDevice* dev)
{
    DspToneGenState& s = dev->context.toneGen;
    if (!s.tonePairOn)
        return;
    s.tonePairOn = 0;
    send_tone_pair(dev, 0, 0, 0);
}

void step_expired(void* arg)
{
    auto* dev = static_cast<DspDevice*>(arg);
    DspToneGenState& s = dev->context.toneGen;
    stop_tone_pair(dev);
    if (s.reportEnd) {
        s.reportEnd = 0;
        dsp_report_step_done(&dev->context);
    }
}

// Ends the running step unreported and arms the next one's wait; false (nothing done) when no timer was free.
bool arm(DspDevice* dev, uint32_t ms, bool report)
{
    DspToneGenState& s = dev->context.toneGen;
    dsp_context_cancel_timer(&dev->context, &s.timerId);
    s.reportEnd = 0;
    stop_tone_pair(dev);
    if (!dsp_context_start_timer(&dev->context, &s.timerId, ms, step_expired, dev))
        return false;
    s.reportEnd = report ? 1 : 0;
    return true;
}

void dtmf_digit(DspDevice* dev, uint8_t character, uint16_t on_ms, uint16_t off_ms)
{
    const int code = dsp_dtmf_code(character);
    if (code < 0)
        return;
    const uint8_t on = dsp_timing_byte(on_ms);
    const uint8_t off = dsp_timing_byte(off_ms);
    if (!arm(dev, static_cast<uint32_t>(on) + off, true))
        return;
    send_levels(dev);
    dsp_set_dtmf_timing(dev, on, off, 0, 0);
    dsp_start_digit(dev, static_cast<uint8_t>(code));
}

void tone_pair(DspDevice* dev, uint16_t f1, uint16_t f2, uint16_t on_ms)
{
    if (f1 > kToneMaxHz || f2 > kToneMaxHz || on_ms == 0)
        return;
    if (!arm(dev, on_ms, false))
        return;
    send_levels(dev);
    // Control 1 plays the second word as the generator's first tone, at the high-group level.
    if (send_tone_pair(dev, dsp_tone_phase_step(f1), dsp_tone_phase_step(f2), kTonePairPlay) == kIcdSent)
        dev->context.toneGen.tonePairOn = 1;
}

void request(DspDevice* dev, const uint8_t* p)
{
    if (p[0] == kRequestDtmf)
        dtmf_digit(dev, p[1], ReadLe16(p + 2), ReadLe16(p + 4));
    else if (p[0] == kRequestTonePair)
        tone_pair(dev, ReadLe16(p + 1), ReadLe16(p + 3), ReadLe16(p + 5));
}

}  // namespace

int dsp_dtmf_code(uint8_t character)
{
    if (character >= '0' && character <= '9')
        return character - '0';
    if (character >= 'A' && character <= 'D')
        return 10 + (character - 'A');
    if (character == '*')
        return 14;
    if (character == '#')
        return 15;
    return -1;
}

uint16_t dsp_tone_phase_step(uint16_t hz)
{
    return static_cast<uint16_t>((static_cast<uint32_t>(hz) * 65536u + kPumpRate / 2) / kPumpRate);
}

void dsp_on_tone_gen_msg(DspMessageNode* node, void* user)
{
    auto* dev = static_cast<DspDevice*>(user);
    DspLinkContext* ctx = &dev->context;
    DspToneGenState& s = ctx->toneGen;
    if (node->type == kToneReset) {
        dsp_context_cancel_timer(ctx, &s.timerId);
        stop_tone_pair(dev);
        s = DspToneGenState{};
        return;
    }
    if (ctx->ready == 0 || ctx->country == nullptr)
        return;
    switch (node->type) {
    case kToneRequest: request(dev, node->payload); break;
    case kToneSelect: s.toneDialling = 1; break;
    case kToneDigit: {
        const CountryDtmf d = cb_dtmf(*ctx->country);
        dtmf_digit(dev, node->payload[0], d.on_ms, d.off_ms);
        break;
    }
    case kToneEnd: s.toneDialling = 0; break;
    default: break;
    }
}
