// The V.34 modulator: 32 symbols of a block interpolated by three through polyphase pulse-shaping branches,
// pre-emphasised by a complex 6-tap filter, put on the carrier and scaled to the transmit level: 96 samples.
#pragma once

#include <cstdint>

#include "layer1/modem/v34/complex_fixed.h"

struct FirState;

constexpr int kV34BlockSymbols = 32;
constexpr int kV34BlockSamples = 96;
constexpr int kV34PulseTaps = 48;            // the prototype: three branches of 16 taps
constexpr int kV34PreEmphasisFilters = 11;
constexpr int kV34PreEmphasisTaps = 6;
constexpr int kV34CarrierCombinations = 11;  // symbol rate x carrier; 3429 has one carrier (10)
constexpr int kV34CarrierArray = 117;        // the longest period (21) plus one block

// The echo canceller's record of what was sent: each symbol times the carrier phasor at its first sample.
struct V34EchoRing {
    PackedComplex ring[4096];
    uint32_t writeIndex;
    uint32_t readIndex;
};

// Stores (re cos - im sin, im cos + re sin), rounded, at the write index and moves both indices on.
void StoreTransmitSymbol(V34EchoRing* echo, PackedComplex point, int16_t cosine, int16_t sine);

struct V34ModulatorState {
    FirState* branch[2][3];      // [rail: real, imaginary][branch k gives samples 3n + k]
    FirState* preEmphasis;       // the current one of the eleven made at set-up
    FirState* const* preEmphasisSet;
    int16_t outputGain;          // Q13
    int32_t carrierIndex;
    int32_t period;
    int16_t cosine[kV34CarrierArray];
    int16_t sine[kV34CarrierArray];
    int32_t level;               // leaky peak follower of the output (>> 14: the mean magnitude)
    V34EchoRing* echo;           // may be null
};

// The pulse-shaping prototype (Q14, symmetric: a raised cosine of roll-off 0.25 over 16 symbols).
const int16_t* V34PulsePrototype();
// The 16 taps of branch k (0-2): prototype samples 3n + k.
void V34PulseBranch(int32_t k, int32_t taps[16]);
// The pre-emphasis filters' taps (Q15): filter i, tap t, (real, imaginary).
const int16_t (*V34PreEmphasisTaps(int32_t filter))[2];
// Carrier period (samples) and its step (cycles per period) of a combination (2 x rate index + high carrier).
void V34CarrierPeriod(int32_t combination, int32_t* period, int32_t* step);

// Makes the library filters the modulator uses over every call: eleven pre-emphasis filters (the six
// polyphase branches are the data pump's own). Returns 0, or -1 when the library could not make one.
int32_t CreateV34PreEmphasisFilters(FirState* filters[kV34PreEmphasisFilters]);
void FreeV34PreEmphasisFilters(FirState* filters[kV34PreEmphasisFilters]);

// Chooses the pre-emphasis filter (clearing its history), the carrier table and restarts the carrier.
void SetupV34Modulator(int32_t preEmphasis, int32_t rateIndex, int32_t highCarrier, V34ModulatorState* mod);
// 32 symbols in, 96 samples out.
void V34Modulator(const PackedComplex symbols[kV34BlockSymbols], V34ModulatorState* mod,
                  int16_t samples[kV34BlockSamples]);
