// Class 3: hook changes, pulse dialling, hook flash and the line-interface profile.
#include "layer2/corecode/mt/dsp_hook_handler.h"

#include "layer2/corecode/cmd/country_block.h"
#include "layer2/corecode/mt/dsp_control.h"
#include "layer2/corecode/mt/dsp_device.h"
#include "layer2/corecode/mt/dsp_line_handlers.h"
#include "layer2/corecode/mt/dsp_options.h"

namespace {

enum HookMsgType : uint8_t {
    kHookOnAlias = 2,
    kHookOff = 3,
    kHookOn = 4,
    kPulseSelect = 5,
    kPulseDigit = 6,
    kPulseEnd = 7,
    kHookFlash = 8,
    kProfileSelect = 9,
};

constexpr uint8_t kPulseFlag = 1;  // 0x66 flag: the digit is sent as loop-disconnect pulses

void hook_change(DspDevice* dev, const CountryLineProfile& p, bool off_hook);

void step_expired(void* arg)
{
    auto* dev = static_cast<DspDevice*>(arg);
    DspHookState& s = dev->context.hookState;
    if (s.flashing) {
        s.flashing = 0;
        dsp_relay_hook(dev, true);
    }
    s.pulseCount = 0;
    if (s.released) {
        s.released = 0;
        CountryLineProfile p{};
        if (s.offHookPending && cb_line_profile(*dev->context.country, dev->context.profileIndex, &p)) {
            // The loop has been open for the whole on-hook wait: the waiting off-hook request goes ahead (the
            // idle detectors are not wanted off hook).
            s.offHookPending = 0;
            hook_change(dev, p, true);
            return;
        }
        s.offHookPending = 0;
        dsp_detector_reset(dev);
    }
    if (s.reportEnd) {
        s.reportEnd = 0;
        dsp_report_step_done(&dev->context);
    }
}

// Arms the step's wait; false (nothing done) when no timer was free.
bool arm(DspDevice* dev, uint32_t ms, bool report)
{
    DspHookState& s = dev->context.hookState;
    s.reportEnd = 0;
    s.flashing = 0;
    s.released = 0;
    if (!dsp_context_start_timer(&dev->context, &s.timerId, ms, step_expired, dev))
        return false;
    s.reportEnd = report ? 1 : 0;
    return true;
}

void hook_change(DspDevice* dev, const CountryLineProfile& p, bool off_hook)
{
    DspHookState& s = dev->context.hookState;
    // Within the on-hook wait after the loop was opened, the loop stays open for the wait's whole length, so
    // that the exchange takes it as a hang-up: an off-hook request waits for its end (and a new on-hook
    // request only withdraws it).
    if (s.released && s.timerId != 0) {
        s.offHookPending = off_hook ? 1 : 0;
        return;
    }
    // A hook change ends whatever step was running, unreported (call control's own wait ends it).
    dsp_context_cancel_timer(&dev->context, &s.timerId);
    const bool was_off_hook = (dsp_reg_read(&dev->link, kRegGpioData0) & kRelayHook) == 0;
    dsp_relay_hook(dev, off_hook);
    if (arm(dev, off_hook ? p.off_hook_wait_ms : p.on_hook_wait_ms, false))
        s.released = (!off_hook && was_off_hook) ? 1 : 0;
}

// One pulse digit: the data pump's pulse generator makes count breaks and makes, then the pause.
void pulse_digit(DspDevice* dev, const CountryLineProfile& p, uint8_t character)
{
    const uint8_t count = dsp_pulse_count(character);
    if (count == 0)
        return;
    const uint8_t make = dsp_timing_byte(p.pulse_make_ms);
    const uint8_t brk = dsp_timing_byte(p.pulse_break_ms);
    const uint32_t wait = p.interdigit_ms + static_cast<uint32_t>(count) * (static_cast<uint32_t>(make) + brk);
    if (!arm(dev, wait, true))
        return;
    dev->context.hookState.pulseCount = count;
    // With the pulse flag the sender puts the second time first: the pump reads {break, make}.
    dsp_set_dtmf_timing(dev, make, brk, kPulseFlag, p.interdigit_ms);
    dsp_start_digit(dev, static_cast<uint8_t>(count % 10));
}

void hook_flash(DspDevice* dev, const CountryLineProfile& p)
{
    if (!arm(dev, p.flash_ms[0], true))
        return;
    dev->context.hookState.flashing = 1;
    dsp_relay_hook(dev, false);
}

// The profile whose id is the setting, else the first (and the setting is cleared).
void select_profile(DspLinkContext* ctx)
{
    DspHookState& s = ctx->hookState;
    const unsigned n = cb_profile_count(*ctx->country);
    for (unsigned i = 0; i < n; ++i) {
        CountryLineProfile p{};
        if (cb_line_profile(*ctx->country, i, &p) && p.id == s.profileSetting) {
            ctx->profileIndex = static_cast<uint8_t>(i);
            return;
        }
    }
    ctx->profileIndex = 0;
    s.profileSetting = 0;
}

}  // namespace

uint8_t dsp_pulse_count(uint8_t character)
{
    if (character < '0' || character > '9')
        return 0;
    return character == '0' ? 10 : static_cast<uint8_t>(character - '0');
}

void dsp_on_hook_msg(DspMessageNode* node, void* user)
{
    auto* dev = static_cast<DspDevice*>(user);
    DspLinkContext* ctx = &dev->context;
    if (ctx->ready == 0 || ctx->country == nullptr || cb_profile_count(*ctx->country) == 0)
        return;
    if (node->type == kProfileSelect) {
        select_profile(ctx);
        return;
    }
    CountryLineProfile p{};
    if (!cb_line_profile(*ctx->country, ctx->profileIndex, &p))
        return;
    switch (node->type) {
    case kHookOff: hook_change(dev, p, true); break;
    case kHookOn:
    case kHookOnAlias: hook_change(dev, p, false); break;
    case kPulseSelect: ctx->hookState.pulse = 1; break;
    case kPulseDigit: pulse_digit(dev, p, node->payload[0]); break;
    case kPulseEnd:
        ctx->hookState.pulse = 0;
        arm(dev, p.end_dial_wait_ms, false);
        break;
    case kHookFlash: hook_flash(dev, p); break;
    default: break;
    }
}
