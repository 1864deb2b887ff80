// Dispatcher services: IRQL, spin locks, events, mutexes, timers, DPCs, waits, system threads, time,
// interlocked operations and floating-point state.
//
// Every wait, timer and time query goes through the clock of the calling thread (platform/clock.h), which
// runs on the wall clock or in virtual time. A dispatcher object belongs to the clock that was current when it
// was initialised; it may be set from any thread.
#pragma once

#include "platform/ntdef.h"
#include "platform/ntstatus.h"

// ---------------------------------------------------------------------------------------------------------
// IRQL, emulated per thread. Raising to DISPATCH_LEVEL does not stop other threads; it marks the code that
// must not wait. A wait with a non-zero time-out at DISPATCH_LEVEL or above is an IRQL violation: it is
// recorded and, unless a test asked to only record it, stops the program with a message.
typedef UCHAR KIRQL;
typedef KIRQL* PKIRQL;
#define PASSIVE_LEVEL 0
#define LOW_LEVEL 0
#define APC_LEVEL 1
#define DISPATCH_LEVEL 2
#define HIGH_LEVEL 31

KIRQL KeGetCurrentIrql();
VOID KeRaiseIrql(KIRQL NewIrql, PKIRQL OldIrql);
VOID KeLowerIrql(KIRQL NewIrql);
KIRQL KeRaiseIrqlToDpcLevel();

// ---------------------------------------------------------------------------------------------------------
// Spin locks. Zero is the released state, so a lock in zeroed memory is ready to use.
struct KSPIN_LOCK {
    ULONG State;  // 0 free, 1 held, 2 held with waiters (accessed atomically)
};
typedef KSPIN_LOCK* PKSPIN_LOCK;

VOID KeInitializeSpinLock(PKSPIN_LOCK SpinLock);
VOID KeAcquireSpinLock(PKSPIN_LOCK SpinLock, PKIRQL OldIrql);
VOID KeReleaseSpinLock(PKSPIN_LOCK SpinLock, KIRQL NewIrql);
VOID KeAcquireSpinLockAtDpcLevel(PKSPIN_LOCK SpinLock);
VOID KeReleaseSpinLockFromDpcLevel(PKSPIN_LOCK SpinLock);
KIRQL KeAcquireSpinLockRaiseToDpc(PKSPIN_LOCK SpinLock);

// ---------------------------------------------------------------------------------------------------------
// Dispatcher objects. Every waitable object begins with a DISPATCHER_HEADER; its fields are the platform's.
namespace platform {
class Clock;
struct KernelInstance;
}

enum DISPATCHER_OBJECT_TYPE : UCHAR {
    NotificationEventObject = 0,
    SynchronizationEventObject = 1,
    MutexObject = 2,
    SemaphoreObject = 5,
    ThreadObject = 6,
    NotificationTimerObject = 8,
    SynchronizationTimerObject = 9,
};

struct DISPATCHER_HEADER {
    UCHAR Type;
    UCHAR Inserted;      // timers: armed
    UCHAR Spare[2];
    LONG SignalState;    // > 0: signalled
    LIST_ENTRY WaitListHead;
    platform::Clock* Clock;  // owner of the dispatcher lock that guards this object
};

enum EVENT_TYPE { NotificationEvent = 0, SynchronizationEvent = 1 };
enum TIMER_TYPE { NotificationTimer = 0, SynchronizationTimer = 1 };

struct KEVENT {
    DISPATCHER_HEADER Header;
};
typedef KEVENT* PKEVENT;
typedef LONG KPRIORITY_INCREMENT;
#define IO_NO_INCREMENT 0
#define EVENT_INCREMENT 1
#define IO_SERIAL_INCREMENT 2

VOID KeInitializeEvent(PKEVENT Event, EVENT_TYPE Type, BOOLEAN State);
LONG KeSetEvent(PKEVENT Event, KPRIORITY Increment, BOOLEAN Wait);
LONG KeResetEvent(PKEVENT Event);
VOID KeClearEvent(PKEVENT Event);
LONG KeReadStateEvent(PKEVENT Event);

// Mutex: owned by one thread, recursive for its owner, released by KeReleaseMutex.
struct KTHREAD;
struct KMUTEX {
    DISPATCHER_HEADER Header;
    KTHREAD* OwnerThread;
    ULONG Recursion;
};
typedef KMUTEX* PKMUTEX;
typedef KMUTEX KMUTANT;
VOID KeInitializeMutex(PKMUTEX Mutex, ULONG Level);
LONG KeReleaseMutex(PKMUTEX Mutex, BOOLEAN Wait);
LONG KeReadStateMutex(PKMUTEX Mutex);

struct KSEMAPHORE {
    DISPATCHER_HEADER Header;
    LONG Limit;
};
typedef KSEMAPHORE* PKSEMAPHORE;
VOID KeInitializeSemaphore(PKSEMAPHORE Semaphore, LONG Count, LONG Limit);
LONG KeReleaseSemaphore(PKSEMAPHORE Semaphore, KPRIORITY Increment, LONG Adjustment, BOOLEAN Wait);
LONG KeReadStateSemaphore(PKSEMAPHORE Semaphore);

