// Our LAPM against an independent V.42 implementation (libspandsp, test only), in both roles, joined
// through HDLC bit streams: frames are flagged, bit-stuffed and checked by FCS on the way.
#ifdef HAVE_SPANDSP

#include <gtest/gtest.h>

#include <deque>
#include <vector>

extern "C" {
#include <spandsp.h>
#include <spandsp/private/hdlc.h>
#include <spandsp/private/logging.h>
#include <spandsp/private/v42.h>
}

#include "lapm_pair.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kBitRate = 28800;

struct PeerData {
    std::deque<uint8_t> to_send;
    Bytes received;
};

int peer_get(void* user, uint8_t* msg, int max_len)
{
    auto* d = static_cast<PeerData*>(user);
    int n = 0;
    while (n < max_len && !d->to_send.empty()) {
        msg[n++] = d->to_send.front();
        d->to_send.pop_front();
    }
    return n;
}

void peer_put(void* user, const uint8_t* msg, int len)
{
    if (len > 0)
        static_cast<PeerData*>(user)->received.insert(static_cast<PeerData*>(user)->received.end(), msg, msg + len);
}

// Our end: LAPM, with an HDLC transmitter and receiver of the independent library as its framer.
struct OurEnd {
    LapmEnd end;
    hdlc_tx_state_t tx;
    hdlc_rx_state_t rx;
    bool tx_busy = false;
    std::vector<Bytes> sent;
    std::vector<Bytes> heard;

    void feed()
    {
        if (tx_busy)
            return;
        FrameNode* f = lapm_tx_next(&end.link);
        if (!f)
            return;
        sent.emplace_back(f->data, f->data + f->length);
        hdlc_tx_frame(&tx, f->data, f->length);
        tx_busy = true;
    }
};

void our_underflow(void* user)
{
    auto* o = static_cast<OurEnd*>(user);
    o->tx_busy = false;
    o->feed();
}

void our_frame(void* user, const uint8_t* pkt, int len, int ok)
{
    auto* o = static_cast<OurEnd*>(user);
    if (len < 0)
        return;
    if (ok)
        o->heard.emplace_back(pkt, pkt + len);
    lapm_rx_frame(&o->end.link, pkt, static_cast<uint16_t>(len), !ok);
}

struct Interop {
    const char* name;
    bool ours_originate;
    uint32_t bit_error_every;
};

class LapmSpandspTest : public ::testing::TestWithParam<Interop> {
protected:
    void SetUp() override
    {
        ours_originate = GetParam().ours_originate;
        bit_error_every = GetParam().bit_error_every;
        LapmEnd& e = ours.end;
        e.call.tx_rate = e.call.rx_rate = kBitRate;
        e.call.connection_mode = 2;
        LapmHost host = lapm_test_host(&e.dte);
        lapm_init(&e.link, &host, &e.call, &e.counters);
        LapmSetup s = lapm_test_setup(0);
        lapm_setup(&e.link, &s);
        hdlc_tx_init(&ours.tx, 0, 2, 0, our_underflow, &ours);
        hdlc_rx_init(&ours.rx, 0, 1, 1, our_frame, &ours);
        v42_init(&peer, ours_originate ? 0 : 1, 0, peer_get, peer_put, &peer_data);
        peer.tx_bit_rate = kBitRate;
        v42_restart(&peer);
        lapm_start(&e.link, ours_originate ? 0 : 1);
    }

    void TearDown() override { v42_release(&peer); }

    // One 10 ms pass: the bits of both directions, then our step (and our 100 ms tick).
    void pass()
    {
        ms += 10;
        if (ms % 100 == 0)
            lapm_tick(&ours.end.link);
        for (int i = 0; i < kBitRate / 100; ++i) {
            int to_us = v42_tx_bit(&peer);
            int to_peer = hdlc_tx_get_bit(&ours.tx);
            if (bit_error_every && rng() % bit_error_every == 0)
                to_us ^= 1;
            if (bit_error_every && rng() % bit_error_every == 0)
                to_peer ^= 1;
            hdlc_rx_put_bit(&ours.rx, to_us);
            v42_rx_bit(&peer, to_peer);
        }
        ours.end.dte.room = ours.end.dte.read_per_pass;
        ours.end.status = lapm_step(&ours.end.link);
        ours.feed();
    }

    bool ours_originate = false;
    OurEnd ours;
    v42_state_t peer{};
    PeerData peer_data;
    uint64_t ms = 0;
    uint32_t bit_error_every = 0;  // one bit in this many is flipped on the line (0: none)
    std::mt19937 rng{5};
};

TEST_P(LapmSpandspTest, EstablishesAndPassesDataBothWays)
{
    for (int i = 0; i < 1000 && ours.end.status != LAPM_TRANSFER; ++i)
        pass();
    ASSERT_EQ(ours.end.status, LAPM_TRANSFER) << "table state " << int(ours.end.link.state);
    Bytes to_peer = lapm_test_pattern(40000, 11);
    Bytes to_us = lapm_test_pattern(40000, 12);
    ours.end.dte.input.assign(to_peer.begin(), to_peer.end());
    peer_data.to_send.assign(to_us.begin(), to_us.end());
    for (int i = 0; i < 6000; ++i) {
        if (peer_data.received.size() >= to_peer.size() && ours.end.dte.output.size() >= to_us.size())
            break;
        pass();
    }
    EXPECT_TRUE(peer_data.received == to_peer) << peer_data.received.size();
    EXPECT_TRUE(ours.end.dte.output == to_us) << ours.end.dte.output.size();
    EXPECT_EQ(ours.end.status, LAPM_TRANSFER);
    std::printf("%s: %.1f s, %zu frames sent, %zu heard, %d bad\n", GetParam().name, ms / 1000.0, ours.sent.size(),
                ours.heard.size(), ours.end.counters.bad_frames);
    // Nothing we sent was refused: the peer never answered with FRMR or DM, and we dropped none of its frames.
    for (const Bytes& f : ours.heard) {
        ASSERT_GE(f.size(), 2u);
        EXPECT_NE(f[1] & 0xEF, 0x87) << "FRMR from the peer";
        EXPECT_NE(f[1] & 0xEF, 0x0F) << "DM from the peer";
    }
    EXPECT_EQ(ours.end.link.short_frames + ours.end.link.wrong_address + ours.end.link.wrong_length, 0u);
    if (!bit_error_every) {
        EXPECT_EQ(ours.end.counters.bad_frames, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Roles, LapmSpandspTest,
                         ::testing::Values(Interop{"WeOriginate", true, 0}, Interop{"WeAnswer", false, 0},
                                           Interop{"WeOriginateNoisy", true, 20000},
                                           Interop{"WeAnswerNoisy", false, 20000}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

#endif
