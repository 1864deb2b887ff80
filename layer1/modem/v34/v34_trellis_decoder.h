// The Viterbi decoder of V.34's four-dimensional trellis codes (16, 32 and 64 states) on the library's trellis
// primitives. Received points are in units of 1/128 of the grid: constellation points (with the precoder's
// lattice offset) lie on odd multiples of 128. Per four-dimensional symbol the decoder gives a tentative
// decision at once (the best state's newest branch) and, once its path memory is full, a final decision S - 1
// symbols late by tracing back from the best state.
//
// Path metrics are 16-bit: the old metrics start at 0 and every normalised metric is clamped to 0x7FFF, so no
// sum of an old metric and a four-dimensional metric (at most 0x8000) passes 16 bits, even under burst noise.
#pragma once

#include <cstdint>

#include "layer1/modem/v34/complex_fixed.h"
#include "layer1/vek/trellis/trellis.h"

constexpr int32_t kV34MaxTrellisStates = 64;
constexpr int32_t kV34TrellisFilled = 100;   // the fill marker once the path memory is full

struct V34TrellisDecoder {
    int32_t states;           // S: 16, 32 or 64
    int32_t branches;         // S / 4
    uint8_t next[kV34MaxTrellisStates * 16];   // row per state: the state reached through each branch
    uint16_t metrics[kV34MaxTrellisStates];    // path metrics of the last symbol, normalised
    uint16_t building[kV34MaxTrellisStates];   // the ones being built (0xFFFF before each step)
    int32_t metrics2d[16];
    TrellisMetric4d subsets[32];
    // Ring of S symbols: survivors (label, predecessor) per state and the two cell corners of each pair.
    int32_t survivors[kV34MaxTrellisStates * kV34MaxTrellisStates];
    int32_t corners[kV34MaxTrellisStates][2];
    int32_t position;         // ring position of the newest symbol
    int32_t fill;             // 0 until the ring is full, then kV34TrellisFilled
    int32_t best;             // best state after the newest symbol
};

// Sets up a decoder for 16, 32 or 64 states (other values: the nearest code below, 16 at least) and resets it.
void InitV34TrellisDecoder(V34TrellisDecoder* decoder, int32_t states);
// Clears the path memory and the metrics; the table stays.
void ResetV34TrellisDecoder(V34TrellisDecoder* decoder);

// One four-dimensional symbol: points[0] and points[1] the two received points. invert set: the encoder
// inverted this symbol's parity (the superframe marker), so the parity every state expects is flipped.
// tentative receives the decided pair now; final the pair decided S - 1 symbols earlier, written only when
// the returned fill marker (low byte) is kV34TrellisFilled.
int32_t TrellisDecode(V34TrellisDecoder* decoder, const PackedComplex points[2], int32_t invert,
                      PackedComplex final[2], PackedComplex tentative[2]);

// The superframe marker on receive: which four-dimensional symbols the encoder inverted. The first symbol of
// each half data frame (every 2P symbols) takes the next of the pattern's 2J bits, highest first.
struct V34MarkerSchedule {
    uint16_t pattern;
    int32_t bits;             // 2J
    int32_t period;           // 2P
    int32_t position;         // next pattern bit
    int32_t count;            // four-dimensional symbols modulo 2P
};
void InitV34MarkerSchedule(V34MarkerSchedule* schedule, int32_t J, int32_t P);
// The inversion flag of the next four-dimensional symbol; advances the schedule.
int32_t NextMarkerInversion(V34MarkerSchedule* schedule);

// The library's subset label map for V.34's two-dimensional labelling, and a decided point's offset from its
// cell corner for each candidate code (grid units of 128).
const uint8_t* V34TrellisLabelMap();
void V34CandidateOffset(int32_t code, int32_t* dx, int32_t* dy);
