// The statistics reader of the diagnostic record: while a connection is up, each connection-control step
// makes one DSP memory read along a chain of the data pump's line statistics, keeps the value when the reply
// is the one awaited and moves on; the record's level, echo, delay and V.34 entries are computed from what
// the chain has read. V.34 and PCM connections read a longer chain: the receivers' level reading, the SNR's
// signal and error powers, the link screen's SNR, frequency and timing readings, the symbol-rate indexes and
// the option words.
#include <cstdint>

#include "layer2/corecode/cmd/at_context.h"
#include "layer2/corecode/cmd/conn_state.h"
#include "layer2/corecode/cmd/diag_record.h"
#include "layer2/corecode/mt/dsp_device.h"
#include "layer2/corecode/mt/dsp_link.h"
#include "platform/byte_order.h"
#include "window/icd_codes.h"
#include "window/parameter_ids.h"

namespace {

struct ChainLink {
    uint32_t address;
    uint8_t bytes;  // 2 or 4
};

// In the order of the readings in DiagnosticRecord::reading.
constexpr ChainLink kChain[kDiagReadings] = {
    {kMemStatTxLevel, 4},     {kMemStatRxLevel, 4},     {kMemStatEchoReference, 4}, {kMemStatNearEcho, 4},
    {kMemStatFarEcho, 4},     {kMemStatRoundTrip, 2},   {kMemStatRxLevelDb, 2},     {kMemStatSignalPower, 4},
    {kMemStatErrorPower, 4},  {kMemStatTxSnr, 2},       {kMemStatFrequency, 2},     {kMemStatTiming, 2},
    {kMemStatRateIndexes, 2}, {kMemStatTxOptions, 2},   {kMemStatRxOptions, 2},
};

// The data pump's connection states in which the reader runs.
bool reading_state(uint8_t state) { return state == 2 || state == 8 || state == 11; }

bool v34_family(uint8_t modulation)
{
    return modulation == MOD_V34_SYM || modulation == MOD_V34 || modulation == MOD_X2 || modulation == MOD_V90;
}

bool pcm(uint8_t modulation) { return modulation == MOD_X2 || modulation == MOD_V90; }

uint8_t byte_of(int32_t v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }
uint16_t word_of(int32_t v) { return static_cast<uint16_t>(v < 0 ? 0 : v > 0xFFFF ? 0xFFFF : v); }
int16_t signed_word(uint32_t v) { return static_cast<int16_t>(static_cast<uint16_t>(v)); }
int16_t clamp16(int32_t v) { return static_cast<int16_t>(v < -32768 ? -32768 : v > 32767 ? 32767 : v); }

// Key 10 and the receive SNR: the V.34 and PCM receivers' readings, or the level of the received samples.
void compute_receive(AcuContext* acu)
{
    DiagnosticRecord& d = acu->diag;
    const uint32_t* r = d.reading;
    const uint8_t mod = acu->conn.modulation;
    if (!v34_family(mod)) {
        at_diag_set(acu, DIAG_RX_LEVEL, r[DIAG_READ_RX_LEVEL] != 0 ? byte_of(diag_tx_level(r[DIAG_READ_RX_LEVEL])) : 0);
        return;
    }
    const int32_t reading = signed_word(r[DIAG_READ_RX_LEVEL_DB]);
    const uint32_t signal = r[DIAG_READ_SIGNAL];
    const uint32_t noise = r[DIAG_READ_NOISE];
    if (pcm(mod)) {
        at_diag_set(acu, DIAG_RX_LEVEL, reading != 0 ? byte_of(diag_v90_rx_level(reading, signal)) : 0);
        d.link.rx_snr = signal != 0 && noise != 0 ? clamp16(diag_v90_snr(signal, noise)) : 0;
    } else {
        at_diag_set(acu, DIAG_RX_LEVEL, reading != 0 ? byte_of(reading - 5) : 0);
        d.link.rx_snr = signal != 0 && noise != 0 ? clamp16(diag_v34_snr(signal, noise)) : 0;
    }
    d.link.tx_snr = signed_word(r[DIAG_READ_TX_SNR]);
    d.link.frequency = signed_word(r[DIAG_READ_FREQUENCY]);
    d.link.timing = signed_word(r[DIAG_READ_TIMING]);
}

// Keys 18 and 22-25 of a V.34 or PCM connection: the symbol rates and carriers of both directions, and the
// option word packed from four readings (the high bytes of the transmit and receive option words, the
// transmit and receive symbol-rate index bytes).
void compute_v34(AcuContext* acu)
{
    DiagnosticRecord& d = acu->diag;
    const uint32_t* r = d.reading;
    const uint32_t indexes = r[DIAG_READ_RATE_INDEXES];
    d.tx_symbol_index = static_cast<uint8_t>(indexes & 7);
    d.tx_carrier_high = static_cast<uint8_t>((indexes >> 3) & 1);
    d.rx_symbol_index = static_cast<uint8_t>((indexes >> 4) & 7);
    d.rx_carrier_high = static_cast<uint8_t>((indexes >> 7) & 1);
    at_diag_set(acu, DIAG_TX_SYMBOL_RATE, diag_symbol_rate(d.tx_symbol_index));
    at_diag_set(acu, DIAG_RX_SYMBOL_RATE, diag_symbol_rate(d.rx_symbol_index));
    at_diag_set(acu, DIAG_TX_CARRIER, diag_carrier(d.tx_symbol_index, d.tx_carrier_high != 0));
    at_diag_set(acu, DIAG_RX_CARRIER, diag_carrier(d.rx_symbol_index, d.rx_carrier_high != 0));
    d.link.tx_option = static_cast<uint16_t>(r[DIAG_READ_TX_OPTIONS]);
    d.link.rx_option = static_cast<uint16_t>(r[DIAG_READ_RX_OPTIONS]);
    at_diag_set(acu, DIAG_V34_OPTIONS,
                ((r[DIAG_READ_TX_OPTIONS] >> 8) & 0xFF) | (((r[DIAG_READ_RX_OPTIONS] >> 8) & 0xFF) << 8) |
                    ((indexes & 0x0F) << 16) | (((indexes >> 4) & 0x0F) << 24));
}

void compute(AcuContext* acu)
{
    const uint32_t* r = acu->diag.reading;
    const bool no_far_echo = pcm(acu->conn.modulation);
    // A reading of 0 is nothing measured (no signal, no echo canceller): the entry stays 0.
    at_diag_set(acu, DIAG_TX_LEVEL, r[DIAG_READ_TX_LEVEL] != 0 ? byte_of(diag_tx_level(r[DIAG_READ_TX_LEVEL])) : 0);
    at_diag_set(acu, DIAG_NEAR_ECHO,
                r[DIAG_READ_NEAR_ECHO] != 0
                    ? byte_of(diag_near_echo_loss(r[DIAG_READ_ECHO_REFERENCE], r[DIAG_READ_NEAR_ECHO]))
                    : 0);
    at_diag_set(acu, DIAG_FAR_ECHO,
                !no_far_echo && r[DIAG_READ_FAR_ECHO] != 0
                    ? byte_of(diag_near_echo_loss(r[DIAG_READ_ECHO_REFERENCE], r[DIAG_READ_FAR_ECHO]))
                    : 0);
    const int32_t delay = diag_round_trip_delay(r[DIAG_READ_ROUND_TRIP]);
    at_diag_set(acu, DIAG_DELAY_BYTE, byte_of(delay));
    at_diag_set(acu, DIAG_DELAY, word_of(delay));
    compute_receive(acu);
    if (v34_family(acu->conn.modulation))
        compute_v34(acu);
}

}  // namespace

