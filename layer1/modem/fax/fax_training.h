// The training generators the transmitter sends and the receiver regenerates as its reference.
#pragma once

#include <cstdint>

constexpr uint32_t kFaxV17TrainingPreset = 5626298;
constexpr uint32_t kFaxV29ConditioningPreset = 51;
constexpr uint32_t kFaxV27ConditioningPreset = 976;

// V.17 training: ones through 1 + x^-18 + x^-23, two bits per symbol; the training point (0 A, 1 B, 2 C, 3 D).
int32_t FaxV17TrainingStep(uint32_t* reg);
// V.29 conditioning: one bit per symbol of 1 + x^-6 + x^-7 (0 sends C = -A, 1 sends D = -B).
int32_t FaxV29ConditioningStep(uint32_t* reg);
// V.27ter conditioning: the data scrambler (with its repetition guard) fed with ones, three bits per symbol
// at either rate; 1 when the symbol turns the phase by a half turn (its first bit). The scrambler goes on
// into the data from where the conditioning leaves it. FaxV27ConditioningStart presets it: the preset
// names the 12 stages with the newest bit in bit 11; the history keeps the newest in bit 0.
void FaxV27ConditioningStart(uint32_t* history, int32_t* guardCount);
int32_t FaxV27ConditioningStep(uint32_t* history, int32_t* guardCount);
