// Class 3: hook changes, pulse dialling, hook flash and the line-interface profile.
#pragma once

#include <cstdint>

// Per-device state of the handler, inside the DSP link context (cleared at set-up).
struct DspHookState {
    uint8_t placeholder;
};
