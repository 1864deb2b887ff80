// Class 4: call-progress tone detection on the data pump's detector filters.
//
// Arming (type 3, payload {count, tone ids...}) enters each tone id in the tracking table and binds every
// tone definition of the country block with that id to a slot of one of the three detector filters,
// programming a filter into DSP memory when it is taken. While slots are armed a poll message (types 4
// and 5) goes round once per pass of the message pump: it reads the filters' energy flags (register 57,
// bit f for filter f), turns each change into a closed on or off interval in the filter's history, and
// matches every armed definition's cadence against the history. A match sets the call-progress result of
// the tone id. Types 0-2 disarm everything and clear the results.
#pragma once

#include <cstdint>

#include "layer2/corecode/cmd/country_block.h"

struct DspLink;

constexpr int kToneTrackedIds = 12;  // the tracking table (the context's tone results)
constexpr int kToneFilters = 3;
constexpr int kToneFilterSlots = 4;
constexpr int kToneHistory = 7;
constexpr int kToneElements = 8;  // first and second cadence list together

// Message types of class 4.
enum DspToneMessageType : uint8_t {
    kToneMsgStop = 2,      // 0-2: end detection
    kToneMsgArm = 3,
    kToneMsgPoll = 4,      // 4 and 5: one poll and evaluation pass
    kToneMsgEvaluate = 5,
};

// Slot states and results.
enum DspToneSlotState : uint8_t { kSlotFree = 0, kSlotWaiting = 1, kSlotActive = 2, kSlotDone = 3 };
enum DspToneSlotResult : uint8_t { kSlotNoResult = 0, kSlotTimedOut = 1, kSlotDetected = 2 };

// Tracking-table entry states (the entry is {tone id, state, flag}; state 2 with the flag set is a result
// waiting to be read).
constexpr uint8_t kToneTracked = 1;
constexpr uint8_t kToneFound = 2;

struct DspToneInterval {
    uint8_t on;
    uint16_t ms;  // held at 65535
};

struct DspToneSlot {
    uint8_t state;
    uint8_t result;
    uint8_t definition;  // index of the definition in the country block + 1 (0: none)
    uint8_t toneId;
    uint8_t timers[2];   // router timer ids (0: not running)
};

struct DspToneFilter {
    uint8_t inUse;
    uint8_t set;           // 1-based filter parameter set of the country block
    uint16_t setWords[2];  // the set's first two words
    uint16_t words[2];     // the definition's two level words
    DspToneSlot slots[kToneFilterSlots];
    uint8_t flag;          // energy flag as last seen
    uint32_t since;        // millisecond counter at its last change
    uint8_t count;         // intervals held
    DspToneInterval history[kToneHistory];  // newest last
};

// Per-device state of the handler, inside the DSP link context (cleared at set-up).
struct DspToneDetectState {
    DspToneFilter filters[kToneFilters];
    uint8_t polling;   // a poll message is going round
    uint8_t pollTag;   // carried by the poll message; a disarm changes it, so a stale poll ends
};

// Cadence match: true when `count` intervals (oldest first; the newest may be the interval still running, so
// a tone that has lasted its minimum matches without waiting for its end) hold a run of consecutive intervals
// matching the `n` elements in order. An interval matches an element when the on/off flags agree and its
// duration lies within [minimum, maximum].
bool dsp_tone_cadence_match(const DspToneInterval* intervals, int count, const CountryCadenceElement* elements,
                            int n);

// Filter programming: the addresses of filter f's coefficient set (A) and threshold words.
uint32_t dsp_tone_filter_address(int filter);
uint32_t dsp_tone_threshold_address(int filter);
// Writes filter f's parameter set p0-p15 and the definition's two words into DSP memory: p2-p8 at A, p9-p13,
// the filter's mode word (256, 512, 1024) and p14 at A + 7, p15 at A + 14 (which makes the data pump reload
// the section), the two words at the threshold address. Returns 0, or the first failed write's result.
int dsp_tone_program_filter(DspLink* link, int filter, const uint16_t set[16], uint16_t word_a, uint16_t word_b);
