// The ring-cadence detector: the data pump's detector reports become tone-on and tone-off segments, which
// are matched against the country block's ring cadences and turned into ring messages (class 1 type 3) and
// the ring indicator towards the application; and the handlers of the ring and cadence messages.
//
// The segment lists: the first list of a cadence entry serves the first evaluation after a reset, the second
// every later one. When a cadence entry has matched all its segments the history entries it used are marked
// (flag 1) and the next evaluation starts after them, against the second lists. An entry takes part in an
// evaluation only when every segment since the start position matches its list in order.
#include <cstring>

#include "layer2/corecode/cmd/country_block.h"
#include "layer2/corecode/dte/data_link_stubs.h"
#include "layer2/corecode/mt/dsp_link.h"
#include "layer2/corecode/mt/dsp_link_context.h"

namespace {

constexpr uint8_t kRingIndication = 3;

void set_option_ring(DspLinkContext* ctx, bool on)
{
    if (ctx->optionA == nullptr)
        return;
    if (on)
        *ctx->optionA = static_cast<uint8_t>(*ctx->optionA | kOptionRingBit);
    else
        *ctx->optionA = static_cast<uint8_t>(*ctx->optionA & ~kOptionRingBit);
}

void ri(DspLinkContext* ctx, bool on)
{
    void (*f)(void*) = on ? ctx->hooks.raise_ri : ctx->hooks.drop_ri;
    if (f != nullptr)
        f(ctx->hooks.ctx);
}

void start(DspLinkContext* ctx, uint8_t* id, uint32_t ms, void (*callback)(void*, void*), uintptr_t arg)
{
    if (ctx->queue == nullptr)
        return;
    dsp_timer_arm(&ctx->queue->timers, id, ms, kTimerCall2, reinterpret_cast<void*>(callback), ctx,
                  reinterpret_cast<void*>(arg));
}

void post_ring(DspLinkContext* ctx, uint8_t kind, uint8_t duration)
{
    if (ctx->queue == nullptr)
        return;
    const uint8_t payload[3] = {kind, duration, ctx->cadence.reportDelay};
    dsp_msg_send(ctx->queue, kMsgRing, kRingIndication, false, payload, 3);
}

void hold_expired(void* a1, void*)
{
    dsp_cadence_reset(static_cast<DspLinkContext*>(a1));
}

void delayed_report(void* a1, void* a2)
{
    post_ring(static_cast<DspLinkContext*>(a1), kRingValid, static_cast<uint8_t>(reinterpret_cast<uintptr_t>(a2)));
}

bool segment_matches(const CountrySegment& s, const DspCadenceEntry& e)
{
    return e.duration >= s.dur_low_ms && e.duration <= s.dur_high_ms && e.rate >= s.rate_low &&
           e.rate <= s.rate_high;
}

void evaluate(DspLinkContext* ctx)
{
    DspCadenceState& c = ctx->cadence;
    int first = kCadenceHistory;
    for (int p = 0; p < kCadenceHistory; ++p) {
        if (c.history[p].duration != 0 && c.history[p].flag == 0) {
            first = p;
            break;
        }
    }
    const int left = kCadenceHistory - first;
    const unsigned entries = cb_cadence_count(*ctx->country);
    int best = -1;
    int bestMatches = 0;
    int bestCount = 0;
    CountrySegment bestSegment{};
    for (unsigned i = 0; i < entries; ++i) {
        CountryCadence cad{};
        if (!cb_cadence(*ctx->country, i, &cad))
            continue;
        const CountrySegment* list = c.reevaluate ? cad.first : cad.second;
        const int n = c.reevaluate ? cad.first_count : cad.second_count;
        int matches = 0;
        while (matches < n && matches < left && segment_matches(list[matches], c.history[first + matches]))
            ++matches;
        // An entry counts only when the whole history since the start position is a prefix of its list.
        const int needed = n < left ? n : left;
        if (matches == 0 || matches != needed)
            continue;
        if (matches > bestMatches) {
            best = static_cast<int>(i);
            bestMatches = matches;
            bestCount = n;
            bestSegment = list[matches - 1];
        }
        if (matches > 0 && matches == n)
            break;
    }
    if (best < 0) {
        dsp_cadence_reset(ctx);
        post_ring(ctx, kRingNone, 0);
        return;
    }
    c.resultIndex = static_cast<uint8_t>(best);
    const DspCadenceEntry& newest = c.history[kCadenceHistory - 1];
    const auto duration = static_cast<uint8_t>(newest.duration / 100u > 255u ? 255u : newest.duration / 100u);
    if (newest.rate != 0) {
        c.state = 2;
        set_option_ring(ctx, true);
        ri(ctx, true);
        dsp_context_cancel_timer(ctx, &c.holdTimer);
        start(ctx, &c.holdTimer, cb_cadence_hold_ms(*ctx->country), hold_expired, 0);
    } else {
        c.state = 4;
        set_option_ring(ctx, false);
        ri(ctx, false);
    }
    if (c.mode == 1 || c.mode == 2)
        post_ring(ctx, c.state == 2 ? kRingOn : kRingOff, duration);
    if ((c.mode == 0 || c.mode == 2) && (bestSegment.flags & 1) != 0) {
        ++c.count;
        if (c.reportDelay == 0) {
            post_ring(ctx, kRingValid, duration);
        } else {
            dsp_context_cancel_timer(ctx, &c.delayTimer);
            start(ctx, &c.delayTimer, c.reportDelay * 100u, delayed_report, duration);
        }
    }
    if (bestMatches == bestCount && bestCount == left) {
        // The cadence is complete: its segments are used up, the next one starts after them.
        for (int p = first; p < kCadenceHistory; ++p)
            c.history[p].flag = 1;
        c.reevaluate = 0;
    }
}

}  // namespace

