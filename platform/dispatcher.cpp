// Dispatcher objects and waits: events, mutexes, semaphores, fast mutexes, timers, DPCs.
#include "platform/internal.h"

using platform::ClockImpl;

namespace platform {

void InitHeader(DISPATCHER_HEADER* h, UCHAR type, LONG state, ClockImpl* clock)
{
    h->Type = type;
    h->Inserted = 0;
    h->SignalState = state;
    InitializeListHead(&h->WaitListHead);
    h->Clock = clock->owner;
}

void InitEventOn(PKEVENT e, ClockImpl* c, EVENT_TYPE type, BOOLEAN state)
{
    InitHeader(&e->Header, type == NotificationEvent ? NotificationEventObject : SynchronizationEventObject,
               state ? 1 : 0, c);
}

static bool Satisfiable(DISPATCHER_HEADER* h, ::PlatformThread* t)
{
    if (h->Type == MutexObject) {
        auto* m = reinterpret_cast<PKMUTEX>(h);
        return h->SignalState > 0 || m->OwnerThread == &t->object;
    }
    return h->SignalState > 0;
}

static void Consume(DISPATCHER_HEADER* h, ::PlatformThread* t)
{
    switch (h->Type) {
    case SynchronizationEventObject:
    case SynchronizationTimerObject: h->SignalState = 0; break;
    case SemaphoreObject: h->SignalState--; break;
    case MutexObject: {
        auto* m = reinterpret_cast<PKMUTEX>(h);
        if (m->OwnerThread == &t->object) {
            m->Recursion++;
        } else {
            m->OwnerThread = &t->object;
            m->Recursion = 1;
            h->SignalState = 0;
        }
        break;
    }
    default: break;
    }
}

void WakeLocked(ClockImpl* c, ::PlatformThread* t, NTSTATUS status)
{
    for (ULONG i = 0; i < t->waitCount; i++) RemoveEntryList(&t->blocks[i].WaitListEntry);
    t->waitCount = 0;
    if (t->hasDeadline) {
        c->RemoveDeadlineLocked(t->deadline);
        t->hasDeadline = false;
    }
    t->waiting = false;
    t->waitStatus = status;
    if (t->counted && t->clock == c) c->runnable++;
    c->activity++;
    if (status != STATUS_TIMEOUT) c->stats.wakeups++;
    t->cv.notify_one();
}

static bool AllSatisfiable(::PlatformThread* t)
{
    for (ULONG i = 0; i < t->waitCount; i++) {
        if (!Satisfiable(static_cast<DISPATCHER_HEADER*>(t->blocks[i].Object), t)) return false;
    }
    return true;
}

void SignalWaitersLocked(ClockImpl* c, DISPATCHER_HEADER* h)
{
    PLIST_ENTRY e = h->WaitListHead.Flink;
    while (e != &h->WaitListHead) {
        auto* b = CONTAINING_RECORD(e, KWAIT_BLOCK, WaitListEntry);
        ::PlatformThread* t = b->Thread->Platform;
        if (!Satisfiable(h, t)) {
            if (h->Type == MutexObject) {
                e = e->Flink;
                continue;
            }
            return;
        }
        if (t->waitType == WaitAny) {
            Consume(h, t);
            WakeLocked(c, t, STATUS_WAIT_0 + b->WaitKey);
        } else if (AllSatisfiable(t)) {
            for (ULONG i = 0; i < t->waitCount; i++) Consume(static_cast<DISPATCHER_HEADER*>(t->blocks[i].Object), t);
            WakeLocked(c, t, STATUS_WAIT_0);
        } else {
            e = e->Flink;
            continue;
        }
        e = h->WaitListHead.Flink;  // the woken thread's blocks are gone; start again
    }
}

void SetEventLocked(ClockImpl* c, PKEVENT e)
{
    e->Header.SignalState = 1;
    SignalWaitersLocked(c, &e->Header);
}

NTSTATUS WaitCore(ULONG count, PVOID* objects, WAIT_TYPE type, PLARGE_INTEGER timeout, const char* what,
                  ClockImpl* clockHint)
{
    ::PlatformThread* t = CurrentThreadRecord();
    if (count > MAXIMUM_WAIT_OBJECTS) return STATUS_INVALID_PARAMETER;
    ClockImpl* c = count > 0 ? ClockOfObject(static_cast<DISPATCHER_HEADER*>(objects[0]))
                             : (clockHint != nullptr ? clockHint : CurrentClockImpl());
    bool poll = timeout != nullptr && timeout->QuadPart == 0;
    if (!poll && KeGetCurrentIrql() >= DISPATCH_LEVEL) {
        ReportIrqlViolation(c, Format("%s at IRQL %d by %s", what, KeGetCurrentIrql(), t->name.c_str()));
    }
    if (!poll && InClockRoutine()) {
        ReportIrqlViolation(c, Format("%s inside a clock routine on %s", what, t->name.c_str()));
        return STATUS_TIMEOUT;
    }
    std::unique_lock<std::mutex> lk(c->mu);
    for (ULONG i = 0; i < count; i++) {
        if (ClockOfObject(static_cast<DISPATCHER_HEADER*>(objects[i])) != c) return STATUS_INVALID_PARAMETER;
    }
    if (type == WaitAny) {
        for (ULONG i = 0; i < count; i++) {
            auto* h = static_cast<DISPATCHER_HEADER*>(objects[i]);
            if (Satisfiable(h, t)) {
                Consume(h, t);
                c->activity++;
                return STATUS_WAIT_0 + static_cast<NTSTATUS>(i);
            }
        }
    } else if (count > 0) {
        bool all = true;
        for (ULONG i = 0; i < count && all; i++) all = Satisfiable(static_cast<DISPATCHER_HEADER*>(objects[i]), t);
        if (all) {
            for (ULONG i = 0; i < count; i++) Consume(static_cast<DISPATCHER_HEADER*>(objects[i]), t);
            c->activity++;
            return STATUS_WAIT_0;
        }
    }
    if (poll) return STATUS_TIMEOUT;
    LONGLONG deadline = -1;
    if (timeout != nullptr) {
        LONGLONG now = c->NowLocked();
        if (timeout->QuadPart < 0) {
            LONGLONG rel = timeout->QuadPart == INT64_MIN ? INT64_MAX : -timeout->QuadPart;
            deadline = rel > INT64_MAX - now ? INT64_MAX : now + rel;
        } else {
            deadline = timeout->QuadPart - c->systemTimeBase;
            if (deadline <= now) return STATUS_TIMEOUT;
        }
        deadline = c->AlignToTick(deadline);
    }
    if (t->implicit) t->clock = nullptr;  // never counted
    t->waiting = true;
    t->waitStatus = STATUS_PENDING;
    t->waitType = type;
    t->waitCount = count;
    t->waitWhat = what;
    for (ULONG i = 0; i < count; i++) {
        KWAIT_BLOCK& b = t->blocks[i];
        b.Thread = &t->object;
        b.Object = objects[i];
        b.WaitKey = static_cast<USHORT>(i);
        b.WaitType = static_cast<UCHAR>(type);
        InsertTailList(&static_cast<DISPATCHER_HEADER*>(objects[i])->WaitListHead, &b.WaitListEntry);
    }
    if (deadline >= 0) {
        t->deadline.time = deadline;
        c->AddDeadlineLocked(t->deadline, Deadline{nullptr, t});
        t->hasDeadline = true;
    }
    bool known = c->threads.count(t) != 0;
    if (!known) c->threads.insert(t);
    if (t->counted && t->clock == c) c->runnable--;
    c->activity++;
    c->inlineRunner = true;
    c->MaybeAdvanceLocked();
    c->inlineRunner = false;
    c->RunRoutinesLocked(lk);
    while (t->waiting) t->cv.wait(lk);
    if (!known) c->threads.erase(t);
    return t->waitStatus;
}

}  // namespace platform

