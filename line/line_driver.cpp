#include "line/line_driver.h"

#include "line/line_port.h"

namespace {

struct LineDeviceExtension {
    PDEVICE_OBJECT self;
    PDEVICE_OBJECT lower;  // the physical device
    LinePort* port;
    bool started;
};

LineDeviceExtension* Ext(PDEVICE_OBJECT device)
{
    return static_cast<LineDeviceExtension*>(device->DeviceExtension);
}

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS PassDown(PDEVICE_OBJECT device, PIRP irp)
{
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(Ext(device)->lower, irp);
}

NTSTATUS SignalCompletion(PDEVICE_OBJECT, PIRP irp, PVOID context)
{
    if (irp->PendingReturned)
        IoMarkIrpPending(irp);
    KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS ForwardAndWait(PDEVICE_OBJECT device, PIRP irp)
{
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, SignalCompletion, &done, TRUE, TRUE, TRUE);
    if (IoCallDriver(Ext(device)->lower, irp) == STATUS_PENDING)
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
    return irp->IoStatus.Status;
}

LinePort* PortFromResources(PIO_STACK_LOCATION stack)
{
    PCM_RESOURCE_LIST list = stack->Parameters.StartDevice.AllocatedResources;
    if (list == nullptr || list->Count == 0)
        return nullptr;
    const CM_PARTIAL_RESOURCE_LIST& partial = list->List[0].PartialResourceList;
    for (ULONG i = 0; i < partial.Count; ++i) {
        const CM_PARTIAL_RESOURCE_DESCRIPTOR& d = partial.PartialDescriptors[i];
        if (d.Type == CmResourceTypeMemory && d.u.Memory.Length == sizeof(LinePort))
            return reinterpret_cast<LinePort*>(static_cast<uintptr_t>(d.u.Memory.Start.QuadPart));
    }
    return nullptr;
}

NTSTATUS StartDevice(PDEVICE_OBJECT device, PIRP irp)
{
    LineDeviceExtension* ext = Ext(device);
    // The block event comes down in Information; the physical device below may overwrite that field.
    auto* blockEvent = reinterpret_cast<PKEVENT>(irp->IoStatus.Information);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    LinePort* port = PortFromResources(stack);
    const NTSTATUS status = ForwardAndWait(device, irp);
    if (!NT_SUCCESS(status))
        return Complete(irp, status, 0);
    if (port == nullptr || blockEvent == nullptr) {
        DbgPrint("line: START without %s: no interface\n", port == nullptr ? "a line port" : "a block event");
        return Complete(irp, STATUS_SUCCESS, 0);
    }
    if (LinePortStarted(port)) {
        DbgPrint("line %s: port already in use: no interface\n", port->config.name.c_str());
        return Complete(irp, STATUS_SUCCESS, 0);
    }
    ext->port = port;
    LowerDriverInterface* iface = LinePortStart(port, blockEvent);
    ext->started = true;
    DbgPrint("line %s: started\n", port->config.name.c_str());
    return Complete(irp, STATUS_SUCCESS, reinterpret_cast<ULONG_PTR>(iface));
}

NTSTATUS RemoveDevice(PDEVICE_OBJECT device, PIRP irp)
{
    LineDeviceExtension* ext = Ext(device);
    if (ext->started) {
        LinePortStop(ext->port);
        ext->started = false;
        DbgPrint("line %s: stopped\n", ext->port->config.name.c_str());
    }
    irp->IoStatus.Status = STATUS_SUCCESS;
    const NTSTATUS status = PassDown(device, irp);
    IoDetachDevice(ext->lower);
    IoDeleteDevice(device);
    return status;
}

NTSTATUS DispatchPnp(PDEVICE_OBJECT device, PIRP irp)
{
    switch (IoGetCurrentIrpStackLocation(irp)->MinorFunction) {
    case IRP_MN_START_DEVICE:
        return StartDevice(device, irp);
    case IRP_MN_REMOVE_DEVICE:
        return RemoveDevice(device, irp);
    case IRP_MN_SURPRISE_REMOVAL:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_STOP_DEVICE:
        irp->IoStatus.Status = STATUS_SUCCESS;
        return PassDown(device, irp);
    default:
        return PassDown(device, irp);
    }
}

NTSTATUS DispatchPower(PDEVICE_OBJECT device, PIRP irp)
{
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(Ext(device)->lower, irp);
}

NTSTATUS DispatchCreateClose(PDEVICE_OBJECT, PIRP irp)
{
    return Complete(irp, STATUS_SUCCESS, 0);
}

// The card serves no device-control request; each is noted (tests check what reached the bottom) and refused.
NTSTATUS DispatchDeviceControl(PDEVICE_OBJECT device, PIRP irp)
{
    LineDeviceExtension* ext = Ext(device);
    if (ext->port != nullptr)
        LinePortNoteIoctl(ext->port, IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.IoControlCode);
    return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
}

NTSTATUS DispatchSystemControl(PDEVICE_OBJECT device, PIRP irp)
{
    return PassDown(device, irp);
}

NTSTATUS AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT physical)
{
    PDEVICE_OBJECT device = nullptr;
    NTSTATUS status =
        IoCreateDevice(driver, sizeof(LineDeviceExtension), nullptr, FILE_DEVICE_MODEM, 0, FALSE, &device);
    if (!NT_SUCCESS(status))
        return status;
    LineDeviceExtension* ext = Ext(device);
    ext->self = device;
    ext->port = nullptr;
    ext->started = false;
    ext->lower = IoAttachDeviceToDeviceStack(device, physical);
    if (ext->lower == nullptr) {
        IoDeleteDevice(device);
        return STATUS_NO_SUCH_DEVICE;
    }
    device->Flags |= DO_POWER_PAGABLE;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

VOID Unload(PDRIVER_OBJECT) {}

}  // namespace

NTSTATUS LineDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchCreateClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControl;
    driver->MajorFunction[IRP_MJ_SYSTEM_CONTROL] = DispatchSystemControl;
    driver->MajorFunction[IRP_MJ_POWER] = DispatchPower;
    driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
    driver->DriverExtension->AddDevice = AddDevice;
    driver->DriverUnload = Unload;
    return STATUS_SUCCESS;
}

LinePort* LineDevicePort(PDEVICE_OBJECT device)
{
    // Walk down to the line's own device (the one attached directly above the physical device).
    while (device != nullptr && device->DriverObject != nullptr &&
           device->DriverObject->MajorFunction[IRP_MJ_PNP] != DispatchPnp)
        device = device->PlatformLowerDevice;
    if (device == nullptr)
        return nullptr;
    return Ext(device)->port;
}
