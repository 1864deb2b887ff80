// V.44 data compression: the parameters that +DS44 sets (with the supported maxima they are checked
// against), the engine of one LAPM link (an encoder for the transmit direction and a decoder for the
// receive direction) and its dictionary memory, taken from the paged pool under the tags "DICT", "DICR"
// and "DICS" when the engine is set up and given back at stop.
//
// Code stream, least significant bit first: a prefix bit 1 marks a codeword, 0 an ordinal (a character);
// right after a string codeword the prefix 00 marks an ordinal and 01 a string extension. Codewords 0-3
// are the controls ETM, FLUSH, STEPUP and REINIT; strings take 4 upwards. Codewords start at 6 bits and
// ordinals at 7; a STEPUP widens the kind of item that follows it by one bit.
#pragma once

#include <cstddef>
#include <cstdint>

#include "layer2/corecode/ec/xid.h"

// Control codewords.
constexpr uint16_t V44_ETM = 0;
constexpr uint16_t V44_FLUSH = 1;
constexpr uint16_t V44_STEPUP = 2;
constexpr uint16_t V44_REINIT = 3;
// Commands after the escape character in transparent mode.
constexpr uint8_t V44_ECM = 0;
constexpr uint8_t V44_EID = 1;
constexpr uint8_t V44_RESET = 2;  // passed over: the decoder starts afresh at every ECM anyway

constexpr uint8_t V44_N3 = 8;                 // character size
constexpr uint16_t V44_N4 = 256;              // alphabet size
constexpr uint16_t V44_FIRST_CODEWORD = 4;    // N5
constexpr uint16_t V44_CONTROL_CODEWORDS = 4; // N6
constexpr uint8_t V44_FIRST_CODEWORD_SIZE = 6;  // C2 after a reset
constexpr uint8_t V44_FIRST_ORDINAL_SIZE = 7;   // C5 after a reset
constexpr uint8_t V44_ESCAPE_STEP = 51;
constexpr size_t V44_FRAME_SLACK = 7;         // the encoder stops taking characters this close to the frame end
constexpr uint32_t V44_TRANSPARENT_MARGIN = 128;  // compressed octets ahead of the input before going transparent
constexpr uint32_t V44_COMPRESSED_MARGIN = 16;    // ... and behind it before coming back
constexpr size_t V44_OUT_QUEUE = 2048;

constexpr uint16_t V44_MIN_CODEWORDS = 256;
constexpr uint16_t V44_MIN_HISTORY = 512;
constexpr uint8_t V44_MIN_STRING = 32;
constexpr uint8_t V44_DEFAULT_STRING = 140;
constexpr uint16_t V44_DEFAULT_CODEWORDS = 2048;
constexpr uint16_t V44_DEFAULT_HISTORY = 8192;

// Directions as the engine uses them.
constexpr uint8_t V44_ENCODE = 1;
constexpr uint8_t V44_DECODE = 2;

// The +DS44 record, 20 bytes in this order.
struct V44Params {
    uint32_t capability;
    uint32_t negotiation;
    uint8_t direction;  // 0 none, 1 transmit, 2 receive, 3 both
    uint8_t spare;
    uint16_t tx_codewords;
    uint16_t rx_codewords;
    uint8_t tx_string;
    uint8_t rx_string;
    uint16_t tx_history;
    uint16_t rx_history;
};
static_assert(sizeof(V44Params) == 20, "the +DS44 record is 20 bytes");

// Per device: the supported maxima and the current request.
struct V44Settings {
    V44Params supported;
    V44Params request;
};

// One direction's parameters.
struct V44Context {
    uint8_t n1;       // largest codeword size: bits of the highest codeword N2 - 1
    uint16_t n2;      // codewords
    uint8_t n7;       // longest string
    uint16_t n8;      // history size
    uint8_t ext_bits; // field size of a long string extension
    uint8_t flags;    // V44_ENCODE or V44_DECODE when this direction runs
};

// An encoder dictionary node: a string of `length` characters standing at `pos` in the history; its
// children extend it, and siblings share its parent. `character` is the first character after the
// parent's string.
struct V44Node {
    uint16_t pos;
    uint16_t child;
    uint16_t sibling;
    uint8_t length;
    uint8_t character;
};
static_assert(sizeof(V44Node) == 8, "codeword nodes are 8 octets");

enum V44ItemKind : uint8_t {
    V44_ITEM_NONE = 0,
    V44_ITEM_ORDINAL = 1,
    V44_ITEM_CODEWORD = 2,
    V44_ITEM_EXTENSION = 3,
};

// The item sent or received last: the next codeword or ordinal defines a new codeword from it.
struct V44LastItem {
    uint8_t kind;     // V44ItemKind
    uint8_t length;   // characters of its string (lengthened by an extension)
    uint16_t pos;     // where its string stands in the history
    uint16_t code;    // its codeword (V44_ITEM_CODEWORD), or 0
};

