// The voice codings: every audio sample crosses the mailboxes as one byte. Each coding is a decoder (byte to
// 16-bit sample) and an encoder (16-bit sample to byte) that take the coder state; the stateless codings
// ignore it.
//
// Format codes: 0 and 3 A-law; 2 8-bit offset binary; 5 3-bit ADPCM; 6 4-bit ADPCM (IMA/DVI); any other the
// identity coding (a byte plays as the sample value 0-255, a sample is sent as its low 8 bits).
#pragma once

#include <cstdint>

// ADPCM state, in field order. The voice state holds two: the transmit state (decoder) and the receive state
// (encoder).
struct AdpcmCoderState {
    int16_t predictor;
    uint16_t stepSize;
    uint8_t stepIndex;   // 0-88
};

typedef int16_t (*VoiceDecoder)(AdpcmCoderState* state, uint16_t code);
typedef uint16_t (*VoiceEncoder)(AdpcmCoderState* state, int16_t sample);

struct VoiceCoder {
    VoiceDecoder decode;
    VoiceEncoder encode;
};

constexpr int kAdpcmSteps = 89;
// The IMA/DVI step sizes, index 0 = 7 ... 88 = 32767; shared by both ADPCM codings.
extern const uint16_t kAdpcmStepSize[kAdpcmSteps];

// Predictor 0, step size 7, step index 0.
void ResetCoderState(AdpcmCoderState* state);
VoiceCoder SelectVoiceCodec(int32_t format);

int16_t ALawDecode(AdpcmCoderState* state, uint16_t code);
uint16_t ALawEncode(AdpcmCoderState* state, int16_t sample);
int16_t OffsetBinaryDecode(AdpcmCoderState* state, uint16_t code);
uint16_t OffsetBinaryEncode(AdpcmCoderState* state, int16_t sample);
int16_t Adpcm3Decode(AdpcmCoderState* state, uint16_t code);
uint16_t Adpcm3Encode(AdpcmCoderState* state, int16_t sample);
int16_t Adpcm4Decode(AdpcmCoderState* state, uint16_t code);
uint16_t Adpcm4Encode(AdpcmCoderState* state, int16_t sample);
// The identity coding, both directions under one name: a byte plays as its value, a sample goes as its low
// 8 bits.
int16_t IdentityCoder(AdpcmCoderState* state, uint16_t code);
uint16_t IdentityCoder(AdpcmCoderState* state, int16_t sample);
