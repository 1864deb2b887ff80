// The V.34 receiver's symbol path. Per block: 96 samples in, DC removed, the echo cancelled. Per symbol: three
// samples through the AGC, demodulated to complex baseband, interpolated to the symbol timing, filtered per
// rail, into a fractionally spaced equaliser (72 taps, every second of the three-per-symbol samples: 48
// symbols) plus a feedback filter over the outputs, both adapted from the error between the equalised output
// and the re-encoded decision of the symbol one pair earlier. Three phase loops follow the carrier (with a
// jitter predictor), the symbol timing and the far echo. The caller decides (the training slicer or the
// trellis decoder) and stores its decision into the symbol's slot.
#pragma once

#include <cstdint>

#include "layer1/modem/v34/complex_fixed.h"
#include "layer1/modem/v34/v34_echo_canceller.h"
#include "layer1/modem/v34/v34_modulator.h"
#include "layer1/modem/v34/v34_rx_front_end.h"
#include "layer1/vek/core/vek_types.h"

struct FirState;
struct LmsState;

constexpr int kV34EqualiserTaps = 72;
constexpr int kV34EqualiserLine = 150;   // the equaliser's delay line: 72 taps two entries apart, update delay 6
constexpr int kV34RxHistory = 32;
constexpr int kV34RailTaps = 48;
constexpr int kV34RxCarrierPeriod = 21;

// One of the two alternating slots (bit 0 of the symbol counter).
struct RxSlot {
    PackedComplex output;     // equalised output, each half the 32-bit output >> 11
    int32_t angle;            // de-rotation: the negated carrier phase plus jitter prediction
    PackedComplex soft;       // the point handed to the slicer (1/128 grid units)
    PackedComplex decision;   // stored back by the slicer or the decoder (1/128 grid units)
    PackedComplex rotated;    // the output rotated by the carrier phase
    PackedComplex corrected;  // and by the jitter prediction
};

struct ReencodeState {
    PackedComplex coefficients[3];  // precoder (Q14)
    PackedComplex past[3];
    int32_t nonlinear;
    int32_t scale;
    int32_t gain;
    int32_t reciprocalGain;   // 0x20000000 / gain
    int32_t reciprocalScale;  // 0x1000000 / scale
};

// The good limit of the decision monitor (also its limit at the receiver's set-up).
constexpr int32_t kV34MonitorGoodLimit = 340000;

// Counts of the decision monitor; the data steps' rate monitor reads them.
struct RateMonitor {
    int32_t good;
    int32_t bad;
    int32_t armed;
    int32_t armCount;
    int32_t symbolRateIndex;
    int32_t current;          // rate index 1-14
    int32_t agreedMax;
    int32_t mask;             // bit n - 1: rate index n allowed
    int32_t goodLimit;        // 340000
    int32_t armLength;        // 400
};

struct V34Receiver;
typedef int32_t (*TimingEstimator)(V34Receiver* rx);

