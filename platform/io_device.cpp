// Device objects, device stacks, names, device interfaces, device registry keys and properties.
#include <new>

#include "platform/internal.h"
#include "platform/registry_store.h"

using namespace platform;

namespace platform {
HANDLE OpenKeyHandle(RegistryStore* store, const std::string& path);

// "\DosDevices\X" and "\??\X" name the same thing.
std::string CanonicalName(const std::string& name)
{
    std::string l = Lower(name);
    const std::string dos = "\\dosdevices\\";
    if (l.compare(0, dos.size(), dos) == 0) l = "\\??\\" + l.substr(dos.size());
    return l;
}

std::string DeviceKeyPathOf(const ::PlatformDeviceNode* node)
{
    return "\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\" + node->instanceId + "\\Device Parameters";
}

std::string DriverKeyPathOf(const ::PlatformDeviceNode* node)
{
    return "\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\" + node->driverKeyName;
}
}  // namespace platform

namespace {

KernelInstance* KernelOfDevice(PDEVICE_OBJECT d)
{
    if (d != nullptr && d->DriverObject != nullptr && d->DriverObject->Kernel != nullptr) return d->DriverObject->Kernel;
    return CurrentKernel();
}

UNICODE_STRING AllocatedString(const std::string& text)
{
    UNICODE_STRING s{0, 0, nullptr};
    std::u16string w = Widen(text);
    ULONG bytes = static_cast<ULONG>((w.size() + 1) * sizeof(WCHAR));
    if (bytes > 0xFFFE) return s;
    s.Buffer = static_cast<PWSTR>(ExAllocatePoolWithTag(PagedPool, bytes, POOL_TAG('S', 't', 'r', 'g')));
    if (s.Buffer == nullptr) return s;
    std::memcpy(s.Buffer, w.c_str(), bytes);
    s.Length = static_cast<USHORT>(bytes - sizeof(WCHAR));
    s.MaximumLength = static_cast<USHORT>(bytes);
    return s;
}

}  // namespace

