// The framer's tables: bit masks, the nibble tables of the reflected CRC-16 (polynomial 0x8408) and the
// run lengths of one bits in 5-bit groups.
#include "layer1/dsp/framer.h"

namespace {

// CRC of one value shifted through `steps` bit steps of the reflected polynomial.
uint16_t CrcSteps(uint32_t value, int steps)
{
    uint32_t crc = value;
    for (int i = 0; i < steps; ++i)
        crc = (crc & 1u) != 0 ? (crc >> 1) ^ 0x8408u : crc >> 1;
    return static_cast<uint16_t>(crc);
}

}  // namespace

void BuildFramerTables(FramerTables* t)
{
    for (int k = 0; k < 32; ++k)
        t->mask[k] = (1u << k) - 1u;
    t->mask[32] = 0xFFFFFFFFu;
    for (uint32_t k = 0; k < 16; ++k) {
        t->crcLow[k] = CrcSteps(k, 8);          // the table entry of byte k
        t->crcHigh[k] = CrcSteps(k << 4, 8);    // the table entry of byte 16k (k x 0x1081)
    }
    for (uint32_t g = 0; g < 32; ++g) {
        int start = 0;
        while (start < 5 && ((g >> start) & 1u) != 0)
            ++start;
        int end = 0;
        while (end < 5 && ((g >> (4 - end)) & 1u) != 0)
            ++end;
        t->onesAtStart[g] = static_cast<uint8_t>(start);
        t->onesAtEnd[g] = static_cast<uint8_t>(end);
    }
}
