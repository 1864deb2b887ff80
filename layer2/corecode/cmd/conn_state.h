// Per-device state of connection control: the connection-control state machine, the data pump's last
// connection state, the rates and counters of the connection, the rate-adaptation countdowns, the line
// quality and the connection log. Held in AcuContext (`conn`); everything here runs in the controller's
// cooperative task.
#pragma once

#include <cstdint>

// Connection-control states.
enum ConnStateValue : uint8_t {
    CONN_IDLE = 0,
    CONN_ORIGINATING = 1,
    CONN_ANSWERING = 2,
    CONN_CONNECTED = 3,
    CONN_CLEAR_REQUESTED = 4,
    CONN_CLEARED = 5,
    CONN_RETRAINING = 8,
    CONN_FAX_ORIGINATE = 9,
    CONN_FAX_ANSWER = 10,
    CONN_FAX_CONNECTED = 11,
    CONN_FAX_CLEARED = 12,
    CONN_PCM_TRAINING = 14,
    CONN_PCM_STAGE_15 = 15,
    CONN_PCM_STAGE_16 = 16,
    CONN_RENEGOTIATING = 17,
};

// The data pump's connection state (register 54, low nibble).
enum PumpConnState : uint8_t {
    PUMP_IDLE = 0,
    PUMP_LINKED = 1,
    PUMP_CONNECTED = 2,
    PUMP_RETRAINING = 3,
    PUMP_DROPPING = 4,
    PUMP_TEST_LOOP = 5,
    PUMP_TEST_REQUEST = 6,
    PUMP_FAX_CONNECTED = 8,
    PUMP_RENEGOTIATING = 13,
};

// Modulation codes of the start packet and the status screen.
enum ModulationCode : uint8_t {
    MOD_BELL103 = 0,
    MOD_BELL212 = 1,
    MOD_V21 = 2,
    MOD_V21_CHAN2 = 3,
    MOD_V23_ADX = 4,
    MOD_V23_HDX = 5,
    MOD_V22 = 6,
    MOD_V22BIS = 7,
    MOD_V27_SHORT = 8,
    MOD_V27_LONG = 9,
    MOD_V27_TER = 10,
    MOD_V29 = 11,
    MOD_V32 = 12,
    MOD_V32_TCM = 13,
    MOD_V17 = 14,
    MOD_V33 = 15,
    MOD_V32BIS = 16,
    MOD_V34_SYM = 17,
    MOD_V34 = 18,
    MOD_X2 = 22,
    MOD_V90 = 23,
    MOD_V92 = 24,
    MOD_NONE = 255,
};

constexpr int kConnLogEntries = 20;
constexpr int kConnLogTextMax = 29;  // characters, then a terminating zero

struct ConnLogEntry {
    uint32_t time_ms;  // the DSP message router's millisecond clock
    uint16_t rx_rate;
    uint16_t tx_rate;
    char text[kConnLogTextMax + 1];
};

// A ring of 20 entries: adding the 20th drops the oldest, so it keeps the last 19.
struct ConnectionLog {
    ConnLogEntry entry[kConnLogEntries];
    uint32_t write_index;
    uint32_t read_index;
};

// Start octets: this side's (position 0 is the 255 marker, then the octets) and the far end's (a message as the
// line block accepted it, zero-terminated).
constexpr int kStartOctetsMax = 16;
constexpr int kFarOctetsMax = 33;

struct ConnControl {
    uint8_t state;               // ConnStateValue
    uint8_t pump_state;          // last connection state seen (PumpConnState)
    uint8_t connection_reported; // the data pump reported a connection during this call
    uint8_t connected;           // connected flag (cleared when the pump goes idle)
    uint8_t link_up;
    uint8_t originate;           // this call originated
    uint8_t requested;           // this side asked for the connection (a start packet was sent)
    uint8_t modulation;          // modulation of the connection (ModulationCode)
    uint8_t requested_modulation;
    uint8_t half_duplex;
    uint8_t v92;                 // modulation 23 is shown as "V92"
    uint8_t ec_mode;             // 9 when synchronous access is asked for, else 0
    uint8_t disconnect_code;     // reason code of the clear-down (18 dropping, 9 failed retrain)
    uint8_t disconnect_reason;   // disconnect reason of the connection (2, 61, 62, 63, 66, 25)
    uint32_t first_rate;         // the rate first agreed in this call
    uint32_t tx_rate;
    uint32_t rx_rate;
    uint32_t last_tx_rate;
    uint32_t last_rx_rate;
    uint32_t initial_tx_rate;
    uint32_t initial_rx_rate;

    // Counters shown by the status screen.
    uint32_t connects_first_rate;
    uint32_t connects_other_rate;
    uint32_t retrains;
    uint32_t retrains_own;
    uint32_t renegotiations;
    uint32_t renegotiations_own;

    // Timers in 10 ms ticks (0 stopped).
    uint16_t retrain_timer;      // 2000 after a retrain (9000 for V.90)
    uint16_t reneg_timer;        // 301 after a renegotiation (501 for V.90)
    uint16_t inactivity_guard;   // 500 after any state other than connected
    uint16_t raise_countdown;    // rate adaptation: 501 before a rate raise (stops at 1)
    uint16_t fall_countdown;     // 101 before a rate fall-back (stops at 1)
    uint16_t post_retrain_countdown;  // 501 after a retrain
    uint8_t monitor_divider;     // the rate monitor runs every 10 ticks
    uint8_t auto_rate;           // automatic rate raising and lowering
    uint8_t second_rate_option;  // rate lowering held off
    uint32_t last_raised_rate;
    uint32_t last_lowered_rate;

    // Line quality.
    uint16_t quality_a;
    uint16_t quality_b;
    uint8_t quality;             // 0 good, 1 fair, 2 poor, 3 bad
    uint32_t rx_frames;          // frame ends counted by the line block

    // Start octets of the V.8 exchange.
    uint8_t v8_exchange;         // the start-octet exchange runs (the exchange flag)
    uint8_t v8_capable;          // this call's start packets ask for the V.8 procedure
    uint8_t v8_step;
    uint8_t v8_result;           // the V.8 result code: 7 menus exchanged, 8 call indicators seen (0 none)
    uint16_t v8_countdown;       // 10 ms ticks before the call indicators go again
    uint8_t own_octets[kStartOctetsMax];
    uint8_t own_length;          // the marker, the sync octet and the octets
    uint8_t far_octets[kFarOctetsMax];
    uint8_t far_length;

    // Fax class 1 modulations: the transmit hold (0 none, 1 receive started, 2 a transmit hold is pending)
    // and the training countdown of the modulation last started (10 ms ticks).
    uint8_t fax_hold;
    uint16_t fax_training;

    ConnectionLog log;
};
