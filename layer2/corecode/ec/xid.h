// LAPM XID negotiation: the information field of XID frames as this link builds it (format identifier,
// HDLC optional functions with window and frame sizes, the V.42bis group and the V.44 group), and the rules
// by which a received XID field changes the negotiated values. Plain functions over a state record and
// byte buffers; LAPM sends the frames and turns a failed negotiation into its disconnect (reason 94).
#pragma once

#include <cstddef>
#include <cstdint>

struct V42bisContext;

constexpr uint8_t XID_CONTROL = 0xAF;
constexpr uint8_t XID_PF = 0x10;
constexpr uint8_t XID_FORMAT = 0x82;
constexpr uint8_t XID_GROUP_HDLC = 0x80;
constexpr uint8_t XID_GROUP_V42BIS = 0xF0;
constexpr uint8_t XID_GROUP_V44 = 0xFF;
constexpr uint8_t XID_V44_PARAMETER = 0x40;
// Parameters of the HDLC group.
constexpr uint8_t XID_PI_OPTIONS = 0x03;
constexpr uint8_t XID_PI_TX_N401 = 0x05;
constexpr uint8_t XID_PI_RX_N401 = 0x06;
constexpr uint8_t XID_PI_TX_WINDOW = 0x07;
constexpr uint8_t XID_PI_RX_WINDOW = 0x08;
// Option octets of PI 3, and the bit of each that agrees the option.
constexpr uint8_t XID_OPT1_SREJ = 0x8E, XID_OPT1_PLAIN = 0x8A, XID_OPT1_SREJ_BIT = 0x04;
constexpr uint8_t XID_OPT2_TEST = 0xA9, XID_OPT2_PLAIN = 0x89, XID_OPT2_TEST_BIT = 0x20;
constexpr uint8_t XID_OPT3_FCS = 0x03, XID_OPT3_PLAIN = 0x00;
// Parameters of the V.42bis group.
constexpr uint8_t XID_PI_V42BIS_NAME = 0x00;
constexpr uint8_t XID_PI_P0 = 0x01;
constexpr uint8_t XID_PI_P1 = 0x02;
constexpr uint8_t XID_PI_P2 = 0x03;

constexpr uint16_t XID_DEFAULT_WINDOW = 15;
constexpr uint16_t XID_DEFAULT_N401 = 128;
constexpr uint16_t XID_MIN_P1 = 512;
constexpr uint16_t XID_MAX_P1 = 2048;
constexpr uint8_t XID_MIN_P2 = 6;
constexpr uint8_t XID_MAX_P2 = 250;
constexpr uint16_t XID_MIN_N401 = 20;
constexpr uint16_t XID_V44_MIN_CODEWORDS = 256;
constexpr uint8_t XID_V44_MIN_STRING = 32;
constexpr uint16_t XID_V44_MIN_HISTORY = 512;
constexpr size_t XID_MAX_INFO = 80;  // longest field this link builds is 75 octets

// The V.44 values of an XID record. Direction: bit 0 transmit, bit 1 receive, as seen by the record's owner.
struct XidV44Values {
    uint8_t capability;
    uint8_t direction;
    uint16_t tx_codewords;
    uint16_t rx_codewords;
    uint8_t tx_string;
    uint8_t rx_string;
    uint16_t tx_history;
    uint16_t rx_history;
};

// The own proposal and the negotiated values have this shape. In the proposal the three option fields are
// requests (SREJ: either low bit; TEST: bit 0; FCS: 1 asks, 2 also requires); in the negotiated record
// they are 1 when agreed. P0 is in the line's terms: bit 0 initiator to responder, bit 1 the reverse.
struct XidValues {
    uint16_t tx_window;
    uint16_t rx_window;
    uint16_t tx_n401;  // octets
    uint16_t rx_n401;
    uint8_t srej;
    uint8_t test;
    uint8_t fcs;
    uint8_t p0;
    uint16_t p1;
    uint8_t p2;
    XidV44Values v44;
};

struct XidState {
    XidValues own;
    XidValues negotiated;
    bool answerer;
    bool v42bis_seen;        // the peer sent a V.42bis group: a response carries one back
    bool v44_seen;
    bool v44_accepted;
    bool v44_answer_needed;  // the originator owes a V.44-only XID command
    uint8_t v44_offers;      // capability offers taken as answerer
    bool v44_offer_remembered;
};

enum XidKind : uint8_t {
    XID_COMMAND = 0,       // the own proposal, every group
    XID_RESPONSE = 1,      // the negotiated values
    XID_V44_COMMAND = 2,   // format identifier and the V.44 group with the negotiated values only
};

enum XidResult : uint8_t {
    XID_OK = 0,
    XID_FAIL_FCS = 1,          // the FCS option was required and not agreed
    XID_FAIL_P1 = 2,           // dictionary size below 512
    XID_FAIL_P2 = 3,           // string length outside 6-250
    XID_FAIL_V44_LETTER = 4,   // a V.44 parameter letter other than 'A' to 'H'
    XID_FAIL_V44_VALUE = 5,    // V.44 codewords, string length or history below its minimum
    XID_FAIL_V44_CAPABILITY = 6,
    XID_FAIL_MALFORMED = 7,    // a length running past the field, or a value too wide for its place
    XID_FAIL_ZERO = 8,         // a window of 0 or a frame size below one octet
};

// What the link settings ask for (the values LAPM's set-up receives: +DS, +DS44, SREJ, TEST, N401, FCS).
struct XidLinkSettings {
    uint8_t srej_request;
    uint8_t test_request;
    uint16_t n401;
    uint8_t fcs_request;
    uint8_t ds_direction;    // +DS direction: 0 none, 1 transmit, 2 receive, 3 both
    uint16_t ds_dictionary;  // +DS dictionary size
    uint8_t ds_string;       // +DS largest string
    XidV44Values v44;        // +DS44 (direction 0 leaves the V.44 group out)
};

// The negotiated record before any XID: windows 15, N401 128, no options, P0 0, P1 512, P2 6, V.44 off.
void xid_default_values(XidValues* v);
// Sets up a new negotiation: own proposal from the settings (N401 clamped to 20-128, windows 15, P0 capped
// at 3, P1 clamped to 512-2048, P2 to 6-250), negotiated values at their defaults, flags cleared.
void xid_init(XidState* x, bool answerer, const XidLinkSettings* settings);
// The own proposal alone, as xid_init sets it.
void xid_set_own(XidValues* own, const XidLinkSettings* settings);

// Builds the information field of an XID frame of `kind`; returns its length (0 when `room` is too small).
size_t xid_build_info(const XidState* x, XidKind kind, uint8_t* out, size_t room);
// Builds the whole frame: address, control 0xAF (with the P/F bit), information field.
size_t xid_build_frame(const XidState* x, XidKind kind, uint8_t address, bool pf, uint8_t* out, size_t room);

// Takes a received XID information field (command or response) into the negotiated values. Every length is
// checked against the field; anything but XID_OK fails the negotiation.
XidResult xid_take(XidState* x, const uint8_t* info, size_t n, bool renegotiating);

// The negotiated V.42bis directions as the local compressor takes them (bit 0 encoder, bit 1 decoder):
// the answerer's encoder carries the responder-to-initiator direction.
uint8_t xid_local_p0(const XidState* x);
// Restarts V.42bis with the negotiated values; returns v42b_init's answer.
int xid_start_v42bis(const XidState* x, V42bisContext* ctx);
