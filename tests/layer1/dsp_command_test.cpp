// Command bytes in, reply bytes out, through the register window: acknowledgements, reports, echoes, length
// clamping, notifications, register 247, resets, the reply queue and the digit-busy rule.
#include <gtest/gtest.h>

#include "dsp_fixture.h"

using dsptest::Bytes;
using dsptest::DspBench;

namespace {

struct ReplyCase {
    const char* name;
    uint8_t code;
    Bytes payload;
    int lengthByte;  // -1: the payload's size
    Bytes expected;
};

Bytes Echo(uint8_t code, const Bytes& payload)
{
    Bytes b{code, 0, static_cast<uint8_t>(payload.size()), 0};
    for (uint8_t v : payload)
        b.push_back(v);
    return b;
}

TEST(DspCommand, RepliesToCommandBytes)
{
    const Bytes sixteen{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    const ReplyCase cases[] = {
        {"unknown table slot", 0x63, {}, -1, {0xC0, 0, 1, 0, 0x63}},
        {"code below the table", 0x20, {}, -1, {0xC0, 0, 1, 0, 0x20}},
        {"code above the table", 0xFF, {9}, -1, {0xC0, 0, 1, 0, 0xFF}},
        {"code 1", 0x01, {}, -1, {0xC0, 0, 1, 0, 0x01}},
        {"nop", 0x7D, {}, -1, {0xC0, 0, 1, 0, 0x7D}},
        {"version", 0x94, {}, -1, {0xCB, 0, 8, 0, 1, 0, 4, 0, 4, 0, 0x43, 0}},
        {"version ignores payload", 0x94, {7, 7, 7}, -1, {0xCB, 0, 8, 0, 1, 0, 4, 0, 4, 0, 0x43, 0}},
        {"renegotiate echoed", 0x6B, {0x05, 0x00}, -1, Echo(0x6B, {0x05, 0x00})},
        {"rate limit echoed", 0x85, {0x07, 0x00}, -1, Echo(0x85, {0x07, 0x00})},
        {"pump options echoed", 0x64, {1, 2, 3, 4}, -1, Echo(0x64, {1, 2, 3, 4})},
        {"pump options 8 echoed", 0x64, {1, 2, 3, 4, 5, 6, 7, 8}, -1, Echo(0x64, {1, 2, 3, 4, 5, 6, 7, 8})},
        {"phase-2 control echoed", 0xA0, {9, 8}, -1, Echo(0xA0, {9, 8})},
        {"PCM control echoed", 0xA1, {5, 1}, -1, Echo(0xA1, {5, 1})},
        {"end download echoed", 0xA3, {1, 0}, -1, Echo(0xA3, {1, 0})},
        {"voice sub-mode outside voice echoed", 0x95, {3, 0}, -1, Echo(0x95, {3, 0})},
        {"length 20 read as 16", 0x6B, sixteen, 20, Echo(0x6B, sixteen)},
        {"length 255 read as 16", 0xA0, sixteen, 255, Echo(0xA0, sixteen)},
        {"length 15 kept", 0xA0, Bytes(sixteen.begin(), sixteen.begin() + 15), -1,
         Echo(0xA0, Bytes(sixteen.begin(), sixteen.begin() + 15))},
        {"mode report", 0x72, {}, -1, {0xC2, 0, 1, 0, 0}},
        {"set framing", 0x61, {0, 0}, -1, {0xC0, 0, 1, 0, 0x61}},
        {"light reset", 0x60, {1}, -1, {0xC0, 0, 1, 0, 0x60}},
        {"go idle", 0x98, {}, -1, {0xC0, 0, 1, 0, 0x98}},
        {"link status", 0x82, {}, -1, {0xCC, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"link params", 0x91, {}, -1, {0xC6, 0, 6, 0, 0, 0, 0, 11, 0, 0}},
    };
    for (const ReplyCase& c : cases) {
        DspBench bench;
        const std::vector<Bytes> packets = bench.Send(c.code, c.payload, c.lengthByte);
        ASSERT_EQ(packets.size(), 1u) << c.name;
        EXPECT_EQ(packets[0], c.expected) << c.name;
        EXPECT_EQ(bench.Reg(kRegCommandCode), 0) << c.name;
    }
}

TEST(DspCommand, NoCommandNoReply)
{
    DspBench bench;
    bench.block->commandEntry(bench.context.get());
    EXPECT_TRUE(bench.Taken().empty());
    EXPECT_EQ(bench.callbacks, 0u);
}

TEST(DspCommand, TransmitLevelFromGainWords)
{
    const struct {
        uint16_t word;
        int16_t dB;
    } cases[] = {{25399, 0}, {22637, -1}, {17981, -3}, {10112, -8}, {8032, -10}, {4027, -16},
                 {9000, -9}, {0, -9},     {25400, -9}, {0xFFFF, -9}};
    DspBench bench;
    for (const auto& c : cases) {
        bench.Send(0x7B, {static_cast<uint8_t>(c.word), static_cast<uint8_t>(c.word >> 8), 1});
        EXPECT_EQ(bench.context->txLevelDb, c.dB) << c.word;
        EXPECT_EQ(bench.context->txLevelFlag, 1);
    }
}

TEST(DspCommand, NotificationOnlyWhileEnabled)
{
    DspBench bench;
    DspInterfaceBlock* b = bench.block.get();
    // Disabled: the value is stored and nobody is called.
    LockDsp(b);
    WriteRegister(b, kRegNotify, 7);
    UnlockDsp(b);
    EXPECT_EQ(bench.callbacks, 0u);
    EXPECT_EQ(GetRegister(b, kRegNotify), 7);
    EXPECT_EQ(ReadRegister(b, kRegNotify), 0);  // reads as 0
    // Enabled: the controller is called and the value is not stored.
    SetRegister(b, kRegNotify, 0);
    SetRegister(b, kRegHostControl, kNotifyEnable);
    LockDsp(b);
    WriteRegister(b, kRegNotify, 9);
    EXPECT_EQ(bench.callbacks, 0u);  // not while the device lock is held
    UnlockDsp(b);
    EXPECT_EQ(bench.callbacks, 1u);
    EXPECT_EQ(GetRegister(b, kRegNotify), 0);
    // Other bits of 247 do not enable it.
    SetRegister(b, kRegHostControl, 0xFD);
    LockDsp(b);
    WriteRegister(b, kRegNotify, 5);
    UnlockDsp(b);
    EXPECT_EQ(bench.callbacks, 1u);
    EXPECT_EQ(GetRegister(b, kRegNotify), 5);
}

TEST(DspCommand, GoIdleNotifiesThroughRegister255)
{
    DspBench bench;
    SetRegister(bench.block.get(), kRegStatus, 0x53);
    bench.Send(0x98, {});
    EXPECT_EQ(bench.Reg(kRegStatus), 0x40);
    EXPECT_EQ(bench.Reg(kRegNotify), 1);  // notifications off: stored
    SetRegister(bench.block.get(), kRegNotify, 0);
    SetRegister(bench.block.get(), kRegHostControl, kNotifyEnable);
    bench.Send(0x7D, {});  // passes the 247 change first
    const uint64_t before = bench.callbacks;
    bench.Send(0x98, {});
    // fetch, notification, reply
    EXPECT_EQ(bench.callbacks - before, 3u);
    EXPECT_EQ(bench.Reg(kRegNotify), 0);
}

TEST(DspCommand, HostControlChangesReachTheLine)
{
    DspBench bench;
    auto word = [](uint32_t v) {
        return Bytes{static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                     static_cast<uint8_t>(v >> 24)};
    };
    SetRegister(bench.block.get(), kRegHostControl, 2);
    bench.block->commandEntry(bench.context.get());  // no command: the change is still passed on
    auto calls = bench.lower.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].code, 32u);
    EXPECT_EQ(calls[0].input, word(0));
    EXPECT_EQ(calls[1].code, 18u);
    EXPECT_EQ(calls[1].input, word(0));
    bench.lower.ClearCalls();
    bench.Send(0x7D, {});  // unchanged: nothing
    EXPECT_TRUE(bench.lower.Calls().empty());
    SetRegister(bench.block.get(), kRegHostControl, 0);
    bench.Send(0x7D, {});
    calls = bench.lower.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].code, 33u);
    EXPECT_EQ(calls[1].code, 18u);
    EXPECT_EQ(calls[1].input, word(2));
}

