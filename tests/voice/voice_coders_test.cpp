// The voice codings against their printed vectors and against an independent G.711 and IMA/DVI ADPCM codec.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "layer1/modem/voice/voice_coders.h"

#ifdef HAVE_SPANDSP
extern "C" {
#include <spandsp.h>
}
#endif

namespace {

AdpcmCoderState Fresh()
{
    AdpcmCoderState s;
    ResetCoderState(&s);
    return s;
}

// Speech-like test input: a few drifting tones under a syllable envelope, with noise.
std::vector<int16_t> SpeechLike(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 300.0);
    std::vector<int16_t> x(n);
    const double pi = 3.14159265358979323846;
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / 8000.0;
        const double envelope = 0.5 + 0.5 * std::sin(2 * pi * 3.0 * t);
        double v = envelope * (9000 * std::sin(2 * pi * (180 + 40 * std::sin(2 * pi * t)) * t) +
                               5000 * std::sin(2 * pi * 720 * t) + 2500 * std::sin(2 * pi * 2300 * t)) +
                   noise(rng);
        if (i % 4000 < 40)
            v = (i % 2) ? 32767 : -32768;  // clipped bursts drive the step size to its ends
        x[i] = static_cast<int16_t>(std::lround(std::fmax(-32768.0, std::fmin(32767.0, v))));
    }
    return x;
}

TEST(VoiceCoders, PrintedVectors)
{
    struct Case {
        int format;
        int16_t sample;
        uint16_t code;
        int16_t decoded;
    };
    const Case cases[] = {
        {0, 0, 0xD5, 8},           {0, 1000, 0xFA, 1008},     {0, -1000, 0x7A, -1008},
        {0, 32767, 0xAA, 32256},   {0, -32767, 0x2A, -32256}, {0, -32768, 0x2A, -32256},
        {3, 1000, 0xFA, 1008},     {2, -32768, 0, -32768},    {2, 0, 128, 0},
        {2, 32767, 255, 32512},    {1, 0x1234, 0x34, 0x34},   {7, -1, 0xFF, 255},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        SCOPED_TRACE(c.sample);
        const VoiceCoder coder = SelectVoiceCodec(c.format);
        AdpcmCoderState s = Fresh();
        EXPECT_EQ(coder.encode(&s, c.sample), c.code);
        EXPECT_EQ(coder.decode(&s, c.code), c.decoded);
    }
}

TEST(VoiceCoders, OffsetBinaryEndsAndIdentityPlaysTheByteValue)
{
    AdpcmCoderState s = Fresh();
    EXPECT_EQ(OffsetBinaryDecode(&s, 0), -32768);
    EXPECT_EQ(OffsetBinaryDecode(&s, 255), 32512);
    for (int b = 0; b < 256; ++b) {
        EXPECT_EQ(IdentityCoder(&s, static_cast<uint16_t>(b)), b);
        EXPECT_EQ(OffsetBinaryEncode(&s, OffsetBinaryDecode(&s, static_cast<uint16_t>(b))), b);
    }
}

TEST(VoiceCoders, AdpcmFromResetOnThreeSamplesOf1000)
{
    struct Expect {
        uint16_t code;
        int16_t predictor;
        uint16_t step;
        uint8_t index;
    };
    struct Case {
        uint16_t (*encode)(AdpcmCoderState*, int16_t);
        Expect e[3];
    };
    const Case cases[] = {
        {Adpcm3Encode, {{3, 11, 14, 7}, {3, 35, 28, 14}, {3, 84, 55, 21}}},
        {Adpcm4Encode, {{7, 11, 16, 8}, {7, 41, 34, 16}, {7, 104, 73, 24}}},
    };
    for (const Case& c : cases) {
        AdpcmCoderState s = Fresh();
        for (const Expect& e : c.e) {
            EXPECT_EQ(c.encode(&s, 1000), e.code);
            EXPECT_EQ(s.predictor, e.predictor);
            EXPECT_EQ(s.stepSize, e.step);
            EXPECT_EQ(s.stepIndex, e.index);
        }
    }
}

// An encoder and a decoder that start from reset stay in step: the decoder rebuilds exactly the encoder's
// prediction, and the reconstruction follows the signal.
TEST(VoiceCoders, AdpcmDecoderTracksTheEncoder)
{
    struct Case {
        uint16_t (*encode)(AdpcmCoderState*, int16_t);
        int16_t (*decode)(AdpcmCoderState*, uint16_t);
        uint16_t maxCode;
        double minSnrDb;
    };
    const Case cases[] = {{Adpcm3Encode, Adpcm3Decode, 7, 8.0}, {Adpcm4Encode, Adpcm4Decode, 15, 14.0}};
    const std::vector<int16_t> x = SpeechLike(16000, 3);
    for (const Case& c : cases) {
        AdpcmCoderState enc = Fresh();
        AdpcmCoderState dec = Fresh();
        double signal = 0.0;
        double error = 0.0;
        for (size_t i = 0; i < x.size(); ++i) {
            const uint16_t code = c.encode(&enc, x[i]);
            ASSERT_LE(code, c.maxCode);
            const int16_t y = c.decode(&dec, code);
            ASSERT_EQ(y, enc.predictor);
            ASSERT_EQ(dec.stepIndex, enc.stepIndex);
            if (i >= 800) {
                signal += static_cast<double>(x[i]) * x[i];
                error += (static_cast<double>(x[i]) - y) * (static_cast<double>(x[i]) - y);
            }
        }
        EXPECT_GT(10.0 * std::log10(signal / error), c.minSnrDb);
    }
}

