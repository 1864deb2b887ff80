// Bit streams of the V.34 and PCM frames (INFO, MP, Ja, CP): bit position n is bit n mod 32 of 32-bit word
// n / 32 (for the 16-bit reader, bit n mod 16 of 16-bit word n / 16); the first bit on the line is position 0
// and a field's least significant bit comes first. The caller sizes the arrays; nothing is bound-checked.
#pragma once

#include <cstdint>

// Stores the low `width` bits (0-31) of value at `position`, leaving every other bit as it was (a field may
// straddle one word boundary); returns position + width.
uint32_t PutBits(uint32_t* words, uint32_t position, uint32_t width, uint32_t value);
// The field of `width` bits (1-16) at `position`, zero-extended.
uint32_t GetBits16(const uint16_t* words, uint16_t position, uint32_t width);
// The field of `width` bits (1-32) at `position`; a 32-bit field only at a multiple of 32.
uint32_t GetBits32(const uint32_t* words, int32_t position, uint32_t width);
