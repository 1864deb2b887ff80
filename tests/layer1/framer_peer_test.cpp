// Framing against independent implementations (libspandsp's, linked by the tests only): HDLC frames our
// transmitter sends are received with a good FCS, and frames the peer sends reach the controller whole with
// status 1; asynchronous characters (start bit, eight data bits, stop bit) pass both ways.
#include <gtest/gtest.h>

#ifdef HAVE_SPANDSP

#include <algorithm>
#include <random>
#include <vector>

#include <spandsp.h>

#include "framer_fixture.h"

namespace {

#ifdef MODEM_UNDER_SANITIZER
constexpr int kPeerFrames = 100;
#else
constexpr int kPeerFrames = 1000;
#endif

std::vector<std::vector<uint8_t>> RandomFrames(uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<std::vector<uint8_t>> frames(kPeerFrames);
    for (auto& f : frames) {
        f.resize(1 + rng() % 64);
        for (auto& b : f)
            b = static_cast<uint8_t>(rng());
        if (rng() % 4 == 0) {
            for (auto& b : f)
                b |= 0x7E;  // long runs of ones: stuffing everywhere
        }
    }
    return frames;
}

struct PeerFrames {
    std::vector<std::vector<uint8_t>> good;
    int bad = 0;
};

void OnPeerFrame(void* user, const uint8_t* pkt, int len, int ok)
{
    auto* r = static_cast<PeerFrames*>(user);
    if (len < 0)
        return;  // a status report, not a frame
    if (ok)
        r->good.emplace_back(pkt, pkt + len);
    else
        ++r->bad;
}

TEST(FramerPeer, PeerReceivesOurFramesWithAGoodFcs)
{
    const auto frames = RandomFrames(31);
    FramerBench tx(2);
    for (const auto& f : frames)
        tx.mailbox.Write(f, kTxEndOfFrame);
    PeerFrames got;
    hdlc_rx_state_t* rx = hdlc_rx_init(nullptr, 0, 1, 1, OnPeerFrame, &got);
    std::mt19937 rng(5);
    for (int idle = 0; idle < 64;) {
        if (tx.mailbox.tx.empty() && tx.framer.tx.fifo.count == 0)
            idle += 16;
        const int n = 1 + static_cast<int>(rng() % 16);
        const int32_t bits = FramerGetTxBits(&tx.framer, n);
        for (int i = 0; i < n; ++i)
            hdlc_rx_put_bit(rx, (bits >> i) & 1);
    }
    hdlc_rx_free(rx);
    EXPECT_EQ(got.bad, 0);
    EXPECT_EQ(got.good, frames);
}

TEST(FramerPeer, PeerFramesReachTheControllerWhole)
{
    const auto frames = RandomFrames(32);
    hdlc_tx_state_t* peer = hdlc_tx_init(nullptr, 0, 1, 0, nullptr, nullptr);
    hdlc_tx_flags(peer, 8);
    FramerBench rx(2);
    std::vector<std::vector<uint8_t>> got;
    std::vector<uint8_t> current;
    size_t next = 0;
    std::mt19937 rng(6);
    for (int step = 0; step < 4000000 && got.size() < frames.size(); ++step) {
        if (next < frames.size() && hdlc_tx_frame(peer, frames[next].data(), frames[next].size()) == 0)
            ++next;
        const int n = 1 + static_cast<int>(rng() % 16);
        uint32_t bits = 0;
        for (int i = 0; i < n; ++i) {
            const int bit = hdlc_tx_get_bit(peer);
            bits |= static_cast<uint32_t>(bit < 0 ? 1 : bit & 1) << i;
        }
        FramerPutRxBits(&rx.framer, bits, n);
        FramerPostRxBytes(&rx.framer);
        for (const FramerChunk& c : rx.mailbox.rx) {
            current.insert(current.end(), c.bytes.begin(), c.bytes.end());
            if (c.flags == 0)
                continue;
            EXPECT_EQ(c.flags, kRxGoodFrame);
            if (current.size() >= 2)
                current.resize(current.size() - 2);  // the FCS bytes
            got.push_back(current);
            current.clear();
        }
        rx.mailbox.rx.clear();
    }
    hdlc_tx_free(peer);
    EXPECT_EQ(got, frames);
}

struct ByteSource {
    std::vector<uint8_t> data;
    size_t next = 0;
};

// The peer sends its idle as characters of 0xFF, so it is kept busy until the data ends.
int NextPeerByte(void* user)
{
    auto* s = static_cast<ByteSource*>(user);
    return s->next == s->data.size() ? -1 : s->data[s->next++];
}

void OnPeerByte(void* user, int byte)
{
    if (byte >= 0)
        static_cast<std::vector<uint8_t>*>(user)->push_back(static_cast<uint8_t>(byte));
}

std::vector<uint8_t> RandomBytes(uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> data(static_cast<size_t>(kPeerFrames) * 20);
    for (auto& b : data)
        b = static_cast<uint8_t>(rng());
    return data;
}

TEST(FramerPeer, AsynchronousCharactersPassBothWays)
{
    const std::vector<uint8_t> data = RandomBytes(33);
    std::mt19937 rng(7);
    {
        // Ours to the peer, with idle mark after some chunks.
        FramerBench tx(0);
        for (size_t i = 0; i < data.size(); i += 32)
            tx.mailbox.Write(std::vector<uint8_t>(data.begin() + static_cast<long>(i),
                                                  data.begin() + static_cast<long>(std::min(i + 32, data.size()))),
                             rng() % 4 == 0 ? kTxIdle : 0);
        std::vector<uint8_t> got;
        async_rx_state_t* rx = async_rx_init(nullptr, 8, ASYNC_PARITY_NONE, 1, 0, OnPeerByte, &got);
        for (int idle = 0; idle < 64;) {
            if (tx.mailbox.tx.empty() && tx.framer.tx.fifo.count == 0 && tx.framer.tx.count == 0)
                idle += 16;
            const int n = 1 + static_cast<int>(rng() % 16);
            const int32_t bits = FramerGetTxBits(&tx.framer, n);
            for (int i = 0; i < n; ++i)
                async_rx_put_bit(rx, (bits >> i) & 1);
        }
        async_rx_free(rx);
        EXPECT_EQ(got, data);
    }
    {
        // The peer's to ours.
        ByteSource source;
        source.data = data;
        async_tx_state_t* peer = async_tx_init(nullptr, 8, ASYNC_PARITY_NONE, 1, 0, NextPeerByte, &source);
        FramerBench rx(0);
        std::vector<uint8_t> got;
        for (int step = 0; step < 4000000 && got.size() < data.size(); ++step) {
            const int n = 1 + static_cast<int>(rng() % 16);
            uint32_t bits = 0;
            for (int i = 0; i < n; ++i) {
                const int bit = async_tx_get_bit(peer);
                bits |= static_cast<uint32_t>(bit < 0 ? 1 : bit & 1) << i;
            }
            FramerPutRxBits(&rx.framer, bits, n);
            FramerPostRxBytes(&rx.framer);
            for (const FramerChunk& c : rx.mailbox.rx) {
                EXPECT_EQ(c.flags, 0);
                got.insert(got.end(), c.bytes.begin(), c.bytes.end());
            }
            rx.mailbox.rx.clear();
        }
        async_tx_free(peer);
        EXPECT_EQ(got, data);
    }
}

}  // namespace

#endif
