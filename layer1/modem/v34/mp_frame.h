// The MP sequence of V.34 phase 4: its fields, the packed form the CRC covers and the line form with the
// frame-sync, start and fill bits.
#pragma once

#include <cstdint>

constexpr int kMpType0Bits = 88;
constexpr int kMpType1Bits = 188;
constexpr int kMpMaxWords = (kMpType1Bits + 31) / 32;

struct MpFrame {
    uint8_t type;               // 0 without precoding coefficients, 1 with them
    uint8_t maxCallToAnswer;    // data-rate codes, 4 bits each
    uint8_t maxAnswerToCall;
    uint8_t auxiliary;
    uint8_t trellis;            // 2 bits: 16, 32 or 64 states
    uint8_t nonlinear;
    uint8_t shaping;
    uint8_t acknowledge;
    uint16_t rateMask;          // 15 bits: data rates the sender can receive
    uint8_t asymmetric;
    int16_t coefficients[6];    // type 1: real and imaginary parts of the three precoding coefficients
};

// The fields packed without start or fill bits, 16 zero bits after the last, and the CRC over them.
struct MpPacked {
    uint8_t bytes[18];
    int32_t length;             // 6 (type 0) or 18 (type 1)
    uint16_t crc;
};

// Packs the frame and computes its CRC (reflected 0x8408, initial 0xFFFF, each byte from bit 0).
void BuildMpFrame(const MpFrame* frame, MpPacked* packed);
// Lays the frame out on the line into words (first bit in bit 0 of word 0); returns the bit count (88 or 188).
int32_t WriteMpFrame(const MpFrame* frame, const MpPacked* packed, uint32_t words[kMpMaxWords]);