using namespace platform;

// ---------------------------------------------------------------------------------------------------------
// Events.

VOID KeInitializeEvent(PKEVENT Event, EVENT_TYPE Type, BOOLEAN State)
{
    InitEventOn(Event, CurrentClockImpl(), Type, State);
}

LONG KeSetEvent(PKEVENT Event, KPRIORITY, BOOLEAN)
{
    ClockImpl* c = ClockOfObject(&Event->Header);
    std::lock_guard<std::mutex> lk(c->mu);
    LONG previous = Event->Header.SignalState;
    SetEventLocked(c, Event);
    return previous;
}

LONG KeResetEvent(PKEVENT Event)
{
    ClockImpl* c = ClockOfObject(&Event->Header);
    std::lock_guard<std::mutex> lk(c->mu);
    LONG previous = Event->Header.SignalState;
    Event->Header.SignalState = 0;
    return previous;
}

VOID KeClearEvent(PKEVENT Event) { KeResetEvent(Event); }

LONG KeReadStateEvent(PKEVENT Event)
{
    ClockImpl* c = ClockOfObject(&Event->Header);
    std::lock_guard<std::mutex> lk(c->mu);
    return Event->Header.SignalState;
}

// ---------------------------------------------------------------------------------------------------------
// Mutexes and semaphores.

