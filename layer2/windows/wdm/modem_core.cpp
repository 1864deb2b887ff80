// Start and stop of the modem core.
#include "layer2/windows/wdm/modem_core.h"

#include <cstring>

#include "layer2/corecode/cmd/country.h"
#include "layer2/corecode/cmd/factory_profile.h"
#include "layer2/corecode/cmd/nvram.h"

namespace {

NTSTATUS create_system_thread(PHANDLE handle, PKSTART_ROUTINE routine, PVOID context)
{
    return PsCreateSystemThread(handle, 0, nullptr, nullptr, nullptr, routine, context);
}

void init_slot(ThreadSlot* slot)
{
    slot->thread = nullptr;
    slot->wake[0] = slot->wake[1] = nullptr;
    slot->wake_count = 0;
    KeInitializeEvent(&slot->stop_event, NotificationEvent, FALSE);
    KeInitializeEvent(&slot->ended_event, NotificationEvent, FALSE);
    slot->started = FALSE;
}

void set_wake(ThreadSlot* slot, PKEVENT a, PKEVENT b)
{
    slot->wake[0] = a;
    slot->wake[1] = b;
    slot->wake_count = 2;
}

}  // namespace

void ModemCoreInit(ModemCore* core, const ModemCoreServices* services, void* ctx, PDEVICE_OBJECT device,
                   const char* registry_path, BOOLEAN service_key_mode)
{
    core->services = services;
    core->ctx = ctx;
    core->device = device;
    core->service_key_mode = service_key_mode;
    core->port = nullptr;
    init_slot(&core->background);
    init_slot(&core->tick);
    init_slot(&core->read_worker);
    init_slot(&core->write_worker);
    init_slot(&core->event_mask);
    KeInitializeEvent(&core->bg_event, SynchronizationEvent, FALSE);
    KeInitializeEvent(&core->tick_event, SynchronizationEvent, FALSE);
    core->bg_routine.store(nullptr);
    core->create_thread = create_system_thread;
    core_timer_init(core, &core->async_timer, nullptr, nullptr, 0);
    // The asynchronous timer's DPC only wakes the tick thread.
    core->async_timer.callback = [](ModemCore* c, PVOID, ULONG) { KeSetEvent(&c->tick_event, 0, FALSE); };
    core_timer_init(core, &core->read_check_timer, nullptr, nullptr, 1);

    TickState* ts = &core->tick_state;
    ts->running.store(0);
    ts->thread_run.store(0);
    ts->async_countdown.store(0);
    ts->async_reload.store(1);
    ts->bg_countdown.store(0);
    ts->bg_period_ticks.store(0);
    ts->lateness.store(0);
    ts->ms_total.store(0);
    ts->last_ms.store(0);
    ts->tick_count.store(0);
    ts->bg_count.store(0);
    ts->dte_ticks.store(0);
    ts->async_lock = ts->bg_lock = ts->tick_lock = 1;
    ts->async_handle.store(0);
    ts->bg_handle.store(0);

    TaskContext* t = &core->task;
    t->entry = nullptr;
    t->slice_setting = 0;
    t->yield_count = 0;
    t->yield_limit = 1;
    t->yielded = FALSE;
    t->started.store(0);
    t->restart.store(0);
    t->mc_bg_busy = 0;
    t->passes = 0;
    t->last_app_state = 0xFF;
    t->last_substate = 0xFF;
    core->now_base_ms = 0;
    core->now_started = FALSE;
    std::memset(core->allocated, 0, sizeof core->allocated);
    KeInitializeSpinLock(&core->allocated_lock);
    settings_init(&core->settings, device, registry_path, service_key_mode);
}

void ModemCoreSetWakeEvents(ModemCore* core, PKEVENT read_work, PKEVENT read_abort, PKEVENT write_work,
                            PKEVENT write_abort, PKEVENT mask_check, PKEVENT mask_abort)
{
    set_wake(&core->read_worker, read_work, read_abort);
    set_wake(&core->write_worker, write_work, write_abort);
    set_wake(&core->event_mask, mask_check, mask_abort);
}

void core_settings_load(ModemCore* core)
{
    CoreSettings* s = &core->settings;
    nv_load(s);
    if (!nv_image_valid(s)) {
        DbgPrint("core_settings_load: settings image invalid; factory settings written\n");
        nv_factory_init(s, kFactoryProfile, kFactoryProfile, s->nv.bytes[NV_LINE_A], s->nv.bytes[NV_LINE_C]);
    }
    ident_strings_load(s);
    country_list_load(s);
    country_select(s);
    hook_flash_load(s);
}

PortRecord* ModemCoreStart(ModemCore* core)
{
    const ModemCoreServices* s = core->services;
    core->task.started.store(0);
    if (!NT_SUCCESS(core_threads_start(core))) {
        ModemCoreStop(core);
        return nullptr;
    }
    core->port = s->port_setup != nullptr ? s->port_setup(core->ctx) : nullptr;
    if (core->port == nullptr) {
        // No port: the start fails and nothing of it stays running.
        ModemCoreStop(core);
        return nullptr;
    }
    core_settings_load(core);
    core->tick_state.ms_total.store(0);
    tmr_start(core);
    if (s->dsp_start != nullptr)
        s->dsp_start(core->ctx);
    tmr_stop(core);
    return core->port;
}

void VCOMM_ConfigStop(ModemCore* core)
{
    bool taken = InterlockedExchange(&core->task.mc_bg_busy, 1) == 0;
    if (!taken)
        DbgPrint("VCOMM_ConfigStop() Failed! mc_bg is still running.\n");
    if (core->services->port_shutdown != nullptr)
        core->services->port_shutdown(core->ctx);
    tmr_stop(core);
    // Given back only by its taker, so a background tick that still runs keeps its flag.
    if (taken)
        InterlockedExchange(&core->task.mc_bg_busy, 0);
}

void ModemCoreStop(ModemCore* core)
{
    core_threads_stop(core);
    VCOMM_ConfigStop(core);
    core_timer_cancel(&core->read_check_timer);
    // A timer DPC queued before the cancel may still be waiting to run: let it run now, while the record
    // it uses still exists.
    KeFlushQueuedDpcs();
    core->port = nullptr;
    core->device = nullptr;
}

void Cancel_Timers(ModemCore* core)
{
    TickState* ts = &core->tick_state;
    if (ts->async_handle.load()) {
        DbgPrint("WARNING: Cancel_Timers() found ASYNC_TIMER was not cancelled\n");
        core_timer_cancel(&core->async_timer);
        ts->async_handle.store(0);
    }
    if (ts->bg_handle.load()) {
        DbgPrint("WARNING: Cancel_Timers() found BG_EVENT was not cancelled\n");
        bg_cancel(core);
        ts->bg_handle.store(0);
    }
    core_timer_cancel(&core->read_check_timer);
}