void dsp_cadence_reset(DspLinkContext* ctx)
{
    DspCadenceState& c = ctx->cadence;
    c.resultIndex = 255;
    c.count = 0;
    c.reevaluate = 1;
    c.state = 1;
    std::memset(c.history, 0, sizeof c.history);
    set_option_ring(ctx, false);
    ri(ctx, false);
}

void dsp_cadence_sample(DspLinkContext* ctx, uint16_t rate, uint16_t duration, uint16_t stamp)
{
    DspCadenceState& c = ctx->cadence;
    if (ctx->country != nullptr && duration != 0 && stamp != 0) {
        std::memmove(c.history, c.history + 1, sizeof c.history[0] * (kCadenceHistory - 1));
        c.history[kCadenceHistory - 1] = DspCadenceEntry{0, rate, duration};
        evaluate(ctx);
    }
    if (stamp != 0)
        c.lastStamp = stamp;
}

void dsp_cadence_step(DspLinkContext* ctx)
{
    CadenceSample s;
    if (ctx->link != nullptr && dsp_cadence_take(ctx->link, &s))
        dsp_cadence_sample(ctx, s.rate, s.duration, s.stamp);
}

void dsp_on_cadence_msg(DspMessageNode* node, void* user)
{
    auto* ctx = static_cast<DspLinkContext*>(user);
    DspCadenceState& c = ctx->cadence;
    switch (node->type) {
    case 3:
        c.mode = node->payload[0] == 0 ? 0 : node->payload[1] == 0 ? 1 : 2;
        c.reportDelay = node->payload[1];
        return;
    case 0:
    case 1:
        c.mode = 0;
        c.reportDelay = 0;
        dsp_context_cancel_timer(ctx, &c.delayTimer);
        [[fallthrough]];
    case 2:
        dsp_context_cancel_timer(ctx, &c.holdTimer);
        dsp_cadence_reset(ctx);
        return;
    default:
        return;
    }
}

void dsp_on_ring_msg(DspMessageNode* node, void* user)
{
    auto* ctx = static_cast<DspLinkContext*>(user);
    const DspLinkContextHooks& h = ctx->hooks;
    switch (node->type) {
    case 1:
        if (h.ring_off)
            h.ring_off(h.ctx);
        return;
    case 3:
        trace_hook(node->payload[0]);
        if (h.ring_allowed && !h.ring_allowed(h.ctx))
            return;
        if (h.ring_event)
            h.ring_event(h.ctx, node->payload);
        return;
    case 4:
        if (h.caller_id_byte)
            h.caller_id_byte(h.ctx, node->payload[0]);
        return;
    default:
        return;
    }
}
