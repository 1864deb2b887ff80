// The fax receiver of V.27ter, V.29 and V.17.
//
// Front end (per sample at 9600 per second): a DC-blocking high-pass, demodulation by the carrier (1800 Hz;
// 1700 Hz for V.29) and the root-raised-cosine matched filter, evaluated twice per symbol. Its outputs feed a
// half-symbol-spaced (fractionally spaced) equaliser of 2 x 24 complex taps, so the sampling phase of the
// far end's symbols needs no recovery beyond what the equaliser learns; after it a second-order carrier loop
// removes the phase and the frequency offset (a target of +-15 Hz). An inner sequencer runs the
// modulation's receive list once per symbol: it waits for energy, finds the alternation of the first training
// segment (sampling phase, gain, carrier phase and frequency), finds the symbol where the next segment
// starts, trains the equaliser against the regenerated training sequence, and then decides data
// (V.17 by an 8-state Viterbi decoder on the library's trellis primitives), descrambles it and hands the
// bits to the port until the carrier drops or the quality check finds the signal gone.
//
// Targets: every rate error-free at 25 dB SNR with +-10 Hz carrier offset through the 8000 Hz line, long
// and short training; the end of the carrier reported within 50 ms; a clean signal never trips the quality
// check, while noise or a foreign signal does within about 100 ms.
#pragma once

#include <cstdint>

#include "layer1/dsp/sequencer.h"
#include "layer1/modem/fax/fax_params.h"
#include "layer1/vek/trellis/trellis.h"

struct FaxRxPort {
    void* owner;
    // Received data bits, first in bit 0 (n at most 6).
    void (*putBits)(void* owner, uint32_t bits, int32_t n);
    // Status register: a value 0-15 replaces the state, a larger value sets (set 1) or clears a bit; then the
    // controller is notified.
    void (*status)(void* owner, uint8_t value, int set);
};

constexpr int32_t kFaxEqualiserSpan = 24;                    // symbols
constexpr int32_t kFaxEqualiserTaps = 2 * kFaxEqualiserSpan; // half-symbol spaced
constexpr int32_t kFaxViterbiDepth = 48;                     // symbols of path memory
constexpr int32_t kFaxViterbiStates = 16;                    // 8 states padded to the primitive's 16
constexpr int32_t kFaxAlternationWindow = 8;                 // symbols per half of the alternation estimate
constexpr int32_t kFaxHistory = 32;                          // recent symbols kept for the segment search

struct FaxRxViterbi {
    uint16_t metrics[kFaxViterbiStates];
    uint16_t next[kFaxViterbiStates];
    TrellisMetric4d branch[8];
    int32_t survivors[kFaxViterbiDepth * kFaxViterbiStates];
    int32_t newest;              // slot of the newest symbol in survivors
    int32_t filled;              // symbols in the path memory
    int32_t previousPair;        // Y1 Y2 of the last decoded symbol
};

struct FaxRxState {
    int32_t code;
    FaxModemParams params;
    FaxRxPort port;
    Sequencer inner;
    const StepEntry* list;

    // Front end.
    int32_t dcIn;                // high-pass state: last input
    int32_t dcOut;               // and output (Q4)
    uint32_t carrierPhase;       // 16-bit
    uint32_t carrierStep;
    int16_t taps[8][kFaxMaxFilterTaps];  // the matched filter at eighths of a sample earlier
    int32_t tapCount;
    int32_t timingEighths;       // row of taps in use
    int32_t centrePhase;         // half phase (0, 1) of the equaliser's centre tap
    int32_t mixPos;              // newest entry of the mixed delay line
    int32_t mixRe[2 * kFaxMaxFilterTaps];
    int32_t mixIm[2 * kFaxMaxFilterTaps];
    int32_t halfCount;           // samples since the last half-symbol output
    int32_t halfPhase;           // 0 or 1: which half-symbol output completes a symbol

    // Equaliser input (after the gain), half-symbol spaced, stored twice.
    int32_t eqPos;
    int32_t eqRe[2 * kFaxEqualiserTaps];
    int32_t eqIm[2 * kFaxEqualiserTaps];
    int32_t gain;                // Q16 gain applied to the matched filter's output
    int32_t tapRe[kFaxEqualiserTaps];  // Q28
    int32_t tapIm[kFaxEqualiserTaps];
    int32_t stepShift;           // equaliser adaptation: taps += e x* >> stepShift
    int32_t adapt;               // 0: no tap updates

    // Carrier loop on the equaliser's output.
    uint32_t loopPhase;          // 32-bit phase of the correction
    int32_t loopFrequency;       // phase per symbol
    int32_t loopShift1;          // proportional gain: phase += error >> shift1 (error in 2^32 per turn / 2^16)
    int32_t loopShift2;          // integral gain

