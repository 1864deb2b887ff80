// Registry services for drivers: key handles, value queries and writes, path-relative helpers.
#include "platform/internal.h"
#include "platform/registry_store.h"

using namespace platform;

namespace platform {

namespace {

struct KeyObject {
    RegistryStore* store;
    std::string path;
};

RegistryStore* CurrentStore()
{
    KernelInstance* k = CurrentKernel();
    return k != nullptr ? k->registry : nullptr;
}

KeyObject* KeyOf(HANDLE h) { return static_cast<KeyObject*>(HandleObject(h, HandleKind::Key)); }

std::string ValueNameOf(PUNICODE_STRING name) { return name == nullptr ? std::string() : Narrow(name); }

// Builds the absolute path named by object attributes (relative to RootDirectory when set).
NTSTATUS PathOf(POBJECT_ATTRIBUTES oa, RegistryStore** store, std::string* path)
{
    if (oa == nullptr || oa->ObjectName == nullptr) return STATUS_INVALID_PARAMETER;
    std::string name = Narrow(oa->ObjectName);
    if (oa->RootDirectory != nullptr) {
        KeyObject* root = KeyOf(oa->RootDirectory);
        if (root == nullptr) return STATUS_INVALID_HANDLE;
        *store = root->store;
        *path = root->path + "\\" + name;
    } else {
        *store = CurrentStore();
        if (*store == nullptr) return STATUS_OBJECT_PATH_NOT_FOUND;
        *path = name;
    }
    *path = RegistryStore::Normalize(*path);
    return STATUS_SUCCESS;
}

HANDLE NewKeyHandle(RegistryStore* store, const std::string& path)
{
    return NewHandle(HandleKind::Key, new KeyObject{store, path});
}

NTSTATUS FillValueInformation(const RegistryStore::Value& v, KEY_VALUE_INFORMATION_CLASS cls, PVOID buffer,
                              ULONG length, PULONG resultLength)
{
    std::u16string wname = Widen(v.name);
    ULONG nameBytes = static_cast<ULONG>(wname.size() * sizeof(WCHAR));
    ULONG dataBytes = static_cast<ULONG>(v.data.size());
    ULONG fixed, need;
    switch (cls) {
    case KeyValuePartialInformation:
        fixed = offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data);
        need = fixed + dataBytes;
        break;
    case KeyValueBasicInformation:
        fixed = offsetof(KEY_VALUE_BASIC_INFORMATION, Name);
        need = fixed + nameBytes;
        break;
    case KeyValueFullInformation:
        fixed = offsetof(KEY_VALUE_FULL_INFORMATION, Name);
        need = ((fixed + nameBytes + 7) & ~7u) + dataBytes;
        break;
    default: return STATUS_INVALID_INFO_CLASS;
    }
    if (resultLength != nullptr) *resultLength = need;
    if (length < fixed) return STATUS_BUFFER_TOO_SMALL;
    if (buffer == nullptr) return STATUS_INVALID_PARAMETER;
    auto* out = static_cast<UCHAR*>(buffer);
    bool complete = length >= need;
    switch (cls) {
    case KeyValuePartialInformation: {
        auto* p = static_cast<PKEY_VALUE_PARTIAL_INFORMATION>(buffer);
        p->TitleIndex = 0;
        p->Type = v.type;
        p->DataLength = dataBytes;
        if (complete && dataBytes) std::memcpy(out + fixed, v.data.data(), dataBytes);
        break;
    }
    case KeyValueBasicInformation: {
        auto* p = static_cast<PKEY_VALUE_BASIC_INFORMATION>(buffer);
        p->TitleIndex = 0;
        p->Type = v.type;
        p->NameLength = nameBytes;
        if (complete && nameBytes) std::memcpy(out + fixed, wname.data(), nameBytes);
        break;
    }
    default: {
        auto* p = static_cast<PKEY_VALUE_FULL_INFORMATION>(buffer);
        p->TitleIndex = 0;
        p->Type = v.type;
        p->DataOffset = (fixed + nameBytes + 7) & ~7u;
        p->DataLength = dataBytes;
        p->NameLength = nameBytes;
        if (complete) {
            if (nameBytes) std::memcpy(out + fixed, wname.data(), nameBytes);
            if (dataBytes) std::memcpy(out + p->DataOffset, v.data.data(), dataBytes);
        }
        break;
    }
    }
    return complete ? STATUS_SUCCESS : STATUS_BUFFER_OVERFLOW;
}

// Absolute path for the Rtl*Registry* helpers.
NTSTATUS RelativePath(ULONG relativeTo, PCWSTR path, RegistryStore** store, std::string* out)
{
    std::string p;
    if (path != nullptr) {
        size_t n = 0;
        while (path[n] != 0) n++;
        p = Narrow(path, n);
    }
    if (relativeTo & RTL_REGISTRY_HANDLE) {
        KeyObject* k = KeyOf(const_cast<PWSTR>(path));
        if (k == nullptr) return STATUS_INVALID_HANDLE;
        *store = k->store;
        *out = k->path;
        return STATUS_SUCCESS;
    }
    *store = CurrentStore();
    if (*store == nullptr) return STATUS_OBJECT_PATH_NOT_FOUND;
    switch (relativeTo & 0xFFFF) {
    case RTL_REGISTRY_ABSOLUTE: *out = p; break;
    case RTL_REGISTRY_SERVICES: *out = "\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Services\\" + p; break;
    case RTL_REGISTRY_CONTROL: *out = "\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Control\\" + p; break;
    case RTL_REGISTRY_DEVICEMAP: *out = "\\REGISTRY\\MACHINE\\HARDWARE\\DEVICEMAP\\" + p; break;
    default: return STATUS_INVALID_PARAMETER;
    }
    *out = RegistryStore::Normalize(*out);
    return STATUS_SUCCESS;
}

}  // namespace

