// MP frames against references built here bit by bit: the line layout of types 0 and 1 with the frame sync,
// start and fill bits, and the CRC over the packed fields (6 or 18 bytes).
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "layer1/modem/v34/mp_frame.h"

namespace {

struct Bits {
    std::vector<int> v;
    void Add(uint32_t value, int width)
    {
        for (int i = 0; i < width; ++i)
            v.push_back(static_cast<int>((value >> i) & 1u));
    }
};

uint16_t CrcOf(const std::vector<int>& bits)
{
    uint16_t crc = 0xFFFF;
    for (int b : bits) {
        const int fb = (crc ^ b) & 1;
        crc = static_cast<uint16_t>((crc >> 1) ^ (fb ? 0x8408 : 0));
    }
    return crc;
}

MpFrame Sample(int type)
{
    MpFrame f{};
    f.type = static_cast<uint8_t>(type);
    f.maxCallToAnswer = 14;
    f.maxAnswerToCall = 9;
    f.auxiliary = 0;
    f.trellis = 2;
    f.nonlinear = 1;
    f.shaping = 1;
    f.acknowledge = 1;
    f.rateMask = 0x5A3C;
    f.asymmetric = 1;
    const int16_t c[6] = {0x1234, -2, 0x7FFF, -32768, 5, -300};
    for (int i = 0; i < 6; ++i)
        f.coefficients[i] = c[i];
    return f;
}

// The fields without start bits: type, a reserved 0, the rates, auxiliary, trellis, nonlinear, shaping,
// acknowledge, the mask, asymmetric, (coefficients), 16 zeros.
std::vector<int> Fields(const MpFrame& f)
{
    Bits b;
    b.Add(f.type, 1);
    b.Add(0, 1);
    b.Add(f.maxCallToAnswer, 4);
    b.Add(f.maxAnswerToCall, 4);
    b.Add(f.auxiliary, 1);
    b.Add(f.trellis, 2);
    b.Add(f.nonlinear, 1);
    b.Add(f.shaping, 1);
    b.Add(f.acknowledge, 1);
    b.Add(f.rateMask, 15);
    b.Add(f.asymmetric, 1);
    if (f.type == 1)
        for (int16_t c : f.coefficients)
            b.Add(static_cast<uint16_t>(c), 16);
    b.Add(0, 16);
    return b.v;
}

std::vector<int> Line(const MpFrame& f, uint16_t crc)
{
    Bits b;
    b.Add(0x1FFFF, 17);
    b.Add(0, 1);
    const std::vector<int> fields = Fields(f);
    for (int i = 0; i < 16; ++i)
        b.v.push_back(fields[i]);
    b.Add(0, 1);
    for (int i = 16; i < 32; ++i)
        b.v.push_back(fields[i]);
    b.Add(0, 1);
    if (f.type == 1) {
        for (int k = 0; k < 6; ++k) {
            for (int i = 0; i < 16; ++i)
                b.v.push_back(fields[32 + 16 * k + i]);
            b.Add(0, 1);
        }
    }
    b.Add(0, 17);
    b.Add(crc, 16);
    b.Add(0, 1);
    if (f.type == 0)
        b.Add(0, 2);
    return b.v;
}

TEST(V34MpFrame, BothTypesMatchTheHandBuiltLayout)
{
    for (int type = 0; type < 2; ++type) {
        const MpFrame f = Sample(type);
        MpPacked packed{};
        BuildMpFrame(&f, &packed);
        const std::vector<int> fields = Fields(f);
        EXPECT_EQ(packed.length, type == 0 ? 6 : 18);
        ASSERT_EQ(static_cast<int>(fields.size()), packed.length * 8);
        for (int i = 0; i < packed.length * 8; ++i)
            EXPECT_EQ((packed.bytes[i / 8] >> (i % 8)) & 1, fields[i]) << "packed bit " << i;
        EXPECT_EQ(packed.crc, CrcOf(fields));

        uint32_t words[kMpMaxWords];
        const int n = WriteMpFrame(&f, &packed, words);
        const std::vector<int> want = Line(f, packed.crc);
        EXPECT_EQ(n, type == 0 ? kMpType0Bits : kMpType1Bits);
        ASSERT_EQ(static_cast<int>(want.size()), n);
        for (int i = 0; i < n; ++i)
            EXPECT_EQ(static_cast<int>((words[i / 32] >> (i % 32)) & 1u), want[i]) << "type " << type << " bit " << i;
        for (int i = n; i < kMpMaxWords * 32; ++i)
            EXPECT_EQ((words[i / 32] >> (i % 32)) & 1u, 0u);
    }
}

TEST(V34MpFrame, TheCrcCoversExactlyThePackedBytes)
{
    // The CRC changes with every field bit and not with the coefficients of a type-0 frame.
    MpFrame f = Sample(0);
    MpPacked a{}, b{};
    BuildMpFrame(&f, &a);
    f.coefficients[0] ^= 1;
    BuildMpFrame(&f, &b);
    EXPECT_EQ(a.crc, b.crc);
    f.rateMask ^= 0x4000;
    BuildMpFrame(&f, &b);
    EXPECT_NE(a.crc, b.crc);
    MpFrame g = Sample(1);
    MpPacked c{}, d{};
    BuildMpFrame(&g, &c);
    g.coefficients[5] ^= 0x100;
    BuildMpFrame(&g, &d);
    EXPECT_NE(c.crc, d.crc);
}

}  // namespace
