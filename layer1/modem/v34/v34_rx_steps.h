// The receive script's data-mode steps (owner: the V34Pump): the set-up that starts them, the step that lets
// the equaliser adapt again once the decisions settle, and data mode proper, which hands every received byte
// to the framer and watches for the far end's S (its renegotiation).
#pragma once

#include <cstdint>

#include "layer1/modem/v34/v34_pump.h"
#include "layer1/modem/v34/v34_rx_data.h"

// The data set-up: the receiver's data-mode start (StartV34DataReceive) with the agreed parameters, the
// watch's data mode on and the data steps started on the receive script. A rate the symbol rate does not
// allow fails the training: retrain reason 4 and the skip flag. Returns 0 or -1.
int32_t StartV34RxData(V34Pump* pump, const V34RxDataParams* params);

// Data mode's first symbols: after 7 the equaliser and feedback filter adapt at their data-mode steps; then
// the next step.
void StepDataStart(void* owner);
// Data mode: the received bytes to the framer; the equaliser's steps again at symbol 1000. The far end's S
// (the signal detector's S counter above 50) is its renegotiation: retrain reason 2 (unless 5), transmit
// state 1 when it is 0, and the receiver runs on without decisions.
void StepData(void* owner);
// The receiver's symbol path only.
void StepReceive(void* owner);

// The data steps' list.
const StepEntry* V34RxDataList();
// The receive script over what is left of the received block, one tick per symbol.
void RunV34ReceiveScript(V34Pump* pump);
