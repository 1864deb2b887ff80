// `NvramImage`: the 283-byte non-volatile settings image, kept in memory and persisted as "EEProm".
//
//   0     checksum: bitwise NOT of the 8-bit sum of bytes 1-282
//   1-4   signature "R4T" and a zero byte
//   5     power-up profile number (0 or 1)
//   6, 37, 68, 99   stored telephone numbers 0-3, 31 bytes each, zero-terminated
//   130-131  DSP timing offset bytes
//   132   line byte A (+PMHT)   133 line byte B (+PMH)   134 line byte C (+PCW)
//   135-137  S81-S83 (transmit parameters 1-3)   138-140 S91-S93 (transmit levels 1-3)
//   141   stored profile 0 (71 bytes)   212 stored profile 1 (71 bytes)
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t NV_SIZE = 283;
constexpr std::size_t NV_CHECKSUM = 0;
constexpr std::size_t NV_SIGNATURE = 1;
constexpr std::size_t NV_POWER_UP_PROFILE = 5;
constexpr std::size_t NV_NUMBER0 = 6;
constexpr std::size_t NV_NUMBER_SIZE = 31;
constexpr std::size_t NV_TIMING_OFFSET = 130;
constexpr std::size_t NV_LINE_A = 132;
constexpr std::size_t NV_LINE_B = 133;
constexpr std::size_t NV_LINE_C = 134;
constexpr std::size_t NV_TX_PARAMS = 135;
constexpr std::size_t NV_TX_LEVELS = 138;
constexpr std::size_t NV_PROFILE0 = 141;
constexpr std::size_t NV_PROFILE1 = 212;
constexpr std::size_t NV_PROFILE_SIZE = 71;

inline constexpr uint8_t NV_SIGNATURE_BYTES[4] = {'R', '4', 'T', 0};

struct NvramImage {
    uint8_t bytes[NV_SIZE];
};
static_assert(sizeof(NvramImage) == NV_SIZE);

// Offset of stored telephone number n (0-3).
constexpr std::size_t nv_number_offset(unsigned n) { return NV_NUMBER0 + n * NV_NUMBER_SIZE; }
