// Random and damaged compressed streams into the decoder: it must end every stream with a clear status,
// never read or write out of bounds (run under the sanitizers), and keep its output within its buffer.
#include <gtest/gtest.h>

#include "ec/v42bis_support.h"

namespace {

using namespace v42bis_test;

#if MODEM_UNDER_SANITIZER
constexpr int kRounds = 150;
#else
constexpr int kRounds = 600;
#endif

// Decodes the whole stream with a random output room per call; returns the final status.
int decode_with_random_rooms(V42bisContext* ctx, const Bytes& code, uint32_t* rng, size_t* delivered)
{
    uint8_t buf[300];
    size_t at = 0;
    *delivered = 0;
    for (;;) {
        size_t room = 1 + next_random(rng) % 299;
        // Guard octets after the room: the decoder must never write past it.
        std::fill(buf + room, buf + sizeof(buf), 0xA5);
        size_t piece = 1 + next_random(rng) % 64;
        size_t n = std::min(piece, code.size() - at);
        size_t used = 0;
        size_t made = 0;
        int status = v42b_decompress(ctx, code.data() + at, n, &used, buf, room, &made);
        EXPECT_LE(used, n);
        EXPECT_LE(made, room);
        for (size_t i = room; i < sizeof(buf); ++i)
            EXPECT_EQ(buf[i], 0xA5);
        at += used;
        *delivered += made;
        if (status != V42B_OK)
            return status;
        if (at == code.size() && !v42b_output_pending(ctx))
            return V42B_OK;
        if (used == 0 && made == 0)
            return -1;  // no progress: a fault of the decoder
    }
}

TEST(V42bisFuzz, RandomStreamsEndCleanly)
{
    static V42bisContext ctx;
    uint32_t rng = 12345;
    const uint16_t p1s[] = {512, 1024, 2048};
    const uint8_t p2s[] = {6, 32, 250};
    int errors = 0;
    for (int round = 0; round < kRounds; ++round) {
        uint16_t p1 = p1s[round % 3];
        uint8_t p2 = p2s[(round / 3) % 3];
        ASSERT_EQ(v42b_init(&ctx, 3, p1, p2), 1);
        Bytes code = make_random(200 + next_random(&rng) % 3000, next_random(&rng));
        // Half the streams start by entering compressed mode, so codewords are read from the first octet.
        if (round % 2)
            code.insert(code.begin(), {0x00, 0x00});
        size_t delivered = 0;
        int status = decode_with_random_rooms(&ctx, code, &rng, &delivered);
        ASSERT_NE(status, -1);
        errors += status != V42B_OK;
    }
    // Random octets in compressed mode soon name a string not learnt.
    EXPECT_GT(errors, kRounds / 4);
}

TEST(V42bisFuzz, DamagedStreamsEndCleanly)
{
    static V42bisContext enc;
    static V42bisContext dec;
    uint32_t rng = 777;
    for (int round = 0; round < kRounds; ++round) {
        uint16_t p1 = round % 2 ? 512 : 2048;
        uint8_t p2 = round % 3 ? 250 : 6;
        ASSERT_EQ(v42b_init(&enc, 3, p1, p2), 1);
        Bytes data = round % 4 == 3 ? make_mixed(8000, round) : make_text(8000, round);
        Bytes code = compress_all(&enc, data, 500, 128, round % 5 ? 0 : 300);
        int damage = 1 + static_cast<int>(next_random(&rng) % 4);
        for (int k = 0; k < damage; ++k) {
            size_t at = next_random(&rng) % code.size();
            switch (next_random(&rng) % 3) {
            case 0: code[at] ^= static_cast<uint8_t>(1u << (next_random(&rng) % 8)); break;
            case 1: code.erase(code.begin() + static_cast<long>(at)); break;
            default: code.insert(code.begin() + static_cast<long>(at), static_cast<uint8_t>(next_random(&rng))); break;
            }
        }
        ASSERT_EQ(v42b_init(&dec, 3, p1, p2), 1);
        size_t delivered = 0;
        ASSERT_NE(decode_with_random_rooms(&dec, code, &rng, &delivered), -1);
    }
}

} // namespace
