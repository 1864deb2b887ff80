// V.44 round trips: text, structured binary, random and mixed data across the grid of codeword counts,
// history sizes and string lengths, fed in uneven pieces into small frames with flushes between, and
// decoded with little output room, so strings, extensions and mode changes cross every boundary.
#include <gtest/gtest.h>

#include <string>

#include "ec/v42bis_support.h"
#include "ec/v44_support.h"

namespace {

using v44_test::Bytes;
using v44_test::Engine;
using v44_test::Sizes;

#ifdef MODEM_UNDER_SANITIZER
constexpr size_t kSize = 6000;
#else
constexpr size_t kSize = 24000;
#endif

struct Data {
    const char* name;
    Bytes bytes;
};

const std::vector<Data>& corpora()
{
    static const std::vector<Data> d = {
        {"text", v42bis_test::make_text(kSize, 1)},
        {"binary", v42bis_test::make_binary(kSize, 2)},
        {"random", v42bis_test::make_random(kSize, 3)},
        {"mixed", v42bis_test::make_mixed(kSize, 4)},
        {"runs", Bytes(kSize / 2, 'z')},
    };
    return d;
}

class V44Grid : public ::testing::TestWithParam<Sizes> {};

TEST_P(V44Grid, EveryCorpusComesBackByteExact)
{
    const Sizes s = GetParam();
    for (const Data& d : corpora()) {
        Engine eng(s);
        ASSERT_TRUE(eng.started);
        Bytes code = v44_test::compress_all(&eng.e, d.bytes, 97, 61, 3001);
        Bytes out;
        ASSERT_EQ(v44_test::decompress_all(&eng.e, code, 37, 53, &out), V44_OK) << d.name;
        ASSERT_EQ(out.size(), d.bytes.size()) << d.name;
        EXPECT_TRUE(out == d.bytes) << d.name;
        // Small dictionaries restart often: text gains less, and random data may stay in compressed mode,
        // whose test runs only at a restart and gives up only when the stream is 128 octets ahead. Random
        // data grows little once a restart of a roomy dictionary has sent it transparent.
        size_t n = d.bytes.size();
        bool roomy = s.codewords >= 2048 && s.history >= 4096;
        bool restarts = std::min(s.codewords, s.history) < n / 4;
        if (std::string(d.name) == "text") {
            EXPECT_LT(code.size(), roomy ? n / 2 : n * 6 / 10) << "text compresses";
        }
        if (std::string(d.name) == "random") {
            EXPECT_LT(code.size(), roomy && restarts ? n + n / 33 : n + n / 7) << "random data barely grows";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, V44Grid,
                         ::testing::Values(Sizes{256, 512, 32}, Sizes{256, 65535, 255}, Sizes{1500, 1500, 46},
                                           Sizes{2048, 8192, 140}, Sizes{2048, 8192, 47}, Sizes{4096, 2000, 78},
                                           Sizes{4096, 30000, 79}, Sizes{65535, 65535, 255},
                                           Sizes{65535, 512, 142}, Sizes{1024, 4096, 143}),
                         [](const auto& info) {
                             const Sizes& s = info.param;
                             return "c" + std::to_string(s.codewords) + "_h" + std::to_string(s.history) + "_s" +
                                    std::to_string(s.string);
                         });

TEST(V44RoundTrip, OneCharacterAtATimeWithAFlushAfterEach)
{
    Engine eng({2048, 8192, 140});
    Bytes text = v42bis_test::make_text(3000, 7);
    Bytes code = v44_test::compress_all(&eng.e, text, 1, 128, 1);
    Bytes out;
    ASSERT_EQ(v44_test::decompress_all(&eng.e, code, 1, 1, &out), V44_OK);
    EXPECT_TRUE(out == text);
}

TEST(V44RoundTrip, DirectionsRunIndependently)
{
    // Each direction has its own sizes: an encoder of one engine feeds the decoder of another.
    XidV44Values a{0, V44_ENCODE, 1024, 4096, 64, 200, 2048, 30000};
    XidV44Values b{0, V44_DECODE, 4096, 1024, 200, 64, 30000, 2048};
    V44Engine tx{};
    V44Engine rx{};
    ASSERT_TRUE(v44_start(&tx, &a));
    ASSERT_TRUE(v44_start(&rx, &b));
    Bytes text = v42bis_test::make_mixed(kSize, 11);
    Bytes code = v44_test::compress_all(&tx, text, 500, 128, 0);
    Bytes out;
    EXPECT_EQ(v44_test::decompress_all(&rx, code, 128, 256, &out), V44_OK);
    EXPECT_TRUE(out == text);
    size_t used = 0;
    size_t made = 0;
    uint8_t buf[4];
    EXPECT_EQ(v44_decompress(&tx, code.data(), code.size(), &used, buf, sizeof buf, &made), V44_ERR_INACTIVE);
    EXPECT_EQ(v44_compress(&rx, text.data(), text.size(), buf, sizeof buf, &made), 0u);
    v44_free_dictionaries(&tx);
    v44_free_dictionaries(&rx);
}

TEST(V44RoundTrip, CodewordSizeCoversNonPowerOfTwoCounts)
{
    // The largest codeword of N2 codewords is N2 - 1: 1500 codewords need 11 bits, 65535 need 16.
    const std::pair<uint16_t, uint8_t> rows[] = {{256, 8}, {257, 9}, {1024, 10}, {1500, 11}, {2048, 11},
                                                 {2049, 12}, {65535, 16}};
    for (auto [n2, bits] : rows)
        EXPECT_EQ(v44_codeword_bits(n2), bits) << n2;
    // A dictionary of 1500 filled past codeword 1024 still comes back.
    Engine eng({1500, 65535, 255});
    Bytes text = v42bis_test::make_text(60000, 12);
    Bytes code = v44_test::compress_all(&eng.e, text, 1000, 128, 0);
    Bytes out;
    ASSERT_EQ(v44_test::decompress_all(&eng.e, code, 128, 256, &out), V44_OK);
    EXPECT_TRUE(out == text);
}

// Long repeats with small changes: long strings, extensions up to the longest string, history restarts.
Bytes make_repeats(size_t n, uint32_t* state)
{
    Bytes base = v42bis_test::make_text(300, v42bis_test::next_random(state));
    Bytes out;
    while (out.size() < n) {
        size_t from = v42bis_test::next_random(state) % 200;
        size_t len = 1 + v42bis_test::next_random(state) % 100;
        out.insert(out.end(), base.begin() + static_cast<long>(from), base.begin() + static_cast<long>(from + len));
        if (v42bis_test::next_random(state) % 4 == 0)
            out.push_back(static_cast<uint8_t>(v42bis_test::next_random(state)));
    }
    out.resize(n);
    return out;
}

// Random sizes, data kinds, pieces, frame rooms and flush points: the encoder's decisions land on every
// boundary of the input and the output, and the decoder gets the code in random pieces with random room.
TEST(V44RoundTrip, RandomisedSettingsAndBoundaries)
{
#ifdef MODEM_UNDER_SANITIZER
    constexpr int kRounds = 40;
#else
    constexpr int kRounds = 300;
#endif
    uint32_t state = 777;
    auto pick = [&](uint32_t n) { return v42bis_test::next_random(&state) % n; };
    for (int round = 0; round < kRounds; ++round) {
        Sizes s{static_cast<uint16_t>(256 + pick(3000)), static_cast<uint16_t>(512 + pick(4000)),
                static_cast<uint8_t>(32 + pick(224))};
        if (pick(4) == 0)
            s.history = 512;
        size_t n = 500 + pick(12000);
        Bytes data;
        switch (pick(4)) {
        case 0: data = make_repeats(n, &state); break;
        case 1: data = v42bis_test::make_mixed(n, pick(1000)); break;
        case 2: data = v42bis_test::make_binary(n, pick(1000)); break;
        default: data = v42bis_test::make_random(n, pick(1000)); break;
        }
        Engine eng(s);
        ASSERT_TRUE(eng.started);
        Bytes code = v44_test::compress_all(&eng.e, data, 1 + pick(300), 8 + pick(200), pick(3) ? 0 : 1 + pick(2000));
        Bytes out;
        ASSERT_EQ(v44_test::decompress_all(&eng.e, code, 1 + pick(200), 1 + pick(400), &out), V44_OK)
            << "round " << round;
        ASSERT_TRUE(out == data) << "round " << round << ": " << out.size() << " of " << data.size();
    }
}

} // namespace
