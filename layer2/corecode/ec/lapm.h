// LAPM: the error-correcting link (HDLC, modulo-128 numbering, one data link connection).
//
// One `LapmLink` per device. The error-control manager sets it up and starts it; its step runs once per
// pass of call control's task: it turns received frames and local conditions into numbered events, runs
// each through the state table, moves DTE bytes into I-frames and delivers received information to the
// DTE. The data pump frames the HDLC flags and FCS; LAPM sees address, control and information octets.
//
// The module touches nothing outside its record: the DTE rings, the line-block kick and the call-control
// values come in through `LapmHost` and `LapmCallValues`, and the link statistics go to `EcCounters`.
#pragma once

#include <cstdint>

#include "layer2/corecode/ec/ec_counters.h"
#include "layer2/corecode/ec/ec_frames.h"

struct LapmLink;
struct LapmCompression;

// What the glue provides. Every routine gets `context`.
struct LapmHost {
    void* context;
    uint32_t (*dte_pending)(void* context);  // bytes waiting from the DTE
    uint32_t (*dte_read)(void* context, uint8_t* out, uint32_t max);
    uint32_t (*dte_room)(void* context);     // room towards the DTE
    void (*dte_write)(void* context, const uint8_t* in, uint32_t count);
    void (*dte_break)(void* context, uint8_t type, uint8_t length);  // a break towards the DTE
    void (*dte_discard)(void* context);      // empty both DTE rings (a destructive break)
    void (*kick_line)(void* context);        // run the line-block service now
    void (*line_stop)(void* context);        // the link set-up ended: stop the line side
    // The link starts: switch the line block to LAPM framing and give it a receive buffer (through
    // ec_rx_frame_done on the link's pool); a non-zero line option goes to the line side too.
    void (*line_start)(void* context, uint16_t line_option);
};

// Call-control values LAPM reads, and the two call statistics it counts.
struct LapmCallValues {
    uint16_t tx_rate;            // line rates in bit/s, for the timers
    uint16_t rx_rate;
    uint8_t delivery_setting;    // delivery after disconnect: 0 off, 1 for 600 ticks, 2 for delivery_time
    uint16_t delivery_time;      // configured time; divided by 10 it gives ticks
    uint8_t connection_mode;     // the retransmission budget applies only while this is 2
    uint8_t srej_count;          // SREJ commands with P=0 received (wraps)
    uint8_t retransmit_failures; // times the retransmission budget was spent (wraps)
};

// The values the manager passes to the set-up, in its order.
struct LapmSetup {
    uint8_t break_mode;        // 0 none, 1 destructive, 2 expedited, 3 in sequence
    uint8_t pass_break;        // hand a received break to the DTE
    uint16_t inactivity_s;     // 0 = no inactivity time
    uint8_t retry_budget;      // 0 = no limit
    uint16_t info_size;        // largest information field (clamped to 20-128)
    uint8_t srej_request;      // bits 0-1
    uint8_t test_request;      // bit 0
    uint16_t line_option;
    uint8_t mnp_fallback;      // watch for an MNP link request while originating
    uint8_t p0;                // V.42bis direction (at most 3)
    uint16_t p1;               // V.42bis dictionary size (512-2048)
    uint8_t p2;                // V.42bis largest string (6-250)
    uint8_t fcs_request;
    uint8_t hook_flag;
};

// Values of one direction pair: the own proposal or what was negotiated.
struct LapmValues {
    uint16_t tx_k;
    uint16_t rx_k;
    uint16_t tx_n401;
    uint16_t rx_n401;
    uint8_t srej;
    uint8_t test;
    uint8_t fcs;
    uint8_t p0;
    uint16_t p1;
    uint8_t p2;
};

// Building and taking the XID information field. The default handles the HDLC parameter group; the
// compression groups plug in here.
struct LapmXidOps {
    // Writes the information field of an XID command (own proposal) or response (negotiated values).
    uint16_t (*build)(LapmLink* link, bool command, uint8_t* info, uint16_t max);
    // Takes a received XID information field; false when the negotiation fails.
    bool (*take)(LapmLink* link, const uint8_t* info, uint16_t length);
};
extern const LapmXidOps lapm_xid_hdlc_ops;

