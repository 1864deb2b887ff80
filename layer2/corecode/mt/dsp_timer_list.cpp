// The delta timer list: each active entry holds its delay after the entry before it, so advancing the list
// touches only its head, and a timer started for a moment fires after every timer set for that moment or
// earlier.
#include <cstring>

#include "layer2/corecode/mt/dsp_router.h"

namespace {

void free_push(DspTimerList* list, DspTimerEntry* e)
{
    const uint8_t id = e->id;
    std::memset(e, 0, sizeof *e);
    e->id = id;
    if (list->freeTail)
        list->freeTail->next = e;
    else
        list->freeHead = e;
    e->prev = list->freeTail;
    list->freeTail = e;
}

DspTimerEntry* free_take(DspTimerList* list)
{
    DspTimerEntry* e = list->freeHead;
    if (!e)
        return nullptr;
    list->freeHead = e->next;
    if (list->freeHead)
        list->freeHead->prev = nullptr;
    else
        list->freeTail = nullptr;
    e->next = e->prev = nullptr;
    return e;
}

void unlink_active(DspTimerList* list, DspTimerEntry* e)
{
    if (e->prev)
        e->prev->next = e->next;
    else
        list->active = e->next;
    if (e->next)
        e->next->prev = e->prev;
    e->next = e->prev = nullptr;
}

void fire(DspTimerEntry* e)
{
    switch (e->callKind) {
    case kTimerCall0:
        reinterpret_cast<DspTimerCallback0>(e->callback)();
        break;
    case kTimerCall1:
        reinterpret_cast<DspTimerCallback1>(e->callback)(e->arg1);
        break;
    default:
        reinterpret_cast<DspTimerCallback2>(e->callback)(e->arg1, e->arg2);
        break;
    }
}

}  // namespace

void dsp_timer_list_init(DspTimerList* list)
{
    std::memset(list, 0, sizeof *list);
    for (int i = 0; i < kDspTimers; ++i) {
        list->entries[i].id = static_cast<uint8_t>(i + 1);
        free_push(list, &list->entries[i]);
    }
}

int dsp_timer_arm(DspTimerList* list, uint8_t* owner, uint32_t ms, uint8_t call_kind, void* callback, void* arg1,
                  void* arg2)
{
    DspTimerRequest r{};
    r.list = list;
    r.owner = owner;
    r.delay = ms;
    r.callKind = call_kind;
    r.callback = callback;
    r.arg1 = arg1;
    r.arg2 = arg2;
    return dsp_timer_start(&r);
}

int dsp_timer_start(const DspTimerRequest* request)
{
    DspTimerList* list = request->list;
    DspTimerEntry* e = free_take(list);
    if (!e)
        return 1;
    e->owner = request->owner;
    if (e->owner)
        *e->owner = e->id;
    e->callKind = request->callKind;
    e->callback = request->callback;
    e->arg1 = request->arg1;
    e->arg2 = request->arg2;
    uint32_t remaining = request->delay;
    DspTimerEntry* prev = nullptr;
    DspTimerEntry* at = list->active;
    while (at && remaining >= at->delta) {
        remaining -= at->delta;
        prev = at;
        at = at->next;
    }
    e->delta = remaining;
    e->prev = prev;
    e->next = at;
    if (prev)
        prev->next = e;
    else
        list->active = e;
    if (at) {
        at->prev = e;
        at->delta -= remaining;
    }
    return 0;
}

void dsp_timer_cancel(const DspTimerRequest* request)
{
    DspTimerList* list = request->list;
    for (DspTimerEntry* e = list->active; e; e = e->next) {
        if (e->id != request->id)
            continue;
        if (e->next)
            e->next->delta += e->delta;
        unlink_active(list, e);
        if (e->owner)
            *e->owner = 0;
        free_push(list, e);
        return;
    }
}

void dsp_timer_advance(DspTimerList* list, uint32_t ms)
{
    for (DspTimerEntry* e = list->active; e && ms > 0; e = e->next) {
        const uint32_t take = ms < e->delta ? ms : e->delta;
        e->delta -= take;
        ms -= take;
    }
    while (list->active && list->active->delta == 0) {
        DspTimerEntry* e = list->active;
        unlink_active(list, e);
        if (e->owner)
            *e->owner = 0;
        DspTimerEntry copy = *e;
        free_push(list, e);
        fire(&copy);
    }
}
