// The fax modulations: V.27ter (2400, 4800 bit/s), V.29 (4800, 7200, 9600 bit/s) and V.17 (7200 to 14400
// bit/s, long or short training), their internal code, per-modulation constants, signal points and the
// receive/transmit shaping filter. The pump runs at 9600 samples per second.
#pragma once

#include <cstdint>

#include "layer1/vek/core/vek_types.h"

enum FaxModulation : int32_t {
    FAX_V27TER = 0,
    FAX_V29 = 1,
    FAX_V17 = 2,
};

// The internal code: modulation in bits 4-7, bit 3 short training (V.17), the rate index in the low bits.
constexpr int32_t kFaxShortTrainBit = 0x08;
inline int32_t FaxModulationOf(int32_t code) { return (code >> 4) & 0x0F; }
inline int32_t FaxRateIndexOf(int32_t code) { return code & 0x07; }

// The code of a start request (modulation and rate nibbles of the start command); -1 when the modulation
// nibble names no fax modulation of this pump.
int32_t FaxCodeOf(int32_t modulationNibble, int32_t rateNibble);

constexpr int32_t kFaxSampleRate = 9600;
constexpr int32_t kFaxBlockSamples = 96;
constexpr int32_t kFaxMaxSamplesPerSymbol = 8;

struct FaxModemParams {
    int32_t modulation;        // FaxModulation
    int32_t bitsPerSymbol;     // data bits
    int32_t samplesPerSymbol;  // at 9600 per second
    int32_t symbolsPerBlock;   // per 96-sample block
    int32_t bitRate;
    int32_t baud;
    int32_t carrierHz;
    int32_t shortTrain;        // V.17: short training requested
};

FaxModemParams FaxParamsOf(int32_t code);

// Signal points in the pump's units (the symbol scale the modulator and the receiver's decisions share).
struct FaxPoint {
    int32_t re;
    int32_t im;
};

// One unit of the Recommendations' V.17 figures (training points A = (-6, -2) units and so on), of V.29's
// figure (amplitudes 1, 3 and 5 on the axes) and the radius of the V.27ter phase points.
constexpr int32_t kFaxV17Unit = 1024;
constexpr int32_t kFaxV29Unit = 1792;
constexpr int32_t kFaxV27Radius = 10752;

// V.17 training points A, B, C, D (each a quarter turn anticlockwise of the one before).
FaxPoint FaxV17TrainingPoint(int32_t index);
// V.29 training pair of a rate index: A and B of the alternations (C = -A and D = -B follow in the
// conditioning segment).
FaxPoint FaxV29TrainingA();
FaxPoint FaxV29TrainingB(int32_t rateIndex);
// V.29 data point of a phase (0-7, eighths of a turn) and amplitude bit; rateIndex 0 9600, 1 7200, 2 4800.
FaxPoint FaxV29Point(int32_t rateIndex, int32_t phase, int32_t amplitudeBit);
// V.27ter point of a phase in eighths of a turn.
FaxPoint FaxV27Point(int32_t phase);

// Phase changes (in eighths of a turn) of the Gray-coded groups: three bits first-in-time in bit 0 (V.29 at
// 9600 and 7200, V.27ter at 4800), two bits (V.29 at 4800, V.27ter at 2400).
int32_t FaxPhaseChange3(uint32_t bits);
int32_t FaxPhaseChange2(uint32_t bits);

// The root-raised-cosine pulse of a modulation at 9600 samples per second (roll-off 0.5 for V.27ter, 0.25 for
// V.29 and V.17), 8 symbols long: taps in Q14 of the pulse whose value at the centre is about 1. Returns the
// tap count (8 x samples per symbol); the centre lies between the two middle taps.
constexpr int32_t kFaxFilterSpan = 8;
constexpr int32_t kFaxMaxFilterTaps = kFaxFilterSpan * kFaxMaxSamplesPerSymbol;
// With eighths != 0 the pulse is moved eighths / 8 of a sample towards the older taps (the receiver's
// matched filter then samples that much earlier).
int32_t FaxShapingFilter(const FaxModemParams& params, int16_t* taps, int32_t eighths = 0);
