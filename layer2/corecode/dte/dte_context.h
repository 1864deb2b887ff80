// Per-device state of the DTE side: the application queue pair, the rings of the modem core, the
// emulated modem-control lines and the data-mode flow settings. One record per modem (embedded in
// the device extension); every dte_* routine takes it first.
#pragma once

#include <atomic>
#include <cstdint>

#include "layer2/corecode/dte/byte_ring.h"
#include "platform/kernel.h"

struct PortRecord;
struct LineBlock;

enum DteModeValue : uint8_t {
    DTE_MODE_COMMAND = 1,  // clamped: application bytes go to the command input ring
    DTE_MODE_DATA = 2,     // asynchronous data
    DTE_MODE_FAX = 3,
    DTE_MODE_VOICE = 4,
    DTE_MODE_SYNC = 5,     // synchronous access
};

constexpr uint16_t DTE_DATA_RING_SIZE = 1024;
constexpr uint16_t DTE_CMD_RING_SIZE = 2048;
constexpr uint16_t DTE_SNIFF_RING_SIZE = 44;
constexpr uint32_t APP_BUILTIN_QUEUE_SIZE = 4096;

// The application queue pair. The port layer chooses the buffers and sizes (built-in 4096-byte
// storage or an allocated block). Receive side under the application-receive lock, transmit
// side under the application-transmit lock.
struct AppQueue {
    uint8_t* rx_buffer;
    uint32_t rx_size;
    uint8_t* tx_buffer;
    uint32_t tx_size;
    uint32_t rx_count;
    uint32_t rx_read;
    uint32_t rx_write;
    uint32_t tx_count;
    uint32_t tx_read;
    uint32_t tx_write;
    // [0] characters stored in the receive queue, [1] characters taken from the transmit queue,
    // [2..5] error counts.
    uint32_t stats[6];
};

// The emulated serial lines and line settings; the port layer reads the fields directly.
struct DteLineState {
    uint8_t data_bits;   // default 8
    uint8_t stop_bits;   // code 0-2
    uint32_t baud_rate;  // default 14400
    uint8_t parity;      // 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::atomic<uint8_t> dtr;
    std::atomic<uint8_t> dsr;
    std::atomic<uint8_t> rts;
    std::atomic<uint8_t> cts;
    std::atomic<uint8_t> dcd;
    std::atomic<uint8_t> ri;
    std::atomic<uint8_t> brk;
    std::atomic<uint8_t> break_to_dte;
};

// Data-mode parameters and flow state of the DTE side.
struct DteFlowSettings {
    uint8_t in_options;   // bit 0 honour XON/XOFF from the application, bit 1 honour RTS
    uint8_t in_xon;
    uint8_t in_xoff;
    uint8_t out_options;  // bit 0 send XON/XOFF to the application, bit 1 drive CTS
    uint8_t out_xon;
    uint8_t out_xoff;
    uint8_t pass_through;
    uint8_t escape_char;
    // The escape detector: counted by the application's bytes and timed by the 10 ms tick, two threads.
    std::atomic<uint16_t> guard_time;
    std::atomic<uint16_t> guard_countdown;
    std::atomic<uint16_t> guard_divider;
    std::atomic<uint16_t> escape_count;
    std::atomic<uint16_t> leading_guard;
    std::atomic<uint16_t> quiet_steps;   // 20 ms steps since the application's last byte (saturating)
    std::atomic<uint8_t> escape_armed;   // the first escape character came after a guard time of quiet
    uint16_t flow_off_mark;
    uint16_t flow_on_mark;
    std::atomic<uint8_t> flow_off_asserted;
    std::atomic<uint8_t> flow_off_pending;
    std::atomic<uint8_t> flow_on_pending;
    std::atomic<uint8_t> output_running;
    std::atomic<uint8_t> output_held;
    std::atomic<uint8_t> break_signalling;  // a break is being signalled towards the application
    std::atomic<uint8_t> break_in_progress;  // a break from the application is being timed
    // Break towards the application, under the DTE-output lock: state 0 none, 1 queued at a to-DTE ring
    // position, 3 being signalled (with its duration countdown in 10 ms ticks).
    uint8_t break_state;
    uint16_t break_position;
    uint16_t break_countdown;
    uint8_t data_mask;
    uint8_t data_bits;
    uint8_t parity;
    std::atomic<uint8_t> clamp;
    uint8_t sync_remembered;
    std::atomic<uint8_t> voice_dte;
    std::atomic<uint8_t> input_discard;
    std::atomic<uint8_t> data_mode_marker;
};

struct DteContext {
    PortRecord* port;  // the port layer of the same device
    LineBlock* line_block;  // the line block of the same device (null: no line side bound)
    struct VoiceEngine* voice;  // the voice engine of the same device (null: none)
    struct DataLink* data_link;  // error control of the same device (null: plain buffered mode only)
    // The command side's escape detector, reset when data mode starts: set by the command side when it binds
    // to this DTE side (null: no command side).
    void (*escape_reset)(void* owner);
    void* escape_owner;

    KSPIN_LOCK app_rx_lock;
    KSPIN_LOCK app_tx_lock;
    KSPIN_LOCK from_lock;     // DTE-input lock
    KSPIN_LOCK to_lock;       // DTE-output lock
    KSPIN_LOCK cmd_in_lock;
    KSPIN_LOCK cmd_out_lock;
    KSPIN_LOCK sniff_lock;

    AppQueue app;
    ByteRing<DTE_DATA_RING_SIZE> from_dte;
    ByteRing<DTE_DATA_RING_SIZE> to_dte;
    ByteRing<DTE_CMD_RING_SIZE> cmd_in;
    ByteRing<DTE_CMD_RING_SIZE> cmd_out;
    ByteRing<DTE_SNIFF_RING_SIZE> sniff;
    std::atomic<uint8_t> sniffing;

    DteLineState line;
    std::atomic<uint8_t> mode;  // DteModeValue
    DteFlowSettings flow;
    std::atomic<uint8_t> cmd_out_held;
    std::atomic<uint8_t> cmd_flag;
    std::atomic<uint8_t> conn_state;  // connection state of call control (8 and 11 suppress counting)

    // Data-path counters: sent to the line, received from the line, transmit discards, receive discards.
    std::atomic<uint32_t> sent_count;
    std::atomic<uint32_t> received_count;
    std::atomic<uint32_t> tx_discards;
    std::atomic<uint32_t> rx_discards;

    std::atomic<uint8_t> mc_rx_idle;        // 1 while no mc_rx_int runs (taken by exchange with 0)
    std::atomic<uint8_t> cmd_out_idle;      // 1 while no command-output flush runs
    std::atomic<uint8_t> drain_active;      // re-entry guard of dte_to_drain
    std::atomic<uint8_t> break_timed_option;
    std::atomic<uint8_t> ec_started;  // set by ec_start, cleared by ec_stop
    // An escape sequence completed with its guard times (data modes): call control takes it as a break event.
    std::atomic<uint8_t> escape_event;
    uint8_t break_ticks;
    uint8_t last_break_length;

    // 10 ms tick chain: 10 ms count, then 100 ms, 1 s and 1 min counts with their countdowns.
    uint16_t tick_10ms;
    uint8_t countdown_100ms;
    uint8_t countdown_1s;
    uint8_t countdown_1min;
    uint32_t count_100ms;
    uint32_t count_1s;
    uint32_t count_1min;
};
