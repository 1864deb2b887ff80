// The voice-mode DTMF detector: 96-sample blocks at 9600 Hz (10 ms) are brought to a common level, correlated
// with eight local oscillators at the DTMF frequencies, and decided as one digit or none per block; a digit
// is confirmed after more than 6 equal blocks (70 ms) and reported once 8 digit-free blocks (80 ms) follow
// it. All arithmetic is 16/32-bit fixed point. The detector only returns what it found; the caller posts it.
#pragma once

#include <cstdint>

constexpr int kDtmfFilters = 8;
constexpr int32_t kDtmfNoDigit = 16;   // digit codes: 0-9, 10-13 the keys A-D, 14 star, 15 hash
constexpr int kDtmfSineEntries = 160;  // one cycle of 128 entries and a further quarter
constexpr int kInvSqrtEntries = 49;

// One local oscillator, in field order.
struct DtmfFilter {
    int16_t frequency;   // Hz; 0 = inactive
    int16_t increment;   // phase step per sample, 65536 = one cycle
    int16_t amplitude;
    uint16_t phase;      // wraps
    int16_t sampleRate;
};

struct DtmfDetector {
    DtmfFilter filter[kDtmfFilters];   // 697, 770, 852, 941 Hz, then 1209, 1336, 1477, 1633 Hz
    int16_t sumSine[kDtmfFilters];
    int16_t sumCosine[kDtmfFilters];
    int16_t power[kDtmfFilters];
    int16_t filterCount;               // 8 once set up
    int16_t energy;                    // of the last normalised block
    int16_t gain;                      // the level normaliser's gain, kept from block to block
    // Digit confirmation.
    int16_t inProgress;
    int32_t confirmed;                 // kDtmfNoDigit: none
    int32_t candidate;
    int16_t run;
    int16_t miss;
};

// Entry k = 32700 sin(2 pi k / 128), truncated toward zero; entry k + 32 is the cosine of entry k.
extern const int16_t* const kDtmfSineTable;
// Entry i = 32768 / sqrt(1 + i / 16), rounded, entry 0 = 32767.
extern const int16_t* const kInvSqrtTable;

// Sets the eight oscillators up for the sample rate. The first set-up also clears the confirmation state and
// the gain; later ones keep them (they run on from one voice start to the next).
void InitDtmfDetector(DtmfDetector* detector, int32_t rate);
// One block: level normaliser, correlation, decision and confirmation. Returns the character to report ('0'-
// '9', 'A'-'F'; star is 'E', hash 'F') or 0. A detector that was never set up reports nothing.
uint8_t VoiceDtmfBlock(DtmfDetector* detector, const int16_t* samples, int32_t n);

// The stages, for tests.
int32_t CountSignBits(int32_t v);
int32_t InverseSqrt(int32_t v);
void SineCosine(uint16_t phase, int16_t* sine, int16_t* cosine);
void DtmfLevelNormaliser(int16_t* gain, const int16_t* x, int16_t* y, int32_t n);
void DtmfCorrelate(DtmfDetector* detector, const int16_t* y, int32_t n);
int32_t DtmfDecide(const DtmfDetector* detector);
// Returns the digit code to report, or kDtmfNoDigit.
int32_t DtmfConfirmDigit(DtmfDetector* detector, int32_t code);
