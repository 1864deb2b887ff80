// The port layer's records: the comm state, the port record and the port-operation table.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/kernel.h"

struct DteContext;
struct ModemDeviceExtension;

constexpr uint32_t PORT_MAXDWORD = 0xFFFFFFFFu;
constexpr uint8_t PORT_OPEN_MARKER = 0xA5;

// Handshake flags of the comm state.
enum : uint32_t {
    PCS_BINARY = 0x1,
    PCS_RTS_DISABLED = 0x2,
    PCS_PARITY_CHECK = 0x4,
    PCS_CTS_OUT_FLOW = 0x8,
    PCS_DSR_OUT_FLOW = 0x10,
    PCS_DTR_DISABLED = 0x80,
    PCS_XON_XOFF_OUT = 0x100,
    PCS_XON_XOFF_IN = 0x200,
    PCS_ERROR_CHAR = 0x400,
    PCS_NULL_DISCARD = 0x800,
    PCS_DTR_HANDSHAKE = 0x2000,
    PCS_RTS_HANDSHAKE = 0x4000,
    PCS_DSR_SENSITIVITY = 0x10000,
    PCS_TX_CONTINUE_ON_XOFF = 0x20000,
    PCS_DTR_ENABLED = 0x40000,
    PCS_ABORT_ON_ERROR = 0x80000,
    PCS_RTS_ENABLED = 0x100000,
    PCS_RTS_TOGGLE = 0x200000,
};

// Field mask of port_set_comm_state.
enum : uint32_t {
    PCS_SET_BAUD = 0x1,
    PCS_SET_HANDSHAKE = 0x2,
    PCS_SET_PARITY = 0x4,  // parity and XON limit
    PCS_SET_XOFF_LIMIT = 0x8,
    PCS_SET_BYTE_SIZE = 0x10,
    PCS_SET_STOP_BITS = 0x40,
    PCS_SET_XON_CHAR = 0x80,
    PCS_SET_XOFF_CHAR = 0x100,
    PCS_SET_ERROR_CHAR = 0x200,
    PCS_SET_EOF_CHAR = 0x400,
    PCS_SET_EVENT_CHAR1 = 0x800,
    PCS_SET_EVENT_CHAR2 = 0x1000,
    PCS_SET_DCD_TIMEOUT = 0x2000,
    PCS_SET_CTS_TIMEOUT = 0x4000,
    PCS_SET_DSR_TIMEOUT = 0x8000,
    PCS_SET_SPARE48 = 0x10000,
    PCS_SET_ESCAPE_BYTE = 0x20000,
};

// The comm state (52 bytes; no pointers, so the offsets are exact on every target).
struct PortCommState {
    uint32_t length;       // 52
    uint32_t baud;
    uint32_t handshake;
    uint32_t xon_limit;
    uint32_t xoff_limit;
    uint32_t spare20;      // always copied by a set
    uint8_t byte_size;
    uint8_t parity;
    uint8_t stop_bits;
    uint8_t xon_char;
    uint8_t xoff_char;
    uint8_t error_char;
    uint8_t eof_char;
    uint8_t event_char1;
    uint8_t event_char2;
    uint8_t escape_byte;   // the status-insertion escape byte (set with mask 0x20000)
    uint8_t pad[2];
    uint32_t dcd_timeout;  // hold time-outs in ms: 0 none, MAXDWORD infinite
    uint32_t cts_timeout;
    uint32_t dsr_timeout;
    uint32_t spare48;
};
static_assert(sizeof(PortCommState) == 52, "comm state is 52 bytes");
static_assert(offsetof(PortCommState, byte_size) == 24 && offsetof(PortCommState, event_char2) == 32 &&
                  offsetof(PortCommState, dcd_timeout) == 36 && offsetof(PortCommState, spare48) == 48,
              "comm state offsets");

// Queue status filled by port_get_queue_status / port_clear_error.
struct PortQueueStatus {
    uint32_t flags;     // 0x1 CTS hold, 0x2 DSR hold, 0x8 XOFF sent, 0x10 XOFF received, 0x20/0x40 tx-char state
    uint32_t rx_count;
    uint32_t tx_count;
};

