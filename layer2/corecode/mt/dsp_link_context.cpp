// The DSP link context: set-up and restart of the message interface, the message senders, the tone
// results, the country data call control reads through the link, and the wait-for-carrier timer.
#include "layer2/corecode/mt/dsp_link_context.h"

#include <cstdint>
#include <cstring>

#include "layer2/corecode/cmd/country_block.h"
#include "layer2/corecode/mt/dsp_link.h"

namespace {

constexpr uint8_t kSetupOrder[] = {kMsgLineInterface, kMsgRing, kMsgToneGen, kMsgHook,
                                   kMsgToneDetect,    kMsgCountry, kMsgCadence, kMsgTable};
constexpr uint8_t kHangupEvent = 10;

bool post(DspLinkContext* ctx, uint8_t msg_class, uint8_t type, bool urgent, const uint8_t* payload = nullptr,
          int length = 0)
{
    return ctx->queue != nullptr && dsp_msg_send(ctx->queue, msg_class, type, urgent, payload, length);
}


void wait_timer_expired(void* a1, void* a2)
{
    auto* ctx = static_cast<DspLinkContext*>(a1);
    const auto argument = static_cast<uint8_t>(reinterpret_cast<uintptr_t>(a2));
    const DspLinkContextHooks& h = ctx->hooks;
    if (ctx->carrierWaitNotify && h.call_state && h.call_state(h.ctx) == 7)
        post(ctx, kMsgCountry, 5, false);
    if (!h.post_event)
        return;
    if (h.call_mode && h.call_mode(h.ctx) == 8 && h.fax_mode && h.fax_mode(h.ctx)) {
        h.post_event(h.ctx, kHangupEvent, 21);
        h.post_event(h.ctx, 0, 8);
    } else {
        h.post_event(h.ctx, kHangupEvent, argument);
    }
}

}  // namespace

void dsp_report_step_done(DspLinkContext* ctx)
{
    if (ctx->hooks.step_done != nullptr)
        ctx->hooks.step_done(ctx->hooks.ctx);
}

// Cancels the context's timer held in *id (0: none running) and marks it stopped.
void dsp_context_cancel_timer(DspLinkContext* ctx, uint8_t* id)
{
    if (*id == 0 || ctx->queue == nullptr)
        return;
    DspTimerRequest r{};
    r.list = &ctx->queue->timers;
    r.id = *id;
    dsp_timer_cancel(&r);
    *id = 0;
}

bool dsp_context_start_timer(DspLinkContext* ctx, uint8_t* id, uint32_t ms, void (*expired)(void* arg), void* arg)
{
    if (ctx->queue == nullptr)
        return false;
    dsp_context_cancel_timer(ctx, id);
    return dsp_timer_arm(&ctx->queue->timers, id, ms, kTimerCall1, reinterpret_cast<void*>(expired), arg, nullptr) ==
           0;
}

void DspInterfaceSetup(DspLinkContext* ctx, DspMessageQueue* queue, DspLink* link, uint8_t* option_a,
                       const CountryBlock* country, const DspHandlerRequest* handlers, int handler_count,
                       const DspLinkContextHooks* hooks)
{
    dsp_msg_queue_init(queue);
    std::memset(ctx, 0, sizeof *ctx);
    ctx->country = country;
    ctx->queue = queue;
    ctx->link = link;
    ctx->optionA = option_a;
    ctx->cadence.resultIndex = 255;
    ctx->cadence.reevaluate = 1;
    ctx->cadence.state = 1;
    if (hooks != nullptr)
        ctx->hooks = *hooks;
    for (uint8_t c : kSetupOrder) {
        DspHandlerRequest r{c, nullptr, nullptr};
        for (int i = 0; i < handler_count; ++i)
            if (handlers[i].msgClass == c)
                r = handlers[i];
        if (r.callback == nullptr && c == kMsgRing)
            r = DspHandlerRequest{c, dsp_on_ring_msg, ctx};
        if (r.callback == nullptr && c == kMsgCadence)
            r = DspHandlerRequest{c, dsp_on_cadence_msg, ctx};
        if (r.callback != nullptr)
            dsp_msg_register_handler(queue, &r);
    }
    post(ctx, kMsgCountry, 1, false);
    ctx->ready = 1;
    if (link != nullptr) {
        CadenceSample s;
        while (dsp_cadence_take(link, &s)) {
        }
    }
}

void dsp_interface_restart(DspLinkContext* ctx)
{
    post(ctx, kMsgToneGen, 1, true);
    if (ctx->ready != 3)
        ctx->ready = ctx->profileActive ? 2 : 1;
    post(ctx, kMsgHook, 9, false);
    post(ctx, kMsgHook, 1, false);
    post(ctx, kMsgToneDetect, 1, false);
    post(ctx, kMsgCadence, 1, false);
    post(ctx, kMsgTable, 1, false);
    for (uint8_t& id : ctx->timerIds)
        dsp_context_cancel_timer(ctx, &id);
}

void dsp_msg_pump(DspLinkContext* ctx)
{
    if (ctx->queue == nullptr)
        return;
    dsp_msg_post_elapsed(ctx->queue);
    dsp_cadence_step(ctx);
    dsp_msg_dispatch(ctx->queue);
}

