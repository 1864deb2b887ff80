#include "support/fake_pump.h"

#include <cstring>
#include <new>

namespace {

FakePumpExtension* ext_of(PDEVICE_OBJECT device)
{
    return static_cast<FakePumpExtension*>(device->DeviceExtension);
}

NTSTATUS complete(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS signal_done(PDEVICE_OBJECT, PIRP, PVOID context)
{
    KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS forward_and_wait(FakePumpExtension* ext, PIRP irp)
{
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, signal_done, &done, TRUE, TRUE, TRUE);
    NTSTATUS status = IoCallDriver(ext->lower, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
        status = irp->IoStatus.Status;
    }
    return status;
}

NTSTATUS pass_down(FakePumpExtension* ext, PIRP irp)
{
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(ext->lower, irp);
}

NTSTATUS pump_pnp(PDEVICE_OBJECT device, PIRP irp)
{
    FakePumpExtension* ext = ext_of(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE: {
        ext->controller_callback = reinterpret_cast<ControllerCallback>(irp->IoStatus.Information);
        irp->IoStatus.Information = 0;
        NTSTATUS status = forward_and_wait(ext, irp);
        ULONG_PTR answer = 0;
        if (NT_SUCCESS(status) && !ext->answer_null_context) {
            ext->context.interfaceBlock = ext->answer_null_block ? nullptr : &ext->block;
            ext->block.controllerCallback = ext->controller_callback;
            answer = reinterpret_cast<ULONG_PTR>(&ext->context);
        }
        return complete(irp, status, answer);
    }
    case IRP_MN_REMOVE_DEVICE: {
        irp->IoStatus.Status = STATUS_SUCCESS;
        NTSTATUS status = pass_down(ext, irp);
        IoDetachDevice(ext->lower);
        ext->~FakePumpExtension();
        IoDeleteDevice(device);
        return status;
    }
    default:
        return pass_down(ext, irp);
    }
}

NTSTATUS pump_power(PDEVICE_OBJECT device, PIRP irp)
{
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(ext_of(device)->lower, irp);
}

NTSTATUS pump_create_close(PDEVICE_OBJECT device, PIRP irp)
{
    FakePumpExtension* ext = ext_of(device);
    if (IoGetCurrentIrpStackLocation(irp)->MajorFunction == IRP_MJ_CREATE)
        ext->creates++;
    else if (IoGetCurrentIrpStackLocation(irp)->MajorFunction == IRP_MJ_CLOSE)
        ext->closes++;
    return complete(irp, STATUS_SUCCESS, 0);
}

// Device controls the controller passes on are not the pump's: refused.
NTSTATUS pump_other(PDEVICE_OBJECT, PIRP irp)
{
    return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
}

NTSTATUS pump_add_device(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo)
{
    PDEVICE_OBJECT device = nullptr;
    NTSTATUS status = IoCreateDevice(driver, sizeof(FakePumpExtension), nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE,
                                     &device);
    if (!NT_SUCCESS(status))
        return status;
    auto* ext = new (device->DeviceExtension) FakePumpExtension();
    ext->device = device;
    ext->lower = IoAttachDeviceToDeviceStack(device, pdo);
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    device->Flags |= DO_BUFFERED_IO | DO_POWER_PAGABLE;
    return STATUS_SUCCESS;
}

}  // namespace

NTSTATUS FakePumpDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    for (auto& f : driver->MajorFunction)
        f = pump_other;
    driver->MajorFunction[IRP_MJ_PNP] = pump_pnp;
    driver->MajorFunction[IRP_MJ_POWER] = pump_power;
    driver->MajorFunction[IRP_MJ_CREATE] = pump_create_close;
    driver->MajorFunction[IRP_MJ_CLOSE] = pump_create_close;
    driver->MajorFunction[IRP_MJ_CLEANUP] = pump_create_close;
    driver->DriverExtension->AddDevice = pump_add_device;
    return STATUS_SUCCESS;
}

FakePumpExtension* FakePumpOf(PDEVICE_OBJECT pump_device)
{
    return ext_of(pump_device);
}
