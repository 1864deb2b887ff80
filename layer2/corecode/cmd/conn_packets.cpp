// Connection control's plain functions: the rate choice and its fall-back chain, the start packet and the
// rate masks, and the decoders of the data pump's mode, rate and link replies.
#include <cstring>

#include "layer2/corecode/cmd/conn_control.h"
#include "layer2/corecode/mt/dsp_commands.h"
#include "window/icd_codes.h"

namespace {

constexpr uint32_t bit(uint8_t code) { return 1u << code; }

// OR value << shift into one byte of the packet: every bit field of the start packet goes in this way.
void icd_or_field(uint8_t* packet, int position, uint32_t value, int shift)
{
    packet[position] = static_cast<uint8_t>(packet[position] | ((value << shift) & 0xFFu));
}

uint32_t min32(uint32_t a, uint32_t b) { return a < b ? a : b; }
uint32_t max32(uint32_t a, uint32_t b) { return a > b ? a : b; }

uint32_t v32_rate(const ConnRequest& r) { return r.v32_rate_7200 ? 4800 : 9600; }

// The rate a modulation below V.34 runs at, within the maximum of both directions.
uint32_t narrowband_rate(const ConnRequest& r, uint8_t modulation)
{
    const uint32_t maximum = min32(r.tx_max, r.rx_max);
    switch (modulation) {
    case MOD_V32BIS: return min32(maximum == 0 ? 14400 : maximum, 14400);
    case MOD_V32: return min32(maximum == 0 ? v32_rate(r) : maximum, v32_rate(r));
    case MOD_V22BIS: return 2400;
    case MOD_V22:
    case MOD_BELL212:
    case MOD_V23_ADX: return 1200;
    default: return 300;
    }
}

// The fall-back chain when the requested modulation is not allowed.
ConnChoice fall_back(const ConnRequest& r)
{
    const uint32_t maximum = min32(r.tx_max, r.rx_max);
    if (r.allowed & bit(MOD_V32BIS))
        return {MOD_V32BIS, min32(maximum, 14400)};
    if (r.allowed & bit(MOD_V32))
        return {MOD_V32, min32(maximum, v32_rate(r))};
    if (r.allowed & bit(MOD_V22BIS))
        return {MOD_V22BIS, 2400};
    if (r.allowed & bit(MOD_V22))
        return {MOD_V22, 1200};
    if (r.allowed & bit(MOD_BELL212))
        return {MOD_BELL212, 1200};
    if (r.allowed & bit(MOD_V23_ADX))
        return {MOD_V23_ADX, 1200};
    if (r.allowed & bit(MOD_V21))
        return {MOD_V21, 300};
    return {MOD_BELL103, 300};
}

// Rate-mask bits of the V.32 family for a range: bit 1 4800, 2 7200, 3 9600, 4 12000, 5 14400.
uint16_t v32_mask(uint32_t low, uint32_t high)
{
    uint16_t mask = 0;
    for (int k = 1; k <= 5; ++k) {
        const uint32_t rate = 2400u * static_cast<uint32_t>(k + 1);
        if (rate >= low && rate <= high)
            mask = static_cast<uint16_t>(mask | (1u << k));
    }
    return mask;
}

constexpr uint32_t kV34Rates[16] = {2400,  2400,  4800,  7200,  9600,  12000, 14400, 16800,
                                    19200, 21600, 24000, 26400, 28800, 31200, 33600, 0};
constexpr uint32_t kPcmUpstreamRates[20] = {24000, 25333, 26666, 28000, 29333, 30666, 32000,
                                            33333, 34666, 36000, 37333, 38666, 40000, 41333,
                                            42666, 44000, 45333, 46666, 48000, 0};
constexpr uint32_t kPcmDownstreamRates[20] = {33333, 33333, 37333, 41333, 42666, 44000, 45333,
                                              46666, 48000, 49333, 50666, 52000, 53333, 54666,
                                              56000, 57333, 28000, 29333, 30666, 32000};
constexpr uint32_t kRateByteRates[10] = {1200, 1200, 300, 1200, 2400, 4800, 7200, 9600, 12000, 14400};

}  // namespace

uint8_t conn_rate_code_table(uint32_t rate) { return dsp_rate_code(rate); }

ConnChoice conn_choose(const ConnRequest& r)
{
    if (r.fax_or_voice)
        return {r.modulation, 19200};
    if ((r.allowed & bit(r.modulation)) == 0 && r.modulation < 32)
        return fall_back(r);
    if (r.modulation < MOD_V34 || r.pcm_fallback)
        return {r.modulation, narrowband_rate(r, r.modulation)};
    uint32_t maximum = min32(r.tx_max, r.rx_max);
    if (r.modulation == MOD_V90) {
        maximum = maximum >= 34666 ? 33600 : maximum / 2400u * 2400u;
    }
    if (r.modulation == MOD_V34 && (r.tx_max == 2400 || r.rx_max == 2400))
        maximum = 2400;
    return {r.modulation, maximum};
}

