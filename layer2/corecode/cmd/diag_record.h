// The diagnostic record that "#UD" and "I34" print: a status word and a fixed list of keyed entries, reset at
// every call, filled by call control and connection control while a connection is up; the key/value line
// printer; the level helper at_db256 and the level and echo figures computed from the data pump's readings.
#pragma once

#include <cstdint>

struct AcuContext;

// Keys of the record (hexadecimal, as printed).
enum DiagKey : uint8_t {
    DIAG_VERSION = 0x00,
    DIAG_CALL_TEXT = 0x04,
    DIAG_CALLER_TEXT = 0x05,
    DIAG_RX_LEVEL = 0x10,
    DIAG_TX_LEVEL = 0x11,
    DIAG_MODULATION = 0x12,
    DIAG_MODULATION2 = 0x13,
    DIAG_NEAR_ECHO = 0x14,
    DIAG_FAR_ECHO = 0x15,
    DIAG_DELAY_BYTE = 0x16,
    DIAG_DELAY = 0x17,
    DIAG_V34_OPTIONS = 0x18,
    DIAG_TX_SYMBOL_RATE = 0x22,
    DIAG_RX_SYMBOL_RATE = 0x23,
    DIAG_TX_CARRIER = 0x24,
    DIAG_RX_CARRIER = 0x25,
    DIAG_TX_START_RATE = 0x26,
    DIAG_RX_START_RATE = 0x27,
    DIAG_RETRAINS = 0x30,
    DIAG_RENEGOTIATIONS = 0x31,
    DIAG_TX_FINAL_RATE = 0x34,
    DIAG_RX_FINAL_RATE = 0x35,
    DIAG_EC_PROTOCOL = 0x40,
    DIAG_COMPRESSION = 0x44,
    DIAG_DICTIONARY = 0x45,
    DIAG_IFC_SECOND = 0x50,
    DIAG_IFC_FIRST = 0x51,
    DIAG_LINK_VALUE_58 = 0x58,
    DIAG_LINK_VALUE_59 = 0x59,
    DIAG_TERMINATION = 0x60,
    DIAG_MAKER = 0xFF,
};

// Status-word bits.
constexpr uint32_t kDiagStatusReset = 0x10;
constexpr uint32_t kDiagStatusErrorControl = 0x02;  // LAPM or MNP runs
constexpr uint32_t kDiagStatusConnected = 0xE0;     // set by connection control once a connection is up

constexpr int kDiagTextMax = 31;

// The link-screen readings besides the record's entries (0 until read).
struct DiagLinkReadings {
    uint16_t tx_option;   // transmit and receive option words (trellis bits 10-11, nonlinear 13, shape 14)
    uint16_t rx_option;
    int16_t tx_snr;       // transmit side SNR reading
    int16_t rx_snr;       // SNR computed from the statistics (1/256 dB)
    int32_t offset;       // the frequency offset phase 2 measured (223418 per Hz)
    int16_t frequency;    // frequency offset (1/360 of a symbol per symbol)
    int16_t timing_offset;
    int16_t timing;
};

// The statistics reader's chain, in reading order: every connection reads the first six; V.34 and PCM
// connections go on through the rest.
enum DiagReading : uint8_t {
    DIAG_READ_TX_LEVEL,
    DIAG_READ_RX_LEVEL,
    DIAG_READ_ECHO_REFERENCE,
    DIAG_READ_NEAR_ECHO,
    DIAG_READ_FAR_ECHO,
    DIAG_READ_ROUND_TRIP,
    kDiagCommonReadings,
    DIAG_READ_RX_LEVEL_DB = kDiagCommonReadings,  // the receivers' level reading (dB below 1 mW, plus 5)
    DIAG_READ_SIGNAL,                             // constellation power
    DIAG_READ_NOISE,                              // error power
    DIAG_READ_TX_SNR,
    DIAG_READ_FREQUENCY,
    DIAG_READ_TIMING,
    DIAG_READ_RATE_INDEXES,
    DIAG_READ_TX_OPTIONS,
    DIAG_READ_RX_OPTIONS,
    kDiagReadings,
};

