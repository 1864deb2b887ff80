// V.42bis data compression: one context per device, an encoder for the transmit direction and a decoder for
// the receive direction sharing one dictionary store. The functions take and give plain byte buffers; the
// compression dispatch (comp_dispatch.h) moves LAPM frames and DTE bytes through them.
//
// Code space of each direction: 0-2 control codewords (ETM, FLUSH, STEPUP), 3-258 the 256 characters
// (character + 3), 259 up to N2 - 1 the strings learnt. Codewords travel least significant bit first.
#pragma once

#include <cstddef>
#include <cstdint>

// Control codewords (compressed mode).
constexpr uint16_t V42B_ETM = 0;
constexpr uint16_t V42B_FLUSH = 1;
constexpr uint16_t V42B_STEPUP = 2;
// Commands after the escape character (transparent mode).
constexpr uint8_t V42B_ECM = 0;
constexpr uint8_t V42B_EID = 1;
constexpr uint8_t V42B_RESET = 2;

constexpr uint16_t V42B_CONTROL_CODES = 3;  // codes below the first character
constexpr uint16_t V42B_FIRST_STRING = 259; // first code of a learnt string
constexpr uint16_t V42B_ENTRIES = 4096;     // dictionary store shared by both directions
constexpr uint16_t V42B_MIN_N2 = 512;
constexpr uint16_t V42B_MAX_N2_BOTH = 2048; // largest dictionary when both directions run
constexpr uint8_t V42B_MIN_N7 = 6;
constexpr uint8_t V42B_MAX_N7 = 250;
constexpr uint8_t V42B_ESCAPE_STEP = 51;  // the escape character moves on by this after each use
constexpr uint8_t V42B_FIRST_INTERVAL = 64;  // characters between compressibility tests at start
constexpr uint8_t V42B_BACK_INTERVAL = 250;  // ... after a return to compressed mode
constexpr int V42B_HYSTERESIS_BITS = 16;
constexpr size_t V42B_FRAME_SLACK = 7;     // the encoder stops taking characters this close to the frame end
constexpr size_t V42B_OUT_QUEUE = 32;

// P0 direction bits as the compressor uses them.
constexpr uint8_t V42B_ENCODER = 1;
constexpr uint8_t V42B_DECODER = 2;

enum V42bisStatus : int {
    V42B_OK = 0,
    V42B_ERR_EMPTY_CODE = 1,  // a string code naming an entry not yet learnt
    V42B_ERR_CODE_RANGE = 2,  // a code at or above N2
    V42B_ERR_STEPUP = 3,      // a STEPUP past the largest codeword size
    V42B_ERR_ESCAPE = 4,      // an escape followed by an unknown command
    V42B_ERR_STRING = 5,      // a string longer than N7 or a broken parent chain
    V42B_ERR_INACTIVE = 6,    // the direction was not negotiated
};

// The dictionary store: one shared set of arrays. Per entry: the first child's code in the low 12 bits and
// the parent code's high 4 bits on top; the next sibling's code; the entry's character; the parent code's
// low 8 bits. Codes in the fields are relative to the direction's base. Children of an entry are kept in
// ascending character order.
struct V42bisDictionary {
    uint16_t child_parent_hi[V42B_ENTRIES];
    uint16_t sibling[V42B_ENTRIES];
    uint8_t character[V42B_ENTRIES];
    uint8_t parent_lo[V42B_ENTRIES];
};

// One direction's share of the store.
struct V42bisTree {
    uint16_t base;       // first entry of this direction in the store
    uint16_t n2;         // codes 0 .. n2 - 1
    uint16_t next_free;  // code the next new string takes (C1); once the dictionary is full, a leaf
                         // already taken out of the tree
    uint16_t last_added; // most recent code given to a new string
    bool full;           // new strings reuse leaves
};

// String matching, run by the encoder in both modes and by the decoder on transparent data.
struct V42bisMatcher {
    uint16_t code;     // current string, 0 when none
    uint8_t length;    // its characters
    uint16_t refused;  // code added by the previous step: not matched until a new step
    bool sent;         // the current string was already sent (flush, mode change): the next character
                       // adds the string plus itself and starts a new string
};

struct V42bisEncoder {
    V42bisTree tree;
    V42bisMatcher match;
    uint8_t codeword_size;   // C2
    uint16_t threshold;      // C3 = 2^C2
    uint8_t escape;
    bool transparent;
    uint8_t test_interval;
    uint16_t chars_since_test;
    int32_t bits_since_test;  // what compressed mode needed for those characters
    bool flushed;             // nothing sent since the last flush
    uint32_t bit_acc;
    uint8_t bit_count;
    uint8_t queue[V42B_OUT_QUEUE];  // octets made and not yet handed out
    uint8_t queue_read;
    uint8_t queue_count;
};

