// Plug and Play: START with the pointer exchange that binds the three layers, and REMOVE.
#include <cstring>

#include "layer1/drivers/wdm/dsp_device.h"

namespace {

const WCHAR kLinkName[] = u"\\DosDevices\\MorvaHalvernDsp";

NTSTATUS ForwardCompletion(PDEVICE_OBJECT, PIRP irp, PVOID context)
{
    if (irp->PendingReturned)
        IoMarkIrpPending(irp);
    KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

}  // namespace

NTSTATUS ForwardIrpAndWait(DspDeviceExtension* ext, PIRP irp)
{
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, ForwardCompletion, &done, TRUE, TRUE, TRUE);
    if (IoCallDriver(ext->lowerDevice, irp) == STATUS_PENDING)
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
    return irp->IoStatus.Status;
}

NTSTATUS DspPnpDispatch(PDEVICE_OBJECT device, PIRP irp)
{
    auto* ext = static_cast<DspDeviceExtension*>(device->DeviceExtension);
    if (!NT_SUCCESS(RemoveLockAcquire(&ext->removeLock)))
        return CompleteIrp(irp, STATUS_DELETE_PENDING, 0);
    switch (IoGetCurrentIrpStackLocation(irp)->MinorFunction) {
    case IRP_MN_START_DEVICE: {
        const NTSTATUS status = DspStartDevice(device, irp);
        RemoveLockRelease(&ext->removeLock);
        return status;
    }
    case IRP_MN_REMOVE_DEVICE:
        // Releases the lock itself and deletes the device: nothing here may touch the extension afterwards.
        return DspRemoveDevice(device, irp);
    default: {
        const NTSTATUS status = PassIrpDown(ext, irp);
        RemoveLockRelease(&ext->removeLock);
        return status;
    }
    }
}

NTSTATUS DspStartDevice(PDEVICE_OBJECT device, PIRP irp)
{
    auto* ext = static_cast<DspDeviceExtension*>(device->DeviceExtension);
    // In from above: the controller's event routine. Down: this device's block event.
    ext->controllerCallback = reinterpret_cast<ControllerCallback>(irp->IoStatus.Information);
    irp->IoStatus.Information = reinterpret_cast<ULONG_PTR>(&ext->blockEvent);
    NTSTATUS status = ForwardIrpAndWait(ext, irp);
    ext->pnpState = DSP_PNP_LOWER_STARTED;
    if (!NT_SUCCESS(status))
        return CompleteIrp(irp, status, 0);
    auto* lower = reinterpret_cast<LowerDriverInterface*>(irp->IoStatus.Information);
    if (lower == nullptr) {
        DbgPrint("DspStartDevice: no interface from the sample-stream driver\n");
        return CompleteIrp(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
    }
    DspContext* context = &ext->dspContext;
    ext->lowerAudio = SetupLowerAudio(&context->lowerAudioRecord, lower);

    auto* block = static_cast<DspInterfaceBlock*>(
        ExAllocatePoolWithTag(NonPagedPool, sizeof(DspInterfaceBlock), kWdmPoolTag));
    if (block == nullptr) {
        DbgPrint("DspStartDevice: cannot allocate the interface block\n");
        ext->lowerAudio = nullptr;
        return CompleteIrp(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
    }
    std::memset(block, 0, sizeof(*block));
    ext->interfaceBlock = block;

    InitDspContext(context, ext->lowerAudio, block);
    InitInterfaceBlock(block, ext->controllerCallback, context->commandEntry);

    status = DspBlockThreadStart(ext);
    if (!NT_SUCCESS(status)) {
        DbgPrint("DspStartDevice: cannot start the block thread (0x%08x)\n", static_cast<unsigned>(status));
        StopBlockThread(ext);
        status = STATUS_UNSUCCESSFUL;
    }
    ext->previousPnpState = ext->pnpState;
    ext->pnpState = DSP_PNP_STARTED;
    return CompleteIrp(irp, status, NT_SUCCESS(status) ? reinterpret_cast<ULONG_PTR>(context) : 0);
}

NTSTATUS DspRemoveDevice(PDEVICE_OBJECT device, PIRP irp)
{
    auto* ext = static_cast<DspDeviceExtension*>(device->DeviceExtension);
    if (ext->registryKey != nullptr) {
        ZwClose(ext->registryKey);
        ext->registryKey = nullptr;
    }
    if (ext->registryPath.Buffer != nullptr) {
        ExFreePool(ext->registryPath.Buffer);
        ext->registryPath = UNICODE_STRING{};
    }
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, kLinkName);
    IoDeleteSymbolicLink(&link);
    if (ext->pnpState == DSP_PNP_STARTED) {
        StopBlockThread(ext);
        if (ext->dspContext.command.filtersCreated)
            DestroyDspFilters(&ext->dspContext);
        if (ext->interfaceBlock != nullptr) {
            ExFreePool(ext->interfaceBlock);
            ext->interfaceBlock = nullptr;
            ext->dspContext.interfaceBlock = nullptr;
        }
    }
    RemoveLockReleaseAndWait(&ext->removeLock);
    NTSTATUS status = STATUS_SUCCESS;
    PDEVICE_OBJECT lower = ext->lowerDevice;
    if (lower != nullptr) {
        irp->IoStatus.Status = STATUS_SUCCESS;
        status = PassIrpDown(ext, irp);
        IoDetachDevice(lower);
    } else {
        CompleteIrp(irp, STATUS_SUCCESS, 0);
    }
    IoDeleteDevice(device);
    return status;
}
