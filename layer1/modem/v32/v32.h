// The V.32 / V.32bis modem: 2400 baud QAM on an 1800 Hz carrier in both directions at once, 7200 samples per
// second (3 samples per symbol), separated by an echo canceller.
//
// One record per modem holds the transmitter, the receiver and the echo canceller. The block function takes
// received samples and returns the samples to send; bits go through the port (the data framer in the pump).
//
// Handshake (caller / answerer): AA against AC; the answerer's AC -> CA and the caller's AA -> CC reversals
// give each side the round-trip delay; the answerer trains (S, S-bar, TRN) and sends its rate word R1 while
// the caller listens; the caller trains and sends R2 while the answerer listens; the answerer trains again
// and sends R3; each side ends with E and starts data. The echo canceller adapts only while its own side
// trains (the far end is silent then) and holds its taps otherwise.
#pragma once

#include <array>
#include <cstdint>

#include "layer1/modem/fax/fax_rx.h"
#include "layer1/modem/v32/v32_tables.h"
#include "layer1/vek/lms/lms_state.h"

struct V32Port {
    void* owner;
    // The next n transmit bits (first in bit 0), or -1 when there is nothing to send (ones go out).
    int32_t (*getBits)(void* owner, int32_t n);
    void (*putBits)(void* owner, uint32_t bits, int32_t n);
    // Register 54: a value 0-15 replaces the state, a larger value sets (set 1) or clears a bit; notifies.
    void (*status)(void* owner, uint8_t value, int set);
    // The answerer heard no caller: the procedure falls back (may be null).
    void (*answerFallback)(void* owner);
    // The caller's wait for the answerer, per received sample after its guard (may be null): listens for
    // the signals of other modulations. Returns non-zero when it started another mode.
    int32_t (*fallbackDetect)(void* owner, int32_t sample);
};

enum V32StartType : int32_t {
    V32_START_DIRECT = 0,    // command 0x6E: training at once, both sides already in step
    V32_START_CALLER = 1,
    V32_START_ANSWERER = 2,
};

// How a transmitted symbol goes out.
enum V32SymbolKind : int32_t {
    V32_SYMBOL_SILENT = 0,
    V32_SYMBOL_PULSE = 1,        // through the pulse filter (S, S-bar, TRN, words, data)
    V32_SYMBOL_TONE = 2,         // AA, CC: the point on the carrier
    V32_SYMBOL_ALTERNATION = 3,  // AC, CA: the point times a 1200 Hz cosine
};

// Receiver progress, read by the transmitter.
enum V32Progress : int32_t {
    V32_PROGRESS_NONE = 0,
    V32_PROGRESS_FIRST_WORD = 1,   // caller: R1 found
    V32_PROGRESS_SECOND_WORD = 2,  // caller: R3 found; answerer: R2 found
    V32_PROGRESS_RENEGOTIATE = 4,  // the far end's renegotiation signal found in data
    V32_PROGRESS_RENEGOTIATE_WORD = 5,  // its rate word found
    V32_PROGRESS_E = 6,            // E found (or nothing is left to agree)
};

constexpr int32_t kV32BlockSamples = 48;
constexpr int32_t kV32SampleRate = 7200;
constexpr int32_t kV32EqualiserTaps = 48;        // complex, a third of a symbol apart: 16 symbols
constexpr int32_t kV32NearEchoTaps = 96;         // samples: 13 ms behind the transmitter
constexpr int32_t kV32FarEchoTaps = 160;         // samples: 22 ms around the round-trip delay
constexpr int32_t kV32EchoHistory = 8192;        // transmitted samples kept for the far canceller
constexpr int32_t kV32HilbertTaps = 19;
// Samples the far end takes from hearing a reversal to sending its own: both transmit filters' delay and a
// detector's lag (part of every measured round trip).
constexpr int32_t kV32FarReaction = 60;
constexpr int32_t kV32DipWindow = 12;            // samples a reversal's dip is followed for its lowest point
constexpr int32_t kV32AlignSearch = 15;          // samples either side of the expected training start
constexpr int32_t kV32AlignSymbols = 96;         // training symbols correlated per candidate
constexpr int32_t kV32AlignSamples = 2 * kV32AlignSearch + 3 * kV32AlignSymbols + 1;
constexpr int32_t kV32TimingCheck = 16;          // symbols between measurements of the taps' slide

