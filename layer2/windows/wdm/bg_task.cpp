// The background tick of the modem core and the cooperative controller task it resumes.
//
// The controller task is an endless loop (AT interpreter, call control) that gives the processor back with
// task_yield; after a number of yields set by the slice, the background tick ends and the task continues
// at the next tick. All the task's state lives in per-device records, none on its stack, so a pass can be
// left at any yield without losing anything.
//
// The protected call: instead of saving a jump buffer and jumping back from task_yield (which in C++ would
// skip the destructors of every frame in between), the task entry is one pass of the loop and the protected
// call runs passes until a yield reaches the limit. task_yield then marks the pass abandoned and returns
// true; code that waits in a loop inside a pass (a drain of output, a nested tick service) checks that
// result and returns, so the pass unwinds normally and the protected call returns. A pass that never
// reaches the limit (a slice change at every pass resets the count) is still cut off after TASK_MAX_PASSES
// passes, so one background tick can never hold the background worker for good; the task stays alive and
// continues at the next tick.
#include "layer2/windows/wdm/modem_core.h"

namespace {

void call(void (*fn)(void*), void* ctx)
{
    if (fn != nullptr)
        fn(ctx);
}

bool ask(BOOLEAN (*fn)(void*), void* ctx)
{
    return fn != nullptr && fn(ctx);
}

UCHAR read_byte(UCHAR (*fn)(void*), void* ctx)
{
    return fn != nullptr ? fn(ctx) : 0;
}

// Slice and background period by call-control mode (acted on when the watched byte changes).
void choose_slice(ModemCore* core)
{
    const ModemCoreServices* s = core->services;
    TaskContext* t = &core->task;
    UCHAR mode = read_byte(s->cc_mode, core->ctx);
    if (mode == 0) {
        UCHAR app = read_byte(s->app_state, core->ctx);
        if (app != t->last_app_state) {
            t->last_app_state = app;
            tmr_set_async_period(core, 10);
            task_set_slice(core, app == 1 ? 2 : 0);
        }
    } else if (mode == 1) {
        UCHAR sub = read_byte(s->cc_substate, core->ctx);
        if (sub != t->last_substate) {
            t->last_substate = sub;
            if (sub == 0)
                task_set_slice(core, 2);
            else if (sub == 1 || sub == 4 || sub == 7 || sub == 10)
                task_set_slice(core, 10);
            else if (sub <= 12)
                task_set_slice(core, 0);
            tmr_set_async_period(core, 10);
        }
    } else if (mode == 8 || mode == 80) {
        tmr_set_async_period(core, 15);
        task_set_slice(core, 0);
    }
}

}  // namespace

void bg_schedule(ModemCore* core, void (*routine)(ModemCore* core))
{
    core->bg_routine.store(routine);
    core->tick_state.bg_handle.store(1);
    KeSetEvent(&core->bg_event, 0, FALSE);
}

void bg_cancel(ModemCore* core)
{
    KeResetEvent(&core->bg_event);
}

void background_routine(ModemCore* core)
{
    TickState* ts = &core->tick_state;
    ts->bg_handle.store(0);
    if (ts->running.load() && ask(core->services->port_is_open, core->ctx))
        mc_bg(core);
    ts->bg_count.fetch_add(1);
    ts->bg_countdown.store(ts->bg_period_ticks.load());
}

void mc_bg(ModemCore* core)
{
    TaskContext* t = &core->task;
    const ModemCoreServices* s = core->services;
    if (InterlockedExchange(&t->mc_bg_busy, 1) != 0)
        return;
    bool online = ask(s->online_data_mode, core->ctx);
    if (online) {
        call(s->mc_rx_int, core->ctx);
        call(s->mc_tx_notify_check, core->ctx);
    }
    if (t->restart.load() && !online) {
        t->restart.store(0);
        call(s->task_restart, core->ctx);
        t->entry = ControllerTask;
        task_set_slice(core, 0);
        task_set_slice(core, 2);
    }
    task_protected_call(core);
    call(s->dte_ring_service, core->ctx);
    InterlockedExchange(&t->mc_bg_busy, 0);
}

void task_start(ModemCore* core)
{
    TaskContext* t = &core->task;
    // The first run happens outside the background tick: hold its busy flag so the two never overlap.
    while (InterlockedExchange(&t->mc_bg_busy, 1) != 0)
        tmr_delay_1ms();
    call(core->services->dte_port_reset, core->ctx);
    t->restart.store(0);
    t->entry = ControllerTask;
    t->last_app_state = 0xFF;
    t->last_substate = 0xFF;
    task_set_slice(core, 2);
    task_protected_call(core);
    t->started.store(1);
    InterlockedExchange(&t->mc_bg_busy, 0);
}

void task_request_restart(ModemCore* core)
{
    core->task.restart.store(1);
}

void task_set_slice(ModemCore* core, UCHAR setting)
{
    TaskContext* t = &core->task;
    t->slice_setting = setting;
    t->yield_count = 0;
    if (setting != 0) {
        // One yield per 5 ms of timer resolution, rounded: (increment + 25000) / 50000, at least 1.
        ULONG limit = (KeQueryTimeIncrement() + 25000u) / 50000u;
        t->yield_limit = static_cast<USHORT>(limit == 0 ? 1 : (limit > 0xFFFF ? 0xFFFF : limit));
    } else {
        t->yield_limit = 1;
    }
}

bool task_yield(ModemCore* core)
{
    TaskContext* t = &core->task;
    if (t->yielded)
        return true;
    t->yield_count = static_cast<USHORT>(t->yield_count + 1);
    if (t->yield_count >= t->yield_limit) {
        t->yield_count = 0;
        t->yielded = TRUE;
        return true;
    }
    return false;
}

void task_protected_call(ModemCore* core)
{
    TaskContext* t = &core->task;
    if (t->entry == nullptr)
        return;
    t->yielded = FALSE;
    for (unsigned n = 0; n < TASK_MAX_PASSES && !t->yielded; ++n) {
        t->entry(core);
        ++t->passes;
    }
    t->yielded = FALSE;
}

void ControllerTask(ModemCore* core)
{
    const ModemCoreServices* s = core->services;
    TaskContext* t = &core->task;
    if (!ask(s->online_data_mode, core->ctx) && t->slice_setting == 2) {
        call(s->command_step, core->ctx);
        task_set_slice(core, 0);
    }
    call(s->call_control_tick, core->ctx);
    choose_slice(core);
    task_yield(core);
}
