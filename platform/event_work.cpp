// Event work: one worker thread per clock that runs, for each member event that is set, the member's work.
#include <algorithm>

#include "platform/internal.h"

namespace platform {

struct EventWorker {
    ::PlatformThread* thread = nullptr;
    std::thread os;
    KEVENT control;  // synchronisation event: members changed or stop
    std::mutex mu;   // guards the fields below
    std::vector<ClockEventWork*> members;
    bool changed = false;
    bool stop = false;
};

}  // namespace platform

struct platform::ClockEventWork {
    KEVENT* event = nullptr;
    void (*work)(void*) = nullptr;
    void* context = nullptr;
    const char* name = "";
    KernelInstance* kernel = nullptr;
    bool removing = false;  // guarded by the worker's lock
    KEVENT removed;         // notification: the worker has let go of the member
};

namespace platform {

namespace {

// Takes the worker's member list over; removed members are let go once the list no longer holds them.
// Returns false when the worker is to stop.
bool Refresh(EventWorker* w, std::vector<ClockEventWork*>* items)
{
    std::vector<ClockEventWork*> gone;
    {
        std::lock_guard<std::mutex> lk(w->mu);
        if (w->stop)
            return false;
        if (!w->changed)
            return true;
        w->changed = false;
        auto& m = w->members;
        for (ClockEventWork* e : m)
            if (e->removing)
                gone.push_back(e);
        m.erase(std::remove_if(m.begin(), m.end(), [](ClockEventWork* e) { return e->removing; }), m.end());
        *items = m;
    }
    for (ClockEventWork* e : gone)
        KeSetEvent(&e->removed, IO_NO_INCREMENT, FALSE);  // the remover frees it: not touched after this
    return true;
}

bool StillMember(EventWorker* w, ClockEventWork* e)
{
    std::lock_guard<std::mutex> lk(w->mu);
    return !e->removing;
}

void WorkerMain(ClockImpl* c, EventWorker* w)
{
    BindThread(w->thread, c, nullptr);
    std::vector<ClockEventWork*> items;
    std::vector<PVOID> objects;
    while (Refresh(w, &items)) {
        objects.assign(1, &w->control);
        for (ClockEventWork* e : items)
            objects.push_back(e->event);
        // Any-of takes the lowest set index: a change of members comes first, then members in order.
        const NTSTATUS status =
            WaitCore(static_cast<ULONG>(objects.size()), objects.data(), WaitAny, nullptr, "event work", c);
        const size_t index = static_cast<size_t>(status - STATUS_WAIT_0);
        if (index == 0 || index > items.size())
            continue;
        ClockEventWork* e = items[index - 1];
        KeResetEvent(e->event);
        if (!StillMember(w, e))
            continue;
        SetCurrentKernel(e->kernel);
        e->work(e->context);
        SetCurrentKernel(nullptr);
    }
    std::lock_guard<std::mutex> lk(c->mu);
    EndServiceThreadLocked(c, w->thread);
    c->eventWorkerThread = nullptr;
    c->activity++;
    BindThread(nullptr, nullptr, nullptr);
}

EventWorker* StartWorker(ClockImpl* c)
{
    auto* w = new EventWorker();
    InitEventOn(&w->control, c, SynchronizationEvent, FALSE);
    w->thread = NewServiceThread(c, "event worker", &c->eventWorkerThread);  // runnable until its first wait
    w->os = std::thread(WorkerMain, c, w);
    return w;
}

}  // namespace

void StopEventWorker(ClockImpl* c)
{
    EventWorker* w;
    {
        std::lock_guard<std::mutex> lk(c->eventWorkerLock);
        w = c->eventWorker;
        c->eventWorker = nullptr;
    }
    if (w == nullptr)
        return;
    {
        std::lock_guard<std::mutex> lk(w->mu);
        w->stop = true;
    }
    KeSetEvent(&w->control, IO_NO_INCREMENT, FALSE);
    w->os.join();
    ObDereferenceObject(&w->thread->object);
    delete w;
}

ClockEventWork* Clock::AddEventWork(KEVENT* event, void (*work)(void*), void* context, const char* name)
{
    ClockImpl* c = impl_.get();
    if (c->config.mode != ClockMode::Virtual)
        return nullptr;
    EventWorker* w;
    {
        std::lock_guard<std::mutex> lk(c->eventWorkerLock);
        if (c->eventWorker == nullptr)
            c->eventWorker = StartWorker(c);
        w = c->eventWorker;
    }
    auto* e = new ClockEventWork();
    e->event = event;
    e->work = work;
    e->context = context;
    e->name = name;
    e->kernel = CurrentKernel();
    InitEventOn(&e->removed, c, NotificationEvent, FALSE);
    {
        std::lock_guard<std::mutex> lk(w->mu);
        if (w->members.size() + 1 >= MAXIMUM_WAIT_OBJECTS) {
            delete e;
            return nullptr;
        }
        w->members.push_back(e);
        w->changed = true;
    }
    KeSetEvent(&w->control, IO_NO_INCREMENT, FALSE);
    return e;
}

void Clock::RemoveEventWork(ClockEventWork* e)
{
    if (e == nullptr)
        return;
    ClockImpl* c = impl_.get();
    EventWorker* w;
    {
        std::lock_guard<std::mutex> lk(c->eventWorkerLock);
        w = c->eventWorker;
    }
    {
        std::lock_guard<std::mutex> lk(w->mu);
        e->removing = true;
        w->changed = true;
    }
    KeSetEvent(&w->control, IO_NO_INCREMENT, FALSE);
    PVOID object = &e->removed;
    WaitCore(1, &object, WaitAny, nullptr, "RemoveEventWork", c);
    delete e;
}

KTHREAD* Clock::EventWorkerThread() const
{
    ClockImpl* c = impl_.get();
    std::lock_guard<std::mutex> lk(c->eventWorkerLock);
    return c->eventWorker != nullptr ? &c->eventWorker->thread->object : nullptr;
}

}  // namespace platform