enum LapmStatus : uint8_t {
    LAPM_IDLE = 0,
    LAPM_ESTABLISHING = 1,
    LAPM_HELD = 2,
    LAPM_DISCONNECTING = 4,
    LAPM_TRANSFER = 6,
    LAPM_MNP_FALLBACK = 7,  // returned by the step: an MNP link request arrived while originating
};

enum LapmDisconnectCode : uint8_t {
    LAPM_DC_NONE = 0,
    LAPM_DC_NORMAL = 2,
    LAPM_DC_SETUP_FAILED = 4,
    LAPM_DC_INACTIVITY = 5,
    LAPM_DC_COMPRESSOR = 250,
    LAPM_DC_REFUSED = 254,
    LAPM_DC_LOCAL = 255,
};

enum LapmReason : uint8_t {
    LAPM_REASON_INACTIVITY = 24,
    LAPM_REASON_FRMR = 90,
    LAPM_REASON_PEER_DISC = 92,
    LAPM_REASON_RETRIES = 93,
    LAPM_REASON_XID_FAILED = 94,
    LAPM_REASON_DM = 95,
    LAPM_REASON_DM_DISCONNECTING = 96,
};

struct LapmEventNode : QueueNode {
    uint16_t event;
    FrameNode* frame;
};

constexpr uint8_t LAPM_EVENT_NODES = 20;
constexpr uint8_t LAPM_TX_NODES = 15;
constexpr uint8_t LAPM_CONTROL_NODES = 15;
constexpr uint8_t LAPM_RETAINED_SLOTS = 4;
constexpr uint8_t LAPM_MNP_FRAME_MAX = 100;

// Frames waiting to be delivered (in sequence) or held for a gap (out of sequence), linked through
// their first word.
struct FrameList {
    FrameNode* head;
    FrameNode* tail;
};

struct LapmTimers {
    int32_t setup;       // -1 stopped, else ticks since start
    int32_t inactivity;
    int32_t t401;
    int32_t t403;
    int32_t delivery;    // data-delivery countdown after disconnect (-1 stopped)
    uint32_t t401_limit;
    uint32_t t403_limit;
    uint32_t inactivity_limit;  // ticks; 0 = none
    uint32_t pending_ticks;     // counted by lapm_tick, consumed by the step
};

struct LapmLink {
    LapmHost host;
    LapmCallValues* call;
    EcCounters* counters;
    const LapmXidOps* xid;
    LapmCompression* compression;  // V.42bis with its XID groups (lapm_compress.h); null: none
    LapmSetup setup;

    // Where the link stands.
    uint8_t status;          // LapmStatus
    uint8_t state;           // row of the state table
    uint8_t prev_state;
    uint16_t event;
    uint16_t prev_event;
    uint8_t originator;
    uint8_t own_cmd_addr;
    uint8_t peer_cmd_addr;   // also the own response address
    uint8_t disconnect_code;
    uint8_t reason;

    LapmValues proposal;
    LapmValues neg;

    // Sequence numbers (modulo 128) and the window.
    uint8_t va;
    uint8_t vr;
    uint8_t next_ns;         // N(S) of the next I-frame built
    uint16_t window;         // I-frames that may be outstanding now

    // Flags.
    uint8_t poll_outstanding;
    uint8_t peer_busy;
    uint8_t own_busy;
    uint8_t rej_outstanding;
    uint8_t rej_wanted;
    uint8_t rej_highest;     // highest out-of-sequence N(S) seen while REJ is outstanding
    uint8_t held;
    uint8_t mnp_detected;
    uint8_t sabme_seen;
    FrameNode* xid_frame;    // the XID command or break frame waiting for its answer (null: none)
    FrameNode* break_frame;

