// The V.34 scramblers and descramblers. Polynomial flag 1 is the calling modem's 1 + x^-18 + x^-23, flag 0
// the answering modem's 1 + x^-5 + x^-23. A transmitter scrambles with its own modem's polynomial (1 in the
// calling modem); a receiver descrambles with the far end's (its role bit: 1 in the answering modem).
#pragma once

#include <cstdint>

// Bit forms: a 23-bit history in a 32-bit register whose top byte is cleared after every call; bits go in and
// come out from the least significant.
// Scrambles count (1-8) bits; the outputs in the low count bits.
uint32_t ScrambleBits(int32_t count, int32_t polynomial, uint32_t bits, uint32_t* reg);
// The same for up to 32 bits.
uint32_t ScrambleWord(int32_t count, int32_t polynomial, uint32_t bits, uint32_t* reg);
// Descrambles count (1-8) received bits; the outputs in the top count bits of the returned byte.
uint32_t DescrambleBits(int32_t count, int32_t polynomial, uint32_t bits, uint32_t* reg);

// Byte form of the descrambler: per byte the register shifts right by 8 and the received byte enters bits
// 24-31. Descrambles n bytes in place; the register carries over.
void DescrambleByteBlock(int32_t polynomial, uint8_t* bytes, int32_t n, uint32_t* reg);