// Last-error codes.
enum : int32_t {
    PORT_ERR_NONE = 0,
    PORT_ERR_ALREADY_OPEN = -2,
    PORT_ERR_NOT_OPEN = -3,
    PORT_ERR_BAD_STATE = -5,
    PORT_ERR_TASK = -10,
    PORT_ERR_BYTE_SIZE = -11,
    PORT_ERR_ESCAPE = -20,
    PORT_ERR_BAD_ARG = -21,
    PORT_ERR_CHAR_WAITING = 0x4000,
};

// Port error word bits.
enum : uint32_t {
    PORT_ERROR_CTS_TIMEOUT = 0x20,
    PORT_ERROR_DSR_TIMEOUT = 0x40,
    PORT_ERROR_DCD_TIMEOUT = 0x80,
    PORT_ERROR_TX_INCOMPLETE = 0x100,
};

// Hold bits of the port (one to one the hold reasons of the comm status).
enum : uint32_t {
    PORT_HOLD_CTS = 0x01,
    PORT_HOLD_DSR = 0x02,
    PORT_HOLD_DCD = 0x04,
    PORT_HOLD_XOFF_SENT = 0x08,
    PORT_HOLD_XOFF_RECEIVED = 0x10,
    PORT_HOLD_EOF = 0x20,
    PORT_HOLD_IMMEDIATE = 0x40,
};

// Notification flags.
enum : uint8_t {
    PORT_NOTIFIED_RX = 0x01,
    PORT_NOTIFIED_TX = 0x02,
    PORT_NOTIFIED_EVENT = 0x04,
    PORT_OPEN_HOLD = 0x80,
};

// Receive flow control towards the modem side (rx_flow_asserted).
enum : uint8_t {
    PORT_RXFLOW_DTR = 0x01,
    PORT_RXFLOW_RTS = 0x02,
    PORT_RXFLOW_XOFF_SENT = 0x04,
    PORT_RXFLOW_XOFF_PENDING = 0x08,
    PORT_RXFLOW_XON_PENDING = 0x10,
};

struct PortRecord;
typedef void (*PortCallback)(PortRecord* port, void* data, uint32_t code, uint32_t events);

// Slot order of the port-operation table. Every operation returns a boolean (non-zero success) and
// takes the port record first; the arguments after it are passed as untyped words (the caller knows
// each slot's signature, see port_ops.h for the typed routines).
enum PortSlot : int {
    PORT_SET_COMM_STATE = 0,
    PORT_GET_COMM_STATE = 1,
    PORT_SETUP_QUEUES = 2,
    PORT_TRANSMIT_CHAR = 3,
    PORT_CLOSE = 4,
    PORT_GET_QUEUE_STATUS = 5,
    PORT_CLEAR_ERROR = 6,
    PORT_SET_MSR_SHADOW = 7,
    PORT_GET_PROPERTIES = 8,
    PORT_ESCAPE = 9,
    PORT_PURGE = 10,
    PORT_SET_EVENT_MASK = 11,
    PORT_GET_EVENT_MASK = 12,
    PORT_WRITE = 13,
    PORT_READ = 14,
    PORT_ENABLE_NOTIFICATION = 15,
    PORT_SET_READ_CALLBACK = 16,
    PORT_SET_WRITE_CALLBACK = 17,
    PORT_GET_MODEM_STATUS = 18,
    PORT_GET_COMM_CONFIG = 19,
    PORT_SET_COMM_CONFIG = 20,
    PORT_GET_ERROR = 21,
    PORT_SLOT_22 = 22,
    PORT_OPEN = 23,
    PORT_SLOT_24 = 24,
    PORT_SLOT_COUNT = 25,
};

typedef int (*PortOperation)(PortRecord* port, uintptr_t a1, uintptr_t a2, uintptr_t a3, uintptr_t a4);

struct PortFunctionTable {
    PortOperation slot[PORT_SLOT_COUNT];
};

