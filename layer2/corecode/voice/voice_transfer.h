// The voice transfer machine's steps (inside the voice folder).
#pragma once

#include <cstdint>

#include "layer2/corecode/voice/voice_engine.h"

// Set up a transfer; voice_run carries it out from the next step.
void voice_begin_play(AcuContext* acu);
void voice_begin_record(AcuContext* acu);
// +VTS: the items stored in the engine play one after another; then OK.
void voice_begin_tones(AcuContext* acu);
// One step of a running transfer (states 8-17); the result for call control.
uint8_t voice_transfer_step(AcuContext* acu);
// Ends a running transfer at once (the line rings emptied); VOICE_RESULT_DONE when one ran, else 0.
uint8_t voice_transfer_abort(AcuContext* acu);
bool voice_inactivity_expired(AcuContext* acu);
void voice_restart_inactivity(AcuContext* acu);
