// Our encoder into our decoder over the parameter grid, with small buffers and flushes, so that the
// dictionary fills and is reused, both modes are visited, and output resumes across calls.
#include <gtest/gtest.h>

#include "ec/v42bis_support.h"

namespace {

using namespace v42bis_test;

struct Case {
    uint8_t p0;
    uint16_t p1;
    uint8_t p2;
    size_t piece;
    size_t room;
    size_t flush_every;
};

const Case kCases[] = {
    {3, 512, 6, 1000, 128, 0},    {3, 1024, 32, 97, 20, 500},   {3, 2048, 250, 4096, 128, 0},
    {3, 2048, 32, 1, 128, 61},    {1, 4096, 32, 700, 128, 0},   {2, 4096, 250, 300, 60, 2000},
    {3, 1500, 100, 1000, 128, 0}, {1, 512, 250, 50, 20, 0},       {3, 512, 250, 1, 8, 7},
};

#if MODEM_UNDER_SANITIZER
constexpr size_t kSize = 30000;
#else
constexpr size_t kSize = 150000;
#endif

TEST(V42bisRoundTrip, EveryCorpusComesBackExactly)
{
    static V42bisContext enc;
    static V42bisContext dec;
    Bytes (*const makers[])(size_t, uint32_t) = {make_text, make_binary, make_random, make_mixed};
    for (const Case& c : kCases)
        for (auto make : makers) {
            SCOPED_TRACE("P0 " + std::to_string(c.p0) + " P1 " + std::to_string(c.p1) + " P2 " +
                         std::to_string(c.p2) + " flush " + std::to_string(c.flush_every));
            Bytes data = make(kSize, c.p1 ^ c.p2);
            ASSERT_EQ(v42b_init(&enc, c.p0 == 3 ? 3 : V42B_ENCODER, c.p1, c.p2), 1);
            ASSERT_EQ(v42b_init(&dec, c.p0 == 3 ? 3 : V42B_DECODER, c.p1, c.p2), 1);
            Bytes code = compress_all(&enc, data, c.piece, c.room, c.flush_every);
            Bytes out;
            ASSERT_EQ(decompress_all(&dec, code, c.piece, c.room, &out), V42B_OK);
            ASSERT_EQ(out.size(), data.size());
            ASSERT_TRUE(out == data);
        }
}

} // namespace
