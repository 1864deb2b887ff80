// Class 9: the line-check stepping, once per pass of the message pump.
#pragma once

#include <cstdint>

// Per-device state of the handler, inside the DSP link context (cleared at set-up).
struct DspLineCheckState {
    uint8_t placeholder;
};
