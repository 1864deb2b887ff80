// The line block: moves a connection's data between the controller and the data pump through the register
// window's data chunks (received bytes in registers 20-53, bytes to send in 84-117, at most 32 a chunk), and
// the line data path that selects how those chunks are filled: plain buffered bytes through the two line
// rings, or whole frames (LAPM or MNP framed by the data pump) handed over by error control.
//
// One record per device. The service routine runs after every event of the data pump (the device's DPC)
// and whenever a producer kicks it; it is serialised on itself, so two runs never take one chunk twice.
#pragma once

#include <atomic>
#include <cstdint>

#include "layer2/corecode/dce/line_fax.h"
#include "layer2/corecode/dce/octet_frame.h"
#include "layer2/corecode/dce/v80.h"
#include "layer2/corecode/dte/byte_ring.h"
#include "platform/kernel.h"
#include "window/dsp_interface_block.h"

struct FrameNode;

// How the bytes of a connection travel (the argument of lb_set_mode).
enum LineMode : uint8_t {
    LINE_MODE_MNP_OCTET = 0,   // MNP framed by the controller (SYN DLE STX ... DLE ETX CRC)
    LINE_MODE_MNP_FRAMED = 1,  // MNP frames, HDLC by the data pump
    LINE_MODE_PLAIN = 2,       // plain buffered bytes
    LINE_MODE_LAPM = 3,        // LAPM frames, HDLC by the data pump
    LINE_MODE_SYNC = 4,        // synchronous access (V.80)
    LINE_MODE_VOICE = 5,
    LINE_MODE_CALLER_ID = 6,
    LINE_MODE_STARTUP = 7,     // a connection's set-up: the start-up block out, the far end's messages in
};

// Framing kinds of packet 0x61.
enum LineFramingKind : uint8_t {
    LINE_FRAMING_ASYNC = 0,
    LINE_FRAMING_SYNC = 1,
    LINE_FRAMING_HDLC = 2,
    LINE_FRAMING_DETECT = 4,
};

constexpr uint16_t LINE_RING_SIZE = 1024;
constexpr uint16_t LINE_RX_DROP_ABOVE = 1021;  // a receive ring holding more drops the byte
constexpr uint16_t LINE_RX_HOLD_MARK = 896;    // line flow control: held from here
constexpr uint16_t LINE_RX_RELEASE_MARK = 256; // and released below this
constexpr uint16_t LINE_MAX_FRAME_MNP = 266;   // frame check octets included
constexpr uint16_t LINE_MAX_FRAME_LAPM = 134;
constexpr uint16_t LINE_TX_BOGUS_COUNT = 512;

// What the line block needs of the rest of the controller. Null entries are passed over.
struct LineBlockHost {
    void* ctx;
    // Runs the service at once, as if the data pump had signalled (dsp_run_interrupt_now).
    void (*kick)(void* ctx);
    // Sends an ICD packet and waits for its acknowledgement; false when it could not be sent.
    bool (*send_packet)(void* ctx, uint8_t code, const uint8_t* payload, int length);
    // Register access for the set-up bits outside the data chunks.
    uint8_t (*reg_read)(void* ctx, int reg);
    void (*reg_write)(void* ctx, int reg, uint8_t value);
    // Connection control counts a bad or aborted receive frame.
    void (*count_rx_frame)(void* ctx);
    // The data-path mode byte noted for the controller (synchronous access on or off).
    void (*note_data_mode)(void* ctx, uint8_t sync);
    // Whether the line is retraining: the plain path's drop timer does not count meanwhile.
    bool (*retraining)(void* ctx);
};

// Where framed paths get the next frame to send and hand over received ones (error control's side).
struct LineFrameOps {
    void* ctx;
    // The next frame to send (data[] holds length octets), or null.
    FrameNode* (*tx_next)(void* ctx);
    // A received frame is complete (its bad flag set when it was); returns the next receive buffer or null.
    FrameNode* (*rx_done)(void* ctx, FrameNode* done);
};

// What the line side tells error control when it serves its background step (lb_background).
struct LineEcReports {
    void* ctx;
    // The link set-up was given up for the plain path (LineFallbackReason); the line is on it already.
    void (*fallback)(void* ctx, uint8_t reason);
    // The V.42 detection phase came to a result.
    void (*detection)(void* ctx, uint8_t reason, uint8_t result);
};

