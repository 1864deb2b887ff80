// The caller-ID recogniser: a caller-ID message is preceded by a channel seizure (alternating bits) and a mark
// signal (ones), or by the marks alone. Until a run of marks has been seen every bit is taken here, so the
// seizure never reaches the asynchronous framer as characters; after it the bits pass to the framer, which finds
// the start bit of the first character. A loss of carrier re-arms the recogniser.
#include "layer1/modem/fsk/fsk_state.h"

namespace {

// Ones in a row that make a mark signal (the shortest standard mark period is 55 bits).
constexpr int32_t kMarkBits = 40;

}  // namespace

int CallerIdTakeBit(void* owner, int32_t bit)
{
    auto* fsk = static_cast<FskState*>(owner);
    CallerIdRecogniser& r = fsk->callerId;
    // During a call the message has no seizure: the receiver's start delay waits for its marks instead.
    if (fsk->demod.startDelayActive)
        return 0;
    if (r.passing) {
        // Passing: 1 until the carrier comes on, 2 while it stays on.
        if (fsk->demod.carrierOn) {
            r.passing = 2;
            return 0;
        }
        if (r.passing == 1)
            return 0;
        r.passing = 0;
        r.ones = 0;
    }
    r.ones = bit ? r.ones + 1 : 0;
    if (r.ones >= kMarkBits)
        r.passing = 1;
    return 1;
}
