// The frame bit-field writer and readers against a plain vector of bits, and the cases where a field crosses
// a 16-bit or a 32-bit word boundary.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "layer1/modem/v34/bit_field.h"

namespace {

constexpr int kWords = 8;

// The same stream as one bool per position.
struct BitModel {
    std::vector<bool> bits = std::vector<bool>(kWords * 32, false);
    void Put(uint32_t p, uint32_t w, uint32_t v)
    {
        for (uint32_t i = 0; i < w; ++i)
            bits[p + i] = ((v >> i) & 1u) != 0;
    }
    uint32_t Get(uint32_t p, uint32_t w) const
    {
        uint32_t v = 0;
        for (uint32_t i = 0; i < w; ++i)
            v |= static_cast<uint32_t>(bits[p + i]) << i;
        return v;
    }
};

std::vector<uint16_t> As16(const uint32_t* words)
{
    std::vector<uint16_t> h(kWords * 2 + 1, 0);
    std::memcpy(h.data(), words, kWords * 4);
    return h;
}

TEST(V34BitField, FollowsTheBitModel)
{
    std::mt19937 rng(21);
    uint32_t words[kWords + 1] = {};
    BitModel model;
    // Start from random contents: the writer must keep every bit outside its field.
    for (int i = 0; i < kWords; ++i) {
        words[i] = rng();
        for (uint32_t b = 0; b < 32; ++b)
            model.bits[i * 32 + b] = ((words[i] >> b) & 1u) != 0;
    }
    for (int i = 0; i < 20000; ++i) {
        const uint32_t w = rng() % 32;  // 0-31
        const uint32_t p = rng() % (kWords * 32 - 32);
        const uint32_t v = rng();
        ASSERT_EQ(PutBits(words, p, w, v), p + w);
        model.Put(p, w, v);
        for (int k = 0; k < kWords; ++k)
            ASSERT_EQ(words[k], model.Get(k * 32, 32)) << "write " << p << " " << w;
        const uint32_t rp = rng() % (kWords * 32 - 32);
        const uint32_t rw32 = 1 + rng() % 31;
        ASSERT_EQ(GetBits32(words, static_cast<int32_t>(rp), rw32), model.Get(rp, rw32)) << rp << " " << rw32;
        const uint32_t rw16 = 1 + rng() % 16;
        const std::vector<uint16_t> h = As16(words);
        ASSERT_EQ(GetBits16(h.data(), static_cast<uint16_t>(rp), rw16), model.Get(rp, rw16)) << rp << " " << rw16;
    }
    EXPECT_EQ(words[kWords], 0u);  // nothing written past the fields
}

TEST(V34BitField, BoundaryCases)
{
    uint32_t words[4] = {};
    uint32_t p = PutBits(words, 0, 12, 0x4EF);
    p = PutBits(words, p, 8, 0xA5);
    p = PutBits(words, p, 16, 0xBEEF);
    EXPECT_EQ(PutBits(words, p, 4, 0xF), 40u);
    EXPECT_EQ(words[0] & 0xFFF, 0x4EFu);
    EXPECT_EQ(PutBits(words, 7, 0, 0xFFFF), 7u);  // width 0 writes nothing

    // A 16-bit field at 24: 8 bits at the top of word 0, 8 at the bottom of word 1.
    uint32_t w2[3] = {0x00FFFFFF, 0xFFFFFF00, 0};
    PutBits(w2, 24, 16, 0x1234);
    EXPECT_EQ(w2[0], 0x34FFFFFFu);
    EXPECT_EQ(w2[1], 0xFFFFFF12u);
    EXPECT_EQ(GetBits32(w2, 24, 16), 0x1234u);
    uint16_t h[6];
    std::memcpy(h, w2, sizeof(h));
    EXPECT_EQ(GetBits16(h, 24, 16), 0x1234u);

    // Width 5 crossing a 32-bit word boundary (29, 30) and a 16-bit one (13, 47).
    for (uint32_t pos : {29u, 13u, 30u, 47u}) {
        uint32_t w3[3] = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
        PutBits(w3, pos, 5, 0x0A);
        EXPECT_EQ(GetBits32(w3, static_cast<int32_t>(pos), 5), 0x0Au) << pos;
        uint16_t h3[6];
        std::memcpy(h3, w3, sizeof(h3));
        EXPECT_EQ(GetBits16(h3, static_cast<uint16_t>(pos), 5), 0x0Au) << pos;
        EXPECT_EQ(GetBits32(w3, static_cast<int32_t>(pos - 1), 1), 1u) << pos;  // neighbours kept
        EXPECT_EQ(GetBits32(w3, static_cast<int32_t>(pos + 5), 1), 1u) << pos;
    }
    const uint32_t whole[2] = {0xDEADBEEF, 0x12345678};
    EXPECT_EQ(GetBits32(whole, 0, 32), 0xDEADBEEFu);
    EXPECT_EQ(GetBits32(whole, 32, 32), 0x12345678u);
}

}  // namespace
