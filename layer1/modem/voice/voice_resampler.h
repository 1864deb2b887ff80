// Rational resampling of voice blocks by L/M: zero-stuffing up-sampling by L, a low-pass FIR filter at the
// up-sampled rate and down-sampling by M, with the vector library's primitives. One record per instance;
// voice mode uses three: A brings the voice-rate block to 9600 Hz for the DTMF detector, B turns 96 line
// samples into about 110 for recording at the 11 kHz rate, C turns 110 decoded samples into 96 for playing.
#pragma once

#include <cstdint>

#include "layer1/vek/core/vek_types.h"

constexpr int kResamplerWork = 1000;   // samples per work buffer (the largest up-sampled block is 960)
constexpr int kResamplerMaxOutput = 120;

// Set-up codes: the input count followed by the output count (4896: 48 samples to 96), and two older codes
// (72, 102) that are not. Any other code sets up 96 to 80 samples (L 5, M 6) with a table of its own.
enum ResamplerCode : int32_t {
    RESAMPLE_72 = 72,
    RESAMPLE_102 = 102,
    RESAMPLE_4880 = 4880,
    RESAMPLE_4896 = 4896,
    RESAMPLE_7280 = 7280,
    RESAMPLE_7296 = 7296,
    RESAMPLE_8048 = 8048,
    RESAMPLE_8072 = 8072,
    RESAMPLE_8096 = 8096,
    RESAMPLE_9680 = 9680,
    RESAMPLE_11080 = 11080,
    RESAMPLE_11096 = 11096,
    RESAMPLE_80110 = 80110,
    RESAMPLE_96110 = 96110,
};

// In field order (the filter lives in the record instead of a separate slot of the context). Named apart
// from the line's own resampler class.
struct VoiceResampler {
    FirState* filter;                  // a real single-rate filter made at set-up, null before
    int32_t phase;                     // the down-sampler's phase, carried from block to block
    int32_t inputCount;
    int32_t outputCount;               // nominal after set-up, then what the last run produced
    int16_t upsampled[kResamplerWork];
    int16_t filtered[kResamplerWork];
    int16_t up;                        // L
    int16_t down;                      // M
    int32_t code;                      // the set-up code in force, 0 before the first
};

// The row of a set-up code: factors, counts and taps. A code not in the table gives the default row.
struct ResamplerRow {
    int32_t code;
    int16_t up;
    int16_t down;
    int32_t inputCount;
    int32_t outputCount;
    int32_t taps;
};
ResamplerRow ResamplerRowOf(int32_t code);

// The low-pass of a row: `taps` int32 taps, symmetric, summing to L x 32768 with every polyphase branch (taps
// i, i + L, ...) summing to exactly 32768, so a constant input comes out unchanged at every output phase; the
// -6 dB point at 1/(2 max(L, M)) of the up-sampled rate (a Hamming-windowed sinc). out holds row.taps entries.
void ResamplerTaps(const ResamplerRow& row, int32_t* out);

// Clears the work buffers and the phase and takes the row's factors and counts; the filter is made again
// (with a cleared delay line) only when the code differs from the one in force. Returns the library status.
int32_t SetupResampler(VoiceResampler* r, int32_t code);
// One input block of inputCount samples into destination (room for kResamplerMaxOutput); the count made is
// left in outputCount. The phase word is carried by the down-sampler only: the up-sampler always places
// the input at positions k x L, so the up-sampled stream stays evenly spaced across blocks. A library error
// leaves outputCount 0 and is returned.
int32_t RunResampler(VoiceResampler* r, const int16_t* source, int16_t* destination, int32_t* phase, int32_t sf);
void FreeResampler(VoiceResampler* r);