// Fast mutex: not recursive, acquired at APC_LEVEL.
struct FAST_MUTEX {
    KEVENT Event;  // synchronisation event, signalled while free
    KTHREAD* Owner;
    KIRQL OldIrql;
};
typedef FAST_MUTEX* PFAST_MUTEX;
VOID ExInitializeFastMutex(PFAST_MUTEX FastMutex);
VOID ExAcquireFastMutex(PFAST_MUTEX FastMutex);
VOID ExReleaseFastMutex(PFAST_MUTEX FastMutex);

// ---------------------------------------------------------------------------------------------------------
// Waits. Time-outs are in 100 ns units: negative = relative, positive = absolute system time, zero = poll,
// a null pointer = no time-out. The result is STATUS_WAIT_0 + index, STATUS_TIMEOUT, or STATUS_ABANDONED.
#define MAXIMUM_WAIT_OBJECTS 64
#define THREAD_WAIT_OBJECTS 3
struct KWAIT_BLOCK {
    LIST_ENTRY WaitListEntry;
    KTHREAD* Thread;
    PVOID Object;
    USHORT WaitKey;
    UCHAR WaitType;
    UCHAR Spare;
};
typedef KWAIT_BLOCK* PKWAIT_BLOCK;

NTSTATUS KeWaitForSingleObject(PVOID Object, KWAIT_REASON WaitReason, KPROCESSOR_MODE WaitMode,
                               BOOLEAN Alertable, PLARGE_INTEGER Timeout);
NTSTATUS KeWaitForMultipleObjects(ULONG Count, PVOID Object[], WAIT_TYPE WaitType, KWAIT_REASON WaitReason,
                                  KPROCESSOR_MODE WaitMode, BOOLEAN Alertable, PLARGE_INTEGER Timeout,
                                  PKWAIT_BLOCK WaitBlockArray);
#define KeWaitForMutexObject KeWaitForSingleObject
NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE WaitMode, BOOLEAN Alertable, PLARGE_INTEGER Interval);

// ---------------------------------------------------------------------------------------------------------
// DPCs. A queued DPC runs once on the clock's DPC thread at DISPATCH_LEVEL, in queueing order.
struct KDPC;
typedef VOID KDEFERRED_ROUTINE(KDPC* Dpc, PVOID DeferredContext, PVOID SystemArgument1, PVOID SystemArgument2);
typedef KDEFERRED_ROUTINE* PKDEFERRED_ROUTINE;

struct KDPC {
    UCHAR Type;
    UCHAR Importance;
    USHORT Number;
    LIST_ENTRY DpcListEntry;
    PKDEFERRED_ROUTINE DeferredRoutine;
    PVOID DeferredContext;
    PVOID SystemArgument1;
    PVOID SystemArgument2;
    PVOID DpcData;  // non-null while queued
    platform::Clock* Clock;
    platform::KernelInstance* Kernel;  // the machine the DPC's routine belongs to
};
typedef KDPC* PKDPC;
typedef KDPC* PRKDPC;

VOID KeInitializeDpc(PKDPC Dpc, PKDEFERRED_ROUTINE DeferredRoutine, PVOID DeferredContext);
BOOLEAN KeInsertQueueDpc(PKDPC Dpc, PVOID SystemArgument1, PVOID SystemArgument2);
BOOLEAN KeRemoveQueueDpc(PKDPC Dpc);
VOID KeFlushQueuedDpcs();

// ---------------------------------------------------------------------------------------------------------
// Timers. A timer is a waitable object; when it expires it is signalled and its DPC (if any) is queued.
// A periodic timer re-arms itself every Period milliseconds.
struct KTIMER {
    DISPATCHER_HEADER Header;
    LONGLONG DueTime;     // clock time of the next expiry (100 ns)
    ULONGLONG Sequence;   // ordering among equal due times
    LONG Period;          // milliseconds, 0 = one-shot
    PKDPC Dpc;
    ULONG TraceId;        // order of initialisation on its clock, for traces
};
typedef KTIMER* PKTIMER;

VOID KeInitializeTimer(PKTIMER Timer);
VOID KeInitializeTimerEx(PKTIMER Timer, TIMER_TYPE Type);
BOOLEAN KeSetTimer(PKTIMER Timer, LARGE_INTEGER DueTime, PKDPC Dpc);
BOOLEAN KeSetTimerEx(PKTIMER Timer, LARGE_INTEGER DueTime, LONG Period, PKDPC Dpc);
BOOLEAN KeCancelTimer(PKTIMER Timer);
BOOLEAN KeReadStateTimer(PKTIMER Timer);

// ---------------------------------------------------------------------------------------------------------
// Threads. A system thread is a waitable object that is signalled when the thread ends. Priorities are
// recorded (KeQueryPriorityThread) but do not change scheduling.
typedef VOID KSTART_ROUTINE(PVOID StartContext);
typedef KSTART_ROUTINE* PKSTART_ROUTINE;

