// The factory settings: 81 bytes, byte n = setting n. The first 71 form a stored profile (StoredProfile);
// the last ten are factory-only (S1, S3, S4, S5, pulse make and break ratio, dial option, current S-register
// number, S19, S20).
#pragma once

#include <cstdint>

constexpr unsigned FACTORY_SETTINGS_SIZE = 81;

extern const uint8_t kFactorySettings[FACTORY_SETTINGS_SIZE];
// The stored-profile part of the factory settings (71 bytes).
inline constexpr const uint8_t* kFactoryProfile = kFactorySettings;
