// MNP class 5 data compression: each LT frame's data is run-length coded and the result coded with an
// adaptive frequency code. One context per device holds an encoder (transmit) and a decoder (receive),
// each with its own frequency table; both restart when the link is set up or restarted.
//
// Code of an entry number p of the frequency table: a 3-bit header h and a body, most significant bit
// first. p < 2: h = 0 and the body is the single bit p; p >= 2: h is the position of p's highest set bit and
// the body its h low bits. Entry 255 carries one extra 0 bit; the 11 one bits are the flush code that ends a
// frame's data.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int MNP5_SYMBOLS = 256;
constexpr uint8_t MNP5_NO_RUN = 3;       // identical characters still to code before a run count: none yet
constexpr uint8_t MNP5_RUN_MAX = 250;    // largest run count
constexpr uint8_t MNP5_COUNT_LIMIT = 255;  // the top entry's count at which all counts halve
constexpr size_t MNP5_FRAME_RESERVE = 5;  // a character is taken only while this much frame room remains
constexpr size_t MNP5_RX_HEADROOM = 10;   // to-DTE room a decode pass wants
constexpr uint16_t MNP5_FLUSH_CODE = 0x7FF;  // 11 bits
constexpr int MNP5_FLUSH_BITS = 11;

enum Mnp5Status : int {
    MNP5_OK = 0,           // the frame's data is decoded
    MNP5_MORE = 1,         // the output is full: call again with the rest of the frame
    MNP5_ERR_TRUNCATED = 2,  // the frame ends inside a code
    MNP5_ERR_RUN = 3,      // a run count above the largest, or a flush where a run count is due
};

// The adaptive table: entries ordered from the most to the least frequent.
struct Mnp5Table {
    uint8_t count[MNP5_SYMBOLS];
    uint8_t symbol[MNP5_SYMBOLS];
    uint8_t position[MNP5_SYMBOLS];  // entry number of each symbol
};

struct Mnp5Encoder {
    Mnp5Table table;
    uint8_t last;      // last character
    uint8_t to_run;    // identical characters still to code before a run count (MNP5_NO_RUN: no run)
    uint8_t repeat;    // characters counted into the pending run count
    uint8_t octet;     // partial output octet
    uint8_t mask;      // its next free bit (0x80: empty)
};

struct Mnp5Decoder {
    Mnp5Table table;
    uint8_t last;
    uint8_t same;      // identical characters seen in a row (0: no run)
    bool run_next;     // the next code is a run count
    uint8_t repeat_left;  // run characters still to output
    uint32_t bits;     // bit reader: unread bits in the low `nbits`
    int nbits;
};

struct Mnp5Context {
    Mnp5Encoder enc;
    Mnp5Decoder dec;
};

void mnp5_reset(Mnp5Context* c);
void mnp5_encoder_reset(Mnp5Encoder* e);
void mnp5_decoder_reset(Mnp5Decoder* d);

// The code of entry p: its value right-aligned and its length in bits (4 to 11).
int mnp5_code(uint8_t p, uint16_t* value);
// Counts one occurrence of the symbol at entry p and reorders; returns the symbol.
uint8_t mnp5_table_update(Mnp5Table* t, uint8_t p);

// Codes DTE bytes into one frame's data area of `room` octets; returns the bytes taken, *made the octets
// written. A byte is taken only while MNP5_FRAME_RESERVE octets of room remain.
size_t mnp5_encode(Mnp5Encoder* e, const uint8_t* in, size_t n, uint8_t* out, size_t room, size_t* made);
// Ends the frame: the pending run count, the flush code if the last octet is partial, the fill; writes them
// into out (at most 4; the reserve kept by mnp5_encode leaves room for them) and returns the octets written.
size_t mnp5_end_frame(Mnp5Encoder* e, uint8_t* out, size_t room);

// Decodes one frame's data (`in` is the rest of the frame). MNP5_OK: the frame is done; MNP5_MORE: the
// output is full, call again with in + *used; an error otherwise.
int mnp5_decode(Mnp5Decoder* d, const uint8_t* in, size_t n, size_t* used, uint8_t* out, size_t room,
                size_t* made);

// MNP class 5 as an engine of the compression dispatch (kMnp5Engine in comp_dispatch.h).
struct Mnp5Engine {
    Mnp5Context ctx;
    bool encode_on;
    bool decode_on;
    uint8_t tail[4];      // the end of a flushed frame, waiting to be drained into it
    uint8_t tail_length;
    bool rx_open;         // the decoder paused inside a frame
};

void mnp5_engine_start(Mnp5Engine* m, bool encode, bool decode);
