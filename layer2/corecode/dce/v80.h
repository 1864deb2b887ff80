// Synchronous access (V.80): the application exchanges a synchronous bit stream (transparent sub-mode) or HDLC
// frames (framed sub-mode, the data pump adds and removes flags and the frame check) with the line, and
// controls the link with in-band codes: EM (0x19; 0x99 too from the application) followed by one code byte.
//
// The bytes travel coded: the from-DTE ring holds the application's stream with its EM pairs, the line
// transmit ring holds data and EM pairs (the data forms of the transparency codes, frame end and abort) that
// the line block decodes into chunks; the line receive ring holds received octets with 0x11, 0x13, 0x19 and
// 0x99 shielded as EM pairs and EM pairs for frame ends and errors, moved as they are to the application.
// One record per device, in the line block; the application's side runs in the port's threads, the poll in
// call control's task, the line side in the line block's service.
#pragma once

#include <atomic>
#include <cstdint>

struct LineBlock;
struct DteContext;

constexpr uint8_t V80_EM = 0x19;
constexpr uint8_t V80_EM_HIGH = 0x99;

// The code after EM.
enum V80Code : uint8_t {
    V80_ONE_EM = 0x5C,          // one 0x19 (received 0x19 towards the application)
    V80_TWO_EM = 0x5D,
    V80_ONE_EM_HIGH = 0x76,     // one 0x99 (received 0x99)
    V80_TWO_EM_HIGH = 0x77,
    V80_DC1 = 0xA0,             // 0x11
    V80_DC3 = 0xA1,             // 0x13
    V80_PAIRS_FIRST = 0xA2,     // 0xA2-0xAF: two-octet data forms
    V80_PAIRS_LAST = 0xAF,
    V80_MARK = 0xB0,            // to transparent / receive abort
    V80_FLAG = 0xB1,            // frame end / to framed
    V80_ERR = 0xB2,             // abort the frame / hunt complete
    V80_HUNT = 0xB3,
    V80_UNDERRUN = 0xB4,
    V80_TX_OVERRUN = 0xB5,
    V80_RX_OVERRUN = 0xB6,
    V80_RESUME = 0xB7,
    V80_LOST = 0xB9,            // followed by two count bytes
    V80_EOT = 0xBA,             // hang up
    V80_ESCAPE = 0xBB,          // to the on-line command state
    V80_RENEGOTIATE = 0xBC,
    V80_RETRAIN = 0xBD,
    V80_RATE = 0xBE,            // two rate bytes follow
};

// The data octets of a transparency code (1 or 2); 0 when the code is not one.
int v80_code_octets(uint8_t code, uint8_t out[2]);
// The code that shields a received octet (0 when the octet goes as it is).
uint8_t v80_receive_code(uint8_t octet);
// The rate character of a line rate in bit/s.
uint8_t v80_rate_char(uint32_t rate);
// The two bytes of the lost-byte report.
void v80_lost_bytes(uint32_t count, uint8_t out[2]);

struct V80State {
    std::atomic<uint8_t> active;      // synchronous access runs (cleared by the stop)
    std::atomic<uint8_t> framed;      // framed sub-mode
    uint8_t params[8];                // +ESA values
    uint8_t option;                   // the third parameter (framed underrun/overrun option)

    // The application's side (port threads).
    uint8_t dte_escape;               // EM seen, the next byte is a code
    std::atomic<uint32_t> lost;       // bytes lost since the last report
    std::atomic<uint8_t> tx_overrun;  // 0 none, 1 report pending, 2 reported (until EM B7)
    std::atomic<uint8_t> underrun;    // 0 none, 1 report pending, 2 reported (until EM B7)
    std::atomic<uint8_t> lost_pending;
    std::atomic<uint8_t> last_was_em; // the last byte delivered to the application was EM
    std::atomic<uint16_t> frames_from_app;  // complete frames (EM B1) waiting in the from-DTE ring

    // The poll (call control's task).
    uint8_t poll_escape;              // EM taken from the from-DTE ring, the code follows
    uint8_t rate_args;                // rate limit: bytes still to come (2, 1) and the first of them
    uint8_t rate_first;
    uint8_t deferred;                 // a code that waits for the line transmit ring to run empty
    uint8_t conn_state;               // 0 idle, 2 connected, 3 retrain, 13 renegotiate
    uint8_t request_pending;          // this side asked for the retrain or renegotiation
    uint8_t reported;                 // the remote's retrain or renegotiation was reported
    uint8_t rate_report;              // a rate report is due
    std::atomic<uint16_t> frames_to_app;  // frame ends (EM B1) in the line receive ring

    // The line side (line block service).
    std::atomic<uint8_t> tx_restart;  // the transmitter starts again (after resume): done by the poll
    uint8_t frame_open;               // octets of a frame went out without its end yet
    std::atomic<uint8_t> rx_overrun;  // 0 none, 1 report to make, 2 made (once until data flows again)
    std::atomic<uint8_t> rx_suspended;  // received chunks are dropped
    uint8_t rx_hold[2];               // framed: the last two octets received, held back until the frame
    uint8_t rx_held;                  // goes on (at its end they are its check octets and are dropped)
    uint8_t rx_damaged;               // framed: the frame lost octets at a full ring; the rest of it is dropped
                                      // and it ends as aborted (kept until that end could be stored)
    std::atomic<uint32_t> discards;   // receive discards (aborted frames, overruns)
};

void v80_init(V80State* v);
// The +ESA values: stored, and the line side configured (framing packet with the option bytes).
void v80_set_params(LineBlock* lb, const uint8_t params[8]);
// Every flag and count cleared, the line receive ring emptied.
void v80_reset(LineBlock* lb);
void v80_stop(LineBlock* lb);
// The framing packet of the current sub-mode (kind 2 framed, 1 transparent) with the option bytes.
void v80_send_framing(LineBlock* lb);

// The line block's synchronous path.
void v80_line_receive(LineBlock* lb, const uint8_t* bytes, uint8_t count, uint8_t status);
void v80_line_transmit(LineBlock* lb);

// The application's side: one byte from the application (DTE mode 5; the caller found room for one byte),
// the reports before each delivered byte, the overrun of a full from-DTE ring.
void v80_dte_decode(DteContext* d, uint8_t c);
// Pending reports go first, then the byte, within *room places (lowered by what went); whether the byte went.
bool v80_dte_deliver(DteContext* d, uint8_t c, uint32_t* room);
void v80_dte_overrun(DteContext* d);
// The pending reports when nothing else waits for the application.
void v80_dte_reports(DteContext* d);
// DTE mode 5 for the connection: flow options as data mode, the data rings emptied.
void dte_v80_mode_init(DteContext* d, uint8_t in_options, uint8_t out_options);
