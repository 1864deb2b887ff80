// The phase-2 transmitter: every sample this modem sends in phase 2. Silence, the carrier (1200 Hz from the
// caller, 2400 Hz from the answerer), the carrier with a 180-degree reversal at every bit boundary, INFO
// frames as 600 bit/s DPSK (a 1 reverses the carrier), and the line-probing signals L1 and L2 (one 150 Hz
// period of a tone comb, repeated). The answerer may add a second tone at 1800 Hz to the carrier modes.
//
// One call makes one 9600 Hz sample; a bit lasts 16 samples. The DPSK symbols pass an 8-symbol shaping filter
// with one row of taps per sample of the bit before they modulate the carrier.
#pragma once

#include <cstdint>

constexpr int kTxSamplesPerBit = 16;
constexpr int kTxShapingTaps = 8;
constexpr int kProbePeriod = 64;        // samples of one 150 Hz period at 9600 Hz
constexpr int kTxFrameWords16 = 8;      // the longest frame (INFO1c, 109 bits) in 16-bit words

enum Phase2TxMode : int32_t {
    kTxModeSilence = 0,
    kTxModeCarrier = 1,
    kTxModeReversals = 2,   // a reversal at every bit boundary
    kTxModeProbe = 3,       // L1 or L2
    kTxModeFrameOnce = 4,   // the frame once, then the carrier (done flag set once)
    kTxModeFrameRepeat = 5, // the frame back to back
};

struct Phase2Transmitter {
    int32_t mode;
    int32_t done;                         // the frame of mode 4 has gone out
    int32_t frameLength;                  // bits
    int32_t bitIndex;
    int32_t sampleInBit;                  // 0-15
    uint16_t carrierPhase;                // 65536 = one turn
    uint16_t carrierStep;                 // 8192 (1200 Hz) or 16384 (2400 Hz)
    int16_t symbol;                       // +-A: the DPSK symbol value
    uint16_t frame[kTxFrameWords16];      // bit n in bit n mod 16 of word n / 16
    uint16_t secondTonePhase;
    int16_t secondToneAmplitude;          // 0: off
    int16_t probeAmplitude;
    int32_t probeIndex;                   // 0-63
    int16_t delay[kTxShapingTaps];        // the last 8 symbol values
    int32_t writeIndex;
    int32_t row;                          // shaping row: the sample within the bit
};

// Row r of the shaping filter is used at sample r of the bit; tap 0 weighs the oldest of 8 symbols.
extern const int16_t kShapingTable[kTxSamplesPerBit][kTxShapingTaps];
// One period (150 Hz) of the line-probing signal: 21 cosines of equal amplitude at k x 150 Hz, k = 1-25
// except 6, 8, 12 and 16 (no tones at 900, 1200, 1800 and 2400 Hz), some of them inverted; the sum is scaled
// so that its deepest trough is -32767 (6410.8 per tone) and rounded.
extern const int16_t kProbeWaveform[kProbePeriod];

// answerer = 0: the caller's 1200 Hz carrier; 1: the answerer's 2400 Hz. Silence, delay line cleared.
void InitPhase2Transmitter(Phase2Transmitter* t, int32_t answerer);
int16_t Phase2TransmitSample(Phase2Transmitter* t);

void TxSilence(Phase2Transmitter* t);
void TxCarrier(Phase2Transmitter* t);
void TxReversals(Phase2Transmitter* t);
void TxReversal(Phase2Transmitter* t);          // one 180-degree step of the carrier
void TxProbeL1(Phase2Transmitter* t);
void TxProbeL2(Phase2Transmitter* t);           // half L1's amplitude, continuing L1's period
// Sends a frame of `length` bits (at most 128) once (mode 4); words as the frame builders write them.
void TxFrame(Phase2Transmitter* t, const uint32_t* words, int32_t length);
// New bits for the frame that is running (its length and position stay).
void TxRewriteFrame(Phase2Transmitter* t, const uint32_t* words, int32_t length);
void TxSetMode(Phase2Transmitter* t, int32_t mode);
// The done flag, cleared by the call.
int32_t TxTakeDone(Phase2Transmitter* t);
void SetSecondTone(Phase2Transmitter* t, int16_t amplitude);
