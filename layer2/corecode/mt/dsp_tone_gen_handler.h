// Class 6: tone dialling, DTMF digits and tone pairs.
//
// Types: 1 reset (posted at restart), 6 select tone dialling, 7 one DTMF digit (data: the character) with the
// country's on and off times and levels, 8 end of tone dialling, 3 a request of the link context's senders:
// {1, digit, on ms, off ms} one DTMF digit with the caller's times, {2, f1 Hz, f2 Hz, on ms} a tone pair,
// stopped after its on time (16-bit values little-endian). A digit reports its end to call control
// (step_done) after on + off time.
#pragma once

#include <cstdint>

// Per-device state of the handler, inside the DSP link context (cleared at set-up).
struct DspToneGenState {
    uint8_t timerId;       // the running digit's or tone pair's router timer (0 none)
    uint8_t reportEnd;     // the running step reports its end to call control
    uint8_t tonePairOn;    // a tone pair plays (stopped when its timer ends)
    uint8_t toneDialling;  // tone dialling selected
};

// The data pump's code of a DTMF character: "0"-"9" 0-9, "A"-"D" 10-13, "*" 14, "#" 15; -1 for any other.
int dsp_dtmf_code(uint8_t character);
// The data pump's tone-pair word of a frequency: its phase step per sample at 9600 samples per second
// (65536 is one cycle), rounded.
uint16_t dsp_tone_phase_step(uint16_t hz);
