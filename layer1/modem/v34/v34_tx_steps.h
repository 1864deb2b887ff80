// The transmit symbol handlers (owner: the V34Pump) that the transmit scripts order.
#pragma once

#include <cstdint>

#include "layer1/dsp/sequencer.h"
#include "layer1/modem/v34/v34_pump.h"

// Scales a point with the current scale, gain and nonlinear flag and appends it to the block's symbols.
void AppendV34Symbol(V34Pump* pump, PackedComplex point);
// The 43-entry quarter-wave table: trunc(16384 cos(i x 90/42 degrees)), entry 0 16383.
const int16_t* V34QuarterWaveTable();
// PP: point n (of its 48-symbol period) and the scale it is sent at; the receiver's PP analysis knows it too.
PackedComplex V34PpPoint(int32_t n);
constexpr int32_t kV34PpScale = 510;
// The scales training and MP send their 4-point and 16-point points at.
constexpr int32_t kFourPointScale = 30964;
constexpr int32_t kSixteenPointScale = 13848;

// The eight time-out setters by instance: (6, 800, 1), (6, 3000, 2), (4, 200, 1), (7, 2800, 3), (7, 3200, 2),
// (3, 800, 1), (7, 2800, 2), (code kept, 2800, 3).
StepHandler TxTimeoutStep(int32_t which);

void TxZeroSymbol(void* owner);
void TxSFirst(void* owner);
void TxSBarFirst(void* owner);
void TxSNext(void* owner);
void TxEchoTrainingStart(void* owner);
void TxEchoTraining(void* owner);
void TxPpFirst(void* owner);
void TxPpNext(void* owner);
void TxTrnFirst(void* owner);
void TxTrn(void* owner);
void TxJFirst(void* owner);
void TxJ(void* owner);
void TxJPrimeFirst(void* owner);
void TxJPrime(void* owner);
void TxEFirst(void* owner);
void TxE(void* owner);
void TxMpFirst(void* owner);
void TxMpPrimeFirst(void* owner);
void TxMp(void* owner);
void TxDataStart(void* owner);
void TxDataFirstFrame(void* owner);
void TxData(void* owner);
