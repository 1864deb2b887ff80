// The 600-baud quadrature modem: V.22 at 1200 bit/s (four-phase differential PSK) and V.22bis at 2400 bit/s
// (16-point QAM with differential quadrant coding), 9600 samples per second, 16 samples per symbol.
//
// The module knows nothing of registers, packets or the framer: the transmitter takes its bits and the
// receiver hands its bits over through a V22Port, and the handshake operations return what they found. The
// pump's glue (the step lists, reports and framer hook-up) drives it one 96-sample block at a time.
#pragma once

#include <cstdint>

#include "layer1/vek/core/vek_types.h"

constexpr int32_t kV22SamplesPerSymbol = 16;
constexpr int32_t kV22PulseTaps = 8;         // symbols under the transmit pulse
constexpr int32_t kV22RxFilterTaps = 128;    // receive low-pass, samples
constexpr int32_t kV22EqTaps = 22;           // T/2-spaced complex equaliser taps
constexpr int32_t kV22TimingPeriod = 23100;  // one sample of the interpolator's timing fraction
constexpr int32_t kV22TimingNudge = 77;      // 1/300 sample: one step of the timing fraction

// Carrier phase steps of the 16-bit oscillator phase at 9600 Hz.
constexpr int16_t kV22Carrier1200 = 8192;
constexpr int16_t kV22Carrier2400 = 16384;

// Where the bits come from and go to.
struct V22Port {
    void* owner;
    // The next n bits, first bit in bit 0; a negative value (nothing to send) is sent as ones.
    int32_t (*getTxBits)(void* owner, int32_t n);
    void (*putRxBits)(void* owner, uint32_t bits, int32_t n);
};

// tx_control bits.
enum V22TxControl : uint16_t {
    V22_TX_1200 = 0x0001,       // bit 0 or 1: 2 bits per symbol, in-quadrant point fixed at 1
    V22_TX_SCRAMBLE = 0x0004,
    V22_TX_S1 = 0x0008,
    V22_TX_ONES = 0x0010,
};
// The transmitter's settings the handshake uses.
constexpr uint16_t kV22TxUnscrambledOnes = 17;
constexpr uint16_t kV22TxS1 = 9;
constexpr uint16_t kV22TxOnes1200 = 21;
constexpr uint16_t kV22TxOnes2400 = 20;
constexpr uint16_t kV22TxData1200 = 5;
constexpr uint16_t kV22TxData2400 = 4;

struct V22TxState {
    uint16_t symbol_phase;       // 0-15; a symbol is formed when it is 0
    uint16_t tx_control;
    uint32_t s1_toggle;          // 0 or 3: which half of the S1 pair comes next
    uint32_t data_bits;
    uint32_t scrambled;          // first bit in bit 3
    uint32_t point;              // constellation index 0-15
    uint32_t scrambler;          // 17 bits, newest in bit 16
    uint32_t ones_run;           // consecutive ones at the scrambler output
    uint16_t quadrant;           // absolute quadrant x 4
    int16_t point_re, point_im;
    // Symbol delay lines, newest at line_index, each entry stored twice (k and k + 8).
    int16_t line_re[2 * kV22PulseTaps];
    int16_t line_im[2 * kV22PulseTaps];
    uint16_t line_index;
    uint16_t carrier_phase;      // 65536 = one cycle
    int16_t carrier_step;
    int16_t cos, sin;
    int16_t out_re, out_im;
    int16_t tx_gain;
};

// detect bits.
enum V22Detect : uint16_t {
    V22_DETECT_FOUR_POINT = 0x0001,   // 1200 bit/s decisions
    V22_DETECT_ENERGY = 0x0004,
    V22_DETECT_S1 = 0x0008,
    V22_DETECT_ONES = 0x0010,         // more than 32 consecutive descrambled ones
    V22_DETECT_UNREPORTED = 0x0020,   // connection not yet reported
};
// control bits.
enum V22RxControl : uint16_t {
    V22_RX_DATA = 0x0001,             // differential decoding, descrambling, ones counter
    V22_RX_TIMING = 0x0002,
    V22_RX_AGC = 0x0004,
    V22_RX_START_ENERGY = 0x0010,     // accumulate the equaliser-start energies
    V22_RX_TO_FRAMER = 0x0020,
    V22_RX_LOSS_WATCH = 0x0040,
    V22_RX_RETRAIN_WATCH = 0x0080,
    V22_RX_SIXTEEN_WATCH = 0x0100,    // four-point decisions until the far end's 16-point signal shows
};
// What a receive block found, for the glue to act on.
enum V22RxEvent : uint32_t {
    V22_RX_EVENT_CARRIER_LOST = 1,
    V22_RX_EVENT_RETRAIN = 2,
};

struct V22S1Detector {
    int32_t power;               // smoothed energy of the newest T/2 samples
    int32_t same;                // smoothed energy of x(t) - x(t - 2T): small for S1
    int32_t opposite;            // smoothed energy of x(t) + x(t - 2T): small for unscrambled ones
    uint16_t run;                // consecutive symbols that looked like S1
    uint16_t s1_seen;
};

struct V22TimingLoop {
    int16_t timing_fraction;     // 0 ... 23100, one sample of interpolation delay
    int16_t timing_accumulator;
    int32_t timing_step;         // the integrated rate term, 8 fraction bits below the accumulator's
    int16_t timing_step_weight;
    int16_t timing_gain;         // proportional gain
    int16_t timing_scale;        // integral gain
    int16_t timing_enable;
    int16_t timing_error;
    VekC32 reference;            // band-edge product taken at R-timing-ref
    VekC32 last;                 // the latest band-edge product
};

