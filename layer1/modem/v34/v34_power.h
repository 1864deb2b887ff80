// Transmit power of the V.34 points: the nonlinear encoder and its inverse, the data-mode scale table (equal
// average power at every data rate) and the scale with the precoder's gain taken out.
#pragma once

#include <cstdint>

#include "layer1/modem/v34/complex_fixed.h"

constexpr int kV34ScaleEntries = 130;  // (symbol rate, data rate) pairs x (without, with shaping)

// The point (1/128 grid units) scaled by scale / 512 and the gain (Q15, halved), through the nonlinear
// encoder's power-dependent gain when the flag is set.
PackedComplex ScaleTransmitPoint(int32_t nonlinear, int32_t scale, int32_t gain, PackedComplex point);
// The receiver's inverse with the reciprocal scale (Q14).
PackedComplex UnscaleReceivePoint(int32_t nonlinear, int32_t reciprocalScale, PackedComplex point);

// The 130 transmit scales followed by the 130 receive gains.
const int16_t* V34ScaleTable();
// The table index of a pair: 2 (o + rate index - 1) + shaping, o by symbol-rate index; -1 outside the table.
int32_t V34ScaleIndex(int32_t symbolRateIndex, int32_t rateIndex, int32_t shaping);
// The mean energy (grid units squared, 2 for the four corner points) of the two-dimensional points sent at a
// pair, with or without shaping.
double V34MeanPointEnergy(int32_t symbolRateIndex, int32_t rateIndex, int32_t shaping);

// The transmit scale and receive gain of a pair, the scale lowered by the precoder's gain (six coefficient
// halves, Q14).
void V34PowerScale(int32_t symbolRateIndex, int32_t rateIndex, int32_t shaping, int32_t b,
                   const int16_t coefficients[6], int32_t* transmitScale, int32_t* receiveGain);
// The same from the precoder's three complex coefficients (Q14).
void V34PowerScale(int32_t symbolRateIndex, int32_t rateIndex, int32_t shaping, int32_t b,
                   const PackedComplex coefficients[3], int32_t* transmitScale, int32_t* receiveGain);
