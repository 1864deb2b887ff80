// MNP: the link protocol that carries DTE data with error control when LAPM does not (link request and
// its negotiation, link transfer with acknowledgement and credit, attention, disconnect), optionally with
// MNP class 5 compression; and buffered mode, the fall-back without error control, in which the same
// engine moves DTE and line bytes through the line rings unchanged.
//
// One `MnpLink` per device. The error-control manager sets it up and starts it, then runs its link machine
// once per pass of call control's task; the machine returns the MNP status. The line block takes frames to
// send with `mnp_tx_next` and hands received frames over with `mnp_rx_done`. Frames travel octet-framed
// by the controller (service classes 1 and 2, and the link request of class 3) or framed by the data
// pump's HDLC framer (class 3 once the link is up).
//
// Frames (octets in order; LI is the number of header octets after it):
//   LR  LI 1 2, parameters (PI, PL, value)...
//   LD  4 2 1 1 reason                       or 7 2 1 1 255 2 1 user-reason
//   LT  4 4 1 1 N(S) data                    or (fixed-field form) 2 4 N(S) data
//   LA  7 5 1 1 N(R) 2 1 credit              or (fixed-field form) 3 5 N(R) credit
//   LN  7 6 1 1 attention-seq 2 1 attention-type
//   LNA 4 7 1 1 attention-seq
//   retransmission request  4 8 1 1 N(S)-expected
#pragma once

#include <cstdint>

#include "layer2/corecode/ec/ec_counters.h"
#include "layer2/corecode/ec/ec_frames.h"
#include "layer2/corecode/ec/lapm.h"
#include "layer2/corecode/ec/mnp5.h"

// What the glue provides. Every routine gets `context`; null entries are passed over.
struct MnpHost {
    void* context;
    uint32_t (*dte_pending)(void* context);  // bytes waiting from the DTE
    uint32_t (*dte_read)(void* context, uint8_t* out, uint32_t max);
    uint32_t (*dte_room)(void* context);     // room towards the DTE
    void (*dte_write)(void* context, const uint8_t* in, uint32_t count);
    void (*dte_break)(void* context, uint8_t type, uint8_t length);  // a break towards the DTE
    void (*dte_discard)(void* context);      // empty both DTE rings (a destructive break)
    void (*kick_line)(void* context);        // a frame waits: run the line block's transmit now
    // Selects the line path (LineMode: 0 octet-framed, 1 framed by the data pump, 2 plain) and, on the
    // framed paths, the buffer the line block receives the next frame into.
    void (*line_mode)(void* context, uint8_t mode, FrameNode* rx_buffer);
    // Buffered mode: the line rings.
    uint32_t (*line_rx_take)(void* context, uint8_t* out, uint32_t max);
    uint32_t (*line_tx_free)(void* context);
    uint32_t (*line_tx_write)(void* context, const uint8_t* in, uint32_t count);  // how many fitted
    bool (*line_break_taken)(void* context);  // a break arrived from the line (taken and cleared)
    void (*line_break)(void* context, uint8_t type);  // the line side's break hook
};

// The set-up values, in the order the manager passes them (28 values).
struct MnpSetup {
    uint8_t mode;             // 0 off (buffered mode), 1-2 MNP; above 2 the set-up is refused
    uint8_t service_class;    // 1-3; above 3 the set-up is refused
    uint8_t option;           // carried, not used
    uint8_t break_mode;       // 0 none, 1 destructive, 2 expedited, 3 in sequence
    uint8_t retry_count;      // link request and resend retries (0: the default)
    uint16_t inactivity_s;    // 0 = none
    uint16_t line_option;
    uint8_t buffered_allowed;
    uint8_t c4_option;        // the 0xC4 option (retransmission requests)
    uint8_t fixed_field;      // the fixed-field LT and LA forms
    uint8_t unused;
    uint8_t mnp5_request;
    uint8_t break_type;       // default break type
    uint16_t info_size;       // largest LT information field, 8-256 (0: 256)
    uint8_t line_bits;
    uint8_t line_value;
    uint8_t p0;               // V.42bis in MNP: taken from the set-up and a peer's LR, not offered
    uint16_t p1;
    uint8_t p2;
    uint8_t alt_framing;      // the alternate-framing variant (its hooks answer fixed values)
    uint8_t tune8[3];
    uint16_t tune16[4];
    uint8_t tune33;
};
constexpr uint32_t MNP_SETUP_VALUES = 28;

