// MNP class 5: code table, table adaptation, exact frames against bit strings built by hand, round trips
// over frames of several sizes with a cramped output, and a bounded fuzz of the decoder.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "layer2/corecode/ec/mnp5.h"

namespace {

#ifdef MODEM_UNDER_SANITIZER
constexpr size_t kSample = 3000;
constexpr int kFuzzRounds = 800;
#else
constexpr size_t kSample = 20000;
constexpr int kFuzzRounds = 3000;
#endif

using Bytes = std::vector<uint8_t>;

// "1100 0000 ..." -> octets, spaces ignored; the string must be a whole number of octets.
Bytes from_bits(const std::string& s)
{
    Bytes out;
    int n = 0;
    uint8_t o = 0;
    for (char c : s) {
        if (c == ' ')
            continue;
        o = static_cast<uint8_t>((o << 1) | (c == '1' ? 1 : 0));
        if (++n == 8) {
            out.push_back(o);
            n = 0;
            o = 0;
        }
    }
    EXPECT_EQ(n, 0) << s;
    return out;
}

// One frame: everything of `in` that fits in `room`, then the end of frame.
Bytes encode_frame(Mnp5Encoder* e, const Bytes& in, size_t room, size_t* taken)
{
    Bytes out(room);
    size_t made = 0;
    *taken = mnp5_encode(e, in.data(), in.size(), out.data(), room, &made);
    made += mnp5_end_frame(e, out.data() + made, room - made);
    out.resize(made);
    return out;
}

TEST(Mnp5, CodeTable)
{
    struct Case {
        uint8_t p;
        const char* bits;
    } cases[] = {
        {0, "0000"},          {1, "0001"},          {2, "0010"},        {3, "0011"},
        {4, "01000"},         {7, "01011"},         {8, "011000"},      {65, "110000001"},
        {128, "1110000000"},  {250, "1111111010"},  {254, "1111111110"}, {255, "11111111110"},
    };
    for (const Case& c : cases) {
        uint16_t v = 0;
        int len = mnp5_code(c.p, &v);
        std::string got;
        for (int i = len - 1; i >= 0; --i)
            got.push_back(((v >> i) & 1) ? '1' : '0');
        EXPECT_EQ(got, c.bits) << int(c.p);
    }
    uint16_t v = 0;
    EXPECT_EQ(mnp5_code(255, &v), MNP5_FLUSH_BITS);
    EXPECT_EQ(v ^ MNP5_FLUSH_CODE, 1);  // entry 255 and the flush code differ only in the last bit
}

TEST(Mnp5, TableMovesPastSmallerCountsOnly)
{
    Mnp5Context c;
    mnp5_reset(&c);
    Mnp5Table* t = &c.enc.table;
    EXPECT_EQ(mnp5_table_update(t, t->position[5]), 5);
    EXPECT_EQ(mnp5_table_update(t, t->position[7]), 7);
    // 5 leads with count 1; 7 with the same count stops below it; the others slide down by one.
    const uint8_t want[] = {5, 7, 0, 1, 2, 3, 4, 6, 8};
    for (int p = 0; p < 9; ++p) {
        EXPECT_EQ(t->symbol[p], want[p]) << p;
        EXPECT_EQ(t->position[want[p]], p);
    }
    EXPECT_EQ(t->count[0], 1);
    EXPECT_EQ(t->count[1], 1);
    EXPECT_EQ(t->count[2], 0);
}

TEST(Mnp5, CountsHalveWhenTheTopReaches255)
{
    Mnp5Context c;
    mnp5_reset(&c);
    Mnp5Table* t = &c.enc.table;
    for (int i = 0; i < 3; ++i)
        mnp5_table_update(t, t->position[9]);
    mnp5_table_update(t, t->position[4]);
    for (int i = 0; i < 254; ++i)
        mnp5_table_update(t, t->position[0]);
    EXPECT_EQ(t->count[0], 254);
    EXPECT_EQ(t->symbol[0], 0);
    mnp5_table_update(t, t->position[0]);
    EXPECT_EQ(t->count[0], 127);
    EXPECT_EQ(t->count[1], 1);  // 9: 3 -> 1
    EXPECT_EQ(t->count[2], 0);  // 4: 1 -> 0
    EXPECT_EQ(t->symbol[1], 9);
    EXPECT_EQ(t->symbol[2], 4);
}

TEST(Mnp5, ExactFrames)
{
    struct Case {
        const char* name;
        Bytes in;
        const char* bits;
    } cases[] = {
        // 'A' is entry 65 at reset; flush code; fill.
        {"single", {0x41}, "110000001 11111111111 1111"},
        // three characters and a run count of 1; the frame ends on an octet: no flush code.
        {"four same", {0, 0, 0, 0}, "0000 0000 0000 0001"},
        // a run count of 0 before the new character (entry 1 still holds 1).
        {"three then other", {0, 0, 0, 1}, "0000 0000 0000 0000 0001 11111111111 1"},
        // three characters, a run count of 250, then the character again as a new run.
        {"run of 254", Bytes(254, 0), "0000 0000 0000 1111111010 0000 11111111111 111"},
        // the second 'A' is entry 0 after the first moved up; the third 'B' (entry 66) keeps its place.
        {"adapts", {0x41, 0x41, 0x42}, "110000001 0000 110000010 11111111111 1111111"},
    };
    for (const Case& c : cases) {
        Mnp5Context ctx;
        mnp5_reset(&ctx);
        size_t taken = 0;
        Bytes got = encode_frame(&ctx.enc, c.in, 64, &taken);
        EXPECT_EQ(taken, c.in.size()) << c.name;
        EXPECT_EQ(got, from_bits(c.bits)) << c.name;
        Bytes out(300);
        size_t used = 0;
        size_t made = 0;
        EXPECT_EQ(mnp5_decode(&ctx.dec, got.data(), got.size(), &used, out.data(), out.size(), &made), MNP5_OK)
            << c.name;
        out.resize(made);
        EXPECT_EQ(out, c.in) << c.name;
    }
}

TEST(Mnp5, Entry255IsNotTheFlushCode)
{
    // Symbol 255 sits at entry 255 at reset: its 11-bit code must decode as a character, not end the frame.
    Mnp5Context ctx;
    mnp5_reset(&ctx);
    size_t taken = 0;
    Bytes got = encode_frame(&ctx.enc, {0xFF, 0x00}, 64, &taken);
    EXPECT_EQ(got, from_bits("11111111110 0001 11111111111 111111"));
    Bytes out(16);
    size_t used = 0, made = 0;
    ASSERT_EQ(mnp5_decode(&ctx.dec, got.data(), got.size(), &used, out.data(), out.size(), &made), MNP5_OK);
    out.resize(made);
    EXPECT_EQ(out, (Bytes{0xFF, 0x00}));
}

Bytes sample(int kind, size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    Bytes b(n);
    const std::string text = "the quick brown fox jumps over the lazy dog; aaaaaaa 0000000000 ";
    for (size_t i = 0; i < n; ++i) {
        if (kind == 0)
            b[i] = static_cast<uint8_t>(rng());
        else if (kind == 1)
            b[i] = static_cast<uint8_t>(text[(i + rng() % 3 / 2) % text.size()]);
        else  // runs of random length, some past 250
            b[i] = (i == 0 || rng() % 300 == 0) ? static_cast<uint8_t>(rng() % 4) : b[i - 1];
    }
    return b;
}

// Frames of `room` octets through encoder and decoder; the decoder gets `out_room` octets a call.
Bytes round_trip(const Bytes& data, size_t room, size_t out_room, size_t* frames, size_t* coded)
{
    Mnp5Context ctx;
    mnp5_reset(&ctx);
    Bytes result;
    size_t at = 0;
    *frames = 0;
    *coded = 0;
    while (at < data.size()) {
        Bytes in(data.begin() + static_cast<long>(at), data.end());
        size_t taken = 0;
        Bytes frame = encode_frame(&ctx.enc, in, room, &taken);
        EXPECT_LE(frame.size(), room);
        EXPECT_GT(taken, 0u);
        at += taken;
        ++*frames;
        *coded += frame.size();
        size_t pos = 0;
        for (;;) {
            Bytes out(out_room);
            size_t used = 0, made = 0;
            int st = mnp5_decode(&ctx.dec, frame.data() + pos, frame.size() - pos, &used, out.data(), out_room, &made);
            pos += used;
            result.insert(result.end(), out.begin(), out.begin() + static_cast<long>(made));
            if (st != MNP5_MORE) {
                EXPECT_EQ(st, MNP5_OK);
                break;
            }
        }
        if (taken == 0)
            break;
    }
    return result;
}

TEST(Mnp5, RoundTripAcrossFrameAndOutputSizes)
{
    for (int kind = 0; kind < 3; ++kind) {
        Bytes data = sample(kind, kSample, 7u + static_cast<uint32_t>(kind));
        for (size_t room : {5u, 6u, 13u, 64u, 256u}) {
            for (size_t out_room : {1u, 10u, 4096u}) {
                size_t frames = 0, coded = 0;
                Bytes back = round_trip(data, room, out_room, &frames, &coded);
                EXPECT_TRUE(back == data) << "kind " << kind << " room " << room << " out " << out_room;
            }
        }
        if (kind > 0) {
            size_t frames = 0, coded = 0;
            round_trip(data, 256, 4096, &frames, &coded);
            EXPECT_LT(coded, data.size() * 3 / 4) << kind;  // text and runs compress
        }
    }
}

TEST(Mnp5, BadStreamsGiveAClearError)
{
    struct Case {
        const char* name;
        const char* bits;
        int status;
    } cases[] = {
        {"ends inside a code", "110000001 1111111", MNP5_ERR_TRUNCATED},
        {"run count above 250", "0000 0000 0000 1111111011 11", MNP5_ERR_RUN},
        {"flush where a run count is due", "0000 0000 0000 11111111111 1", MNP5_ERR_RUN},
        {"frame ends where a run count is due", "10100000 0000 0000", MNP5_ERR_RUN},
    };
    for (const Case& c : cases) {
        Mnp5Context ctx;
        mnp5_reset(&ctx);
        Bytes in = from_bits(c.bits);
        Bytes out(1000);
        size_t used = 0, made = 0;
        EXPECT_EQ(mnp5_decode(&ctx.dec, in.data(), in.size(), &used, out.data(), out.size(), &made), c.status)
            << c.name;
        EXPECT_LE(made, out.size());
    }
}

TEST(Mnp5, DecoderFuzz)
{
    std::mt19937 rng(12345);
    Bytes valid = sample(1, 3000, 3);
    for (int round = 0; round < kFuzzRounds; ++round) {
        Mnp5Context ctx;
        mnp5_reset(&ctx);
        Bytes frame;
        if (round % 2 == 0) {
            frame.resize(1 + rng() % 300);
            for (auto& b : frame)
                b = static_cast<uint8_t>(rng());
        } else {
            size_t taken = 0;
            frame = encode_frame(&ctx.enc, valid, 5 + rng() % 250, &taken);
            for (int k = 0; k < 1 + static_cast<int>(rng() % 4); ++k)
                frame[rng() % frame.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
        }
        size_t pos = 0;
        size_t room = 1 + rng() % 600;
        Bytes out(room + 1, 0xA5);
        for (int calls = 0; calls < 100000; ++calls) {
            size_t used = 0, made = 0;
            int st = mnp5_decode(&ctx.dec, frame.data() + pos, frame.size() - pos, &used, out.data(), room, &made);
            ASSERT_LE(made, room);
            ASSERT_LE(used, frame.size() - pos);
            ASSERT_EQ(out[room], 0xA5);
            pos += used;
            if (st != MNP5_MORE) {
                ASSERT_TRUE(st == MNP5_OK || st == MNP5_ERR_TRUNCATED || st == MNP5_ERR_RUN);
                break;
            }
        }
    }
}

}  // namespace
