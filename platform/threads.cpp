// System threads, thread objects and handles.
#include <cstdio>
#include <cstdlib>

#include "platform/internal.h"

using namespace platform;

namespace platform {

namespace {

struct HandleRecord {
    HandleKind kind;
    void* object;
};

std::mutex& HandleLock()
{
    static std::mutex* m = new std::mutex();
    return *m;
}

std::set<HandleRecord*>& Handles()
{
    static auto* s = new std::set<HandleRecord*>();
    return *s;
}

// Thrown by PsTerminateSystemThread and caught where the thread began.
struct ThreadTermination {
    NTSTATUS status;
};

void DereferenceThread(::PlatformThread* t)
{
    if (t->refs.fetch_sub(1) == 1) delete t;
}

void ThreadMain(::PlatformThread* t)
{
    BindThread(t, t->clock, t->kernel);
    try {
        t->start(t->context);
    } catch (const ThreadTermination&) {
    }
    ClockImpl* c = t->clock;
    {
        std::lock_guard<std::mutex> lk(c->mu);
        t->object.Header.SignalState = 1;
        SignalWaitersLocked(c, &t->object.Header);
        c->counted--;
        c->runnable--;
        c->threads.erase(t);
        c->activity++;
        c->MaybeAdvanceLocked();
        c->liveSystemThreads--;
        c->threadsEnded.notify_all();
    }
    BindThread(nullptr, nullptr, nullptr);
    DereferenceThread(t);
}

}  // namespace

HANDLE NewHandle(HandleKind kind, void* object)
{
    auto* h = new HandleRecord{kind, object};
    std::lock_guard<std::mutex> lk(HandleLock());
    Handles().insert(h);
    return h;
}

void* HandleObject(HANDLE h, HandleKind kind)
{
    std::lock_guard<std::mutex> lk(HandleLock());
    auto* r = static_cast<HandleRecord*>(h);
    if (Handles().count(r) == 0 || r->kind != kind) return nullptr;
    return r->object;
}

bool CloseHandleRecord(HANDLE h, HandleKind* kind, void** object)
{
    std::lock_guard<std::mutex> lk(HandleLock());
    auto* r = static_cast<HandleRecord*>(h);
    if (Handles().erase(r) == 0) return false;
    *kind = r->kind;
    *object = r->object;
    delete r;
    return true;
}

void CloseKeyObject(void* key);  // registry

}  // namespace platform

POBJECT_TYPE* PsThreadType = nullptr;

NTSTATUS PsCreateSystemThread(PHANDLE ThreadHandle, ULONG, POBJECT_ATTRIBUTES, HANDLE, PCLIENT_ID,
                              PKSTART_ROUTINE StartRoutine, PVOID StartContext)
{
    if (ThreadHandle == nullptr || StartRoutine == nullptr) return STATUS_INVALID_PARAMETER;
    ClockImpl* c = CurrentClockImpl();
    auto* t = new ::PlatformThread();
    t->object.Platform = t;
    InitHeader(&t->object.Header, ThreadObject, 0, c);
    t->clock = c;
    t->kernel = CurrentKernel();
    t->counted = true;
    t->system = true;
    t->start = StartRoutine;
    t->context = StartContext;
    t->refs = 2;  // the running thread and the handle
    {
        std::lock_guard<std::mutex> lk(c->mu);
        t->name = Format("%s%sthread %u", t->kernel ? t->kernel->name.c_str() : "", t->kernel ? " " : "",
                         c->nextThreadId++);
        c->counted++;
        c->runnable++;  // runnable from now on: time cannot move before it starts
        c->liveSystemThreads++;
        c->threads.insert(t);
    }
    try {
        std::thread(ThreadMain, t).detach();
    } catch (...) {
        std::lock_guard<std::mutex> lk(c->mu);
        c->counted--;
        c->runnable--;
        c->liveSystemThreads--;
        c->threads.erase(t);
        delete t;
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    *ThreadHandle = NewHandle(HandleKind::Thread, t);
    return STATUS_SUCCESS;
}

NTSTATUS PsTerminateSystemThread(NTSTATUS ExitStatus)
{
    ::PlatformThread* t = CurrentThreadRecord();
    if (!t->system || t->start == nullptr) {
        std::fprintf(stderr, "platform: PsTerminateSystemThread called outside a system thread\n");
        std::abort();
    }
    throw ThreadTermination{ExitStatus};
}

PKTHREAD KeGetCurrentThread() { return &CurrentThreadRecord()->object; }
PETHREAD PsGetCurrentThread() { return KeGetCurrentThread(); }

KPRIORITY KeSetPriorityThread(PKTHREAD Thread, KPRIORITY Priority)
{
    KPRIORITY old = Thread->Platform->priority;
    Thread->Platform->priority = Priority;
    return old;
}

KPRIORITY KeQueryPriorityThread(PKTHREAD Thread) { return Thread->Platform->priority; }

NTSTATUS ObReferenceObjectByHandle(HANDLE Handle, ACCESS_MASK, POBJECT_TYPE, KPROCESSOR_MODE, PVOID* Object,
                                   POBJECT_HANDLE_INFORMATION)
{
    auto* t = static_cast<::PlatformThread*>(HandleObject(Handle, HandleKind::Thread));
    if (t == nullptr) return STATUS_INVALID_HANDLE;
    t->refs.fetch_add(1);
    *Object = &t->object;
    return STATUS_SUCCESS;
}

VOID ObReferenceObject(PVOID Object)
{
    auto* k = static_cast<PKTHREAD>(Object);
    if (k->Header.Type == ThreadObject) k->Platform->refs.fetch_add(1);
}

VOID ObDereferenceObject(PVOID Object)
{
    auto* k = static_cast<PKTHREAD>(Object);
    if (k->Header.Type == ThreadObject && k->Platform->system) DereferenceThread(k->Platform);
}

NTSTATUS ZwClose(HANDLE Handle)
{
    HandleKind kind;
    void* object;
    if (!CloseHandleRecord(Handle, &kind, &object)) return STATUS_INVALID_HANDLE;
    if (kind == HandleKind::Thread) {
        DereferenceThread(static_cast<::PlatformThread*>(object));
    } else {
        CloseKeyObject(object);
    }
    return STATUS_SUCCESS;
}
