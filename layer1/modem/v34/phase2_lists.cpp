// The phase-2 step lists. The sequences themselves come with the phase-2 transmitter; until then each list
// is a placeholder that waits one tick and then holds, so the entry points, the restart choice and the
// initial wait already run as they will.
#include "layer1/modem/v34/phase2_state.h"

namespace {

#define PHASE2_PLACEHOLDER(name) const StepEntry name[] = {{{HoldStep}, 1}, {{HoldStep}, -1}, kStepEnd}

PHASE2_PLACEHOLDER(kCallerStart);
PHASE2_PLACEHOLDER(kAnswererStart);
PHASE2_PLACEHOLDER(kCallerInfo1Retry);
PHASE2_PLACEHOLDER(kAnswererInfo1cWait);
PHASE2_PLACEHOLDER(kCallerInfo1AfterL2);
PHASE2_PLACEHOLDER(kAnswererInfo1cAfterReversal);
PHASE2_PLACEHOLDER(kAnswererMdAndInfo1);
PHASE2_PLACEHOLDER(kCallerRestart);
PHASE2_PLACEHOLDER(kAnswererRestart);

#undef PHASE2_PLACEHOLDER

}  // namespace

const StepEntry* Phase2FirstList(int32_t caller)
{
    return caller ? kCallerStart : kAnswererStart;
}

const StepEntry* Phase2RestartList(int32_t type, int32_t caller)
{
    switch (type) {
    case 1: return kCallerInfo1Retry;
    case 2: return kAnswererInfo1cWait;
    case 3: return kCallerInfo1AfterL2;
    case 4: return kAnswererInfo1cAfterReversal;
    case 6: return kAnswererMdAndInfo1;
    default: return caller ? kCallerRestart : kAnswererRestart;
    }
}
