// Entry routine, AddDevice, unload and the plain dispatch routines of the data pump's driver.
#include "layer1/drivers/wdm/dsp_device.h"

namespace {

const WCHAR kDeviceName[] = u"\\Device\\MorvaHalvernDsp";
const WCHAR kLinkName[] = u"\\DosDevices\\MorvaHalvernDsp";

// The registry path copy DriverEntry makes belongs to its driver object. Several driver objects may live in
// one process (one per machine), so the copies are kept per driver object in this small table.
constexpr int kMaxDrivers = 16;
struct DriverRecord {
    PDRIVER_OBJECT driver;
    UNICODE_STRING registryPath;
};
KSPIN_LOCK gDriverRecordsLock;
DriverRecord gDriverRecords[kMaxDrivers];

DriverRecord* FindDriverRecord(PDRIVER_OBJECT driver, bool create)
{
    for (DriverRecord& r : gDriverRecords)
        if (r.driver == driver)
            return &r;
    if (!create)
        return nullptr;
    for (DriverRecord& r : gDriverRecords)
        if (r.driver == nullptr) {
            r.driver = driver;
            r.registryPath = UNICODE_STRING{};
            return &r;
        }
    return nullptr;
}

// Allocates a 256-byte zeroed paged buffer and copies source into it (truncated to fit).
bool CopyRegistryPath(UNICODE_STRING* target, PCUNICODE_STRING source)
{
    auto* buffer = static_cast<PWSTR>(ExAllocatePoolWithTag(PagedPool, kRegistryPathBytes, kWdmPoolTag));
    if (buffer == nullptr) {
        *target = UNICODE_STRING{};
        return false;
    }
    RtlZeroMemory(buffer, kRegistryPathBytes);
    target->Buffer = buffer;
    target->Length = 0;
    target->MaximumLength = kRegistryPathBytes;
    if (source != nullptr && source->Buffer != nullptr)
        RtlCopyUnicodeString(target, source);
    return true;
}

void FreeString(UNICODE_STRING* s)
{
    if (s->Buffer != nullptr)
        ExFreePool(s->Buffer);
    *s = UNICODE_STRING{};
}

}  // namespace

namespace pumora {

NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    UNICODE_STRING copy;
    CopyRegistryPath(&copy, registryPath);  // on failure the copy stays empty
    KIRQL irql;
    KeAcquireSpinLock(&gDriverRecordsLock, &irql);
    DriverRecord* record = FindDriverRecord(driver, true);
    if (record != nullptr) {
        record->registryPath = copy;
        copy = UNICODE_STRING{};
    }
    KeReleaseSpinLock(&gDriverRecordsLock, irql);
    FreeString(&copy);

    driver->DriverUnload = DspUnload;
    driver->MajorFunction[IRP_MJ_CREATE] = DspCreateCloseDispatch;
    driver->MajorFunction[IRP_MJ_CLOSE] = DspCreateCloseDispatch;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DspDeviceControlDispatch;
    driver->MajorFunction[IRP_MJ_SYSTEM_CONTROL] = DspSystemControlDispatch;
    driver->MajorFunction[IRP_MJ_POWER] = DspPowerDispatch;
    driver->MajorFunction[IRP_MJ_PNP] = DspPnpDispatch;
    driver->DriverExtension->AddDevice = DspAddDevice;
    return STATUS_SUCCESS;
}

}  // namespace pumora

// Frees the driver-wide registry path copy (kept until unload, so every device of the driver gets it).
VOID DspUnload(PDRIVER_OBJECT driver)
{
    UNICODE_STRING copy{};
    KIRQL irql;
    KeAcquireSpinLock(&gDriverRecordsLock, &irql);
    if (DriverRecord* record = FindDriverRecord(driver, false)) {
        copy = record->registryPath;
        record->driver = nullptr;
        record->registryPath = UNICODE_STRING{};
    }
    KeReleaseSpinLock(&gDriverRecordsLock, irql);
    FreeString(&copy);
}

