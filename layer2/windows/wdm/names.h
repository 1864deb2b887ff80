// The DOS name of the port and its entry under SERIALCOMM.
#pragma once

#include "layer2/windows/wdm/device_extension.h"

// Links "\DosDevices\" + port name to the interface and publishes the port under SERIALCOMM.
NTSTATUS ModemLinkDosName(ModemDeviceExtension* ext, const WCHAR* port_name, WCHAR* scratch, ULONG scratch_chars);
// Deletes the link and the SERIALCOMM value; disables the interface and frees its name.
void ModemUnlinkNames(ModemDeviceExtension* ext);
