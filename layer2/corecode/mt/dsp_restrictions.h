// Class 7: country parameters and the call-restriction bookkeeping.
//
// Numbers that failed are remembered in 12 entries, each on exactly one of three lists: free, recently
// dialled and restricted. A failed call counts an attempt and a consecutive-failure index; the index picks a
// delay from the country's table during which the number is answered "delayed"; at the country's maximum
// attempts less one the number is restricted ("blacklisted"), for the restriction time when the country
// releases restricted numbers, else until the country parameters are applied again. Timers run on the
// router's millisecond delta list.
#pragma once

#include <cstdint>

constexpr int kRestrictionEntries = 12;
constexpr int kRestrictionDigits = 40;

enum DspRestrictionListId : uint8_t { kRestrictFree = 0, kRestrictRecent = 1, kRestrictRestricted = 2 };

// One timer per entry: the delay, after which the release timer (if due) runs for the rest of the
// restriction time; a delay that lasts until the number is forgotten; or the release alone.
enum DspRestrictionTimerKind : uint8_t {
    kRestrictNoTimer = 0,
    kRestrictDelay = 1,
    kRestrictRelease = 2,
    kRestrictDelayToRelease = 3,
};

// Verdicts of a number check.
enum DspRestrictionVerdict : uint8_t { kVerdictAllowed = 1, kVerdictDelayed = 2, kVerdictRefused = 3 };

struct DspRestrictionEntry {
    DspRestrictionEntry* prev;
    DspRestrictionEntry* next;
    uint8_t attempts;      // failed calls (saturates)
    uint8_t failureIndex;  // consecutive failures, index into the delay table
    uint16_t digitCount;
    char digits[kRestrictionDigits];
    uint8_t timer;         // router timer id, 0 when none runs
    uint8_t timerKind;     // DspRestrictionTimerKind of the running timer
    uint8_t list;          // DspRestrictionListId the entry is on
    uint32_t releaseMs;    // with a delay running: the release timer that follows it (0: none)
};

struct DspRestrictionList {
    DspRestrictionEntry* head;
    DspRestrictionEntry* tail;
    uint8_t count;
};

struct DspRestrictionNumber {
    uint16_t count;  // 0: none
    char digits[kRestrictionDigits];
};

// Per-device state of the handler, inside the DSP link context (cleared at set-up; the entries are chained
// on first use).
struct DspRestrictionState {
    uint8_t ready;
    DspRestrictionEntry entries[kRestrictionEntries];
    DspRestrictionList lists[3];
    DspRestrictionNumber pending;     // the number of the call being made (the last check)
    DspRestrictionNumber lastFailed;  // the number of the last failed call
};