VOID KeInitializeMutex(PKMUTEX Mutex, ULONG)
{
    InitHeader(&Mutex->Header, MutexObject, 1, CurrentClockImpl());
    Mutex->OwnerThread = nullptr;
    Mutex->Recursion = 0;
}

LONG KeReleaseMutex(PKMUTEX Mutex, BOOLEAN)
{
    ClockImpl* c = ClockOfObject(&Mutex->Header);
    PKTHREAD self = &CurrentThreadRecord()->object;
    std::lock_guard<std::mutex> lk(c->mu);
    LONG previous = Mutex->Header.SignalState;
    if (Mutex->OwnerThread != self || Mutex->Recursion == 0) {
        KeBugCheckEx(0x0000000D /* MUTEX_NOT_OWNED */, reinterpret_cast<ULONG_PTR>(Mutex), 0, 0, 0);
    }
    if (--Mutex->Recursion == 0) {
        Mutex->OwnerThread = nullptr;
        Mutex->Header.SignalState = 1;
        SignalWaitersLocked(c, &Mutex->Header);
    }
    return previous;
}

LONG KeReadStateMutex(PKMUTEX Mutex)
{
    ClockImpl* c = ClockOfObject(&Mutex->Header);
    std::lock_guard<std::mutex> lk(c->mu);
    return Mutex->Header.SignalState;
}

VOID KeInitializeSemaphore(PKSEMAPHORE Semaphore, LONG Count, LONG Limit)
{
    InitHeader(&Semaphore->Header, SemaphoreObject, Count, CurrentClockImpl());
    Semaphore->Limit = Limit;
}

LONG KeReleaseSemaphore(PKSEMAPHORE Semaphore, KPRIORITY, LONG Adjustment, BOOLEAN)
{
    ClockImpl* c = ClockOfObject(&Semaphore->Header);
    std::lock_guard<std::mutex> lk(c->mu);
    LONG previous = Semaphore->Header.SignalState;
    if (Adjustment <= 0 || previous > Semaphore->Limit - Adjustment) {
        KeBugCheckEx(0x0000000E /* SEMAPHORE_LIMIT_EXCEEDED */, reinterpret_cast<ULONG_PTR>(Semaphore), 0, 0, 0);
    }
    Semaphore->Header.SignalState = previous + Adjustment;
    SignalWaitersLocked(c, &Semaphore->Header);
    return previous;
}

LONG KeReadStateSemaphore(PKSEMAPHORE Semaphore)
{
    ClockImpl* c = ClockOfObject(&Semaphore->Header);
    std::lock_guard<std::mutex> lk(c->mu);
    return Semaphore->Header.SignalState;
}

VOID ExInitializeFastMutex(PFAST_MUTEX FastMutex)
{
    KeInitializeEvent(&FastMutex->Event, SynchronizationEvent, TRUE);
    FastMutex->Owner = nullptr;
    FastMutex->OldIrql = PASSIVE_LEVEL;
}