NTSTATUS DspAddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT physicalDevice)
{
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, kDeviceName);
    PDEVICE_OBJECT device = nullptr;
    NTSTATUS status =
        IoCreateDevice(driver, sizeof(DspDeviceExtension), &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
    if (!NT_SUCCESS(status))
        return status;
    auto* ext = static_cast<DspDeviceExtension*>(device->DeviceExtension);
    ext->driverObject = driver;
    ext->physicalDevice = physicalDevice;
    ext->ownDevice = device;

    UNICODE_STRING driverPath{};
    KIRQL irql;
    KeAcquireSpinLock(&gDriverRecordsLock, &irql);
    if (DriverRecord* record = FindDriverRecord(driver, false))
        driverPath = record->registryPath;
    KeReleaseSpinLock(&gDriverRecordsLock, irql);
    if (!CopyRegistryPath(&ext->registryPath, &driverPath)) {
        IoDeleteDevice(device);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &ext->registryPath, 0, nullptr, nullptr);
    if (!NT_SUCCESS(ZwOpenKey(&ext->registryKey, KEY_READ, &attributes)))
        ext->registryKey = nullptr;

    ext->blockThread = nullptr;
    ext->blockWork = nullptr;
    ext->blockWorkClock = nullptr;
    ext->interfaceBlock = nullptr;
    ext->lowerAudio = nullptr;
    KeInitializeEvent(&ext->blockEvent, NotificationEvent, FALSE);
    RemoveLockInitialize(&ext->removeLock);

    ext->lowerDevice = IoAttachDeviceToDeviceStack(device, physicalDevice);
    ext->deviceName = name;
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, kLinkName);
    status = ext->lowerDevice != nullptr ? IoCreateSymbolicLink(&link, &ext->deviceName) : STATUS_NO_SUCH_DEVICE;
    if (!NT_SUCCESS(status)) {
        // Undo what was done, so a failed AddDevice leaves no device in the stack.
        if (ext->lowerDevice != nullptr)
            IoDetachDevice(ext->lowerDevice);
        if (ext->registryKey != nullptr)
            ZwClose(ext->registryKey);
        FreeString(&ext->registryPath);
        IoDeleteDevice(device);
        return status;
    }
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    device->Flags |= DO_BUFFERED_IO | DO_POWER_PAGABLE;
    return STATUS_SUCCESS;
}

NTSTATUS PassIrpDown(DspDeviceExtension* ext, PIRP irp)
{
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(ext->lowerDevice, irp);
}

NTSTATUS CompleteIrp(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS DspCreateCloseDispatch(PDEVICE_OBJECT device, PIRP irp)
{
    return PassIrpDown(static_cast<DspDeviceExtension*>(device->DeviceExtension), irp);
}

// The data pump serves no device-control code: every request goes down unchanged.
NTSTATUS DspDeviceControlDispatch(PDEVICE_OBJECT device, PIRP irp)
{
    auto* ext = static_cast<DspDeviceExtension*>(device->DeviceExtension);
    if (!NT_SUCCESS(RemoveLockAcquire(&ext->removeLock)))
        return CompleteIrp(irp, STATUS_DELETE_PENDING, 0);
    const NTSTATUS status = PassIrpDown(ext, irp);
    RemoveLockRelease(&ext->removeLock);
    return status;
}

NTSTATUS DspSystemControlDispatch(PDEVICE_OBJECT device, PIRP irp)
{
    auto* ext = static_cast<DspDeviceExtension*>(device->DeviceExtension);
    if (!NT_SUCCESS(RemoveLockAcquire(&ext->removeLock)))
        return CompleteIrp(irp, STATUS_DELETE_PENDING, 0);
    const NTSTATUS status = PassIrpDown(ext, irp);
    RemoveLockRelease(&ext->removeLock);
    return status;
}

NTSTATUS DspPowerDispatch(PDEVICE_OBJECT device, PIRP irp)
{
    auto* ext = static_cast<DspDeviceExtension*>(device->DeviceExtension);
    if (!NT_SUCCESS(RemoveLockAcquire(&ext->removeLock))) {
        PoStartNextPowerIrp(irp);
        return CompleteIrp(irp, STATUS_DELETE_PENDING, 0);
    }
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    const NTSTATUS status = PoCallDriver(ext->lowerDevice, irp);
    RemoveLockRelease(&ext->removeLock);
    return status;
}
