// The 8-state trellis code and the signal constellations of the trellis-coded QAM modes at 7200, 9600, 12000
// and 14400 bit/s, shared by the fax V.17 pump and the V.32bis pump.
//
// A signal point is labelled by its bits Y0 Y1 Y2 Q3 Q4 Q5 Q6: Y1 and Y2 are the differentially coded first
// two data bits of the symbol, Y0 is the redundant bit of the trellis encoder, Q3 onwards the remaining data
// bits in the order they arrive. A label's index is Y0 | Y1 << 1 | Y2 << 2 | Q3 << 3 | Q4 << 4 | ...; the
// subset of a point (Y0 Y1 Y2, 0-7) is the low three bits of its index.
#pragma once

#include <cstdint>

constexpr int32_t kTrellisStates = 8;

// Data bits per symbol (3 at 7200 bit/s to 6 at 14400 bit/s) to the number of points (16 to 128).
constexpr int32_t TrellisQamPoints(int32_t dataBits) { return 1 << (dataBits + 1); }

struct TrellisPoint {
    int8_t re;
    int8_t im;
};

// The constellation of a rate (dataBits 3-6), indexed by label; coordinates in the units of the
// Recommendation's figures. Null for any other bit count.
const TrellisPoint* TrellisQamConstellation(int32_t dataBits);

// The encoder: Y0 of the symbol sent from a state is the state's bit 0; the state after it follows from the
// state and the pair y12 = Y1 | Y2 << 1. The four pairs from a state lead to four different states.
inline int32_t TrellisY0(int32_t state) { return state & 1; }
int32_t TrellisNextState(int32_t state, int32_t y12);
// The same as a table of 8 rows of 4 next states (row = state, column = y12).
const uint8_t* TrellisNextStateTable();

// Differential coding of the first two data bits: the pair sent is the sum of the new pair and the previous
// pair sent, modulo 4; decoding is the difference.
inline int32_t TrellisDiffEncode(int32_t previous, int32_t bits) { return (previous + bits) & 3; }
inline int32_t TrellisDiffDecode(int32_t previous, int32_t received) { return (received - previous) & 3; }

// One trellis-coded symbol: the first two (scrambled) bits are differentially coded, the encoder adds Y0,
// the rest follow as Q3 onwards. Returns the label and moves both states on.
inline int32_t TrellisEncodeLabel(int32_t* diffPair, int32_t* state, uint32_t line)
{
    *diffPair = TrellisDiffEncode(*diffPair, static_cast<int32_t>(line & 3));
    const int32_t label = TrellisY0(*state) | (*diffPair << 1) | static_cast<int32_t>((line >> 2) << 3);
    *state = TrellisNextState(*state, *diffPair);
    return label;
}
