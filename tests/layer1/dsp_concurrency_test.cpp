// Commands from one thread while the block thread runs blocks that post events: every packet arrives whole,
// no event is lost or reordered, every command gets its own reply. Also run under the thread sanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "dsp_fixture.h"
#include "platform/ke.h"

using dsptest::Bytes;
using dsptest::DspBench;

namespace {

constexpr uint32_t kBlocks = 100000;

std::atomic<uint32_t> g_nextEvent{0};

// An idle block that also posts one event packet carrying its sequence number.
void EventBlockHandler(DspContext* ctx)
{
    IdleBlockHandler(ctx);
    const uint32_t n = g_nextEvent.fetch_add(1, std::memory_order_relaxed);
    const uint8_t payload[4] = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n >> 16),
                                static_cast<uint8_t>(~n)};
    ASSERT_EQ(PostReply(ctx->interfaceBlock, IcdEvent, 4, payload), 1);
}

TEST(DspConcurrency, CommandsWhileBlocksPostEvents)
{
    DspBench bench;
    g_nextEvent = 0;
    DspContext* ctx = bench.context.get();
    LockDsp(bench.block.get());
    ctx->blockHandler = EventBlockHandler;
    UnlockDsp(bench.block.get());

    std::atomic<bool> done{false};
    // Blocks follow each other at once here, not every 10 ms: when the controller falls behind, the block
    // thread waits for room in the reply queue as the line's pace would give it.
    auto queued = [&] {
        LockDsp(bench.block.get());
        const uint32_t n = bench.block->link.queueCount;
        UnlockDsp(bench.block.get());
        return n;
    };
    std::thread blocks([&] {
        for (uint32_t i = 0; i < kBlocks; ++i) {
            while (queued() > kReplyQueueEntries / 2)
                std::this_thread::yield();
            ctx->perBlockEntry(ctx);
        }
        done = true;
    });

    std::vector<Bytes> all;
    uint32_t versions = 0;
    uint32_t levels = 0;
    uint32_t sent = 0;
    while (!done.load() || sent < 1000) {
        std::vector<Bytes> got;
        switch (sent % 3) {
        case 0:
            got = bench.Send(0x94, {});
            versions += 1;
            break;
        case 1:
            got = bench.Send(0x0A, {226, 0});  // the idle block's level word
            levels += 1;
            break;
        default:
            got = bench.Send(0x7B, {0x37, 0x63, 0});
            break;
        }
        sent += 1;
        for (Bytes& p : got)
            all.push_back(std::move(p));
    }
    blocks.join();
    for (Bytes& p : bench.Taken())
        all.push_back(std::move(p));

    uint32_t expectedEvent = 0;
    uint32_t seenVersions = 0;
    uint32_t seenLevels = 0;
    uint32_t seenAcks = 0;
    for (const Bytes& p : all) {
        ASSERT_GE(p.size(), 4u);
        ASSERT_EQ(p.size(), 4u + p[2]);
        switch (p[0]) {
        case IcdEvent: {
            ASSERT_EQ(p[2], 4);
            const uint32_t n = p[4] | (p[5] << 8) | (p[6] << 16);
            ASSERT_EQ(n, expectedEvent) << "event lost or out of order";
            ASSERT_EQ(p[7], static_cast<uint8_t>(~n)) << "torn event";
            expectedEvent += 1;
            break;
        }
        case 0xCB:
            ASSERT_EQ(p, (Bytes{0xCB, 0, 8, 0, 1, 0, 4, 0, 4, 0, 0x43, 0}));
            seenVersions += 1;
            break;
        case 0x15:
            ASSERT_EQ(p[2], 2);
            ASSERT_TRUE(p[4] == 95 || p[4] == 0);  // silence: 8 - (-87), or before the first block
            seenLevels += 1;
            break;
        case 0xC0:
            ASSERT_EQ(p, (Bytes{0xC0, 0, 1, 0, 0x7B}));
            seenAcks += 1;
            break;
        default:
            FAIL() << "unexpected packet " << int(p[0]);
        }
    }
    EXPECT_EQ(expectedEvent, kBlocks);
    EXPECT_EQ(seenVersions, versions);
    EXPECT_EQ(seenLevels, levels);
    EXPECT_EQ(seenAcks, sent - versions - levels);
    EXPECT_EQ(bench.block->link.queueCount, 0u);
    EXPECT_EQ(bench.block->link.droppedPackets, 0u);
    EXPECT_EQ(bench.Reg(kRegReplyCode), 0);
    EXPECT_EQ(bench.context->txLevelDb, 0);
}

