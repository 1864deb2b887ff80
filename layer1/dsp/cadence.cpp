// Cadence tracking and matching (blocks of 10 ms).
#include "layer1/dsp/cadence.h"

const CadenceSpec kCadenceSpecs[CADENCE_KINDS] = {
    // count, cycles, event,           on,      off,     on + off
    {0, 10, kCadenceOnEnded, 21, 45, 21, 45, 42, 90},      // fast busy
    {0, 3, kCadenceOnEnded, 40, 60, 40, 60, 80, 120},      // busy
    {0, 2, kCadenceOnEnded, 90, 210, 380, 420, 300, 630},  // ringback
};

// In state on the period counter counts the on period and the debounce the off blocks that may end it; in
// state off the debounce counts the off period and the period counter the on blocks that may end it. Two
// blocks confirm an edge, and the lengths leave those two blocks out.
void TrackCadence(CadenceTracker* t, int32_t on)
{
    t->event = 0;
    if (t->state == kCadenceOn) {
        t->periodCounter += 1;
        t->debounce = on ? 0 : t->debounce + 1;
        if (t->debounce >= 2) {
            t->state = 0;
            t->onLength = t->periodCounter - 2;
            t->periodCounter = 0;
            t->event = kCadenceOnEnded;
        }
    } else {
        t->debounce += 1;
        t->periodCounter = on ? t->periodCounter + 1 : 0;
        if (t->periodCounter >= 2) {
            t->state = kCadenceOn;
            t->offLength = t->debounce - 2;
            t->debounce = 0;
            t->event = kCadenceOffEnded;
        }
    }
}

int32_t MatchCadence(const CadenceTracker* t, CadenceSpec* spec)
{
    if (t->onLength > spec->maxOn || t->offLength > spec->maxOff) {
        spec->matchCount = 0;
        return 0;
    }
    if (t->event == spec->event && t->onLength >= spec->minOn && t->offLength >= spec->minOff) {
        const int32_t period = t->onLength + t->offLength;
        if (period >= spec->minPeriod && period <= spec->maxPeriod)
            spec->matchCount += 1;
        else
            spec->matchCount = 0;
    }
    if (spec->matchCount >= spec->requiredCycles) {
        spec->matchCount = spec->requiredCycles;
        return 1;
    }
    return 0;
}
