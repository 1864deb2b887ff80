// INFO frames: the default INFO0 on the line bit by bit, the frame CRC's check values, a zero residue for
// every frame, and parsers that give back what the builders were given.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "layer1/modem/v34/bit_field.h"
#include "layer1/modem/v34/info_frames.h"

namespace {

Info0Fields DefaultInfo0()
{
    Info0Fields f{};
    f.support2400 = 1;
    for (uint16_t& c : f.capability)
        c = 1;
    f.constellation1664 = 1;
    return f;
}

std::string LineBits(const uint32_t* words, uint32_t n)
{
    std::string s;
    for (uint32_t i = 0; i < n; ++i)
        s += GetBits32(words, static_cast<int32_t>(i), 1) ? '1' : '0';
    return s;
}

// The body as the receiver hands it over: body bit k is line bit 12 + k.
std::vector<uint16_t> Body(const uint32_t* words, uint32_t frameBits)
{
    std::vector<uint16_t> body(kInfoBodyWords16, 0);
    const uint32_t n = frameBits - kInfoHeadBits - kInfoTailBits;
    for (uint32_t k = 0; k < n; ++k)
        body[k / 16] |= static_cast<uint16_t>(GetBits32(words, static_cast<int32_t>(kInfoHeadBits + k), 1) << (k % 16));
    return body;
}

TEST(V34InfoFrames, DefaultInfo0OnTheLine)
{
    uint32_t words[kInfoFrameWords32] = {};
    ASSERT_EQ(BuildInfo0(DefaultInfo0(), words), kInfo0Bits);
    EXPECT_EQ(LineBits(words, kInfo0Bits), "1111011100101111111110000100010001111110110011111");
    EXPECT_EQ(GetBits32(words, 29, 16), 0x9BF1u);
    uint16_t w16[4];
    std::memcpy(w16, words, sizeof(w16));
    EXPECT_EQ(w16[0], 0xF4EF);
    EXPECT_EQ(w16[1], 0x221F);
    EXPECT_EQ(w16[2], 0xF37E);
    EXPECT_EQ(w16[3], 0x0001);
}

TEST(V34InfoFrames, CrcCheckValues)
{
    struct Case {
        const char* name;
        void (*change)(Info0Fields*);
        uint16_t crc;
    };
    const Case cases[] = {
        {"default", [](Info0Fields*) {}, 0x9BF1},
        {"acknowledge", [](Info0Fields* f) { f->acknowledge = 1; }, 0x1FF9},
        {"PCM offer", [](Info0Fields* f) { f->pcmOffer = 1; }, 0xBAF3},
    };
    for (const Case& c : cases) {
        Info0Fields f = DefaultInfo0();
        c.change(&f);
        uint32_t words[kInfoFrameWords32] = {};
        BuildInfo0(f, words);
        EXPECT_EQ(GetBits32(words, 29, 16), c.crc) << c.name;
    }
    // The catalogue check value of this CRC (reflected 0x8408, preset 0xFFFF, not inverted).
    uint16_t crc = 0xFFFF;
    for (char ch : std::string("123456789"))
        crc = Crc16Bits(crc, static_cast<uint8_t>(ch), 8);
    EXPECT_EQ(crc, 0x6F91);
}

// Random fields for each frame type; each parser reads back the builder's fields and the CRC over body and
// CRC is zero.
TEST(V34InfoFrames, ParsersInvertBuildersAndResiduesAreZero)
{
    std::mt19937 rng(17);
    auto bits = [&](int w) { return static_cast<uint16_t>(rng() & ((1u << w) - 1)); };
    for (int trial = 0; trial < 300; ++trial) {
        uint32_t words[kInfoFrameWords32] = {};
        // INFO0.
        Info0Fields f0 = DefaultInfo0();
        for (uint16_t& c : f0.capability)
            c = bits(1);
        f0.maxRateDifference = bits(3);
        f0.cme = bits(1);
        f0.constellation1664 = bits(1);
        f0.pcmOffer = bits(1);
        f0.pcmOption = bits(1);
        f0.acknowledge = bits(1);
        ASSERT_EQ(BuildInfo0(f0, words), kInfo0Bits);
        EXPECT_EQ(StreamCrc(words, kInfoHeadBits, kInfo0Body), 0);
        Info0Fields p0{};
        ParseInfo0(Body(words, kInfo0Bits).data(), &p0);
        EXPECT_EQ(std::memcmp(p0.capability, f0.capability, sizeof(f0.capability)), 0);
        EXPECT_EQ(p0.maxRateDifference, f0.maxRateDifference);
        EXPECT_EQ(p0.cme, f0.cme);
        EXPECT_EQ(p0.constellation1664, f0.constellation1664);
        EXPECT_EQ(p0.clockSource, f0.pcmOffer | f0.pcmOption << 1);  // the V.34 reading of those two bits
        EXPECT_EQ(p0.acknowledge, f0.acknowledge);
        EXPECT_EQ(p0.support2400, 1);
        EXPECT_EQ(p0.rawFirstWord, Body(words, kInfo0Bits)[0]);

        // INFO1c.
        Info1cFields fc{bits(3), bits(3), bits(7), {}, bits(10)};
        for (Info1cRate& r : fc.rate)
            r = {bits(1), bits(4), bits(4)};
        std::memset(words, 0, sizeof(words));
        ASSERT_EQ(BuildInfo1cFrame(fc, words), kInfo1cBits);
        EXPECT_EQ(StreamCrc(words, kInfoHeadBits, kInfo1cBody), 0);
        EXPECT_EQ(GetBits32(words, kInfo1cBits - 4, 4), kInfoFill);
        Info1cFields pc{};
        ParseInfo1c(Body(words, kInfo1cBits).data(), &pc);
        EXPECT_EQ(std::memcmp(&pc, &fc, sizeof(fc)), 0);

        // INFO1a in both forms.
        Info1aFields fa{bits(3), bits(3), bits(7), bits(1), bits(4), bits(4), bits(3), bits(3), bits(10)};
        for (bool pcm : {false, true}) {
            std::memset(words, 0, sizeof(words));
            ASSERT_EQ(BuildInfo1aFrame(fa, pcm, words), kInfo1aBits);
            EXPECT_EQ(StreamCrc(words, kInfoHeadBits, kInfo1aBody), 0);
            Info1aFields pa{};
            ParseInfo1a(Body(words, kInfo1aBits).data(), &pa);
            Info1aFields want = fa;
            if (pcm) {
                // Bits 12-24 zero, 25-31 the code 78, 32-33 zero; the caller-to-answerer index is 6.
                EXPECT_EQ(GetBits32(words, 12, 13), 0u);
                EXPECT_EQ(GetBits32(words, 25, 7), kInfo1aPcmCode);
                EXPECT_EQ(GetBits32(words, 32, 2), 0u);
                want = Info1aFields{0, 0, 0, kInfo1aPcmCode & 1, (kInfo1aPcmCode >> 1) & 15, kInfo1aPcmCode >> 5,
                                    fa.answererRateIndex, kPcmRateIndex, fa.freqOffset};
            }
            EXPECT_EQ(std::memcmp(&pa, &want, sizeof(want)), 0) << pcm;
        }

        // The further PCM INFO1a-length frame.
        const uint32_t a = bits(7), b = bits(1), c = bits(3), d = bits(10);
        std::memset(words, 0, sizeof(words));
        ASSERT_EQ(BuildInfo1Pcm(a, b, c, d, words), kInfo1aBits);
        EXPECT_EQ(StreamCrc(words, kInfoHeadBits, kInfo1aBody), 0);
        EXPECT_EQ(GetBits32(words, 18, 7), a);
        EXPECT_EQ(GetBits32(words, 25, 7), kInfo1aPcmCode);
        EXPECT_EQ(GetBits32(words, 33, 1), b);
        Info1aFields pp{};
        ParseInfo1a(Body(words, kInfo1aBits).data(), &pp);
        EXPECT_EQ(pp.answererRateIndex, c);
        EXPECT_EQ(pp.callerRateIndex, kPcmRateIndex);
        EXPECT_EQ(pp.freqOffset, d);
    }
}

// A far end's 30-bit PCM-candidate INFO0 read with the PCM parse.
TEST(V34InfoFrames, PcmCandidateInfo0Parse)
{
    std::mt19937 rng(2);
    for (int trial = 0; trial < 100; ++trial) {
        const uint32_t info = rng() & 0x3FFFFFFFu;
        uint32_t words[kInfoFrameWords32] = {};
        uint32_t p = PutBits(words, 0, kInfoHeadBits, kInfoFillAndSync);
        p = PutBits(words, p, 30, info);
        p = PutBits(words, p, kInfoCrcBits, StreamCrc(words, kInfoHeadBits, 30));
        ASSERT_EQ(PutBits(words, p, 4, kInfoFill), kInfoHeadBits + kInfo0PcmBody + 4);
        EXPECT_EQ(StreamCrc(words, kInfoHeadBits, kInfo0PcmBody), 0);
        Info0Fields f{};
        ParseInfo0Pcm(Body(words, p + 4).data(), &f);
        for (int i = 0; i < kInfo0Capabilities; ++i)
            EXPECT_EQ(f.capability[i], (info >> i) & 1);
        EXPECT_EQ(f.maxRateDifference, (info >> 9) & 7);
        EXPECT_EQ(f.cme, (info >> 12) & 1);
        EXPECT_EQ(f.constellation1664, (info >> 13) & 1);
        EXPECT_EQ(f.pcmOption, (info >> 14) & 1);
        EXPECT_EQ(f.pcmAnswer, (info >> 15) & 1);
        EXPECT_EQ(f.acknowledge, (info >> 16) & 1);
        EXPECT_EQ(f.pcmField4, (info >> 17) & 15);
        EXPECT_EQ(f.pcmField5, (info >> 21) & 31);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(f.pcmBit[i], (info >> (26 + i)) & 1);
    }
}

}  // namespace