// The plain path's fall-back options while a link is set up on the octet-framed path (lb_plain_setup): a far
// end that sends plain characters instead of a link request makes the set-up give way to the plain path.
// Guarded by the line-receive lock.
enum LinePlainOption : uint8_t {
    LINE_PLAIN_DROP_TIMER = 0x01,  // give the set-up up after the drop time
    LINE_PLAIN_FALLBACK_CHAR = 0x02,  // give it up on the fall-back character
};

enum LineFallbackReason : uint8_t {
    LINE_FALLBACK_DROP_TIMER = 0,
    LINE_FALLBACK_CHARACTER = 1,
    LINE_FALLBACK_RAW_BYTES = 2,
};

constexpr uint16_t LINE_RAW_FALLBACK_BYTES = 200;  // raw bytes kept without a frame: the set-up gives way
constexpr uint8_t LINE_TICKS_PER_SECOND = 100;

struct LinePlainOptions {
    uint8_t raw_buffering;    // received bytes are also kept in the line receive ring
    uint8_t fallback_enable;
    uint8_t fallback_char;    // compared on its low 7 bits
    uint16_t drop_seconds;    // seconds left before the set-up is given up; 0: the timer is stopped
    uint8_t drop_ticks;       // 10 ms ticks into the current second
};

struct LineCounters {
    std::atomic<uint32_t> sent;           // bytes written to transmit chunks
    std::atomic<uint32_t> received;       // bytes taken from receive chunks
    std::atomic<uint32_t> tx_discards;    // bytes dropped at a full transmit ring
    std::atomic<uint32_t> rx_discards;    // bytes dropped at a full receive ring
    std::atomic<uint32_t> bad_chunks;     // chunks refused: count above 32 or a status the path does not know
    std::atomic<uint32_t> bad_frames;     // frames marked bad (status, overlong, no buffer)
    std::atomic<uint32_t> chunks_in;
    std::atomic<uint32_t> chunks_out;
    std::atomic<uint32_t> breaks;         // break chunks from the line (status 4)
    std::atomic<uint32_t> bogus_frames;   // transmit frames dropped for an impossible length
};

// The V.42 detection phase on the line (asynchronous characters): the originator sends ODP (0x11 and 0x91 in
// turn) until the answerer's ADP pairs ('E' then 'C', 'M' or NUL) decide, the answerer sends its ADP once it
// has seen four ODP characters in a row. Guarded by its own lock: the service, the 10 ms tick and error
// control all reach it.
constexpr uint16_t LINE_DETECT_FRAME_OCTETS = 64;  // a link request fits; a longer frame counts as bad

struct LineDetect {
    KSPIN_LOCK lock;
    uint8_t active;
    uint8_t originator;
    uint8_t answer_code;      // 0 'C', 1 'M', 2 NUL
    uint8_t started_code;     // the answer code detection was started with
    uint16_t timeout;         // ticks left (10 ms); 0: timed out
    uint8_t odp_char;         // expected (answerer) or next sent (originator): 0x11 or 0x91
    uint8_t odp_countdown;    // ODP characters still to see in a row
    uint8_t odp_seen;
    uint8_t pairs_to_send;
    uint8_t pairs_sent;       // ADP pairs written since the last drain
    uint8_t tx_pending;       // a transmit turn is due
    uint16_t pacing;          // ticks to the next transmit turn
    uint16_t pacing_ticks;    // ticks between turns at this line rate
    uint16_t line_rate;
    uint16_t drain;           // answerer: ticks for the last ADP to leave before detection ends
    uint8_t flag_countdown;   // HDLC flag octets still to see in a row
    uint8_t last_pair;        // originator: character of the previous ADP pair (255 none)
    uint8_t e_seen;           // originator: 'E' armed the next character
    uint8_t error_mark;
    uint8_t result;           // 0 LAPM, 1 MNP, 2 no error control, 255 none
    uint8_t reason;           // 0 decided, 1 timed out, 2 HDLC flags heard, 3 MNP frame
    uint8_t result_ready;
    // Every received byte also runs an octet-framed MNP receiver: a caller that starts MNP at once (its link
    // request) is heard during detection. The frame itself is not kept; the caller sends its request again.
    OctetRx mnp_rx;
    uint8_t mnp_frame[LINE_DETECT_FRAME_OCTETS];
};

