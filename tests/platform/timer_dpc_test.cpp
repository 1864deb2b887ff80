// Timers, DPCs, IRQL rules and tick counting on a virtual clock.
#include <gtest/gtest.h>

#include "platform/machine.h"

namespace {

constexpr LONGLONG kMs = 10000;

struct TimerCounter {
    KTIMER timer;
    KDPC dpc;
    LONG fires = 0;
    KIRQL irql = 0xFF;
    LONGLONG lastFire = -1;
    LONG target = 0;
    KEVENT reached;
};

VOID CountDpc(PKDPC, PVOID Context, PVOID, PVOID)
{
    auto* c = static_cast<TimerCounter*>(Context);
    c->irql = KeGetCurrentIrql();
    c->lastFire = platform::CurrentClock() ? platform::CurrentClock()->Now() : -2;
    if (InterlockedIncrement(&c->fires) == c->target) KeSetEvent(&c->reached, 0, FALSE);
}

void DelayMs(LONGLONG ms)
{
    LARGE_INTEGER t;
    t.QuadPart = -ms * kMs;
    ASSERT_EQ(KeDelayExecutionThread(KernelMode, FALSE, &t), STATUS_SUCCESS);
}

struct PeriodicCase {
    LONG periodMs;
    int periods;
};

class PeriodicTimer : public ::testing::TestWithParam<PeriodicCase> {};

TEST_P(PeriodicTimer, FiresOncePerPeriodAndStopsWhenCancelled)
{
    const PeriodicCase c = GetParam();
    platform::Clock clock;
    platform::ClockThread self(clock);
    TimerCounter t;
    KeInitializeTimerEx(&t.timer, NotificationTimer);
    KeInitializeDpc(&t.dpc, CountDpc, &t);
    LARGE_INTEGER due;
    due.QuadPart = -c.periodMs * kMs;
    EXPECT_FALSE(KeSetTimerEx(&t.timer, due, c.periodMs, &t.dpc));
    // Half a period after the N-th expiry.
    DelayMs(c.periodMs * c.periods + c.periodMs / 2);
    KeFlushQueuedDpcs();
    EXPECT_EQ(t.fires, c.periods);
    EXPECT_EQ(t.irql, DISPATCH_LEVEL);
    EXPECT_EQ(t.lastFire, c.periodMs * c.periods * kMs);
    EXPECT_TRUE(KeCancelTimer(&t.timer));
    EXPECT_FALSE(KeCancelTimer(&t.timer));
    DelayMs(c.periodMs * 10);
    KeFlushQueuedDpcs();
    EXPECT_EQ(t.fires, c.periods);
}

INSTANTIATE_TEST_SUITE_P(Periods, PeriodicTimer,
                         ::testing::Values(PeriodicCase{10, 1}, PeriodicCase{10, 100}, PeriodicCase{100, 7},
                                           PeriodicCase{2, 1000}, PeriodicCase{15, 64}));

TEST(Timer, OneShotSignalsItsObjectAtTheDueTime)
{
    platform::Clock clock;
    platform::ClockThread self(clock);
    KTIMER timer;
    KeInitializeTimer(&timer);
    LARGE_INTEGER due;
    due.QuadPart = -50 * kMs;
    KeSetTimer(&timer, due, nullptr);
    EXPECT_FALSE(KeReadStateTimer(&timer));
    EXPECT_EQ(KeWaitForSingleObject(&timer, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(clock.Now(), 50 * kMs);
    EXPECT_TRUE(KeReadStateTimer(&timer));
    // A notification timer stays signalled; re-arming clears it.
    EXPECT_EQ(KeWaitForSingleObject(&timer, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    KeSetTimer(&timer, due, nullptr);
    EXPECT_FALSE(KeReadStateTimer(&timer));
    EXPECT_TRUE(KeCancelTimer(&timer));
}

TEST(Timer, AbsoluteDueTimeAndResetReplacesTheDueTime)
{
    platform::Clock clock;
    platform::ClockThread self(clock);
    KTIMER timer;
    KeInitializeTimerEx(&timer, SynchronizationTimer);
    LARGE_INTEGER now;
    KeQuerySystemTime(&now);
    LARGE_INTEGER due;
    due.QuadPart = now.QuadPart + 300 * kMs;
    EXPECT_FALSE(KeSetTimer(&timer, due, nullptr));
    due.QuadPart = -20 * kMs;
    EXPECT_TRUE(KeSetTimer(&timer, due, nullptr));  // was armed: replaced
    EXPECT_EQ(KeWaitForSingleObject(&timer, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(clock.Now(), 20 * kMs);
    // A synchronization timer is reset by the wait it satisfies.
    EXPECT_FALSE(KeReadStateTimer(&timer));
}

TEST(Dpc, QueuedOnceRunsOnceAtDispatchLevel)
{
    platform::Clock clock;
    platform::ClockThread self(clock);
    TimerCounter t;
    KeInitializeDpc(&t.dpc, CountDpc, &t);
    EXPECT_TRUE(KeInsertQueueDpc(&t.dpc, nullptr, nullptr));
    KeFlushQueuedDpcs();
    EXPECT_EQ(t.fires, 1);
    EXPECT_EQ(t.irql, DISPATCH_LEVEL);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
}

TEST(Dpc, RemovedBeforeItRunsNeverRuns)
{
    platform::Clock clock;
    platform::ClockThread self(clock);
    TimerCounter t;
    KeInitializeDpc(&t.dpc, CountDpc, &t);
    // Occupy the DPC thread with a DPC that waits (poll only) until released, so the next one stays queued.
    struct Gate {
        KDPC dpc;
        KEVENT entered, release;
    } g;
    KeInitializeEvent(&g.entered, NotificationEvent, FALSE);
    KeInitializeEvent(&g.release, NotificationEvent, FALSE);
    KeInitializeDpc(
        &g.dpc,
        [](PKDPC, PVOID ctx, PVOID, PVOID) {
            auto* gate = static_cast<Gate*>(ctx);
            KeSetEvent(&gate->entered, 0, FALSE);
            LARGE_INTEGER zero{};
            while (KeWaitForSingleObject(&gate->release, Executive, KernelMode, FALSE, &zero) == STATUS_TIMEOUT) {
            }
        },
        &g);
    KeInsertQueueDpc(&g.dpc, nullptr, nullptr);
    KeWaitForSingleObject(&g.entered, Executive, KernelMode, FALSE, nullptr);
    EXPECT_TRUE(KeInsertQueueDpc(&t.dpc, nullptr, nullptr));
    EXPECT_FALSE(KeInsertQueueDpc(&t.dpc, nullptr, nullptr));  // already queued
    EXPECT_TRUE(KeRemoveQueueDpc(&t.dpc));
    EXPECT_FALSE(KeRemoveQueueDpc(&t.dpc));
    KeSetEvent(&g.release, 0, FALSE);
    KeFlushQueuedDpcs();
    EXPECT_EQ(t.fires, 0);
}

VOID WaitingDpc(PKDPC, PVOID Context, PVOID, PVOID)
{
    auto* e = static_cast<PKEVENT>(Context);
    LARGE_INTEGER timeout;
    timeout.QuadPart = -10 * kMs;
    KeWaitForSingleObject(e, Executive, KernelMode, FALSE, &timeout);  // signalled: returns at once, still wrong
}

TEST(Irql, WaitAtDispatchLevelIsReported)
{
    platform::Clock clock;
    platform::ClockThread self(clock);
    clock.SetIrqlViolationsFatal(false);
    KEVENT e;
    KeInitializeEvent(&e, NotificationEvent, TRUE);
    KDPC dpc;
    KeInitializeDpc(&dpc, WaitingDpc, &e);
    KeInsertQueueDpc(&dpc, nullptr, nullptr);
    KeFlushQueuedDpcs();
    ASSERT_EQ(clock.IrqlViolations().size(), 1u);
    EXPECT_NE(clock.IrqlViolations()[0].find("KeWaitForSingleObject at IRQL 2"), std::string::npos);

    // A poll (zero time-out) is allowed at DISPATCH_LEVEL; a delay is not.
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    KIRQL old;
    KeAcquireSpinLock(&lock, &old);
    EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL);
    LARGE_INTEGER zero{};
    EXPECT_EQ(KeWaitForSingleObject(&e, Executive, KernelMode, FALSE, &zero), STATUS_SUCCESS);
    EXPECT_EQ(clock.IrqlViolations().size(), 1u);
    LARGE_INTEGER ms;
    ms.QuadPart = -kMs;
    KeDelayExecutionThread(KernelMode, FALSE, &ms);
    KeReleaseSpinLock(&lock, old);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    ASSERT_EQ(clock.IrqlViolations().size(), 2u);
    EXPECT_NE(clock.IrqlViolations()[1].find("KeDelayExecutionThread at IRQL 2"), std::string::npos);
}

TEST(Irql, WaitAtDispatchLevelStopsTheProgramByDefault)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            platform::Clock clock;
            platform::ClockThread self(clock);
            KIRQL old;
            KeRaiseIrql(DISPATCH_LEVEL, &old);
            LARGE_INTEGER ms;
            ms.QuadPart = -kMs;
            KeDelayExecutionThread(KernelMode, FALSE, &ms);
        },
        "IRQL violation");
}

struct TickCase {
    ULONG increment;
    LONGLONG elapsedMs;
    LONGLONG ticks;
};

class TickCount : public ::testing::TestWithParam<TickCase> {};

TEST_P(TickCount, CountsWholeIncrements)
{
    platform::ClockConfig config;
    config.timeIncrement = GetParam().increment;
    platform::Clock clock(config);
    platform::ClockThread self(clock);
    EXPECT_EQ(KeQueryTimeIncrement(), GetParam().increment);
    LARGE_INTEGER start;
    KeQuerySystemTime(&start);
    DelayMs(GetParam().elapsedMs);
    LARGE_INTEGER ticks, now;
    KeQueryTickCount(&ticks);
    KeQuerySystemTime(&now);
    EXPECT_EQ(ticks.QuadPart, GetParam().ticks);
    EXPECT_EQ(now.QuadPart - start.QuadPart, GetParam().elapsedMs * kMs);
}

INSTANTIATE_TEST_SUITE_P(Increments, TickCount,
                         ::testing::Values(TickCase{156250, 1000, 64}, TickCase{156250, 15, 0},
                                           TickCase{156250, 16, 1}, TickCase{100000, 1000, 100},
                                           TickCase{10000, 7, 7}));

TEST(Timer, AlignedToTicksFiresOnTickBoundaries)
{
    platform::ClockConfig config;
    config.alignTimersToTick = true;  // 15.625 ms ticks
    platform::Clock clock(config);
    platform::ClockThread self(clock);
    TimerCounter t;
    KeInitializeTimerEx(&t.timer, NotificationTimer);
    KeInitializeDpc(&t.dpc, CountDpc, &t);
    LARGE_INTEGER due;
    due.QuadPart = -10 * kMs;
    t.target = 64;
    KeInitializeEvent(&t.reached, NotificationEvent, FALSE);
    KeSetTimerEx(&t.timer, due, 10, &t.dpc);
    KeWaitForSingleObject(&t.reached, Executive, KernelMode, FALSE, nullptr);
    // A 10 ms period on a 15.625 ms tick expires once per tick: the 64th expiry comes at 1 s.
    EXPECT_EQ(t.lastFire, 1000 * kMs);
    EXPECT_EQ(clock.Now(), 1000 * kMs);
    KeCancelTimer(&t.timer);
}

}  // namespace