VOID ExAcquireFastMutex(PFAST_MUTEX FastMutex)
{
    KIRQL old = KeGetCurrentIrql();
    PVOID object = &FastMutex->Event;
    WaitCore(1, &object, WaitAny, nullptr, "ExAcquireFastMutex", nullptr);
    KIRQL unused;
    if (old < APC_LEVEL) KeRaiseIrql(APC_LEVEL, &unused);
    FastMutex->Owner = KeGetCurrentThread();
    FastMutex->OldIrql = old;
}

VOID ExReleaseFastMutex(PFAST_MUTEX FastMutex)
{
    KIRQL old = FastMutex->OldIrql;
    FastMutex->Owner = nullptr;
    KeSetEvent(&FastMutex->Event, IO_NO_INCREMENT, FALSE);
    KeLowerIrql(old);
}

// ---------------------------------------------------------------------------------------------------------
// Waits.

NTSTATUS KeWaitForSingleObject(PVOID Object, KWAIT_REASON, KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER Timeout)
{
    return WaitCore(1, &Object, WaitAny, Timeout, "KeWaitForSingleObject", nullptr);
}

NTSTATUS KeWaitForMultipleObjects(ULONG Count, PVOID Object[], WAIT_TYPE WaitType, KWAIT_REASON, KPROCESSOR_MODE,
                                  BOOLEAN, PLARGE_INTEGER Timeout, PKWAIT_BLOCK)
{
    if (Count == 0) return STATUS_INVALID_PARAMETER;
    return WaitCore(Count, Object, WaitType, Timeout, "KeWaitForMultipleObjects", nullptr);
}

NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER Interval)
{
    if (Interval == nullptr) return STATUS_INVALID_PARAMETER;
    LARGE_INTEGER t = *Interval;
    if (t.QuadPart == 0) return STATUS_SUCCESS;
    NTSTATUS status = WaitCore(0, nullptr, WaitAny, &t, "KeDelayExecutionThread", nullptr);
    return status == STATUS_TIMEOUT ? STATUS_SUCCESS : status;
}

// ---------------------------------------------------------------------------------------------------------
// DPCs.

namespace platform {
void InsertDpcLocked(ClockImpl* c, PKDPC dpc, PVOID a1, PVOID a2, bool* inserted)
{
    if (dpc->DpcData != nullptr) {
        if (inserted) *inserted = false;
        return;
    }
    dpc->SystemArgument1 = a1;
    dpc->SystemArgument2 = a2;
    dpc->DpcData = &c->dpcQueue;
    InsertTailList(&c->dpcQueue, &dpc->DpcListEntry);
    SetEventLocked(c, &c->dpcEvent);
    if (inserted) *inserted = true;
}
}  // namespace platform

VOID KeInitializeDpc(PKDPC Dpc, PKDEFERRED_ROUTINE DeferredRoutine, PVOID DeferredContext)
{
    Dpc->Type = 19;
    Dpc->Importance = 1;
    Dpc->Number = 0;
    Dpc->DpcListEntry.Flink = Dpc->DpcListEntry.Blink = nullptr;
    Dpc->DeferredRoutine = DeferredRoutine;
    Dpc->DeferredContext = DeferredContext;
    Dpc->SystemArgument1 = Dpc->SystemArgument2 = nullptr;
    Dpc->DpcData = nullptr;
    Dpc->Clock = CurrentClockImpl()->owner;
    Dpc->Kernel = CurrentKernel();
}

BOOLEAN KeInsertQueueDpc(PKDPC Dpc, PVOID SystemArgument1, PVOID SystemArgument2)
{
    ClockImpl* c = Dpc->Clock != nullptr ? Dpc->Clock->Impl() : CurrentClockImpl();
    std::lock_guard<std::mutex> lk(c->mu);
    bool inserted = false;
    InsertDpcLocked(c, Dpc, SystemArgument1, SystemArgument2, &inserted);
    return inserted ? TRUE : FALSE;
}

