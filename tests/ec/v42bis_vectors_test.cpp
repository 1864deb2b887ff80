// Vectors worked by hand: set-up limits, the escape character, string lengths, the refusal of the string
// just added, dictionary reuse, and the decoder's errors.
#include <gtest/gtest.h>

#include "ec/v42bis_support.h"

namespace {

using namespace v42bis_test;

// Packs codewords least significant bit first, `sizes[i]` bits each, and fills the last octet with zeros.
Bytes pack(std::initializer_list<std::pair<uint16_t, uint8_t>> codes)
{
    Bytes out;
    uint32_t acc = 0;
    int bits = 0;
    for (auto [code, size] : codes) {
        acc |= static_cast<uint32_t>(code) << bits;
        bits += size;
        while (bits >= 8) {
            out.push_back(static_cast<uint8_t>(acc));
            acc >>= 8;
            bits -= 8;
        }
    }
    if (bits > 0)
        out.push_back(static_cast<uint8_t>(acc));
    return out;
}

Bytes cat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Escape character 0 and ECM: the decoder leaves transparent mode (its mode at start).
const Bytes kEnterCompressed = {0x00, 0x00};

TEST(V42bisSetup, DictionaryLimitsFollowTheDirections)
{
    struct Row {
        uint8_t p0;
        uint16_t n2;
        uint8_t n7;
        int accepted;
        uint8_t max_bits;
    };
    const Row rows[] = {{3, 2048, 32, 1, 11}, {3, 4096, 32, 0, 0},  {1, 4096, 32, 1, 12}, {2, 4096, 6, 1, 12},
                        {3, 512, 6, 1, 9},    {3, 1024, 250, 1, 10}, {3, 1500, 32, 1, 11}, {3, 511, 32, 0, 0},
                        {3, 2048, 5, 0, 0},   {3, 2048, 251, 0, 0},  {0, 2048, 32, 1, 0}};
    static V42bisContext ctx;
    for (const Row& r : rows) {
        SCOPED_TRACE("P0 " + std::to_string(r.p0) + " N2 " + std::to_string(r.n2) + " N7 " + std::to_string(r.n7));
        ASSERT_EQ(v42b_init(&ctx, 3, 1024, 32), 1);
        EXPECT_EQ(v42b_init(&ctx, r.p0, r.n2, r.n7), r.accepted);
        if (!r.accepted) {
            // A refused set-up keeps what ran before.
            EXPECT_EQ(ctx.n2, 1024);
            EXPECT_EQ(ctx.p0, 3);
        } else if (r.p0 != 0) {
            EXPECT_EQ(ctx.max_codeword_size, r.max_bits);
            EXPECT_EQ(ctx.dec.tree.base, r.p0 == 3 ? r.n2 : 0);
        }
    }
}

TEST(V42bisEscape, MovesOnBy51EachTimeTheDataHoldsIt)
{
    static V42bisContext ctx;
    ASSERT_EQ(v42b_init(&ctx, 3, 2048, 32), 1);
    // Transparent at start: 0x00 is the escape (sent with EID, escape 51), then 0x33 (escape 102), then a
    // plain 0x00, then 0x66 (escape 153), then 'A'.
    const Bytes in = {0x00, 0x33, 0x00, 0x66, 0x41};
    Bytes code = compress_all(&ctx, in, in.size(), 64, 0);
    EXPECT_EQ(code, (Bytes{0x00, 0x01, 0x33, 0x01, 0x00, 0x66, 0x01, 0x41}));
    EXPECT_EQ(ctx.enc.escape, 153);
    Bytes out;
    ASSERT_EQ(decompress_all(&ctx, code, 3, 64, &out), V42B_OK);
    EXPECT_EQ(out, in);
    EXPECT_EQ(ctx.dec.escape, 153);
}

TEST(V42bisEscape, CompressedDataMovesTheEscapeOnBothSides)
{
    static V42bisContext ctx;
    ASSERT_EQ(v42b_init(&ctx, 3, 512, 6), 1);
    // Codes for 0x00 ('\0' + 3) and 0x33: the escape moves on in compressed mode too, so after ETM the
    // plain 0x66 is the escape and needs EID.
    Bytes stream = cat(kEnterCompressed, pack({{3, 9}, {3 + 0x33, 9}, {0, 9}}));
    stream.insert(stream.end(), {0x66, 0x01, 0x41});
    Bytes out;
    ASSERT_EQ(decompress_all(&ctx, stream, 1, 1, &out), V42B_OK);
    EXPECT_EQ(out, (Bytes{0x00, 0x33, 0x66, 0x41}));
    EXPECT_EQ(ctx.dec.escape, 153);
    EXPECT_TRUE(ctx.dec.transparent);
}

TEST(V42bisStrings, NeverLongerThanP2)
{
    // A run of 'a' (code 100) from an empty matcher sends each length twice: the second time because the
    // string one longer was added by the step before and may not be matched yet. With P2 = 6 strings stop
    // at six characters: 263 is "aaaaaa" and is sent again and again, never extended to a seventh.
    static V42bisContext ctx;
    ASSERT_EQ(v42b_init(&ctx, 3, 512, 6), 1);
    Bytes stream = cat(kEnterCompressed, pack({{100, 9}, {100, 9}, {259, 9}, {259, 9}, {260, 9}, {260, 9},
                                               {261, 9}, {261, 9}, {262, 9}, {262, 9}, {263, 9}, {263, 9},
                                               {263, 9}, {263, 9}, {1, 9}}));
    Bytes out;
    ASSERT_EQ(decompress_all(&ctx, stream, 2, 5, &out), V42B_OK);
    EXPECT_EQ(out, Bytes(2 * (1 + 2 + 3 + 4 + 5 + 6) + 2 * 6, 'a'));
    EXPECT_EQ(ctx.dec.tree.next_free, 264);
    // A peer that made "aaaaaaa" of "aaaaaa" would now send 264: not a string of ours.
    Bytes more = pack({{264, 9}});
    EXPECT_EQ(decompress_all(&ctx, more, 2, 5, &out), V42B_ERR_EMPTY_CODE);
}

TEST(V42bisStrings, EncoderDictionaryHoldsNoStringLongerThanP2)
{
    for (uint8_t p2 : {6, 7, 32}) {
        static V42bisContext ctx;
        ASSERT_EQ(v42b_init(&ctx, 1, 4096, p2), 1);
        compress_all(&ctx, Bytes(5000, 'a'), 1000, 128, 0);
        const V42bisTree& t = ctx.enc.tree;
        uint8_t longest = 0;
        for (uint16_t code = V42B_FIRST_STRING; code < t.next_free; ++code) {
            uint8_t length = 1;
            for (uint16_t c = code; c >= V42B_FIRST_STRING; c = v42b_parent(&ctx.dict, &t, c))
                ++length;
            longest = std::max(longest, length);
        }
        EXPECT_EQ(longest, p2);
    }
}

TEST(V42bisMatch, StringJustAddedIsNotMatchedByTheNextStep)
{
    static V42bisContext ctx;
    ASSERT_EQ(v42b_init(&ctx, 1, 512, 32), 1);
    V42bisTree* t = &ctx.enc.tree;
    V42bisMatcher m;
    v42b_match_reset(&m);
    std::vector<uint16_t> sent;
    for (char c : std::string("aaaaaaa")) {
        uint16_t code = v42b_match_char(&ctx.dict, t, &m, 32, static_cast<uint8_t>(c));
        if (code != 0)
            sent.push_back(code);
    }
    // a | a ("aa" just added: refused) | aa | aa ("aaa" just added: refused) | a...
    EXPECT_EQ(sent, (std::vector<uint16_t>{100, 100, 259, 259}));
    EXPECT_EQ(m.code, 100);
    EXPECT_EQ(t->next_free, 261);
}

TEST(V42bisMatch, AfterAFlushTheNextCharacterOnlyAddsTheSentStringPlusItself)
{
    static V42bisContext ctx;
    ASSERT_EQ(v42b_init(&ctx, 1, 512, 32), 1);
    V42bisTree* t = &ctx.enc.tree;
    V42bisMatcher m;
    v42b_match_reset(&m);
    v42b_match_char(&ctx.dict, t, &m, 32, 'a');
    EXPECT_EQ(v42b_match_char(&ctx.dict, t, &m, 32, 'b'), 100);  // "ab" = 259
    v42b_match_mark_sent(&m);                                    // "b" went out with a flush
    EXPECT_EQ(v42b_match_char(&ctx.dict, t, &m, 32, 'a'), 0);    // "ba" = 260, nothing sent again
    EXPECT_EQ(t->last_added, 260);
    EXPECT_EQ(v42b_find_child(&ctx.dict, t, 'b' + 3, 'a'), 260);
    // "ab" exists: after the next flush the match of "a"+"b" is refused and nothing is added.
    v42b_match_mark_sent(&m);
    EXPECT_EQ(v42b_match_char(&ctx.dict, t, &m, 32, 'b'), 0);
    EXPECT_EQ(t->next_free, 261);
    EXPECT_EQ(m.code, 'b' + 3);
}

TEST(V42bisDictionary, FirstReusedCodeIsTheLowestLeafAfterTheLastAdded)
{
    static V42bisContext ctx;
    ASSERT_EQ(v42b_init(&ctx, 1, 512, 250), 1);
    V42bisTree* t = &ctx.enc.tree;
    // 259 = "ab", 260 = "abc" (so 259 has a child), then leaves "x" + c up to the last code, 511.
    ASSERT_EQ(v42b_add_string(&ctx.dict, t, 'a' + 3, 'b'), 259);
    ASSERT_EQ(v42b_add_string(&ctx.dict, t, 259, 'c'), 260);
    for (uint16_t code = 261; code < 512; ++code)
        ASSERT_EQ(v42b_add_string(&ctx.dict, t, 'x' + 3, static_cast<uint8_t>(code - 261)), code);
    // Full: the next code is 260 (259 has a child), already out of the tree.
    EXPECT_TRUE(t->full);
    EXPECT_EQ(t->next_free, 260);
    EXPECT_EQ(v42b_find_child(&ctx.dict, t, 259, 'c'), 0);
    EXPECT_FALSE(v42b_code_defined(t, 260));
    // Taking it makes 259 a leaf again; the next one prepared is 259's next leaf upward: 261.
    EXPECT_EQ(v42b_add_string(&ctx.dict, t, 'q' + 3, 'q'), 260);
    EXPECT_EQ(t->next_free, 261);
    EXPECT_EQ(v42b_find_child(&ctx.dict, t, 'x' + 3, 0), 0);
    EXPECT_EQ(v42b_find_child(&ctx.dict, t, 'x' + 3, 1), 262);
}

TEST(V42bisDecoder, BadStreamsStopWithAClearError)
{
    struct Row {
        const char* what;
        uint16_t n2;
        Bytes stream;
        int status;
    };
    const Row rows[] = {
        {"string not learnt yet", 512, cat(kEnterCompressed, pack({{300, 9}})), V42B_ERR_EMPTY_CODE},
        {"next code named early", 512, cat(kEnterCompressed, pack({{100, 9}, {259, 9}})), V42B_ERR_EMPTY_CODE},
        {"STEPUP past 9 bits", 512, cat(kEnterCompressed, pack({{2, 9}})), V42B_ERR_STEPUP},
        {"code at or above N2", 1000, cat(kEnterCompressed, pack({{2, 9}, {1000, 10}})), V42B_ERR_CODE_RANGE},
        {"unknown escape command", 512, Bytes{0x41, 0x00, 0x07}, V42B_ERR_ESCAPE},
    };
    static V42bisContext ctx;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        ASSERT_EQ(v42b_init(&ctx, 3, r.n2, 32), 1);
        Bytes out;
        EXPECT_EQ(decompress_all(&ctx, r.stream, 1, 16, &out), r.status);
        // The decoder stays stopped.
        size_t used = 0;
        size_t made = 0;
        uint8_t buf[4];
        const uint8_t more[2] = {0x41, 0x42};
        EXPECT_EQ(v42b_decompress(&ctx, more, 2, &used, buf, 4, &made), r.status);
        EXPECT_EQ(made, 0u);
    }
}

TEST(V42bisDecoder, ResetCommandStartsAfresh)
{
    static V42bisContext ctx;
    ASSERT_EQ(v42b_init(&ctx, 3, 512, 32), 1);
    // "ab" learnt from plain data, then escape + RESET, then the escape is 0 again and "ab" is unknown.
    Bytes stream = {'a', 'b', 'a', 'b', 0x00, 0x01, 0x33, 0x02};
    Bytes out;
    ASSERT_EQ(decompress_all(&ctx, stream, 1, 16, &out), V42B_OK);
    EXPECT_EQ(out, (Bytes{'a', 'b', 'a', 'b', 0x00}));
    EXPECT_EQ(ctx.dec.escape, 0);
    EXPECT_EQ(ctx.dec.tree.next_free, V42B_FIRST_STRING);
}

} // namespace
