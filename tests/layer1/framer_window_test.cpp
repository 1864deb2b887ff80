// The device's framer on the register window: type by command 0x61, restarts by 0x8B, transmit chunks taken
// from registers 84-117, received chunks posted to 20-53, and the transmit-data-wanted bit of register 54.
#include <gtest/gtest.h>

#include <random>

#include "dsp_fixture.h"
#include "framer_fixture.h"
#include "layer1/dsp/mode_entries.h"

using dsptest::Bytes;
using dsptest::DspBench;

namespace {

// The controller's side of the two data chunks, and the block thread's use of the framer under the lock.
struct WindowLink {
    DspBench bench;
    DspInterfaceBlock* b = bench.block.get();
    DspContext* ctx = bench.context.get();

    // Writes a transmit chunk as the controller does: bytes, then count and flags as one pair.
    bool WriteTx(const Bytes& bytes, uint8_t flags)
    {
        if (WindowLoadPair(b, kRegTxCount) != 0)
            return false;
        for (size_t i = 0; i < bytes.size(); ++i)
            WindowStore(b, kRegTxData + static_cast<int>(i), bytes[i]);
        WindowStorePair(b, kRegTxCount, static_cast<uint16_t>(bytes.size() | (flags << 8)));
        return true;
    }
    // Takes a receive chunk, if one waits.
    bool ReadRx(FramerChunk* chunk)
    {
        const uint16_t pair = WindowLoadPair(b, kRegRxCount);
        if (pair == 0)
            return false;
        chunk->flags = static_cast<uint8_t>(pair >> 8);
        chunk->bytes.clear();
        for (int i = 0; i < (pair & 0xFF); ++i)
            chunk->bytes.push_back(WindowLoad(b, kRegRxData + i));
        WindowStorePair(b, kRegRxCount, 0);
        return true;
    }
    // One block's worth of line bits looped from transmit to receive, then the per-block post.
    void LoopBlock(int groups, int bits)
    {
        LockDsp(b);
        for (int i = 0; i < groups; ++i)
            FramerPutRxBits(ctx, static_cast<uint32_t>(FramerGetTxBits(ctx, bits)), bits);
        FramerPostRxBytes(ctx);
        UnlockDsp(b);
    }
};

TEST(FramerWindow, HdlcFramesLoopThroughBothChunks)
{
    WindowLink link;
    link.bench.Send(0x61, {2, 0, 0, 0});
    std::mt19937 rng(12);
    std::vector<Bytes> sent;
    for (int f = 0; f < 6; ++f) {
        Bytes frame(1 + rng() % 90);
        for (uint8_t& v : frame)
            v = static_cast<uint8_t>(rng());
        sent.push_back(frame);
    }
    // The controller writes each frame in chunks of at most 32 bytes, flags 1 on the last.
    size_t frame = 0;
    size_t at = 0;
    std::vector<Bytes> received;
    Bytes current;
    for (int block = 0; block < 400 && received.size() < sent.size(); ++block) {
        if (frame < sent.size()) {
            const Bytes& data = sent[frame];
            const size_t n = std::min<size_t>(32, data.size() - at);
            const bool last = at + n == data.size();
            if (link.WriteTx(Bytes(data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + n)),
                             last ? kTxEndOfFrame : 0)) {
                at += n;
                if (last) {
                    ++frame;
                    at = 0;
                }
            }
        }
        link.LoopBlock(6, 16);
        FramerChunk chunk;
        while (link.ReadRx(&chunk)) {
            current.insert(current.end(), chunk.bytes.begin(), chunk.bytes.end());
            if (chunk.flags != 0) {
                ASSERT_EQ(chunk.flags, kRxGoodFrame);
                ASSERT_GE(current.size(), 2u);
                current.resize(current.size() - 2);  // the FCS bytes
                received.push_back(current);
                current.clear();
            }
            link.LoopBlock(0, 0);
        }
    }
    EXPECT_EQ(received, sent);
}

TEST(FramerWindow, EmptyTransmitChunkAsksForDataAndAChunkClearsTheBit)
{
    WindowLink link;
    link.bench.Send(0x61, {0});
    WindowStore(link.b, kRegHostControl, kNotifyEnable);
    link.bench.Send(0x7D, {});  // passes the register-247 change
    const uint64_t before = link.bench.callbacks;
    link.LoopBlock(1, 10);
    EXPECT_NE(link.bench.Reg(kRegStatus) & kTxDataWantedBit, 0);
    EXPECT_GT(link.bench.callbacks, before);
    ASSERT_TRUE(link.WriteTx({0x41}, 0));
    LockDsp(link.b);
    const int32_t bits = FramerGetTxBits(link.ctx, 10);
    UnlockDsp(link.b);
    EXPECT_EQ(bits, (0x41 << 1) | 0x200);
    EXPECT_EQ(link.bench.Reg(kRegStatus) & kTxDataWantedBit, 0);
    EXPECT_EQ(WindowLoadPair(link.b, kRegTxCount), 0);  // taken
}

// 0x61 sets the type of both directions; 0x8B restarts one side (payload[0] non-zero: receive).
TEST(FramerWindow, TypeCommandAndRestartCommand)
{
    WindowLink link;
    EXPECT_EQ(link.bench.Reply(0x61, {2, 0}), (Bytes{0xC0, 0, 1, 0, 0x61}));
    EXPECT_EQ(link.ctx->signal.framer.rx.type, 2);
    EXPECT_EQ(link.ctx->signal.framer.tx.type, 2);
    LockDsp(link.b);
    EXPECT_EQ(FramerGetTxBits(link.ctx, 8), 0x7E);  // idle flags
    FramerPutRxBits(link.ctx, 0x7E, 8);
    FramerPutRxBits(link.ctx, 0x5, 3);               // part of a frame's first group
    UnlockDsp(link.b);
    EXPECT_EQ(link.ctx->signal.framer.rx.state, 1);
    EXPECT_EQ(link.bench.Reply(0x8B, {1}), (Bytes{0xC0, 0, 1, 0, 0x8B}));
    EXPECT_EQ(link.ctx->signal.framer.rx.state, 0);
    EXPECT_EQ(link.ctx->signal.framer.rx.count, 0);
    EXPECT_EQ(link.ctx->signal.framer.rx.run, 7);

    // A transmit restart drops the bits held for the line and starts again with a flag.
    LockDsp(link.b);
    (void)FramerGetTxBits(link.ctx, 3);
    UnlockDsp(link.b);
    EXPECT_EQ(link.bench.Reply(0x8B, {0}), (Bytes{0xC0, 0, 1, 0, 0x8B}));
    LockDsp(link.b);
    EXPECT_EQ(FramerGetTxBits(link.ctx, 8), 0x7E);
    UnlockDsp(link.b);

    // A full reset returns both directions to asynchronous characters.
    link.bench.Send(0x60, {0});
    EXPECT_EQ(link.ctx->signal.framer.rx.type, 0);
    EXPECT_EQ(link.ctx->signal.framer.tx.type, 0);
}

}  // namespace
