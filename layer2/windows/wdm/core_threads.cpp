// The modem core's five system threads: background worker, tick thread, read worker, write worker and
// event-mask waiter, created in that order at priority 16 and stopped in the same order.
#include <cstring>

#include "layer2/windows/wdm/modem_core.h"

namespace {

constexpr KPRIORITY kCorePriority = 16;

// Waits until one of the slot's wake events or its stop event is set; returns the index of the event that
// woke it (wake events first, the stop event last: WAKE_STOP).
constexpr ULONG WAKE_STOP = 2;
ULONG wait_wake(ThreadSlot* slot)
{
    PVOID objects[3];
    ULONG n = 0;
    for (ULONG i = 0; i < slot->wake_count && i < 2; ++i)
        if (slot->wake[i] != nullptr)
            objects[n++] = slot->wake[i];
    objects[n] = &slot->stop_event;
    NTSTATUS st = KeWaitForMultipleObjects(n + 1, objects, WaitAny, Executive, KernelMode, FALSE, nullptr,
                                           nullptr);
    ULONG index = static_cast<ULONG>(st - STATUS_WAIT_0);
    if (index >= n)
        return WAKE_STOP;
    // Map back to the slot's own numbering (a null wake event takes no place in the wait).
    for (ULONG i = 0, k = 0; i < slot->wake_count && i < 2; ++i) {
        if (slot->wake[i] == nullptr)
            continue;
        if (k++ == index)
            return i;
    }
    return WAKE_STOP;
}

bool wait_wake_or_stop(ThreadSlot* slot)
{
    return wait_wake(slot) == WAKE_STOP;
}

void thread_ends(ThreadSlot* slot)
{
    KeSetEvent(&slot->ended_event, 0, FALSE);
}

VOID BackgroundWorkerThread(PVOID context)
{
    ModemCore* core = static_cast<ModemCore*>(context);
    ThreadSlot* slot = &core->background;
    KeSetPriorityThread(KeGetCurrentThread(), kCorePriority);
    for (;;) {
        if (wait_wake_or_stop(slot))
            break;
        KeResetEvent(&core->bg_event);
        KeResetEvent(&core->bg_event);
        void (*routine)(ModemCore*) = core->bg_routine.load();
        if (routine != nullptr)
            routine(core);
    }
    thread_ends(slot);
}

VOID TickThread(PVOID context)
{
    ModemCore* core = static_cast<ModemCore*>(context);
    ThreadSlot* slot = &core->tick;
    KeSetPriorityThread(KeGetCurrentThread(), kCorePriority);
    for (;;) {
        KeWaitForSingleObject(&core->tick_event, Executive, KernelMode, FALSE, nullptr);
        KeResetEvent(&core->tick_event);
        ULONG now = tmr_elapsed_ms();
        if (!core->tick_state.thread_run.load())
            break;
        tick_thread_pass(core, now);
    }
    thread_ends(slot);
}

// Read and write workers: serve one request per pass; wait only while their queue is empty.
void worker_loop(ModemCore* core, ThreadSlot* slot, BOOLEAN (*pass)(void*))
{
    KeSetPriorityThread(KeGetCurrentThread(), kCorePriority);
    for (;;) {
        if (KeReadStateEvent(&slot->stop_event))
            break;
        BOOLEAN served = pass != nullptr ? pass(core->ctx) : FALSE;
        if (!served && wait_wake_or_stop(slot))
            break;
    }
    thread_ends(slot);
}

VOID ReadWorkerThread(PVOID context)
{
    ModemCore* core = static_cast<ModemCore*>(context);
    worker_loop(core, &core->read_worker, core->services->read_pass);
}

VOID WriteWorkerThread(PVOID context)
{
    ModemCore* core = static_cast<ModemCore*>(context);
    worker_loop(core, &core->write_worker, core->services->write_pass);
}

VOID EventMaskThread(PVOID context)
{
    ModemCore* core = static_cast<ModemCore*>(context);
    ThreadSlot* slot = &core->event_mask;
    KeSetPriorityThread(KeGetCurrentThread(), kCorePriority);
    for (;;) {
        ULONG woke = wait_wake(slot);
        if (woke == WAKE_STOP)
            break;
        if (core->services->event_mask_pass != nullptr)
            core->services->event_mask_pass(core->ctx, woke == 1 ? TRUE : FALSE);
    }
    thread_ends(slot);
}

NTSTATUS create_one(ModemCore* core, ThreadSlot* slot, PKSTART_ROUTINE routine)
{
    KeResetEvent(&slot->stop_event);
    KeResetEvent(&slot->ended_event);
    HANDLE handle = nullptr;
    NTSTATUS st = core->create_thread(&handle, routine, core);
    if (!NT_SUCCESS(st))
        return st;
    PVOID object = nullptr;
    POBJECT_TYPE type = PsThreadType != nullptr ? *PsThreadType : nullptr;
    st = ObReferenceObjectByHandle(handle, 0, type, KernelMode, &object, nullptr);
    ZwClose(handle);
    if (!NT_SUCCESS(st))
        return st;
    slot->thread = static_cast<PKTHREAD>(object);
    slot->started = TRUE;
    return STATUS_SUCCESS;
}

// Waits for a thread to end and drops the reference. The thread object is always waited for at the end,
// so nothing the thread uses is released while it still runs.
void join_one(ModemCore* core, ThreadSlot* slot, LONGLONG limit_ms)
{
    if (!slot->started)
        return;
    if (core->service_key_mode) {
        if (limit_ms > 0) {
            LARGE_INTEGER timeout;
            timeout.QuadPart = -limit_ms * 10000;
            if (KeWaitForSingleObject(slot->thread, Executive, KernelMode, FALSE, &timeout) == STATUS_TIMEOUT)
                DbgPrint("core_threads_stop: thread did not end within %lld ms\n", static_cast<long long>(limit_ms));
        }
    } else {
        KeWaitForSingleObject(&slot->ended_event, Executive, KernelMode, FALSE, nullptr);
    }
    KeWaitForSingleObject(slot->thread, Executive, KernelMode, FALSE, nullptr);
    ObDereferenceObject(slot->thread);
    slot->thread = nullptr;
    slot->started = FALSE;
}

void stop_worker(ModemCore* core, ThreadSlot* slot)
{
    if (!slot->started)
        return;
    KeSetEvent(&slot->stop_event, 0, FALSE);
    join_one(core, slot, 0);
}

NTSTATUS default_create_thread(PHANDLE handle, PKSTART_ROUTINE routine, PVOID context)
{
    return PsCreateSystemThread(handle, 0, nullptr, nullptr, nullptr, routine, context);
}

}  // namespace

