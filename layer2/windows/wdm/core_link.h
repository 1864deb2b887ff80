// The frame's link to the modem core (threads, timers, background task, settings). The frame calls the
// core through this table so that a device can run with the core (ModemCoreHooksForCore, what AddDevice
// installs) or with a test stand-in. ModemCoreDefaultHooks sets up the port layer only and starts no
// threads.
#pragma once

#include "window/dsp_interface_block.h"

struct ModemDeviceExtension;
struct ModemCore;
struct PortRecord;

struct ModemCoreHooks {
    // Starts the modem core of the device; returns the port record, null on failure. Must run
    // ModemPortSetup (port_layer.h) for the device.
    PortRecord* (*core_start)(ModemDeviceExtension* ext);
    // Stops it (threads ended, port side closed).
    void (*core_stop)(ModemDeviceExtension* ext);
    // Starts the controller task at the first port open; 0 when it could not start.
    int (*task_start)(ModemDeviceExtension* ext);
    // Timers run while the port is open.
    void (*timers_start)(ModemDeviceExtension* ext);
    void (*timers_stop)(ModemDeviceExtension* ext);
    // The DSP event routine handed down to the data pump at START.
    ControllerCallback dsp_event_routine;
};

const ModemCoreHooks* ModemCoreDefaultHooks();

// The port-layer part of a core start: initialises the port record and its operation table for the
// device with the register window and interrupt level, and enables the nestable IRQL section.
PortRecord* ModemPortSetup(ModemDeviceExtension* ext);
