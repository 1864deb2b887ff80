// Class 3: hook changes, pulse dialling, hook flash and the line-interface profile.
//
// Types: 3 off hook, 4 on hook (2 is taken like 4), 5 select pulse dialling, 6 one pulse digit (data: the
// character), 7 end of pulse dialling, 8 hook flash, 9 re-select the line-interface profile. Every step runs
// its wait from the current profile on a router timer. The end of a pulse digit and of a flash is reported
// to call control (step_done); hook changes and the end of dialling are not, because call control does not
// wait for them and a late report would end its wait for a later digit early.
//
// Opening the loop sends the data pump idle, which drops its detector set-up; when the on-hook wait ends the
// idle detectors (ring-energy reports) are set again, so the next incoming call is seen. The loop stays open
// for the whole on-hook wait (the exchange needs that long to clear the call): an off-hook request in the
// wait is carried out at its end.
#pragma once

#include <cstdint>

// Per-device state of the handler, inside the DSP link context (cleared at set-up).
struct DspHookState {
    uint8_t timerId;         // the running step's router timer (0 none)
    uint8_t reportEnd;       // the running step reports its end to call control
    uint8_t flashing;        // a flash is in progress: the loop closes again when its timer ends
    uint8_t released;        // the loop was opened: the idle detectors are set again after the on-hook wait
    uint8_t offHookPending;  // an off-hook request waits for the end of the on-hook wait
    uint8_t pulse;           // pulse dialling selected
    uint8_t pulseCount;      // pulses of the digit in progress
    uint8_t profileSetting;  // id of the line-interface profile type 9 selects (cleared when none has it)
};

// Pulses of a dial character: its value, 10 for "0"; 0 for anything but a digit.
uint8_t dsp_pulse_count(uint8_t character);
