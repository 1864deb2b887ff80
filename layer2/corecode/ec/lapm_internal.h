// What the LAPM files share inside the folder: event numbers, control octets, the dispatch record and the
// helpers the actions, the classifier and the step call.
#pragma once

#include "layer2/corecode/ec/lapm.h"

// Event numbers of the state table.
enum LapmEvent : uint16_t {
    LE_ACK_POINT = 0,
    LE_SABME_P1 = 1, LE_SABME_P0 = 2,
    LE_DM_F1 = 3, LE_DM_F0 = 4,
    LE_DISC_P1 = 5, LE_DISC_P0 = 6,
    LE_UA_F1 = 7, LE_UA_F0 = 8,
    LE_FRMR = 9,
    LE_I_P1 = 10, LE_I_P0 = 11,
    LE_RR_CMD_P1 = 12, LE_RR_CMD_P0 = 13,
    LE_RNR_CMD_P1 = 14, LE_RNR_CMD_P0 = 15,
    LE_REJ_CMD_P1 = 16, LE_REJ_CMD_P0 = 17,
    LE_SREJ_CMD = 18,
    LE_RR_RSP_F1 = 19, LE_RR_RSP_F0 = 20,
    LE_RNR_RSP_F1 = 21, LE_RNR_RSP_F0 = 22,
    LE_REJ_RSP_F1 = 23, LE_REJ_RSP_F0 = 24,
    LE_SREJ_RSP = 25,
    LE_UI_CMD_P1 = 26, LE_UI_CMD_P0 = 27,
    LE_UI_RSP = 28,
    LE_NR_ERROR = 33,
    LE_T401 = 34,
    LE_T403 = 35,
    LE_BUDGET_SPENT = 36,
    LE_OWN_BUSY = 37,
    LE_OWN_READY = 38,
    LE_START_ORIGINATE = 39,
    LE_START_ANSWER = 40,
    LE_LOCAL_DISC = 41,
    LE_XID_CMD = 43,
    LE_XID_RSP = 44,
    LE_TEST_CMD = 45,
    LE_TEST_RSP = 46,
    LE_CONSUMED = 255,
};

constexpr uint16_t LAPM_EVENTS = 47;
constexpr uint8_t LAPM_STATES = 14;

// Table states.
enum LapmState : uint8_t {
    LS_IDLE = 0, LS_ANSWERING = 1, LS_ORIGINATING = 2, LS_DISCONNECTING = 3, LS_TRANSFER = 4,
    LS_WAIT_ACK = 5, LS_OWN_BUSY = 6, LS_PEER_BUSY = 7, LS_BOTH_BUSY = 8, LS_OWN_BUSY_WAIT = 9,
    LS_PEER_BUSY_WAIT = 10, LS_BOTH_BUSY_WAIT = 11,
};

// Control octets (the P/F bit of unnumbered frames is 0x10).
constexpr uint8_t LC_RR = 0x01, LC_RNR = 0x05, LC_REJ = 0x09, LC_SREJ = 0x0D;
constexpr uint8_t LC_SABME = 0x6F, LC_DM = 0x0F, LC_DISC = 0x43, LC_UA = 0x63, LC_FRMR = 0x87;
constexpr uint8_t LC_XID = 0xAF, LC_UI = 0x03, LC_TEST = 0xE3;
constexpr uint8_t LC_PF = 0x10;
constexpr uint8_t LAPM_ADDR_ORIGINATOR_CMD = 0x03;
constexpr uint8_t LAPM_ADDR_ANSWERER_CMD = 0x01;

// Break octets of the UI frames.
constexpr uint8_t BRK_SIGNAL = 0x40, BRK_ACK = 0x60, BRK_SEQ = 0x80;
constexpr uint8_t BRK_DESTRUCTIVE = 0xC0, BRK_EXPEDITED = 0x40;

// The event being dispatched; an action may change its number (the dispatcher runs it again) or consume
// it (LE_CONSUMED).
struct LapmDispatch {
    uint16_t event;
    FrameNode* frame;
};

using LapmActionFn = void (*)(LapmLink* link, LapmDispatch* d);

struct LapmCell {
    uint8_t next;  // next state, or LAPM_KEEP
    uint8_t action;
};
constexpr uint8_t LAPM_KEEP = 0xFF;

// lapm_state_table.cpp
const LapmCell* lapm_cell(uint8_t state, uint16_t event);
extern const LapmActionFn lapm_actions[];

