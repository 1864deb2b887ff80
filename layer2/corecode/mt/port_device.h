// What the port layer asks of the device that owns the port, built by the driver frame: the device's spin
// locks, its nestable IRQL section, and the core's timers and task start. The port layer reaches the device
// only through these calls, so it never includes the frame's headers.
#pragma once

#include "platform/kernel.h"

struct ModemDeviceExtension;

KSPIN_LOCK* port_event_mask_lock(ModemDeviceExtension* ext);
KSPIN_LOCK* port_rx_callback_lock(ModemDeviceExtension* ext);
KSPIN_LOCK* port_tx_callback_lock(ModemDeviceExtension* ext);

// The nestable IRQL section that the port layer and the modem core use as their device lock.
void port_irql_enable(ModemDeviceExtension* ext);
void port_irql_enter(ModemDeviceExtension* ext);
void port_irql_leave(ModemDeviceExtension* ext);
void port_irql_reset(ModemDeviceExtension* ext);

// The core's timers, started and stopped with the port; nothing happens for a device without a core.
void port_timers_start(ModemDeviceExtension* ext);
void port_timers_stop(ModemDeviceExtension* ext);
// Starts the controller task at the first open: 0 when it could not start (1 for a device without a core).
int port_task_start(ModemDeviceExtension* ext);