NTSTATUS IoCreateDevice(PDRIVER_OBJECT DriverObject, ULONG DeviceExtensionSize, PUNICODE_STRING DeviceName,
                        ULONG DeviceType, ULONG DeviceCharacteristics, BOOLEAN Exclusive,
                        PDEVICE_OBJECT* DeviceObject)
{
    if (DriverObject == nullptr || DeviceObject == nullptr) return STATUS_INVALID_PARAMETER;
    KernelInstance* k = DriverObject->Kernel != nullptr ? DriverObject->Kernel : CurrentKernel();
    if (k == nullptr) return STATUS_INVALID_PARAMETER;
    std::string name = DeviceName != nullptr ? Narrow(DeviceName) : std::string();
    size_t extensionOffset = (sizeof(DEVICE_OBJECT) + 15) & ~size_t(15);
    void* raw = ::operator new(extensionOffset + DeviceExtensionSize, std::align_val_t(16), std::nothrow);
    if (raw == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    std::memset(raw, 0, extensionOffset + DeviceExtensionSize);
    auto* d = new (raw) DEVICE_OBJECT();
    d->Type = 3;
    d->Size = static_cast<USHORT>(sizeof(DEVICE_OBJECT));
    d->DriverObject = DriverObject;
    d->Flags = DO_DEVICE_INITIALIZING | (Exclusive ? DO_EXCLUSIVE : 0) | (name.empty() ? 0 : DO_DEVICE_HAS_NAME);
    d->Characteristics = DeviceCharacteristics;
    d->DeviceExtension = DeviceExtensionSize ? static_cast<UCHAR*>(raw) + extensionOffset : nullptr;
    d->DeviceType = DeviceType;
    d->StackSize = 1;
    d->PlatformPowerState = PowerDeviceD0;
    {
        std::lock_guard<std::mutex> lk(k->mu);
        if (!name.empty()) {
            std::string key = CanonicalName(name);
            if (k->deviceNames.count(key) != 0) {
                d->~DEVICE_OBJECT();
                ::operator delete(raw, std::align_val_t(16));
                return STATUS_OBJECT_NAME_COLLISION;
            }
            k->deviceNames[key] = d;
            std::u16string w = Widen(name);
            d->PlatformName.Buffer = new WCHAR[w.size() + 1];
            std::memcpy(d->PlatformName.Buffer, w.c_str(), (w.size() + 1) * sizeof(WCHAR));
            d->PlatformName.Length = static_cast<USHORT>(w.size() * sizeof(WCHAR));
            d->PlatformName.MaximumLength = static_cast<USHORT>((w.size() + 1) * sizeof(WCHAR));
        }
        d->NextDevice = DriverObject->DeviceObject;
        DriverObject->DeviceObject = d;
    }
    *DeviceObject = d;
    return STATUS_SUCCESS;
}

VOID IoDeleteDevice(PDEVICE_OBJECT DeviceObject)
{
    KernelInstance* k = KernelOfDevice(DeviceObject);
    std::lock_guard<std::mutex> lk(k->mu);
    if (DeviceObject->PlatformDeleted) return;
    DeviceObject->PlatformDeleted = 1;
    if (DeviceObject->PlatformName.Buffer != nullptr) {
        k->deviceNames.erase(CanonicalName(Narrow(&DeviceObject->PlatformName)));
    }
    PDEVICE_OBJECT* link = &DeviceObject->DriverObject->DeviceObject;
    while (*link != nullptr && *link != DeviceObject) link = &(*link)->NextDevice;
    if (*link == DeviceObject) *link = DeviceObject->NextDevice;
    // The memory stays until the machine goes: requests and files may still name the device.
    k->deletedDevices.push_back(DeviceObject);
}

PDEVICE_OBJECT IoGetAttachedDevice(PDEVICE_OBJECT DeviceObject)
{
    PDEVICE_OBJECT d = DeviceObject;
    while (d->AttachedDevice != nullptr) d = d->AttachedDevice;
    return d;
}

PDEVICE_OBJECT IoGetAttachedDeviceReference(PDEVICE_OBJECT DeviceObject) { return IoGetAttachedDevice(DeviceObject); }

PDEVICE_OBJECT IoAttachDeviceToDeviceStack(PDEVICE_OBJECT SourceDevice, PDEVICE_OBJECT TargetDevice)
{
    if (SourceDevice == nullptr || TargetDevice == nullptr) return nullptr;
    KernelInstance* k = KernelOfDevice(TargetDevice);
    std::lock_guard<std::mutex> lk(k->mu);
    PDEVICE_OBJECT top = IoGetAttachedDevice(TargetDevice);
    if (top->PlatformDeleted) return nullptr;
    top->AttachedDevice = SourceDevice;
    SourceDevice->PlatformLowerDevice = top;
    SourceDevice->StackSize = static_cast<CCHAR>(top->StackSize + 1);
    SourceDevice->PlatformNode = top->PlatformNode;
    return top;
}

VOID IoDetachDevice(PDEVICE_OBJECT TargetDevice)
{
    KernelInstance* k = KernelOfDevice(TargetDevice);
    std::lock_guard<std::mutex> lk(k->mu);
    PDEVICE_OBJECT above = TargetDevice->AttachedDevice;
    if (above != nullptr) above->PlatformLowerDevice = nullptr;
    TargetDevice->AttachedDevice = nullptr;
}

// ---------------------------------------------------------------------------------------------------------
// Names.

NTSTATUS IoCreateSymbolicLink(PUNICODE_STRING SymbolicLinkName, PUNICODE_STRING DeviceName)
{
    KernelInstance* k = CurrentKernel();
    if (k == nullptr || SymbolicLinkName == nullptr || DeviceName == nullptr) return STATUS_INVALID_PARAMETER;
    std::string link = CanonicalName(Narrow(SymbolicLinkName));
    if (link.empty()) return STATUS_OBJECT_NAME_INVALID;
    std::lock_guard<std::mutex> lk(k->mu);
    if (k->links.count(link) != 0) return STATUS_OBJECT_NAME_COLLISION;
    k->links[link] = Narrow(DeviceName);
    return STATUS_SUCCESS;
}

NTSTATUS IoDeleteSymbolicLink(PUNICODE_STRING SymbolicLinkName)
{
    KernelInstance* k = CurrentKernel();
    if (k == nullptr || SymbolicLinkName == nullptr) return STATUS_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lk(k->mu);
    return k->links.erase(CanonicalName(Narrow(SymbolicLinkName))) ? STATUS_SUCCESS : STATUS_OBJECT_NAME_NOT_FOUND;
}

NTSTATUS IoRegisterDeviceInterface(PDEVICE_OBJECT PhysicalDeviceObject, const GUID* InterfaceClassGuid,
                                   PUNICODE_STRING ReferenceString, PUNICODE_STRING SymbolicLinkName)
{
    if (PhysicalDeviceObject == nullptr || InterfaceClassGuid == nullptr || SymbolicLinkName == nullptr ||
        PhysicalDeviceObject->PlatformNode == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    ::PlatformDeviceNode* node = PhysicalDeviceObject->PlatformNode;
    KernelInstance* k = node->kernel;
    const GUID& g = *InterfaceClassGuid;
    std::string guid = Format("{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", g.Data1, g.Data2, g.Data3,
                              g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                              g.Data4[7]);
    std::string instance = node->instanceId;
    for (char& c : instance) {
        if (c == '\\') c = '#';
    }
    std::string name = "\\??\\" + instance + "#" + guid;
    if (ReferenceString != nullptr && ReferenceString->Length != 0) name += "\\" + Narrow(ReferenceString);
    UNICODE_STRING s = AllocatedString(name);
    if (s.Buffer == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    {
        std::lock_guard<std::mutex> lk(k->mu);
        bool known = false;
        for (auto& i : k->interfaces) known = known || Lower(i.name) == Lower(name);
        if (!known) {
            KernelInstance::Interface i;
            i.name = name;
            i.classGuid = guid;
            i.pdo = PhysicalDeviceObject;
            k->interfaces.push_back(i);
        }
    }
    *SymbolicLinkName = s;
    return STATUS_SUCCESS;
}

NTSTATUS IoSetDeviceInterfaceState(PUNICODE_STRING SymbolicLinkName, BOOLEAN Enable)
{
    if (SymbolicLinkName == nullptr || SymbolicLinkName->Buffer == nullptr) return STATUS_INVALID_PARAMETER;
    KernelInstance* k = CurrentKernel();
    if (k == nullptr) return STATUS_INVALID_PARAMETER;
    std::string name = Narrow(SymbolicLinkName);
    std::lock_guard<std::mutex> lk(k->mu);
    for (auto& i : k->interfaces) {
        if (Lower(i.name) != Lower(name)) continue;
        if (Enable && i.enabled) return STATUS_OBJECT_NAME_EXISTS;
        if (!Enable && !i.enabled) return STATUS_OBJECT_NAME_NOT_FOUND;
        i.enabled = Enable != 0;
        std::string key = CanonicalName(i.name);
        if (Enable) {
            k->links[key] = Narrow(&i.pdo->PlatformName);
        } else {
            k->links.erase(key);
        }
        return STATUS_SUCCESS;
    }
    return STATUS_OBJECT_NAME_NOT_FOUND;
}

// ---------------------------------------------------------------------------------------------------------
// Device registry keys and properties.

NTSTATUS IoOpenDeviceRegistryKey(PDEVICE_OBJECT DeviceObject, ULONG DevInstKeyType, ACCESS_MASK,
                                 PHANDLE DevInstRegKey)
{
    if (DeviceObject == nullptr || DevInstRegKey == nullptr || DeviceObject->PlatformNode == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    ::PlatformDeviceNode* node = DeviceObject->PlatformNode;
    std::string path;
    if (DevInstKeyType & PLUGPLAY_REGKEY_DEVICE) {
        path = DeviceKeyPathOf(node);
    } else if (DevInstKeyType & PLUGPLAY_REGKEY_DRIVER) {
        path = DriverKeyPathOf(node);
    } else {
        return STATUS_INVALID_PARAMETER;
    }
    NTSTATUS status = node->kernel->registry->CreateKey(path, false, nullptr);
    if (!NT_SUCCESS(status)) return status;
    *DevInstRegKey = OpenKeyHandle(node->kernel->registry, path);
    return STATUS_SUCCESS;
}

NTSTATUS IoGetDeviceProperty(PDEVICE_OBJECT DeviceObject, DEVICE_REGISTRY_PROPERTY DeviceProperty,
                             ULONG BufferLength, PVOID PropertyBuffer, PULONG ResultLength)
{
    if (DeviceObject == nullptr || ResultLength == nullptr || DeviceObject->PlatformNode == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    ::PlatformDeviceNode* node = DeviceObject->PlatformNode;
    std::string text;
    switch (DeviceProperty) {
    case DevicePropertyDriverKeyName: text = node->driverKeyName; break;
    case DevicePropertyPhysicalDeviceObjectName: text = Narrow(&node->pdo->PlatformName); break;
    case DevicePropertyHardwareID: text = node->instanceId; break;
    case DevicePropertyClassGuid: text = "{4d36e96d-e325-11ce-bfc1-08002be10318}"; break;
    case DevicePropertyClassName: text = "Modem"; break;
    default: return STATUS_INVALID_PARAMETER_2;
    }
    std::u16string w = Widen(text);
    ULONG bytes = static_cast<ULONG>((w.size() + 1) * sizeof(WCHAR));
    *ResultLength = bytes;
    if (BufferLength < bytes || PropertyBuffer == nullptr) return STATUS_BUFFER_TOO_SMALL;
    std::memcpy(PropertyBuffer, w.c_str(), bytes);
    return STATUS_SUCCESS;
}

BOOLEAN IoIsWdmVersionAvailable(UCHAR MajorVersion, UCHAR MinorVersion)
{
    KernelInstance* k = CurrentKernel();
    bool newer = k == nullptr || k->wdm110;
    unsigned version = (static_cast<unsigned>(MajorVersion) << 8) | MinorVersion;
    return version <= (newer ? 0x0130u : 0x0100u) ? TRUE : FALSE;
}

namespace platform {
void FreeDeviceMemory(PDEVICE_OBJECT d)
{
    delete[] d->PlatformName.Buffer;
    d->~DEVICE_OBJECT();
    ::operator delete(static_cast<void*>(d), std::align_val_t(16));
}
}  // namespace platform

static VOID DeviceDpc(PKDPC Dpc, PVOID DeferredContext, PVOID SystemArgument1, PVOID SystemArgument2)
{
    auto* d = static_cast<PDEVICE_OBJECT>(DeferredContext);
    d->PlatformDpcRoutine(Dpc, d, static_cast<PIRP>(SystemArgument1), SystemArgument2);
}

VOID IoInitializeDpcRequest(PDEVICE_OBJECT DeviceObject, PIO_DPC_ROUTINE DpcRoutine)
{
    DeviceObject->PlatformDpcRoutine = DpcRoutine;
    KeInitializeDpc(&DeviceObject->Dpc, DeviceDpc, DeviceObject);
}

VOID IoRequestDpc(PDEVICE_OBJECT DeviceObject, PIRP Irp, PVOID Context)
{
    KeInsertQueueDpc(&DeviceObject->Dpc, Irp, Context);
}