bool dsp_table_request(DspLinkContext* ctx) { return post(ctx, kMsgTable, 2, false); }

bool dsp_table_request_byte(DspLinkContext* ctx, uint8_t b) { return post(ctx, kMsgTable, 5, false, &b, 1); }

bool dsp_country_step6(DspLinkContext* ctx) { return post(ctx, kMsgCountry, 6, false); }
bool dsp_country_step4(DspLinkContext* ctx) { return post(ctx, kMsgCountry, 4, false); }
bool dsp_country_step5(DspLinkContext* ctx) { return post(ctx, kMsgCountry, 5, false); }
bool dsp_line_check(DspLinkContext* ctx) { return post(ctx, kMsgLineInterface, 3, false); }

bool dsp_cadence_config(DspLinkContext* ctx, uint8_t enable, uint8_t delay)
{
    const uint8_t payload[2] = {enable, delay};
    return post(ctx, kMsgCadence, 3, false, payload, 2);
}

bool dsp_detect_progress_tones(DspLinkContext* ctx)
{
    const uint8_t payload[5] = {4, 1, 3, 15, 5};
    return post(ctx, kMsgToneDetect, 3, false, payload, 5);
}

bool dsp_stop_tone_detect(DspLinkContext* ctx) { return post(ctx, kMsgToneDetect, 2, true); }

bool dsp_detect_tone(DspLinkContext* ctx, uint8_t tone_id)
{
    const uint8_t payload[2] = {1, tone_id};
    return post(ctx, kMsgToneDetect, 3, false, payload, 2);
}

bool dsp_generate_dtmf(DspLinkContext* ctx, uint8_t digit, uint16_t on_time, uint16_t off_time)
{
    const uint8_t payload[6] = {1,
                                digit,
                                static_cast<uint8_t>(on_time),
                                static_cast<uint8_t>(on_time >> 8),
                                static_cast<uint8_t>(off_time),
                                static_cast<uint8_t>(off_time >> 8)};
    return post(ctx, kMsgToneGen, 3, false, payload, 6);
}

int dsp_generate_tone_pair(DspLinkContext* ctx, uint16_t f1, uint16_t f2, uint16_t duration)
{
    const uint8_t payload[7] = {2,
                                static_cast<uint8_t>(f1),
                                static_cast<uint8_t>(f1 >> 8),
                                static_cast<uint8_t>(f2),
                                static_cast<uint8_t>(f2 >> 8),
                                static_cast<uint8_t>(duration),
                                static_cast<uint8_t>(duration >> 8)};
    return post(ctx, kMsgToneGen, 3, false, payload, 7) ? 1 : 0;
}

const char* dsp_country_profile_name(const DspLinkContext* ctx)
{
    if (ctx->ready == 0 || ctx->country == nullptr || ctx->profileIndex >= cb_profile_count(*ctx->country))
        return nullptr;
    return reinterpret_cast<const char*>(ctx->country->bytes + cb_profile_offset(ctx->profileIndex) + 4);
}

bool dsp_gpio_hook_state(DspLinkContext* ctx)
{
    CountryLineProfile p{};
    if (ctx->country == nullptr || ctx->link == nullptr || !cb_line_profile(*ctx->country, ctx->profileIndex, &p))
        return false;
    return (dsp_gpio_pins_inverted(ctx->link) & p.hook_mask) == p.hook_value;
}

uint8_t dsp_take_tone_result(DspLinkContext* ctx)
{
    for (auto& e : ctx->toneResults) {
        const uint8_t id = e[0];
        if ((id == 1 || id == 5 || id == 3 || id == 15) && e[1] == 2 && e[2] != 0) {
            e[1] = 0;
            e[2] = 0;
            return id;
        }
    }
    return 0;
}

uint8_t dsp_apply_s_defaults(const DspLinkContext* ctx, uint8_t* sreg, int count)
{
    if (ctx->country == nullptr)
        return 0;
    const unsigned n = cb_s_limit_count(*ctx->country);
    for (unsigned i = 0; i < n; ++i) {
        CountrySLimit l{};
        if (cb_s_limit(*ctx->country, i, &l) && l.reg != 255 && l.reg < count)
            sreg[l.reg] = l.def;
    }
    return cb_u8(*ctx->country, CB_POWER_UP_FLAG);
}

void acu_start_wait_timer(DspLinkContext* ctx, uint8_t argument)
{
    if (ctx->timerIds[0] != 0 || ctx->queue == nullptr)
        return;
    const uint8_t wait_s = ctx->hooks.carrier_wait_seconds ? ctx->hooks.carrier_wait_seconds(ctx->hooks.ctx) : 0;
    dsp_timer_arm(&ctx->queue->timers, &ctx->timerIds[0], static_cast<uint32_t>(wait_s) * 1000u, kTimerCall2,
                  reinterpret_cast<void*>(wait_timer_expired), ctx,
                  reinterpret_cast<void*>(static_cast<uintptr_t>(argument)));
}

void acu_cancel_wait_timer(DspLinkContext* ctx)
{
    dsp_context_cancel_timer(ctx, &ctx->timerIds[0]);
}