NTSTATUS core_threads_start(ModemCore* core)
{
    if (core->create_thread == nullptr)
        core->create_thread = default_create_thread;
    core->background.wake[0] = &core->bg_event;
    core->background.wake_count = 1;
    core->tick_state.thread_run.store(1);
    struct {
        ThreadSlot* slot;
        PKSTART_ROUTINE routine;
    } order[5] = {
        {&core->background, BackgroundWorkerThread}, {&core->tick, TickThread},
        {&core->read_worker, ReadWorkerThread},       {&core->write_worker, WriteWorkerThread},
        {&core->event_mask, EventMaskThread},
    };
    for (auto& o : order) {
        NTSTATUS st = create_one(core, o.slot, o.routine);
        if (!NT_SUCCESS(st)) {
            DbgPrint("ModemCoreStart: thread creation failed (0x%08X)\n", static_cast<unsigned>(st));
            return st;
        }
    }
    return STATUS_SUCCESS;
}

void core_threads_stop(ModemCore* core)
{
    stop_worker(core, &core->background);
    if (core->tick.started) {
        core->tick_state.thread_run.store(0);
        KeSetEvent(&core->tick_event, 0, FALSE);
        join_one(core, &core->tick, 5000);
    }
    stop_worker(core, &core->read_worker);
    stop_worker(core, &core->write_worker);
    stop_worker(core, &core->event_mask);
}
