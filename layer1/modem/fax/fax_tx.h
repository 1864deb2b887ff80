// The fax transmitter: training sequences, scramblers, symbol encoders and the modulator of V.27ter, V.29 and
// V.17. An inner sequencer runs the modulation's transmit list one symbol per tick (counts in symbols); each
// symbol is shaped and modulated into samples at 9600 per second. Bits come from and status goes to a
// FaxTxPort (the data framer and the status register in the pump, a test's source elsewhere).
#pragma once

#include <cstdint>

#include "layer1/dsp/sequencer.h"
#include "layer1/modem/fax/fax_params.h"

struct FaxTxPort {
    void* owner;
    // The next n (1-6) data bits, first in bit 0; -1 when there is nothing more to send (the data ends).
    int32_t (*getBits)(void* owner, int32_t n);
    // 1 while the controller lets the transmitter go (the hold flag); the wait step ends when it is set.
    int32_t (*released)(void* owner);
    // Status register: a value 0-15 replaces the state, a larger value sets (set 1) or clears a bit; then the
    // controller is notified.
    void (*status)(void* owner, uint8_t value, int set);
};

struct FaxTxState {
    int32_t code;                  // internal code (the short-training bit may be cleared by the counter)
    FaxModemParams params;
    FaxTxPort port;
    int32_t* longTrainCounter;     // the device's count of short-training requests (0-10), or null
    Sequencer inner;               // symbol-level sequencer over the transmit list
    const StepEntry* list;

    // Symbol encoders.
    FaxPoint symbol;               // the symbol of the current tick
    uint32_t scrambler;            // data scrambler (V.17 and V.29: 23 bits; V.27ter: line-bit history)
    int32_t guardCount;            // V.27ter repetition guard
    uint32_t trainingRegister;     // V.29 and V.27ter training generators
    int32_t phase;                 // differential phase (eighths of a turn; V.17: quarter turns of A B C D)
    int32_t diffPair;              // V.17 differential pair
    int32_t trellisState;
    int32_t inData;

    // Shaping and modulation.
    int16_t taps[kFaxMaxFilterTaps];
    int32_t tapCount;
    int32_t history;               // index of the newest symbol in the delay lines
    int32_t re[2 * kFaxFilterSpan];  // the last symbols, stored twice
    int32_t im[2 * kFaxFilterSpan];
    uint32_t carrierPhase;         // 16-bit phase (65536 = one turn)
    uint32_t carrierStep;
    int16_t gain;                  // the data signal's level: gain / 32768 of a full-scale sine's power
    int32_t levelScale;            // Q16: the modulator's output to the level of gain 32768
};

// Sets up a transmitter for an internal code: the list of the modulation (a V.17 short-training request
// may train long, see the counter), the filter, the carrier, the level. The list starts with the wait step.
// The level: random data sent at gain g has the power of a sine of amplitude 32767 x g / 32768 (so
// g = 32768 x 10^((L - 3.14) / 20) for L dBm0 on a line where a full-scale sine is +3.14 dBm0).
void FaxTxInit(FaxTxState* tx, int32_t code, const FaxTxPort& port, int16_t gain, int32_t* longTrainCounter);
// The gain of a level in dBm0 (-43 to 0).
int16_t FaxTxGainOf(double dbm0);
// Runs the inner sequencer for the symbols of n samples (a multiple of the samples per symbol) and writes
// the modulated samples.
void FaxTxBlock(FaxTxState* tx, int16_t* out, int32_t n);
// Restarts the transmit list at its wait step (the release of hold in the pump).
void FaxTxRestart(FaxTxState* tx);
// 1 while the transmitter is in its data step.
inline int32_t FaxTxInData(const FaxTxState* tx) { return tx->inData; }

// The transmit lists (fax_tx_steps.cpp).
const StepEntry* FaxTxListOf(int32_t code);

// Symbol encoders of the data and ones steps (fax_tx_encode.cpp): scramble one symbol's bits and map them.
FaxPoint FaxEncodeV17(FaxTxState* tx, uint32_t bits);
FaxPoint FaxEncodeV29(FaxTxState* tx, uint32_t bits);
FaxPoint FaxEncodeV27(FaxTxState* tx, uint32_t bits);
// The V.27ter scrambler (1 + x^-6 + x^-7 with the repetition guard), one bit.
uint32_t FaxV27Scramble(uint32_t* history, int32_t* guardCount, uint32_t bit);
uint32_t FaxV27Descramble(uint32_t* history, int32_t* guardCount, uint32_t lineBit);
