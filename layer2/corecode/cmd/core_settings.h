// The settings of one modem: the non-volatile image, the country data, the identification strings and the
// registry binding they are persisted through. One record per device (held by the modem core).
#pragma once

#include <cstdint>

#include "layer2/corecode/cmd/country_block.h"
#include "layer2/corecode/cmd/country_builtin.h"
#include "layer2/corecode/cmd/nvram_image.h"
#include "platform/kernel.h"

constexpr unsigned QC_DATA_SIZE = 4000;

struct CoreSettings {
    // Registry binding (filled by the driver frame before the modem core starts).
    PDEVICE_OBJECT device;       // null: no device, the settings cannot be loaded or stored
    PDEVICE_OBJECT property_device;  // device asked for DevicePropertyDriverKeyName (the PDO); null = device
    BOOLEAN service_key_mode;
    char registry_path[512];     // the driver's registry path

    NvramImage nv;
    ULONG nv_store_count;        // "EEProm" writes done

    CountryList list;            // current country list (registry or built-in)
    CountryListEntry current;    // current country: dialling code, T.35 code, block index, ISO code
    CountryBlock block;          // working copy of the current country block
    USHORT hook_flash_method;

    char mfg[65];
    char device_desc[65];
    char hardware_id[257];
    UCHAR gpio_lpohd;
    UCHAR v92rptopt;
};

// Clears the record and binds it to a device and a registry path.
void settings_init(CoreSettings* s, PDEVICE_OBJECT device, const char* registry_path, BOOLEAN service_key_mode);