BOOLEAN KeRemoveQueueDpc(PKDPC Dpc)
{
    ClockImpl* c = Dpc->Clock != nullptr ? Dpc->Clock->Impl() : CurrentClockImpl();
    std::lock_guard<std::mutex> lk(c->mu);
    if (Dpc->DpcData == nullptr) return FALSE;
    RemoveEntryList(&Dpc->DpcListEntry);
    Dpc->DpcData = nullptr;
    return TRUE;
}

VOID KeFlushQueuedDpcs()
{
    // Queue a marker DPC behind everything queued so far and wait until it has run.
    struct Marker {
        KDPC dpc;
        KEVENT done;
    } m;
    KeInitializeEvent(&m.done, NotificationEvent, FALSE);
    KeInitializeDpc(&m.dpc, [](PKDPC, PVOID ctx, PVOID, PVOID) { KeSetEvent(static_cast<PKEVENT>(ctx), 0, FALSE); },
                    &m.done);
    KeInsertQueueDpc(&m.dpc, nullptr, nullptr);
    KeWaitForSingleObject(&m.done, Executive, KernelMode, FALSE, nullptr);
}

// ---------------------------------------------------------------------------------------------------------
// Timers.

VOID KeInitializeTimer(PKTIMER Timer) { KeInitializeTimerEx(Timer, NotificationTimer); }

VOID KeInitializeTimerEx(PKTIMER Timer, TIMER_TYPE Type)
{
    ClockImpl* c = CurrentClockImpl();
    InitHeader(&Timer->Header, Type == NotificationTimer ? NotificationTimerObject : SynchronizationTimerObject, 0, c);
    Timer->DueTime = 0;
    Timer->Sequence = 0;
    Timer->Period = 0;
    Timer->Dpc = nullptr;
    std::lock_guard<std::mutex> lk(c->mu);
    Timer->TraceId = c->nextTimerId++;
}

BOOLEAN KeSetTimer(PKTIMER Timer, LARGE_INTEGER DueTime, PKDPC Dpc) { return KeSetTimerEx(Timer, DueTime, 0, Dpc); }

BOOLEAN KeSetTimerEx(PKTIMER Timer, LARGE_INTEGER DueTime, LONG Period, PKDPC Dpc)
{
    ClockImpl* c = ClockOfObject(&Timer->Header);
    std::lock_guard<std::mutex> lk(c->mu);
    BOOLEAN was = Timer->Header.Inserted;
    if (was) c->RemoveDeadlineLocked(DeadlineKey{Timer->DueTime, Timer->Sequence});
    LONGLONG now = c->NowLocked();
    LONGLONG due;
    if (DueTime.QuadPart < 0) {
        LONGLONG rel = DueTime.QuadPart == INT64_MIN ? INT64_MAX : -DueTime.QuadPart;
        due = rel > INT64_MAX - now ? INT64_MAX : now + rel;
    } else {
        due = DueTime.QuadPart - c->systemTimeBase;
        if (due < now) due = now;
    }
    Timer->Header.SignalState = 0;
    Timer->Period = Period < 0 ? 0 : Period;
    Timer->Dpc = Dpc;
    DeadlineKey key;
    key.time = c->AlignToTick(due);
    c->AddDeadlineLocked(key, Deadline{Timer, nullptr});
    Timer->DueTime = key.time;
    Timer->Sequence = key.seq;
    Timer->Header.Inserted = 1;
    c->activity++;
    c->MaybeAdvanceLocked();
    return was;
}

BOOLEAN KeCancelTimer(PKTIMER Timer)
{
    ClockImpl* c = ClockOfObject(&Timer->Header);
    std::lock_guard<std::mutex> lk(c->mu);
    BOOLEAN was = Timer->Header.Inserted;
    if (was) {
        c->RemoveDeadlineLocked(DeadlineKey{Timer->DueTime, Timer->Sequence});
        Timer->Header.Inserted = 0;
    }
    return was;
}

BOOLEAN KeReadStateTimer(PKTIMER Timer)
{
    ClockImpl* c = ClockOfObject(&Timer->Header);
    std::lock_guard<std::mutex> lk(c->mu);
    return Timer->Header.SignalState > 0 ? TRUE : FALSE;
}