struct V44Encoder {
    uint8_t* history;        // start of the "DICT" block
    V44Node* nodes;          // codeword nodes after the history, node of codeword k at nodes[k - 4]
    uint16_t first[256];     // first node of the strings that start with each character
    uint16_t next_code;      // C1
    uint8_t codeword_size;   // C2
    uint8_t ordinal_size;    // C5
    uint32_t coded;          // history characters already coded
    uint32_t filled;         // history characters taken (the rest of them wait to be coded)
    uint8_t phase;           // where the coding of the next item stands (v44_encode.cpp)
    V44LastItem last;
    uint8_t escape;
    bool transparent;
    bool flushed;            // nothing sent since the last FLUSH
    uint32_t octets_since_test;  // octets the compressed stream made since the last mode test
    uint32_t bit_acc;
    uint8_t bit_count;
    uint16_t queue_read;
    uint16_t queue_count;
    uint8_t queue[V44_OUT_QUEUE];  // octets made and not yet handed out
};

enum V44Status : int {
    V44_OK = 0,
    V44_ERR_CODEWORD = 1,    // a codeword above the next free one
    V44_ERR_NEXT_FREE = 2,   // the next free codeword where it cannot stand
    V44_ERR_EXTENSION = 3,   // a string extension not after a codeword, too long, or with no codeword free
    V44_ERR_HISTORY = 4,     // a string past the end of the history
    V44_ERR_STEPUP = 5,      // a codeword wider than the largest size
    V44_ERR_INACTIVE = 6,    // the direction was not negotiated
    V44_ERR_ORDINAL = 7,     // an ordinal wider than 8 bits
    V44_ERR_ESCAPE = 8,      // an escape followed by an unknown command
};

struct V44Decoder {
    uint8_t* history;        // "DICR"
    uint16_t* table;         // "DICS": history position and length of each codeword
    uint16_t next_code;
    uint8_t codeword_size;
    uint8_t ordinal_size;
    bool stepup;             // a STEPUP arrived: the next item is one bit wider
    V44LastItem last;
    uint32_t filled;         // history characters decoded
    uint32_t delivered;      // ... of them handed out
    uint32_t bit_acc;
    uint8_t bit_count;
    uint8_t escape;
    bool transparent;
    bool escape_seen;
    int status;              // V44_OK, or the error that stopped the decoder
};

struct V44Engine {
    V44Context tx;   // the encoder's
    V44Context rx;   // the decoder's
    uint8_t* dict;   // "DICT": transmit history + 8 x transmit codewords
    uint8_t* dicr;   // "DICR": receive history
    uint8_t* dics;   // "DICS": 4 x receive codewords
    V44Encoder enc;
    V44Decoder dec;
};

// Parameters (v44_params.cpp). Checks answer non-zero when +DS44 may take the value.
int v44_check_direction(uint32_t v);
int v44_check_negotiation(uint32_t v);
int v44_check_capability(uint32_t v);
int v44_check_string_length(uint32_t v);
int v44_check_tx_codewords(const V44Settings* s, uint32_t v);
int v44_check_rx_codewords(const V44Settings* s, uint32_t v);
int v44_check_tx_history(const V44Settings* s, uint32_t v);
int v44_check_rx_history(const V44Settings* s, uint32_t v);
void v44_get_params(const V44Settings* s, V44Params* out);
void v44_set_params(V44Settings* s, const V44Params* in);
// Supported maxima from a memory budget in octets (0: no limit, every maximum 65535).
void v44_supported_maxima(V44Settings* s, uint32_t budget);
// Supported maxima with no limit; called once at device start.
void v44_supported_defaults(V44Settings* s);
// Current request := supported maxima with direction 3, strings 140, codewords at most 2048, history at
// most 8192, negotiation 0.
void v44_params_default(V44Settings* s);
uint32_t v44_set_negotiation(V44Settings* s, uint32_t v);
// The request as the XID proposal carries it.
XidV44Values v44_xid_request(const V44Settings* s);

// Engine set-up (v44_params.cpp). Direction 0 frees the dictionaries and leaves the engine off. Returns
// false when a dictionary could not be had: every block is then given back and the engine is off.
bool v44_start(V44Engine* e, const XidV44Values* negotiated);
void v44_free_dictionaries(V44Engine* e);
// Largest codeword size for `n2` codewords: the bits of N2 - 1.
uint8_t v44_codeword_bits(uint16_t n2);
// Field size of a long string extension for the longest string `n7`.
uint8_t v44_extension_bits(uint8_t n7);

// Encoder (v44_encode.cpp). Takes characters from `in` while fewer than `room - V44_FRAME_SLACK` octets
// were written to `out`, writes at most `room`; the rest waits in the queue. Returns the characters taken.
size_t v44_compress(V44Engine* e, const uint8_t* in, size_t n, uint8_t* out, size_t room, size_t* made);
// Codes every character taken, then (compressed mode, when anything was sent since) FLUSH and the fill
// to the octet boundary. The octets wait in the queue.
void v44_flush(V44Engine* e);
size_t v44_drain(V44Engine* e, uint8_t* out, size_t room);
// Octets waiting plus characters taken and not yet coded.
size_t v44_queued(const V44Engine* e);
void v44_encoder_reset(V44Engine* e);

// Decoder (v44_decode.cpp). Delivers characters into `out` (at most `room`) from the octets of `in`;
// `*used` counts the octets taken. Returns V44_OK or the error that stopped it.
int v44_decompress(V44Engine* e, const uint8_t* in, size_t n, size_t* used, uint8_t* out, size_t room,
                   size_t* made);
bool v44_output_pending(const V44Engine* e);
void v44_decoder_reset(V44Engine* e);
