// Timers and clocks of the modem core: the 10 ms asynchronous timer that drives the tick thread, the 100 ms
// read-check timer, the tick and millisecond clocks, the delays, and the tick service with its catch-up.
#include "layer2/windows/wdm/modem_core.h"

namespace {

// Lock words: taken by exchange with 0 (true when it was free), given back by exchange with 1.
bool take(LONG* word)
{
    return InterlockedExchange(word, 0) == 1;
}
void give(LONG* word)
{
    InterlockedExchange(word, 1);
}

VOID core_timer_dpc(PKDPC, PVOID context, PVOID, PVOID)
{
    CoreTimer* t = static_cast<CoreTimer*>(context);
    if (t->callback == nullptr)
        return;
    if (t->flags & 1)
        t->callback(t->core, t->argument, tmr_tick_ms() - t->set_ms);
    else
        t->callback(t->core, t, 0);
}

void call(void (*fn)(void*), void* ctx)
{
    if (fn != nullptr)
        fn(ctx);
}

}  // namespace

void core_timer_init(ModemCore* core, CoreTimer* t, CoreTimerCallback callback, PVOID argument, ULONG flags)
{
    KeInitializeTimerEx(&t->timer, NotificationTimer);
    KeInitializeDpc(&t->dpc, core_timer_dpc, t);
    t->core = core;
    t->callback = callback;
    t->argument = argument;
    t->flags = flags;
    t->set_ms = 0;
    t->due_ms = 0;
}

void core_timer_set(CoreTimer* t, ULONG ms, BOOLEAN periodic)
{
    t->set_ms = tmr_tick_ms();
    t->due_ms = ms;
    LARGE_INTEGER due;
    due.QuadPart = -static_cast<LONGLONG>(ms) * 10000;
    KeSetTimerEx(&t->timer, due, periodic ? static_cast<LONG>(ms) : 0, &t->dpc);
}

BOOLEAN core_timer_cancel(CoreTimer* t)
{
    return KeCancelTimer(&t->timer);
}

void read_check_timer_start(ModemCore* core, CoreTimerCallback callback, PVOID argument)
{
    core->read_check_timer.callback = callback;
    core->read_check_timer.argument = argument;
    core->read_check_timer.flags = 1;
    core_timer_set(&core->read_check_timer, READ_CHECK_PERIOD_MS, TRUE);
}

void read_check_timer_stop(ModemCore* core)
{
    core_timer_cancel(&core->read_check_timer);
}

ULONG tmr_now_ms(ModemCore* core)
{
    LARGE_INTEGER now;
    KeQuerySystemTime(&now);
    ULONG ms = static_cast<ULONG>(static_cast<ULONGLONG>(now.QuadPart) / 10000u);
    if (!core->now_started) {
        core->now_started = TRUE;
        core->now_base_ms = ms;
    }
    return ms - core->now_base_ms;
}

ULONG tmr_tick_ms()
{
    LARGE_INTEGER ticks;
    KeQueryTickCount(&ticks);
    unsigned __int128 t = static_cast<unsigned __int128>(static_cast<ULONGLONG>(ticks.QuadPart)) *
                          KeQueryTimeIncrement();
    return static_cast<ULONG>(static_cast<ULONGLONG>(t / 10000u));
}

ULONG tmr_elapsed_ms()
{
    return static_cast<ULONG>(KeQueryInterruptTime() / 10000u);
}

void tmr_delay_1ms()
{
    tmr_delay_ms(1);
}

void tmr_delay_ms(ULONG ms)
{
    LARGE_INTEGER interval;
    interval.QuadPart = -static_cast<LONGLONG>(ms == 0 ? 1 : ms) * 10000;
    KeDelayExecutionThread(KernelMode, FALSE, &interval);
}

void tmr_set_async_period(ModemCore* core, ULONG ms)
{
    ULONG ticks = ms / ASYNC_PERIOD_MS;
    if (ms != 0 && ticks == 0)
        ticks = 1;
    core->tick_state.bg_period_ticks.store(ticks);
}

void tmr_start(ModemCore* core)
{
    TickState* ts = &core->tick_state;
    if (ts->running.load())
        return;
    ts->async_reload.store(1);
    ts->async_countdown.store(1);
    if (take(&ts->async_lock)) {
        core_timer_set(&core->async_timer, ASYNC_PERIOD_MS, TRUE);
        ts->async_handle.store(1);
        give(&ts->async_lock);
    }
    tmr_set_async_period(core, ASYNC_PERIOD_MS);
    ts->bg_countdown.store(ts->bg_period_ticks.load());
    ts->last_ms.store(tmr_elapsed_ms());
    ts->running.store(1);
}

void tmr_stop(ModemCore* core)
{
    TickState* ts = &core->tick_state;
    ts->bg_period_ticks.store(0);
    ts->running.store(0);
    if (take(&ts->async_lock)) {
        core_timer_cancel(&core->async_timer);
        ts->async_handle.store(0);
        give(&ts->async_lock);
    } else {
        ts->async_countdown.store(0);
    }
    if (take(&ts->bg_lock)) {
        bg_cancel(core);
        ts->bg_handle.store(0);
        give(&ts->bg_lock);
    } else {
        ts->bg_countdown.store(0);
    }
}

void tick_thread_pass(ModemCore* core, ULONG now)
{
    TickState* ts = &core->tick_state;
    if (ts->running.load()) {
        // Lateness catch-up: when more than one period passed since the last tick, the part of the delay
        // beyond the period, modulo the period, is handed on (whole lost periods are not made up).
        ULONG elapsed = now - ts->last_ms.load();
        ULONG extra = 0;
        if (elapsed > ASYNC_PERIOD_MS && core->service_key_mode)
            extra = (elapsed - ASYNC_PERIOD_MS) % ASYNC_PERIOD_MS;
        tmr_list_tick(core, extra);
    }
    ts->last_ms.store(now);
}

void tmr_list_tick(ModemCore* core, ULONG extra)
{
    TickState* ts = &core->tick_state;
    const ModemCoreServices* s = core->services;
    if (s->dsp_msg_add_ms != nullptr)
        s->dsp_msg_add_ms(core->ctx, ASYNC_PERIOD_MS + extra);
    if (take(&ts->async_lock)) {
        ts->async_handle.store(0);
        give(&ts->async_lock);
    }
    if (!ts->running.load() || !take(&ts->tick_lock))
        return;
    ts->tick_count.fetch_add(1);
    ULONG bg = ts->bg_countdown.load();
    if (bg != 0) {
        ts->bg_countdown.store(bg - 1);
        if (bg == 1 && take(&ts->bg_lock)) {
            bg_schedule(core, background_routine);
            give(&ts->bg_lock);
        }
    }
    ts->ms_total.fetch_add(ASYNC_PERIOD_MS + extra);
    ULONG was = ts->async_countdown.load();
    if (was != 0) {
        ts->async_countdown.store(was - 1);
        if (was == 1) {
            call(s->dte_periodic_tick, core->ctx);
            ts->dte_ticks.fetch_add(1);
            ts->async_countdown.store(ts->async_reload.load());
        }
    }
    ULONG late = ts->lateness.load() + extra;
    if (late > 9) {
        call(s->dte_periodic_tick, core->ctx);
        ts->dte_ticks.fetch_add(1);
        late -= 10;
    }
    ts->lateness.store(late);
    // Re-arm: the kernel timer is periodic, so only the handle is taken again.
    if (take(&ts->async_lock)) {
        if (ts->running.load())
            ts->async_handle.store(1);
        give(&ts->async_lock);
    }
    give(&ts->tick_lock);
}
