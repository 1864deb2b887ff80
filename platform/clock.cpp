// The clock: time, deadlines, virtual-time accounting, the DPC thread, the real-time expiry service and the
// deadlock watch.
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "platform/internal.h"

namespace platform {

namespace {

thread_local ::PlatformThread* t_thread = nullptr;  // bound or platform-created thread
thread_local ClockImpl* t_clock = nullptr;
thread_local KernelInstance* t_kernel = nullptr;
thread_local std::unique_ptr<::PlatformThread> t_implicit;

constexpr LONGLONG kUnitsPerSecond = 10000000;

ClockImpl* DefaultClock()
{
    // Threads that belong to no clock and no machine use a real-time clock of the process. It is never
    // destroyed (threads may still use it while the process exits).
    static Clock* clock = new Clock([] {
        ClockConfig c;
        c.mode = ClockMode::Real;
        c.name = "process";
        return c;
    }());
    return clock->Impl();
}

void DpcThreadMain(ClockImpl* c, ::PlatformThread* self);
void ServiceMain(ClockImpl* c);
void WatchMain(ClockImpl* c);

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// Thread-local state.

KernelInstance* CurrentKernel() { return t_kernel; }
void SetCurrentKernel(KernelInstance* k) { t_kernel = k; }

ClockImpl* CurrentClockImpl()
{
    if (t_clock != nullptr) return t_clock;
    if (t_kernel != nullptr && t_kernel->clock != nullptr) return t_kernel->clock->Impl();
    return DefaultClock();
}

ClockImpl* ClockOfObject(DISPATCHER_HEADER* h)
{
    if (h->Clock == nullptr) return CurrentClockImpl();
    return h->Clock->Impl();
}

::PlatformThread* CurrentThreadRecord()
{
    if (t_thread != nullptr) return t_thread;
    if (!t_implicit) {
        t_implicit = std::make_unique<::PlatformThread>();
        ::PlatformThread* t = t_implicit.get();
        t->object.Platform = t;
        t->object.Header.Type = ThreadObject;
        InitializeListHead(&t->object.Header.WaitListHead);
        t->implicit = true;
        t->name = "outside thread";
    }
    return t_implicit.get();
}

void BindThread(::PlatformThread* t, ClockImpl* c, KernelInstance* k)
{
    t_thread = t;
    t_clock = c;
    t_kernel = k;
}

// ---------------------------------------------------------------------------------------------------------
// Text helpers used across the platform.

std::string Format(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    va_list ap2;
    va_copy(ap2, ap);
    int n = std::vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    std::string out;
    if (n > 0) {
        out.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(out.data(), out.size(), fmt, ap2);
        out.resize(static_cast<size_t>(n));
    }
    va_end(ap2);
    return out;
}

static std::string TimeText(LONGLONG t)
{
    return Format("%" PRId64 ".%07" PRId64, static_cast<int64_t>(t / kUnitsPerSecond),
                  static_cast<int64_t>(t % kUnitsPerSecond));
}

// ---------------------------------------------------------------------------------------------------------
// Clock implementation.

LONGLONG ClockImpl::NowLocked() const
{
    if (config.mode == ClockMode::Virtual) return virtualNow;
    auto d = std::chrono::steady_clock::now() - realBase;
    return std::chrono::duration_cast<std::chrono::nanoseconds>(d).count() / 100;
}

LONGLONG ClockImpl::AlignToTick(LONGLONG t) const
{
    if (!config.alignTimersToTick || config.timeIncrement == 0) return t;
    LONGLONG inc = config.timeIncrement;
    return ((t + inc - 1) / inc) * inc;
}

void ClockImpl::AddDeadlineLocked(DeadlineKey& key, const Deadline& d)
{
    key.seq = nextSeq++;
    bool earliest = deadlines.empty() || key < deadlines.begin()->first;
    deadlines.emplace(key, d);
    if (config.mode == ClockMode::Real && earliest) serviceCv.notify_all();
}

void ClockImpl::RemoveDeadlineLocked(const DeadlineKey& key) { deadlines.erase(key); }

void ClockImpl::TraceLocked(const std::string& text)
{
    if (traceOn) trace.push_back(TimeText(NowLocked()) + " " + text);
}

void ClockImpl::MaybeAdvanceLocked()
{
    if (config.mode != ClockMode::Virtual) return;
    uint64_t fired = 0;
    while (runnable == 0 && holds == 0 && !deadlines.empty() && !stopping) {
        auto it = deadlines.begin();
        DeadlineKey key = it->first;
        Deadline d = it->second;
        deadlines.erase(it);
        if (key.time > virtualNow) {
            virtualNow = key.time;
            stats.advances++;
        }
        FireLocked(key, d);
        if (++fired > 1000000) {
            // Expiries that wake nobody, forever (a periodic timer without a DPC or waiter while everyone
            // else waits): report it as a deadlock rather than spin.
            stalled = true;
            break;
        }
    }
    // A fired routine needs a thread to run it: the waiting thread that advanced runs it itself; elsewhere
    // (a release, a thread's end, a timer set) the DPC thread is woken, whose next wait runs it.
    if (!dueRoutines.empty() && !routineRunning && !inlineRunner) SetEventLocked(this, &dpcEvent);
}

namespace {
thread_local bool t_inRoutine = false;
}

bool InClockRoutine() { return t_inRoutine; }

void ClockImpl::RunRoutinesLocked(std::unique_lock<std::mutex>& lk)
{
    while (!dueRoutines.empty() && !routineRunning) {
        ClockRoutine* r = dueRoutines.front();
        dueRoutines.erase(dueRoutines.begin());
        r->queued = false;
        r->running = true;
        routineRunning = true;
        // The routine runs as a thread of this clock and of no machine.
        KernelInstance* kernel = t_kernel;
        ClockImpl* clock = t_clock;
        lk.unlock();
        t_kernel = nullptr;
        t_clock = this;
        t_inRoutine = true;
        r->routine(r->context);
        t_inRoutine = false;
        t_clock = clock;
        t_kernel = kernel;
        lk.lock();
        r->running = false;
        routineRunning = false;
        routineDone.notify_all();
        runnable--;
        activity++;
        inlineRunner = true;
        MaybeAdvanceLocked();
        inlineRunner = false;
    }
}

void ClockImpl::FireLocked(const DeadlineKey& key, const Deadline& d)
{
    stats.expiries++;
    activity++;
    if (d.routine != nullptr) {
        ClockRoutine* r = d.routine;
        r->scheduled = false;
        r->queued = true;
        dueRoutines.push_back(r);
        runnable++;  // counted as a running thread until it has run
        TraceLocked(Format("routine %s", r->name));
        return;
    }
    if (d.thread != nullptr) {
        ::PlatformThread* t = d.thread;
        t->hasDeadline = false;
        TraceLocked("timeout " + t->name);
        WakeLocked(this, t, STATUS_TIMEOUT);
        return;
    }
    PKTIMER timer = d.timer;
    timer->Header.Inserted = 0;
    timer->Header.SignalState = 1;
    TraceLocked(Format("timer %u", timer->TraceId));
    SignalWaitersLocked(this, &timer->Header);
    if (timer->Period > 0) {
        DeadlineKey next;
        next.time = AlignToTick(key.time + static_cast<LONGLONG>(timer->Period) * 10000);
        AddDeadlineLocked(next, d);
        timer->DueTime = next.time;
        timer->Sequence = next.seq;
        timer->Header.Inserted = 1;
    }
    if (timer->Dpc != nullptr) {
        LONGLONG st = SystemTimeLocked();
        InsertDpcLocked(this, timer->Dpc, reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(st & 0xFFFFFFFF)),
                        reinterpret_cast<PVOID>(static_cast<ULONG_PTR>((st >> 32) & 0xFFFFFFFF)), nullptr);
    }
}

std::string ClockImpl::DumpLocked() const
{
    std::string out = Format("clock \"%s\" at %s: %d counted, %d runnable, %d holds, %d external sources, "
                             "%zu deadlines%s\n",
                             config.name, TimeText(NowLocked()).c_str(), counted, runnable, holds, external,
                             deadlines.size(), stalled ? ", expiries wake nobody" : "");
    std::vector<std::string> lines;
    for (const ::PlatformThread* t : threads) {
        std::string line = "  " + t->name + (t->counted ? " (counted)" : " (not counted)");
        if (!t->waiting) {
            line += ": running";
        } else {
            line += Format(": waits (%s) on", t->waitWhat);
            if (t->waitCount == 0) line += " nothing (delay)";
            for (ULONG i = 0; i < t->waitCount; i++) {
                auto* h = static_cast<DISPATCHER_HEADER*>(t->blocks[i].Object);
                const char* kind = "object";
                switch (h->Type) {
                case NotificationEventObject: kind = "notification event"; break;
                case SynchronizationEventObject: kind = "synchronization event"; break;
                case MutexObject: kind = "mutex"; break;
                case SemaphoreObject: kind = "semaphore"; break;
                case ThreadObject: kind = "thread"; break;
                case NotificationTimerObject:
                case SynchronizationTimerObject: kind = "timer"; break;
                default: break;
                }
                if (h->Type == ThreadObject) {
                    line += Format(" %s %s;", kind, reinterpret_cast<KTHREAD*>(h)->Platform->name.c_str());
                } else {
                    line += Format(" %s %p;", kind, static_cast<void*>(h));
                }
            }
            line += t->hasDeadline ? " until " + TimeText(t->deadline.time) : " with no time-out";
        }
        lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    for (auto& l : lines) out += l + "\n";
    return out;
}

// ---------------------------------------------------------------------------------------------------------
// Clock.

Clock::Clock(const ClockConfig& config) : impl_(std::make_unique<ClockImpl>())
{
    ClockImpl* c = impl_.get();
    c->config = config;
    c->owner = this;
    c->realBase = std::chrono::steady_clock::now();
    if (config.mode == ClockMode::Virtual) {
        c->systemTimeBase = config.startSystemTime;
    } else {
        // 100 ns units between 1601-01-01 and 1970-01-01.
        constexpr LONGLONG kEpochDelta = 116444736000000000LL;
        auto since = std::chrono::system_clock::now().time_since_epoch();
        c->systemTimeBase = kEpochDelta + std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / 100;
    }
    c->deadlockHandler = [](const std::string& dump) {
        std::fprintf(stderr, "platform: deadlock: every thread waits and nothing can wake them\n%s", dump.c_str());
        std::fflush(stderr);
        std::abort();
    };
    InitializeListHead(&c->dpcQueue);
    InitEventOn(&c->dpcEvent, c, SynchronizationEvent, FALSE);

    // The DPC thread is counted and starts runnable.
    ::PlatformThread* t = NewServiceThread(c, "DPC thread", &c->dpcThread);
    c->dpcOsThread = std::thread(DpcThreadMain, c, t);
    if (config.mode == ClockMode::Real) c->service = std::thread(ServiceMain, c);
    if (config.mode == ClockMode::Virtual) c->watch = std::thread(WatchMain, c);
}

Clock::~Clock()
{
    ClockImpl* c = impl_.get();
    StopEventWorker(c);
    {
        std::unique_lock<std::mutex> lk(c->mu);
        if (!c->threadsEnded.wait_for(lk, std::chrono::seconds(20), [c] { return c->liveSystemThreads == 0; })) {
            std::fprintf(stderr, "platform: clock destroyed while %d system threads still run\n%s",
                         c->liveSystemThreads, c->DumpLocked().c_str());
            std::abort();
        }
        c->stopping = true;
        SetEventLocked(c, &c->dpcEvent);
        c->serviceCv.notify_all();
        c->watchCv.notify_all();
    }
    c->dpcOsThread.join();
    if (c->service.joinable()) c->service.join();
    if (c->watch.joinable()) c->watch.join();
    delete c->dpcThread;
}

ClockMode Clock::Mode() const { return impl_->config.mode; }
LONGLONG Clock::Now() const
{
    std::lock_guard<std::mutex> lk(impl_->mu);
    return impl_->NowLocked();
}
LONGLONG Clock::SystemTime() const
{
    std::lock_guard<std::mutex> lk(impl_->mu);
    return impl_->SystemTimeLocked();
}
ULONG Clock::TimeIncrement() const { return impl_->config.timeIncrement; }

void Clock::Hold()
{
    std::lock_guard<std::mutex> lk(impl_->mu);
    impl_->holds++;
    impl_->activity++;
}

void Clock::Release()
{
    std::lock_guard<std::mutex> lk(impl_->mu);
    if (impl_->holds == 0) {
        // More releases than holds would keep the clock held for ever.
        std::fprintf(stderr, "platform: Clock::Release without a matching Hold\n");
        std::abort();
    }
    impl_->holds--;
    impl_->activity++;
    impl_->MaybeAdvanceLocked();
}

void Clock::AddExternalSource()
{
    std::lock_guard<std::mutex> lk(impl_->mu);
    impl_->external++;
    impl_->activity++;
}

void Clock::RemoveExternalSource()
{
    std::lock_guard<std::mutex> lk(impl_->mu);
    impl_->external--;
    impl_->activity++;
}

void Clock::SetDeadlockHandler(std::function<void(const std::string&)> handler)
{
    std::lock_guard<std::mutex> lk(impl_->mu);
    impl_->deadlockHandler = std::move(handler);
}

std::string Clock::DumpWaits() const
{
    std::lock_guard<std::mutex> lk(impl_->mu);
    return impl_->DumpLocked();
}

void Clock::SetIrqlViolationsFatal(bool fatal)
{
    std::lock_guard<std::mutex> lk(impl_->mu);
    impl_->irqlFatal = fatal;
}

std::vector<std::string> Clock::IrqlViolations() const
{
    std::lock_guard<std::mutex> lk(impl_->mu);
    return impl_->irqlViolations;
}

void Clock::EnableTrace(bool on)
{
    std::lock_guard<std::mutex> lk(impl_->mu);
    impl_->traceOn = on;
}

void Clock::TraceLine(const std::string& line)
{
    std::lock_guard<std::mutex> lk(impl_->mu);
    impl_->TraceLocked(line);
}

std::vector<std::string> Clock::Trace() const
{
    std::lock_guard<std::mutex> lk(impl_->mu);
    return impl_->trace;
}

void Clock::ClearTrace()
{
    std::lock_guard<std::mutex> lk(impl_->mu);
    impl_->trace.clear();
}

ClockStats Clock::Stats() const
{
    std::lock_guard<std::mutex> lk(impl_->mu);
    return impl_->stats;
}

ClockRoutine* Clock::CreateRoutine(void (*routine)(void*), void* context, const char* name)
{
    if (impl_->config.mode != ClockMode::Virtual) return nullptr;
    auto* r = new ClockRoutine();
    r->routine = routine;
    r->context = context;
    r->name = name;
    return r;
}

void Clock::ScheduleRoutine(ClockRoutine* r, LONGLONG due)
{
    ClockImpl* c = impl_.get();
    std::lock_guard<std::mutex> lk(c->mu);
    if (r->queued || r->deleting) return;  // queued: it runs soon and schedules its next time itself
    due = c->AlignToTick(due < c->NowLocked() ? c->NowLocked() : due);
    if (r->scheduled) {
        if (r->key.time <= due) return;
        c->RemoveDeadlineLocked(r->key);
    }
    r->key = DeadlineKey{};
    r->key.time = due;
    Deadline d;
    d.routine = r;
    c->AddDeadlineLocked(r->key, d);
    r->scheduled = true;
    c->activity++;
    c->MaybeAdvanceLocked();
}

void Clock::DeleteRoutine(ClockRoutine* r)
{
    if (r == nullptr) return;
    ClockImpl* c = impl_.get();
    std::unique_lock<std::mutex> lk(c->mu);
    r->deleting = true;
    if (r->scheduled) c->RemoveDeadlineLocked(r->key);
    r->scheduled = false;
    if (r->queued) {
        auto& q = c->dueRoutines;
        q.erase(std::remove(q.begin(), q.end(), r), q.end());
        r->queued = false;
        c->runnable--;
    }
    c->routineDone.wait(lk, [r] { return !r->running; });
    c->activity++;
    c->MaybeAdvanceLocked();
    lk.unlock();
    delete r;
}

void ReportIrqlViolation(ClockImpl* c, const std::string& what)
{
    bool fatal;
    {
        std::lock_guard<std::mutex> lk(c->mu);
        c->irqlViolations.push_back(what);
        fatal = c->irqlFatal;
    }
    if (fatal) {
        std::fprintf(stderr, "platform: IRQL violation: %s\n", what.c_str());
        std::fflush(stderr);
        std::abort();
    }
}

// ---------------------------------------------------------------------------------------------------------
// Binding threads.

struct ClockThreadSaved {
    ::PlatformThread* previousThread;
    ClockImpl* previousClock;
    KernelInstance* previousKernel;
    ::PlatformThread* record;
};

ClockThread::ClockThread(Clock& clock, bool counted, const char* name)
{
    ClockImpl* c = clock.Impl();
    if (t_thread != nullptr && t_clock == c) {
        // Already bound to this clock (a fixture and its test both register): nothing changes.
        saved_ = nullptr;
        return;
    }
    auto* t = new ::PlatformThread();
    t->object.Platform = t;
    InitHeader(&t->object.Header, ThreadObject, 0, c);
    t->clock = c;
    t->counted = counted;
    t->name = name;
    auto* s = new ClockThreadSaved{t_thread, t_clock, t_kernel, t};
    {
        std::lock_guard<std::mutex> lk(c->mu);
        if (counted) {
            c->counted++;
            c->runnable++;
        }
        c->threads.insert(t);
    }
    t_thread = t;
    t_clock = c;
    saved_ = s;
}

ClockThread::~ClockThread()
{
    auto* s = static_cast<ClockThreadSaved*>(saved_);
    if (s == nullptr) return;
    ::PlatformThread* t = s->record;
    ClockImpl* c = t->clock;
    {
        std::lock_guard<std::mutex> lk(c->mu);
        if (t->counted) {
            c->counted--;
            c->runnable--;
        }
        c->threads.erase(t);
        c->activity++;
        c->MaybeAdvanceLocked();
    }
    t_thread = s->previousThread;
    t_clock = s->previousClock;
    t_kernel = s->previousKernel;
    delete t;
    delete s;
}

Clock* CurrentClock()
{
    if (t_clock != nullptr) return t_clock->owner;
    if (t_kernel != nullptr) return t_kernel->clock;
    return nullptr;
}

void SleepMs(LONGLONG ms)
{
    LARGE_INTEGER interval;
    interval.QuadPart = -ms * 10000;
    KeDelayExecutionThread(KernelMode, FALSE, &interval);
}

// ---------------------------------------------------------------------------------------------------------
// Service threads.

::PlatformThread* NewServiceThread(ClockImpl* c, const char* name, ::PlatformThread** slot)
{
    auto* t = new ::PlatformThread();
    t->object.Platform = t;
    InitHeader(&t->object.Header, ThreadObject, 0, c);
    t->clock = c;
    t->counted = true;
    t->system = true;
    t->name = name;
    std::lock_guard<std::mutex> lk(c->mu);
    c->counted++;
    c->runnable++;
    c->threads.insert(t);
    if (slot != nullptr)
        *slot = t;
    return t;
}

void EndServiceThreadLocked(ClockImpl* c, ::PlatformThread* t)
{
    c->counted--;
    c->runnable--;
    c->threads.erase(t);
}

namespace {

void DpcThreadMain(ClockImpl* c, ::PlatformThread* self)
{
    BindThread(self, c, nullptr);
    PVOID object = &c->dpcEvent;
    for (;;) {
        WaitCore(1, &object, WaitAny, nullptr, "DPC queue", c);
        for (;;) {
            PKDPC dpc;
            PKDEFERRED_ROUTINE routine;
            PVOID context, a1, a2;
            {
                std::lock_guard<std::mutex> lk(c->mu);
                if (IsListEmpty(&c->dpcQueue)) {
                    if (c->stopping) {
                        EndServiceThreadLocked(c, self);
                        return;
                    }
                    break;
                }
                PLIST_ENTRY e = RemoveHeadList(&c->dpcQueue);
                dpc = CONTAINING_RECORD(e, KDPC, DpcListEntry);
                dpc->DpcData = nullptr;
                routine = dpc->DeferredRoutine;
                context = dpc->DeferredContext;
                a1 = dpc->SystemArgument1;
                a2 = dpc->SystemArgument2;
                c->stats.dpcs++;
            }
            SetCurrentKernel(dpc->Kernel);
            KIRQL old;
            KeRaiseIrql(DISPATCH_LEVEL, &old);
            routine(dpc, context, a1, a2);
            if (KeGetCurrentIrql() != DISPATCH_LEVEL) {
                ReportIrqlViolation(c, Format("a DPC returned at IRQL %d", KeGetCurrentIrql()));
            }
            KeLowerIrql(old);
            SetCurrentKernel(nullptr);
        }
    }
}

void ServiceMain(ClockImpl* c)
{
    std::unique_lock<std::mutex> lk(c->mu);
    while (!c->stopping) {
        if (c->deadlines.empty()) {
            c->serviceCv.wait(lk);
            continue;
        }
        auto it = c->deadlines.begin();
        LONGLONG now = c->NowLocked();
        if (now >= it->first.time) {
            DeadlineKey key = it->first;
            Deadline d = it->second;
            c->deadlines.erase(it);
            c->FireLocked(key, d);
        } else {
            c->serviceCv.wait_for(lk, std::chrono::nanoseconds((it->first.time - now) * 100));
        }
    }
}

bool DeadlockConditionLocked(ClockImpl* c)
{
    if (c->runnable != 0 || c->holds != 0 || c->external != 0) return false;
    if (!c->deadlines.empty() && !c->stalled) return false;
    for (const ::PlatformThread* t : c->threads) {
        if (t != c->dpcThread && t != c->eventWorkerThread && t->waiting && !t->hasDeadline) return true;
    }
    return false;
}

// Looks every grace period: a deadlock condition that held at two looks with no progress in between is
// reported once (so the paths that wait and wake never have to notify it).
void WatchMain(ClockImpl* c)
{
    std::unique_lock<std::mutex> lk(c->mu);
    uint64_t reported = ~uint64_t(0);
    while (!c->stopping) {
        uint64_t seen = c->activity;
        bool before = DeadlockConditionLocked(c);
        c->watchCv.wait_for(lk, std::chrono::milliseconds(c->config.deadlockGraceMs), [c] { return c->stopping; });
        if (c->stopping) break;
        if (before && c->activity == seen && seen != reported && DeadlockConditionLocked(c)) {
            reported = seen;
            std::string dump = c->DumpLocked();
            auto handler = c->deadlockHandler;
            lk.unlock();
            handler(dump);
            lk.lock();
        }
    }
}

}  // namespace

}  // namespace platform
