// The channel records of the low-speed FSK modems (V.21 channels 1 and 2, Bell 103 originate and answer, V.23
// forward at 600 and 1200 bit/s and backward at 75 bit/s): frequencies and bit timing at 9600 samples per
// second, and the 64-tap filters of each channel.
//
// Phase steps are 16-bit phase per sample at 9600 Hz (65536 / 9600 per Hz). The transmitter sends the bit-1
// step (carrier + deviation) when the bit equals the polarity value of the modulation, else the bit-0 step, and
// the receiver decides the polarity value for a signal above the carrier: polarity 0 puts mark (1) on the lower
// frequency (V.21, V.23), polarity 1 on the upper one (Bell 103).
#pragma once

#include <cstdint>

constexpr int kFskTaps = 64;

enum FskChannelId : int32_t {
    FSK_V21_CH1 = 0,
    FSK_V21_CH2,
    FSK_BELL103_ORIGINATE,
    FSK_BELL103_ANSWER,
    FSK_V23_BACKWARD,
    FSK_V23_600,
    FSK_V23_1200,
    FSK_CHANNEL_COUNT,
};

struct FskTxChannel {
    int16_t step0;             // phase step for bit 0
    int16_t step1;             // phase step for bit 1
    int16_t samplesPerBit;
    uint16_t carrierStep;
    const int16_t* taps;       // 64 shaping-filter taps, Q15
};

// The 64 taps of a channel filter over a complex history (newest first) kept as its real and imaginary
// parts, each rounded by 15 bits, halves to even. The taps of every channel sum in magnitude to less than
// 65536 (FskTapsFitSums holds for the tables), so with history values within +-32767 both sums are exact in
// 32 bits and the loop runs on packed 16-bit multiply-adds.
inline int32_t FskRound15(int32_t sum)
{
    const int64_t r = sum;
    return static_cast<int32_t>((r + 0x3FFF + ((r >> 15) & 1)) >> 15);
}

inline void FskFilter(const int16_t* taps, const int16_t* re, const int16_t* im, int32_t* outRe, int32_t* outIm)
{
    int32_t sumRe = 0;
    int32_t sumIm = 0;
    for (int k = 0; k < kFskTaps; ++k) {
        sumRe += taps[k] * re[k];
        sumIm += taps[k] * im[k];
    }
    *outRe = FskRound15(sumRe);
    *outIm = FskRound15(sumIm);
}

// The working history of a 64-tap filter over a run of up to kFskChunk samples: one linear buffer per part,
// newest sample first, so each output is one contiguous dot product. Sample j of the run sits at
// kFskChunk - 1 - j; the 63 samples before the run follow at kFskChunk. The modems keep only those 63 between
// runs (FskWindowLoad, FskWindowSave), and fill and filter a whole run at a time, which keeps the dot products
// off the stores that fed them.
constexpr int kFskChunk = 128;
constexpr int kFskHistory = kFskTaps - 1;

struct FskWindow {
    int16_t re[kFskChunk + kFskHistory];
    int16_t im[kFskChunk + kFskHistory];
    int16_t* Re(int32_t j) { return &re[kFskChunk - 1 - j]; }
    int16_t* Im(int32_t j) { return &im[kFskChunk - 1 - j]; }
};

inline void FskWindowLoad(FskWindow* w, const int16_t* historyRe, const int16_t* historyIm)
{
    for (int k = 0; k < kFskHistory; ++k) {
        w->re[kFskChunk + k] = historyRe[k];
        w->im[kFskChunk + k] = historyIm[k];
    }
}

// Keeps the 63 newest samples after a run of count samples.
inline void FskWindowSave(const FskWindow* w, int32_t count, int16_t* historyRe, int16_t* historyIm)
{
    for (int k = 0; k < kFskHistory; ++k) {
        historyRe[k] = w->re[kFskChunk - count + k];
        historyIm[k] = w->im[kFskChunk - count + k];
    }
}

// Whether 64 taps keep every sum over values within +-32767 inside 32 bits.
bool FskTapsFitSums(const int16_t* taps);

struct FskRxChannel;
// Computes the low-pass output of a decimating channel: the 64 taps over the newest 64 mixed samples
// (real and imaginary parts, newest first), once per output sample.
typedef void (*FskDecimator)(const FskRxChannel* channel, const int16_t* re, const int16_t* im, int32_t* i,
                             int32_t* q);

struct FskRxChannel {
    int16_t samplesPerBit;     // at the decimated rate
    int16_t decimation;
    uint16_t carrierStep;
    const int16_t* taps;       // 64 low-pass taps, Q15
    FskDecimator decimate;     // null for decimation 1
    int32_t decimateParameter; // the decimation factor the routine serves
};

const FskTxChannel* FskTxChannelOf(int32_t id);
const FskRxChannel* FskRxChannelOf(int32_t id);

// Polarity of a modulation: 1 for Bell 103, 0 for the others.
int32_t FskPolarityOf(int32_t id);

// The filter rule: a sinc of 64 taps with its 6 dB point at cutoffHz, windowed by a Kaiser window of the given
// beta and scaled to the given DC gain (sum of the taps) in Q15.
void FskDesignLowPass(int16_t* taps, double cutoffHz, double beta, int32_t dcSum);