// From DISPATCH_LEVEL the command entry cannot wait for a running block: the command stays in the window,
// not taken, and runs when the block ends.
TEST(DspConcurrency, CommandAtDispatchLevelRunsAfterTheBlock)
{
    DspBench bench;
    DspInterfaceBlock* b = bench.block.get();
    std::atomic<int> stage{0};
    std::thread block([&] {
        LockDsp(b);  // a block in progress
        stage = 1;
        while (stage.load() != 2)
            std::this_thread::yield();
        RunPendingCommand(bench.context.get());
        UnlockDsp(b);
    });
    while (stage.load() != 1)
        std::this_thread::yield();
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    EXPECT_TRUE(bench.Send(0x63, {}).empty());
    KeLowerIrql(old);
    EXPECT_EQ(bench.Reg(kRegCommandCode), 0x63);
    stage = 2;
    block.join();
    EXPECT_EQ(bench.Reg(kRegCommandCode), 0);
    const std::vector<Bytes> packets = bench.Taken();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0], (Bytes{0xC0, 0, 1, 0, 0x63}));
    // With the lock free, a command from DISPATCH_LEVEL runs at once.
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    EXPECT_EQ(bench.Send(0x94, {}).size(), 1u);
    KeLowerIrql(old);
}

// Receive and transmit chunks: count and flags travel together, the bytes before them.
TEST(DspConcurrency, DataChunksArriveWhole)
{
    DspBench bench;
    DspInterfaceBlock* b = bench.block.get();
    constexpr int kChunks = 20000;
    std::thread pump([&] {
        uint8_t bytes[32];
        for (int i = 0; i < kChunks;) {
            const uint8_t n = static_cast<uint8_t>(1 + i % 32);
            for (int j = 0; j < n; ++j)
                bytes[j] = static_cast<uint8_t>(i + j);
            LockDsp(b);
            const int posted = PostRxBytes(b, static_cast<uint8_t>(i % 6), n, bytes);
            UnlockDsp(b);
            if (posted)
                ++i;
            else
                std::this_thread::yield();
        }
    });
    for (int i = 0; i < kChunks;) {
        const uint16_t pair = WindowLoadPair(b, kRegRxCount);
        if (pair == 0) {
            std::this_thread::yield();
            continue;
        }
        const uint8_t n = static_cast<uint8_t>(pair);
        ASSERT_EQ(n, 1 + i % 32);
        ASSERT_EQ(pair >> 8, i % 6);
        for (int j = 0; j < n; ++j)
            ASSERT_EQ(WindowLoad(b, kRegRxData + j), static_cast<uint8_t>(i + j));
        WindowStorePair(b, kRegRxCount, 0);
        ++i;
    }
    pump.join();

    // Transmit: the controller publishes bytes, then flags and count together; the pump takes whole chunks.
    uint8_t flags = 0;
    uint8_t count = 0;
    uint8_t bytes[32];
    EXPECT_EQ(FetchTxBytes(b, &flags, &count, bytes), 0);
    for (int j = 0; j < 32; ++j)
        WindowStore(b, kRegTxData + j, static_cast<uint8_t>(j));
    WindowStorePair(b, kRegTxCount, static_cast<uint16_t>(40 | (1 << 8)));  // a count above 32 is taken as 32
    EXPECT_EQ(FetchTxBytes(b, &flags, &count, bytes), 1);
    EXPECT_EQ(count, 32);
    EXPECT_EQ(flags, 1);
    EXPECT_EQ(bytes[31], 31);
    EXPECT_EQ(WindowLoadPair(b, kRegTxCount), 0);
    WindowStorePair(b, kRegTxCount, static_cast<uint16_t>(3 << 8));  // flags only: an abort
    EXPECT_EQ(FetchTxBytes(b, &flags, &count, bytes), 1);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(flags, 3);
}

}  // namespace
