// What the V.34 receiver reports to the controller's diagnostic screens, in the units of the controller's
// formulas: the signal and error powers of its decisions (SNR = 20 log signal - 10 log error - 9.5 dB), the
// option word of the receive direction, the carrier frequency offset its loop follows and the clock offset
// its timing loop follows.
#pragma once

#include <cstdint>

struct V34Pump;

struct V34ReceiverReadings {
    uint32_t signal;      // sqrt(8.944 x the smoothed power of the re-encoded decisions)
    uint32_t error;       // the smoothed power of the error (0: nothing measured)
    uint16_t options;     // trellis code (bits 10-11), nonlinear (bit 13), shaping (bit 14); data mode only
    int16_t frequency;    // degrees per symbol
    int16_t timing;       // ppm x 1518, the far end's clock against ours
};

void ReadV34Receiver(const V34Pump* pump, V34ReceiverReadings* out);