// The port record. The leading fields keep their order; sizes grow on 64-bit because of the
// pointers (184 bytes on the 32-bit original).
struct PortRecord {
    uint32_t record_size;  // 184
    uint32_t version;      // 1
    PortFunctionTable* table;
    uint32_t slot_count;   // 25
    // Time-out words: read interval, read total multiplier, read total constant, write total
    // multiplier, write total constant (MAXDWORD infinite).
    uint32_t read_interval;
    uint32_t read_multiplier;
    uint32_t read_constant;
    uint32_t write_multiplier;
    uint32_t write_constant;
    PortCommState state;
    char signature[4];     // "PORT"
    std::atomic<uint8_t> open_marker;
    uint32_t irq_level;
    volatile uint8_t* window;
    uint8_t xon_char;      // 17
    uint8_t xoff_char;     // 19
    uint32_t const128;
    uint32_t const16;

    // ---- working state of the port layer ----
    ModemDeviceExtension* ext;
    DteContext* dte;
    uint8_t name[12];                     // name record copied at open
    std::atomic<uint8_t> task_started;
    PortFunctionTable table_storage;
    std::atomic<int32_t> last_error;
    std::atomic<uint32_t> error_word;     // port error bits and comm error bits
    std::atomic<uint32_t> hold;           // PORT_HOLD_*
    std::atomic<uint8_t> msr;             // modem-status byte
    uint8_t* msr_shadow;                  // application's copy (slot 7)
    std::atomic<uint8_t> notify_flags;    // PORT_NOTIFIED_*, PORT_OPEN_HOLD
    std::atomic<uint8_t> state_set;
    uint8_t hold_required;                // MSR_CTS / MSR_DSR / MSR_DCD lines required for sending
    uint8_t hold_infinite;                // required lines whose hold time-out is infinite
    std::atomic<uint8_t> rx_handshake;    // bit 0 receive hold by DTR, bit 1 by RTS
    std::atomic<uint8_t> rx_flow_asserted;// bit 0 DTR dropped, bit 1 RTS dropped, bit 2 XOFF sent, bit 3 XOFF pending
    uint32_t rx_flow_limit;               // receive count at which receive flow control stops the sender
    uint32_t rx_flow_threshold;           // receive count at which it releases (and the 80 % event)
    std::atomic<uint8_t> eof_seen;
    std::atomic<uint8_t> rx_disabled;
    std::atomic<uint8_t> break_flag;
    std::atomic<uint8_t> enhanced_notification;
    std::atomic<int> immediate_char;      // -1 when none waits
    std::atomic<uint32_t> rx_count_word;  // escape 19
    std::atomic<uint32_t> last_rx_ms;

    // Event mask and notification (under the extension's event-mask lock).
    uint32_t event_mask;
    uint32_t event_internal;
    uint32_t* event_word;
    uint32_t* event_word_reported;
    PortCallback notify_routine;          // slot 15 enable notification
    void* notify_data;
    std::atomic<uint8_t> notification_enabled;

    // Callbacks (receive under the receive-callback lock, transmit under the transmit-callback lock).
    PortCallback rx_callback;
    void* rx_callback_data;
    uint32_t rx_threshold;
    PortCallback tx_callback;
    void* tx_callback_data;
    uint32_t tx_threshold;
    std::atomic<uint8_t> rx_timer_disabled;
    KTIMER read_check_timer;
    KDPC read_check_dpc;
    std::atomic<uint8_t> read_check_armed;

    // Read and write time-out counters in ms (advanced by the data-path tick) and their limits.
    std::atomic<uint32_t> read_interval_elapsed;
    std::atomic<uint32_t> read_total_elapsed;
    std::atomic<uint32_t> write_total_elapsed;
    std::atomic<uint32_t> read_total_limit;
    std::atomic<uint32_t> write_total_limit;
    std::atomic<uint8_t> read_abort;
    std::atomic<uint8_t> write_abort;

    // Allocated queue blocks (sizes above the built-in 4096 bytes) and the built-in storage.
    uint8_t* rx_block;
    uint8_t* tx_block;
    uint8_t rx_builtin[4096];
    uint8_t tx_builtin[4096];
};