    // Per symbol.
    FaxPoint raw;                // equaliser output before the carrier correction
    FaxPoint point;              // after the correction
    FaxPoint decided;            // the decision or the training reference
    int32_t symbols;             // symbols since the start of the list
    int32_t power;               // smoothed power of the half-symbol outputs (before the gain)
    int32_t symbolPower;         // power of the last symbol's outputs
    int32_t onCount;             // symbols with power above the threshold

    // Alternation and segment search.
    int64_t altSum[2][2][2][2];  // [half phase][window][even, odd symbol][re, im] at the equaliser's centre
    int64_t altPower[2];         // [half phase]: sum of the squared magnitudes
    int64_t altRaw[2][2][2];     // [window][even, odd][re, im] of the equaliser's output (short training)
    int32_t altCount;
    int32_t altMatched;
    int32_t acquirePower;        // power when the current search window began          // symbols that matched the alternation since it was found
    FaxPoint expectA;            // the alternation's two points as received after the correction
    int32_t altIndex;            // which of A and B the next symbol should be
    FaxPoint history[kFaxHistory];  // corrected points of the last symbols
    int32_t historyPos;
    int32_t mismatchAt;          // symbols counter at the first mismatch, -1 none
    int32_t segmentLeft;         // symbols left in the current training segment
    uint32_t reference;          // training generator
    int32_t refPhase;            // V.27ter training reference phase / V.17 bridge phase

    // Data.
    uint32_t descrambler;
    int32_t guardCount;
    int32_t previousPhase;       // differential decoding (eighths of a turn)
    int32_t delivering;
    int32_t settling;            // line bits the descrambler still needs before what it gives out is data
    int32_t quality;             // smoothed error of the decisions against their spacing
    FaxRxViterbi viterbi;
    int32_t keepTraining;        // V.17 short training: keep the equaliser of the previous long training
    int32_t onPower;             // power of a carrier at -43 dBm0 (the energy threshold)
    int32_t trainedPower;        // power when data started
    int32_t lossPower;           // power smoothed over about 8 symbols, for the carrier-loss check
    int32_t shiftBias;           // adds to the adaptation shifts so the step size suits the points' scale
    int32_t halfDistance;        // (half the smallest distance between data points)^2 >> 8
    int32_t mismatches;          // training symbols that missed their reference at the segment start
};

// Sets up a receiver for an internal code. A V.17 short-training code keeps the equaliser and loop of the
// previous training (the short sequence alone cannot train it); pass keepEqualiser 0 to start afresh.
void FaxRxInit(FaxRxState* rx, int32_t code, const FaxRxPort& port, int32_t keepEqualiser);
// Demodulates n received samples at 9600 per second.
void FaxRxBlock(FaxRxState* rx, const int16_t* in, int32_t n);
inline int32_t FaxRxDelivering(const FaxRxState* rx) { return rx->delivering; }

// The receive lists (fax_rx_steps.cpp).
const StepEntry* FaxRxListOf(int32_t code);

// Equaliser and carrier loop (fax_rx_equaliser.cpp).
void FaxEqualiserReset(FaxRxState* rx, int32_t centreHalf);
// Moves the sampling instants later by the given eighths of a sample (earlier when negative).
void FaxRxShiftTiming(FaxRxState* rx, int32_t eighths);
void FaxEqualiserRun(FaxRxState* rx);              // raw and point of the current symbol
void FaxEqualiserStep(FaxRxState* rx);             // adapt taps and loop toward rx->decided
FaxPoint FaxRotate(FaxPoint p, uint32_t phase);    // p turned by phase (2^32 = one turn)
uint32_t FaxAngleOf(FaxPoint p);                   // phase of p (2^32 = one turn)

// Decisions (fax_rx_decide.cpp): nearest point of the modulation's data constellation, the bits it carries.
FaxPoint FaxDecide(FaxRxState* rx, uint32_t* bits);
int32_t FaxDistance(FaxPoint a, FaxPoint b);       // squared distance >> 8

// V.17 Viterbi (fax_rx_viterbi.cpp).
void FaxViterbiReset(FaxRxViterbi* v);
// One symbol in; returns the label of the symbol kFaxViterbiDepth - 1 symbols before it, or -1 while the
// path memory fills (every symbol comes out, the first with the kFaxViterbiDepth-th call). nearest gets the label of the point nearest to p (the decision for the loop and equaliser).
int32_t FaxViterbiStep(FaxRxViterbi* v, FaxPoint p, int32_t dataBits, int32_t* nearest);
// At the end of a reception: the labels of the symbols still in the path memory (not yet given out), oldest
// first, along the best path; returns their number (at most kFaxViterbiDepth - 1) and empties the memory.
int32_t FaxViterbiFlush(FaxRxViterbi* v, int32_t* labels);
// The same from the branch metrics found elsewhere: per subset the distance (as FaxDistance) and label of its
// nearest point.
int32_t FaxViterbiSubsets(FaxRxViterbi* v, const int32_t* best, const int32_t* label, int32_t* nearest);
