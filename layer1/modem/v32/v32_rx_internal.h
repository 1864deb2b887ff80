// The receiver's parts, shared among its files.
#pragma once

#include <cstdint>

#include "layer1/modem/v32/v32.h"

// Smoothed |z|^2 >> 8 below which the line counts as quiet (about -43 dBm0).
constexpr int32_t kV32EnergyFloor = 64;

enum V32Pattern : int32_t {
    V32_PATTERN_QUIET = 0,
    V32_PATTERN_TONE,         // AA or CC
    V32_PATTERN_ALTERNATION,  // AC or CA
    V32_PATTERN_S,            // S or S-bar
    V32_PATTERN_OTHER,
};

// Receiver states.
enum V32RxState : int32_t {
    // caller
    V32_RX_WAIT_AC = 0,
    V32_RX_WAIT_AC_REVERSAL = 2,
    V32_RX_MEASURE_DELAY = 3,
    V32_RX_WAIT_S = 4,
    V32_RX_WAIT_S_BAR = 5,
    V32_RX_TRAIN = 6,
    V32_RX_WAIT_OWN_TRAINING = 12,
    V32_RX_WAIT_S2 = 13,
    V32_RX_WAIT_S_BAR2 = 14,
    V32_RX_TRAIN2 = 16,
    V32_RX_WAIT_E = 20,
    V32_RX_DATA = 21,
    V32_RX_FAR_SIGNAL = 22,       // a tone or alternation in place of data: a reversal follows, or a retrain
    V32_RX_RENEGOTIATE_WORD = 23, // the far end's rate word after its renegotiation signal
    // answerer
    V32_RX_WAIT_AA = 32,
    V32_RX_WAIT_CC_REVERSAL = 33,
    V32_RX_WAIT_OWN_R1 = 34,
    V32_RX_WAIT_CALLER_S = 35,
    V32_RX_WAIT_CALLER_S_BAR = 36,
    V32_RX_TRAIN_CALLER = 37,
    V32_RX_IDLE = 63,
};

int32_t V32HighPass(V32Rx* r, int32_t x);
void V32Demodulate(V32Rx* r, int32_t x, int32_t* zr, int32_t* zi);
void V32Patterns(V32Rx* r, int32_t zr, int32_t zi);
V32Pattern V32Classify(const V32Rx* r);
// Follows c6 through a dip; true when a dip has just ended (its lowest point is r->dipAt).
bool V32ReversalSeen(V32Rx* r);

// Handshake (v32_rx_states.cpp): one call per sample after the detectors.
void V32RxHandshake(V32Modem* m, int32_t x);
void V32RxEnter(V32Rx* r, int32_t state);

// Equaliser, decisions and words (v32_rx_symbol.cpp).
void V32RxEqualiserInput(V32Modem* m, int32_t zr, int32_t zi);
// One interpolated sample into the equaliser; a symbol is formed on the grid.
void V32RxEqualiserPut(V32Modem* m, VekC16 x);
// Starts training with the segment reversal (S -> S-bar) seen at sample index mark.
void V32RxStartTraining(V32Modem* m, uint32_t mark);
void V32RxStartData(V32Modem* m, uint16_t word);
// Starts looking for rate words (after a renegotiation signal).
void V32RxStartWords(V32Rx* r);
// The gain into the equaliser from the energy measured on S.
void V32RxSetGain(V32Rx* r);

// Symbol timing (v32_rx_timing.cpp).
void V32TimingReset(V32Rx* r);
// One demodulated sample (after the gain) in; the interpolated samples go to V32RxEqualiserPut.
void V32TimingInput(V32Modem* m, VekC16 x);
// Per symbol once the taps have settled: measures their slide now and then and steers the output times.
void V32TimingCheck(V32Rx* r);
