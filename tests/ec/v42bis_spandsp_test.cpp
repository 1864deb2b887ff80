// Interoperation with an independent V.42bis (libspandsp) in both directions.
#include <gtest/gtest.h>

#include "ec/v42bis_support.h"

#if HAVE_SPANDSP
#include <spandsp.h>

namespace {

using namespace v42bis_test;

struct Peer {
    // The library's free does not give back the state its init allocated, so the peer lives in memory of
    // the test's own (well above the state's size).
    alignas(64) static inline uint8_t memory[1 << 18];
    v42bis_state_t* state = nullptr;
    Bytes encoded;
    Bytes decoded;

    Peer(int p1, int p2, int mode)
    {
        std::memset(memory, 0, sizeof(memory));
        state = v42bis_init(reinterpret_cast<v42bis_state_t*>(memory), 3, p1, p2, on_encoded, this, 128,
                            on_decoded, this, 128);
        v42bis_compression_control(state, mode);
    }
    ~Peer() { v42bis_release(state); }
    static void on_encoded(void* user, const uint8_t* msg, int len)
    {
        auto* p = static_cast<Peer*>(user);
        p->encoded.insert(p->encoded.end(), msg, msg + len);
    }
    static void on_decoded(void* user, const uint8_t* msg, int len)
    {
        auto* p = static_cast<Peer*>(user);
        p->decoded.insert(p->decoded.end(), msg, msg + len);
    }
};

struct Corpus {
    const char* name;
    Bytes (*make)(size_t, uint32_t);
};

const Corpus kCorpora[] = {{"text", make_text}, {"binary", make_binary}, {"random", make_random},
                           {"mixed", make_mixed}};
const uint16_t kP1[] = {512, 1024, 2048};
const uint8_t kP2[] = {6, 32, 250};
const int kModes[] = {V42BIS_COMPRESSION_MODE_DYNAMIC, V42BIS_COMPRESSION_MODE_ALWAYS,
                      V42BIS_COMPRESSION_MODE_NEVER};

#if MODEM_UNDER_SANITIZER
constexpr size_t kSize = 40000;
#else
constexpr size_t kSize = 100000;
#endif

TEST(V42bisPeer, OurEncoderIntoPeerDecoder)
{
    static V42bisContext ctx;
    for (const Corpus& c : kCorpora)
        for (uint16_t p1 : kP1)
            for (uint8_t p2 : kP2) {
                SCOPED_TRACE(std::string(c.name) + " P1 " + std::to_string(p1) + " P2 " + std::to_string(p2));
                Bytes data = c.make(kSize, p1 + p2);
                ASSERT_EQ(v42b_init(&ctx, 3, p1, p2), 1);
                // Flushes now and then put FLUSH and its fill in the stream as LAPM frame ends do.
                Bytes code = compress_all(&ctx, data, 1000, 128, p2 == 32 ? 333 : 0);
                Peer peer(p1, p2, V42BIS_COMPRESSION_MODE_DYNAMIC);
                v42bis_decompress(peer.state, code.data(), static_cast<int>(code.size()));
                v42bis_decompress_flush(peer.state);
                ASSERT_EQ(peer.decoded.size(), data.size());
                ASSERT_TRUE(peer.decoded == data);
            }
}

TEST(V42bisPeer, PeerEncoderIntoOurDecoder)
{
    static V42bisContext ctx;
    for (const Corpus& c : kCorpora)
        for (uint16_t p1 : kP1)
            for (uint8_t p2 : kP2)
                for (int mode : kModes) {
                    SCOPED_TRACE(std::string(c.name) + " P1 " + std::to_string(p1) + " P2 " +
                                 std::to_string(p2) + " mode " + std::to_string(mode));
                    Bytes data = c.make(kSize, p1 + p2 + 1);
                    Peer peer(p1, p2, mode);
                    for (size_t at = 0; at < data.size(); at += 777) {
                        size_t n = std::min<size_t>(777, data.size() - at);
                        v42bis_compress(peer.state, data.data() + at, static_cast<int>(n));
                        if (p2 == 32)
                            v42bis_compress_flush(peer.state);
                    }
                    v42bis_compress_flush(peer.state);
                    ASSERT_EQ(v42b_init(&ctx, 3, p1, p2), 1);
                    Bytes out;
                    ASSERT_EQ(decompress_all(&ctx, peer.encoded, 1000, 4096, &out), V42B_OK);
                    ASSERT_EQ(out.size(), data.size());
                    ASSERT_TRUE(out == data);
                }
}

} // namespace
#endif
