// AddDevice: the unnamed, exclusive serial-port device of a modem, its ports interface, its DOS name
// and its entry under SERIALCOMM.
#include <cstring>
#include <new>

#include "layer2/windows/wdm/device_extension.h"
#include "layer2/windows/wdm/driver_entry.h"
#include "layer2/windows/wdm/modem_core_link.h"
#include "layer2/windows/wdm/names.h"

namespace {

constexpr ULONG kWdmTag = POOL_TAG('W', 'd', 'm', ' ');
constexpr ULONG kScratchBytes = 514;

// Class of the ports device interface.
const GUID kPortsInterfaceClass = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

void device_dpc(KDPC* dpc, PVOID context, PVOID arg1, PVOID arg2)
{
    // Runs the DSP interrupt routine registered by the DSP link; nothing queues it yet.
    (void)dpc;
    (void)context;
    (void)arg1;
    (void)arg2;
}

void init_queue(RequestQueue* q)
{
    InitializeListHead(&q->list);
    KeInitializeSpinLock(&q->lock);
    KeInitializeEvent(&q->empty_event, NotificationEvent, TRUE);
    q->current = nullptr;
    KeInitializeEvent(&q->work_event, SynchronizationEvent, FALSE);
    KeInitializeEvent(&q->abort_event, SynchronizationEvent, FALSE);
    KeInitializeEvent(&q->abort_ack_event, NotificationEvent, FALSE);
}

void init_extension(ModemDeviceExtension* ext, PDEVICE_OBJECT device, PDEVICE_OBJECT pdo, PDEVICE_OBJECT lower,
                    KestrinDriverRecord* driver_record)
{
    KeInitializeSpinLock(&ext->open_lock);
    KeInitializeSpinLock(&ext->event_mask_lock);
    KeInitializeSpinLock(&ext->rx_callback_lock);
    KeInitializeSpinLock(&ext->tx_callback_lock);
    KeInitializeSpinLock(&ext->spare_lock);
    KeInitializeSpinLock(&ext->wait_lock);
    KeInitializeSpinLock(&ext->held_lock);
    ext->device = device;
    ext->pdo = pdo;
    ext->lower = lower;
    init_queue(&ext->read_queue);
    init_queue(&ext->write_queue);
    KeInitializeEvent(&ext->wait_check_event, SynchronizationEvent, FALSE);
    KeInitializeEvent(&ext->wait_abort_event, SynchronizationEvent, FALSE);
    KeInitializeEvent(&ext->wait_ack_event, NotificationEvent, FALSE);
    InitializeListHead(&ext->held_list);
    KeInitializeEvent(&ext->no_outstanding_event, NotificationEvent, FALSE);
    KeInitializeEvent(&ext->idle_event, NotificationEvent, TRUE);
    ext->remove_refs = 1;
    ext->device_power = PowerDeviceD0;
    ext->system_power = PowerSystemWorking;
    ext->pnp_state = PNP_STOPPED;
    ext->previous_pnp_state = PNP_REMOVED;
    ext->section_irql = DISPATCH_LEVEL;
    if (driver_record != nullptr) {
        ext->registry_path = driver_record->registry_path;
        ext->service_key_mode = driver_record->service_key_mode;
    }
    ext->core_hooks = ModemCoreHooksForCore();
    KeInitializeDpc(&device->Dpc, device_dpc, ext);
}

// Reads "PortName" of the device key into text (terminated); false when it is missing.
bool read_port_name(PDEVICE_OBJECT pdo, uint8_t* scratch, WCHAR* text, ULONG text_chars)
{
    HANDLE key;
    if (!NT_SUCCESS(IoOpenDeviceRegistryKey(pdo, PLUGPLAY_REGKEY_DEVICE, KEY_READ, &key)))
        return false;
    UNICODE_STRING value_name;
    RtlInitUnicodeString(&value_name, u"PortName");
    ULONG needed = 0;
    NTSTATUS status = ZwQueryValueKey(key, &value_name, KeyValuePartialInformation, scratch, kScratchBytes, &needed);
    ZwClose(key);
    if (!NT_SUCCESS(status))
        return false;
    auto* info = reinterpret_cast<KEY_VALUE_PARTIAL_INFORMATION*>(scratch);
    if (info->Type != REG_SZ)
        return false;
    ULONG chars = info->DataLength / sizeof(WCHAR);
    if (chars >= text_chars)
        chars = text_chars - 1;
    std::memcpy(text, info->Data, chars * sizeof(WCHAR));
    text[chars] = 0;
    while (chars > 0 && text[chars - 1] == 0)
        chars--;
    return chars > 0;
}

}  // namespace

NTSTATUS ModemAddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo)
{
    if (pdo == nullptr)
        return STATUS_NO_MORE_ENTRIES;

    uint8_t* scratch[4] = {};
    NTSTATUS status = STATUS_SUCCESS;
    for (auto& s : scratch) {
        s = static_cast<uint8_t*>(ExAllocatePoolWithTag(PagedPool, kScratchBytes, kWdmTag));
        if (s == nullptr)
            status = STATUS_INSUFFICIENT_RESOURCES;
    }
    auto free_scratch = [&scratch]() {
        for (auto& s : scratch)
            if (s != nullptr)
                ExFreePoolWithTag(s, kWdmTag);
    };
    if (!NT_SUCCESS(status)) {
        free_scratch();
        return status;
    }

    PDEVICE_OBJECT device = nullptr;
    status = IoCreateDevice(driver, sizeof(ModemDeviceExtension), nullptr, FILE_DEVICE_SERIAL_PORT,
                            FILE_DEVICE_SECURE_OPEN, TRUE, &device);
    if (!NT_SUCCESS(status)) {
        free_scratch();
        return status;
    }
    auto* ext = new (device->DeviceExtension) ModemDeviceExtension();
    PDEVICE_OBJECT lower = IoAttachDeviceToDeviceStack(device, pdo);
    init_extension(ext, device, pdo, lower, KestrinDriverData(driver));
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    device->Flags |= DO_BUFFERED_IO | DO_POWER_PAGABLE;

    status = IoRegisterDeviceInterface(pdo, &kPortsInterfaceClass, nullptr, &ext->interface_name);
    if (NT_SUCCESS(status))
        status = IoSetDeviceInterfaceState(&ext->interface_name, TRUE);
    if (!NT_SUCCESS(status)) {
        if (ext->interface_name.Buffer != nullptr)
            RtlFreeUnicodeString(&ext->interface_name);
        std::memset(&ext->interface_name, 0, sizeof ext->interface_name);
        free_scratch();
        IoDetachDevice(lower);
        ext->~ModemDeviceExtension();
        IoDeleteDevice(device);
        return status;
    }

    auto* port_name = reinterpret_cast<WCHAR*>(scratch[1]);
    if (read_port_name(pdo, scratch[0], port_name, kScratchBytes / sizeof(WCHAR))) {
        status = ModemLinkDosName(ext, port_name, reinterpret_cast<WCHAR*>(scratch[2]),
                                  kScratchBytes / sizeof(WCHAR));
    }
    free_scratch();
    return status;
}
