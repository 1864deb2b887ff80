// Shared inside the receiver: the per-symbol stages the sample-phase handlers call.
#pragma once

#include <cstdint>

#include "layer1/modem/v22/v22.h"
#include "platform/saturate.h"

// v22_rx_symbol.cpp
void V22EqualiserOutput(V22RxState* r);
uint32_t V22DecideAndAdjustGain(V22RxState* r);   // phase 1: returns V22_RX_EVENT_CARRIER_LOST or 0
void V22RotateErrorBack(V22RxState* r);
void V22UpdateTaps(V22RxState* r);
void V22CarrierLoop(V22RxState* r);
void V22DecodeSymbol(V22Modem* m);
void V22DetectS1(V22RxState* r);
void V22TimingError(V22RxState* r);
// Once a block while the equaliser adapts: its turn as a whole moved into the carrier loop.
void V22TransferEqualiserTurn(V22RxState* r, int32_t symbols);