enum MnpStatus : uint8_t {
    MNP_STATUS_IDLE = 0,
    MNP_STATUS_ESTABLISHING = 1,
    MNP_STATUS_HELD = 2,
    MNP_STATUS_CONNECTED = 3,
    MNP_STATUS_FAILED = 4,     // disconnecting or failed link
    MNP_STATUS_BUFFERED = 5,
};

// Link states of the machine.
enum MnpState : uint8_t {
    MS_ORIGINATE = 0,
    MS_WAIT_LR = 1,            // originator: waiting for the answer to its LR
    MS_ORIGINATOR_UP = 2,      // the LA went out: switch framing, connect
    MS_ANSWER = 3,             // answerer: waiting for an LR
    MS_ANSWER_WAIT_LA = 4,     // answerer: waiting for the first LA or LT
    MS_ANSWERER_UP = 5,
    MS_CONNECT = 6,
    MS_DATA = 7,
    MS_DISCONNECT = 8,         // 9 and 16 are the same
    MS_DISCONNECTED = 10,
    MS_START_BUFFERED = 11,
    MS_BUFFERED = 12,
    MS_IDLE = 13,
};

// Link request refusals (recorded for the link status).
enum MnpRefusal : uint8_t {
    MNP_REFUSE_LEVEL = 209,
    MNP_REFUSE_STATE = 210,
    MNP_REFUSE_NO_PI1 = 211,
    MNP_REFUSE_CLASS = 213,
    MNP_REFUSE_P1 = 227,
    MNP_REFUSE_LENGTH = 229,
};

// Disconnect reasons.
enum MnpReason : uint8_t {
    MNP_REASON_SETUP = 1,       // the link request exchange failed
    MNP_REASON_RETRIES = 4,     // retry count spent
    MNP_REASON_INACTIVITY = 24,
    MNP_REASON_USER = 255,      // followed by a user reason
    MNP_REASON_COMPRESSOR = 250,  // the MNP class 5 decoder found an error
};

constexpr uint8_t MNP_BUFFERS = 20;        // receive buffers, and LT transmit buffers
constexpr uint8_t MNP_RING_SLOTS = 21;
constexpr uint8_t MNP_WINDOW_MAX = 19;
constexpr uint16_t MNP_LT_MAX = 256;
constexpr uint16_t MNP_LT_SMALL = 64;
constexpr uint8_t MNP_CONTROL_NODES = 4;
constexpr uint8_t MNP_TIMERS = 6;

using MnpRing = FramePtrRing<MNP_RING_SLOTS>;

// What was agreed by the link request exchange.
struct MnpNegotiated {
    uint8_t service_class;
    uint8_t window;          // credit limit, at most 19
    uint8_t ack_threshold;   // (window + 1) / 2
    uint16_t max_lt;         // largest LT information field: 64 or up to 256
    uint8_t fixed_field;
    uint8_t mnp5;
    uint8_t c4;
    uint8_t v42bis;          // the peer offered V.42bis values (PI 14)
    uint8_t p0;
    uint16_t p1;
    uint8_t p2;
};

