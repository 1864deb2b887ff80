// The modem core's clocks, tick service, background task and allocation tracker, under a virtual clock.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core_fixture.h"
#include "layer2/corecode/cmd/nvram.h"

using namespace coretest;

namespace {

class Core : public ::testing::Test {
protected:
    TempRegistry reg;
    CoreMachine m{reg.Path(), 100000};
    CoreUnderTest cut;
    ModemCore* core = cut.core.get();
    Recorder& rec = cut.rec;
};

struct SliceCase {
    ULONG increment;
    UCHAR setting;
    USHORT limit;
};

TEST(CoreSlice, YieldLimitFollowsTheTimeIncrement)
{
    const SliceCase cases[] = {
        {156250, 2, 3}, {156250, 10, 3}, {156250, 0, 1}, {100000, 2, 2}, {100000, 0, 1}, {10000, 2, 1},
    };
    for (const SliceCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.increment << " setting " << int(c.setting));
        TempRegistry reg;
        CoreMachine m(reg.Path(), c.increment);
        CoreUnderTest cut;
        task_set_slice(cut.core.get(), c.setting);
        EXPECT_EQ(cut.core->task.yield_limit, c.limit);
        EXPECT_EQ(cut.core->task.yield_count, 0);
        // The limit-th yield ends the pass, not one before.
        for (USHORT k = 1; k < c.limit; ++k)
            EXPECT_FALSE(task_yield(cut.core.get()));
        EXPECT_TRUE(task_yield(cut.core.get()));
        EXPECT_EQ(cut.core->task.yield_count, 0);
    }
}

struct GapCase {
    BOOLEAN service_key_mode;
    std::vector<ULONG> gaps;  // ms between ticks
    unsigned msg_ms;          // message clock advance in total
    unsigned dte_ticks;       // data-path ticks in total
};

TEST(CoreTick, LatenessCatchUp)
{
    const GapCase cases[] = {
        {TRUE, {10, 10, 10}, 30, 3},
        {TRUE, {25}, 15, 1},                // extra 5
        {TRUE, {25, 25}, 30, 3},            // lateness reaches 10: one more data-path tick
        {TRUE, {35}, 15, 1},                // whole lost periods are not made up
        {TRUE, {13, 13, 13, 13}, 52, 5},    // 3 ms late each time: the fourth passes 9
        {FALSE, {25, 25}, 20, 2},           // without the service key mode no catch-up
    };
    for (const GapCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "mode " << int(c.service_key_mode) << " first gap " << c.gaps[0]);
        TempRegistry reg;
        CoreMachine m(reg.Path(), 100000);
        CoreUnderTest cut(c.service_key_mode);
        ModemCore* core = cut.core.get();
        tmr_start(core);
        ULONG now = 1000;
        core->tick_state.last_ms.store(now);
        for (ULONG g : c.gaps) {
            now += g;
            tick_thread_pass(core, now);
        }
        EXPECT_EQ(cut.rec.msg_ms.load(), c.msg_ms);
        EXPECT_EQ(cut.rec.dte_ticks.load(), c.dte_ticks);
        EXPECT_EQ(core->tick_state.ms_total.load(), c.msg_ms);
        tmr_stop(core);
    }
}

TEST_F(Core, StoppedTimersOnlyAdvanceTheMessageClock)
{
    tmr_list_tick(core, 0);
    EXPECT_EQ(rec.msg_ms.load(), 10u);
    EXPECT_EQ(rec.dte_ticks.load(), 0u);
    EXPECT_EQ(core->tick_state.tick_count.load(), 0u);
}

// Runs n ticks and the background routine whenever a tick scheduled it; returns the background runs.
unsigned RunTicks(ModemCore* core, unsigned n)
{
    unsigned runs = 0;
    for (unsigned i = 0; i < n; ++i) {
        tmr_list_tick(core, 0);
        if (core->tick_state.bg_handle.load()) {
            background_routine(core);
            ++runs;
        }
    }
    return runs;
}

TEST_F(Core, AsynchronousPeriodSetsTheBackgroundRate)
{
    tmr_start(core);
    EXPECT_EQ(RunTicks(core, 10), 10u) << "10 ms: every tick";
    tmr_set_async_period(core, 5);
    EXPECT_EQ(core->tick_state.bg_period_ticks.load(), 1u);
    EXPECT_EQ(RunTicks(core, 10), 10u) << "5 ms gives one tick";
    tmr_set_async_period(core, 30);
    EXPECT_EQ(RunTicks(core, 30), 10u);
    tmr_set_async_period(core, 0);
    RunTicks(core, 3);  // the countdown in progress runs out
    EXPECT_EQ(RunTicks(core, 30), 0u) << "0 stops the background routine";
    tmr_stop(core);
}