struct KTHREAD {
    DISPATCHER_HEADER Header;
    // Everything else is the platform's own.
    struct PlatformThread* Platform;
};
typedef KTHREAD* PKTHREAD;
typedef KTHREAD* PRKTHREAD;
typedef KTHREAD ETHREAD;
typedef KTHREAD* PETHREAD;

struct CLIENT_ID {
    HANDLE UniqueProcess;
    HANDLE UniqueThread;
};
typedef CLIENT_ID* PCLIENT_ID;

struct OBJECT_ATTRIBUTES;
typedef OBJECT_ATTRIBUTES* POBJECT_ATTRIBUTES;

// Creates a counted thread of the caller's clock and machine. *ThreadHandle must be closed with ZwClose.
NTSTATUS PsCreateSystemThread(PHANDLE ThreadHandle, ULONG DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes,
                              HANDLE ProcessHandle, PCLIENT_ID ClientId, PKSTART_ROUTINE StartRoutine,
                              PVOID StartContext);
// Ends the calling system thread (does not return).
[[noreturn]] NTSTATUS PsTerminateSystemThread(NTSTATUS ExitStatus);
PKTHREAD KeGetCurrentThread();
PETHREAD PsGetCurrentThread();
KPRIORITY KeSetPriorityThread(PKTHREAD Thread, KPRIORITY Priority);
KPRIORITY KeQueryPriorityThread(PKTHREAD Thread);
#define LOW_REALTIME_PRIORITY 16
#define HIGH_PRIORITY 31

// Object manager: thread handles only.
typedef PVOID POBJECT_TYPE;
extern POBJECT_TYPE* PsThreadType;
struct OBJECT_HANDLE_INFORMATION {
    ULONG HandleAttributes;
    ACCESS_MASK GrantedAccess;
};
typedef OBJECT_HANDLE_INFORMATION* POBJECT_HANDLE_INFORMATION;
NTSTATUS ObReferenceObjectByHandle(HANDLE Handle, ACCESS_MASK DesiredAccess, POBJECT_TYPE ObjectType,
                                   KPROCESSOR_MODE AccessMode, PVOID* Object,
                                   POBJECT_HANDLE_INFORMATION HandleInformation);
VOID ObReferenceObject(PVOID Object);
VOID ObDereferenceObject(PVOID Object);
#define ObfReferenceObject ObReferenceObject
#define ObfDereferenceObject ObDereferenceObject

// ---------------------------------------------------------------------------------------------------------
// Time. System time is in 100 ns units since 1601-01-01; the tick count counts clock interrupts of
// KeQueryTimeIncrement() 100 ns each since the clock started.
VOID KeQuerySystemTime(PLARGE_INTEGER CurrentTime);
VOID KeQueryTickCount(PLARGE_INTEGER TickCount);
ULONG KeQueryTimeIncrement();
ULONGLONG KeQueryInterruptTime();

// ---------------------------------------------------------------------------------------------------------
// Interlocked operations on plain kernel words (sequentially consistent).
LONG InterlockedIncrement(LONG volatile* Addend);
LONG InterlockedDecrement(LONG volatile* Addend);
LONG InterlockedExchange(LONG volatile* Target, LONG Value);
LONG InterlockedExchangeAdd(LONG volatile* Addend, LONG Value);
LONG InterlockedAdd(LONG volatile* Addend, LONG Value);
LONG InterlockedCompareExchange(LONG volatile* Destination, LONG Exchange, LONG Comparand);
LONG InterlockedOr(LONG volatile* Destination, LONG Value);
LONG InterlockedAnd(LONG volatile* Destination, LONG Value);
PVOID InterlockedExchangePointer(PVOID volatile* Target, PVOID Value);
PVOID InterlockedCompareExchangePointer(PVOID volatile* Destination, PVOID Exchange, PVOID Comparand);

// List operations under a spin lock.
PLIST_ENTRY ExInterlockedInsertHeadList(PLIST_ENTRY ListHead, PLIST_ENTRY ListEntry, PKSPIN_LOCK Lock);
PLIST_ENTRY ExInterlockedInsertTailList(PLIST_ENTRY ListHead, PLIST_ENTRY ListEntry, PKSPIN_LOCK Lock);
PLIST_ENTRY ExInterlockedRemoveHeadList(PLIST_ENTRY ListHead, PKSPIN_LOCK Lock);

// ---------------------------------------------------------------------------------------------------------
// Floating-point state: the x87 control word and MXCSR of the calling thread. A machine can make a save fail
// (platform/machine.h) to test the callers' failure path.
struct KFLOATING_SAVE {
    ULONG ControlWord;
    ULONG MxCsr;
    ULONG Valid;
    ULONG Spare;
};
typedef KFLOATING_SAVE* PKFLOATING_SAVE;
NTSTATUS KeSaveFloatingPointState(PKFLOATING_SAVE FloatSave);
NTSTATUS KeRestoreFloatingPointState(PKFLOATING_SAVE FloatSave);
