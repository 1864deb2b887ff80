// The V.34 receive demapper: final four-dimensional decisions back to the data bits of a mapping frame. The
// precoder's lattice offset is removed by running the far end's precoder filter over the decided points;
// quadrants are differentially decoded, each point becomes a ring and its uncoded bits, the shell index is
// recomputed from the eight rings, and the frame's bits are appended to the receive bit buffer in the order
// the transmitter's mapping-frame parser took them. Whole bytes are then read from the buffer and
// descrambled.
//
// Decisions off the constellation (a noise-driven point where none lies, or a ring of M or more) are
// erasures: the point becomes the nearest valid one, the frame is decoded on and the erasure count grows.
#pragma once

#include <cstdint>

#include "layer1/modem/v34/complex_fixed.h"
#include "layer1/modem/v34/v34_framing.h"

constexpr int32_t kV34RxBitWords = 32;   // 1024 bits: more than ten mapping frames

// Received data bits, the first in bit 0 of word 0; bytes are read from a whole-byte read position.
struct V34RxBitBuffer {
    uint32_t words[kV34RxBitWords];
    uint32_t position;        // next bit to write
    uint32_t count;           // bits written and not yet read
    uint32_t readPosition;
};

struct V34Demapper {
    V34FrameParams frame;     // the receive direction's parameters (first five fields set before init)
    int32_t qPoints;          // 2^q
    int32_t validPoints;      // quarter points in use: M x 2^q (at most 416)
    PackedComplex coefficients[3];   // the far end's precoder (Q14)
    PackedComplex history[3];        // its last three outputs, newest first
    uint8_t quadrant;         // Z: the first point's quadrant of the last four-dimensional symbol
    int32_t frameIndex;       // mapping frame within the data frame
    uint32_t erasures;
    int32_t errors;           // bit 0: the bit buffer could not take a frame's bits
    V34RxBitBuffer bits;
};

// Loads the frame parameters (V34FrameParameters on demapper->frame) and the precoder coefficients, and clears
// the precoder history, quadrant, frame counter, counts and bit buffer.
void InitV34Demapper(V34Demapper* demapper, const PackedComplex coefficients[3]);
// Clears the bit buffer (the frame counter and quadrant stay).
void ClearV34RxBits(V34RxBitBuffer* bits);

// Demaps one mapping frame from four final four-dimensional decisions (eight points, 1/128 grid units) and
// appends its bits. Returns the number of bits appended (0 when the buffer could not take them).
int32_t DemapFrame(V34Demapper* demapper, const PackedComplex decisions[8]);

// The shell-mapping index of eight rings (each below tables->M), the inverse of ShellMap.
uint64_t ShellDemapper(const uint8_t rings[8], const V34FrameParams* tables);

// Copies min(max, count / 8) whole bytes from the read position; returns the number copied.
int32_t ReadRxBytes(V34RxBitBuffer* bits, uint8_t* out, int32_t max);
// ReadRxBytes, then descrambles the bytes with the far end's polynomial (the receiver's role bit) through
// the byte descrambler's register; returns the count.
int32_t DescrambleBytes(V34RxBitBuffer* bits, int32_t polynomial, uint32_t* reg, uint8_t* out, int32_t max);
