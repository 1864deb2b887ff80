// Emulated IRQL per thread, spin locks and interlocked operations.
#include <atomic>
#include <thread>

#include "platform/internal.h"

using namespace platform;

namespace {
thread_local KIRQL t_irql = PASSIVE_LEVEL;
}

KIRQL KeGetCurrentIrql() { return t_irql; }

VOID KeRaiseIrql(KIRQL NewIrql, PKIRQL OldIrql)
{
    if (NewIrql < t_irql) {
        ReportIrqlViolation(CurrentClockImpl(), Format("KeRaiseIrql to %d below the current IRQL %d", NewIrql, t_irql));
    }
    *OldIrql = t_irql;
    t_irql = NewIrql;
}

VOID KeLowerIrql(KIRQL NewIrql)
{
    if (NewIrql > t_irql) {
        ReportIrqlViolation(CurrentClockImpl(), Format("KeLowerIrql to %d above the current IRQL %d", NewIrql, t_irql));
    }
    t_irql = NewIrql;
}

KIRQL KeRaiseIrqlToDpcLevel()
{
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    return old;
}

// ---------------------------------------------------------------------------------------------------------
// Spin locks: a three-state lock word (free, held, held with sleepers). A holder runs at DISPATCH_LEVEL and
// never waits, so a thread blocked here is still runnable for virtual time.

static void LockWord(PKSPIN_LOCK lock)
{
    std::atomic_ref<ULONG> word(lock->State);
    ULONG expected = 0;
    if (word.compare_exchange_strong(expected, 1, std::memory_order_acquire)) return;
    for (int spin = 0; spin < 64; spin++) {
        expected = 0;
        if (word.load(std::memory_order_relaxed) == 0 &&
            word.compare_exchange_strong(expected, 1, std::memory_order_acquire)) {
            return;
        }
    }
    while (word.exchange(2, std::memory_order_acquire) != 0) word.wait(2, std::memory_order_relaxed);
}

static void UnlockWord(PKSPIN_LOCK lock)
{
    std::atomic_ref<ULONG> word(lock->State);
    if (word.exchange(0, std::memory_order_release) == 2) word.notify_one();
}

VOID KeInitializeSpinLock(PKSPIN_LOCK SpinLock) { SpinLock->State = 0; }

VOID KeAcquireSpinLock(PKSPIN_LOCK SpinLock, PKIRQL OldIrql)
{
    KeRaiseIrql(DISPATCH_LEVEL, OldIrql);
    LockWord(SpinLock);
}

KIRQL KeAcquireSpinLockRaiseToDpc(PKSPIN_LOCK SpinLock)
{
    KIRQL old;
    KeAcquireSpinLock(SpinLock, &old);
    return old;
}

VOID KeReleaseSpinLock(PKSPIN_LOCK SpinLock, KIRQL NewIrql)
{
    UnlockWord(SpinLock);
    KeLowerIrql(NewIrql);
}

VOID KeAcquireSpinLockAtDpcLevel(PKSPIN_LOCK SpinLock)
{
    if (t_irql < DISPATCH_LEVEL) {
        ReportIrqlViolation(CurrentClockImpl(), Format("KeAcquireSpinLockAtDpcLevel at IRQL %d", t_irql));
    }
    LockWord(SpinLock);
}

VOID KeReleaseSpinLockFromDpcLevel(PKSPIN_LOCK SpinLock) { UnlockWord(SpinLock); }

// ---------------------------------------------------------------------------------------------------------
// Interlocked operations.

LONG InterlockedIncrement(LONG volatile* Addend) { return __atomic_add_fetch(Addend, 1, __ATOMIC_SEQ_CST); }
LONG InterlockedDecrement(LONG volatile* Addend) { return __atomic_sub_fetch(Addend, 1, __ATOMIC_SEQ_CST); }
LONG InterlockedExchange(LONG volatile* Target, LONG Value)
{
    return __atomic_exchange_n(Target, Value, __ATOMIC_SEQ_CST);
}
LONG InterlockedExchangeAdd(LONG volatile* Addend, LONG Value)
{
    return __atomic_fetch_add(Addend, Value, __ATOMIC_SEQ_CST);
}
LONG InterlockedAdd(LONG volatile* Addend, LONG Value) { return __atomic_add_fetch(Addend, Value, __ATOMIC_SEQ_CST); }
LONG InterlockedCompareExchange(LONG volatile* Destination, LONG Exchange, LONG Comparand)
{
    LONG expected = Comparand;
    __atomic_compare_exchange_n(Destination, &expected, Exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return expected;
}
LONG InterlockedOr(LONG volatile* Destination, LONG Value)
{
    return __atomic_fetch_or(Destination, Value, __ATOMIC_SEQ_CST);
}
LONG InterlockedAnd(LONG volatile* Destination, LONG Value)
{
    return __atomic_fetch_and(Destination, Value, __ATOMIC_SEQ_CST);
}
PVOID InterlockedExchangePointer(PVOID volatile* Target, PVOID Value)
{
    return __atomic_exchange_n(Target, Value, __ATOMIC_SEQ_CST);
}
PVOID InterlockedCompareExchangePointer(PVOID volatile* Destination, PVOID Exchange, PVOID Comparand)
{
    PVOID expected = Comparand;
    __atomic_compare_exchange_n(Destination, &expected, Exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return expected;
}

PLIST_ENTRY ExInterlockedInsertHeadList(PLIST_ENTRY ListHead, PLIST_ENTRY ListEntry, PKSPIN_LOCK Lock)
{
    KIRQL old;
    KeAcquireSpinLock(Lock, &old);
    PLIST_ENTRY first = IsListEmpty(ListHead) ? nullptr : ListHead->Flink;
    InsertHeadList(ListHead, ListEntry);
    KeReleaseSpinLock(Lock, old);
    return first;
}

PLIST_ENTRY ExInterlockedInsertTailList(PLIST_ENTRY ListHead, PLIST_ENTRY ListEntry, PKSPIN_LOCK Lock)
{
    KIRQL old;
    KeAcquireSpinLock(Lock, &old);
    PLIST_ENTRY last = IsListEmpty(ListHead) ? nullptr : ListHead->Blink;
    InsertTailList(ListHead, ListEntry);
    KeReleaseSpinLock(Lock, old);
    return last;
}

PLIST_ENTRY ExInterlockedRemoveHeadList(PLIST_ENTRY ListHead, PKSPIN_LOCK Lock)
{
    KIRQL old;
    KeAcquireSpinLock(Lock, &old);
    PLIST_ENTRY e = IsListEmpty(ListHead) ? nullptr : RemoveHeadList(ListHead);
    KeReleaseSpinLock(Lock, old);
    return e;
}
