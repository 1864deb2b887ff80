// The dual-tone generator's signal part: DTMF rows, digit timing counts, and one block of a tone pair.
#pragma once

#include <cstdint>

struct DtmfRow {
    int16_t tone1Hz;  // high group
    int16_t tone2Hz;  // low group
};

extern const DtmfRow kDtmfTable[16];

struct DualToneGenerator {
    int32_t pulseMode;
    int32_t onTime;              // ms
    int32_t offTime;             // ms
    uint32_t phase1;
    uint32_t phase2;
    uint32_t step1;
    uint32_t step2;
    uint16_t digit;
    uint16_t pauseTime;          // ms
    int16_t level1;              // gain of tone 1
    int16_t level2;              // gain of tone 2
    int32_t tonePairActive;
    int32_t generatorActive;
};

// Blocks of 10 ms for a time in ms, rounded, at least 1.
int32_t DigitBlockCount(int32_t ms);
// Sets the phase steps of a DTMF digit (its low nibble).
void SetDtmfDigit(DualToneGenerator* generator, int32_t digit);
// Writes n samples of the tone pair: the saturating sum of level x sin(phase) / 32768 of both tones.
void DualToneFillBlock(DualToneGenerator* generator, int16_t* out, int32_t n);