bool diag_read_memory(AcuContext* acu, uint32_t address, uint8_t bytes, uint32_t* value)
{
    if (acu->dsp == nullptr)
        return false;
    DspLink* link = &acu->dsp->link;
    uint8_t reply[kIcdMaxPayload] = {};
    const DspValueRequest request{address, 0};
    // An address the data pump does not hold comes back as the read's echo, not as a value.
    if (dsp_read_value(link, &request, reply) != kIcdSent || link->replyCode != IcdMemoryValue)
        return false;
    *value = bytes == 4 ? ReadLe32(reply) : ReadLe16(reply);
    return true;
}

void at_diag_statistics(AcuContext* acu)
{
    DiagnosticRecord& d = acu->diag;
    if (!d.statistics_on || acu->dsp == nullptr || !reading_state(acu->conn.pump_state))
        return;
    const uint8_t length = v34_family(acu->conn.modulation) ? kDiagReadings : kDiagCommonReadings;
    if (d.read_step >= length)
        d.read_step = 0;
    const ChainLink& c = kChain[d.read_step];
    // The chain waits at an address that gives no value.
    if (!diag_read_memory(acu, c.address, c.bytes, &d.reading[d.read_step]))
        return;
    d.read_step = static_cast<uint8_t>((d.read_step + 1) % length);
    compute(acu);
}
