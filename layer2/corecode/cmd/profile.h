// Stored profiles: the 71 settings a profile keeps (byte n = setting n; the factory set adds ten more), their
// places in the non-volatile image, and the loads and stores of "&F", "Z", "&W", power-up and the
// non-volatile reset. Also the transmit level look-up over the country block and the level registers.
#pragma once

#include <cstdint>

#include "layer2/corecode/cmd/at_context.h"

constexpr unsigned PROFILE_SIZE = 71;

struct StoredProfile {
    uint8_t bytes[PROFILE_SIZE];
};
static_assert(sizeof(StoredProfile) == PROFILE_SIZE);

// Setting n (0-80) of the active settings; 0 for n above 80.
uint8_t profile_setting(const AcuContext* acu, unsigned n);
void profile_set_setting(AcuContext* acu, unsigned n, uint8_t value);

// Image offset of stored profile n: 212 for 1, 283 for 2 (past the end, always refused), 141 otherwise.
unsigned profile_offset(unsigned n);

// Factory values (&F passes keep_dte_format = true; start-up and the non-volatile reset pass false, which also
// makes profile 0 the power-up profile).
void at_load_factory(AcuContext* acu, bool keep_dte_format);
// Loads stored profile n; a failed read sets the command-error flag and changes nothing.
void at_load_profile(AcuContext* acu, unsigned n, bool keep_dte_format);
// Stores the active settings as profile n (0 or 1); a failed write sets the command-error flag.
void at_store_profile(AcuContext* acu, unsigned n);
// Rewrites the whole image from the factory values (used when its signature or checksum is wrong).
void at_nvram_reset(AcuContext* acu);
// Start-up: checks the image (resetting it when needed) and loads the power-up profile.
void at_power_up_profile(AcuContext* acu);

// Factory values of the settings in memory only (no image write): the record's starting point.
void profile_factory_values(AcuContext* acu);

// Transmit level of `kind` from the current country block and the level registers (0 without a country).
uint8_t at_line_level(const AcuContext* acu, unsigned kind, bool alternate);