// Bits above the code width are outside the format: they are ignored, so such a byte plays as its low bits.
TEST(VoiceCoders, AdpcmBytesAboveTheCodeWidthActAsTheirLowBits)
{
    for (uint16_t code = 0; code < 256; ++code) {
        AdpcmCoderState a = Fresh();
        AdpcmCoderState b = Fresh();
        EXPECT_EQ(Adpcm4Decode(&a, code), Adpcm4Decode(&b, code & 0x0F));
        AdpcmCoderState c = Fresh();
        AdpcmCoderState d = Fresh();
        EXPECT_EQ(Adpcm3Decode(&c, code), Adpcm3Decode(&d, code & 0x07));
        EXPECT_LE(c.stepIndex, 88);
    }
    // A long run of the largest code drives the step index to 88 and no further; the predictor saturates.
    AdpcmCoderState s = Fresh();
    for (int i = 0; i < 200; ++i)
        Adpcm4Decode(&s, 7);
    EXPECT_EQ(s.stepIndex, 88);
    EXPECT_EQ(s.stepSize, 32767);
    EXPECT_EQ(s.predictor, 32767);
}

TEST(VoiceCoders, StepSizeTableEnds)
{
    EXPECT_EQ(kAdpcmStepSize[0], 7);
    EXPECT_EQ(kAdpcmStepSize[1], 8);
    EXPECT_EQ(kAdpcmStepSize[2], 9);
    EXPECT_EQ(kAdpcmStepSize[87], 29794);
    EXPECT_EQ(kAdpcmStepSize[88], 32767);
    for (int i = 1; i < kAdpcmSteps; ++i) {
        EXPECT_GT(kAdpcmStepSize[i], kAdpcmStepSize[i - 1]);
        // About 10 % per step.
        EXPECT_NEAR(static_cast<double>(kAdpcmStepSize[i]) / kAdpcmStepSize[i - 1], 1.1, 0.05) << i;
    }
}

#ifdef HAVE_SPANDSP
// Every A-law code decodes to the independent codec's value.
TEST(VoiceCodersPeer, ALawDecodeEveryCode)
{
    AdpcmCoderState s = Fresh();
    for (int v = 0; v < 256; ++v)
        EXPECT_EQ(ALawDecode(&s, static_cast<uint16_t>(v)), alaw_to_linear(static_cast<uint8_t>(v))) << v;
}

// Every 16-bit sample encodes to the independent codec's code, except a negative sample that lies exactly
// on a decision value: the sign-and-magnitude quantiser puts it in the interval above in magnitude (as the
// positive sample of the same magnitude), the peer's ones'-complement quantiser in the interval below. Both
// are G.711 intervals; only the side of the decision value differs, so the peer codes x - 1 as we code x.
TEST(VoiceCodersPeer, ALawEncodeEverySample)
{
    AdpcmCoderState s = Fresh();
    int boundaries = 0;
    for (int x = -32768; x <= 32767; ++x) {
        const uint16_t ours = ALawEncode(&s, static_cast<int16_t>(x));
        const uint8_t peer = linear_to_alaw(x);
        if (ours == peer)
            continue;
        ASSERT_LT(x, 0) << x;
        ASSERT_EQ(ours, linear_to_alaw(x - 1)) << x;
        // The two codes are neighbours (one interval apart).
        ASSERT_EQ(std::abs(static_cast<int>(ours ^ 0x55) - static_cast<int>(peer ^ 0x55)), 1) << x;
        ++boundaries;
    }
    // At most one decision value per code of the negative half.
    EXPECT_LE(boundaries, 128);
    EXPECT_GT(boundaries, 0);
}

// Our 4-bit ADPCM codes equal the independent IMA/DVI4 encoder's, and the peer's decoder rebuilds our
// samples exactly. DVI4 packs two codes a byte, the first in the high nibble.
TEST(VoiceCodersPeer, Adpcm4MatchesAnIndependentDvi4Codec)
{
    const std::vector<int16_t> x = SpeechLike(24000, 11);
    ima_adpcm_state_t* enc = ima_adpcm_init(nullptr, IMA_ADPCM_DVI4, 0);
    ima_adpcm_state_t* dec = ima_adpcm_init(nullptr, IMA_ADPCM_DVI4, 0);
    ASSERT_NE(enc, nullptr);
    // A 4-byte chunk header (predictor and step index, both 0 from reset) comes first.
    constexpr size_t kHeader = 4;
    std::vector<uint8_t> packed(kHeader + x.size() / 2);
    ASSERT_EQ(ima_adpcm_encode(enc, packed.data(), x.data(), static_cast<int>(x.size())),
              static_cast<int>(packed.size()));
    EXPECT_EQ(packed[0] | packed[1] | packed[2], 0);
    std::vector<int16_t> peerOut(x.size());
    ASSERT_EQ(ima_adpcm_decode(dec, peerOut.data(), packed.data(), static_cast<int>(packed.size())),
              static_cast<int>(x.size()));
    AdpcmCoderState ours = Fresh();
    AdpcmCoderState ourDec = Fresh();
    for (size_t i = 0; i < x.size(); ++i) {
        const uint16_t code = Adpcm4Encode(&ours, x[i]);
        const uint8_t byte = packed[kHeader + i / 2];
        const uint8_t peerCode = (i % 2 == 0) ? (byte >> 4) : (byte & 0x0F);
        ASSERT_EQ(code, peerCode) << i;
        ASSERT_EQ(Adpcm4Decode(&ourDec, peerCode), peerOut[i]) << i;
    }
    ima_adpcm_free(enc);
    ima_adpcm_free(dec);
}
#endif

}  // namespace