struct V42bisDecoder {
    V42bisTree tree;
    V42bisMatcher match;     // transparent mode
    uint16_t previous;       // last string received in compressed mode, 0 when none
    uint8_t previous_length;
    uint8_t codeword_size;
    uint32_t bit_acc;
    uint8_t bit_count;
    uint8_t escape;
    bool transparent;
    bool escape_seen;
    int status;              // V42B_OK, or the error that stopped the decoder
    uint8_t stack[V42B_MAX_N7 + 1];  // characters of a string still to deliver, last character first
    uint8_t stack_count;
};

struct V42bisContext {
    uint8_t p0;                 // V42B_ENCODER | V42B_DECODER
    uint16_t n2;                // P1
    uint8_t n7;                 // P2
    uint8_t max_codeword_size;  // N1 = ceil(log2 N2)
    V42bisEncoder enc;
    V42bisDecoder dec;
    V42bisDictionary dict;
};

// Set up for the negotiated (P0, P1, P2). Returns 0 and keeps the previous state when P1 or P2 is out of
// range (P1 above 2048 with both directions, above 4096 with one, below 512; P2 outside 6-250); else 1.
// P0 = 0 turns compression off.
int v42b_init(V42bisContext* ctx, uint8_t p0, uint16_t n2, uint8_t n7);
void v42b_encoder_reset(V42bisContext* ctx);
void v42b_decoder_reset(V42bisContext* ctx);

// Encoder. Takes characters from `in` while fewer than `room - V42B_FRAME_SLACK` octets were written to
// `out` (and the input lasts), and writes at most `room` octets; what does not fit waits in the encoder's
// queue for the next call. Returns the characters taken; `*made` counts the octets written.
size_t v42b_compress(V42bisContext* ctx, const uint8_t* in, size_t n, uint8_t* out, size_t room, size_t* made);
// Ends the current string, sends FLUSH and fills to the octet boundary (compressed mode; nothing in
// transparent mode or when nothing was sent since the last flush). The octets wait in the queue.
void v42b_flush(V42bisContext* ctx);
// Moves queued octets into `out` (at most `room`); returns how many.
size_t v42b_drain(V42bisContext* ctx, uint8_t* out, size_t room);
inline size_t v42b_queued(const V42bisContext* ctx) { return ctx->enc.queue_count; }

// Decoder. Delivers characters into `out` (at most `room`) from the octets of `in`; `*used` counts the
// octets taken. A string that does not fit is kept and delivered first by the next call. Returns V42B_OK,
// or the error that stopped decoding (the decoder then stays stopped until it is set up again).
int v42b_decompress(V42bisContext* ctx, const uint8_t* in, size_t n, size_t* used, uint8_t* out, size_t room,
                    size_t* made);
inline bool v42b_output_pending(const V42bisContext* ctx) { return ctx->dec.stack_count != 0; }

// Dictionary and matching, shared by the encoder and the decoder (v42bis_dict.cpp).
void v42b_tree_reset(V42bisDictionary* d, V42bisTree* t, uint16_t base, uint16_t n2);
uint16_t v42b_find_child(const V42bisDictionary* d, const V42bisTree* t, uint16_t parent, uint8_t c);
// The child of `parent` for character `c`, or 0; then `*before` is the child after which it would go (0:
// first in the list).
uint16_t v42b_find_child_at(const V42bisDictionary* d, const V42bisTree* t, uint16_t parent, uint8_t c,
                            uint16_t* before);
// Adds `parent` + `c` (which must not exist) after `before`; returns its code (0 when no code was free).
uint16_t v42b_add_string_at(V42bisDictionary* d, V42bisTree* t, uint16_t parent, uint16_t before, uint8_t c);
// Adds `parent` + `c` unless it exists (then 0).
uint16_t v42b_add_string(V42bisDictionary* d, V42bisTree* t, uint16_t parent, uint8_t c);
uint16_t v42b_parent(const V42bisDictionary* d, const V42bisTree* t, uint16_t code);
uint16_t v42b_first_child(const V42bisDictionary* d, const V42bisTree* t, uint16_t code);
inline uint8_t v42b_character(const V42bisDictionary* d, const V42bisTree* t, uint16_t code)
{
    return d->character[t->base + code];
}
// True when `code` names a character or a learnt string of this direction.
inline bool v42b_code_defined(const V42bisTree* t, uint16_t code)
{
    return code >= V42B_CONTROL_CODES && code < t->n2 && code != t->next_free &&
           (t->full || code < t->next_free);
}
void v42b_match_reset(V42bisMatcher* m);
// Feeds one character to the string matcher; returns the code of the string that the character ended
// (0 when the string goes on, or when it was already sent).
uint16_t v42b_match_char(V42bisDictionary* d, V42bisTree* t, V42bisMatcher* m, uint8_t n7, uint8_t c);
// The current string counts as sent: the next character only adds the string plus itself.
inline void v42b_match_mark_sent(V42bisMatcher* m)
{
    if (m->code != 0)
        m->sent = true;
}
