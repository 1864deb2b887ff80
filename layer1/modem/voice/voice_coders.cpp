// The voice codings: A-law (G.711), 8-bit offset binary, 3-bit and 4-bit ADPCM on the IMA/DVI step sizes, and
// the identity coding.
#include "layer1/modem/voice/voice_coders.h"

#include "platform/saturate.h"

const uint16_t kAdpcmStepSize[kAdpcmSteps] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
    544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
    9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767,
};

namespace {

// Index adjustment by the magnitude bits of a code (the sign bit does not matter).
constexpr int8_t kAdjust3[4] = {-1, -1, 3, 7};
constexpr int8_t kAdjust4[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

// One ADPCM coding: the code width and its adjustment table. A code's top bit is the sign; the magnitude
// bits weigh step, step/2, step/4 ... from the top down, and step >> (width - 1) is always added.
struct AdpcmForm {
    int32_t width;
    const int8_t* adjust;
};

constexpr AdpcmForm kAdpcm3{3, kAdjust3};
constexpr AdpcmForm kAdpcm4{4, kAdjust4};

// Bits above the code width are outside the format and are ignored.
int16_t AdpcmDecode(AdpcmCoderState* s, uint32_t code, const AdpcmForm& form)
{
    const uint32_t sign = 1u << (form.width - 1);
    const uint32_t magnitude = code & (sign - 1u);
    const int32_t step = s->stepSize;
    int32_t diff = step >> (form.width - 1);
    for (int32_t bit = form.width - 2; bit >= 0; --bit) {
        if (magnitude & (1u << bit))
            diff += step >> (form.width - 2 - bit);
    }
    if (code & sign)
        diff = -diff;
    s->predictor = Saturate16(static_cast<int32_t>(s->predictor) + diff);
    int32_t index = s->stepIndex + form.adjust[magnitude];
    index = index < 0 ? 0 : (index > kAdpcmSteps - 1 ? kAdpcmSteps - 1 : index);
    s->stepIndex = static_cast<uint8_t>(index);
    s->stepSize = kAdpcmStepSize[index];
    return s->predictor;
}

// The encoder updates its state with exactly the decoder's reconstruction, so both stay in step.
uint16_t AdpcmEncode(AdpcmCoderState* s, int16_t x, const AdpcmForm& form)
{
    int32_t d = static_cast<int32_t>(x) - s->predictor;
    uint32_t code = 0;
    if (d < 0) {
        code = 1u << (form.width - 1);
        d = -d;
    }
    int32_t t = s->stepSize;
    for (int32_t bit = form.width - 2; bit >= 0; --bit) {
        if (d >= t) {
            code |= 1u << bit;
            d -= t;
        }
        t >>= 1;
    }
    AdpcmDecode(s, code, form);
    return static_cast<uint16_t>(code);
}

}  // namespace

void ResetCoderState(AdpcmCoderState* state)
{
    state->predictor = 0;
    state->stepSize = kAdpcmStepSize[0];
    state->stepIndex = 0;
}

int16_t Adpcm3Decode(AdpcmCoderState* state, uint16_t code) { return AdpcmDecode(state, code, kAdpcm3); }
uint16_t Adpcm3Encode(AdpcmCoderState* state, int16_t sample) { return AdpcmEncode(state, sample, kAdpcm3); }
int16_t Adpcm4Decode(AdpcmCoderState* state, uint16_t code) { return AdpcmDecode(state, code, kAdpcm4); }
uint16_t Adpcm4Encode(AdpcmCoderState* state, int16_t sample) { return AdpcmEncode(state, sample, kAdpcm4); }

// Sign and magnitude (-32768 taken as -32767); below 256 the first segment, else the segment from the
// position of the leading one and the four bits after it; even bits inverted (XOR 0xD5 with the sign).
uint16_t ALawEncode(AdpcmCoderState*, int16_t sample)
{
    int32_t m = sample;
    uint32_t sign = 0;
    if (m < 0) {
        sign = 0x80;
        m = m == INT16_MIN ? 32767 : -m;
    }
    uint32_t code;
    if (m < 256) {
        code = static_cast<uint32_t>(m >> 4) | sign;
    } else {
        uint32_t k = 0;
        while ((m & 0x4000) == 0) {
            m <<= 1;
            ++k;
        }
        code = ((static_cast<uint32_t>(m) >> 10) & 0x0Fu) | ((7u - k) << 4) | sign;
    }
    return static_cast<uint16_t>(code ^ 0xD5u);
}

int16_t ALawDecode(AdpcmCoderState*, uint16_t code)
{
    const uint32_t v = code & 0xFFu;
    const uint32_t seg = ((v >> 4) & 7u) ^ 5u;
    const int32_t mant = static_cast<int32_t>((v & 0x0Fu) ^ 5u);
    const int32_t mag = seg == 0 ? 2 * mant + 1 : (2 * mant + 33) << (seg - 1);
    return static_cast<int16_t>((v & 0x80u) ? mag * 8 : -(mag * 8));
}

int16_t OffsetBinaryDecode(AdpcmCoderState*, uint16_t code)
{
    return static_cast<int16_t>((static_cast<int32_t>(code & 0xFFu) - 128) * 256);
}

uint16_t OffsetBinaryEncode(AdpcmCoderState*, int16_t sample)
{
    return static_cast<uint16_t>((static_cast<int32_t>(sample) + 32768) >> 8);
}

int16_t IdentityCoder(AdpcmCoderState*, uint16_t code) { return static_cast<int16_t>(code); }
uint16_t IdentityCoder(AdpcmCoderState*, int16_t sample) { return static_cast<uint16_t>(sample) & 0xFFu; }

VoiceCoder SelectVoiceCodec(int32_t format)
{
    switch (format) {
    case 0:
    case 3:
        return VoiceCoder{ALawDecode, ALawEncode};
    case 2:
        return VoiceCoder{OffsetBinaryDecode, OffsetBinaryEncode};
    case 5:
        return VoiceCoder{Adpcm3Decode, Adpcm3Encode};
    case 6:
        return VoiceCoder{Adpcm4Decode, Adpcm4Encode};
    default:
        return VoiceCoder{IdentityCoder, IdentityCoder};
    }
}