struct V32Tx {
    int32_t state;
    int32_t count;
    int32_t sampleInSymbol;     // 0-2
    uint32_t scrambler;
    int32_t symbols;            // symbols sent in the current state
    uint16_t word;              // the rate word being sent
    int32_t wordGroups;         // groups of 8 symbols sent
    int32_t exchangeType;       // 2-5
    int32_t renegotiateMark;
    V32Point history[kV32PulseTaps];
    int32_t historyPos;         // slot of the newest symbol
    int32_t gain;               // Q13
    int32_t quadrant;           // uncoded differential state
    int32_t diffPair;           // trellis differential state
    int32_t trellisState;
    int32_t bitsPerSymbol;
    uint32_t dataMask;
    int32_t trellis;
    int32_t startCount;         // data symbols sent, up to 128
    int32_t startDone;
    uint32_t carrierPhase;      // 27 bits used
    int32_t silentSymbols;      // symbols of silence in state 3 (caller)
    int32_t toneKind;           // V32SymbolKind of the current symbol
    V32Point tonePoint;
    int32_t toneSample;         // 0-5: phase of the 1200 Hz alternation
};

struct V32Rx {
    int32_t state;
    int32_t count;
    int32_t guard;
    // Front end.
    int32_t hp[2];                       // high-pass state
    int16_t line[2 * kV32HilbertTaps];   // input delay line, doubled
    int32_t linePos;
    uint32_t sampleIndex;
    int32_t dcRe;                        // the caller's own AA / CC echo as the detectors see it (x16)
    int32_t dcIm;
    int32_t zRe[16];                     // last demodulated samples (ring of 16)
    int32_t zIm[16];
    // Pattern detectors on the demodulated signal.
    int32_t energy;                      // smoothed |z|^2 >> 8
    int32_t c3;                          // smoothed Re z[n] z*[n-3] >> 8
    int32_t c3q;                         // smoothed |Im z[n] z*[n-3]| >> 8
    int32_t c6;                          // smoothed Re z[n] z*[n-12] >> 8, short
    int32_t steady;                      // samples the awaited pattern has held
    int32_t dipLow;                      // lowest c6 / energy seen in a dip (Q8), 1 << 30 when none
    uint32_t dipAt;                      // sample index of that low
    uint32_t dipStart;
    int32_t inDip;
    uint32_t markAt;                     // sample index of the reversal that starts a segment
    // Symbol timing and gain: the interpolator between the demodulator and the equaliser.
    int32_t agc;                         // Q12 gain into the equaliser
    std::array<int16_t, 4> ringRe;       // last four samples into the interpolator
    std::array<int16_t, 4> ringIm;
    int32_t ringPos;                     // slot of the newest
    int32_t timingPos;                   // next output time after the second-oldest sample, 2^-24 samples
    int32_t timingFrequency;             // the loop's clock correction per output, 2^-24 samples
    int32_t timingAdjust;                // its phase correction per output until the next check
    int32_t timingCheck;                 // symbols to the next measurement
    uint32_t eqIndex;                    // samples put into the equaliser (the symbol grid counts these)
    // Equaliser and carrier loop.
    LmsState* eq;
    uint32_t loopPhase;
    int32_t loopFrequency;
    int32_t symbols;                     // symbols formed since the training started
    int32_t training;                    // 2 or 4: reference points, 0: decisions
    uint32_t reference;                  // training reference scrambler
    V32Point point;                      // equalised and turned point
    // Decisions.
    int32_t bitsPerSymbol;
    int32_t trellis;
    uint32_t descrambler;
    int32_t diffPrevious;
    FaxRxViterbi viterbi;
    uint16_t wordReg;
    uint16_t lastWord;
    int32_t wordAt;                      // symbol of the last valid word
    int32_t trainEnd;                    // symbols trained on the reference before decisions take over
    int32_t wordType;                    // of the far end: 1 V.32bis, 2 V.32
    int32_t errorMeasure;                // m, 16.16: V32QualityMask grades its whole part
    int32_t smoothedError;               // m as the line-quality grade reads it (>> 15)
    int32_t dataSymbols;
    int32_t tapsSaved;                   // savedTaps holds the taps after training
    VekC32 savedTaps[kV32EqualiserTaps];
    int32_t noFallback;                  // a retrain: the caller's wait does not listen for other modes
    // Finding the first training symbol: the equaliser's input from before the earliest candidate start.
    int32_t aligning;
    uint32_t alignFrom;
    int32_t alignRe[kV32AlignSamples];
    int32_t alignIm[kV32AlignSamples];
    int32_t refK;                        // the symbol the training reference generator gives next
};

