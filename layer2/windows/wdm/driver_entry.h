// The controller driver's entry routine and its dispatch routines.
#pragma once

#include "platform/kernel.h"

namespace kestrin {
NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path);
}

// What DriverEntry keeps for the driver: the registry path copy and the service-key mode. Kept in a
// pool block that the driver object's DriverSection points at (one per loaded driver).
struct KestrinDriverRecord {
    UNICODE_STRING registry_path;  // buffer: length plus 2 bytes, tag "Wdm "
    BOOLEAN service_key_mode;
};
KestrinDriverRecord* KestrinDriverData(PDRIVER_OBJECT driver);

DRIVER_ADD_DEVICE ModemAddDevice;
DRIVER_UNLOAD ModemUnload;
DRIVER_DISPATCH ModemCreateDispatch;
DRIVER_DISPATCH ModemCloseDispatch;
DRIVER_DISPATCH ModemReadDispatch;
DRIVER_DISPATCH ModemWriteDispatch;
DRIVER_DISPATCH SerialDeviceControl;
DRIVER_DISPATCH SerialInternalControl;
DRIVER_DISPATCH ModemCleanupDispatch;
DRIVER_DISPATCH ModemPowerDispatch;
DRIVER_DISPATCH ModemSystemControlDispatch;
DRIVER_DISPATCH ModemPnpDispatch;
