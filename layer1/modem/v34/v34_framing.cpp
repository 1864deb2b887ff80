// The data-frame parameters and the small framing helpers of the V.34 pump.
#include "layer1/modem/v34/v34_framing.h"

#include "layer1/modem/v34/fixed_point.h"

namespace {

struct RateRow {
    int32_t symbolRate;
    int32_t J;
    int32_t P;
    int32_t fraction;
};

// Per symbol rate: data frames per superframe, mapping frames per data frame and the fraction constant.
constexpr RateRow kRateRows[kV34SymbolRates] = {
    {2400, 7, 12, 1755}, {2743, 8, 12, 1387}, {2800, 7, 14, 5547},
    {3000, 7, 15, 10923}, {3200, 7, 16, 21845}, {3429, 8, 15, 5461},
};

// Row 1 of the ring counts (with shaping); row 0 is the smallest M with M^8 >= 2^K.
constexpr uint8_t kRingsShaped[kV34MaxShellBits + 1] = {
    1, 2, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 5, 5, 5, 6, 6, 7, 8, 8, 9, 10, 11, 12, 13, 14, 15, 17, 18,
};

int32_t SmallestRingCount(int32_t K)
{
    for (int32_t m = 1;; ++m) {
        uint64_t power = 1;
        for (int i = 0; i < 8; ++i)
            power *= static_cast<uint64_t>(m);
        if (power >= (uint64_t{1} << K))
            return m;
    }
}

// The first-quadrant training points by bits 2-3 of a symbol.
constexpr int16_t kQuadrantPoints[4][2] = {{128, 128}, {-384, 128}, {128, -384}, {-384, -384}};

}  // namespace

void BuildV34ShellTables(V34FrameParams* p)
{
    if (p->M < 1 || p->M > kV34MaxRings)
        return;
    const int32_t m = p->M;
    for (int32_t i = 0; i <= 2 * m - 2; ++i)
        p->g2[i] = static_cast<uint16_t>(i <= m - 1 ? i + 1 : 2 * m - 1 - i);
    for (int32_t i = 0; i <= 4 * m - 4; ++i) {
        uint32_t sum = 0;
        for (int32_t j = 0; j <= i; ++j) {
            if (j <= 2 * m - 2 && i - j <= 2 * m - 2)
                sum += static_cast<uint32_t>(p->g2[j]) * p->g2[i - j];
        }
        p->g4[i] = static_cast<uint16_t>(sum);
    }
    // z8(i) = z8(i - 1) + g8(i - 1), g8 the convolution of g4 with itself (indices 0 ... 4M - 4 only).
    p->z8[0] = 0;
    for (int32_t i = 1; i <= 8 * m - 7; ++i) {
        uint64_t g8 = 0;
        const int32_t s = i - 1;
        for (int32_t j = 0; j <= s; ++j) {
            if (j <= 4 * m - 4 && s - j <= 4 * m - 4)
                g8 += static_cast<uint64_t>(p->g4[j]) * p->g4[s - j];
        }
        p->z8[i] = p->z8[i - 1] + g8;
    }
}

int32_t V34SymbolRate(int32_t symbolRateIndex)
{
    if (symbolRateIndex < 0 || symbolRateIndex >= kV34SymbolRates)
        return kRateRows[0].symbolRate;
    return kRateRows[symbolRateIndex].symbolRate;
}

int32_t V34RingCount(int32_t row, int32_t K)
{
    if (K < 0)
        K = 0;
    if (K > kV34MaxShellBits)
        K = kV34MaxShellBits;
    return row != 0 ? kRingsShaped[K] : SmallestRingCount(K);
}

