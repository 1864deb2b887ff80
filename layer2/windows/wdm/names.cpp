// DOS name, SERIALCOMM entry and device interface of the port.
#include <cstring>

#include "layer2/windows/wdm/names.h"

namespace {

ULONG wide_length(const WCHAR* s)
{
    ULONG n = 0;
    while (s[n] != 0)
        n++;
    return n;
}

// The interface name as terminated text in the caller's buffer; false when it does not fit.
bool interface_text(const ModemDeviceExtension* ext, WCHAR* out, ULONG out_chars)
{
    ULONG chars = ext->interface_name.Length / sizeof(WCHAR);
    if (ext->interface_name.Buffer == nullptr || chars + 1 > out_chars)
        return false;
    std::memcpy(out, ext->interface_name.Buffer, chars * sizeof(WCHAR));
    out[chars] = 0;
    return true;
}

}  // namespace

NTSTATUS ModemLinkDosName(ModemDeviceExtension* ext, const WCHAR* port_name, WCHAR* scratch, ULONG scratch_chars)
{
    static const WCHAR kPrefix[] = u"\\DosDevices\\";
    const ULONG prefix_chars = sizeof(kPrefix) / sizeof(WCHAR) - 1;
    const ULONG name_chars = wide_length(port_name);
    const ULONG capacity = sizeof(ext->dos_name_buffer) / sizeof(WCHAR);
    if (prefix_chars + name_chars + 1 > capacity)
        return STATUS_BUFFER_TOO_SMALL;
    std::memcpy(ext->dos_name_buffer, kPrefix, prefix_chars * sizeof(WCHAR));
    std::memcpy(ext->dos_name_buffer + prefix_chars, port_name, name_chars * sizeof(WCHAR));
    ext->dos_name_buffer[prefix_chars + name_chars] = 0;
    UNICODE_STRING link;
    link.Buffer = ext->dos_name_buffer;
    link.Length = static_cast<USHORT>((prefix_chars + name_chars) * sizeof(WCHAR));
    link.MaximumLength = static_cast<USHORT>(capacity * sizeof(WCHAR));
    NTSTATUS status = IoCreateSymbolicLink(&link, &ext->interface_name);
    if (!NT_SUCCESS(status))
        return status;
    ext->dos_name = link;
    if (!interface_text(ext, scratch, scratch_chars))
        return STATUS_BUFFER_TOO_SMALL;
    return RtlWriteRegistryValue(RTL_REGISTRY_DEVICEMAP, u"SERIALCOMM", scratch, REG_SZ,
                                 const_cast<WCHAR*>(port_name), (name_chars + 1) * sizeof(WCHAR));
}

void ModemUnlinkNames(ModemDeviceExtension* ext)
{
    if (ext->dos_name.Buffer != nullptr) {
        IoDeleteSymbolicLink(&ext->dos_name);
        std::memset(&ext->dos_name, 0, sizeof ext->dos_name);
        WCHAR value[300];
        if (interface_text(ext, value, 300))
            RtlDeleteRegistryValue(RTL_REGISTRY_DEVICEMAP, u"SERIALCOMM", value);
    }
    if (ext->interface_name.Buffer != nullptr) {
        IoSetDeviceInterfaceState(&ext->interface_name, FALSE);
        RtlFreeUnicodeString(&ext->interface_name);
        std::memset(&ext->interface_name, 0, sizeof ext->interface_name);
    }
}