// Timers: per-second countdowns (-1 stopped, 0 run out), decremented every tenth 100 ms tick.
enum MnpTimer : uint8_t {
    MT_LR_WAIT = 0,     // the originator's wait for the answer to its LR (the answerer's wait for an LR)
    MT_ACK_WAIT = 1,    // acknowledgement wait after LR and LT
    MT_RR_WAIT = 2,     // retransmission-request wait
    MT_LA_PACE = 3,     // LA pacing
    MT_LA_PACE2 = 4,
    MT_LN_WAIT = 5,     // LN acknowledgement wait
};

struct MnpTimers {
    int16_t sec[MNP_TIMERS];
    uint8_t value[MNP_TIMERS];  // seconds by the line rate
    int32_t inactivity;         // seconds left, -1 none
    uint32_t pending_ticks;     // counted by mnp_tick, consumed by the machine
    uint8_t sub_ticks;          // ticks towards the next second
    int32_t wait_ticks;         // the disconnect's wait for the line, in ticks
};

// The transmit side: LT buffers addressed from the oldest unacknowledged frame.
struct MnpTransmit {
    FrameNode lt[MNP_BUFFERS];
    uint8_t first;           // buffer index of the oldest unacknowledged LT
    uint8_t built;           // LTs built, counted from `first`
    uint8_t sent;            // of them handed to the line since the last resend
    uint8_t high;            // of them ever handed to the line
    uint8_t ns_first;        // N(S) of the LT at `first`
    uint8_t credit;          // the peer's credit: LTs it takes beyond its N(R)
    uint8_t last_nr;         // the previous LA's N(R) and credit
    uint8_t last_credit;
    uint8_t resend_guard;    // a resend from the previous LA's N(R) is under way
    uint16_t lt_size;        // current LT information size
    uint8_t stage[64];       // DTE bytes read and not yet taken by the MNP class 5 encoder
    uint8_t stage_count;
};

// The receive side.
struct MnpReceive {
    KSPIN_LOCK ring_lock;    // the free-buffer ring (line block and machine)
    KSPIN_LOCK frame_lock;   // the received-frame ring and the line block's current buffer
    MnpRing pool;            // free receive buffers
    MnpRing received;        // frames from the line block, not yet looked at
    MnpRing delivery;        // LTs in sequence waiting for the DTE
    FrameNode* line_buffer;  // the buffer the line block fills
    FrameNode* carried;      // a frame that ended establishment, handled again in data transfer
    uint8_t last_ns;         // N(S) of the last LT taken in sequence
    uint16_t offset;         // delivery: octets of the head LT already delivered
    uint8_t decoding;        // the MNP class 5 decoder paused inside the head LT
    uint8_t ack_due;
    uint8_t gap_reported;    // an LA went out for the current gap
    uint8_t gap_ahead;       // the highest N(S) seen in the current gap, counted from the last taken
    uint8_t dup_reported;    // an LA went out for a repeated LT
    uint8_t rr_sent;         // a retransmission request went out for the current gap
    uint8_t rr_retries;
    uint8_t credit_sent;     // credit of the last LA sent
    FrameNode buffers[MNP_BUFFERS];
};

// Attention (break) in both directions.
struct MnpAttention {
    uint8_t tx_seq;          // sequence number of the last LN sent
    uint8_t tx_type;         // its type (0: none waiting for its LNA)
    uint8_t tx_due;          // the LN is to be (re)sent
    uint8_t rx_seq;          // last attention sequence number taken
    uint8_t rx_seen;         // any LN taken yet
    uint8_t lna_due;
    uint8_t lna_seq;
    int32_t in_sequence;     // DTE bytes still to go before an in-sequence break, -1 none
    uint8_t retries;
};

struct MnpLink {
    MnpHost host;
    const LapmCallValues* call;  // line rates (for the timers)
    EcCounters* counters;
    MnpSetup setup;
    uint8_t setup_refused;