struct V34Receiver {
    // block input
    int16_t block[kV34BlockSamples];
    int32_t readIndex;
    int32_t blockLength;
    DcRemoval dc;
    EchoRoutine cancel;
    // front end
    RxAgcState agc;
    int32_t combination;      // 2 x rate index + high carrier of the far end's transmitter
    int32_t carrierPeriod;
    int32_t carrierPosition;
    int16_t carrierCos[kV34RxCarrierPeriod];
    int16_t carrierSin[kV34RxCarrierPeriod];
    FirState* rail[2];
    Interpolator interpolator;
    int32_t demodulated[2][4]; // the symbol's samples (positions start ... 3) per rail
    int32_t startIndex;        // 1 normally, 2 after a timing step of +1, 0 after -1
    int32_t intake;            // next position to fill
    PackedComplex history[kV34RxHistory];
    uint32_t historyIndex;
    SignalDetector detector;
    int32_t faultMonitor;      // off during echo training
    // equaliser and feedback filter
    LmsState* equaliser;
    LmsState* feedback;
    RxSlot slot[2];
    uint32_t symbolCount;      // two-dimensional symbols
    ReencodeState reencode;
    // loops
    PhaseLoop carrier;
    LmsState* jitter;
    int32_t predictorOff;
    uint32_t carrierSymbols;
    PhaseLoop timing;
    TimingEstimator estimator;
    PackedComplex bandEdge[2];  // previous u and v
    int32_t timingError;        // the data-mode form reuses it between refreshes
    int32_t timingStep;
    // error outputs
    PackedComplex error;
    int32_t squaredError;
    uint32_t signalPower;       // smoothed |re-encoded decision|^2 and |error|^2 (the diagnostic SNR)
    uint32_t errorPower;
    int32_t decisionAverage;    // t of the decision monitor
    RateMonitor monitor;
    int32_t monitorOn;
    int32_t monitorLimit;
    // flags
    int32_t skip;
    int32_t retrainReason;
    // training decisions
    uint32_t bitHistory;
    uint8_t quadrant;
    uint32_t descrambler;
    int32_t polynomial;         // the far end's scrambler (1 in the answering modem)
    int32_t decisions;
    // reversal detector
    int32_t reversalTerms[3];
    int32_t reversalSum;
    int32_t reversalPosition;
    // data mode
    int32_t pairCount;
    int32_t framePairs;         // 4P: pairs of a data frame
    uint16_t superframePattern;
    int32_t patternBits;        // 2J
    int32_t patternPosition;
    int32_t superframeFlag;
    EchoCanceller echo;
};

// The library objects the receiver uses (made at DSP set-up).
struct V34ReceiverObjects {
    FirState* rail[2];
    LmsState* equaliser;
    LmsState* feedback;
    LmsState* jitter;
    LmsState* nearEcho[3];
    LmsState* farEcho[3];
};
void AttachV34Receiver(V34Receiver* rx, const V34ReceiverObjects* objects);

// The carrier table of a combination (2 x rate index + high carrier; 3429 has one carrier, 10): the period
// and step of the transmit carrier, (cos, sin) x 32768 rounded and held to 32767. Returns the period.
int32_t V34RxCarrierTable(int32_t combination, int16_t cosine[kV34RxCarrierPeriod], int16_t sine[kV34RxCarrierPeriod]);
// The rails' low-pass filter (Q15, symmetric): passes the baseband of every symbol rate, stops the image at
// twice the carrier.
void V34RailFilterTaps(int32_t taps[kV34RailTaps]);

// The training values of the re-encoder and the AGC.
constexpr int32_t kV34AgcTarget = 8780402;
constexpr int32_t kV34TrainingGain = 0x7FFF;
constexpr int32_t kV34TrainingScale = 31053;
// Gain and scale with their reciprocals 0x20000000 / gain and 0x1000000 / scale (0 stays 0).
void SetReencodeScale(ReencodeState* r, int32_t gain, int32_t scale);

// Resets the front end (FIR lines, interpolator, detector, carrier position and table), the equaliser and
// feedback filter (taps kept when bit 0 of keep is set; the feedback taps cleared only when keep is 0), the
// loops, the predictor, the re-encoder history and the echo canceller; zeroes the error outputs. Returns 0 or
// -2 when a library reset fails.
int32_t ResetV34Receiver(V34Receiver* rx, int32_t keep);

// One symbol. Sets the skip flag and returns when the block is used up before the symbol is complete (the
// samples taken stay; the symbol completes with the next block). Returns the equalised output.
VekC32 V34ReceiveSymbol(V34Receiver* rx);
// The symbol's slot: bit 0 of the symbol counter before the symbol is counted.
RxSlot* CurrentSlot(V34Receiver* rx);

