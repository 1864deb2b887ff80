// Bounded access to the non-volatile settings image and its persistence as "EEProm".
#pragma once

#include <cstddef>
#include <cstdint>

#include "layer2/corecode/cmd/core_settings.h"

// 0 written (or unchanged), 1 refused (the range passes byte 283). A changed image is stored at once.
int nv_write(CoreSettings* s, std::size_t position, std::size_t length, const void* data);
// 0 read, 1 refused.
int nv_read(const CoreSettings* s, std::size_t position, std::size_t length, void* dest);
// NOT of the 8-bit sum of bytes 1-282.
uint8_t nv_checksum(const CoreSettings* s);

constexpr int NV_OK = 0;
constexpr int NV_NO_DEVICE = 5;
constexpr int NV_UNREADABLE = 6;
constexpr int NV_WRITE_FAILED = 7;

// Loads "EEProm": 0 loaded, 5 no device, 6 missing or not exactly 283 bytes (the image keeps its content).
int nv_load(CoreSettings* s);
// Stores the image as "EEProm": 0, 5 no device, 7 write failed.
int nv_store(CoreSettings* s);

// True when bytes 1-4 hold the signature and byte 0 the checksum.
bool nv_image_valid(const CoreSettings* s);

// Factory initialisation: profile 0 and 1 from the given 71-byte profiles, power-up profile 0, empty
// telephone numbers, bytes 132-140 (line bytes A and C from the caller, B = 0, 120, 90, 9, 10, 10, 10), the
// signature and the checksum. Bytes 130-131 are left as they are. Every step goes through nv_write.
void nv_factory_init(CoreSettings* s, const uint8_t profile0[71], const uint8_t profile1[71], uint8_t line_a,
                     uint8_t line_c);
