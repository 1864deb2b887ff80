// The in-band codes of synchronous access: the data forms of the transparency codes, the shielding of
// received octets, the rate characters and the lost-byte count.
#include "layer2/corecode/dce/v80.h"

namespace {

// The four octets that travel shielded, in the order the two-octet codes 0xA4-0xAF pair them: for each first
// octet the other three follow in this order.
constexpr uint8_t kShielded[4] = {0x19, 0x99, 0x11, 0x13};
constexpr uint8_t kPairsFrom = 0xA4;

constexpr uint32_t kPcmFirst = 21;  // PCM rates: 8000 x k / 6 bit/s for k = 21..43 (28000 to 57333)
constexpr uint32_t kPcmLast = 43;

}  // namespace

int v80_code_octets(uint8_t code, uint8_t out[2])
{
    switch (code) {
    case V80_ONE_EM: out[0] = 0x19; return 1;
    case V80_TWO_EM: out[0] = out[1] = 0x19; return 2;
    case V80_ONE_EM_HIGH: out[0] = 0x99; return 1;
    case V80_TWO_EM_HIGH: out[0] = out[1] = 0x99; return 2;
    case V80_DC1: out[0] = 0x11; return 1;
    case V80_DC3: out[0] = 0x13; return 1;
    case 0xA2: out[0] = out[1] = 0x11; return 2;
    case 0xA3: out[0] = out[1] = 0x13; return 2;
    default: break;
    }
    if (code < kPairsFrom || code > V80_PAIRS_LAST)
        return 0;
    const int index = code - kPairsFrom;
    const int first = index / 3;
    int second = index % 3;
    if (second >= first)
        ++second;  // the second octet is one of the other three
    out[0] = kShielded[first];
    out[1] = kShielded[second];
    return 2;
}

uint8_t v80_receive_code(uint8_t octet)
{
    switch (octet) {
    case 0x11: return V80_DC1;
    case 0x13: return V80_DC3;
    case 0x19: return V80_ONE_EM;
    case 0x99: return V80_ONE_EM_HIGH;
    default: return 0;
    }
}

uint8_t v80_rate_char(uint32_t rate)
{
    if (rate == 75 || rate == 300 || rate == 1200)
        return 0x20;
    if (rate != 0 && rate % 2400 == 0 && rate / 2400 <= 14)
        return static_cast<uint8_t>(0x20 + rate / 2400);
    for (uint32_t k = kPcmFirst; k <= kPcmLast; ++k)
        if (rate == 8000 * k / 6)
            return 0x30;
    return 0x26;
}

// Seven bits of the count in each byte, shifted up by one: bits 0-6, then bits 7-13.
void v80_lost_bytes(uint32_t count, uint8_t out[2])
{
    out[0] = static_cast<uint8_t>((count << 1) & 0xFEu);
    out[1] = static_cast<uint8_t>(((count >> 7) << 1) & 0xFEu);
}
