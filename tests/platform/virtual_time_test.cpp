// Virtual time: time stands still while a counted thread runs, jumps to the next deadline when all wait,
// wake-ups are accounted before the waker returns, holds and outside sources, deadlock reports, determinism.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/machine.h"

namespace {

constexpr LONGLONG kMs = 10000;

struct Sleeper {
    const char* name;
    std::vector<LONGLONG> sleepsMs;
};

VOID SleeperThread(PVOID Context)
{
    auto* s = static_cast<Sleeper*>(Context);
    for (LONGLONG ms : s->sleepsMs) {
        LARGE_INTEGER t;
        t.QuadPart = -ms * kMs;
        KeDelayExecutionThread(KernelMode, FALSE, &t);
        platform::CurrentClock()->TraceLine(std::string(s->name) + " woke");
    }
}

PVOID StartThread(PKSTART_ROUTINE routine, PVOID context)
{
    HANDLE h;
    EXPECT_EQ(PsCreateSystemThread(&h, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr, routine, context), STATUS_SUCCESS);
    PVOID thread = nullptr;
    EXPECT_EQ(ObReferenceObjectByHandle(h, THREAD_ALL_ACCESS, nullptr, KernelMode, &thread, nullptr), STATUS_SUCCESS);
    ZwClose(h);
    return thread;
}

void Join(PVOID thread)
{
    EXPECT_EQ(KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    ObDereferenceObject(thread);
}

TEST(VirtualTime, SixtySecondsInTenMillisecondSteps)
{
    platform::Clock clock;
    platform::ClockThread self(clock);
    Sleeper s{"s", std::vector<LONGLONG>(6000, 10)};
    Join(StartThread(SleeperThread, &s));
    EXPECT_EQ(clock.Now(), 60 * 1000 * kMs);
    EXPECT_EQ(clock.Stats().advances, 6000u);
}

// Three threads whose time-outs interleave; returns the trace.
std::vector<std::string> ThreeSleepers()
{
    platform::Clock clock;
    platform::ClockThread self(clock);
    clock.EnableTrace(true);
    Sleeper a{"A", {7, 7, 7, 7}};     // 7 14 21 28
    Sleeper b{"B", {10, 10, 10}};     // 10 20 30
    Sleeper c{"C", {3, 20, 6}};       // 3 23 29
    PVOID ta = StartThread(SleeperThread, &a);
    PVOID tb = StartThread(SleeperThread, &b);
    PVOID tc = StartThread(SleeperThread, &c);
    PVOID all[3] = {ta, tb, tc};
    EXPECT_EQ(KeWaitForMultipleObjects(3, all, WaitAll, Executive, KernelMode, FALSE, nullptr, nullptr),
              STATUS_SUCCESS);
    for (PVOID t : all) ObDereferenceObject(t);
    return clock.Trace();
}

TEST(VirtualTime, InterleavedTimeoutsWakeInDeadlineOrder)
{
    std::vector<std::string> woke;
    for (const std::string& line : ThreeSleepers()) {
        if (line.find(" woke") != std::string::npos) woke.push_back(line);
    }
    std::vector<std::string> expected = {
        "0.0030000 C woke", "0.0070000 A woke", "0.0100000 B woke", "0.0140000 A woke", "0.0200000 B woke",
        "0.0210000 A woke", "0.0230000 C woke", "0.0280000 A woke", "0.0290000 C woke", "0.0300000 B woke"};
    EXPECT_EQ(woke, expected);
}

TEST(VirtualTime, SameScenarioGivesTheSameTrace)
{
    std::vector<std::string> first = ThreeSleepers();
    for (int run = 0; run < 5; run++) EXPECT_EQ(ThreeSleepers(), first);
    EXPECT_EQ(first.size(), 20u);  // ten expiries and ten wake-ups
}

// The waker must account the woken thread before it returns: otherwise the clock could jump past the
// woken thread's next deadline while it has not yet run.
struct PingPong {
    KEVENT ping, pong;
    LONG stop = 0;
};

VOID PongThread(PVOID Context)
{
    auto* p = static_cast<PingPong*>(Context);
    for (;;) {
        KeWaitForSingleObject(&p->ping, Executive, KernelMode, FALSE, nullptr);
        if (p->stop) break;
        LARGE_INTEGER t;
        t.QuadPart = -5 * kMs;
        KeDelayExecutionThread(KernelMode, FALSE, &t);
        KeSetEvent(&p->pong, 0, FALSE);
    }
}

TEST(VirtualTime, WakeUpIsAccountedBeforeTheWakerReturns)
{
    platform::Clock clock;
    platform::ClockThread self(clock);
    PingPong p;
    KeInitializeEvent(&p.ping, SynchronizationEvent, FALSE);
    KeInitializeEvent(&p.pong, SynchronizationEvent, FALSE);
    PVOID t = StartThread(PongThread, &p);
    for (int i = 0; i < 300; i++) {
        LONGLONG before = clock.Now();
        KeSetEvent(&p.ping, 0, FALSE);
        LARGE_INTEGER timeout;
        timeout.QuadPart = -1000 * kMs;
        ASSERT_EQ(KeWaitForSingleObject(&p.pong, Executive, KernelMode, FALSE, &timeout), STATUS_SUCCESS) << i;
        ASSERT_EQ(clock.Now() - before, 5 * kMs) << i;
    }
    p.stop = 1;
    KeSetEvent(&p.ping, 0, FALSE);
    Join(t);
}

TEST(VirtualTime, NestedRegistrationOfOneThreadCountsOnce)
{
    platform::Clock clock;
    platform::ClockThread outer(clock);
    {
        platform::ClockThread inner(clock);
        platform::SleepMs(10);  // would never end if the thread were counted twice
    }
    platform::SleepMs(10);
    EXPECT_EQ(clock.Now(), 20 * kMs);
}

TEST(VirtualTime, HeldClockDoesNotAdvance)
{
    platform::Clock clock;
    platform::ClockThread self(clock);
    clock.Hold();
    std::atomic<LONGLONG> seen{-1};
    std::thread outside([&] {
        // The machine is idle with a deadline at 10 ms, but the clock is held.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        seen = clock.Now();
        clock.Release();
    });
    LARGE_INTEGER t;
    t.QuadPart = -10 * kMs;
    KeDelayExecutionThread(KernelMode, FALSE, &t);
    outside.join();
    EXPECT_EQ(seen.load(), 0);
    EXPECT_EQ(clock.Now(), 10 * kMs);
}

TEST(VirtualTime, OutsideSourceIsWaitedForNotReportedAsDeadlock)
{
    platform::ClockConfig config;
    config.deadlockGraceMs = 20;
    platform::Clock clock(config);
    std::atomic<int> reports{0};
    clock.SetDeadlockHandler([&](const std::string&) { reports++; });
    platform::ClockThread self(clock);
    KEVENT input;
    KeInitializeEvent(&input, SynchronizationEvent, FALSE);
    std::thread reader;
    {
        platform::ExternalSource source(clock);
        reader = std::thread([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            KeSetEvent(&input, 0, FALSE);  // input handed over by a thread the platform does not count
        });
        EXPECT_EQ(KeWaitForSingleObject(&input, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
        reader.join();
    }
    EXPECT_EQ(reports.load(), 0);
}

TEST(VirtualTime, DeadlockIsReportedWithWhoWaitsOnWhat)
{
    platform::ClockConfig config;
    config.deadlockGraceMs = 20;
    platform::Clock clock(config);
    platform::ClockThread self(clock, true, "tester");
    KEVENT never;
    KeInitializeEvent(&never, NotificationEvent, FALSE);
    std::string dump;
    clock.SetDeadlockHandler([&](const std::string& d) {
        dump = d;
        KeSetEvent(&never, 0, FALSE);  // let the test go on
    });
    EXPECT_EQ(KeWaitForSingleObject(&never, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    EXPECT_NE(dump.find("tester (counted): waits (KeWaitForSingleObject) on notification event"), std::string::npos)
        << dump;
    EXPECT_NE(dump.find("with no time-out"), std::string::npos) << dump;
    EXPECT_NE(dump.find("DPC thread"), std::string::npos) << dump;
}

TEST(VirtualTime, UncountedThreadSettingATimerStartsTheClock)
{
    platform::Clock clock;
    KTIMER timer;
    {
        platform::ClockThread bind(clock, false, "uncounted");
        KeInitializeTimer(&timer);
        LARGE_INTEGER due;
        due.QuadPart = -250 * kMs;
        KeSetTimer(&timer, due, nullptr);
        // Nothing counted runs, so the expiry comes at once in virtual time.
        EXPECT_EQ(KeWaitForSingleObject(&timer, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    }
    EXPECT_EQ(clock.Now(), 250 * kMs);
}

TEST(RealTime, SleepFollowsTheWallClock)
{
    platform::ClockConfig config;
    config.mode = platform::ClockMode::Real;
    platform::Clock clock(config);
    platform::ClockThread self(clock);
    auto start = std::chrono::steady_clock::now();
    LARGE_INTEGER t;
    t.QuadPart = -20 * kMs;
    KeDelayExecutionThread(KernelMode, FALSE, &t);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
    EXPECT_GE(clock.Now(), 20 * kMs);
}

}  // namespace
