// The compression dispatch: once per LAPM step it moves DTE bytes through the active encoder into the open
// transmit I-frame, and received I-frames through the active decoder into the to-DTE ring. The link side
// (LAPM's frames, the DTE rings' block access, the disconnect request) is reached through a table of
// operations, so the dispatch and the engines run the same under LAPM and in tests.
#pragma once

#include <cstddef>
#include <cstdint>

struct V42bisContext;

// The transmit I-frame LAPM has open: its information field and how far it is filled.
struct CompTxFrame {
    uint8_t* info;
    uint16_t fill;
    bool ui;  // a UI frame (break signalling) is never filled by the compressor
};

// A received I-frame waiting for the decoder.
struct CompRxFrame {
    const uint8_t* info;
    uint16_t length;
    uint16_t used;
    uint8_t ns;  // its N(S)
};

struct CompLinkOps {
    // Transmit side.
    bool (*may_start_frame)(void* link);             // the transmit ring is below the window, a frame is free
    CompTxFrame* (*tx_frame)(void* link);            // the open transmit frame, or null
    void (*close_tx_frame)(void* link);              // the open frame is complete: to the transmit ring
    size_t (*dte_waiting)(void* link);               // bytes in the from-DTE ring
    size_t (*dte_peek)(void* link, uint8_t* buf, size_t max);  // copies up to max bytes, keeps them
    void (*dte_consume)(void* link, size_t n);       // drops n bytes the encoder took
    int32_t (*break_after)(void* link);              // bytes still to send before a break in sequence, -1 none
    void (*break_reached)(void* link);               // the bytes before the break are all in frames
    // Receive side.
    CompRxFrame* (*rx_frame)(void* link);            // the oldest received I-frame not yet decoded, or null
    void (*rx_frame_done)(void* link, uint8_t next_ns);  // delivered up to N(S) + 1: release the frame
    size_t (*to_dte_free)(void* link);
    void (*to_dte_put)(void* link, const uint8_t* data, size_t n);
    // A decoder error: the link disconnects (code 250).
    void (*request_disconnect)(void* link);
};

// One compressor as the dispatch drives it.
struct CompEngine {
    bool (*encoder_active)(const void* engine);
    bool (*decoder_active)(const void* engine);
    // Octets of room the to-DTE ring must have beyond which a decode may start.
    size_t (*rx_headroom)(const void* engine);
    // Fills `frame` up to `room` octets; returns the DTE bytes taken of `in`.
    size_t (*encode)(void* engine, const uint8_t* in, size_t n, uint8_t* out, size_t room, size_t* made);
    void (*flush)(void* engine);
    size_t (*drain)(void* engine, uint8_t* out, size_t room);
    size_t (*queued)(const void* engine);
    // Decodes; returns 0 or an error of the engine.
    int (*decode)(void* engine, const uint8_t* in, size_t n, size_t* used, uint8_t* out, size_t room,
                  size_t* made);
    bool (*output_pending)(const void* engine);
};

extern const CompEngine kV42bisEngine;
extern const CompEngine kV44Engine;
extern const CompEngine kMnp5Engine;  // mnp5_engine.cpp

struct CompDispatch {
    const CompLinkOps* ops;
    void* link;
    const CompEngine* engine;  // null: no compression
    void* engine_state;
    uint16_t tx_n401;          // negotiated transmit information field size
    bool failed;               // the decoder found an error: no more decoding on this link
};

void comp_start(CompDispatch* c, const CompLinkOps* ops, void* link, const CompEngine* engine, void* state,
                uint16_t tx_n401);
// One pass; returns true when anything moved.
bool comp_dispatch(CompDispatch* c);
// Encoder step on the open frame (the V.42bis engine's `v42b_encode` of the link).
bool comp_encode(CompDispatch* c);
// Decoder step on the waiting received frame.
bool comp_decode(CompDispatch* c);
// LAPM closes a partly filled frame: the encoder flushes into it first.
void comp_flush(CompDispatch* c);