// The start-up path of a connection's set-up (the V.8 menus): a block of up to 32 bytes that the data pump
// sends once or over and over, and the receiver of the far end's messages. A message starts with the octet
// 0xE0 and runs to the next one; it is accepted when the same message arrives twice in a row. Between
// messages the receiver counts call indicators (a zero octet, then a call-function octet) and, once told to,
// the far end's closing zero octets.
constexpr uint8_t LINE_STARTUP_BLOCK_MAX = 32;
constexpr uint8_t LINE_STARTUP_MESSAGE_MAX = 32;  // a longer message is dropped

enum LineStartupRxState : uint8_t {
    LINE_STARTUP_WAIT = 0,
    LINE_STARTUP_AFTER_ZERO = 1,  // a zero octet came: a call-function octet now is a call indicator
    LINE_STARTUP_COLLECT = 2,
    LINE_STARTUP_COMPARE = 3,
    LINE_STARTUP_ACCEPTED = 4,    // everything is dropped until the receiver is reset
    LINE_STARTUP_ZEROS = 5,       // counting consecutive zero octets
    LINE_STARTUP_DONE = 6,        // three came; everything is dropped
};

struct LineStartup {
    // Transmit (line-transmit lock).
    uint8_t repeat;
    uint8_t length;  // 0: nothing to send
    uint8_t block[LINE_STARTUP_BLOCK_MAX];
    // Receive (line-receive lock).
    uint8_t state;        // LineStartupRxState
    uint8_t position;     // bytes of the message being received
    uint8_t candidate;    // length of the message the next copy is compared with (0 none)
    uint8_t zeros;        // consecutive zero octets (in LINE_STARTUP_ZEROS)
    uint8_t indicators;   // call indicators counted
    uint8_t collected[LINE_STARTUP_MESSAGE_MAX];
    uint8_t message[LINE_STARTUP_MESSAGE_MAX + 1];  // the accepted message, zero-terminated
    uint8_t message_length;                         // 0: none accepted yet
};

struct LineBlock {
    std::atomic<DspInterfaceBlock*> window;  // the data pump's register window (null: none bound)
    LineBlockHost host;
    LineFrameOps frames;

    // Path flags, changed by the mode switch inside the device section.
    std::atomic<uint8_t> active;       // the service does nothing while 0
    std::atomic<uint8_t> mode;         // LineMode
    std::atomic<uint8_t> framed;       // 1 on the LAPM and MNP framed paths

    // Line rings: received bytes (line-receive lock) and bytes to send (line-transmit lock).
    KSPIN_LOCK rx_lock;
    KSPIN_LOCK tx_lock;
    ByteRing<LINE_RING_SIZE> rx;
    ByteRing<LINE_RING_SIZE> tx;
    std::atomic<uint8_t> tx_kicked;    // a producer kicked the service and it has not yet run dry
    std::atomic<uint8_t> rx_held;      // the receive ring passed its hold mark (line flow control)
    std::atomic<uint8_t> break_pending;  // a break arrived from the line and waits for error control

    // Line flow control (packet 0x79).
    uint8_t flow_enable;
    uint8_t flow_pass_through;
    uint8_t flow_xon;
    uint8_t flow_xoff;

    // Framed transmit: the frame in transmission and the octets still to send.
    FrameNode* tx_frame;
    const uint8_t* tx_cursor;
    uint16_t tx_char_count;
    std::atomic<uint8_t> tx_active;
    // Framed receive: the current buffer, its fill and state.
    FrameNode* rx_frame;
    uint16_t rx_length;
    uint16_t max_frame;
    uint8_t frame_check_in_data;
    uint8_t rx_error;
    uint8_t rx_discarding;
    uint8_t last_bad_ns;               // N(S) of the last bad I-frame on the LAPM path, 128 none
    // Octet-framed MNP: the controller's own framing of the frame in transmission and the one received.
    OctetTx octet_tx;
    OctetRx octet_rx;

