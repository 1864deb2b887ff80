// The oscillator primitive of the tone generators: a 16-bit phase (65536 = one cycle) to sine and cosine
// from a 64-point sine table with a first-order correction, at 9600 samples per second.
#pragma once

#include <cstdint>

constexpr int kNcoTableEntries = 80;  // 64 points of one cycle and 16 more for the cosine

// Entry k = round(32767 x sin(2 pi k / 64)).
const int16_t* NcoSineTable();
void NcoSinCos(uint32_t phase, int16_t* sine, int16_t* cosine);
// Phase step per sample of a frequency in Hz at 9600 samples per second (65536 / 9600 per Hz).
uint32_t NcoPhaseStep(int32_t hz);
