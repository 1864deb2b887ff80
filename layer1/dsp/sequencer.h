// Step lists and the step sequencer: every mode of the data pump is a script of {handler, count} steps that a
// Sequencer runs one tick at a time (per block, symbol or sample).
#pragma once

#include <cstdint>

// A step handler takes the sequencer's owner record (normally the DspContext).
typedef void (*StepHandler)(void* owner);

// Count 1: the step runs once; N > 1: N ticks; -1: every tick until a handler or command moves on; 0: passed
// over. For ControlSequencer op 1 the handler field of entry 0 holds the address of another list instead.
struct StepEntry {
    union {
        StepHandler handler;
        const StepEntry* list;
    };
    int32_t count;
};

// A StepList is a constant array of StepEntry. Its last reachable entry holds the sequencer (count -1) or moves
// it elsewhere; every list also ends with kStepEnd, so a list that runs out by mistake parks the sequencer on
// the end marker (nothing runs) instead of walking past the array.
constexpr StepEntry kStepEnd{{nullptr}, -1};

struct Sequencer {
    const StepEntry* list;  // current StepList
    int32_t position;       // index of the current entry
    int32_t remaining;      // ticks left: 0 makes the next tick advance, negative keeps the step for ever
    int32_t auxTimer;       // counted down once per tick while positive
};

enum SequencerOp : int32_t {
    SEQ_START_AT = 0,      // position = index on the given list, remaining = that entry's count
    SEQ_START_LINKED = 1,  // list = the list whose address stands in entry 0 of the given list
    SEQ_RESTART_AT = 2,    // position = index - 1, remaining 0: the next tick starts at index (or later)
    SEQ_END_STEP = 3,      // remaining 0: the next tick advances
    SEQ_SET_REMAINING = 4, // remaining = index
    SEQ_SET_TIMER = 5,     // auxiliary timer = index
};

// One tick: advance past finished and zero-count steps, run the current handler, count the timer and the step
// down (as the handler left the sequencer). Returns the remaining count after the tick.
int32_t RunStep(void* owner, Sequencer* sequencer);

void ControlSequencer(Sequencer* sequencer, int32_t op, const StepEntry* list, int32_t index);
