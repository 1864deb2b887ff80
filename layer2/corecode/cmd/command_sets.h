// The data and voice command sets and the mode state the switch between them keeps.
#pragma once

#include <cstdint>

struct AcuContext;

enum ModeState : uint8_t {
    MODE_STATE_0 = 0,
    MODE_STATE_DATA = 1,
    MODE_STATE_VOICE = 4,
    MODE_STATE_5 = 5,
};

// Mode 1: the voice command set (the basic tables out, the voice table in, the voice mark set, the voice
// defaults restored and the settings handed to the voice engine); any other mode: the data command set back. The common V.253 table stays in both.
void at_select_voice_commands(AcuContext* acu, uint8_t mode);
// Unless kind is 4 or 5 the voice mark is cleared and the post-line delay starts at 13; the on-line and
// fixed-rate marks are cleared; kinds other than 0, 1 and 5 set the post-line delay start to 5.
void at_set_mode_state(AcuContext* acu, uint8_t kind);
// Hands the AT settings the voice engine reads to it: the voice mark, the speaker volume (S22 bits 0-1,
// `L`), the +FLO value and the +VCID selection.
void at_voice_sync_settings(AcuContext* acu);
