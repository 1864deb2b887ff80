// The data-mode decisions of the V.34 receiver: each pair of soft points (1/128 grid units, after the
// equaliser) through the trellis decoder, whose tentative decisions go back to the receiver at once; the
// final decisions, S - 1 four-dimensional symbols later, gathered into mapping frames and demapped into the
// receive bit buffer, from which whole descrambled bytes are read.
#pragma once

#include <cstdint>

#include "layer1/modem/v34/complex_fixed.h"
#include "layer1/modem/v34/v34_demapper.h"
#include "layer1/modem/v34/v34_rx.h"
#include "layer1/modem/v34/v34_trellis_decoder.h"

struct V34DataDecisions {
    V34TrellisDecoder decoder;
    V34Demapper demapper;
    PackedComplex frame[8];   // final decisions of the mapping frame being gathered
    int32_t held;             // points in frame
    int32_t polynomial;       // the far end's scrambler polynomial (the receiver's role bit)
    uint32_t descrambler;     // the byte descrambler's register
};

// Sets up the decisions for a connection's receive direction: symbol-rate index (0-5), data rate in
// multiples of 2400 bit/s, shaping (0, 1), trellis states (16, 32, 64), the far end's precoder (Q14) and the
// descrambler polynomial. The descrambler register carries over.
void InitV34DataDecisions(V34DataDecisions* d, int32_t symbolRateIndex, int32_t rateMultiple, int32_t shaping,
                          int32_t trellisStates, const PackedComplex coefficients[3], int32_t polynomial);

// One pair: the tentative decisions into tentative; a completed mapping frame is demapped. Returns the bits
// the pair's frame appended (0 while a frame is being gathered or the path memory fills).
int32_t DecideDataPair(V34DataDecisions* d, const PackedComplex soft[2], int32_t invert,
                       PackedComplex tentative[2]);

// Up to max whole received bytes, descrambled; returns the count.
int32_t ReadDataBytes(V34DataDecisions* d, uint8_t* out, int32_t max);

// The receiver's pair decider in data mode (owner: the V34DataDecisions): the two soft points through
// DecideDataPair, the tentative decisions stored into the slots for the re-encoder.
void DecideReceivedPair(void* owner, V34Receiver* rx, RxSlot* first, RxSlot* second, int32_t invert);

// What data mode agreed for the receive direction.
struct V34RxDataParams {
    int32_t symbolRateIndex;   // 0-5
    int32_t rateIndex;         // 1-14: multiples of 2400 bit/s
    int32_t shaping;
    int32_t trellisStates;     // 16, 32, 64
    int32_t nonlinear;
    PackedComplex coefficients[3];   // the precoder the far end runs (Q14)
    int32_t polynomial;        // the far end's scrambler
    int32_t trainedScale;      // the far end's transmit scale of the signal the equaliser last trained on
};

// The data-mode start of the receive direction: the decisions set up; the re-encoder's precoder, nonlinear
// flag, scale and gain; the superframe marker schedule and the pair counter from the next symbol on, which is
// the first of a pair; the loops' data-mode gains, the data-mode timing estimator and the rate monitor at the
// agreed rate. The equaliser keeps its taps and rests (step 0) until the caller restarts it.
//
// The far end sends data at its transmit scale for the rate; the equaliser was trained to turn the far end's
// training signal (trainedScale) into the re-encoder's training scale, so the re-encoder takes the transmit
// scale times that ratio. Its gain is the rate's receive gain with the nonlinear encoder, else 0x7FFF.
// Returns 0, or -1 when the rate is outside the symbol rate's range (nothing changed).
int32_t StartV34DataReceive(V34Receiver* rx, V34DataDecisions* d, const V34RxDataParams* params);

// One data-mode symbol through the receiver (ReceiveDataSymbol with the decider above), then up to max
// descrambled bytes of the frames decided so far. Returns the byte count, or -1 when the block is used up
// before the symbol (the receiver's skip flag).
int32_t ReceiveDataBytes(V34Receiver* rx, V34DataDecisions* d, uint8_t* out, int32_t max);
