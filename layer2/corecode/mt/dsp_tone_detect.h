// Class 4: call-progress tone detection on the data pump's detector filters.
#pragma once

#include <cstdint>

// Per-device state of the handler, inside the DSP link context (cleared at set-up).
struct DspToneDetectState {
    uint8_t placeholder;
};
