// Private records of the platform shared by its source files (not for drivers or tests).
#pragma once

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/machine.h"
#include "platform/kernel.h"

struct PlatformThread;

namespace platform {

struct PoolAccount;
class RegistryStore;

// Key of a deadline: expiry time, then the order in which deadlines were set.
struct DeadlineKey {
    LONGLONG time = 0;
    uint64_t seq = 0;
    bool operator<(const DeadlineKey& o) const { return time != o.time ? time < o.time : seq < o.seq; }
};

struct Deadline {
    PKTIMER timer = nullptr;           // a timer expiry, or
    ::PlatformThread* thread = nullptr;  // a wait time-out, or
    ClockRoutine* routine = nullptr;     // a clock routine (virtual mode)
};

struct ClockRoutine {
    void (*routine)(void* context) = nullptr;
    void* context = nullptr;
    const char* name = "";
    DeadlineKey key;
    bool scheduled = false;  // its deadline is in the list
    bool queued = false;     // fired, waiting for a thread to run it (counted as runnable)
    bool running = false;
    bool deleting = false;   // no more scheduling (DeleteRoutine waits for a run in progress)
};

struct EventWorker;

struct ClockImpl {
    ClockConfig config;
    Clock* owner = nullptr;
    mutable std::mutex mu;  // the dispatcher lock: guards every object of this clock

    // Time.
    LONGLONG virtualNow = 0;
    std::chrono::steady_clock::time_point realBase;
    LONGLONG systemTimeBase = 0;

    // Deadlines in expiry order.
    std::map<DeadlineKey, Deadline> deadlines;
    uint64_t nextSeq = 1;

    // Accounting of virtual time.
    int counted = 0;    // counted threads alive
    int runnable = 0;   // counted threads not inside a platform wait
    int holds = 0;
    int external = 0;
    uint64_t activity = 0;  // bumped on every wait, wake and expiry (the deadlock watch looks for progress)
    std::vector<ClockRoutine*> dueRoutines;  // fired routines in firing order
    bool routineRunning = false;
    bool inlineRunner = false;               // the advancing thread runs fired routines itself (WaitCore)
    std::condition_variable routineDone;
    bool stalled = false;   // expiries keep firing but wake nobody
    std::set<::PlatformThread*> threads;  // every thread known to the clock (for the dump)
    int liveSystemThreads = 0;
    std::condition_variable threadsEnded;
    uint32_t nextThreadId = 1;
    uint32_t nextTimerId = 1;

    // DPCs.
    LIST_ENTRY dpcQueue;
    KEVENT dpcEvent;
    ::PlatformThread* dpcThread = nullptr;
    std::thread dpcOsThread;

    // The shared worker of event work (virtual mode), made at the first AddEventWork.
    std::mutex eventWorkerLock;
    EventWorker* eventWorker = nullptr;
    ::PlatformThread* eventWorkerThread = nullptr;  // guarded by mu: like the DPC thread, never deadlocked itself

    // Real mode expiry service and the deadlock watch.
    std::thread service;
    std::condition_variable serviceCv;
    std::thread watch;
    std::condition_variable watchCv;
    bool stopping = false;
    std::function<void(const std::string&)> deadlockHandler;

    // Diagnostics.
    bool irqlFatal = true;
    std::vector<std::string> irqlViolations;
    bool traceOn = false;
    std::vector<std::string> trace;
    ClockStats stats;

    LONGLONG NowLocked() const;
    LONGLONG SystemTimeLocked() const { return systemTimeBase + NowLocked(); }
    void AddDeadlineLocked(DeadlineKey& key, const Deadline& d);
    void RemoveDeadlineLocked(const DeadlineKey& key);
    void MaybeAdvanceLocked();  // virtual mode: run time on while nothing is runnable
    void FireLocked(const DeadlineKey& key, const Deadline& d);
    // Runs fired routines on the calling thread (which is inside a wait) until none is left.
    void RunRoutinesLocked(std::unique_lock<std::mutex>& lk);
    void TraceLocked(const std::string& text);
    std::string DumpLocked() const;
    LONGLONG AlignToTick(LONGLONG t) const;
};

// Ends the event worker (the clock is being destroyed; every member has been removed).
void StopEventWorker(ClockImpl* c);

// A kernel instance: what one machine owns.
struct KernelInstance {
    Machine* machine = nullptr;
    Clock* clock = nullptr;
    std::string name;
    mutable std::mutex mu;  // guards the namespace, the device lists and the log

    // Object namespace (keys in lower case).
    std::map<std::string, PDEVICE_OBJECT> deviceNames;
    std::map<std::string, std::string> links;  // "\??\com3" -> target as given
    struct Interface {
        std::string name;  // "\??\ROOT#MODEM#0000#{guid}"
        std::string classGuid;
        PDEVICE_OBJECT pdo = nullptr;
        bool enabled = false;
    };
    std::vector<Interface> interfaces;
    std::vector<struct DriverRecord*> drivers;
    std::map<PFILE_OBJECT, struct ::PlatformDeviceNode*> files;
    NTSTATUS status = STATUS_SUCCESS;  // construction status (registry file)
    std::string error;
    std::vector<PDEVICE_OBJECT> deletedDevices;  // freed with the machine
    std::vector<struct ::PlatformDeviceNode*> nodes;
    PDRIVER_OBJECT rootDriver = nullptr;
    uint32_t nextInstance = 0;

    RegistryStore* registry = nullptr;
    PoolAccount* pool = nullptr;
    bool wdm110 = true;
    std::atomic<uint64_t> fpSaveCount{0};
    std::atomic<uint64_t> fpFailAt{0};

