// Registry reads and writes of the settings, through the kernel's registry calls.
#include "layer2/corecode/cmd/reg_access.h"

#include <cstdio>
#include <cstring>

namespace {

const ULONG kTag = POOL_TAG('W', 'd', 'm', ' ');
const char kClassKey[] = "\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\";
constexpr std::size_t kNameBuffer = 2048;  // bytes of the key name buffer

// ANSI text to a zero-terminated wide text in pool; null when it cannot be allocated.
PWSTR widen(const char* text)
{
    std::size_t n = std::strlen(text);
    PWSTR w = static_cast<PWSTR>(ExAllocatePoolWithTag(PagedPool, (n + 1) * sizeof(WCHAR), kTag));
    if (w == nullptr)
        return nullptr;
    for (std::size_t i = 0; i < n; ++i)
        w[i] = static_cast<WCHAR>(static_cast<unsigned char>(text[i]));
    w[n] = 0;
    return w;
}

}  // namespace

void settings_init(CoreSettings* s, PDEVICE_OBJECT device, const char* registry_path, BOOLEAN service_key_mode)
{
    std::memset(s, 0, sizeof *s);
    s->device = device;
    s->service_key_mode = service_key_mode;
    if (registry_path != nullptr)
        std::snprintf(s->registry_path, sizeof s->registry_path, "%s", registry_path);
}

bool reg_key_path(const CoreSettings* s, RegKeyChoice key, char* path, std::size_t size)
{
    if (key == REG_KEY_DEVICE && s->service_key_mode) {
        PDEVICE_OBJECT dev = s->property_device != nullptr ? s->property_device : s->device;
        if (dev == nullptr)
            return false;
        WCHAR name[256];
        ULONG got = 0;
        if (!NT_SUCCESS(IoGetDeviceProperty(dev, DevicePropertyDriverKeyName, sizeof name, name, &got)))
            return false;
        std::size_t at = std::strlen(kClassKey);
        if (at + 1 > size)
            return false;
        std::memcpy(path, kClassKey, at);
        for (std::size_t i = 0; i < 255 && name[i] != 0; ++i) {
            if (at + 1 >= size)
                return false;
            path[at++] = name[i] < 0x80 ? static_cast<char>(name[i]) : '?';
        }
        path[at] = 0;
        return true;
    }
    int n = std::snprintf(path, size, "%s\\Parameters", s->registry_path);
    return n > 0 && static_cast<std::size_t>(n) < size;
}

