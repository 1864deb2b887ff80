// Class 7: country parameters and the call-restriction bookkeeping.
#pragma once

#include <cstdint>

// Per-device state of the handler, inside the DSP link context (cleared at set-up).
struct DspRestrictionState {
    uint8_t placeholder;
};
