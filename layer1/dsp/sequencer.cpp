#include "layer1/dsp/sequencer.h"

int32_t RunStep(void* owner, Sequencer* s)
{
    if (s->list == nullptr)
        return s->remaining;
    if (s->remaining == 0) {
        do {
            s->position += 1;
            s->remaining = s->list[s->position].count;
        } while (s->remaining == 0);
    }
    const StepEntry& entry = s->list[s->position];
    if (entry.handler != nullptr)
        entry.handler(owner);
    // The handler may have started another list or step: the counts below act on what it left.
    if (s->auxTimer > 0)
        s->auxTimer -= 1;
    if (s->remaining > 0)
        s->remaining -= 1;
    return s->remaining;
}

void ControlSequencer(Sequencer* s, int32_t op, const StepEntry* list, int32_t index)
{
    switch (op) {
    case SEQ_START_AT:
        s->list = list;
        s->position = index;
        s->remaining = list[index].count;
        break;
    case SEQ_START_LINKED:
        s->list = list[0].list;
        s->position = 0;
        s->remaining = s->list[0].count;
        break;
    case SEQ_RESTART_AT:
        s->position = index - 1;
        s->remaining = 0;
        break;
    case SEQ_END_STEP:
        s->remaining = 0;
        break;
    case SEQ_SET_REMAINING:
        s->remaining = index;
        break;
    case SEQ_SET_TIMER:
        s->auxTimer = index;
        break;
    default:
        break;
    }
}
