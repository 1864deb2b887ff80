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

// Bit k of v moved to bit 23 - k, for the 24 bits of the register, a byte at a time from a table.
struct ByteReversal {
    uint8_t v[256];
    constexpr ByteReversal() : v()
    {
        for (uint32_t b = 0; b < 256; ++b) {
            uint32_t r = 0;
            for (uint32_t k = 0; k < 8; ++k)
                r |= ((b >> k) & 1u) << (7 - k);
            v[b] = static_cast<uint8_t>(r);
        }
    }
};
constexpr ByteReversal kReversed;

uint32_t Reverse24(uint32_t v)
{
    return (static_cast<uint32_t>(kReversed.v[v & 0xFFu]) << 16) | (static_cast<uint32_t>(kReversed.v[(v >> 8) & 0xFFu]) << 8) |
           kReversed.v[(v >> 16) & 0xFFu];
}

// The same stream several bits at a time. h holds the outputs in time order with the newest at bit 63, so
// the outputs a and 23 places before the next n bits are h >> (64 - a) and h >> 41, bit for bit in input
// order, while n is at most a (no bit of a piece depends on another of the same piece).
uint32_t ScrambleWide(int32_t count, int32_t polynomial, uint32_t bits, uint32_t* reg)
{
    const int32_t a = polynomial != 0 ? 18 : 5;
    uint64_t h = static_cast<uint64_t>(Reverse24(*reg & kHistoryMask)) << 40;
    uint32_t out = 0;
    for (int32_t done = 0; done < count;) {
        const int32_t n = count - done < a ? count - done : a;
        const uint64_t mask = (uint64_t{1} << n) - 1u;
        const uint64_t piece = ((bits >> done) ^ (h >> (64 - a)) ^ (h >> 41)) & mask;
        out |= static_cast<uint32_t>(piece) << done;
        h = (h >> n) | (piece << (64 - n));
        done += n;
    }
    *reg = Reverse24(static_cast<uint32_t>(h >> 40));
    return out;
}

}  // namespace

uint32_t ScrambleBits(int32_t count, int32_t polynomial, uint32_t bits, uint32_t* reg)
{
    return Scramble(count < 0 ? 0 : (count > 8 ? 8 : count), polynomial, bits, reg);
}

uint32_t ScrambleWord(int32_t count, int32_t polynomial, uint32_t bits, uint32_t* reg)
{
    return ScrambleWide(count < 0 ? 0 : (count > 32 ? 32 : count), polynomial, bits, reg);
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
