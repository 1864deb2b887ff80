// Cadence tracking of the call-progress detector: on and off lengths in 10 ms blocks, with a two-block
// debounce on each edge, and the matching of busy, fast busy and ringback cadences.
#pragma once

#include <cstdint>

constexpr int32_t kCadenceOn = 4096;
constexpr int32_t kCadenceOnEnded = 8192;   // event: an on period just ended
constexpr int32_t kCadenceOffEnded = 4096;  // event: an off period just ended

struct CadenceTracker {
    int32_t periodCounter;
    int32_t debounce;
    int32_t onLength;
    int32_t offLength;
    int32_t state;   // kCadenceOn or 0
    int32_t event;
};

struct CadenceSpec {
    int32_t matchCount;
    int32_t requiredCycles;
    int32_t event;
    int32_t minOn, maxOn;
    int32_t minOff, maxOff;
    int32_t minPeriod, maxPeriod;
};

enum CadenceKind : int32_t {
    CADENCE_FAST_BUSY = 0,
    CADENCE_BUSY,
    CADENCE_RINGBACK,
    CADENCE_KINDS,
};

// The three specs with cleared match counts, in matching order (fast busy, busy, ringback).
extern const CadenceSpec kCadenceSpecs[CADENCE_KINDS];

void TrackCadence(CadenceTracker* t, int32_t on);
// Returns 1 on every block while the programmed cadence holds.
int32_t MatchCadence(const CadenceTracker* t, CadenceSpec* spec);
