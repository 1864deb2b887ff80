// The controller's device extension: one per modem, allocated with the device object. It holds the
// frame's own state, the port layer and DTE side of this modem, and a pointer to the modem core's
// record (threads, timers, background task, settings), which the core owns and declares itself.
#pragma once

#include <atomic>
#include <cstdint>

#include "window/dsp_interface_block.h"
#include "layer2/corecode/dce/data_link.h"
#include "layer2/corecode/dce/line_block.h"
#include "layer2/corecode/dte/dte_context.h"
#include "layer2/corecode/mt/dsp_device.h"
#include "layer2/corecode/mt/port_record.h"
#include "layer2/windows/wdm/core_link.h"
#include "platform/kernel.h"

// PnP states.
enum ModemPnpState : ULONG {
    PNP_STOPPED = 0,
    PNP_STARTED = 1,
    PNP_STOP_PENDING = 2,
    PNP_REMOVE_PENDING = 3,
    PNP_SURPRISE_REMOVED = 4,
    PNP_REMOVED = 5,
};

// Serving state of a read or write request (its driver-context word).
enum ModemServingState : uintptr_t {
    SERVE_IN_DISPATCH = 1,
    SERVE_QUEUED = 2,
    SERVE_PURGED = 3,
    SERVE_BY_WORKER = 4,
};

// A read or write queue with the request being served and the signals of the worker that serves it.
struct RequestQueue {
    LIST_ENTRY list;
    KSPIN_LOCK lock;
    KEVENT empty_event;     // notification: set while nothing is queued
    PIRP current;           // request being served, null when none
    KEVENT work_event;      // synchronisation: a request was queued
    KEVENT abort_event;     // synchronisation: abort the transfer in progress
    KEVENT abort_ack_event; // notification: the worker finished a pass after an abort
};

struct ModemDeviceExtension {
    KSPIN_LOCK open_lock;
    KSPIN_LOCK event_mask_lock;
    KSPIN_LOCK rx_callback_lock;
    KSPIN_LOCK tx_callback_lock;
    KSPIN_LOCK spare_lock;
    PDEVICE_OBJECT device;
    LONG outstanding;     // outstanding-request count (interlocked)
    LONG open_count;
    std::atomic<uint8_t> removed;
    std::atomic<uint8_t> started;
    std::atomic<uint8_t> remove_pending;
    std::atomic<uint8_t> stop_pending;
    std::atomic<uint8_t> stopped;
    RequestQueue read_queue;
    RequestQueue write_queue;
    ULONG wait_mask;
    PIRP pending_wait;
    KSPIN_LOCK wait_lock;
    ULONG events_seen;
    ULONG events_report;
    KEVENT wait_check_event;  // synchronisation: wakes the event-mask waiter
    KEVENT wait_abort_event;  // synchronisation: abort the pending wait
    KEVENT wait_ack_event;    // notification: the waiter finished a pass
    PortRecord* port;         // returned by the port open; null while the port is closed
    ULONG irq_level;
    ULONG irq_vector;
    KAFFINITY irq_affinity;
    ULONG memory_length;
    KIRQL section_irql;
    KIRQL saved_irql;
    UCHAR section_raised;
    USHORT section_nesting;
    ULONG section_enabled;
    volatile uint8_t* register_window;
    UNICODE_STRING registry_path;
    ULONG handflow[4];        // control handshake, flow replace, XON limit, XOFF limit
    UCHAR break_char;
    ULONG perf_stats[6];
    UNICODE_STRING interface_name;
    UNICODE_STRING dos_name;
    WCHAR dos_name_buffer[280];
    PDEVICE_OBJECT pdo;
    PDEVICE_OBJECT lower;
    LIST_ENTRY held_list;
    KSPIN_LOCK held_lock;
    KEVENT no_outstanding_event;  // notification, initially clear
    KEVENT idle_event;            // notification, initially set
    LONG remove_refs;             // starts at 1
    DEVICE_POWER_STATE device_power;
    SYSTEM_POWER_STATE system_power;
    UCHAR wake_enabled;
    PIRP pending_wait_wake;
    UCHAR wait_wake_completed;
    UCHAR wait_wake_in_progress;
    DEVICE_CAPABILITIES capabilities;
    ULONG pnp_state;
    ULONG previous_pnp_state;
    DspContext* dsp_context;
    DspInterfaceBlock* dsp_block;

    // ---- the rest of this modem's controller state ----
    std::atomic<uint8_t> power_marker;  // 1..5 as the device power steps run
    std::atomic<uint8_t> app_state;     // call-control status byte read by the background task
    std::atomic<uint8_t> core_running;  // the modem core was started and not yet stopped
    BOOLEAN service_key_mode;
    const ModemCoreHooks* core_hooks;   // the modem core's entry points for this device
    ModemCore* core;                    // the modem core's per-device record (owned by the core)
    struct AcuContext* acu;             // the command side: AT interpreter and call control (with the core)
    PortRecord port_record;             // the port layer of this modem
    DteContext dte;                     // the DTE side of this modem
    DspDevice dsp;                      // the DSP link of this modem (lives as long as the device)
    LineBlock line;                     // the line block: the connection's data through the register window
    DataLink data_link;                 // error control and compression over the line block
};

inline ModemDeviceExtension* ModemExtension(PDEVICE_OBJECT device)
{
    return static_cast<ModemDeviceExtension*>(device->DeviceExtension);
}
