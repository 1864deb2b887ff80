// The fax pump's record in the data pump's context: the transmitter, the receiver with its watch for control
// frames, the code of the last start and the device's count of V.17 short-training requests (kept across
// starts).
#pragma once

#include <cstdint>

#include "layer1/modem/fax/fax_flag_watch.h"
#include "layer1/modem/fax/fax_rx.h"
#include "layer1/modem/fax/fax_tx.h"

struct FaxPumpState {
    FaxTxState tx;
    FaxRxState rx;
    FaxFlagWatch watch;
    int32_t watching;           // the watch runs until the receiver delivers data or the flags are heard
    int32_t code;               // -1: no fax modulation running
    int32_t longTrainCounter;   // 0-10: every eleventh short-training request trains long
};