    // Serialisation of the service: one runner; a call that finds it running asks it for one more pass.
    std::atomic<uint8_t> running;
    std::atomic<uint8_t> again;

    // The plain path's fall-back options and the pending fall-back (reason + 1; 0 none).
    LinePlainOptions plain;
    std::atomic<uint8_t> fallback_request;
    LineEcReports ec;

    LineFax fax;  // the fax path (line_fax.h); while it is selected the service runs it instead of the others
    V80State v80; // synchronous access (v80.h), the path of LINE_MODE_SYNC
    LineDetect detect;
    LineStartup startup;

    LineCounters counters;
};

void lb_init(LineBlock* lb, const LineBlockHost* host);
void lb_bind_window(LineBlock* lb, DspInterfaceBlock* window);
void lb_set_frame_ops(LineBlock* lb, const LineFrameOps* ops);
void lb_set_ec_reports(LineBlock* lb, const LineEcReports* reports);

// The service routine (the device's DSP interrupt routine during a data connection).
void lb_service(LineBlock* lb);
void lb_service_stop(LineBlock* lb);

// Mode set-up: the path of the connection, packet 0x61, the line block made active and kicked.
void lb_set_mode(LineBlock* lb, uint8_t mode);
void lb_restart(LineBlock* lb);
void lb_set_line_flow_control(LineBlock* lb, uint8_t pass_through, uint8_t enable);

// Line rings.
void lb_rx_reset(LineBlock* lb);
uint16_t lb_rx_count(LineBlock* lb);
// The caller has tested the count.
uint8_t lb_rx_get(LineBlock* lb);
// Up to `max` received bytes into `out`; how many.
uint16_t lb_rx_take(LineBlock* lb, uint8_t* out, uint16_t max);
void lb_tx_reset(LineBlock* lb);
uint16_t lb_tx_count(LineBlock* lb);
uint16_t lb_tx_free(LineBlock* lb);
// Stores one byte to send; a full ring drops it and counts a transmit discard.
void lb_tx_put(LineBlock* lb, uint8_t c);
// Stores up to count bytes while the ring has room (the rest stay with the caller); how many.
uint16_t lb_tx_write(LineBlock* lb, const uint8_t* bytes, uint16_t count);
// Forgets a transmit chunk the data pump has not taken (only while the data pump takes none, e.g. when it has
// left its mode), so that nothing of an ended transfer is sent at the start of the next.
void lb_tx_chunk_forget(LineBlock* lb);
// Takes and clears a break that arrived from the line; whether there was one.
bool lb_take_line_break(LineBlock* lb);

// The start-up path (line_startup.cpp). lb_startup_begin selects it for a connection's set-up: no framing
// packet (the data pump's set-up procedure chose its own framing), an empty block and a reset receiver; the
// next lb_set_mode ends it.
void lb_startup_begin(LineBlock* lb);
// The block to send: once, or with `repeat` each time the data pump has taken the last copy. A chunk the data
// pump has not yet taken is withdrawn, so the new block goes next. More than 32 bytes are refused (false).
bool lb_send_block(LineBlock* lb, const uint8_t* bytes, uint8_t length, bool repeat);
// Forgets a block not yet sent (and stops a repeated one); on the start-up path also a copy that waits in the
// transmit chunk.
void lb_send_block_clear(LineBlock* lb);
// The receiver back to its wait: no message, no call indicators, no zero octets counted.
void lb_rx_msg_reset(LineBlock* lb);
// From now on the receiver counts the far end's consecutive zero octets (and drops everything else).
void lb_rx_msg_count_zeros(LineBlock* lb);
// The accepted message (zero-terminated, at most LINE_STARTUP_MESSAGE_MAX bytes) into `out`; its length, 0 when
// none was accepted.
uint8_t lb_rx_msg_get(LineBlock* lb, uint8_t* out);
uint8_t lb_rx_msg_indicators(LineBlock* lb);
void lb_rx_msg_clear_indicators(LineBlock* lb);
// Consecutive zero octets counted since lb_rx_msg_count_zeros.
uint8_t lb_rx_msg_zeros(LineBlock* lb);

