// V.44 code streams bit for bit: ordinals, codewords, STEPUP, string extensions of each length class,
// FLUSH, the escape commands of transparent mode, and the move to transparent mode on data that does not
// compress.
#include <gtest/gtest.h>

#include <string>

#include "ec/v42bis_support.h"
#include "ec/v44_support.h"

namespace {

using v44_test::BitWriter;
using v44_test::Bytes;
using v44_test::Engine;

const v44_test::Sizes kDefault{2048, 8192, 140};

Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes encode(const std::string& text, v44_test::Sizes sizes = kDefault)
{
    Engine eng(sizes, V44_ENCODE);
    EXPECT_TRUE(eng.started);
    return v44_test::compress_all(&eng.e, bytes_of(text), 1000, 128, 0);
}

TEST(V44Vectors, FirstCharacterIsASevenBitOrdinalAfterPrefixZero)
{
    // 'a' = 0x61: prefix 0, seven bits; FLUSH is codeword 1 in six bits after prefix 1, then the fill.
    EXPECT_EQ(encode("a"), (Bytes{0xC2, 0x03}));
    EXPECT_EQ(encode("a"), BitWriter().ordinal('a').codeword(V44_FLUSH).bytes());
}

TEST(V44Vectors, OrdinalsDefineCodewordsFromFour)
{
    // a, b: ordinals (the second defines 4 = "ab"); "ab" again is codeword 4 (and defines 5 = "ba").
    Bytes expect = BitWriter().ordinal('a').ordinal('b').codeword(4).codeword(V44_FLUSH).bytes();
    EXPECT_EQ(encode("abab"), expect);
}

TEST(V44Vectors, CharacterAboveSevenBitsIsPrecededByStepup)
{
    // 0xE9 needs eight bits: STEPUP (codeword 2), then the ordinal in eight bits; later ordinals stay at 8.
    Bytes expect = BitWriter()
                       .codeword(V44_STEPUP)
                       .ordinal(0xE9, 8)
                       .ordinal('z', 8)
                       .codeword(V44_FLUSH)
                       .bytes();
    EXPECT_EQ(encode("\xE9z"), expect);
}

TEST(V44Vectors, StringExtensionOfOneAfterACodeword)
{
    // a b c ordinals (4 = "ab", 5 = "bc"), then "ab" as codeword 4 (6 = "ca") and the history after
    // its string goes on with "c": extension prefix 0 then 1, length 1 as the bit 1. FLUSH follows.
    Bytes expect = BitWriter()
                       .ordinal('a')
                       .ordinal('b')
                       .ordinal('c')
                       .codeword(4)
                       .put(0, 1)
                       .put(1, 1)
                       .put(1, 1)
                       .codeword(V44_FLUSH)
                       .bytes();
    EXPECT_EQ(encode("abcabc"), expect);
}

TEST(V44Vectors, StringExtensionLengthClasses)
{
    // Fifteen distinct characters twice, cut so that the extension after codeword 4 ("AB") is `length`
    // long, then a character that ends it. The length code: 1 -> "1"; 2-4 -> "0" + 2 bits (length - 1);
    // 5-12 -> "0" "00" "0" + 3 bits (length - 5); 13 and more -> "0" "00" "1" + N bits (length - 13), N 7
    // for strings of 140.
    const std::string run = "ABCDEFGHIJKLMNO";
    struct Case {
        uint32_t length;
        std::vector<std::pair<uint32_t, int>> code;
    };
    const Case cases[] = {
        {1, {{1, 1}}},
        {2, {{0, 1}, {1, 2}}},
        {4, {{0, 1}, {3, 2}}},
        {5, {{0, 1}, {0, 2}, {0, 1}, {0, 3}}},
        {12, {{0, 1}, {0, 2}, {0, 1}, {7, 3}}},
        {13, {{0, 1}, {0, 2}, {1, 1}, {0, 7}}},
    };
    for (const Case& c : cases) {
        std::string text = run + run.substr(0, 2 + c.length) + "!";
        BitWriter w;
        for (char ch : run)
            w.ordinal(static_cast<uint8_t>(ch));
        w.codeword(4).put(0, 1).put(1, 1);
        for (auto [v, bits] : c.code)
            w.put(v, bits);
        // '!' follows a string extension, not a codeword: a one-bit prefix. Codewords 4-18 are the pairs
        // and "OA", 19 the extended string.
        w.ordinal('!').codeword(V44_FLUSH);
        EXPECT_EQ(encode(text), w.bytes()) << "length " << c.length;
    }
}

TEST(V44Vectors, CodewordAboveTheSizeIsPrecededByStepups)
{
    // 70 distinct characters as ordinals define the pairs 4-72 (pair i, i + 1 is codeword 4 + i). The pair
    // 68, 69 again is codeword 72, above 63: STEPUP in six bits first, then the codeword in seven bits.
    std::string text;
    for (int i = 0; i < 70; ++i)
        text += static_cast<char>('0' + i);
    text += text.substr(68, 2);
    BitWriter w;
    for (int i = 0; i < 70; ++i)
        w.ordinal(static_cast<uint8_t>('0' + i));
    w.codeword(V44_STEPUP).codeword(4 + 68, 7).codeword(V44_FLUSH, 7);
    EXPECT_EQ(encode(text), w.bytes());
}

struct EscapeCase {
    const char* name;
    Bytes transparent;  // octets after ETM
    Bytes output;
};

TEST(V44Vectors, TransparentModeEscapeCommands)
{
    const EscapeCase cases[] = {
        {"plain octets", {'x', 'y'}, {'x', 'y'}},
        {"escape and 0x02 change nothing", {'x', 0x00, 0x02, 'y'}, {'x', 'y'}},
        {"EID gives the escape character, which moves on by 51", {0x00, 0x01, 0x00, 0x33, 0x01}, {0x00, 0x00, 0x33}},
        {"ECM returns to compressed mode", {'q', 0x00, 0x00, 0xC2, 0x03}, {'q', 'a'}},
    };
    for (const EscapeCase& c : cases) {
        Engine eng(kDefault, V44_DECODE);
        Bytes code = BitWriter().codeword(V44_ETM).bytes();
        code.insert(code.end(), c.transparent.begin(), c.transparent.end());
        Bytes out;
        EXPECT_EQ(v44_test::decompress_all(&eng.e, code, 3, 64, &out), V44_OK) << c.name;
        EXPECT_EQ(out, c.output) << c.name;
    }
}

TEST(V44Vectors, EncoderEscapesTheEscapeCharacterInTransparentMode)
{
    // Random data sends the encoder into transparent mode; then its escape character starts at 0 and every
    // occurrence is followed by EID and moves it on by 51.
    Engine eng(kDefault, 3);
    Bytes noise = v42bis_test::make_random(6000, 5);
    Bytes code = v44_test::compress_all(&eng.e, noise, 500, 128, 0);
    ASSERT_TRUE(eng.e.enc.transparent);
    // The escape character moved on (it never moves in compressed mode), and the decoder followed it.
    EXPECT_NE(eng.e.enc.escape, 0);
    Bytes out;
    ASSERT_EQ(v44_test::decompress_all(&eng.e, code, 128, 256, &out), V44_OK);
    EXPECT_EQ(out, noise);
    EXPECT_EQ(eng.e.dec.escape, eng.e.enc.escape);
}

TEST(V44Vectors, IncompressibleDataTurnsTransparentAtTheFirstFullDictionary)
{
    Engine eng(kDefault, V44_ENCODE);
    Bytes noise = v42bis_test::make_random(20000, 9);
    Bytes frame(128);
    size_t at = 0;
    // Up to the first dictionary-full point the encoder stays compressed; the stream then runs more
    // than 128 octets ahead of the characters and the mode test sends ETM.
    while (eng.e.enc.next_code < eng.e.tx.n2 && at < noise.size()) {
        size_t made = 0;
        at += v44_compress(&eng.e, noise.data() + at, 1, frame.data(), frame.size(), &made);
        ASSERT_FALSE(eng.e.enc.transparent) << at;
    }
    size_t made = 0;
    at += v44_compress(&eng.e, noise.data() + at, 200, frame.data(), frame.size(), &made);
    EXPECT_TRUE(eng.e.enc.transparent);
    EXPECT_LT(at, 2600u);  // about one codeword per character of random data
    // Text afterwards brings it back to compressed mode at a later full dictionary.
    Bytes text = v42bis_test::make_text(40000, 3);
    v44_test::compress_all(&eng.e, text, 500, 128, 0);
    EXPECT_FALSE(eng.e.enc.transparent);
}

} // namespace
