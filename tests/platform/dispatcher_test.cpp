// Events, waits on several objects, mutexes, semaphores, threads, spin locks, interlocked operations and the
// floating-point state.
#include <gtest/gtest.h>

#include <cfenv>
#include <string>
#include <vector>
#include <xmmintrin.h>

#include "platform/machine.h"

namespace {

constexpr LONGLONG kMs = 10000;

PVOID StartThread(PKSTART_ROUTINE routine, PVOID context)
{
    HANDLE h;
    EXPECT_EQ(PsCreateSystemThread(&h, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr, routine, context), STATUS_SUCCESS);
    PVOID thread = nullptr;
    EXPECT_EQ(ObReferenceObjectByHandle(h, THREAD_ALL_ACCESS, nullptr, KernelMode, &thread, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(ZwClose(h), STATUS_SUCCESS);
    return thread;
}

void Join(PVOID thread)
{
    EXPECT_EQ(KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    ObDereferenceObject(thread);
}

struct Waiter {
    PKEVENT event;
    LONG* woken;
    KEVENT started;
};

VOID WaiterThread(PVOID Context)
{
    auto* w = static_cast<Waiter*>(Context);
    KeSetEvent(&w->started, 0, FALSE);
    LARGE_INTEGER timeout;
    timeout.QuadPart = -100 * kMs;
    if (KeWaitForSingleObject(w->event, Executive, KernelMode, FALSE, &timeout) == STATUS_SUCCESS) {
        InterlockedIncrement(w->woken);
    }
}

struct EventCase {
    EVENT_TYPE type;
    LONG wokenBySet;
    LONG stateAfter;
};

class EventKinds : public ::testing::TestWithParam<EventCase> {};

TEST_P(EventKinds, SetWakesAllOrOne)
{
    platform::Clock clock;
    platform::ClockThread self(clock);
    KEVENT e;
    KeInitializeEvent(&e, GetParam().type, FALSE);
    LONG woken = 0;
    Waiter w[3];
    PVOID t[3];
    for (int i = 0; i < 3; i++) {
        w[i].event = &e;
        w[i].woken = &woken;
        KeInitializeEvent(&w[i].started, NotificationEvent, FALSE);
        t[i] = StartThread(WaiterThread, &w[i]);
        KeWaitForSingleObject(&w[i].started, Executive, KernelMode, FALSE, nullptr);
    }
    LARGE_INTEGER ms;
    ms.QuadPart = -kMs;
    KeDelayExecutionThread(KernelMode, FALSE, &ms);  // every waiter is inside its wait now
    EXPECT_EQ(KeSetEvent(&e, 0, FALSE), 0);
    for (PVOID x : t) Join(x);  // the others time out at 100 ms
    EXPECT_EQ(woken, GetParam().wokenBySet);
    EXPECT_EQ(KeReadStateEvent(&e), GetParam().stateAfter);
    EXPECT_EQ(KeResetEvent(&e), GetParam().stateAfter);
    EXPECT_EQ(KeReadStateEvent(&e), 0);
}

INSTANTIATE_TEST_SUITE_P(Kinds, EventKinds,
                         ::testing::Values(EventCase{NotificationEvent, 3, 1}, EventCase{SynchronizationEvent, 1, 0}));

TEST(Wait, AnyReturnsTheIndexOfTheSignalledObjectOrTimesOut)
{
    platform::Clock clock;
    platform::ClockThread self(clock);
    KEVENT a, b, c;
    KeInitializeEvent(&a, SynchronizationEvent, FALSE);
    KeInitializeEvent(&b, NotificationEvent, FALSE);
    KeInitializeEvent(&c, SynchronizationEvent, FALSE);
    PVOID objects[3] = {&a, &b, &c};
    LARGE_INTEGER timeout;
    timeout.QuadPart = -30 * kMs;
    EXPECT_EQ(KeWaitForMultipleObjects(3, objects, WaitAny, Executive, KernelMode, FALSE, &timeout, nullptr),
              STATUS_TIMEOUT);
    EXPECT_EQ(clock.Now(), 30 * kMs);
    KeSetEvent(&c, 0, FALSE);
    EXPECT_EQ(KeWaitForMultipleObjects(3, objects, WaitAny, Executive, KernelMode, FALSE, &timeout, nullptr),
              STATUS_WAIT_2);
    EXPECT_EQ(KeReadStateEvent(&c), 0);  // consumed
    KeSetEvent(&b, 0, FALSE);
    KeSetEvent(&c, 0, FALSE);
    // The lowest signalled index wins; a notification event is not consumed.
    EXPECT_EQ(KeWaitForMultipleObjects(3, objects, WaitAny, Executive, KernelMode, FALSE, &timeout, nullptr),
              STATUS_WAIT_1);
    EXPECT_EQ(KeReadStateEvent(&b), 1);
    EXPECT_EQ(KeReadStateEvent(&c), 1);
    // Absolute time-out in the past: immediate.
    LARGE_INTEGER past;
    KeQuerySystemTime(&past);
    past.QuadPart -= 1;
    KeResetEvent(&b);
    KeResetEvent(&c);
    EXPECT_EQ(KeWaitForSingleObject(&a, Executive, KernelMode, FALSE, &past), STATUS_TIMEOUT);
    EXPECT_EQ(clock.Now(), 30 * kMs);
}

TEST(Wait, AllWaitsUntilEveryObjectIsSignalled)
{
    platform::Clock clock;
    platform::ClockThread self(clock);
    KEVENT a, b;
    KeInitializeEvent(&a, SynchronizationEvent, TRUE);
    KeInitializeEvent(&b, SynchronizationEvent, FALSE);
    PVOID objects[2] = {&a, &b};
    LARGE_INTEGER timeout;
    timeout.QuadPart = -10 * kMs;
    EXPECT_EQ(KeWaitForMultipleObjects(2, objects, WaitAll, Executive, KernelMode, FALSE, &timeout, nullptr),
              STATUS_TIMEOUT);
    EXPECT_EQ(KeReadStateEvent(&a), 1);  // not consumed by a wait that was not satisfied
    KeSetEvent(&b, 0, FALSE);
    EXPECT_EQ(KeWaitForMultipleObjects(2, objects, WaitAll, Executive, KernelMode, FALSE, &timeout, nullptr),
              STATUS_WAIT_0);
    EXPECT_EQ(KeReadStateEvent(&a), 0);
    EXPECT_EQ(KeReadStateEvent(&b), 0);
}

struct MutexWork {
    KMUTEX mutex;
    LONG inside = 0;
    LONG maxInside = 0;
    LONG done = 0;
};

VOID MutexThread(PVOID Context)
{
    auto* w = static_cast<MutexWork*>(Context);
    for (int i = 0; i < 50; i++) {
        KeWaitForSingleObject(&w->mutex, Executive, KernelMode, FALSE, nullptr);
        KeWaitForSingleObject(&w->mutex, Executive, KernelMode, FALSE, nullptr);  // recursive
        LONG n = InterlockedIncrement(&w->inside);
        if (n > w->maxInside) w->maxInside = n;
        LARGE_INTEGER t;
        t.QuadPart = -kMs;
        KeDelayExecutionThread(KernelMode, FALSE, &t);  // a wait while holding the mutex
        InterlockedDecrement(&w->inside);
        KeReleaseMutex(&w->mutex, FALSE);
        KeReleaseMutex(&w->mutex, FALSE);
    }
    InterlockedIncrement(&w->done);
}

TEST(Mutex, ExcludesOtherThreadsAndIsRecursiveForItsOwner)
{
    platform::Clock clock;
    platform::ClockThread self(clock);
    MutexWork w;
    KeInitializeMutex(&w.mutex, 0);
    PVOID t[3];
    for (PVOID& x : t) x = StartThread(MutexThread, &w);
    for (PVOID x : t) Join(x);
    EXPECT_EQ(w.done, 3);
    EXPECT_EQ(w.maxInside, 1);
    EXPECT_EQ(KeReadStateMutex(&w.mutex), 1);
    EXPECT_EQ(clock.Now(), 150 * kMs);  // every 1 ms step ran alone
}

TEST(Semaphore, CountsReleases)
{
    platform::Clock clock;
    platform::ClockThread self(clock);
    KSEMAPHORE s;
    KeInitializeSemaphore(&s, 0, 2);
    LARGE_INTEGER zero{};
    EXPECT_EQ(KeWaitForSingleObject(&s, Executive, KernelMode, FALSE, &zero), STATUS_TIMEOUT);
    EXPECT_EQ(KeReleaseSemaphore(&s, 0, 2, FALSE), 0);
    EXPECT_EQ(KeWaitForSingleObject(&s, Executive, KernelMode, FALSE, &zero), STATUS_SUCCESS);
    EXPECT_EQ(KeWaitForSingleObject(&s, Executive, KernelMode, FALSE, &zero), STATUS_SUCCESS);
    EXPECT_EQ(KeWaitForSingleObject(&s, Executive, KernelMode, FALSE, &zero), STATUS_TIMEOUT);
}

struct Worker {
    KPRIORITY old = -1;
    KPRIORITY now = -1;
    LONG after = 0;
};

VOID TerminatingThread(PVOID Context)
{
    auto* w = static_cast<Worker*>(Context);
    w->old = KeSetPriorityThread(KeGetCurrentThread(), 28);
    w->now = KeQueryPriorityThread(KeGetCurrentThread());
    PsTerminateSystemThread(STATUS_SUCCESS);
    w->after = 1;  // never reached
}

TEST(Thread, EndsByTerminateAndSignalsItsObject)
{
    platform::Clock clock;
    platform::ClockThread self(clock);
    Worker w;
    PVOID t = StartThread(TerminatingThread, &w);
    LARGE_INTEGER timeout;
    timeout.QuadPart = -5000 * kMs;
    EXPECT_EQ(KeWaitForSingleObject(t, Executive, KernelMode, FALSE, &timeout), STATUS_SUCCESS);
    EXPECT_EQ(clock.Now(), 0);
    // Still signalled for a second waiter.
    EXPECT_EQ(KeWaitForSingleObject(t, Executive, KernelMode, FALSE, &timeout), STATUS_SUCCESS);
    ObDereferenceObject(t);
    EXPECT_EQ(w.now, 28);
    EXPECT_NE(w.old, 28);
    EXPECT_EQ(w.after, 0);
}

TEST(Thread, BadHandlesAreRefused)
{
    PVOID object = nullptr;
    int notAHandle = 0;
    EXPECT_EQ(ObReferenceObjectByHandle(&notAHandle, 0, nullptr, KernelMode, &object, nullptr), STATUS_INVALID_HANDLE);
    EXPECT_EQ(ZwClose(&notAHandle), STATUS_INVALID_HANDLE);
}

struct Counter {
    KSPIN_LOCK lock;
    long long value = 0;  // guarded by the lock
    LONG interlocked = 0;
};

VOID CountingThread(PVOID Context)
{
    auto* c = static_cast<Counter*>(Context);
    for (int i = 0; i < 20000; i++) {
        KIRQL old;
        KeAcquireSpinLock(&c->lock, &old);
        c->value++;
        KeReleaseSpinLock(&c->lock, old);
        InterlockedIncrement(&c->interlocked);
    }
}

TEST(SpinLock, SerialisesThreadsAndRaisesIrql)
{
    platform::Clock clock;
    platform::ClockThread self(clock);
    Counter c;
    KeInitializeSpinLock(&c.lock);
    PVOID t[4];
    for (PVOID& x : t) x = StartThread(CountingThread, &c);
    for (PVOID x : t) Join(x);
    EXPECT_EQ(c.value, 80000);
    EXPECT_EQ(c.interlocked, 80000);
    KIRQL old = KeAcquireSpinLockRaiseToDpc(&c.lock);
    EXPECT_EQ(old, PASSIVE_LEVEL);
    EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL);
    KeReleaseSpinLock(&c.lock, old);
}

TEST(Interlocked, ReturnValues)
{
    LONG v = 5;
    EXPECT_EQ(InterlockedExchange(&v, 9), 5);
    EXPECT_EQ(InterlockedCompareExchange(&v, 1, 8), 9);  // no match: unchanged
    EXPECT_EQ(InterlockedCompareExchange(&v, 1, 9), 9);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(InterlockedExchangeAdd(&v, 4), 1);
    EXPECT_EQ(InterlockedAdd(&v, 4), 9);
    EXPECT_EQ(InterlockedOr(&v, 0x10), 9);
    EXPECT_EQ(InterlockedAnd(&v, 0x11), 0x19);
    EXPECT_EQ(v, 0x11);
    LONG m = INT32_MIN;
    EXPECT_EQ(InterlockedDecrement(&m), INT32_MAX);  // wraps like the hardware
    PVOID p = nullptr;
    int x;
    EXPECT_EQ(InterlockedCompareExchangePointer(&p, &x, nullptr), nullptr);
    EXPECT_EQ(InterlockedExchangePointer(&p, nullptr), &x);
}

TEST(FloatingPoint, SaveAndRestoreMxcsrAndControlWord)
{
    platform::Clock clock;
    platform::Machine machine({&clock, "fp", ""});
    platform::MachineScope scope(machine);
    unsigned original = _mm_getcsr();
    KFLOATING_SAVE save;
    ASSERT_EQ(KeSaveFloatingPointState(&save), STATUS_SUCCESS);
    EXPECT_EQ(save.MxCsr, original);
    _mm_setcsr((original & ~0x6000u) | 0x6000u);  // round toward zero
    std::fesetround(FE_UPWARD);                   // x87 rounding too
    ASSERT_EQ(KeRestoreFloatingPointState(&save), STATUS_SUCCESS);
    EXPECT_EQ(_mm_getcsr(), original);
    EXPECT_EQ(std::fegetround(), FE_TONEAREST);
    EXPECT_EQ(KeRestoreFloatingPointState(&save), STATUS_INVALID_PARAMETER);  // nothing saved any more

    machine.FailFloatingPointSave(2);
    EXPECT_EQ(KeSaveFloatingPointState(&save), STATUS_SUCCESS);
    EXPECT_EQ(KeRestoreFloatingPointState(&save), STATUS_SUCCESS);
    EXPECT_NE(KeSaveFloatingPointState(&save), STATUS_SUCCESS);
    EXPECT_EQ(KeSaveFloatingPointState(&save), STATUS_SUCCESS);
    KeRestoreFloatingPointState(&save);
}

}  // namespace
