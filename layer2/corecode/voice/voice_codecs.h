// The codec table and how each codec travels to the data pump.
#pragma once

#include <cstdint>

#include "layer2/corecode/voice/voice_engine.h"

// Fills the eight entries (index = codec number).
void voice_codecs_fill(VoiceCodecEntry table[kVoiceCodecCount]);
// The data pump's coding (0x97 byte 1) and the packing of the application's bytes (VoicePacking).
uint8_t voice_codec_pump_format(uint8_t index);
uint8_t voice_codec_packing(uint8_t index);
// The data pump's rate code (0x97 byte 0) of a sample rate of the codec list (11025 runs at its 11000 Hz).
uint8_t voice_rate_code(uint16_t rate);
// Index of the codec with this method id, -1 none.
int voice_codec_by_method(const VoiceCodecEntry table[kVoiceCodecCount], uint32_t method);