// lapm_dispatch.cpp
bool lapm_post_event(LapmLink* link, uint16_t event, FrameNode* frame);
void lapm_dispatch(LapmLink* link, uint16_t event, FrameNode* frame);
void lapm_run_events(LapmLink* link);

// lapm_timers.cpp
uint32_t lapm_rate_value(const LapmLink* link, int column);
void lapm_reload_t401(LapmLink* link);
void lapm_t401_start(LapmLink* link);
void lapm_t401_stop(LapmLink* link);
void lapm_t403_start(LapmLink* link);
void lapm_t403_stop(LapmLink* link);
void lapm_timers_by_ring(LapmLink* link);
void lapm_inactivity_restart(LapmLink* link);
void lapm_advance_timers(LapmLink* link);
void lapm_post_timer_event(LapmLink* link);
void lapm_count_retransmission(LapmLink* link, LapmDispatch* d);
void lapm_clear_retransmissions(LapmLink* link);

// lapm_handover.cpp
bool lapm_handover(LapmLink* link, FrameNode* frame);
bool lapm_handover_free(LapmLink* link);
void lapm_handover_reset(LapmLink* link);
bool lapm_handover_idle(LapmLink* link);

// lapm_tx.cpp
FrameNode* lapm_build_frame(LapmLink* link, uint8_t address, uint8_t control);
void lapm_queue_built(LapmLink* link, FrameNode* frame, bool front);
bool lapm_send_u(LapmLink* link, bool command, uint8_t control, uint8_t pf);
bool lapm_send_s(LapmLink* link, bool command, uint8_t control, uint8_t nr, uint8_t pf);
void lapm_send_rr_rnr(LapmLink* link, LapmDispatch* d, bool command, uint8_t pf);
void lapm_send_frmr(LapmLink* link, const LapmDispatch* d);
void lapm_frame_done(LapmLink* link, FrameNode* frame);
void lapm_finish_sent(LapmLink* link);
void lapm_send_one_control(LapmLink* link);
void lapm_fill_iframes(LapmLink* link);
void lapm_pass_iframe(LapmLink* link);
bool lapm_resend_pending(LapmLink* link);
bool lapm_unacked(const LapmLink* link);
// An I-frame is built and the window lets it go now.
bool lapm_iframe_ready(const LapmLink* link);
void lapm_rewind(LapmLink* link, uint8_t nr);
void lapm_resend_ns(LapmLink* link, uint8_t ns);
bool lapm_acknowledge(LapmLink* link, uint8_t nr);
void lapm_release_tx(LapmLink* link);
void lapm_renumber_tx(LapmLink* link);
void lapm_drop_unsent(LapmLink* link);

// lapm_classify.cpp, lapm_rx.cpp
void lapm_accept_iframe(LapmLink* link, FrameNode* frame);
void lapm_classify(LapmLink* link, FrameNode* frame);
void lapm_deliver(LapmLink* link);
bool lapm_rx_pending(const LapmLink* link);
void lapm_queue_rx_break(LapmLink* link, uint8_t type, uint8_t length);
// Decides the own receiver's busy mark; a change turns the event into LE_OWN_BUSY or LE_OWN_READY.
bool lapm_decide_busy(LapmLink* link, LapmDispatch* d);
void lapm_release_rx(LapmLink* link);
void lapm_release_oos(LapmLink* link);

// lapm_break.cpp
void lapm_send_break_frame(LapmLink* link);
void lapm_take_break(LapmLink* link, FrameNode* frame);
bool lapm_take_break_ack(LapmLink* link, const FrameNode* frame);
void lapm_discard_all(LapmLink* link);

// lapm_tx.cpp: the I-frame being built, opened when the transmit ring and the free nodes allow, and
// closed into the transmit ring.
FrameNode* lapm_open_iframe(LapmLink* link);
void lapm_close_iframe(LapmLink* link);

// lapm_compress.cpp: with a compressor running in that direction, I-frames are filled through its encoder
// (true when it did, in place of the plain fill) and received ones delivered through its decoder (true
// when the frame is used up).
bool lapm_compression_fill(LapmLink* link);
bool lapm_compression_rx_on(const LapmLink* link);
bool lapm_compression_deliver_frame(LapmLink* link, FrameNode* frame);

// lapm_xid_hdlc.cpp
bool lapm_send_xid(LapmLink* link, bool command);
bool lapm_take_xid(LapmLink* link, const FrameNode* frame);

inline uint8_t mod128(int value) { return static_cast<uint8_t>(value & 0x7F); }
