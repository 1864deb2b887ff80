// Modem on hold and quick connect: the two small sequencers that run inside the connection-control step,
// and the quick-connect data area kept in the settings store ("qcData").
//
// The hold flags are the receive path's event-kind mask (bit k: a data-pump event of kind k arrived; the
// code of a hold message is the kind-0 value); this side adds bits 4-8.
#pragma once

#include <cstdint>

#include "layer2/corecode/cmd/core_settings.h"

struct AcuContext;

// Hold flags (bits of the event-kind mask).
constexpr uint32_t kHoldMessage = 1u << 0;       // a hold message arrived (its code: the kind-0 value)
constexpr uint32_t kHoldEvent1 = 1u << 1;
constexpr uint32_t kHoldEvent2 = 1u << 2;
constexpr uint32_t kHoldEvent3 = 1u << 3;
constexpr uint32_t kHoldLocalRequest = 1u << 4;
constexpr uint32_t kHoldSent = 1u << 5;          // this side sent a hold message
constexpr uint32_t kHoldReturnAsked = 1u << 6;   // a return to data mode was asked for
constexpr uint32_t kHoldInForce = 1u << 7;
constexpr uint32_t kHoldEvent8 = 1u << 8;

// Quick-connect flags.
constexpr uint16_t kQcArmed = 1u << 0;
constexpr uint16_t kQcAwaitStatus = 1u << 1;
constexpr uint16_t kQcPrepared = 1u << 2;
constexpr uint16_t kQcStatusByte = 1u << 3;
constexpr uint16_t kQcAnswer = 1u << 5;
constexpr uint16_t kQcOriginate = 1u << 6;
constexpr uint16_t kQcRetrain = 1u << 7;
constexpr uint16_t kQcCountdown = 1u << 8;
constexpr uint16_t kQcDataUsable = 1u << 10;

constexpr int kQcBlockLength = 6;
constexpr int kQcPresenceBytes = 100;
constexpr uint8_t kQcEmpty = 255;

// The code to send is the pending request code that "!M=" also sets (AtSettings::pending_request).
struct ModemOnHold {
    uint8_t state;           // 1-17
    uint8_t received;        // the hold message code taken from the receive path
    uint8_t argument;        // remembered request argument
    uint8_t last_index;      // last hold index reported
    uint16_t hold_time;      // granted hold time, seconds (0: no limit)
    uint16_t countdown;      // seconds
    uint8_t second_divider;  // 10 ms ticks of the current second
    uint8_t originate;       // the call's originate bit
};

struct QuickConnect {
    uint16_t flags;
    uint8_t state;           // 0-14
    uint8_t status;          // the status byte received by the data path
    uint8_t status_arrived;
    uint16_t countdown;      // 10 ms ticks
    uint8_t short_start;     // bit 2 of the status byte
    uint8_t v34_flag;        // V.34 quick connect (read by the call-waiting sequence)
    uint8_t modulation;      // the modulation the quick connect leads to
    const uint8_t* start_octets;  // sent in place of the start octets (null: the ordinary ones)
    uint8_t start_octet_exchange; // the start-octet exchange flag
    const uint8_t* sender;   // the data the trace drain hands the data pump
    // The line-block path's sender of a 6-byte block (null: none bound).
    void (*send_block)(void* ctx, const uint8_t* bytes, int length);
    void* send_ctx;
    uint8_t area[QC_DATA_SIZE];
};

extern const uint8_t kQcOriginateBlock[kQcBlockLength];
extern const uint8_t kQcAnswerBlock[kQcBlockLength];
// Hold times in seconds by +PMHT value, and the 4-bit reversal a hold-time index travels as.
extern const uint16_t kHoldTimes[16];
uint8_t hold_reverse4(uint8_t v);

void moh_reset(AcuContext* acu);
void moh_step(AcuContext* acu);
// The hold flags (the receive path's event-kind mask).
uint32_t moh_flags(const AcuContext* acu);
void moh_set_flags(AcuContext* acu, uint32_t bits);
void moh_clear_flags(AcuContext* acu, uint32_t bits);

void qc_data_init(AcuContext* acu);
// Ignored above 4000 bytes; otherwise stored in "qcData" and copied into the area.
void qc_data_save(AcuContext* acu, const uint8_t* bytes, unsigned length);
void qc_data_clear(AcuContext* acu);
bool qc_data_present(const AcuContext* acu);
void qc_arm(AcuContext* acu, uint8_t mode);
void qc_step(AcuContext* acu);
bool qc_short_start(const AcuContext* acu);
// The data path hands over an accepted status byte.
void qc_status_received(AcuContext* acu, uint8_t status);

// One 10 ms tick: the quick-connect countdown and, once a second, the hold countdown.
void moh_qc_tick_10ms(AcuContext* acu);
