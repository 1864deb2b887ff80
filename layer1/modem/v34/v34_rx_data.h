// The data-mode decisions of the V.34 receiver: each pair of soft points (1/128 grid units, after the
// equaliser) through the trellis decoder, whose tentative decisions go back to the receiver at once; the
// final decisions, S - 1 four-dimensional symbols later, gathered into mapping frames and demapped into the
// receive bit buffer, from which whole descrambled bytes are read.
#pragma once

#include <cstdint>

#include "layer1/modem/v34/complex_fixed.h"
#include "layer1/modem/v34/v34_demapper.h"
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
