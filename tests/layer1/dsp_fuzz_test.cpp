// Every command code with every length byte and random payloads: each command is taken and answered (or, for
// a parameter write that lands, silently applied), and no reply claims more than 16 payload bytes. Run under
// the address and undefined-behaviour sanitizers, this also shows that no handler reads or writes outside
// its buffers.
#include <gtest/gtest.h>

#include <random>

#include "dsp_fixture.h"

using dsptest::Bytes;
using dsptest::DspBench;

namespace {

TEST(DspFuzz, EveryCodeEveryLength)
{
    DspBench bench;
    DspInterfaceBlock* b = bench.block.get();
    std::mt19937 rng(12345);
    for (int code = 0; code < 256; ++code) {
        for (int length = 0; length < 256; ++length) {
            for (int i = 0; i < 16; ++i)
                WindowStore(b, kRegCommandPayload + i, static_cast<uint8_t>(rng()));
            WindowStore(b, kRegCommandLength, static_cast<uint8_t>(length));
            WindowStore(b, kRegCommandCode, static_cast<uint8_t>(code));
            b->commandEntry(bench.context.get());
            const std::vector<Bytes> packets = bench.Taken();
            ASSERT_EQ(bench.Reg(kRegCommandCode), 0);
            if (code == 0) {
                ASSERT_TRUE(packets.empty());
                continue;
            }
            const bool write = code >= 0x0C && code <= 0x0E;
            ASSERT_LE(packets.size(), 1u) << code << " " << length;
            if (!write) {
                ASSERT_EQ(packets.size(), 1u) << code << " " << length;
            }
            for (const Bytes& p : packets) {
                ASSERT_LE(p[2], 16) << code << " " << length;
                ASSERT_EQ(p.size(), 4u + p[2]);
            }
            // Keep the pump answering: undo what would hold commands back or stop replies.
            bench.context->command.digitBusy = 0;
        }
    }
    EXPECT_EQ(b->link.queueCount, 0u);
    EXPECT_EQ(b->memoryDirectoryCount, 112);
    EXPECT_EQ(b->tableDirectoryCount, 148);
}

}  // namespace
