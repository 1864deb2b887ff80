// The statistics reader of the diagnostic record: while a connection is up, each connection-control step
// makes one DSP memory read along a chain of the data pump's line statistics, keeps the value when the reply
// is the one awaited and moves on; the record's level, echo and delay entries are computed from what the
// chain has read.
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
    {kMemStatTxLevel, 4},   {kMemStatRxLevel, 4}, {kMemStatEchoReference, 4},
    {kMemStatNearEcho, 4},  {kMemStatFarEcho, 4}, {kMemStatRoundTrip, 2},
};

// The data pump's connection states in which the reader runs.
bool reading_state(uint8_t state) { return state == 2 || state == 8 || state == 11; }

uint8_t byte_of(int32_t v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }
uint16_t word_of(int32_t v) { return static_cast<uint16_t>(v < 0 ? 0 : v > 0xFFFF ? 0xFFFF : v); }

void compute(AcuContext* acu)
{
    const uint32_t* r = acu->diag.reading;
    const bool pcm = acu->conn.modulation == MOD_X2 || acu->conn.modulation == MOD_V90;
    // A reading of 0 is nothing measured (no signal, no echo canceller): the entry stays 0.
    at_diag_set(acu, DIAG_TX_LEVEL, r[DIAG_READ_TX_LEVEL] != 0 ? byte_of(diag_tx_level(r[DIAG_READ_TX_LEVEL])) : 0);
    at_diag_set(acu, DIAG_RX_LEVEL, r[DIAG_READ_RX_LEVEL] != 0 ? byte_of(diag_tx_level(r[DIAG_READ_RX_LEVEL])) : 0);
    at_diag_set(acu, DIAG_NEAR_ECHO,
                r[DIAG_READ_NEAR_ECHO] != 0
                    ? byte_of(diag_near_echo_loss(r[DIAG_READ_ECHO_REFERENCE], r[DIAG_READ_NEAR_ECHO]))
                    : 0);
    at_diag_set(acu, DIAG_FAR_ECHO,
                !pcm && r[DIAG_READ_FAR_ECHO] != 0
                    ? byte_of(diag_near_echo_loss(r[DIAG_READ_ECHO_REFERENCE], r[DIAG_READ_FAR_ECHO]))
                    : 0);
    const int32_t delay = diag_round_trip_delay(r[DIAG_READ_ROUND_TRIP]);
    at_diag_set(acu, DIAG_DELAY_BYTE, byte_of(delay));
    at_diag_set(acu, DIAG_DELAY, word_of(delay));
}

}  // namespace

void at_diag_statistics(AcuContext* acu)
{
    DiagnosticRecord& d = acu->diag;
    if (!d.statistics_on || acu->dsp == nullptr || !reading_state(acu->conn.pump_state))
        return;
    DspLink* link = &acu->dsp->link;
    if (d.read_step >= kDiagReadings)
        d.read_step = 0;
    const ChainLink& c = kChain[d.read_step];
    uint8_t reply[kIcdMaxPayload] = {};
    const DspValueRequest request{c.address, 0};
    // An address the data pump does not hold comes back as the read's echo: the chain waits at it.
    if (dsp_read_value(link, &request, reply) != kIcdSent || link->replyCode != IcdMemoryValue)
        return;
    d.reading[d.read_step] = c.bytes == 4 ? ReadLe32(reply) : ReadLe16(reply);
    d.read_step = static_cast<uint8_t>((d.read_step + 1) % kDiagReadings);
    compute(acu);
}
