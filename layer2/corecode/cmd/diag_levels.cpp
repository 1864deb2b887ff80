// The level helper of the diagnostic record and the figures computed with it, and the V.34 symbol-rate and
// carrier tables the record's rate keys are looked up in.
#include "layer2/corecode/cmd/diag_record.h"

namespace {

constexpr int kLog2FractionBits = 11;
constexpr uint32_t kDbPerLog2 = 49321;  // 10 log10(2) x 256 x 2^17 / 2^11, rounded
constexpr int kDbShift = 17;

// Arithmetic shift right by 8 (a division by 256 that rounds towards minus infinity).
int32_t div256(int32_t v) { return v >= 0 ? v / 256 : -((-v + 255) / 256); }

struct SymbolRateRow {
    uint16_t baud;
    uint16_t carrier_low;
    uint16_t carrier_high;
};

// V.34's symbol rates with their low and high carriers, by the data pump's symbol-rate index.
constexpr SymbolRateRow kSymbolRates[] = {
    {2400, 1600, 1800}, {2743, 1646, 1829}, {2800, 1680, 1867},
    {3000, 1800, 2000}, {3200, 1829, 1920}, {3429, 1959, 1959},
};
constexpr uint8_t kSymbolRateCount = sizeof kSymbolRates / sizeof kSymbolRates[0];

}  // namespace

int32_t at_db256(uint32_t x)
{
    if (x == 0)
        return 0;
    // Integer part: the position of the top bit; the mantissa normalised to [1, 2) in Q30.
    uint32_t exponent = 31;
    while ((x >> exponent) == 0)
        --exponent;
    uint64_t m = exponent >= 30 ? static_cast<uint64_t>(x) >> (exponent - 30) : static_cast<uint64_t>(x) << (30 - exponent);
    uint32_t log2 = exponent << kLog2FractionBits;
    // Each squaring doubles the logarithm: a result of 2 or more is the next fraction bit.
    for (int bit = kLog2FractionBits - 1; bit >= 0; --bit) {
        m = (m * m) >> 30;
        if (m >= (uint64_t{1} << 31)) {
            log2 |= 1u << bit;
            m >>= 1;
        }
    }
    return static_cast<int32_t>((static_cast<uint64_t>(log2) * kDbPerLog2) >> kDbShift);
}

int32_t diag_tx_level(uint32_t tx_power) { return div256(25544 - 2 * at_db256(tx_power)); }

int32_t diag_near_echo_loss(uint32_t echo_reference, uint32_t near_echo)
{
    return div256(2 * at_db256(echo_reference) - at_db256(near_echo) - 3659 + 128);
}

int32_t diag_round_trip_delay(uint32_t delay_count)
{
    return static_cast<int32_t>((static_cast<uint64_t>(delay_count) * 6827u) >> 16);
}

int32_t diag_v34_snr(uint32_t signal, uint32_t noise) { return 2 * at_db256(signal) - at_db256(noise) - 2436; }

int32_t diag_v90_rx_level(int32_t reading, uint32_t power)
{
    return div256(256 * reading - at_db256(power) + 14055);
}

int32_t diag_v90_snr(uint32_t power, uint32_t noise)
{
    const uint64_t scaled = static_cast<uint64_t>(power) * 8u;
    return at_db256(scaled > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(scaled)) - at_db256(noise) + 1;
}

uint16_t diag_symbol_rate(uint8_t index) { return index < kSymbolRateCount ? kSymbolRates[index].baud : 0; }

uint16_t diag_carrier(uint8_t index, bool high)
{
    if (index >= kSymbolRateCount)
        return 0;
    return high ? kSymbolRates[index].carrier_high : kSymbolRates[index].carrier_low;
}
