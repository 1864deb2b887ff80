// Registry access of the controller's settings: the parameters key (the driver's registry path followed by
// "\Parameters") and the device key (the class key of the device's driver key name when ServiceKeyMode is on,
// else the parameters key).
#pragma once

#include <cstddef>

#include "layer2/corecode/cmd/core_settings.h"

enum RegKeyChoice { REG_KEY_PARAMETERS = 0, REG_KEY_DEVICE = 1 };

constexpr int REG_OK = 0;
constexpr int REG_FAILED = 19;

// Builds the absolute key path (ANSI) into path; false when it does not fit or the device has no driver key.
bool reg_key_path(const CoreSettings* s, RegKeyChoice key, char* path, std::size_t size);

// Reads a value of the given type into dest. *length is the room in dest on entry and the length taken on
// return (for REG_SZ: the characters copied, the text is zero-terminated and needs one more byte). A missing
// value, a value of another type or a value longer than dest gives 19.
int reg_read_value(const CoreSettings* s, RegKeyChoice key, const char* name, ULONG type, void* dest,
                   ULONG* length);
// Writes a value (REG_SZ data is ANSI text of `length` characters); 0 or 19.
int reg_write_value(const CoreSettings* s, RegKeyChoice key, const char* name, ULONG type, const void* data,
                    ULONG length);