    uint8_t status;          // MnpStatus
    uint8_t state;           // MnpState
    uint8_t request;         // 0 originate, 1 answer
    uint8_t held;
    uint8_t held_status;
    uint8_t retries;         // retries left
    uint8_t reason;          // reason of the LD to send
    uint8_t user_reason;     // with MNP_REASON_USER
    uint8_t peer_reason;     // reason of an LD received
    uint8_t refusal;         // why a link request was refused (MnpRefusal), 0 none
    uint8_t ld_phase;        // disconnect: 0 send LD, 1 send it again, 2 wait for the line
    uint8_t line_mode;       // the line path selected (LineMode)
    uint8_t drain_passes;    // passes the disconnect has waited for the DTE to take received data
    MnpNegotiated neg;

    // Frames to send, built when the line block is ready for them.
    uint8_t lr_due;
    uint8_t ld_due;
    uint8_t la_due;
    uint8_t rr_due;
    uint8_t rr_ns;

    MnpTimers timers;
    MnpTransmit tx;
    MnpReceive rx;
    MnpAttention attn;
    Mnp5Context mnp5;
    uint8_t compressor_failed;

    // Hand-over to the line block: the frame in transmission and the next one (hand-over lock).
    KSPIN_LOCK handover_lock;
    FrameNode* current;
    FrameNode* next;
    FrameNode control[MNP_CONTROL_NODES];
    uint8_t control_next;

    // Counters of this link.
    uint32_t frames_sent;
    uint32_t lt_resent;
    uint32_t malformed;      // frames with a bad header, dropped
};

// Binds the record to its host, call values and statistics; idle afterwards.
void mnp_init(MnpLink* link, const MnpHost* host, const LapmCallValues* call, EcCounters* counters);
// Takes the manager's 28 set-up values (MnpSetup's order).
void mnp_setup(MnpLink* link, const uint32_t* values, uint32_t count);
// 0 originate, 1 answer, 2 resume after a hold. A set-up with MNP off starts buffered mode.
void mnp_start(MnpLink* link, uint8_t request);
void mnp_stop(MnpLink* link);
// One step of the link machine; returns the status (MnpStatus).
uint8_t mnp_poll(MnpLink* link);
// One 100 ms tick (counted now, consumed at the next step).
void mnp_tick(MnpLink* link);
uint8_t mnp_hold(MnpLink* link);
uint8_t mnp_disconnect(MnpLink* link, uint8_t reason);
bool mnp_send_break(MnpLink* link, uint8_t length, uint16_t count);
uint8_t mnp_set_link_params(MnpLink* link, uint8_t a, uint8_t b, uint16_t c, uint8_t d, uint16_t e);
// The line side ended the set-up: continue in buffered mode when allowed, else stop.
void mnp_line_abort(MnpLink* link, uint8_t reason);
// The detection phase found a peer without error control: buffered mode on the line as it is.
void mnp_notify(MnpLink* link, uint8_t value);
// Data-pending bits of the link status: bit 0 data waiting, bit 1 transmit side not drained.
uint8_t mnp_pending_bits(MnpLink* link);

// Line-block side. The next frame to send (null: none); the one returned before it counts as sent.
FrameNode* mnp_tx_next(MnpLink* link);
// A received frame is complete (its bad flag set when it was; null: none); returns the next buffer.
FrameNode* mnp_rx_done(MnpLink* link, FrameNode* done);

// Frame builders: write the frame into out (room for it assumed) and return its length.
uint16_t mnp_build_lr(const MnpLink* link, uint8_t* out);
uint16_t mnp_build_ld(uint8_t reason, uint8_t user_reason, uint8_t* out);
uint16_t mnp_build_lt_header(bool fixed_field, uint8_t ns, uint8_t* out);
uint16_t mnp_build_la(bool fixed_field, uint8_t nr, uint8_t credit, uint8_t* out);
uint16_t mnp_build_ln(uint8_t seq, uint8_t type, uint8_t* out);
uint16_t mnp_build_lna(uint8_t seq, uint8_t* out);
uint16_t mnp_build_rr(uint8_t ns, uint8_t* out);
