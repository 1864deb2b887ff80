// Caller-ID messages: the buffer that collects a message byte by byte, the checksum check, the reports of a
// message received on hook (formatted: "DATE = ", "TIME = ", "NMBR = ", "NAME = ", "MESG = " lines; unformatted:
// the message in hexadecimal) and the parse and report of a message received during a call (call waiting).
//
// A message is {type, length, length bytes, checksum}; the type 0x80 carries parameters {type, length, data}
// (multiple data message format), the type 0x04 a fixed layout of date, time and number (single data message
// format). Nothing here trusts the length byte: every copy is bounded by the bytes received and by the field
// it goes into. The reports go out through a print routine, so they can be tested without a modem.
#pragma once

#include <cstddef>
#include <cstdint>

struct CountryBlock;

constexpr size_t kCidMessageMax = 100;  // type, length, message and checksum
constexpr uint8_t kCidTypeMultiple = 0x80;
constexpr uint8_t kCidTypeSingle = 0x04;

// Caller-ID modes (+VCID).
enum CidMode : uint8_t { CID_OFF = 0, CID_FORMATTED = 1, CID_UNFORMATTED = 2 };

struct CidMessage {
    uint8_t bytes[kCidMessageMax];
    uint8_t count;     // bytes received
    uint8_t complete;  // the length byte's count of bytes (or the buffer) is full
};

// Fields of the message received during a call, each with its terminating 0.
struct CidCallWaiting {
    char date[5];
    char time[5];
    char number[16];
    char name[16];
    char message[33];
    uint8_t fresh;  // a caller ID arrived and is not yet reported
};

// Capture states (AtExtSettings::cid_capture).
enum CidCaptureState : uint8_t { CID_CAPTURE_IDLE = 0, CID_CAPTURE_RECEIVING = 1, CID_CAPTURE_DONE = 5 };

// The controller's caller-ID record, one per device.
struct CidState {
    CidMessage message;  // the message being received
};

struct CidPrinter {
    void* ctx;
    void (*print)(void* ctx, const char* text, uint8_t mode);  // mode: PrintToDte's line-end mode
};

void cid_message_clear(CidMessage* m);
// Adds one received byte; true once the message is complete (further bytes are ignored).
bool cid_message_put(CidMessage* m, uint8_t byte);

// The type byte, the length byte, the message and the checksum (length + 3 bytes, at most 100, all received)
// sum to 0 modulo 256.
bool cid_checksum_ok(const CidMessage& m);

// The report of a message received on hook. Formatted mode prints nothing unless the checksum is right;
// `voice` frames a non-empty report with DLE "X" and DLE ".".
void cid_report_idle(const CidMessage& m, uint8_t mode, bool voice, const CidPrinter& out);

// Parses a message received during a call into `cw` (formatted mode only, checksum required): 0, or 4 when
// the message is refused. A parameter over its limit ends the parse; what was parsed stays.
uint8_t cid_parse_call_waiting(const CidMessage& m, uint8_t mode, CidCallWaiting* cw);
// Prints the parsed fields (when fresh and in formatted mode) and clears them.
void cid_report(CidCallWaiting* cw, uint8_t mode, const CidPrinter& out);

// Matches measured tone intervals (10 ms units) against the country's call-waiting tone patterns of the
// given kind: 1 when the first match has its flag bit 0 set, 2 when not, 0 for no match.
uint8_t cw_tone_match(const CountryBlock& block, uint8_t kind, const uint8_t* intervals, uint8_t count);
