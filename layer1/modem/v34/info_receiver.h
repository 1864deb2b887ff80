// The phase-2 INFO receiver: demodulates the far end's 600 bit/s DPSK (1200 Hz from a caller, 2400 Hz from
// an answerer), looks for the INFO sync at each of the 16 sample phases of a bit, collects the body behind
// it with its CRC, and reports frames, CRC errors, steady tone and phase reversals.
//
// Per sample: AGC, an optional narrow carrier filter, an in-phase/quadrature filter pair, the product with
// the pair's outputs one bit (16 samples) earlier, and a decision with hysteresis: 0xF000 for a phase
// reversal against one bit earlier (a 1), 0 for no reversal (a 0).
#pragma once

#include <cstdint>

constexpr int kInfoRxFilterTaps = 63;     // the in-phase and quadrature filters (64-entry tables)
constexpr int kInfoRxFilterTable = 64;
constexpr int kInfoCarrierTaps = 64;      // the optional carrier filter
constexpr int kInfoSamplesPerBit = 16;    // 9600 Hz / 600 bit/s: one sample phase each
constexpr int kInfoRegisterWords = 10;    // 160 bits per phase
constexpr int kInfoMaxBody = kInfoRegisterWords * 16;
constexpr int kInfoMaxLengths = 8;

// What InfoReceiverSample reports.
enum InfoRxState : int32_t {
    kInfoRxReversalRun = 2,  // more than 512 samples of continuous reversals
    kInfoRxFrame = 3,        // a frame of an accepted length with CRC 0 (held until read)
    kInfoRxCrcError = 4,     // the sync was found but no accepted length gave CRC 0 (held until read)
    kInfoRxTone = 5,         // more than 256 samples without reversal
    kInfoRxReversal = 6,     // one reversal of at most 31 samples after at least 256 samples of tone
    kInfoRxNothing = 7,      // nothing new, or no signal
    kInfoRxSync = 8,         // sync found: the body follows
};

struct InfoReceiver {
    // Front end.
    const int16_t* coefI;                      // the receive pair for the far end's carrier
    const int16_t* coefQ;
    // The pair's history: both filters see the same samples, so they share it; it is kept twice over, so
    // the 63 samples of the window always lie in one run.
    int16_t history[2 * kInfoRxFilterTaps];
    int32_t filterIndex;                       // write index, moving down
    const int16_t* carrierCoef;
    int16_t carrierHistory[kInfoCarrierTaps];
    int32_t carrierIndex;
    int32_t carrierFilterOn;
    int16_t delayI[kInfoSamplesPerBit + 1];    // the current filter output and the 16 before it (ring)
    int16_t delayQ[kInfoSamplesPerBit + 1];
    int32_t delayIndex;
    int16_t agcGain;
    // Decision and events.
    int32_t level;                             // smoothed |product|; the hysteresis threshold is level >> 18
    int16_t decision;                          // 0xF000 (as 16 bits) or 0
    int32_t lowEnergyCount;
    int32_t envelopeMean;                      // energy smoothed over about 32 samples, x 256
    int32_t envelopeSpread;                    // mean distance of the energy from it, x 256
    int32_t toneCount;
    int32_t reversalRunCount;
    int32_t reversalCount;                     // -1 idle
    // Frame search, one lane per sample phase.
    int32_t bitCount[kInfoSamplesPerBit];      // -1 searching
    uint16_t crc[kInfoSamplesPerBit];
    uint16_t bits[kInfoSamplesPerBit][kInfoRegisterWords];
    int32_t lengths[kInfoMaxLengths];
    int32_t lengthCount;
    int32_t maxLength;
    int32_t foundLength;
    int32_t foundPhase;                        // -1 none
    int32_t syncPhase;
    uint32_t phaseCounter;
    int32_t state;
};

// caller = 1: this modem is the caller and receives the answerer's 2400 Hz; 0: it receives 1200 Hz.
void InitInfoReceiver(InfoReceiver* r, int32_t caller, int32_t expectedLength);
int32_t InfoReceiverSample(InfoReceiver* r, int16_t sample);
// Returns the state as it was and leaves 7. A frame's body words (bit k in bit k mod 16 of word k / 16;
// the last, partly filled word holds its bits at the top) go to `words` when given, its length in bits to
// *length; after a frame or a CRC error the search starts again.
int32_t InfoReceiverRead(InfoReceiver* r, uint16_t* words, int32_t* length);
void InfoReceiverRearm(InfoReceiver* r);
// Drops a held frame or CRC report and restarts the frame search, keeping the tone and reversal counts (for a
// step that waits for a tone or a reversal, not for a frame).
void InfoReceiverDropReport(InfoReceiver* r);
// Rearm and accept only bodies of n bits (information bits + 16), or up to 8 lengths (more are cut to 8);
// lengths outside 1-160 are never accepted.
void ExpectInfoLength(InfoReceiver* r, int32_t n);
void ExpectInfoLengths(InfoReceiver* r, const int32_t* list, int32_t count);
// on = 1: the carrier filter runs in front of the demodulator, from a clear history, and the event counters
// restart; 0: it is bypassed.
void SetCarrierFilter(InfoReceiver* r, int32_t on);

// The designed tables (info_receiver_filters.cpp): the in-phase and quadrature pair centred on 1200 Hz
// (high = 0) or 2400 Hz (high = 1), and the carrier filter for either carrier.
const int16_t* InfoRxFilterI(int32_t high);
const int16_t* InfoRxFilterQ(int32_t high);
const int16_t* InfoCarrierFilter(int32_t high);
