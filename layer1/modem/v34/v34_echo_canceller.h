// The V.34 echo canceller: the echo of the modem's own signal is subtracted from each received block of 96
// samples, one group of three samples per transmitted symbol. A near section and a far section of three
// complex LMS filters each (one per sample phase, 48 taps) run over the transmitted symbols times the transmit
// carrier phasor (the ring the modulator fills); each filter's real output is the echo estimate of its sample.
// The far section reads the ring at the round-trip delay and may rotate its estimate by a phase loop that
// follows a frequency offset of the far echo. The taps are first estimated by correlation and then adapted.
#pragma once

#include <cstdint>

#include "layer1/modem/v34/complex_fixed.h"
#include "layer1/modem/v34/v34_modulator.h"
#include "layer1/modem/v34/v34_rx_front_end.h"
#include "layer1/vek/core/vek_types.h"

struct LmsState;

constexpr int kEchoTaps = 48;
constexpr int kEchoTapSet = 3 * kEchoTaps;     // three sample phases
constexpr int kEchoRingMask = 4095;
// The estimate correlates the analytic received samples of 24 blocks (768 symbols per sample phase) with the
// transmitted symbols; the Hilbert filter delays the analytic samples by nine.
constexpr int kEchoCaptureBlocks = 24;
constexpr int kEchoHilbertDelay = 9;
constexpr int kEchoCaptureGroups = kEchoCaptureBlocks * kV34BlockSymbols;
constexpr int kEchoCapture = kEchoCaptureBlocks * kV34BlockSamples + kEchoHilbertDelay;
constexpr int kEchoReference = kEchoCaptureGroups + kEchoTaps;

enum EchoMode : int32_t {
    kEchoFarAdapting = 2,  // set and cleared by the training steps
    kEchoRotation = 4,     // the far section runs rotated
};

// The Hilbert filter of the far-echo loop: 19 samples, ten coefficients +-17396 / (2k + 1).
struct HilbertLine {
    int16_t line[19];
    int16_t coefficient[10];
    int32_t position;
};

struct EchoDelayLine {
    PackedComplex line[9];
    int32_t position;
};

// What the training steps collect and the estimates they make. Sample s of the capture (counted from its first
// block) is at capture[s + 9]; reference[m] is the symbol of group m - 47 at the delay being estimated.
struct EchoEstimation {
    int32_t capturing;                         // TakeReceiveBlock feeds blocks in while set
    PackedComplex capture[kEchoCapture];       // analytic received samples (conjugate form of the Hilbert line)
    int32_t captureCount;
    uint32_t ringStart;                        // ring read index of the first captured block
    PackedComplex reference[kEchoReference];   // transmitted symbols (ring entries)
    int32_t referenceCount;
    VekC32 nearTaps[kEchoTapSet];              // phase a fills taps 48a ... 48a + 47
    VekC32 farTaps[kEchoTapSet];
    int32_t energy;
    int32_t farPhase;                          // the far echo's carrier phase at the estimate
    int32_t storedDelay;                       // the delay the far estimate was made for (-1: none yet)
};

typedef int32_t (*EchoScaler)(int32_t value, int32_t count);

struct EchoCanceller {
    V34EchoRing ring;            // filled by the modulator
    uint32_t farReadIndex;
    int32_t nearDelay;           // D_n, symbols
    int32_t farDelay;            // D_f, symbols
    LmsState* nearFilter[3];
    LmsState* farFilter[3];
    int16_t nearShift;           // s_n: the near output is shifted right by s_n - 1
    EchoScaler nearScaler;
    int32_t nearScalerCount;
    int16_t farShift;            // s_f
    EchoScaler farScaler;
    int32_t farScalerCount;
    int16_t residual[3];
    int16_t farPower;
    PhaseLoop farLoop;
    int32_t samplePhase[3];      // the loop phase used for each sample of the last group
    HilbertLine hilbert;
    EchoDelayLine delay;
    int32_t mode;                // EchoMode bits
    int32_t state;               // the training steps' canceller state word
    EchoEstimation estimation;
};

