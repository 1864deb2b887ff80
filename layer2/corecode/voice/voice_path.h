// The voice engine's side towards the data pump and the line (inside the voice folder).
#pragma once

#include <cstdint>

#include "layer2/corecode/voice/voice_engine.h"

// Sub-modes of the data pump's voice mode (0x97 byte 2): which of its voice steps run.
enum : uint8_t {
    VOICE_SUB_PLAY = 0,     // play the transmit bytes; DTMF and call-progress detection
    VOICE_SUB_RECORD = 1,   // record; DTMF, call-progress and calling-tone detection
    VOICE_SUB_MONITOR = 2,  // silence on the line; silence, DTMF and calling-tone detection
};

// (Re)starts the data pump's voice mode with the selected codec, rate and a sub-mode.
void voice_pump_start(AcuContext* acu, uint8_t sub_mode);
// The data pump leaves voice mode (its tone generators play only outside it) and comes back to monitoring.
void voice_pump_pause(AcuContext* acu);
void voice_pump_resume(AcuContext* acu);
// A transfer's clean start: the data pump leaves voice mode (which empties its sample queues, so nothing of the
// last transfer comes first and an ADPCM coder starts in step), the line rings are emptied, and voice mode
// starts again in the sub-mode.
void voice_pump_restart(AcuContext* acu, uint8_t sub_mode);
void voice_send_gains(AcuContext* acu);
void voice_send_silence(AcuContext* acu);
void voice_line_flush_tx(AcuContext* acu);
