// The receiver's start from the far end's PP: three captures of one PP period from the equaliser's delay line,
// the carrier frequency offset between them, and the initial equaliser computed from their de-rotated average.
//
// PP repeats every 48 symbols, so one period captured at the equaliser's spacing (72 samples, 2/3 symbol
// apart) gives the line's response at 72 frequencies once the known PP spectrum is divided out. The
// equaliser is the conjugate response over the power folded at the symbol rate (the band edges a symbol rate
// apart add up), which makes the symbol-spaced output the transmitted point times the training gain, some
// whole symbols late; the delay is chosen to put the response's peak near the middle of the taps.
#pragma once

#include <cstdint>

#include "layer1/modem/v34/complex_fixed.h"
#include "layer1/vek/core/vek_types.h"

struct LmsState;
struct V34Receiver;

constexpr int32_t kV34PpPeriod = 48;     // symbols
constexpr int32_t kV34PpSamples = 72;    // one period at the equaliser's spacing
constexpr int32_t kV34PpCaptures = 3;
constexpr int32_t kV34PpPeakTap = 36;    // where the initial equaliser's main tap goes

struct PpCapture {
    PackedComplex samples[kV34PpCaptures][kV34PpSamples];  // oldest first; the last is the newest sample
    int32_t count;          // captures taken
    uint32_t energy;        // sum of (re^2 + im^2) >> 16 over the captured samples
};

// Takes the next capture: the equaliser's newest 72 samples at tap spacing (the samples its taps multiply).
// Returns 0, -1 when three are held, -2 when the library refuses.
int32_t CapturePp(const LmsState* equaliser, PpCapture* capture);

// The carrier frequency offset the captures show, in phase-word units per symbol (2^32 a turn).
int32_t PpFrequencyOffset(const PpCapture* capture);

// The equaliser's taps (the library's tap order: tap k multiplies the sample 2k/3 symbols before the newest)
// from one de-rotated PP period: the output, in the receiver's output units (its 32-bit sum >> 11), is the
// transmitted point (modulator input units) times gain / 32768, whole symbols late. Returns the response's
// peak tap, or -1 when the capture holds no signal.
int32_t InitialEqualiser(const PackedComplex period[kV34PpSamples], int32_t gain, VekC32 taps[kV34PpSamples]);

// The PP analysis after the third capture: the offset; the captures de-rotated by it and averaged; the initial
// equaliser loaded for the training gain of the 4-point TRN that follows (the re-encoder's scale over TRN's);
// the carrier loop set to the phase the offset has turned since the first capture and to turn on by the
// offset every symbol. Returns 0, -1 without three captures or signal, -2 when the library refuses.
int32_t AnalysePp(V34Receiver* rx, const PpCapture* capture);
