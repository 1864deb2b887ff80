// Request accounting of the serial-port device and the references that removal waits for.
#pragma once

#include "layer2/windows/wdm/device_extension.h"

// Takes the request's references: STATUS_SUCCESS, or STATUS_UNSUCCESSFUL after completing the request
// when the device is removed or not started (its references are given back on that path).
NTSTATUS AcquireRequest(ModemDeviceExtension* ext, PIRP irp);
// Gives one reference back and completes the request with the status.
NTSTATUS CompleteRequest(ModemDeviceExtension* ext, PIRP irp, NTSTATUS status);
// Gives one reference back.
void ReleaseRequest(ModemDeviceExtension* ext);

// Removal references: PnP and power dispatch hold one while they run; the count starts at 1.
void ModemIoIncrement(ModemDeviceExtension* ext);
void ModemIoDecrement(ModemDeviceExtension* ext);

// The request's cancel flag, read as the cancelling thread writes it (atomically).
inline bool IrpCancelled(PIRP irp)
{
    return __atomic_load_n(&irp->Cancel, __ATOMIC_ACQUIRE) != 0;
}

// Completes a request without going through the accounting.
NTSTATUS ModemCompleteIrp(PIRP irp, NTSTATUS status, ULONG_PTR information);
// Passes a request to the next-lower device unchanged.
NTSTATUS ModemPassDown(ModemDeviceExtension* ext, PIRP irp);
// Passes a request down and waits for it to complete; returns its final status.
NTSTATUS ModemForwardAndWait(ModemDeviceExtension* ext, PIRP irp);

// The held-request list (system-control requests while stopped).
NTSTATUS ModemHoldRequest(ModemDeviceExtension* ext, PIRP irp);
void ModemReleaseHeldRequests(ModemDeviceExtension* ext);
void ModemCompleteHeldRequests(ModemDeviceExtension* ext, NTSTATUS status, PFILE_OBJECT only_file);