void conn_build_start_packet(const ConnRequest& r, const ConnChoice& c, uint8_t packet[kStartPacketLength])
{
    std::memset(packet, 0, kStartPacketLength);
    packet[0] = IcdStartConnection;
    packet[2] = 6;
    icd_or_field(packet, 4, conn_rate_code_table(c.rate) & 0x3Fu, 0);
    icd_or_field(packet, 4, (r.line_options >> 4) & 3u, 6);
    icd_or_field(packet, 5, c.modulation & 0x3Fu, 0);
    icd_or_field(packet, 6, r.calling_tone & 1u, 0);
    icd_or_field(packet, 6, r.originate & 1u, 2);
    icd_or_field(packet, 6, r.automode & 1u, 3);
    icd_or_field(packet, 6, r.v8_exchange & 1u, 4);
    icd_or_field(packet, 6, r.single_tone & 1u, 5);
    if (r.v8_continue)
        icd_or_field(packet, 7, r.originate ? 1u : 2u, 0);
    uint32_t channel75 = r.originate & 1u;
    if (r.first_rate_value == 75)
        channel75 = 1;
    else if (r.second_rate_value == 75)
        channel75 = 0;
    icd_or_field(packet, 7, channel75, 2);
    icd_or_field(packet, 7, r.percent_e & 1u, 3);
    uint8_t options = (r.option_word & 0x0001u) ? 0x42 : 0x02;
    if (r.option_word & 0x0080u)
        options = static_cast<uint8_t>(options + 0x20);
    if (r.option_word & 0x0200u)
        options = static_cast<uint8_t>(options + (r.alternate ? 0x01 : 0x05));
    if (r.option_word & 0x0800u)
        options = static_cast<uint8_t>(options + 0x10);
    if (!r.pcm_configured && r.pcm_capable)
        options = static_cast<uint8_t>(options + 0x08);
    packet[8] = options;
    packet[9] = 0;  // no field: never left over from an earlier packet
}

void conn_build_rate_masks(const ConnRequest& r, uint8_t payload[kRateMaskLength])
{
    const uint16_t tx = v32_mask(r.tx_min, r.tx_max);
    const uint16_t rx = v32_mask(r.rx_min, r.rx_max);
    const uint32_t low = max32(r.tx_min, r.rx_min);
    const uint32_t high = min32(r.tx_max, r.rx_max);
    uint32_t v34 = 0;
    for (uint32_t n = 1; n <= 14; ++n)
        if (n * 2400u >= low && n * 2400u <= high)
            v34 |= 1u << n;
    payload[0] = static_cast<uint8_t>(tx);
    payload[1] = static_cast<uint8_t>(tx >> 8);
    payload[2] = static_cast<uint8_t>(rx);
    payload[3] = static_cast<uint8_t>(rx >> 8);
    for (int k = 0; k < 4; ++k)
        payload[4 + k] = static_cast<uint8_t>(v34 >> (8 * k));
}

void conn_decode_rate_byte(uint8_t r, uint32_t* tx, uint32_t* rx)
{
    if (r == 0) {
        *tx = 1200;
        *rx = 75;
    } else if (r == 1) {
        *tx = 75;
        *rx = 1200;
    } else {
        const uint32_t rate = r < 10 ? kRateByteRates[r] : kRateByteRates[0];
        *tx = rate;
        *rx = rate;
    }
}

void conn_decode_v34_rates(const uint8_t* reply, bool originate, uint32_t* tx, uint32_t* rx)
{
    const uint16_t word = static_cast<uint16_t>(reply[0] | (reply[1] << 8));
    const uint32_t a = kV34Rates[(word >> 6) & 0x0F];
    const uint32_t b = kV34Rates[(reply[0] >> 2) & 0x0F];
    *tx = originate ? b : a;
    *rx = originate ? a : b;
}

void conn_decode_pcm_rates(const uint8_t* reply, uint32_t* tx, uint32_t* rx, uint8_t* v92)
{
    const uint8_t up = reply[6] < 20 ? reply[6] : 0;
    const uint8_t down = reply[7] < 20 ? reply[7] : 0;
    if (reply[2] == 1) {
        *v92 = 1;
        *tx = kPcmUpstreamRates[up];
    } else {
        *v92 = 0;
        *tx = kV34Rates[reply[6] & 0x0F];
    }
    *rx = kPcmDownstreamRates[down];
}

uint8_t conn_decode_mode(uint8_t m, uint8_t previous, bool v32bis_allowed)
{
    if (m == MOD_V34_SYM)
        return MOD_V34;
    if (m == MOD_V32BIS && !v32bis_allowed)
        return MOD_V32;
    if (m == MOD_V22 && previous == MOD_BELL212)
        return MOD_BELL212;
    return m;
}

uint8_t conn_v34_quality(uint16_t a, uint16_t b, bool event_flag)
{
    if (event_flag)
        return 1;
    if (b >= 5 || a >= 18432)
        return 3;
    if (a >= 10240)
        return 2;
    if (a > 2560)
        return 1;
    return 0;
}