struct V32Echo {
    LmsState* near;
    LmsState* far;
    int16_t history[kV32EchoHistory];
    int32_t pos;                 // slot of the newest transmitted sample
    int32_t latency;             // samples from a sent sample to its first echo (the sample stream's buffering)
    int32_t nearDelay;           // samples from the newest sample to the near window's newest tap
    int32_t farDelay;            // samples from the newest sample to the far window's newest tap
    int32_t mu;                  // 0: taps held
    int32_t power;               // smoothed power of the residual
    uint64_t nearPower;          // smoothed powers of the near and far estimates (line statistics)
    uint64_t farPower;
};

struct V32Modem {
    V32Port port;
    V32Tx tx;
    V32Rx rx;
    V32Echo echo;
    int32_t startType;
    int32_t answering;
    int32_t procedureKind;
    int32_t mode;                // 16 V.32bis, 12 / 13 V.32
    uint16_t capability;         // the local options word
    uint16_t received[2];        // far words by progress: [0] first, [1] second
    uint16_t agreed;
    int32_t progress;
    int32_t detectFlag;          // the receiver found the far end's signal the transmitter waits for
    int32_t aaEnded;             // caller: the receiver heard the AC -> CA reversal
    int32_t delayMeasured;
    int32_t echoDelay;           // samples of round trip
    int32_t rateCode;            // 5-9 once data runs
    int32_t dataRunning;
    int32_t renegotiate;         // local request pending
    int32_t retrains;
    int32_t gaveUp;
};

// Makes the library objects (once per modem; no allocation afterwards). Returns false when it fails.
bool V32Create(V32Modem* m);
void V32Destroy(V32Modem* m);
// Starts the modem (start type, procedure kind, mode, options word, transmit gain Q13, and the samples a
// sent sample takes through the sample stream until its echo can come back). A direct start (both ends
// trained at once, on a line without echo) takes its role from `originate`: the scramblers differ by role.
void V32Start(V32Modem* m, const V32Port& port, int32_t startType, int32_t procedureKind, int32_t mode,
              uint16_t capability, int32_t gain, int32_t latency, int32_t originate = 1);
// n received samples in, n samples to send out.
void V32Block(V32Modem* m, const int16_t* in, int16_t* out, int32_t n);
// Restarts the handshake from its tone stage (status 3).
void V32ModemRetrain(V32Modem* m);
// Asks for a new rate with the word of the current line quality; false when nothing can be done now.
bool V32ModemRenegotiate(V32Modem* m);
// Line-quality grade 0-3 of the current rate (1 outside data).
int32_t V32ModemGrade(const V32Modem* m);

// Transmitter (v32_tx.cpp, v32_tx_states.cpp).
void V32TxStart(V32Modem* m);
int16_t V32TxSample(V32Modem* m);
void V32TxSymbol(V32Modem* m, V32Point* point, int32_t* kind);
void V32RateExchange(V32Modem* m, int32_t type);
void V32TxApplyRate(V32Modem* m, uint16_t word);

// Data symbol coding shared by both directions (v32_coding.cpp).
V32Point V32EncodeData(V32Tx* tx, uint32_t bits, int32_t caller);
// Scrambles or descrambles n bits with the caller's (tap 18) or the answerer's (tap 5) polynomial.
uint32_t V32Scramble(uint32_t* reg, uint32_t bits, int32_t n, int32_t caller);
uint32_t V32Descramble(uint32_t* reg, uint32_t bits, int32_t n, int32_t caller);
// The four-point dibit index (A, B, C, D) nearest to a point.
int32_t V32NearestTraining(V32Point p);

// Trellis branch metrics (v32_subsets.cpp): per subset (0-7) the label of the point nearest to p and its
// squared distance in 1024ths of a unit >> 8, at 3-6 data bits per symbol.
void V32SubsetMetrics(int32_t dataBits, V32Point p, int32_t* best, int32_t* label);

// Echo canceller (v32_echo.cpp).
// Clears the taps; the near window starts at the stream latency, the far window around the round trip
// (0: not measured yet, the far window follows the near one).
void V32EchoReset(V32Echo* e, int32_t roundTrip);
// Puts the transmitted sample; returns the echo estimate for the sample received now.
int32_t V32EchoEstimate(V32Echo* e, int16_t sent);
void V32EchoAdapt(V32Echo* e, int32_t residual);

// Receiver (v32_rx*.cpp).
void V32RxStart(V32Modem* m);
void V32RxSample(V32Modem* m, int32_t x);
