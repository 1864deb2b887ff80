// What the MNP files share inside the folder: frame types, the parsed view of a received frame, and the
// helpers the machine, the transmit side and the receive side call.
#pragma once

#include "layer2/corecode/ec/mnp.h"

enum MnpFrameType : uint8_t {
    MNP_LR = 1,
    MNP_LD = 2,
    MNP_LT = 4,
    MNP_LA = 5,
    MNP_LN = 6,
    MNP_LNA = 7,
    MNP_RR = 8,  // retransmission request
};

// Parameter identifiers of the link request.
enum MnpParam : uint8_t {
    MNP_PI_CONSTANT = 1,
    MNP_PI_CLASS = 2,
    MNP_PI_WINDOW = 3,
    MNP_PI_INFO = 4,
    MNP_PI_OPTIMISE = 8,
    MNP_PI_MNP5 = 9,
    MNP_PI_12 = 12,
    MNP_PI_13 = 13,
    MNP_PI_V42BIS = 14,
    MNP_PI_C4 = 0xC4,
};

// Bits of the optimisation octet.
constexpr uint8_t MNP_OPT_LARGE_LT = 0x01;
constexpr uint8_t MNP_OPT_FIXED = 0x02;
constexpr uint8_t MNP_OPT_ALT = 0x10;
constexpr uint8_t MNP_OPT_ORIGINATOR = 0x80;

constexpr uint8_t MNP_ATTN_DESTRUCTIVE = 1;
constexpr uint8_t MNP_ATTN_EXPEDITED = 2;

// A received frame's header fields.
struct MnpFrameView {
    uint8_t type;
    uint8_t a;             // LT N(S), LA N(R), LN/LNA sequence, LD reason, RR N(S)
    uint8_t b;             // LA credit, LN type, LD user reason
    const uint8_t* info;   // LT data
    uint16_t info_length;
};

// Checks the header against the frame's length and reads its fields; false for a malformed frame.
bool mnp_parse(const uint8_t* frame, uint16_t length, MnpFrameView* view);

// What a received link request offers.
struct MnpOffer {
    uint8_t has_constant;
    uint8_t level;          // first octet of the constant parameter
    uint8_t service_class;  // 0: not given
    uint8_t window;         // 0: not given
    uint8_t optimise;
    uint8_t mnp5;
    uint8_t c4;
    uint8_t v42bis;
    uint8_t p0;
    uint16_t p1;
    uint8_t p2;
};

// Reads the parameters of a link request; 0, or the refusal code of a malformed parameter.
uint8_t mnp_take_lr(const uint8_t* frame, uint16_t length, MnpOffer* offer);
// Negotiates a received link request into link->neg; 0, or the refusal code.
uint8_t mnp_negotiate(MnpLink* link, const MnpOffer* offer, bool originator);
// Own values before a link request is answered.
void mnp_own_values(MnpLink* link);

// Timers (mnp_timers.cpp).
void mnp_timers_reset(MnpLink* link);
void mnp_timer_start(MnpLink* link, uint8_t timer);
void mnp_timer_stop(MnpLink* link, uint8_t timer);
bool mnp_timer_expired(const MnpLink* link, uint8_t timer);
void mnp_inactivity_restart(MnpLink* link);
// Accounts the ticks since the last pass; true when the inactivity time ran out.
bool mnp_timers_run(MnpLink* link);

// Hand-over (mnp_send.cpp).
bool mnp_handover_free(MnpLink* link);
bool mnp_handover_idle(MnpLink* link);
void mnp_handover_reset(MnpLink* link);
// Hands the next due frame to the line block when it has room: control frames first, then LTs.
void mnp_transmit(MnpLink* link);
// Send the LTs again from the oldest unacknowledged one.
void mnp_resend(MnpLink* link, uint8_t from_offset);
void mnp_tx_reset(MnpLink* link);
bool mnp_lt_in_flight(MnpLink* link, const FrameNode* node);

// Receive side (mnp_receive.cpp).
void mnp_rx_reset(MnpLink* link);
FrameNode* mnp_rx_take(MnpLink* link);
void mnp_rx_release(MnpLink* link, FrameNode* frame);
// Empties the delivery queue (frames back to the pool).
void mnp_rx_flush(MnpLink* link);
// Data transfer: every received frame, then delivery to the DTE. False when the link must fail.
void mnp_receive(MnpLink* link);
void mnp_deliver(MnpLink* link);
uint8_t mnp_rx_credit(const MnpLink* link);
// Restarts both MNP class 5 directions and empties the buffers (a destructive attention).
void mnp_attention_reset(MnpLink* link);

// Machine helpers (mnp_machine.cpp).
void mnp_fail(MnpLink* link, uint8_t reason);
// Retries of the link request and of resends (the alternate-framing variant has its own).
uint8_t mnp_retry_limit(const MnpLink* link);
void mnp_select_line(MnpLink* link, uint8_t mode);

// Buffered mode (mnp_buffered.cpp).
void mnp_buffered_step(MnpLink* link);
