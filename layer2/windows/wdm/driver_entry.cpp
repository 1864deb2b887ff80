// Entry routine of the controller driver: the dispatch table, the registry path copy and the
// service-key mode.
#include <cctype>
#include <cstring>

#include "layer2/windows/wdm/driver_entry.h"

namespace {

constexpr ULONG kWdmTag = POOL_TAG('W', 'd', 'm', ' ');

// Set when the lower-cased path does not lie under the class key of the services.
BOOLEAN compute_service_key_mode(PCUNICODE_STRING path)
{
    ANSI_STRING ansi;
    if (!NT_SUCCESS(RtlUnicodeStringToAnsiString(&ansi, path, TRUE)))
        return TRUE;
    char* text = ansi.Buffer;
    for (USHORT i = 0; i < ansi.Length; i++)
        text[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
    static const char kClass[] = "system\\currentcontrolset\\services\\class";
    bool found = false;
    size_t n = std::strlen(kClass);
    for (size_t i = 0; i + n <= ansi.Length && !found; i++)
        found = std::memcmp(text + i, kClass, n) == 0;
    RtlFreeAnsiString(&ansi);
    return found ? FALSE : TRUE;
}

}  // namespace

KestrinDriverRecord* KestrinDriverData(PDRIVER_OBJECT driver)
{
    return static_cast<KestrinDriverRecord*>(driver->DriverSection);
}

NTSTATUS kestrin::DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path)
{
    driver->MajorFunction[IRP_MJ_CREATE] = ModemCreateDispatch;
    driver->MajorFunction[IRP_MJ_CLOSE] = ModemCloseDispatch;
    driver->MajorFunction[IRP_MJ_READ] = ModemReadDispatch;
    driver->MajorFunction[IRP_MJ_WRITE] = ModemWriteDispatch;
    driver->MajorFunction[IRP_MJ_FLUSH_BUFFERS] = ModemWriteDispatch;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = SerialDeviceControl;
    driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = SerialInternalControl;
    driver->MajorFunction[IRP_MJ_CLEANUP] = ModemCleanupDispatch;
    driver->MajorFunction[IRP_MJ_POWER] = ModemPowerDispatch;
    driver->MajorFunction[IRP_MJ_SYSTEM_CONTROL] = ModemSystemControlDispatch;
    driver->MajorFunction[IRP_MJ_PNP] = ModemPnpDispatch;
    driver->DriverExtension->AddDevice = ModemAddDevice;
    driver->DriverUnload = ModemUnload;

    auto* record = static_cast<KestrinDriverRecord*>(
        ExAllocatePoolWithTag(NonPagedPool, sizeof(KestrinDriverRecord), kWdmTag));
    if (record == nullptr)
        return STATUS_INSUFFICIENT_RESOURCES;
    std::memset(record, 0, sizeof *record);
    USHORT bytes = registry_path != nullptr ? registry_path->Length : 0;
    auto* buffer = static_cast<PWSTR>(ExAllocatePoolWithTag(PagedPool, bytes + 2u, kWdmTag));
    if (buffer == nullptr) {
        ExFreePoolWithTag(record, kWdmTag);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    if (bytes != 0)
        std::memcpy(buffer, registry_path->Buffer, bytes);
    buffer[bytes / sizeof(WCHAR)] = 0;
    record->registry_path.Buffer = buffer;
    record->registry_path.Length = bytes;
    record->registry_path.MaximumLength = static_cast<USHORT>(bytes + 2);
    record->service_key_mode = registry_path != nullptr ? compute_service_key_mode(registry_path) : TRUE;
    driver->DriverSection = record;
    return STATUS_SUCCESS;
}

// The driver keeps nothing per driver but the record of its entry routine.
void ModemUnload(PDRIVER_OBJECT driver)
{
    KestrinDriverRecord* record = KestrinDriverData(driver);
    if (record == nullptr)
        return;
    driver->DriverSection = nullptr;
    ExFreePoolWithTag(record->registry_path.Buffer, kWdmTag);
    ExFreePoolWithTag(record, kWdmTag);
}
