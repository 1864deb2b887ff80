// Data-mode framing of the V.34 transmitter and receiver: the data-frame parameters of each (symbol rate,
// data rate) pair with the shell-mapping tables, the quadrant rotation of the training points, the precoder's
// filter output, the receive bit packer and the frame CRC step.
#pragma once

#include <cstdint>

#include "layer1/modem/v34/complex_fixed.h"

constexpr int kV34SymbolRates = 6;   // 2400, 2743, 2800, 3000, 3200, 3429
constexpr int kV34MaxRings = 18;     // the largest M of either row
constexpr int kV34MaxShellBits = 31;
constexpr int kV34G2Size = 2 * kV34MaxRings - 1;   // ring-pair sums 0 ... 2(M - 1)
constexpr int kV34G4Size = 4 * kV34MaxRings - 3;   // half sums 0 ... 4(M - 1)
constexpr int kV34Z8Size = 8 * kV34MaxRings - 6;   // z8(0) ... z8(8(M - 1) + 1): the last is M^8

// The integer symbol rate of each index (2743 and 3429 stand for 19200/7 and 24000/7).
int32_t V34SymbolRate(int32_t symbolRateIndex);

// The data-frame parameters: the first five fields are read, the rest written by V34FrameParameters.
struct V34FrameParams {
    int32_t symbolRateIndex;   // 0-5
    int32_t rateMultiple;      // data rate in multiples of 2400 bit/s
    int32_t extraMultiple;     // further multiples of 200 bit/s (0: none)
    int32_t row;               // ring-count row: 0 without shaping, 1 with it
    int32_t symbolRate;        // symbols per second (V34SymbolRate of the index)

    int32_t J;                 // data frames per superframe
    int32_t P;                 // mapping frames per data frame
    int32_t fraction;          // fraction constant of the rate (0 without a 200 bit/s part)
    int32_t b;                 // bits of a long mapping frame
    int32_t K;                 // shell-mapping bits of a long frame
    int32_t q;                 // uncoded bits per two-dimensional point
    int32_t M;                 // rings
    uint16_t switchingPattern; // bit (P - 1 - i) set: mapping frame i carries b bits, else b - 1
    int32_t bitMask;           // precoder rounding offset: 127 or 255
    int32_t step;              // precoder lattice mask: -2 or -4
    int32_t gain;              // 30714 when J is 8, else 7678
    // Shell-mapping tables for M rings (filled when K is not 0): g2(p) tuples of two rings with sum p, g4 of
    // four, z8(p) the number of eight-ring tuples whose sum is below p. z8 passes 2^32 for M = 17 and 18.
    uint16_t g2[kV34G2Size];
    uint16_t g4[kV34G4Size];
    uint64_t z8[kV34Z8Size];
};

// Fills the written fields from the read ones; returns P (the number of mapping frames per data frame).
int32_t V34FrameParameters(V34FrameParams* params);
// Builds g2, g4 and z8 for params->M rings (1-18).
void BuildV34ShellTables(V34FrameParams* params);
// The number of rings for K shell bits in row 0 or 1.
int32_t V34RingCount(int32_t row, int32_t K);

// Training-point quadrant rotation: quadrant = (stored + bits 0-1) mod 4, stored back; the point of bits 2-3
// in the first quadrant, rotated by quadrant x -90 degrees.
PackedComplex RotateQuadrant(uint32_t symbolBits, uint8_t* storedQuadrant);

// The precoder's filter output sum(c_k * x_k) over three complex coefficients (Q14) and the last three
// precoded outputs, each part rounded as (|v| + 8191) >> 14 with its sign.
PackedComplex PrecoderOutput(const PackedComplex coefficients[3], const PackedComplex history[3]);

// A ring of 32-bit words that bits are appended to, the first bit of the stream in bit 0.
struct BitPacker {
    uint32_t* words;
    uint32_t wordMask;   // words - 1 (a power of two)
    uint32_t position;   // next bit to write (wraps through the ring)
    uint32_t count;      // bits held and not yet read (the reader lowers it)
};

// Appends the low n bits (0-32) of value. Returns 1 and writes nothing when the ring cannot take them (one
// word of the ring always stays free).
int32_t PackBits(BitPacker* packer, uint32_t value, int32_t n);

// n steps of the frame CRC (reflected 0x8408) over the low n bits of value, bit 0 first.
void Crc16Bits(uint16_t* crc, uint32_t value, int32_t n);
