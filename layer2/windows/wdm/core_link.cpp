// The default modem-core link: the port layer alone, no threads or timers.
#include "layer2/windows/wdm/core_link.h"
#include "layer2/corecode/mt/port_ops.h"
#include "layer2/windows/wdm/device_extension.h"
#include "layer2/windows/wdm/port_irql.h"

namespace {

PortRecord* default_core_start(ModemDeviceExtension* ext)
{
    return ModemPortSetup(ext);
}

void default_core_stop(ModemDeviceExtension* ext)
{
    if (ext->port_record.open_marker.load() == PORT_OPEN_MARKER)
        port_close(&ext->port_record);
    port_irql_reset(ext);
}

int default_task_start(ModemDeviceExtension* ext)
{
    (void)ext;
    return 1;
}

void default_timer(ModemDeviceExtension* ext) { (void)ext; }

void default_dsp_event(DspInterfaceBlock* block) { (void)block; }

const ModemCoreHooks kDefaultHooks = {
    default_core_start, default_core_stop, default_task_start, default_timer, default_timer, default_dsp_event,
};

}  // namespace

const ModemCoreHooks* ModemCoreDefaultHooks()
{
    return &kDefaultHooks;
}

PortRecord* ModemPortSetup(ModemDeviceExtension* ext)
{
    port_layer_setup(&ext->port_record, ext, &ext->dte, ext->register_window, ext->irq_level);
    port_irql_enable(ext);
    return &ext->port_record;
}
