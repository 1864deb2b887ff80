// The smaller registry settings: quick-connect data, hook-flash method, identification strings.
#include <cstdio>
#include <cstring>

#include "layer2/corecode/cmd/country.h"
#include "layer2/corecode/cmd/reg_access.h"

const char kDefaultDeviceDesc[] = "Morva(R) Qiv Data Fax Voice V.90 Modem";
const char kDefaultMfg[] = "Morva Systems";
const char kDefaultHardwareId[] = "PCI\\VEN_1FA7&DEV_0440&SUBSYS_04401FA7";

int qc_data_load(CoreSettings* s, uint8_t* buffer, ULONG length, ULONG* taken)
{
    ULONG got = length;
    int r = reg_read_value(s, REG_KEY_DEVICE, "qcData", REG_BINARY, buffer, &got);
    if (taken != nullptr)
        *taken = r == REG_OK ? got : 0;
    return r;
}

int qc_data_store(CoreSettings* s, const uint8_t* data, ULONG length)
{
    return reg_write_value(s, REG_KEY_DEVICE, "qcData", REG_BINARY, data, length);
}

void hook_flash_load(CoreSettings* s)
{
    uint8_t value[3] = {};
    ULONG length = sizeof value;
    s->hook_flash_method = 0;
    if (reg_read_value(s, REG_KEY_DEVICE, "HookFlashMethod", REG_BINARY, value, &length) != REG_OK)
        return;
    USHORT method = static_cast<USHORT>(value[0] | (value[1] << 8));
    if (length != 2 || method > 2) {
        DbgPrint("hook_flash_load: HookFlashMethod (%u bytes, %u) invalid; method 0 used\n",
                 static_cast<unsigned>(length), static_cast<unsigned>(method));
        return;
    }
    s->hook_flash_method = method;
}

int hook_flash_store(CoreSettings* s, USHORT method)
{
    uint8_t value[2] = {static_cast<uint8_t>(method), static_cast<uint8_t>(method >> 8)};
    int r = reg_write_value(s, REG_KEY_DEVICE, "HookFlashMethod", REG_BINARY, value, sizeof value);
    if (r == REG_OK)
        s->hook_flash_method = method;
    return r;
}

namespace {

void load_text(CoreSettings* s, const char* name, char* dest, ULONG size, const char* fallback)
{
    ULONG length = size;
    if (reg_read_value(s, REG_KEY_PARAMETERS, name, REG_SZ, dest, &length) != REG_OK)
        std::snprintf(dest, size, "%s", fallback);
}

UCHAR load_byte(CoreSettings* s, const char* name, UCHAR fallback)
{
    UCHAR value[2] = {};
    ULONG length = sizeof value;
    if (reg_read_value(s, REG_KEY_PARAMETERS, name, REG_BINARY, value, &length) != REG_OK)
        return fallback;
    if (length != 1) {
        DbgPrint("ident_strings_load: %s has %u bytes, expected 1; default used\n", name,
                 static_cast<unsigned>(length));
        return fallback;
    }
    return value[0];
}

}  // namespace

void ident_strings_load(CoreSettings* s)
{
    load_text(s, "Mfg", s->mfg, sizeof s->mfg, kDefaultMfg);
    load_text(s, "DeviceDesc", s->device_desc, sizeof s->device_desc, kDefaultDeviceDesc);
    load_text(s, "HardwareID", s->hardware_id, sizeof s->hardware_id, kDefaultHardwareId);
    s->gpio_lpohd = load_byte(s, "gpio_lpohd", 1);
    s->v92rptopt = load_byte(s, "v92rptopt", 0);
}