// The two timing estimators (training: every symbol; data mode: the error refreshed every eighth symbol).
// Return the timing step -1, 0 or +1.
int32_t TimingEstimate(V34Receiver* rx);
int32_t TimingEstimateData(V34Receiver* rx);
// flags bit 0: first estimate; bit 1: no error. Returns the step.
int32_t TimingEstimateCore(V34Receiver* rx, int32_t flags, int32_t recompute);

// x times the phasor of the phase word, each part saturated to 16 bits: the training scale puts the corner
// points of the 16-point constellation at a magnitude of 32935, which a rotation near 45 degrees would wrap.
PackedComplex RotateSaturating(PackedComplex x, int32_t phase);

// The carrier loop's slot update: returns the new slot angle source phi + j.
int32_t CarrierUpdate(V34Receiver* rx, RxSlot* slot, PackedComplex y, PackedComplex z);

// The training slicer: the decision (1/128 grid units) and the two or four differentially decoded bits.
uint32_t SliceTrainingPoint(PackedComplex soft, int32_t fourPoint, uint8_t* quadrant, PackedComplex* decision);
// V34ReceiveSymbol, the slicer on the slot's soft point, and 4 - 2 x flag descrambled bits into the top of
// the bit history; counts decisions.
void ReceiveDecision(V34Receiver* rx, int32_t fourPoint);
// When the decision counter equals the position: the 16 history bits above the shift into out and through
// the frame CRC. Returns 1 when it did.
int32_t ReadHistoryField(V34Receiver* rx, int32_t shift, int32_t position, uint16_t* out, uint16_t* crc);
// The reversal of S to S-bar: 10000 when the running correlation with the samples 12 entries back changes
// sign, else 0.
int32_t ReversalDetect(V34Receiver* rx);

// Decides a pair in data mode: the caller's routine (the trellis decoder) gets both soft points and stores the
// tentative decisions into the slots. Null: nearest points of the grid.
typedef void (*PairDecider)(void* owner, V34Receiver* rx, RxSlot* first, RxSlot* second, int32_t invert);
// V34ReceiveSymbol; on the second symbol of a pair the decider; pairs counted modulo 4P; the superframe bit
// taken on the pairs that begin a half data frame.
void ReceiveDataSymbol(V34Receiver* rx, PairDecider decider, void* owner);

// The block: reads 96 samples (kept as read in raw for the level measures; a failed read gives zeros), removes
// DC, runs the installed canceller.
struct LowerAudioInterface;
void ReadReceiveBlock(V34Receiver* rx, LowerAudioInterface* lower, int16_t raw[kV34BlockSamples]);
// The same on a block the caller supplies (tests, the line simulator).
void TakeReceiveBlock(V34Receiver* rx, const int16_t samples[kV34BlockSamples]);

// Rate monitor of data mode: -1 down, +1 up, 0 nothing (the counts come from the decision monitor).
int32_t RateMonitorStep(RateMonitor* monitor);
// The highest and lowest rate index of a symbol rate (0-5).
int32_t V34MaxRateIndex(int32_t symbolRateIndex);
int32_t V34MinRateIndex(int32_t symbolRateIndex);

// ---- the receive side of the block handler (v34_rx_block.cpp) ----

// What the block handler watches on the received blocks beside the receiver.
struct V34RxWatch {
    int32_t dataMode;         // set by the data steps while data flow (the rate monitor and carrier loss run)
    int32_t quietBlocks;      // consecutive data-mode blocks below the carrier-loss level
    int32_t toneBlocks;       // consecutive blocks dominated by the far end's phase-2 tone
    int32_t toneCoefficient;  // 2 cos(2 pi f / fs), Q14, of that tone
};

// The far end's phase-2 restart: a steady tone at its phase-2 carrier (2400 Hz from the answering modem, 1200
// Hz from the calling one) that holds most of the block's power. Returns 1 when the block is such a tone.
int32_t V34PhaseTwoToneBlock(const int16_t block[kV34BlockSamples], int32_t coefficient);
// 2 cos(2 pi f / fs) in Q14.
int32_t V34ToneCoefficient(int32_t frequency, int32_t sampleRate);
