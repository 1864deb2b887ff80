// Whole bytes out of the receive bit buffer, and the byte descrambler over them.
#include "layer1/modem/v34/v34_demapper.h"
#include "layer1/modem/v34/v34_scrambler.h"

void ClearV34RxBits(V34RxBitBuffer* bits) { *bits = V34RxBitBuffer{}; }

int32_t ReadRxBytes(V34RxBitBuffer* bits, uint8_t* out, int32_t max)
{
    constexpr uint32_t kBytes = kV34RxBitWords * 4;
    int32_t n = static_cast<int32_t>(bits->count / 8u);
    if (max < n)
        n = max < 0 ? 0 : max;
    for (int32_t i = 0; i < n; ++i) {
        const uint32_t byte = (bits->readPosition / 8u) & (kBytes - 1u);
        out[i] = static_cast<uint8_t>(bits->words[byte / 4u] >> (8u * (byte % 4u)));
        bits->readPosition = (bits->readPosition + 8u) % (kBytes * 8u);
        bits->count -= 8u;
    }
    return n;
}

int32_t DescrambleBytes(V34RxBitBuffer* bits, int32_t polynomial, uint32_t* reg, uint8_t* out, int32_t max)
{
    const int32_t n = ReadRxBytes(bits, out, max);
    DescrambleByteBlock(polynomial, out, n, reg);
    return n;
}