void CloseKeyObject(void* key) { delete static_cast<KeyObject*>(key); }

HANDLE OpenKeyHandle(RegistryStore* store, const std::string& path) { return NewKeyHandle(store, path); }

}  // namespace platform

NTSTATUS ZwOpenKey(PHANDLE KeyHandle, ACCESS_MASK, POBJECT_ATTRIBUTES ObjectAttributes)
{
    if (KeyHandle == nullptr) return STATUS_INVALID_PARAMETER;
    RegistryStore* store;
    std::string path;
    NTSTATUS status = PathOf(ObjectAttributes, &store, &path);
    if (!NT_SUCCESS(status)) return status;
    if (!store->KeyExists(path)) return STATUS_OBJECT_NAME_NOT_FOUND;
    *KeyHandle = NewKeyHandle(store, path);
    return STATUS_SUCCESS;
}

NTSTATUS ZwCreateKey(PHANDLE KeyHandle, ACCESS_MASK, POBJECT_ATTRIBUTES ObjectAttributes, ULONG, PUNICODE_STRING,
                     ULONG CreateOptions, PULONG Disposition)
{
    if (KeyHandle == nullptr) return STATUS_INVALID_PARAMETER;
    RegistryStore* store;
    std::string path;
    NTSTATUS status = PathOf(ObjectAttributes, &store, &path);
    if (!NT_SUCCESS(status)) return status;
    bool created = false;
    status = store->CreateKey(path, (CreateOptions & REG_OPTION_VOLATILE) != 0, &created);
    if (!NT_SUCCESS(status)) return status;
    if (Disposition != nullptr) *Disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *KeyHandle = NewKeyHandle(store, path);
    return STATUS_SUCCESS;
}

NTSTATUS ZwQueryValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName,
                         KEY_VALUE_INFORMATION_CLASS KeyValueInformationClass, PVOID KeyValueInformation,
                         ULONG Length, PULONG ResultLength)
{
    KeyObject* k = KeyOf(KeyHandle);
    if (k == nullptr) return STATUS_INVALID_HANDLE;
    RegistryStore::Value v;
    NTSTATUS status = k->store->QueryValue(k->path, ValueNameOf(ValueName), &v);
    if (!NT_SUCCESS(status)) return status;
    return FillValueInformation(v, KeyValueInformationClass, KeyValueInformation, Length, ResultLength);
}