struct DiagnosticRecord {
    uint32_t status;
    uint32_t value[64];               // by row of the entry table (diag_record.cpp)
    char text[2][kDiagTextMax + 1];   // keys 04 and 05
    uint8_t caller_id_present;
    uint8_t statistics_on;            // the statistics reader runs
    uint8_t read_step;                // the chain's next read
    uint32_t reading[kDiagReadings];  // the data pump's line statistics as last read
    uint8_t tx_symbol_index;          // the data pump's rate indexes (V.34)
    uint8_t rx_symbol_index;
    uint8_t tx_carrier_high;          // the high carrier of the symbol rate is used
    uint8_t rx_carrier_high;
    DiagLinkReadings link;
};

// Clears the record: status 16, every value 0 except key 45 = 2048, keys 58 and 59 = 2; termination cause 1.
void at_diag_reset(AcuContext* acu);
// Sets one entry by key (unknown keys are ignored) and reads it back (0 for unknown keys).
void at_diag_set(AcuContext* acu, uint8_t key, uint32_t value);
uint32_t at_diag_get(const AcuContext* acu, uint8_t key);
void at_diag_set_text(AcuContext* acu, uint8_t key, const char* text);
// Prints "DIAG <2A4D3263 kk = value>" and S3 S4. kind 2 byte, 3 16 bits, 4 32 bits, 1 and 5 text.
void at_diag_line(AcuContext* acu, uint8_t kind, uint8_t key, uint32_t value, const char* text = nullptr);
// "#UD": S3 S4, then every printable entry in table order, then the maker line.
void BuildUnimodemDiagnostic(AcuContext* acu);
// Error-control protocol (6 LAPM, 3 MNP) and compression: keys 40 and 44, status bit 1, and the symbol-rate
// and carrier keys 22-25 from the data pump's rate indexes.
void at_diag_set_protocol(AcuContext* acu, uint8_t protocol, uint8_t compression);
// A connection came up or changed rate: modulation, start and final rates, counters and the status bits.
void at_diag_connected(AcuContext* acu);
// One step of the statistics reader (from the connection-control step): one DSP memory read while the reader
// is on and the data pump's connection state is 2, 8 or 11, and the level, echo and delay entries.
void at_diag_statistics(AcuContext* acu);
// One DSP memory read of a 2- or 4-byte value; false when no value came back.
bool diag_read_memory(AcuContext* acu, uint32_t address, uint8_t bytes, uint32_t* value);
// "I34": the physical-link screen, after four DSP memory reads (the transmit and receive option words and
// the two offsets).
void ShowLinkDiagnostic(AcuContext* acu);

// The symbol rate (baud) and carrier (Hz) of a V.34 symbol-rate index 0-5 (0 for others).
uint16_t diag_symbol_rate(uint8_t index);
uint16_t diag_carrier(uint8_t index, bool high);

// Hexadecimal dump: `count` bytes as pairs of upper-case digits, a blank after every fourth byte, into `out`
// (at least kHexDumpChars(count) bytes); returns `out`.
constexpr unsigned kHexDumpChars(unsigned count) { return count * 2 + count / 4 + 1; }
char* at_hex_dump(char* out, const uint8_t* bytes, unsigned count);

// 10 x log10(x) in 1/256 dB (x = 0 gives 0).
int32_t at_db256(uint32_t x);
// The level and echo figures of V.34 and V.90 connections from the statistics readings.
int32_t diag_tx_level(uint32_t tx_power);
int32_t diag_near_echo_loss(uint32_t echo_reference, uint32_t near_echo);
int32_t diag_round_trip_delay(uint32_t delay_count);
int32_t diag_v34_snr(uint32_t signal, uint32_t noise);
int32_t diag_v90_rx_level(int32_t reading, uint32_t power);
int32_t diag_v90_snr(uint32_t power, uint32_t noise);
