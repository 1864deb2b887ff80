// The nestable IRQL section that the port layer and the modem core use as their device lock.
#pragma once

struct ModemDeviceExtension;

void port_irql_enable(ModemDeviceExtension* ext);
void port_irql_enter(ModemDeviceExtension* ext);
void port_irql_leave(ModemDeviceExtension* ext);
void port_irql_reset(ModemDeviceExtension* ext);