    // Breaks.
    uint8_t break_in_progress;
    uint8_t break_seq;          // sequence bit (0x80 or 0) of the next break sent
    uint8_t rx_break_seq;       // sequence bit of the last break taken (0xFF: none yet)
    uint8_t break_length;
    uint8_t mode3_waiting;
    uint16_t mode3_count;       // DTE bytes still to go into the I-frame before a mode-3 break
    uint8_t rx_break_pending;
    uint8_t rx_break_type;
    uint8_t rx_break_length;

    LapmTimers timers;
    uint16_t retransmissions;

    // Frame counters of the length checks.
    uint32_t short_frames;
    uint32_t wrong_address;
    uint32_t wrong_length;

    // Queues.
    FrameQueue events;
    FrameQueue control;      // control frames waiting to be sent (ready list) and free control nodes
    FrameQueue iframes;      // free I-frame nodes (the ready list is not used)
    FrameRing16 tx_ring;     // built I-frames: read index = oldest unacknowledged
    uint8_t tx_send;         // ring index of the next I-frame to send
    uint8_t tx_high;         // ring index after the highest I-frame sent
    FrameNode* building;     // I-frame being filled from the DTE
    FrameList rx_queue;      // in-sequence I-frames waiting for the DTE
    FrameList oos_queue;     // out-of-sequence I-frames, in N(S) order
    uint8_t srej_requested[16];  // bit per N(S) asked for by SREJ
    uint8_t srej_resend[16];     // bit per N(S) the peer asked for by SREJ

    // Hand-over to the line block.
    KSPIN_LOCK handover_lock;
    FrameNode* current;      // the frame the line block sends
    FrameNode* next;         // the frame it sends after that
    FrameNode* retained[LAPM_RETAINED_SLOTS];  // sent frames the step has not finished yet

    // The MNP link request that ended establishment.
    uint8_t mnp_frame[LAPM_MNP_FRAME_MAX];
    uint8_t mnp_frame_length;

    EcRxPool rx;
    LapmEventNode event_nodes[LAPM_EVENT_NODES];
    FrameNode tx_nodes[LAPM_TX_NODES];
    FrameNode control_nodes[LAPM_CONTROL_NODES];
};

// Binds the record to its host, call values and statistics, and resets it to idle.
void lapm_init(LapmLink* link, const LapmHost* host, LapmCallValues* call, EcCounters* counters);
void lapm_setup(LapmLink* link, const LapmSetup* setup);
// 0 originate, 1 answer, 2 resume after a hold.
void lapm_start(LapmLink* link, uint8_t request);
void lapm_stop(LapmLink* link);
// One pass; returns the status (LapmStatus).
uint8_t lapm_step(LapmLink* link);
// One 100 ms tick (counted now, consumed at the next step).
void lapm_tick(LapmLink* link);
void lapm_disconnect(LapmLink* link, uint8_t local);
// The compressor found an error: disconnect with code 250.
void lapm_request_disconnect_tx(LapmLink* link);
bool lapm_send_break(LapmLink* link, uint8_t length, uint16_t count);
uint8_t lapm_hold(LapmLink* link);
uint8_t lapm_set_link_params(LapmLink* link, uint8_t a, uint8_t b, uint16_t c, uint8_t d, uint16_t e,
                             uint8_t f, uint8_t g);
bool lapm_queue_control_frame(LapmLink* link, uint8_t pf, uint8_t control);
bool lapm_queue_response_frame(LapmLink* link, uint8_t pf, uint8_t control);
// Data-pending bits of the link status: bit 0 data waiting, bit 1 transmit side not drained.
uint8_t lapm_pending_bits(LapmLink* link);

// Line-block side. The next frame to send (null: none); the frame returned before it counts as sent.
FrameNode* lapm_tx_next(LapmLink* link);
// A received frame (address, control, information; no FCS) copied into a receive buffer; `bad` marks an
// FCS error or abort. False when no receive buffer was free (the frame is lost, as on the line).
bool lapm_rx_frame(LapmLink* link, const uint8_t* octets, uint16_t length, bool bad);