TEST_F(Core, BackgroundRunsTheTaskOnlyWhileThePortIsOpen)
{
    tmr_start(core);
    RunTicks(core, 5);
    EXPECT_EQ(rec.cc_ticks.load(), 0u);
    task_start(core);
    unsigned after_start = rec.cc_ticks.load();
    EXPECT_GE(after_start, 1u);
    rec.port_open = 1;
    RunTicks(core, 5);
    EXPECT_GT(rec.cc_ticks.load(), after_start);
    EXPECT_EQ(rec.ring_services.load(), 5u);
    tmr_stop(core);
}

TEST_F(Core, SecondBackgroundTickWhileBusyDoesNothing)
{
    task_start(core);
    unsigned ticks = rec.cc_ticks.load();
    core->task.mc_bg_busy = 1;
    mc_bg(core);
    EXPECT_EQ(rec.cc_ticks.load(), ticks);
    EXPECT_EQ(rec.ring_services.load(), 0u);
    VCOMM_ConfigStop(core);
    EXPECT_TRUE(m.LogHas("VCOMM_ConfigStop() Failed! mc_bg is still running.\n"));
    EXPECT_EQ(core->task.mc_bg_busy, 1) << "the running tick keeps its flag";
    core->task.mc_bg_busy = 0;
    mc_bg(core);
    EXPECT_GT(rec.cc_ticks.load(), ticks);
}

TEST_F(Core, CommandStepRunsOnceAfterStartThenTheSliceFollowsTheCallState)
{
    task_start(core);  // slice 2: the command-mode step runs, then slice 0
    EXPECT_EQ(rec.command_steps.load(), 1u);
    EXPECT_EQ(core->task.slice_setting, 0);
    mc_bg(core);
    EXPECT_EQ(rec.command_steps.load(), 1u);
    rec.app_state = 1;  // the application state changes to 1: slice 2 again
    mc_bg(core);
    mc_bg(core);
    EXPECT_EQ(rec.command_steps.load(), 2u);
    // Mode 1 sub-state 1 gives slice 10 (the yield limit of the time increment).
    rec.cc_mode = 1;
    rec.substate = 1;
    mc_bg(core);
    EXPECT_EQ(core->task.slice_setting, 10);
    // Mode 8: background period 15 ms, slice 0.
    rec.cc_mode = 8;
    mc_bg(core);
    EXPECT_EQ(core->task.slice_setting, 0);
    EXPECT_EQ(core->tick_state.bg_period_ticks.load(), 1u);
}

// A task entry that resets its slice at every pass never reaches the yield limit by itself.
void RunawayEntry(ModemCore* core)
{
    task_set_slice(core, 2);
    task_yield(core);
}

TEST_F(Core, ProtectedCallAbandonsARunawayPassAndTheTaskStaysAlive)
{
    core->task.entry = RunawayEntry;
    mc_bg(core);
    EXPECT_EQ(core->task.passes, TASK_MAX_PASSES);
    EXPECT_FALSE(core->task.yielded);
    mc_bg(core);
    EXPECT_EQ(core->task.passes, 2 * TASK_MAX_PASSES);
    EXPECT_EQ(rec.ring_services.load(), 2u) << "the rest of the background tick still runs";
}

// A pass that waits in a loop (as an output drain does) leaves when its yield reaches the limit.
unsigned g_inner;
void WaitingEntry(ModemCore* core)
{
    for (;;) {
        ++g_inner;
        if (task_yield(core))
            return;
    }
}

TEST_F(Core, YieldInsideANestedLoopEndsThePass)
{
    g_inner = 0;
    task_set_slice(core, 2);  // limit 2 at 10 ms resolution
    core->task.entry = WaitingEntry;
    mc_bg(core);
    EXPECT_EQ(g_inner, 2u);
    EXPECT_EQ(core->task.passes, 1u);
}

TEST_F(Core, RestartRequestRunsTheRestartOutsideDataMode)
{
    task_start(core);
    task_request_restart(core);
    rec.online = 1;
    mc_bg(core);
    EXPECT_EQ(rec.restarts.load(), 0u);
    EXPECT_EQ(rec.rx_ints.load(), 1u);
    rec.online = 0;
    mc_bg(core);
    EXPECT_EQ(rec.restarts.load(), 1u);
    EXPECT_EQ(core->task.entry, ControllerTask);
}

