// Create, close and cleanup of the port, the internal controls and system control.
#include "layer2/corecode/mt/port_ops.h"
#include "layer2/corecode/mt/port_table.h"
#include "layer2/windows/wdm/device_extension.h"
#include "layer2/windows/wdm/driver_entry.h"
#include "layer2/windows/wdm/request_accounting.h"
#include "layer2/windows/wdm/serial_ioctl.h"
#include "layer2/windows/wdm/serial_queue.h"

NTSTATUS ModemCreateDispatch(PDEVICE_OBJECT device, PIRP irp)
{
    ModemDeviceExtension* ext = ModemExtension(device);
    NTSTATUS status = AcquireRequest(ext, irp);
    if (!NT_SUCCESS(status))
        return status;
    PortRecord* rec = &ext->port_record;
    int32_t error = 0;
    const uint8_t name[12] = {'C', 'O', 'M', 0};
    bool ok = port_call(rec, PORT_OPEN, reinterpret_cast<uintptr_t>(name), 0, reinterpret_cast<uintptr_t>(&error));
    if (ok && !port_call(rec, PORT_SETUP_QUEUES, 0, 4096, 0, 1024)) {
        port_call(rec, PORT_CLOSE);
        ok = false;
    }
    if (!ok) {
        irp->IoStatus.Information = 0;
        CompleteRequest(ext, irp, STATUS_NO_SUCH_DEVICE);
        ReleaseRequest(ext);
        return STATUS_NO_SUCH_DEVICE;
    }
    ext->port = rec;
    KIRQL old;
    KeAcquireSpinLock(&ext->open_lock, &old);
    ext->open_count++;
    KeReleaseSpinLock(&ext->open_lock, old);
    ReleaseRequest(ext);
    ReleaseRequest(ext);
    return ModemPassDown(ext, irp);
}

NTSTATUS ModemCloseDispatch(PDEVICE_OBJECT device, PIRP irp)
{
    ModemDeviceExtension* ext = ModemExtension(device);
    NTSTATUS status = AcquireRequest(ext, irp);
    if (!NT_SUCCESS(status))
        return status;
    KIRQL old;
    KeAcquireSpinLock(&ext->open_lock, &old);
    LONG was = ext->open_count;
    if (was > 0)
        ext->open_count = was - 1;
    KeReleaseSpinLock(&ext->open_lock, old);
    if (was != 0 && ext->port != nullptr) {
        port_call(ext->port, PORT_CLOSE);
        ext->port = nullptr;
    }
    ReleaseRequest(ext);
    ReleaseRequest(ext);
    return ModemPassDown(ext, irp);
}

NTSTATUS ModemCleanupDispatch(PDEVICE_OBJECT device, PIRP irp)
{
    ModemDeviceExtension* ext = ModemExtension(device);
    NTSTATUS status = AcquireRequest(ext, irp);
    if (!NT_SUCCESS(status))
        return status;
    PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
    ext->app_state = 0;
    ModemCompleteHeldRequests(ext, STATUS_CANCELLED, file);
    // The caller's transfers and wait end with its handle.
    ModemCancelFileRequests(ext, &ext->read_queue, file);
    ModemCancelFileRequests(ext, &ext->write_queue, file);
    ModemCancelPendingWait(ext, file);
    irp->IoStatus.Information = 0;
    CompleteRequest(ext, irp, STATUS_SUCCESS);
    ReleaseRequest(ext);
    return STATUS_SUCCESS;
}

NTSTATUS SerialInternalControl(PDEVICE_OBJECT device, PIRP irp)
{
    ModemDeviceExtension* ext = ModemExtension(device);
    NTSTATUS status = AcquireRequest(ext, irp);
    if (!NT_SUCCESS(status))
        return status;
    ULONG code = IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.IoControlCode;
    if (code == IOCTL_SERIAL_INTERNAL_DO_WAIT_WAKE)
        ext->wake_enabled = 1;
    else if (code == IOCTL_SERIAL_INTERNAL_CANCEL_WAIT_WAKE)
        ext->wake_enabled = 0;
    irp->IoStatus.Information = 0;
    CompleteRequest(ext, irp, STATUS_SUCCESS);
    ReleaseRequest(ext);
    return STATUS_SUCCESS;
}

NTSTATUS ModemSystemControlDispatch(PDEVICE_OBJECT device, PIRP irp)
{
    ModemDeviceExtension* ext = ModemExtension(device);
    if (ext->stop_pending.load() && !ext->removed.load())
        return ModemHoldRequest(ext, irp);
    if (ext->removed.load())
        return ModemCompleteIrp(irp, STATUS_DELETE_PENDING, 0);
    if (!ext->started.load())
        return ModemCompleteIrp(irp, STATUS_UNSUCCESSFUL, 0);
    return ModemPassDown(ext, irp);
}
