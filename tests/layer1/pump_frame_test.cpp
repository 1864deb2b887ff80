// The data pump's driver frame on the simulated line: START pointer exchange, the block thread, REMOVE, and
// the failure paths.
#include <gtest/gtest.h>

#include <thread>

#include "support/counted_thread.h"
#include "support/pump_harness.h"

using pumptest::ModemOptions;
using pumptest::PumpModem;
using pumptest::RunFor;

namespace {

struct PumpFrameTest : ::testing::Test {
    platform::Clock clock;
    platform::ClockThread self{clock};
    LineNetwork* network = LineNetworkCreate();

    ~PumpFrameTest() override { LineNetworkDestroy(network); }

    LONGLONG Now() { return static_cast<LONGLONG>(clock.Now()); }
    // Sleeps until `offsetMs` past the next 10 ms block boundary of a port started at `epoch`.
    void SleepToBlockOffset(LONGLONG epoch, LONGLONG offsetMs)
    {
        const LONGLONG period = 100000;
        const LONGLONG now = Now();
        LONGLONG target = epoch + ((now - epoch) / period + 1) * period + offsetMs * 10000;
        while (target - now < 0)
            target += period;
        LARGE_INTEGER interval;
        interval.QuadPart = -(target - now);
        KeDelayExecutionThread(KernelMode, FALSE, &interval);
    }
};

TEST_F(PumpFrameTest, StartExchangesThePointersAndBlocksRun)
{
    PumpModem modem(clock, network);
    ASSERT_EQ(modem.Start(), STATUS_SUCCESS);
    DspDeviceExtension* ext = modem.PumpExtension();
    DspContext* ctx = modem.Context();
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(ctx, &ext->dspContext);
    EXPECT_EQ(ctx->interfaceBlock, ext->interfaceBlock);
    EXPECT_NE(ctx->interfaceBlock->controllerCallback, nullptr);
    EXPECT_EQ(ctx->interfaceBlock->commandEntry, ctx->commandEntry);
    EXPECT_EQ(ctx->blockHandler, &IdleBlockHandler);
    EXPECT_EQ(ctx->perBlockEntry, &PerBlockEntry);
    EXPECT_EQ(ext->pnpState, DSP_PNP_STARTED);
    EXPECT_EQ(ext->lowerAudio->lower, &modem.Port()->iface);
    EXPECT_EQ(modem.Machine().ResolveLink("\\DosDevices\\MorvaHalvernDsp"), "\\Device\\MorvaHalvernDsp");

    RunFor(1000);
    const LinePortStats s = LinePortGetStats(modem.Port());
    // One block per 10 ms, each read and written once by the idle handler.
    EXPECT_GE(s.blocks, 100u);
    EXPECT_LE(s.blocks, 101u);
    EXPECT_GE(s.readCalls + 1, s.blocks);
    EXPECT_EQ(s.readCalls, s.writeCalls);
    EXPECT_EQ(s.badCalls, 0u);
    EXPECT_EQ(ctx->rxLevel, -87);  // silence on an unconnected line
    EXPECT_EQ(modem.Remove(), STATUS_SUCCESS);
}

TEST_F(PumpFrameTest, StartRemoveCyclesLeaveNoPool)
{
    PumpModem modem(clock, network);
    const ULONG tag = kWdmPoolTag;
    for (int cycle = 0; cycle < 20; ++cycle) {
        ASSERT_EQ(modem.Start(), STATUS_SUCCESS) << cycle;
        // The driver's registry path copy, the device's copy and the interface block.
        EXPECT_EQ(modem.Machine().LiveBlocks(tag), 3) << cycle;
        RunFor(30);
        ASSERT_EQ(modem.Remove(), STATUS_SUCCESS) << cycle;
        // Only the driver's own copy stays, until unload.
        EXPECT_EQ(modem.Machine().LiveBlocks(tag), 1) << cycle;
    }
    modem.UnloadDrivers();
    EXPECT_EQ(modem.Machine().LiveBlocks(tag), 0);
}

TEST_F(PumpFrameTest, NoInterfaceFromBelowFailsStart)
{
    ModemOptions options;
    options.withPort = false;
    PumpModem modem(clock, network, options);
    EXPECT_EQ(modem.Start(), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(static_cast<uint32_t>(STATUS_INSUFFICIENT_RESOURCES), 0xC000009Au);
    EXPECT_EQ(modem.StartInformation(), 0u);
    DspDeviceExtension* ext = modem.PumpExtension();
    EXPECT_EQ(ext->pnpState, DSP_PNP_LOWER_STARTED);
    EXPECT_EQ(ext->blockThread, nullptr);
    EXPECT_EQ(ext->interfaceBlock, nullptr);
    EXPECT_EQ(modem.Machine().LiveBlocks(kWdmPoolTag), 2);
    EXPECT_EQ(modem.Remove(), STATUS_SUCCESS);
    EXPECT_EQ(modem.Machine().LiveBlocks(kWdmPoolTag), 1);
    EXPECT_EQ(modem.Machine().ResolveLink("\\DosDevices\\MorvaHalvernDsp"), "");
}

TEST_F(PumpFrameTest, EveryAllocationFailureDuringStartFailsCleanly)
{
    // Fail each allocation of START in turn: START either succeeds or reports a failure, and after REMOVE
    // nothing of the pump's is left.
    int failures = 0;
    for (uint64_t k = 1; k <= 40; ++k) {
        PumpModem modem(clock, network);
        const NTSTATUS status = modem.Start(k);
        if (!NT_SUCCESS(status)) {
            ++failures;
            EXPECT_EQ(modem.StartInformation(), 0u) << k;
        } else {
            EXPECT_NE(modem.Context(), nullptr) << k;
            RunFor(20);
        }
        modem.Remove();
        EXPECT_LE(modem.Machine().LiveBlocks(kWdmPoolTag), 1) << k;
    }
    EXPECT_GT(failures, 0);
}

TEST_F(PumpFrameTest, EveryAllocationFailureDuringAddDeviceFailsCleanly)
{
    int failures = 0;
    for (uint64_t k = 1; k <= 20; ++k) {
        PumpModem modem(clock, network);
        modem.Machine().FailAllocation(k);  // disarmed again once the stack has been added
        const NTSTATUS status = modem.Start();
        if (!NT_SUCCESS(status))
            ++failures;
        modem.Remove();
        EXPECT_LE(modem.Machine().LiveBlocks(kWdmPoolTag), 1) << k;
        EXPECT_EQ(modem.Machine().ResolveLink("\\DosDevices\\MorvaHalvernDsp"), "") << k;
    }
    EXPECT_GT(failures, 0);
}

TEST_F(PumpFrameTest, RemoveStopsTheThreadAndNoBlockRunsAfter)
{
    PumpModem modem(clock, network);
    ASSERT_EQ(modem.Start(), STATUS_SUCCESS);
    RunFor(50);
    DspDeviceExtension* ext = modem.PumpExtension();
    EXPECT_NE(ext->blockThread, nullptr);
    LinePort* port = modem.Port();
    ASSERT_EQ(modem.Remove(), STATUS_SUCCESS);
    const LinePortStats after = LinePortGetStats(port);
    EXPECT_FALSE(LinePortStarted(port));
    RunFor(50);
    const LinePortStats later = LinePortGetStats(port);
    EXPECT_EQ(later.readCalls, after.readCalls);
    EXPECT_EQ(later.writeCalls, after.writeCalls);
}

TEST_F(PumpFrameTest, TwoEventsDuringASlowBlockGiveExactlyOneExtraBlock)
{
    PumpModem modem(clock, network);
    ASSERT_EQ(modem.Start(), STATUS_SUCCESS);
    LinePort* port = modem.Port();
    RunFor(35);
    const LONGLONG epoch = port->epoch;
    SleepToBlockOffset(epoch, 2);  // 2 ms into a block: the next read is the next block's
    LinePortSetSlowReads(port, 1, 250000);  // that block takes 25 ms: two more events arrive meanwhile
    const uint64_t base = LinePortGetStats(port).readCalls;
    // Block boundaries from here: T = +8 ms (slow block until T + 25), events at T + 10 and T + 20.
    RunFor(8 + 25 + 2);  // T + 27: the slow block and one catch-up block have run
    EXPECT_EQ(LinePortGetStats(port).readCalls, base + 2);
    RunFor(5);           // T + 32: the regular block at T + 30 has run
    EXPECT_EQ(LinePortGetStats(port).readCalls, base + 3);
    RunFor(10);          // T + 42
    EXPECT_EQ(LinePortGetStats(port).readCalls, base + 4);
}

TEST_F(PumpFrameTest, FailedFloatingPointSaveSkipsOneBlock)
{
    PumpModem modem(clock, network);
    ASSERT_EQ(modem.Start(), STATUS_SUCCESS);
    RunFor(35);
    const LinePortStats before = LinePortGetStats(modem.Port());
    modem.Machine().FailFloatingPointSave(1);
    RunFor(100);
    const LinePortStats after = LinePortGetStats(modem.Port());
    EXPECT_EQ((after.blocks - before.blocks) - (after.readCalls - before.readCalls), 1u);
}

TEST_F(PumpFrameTest, DeviceControlOfAnyCodeReachesTheLineUnchanged)
{
    PumpModem modem(clock, network);
    ASSERT_EQ(modem.Start(), STATUS_SUCCESS);
    const ULONG codes[] = {0x001B0004, 0x002A0010, 0xFFFFFFFF, 0};
    for (ULONG code : codes) {
        EXPECT_EQ(modem.SendIoctl(code), STATUS_INVALID_DEVICE_REQUEST);  // the line's own answer
        EXPECT_EQ(LinePortGetStats(modem.Port()).lastIoctl, code);
    }
    EXPECT_EQ(LinePortGetStats(modem.Port()).ioctls, 4u);
}

TEST_F(PumpFrameTest, RequestsAfterRemovalBeganGetDeletePending)
{
    PumpModem modem(clock, network);
    ASSERT_EQ(modem.Start(), STATUS_SUCCESS);
    DspDeviceExtension* ext = modem.PumpExtension();
    // A request in flight holds the remove lock, so REMOVE waits for it.
    ASSERT_EQ(RemoveLockAcquire(&ext->removeLock), STATUS_SUCCESS);
    std::thread remover = testsupport::StartCountedThread(clock, "remover", [&] { modem.Remove(); });
    for (int i = 0; i < 100 && !__atomic_load_n(&ext->removeLock.removing, __ATOMIC_ACQUIRE); ++i)
        RunFor(10);
    EXPECT_TRUE(__atomic_load_n(&ext->removeLock.removing, __ATOMIC_ACQUIRE));  // the remover must still be let go
    EXPECT_EQ(modem.SendIoctl(0x1234), STATUS_DELETE_PENDING);
    EXPECT_EQ(static_cast<uint32_t>(STATUS_DELETE_PENDING), 0xC0000056u);
    RemoveLockRelease(&ext->removeLock);
    remover.join();
}

TEST_F(PumpFrameTest, HookRelayBitReachesTheLineOnce)
{
    PumpModem modem(clock, network);
    ASSERT_EQ(modem.Start(), STATUS_SUCCESS);
    RunFor(20);
    EXPECT_FALSE(LinePortLoopClosed(modem.Port()));
    modem.SetRegister(242, 0x04);  // relay released (on hook): code 2, then idle mode
    RunFor(50);
    modem.SetRegister(242, 0x00);  // relay on: code 1 closes the loop
    RunFor(50);
    EXPECT_TRUE(LinePortLoopClosed(modem.Port()));
    LineControlRecord log[kLineControlLogEntries];
    const size_t n = LinePortGetLog(modem.Port(), log, kLineControlLogEntries);
    std::vector<uint32_t> codes;
    for (size_t i = 0; i < n; ++i)
        if (log[i].code != LOWER_CODE_DEVICE_RECORD)
            codes.push_back(log[i].code);
    EXPECT_EQ(codes, std::vector<uint32_t>({2, 4, 1}));
    EXPECT_EQ(LinePortGetFormat(modem.Port()).rate, 9600);
}

TEST_F(PumpFrameTest, CommandEntryAcknowledgesThroughTheCallback)
{
    PumpModem modem(clock, network);
    ASSERT_EQ(modem.Start(), STATUS_SUCCESS);
    modem.ClearEvents();
    modem.SendCommand(0x63, {0x01, 0x02});
    // A block that was running when the doorbell rang takes the command itself as it ends, and then its
    // thread makes the calls: give line time until both have arrived.
    for (int i = 0; i < 100 && modem.Events().size() < 2; ++i)
        RunFor(1);
    // Taking the command and posting the reply each call the event routine, after the device lock is
    // released: the first call already finds the reply.
    const auto events = modem.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].bytes, std::vector<uint8_t>({0xC0, 0x00, 0x01, 0x00, 0x63}));
    EXPECT_FALSE(events[1].packet);
    EXPECT_EQ(modem.Register(64), 0);
}

}  // namespace
