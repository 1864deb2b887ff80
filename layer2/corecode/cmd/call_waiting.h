// The call-waiting sequence during a data connection: it watches a tone flag for bursts of the
// call-waiting tone, matches their lengths against the country's patterns, then (when the pattern says a
// caller-ID message follows and formatted caller ID is on) receives the caller's message, and reports
// "RING", the caller and "RING" again before it asks for the connection to be held or cleared.
//
// A module: its state record, a reset, and a step per 10 ms that takes the tone flag and the received
// caller-ID bytes and acts through a table of operations, so it runs without a modem in the tests.
#pragma once

#include <cstdint>

#include "layer2/corecode/cmd/caller_id.h"

struct CountryBlock;

enum CwStep : uint8_t {
    CW_OFF = 0,        // no connection to watch
    CW_WATCH = 8,      // watching for the call-waiting tone
    CW_BURST = 9,      // a burst of the tone is measured
    CW_GAP = 10,       // after a burst: another may follow
    CW_CALLER_ID = 11, // the caller's message is being received
    CW_PAUSE = 12,     // handled; watching again after a pause
};

constexpr int kCwMaxBursts = 10;
constexpr uint16_t kCwGapEndTicks = 60;       // quiet after the last burst that ends the measurement
constexpr uint16_t kCwCallerIdTicks = 200;    // longest wait for the caller's message
constexpr uint16_t kCwPauseTicks = 500;       // before the next call-waiting tone is watched for
constexpr uint8_t kCwKindTone = 1;            // pattern kind of call-waiting tone bursts

struct CwSequence {
    uint8_t step;
    uint8_t bursts[kCwMaxBursts];  // burst lengths, 10 ms units
    uint8_t count;
    uint16_t ticks;                // of the burst or gap in progress
    uint16_t countdown;            // caller-ID wait or pause
    uint32_t announced;            // call-waiting tones reported
    CidMessage message;
    CidCallWaiting fields;
};

// What the sequence asks of the modem.
struct CwOps {
    void* ctx;
    void (*print)(void* ctx, const char* text, uint8_t mode);
    void (*receiver)(void* ctx, bool on);  // the data pump's caller-ID receiver during a call
    void (*answer)(void* ctx);             // hold the connection or clear it down, per the setting
};

// Back to the given step (CW_WATCH at a connection, CW_OFF at its end), counters and message cleared.
void cw_reset(CwSequence* s, uint8_t step);
// One 10 ms step: `tone` is the tone flag now; `bytes` the caller-ID bytes received since the last step.
// `cid_mode` is +VCID (the caller's message is received and printed only in formatted mode).
void cw_step(CwSequence* s, const CountryBlock& block, uint8_t cid_mode, bool tone, const uint8_t* bytes,
             int count, const CwOps& ops);
