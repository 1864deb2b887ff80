// The V.34 scramblers and descramblers: the polynomials' impulse responses, zeros in and out, and each
// descrambler (bit and byte form) undoing its scrambler from any starting state.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "layer1/modem/v34/v34_scrambler.h"

namespace {

// The stream 1 + x^-a + x^-23 sends for a single 1 on a clear register: bit n is the input XOR the output
// a and 23 bits earlier.
std::vector<int> Reference(int a, int n)
{
    std::vector<int> out(n, 0);
    for (int i = 0; i < n; ++i) {
        int v = i == 0 ? 1 : 0;
        if (i >= a)
            v ^= out[i - a];
        if (i >= 23)
            v ^= out[i - 23];
        out[i] = v;
    }
    return out;
}

TEST(V34Scrambler, ZerosStayZeros)
{
    for (int poly = 0; poly < 2; ++poly) {
        uint32_t reg = 0;
        for (int i = 0; i < 100; ++i)
            EXPECT_EQ(ScrambleWord(32, poly, 0, &reg), 0u);
        uint32_t bits = 0;
        EXPECT_EQ(ScrambleBits(8, poly, 0, &bits), 0u);
        EXPECT_EQ(DescrambleBits(8, poly, 0, &bits), 0u);
    }
}

TEST(V34Scrambler, AnImpulseReturnsAtTheTaps)
{
    struct Case {
        int polynomial;
        int tap;
    };
    for (const Case c : {Case{1, 18}, Case{0, 5}}) {
        const std::vector<int> want = Reference(c.tap, 96);
        EXPECT_EQ(want[c.tap], 1);
        EXPECT_EQ(want[23], 1);
        for (int i = 1; i < c.tap; ++i)
            EXPECT_EQ(want[i], 0);
        // Bit by bit, in bytes and in words: the same stream.
        uint32_t regBits = 0, regBytes = 0, regWords = 0;
        std::vector<int> bits, bytes, words;
        for (int i = 0; i < 96; ++i)
            bits.push_back(static_cast<int>(ScrambleBits(1, c.polynomial, i == 0 ? 1 : 0, &regBits)));
        for (int i = 0; i < 12; ++i) {
            const uint32_t v = ScrambleBits(8, c.polynomial, i == 0 ? 1 : 0, &regBytes);
            for (int k = 0; k < 8; ++k)
                bytes.push_back(static_cast<int>((v >> k) & 1u));
        }
        for (int i = 0; i < 3; ++i) {
            const uint32_t v = ScrambleWord(32, c.polynomial, i == 0 ? 1 : 0, &regWords);
            for (int k = 0; k < 32; ++k)
                words.push_back(static_cast<int>((v >> k) & 1u));
        }
        EXPECT_EQ(bits, want) << "polynomial " << c.polynomial;
        EXPECT_EQ(bytes, want);
        EXPECT_EQ(words, want);
        EXPECT_EQ(regWords >> 24, 0u) << "the top byte is cleared";
    }
}

TEST(V34Scrambler, WordAndBitFormsFollowTheBitSerialRule)
{
    // One bit at a time: out = in XOR the output 18 (or 5) and 23 bits back, the register (newest output in
    // bit 0) keeping 24 bits.
    auto serial = [](int count, int poly, uint32_t bits, uint32_t* reg) {
        const int a = poly != 0 ? 18 : 5;
        uint32_t r = *reg, out = 0;
        for (int i = 0; i < count; ++i) {
            const uint32_t bit = ((bits >> i) ^ (r >> (a - 1)) ^ (r >> 22)) & 1u;
            r = (r << 1) | bit;
            out |= bit << i;
        }
        *reg = r & 0xFFFFFFu;
        return out;
    };
    std::mt19937 rng(12);
    for (int poly = 0; poly < 2; ++poly) {
        for (int trial = 0; trial < 20000; ++trial) {
            const int count = static_cast<int>(rng() % 33);
            const uint32_t bits = rng();
            const uint32_t start = trial % 3 == 0 ? rng() : rng() & 0xFFFFFFu;  // stray top bits are dropped
            uint32_t want = start, word = start, small = start;
            const uint32_t expected = serial(count, poly, bits, &want);
            ASSERT_EQ(ScrambleWord(count, poly, bits, &word), expected) << poly << " " << count;
            ASSERT_EQ(word, want);
            if (count <= 8) {
                ASSERT_EQ(ScrambleBits(count, poly, bits, &small), expected & ((1u << count) - 1u));
                ASSERT_EQ(small, want);
            }
        }
    }
}

TEST(V34Scrambler, DescramblersInvertTheScramblerFromAnyState)
{
    std::mt19937 rng(7);
    for (int poly = 0; poly < 2; ++poly) {
        uint32_t tx = rng() & 0x7FFFFF;  // the receiver starts elsewhere and locks within 23 bits
        uint32_t rxBits = rng() & 0x7FFFFF;
        uint32_t rxBytes = rng();
        std::vector<uint8_t> sent, line;
        for (int i = 0; i < 400; ++i) {
            const uint8_t byte = static_cast<uint8_t>(rng());
            sent.push_back(byte);
            line.push_back(static_cast<uint8_t>(ScrambleBits(8, poly, byte, &tx)));
        }
        std::vector<uint8_t> byteForm = line;
        DescrambleByteBlock(poly, byteForm.data(), static_cast<int32_t>(byteForm.size()), &rxBytes);
        for (size_t i = 0; i < line.size(); ++i) {
            // Bit form in pieces of 3 and 5 bits: each piece's outputs stand in the top of its byte.
            const uint32_t low = DescrambleBits(3, poly, line[i] & 7u, &rxBits) >> 5;
            const uint32_t high = DescrambleBits(5, poly, line[i] >> 3, &rxBits) >> 3;
            if (i >= 3) {
                EXPECT_EQ(low | (high << 3), sent[i]) << "bit form, byte " << i;
                EXPECT_EQ(byteForm[i], sent[i]) << "byte form, byte " << i;
            }
        }
    }
}

TEST(V34Scrambler, TheTwoDirectionsDiffer)
{
    uint32_t a = 0, b = 0;
    const uint32_t x = ScrambleWord(32, 1, 1, &a);
    const uint32_t y = ScrambleWord(32, 0, 1, &b);
    EXPECT_NE(x, y);
}

}  // namespace