    std::string log;
};

struct DriverRecord {
    DRIVER_OBJECT object;
    DRIVER_EXTENSION extension;
    std::u16string name;
    std::u16string registryPath;
};

// Per-thread state.
KernelInstance* CurrentKernel();
void SetCurrentKernel(KernelInstance* k);
ClockImpl* CurrentClockImpl();   // the thread's clock, else its machine's, else the process default
ClockImpl* ClockOfObject(DISPATCHER_HEADER* h);
::PlatformThread* CurrentThreadRecord();  // creates an uncounted record for unknown threads
void ReportIrqlViolation(ClockImpl* clock, const std::string& what);

// Dispatcher internals, called with clock->mu held.
void InitHeader(DISPATCHER_HEADER* h, UCHAR type, LONG state, ClockImpl* clock);
void SignalWaitersLocked(ClockImpl* c, DISPATCHER_HEADER* h);
void SetEventLocked(ClockImpl* c, PKEVENT e);
void InsertDpcLocked(ClockImpl* c, PKDPC dpc, PVOID a1, PVOID a2, bool* inserted);
void WakeLocked(ClockImpl* c, ::PlatformThread* t, NTSTATUS status);
void BindThread(::PlatformThread* t, ClockImpl* c, KernelInstance* k);
void InitEventOn(PKEVENT e, ClockImpl* c, EVENT_TYPE type, BOOLEAN state);
// The record of one of the clock's own service threads (the DPC thread, the event worker): counted and runnable
// from now on, so time cannot move before it first waits; *slot (when given) names it, set under the lock.
::PlatformThread* NewServiceThread(ClockImpl* c, const char* name, ::PlatformThread** slot);
// Takes an ending service thread out of the clock's count (clock->mu held).
void EndServiceThreadLocked(ClockImpl* c, ::PlatformThread* t);
// Waits on objects (Count 0: a pure delay). Result as KeWaitForMultipleObjects.
bool InClockRoutine();  // the calling thread runs a clock routine (which must not wait)
NTSTATUS WaitCore(ULONG count, PVOID* objects, WAIT_TYPE type, PLARGE_INTEGER timeout, const char* what,
                  ClockImpl* clockHint);

std::string CanonicalName(const std::string& name);
std::string DeviceKeyPathOf(const ::PlatformDeviceNode* node);
std::string DriverKeyPathOf(const ::PlatformDeviceNode* node);
void FreeDeviceMemory(PDEVICE_OBJECT d);
NTSTATUS RootDispatch(PDEVICE_OBJECT DeviceObject, PIRP Irp);

// Text helpers.
std::string Narrow(const WCHAR* text, size_t chars);
std::string Narrow(PCUNICODE_STRING s);
std::u16string Widen(const std::string& s);
std::string Lower(std::string s);
std::string TagText(ULONG tag);
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Handles (threads and registry keys).
enum class HandleKind : uint32_t { Thread = 1, Key = 2 };
HANDLE NewHandle(HandleKind kind, void* object);
void* HandleObject(HANDLE h, HandleKind kind);
bool CloseHandleRecord(HANDLE h, HandleKind* kind, void** object);

// Pool accounting.
PoolAccount* NewPoolAccount();
void ReleasePoolAccount(PoolAccount* a);  // the owner lets go; freed when its last block is freed
std::vector<PoolTagStats> PoolAccountStats(PoolAccount* a);
uint64_t PoolAccountAllocations(PoolAccount* a);
void PoolAccountFailAt(PoolAccount* a, uint64_t k);

// Debug log.
void AppendLog(KernelInstance* k, const std::string& text);

}  // namespace platform

// A thread known to the platform.
struct PlatformThread {
    KTHREAD object;  // the waitable thread object (signalled when a system thread ends)
    platform::ClockImpl* clock = nullptr;
    platform::KernelInstance* kernel = nullptr;
    std::string name;
    bool counted = false;
    bool system = false;    // created by PsCreateSystemThread (or the DPC thread)
    bool implicit = false;  // record made for an unknown thread on its first wait
    KPRIORITY priority = 8;
    std::atomic<int> refs{1};

    // Wait state, guarded by clock->mu.
    bool waiting = false;
    NTSTATUS waitStatus = STATUS_SUCCESS;
    std::condition_variable cv;
    WAIT_TYPE waitType = WaitAny;
    ULONG waitCount = 0;
    KWAIT_BLOCK blocks[MAXIMUM_WAIT_OBJECTS];
    bool hasDeadline = false;
    platform::DeadlineKey deadline;
    const char* waitWhat = "";

    PKSTART_ROUTINE start = nullptr;
    PVOID context = nullptr;
};

// The devnode of a device stack.
struct PlatformDeviceNode {
    platform::KernelInstance* kernel = nullptr;
    PDEVICE_OBJECT pdo = nullptr;
    std::string instanceId;     // "ROOT\MODEM\0000"
    std::string driverKeyName;  // "{guid}\0000"
    std::vector<CM_PARTIAL_RESOURCE_DESCRIPTOR> resources;
    LONG openCount = 0;
    PIRP waitWake = nullptr;  // pending wait-wake request held by the physical device
    bool removed = false;
    std::vector<uint8_t> resourceList;  // CM_RESOURCE_LIST handed over at START
    platform::DeviceStack* record = nullptr;  // the handle given to the host, freed with the node
};

namespace platform {
struct DeviceStack {
    ::PlatformDeviceNode* node;
};
struct IoRequest {
    PIRP irp = nullptr;
    KEVENT done;
    std::vector<uint8_t> buffer;
    std::atomic<int> completed{0};
    NTSTATUS status = STATUS_PENDING;
    ULONG_PTR information = 0;
};
}  // namespace platform
