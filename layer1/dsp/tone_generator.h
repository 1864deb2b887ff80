// Tone and DTMF generation of one device: set-up of the digit list and the generators' start state.
#pragma once

#include <cstdint>

struct DspContext;

// DTMF levels until the first 0x88 (dB): the controller sends that command only in some level modes.
constexpr int32_t kDefaultHighGroupDb = -6;
constexpr int32_t kDefaultLowGroupDb = -8;

// Writes the digit list (counts 96000 blocks), the default tone levels and a silent single-tone generator.
void InitToneGenerators(DspContext* context);