NTSTATUS ZwSetValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName, ULONG, ULONG Type, PVOID Data, ULONG DataSize)
{
    KeyObject* k = KeyOf(KeyHandle);
    if (k == nullptr) return STATUS_INVALID_HANDLE;
    if (Data == nullptr && DataSize != 0) return STATUS_INVALID_PARAMETER;
    return k->store->SetValue(k->path, ValueNameOf(ValueName), Type, Data, DataSize);
}

NTSTATUS ZwDeleteValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName)
{
    KeyObject* k = KeyOf(KeyHandle);
    if (k == nullptr) return STATUS_INVALID_HANDLE;
    return k->store->DeleteValue(k->path, ValueNameOf(ValueName));
}

NTSTATUS ZwEnumerateValueKey(HANDLE KeyHandle, ULONG Index, KEY_VALUE_INFORMATION_CLASS KeyValueInformationClass,
                             PVOID KeyValueInformation, ULONG Length, PULONG ResultLength)
{
    KeyObject* k = KeyOf(KeyHandle);
    if (k == nullptr) return STATUS_INVALID_HANDLE;
    RegistryStore::Value v;
    NTSTATUS status = k->store->EnumerateValue(k->path, Index, &v);
    if (!NT_SUCCESS(status)) return status;
    return FillValueInformation(v, KeyValueInformationClass, KeyValueInformation, Length, ResultLength);
}

NTSTATUS ZwDeleteKey(HANDLE KeyHandle)
{
    KeyObject* k = KeyOf(KeyHandle);
    if (k == nullptr) return STATUS_INVALID_HANDLE;
    return k->store->DeleteKey(k->path);
}

NTSTATUS ZwFlushKey(HANDLE KeyHandle) { return KeyOf(KeyHandle) == nullptr ? STATUS_INVALID_HANDLE : STATUS_SUCCESS; }

NTSTATUS RtlWriteRegistryValue(ULONG RelativeTo, PCWSTR Path, PCWSTR ValueName, ULONG ValueType, PVOID ValueData,
                               ULONG ValueLength)
{
    RegistryStore* store;
    std::string path;
    NTSTATUS status = RelativePath(RelativeTo, Path, &store, &path);
    if (!NT_SUCCESS(status)) return status;
    std::string name;
    if (ValueName != nullptr) {
        size_t n = 0;
        while (ValueName[n] != 0) n++;
        name = Narrow(ValueName, n);
    }
    if (ValueData == nullptr && ValueLength != 0) return STATUS_INVALID_PARAMETER;
    return store->SetValue(path, name, ValueType, ValueData, ValueLength);
}

NTSTATUS RtlDeleteRegistryValue(ULONG RelativeTo, PCWSTR Path, PCWSTR ValueName)
{
    RegistryStore* store;
    std::string path;
    NTSTATUS status = RelativePath(RelativeTo, Path, &store, &path);
    if (!NT_SUCCESS(status)) return status;
    std::string name;
    if (ValueName != nullptr) {
        size_t n = 0;
        while (ValueName[n] != 0) n++;
        name = Narrow(ValueName, n);
    }
    return store->DeleteValue(path, name);
}

NTSTATUS RtlCheckRegistryKey(ULONG RelativeTo, PWSTR Path)
{
    RegistryStore* store;
    std::string path;
    NTSTATUS status = RelativePath(RelativeTo, Path, &store, &path);
    if (!NT_SUCCESS(status)) return status;
    return store->KeyExists(path) ? STATUS_SUCCESS : STATUS_OBJECT_NAME_NOT_FOUND;
}

NTSTATUS RtlCreateRegistryKey(ULONG RelativeTo, PWSTR Path)
{
    RegistryStore* store;
    std::string path;
    NTSTATUS status = RelativePath(RelativeTo, Path, &store, &path);
    if (!NT_SUCCESS(status)) return status;
    return store->CreateKey(path, false, nullptr);
}