TEST(DspCommand, FullResetEffects)
{
    DspBench bench(false);
    DspInterfaceBlock* b = bench.block.get();
    SetRegister(b, kRegStatus, 0x53);
    bench.context->modeFlagByte = 0x03;
    bench.context->command.digitBusy = 0;
    EXPECT_EQ(bench.Reply(0x60, {0}), (Bytes{0xC0, 0, 1, 0, 0x60}));
    EXPECT_EQ(bench.Reg(kRegResetMarker), 2);
    EXPECT_EQ(bench.Reg(kRegStatus), 0x40);  // state 0, in-data bit cleared, other bits kept
    EXPECT_EQ(bench.context->modeState, -1);
    EXPECT_EQ(bench.context->modeFlagByte, 0x01);
    EXPECT_EQ(bench.context->command.filtersCreated, 1);
    EXPECT_NE(bench.context->filters.fir48[0], nullptr);
    EXPECT_NE(bench.context->filters.lms48[1][2], nullptr);
    EXPECT_EQ(bench.context->blockHandler, &IdleBlockHandler);
    const auto calls = bench.lower.Calls();
    std::vector<uint32_t> codes;
    for (const auto& c : calls)
        codes.push_back(c.code);
    ASSERT_EQ(codes, (std::vector<uint32_t>{4, 13, 11}));
    EXPECT_EQ(calls[0].input, (Bytes{0x80, 0x25, 96, 0}));  // 9600 Hz, 96 samples
    EXPECT_EQ(calls[1].input, (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(calls[2].input, (Bytes{0, 0}));
    EXPECT_EQ(b->tableDirectoryCount, 148);
    EXPECT_EQ(b->memoryDirectoryCount, 112);
    FirState* const fir = bench.context->filters.fir48[0];
    SetRegister(b, kRegResetMarker, 0);
    bench.Send(0x60, {2});
    EXPECT_EQ(b->tableDirectoryCount, 148);
    EXPECT_EQ(b->memoryDirectoryCount, 112);
    EXPECT_EQ(bench.Reg(kRegResetMarker), 2);
    EXPECT_EQ(bench.context->filters.fir48[0], fir);  // made once
}

TEST(DspCommand, LightReset)
{
    DspBench bench(false);
    bench.context->seqB.auxTimer = 5;
    bench.Send(0x60, {1});
    EXPECT_EQ(bench.Reg(kRegResetMarker), 0);
    EXPECT_EQ(bench.context->seqB.auxTimer, 0);
    EXPECT_EQ(bench.context->command.filtersCreated, 1);
    EXPECT_EQ(bench.block->memoryDirectoryCount, 0);
    std::vector<uint32_t> codes;
    for (const auto& c : bench.lower.Calls())
        codes.push_back(c.code);
    EXPECT_EQ(codes, (std::vector<uint32_t>{4}));
}

TEST(DspCommand, BusyMailboxQueuesRepliesInOrder)
{
    DspBench bench;
    bench.holdMailbox = true;
    bench.Send(0x7D, {});
    bench.Send(0x94, {});
    bench.Send(0x63, {});
    EXPECT_EQ(bench.Reg(kRegReplyCode), 0xC0);
    EXPECT_EQ(bench.block->link.queueCount, 2u);
    bench.holdMailbox = false;
    DspBench::Callback(bench.block.get());  // the controller takes the first packet
    bench.block->commandEntry(bench.context.get());  // the next entry moves the queue along
    const std::vector<Bytes> packets = bench.Taken();
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_EQ(packets[0], (Bytes{0xC0, 0, 1, 0, 0x7D}));
    EXPECT_EQ(packets[1], (Bytes{0xCB, 0, 8, 0, 1, 0, 4, 0, 4, 0, 0x43, 0}));
    EXPECT_EQ(packets[2], (Bytes{0xC0, 0, 1, 0, 0x63}));
    EXPECT_EQ(bench.block->link.queueCount, 0u);
}

TEST(DspCommand, FullQueueCountsTheLoss)
{
    DspBench bench;
    bench.holdMailbox = true;
    for (int i = 0; i < kReplyQueueEntries + 3; ++i)
        bench.Send(0x7D, {});
    EXPECT_EQ(bench.block->link.queueCount, static_cast<uint32_t>(kReplyQueueEntries));
    EXPECT_EQ(bench.block->link.droppedPackets, 2u);
}

TEST(DspCommand, DigitBusyTakesCommandsWithoutReply)
{
    DspBench bench;
    bench.context->command.digitBusy = 1;
    bench.context->modeState = 0;
    EXPECT_TRUE(bench.Send(0x63, {}).empty());
    EXPECT_EQ(bench.Reg(kRegCommandCode), 0);
    bench.context->modeState = 5;  // caller ID during a call
    EXPECT_EQ(bench.Reply(0x63, {}), (Bytes{0xC0, 0, 1, 0, 0x63}));
}

TEST(DspCommand, StartConnectionRouting)
{
    struct Case {
        const char* name;
        Bytes payload;
        uint8_t status;
        int32_t kind;
    } cases[] = {
        {"single tone originating", {3, 2, 0x24, 0}, 7, 0},
        {"single tone answering", {3, 2, 0x20, 0}, 7, 0},
        {"basic", {3, 2, 0x04, 0}, 1, 0},
        {"automode", {9, 12, 0x0C, 0}, 1, 1},
        {"V.8", {9, 16, 0x14, 0}, 1, 2},
        {"mode 1 forces kind 0", {3, 1, 0x14, 0}, 1, 0},
        {"mode 5 forces kind 0", {3, 5, 0x0C, 0}, 1, 0},
        {"phase-2 kind forces kind 0", {9, 17, 0x14, 1}, 0, 0},
    };
    for (const Case& c : cases) {
        DspBench bench;
        EXPECT_EQ(bench.Reply(0x68, c.payload), (Bytes{0xC0, 0, 1, 0, 0x68})) << c.name;
        EXPECT_EQ(bench.Reg(kRegStatus) & 0x0F, c.status) << c.name;
        EXPECT_EQ(bench.context->connection.procedureKind, c.kind) << c.name;
        EXPECT_EQ(bench.context->modeNumber, c.payload[1] & 0x1F) << c.name;
        EXPECT_EQ(bench.context->connection.originate, (c.payload[2] >> 2) & 1) << c.name;
    }
}

TEST(DspCommand, PcmSkipStartsPhase2)
{
    DspBench bench;
    bench.Send(0xA1, {2});
    bench.Send(0x68, {9, 23, 0x04, 1, 0x0C, 0});  // 6 bytes: option byte bit 2 set, bit 3 dropped
    EXPECT_EQ(bench.context->blockHandler, &Phase2BlockHandler);
    EXPECT_EQ(bench.context->phase2.shortAnswer, 1);
    EXPECT_EQ(bench.context->phase2.initialWait, 30);
    EXPECT_EQ(bench.context->connection.optionByte, 0x04);
}

TEST(DspCommand, RateAndLinkReports)
{
    DspBench bench;
    bench.Send(0x68, {5, 6, 0x04, 0});
    EXPECT_EQ(bench.Reply(0x70, {}), (Bytes{0xC1, 0, 1, 0, 5}));
    EXPECT_EQ(bench.Reply(0x72, {}), (Bytes{0xC2, 0, 1, 0, 6}));
    // V.34: index 12 (transmit) and 9 (receive) when originating.
    bench.Send(0x68, {9, 17, 0x04, 0});
    bench.context->v34.rateIndex[0] = 12;
    bench.context->v34.rateIndex[1] = 9;
    bench.context->v34.directionFlag = 1;
    EXPECT_EQ(bench.Reply(0x70, {}), (Bytes{0xC1, 0, 1, 0, 19}));
    const uint16_t w = ((9 << 4) | 12) << 2;
    EXPECT_EQ(bench.Reply(0x91, {}), (Bytes{0xC6, 0, 6, 0, static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8),
                                            0, 11, 0, 0}));
    bench.context->v34.rateIndex[0] = 4;
    EXPECT_EQ(bench.Reply(0x70, {}), (Bytes{0xC1, 0, 1, 0, 7}));
    // PCM without V.34: rate 13, an 8-byte link report with the PCM fields.
    bench.Send(0x68, {9, 23, 0x04, 0});
    EXPECT_EQ(bench.Reply(0x70, {}), (Bytes{0xC1, 0, 1, 0, 13}));
    for (int i = 0; i < 6; ++i)
        bench.context->pcm.fields[i] = static_cast<uint8_t>(i + 1);
    const Bytes report = bench.Reply(0x91, {});
    ASSERT_EQ(report.size(), 12u);
    EXPECT_EQ(Bytes(report.begin() + 6, report.end()), (Bytes{1, 2, 3, 4, 5, 6}));
    bench.context->v34.v34Active = 1;
    EXPECT_EQ(bench.Reply(0x72, {}), (Bytes{0xC2, 0, 1, 0, 18}));
}

TEST(DspCommand, LinkStatusClearsLowBits)
{
    DspBench bench;
    bench.context->v34.linkStatus = 0x11223344;
    bench.context->v34.statusField[0] = 0xABCD;
    bench.context->v34.statusField[1] = 0x1237;
    EXPECT_EQ(bench.Reply(0x82, {}), (Bytes{0xCC, 0, 8, 0, 0x44, 0x33, 0x22, 0x11, 0xCC, 0xAB, 0x34, 0x12}));
}

TEST(DspCommand, PumpOptionWords)
{
    DspBench bench;
    V34Link& v = bench.context->v34;
    bench.Send(0x64, {0x01, 0x00});
    EXPECT_EQ(v.optionWord, 1);
    EXPECT_EQ(v.singleOptionFlag, 1);
    EXPECT_EQ(v.extendedOptions, 0);
    bench.Send(0x64, {0x10, 0x02, 0x01, 0x40});
    EXPECT_EQ(v.optionWord, 0x4211);
    EXPECT_EQ(v.extendedOptions, 1);
    EXPECT_EQ(v.singleOptionFlag, 0);
    bench.Send(0x64, {0x10, 0x02, 0, 0, 0x78, 0x56, 0x34, 0x12});
    EXPECT_EQ(v.optionValue32, 0x12345678u);
    EXPECT_EQ(v.optionWordHalf, 0x0108);
    EXPECT_EQ(bench.context->pumpOption, 0x10);
}

TEST(DspCommand, Phase2ParameterWords)
{
    DspBench bench;
    bench.Send(0x90, {0x34, 0x12, 0x78, 0x56, 0x03, 0xFF, 0x9A});
    const uint16_t* w = bench.context->v34.phase2Words;
    EXPECT_EQ(w[0], 0x1234);
    EXPECT_EQ(w[1], 3 * 257);
    EXPECT_EQ(w[2], 0x5678);
    EXPECT_EQ(w[3], 0x9A01);
}

TEST(DspCommand, LowerOptionAndCallerId)
{
    DspBench bench;
    bench.Send(0x81, {0xFE});
    auto c8 = bench.lower.CallsOf(8);
    ASSERT_EQ(c8.size(), 1u);
    EXPECT_EQ(c8[0].input, (Bytes{2, 0, 0, 0}));
    bench.Send(0x93, {1});
    EXPECT_EQ(bench.context->callerIdFlag, 1);
    auto c19 = bench.lower.CallsOf(19);
    ASSERT_EQ(c19.size(), 1u);
    EXPECT_EQ(c19[0].input, (Bytes{1, 0, 0, 0}));
    bench.Send(0x68, {3, 6, 0x04, 0});
    bench.Send(0x93, {3});
    EXPECT_EQ(bench.context->modeState, 5);
    EXPECT_EQ(bench.context->modeNumber, 6);
    EXPECT_EQ(bench.context->detectorMode, 4);
    bench.Send(0x93, {0});
    EXPECT_EQ(bench.context->callerIdFlag, 0);
}

}  // namespace