// A sum of complex products, exact in 64 bits.
struct V22Turn {
    int64_t re, im;
};

struct V22RxState {
    uint16_t detect;
    uint16_t control;
    uint16_t sample_phase;
    int16_t rx_carrier_step;
    uint16_t rx_carrier_phase;
    int16_t cos, sin;

    // Front end: pre-filter, the three newest demodulated values, the interpolated baseband ring (newest at
    // baseband_index, stored twice so the filter reads 128 values without wrapping).
    int32_t prefilter[2];
    VekC16 demod[3];             // demod[0] oldest, demod[2] newest
    int16_t baseband_re[2 * kV22RxFilterTaps];
    int16_t baseband_im[2 * kV22RxFilterTaps];
    uint16_t baseband_index;
    int16_t filt_re, filt_im;

    // Equaliser: taps in Q30 (1.0 = 2^30), indexed by age in half symbols (0 = newest input); delay line
    // stored twice, newest at eq_index.
    VekC32 taps[kV22EqTaps];
    VekC16 eq_line[2 * kV22EqTaps];
    uint16_t eq_index;
    int16_t eq_re, eq_im;
    int16_t eq_step;

    // Carrier loop.
    uint16_t phase_estimate;
    int32_t loop_integrator;
    int16_t loop_gain_p, loop_gain_i;
    int16_t y_re, y_im;
    int16_t phase_error;

    // Decision.
    uint16_t decided_point;
    uint16_t prev_quadrant;
    uint16_t rx_group;
    int16_t err_re, err_im;
    int16_t err_rot_re, err_rot_im;
    int32_t squared_error;

    // Gain control.
    int16_t agc_average;
    int16_t agc_exponent;        // -10 ... 8
    int16_t agc_mantissa;        // at least 1536
    int16_t agc_loop_gain;
    int16_t agc_target;

    // Descrambler and ones counter.
    uint32_t descrambler;
    uint16_t rx_ones_run;
    uint32_t output;
    uint16_t ones_count;
    // The last 16 symbols, one bit each: the sixteen-point decision differed from the four-point one.
    uint16_t wide_points;

    V22S1Detector s1;
    V22TimingLoop timing;
    int16_t start_energy_a, start_energy_b;
    // Carrier frequency estimate made while the start energies accumulate: the fourth power of the filter
    // output removes the four-phase modulation, so its turn from one symbol to the next is four times the
    // carrier offset's. Each filter phase (0, 4, 8, 12) keeps its own sums of that turn over one symbol and
    // over four, and the last four symbols' fourth powers (slot = symbol count mod 4).
    VekC16 fourth[4][4];         // [slot][phase]
    V22Turn turn1[4];            // per phase: sum of z4(n) conj(z4(n - 1))
    V22Turn turn4[4];            // per phase: sum of z4(n) conj(z4(n - 4))
    uint16_t offset_symbols;
};

// One modem: both directions, the bits per symbol of the call (2 or 4) and its port.
struct V22Modem {
    V22TxState tx;
    V22RxState rx;
    int32_t bits_per_symbol;
    V22Port port;
};

// --- transmitter (v22_tx.cpp) ---
void V22TxReset(V22TxState* tx);
// n samples of line signal (n a multiple of nothing: the symbol clock runs on across calls).
void V22TxBlock(V22Modem* m, int16_t* out, int32_t n);
// Constellation point of index 0-15 in units of 6144.
void V22PointOf(uint32_t index, int16_t* re, int16_t* im);
// One bit through the scrambler (64-ones rule included) and back through the descrambler.
uint32_t V22Scramble(uint32_t* reg, uint32_t* onesRun, uint32_t bit);
uint32_t V22Descramble(uint32_t* reg, uint16_t* onesRun, uint32_t bit);

// --- receiver (v22_rx.cpp, v22_rx_symbol.cpp) ---
// n received samples; bits go to the port while V22_RX_TO_FRAMER is set. Returns V22RxEvent bits.
uint32_t V22RxBlock(V22Modem* m, const int16_t* in, int32_t n);

// --- tables (v22_tables.cpp) ---
// Row p of the transmit pulse: 8 Q15 coefficients for the symbols of ages 0-7 at sample p of the symbol.
const int16_t* V22PulseRow(int32_t phase);
// The receive low-pass, 128 symmetric Q15 taps.
const int16_t* V22RxFilter();

// --- handshake operations (v22_handshake.cpp) ---
void V22RxInit(V22Modem* m);          // R-init
void V22RxReset(V22Modem* m);         // R-reset
void V22RxWaitSettings(V22Modem* m);  // R-wait, before its block
void V22RxSettle(V22Modem* m);        // R-settle
void V22RxSeed(V22Modem* m);          // R-seed: the equaliser cleared and its centre taps set
void V22RxTrain1(V22Modem* m);
void V22RxTrain2(V22Modem* m);
void V22RxTimingReference(V22Modem* m);
void V22RxRateSettings(V22Modem* m);  // R-rate (V.22bis)
void V22RxConnect(V22Modem* m, int32_t bis);
// The caller's or answerer's S1 has come and gone.
int V22RxS1Ended(const V22RxState* rx);
// The equaliser's band-edge product (v22_rx_symbol.cpp).
VekC32 V22BandEdgeProduct(const V22RxState* r);