TEST_F(Core, AllocationTracker)
{
    const ULONG tag = POOL_TAG('W', 'd', 'm', ' ');
    int64_t base = m.M().LiveBlocks(tag);
    EXPECT_EQ(AddressAllocate(core, 16, 0x100), nullptr);
    EXPECT_EQ(AddressAllocate(core, 16, 0x400), nullptr);
    EXPECT_EQ(AddressAllocate(core, 0, 0), nullptr);
    unsigned char* z = static_cast<unsigned char*>(AddressAllocate(core, 64, 0x201));
    ASSERT_NE(z, nullptr);
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(z[i], 0);
    std::vector<PVOID> blocks{z};
    for (int i = 0; i < 9; ++i)
        blocks.push_back(AddressAllocate(core, 8, 0));
    EXPECT_FALSE(m.LogHas("Out of space"));
    PVOID eleventh = AddressAllocate(core, 8, 0);
    ASSERT_NE(eleventh, nullptr) << "the block is still returned";
    char expect[80];
    std::snprintf(expect, sizeof expect, "AddressAllocate(0x%08X) ERROR: Out of space in Allocated[].\n",
                  static_cast<unsigned>(reinterpret_cast<uintptr_t>(eleventh)));
    EXPECT_TRUE(m.LogHas(expect));
    EXPECT_EQ(m.M().LiveBlocks(tag), base + 11);

    AddressFree(core, eleventh);  // untracked: reported and kept
    std::snprintf(expect, sizeof expect, "AddressFree(0x%08X) ERROR: Bad address.\n",
                  static_cast<unsigned>(reinterpret_cast<uintptr_t>(eleventh)));
    EXPECT_TRUE(m.LogHas(expect));
    EXPECT_EQ(m.M().LiveBlocks(tag), base + 11);
    for (PVOID p : blocks)
        AddressFree(core, p);
    EXPECT_EQ(m.M().LiveBlocks(tag), base + 1);
    ExFreePoolWithTag(eleventh, tag);
}

TEST_F(Core, CancelTimersWarnsAboutWhatIsStillArmed)
{
    Cancel_Timers(core);
    EXPECT_FALSE(m.LogHas("WARNING"));
    tmr_start(core);
    bg_schedule(core, background_routine);
    Cancel_Timers(core);
    EXPECT_TRUE(m.LogHas("WARNING: Cancel_Timers() found ASYNC_TIMER was not cancelled\n"));
    EXPECT_TRUE(m.LogHas("WARNING: Cancel_Timers() found BG_EVENT was not cancelled\n"));
    tmr_stop(core);
}

TEST_F(Core, MillisecondClocks)
{
    ULONG first = tmr_now_ms(core);
    EXPECT_EQ(first, 0u);
    ULONG t0 = tmr_tick_ms();
    tmr_delay_ms(250);
    EXPECT_EQ(tmr_now_ms(core), 250u);
    EXPECT_EQ(tmr_tick_ms() - t0, 250u);
    tmr_delay_ms(0);  // sleeps 1 ms
    EXPECT_EQ(tmr_now_ms(core), 251u);
}

// ---- With the threads running ----

TEST_F(Core, StartRunsTheThreadsAndTheTickDrivesTheTask)
{
    PortRecord* port = ModemCoreStart(core);
    EXPECT_EQ(port, rec.port);
    EXPECT_EQ(rec.port_setups.load(), 1u);
    EXPECT_EQ(rec.dsp_starts.load(), 1u);
    EXPECT_TRUE(nv_image_valid(&core->settings)) << "the settings were loaded";
    EXPECT_FALSE(core->tick_state.running.load()) << "timers stop again at the end of the start";

    // Port open: timers run and the background tick resumes the task every 10 ms.
    rec.port_open = 1;
    task_start(core);
    tmr_start(core);
    tmr_delay_ms(1000);
    tmr_stop(core);
    EXPECT_GE(core->tick_state.tick_count.load(), 95u);
    EXPECT_LE(core->tick_state.tick_count.load(), 101u);
    EXPECT_GE(rec.cc_ticks.load(), 90u);
    EXPECT_GE(rec.dte_ticks.load(), 95u);
    EXPECT_GE(rec.msg_ms.load(), 950u);

    ModemCoreStop(core);
    EXPECT_EQ(rec.shutdowns.load(), 1u);
    EXPECT_FALSE(core->tick.started);
    EXPECT_FALSE(core->event_mask.started);
}