int32_t V34FrameParameters(V34FrameParams* p)
{
    const int32_t index = p->symbolRateIndex >= 0 && p->symbolRateIndex < kV34SymbolRates ? p->symbolRateIndex : 0;
    const RateRow& row = kRateRows[index];
    p->J = row.J;
    p->P = row.P;
    p->fraction = row.fraction;
    const int32_t symbolRate = p->symbolRate > 0 ? p->symbolRate : row.symbolRate;
    const int32_t rate = 2400 * p->rateMultiple + 200 * p->extraMultiple;
    p->b = (8 * rate + symbolRate - 1) / symbolRate;
    const int32_t d = p->b - 12;
    if (p->b <= 12) {
        p->K = 0;
        p->q = 0;
    } else if (d < 32) {
        p->K = d;
        p->q = 0;
    } else {
        p->q = (d - 24) >> 3;
        p->K = d - 8 * p->q;
    }
    p->M = V34RingCount(p->row, p->K);
    // r of the P mapping frames carry b bits, spread evenly over the data frame.
    const int32_t r = (rate / 25) * 7 / p->J - p->P * (p->b - 1);
    uint32_t pattern = 0;
    int32_t s = 0;
    int32_t i = 0;
    for (; i < p->P; ++i) {
        s += r;
        if (s >= p->P) {
            pattern |= 1u << (p->P - 1 - i);
            s -= p->P;
        }
    }
    p->switchingPattern = static_cast<uint16_t>(pattern);
    if (p->extraMultiple == 0)
        p->fraction = 0;
    if (p->b < 56) {
        p->bitMask = 127;
        p->step = -2;
    } else {
        p->bitMask = 255;
        p->step = -4;
    }
    p->gain = p->J == 8 ? 30714 : 7678;
    if (p->K != 0)
        BuildV34ShellTables(p);
    return i;
}

PackedComplex RotateQuadrant(uint32_t symbolBits, uint8_t* storedQuadrant)
{
    const uint32_t quadrant = (*storedQuadrant + (symbolBits & 3u)) & 3u;
    *storedQuadrant = static_cast<uint8_t>(quadrant);
    const int32_t x = kQuadrantPoints[(symbolBits >> 2) & 3u][0];
    const int32_t y = kQuadrantPoints[(symbolBits >> 2) & 3u][1];
    switch (quadrant) {
    case 1: return PackComplex(y, -x);
    case 2: return PackComplex(-x, -y);
    case 3: return PackComplex(-y, x);
    default: return PackComplex(x, y);
    }
}

namespace {

int32_t RoundQ14(int64_t v)
{
    const int64_t magnitude = v < 0 ? -v : v;
    const int64_t r = (magnitude + 8191) >> 14;
    return static_cast<int32_t>(v < 0 ? -r : r);
}

}  // namespace

PackedComplex PrecoderOutput(const PackedComplex coefficients[3], const PackedComplex history[3])
{
    int64_t re = 0;
    int64_t im = 0;
    for (int k = 0; k < 3; ++k) {
        const int64_t cr = RealPart(coefficients[k]);
        const int64_t ci = ImagPart(coefficients[k]);
        const int64_t xr = RealPart(history[k]);
        const int64_t xi = ImagPart(history[k]);
        re += cr * xr - ci * xi;
        im += cr * xi + ci * xr;
    }
    return PackComplex(RoundQ14(re), RoundQ14(im));
}

int32_t PackBits(BitPacker* packer, uint32_t value, int32_t n)
{
    if (n <= 0)
        return 0;
    const uint32_t capacity = (packer->wordMask + 1u) * 32u;
    // One word stays free: a write clears the word after the one it ends in.
    if (n > 32 || packer->count + static_cast<uint32_t>(n) + 32u > capacity)
        return 1;
    if (n < 32)
        value &= (1u << n) - 1u;
    const uint32_t shift = packer->position % 32u;
    const uint32_t word = (packer->position / 32u) & packer->wordMask;
    packer->words[word] |= value << shift;
    // The high part (nothing when the field starts a word) clears the next word for the fields after it.
    packer->words[(word + 1u) & packer->wordMask] = shift != 0 ? value >> (32u - shift) : 0u;
    packer->position = (packer->position + static_cast<uint32_t>(n)) % capacity;
    packer->count += static_cast<uint32_t>(n);
    return 0;
}

void Crc16Bits(uint16_t* crc, uint32_t value, int32_t n)
{
    uint16_t c = *crc;
    for (int32_t i = 0; i < n && i < 32; ++i)
        c = Crc16BitStep((value >> i) & 1u, c);
    *crc = c;
}
