// The voice engine's event reporter (inside the voice folder).
#pragma once

#include <cstdint>

#include "layer2/corecode/voice/voice_engine.h"

// The event mask of the current transfer state: play, record or idle.
uint32_t voice_active_mask(const VoiceEngine& v);
// One pass: the local phone's hook, the queued event characters of the data pump and a call-progress code
// (0 none) become DLE codes.
void voice_report_events(AcuContext* acu, uint8_t progress_code);
void voice_restart_ringback_timers(AcuContext* acu);
// Forgets event characters that arrived before a transfer or voice mode began.
void voice_drop_events(AcuContext* acu);
