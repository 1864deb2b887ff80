// Country selection and the other settings kept beside the image: the country list, the selected country,
// per-country block overrides ("KVZ" + block index), quick-connect data, the hook-flash method and the
// identification strings.
#pragma once

#include <cstdint>

#include "layer2/corecode/cmd/core_settings.h"

// Reads "CountryLst"; takes it when it has 964 bytes, version 1 and 1 <= count <= 120, else the built-in list.
void country_list_load(CoreSettings* s);
// Selects the country named by "CurrentCountry" (the default entry, entry 0, when it is missing or matches
// nothing; a missing value is written) and loads its block.
void country_select(CoreSettings* s);
// Loads the current country's block: the "KVZ" override of its index when it has 1649 bytes and format word
// 3, else the built-in block of that index (index 15 or above: block 0).
void country_load_block(CoreSettings* s);
// Makes list entry `index` the current country, stores "CurrentCountry" and loads its block; false when the
// list has no such entry.
bool country_choose(CoreSettings* s, unsigned index);
// Index of the first list entry with this T.35 code, or -1.
int country_find_t35(const CoreSettings* s, uint8_t t35);

int country_block_store(CoreSettings* s, const char* name, const CountryBlock* block);
int country_current_store(CoreSettings* s);

// Quick-connect data ("qcData"): load at most `length` bytes into buffer (0, or 19 when missing or longer);
// *taken gets the bytes read.
int qc_data_load(CoreSettings* s, uint8_t* buffer, ULONG length, ULONG* taken);
int qc_data_store(CoreSettings* s, const uint8_t* data, ULONG length);

// Hook-flash method word ("HookFlashMethod", 0-2; anything else gives 0).
void hook_flash_load(CoreSettings* s);
int hook_flash_store(CoreSettings* s, USHORT method);

// "Mfg", "DeviceDesc", "HardwareID", "gpio_lpohd", "v92rptopt" with their defaults.
void ident_strings_load(CoreSettings* s);

extern const char kDefaultDeviceDesc[];
extern const char kDefaultMfg[];
extern const char kDefaultHardwareId[];
