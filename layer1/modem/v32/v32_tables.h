// The fixed facts of the V.32bis pump: rate words and what they select, the line-quality grading, the
// training points, the uncoded maps, the transmit pulse and the carrier table.
#pragma once

#include <cstdint>

// A signal point in the pump's units (1024 per unit of the Recommendations' figures).
struct V32Point {
    int32_t re;
    int32_t im;
};
constexpr int32_t kV32Unit = 1024;

// Rate-word bits (16 bits, sent bit 0 first).
constexpr uint16_t kV32Word4800 = 0x0020;
constexpr uint16_t kV32Word9600 = 0x0040;
constexpr uint16_t kV32Word7200 = 0x0200;
constexpr uint16_t kV32Word12000 = 0x0400;
constexpr uint16_t kV32Word14400 = 0x1000;
constexpr uint16_t kV32WordTrellis = 0x0100;
constexpr uint16_t kV32WordRates = kV32Word4800 | kV32Word9600 | kV32Word7200 | kV32Word12000 | kV32Word14400;
constexpr uint16_t kV32WordFrame = 0x8880;   // the fixed frame of a word with no rate
constexpr uint16_t kV32WordMarker = 0x0010;  // cleared in a word that carries no rate
constexpr uint16_t kV32WordE = 0x000F;       // the low four bits set mark the E sequence

// Rate codes as the pump reports them (5 = 4800 ... 9 = 14400).
constexpr int32_t kV32Rate4800 = 5;
constexpr int32_t kV32Rate14400 = 9;

// The word of a rate code 4-9 (4: the frame alone); 0 outside.
uint16_t V32RateWordOf(int32_t rateCode);
// The highest rate of a word as a rate code (5-9), or 0 when it carries none.
int32_t V32RateCodeOfWord(uint16_t word);
// Keeps bits 0x0110 and the highest rate of the word, as the word of that rate.
uint16_t V32PickRate(uint16_t word);
// The rates a receiver with error measure m (16.16) can take.
uint16_t V32QualityMask(int32_t m);
// The local capability word from the rate options (bit 1 4800, bit 2 7200, bit 3 9600, bit 4 12000,
// bit 5 14400) and the mode (16 V.32bis; 12 and 13 V.32).
uint16_t V32CapabilityWord(uint8_t options, int32_t mode);

// What a rate word selects.
struct V32RateSetting {
    int32_t rateCode;       // 5-9
    int32_t bitsPerSymbol;  // 2-6
    int32_t trellis;        // 1: trellis coded
};
V32RateSetting V32SettingOfWord(uint16_t word);

// Types of received words: 1 V.32bis, 2 V.32, 0 neither. A word counts during an exchange only when it
// matches its recorded type and holds one rate bit.
int32_t V32WordType(uint16_t word);
bool V32WordAccepted(uint16_t word, int32_t type);
bool V32WordIsE(uint16_t word, int32_t type);

// Line-quality grade 0-3 of an error measure (smoothed error >> 15) at a rate code.
int32_t V32QualityGrade(int32_t rateCode, int32_t e);

// Training points A, B, C, D (index 0-3).
V32Point V32TrainingPoint(int32_t index);
// The uncoded maps: 4800 (a quarter-turn index 0-3, the training points) and 9600 (quarter turn 0-3 and
// the two bits Q3 Q4 that choose the point inside the quadrant).
V32Point V32Point4800(int32_t quadrant);
V32Point V32Point9600(int32_t quadrant, int32_t q34);
// Differential coding of the uncoded rates: the quarter turns sent for the dibit Q1 Q2 (first bit in bit 0)
// after the quarter turns sent before.
int32_t V32DiffQuadrant(int32_t previous, int32_t dibit);
int32_t V32DiffDibit(int32_t previous, int32_t received);

// Transmit pulse: 3 rows (sample phase) of 16 taps, oldest symbol first, Q15.
constexpr int32_t kV32PulseTaps = 16;
extern const int16_t kV32Pulse[3][kV32PulseTaps];

// Cosine of phase k / 2048 of a turn, Q15.
int16_t V32Cos(int32_t index);
int16_t V32Sin(int32_t index);
