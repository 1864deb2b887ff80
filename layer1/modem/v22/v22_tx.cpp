// The transmitter: bits to symbols (scrambler, differential quadrant coding, the 16-point constellation),
// the pulse-shaping filter over the symbol delay lines, and the carrier.
#include <algorithm>
#include <cstring>

#include "layer1/dsp/nco.h"
#include "layer1/modem/v22/v22.h"
#include "platform/saturate.h"

namespace {

constexpr int16_t kUnit = 6144;
// Quadrant change for the first two bits (bits 3-2: 00 +90, 01 0, 10 +180, 11 +270 degrees), in quadrants x 4.
constexpr uint16_t kQuadrantChange[4] = {4, 0, 8, 12};

// The bits of the next symbol, scrambled when asked, first bit in bit 3.
uint32_t NextSymbolBits(V22Modem* m)
{
    V22TxState& t = m->tx;
    const bool slow = (t.tx_control & 3) != 0;
    t.scrambled = 0;
    if (t.tx_control & V22_TX_S1) {
        // S1: unscrambled 00 and 11 alternately (12 first).
        t.data_bits = t.s1_toggle == 0 ? 12u : 0u;
        t.s1_toggle ^= 3;
        return t.data_bits;
    }
    // At 1200 bit/s the scrambler takes two bits per symbol, whatever the call's rate: the scrambled ones
    // of the handshake are then true 1200 bit/s scrambled ones that a peer's descrambler recognises.
    const int32_t count = slow ? 2 : 4;
    if (t.tx_control & V22_TX_ONES) {
        t.data_bits = 15;
    } else {
        const int32_t bits = m->port.getTxBits(m->port.owner, count);
        t.data_bits = static_cast<uint32_t>(bits < 0 ? 15 : bits) & 15u;
    }
    if (!(t.tx_control & V22_TX_SCRAMBLE)) {
        // First bit to bit 3.
        const uint32_t d = t.data_bits;
        const uint32_t first4 = ((d & 1u) << 3) | ((d & 2u) << 1) | ((d & 4u) >> 1) | ((d & 8u) >> 3);
        return slow ? first4 & 12u : first4;
    }
    for (int32_t i = 0; i < count; ++i)
        t.scrambled = t.scrambled * 2 + V22Scramble(&t.scrambler, &t.ones_run, (t.data_bits >> i) & 1u);
    if (count == 2)
        t.scrambled <<= 2;
    return t.scrambled;
}

void FormSymbol(V22Modem* m)
{
    V22TxState& t = m->tx;
    const uint32_t bits = NextSymbolBits(m);
    t.scrambled = bits;
    t.quadrant = static_cast<uint16_t>((t.quadrant + kQuadrantChange[(bits >> 2) & 3u]) & 12u);
    t.point = (t.tx_control & 3) ? t.quadrant + 1u : (t.quadrant | (bits & 3u));
    V22PointOf(t.point, &t.point_re, &t.point_im);
    t.line_index = static_cast<uint16_t>((t.line_index + kV22PulseTaps - 1) % kV22PulseTaps);
    t.line_re[t.line_index] = t.line_re[t.line_index + kV22PulseTaps] = t.point_re;
    t.line_im[t.line_index] = t.line_im[t.line_index + kV22PulseTaps] = t.point_im;
}

}  // namespace

void V22PointOf(uint32_t index, int16_t* re, int16_t* im)
{
    // First quadrant: 0 (1, 1), 1 (3, 1), 2 (1, 3), 3 (3, 3); quadrant q turns it q x 90 degrees.
    int32_t x = (index & 1u) ? 3 : 1;
    int32_t y = (index & 2u) ? 3 : 1;
    for (uint32_t q = (index >> 2) & 3u; q > 0; --q) {
        const int32_t turned = -y;
        y = x;
        x = turned;
    }
    *re = static_cast<int16_t>(x * kUnit);
    *im = static_cast<int16_t>(y * kUnit);
}

// The scrambler 1 + x^-14 + x^-17: the register holds the last 17 output bits, newest in bit 16. After 64
// consecutive ones at the output the next input bit is inverted.
uint32_t V22Scramble(uint32_t* reg, uint32_t* onesRun, uint32_t bit)
{
    if (*onesRun == 64) {
        *onesRun = 0;
        bit ^= 1u;
    }
    const uint32_t out = (bit ^ *reg ^ (*reg >> 3)) & 1u;
    *reg = (*reg >> 1) | (out << 16);
    *onesRun = out ? *onesRun + 1 : 0;
    return out;
}

// The descrambler undoes it: the register holds the last 17 received bits; after 64 consecutive received
// ones the output bit is inverted.
uint32_t V22Descramble(uint32_t* reg, uint16_t* onesRun, uint32_t bit)
{
    uint32_t out = (bit ^ *reg ^ (*reg >> 3)) & 1u;
    if (*onesRun == 64) {
        *onesRun = 0;
        out ^= 1u;
    }
    *reg = (*reg >> 1) | ((bit & 1u) << 16);
    *onesRun = bit ? static_cast<uint16_t>(*onesRun + 1) : 0;
    return out;
}

void V22TxReset(V22TxState* t)
{
    const int16_t step = t->carrier_step;
    const int16_t gain = t->tx_gain;
    std::memset(t, 0, sizeof(*t));
    t->carrier_step = step;
    t->tx_gain = gain;
    (void)V22PulseRow(0);  // builds the tables outside the block thread's first block
}

void V22TxBlock(V22Modem* m, int16_t* out, int32_t n)
{
    V22TxState& t = m->tx;
    // The 16 rows of the pulse lie one after another: row p starts kV22PulseTaps entries after row p - 1.
    const int16_t* rows = V22PulseRow(0);
    int32_t i = 0;
    while (i < n) {
        if (t.symbol_phase == 0)
            FormSymbol(m);
        // The samples of this symbol in the block: the delay lines stay as they are meanwhile.
        const int32_t run = std::min<int32_t>(n - i, kV22SamplesPerSymbol - t.symbol_phase);
        const int16_t* lineRe = &t.line_re[t.line_index];
        const int16_t* lineIm = &t.line_im[t.line_index];
        for (int32_t j = 0; j < run; ++j, ++i) {
            const int16_t* c = rows + t.symbol_phase * kV22PulseTaps;
            int32_t re = 0;
            int32_t im = 0;
            for (int k = 0; k < kV22PulseTaps; ++k) {
                re += c[k] * lineRe[k];
                im += c[k] * lineIm[k];
            }
            t.out_re = Saturate16(re >> 15);
            t.out_im = Saturate16(im >> 15);
            t.carrier_phase = static_cast<uint16_t>(t.carrier_phase + static_cast<uint16_t>(t.carrier_step));
            NcoSinCos(t.carrier_phase, &t.sin, &t.cos);
            const int32_t passband = ((t.out_re * t.cos) >> 14) - ((t.out_im * t.sin) >> 14);
            out[i] = Saturate16(static_cast<int32_t>((static_cast<int64_t>(passband) * t.tx_gain) >> 15));
            t.symbol_phase = static_cast<uint16_t>((t.symbol_phase + 1) & 15);
        }
    }
}
