// The modem core of one device: its five system threads, the asynchronous and read-check timers, the tick
// and millisecond clocks, the background tick with the cooperative controller task, the allocation tracker
// and the settings. Everything here is per device; the device extension holds a pointer to its ModemCore.
//
// The core reaches the rest of the controller (port layer, DTE side, DSP link, call control) only through
// the ModemCoreServices table that the owner fills in before the start, so the core can run under a small
// test fixture as well as under the driver frame.
#pragma once

#include <atomic>
#include <cstdint>

#include "layer2/corecode/cmd/core_clock.h"
#include "layer2/corecode/cmd/core_settings.h"
#include "platform/kernel.h"

struct PortRecord;
struct ModemCore;

// What the core asks of the rest of the controller. `ctx` is the owner's context (the device extension).
// Null entries are passed over.
struct ModemCoreServices {
    // Port-layer set-up at core start (operation table, register window, IRQL section entered); returns the
    // port record, null on failure.
    PortRecord* (*port_setup)(void* ctx);
    // DSP restart sequence at core start, then read register 255 and leave the IRQL section.
    void (*dsp_start)(void* ctx);
    // Port side of the stop: close the port, leave the IRQL section completely, forget the device, clear
    // the application callbacks.
    void (*port_shutdown)(void* ctx);

    // Worker passes (the request queues live with the owner): serve the oldest queued request and
    // acknowledge; FALSE when the queue was empty (the pass then sets the queue-empty event and the worker
    // waits). The event-mask pass is told whether the abort event woke the waiter.
    BOOLEAN (*read_pass)(void* ctx);
    BOOLEAN (*write_pass)(void* ctx);
    void (*event_mask_pass)(void* ctx, BOOLEAN abort);

    // The tick and the background tick.
    void (*dsp_msg_add_ms)(void* ctx, ULONG ms);
    void (*dte_periodic_tick)(void* ctx);
    BOOLEAN (*port_is_open)(void* ctx);
    BOOLEAN (*online_data_mode)(void* ctx);
    void (*mc_rx_int)(void* ctx);
    void (*mc_tx_notify_check)(void* ctx);
    void (*dte_ring_service)(void* ctx);
    // Task restart: DSP restart, DTE rings cleared, DTE side clamped, DTR and RTS raised.
    void (*task_restart)(void* ctx);
    // task_start: reset the DTE port state.
    void (*dte_port_reset)(void* ctx);

    // The controller task's steps and the call-control bytes its slice choice reads.
    void (*command_step)(void* ctx);
    void (*call_control_tick)(void* ctx);
    UCHAR (*cc_mode)(void* ctx);
    UCHAR (*cc_substate)(void* ctx);
    UCHAR (*app_state)(void* ctx);
};

// One worker thread: its thread object, the events that wake it, its stop event and the event it sets just
// before it ends.
struct ThreadSlot {
    PKTHREAD thread;
    PKEVENT wake[2];
    ULONG wake_count;
    KEVENT stop_event;
    KEVENT ended_event;
    BOOLEAN started;
};

typedef VOID (*CoreTimerCallback)(ModemCore* core, PVOID argument_or_record, ULONG elapsed_ms);

// A kernel timer with its DPC. With flag bit 0 set the DPC calls the callback with the milliseconds since
// the timer was set and the argument; otherwise with the record itself.
struct CoreTimer {
    KTIMER timer;
    KDPC dpc;
    ModemCore* core;
    ULONG flags;
    CoreTimerCallback callback;
    PVOID argument;
    ULONG set_ms;
    ULONG due_ms;
};

constexpr ULONG ASYNC_PERIOD_MS = 10;
constexpr ULONG READ_CHECK_PERIOD_MS = 100;
constexpr unsigned ALLOCATED_SLOTS = 10;
// Safety net of the protected call: passes of the task entry per background tick, whatever the slices say.
constexpr unsigned TASK_MAX_PASSES = 64;

struct TickState {
    std::atomic<uint8_t> running;     // the timers run (tmr_start .. tmr_stop)
    std::atomic<uint8_t> thread_run;  // the tick thread's run flag
    std::atomic<ULONG> async_countdown;
    std::atomic<ULONG> async_reload;
    std::atomic<ULONG> bg_countdown;
    std::atomic<ULONG> bg_period_ticks;
    std::atomic<ULONG> lateness;      // 0-9 ms
    std::atomic<ULONG> ms_total;
    std::atomic<ULONG> last_ms;       // tmr_tick_ms at the previous tick
    std::atomic<ULONG> tick_count;    // ticks served by tmr_list_tick
    std::atomic<ULONG> bg_count;      // background routine runs
    std::atomic<ULONG> dte_ticks;     // dte_periodic_tick calls
    // Lock words: 1 free, 0 taken (taken by exchange with 0, given back by exchange with 1).
    LONG async_lock;
    LONG bg_lock;
    LONG tick_lock;
    std::atomic<uint8_t> async_handle;  // the asynchronous timer is armed
    std::atomic<uint8_t> bg_handle;     // the background event is scheduled
};