int reg_read_value(const CoreSettings* s, RegKeyChoice key, const char* name, ULONG type, void* dest,
                   ULONG* length)
{
    if (s == nullptr || name == nullptr || dest == nullptr || length == nullptr)
        return REG_FAILED;
    char* path = static_cast<char*>(ExAllocatePoolWithTag(PagedPool, kNameBuffer, kTag));
    PWSTR wpath = nullptr;
    PWSTR wname = nullptr;
    PKEY_VALUE_PARTIAL_INFORMATION info = nullptr;
    HANDLE handle = nullptr;
    int result = REG_FAILED;
    do {
        if (path == nullptr || !reg_key_path(s, key, path, kNameBuffer))
            break;
        wpath = widen(path);
        wname = widen(name);
        if (wpath == nullptr || wname == nullptr)
            break;
        UNICODE_STRING upath;
        UNICODE_STRING uname;
        RtlInitUnicodeString(&upath, wpath);
        RtlInitUnicodeString(&uname, wname);
        OBJECT_ATTRIBUTES attrs;
        InitializeObjectAttributes(&attrs, &upath, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
        if (!NT_SUCCESS(ZwOpenKey(&handle, KEY_READ, &attrs))) {
            handle = nullptr;
            break;
        }
        // Room for the caller's length (twice over for text, which the registry keeps as wide characters),
        // the name and the fixed part of the answer.
        ULONG room = *length;
        ULONG data_room = type == REG_SZ ? 2 * room + 2 : room;
        ULONG size = data_room + 2 * uname.Length + 24;
        info = static_cast<PKEY_VALUE_PARTIAL_INFORMATION>(ExAllocatePoolWithTag(PagedPool, size, kTag));
        if (info == nullptr)
            break;
        ULONG got = 0;
        if (!NT_SUCCESS(ZwQueryValueKey(handle, &uname, KeyValuePartialInformation, info, size, &got)))
            break;
        if (info->Type != type) {
            DbgPrint("reg_read_value: %s has type %u, expected %u\n", name, static_cast<unsigned>(info->Type),
                     static_cast<unsigned>(type));
            break;
        }
        if (type == REG_SZ) {
            const unsigned char* raw = info->Data;
            ULONG chars = info->DataLength / 2;
            ULONG n = 0;
            while (n < chars) {
                WCHAR c;
                std::memcpy(&c, raw + 2 * n, sizeof c);
                if (c == 0)
                    break;
                ++n;
            }
            if (n + 1 > room)
                break;
            char* out = static_cast<char*>(dest);
            for (ULONG i = 0; i < n; ++i) {
                WCHAR c;
                std::memcpy(&c, raw + 2 * i, sizeof c);
                out[i] = c < 0x80 ? static_cast<char>(c) : '?';
            }
            out[n] = 0;
            *length = n;
        } else {
            if (info->DataLength > room)
                break;
            std::memcpy(dest, info->Data, info->DataLength);
            *length = info->DataLength;
        }
        result = REG_OK;
    } while (false);
    if (handle != nullptr)
        ZwClose(handle);
    if (info != nullptr)
        ExFreePoolWithTag(info, kTag);
    if (wname != nullptr)
        ExFreePoolWithTag(wname, kTag);
    if (wpath != nullptr)
        ExFreePoolWithTag(wpath, kTag);
    if (path != nullptr)
        ExFreePoolWithTag(path, kTag);
    return result;
}

int reg_write_value(const CoreSettings* s, RegKeyChoice key, const char* name, ULONG type, const void* data,
                    ULONG length)
{
    if (s == nullptr || name == nullptr || (data == nullptr && length != 0))
        return REG_FAILED;
    char* path = static_cast<char*>(ExAllocatePoolWithTag(PagedPool, kNameBuffer, kTag));
    PWSTR wpath = nullptr;
    PWSTR wname = nullptr;
    PWSTR wdata = nullptr;
    int result = REG_FAILED;
    do {
        if (path == nullptr || !reg_key_path(s, key, path, kNameBuffer))
            break;
        wpath = widen(path);
        wname = widen(name);
        if (wpath == nullptr || wname == nullptr)
            break;
        PVOID bytes = const_cast<void*>(data);
        ULONG size = length;
        if (type == REG_SZ) {
            wdata = static_cast<PWSTR>(ExAllocatePoolWithTag(PagedPool, (length + 1) * sizeof(WCHAR), kTag));
            if (wdata == nullptr)
                break;
            const unsigned char* text = static_cast<const unsigned char*>(data);
            for (ULONG i = 0; i < length; ++i)
                wdata[i] = static_cast<WCHAR>(text[i]);
            wdata[length] = 0;
            bytes = wdata;
            size = (length + 1) * sizeof(WCHAR);
        }
        if (!NT_SUCCESS(RtlWriteRegistryValue(RTL_REGISTRY_ABSOLUTE, wpath, wname, type, bytes, size)))
            break;
        result = REG_OK;
    } while (false);
    if (wdata != nullptr)
        ExFreePoolWithTag(wdata, kTag);
    if (wname != nullptr)
        ExFreePoolWithTag(wname, kTag);
    if (wpath != nullptr)
        ExFreePoolWithTag(wpath, kTag);
    if (path != nullptr)
        ExFreePoolWithTag(path, kTag);
    return result;
}
