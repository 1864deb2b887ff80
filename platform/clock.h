// The clock behind every time query, wait and timer of the platform (host and test API).
//
// Real mode follows the wall clock. Virtual mode counts the threads the platform created (system threads,
// the DPC thread) and threads that registered themselves (ClockThread): a counted thread inside a platform
// wait is waiting, otherwise it is runnable. When no counted thread is runnable and the clock is not held,
// time jumps to the earliest deadline (timer expiry or wait time-out) and fires it. A wake-up is accounted
// before the waker returns, so time can never move between "signalled" and "woke".
//
// Threads the platform does not know (host readers of ptys and sockets) are not counted; they hand input
// over by setting an event (or queueing a DPC) and announce themselves with ExternalSource, so that an idle
// machine with no deadline waits for them instead of being reported as deadlocked. A lockstep endpoint holds
// the clock (ClockHold) while it waits for its peer, so time does not run ahead of the peer.
//
// All counted threads waiting, no deadline, no hold and no external source is a deadlock: after a short
// grace period the deadlock handler receives a dump of who waits on what (by default it is printed and the
// process aborts).
//
// Several machines may share one clock. Dispatcher objects (events, timers, DPCs, threads) belong to the
// clock that was current for the thread that initialised them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ntdef.h"

struct KEVENT;
struct KTHREAD;

namespace platform {

enum class ClockMode { Real, Virtual };

struct ClockConfig {
    ClockMode mode = ClockMode::Virtual;
    ULONG timeIncrement = 156250;       // 100 ns units per clock tick (KeQueryTimeIncrement)
    bool alignTimersToTick = false;     // expire timers and time-outs on tick boundaries, as the kernel does
    LONGLONG startSystemTime = 134124192000000000LL;  // virtual mode: 2026-01-01 00:00 in 100 ns since 1601
    unsigned deadlockGraceMs = 2000;    // wall time the deadlock condition must persist before it is reported
    const char* name = "clock";
};

struct ClockStats {
    uint64_t advances = 0;   // virtual time jumps
    uint64_t expiries = 0;   // timers and time-outs fired
    uint64_t dpcs = 0;       // DPCs run
    uint64_t wakeups = 0;    // waits satisfied by a signal
};

struct ClockImpl;
struct ClockRoutine;
struct ClockEventWork;

class Clock {
public:
    explicit Clock(const ClockConfig& config = ClockConfig());
    ~Clock();  // every platform thread of this clock must have ended
    Clock(const Clock&) = delete;
    Clock& operator=(const Clock&) = delete;

    ClockMode Mode() const;
    LONGLONG Now() const;         // 100 ns since the clock started
    LONGLONG SystemTime() const;  // 100 ns since 1601
    ULONG TimeIncrement() const;

    // While held, virtual time does not advance (nested holds count).
    void Hold();
    void Release();
    void AddExternalSource();
    void RemoveExternalSource();

    void SetDeadlockHandler(std::function<void(const std::string& dump)> handler);
    std::string DumpWaits() const;  // one line per known thread: name, state, what it waits on, deadline

    // A wait at DISPATCH_LEVEL or above (or another IRQL rule broken) is recorded here. By default the first
    // violation also stops the program; a test that provokes one turns that off.
    void SetIrqlViolationsFatal(bool fatal);
    std::vector<std::string> IrqlViolations() const;

    // Trace of clock events in order (time, what fired, who woke); for checking determinism.
    void EnableTrace(bool on);
    void TraceLine(const std::string& line);  // adds a line stamped with the current time
    std::vector<std::string> Trace() const;
    void ClearTrace();

    ClockStats Stats() const;
    ClockImpl* Impl() const { return impl_.get(); }

    // Virtual mode: a routine the clock runs itself when its time comes, instead of waking a thread that waits
    // for that time. When every counted thread waits and the routine's time is the earliest deadline, the
    // thread that went to wait last runs it, outside the dispatcher lock, before it sleeps (so a routine that
    // sets the event this thread waits for costs no thread switch at all). While it runs the routine counts as
    // a runnable thread: time stands still. A routine may set events, queue DPCs and schedule itself again; it
    // must not wait. CreateRoutine returns null in real mode (use a thread there).
    ClockRoutine* CreateRoutine(void (*routine)(void* context), void* context, const char* name);
    // Runs the routine at `due` (clock time, 100 ns); a pending time earlier than `due` is kept.
    void ScheduleRoutine(ClockRoutine* routine, LONGLONG due);
    // Cancels the routine and waits until it is not running; not from inside the routine.
    void DeleteRoutine(ClockRoutine* routine);

    // Virtual mode: work that runs each time a notification event is set, on one worker thread the clock
    // shares among all its machines instead of on a thread of its own. The worker waits for every member's
    // event at once; a set event is reset and its work called, with the machine current that added it, at
    // PASSIVE_LEVEL. Members set in the same instant run one after another in the order they were added, so
    // many devices due together cost no thread switch each. Work may wait (members behind it wait too). Null
    // in real mode or when the worker has no room left (use a thread of your own then).
    ClockEventWork* AddEventWork(KEVENT* event, void (*work)(void* context), void* context, const char* name);
    // Stops the work; a run in progress finishes first. Not from inside any work of the worker.
    void RemoveEventWork(ClockEventWork* work);
    KTHREAD* EventWorkerThread() const;  // the worker's thread object (null before the first AddEventWork)

private:
    std::unique_ptr<ClockImpl> impl_;
};

// Registers the calling thread with a clock for the scope's lifetime: dispatcher objects it initialises
// belong to this clock and, when counted, the thread takes part in virtual time (time stands still while it
// runs outside a platform wait). Test main threads use this to drive a machine step by step. A second
// ClockThread for the same clock on the same thread changes nothing.
class ClockThread {
public:
    explicit ClockThread(Clock& clock, bool counted = true, const char* name = "main");
    ~ClockThread();
    ClockThread(const ClockThread&) = delete;
    ClockThread& operator=(const ClockThread&) = delete;

private:
    void* saved_;
};

class ClockHold {
public:
    explicit ClockHold(Clock& clock) : clock_(clock) { clock_.Hold(); }
    ~ClockHold() { clock_.Release(); }
    ClockHold(const ClockHold&) = delete;
    ClockHold& operator=(const ClockHold&) = delete;

private:
    Clock& clock_;
};

class ExternalSource {
public:
    explicit ExternalSource(Clock& clock) : clock_(clock) { clock_.AddExternalSource(); }
    ~ExternalSource() { clock_.RemoveExternalSource(); }
    ExternalSource(const ExternalSource&) = delete;
    ExternalSource& operator=(const ExternalSource&) = delete;

private:
    Clock& clock_;
};

// The clock of the calling thread (its ClockThread or the clock of the platform thread), or null.
Clock* CurrentClock();

// Sleeps for a number of milliseconds on the calling thread's clock (a platform wait).
void SleepMs(LONGLONG ms);

}  // namespace platform