typedef void (*TaskEntry)(ModemCore* core);

struct TaskContext {
    TaskEntry entry;            // one pass of the task's endless loop
    UCHAR slice_setting;
    USHORT yield_count;
    USHORT yield_limit;
    BOOLEAN yielded;            // the yield limit was reached: the current pass is abandoned
    std::atomic<uint8_t> started;
    std::atomic<uint8_t> restart;  // restart requested
    LONG mc_bg_busy;            // 1 while mc_bg runs
    ULONG passes;               // passes run by the protected calls (diagnostics)
    // Last values seen by the slice choice, to act on changes only (0xFF = none yet).
    UCHAR last_app_state;
    UCHAR last_substate;
};

typedef NTSTATUS (*CreateThreadRoutine)(PHANDLE handle, PKSTART_ROUTINE routine, PVOID context);

struct ModemCore {
    const ModemCoreServices* services;
    void* ctx;
    PDEVICE_OBJECT device;
    BOOLEAN service_key_mode;
    PortRecord* port;

    ThreadSlot background;
    ThreadSlot tick;
    ThreadSlot read_worker;
    ThreadSlot write_worker;
    ThreadSlot event_mask;
    KEVENT bg_event;    // synchronisation: the background routine is scheduled
    KEVENT tick_event;  // synchronisation: set by the asynchronous timer's DPC
    std::atomic<void (*)(ModemCore*)> bg_routine;
    CreateThreadRoutine create_thread;  // PsCreateSystemThread unless a test replaces it

    CoreTimer async_timer;
    CoreTimer read_check_timer;
    TickState tick_state;
    TaskContext task;
    ULONG now_base_ms;
    BOOLEAN now_started;

    PVOID allocated[ALLOCATED_SLOTS];
    KSPIN_LOCK allocated_lock;

    CoreSettings settings;
};

// Prepares the record (not running): services, owner context, device, registry binding. The worker wake
// events are the owner's: read (work, abort), write (work, abort), event mask (check, abort).
void ModemCoreInit(ModemCore* core, const ModemCoreServices* services, void* ctx, PDEVICE_OBJECT device,
                   const char* registry_path, BOOLEAN service_key_mode);
void ModemCoreSetWakeEvents(ModemCore* core, PKEVENT read_work, PKEVENT read_abort, PKEVENT write_work,
                            PKEVENT write_abort, PKEVENT mask_check, PKEVENT mask_abort);
// Starts the threads, loads the settings and sets up the port; returns the port record, null on failure
// (everything started is stopped again).
PortRecord* ModemCoreStart(ModemCore* core);
void ModemCoreStop(ModemCore* core);
void VCOMM_ConfigStop(ModemCore* core);
void Cancel_Timers(ModemCore* core);

// Settings at start: image (reset to factory values when its signature or checksum is wrong), country list,
// selected country and block, hook-flash method, identification strings.
void core_settings_load(ModemCore* core);

// Threads.
NTSTATUS core_threads_start(ModemCore* core);
void core_threads_stop(ModemCore* core);

// Timers and clocks.
void tmr_start(ModemCore* core);
void tmr_stop(ModemCore* core);
void tmr_set_async_period(ModemCore* core, ULONG ms);
ULONG tmr_now_ms(ModemCore* core);
ULONG tmr_tick_ms();
void tmr_list_tick(ModemCore* core, ULONG extra);
// One pass of the tick thread after its event: `now` is tmr_elapsed_ms().
void tick_thread_pass(ModemCore* core, ULONG now);
void core_timer_init(ModemCore* core, CoreTimer* t, CoreTimerCallback callback, PVOID argument, ULONG flags);
void core_timer_set(CoreTimer* t, ULONG ms, BOOLEAN periodic);
BOOLEAN core_timer_cancel(CoreTimer* t);
void read_check_timer_start(ModemCore* core, CoreTimerCallback callback, PVOID argument);
void read_check_timer_stop(ModemCore* core);

// Background task.
void bg_schedule(ModemCore* core, void (*routine)(ModemCore* core));
void bg_cancel(ModemCore* core);
void background_routine(ModemCore* core);
void mc_bg(ModemCore* core);
void task_start(ModemCore* core);
void task_request_restart(ModemCore* core);
void task_set_slice(ModemCore* core, UCHAR setting);
// Counts a yield; true when the limit is reached: the caller's pass is over and it must return (code that
// waits in a loop inside a pass checks this and unwinds).
bool task_yield(ModemCore* core);
void task_protected_call(ModemCore* core);
void ControllerTask(ModemCore* core);

// Allocation tracker.
PVOID AddressAllocate(ModemCore* core, SIZE_T size, ULONG flags);
VOID AddressFree(ModemCore* core, PVOID address);
