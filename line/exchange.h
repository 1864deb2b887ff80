// A simulated telephone exchange: subscriber lines with numbers, each reached through 10 ms frames of
// 8000 Hz samples and the hook state of its card. It gives dial tone when a line is seized, receives DTMF and
// pulse digits, routes to the called line, rings it with the country's cadence (the ringing signal at its
// frequency, which a card on hook sees as a train of pulses), sends ringback, busy or congestion to the
// caller, connects the two on answer and clears the call when either hangs up.
//
// The exchange keeps no time of its own: every call carries the clock time (100 ns units). Per 10 ms frame
// the user calls ExchangeTick, then for each line ExchangeGet (what the line hears in this frame) and
// ExchangePut (what the line sent in this frame). What one line sends reaches its partner in the next frame.
// Every entry takes the exchange's lock, so the line thread and a test or the host may call it at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "line/exchange_caller_id.h"
#include "line/exchange_dtmf.h"
#include "line/exchange_pulse.h"
#include "line/exchange_tones.h"
#include "line/line_endpoint.h"
#include "platform/kernel.h"

enum ExchangeLineState : int {
    EXL_IDLE = 0,        // on hook, no call
    EXL_DIALLING = 1,    // off hook: dial tone until the first digit, then collecting digits
    EXL_RINGBACK = 2,    // the called line is being rung; the caller hears ringback
    EXL_RINGING = 3,     // this line is being rung
    EXL_CONNECTED = 4,   // in conversation with its partner
    EXL_BUSY = 5,        // busy tone: the called line was busy, or the partner hung up
    EXL_CONGESTION = 6,  // congestion: unknown number or faulty dialling
};

const char* ExchangeLineStateName(ExchangeLineState state);

// An open loop this long is the subscriber hanging up (shorter breaks are pulses, or hook flashes in a call),
// unless the country's longest flash with its margin is longer (ExchangeClearTime).
constexpr LONGLONG kExchangeClearTime = 300 * 10000;
// Caller ID on hook starts this long after the end of the first ring.
constexpr LONGLONG kExchangeCallerIdDelay = 500 * 10000;
// A number left incomplete this long after its last digit is given up (congestion).
constexpr LONGLONG kExchangeDiallingTimeout = 5000LL * 10000;

struct ExchangeEvent {
    LONGLONG time;
    int line;
    std::string text;
};

struct ExchangeLine {
    std::string number;
    ExchangeLineState state = EXL_IDLE;
    int partner = -1;
    LONGLONG since = 0;            // time of the last state change
    bool closed = false;           // loop closed (off hook)
    LONGLONG openedAt = 0;         // when the loop last opened
    PulseReceiver pulse;
    DtmfReceiver dtmf;
    bool dialStarted = false;      // the first digit began: dial tone stops
    std::string dialled;
    LONGLONG lastDigit = 0;
    ExchangeTonePlayer tone;
    // Subscriber options and the signals that show a caller.
    std::string name;
    bool callerId = false;         // caller ID between the first and second ring
    bool callWaiting = false;      // a second caller is announced during a call
    CallerIdSender cid;            // caller ID (and the call-waiting tone) being sent to this line
    bool cidSent = false;          // caller ID of this ringing was sent
    int waiting = -1;              // the second caller waiting (in ringback), -1 none
    int held = -1;                 // the party held after a flash took the waiting caller, -1 none
    int16_t in[kLineFrameSamples] = {};   // what the line sent in the last frame
    int16_t out[kLineFrameSamples] = {};  // what the line hears in this frame
};

// Renders the caller-ID signal of a message into samples (8000 Hz): on hook after a ring (with a channel
// seizure) or during a call (marks only). Replaceable, so a test can put another generator on the line.
typedef void (*ExchangeCallerIdRenderer)(void* ctx, const std::vector<uint8_t>& message, bool duringCall,
                                         std::vector<int16_t>* out);

struct Exchange {
    std::mutex lock;
    ExchangeCountry country;
    ExchangeCallerIdRenderer cidRenderer = nullptr;  // null: the exchange's own V.23 sender
    void* cidRendererCtx = nullptr;
    bool cidSingleFormat = false;    // single data message format instead of the multiple one
    std::string dateTime = "01010000";  // "MMDDhhmm" at dateTimeSetAt
    LONGLONG dateTimeSetAt = 0;
    std::vector<std::unique_ptr<ExchangeLine>> lines;
    std::vector<ExchangeEvent> events;
    LONGLONG now = 0;
};

// A telephone number the exchange takes: 1 to 32 of the digits 0-9, A-D, * and #.
bool ExchangeNumberValid(const std::string& number);

Exchange* ExchangeCreate(const ExchangeCountry& country);
void ExchangeDestroy(Exchange* exchange);
// Adds a line with its number (digits 0-9, A-D, * and #, unique); returns its index, or -1 with a message.
int ExchangeAddLine(Exchange* exchange, const std::string& number, std::string* error);
// A hook change of a line at time t (closed: off hook). Changes must come in time order per line.
void ExchangeHook(Exchange* exchange, int line, bool closed, LONGLONG t);
// Starts the frame at time now: timers, digits from the frames received, the frames to send.
void ExchangeTick(Exchange* exchange, LONGLONG now);
void ExchangeGet(Exchange* exchange, int line, int16_t* samples);  // kLineFrameSamples
void ExchangePut(Exchange* exchange, int line, const int16_t* samples);

struct ExchangeSubscriber {
    std::string name;
    bool callerId = false;
    bool callWaiting = false;
};
// Subscriber options of a line: the name shown to the lines it calls, caller ID, call waiting.
void ExchangeSetSubscriber(Exchange* exchange, int line, const ExchangeSubscriber& options);
// The calendar shown in caller ID: "MMDDhhmm" at time t, running on with the clock.
void ExchangeSetDateTime(Exchange* exchange, const std::string& mmddhhmm, LONGLONG t);
void ExchangeSetCallerIdRenderer(Exchange* exchange, ExchangeCallerIdRenderer renderer, void* ctx);
void ExchangeSetCallerIdSingleFormat(Exchange* exchange, bool single);
// An open loop at least this long clears the call: the default, or the country's longest flash and half again.
LONGLONG ExchangeClearTime(const ExchangeCountry& country);

// State for the host and the tests.
ExchangeLineState ExchangeGetState(Exchange* exchange, int line);
int ExchangeGetPartner(Exchange* exchange, int line);
int ExchangeGetWaiting(Exchange* exchange, int line);  // the second caller waiting, -1 none
int ExchangeGetHeld(Exchange* exchange, int line);     // the party held, -1 none
std::string ExchangeGetDialled(Exchange* exchange, int line);
std::vector<ExchangeEvent> ExchangeTakeEvents(Exchange* exchange);
