// Costs of the kernel-services layer: how fast virtual time runs through an idle 10 ms tick loop, an event
// set/wait round trip between two threads, and a DPC dispatch.
#include <benchmark/benchmark.h>

#include "platform/machine.h"

namespace {

constexpr LONGLONG kMs = 10000;

struct TickLoop {
    KTIMER timer;
    KDPC dpc;
    KEVENT tick;
};

VOID TickDpc(PKDPC, PVOID Context, PVOID, PVOID) { KeSetEvent(static_cast<PKEVENT>(Context), 0, FALSE); }

// The controller's tick thread in miniature: a periodic 10 ms timer whose DPC sets an event that a thread
// waits for. Reports simulated seconds per wall second.
void IdleTickLoop(benchmark::State& state)
{
    platform::Clock clock;
    platform::ClockThread self(clock);
    TickLoop t;
    KeInitializeEvent(&t.tick, SynchronizationEvent, FALSE);
    KeInitializeTimerEx(&t.timer, NotificationTimer);
    KeInitializeDpc(&t.dpc, TickDpc, &t.tick);
    LARGE_INTEGER due;
    due.QuadPart = -10 * kMs;
    KeSetTimerEx(&t.timer, due, 10, &t.dpc);
    const int ticks = 100;  // one simulated second per iteration
    for (auto _ : state) {
        for (int i = 0; i < ticks; i++) KeWaitForSingleObject(&t.tick, Executive, KernelMode, FALSE, nullptr);
    }
    KeCancelTimer(&t.timer);
    KeFlushQueuedDpcs();
    state.counters["simulated_s_per_wall_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["simulated_s"] = static_cast<double>(clock.Now()) / 1e7;
}
BENCHMARK(IdleTickLoop)->UseRealTime()->Unit(benchmark::kMillisecond);

struct PingPong {
    KEVENT ping, pong;
    LONG stop = 0;
};

VOID EchoThread(PVOID Context)
{
    auto* p = static_cast<PingPong*>(Context);
    for (;;) {
        KeWaitForSingleObject(&p->ping, Executive, KernelMode, FALSE, nullptr);
        if (p->stop) break;
        KeSetEvent(&p->pong, 0, FALSE);
    }
}

void EventRoundTrip(benchmark::State& state)
{
    platform::ClockConfig config;
    config.mode = state.range(0) ? platform::ClockMode::Virtual : platform::ClockMode::Real;
    platform::Clock clock(config);
    platform::ClockThread self(clock);
    PingPong p;
    KeInitializeEvent(&p.ping, SynchronizationEvent, FALSE);
    KeInitializeEvent(&p.pong, SynchronizationEvent, FALSE);
    HANDLE h;
    PsCreateSystemThread(&h, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr, EchoThread, &p);
    PVOID thread;
    ObReferenceObjectByHandle(h, THREAD_ALL_ACCESS, nullptr, KernelMode, &thread, nullptr);
    ZwClose(h);
    for (auto _ : state) {
        KeSetEvent(&p.ping, 0, FALSE);
        KeWaitForSingleObject(&p.pong, Executive, KernelMode, FALSE, nullptr);
    }
    p.stop = 1;
    KeSetEvent(&p.ping, 0, FALSE);
    KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr);
    ObDereferenceObject(thread);
}
BENCHMARK(EventRoundTrip)->Arg(1)->Arg(0)->ArgName("virtual")->UseRealTime()->Unit(benchmark::kMicrosecond);

void DpcDispatch(benchmark::State& state)
{
    platform::Clock clock;
    platform::ClockThread self(clock);
    KEVENT done;
    KeInitializeEvent(&done, SynchronizationEvent, FALSE);
    KDPC dpc;
    KeInitializeDpc(&dpc, TickDpc, &done);
    for (auto _ : state) {
        KeInsertQueueDpc(&dpc, nullptr, nullptr);
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
    }
}
BENCHMARK(DpcDispatch)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
