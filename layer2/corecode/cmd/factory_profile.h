// The factory settings of a stored profile (71 bytes, byte n = setting n), as written by the factory
// initialisation of the non-volatile image.
#pragma once

#include <cstdint>

extern const uint8_t kFactoryProfile[71];