// Stores (re cos - im sin, im cos + re sin), rounded, at the write index; moves the write index on and sets
// the read index to it (the modulator calls it for every symbol; declared with the modulator).
// void StoreTransmitSymbol(V34EchoRing*, PackedComplex, int16_t, int16_t);

// Links the six library filters (made at DSP set-up) and the delays in symbols.
void AttachEchoFilters(EchoCanceller* ec, LmsState* const nearFilters[3], LmsState* const farFilters[3]);
void SetEchoDelays(EchoCanceller* ec, int32_t nearDelay, int32_t farDelay);

// Clears the near filters' taps (unless bit 0 of keep) and lines, the near tap estimate (unless keep), the
// ring, the write index and the residual; read index = -D_n mod 4096; s_n = 16. Returns 0.
int32_t ResetNearEcho(EchoCanceller* ec, int32_t keep);
// ResetNearEcho, then the same for the far filters, the Hilbert line and its coefficients, the delay line, the
// phase loop, far power, s_f = 15 and the far scaler. Returns 0, or -2 when a library reset fails.
int32_t ResetEchoCanceller(EchoCanceller* ec, int32_t keep);

typedef void (*EchoRoutine)(EchoCanceller* ec, int16_t block[kV34BlockSamples]);
// The frozen form (taps fixed) and the adapting form; each processes the 96 samples in place.
void CancelEcho(EchoCanceller* ec, int16_t block[kV34BlockSamples]);
void CancelEchoAdapt(EchoCanceller* ec, int16_t block[kV34BlockSamples]);

// The analytic value of a sample: (the sample nine places back, the Hilbert output of the line).
PackedComplex HilbertStep(HilbertLine* line, int16_t sample);
void BuildHilbertLine(HilbertLine* line);
// Returns the value stored nine calls earlier and stores the new one.
PackedComplex DelayStep(EchoDelayLine* line, PackedComplex value);

// ---- estimation (v34_echo_estimate.cpp) ----

// Starts a capture: clears it and lets TakeReceiveBlock feed blocks in.
void StartEchoCapture(EchoCanceller* ec);
// Feeds one received block (before cancelling) through the Hilbert line into the capture; the capture stops
// itself when full. Returns 1 while more blocks are wanted.
int32_t EchoCaptureBlock(EchoCanceller* ec, const int16_t block[kV34BlockSamples]);
// sqrt-estimate of sum (re^2 + im^2) >> shift over count samples: SqrtNewton(sum >> 14), the sum in 64 bits
// and held to 31 bits.
int32_t EchoEnergy(int32_t count, int32_t shift, const PackedComplex* samples);
// Taps of sample phase a by correlation over `groups` symbols: for lag k = 0 ... 47,
// tap(a, k) = 2^26 x sum_g Re(capture[3g + a + 9]) conj(reference[g + 47 - k]) / sum_g |reference[g + 47]|^2,
// that is the echo's ratio to the symbol times 2^25 (SetEchoScale's unit). Every index is checked against the
// counts: returns -1 and writes zeros when the buffers do not hold what the lags need, or the reference has no
// energy.
int32_t CorrelateEcho(int32_t a, int32_t groups, const EchoEstimation* estimation, VekC32 taps[kEchoTaps]);
// Copies the ring's symbols at the delay (in symbols, from the captured blocks) into the reference and
// correlates the three sample phases into taps. Returns 0, or -1 without a full capture (taps zero).
int32_t EstimateEchoTaps(EchoCanceller* ec, int32_t delay, VekC32 taps[kEchoTapSet]);
// Rotates every tap by a phase word (a far echo's phase at the estimate).
void RotateEchoTaps(VekC32 taps[kEchoTapSet], int32_t phase);
// Each tap set shifted left while its largest part is at most 0x8000000 (at most 12 times); the output
// shifts and error scalers follow (s_f += n_far - 6, s_n += n_near - 6). Returns n_near | n_far << 8.
int32_t SetEchoScale(EchoCanceller* ec, VekC32 nearTaps[kEchoTapSet], VekC32 farTaps[kEchoTapSet]);
// Loads 144 taps into the three filters of a section (phase a from taps 48a ...).
void LoadEchoTaps(LmsState* const filters[3], const VekC32 taps[kEchoTapSet]);
