// The nestable IRQL section: the first enter raises to the section level, the last leave lowers.
#include "layer2/windows/wdm/device_extension.h"
#include "layer2/windows/wdm/port_irql.h"

void port_irql_enable(ModemDeviceExtension* ext)
{
    ext->section_enabled = 1;
}

void port_irql_enter(ModemDeviceExtension* ext)
{
    if (ext == nullptr || !ext->section_enabled)
        return;
    if (ext->section_nesting == 0) {
        KIRQL old;
        KeRaiseIrql(ext->section_irql, &old);
        ext->saved_irql = old;
        ext->section_raised = 1;
    }
    ext->section_nesting++;
}

void port_irql_leave(ModemDeviceExtension* ext)
{
    if (ext == nullptr || ext->section_nesting == 0)
        return;  // a leave with no section open does nothing
    ext->section_nesting--;
    if (ext->section_nesting == 0 && ext->section_raised) {
        ext->section_raised = 0;
        KeLowerIrql(ext->saved_irql);
    }
}

void port_irql_reset(ModemDeviceExtension* ext)
{
    if (ext == nullptr)
        return;
    if (ext->section_raised) {
        ext->section_raised = 0;
        KeLowerIrql(PASSIVE_LEVEL);
    }
    ext->section_nesting = 0;
    ext->section_enabled = 0;
}
