// The V.34 data-mode encoder: mapping frames from the scrambled data bits, shell mapping, the constellation
// with differential quadrants, precoding and the four-dimensional trellis code, and the points it hands the
// modulator (units of 1/128 of the grid).
#pragma once

#include <cstdint>

#include "layer1/modem/v34/complex_fixed.h"
#include "layer1/modem/v34/v34_framing.h"

// One mapping frame: the I bits of each four-dimensional symbol, the Q bits of its two points (low byte the
// first point, high byte the second) and the shell index.
struct MappingFrame {
    uint8_t i[4];
    uint16_t q[4];
    uint32_t shellIndex;
};

// Data bits waiting to be framed: a ring of four words, the first bit in the lowest position.
struct V34BitReservoir {
    uint32_t words[4];
    uint32_t readPosition;   // bits, modulo 128
    int32_t count;
};

// Appends 32 bits; returns 1 (nothing taken) when fewer than 32 bits of room are left.
int32_t ReservoirPut(V34BitReservoir* reservoir, uint32_t bits);

struct V34EncoderState {
    V34FrameParams frame;        // b, K, q, M, J, P, the switching pattern, precoder constants, shell tables
    int32_t trellisStates;       // 16, 32 or 64
    int32_t nonlinear;
    int32_t polynomial;          // the scrambler polynomial flag of this modem's transmitter
    int32_t qPoints;             // 2^q
    uint8_t iSplit[4];           // I bits of each four-dimensional symbol (b < 12)
    PackedComplex coefficients[3];  // precoding coefficients (Q14)
    PackedComplex history[3];       // last three precoded outputs, newest first
    uint8_t quadrant;            // Z
    uint8_t trellisState;        // the encoder's state; its parity bit is the next symbol's Y0
    uint16_t superframePattern;  // 2J bits, the first half data frame's bit highest
    int32_t patternPosition;
    uint32_t symbolCount;        // four-dimensional symbols encoded
    int32_t frameIndex;          // mapping frame within the data frame
    int32_t dataFrameIndex;      // data frame within the superframe
    uint32_t superframeCount;
    V34BitReservoir reservoir;
    int32_t status;              // 0 frame read, 1 more bits needed, 2 no distribution for this b
};

// Loads the frame parameters (params' first five fields and row must be set in state->frame), the I-bit
// split and 2^q, and clears the counters, reservoir, precoder history, quadrant and trellis state. Returns 0.
int32_t InitV34Encoder(V34EncoderState* state, int32_t trellisStates, int32_t nonlinear, int32_t polynomial);

// The number of bits the next mapping frame takes (b or b - 1 by the switching pattern).
int32_t MappingFrameBits(const V34EncoderState* state);
// Takes the next mapping frame from the reservoir into frame. Returns 0, 1 when the reservoir holds too few
// bits (nothing taken), 2 when b has no distribution (nothing taken). Advances the frame counters.
int32_t ParseMappingFrame(V34EncoderState* state, MappingFrame* frame);

// Encodes one mapping frame into eight precoded points; returns the trellis state after it.
int32_t EncodeFrame(V34EncoderState* state, const MappingFrame* frame, PackedComplex points[8]);

// The I-bit labels: the two-dimensional subset of a point (u, v) on the odd grid and the four-dimensional
// label of two subsets.
int32_t V34SubsetLabel(int32_t u, int32_t v);
int32_t V34FourDimensionalLabel(int32_t first, int32_t second);

// The precoder's lattice offset (odd-grid units, a multiple of 2 or 4 by the frame's mask) for one part p of its
// filter output.
int32_t V34LatticeOffset(int32_t p, const V34FrameParams& frame);

// The superframe synchronisation pattern of J data frames (2J bits).
uint16_t V34SuperframePattern(int32_t J);
