// Self-synchronising scramblers over 23 bits of history.
#include "layer1/modem/v34/v34_scrambler.h"

namespace {

constexpr uint32_t kHistoryMask = 0x00FFFFFFu;  // the top byte is cleared after every call

// The register bit that holds the bit 18 (flag 1) or 5 (flag 0) places back.
uint32_t TapShift(int32_t polynomial) { return polynomial != 0 ? 17u : 4u; }

uint32_t Scramble(int32_t count, int32_t polynomial, uint32_t bits, uint32_t* reg)
{
    const uint32_t tap = TapShift(polynomial);
    uint32_t r = *reg;
    uint32_t out = 0;
    for (int32_t i = 0; i < count; ++i) {
        const uint32_t bit = ((bits >> i) ^ (r >> tap) ^ (r >> 22)) & 1u;
        r = (r << 1) | bit;
        out |= bit << i;
    }
    *reg = r & kHistoryMask;
    return out;
}

}  // namespace

uint32_t ScrambleBits(int32_t count, int32_t polynomial, uint32_t bits, uint32_t* reg)
{
    return Scramble(count < 0 ? 0 : (count > 8 ? 8 : count), polynomial, bits, reg);
}

uint32_t ScrambleWord(int32_t count, int32_t polynomial, uint32_t bits, uint32_t* reg)
{
    return Scramble(count < 0 ? 0 : (count > 32 ? 32 : count), polynomial, bits, reg);
}

uint32_t DescrambleBits(int32_t count, int32_t polynomial, uint32_t bits, uint32_t* reg)
{
    if (count < 0)
        count = 0;
    if (count > 8)
        count = 8;
    const uint32_t tap = TapShift(polynomial);
    uint32_t r = *reg;
    uint32_t out = 0;
    for (int32_t i = 0; i < count; ++i) {
        const uint32_t in = (bits >> i) & 1u;
        const uint32_t bit = (in ^ (r >> tap) ^ (r >> 22)) & 1u;
        r = (r << 1) | in;
        out |= bit << (8 - count + i);
    }
    *reg = r & kHistoryMask;
    return out;
}

void DescrambleByteBlock(int32_t polynomial, uint8_t* bytes, int32_t n, uint32_t* reg)
{
    // With the byte in bits 24-31, the bit 23 places back stands 23 bits lower and the one 18 (or 5) places
    // back 18 (or 5) bits lower.
    const uint32_t near = polynomial != 0 ? 6u : 19u;
    uint32_t r = *reg;
    for (int32_t i = 0; i < n; ++i) {
        r = (r >> 8) | (static_cast<uint32_t>(bytes[i]) << 24);
        bytes[i] = static_cast<uint8_t>(bytes[i] ^ (r >> 1) ^ (r >> near));
    }
    *reg = r;
}