// Framed paths: a kick with a frame ready to send, and the receive buffer to fill next.
void lb_frame_kick(LineBlock* lb);
void lb_rx_buffer_set(LineBlock* lb, FrameNode* node);

// The plain path's fall-back options for a link set up on the octet-framed path: empties the receive ring;
// `options` are LinePlainOption bits (the drop timer needs a non-zero time, in seconds); a non-zero
// `raw_buffering` keeps every received byte in the receive ring until a frame arrives, and 200 of them
// without one give the set-up up. A good frame ends the options.
void lb_plain_setup(LineBlock* lb, uint8_t options, uint16_t drop_seconds, uint8_t fallback_char,
                    uint8_t raw_buffering);
// Moves to the plain path keeping what the receive ring holds, and tells error control with the reason.
void lb_switch_to_plain(LineBlock* lb, uint8_t reason);
// Error control's background step: serves a pending fall-back and a detection result (through `ec`).
void lb_background(LineBlock* lb);
// Whether the plain path carries the connection (selected and active).
bool lb_plain_running(LineBlock* lb);

// The V.42 detection phase. `role` 0 originator, else answerer; 0xFF stops detection. The answer code is what
// an answerer tells the originator (0 LAPM, 1 MNP, 2 none); the time-out is in 10 ms ticks; the line rate
// (bit/s, 1 for the slowest) paces the transmit turns.
void lb_detect_start(LineBlock* lb, uint8_t role, uint8_t answer_code, uint16_t timeout, uint16_t line_rate);
// Whether detection runs.
bool lb_detect_active(LineBlock* lb);
// Takes a result that detection reported since the last call: (reason, result); false when none.
bool lb_detect_take_result(LineBlock* lb, uint8_t* reason, uint8_t* result);
// The 10 ms line tick: detection time-out and transmit pacing.
void lb_line_tick(LineBlock* lb);

// Internal steps, shared by the line-block files.
void lb_plain_receive(LineBlock* lb, const uint8_t* bytes, uint8_t count, uint8_t status);
void lb_plain_transmit(LineBlock* lb);
void lb_framed_receive(LineBlock* lb, const uint8_t* bytes, uint8_t count, uint8_t status);
void lb_framed_transmit(LineBlock* lb);
void lb_detect_receive(LineBlock* lb, const uint8_t* bytes, uint8_t count, uint8_t status);
void lb_detect_transmit(LineBlock* lb);
void lb_octet_receive(LineBlock* lb, const uint8_t* bytes, uint8_t count, uint8_t status);
void lb_octet_transmit(LineBlock* lb);
void lb_octet_buffer_set(LineBlock* lb, FrameNode* node);
// The plain options' look at one byte received on the octet-framed path (`between_frames`: no frame is
// being received); true when the byte belongs to the plain path and goes no further.
bool lb_plain_watch(LineBlock* lb, uint8_t c, bool between_frames);
// A good frame arrived on the octet-framed path: the far end runs the link, the options end.
void lb_plain_options_end(LineBlock* lb);
// The drop timer's 10 ms tick.
void lb_plain_tick(LineBlock* lb);
// Resets the options (not the ring) and forgets a pending fall-back.
void lb_plain_reset(LineBlock* lb);
void lb_write_chunk(LineBlock* lb, const uint8_t* bytes, uint8_t count, uint8_t flags);
void lb_startup_receive(LineBlock* lb, const uint8_t* bytes, uint8_t count);
void lb_startup_transmit(LineBlock* lb);
// Forgets the frame in transmission and the one being received on every framed path (LAPM, MNP framed and
// octet-framed): cursors, counts, error and discard marks; the buffers stay with error control.
void lb_reset_frame_state(LineBlock* lb);
// Register 60's framing bit and packet 0x61 with the framing kind.
void lb_send_framing(LineBlock* lb, uint8_t kind);
// Starts the transmitter: the kicked mark set and the service run (dsp_run_interrupt_now).
void lb_kick(LineBlock* lb);
// The data pump has sent everything it was given (status bit 6, transmit data wanted).
bool lb_data_wanted(const LineBlock* lb);
// Everything written has left: the transmit ring is empty, the data pump has taken the last chunk and asks for
// more (its own queue has run empty).
bool lb_tx_drained(LineBlock* lb);
