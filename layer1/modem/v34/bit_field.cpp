#include "layer1/modem/v34/bit_field.h"

uint32_t PutBits(uint32_t* words, uint32_t position, uint32_t width, uint32_t value)
{
    if (width == 0)
        return position;
    const uint32_t i = position / 32;
    const uint32_t s = position % 32;
    const uint32_t m = (1u << width) - 1u;
    words[i] = ((value << s) & (m << s)) | (words[i] & ~(m << s));
    if (s + width > 32) {
        // The high bits of the field go to the bottom of the next word.
        const uint32_t high = m >> (32 - s);
        words[i + 1] = ((value >> (32 - s)) & high) | (words[i + 1] & ~high);
    }
    return position + width;
}

uint32_t GetBits16(const uint16_t* words, uint16_t position, uint32_t width)
{
    const uint32_t i = position / 16u;
    const uint32_t s = position % 16u;
    uint32_t v = words[i];
    if (s + width > 16)
        v |= static_cast<uint32_t>(words[i + 1]) << 16;
    const uint32_t m = (1u << width) - 1u;
    return (v & (m << s)) >> s;
}

uint32_t GetBits32(const uint32_t* words, int32_t position, uint32_t width)
{
    const uint32_t p = static_cast<uint32_t>(position);
    const uint32_t i = p / 32;
    const uint32_t s = p % 32;
    uint64_t v = words[i] >> s;
    if (s + width % 32 > 32)
        v |= static_cast<uint64_t>(words[i + 1]) << (32 - s);
    const uint32_t m = width >= 32 ? 0xFFFFFFFFu : (1u << width) - 1u;
    return static_cast<uint32_t>(v) & m;
}
