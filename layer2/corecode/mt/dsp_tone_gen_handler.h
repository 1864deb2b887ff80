// Class 6: tone dialling, DTMF digits and tone pairs.
#pragma once

#include <cstdint>

// Per-device state of the handler, inside the DSP link context (cleared at set-up).
struct DspToneGenState {
    uint8_t placeholder;
};