TEST_F(Core, WorkerWakesOnItsEvents)
{
    KEVENT rw, ra, ww, wa, mc, ma;
    for (KEVENT* e : {&rw, &ra, &ww, &wa, &mc, &ma})
        KeInitializeEvent(e, SynchronizationEvent, FALSE);
    ModemCoreSetWakeEvents(core, &rw, &ra, &ww, &wa, &mc, &ma);
    ASSERT_NE(ModemCoreStart(core), nullptr);
    KeSetEvent(&mc, 0, FALSE);
    tmr_delay_ms(5);
    EXPECT_EQ(rec.mask_passes.load(), 1u);
    EXPECT_EQ(rec.mask_aborts.load(), 0u);
    KeSetEvent(&ma, 0, FALSE);
    tmr_delay_ms(5);
    EXPECT_EQ(rec.mask_passes.load(), 2u);
    EXPECT_EQ(rec.mask_aborts.load(), 1u);
    // The read worker serves every queued request, then waits for its work event.
    rec.reads_queued = 3;
    KeSetEvent(&rw, 0, FALSE);
    tmr_delay_ms(5);
    EXPECT_EQ(rec.reads_served.load(), 3u);
    rec.reads_queued = 4;
    tmr_delay_ms(5);
    EXPECT_EQ(rec.reads_served.load(), 3u) << "no pass without a wake-up";
    KeSetEvent(&ra, 0, FALSE);
    tmr_delay_ms(5);
    EXPECT_EQ(rec.reads_served.load(), 4u);
    ModemCoreStop(core);
}

NTSTATUS g_fail_at;
unsigned g_created;
NTSTATUS FailingCreate(PHANDLE handle, PKSTART_ROUTINE routine, PVOID context)
{
    if (++g_created == 3)
        return g_fail_at;
    return PsCreateSystemThread(handle, 0, nullptr, nullptr, nullptr, routine, context);
}

TEST_F(Core, ThreadCreationFailureFailsTheStart)
{
    g_created = 0;
    g_fail_at = STATUS_INSUFFICIENT_RESOURCES;
    core->create_thread = FailingCreate;
    EXPECT_EQ(ModemCoreStart(core), nullptr);
    EXPECT_EQ(rec.port_setups.load(), 0u);
    EXPECT_FALSE(core->background.started) << "threads already created are stopped again";
    EXPECT_FALSE(core->tick.started);
    EXPECT_TRUE(m.LogHas("thread creation failed"));
    // The device can be started again afterwards.
    core->create_thread = [](PHANDLE h, PKSTART_ROUTINE r, PVOID c) {
        return PsCreateSystemThread(h, 0, nullptr, nullptr, nullptr, r, c);
    };
    EXPECT_NE(ModemCoreStart(core), nullptr);
    ModemCoreStop(core);
}

TEST_F(Core, PortSetupFailureFailsTheStartAndStopsTheThreads)
{
    rec.fail_port_setup = true;
    EXPECT_EQ(ModemCoreStart(core), nullptr);
    EXPECT_FALSE(core->background.started);
    EXPECT_FALSE(core->event_mask.started);
    EXPECT_EQ(rec.dsp_starts.load(), 0u);
}

TEST(CoreTwoDevices, EachDeviceKeepsItsOwnState)
{
    TempRegistry reg;
    CoreMachine m(reg.Path(), 100000);
    CoreUnderTest a, b;
    ASSERT_NE(ModemCoreStart(a.core.get()), nullptr);
    ASSERT_NE(ModemCoreStart(b.core.get()), nullptr);
    a.rec.port_open = 1;
    task_start(a.core.get());
    tmr_start(a.core.get());
    tmr_delay_ms(200);
    tmr_stop(a.core.get());
    EXPECT_GT(a.rec.cc_ticks.load(), 10u);
    EXPECT_EQ(b.rec.cc_ticks.load(), 0u);
    EXPECT_EQ(b.core->tick_state.tick_count.load(), 0u);
    ModemCoreStop(a.core.get());
    ModemCoreStop(b.core.get());
}

}  // namespace

namespace {

// Whatever the clock's tick resolution and service key mode, the message clock follows real time.
struct ClockCase {
    ULONG increment;
    BOOLEAN service_key_mode;
    bool aligned;  // timers expire on clock ticks, as on the original kernel
};

TEST(CoreClock, MessageClockFollowsTimeAtAnyTickResolution)
{
    // With timers on 15.625 ms ticks only 128 ticks come in 2 s; the lateness catch-up makes up the
    // data-path ticks and the message clock.
    const ClockCase cases[] = {{156250, TRUE, false}, {156250, FALSE, false}, {100000, TRUE, false},
                               {10000, TRUE, false},  {156250, TRUE, true},   {100000, TRUE, true}};
    for (const ClockCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.increment << " mode " << int(c.service_key_mode) << " aligned "
                                          << c.aligned);
        TempRegistry reg;
        CoreMachine m(reg.Path(), c.increment, c.aligned);
        CoreUnderTest cut(c.service_key_mode);
        ModemCore* core = cut.core.get();
        ASSERT_NE(ModemCoreStart(core), nullptr);
        tmr_start(core);
        tmr_delay_ms(2000);
        tmr_stop(core);
        EXPECT_NEAR(static_cast<double>(cut.rec.msg_ms.load()), 2000.0, 40.0);
        EXPECT_NEAR(static_cast<double>(cut.rec.dte_ticks.load()), 200.0, 4.0);
        ModemCoreStop(core);
    }
}

}  // namespace
