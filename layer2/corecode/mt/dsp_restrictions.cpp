// Class 7: country parameters and the call-restriction bookkeeping.
//
//   type 1  apply the country parameters: the bookkeeping starts afresh, the line profile is re-selected
//   type 3  check a number (payload: pointer to the dial string) -> verdict through the context hooks
//   type 4  the call to the checked number failed
//   type 5  the call to the checked number succeeded
//   type 6  forget the pending check
#include "layer2/corecode/mt/dsp_restrictions.h"

#include <cstring>

#include "layer2/corecode/cmd/country_block.h"
#include "layer2/corecode/mt/dsp_device.h"
#include "layer2/corecode/mt/dsp_line_handlers.h"

namespace {

constexpr uint8_t kApplyCountry = 1, kCheckNumber = 3, kCallFailed = 4, kCallSucceeded = 5, kClearPending = 6;
constexpr uint8_t kReselectProfile = 9;  // class 3
constexpr uint8_t kFlagRelease = 0x01;   // restricted numbers are released after the restriction time
constexpr uint8_t kFlagDisabled = 0x02;  // numbers are never restricted

// ---- The three lists ----

void list_remove(DspRestrictionState* st, DspRestrictionEntry* e)
{
    DspRestrictionList& l = st->lists[e->list];
    if (e->prev)
        e->prev->next = e->next;
    else
        l.head = e->next;
    if (e->next)
        e->next->prev = e->prev;
    else
        l.tail = e->prev;
    e->prev = e->next = nullptr;
    l.count = static_cast<uint8_t>(l.count - 1);
}

void list_append(DspRestrictionState* st, DspRestrictionEntry* e, uint8_t list)
{
    DspRestrictionList& l = st->lists[list];
    e->list = list;
    e->next = nullptr;
    e->prev = l.tail;
    if (l.tail)
        l.tail->next = e;
    else
        l.head = e;
    l.tail = e;
    l.count = static_cast<uint8_t>(l.count + 1);
}

// Moves an entry to the end of a list (also within its own list).
void list_move(DspRestrictionState* st, DspRestrictionEntry* e, uint8_t list)
{
    list_remove(st, e);
    list_append(st, e, list);
}

bool same_number(uint16_t count, const char* digits, const DspRestrictionNumber& n)
{
    return count != 0 && count == n.count && count <= kRestrictionDigits &&
           std::memcmp(digits, n.digits, count) == 0;
}

DspRestrictionEntry* find(DspRestrictionState* st, uint8_t list, const DspRestrictionNumber& n)
{
    for (DspRestrictionEntry* e = st->lists[list].head; e; e = e->next)
        if (same_number(e->digitCount, e->digits, n))
            return e;
    return nullptr;
}

// ---- Timers ----
// An entry holds at most one router timer, so the table never takes more than 12 of the list's 24.

void stop_timer(DspLinkContext* ctx, DspRestrictionEntry* e)
{
    dsp_context_cancel_timer(ctx, &e->timer);
    e->timer = 0;
    e->timerKind = kRestrictNoTimer;
    e->releaseMs = 0;
}

void timer_expired(void* a1, void* a2);

// Starts the entry's timer (stopping the one it had); false when the list had no free timer.
bool start_timer(DspLinkContext* ctx, DspRestrictionEntry* e, uint8_t kind, uint32_t ms)
{
    stop_timer(ctx, e);
    if (ctx->queue == nullptr)
        return false;
    if (dsp_timer_arm(&ctx->queue->timers, &e->timer, ms, kTimerCall2, reinterpret_cast<void*>(timer_expired), ctx,
                      e) != 0)
        return false;
    e->timerKind = kind;
    return true;
}

// Drops an entry's number, counts and timer and puts it at the end of the free list.
void release(DspLinkContext* ctx, DspRestrictionEntry* e)
{
    DspRestrictionState* st = &ctx->restriction;
    stop_timer(ctx, e);
    DspRestrictionNumber n{};
    n.count = e->digitCount;
    std::memcpy(n.digits, e->digits, sizeof n.digits);
    if (same_number(st->lastFailed.count, st->lastFailed.digits, n))
        st->lastFailed.count = 0;  // a released number starts a fresh run of failures
    e->attempts = 0;
    e->failureIndex = 0;
    e->digitCount = 0;
    std::memset(e->digits, 0, sizeof e->digits);
    list_move(st, e, kRestrictFree);
}

// The end of a delay lets the number be dialled again and starts the release timer that follows it; the
// end of the restriction time forgets the number.
void timer_expired(void* a1, void* a2)
{
    auto* ctx = static_cast<DspLinkContext*>(a1);
    auto* e = static_cast<DspRestrictionEntry*>(a2);
    const uint8_t kind = e->timerKind;
    const uint32_t release_ms = e->releaseMs;
    e->timer = 0;
    e->timerKind = kRestrictNoTimer;
    e->releaseMs = 0;
    if (kind == kRestrictRelease || kind == kRestrictDelayToRelease)
        release(ctx, e);
    else if (kind == kRestrictDelay && release_ms != 0)
        start_timer(ctx, e, kRestrictRelease, release_ms);
}

// ---- The bookkeeping ----

// Chains every entry on the free list and forgets the pending and failed numbers, stopping the timers of
// entries that have them.
void reset(DspLinkContext* ctx)
{
    DspRestrictionState* st = &ctx->restriction;
    if (st->ready)
        for (DspRestrictionEntry& e : st->entries)
            stop_timer(ctx, &e);
    std::memset(st, 0, sizeof *st);
    for (DspRestrictionEntry& e : st->entries)
        list_append(st, &e, kRestrictFree);
    st->ready = 1;
}

CountryRestrictions country_rules(const DspLinkContext* ctx)
{
    if (ctx->country == nullptr)
        return CountryRestrictions{};
    return cb_restrictions(*ctx->country);
}

void give_verdict(DspLinkContext* ctx, uint8_t verdict)
{
    if (ctx->hooks.restriction_verdict)
        ctx->hooks.restriction_verdict(ctx->hooks.ctx, verdict);
}

// The digits "0"-"9" of the dial string; false when there are more than 39.
bool take_digits(const char* text, DspRestrictionNumber* out)
{
    *out = DspRestrictionNumber{};
    if (text == nullptr)
        return true;
    for (const char* p = text; *p != 0; ++p) {
        if (*p < '0' || *p > '9')
            continue;
        if (out->count == kRestrictionDigits - 1) {
            *out = DspRestrictionNumber{};
            return false;
        }
        out->digits[out->count++] = *p;
    }
    return true;
}

void check_number(DspLinkContext* ctx, const DspMessageNode* node)
{
    DspRestrictionState* st = &ctx->restriction;
    // The payload points into call control's dial buffer: the digits are copied out at once.
    const char* text = nullptr;
    std::memcpy(&text, node->payload, sizeof text);
    DspRestrictionNumber n;
    const bool fits = take_digits(text, &n);
    st->pending = n;
    if (!fits) {
        give_verdict(ctx, kVerdictRefused);
        return;
    }
    if (n.count == 0) {
        give_verdict(ctx, kVerdictAllowed);
        return;
    }
    if (find(st, kRestrictRestricted, n) != nullptr) {
        give_verdict(ctx, kVerdictRefused);
        return;
    }
    if (DspRestrictionEntry* e = find(st, kRestrictRecent, n)) {
        const bool delayed = e->timerKind == kRestrictDelay || e->timerKind == kRestrictDelayToRelease;
        give_verdict(ctx, delayed ? kVerdictDelayed : kVerdictAllowed);
        return;
    }
    // A number not yet known is allowed while an entry is free to note it; with all entries taken it waits.
    give_verdict(ctx, st->lists[kRestrictFree].count != 0 ? kVerdictAllowed : kVerdictDelayed);
}

void call_failed(DspLinkContext* ctx)
{
    DspRestrictionState* st = &ctx->restriction;
    const DspRestrictionNumber n = st->pending;
    st->pending.count = 0;  // one note per call
    if (n.count == 0 || find(st, kRestrictRestricted, n) != nullptr)
        return;
    DspRestrictionEntry* e = find(st, kRestrictRecent, n);
    if (e == nullptr) {
        e = st->lists[kRestrictFree].head;
        if (e == nullptr)
            return;  // every entry is taken: a number not let through cannot have failed
        e->digitCount = n.count;
        std::memcpy(e->digits, n.digits, sizeof e->digits);
    }
    list_move(st, e, kRestrictRecent);

    const CountryRestrictions rules = country_rules(ctx);
    if (same_number(n.count, n.digits, st->lastFailed) && e->failureIndex < 255)
        e->failureIndex = static_cast<uint8_t>(e->failureIndex + 1);
    else
        e->failureIndex = 0;
    st->lastFailed = n;
    if (e->attempts < 255)
        e->attempts = static_cast<uint8_t>(e->attempts + 1);
    // The index stays inside the country's range and inside the delay table.
    unsigned cap = rules.max_failure_index == 0 ? 0 : rules.max_failure_index - 1u;
    if (cap > CB_BL_DELAY_MAX - 1u)
        cap = CB_BL_DELAY_MAX - 1u;
    if (e->failureIndex > cap)
        e->failureIndex = static_cast<uint8_t>(cap);

    // The number is held back for the delay of its index and forgotten the restriction time after its last
    // failure; once restricted it is refused, and forgotten only when the country releases restricted numbers.
    const uint32_t release_ms = rules.restriction_s * 1000u;
    const uint32_t delay_ms = rules.delay_s[e->failureIndex] * 1000u;
    stop_timer(ctx, e);
    if (rules.max_attempts != 0 && (rules.flags & kFlagDisabled) == 0 && e->attempts >= rules.max_attempts - 1) {
        list_move(st, e, kRestrictRestricted);
        if ((rules.flags & kFlagRelease) != 0 && release_ms != 0)
            start_timer(ctx, e, kRestrictRelease, release_ms);
    } else if (delay_ms != 0 && (release_ms == 0 || release_ms > delay_ms)) {
        if (start_timer(ctx, e, kRestrictDelay, delay_ms))
            e->releaseMs = release_ms != 0 ? release_ms - delay_ms : 0;
    } else if (delay_ms != 0) {
        start_timer(ctx, e, kRestrictDelayToRelease, release_ms);  // forgotten before the delay would end
    } else if (release_ms != 0) {
        start_timer(ctx, e, kRestrictRelease, release_ms);
    }
}

void call_succeeded(DspLinkContext* ctx)
{
    DspRestrictionState* st = &ctx->restriction;
    const DspRestrictionNumber n = st->pending;
    st->pending.count = 0;
    if (n.count == 0)
        return;
    if (same_number(n.count, n.digits, st->lastFailed))
        st->lastFailed.count = 0;
    DspRestrictionEntry* e = find(st, kRestrictRecent, n);
    if (e == nullptr)
        return;
    e->attempts = 0;
    e->failureIndex = 0;
    list_move(st, e, kRestrictRecent);
    // No delay any more; the number is forgotten the restriction time after this call.
    const uint32_t release_ms = country_rules(ctx).restriction_s * 1000u;
    stop_timer(ctx, e);
    if (release_ms != 0)
        start_timer(ctx, e, kRestrictRelease, release_ms);
}

}  // namespace

void dsp_on_country_msg(DspMessageNode* node, void* user)
{
    auto* dev = static_cast<DspDevice*>(user);
    if (dev == nullptr || node == nullptr)
        return;
    DspLinkContext* ctx = &dev->context;
    if (!ctx->restriction.ready || node->type == kApplyCountry)
        reset(ctx);
    switch (node->type) {
    case kApplyCountry:
        if (ctx->queue != nullptr)
            dsp_msg_send(ctx->queue, kMsgHook, kReselectProfile, false, nullptr, 0);
        break;
    case kCheckNumber:
        check_number(ctx, node);
        break;
    case kCallFailed:
        call_failed(ctx);
        break;
    case kCallSucceeded:
        call_succeeded(ctx);
        break;
    case kClearPending:
        ctx->restriction.pending.count = 0;
        break;
    default:
        break;
    }
}
