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
// V.27ter conditioning: three bits per symbol of the 12-stage generator fed with ones; 1 when the symbol turns
// the phase by a half turn.
int32_t FaxV27ConditioningStep(uint32_t* reg);
