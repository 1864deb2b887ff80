// The V.44 decoder on bad streams: each kind of error stops it with its code and it stays stopped; random
// and damaged streams never read or write outside the history and the codeword table (run under the
// sanitizers) and end either well or with one of the decoder's errors.
#include <gtest/gtest.h>

#include <string>

#include "ec/v42bis_support.h"
#include "ec/v44_support.h"

namespace {

using v44_test::BitWriter;
using v44_test::Bytes;
using v44_test::Engine;
using v44_test::Sizes;

#ifdef MODEM_UNDER_SANITIZER
constexpr int kFuzzRounds = 300;
#else
constexpr int kFuzzRounds = 2000;
#endif

struct ErrorCase {
    const char* name;
    Sizes sizes;
    Bytes stream;
    int status;
};

Bytes many_ordinals(int n)
{
    BitWriter w;
    for (int i = 0; i < n; ++i)
        w.ordinal(static_cast<uint8_t>('a' + i % 26));
    return w.bytes();
}

TEST(V44Decoder, EachBadStreamStopsWithItsError)
{
    const Sizes kDefault{2048, 8192, 140};
    const ErrorCase cases[] = {
        {"codeword above the next free one", kDefault, BitWriter().codeword(5).bytes(), V44_ERR_CODEWORD},
        {"next free codeword with no item before", kDefault, BitWriter().codeword(4).bytes(), V44_ERR_NEXT_FREE},
        {"next free codeword after an extension", kDefault,
         BitWriter().ordinal('a').ordinal('b').ordinal('a').ordinal('b').codeword(4).put(2, 2).put(1, 1).codeword(9)
             .bytes(),
         V44_ERR_NEXT_FREE},
        {"ordinal wider than eight bits", kDefault,
         BitWriter().codeword(V44_STEPUP).ordinal(0xE9, 8).codeword(V44_STEPUP).put(0, 1).put(0, 9).bytes(),
         V44_ERR_ORDINAL},
        {"codeword wider than the largest size", {256, 8192, 140},
         BitWriter().codeword(V44_STEPUP).codeword(V44_STEPUP, 7).codeword(V44_STEPUP, 8).codeword(4, 9).bytes(),
         V44_ERR_STEPUP},
        {"extension past the longest string", {2048, 8192, 32},
         // "ab" is codeword 4 (2 characters); 31 more would make 33 > 32.
         BitWriter().ordinal('a').ordinal('b').codeword(4).put(2, 2).put(0, 3).put(1, 1).put(31 - 13, 5).bytes(),
         V44_ERR_EXTENSION},
        {"history overrun without a restart", {2048, 512, 32}, many_ordinals(513), V44_ERR_HISTORY},
        {"unknown escape command", kDefault, [] {
             Bytes b = BitWriter().codeword(V44_ETM).bytes();
             b.insert(b.end(), {'x', 0x00, 0x07});
             return b;
         }(),
         V44_ERR_ESCAPE},
    };
    for (const ErrorCase& c : cases) {
        Engine eng(c.sizes, V44_DECODE);
        Bytes out;
        EXPECT_EQ(v44_test::decompress_all(&eng.e, c.stream, 1000, 1000, &out), c.status) << c.name;
        // The decoder stays stopped with the same error.
        size_t used = 0;
        size_t made = 0;
        uint8_t buf[8];
        const uint8_t more[] = {0xC2, 0x03};
        EXPECT_EQ(v44_decompress(&eng.e, more, sizeof more, &used, buf, sizeof buf, &made), c.status) << c.name;
        EXPECT_EQ(made, 0u) << c.name;
    }
}

TEST(V44Decoder, HistoryFullIsFineWhenTheEncoderRestartsIt)
{
    // The same 513 ordinals with REINIT before the history fills decode without error.
    BitWriter ok;
    for (int i = 0; i < 513; ++i) {
        if (i == 400)
            ok.codeword(V44_REINIT);
        ok.ordinal(static_cast<uint8_t>('a' + i % 26));
    }
    Engine eng({2048, 512, 32}, V44_DECODE);
    Bytes out;
    EXPECT_EQ(v44_test::decompress_all(&eng.e, ok.bytes(), 64, 64, &out), V44_OK);
    EXPECT_EQ(out.size(), 513u);
}

int fuzz_one(uint32_t* state, const Bytes& valid)
{
    const Sizes options[] = {{256, 512, 32}, {2048, 8192, 140}, {65535, 1000, 255}, {300, 600, 46}};
    Sizes s = options[v42bis_test::next_random(state) % 4];
    Engine eng(s, V44_DECODE);
    Bytes stream;
    if (v42bis_test::next_random(state) % 2) {
        stream.resize(1 + v42bis_test::next_random(state) % 400);
        for (auto& b : stream)
            b = static_cast<uint8_t>(v42bis_test::next_random(state));
    } else {
        stream = valid;
        int flips = 1 + static_cast<int>(v42bis_test::next_random(state) % 6);
        for (int i = 0; i < flips; ++i)
            stream[v42bis_test::next_random(state) % stream.size()] ^=
                static_cast<uint8_t>(1u << (v42bis_test::next_random(state) % 8));
    }
    Bytes out;
    size_t room = 1 + v42bis_test::next_random(state) % 300;
    return v44_test::decompress_all(&eng.e, stream, 1 + v42bis_test::next_random(state) % 64, room, &out);
}

TEST(V44Decoder, RandomAndDamagedStreamsStayInBounds)
{
    Engine enc({2048, 8192, 140}, V44_ENCODE);
    Bytes valid = v44_test::compress_all(&enc.e, v42bis_test::make_mixed(8000, 21), 300, 128, 1000);
    uint32_t state = 12345;
    int errors = 0;
    for (int round = 0; round < kFuzzRounds; ++round) {
        int status = fuzz_one(&state, valid);
        EXPECT_TRUE(status == V44_OK || (status >= V44_ERR_CODEWORD && status <= V44_ERR_ESCAPE && status != V44_ERR_INACTIVE))
            << status;
        errors += status != V44_OK;
    }
    EXPECT_GT(errors, kFuzzRounds / 4);  // most damage is caught as an error
}

} // namespace
