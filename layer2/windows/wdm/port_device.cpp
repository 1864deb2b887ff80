// The device services the core code asks for (port_device.h, core_clock.h): the extension's locks, the core
// hooks and the core's tick state.
#include "layer2/corecode/mt/port_device.h"

#include "layer2/corecode/cmd/core_clock.h"
#include "layer2/windows/wdm/core_link.h"
#include "layer2/windows/wdm/device_extension.h"
#include "layer2/windows/wdm/modem_core.h"

KSPIN_LOCK* port_event_mask_lock(ModemDeviceExtension* ext)
{
    return &ext->event_mask_lock;
}

KSPIN_LOCK* port_rx_callback_lock(ModemDeviceExtension* ext)
{
    return &ext->rx_callback_lock;
}

KSPIN_LOCK* port_tx_callback_lock(ModemDeviceExtension* ext)
{
    return &ext->tx_callback_lock;
}

void port_timers_start(ModemDeviceExtension* ext)
{
    const ModemCoreHooks* h = ext != nullptr ? ext->core_hooks : nullptr;
    if (h && h->timers_start)
        h->timers_start(ext);
}

void port_timers_stop(ModemDeviceExtension* ext)
{
    const ModemCoreHooks* h = ext != nullptr ? ext->core_hooks : nullptr;
    if (h && h->timers_stop)
        h->timers_stop(ext);
}

int port_task_start(ModemDeviceExtension* ext)
{
    const ModemCoreHooks* h = ext != nullptr ? ext->core_hooks : nullptr;
    return (h && h->task_start) ? h->task_start(ext) : 1;
}

bool modem_core_tick_running(const ModemCore* core)
{
    return core->tick_state.running.load() != 0;
}
