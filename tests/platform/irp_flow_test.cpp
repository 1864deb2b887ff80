// Requests through a three-driver stack (bottom B, middle M, top T): passing down, completion order,
// pending requests completed from another thread, cancel of a queued request, and the START exchange of
// pointers through IoStatus.Information in both directions.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/machine.h"

namespace {

enum class Mode { Skip, CopyWithCompletion, Complete, Pend, ForwardAndWait };

struct Behaviour {
    Mode mode = Mode::Skip;
    NTSTATUS status = STATUS_SUCCESS;  // Complete / ForwardAndWait: final status
    ULONG_PTR information = 0;
    bool onSuccess = true, onError = true, onCancel = true;  // CopyWithCompletion
};

struct World {
    std::mutex mu;
    std::vector<std::string> log;
    Behaviour behaviour[3];  // B, M, T
    ULONG_PTR startSeen[3] = {};
    void Add(const std::string& s)
    {
        std::lock_guard<std::mutex> lk(mu);
        log.push_back(s);
    }
};
World* g_world = nullptr;

struct Ext {
    int index;  // 0 B, 1 M, 2 T
    char name;
    PDEVICE_OBJECT self;
    PDEVICE_OBJECT lower;
    KSPIN_LOCK lock;
    LIST_ENTRY queue;
    KEVENT queued;
    int startValue;  // an object whose address is handed along at START
};

NTSTATUS LoggingCompletion(PDEVICE_OBJECT DeviceObject, PIRP Irp, PVOID)
{
    auto* e = static_cast<Ext*>(DeviceObject->DeviceExtension);
    g_world->Add(std::string(1, e->name) + " completion " + (NT_SUCCESS(Irp->IoStatus.Status) ? "ok" : "error") +
                 (Irp->PendingReturned ? " pending" : ""));
    if (Irp->PendingReturned) IoMarkIrpPending(Irp);
    return STATUS_SUCCESS;
}

NTSTATUS SignalCompletion(PDEVICE_OBJECT, PIRP Irp, PVOID Context)
{
    if (Irp->PendingReturned) KeSetEvent(static_cast<PKEVENT>(Context), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS ForwardAndWait(Ext* e, PIRP Irp)
{
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(Irp);
    IoSetCompletionRoutine(Irp, SignalCompletion, &done, TRUE, TRUE, TRUE);
    NTSTATUS status = IoCallDriver(e->lower, Irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
        status = Irp->IoStatus.Status;
    }
    return status;
}

VOID CancelQueued(PDEVICE_OBJECT DeviceObject, PIRP Irp)
{
    IoReleaseCancelSpinLock(Irp->CancelIrql);
    auto* e = static_cast<Ext*>(DeviceObject->DeviceExtension);
    KIRQL old;
    KeAcquireSpinLock(&e->lock, &old);
    RemoveEntryList(&Irp->Tail.Overlay.ListEntry);
    KeReleaseSpinLock(&e->lock, old);
    g_world->Add(std::string(1, e->name) + " cancel");
    Irp->IoStatus.Status = STATUS_CANCELLED;
    Irp->IoStatus.Information = 0;
    IoCompleteRequest(Irp, IO_NO_INCREMENT);
}

NTSTATUS Start(Ext* e, PIRP Irp)
{
    // Each layer records what came from above, hands its own object's address down, and on the way up hands
    // its own address (the bottom: after completing) to the layer above.
    g_world->startSeen[e->index] = Irp->IoStatus.Information;
    Irp->IoStatus.Information = reinterpret_cast<ULONG_PTR>(&e->startValue);
    if (e->lower == nullptr || e->index == 0) {
        Irp->IoStatus.Status = STATUS_SUCCESS;
        IoCompleteRequest(Irp, IO_NO_INCREMENT);
        return STATUS_SUCCESS;
    }
    NTSTATUS status = ForwardAndWait(e, Irp);
    ULONG_PTR fromBelow = Irp->IoStatus.Information;
    auto* lowerExt = static_cast<Ext*>(e->lower->DeviceExtension);
    Irp->IoStatus.Status = fromBelow == reinterpret_cast<ULONG_PTR>(&lowerExt->startValue) ? status
                                                                                           : STATUS_UNSUCCESSFUL;
    Irp->IoStatus.Information = reinterpret_cast<ULONG_PTR>(&e->startValue);
    IoCompleteRequest(Irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS Dispatch(PDEVICE_OBJECT DeviceObject, PIRP Irp)
{
    auto* e = static_cast<Ext*>(DeviceObject->DeviceExtension);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
    if (stack->MajorFunction == IRP_MJ_PNP) {
        if (stack->MinorFunction == IRP_MN_START_DEVICE) return Start(e, Irp);
        bool remove = stack->MinorFunction == IRP_MN_REMOVE_DEVICE;
        PDEVICE_OBJECT lower = e->lower;
        IoSkipCurrentIrpStackLocation(Irp);
        NTSTATUS status = IoCallDriver(lower, Irp);
        if (remove) {
            IoDetachDevice(lower);
            IoDeleteDevice(DeviceObject);
        }
        return status;
    }
    if (stack->MajorFunction != IRP_MJ_READ) {
        IoSkipCurrentIrpStackLocation(Irp);
        return IoCallDriver(e->lower, Irp);
    }
    g_world->Add(std::string(1, e->name) + " dispatch");
    const Behaviour& b = g_world->behaviour[e->index];
    switch (b.mode) {
    case Mode::Skip: IoSkipCurrentIrpStackLocation(Irp); return IoCallDriver(e->lower, Irp);
    case Mode::CopyWithCompletion:
        IoCopyCurrentIrpStackLocationToNext(Irp);
        IoSetCompletionRoutine(Irp, LoggingCompletion, nullptr, b.onSuccess, b.onError, b.onCancel);
        return IoCallDriver(e->lower, Irp);
    case Mode::Complete:
        Irp->IoStatus.Status = b.status;
        Irp->IoStatus.Information = b.information;
        IoCompleteRequest(Irp, IO_NO_INCREMENT);
        return b.status;
    case Mode::Pend: {
        KIRQL old;
        IoMarkIrpPending(Irp);
        KeAcquireSpinLock(&e->lock, &old);
        InsertTailList(&e->queue, &Irp->Tail.Overlay.ListEntry);
        IoSetCancelRoutine(Irp, CancelQueued);
        KeReleaseSpinLock(&e->lock, old);
        KeSetEvent(&e->queued, IO_NO_INCREMENT, FALSE);
        return STATUS_PENDING;
    }
    case Mode::ForwardAndWait: {
        NTSTATUS status = ForwardAndWait(e, Irp);
        g_world->Add(std::string(1, e->name) + " resumed " + (NT_SUCCESS(status) ? "ok" : "error"));
        Irp->IoStatus.Status = b.status;
        Irp->IoStatus.Information += b.information;
        IoCompleteRequest(Irp, IO_NO_INCREMENT);
        return b.status;
    }
    }
    return STATUS_UNSUCCESSFUL;
}

template <int Index>
NTSTATUS AddDevice(PDRIVER_OBJECT DriverObject, PDEVICE_OBJECT Pdo)
{
    PDEVICE_OBJECT d;
    NTSTATUS status = IoCreateDevice(DriverObject, sizeof(Ext), nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &d);
    if (!NT_SUCCESS(status)) return status;
    auto* e = static_cast<Ext*>(d->DeviceExtension);
    e->index = Index;
    e->name = "BMT"[Index];
    e->self = d;
    KeInitializeSpinLock(&e->lock);
    InitializeListHead(&e->queue);
    KeInitializeEvent(&e->queued, SynchronizationEvent, FALSE);
    e->lower = IoAttachDeviceToDeviceStack(d, Pdo);
    d->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

template <int Index>
NTSTATUS DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING)
{
    for (auto& f : DriverObject->MajorFunction) f = Dispatch;
    DriverObject->DriverExtension->AddDevice = AddDevice<Index>;
    return STATUS_SUCCESS;
}

// Completes the first queued request of a device from a system thread.
struct Completer {
    Ext* ext;
    NTSTATUS status;
    ULONG_PTR information;
};

VOID CompleteQueuedThread(PVOID Context)
{
    auto* c = static_cast<Completer*>(Context);
    KeWaitForSingleObject(&c->ext->queued, Executive, KernelMode, FALSE, nullptr);
    KIRQL old;
    KeAcquireSpinLock(&c->ext->lock, &old);
    PIRP irp = nullptr;
    if (!IsListEmpty(&c->ext->queue)) {
        irp = CONTAINING_RECORD(RemoveHeadList(&c->ext->queue), IRP, Tail.Overlay.ListEntry);
        if (IoSetCancelRoutine(irp, nullptr) == nullptr) irp = nullptr;  // being cancelled
    }
    KeReleaseSpinLock(&c->ext->lock, old);
    if (irp != nullptr) {
        g_world->Add(std::string(1, c->ext->name) + " completes from worker");
        irp->IoStatus.Status = c->status;
        irp->IoStatus.Information = c->information;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
    }
    PsTerminateSystemThread(STATUS_SUCCESS);
}

class IrpFlow : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_world = &world;
        ASSERT_EQ(machine.LoadDriver("B", DriverEntry<0>, &drivers[0]), STATUS_SUCCESS);
        ASSERT_EQ(machine.LoadDriver("M", DriverEntry<1>, &drivers[1]), STATUS_SUCCESS);
        ASSERT_EQ(machine.LoadDriver("T", DriverEntry<2>, &drivers[2]), STATUS_SUCCESS);
        ASSERT_EQ(machine.BuildStack({drivers[0], drivers[1], drivers[2]}, {}, &stack), STATUS_SUCCESS);
        ASSERT_EQ(machine.Open(stack, &file), STATUS_SUCCESS);
    }
    void TearDown() override
    {
        if (file != nullptr) machine.Close(file);
        if (stack != nullptr) { EXPECT_EQ(machine.RemoveStack(stack), STATUS_SUCCESS); }
        g_world = nullptr;
    }
    Ext* ExtOf(int index)
    {
        PDEVICE_OBJECT d = machine.PhysicalDevice(stack);
        for (int i = 0; i <= index; i++) d = d->AttachedDevice;
        return static_cast<Ext*>(d->DeviceExtension);
    }

    World world;
    platform::Clock clock;
    platform::ClockThread self{clock};
    platform::Machine machine{{&clock, "irp", ""}};
    PDRIVER_OBJECT drivers[3] = {};
    platform::DeviceStack* stack = nullptr;
    PFILE_OBJECT file = nullptr;
};

TEST_F(IrpFlow, StartExchangesPointersBothWays)
{
    // The machine sends START with Information 0; T hands &T down, M sees it and hands &M to B; B answers with
    // &B, M checks it and answers &M, and T checks that.
    EXPECT_EQ(world.startSeen[2], 0u);
    EXPECT_EQ(world.startSeen[1], reinterpret_cast<ULONG_PTR>(&ExtOf(2)->startValue));
    EXPECT_EQ(world.startSeen[0], reinterpret_cast<ULONG_PTR>(&ExtOf(1)->startValue));
    ULONG_PTR info = 0;
    EXPECT_EQ(machine.SendPnp(stack, IRP_MN_START_DEVICE, &info), STATUS_SUCCESS);
    EXPECT_EQ(info, reinterpret_cast<ULONG_PTR>(&ExtOf(2)->startValue));
}

struct FlowCase {
    const char* name;
    Behaviour b, m, t;
    bool completeFromWorker;  // B pends; a system thread completes it
    bool cancel;              // B pends; the request is cancelled
    NTSTATUS status;
    ULONG_PTR information;
    std::vector<std::string> log;
};

void PrintTo(const FlowCase& c, std::ostream* os) { *os << c.name; }

Behaviour Skip() { return Behaviour{}; }
Behaviour Copy(bool s = true, bool e = true, bool c = true)
{
    Behaviour b;
    b.mode = Mode::CopyWithCompletion;
    b.onSuccess = s;
    b.onError = e;
    b.onCancel = c;
    return b;
}
Behaviour Complete(NTSTATUS s, ULONG_PTR info)
{
    Behaviour b;
    b.mode = Mode::Complete;
    b.status = s;
    b.information = info;
    return b;
}
Behaviour Pend()
{
    Behaviour b;
    b.mode = Mode::Pend;
    return b;
}
Behaviour Forward(NTSTATUS s, ULONG_PTR addInfo)
{
    Behaviour b;
    b.mode = Mode::ForwardAndWait;
    b.status = s;
    b.information = addInfo;
    return b;
}

class IrpFlowTable : public IrpFlow, public ::testing::WithParamInterface<FlowCase> {};

TEST_P(IrpFlowTable, Runs)
{
    const FlowCase& c = GetParam();
    world.behaviour[0] = c.b;
    world.behaviour[1] = c.m;
    world.behaviour[2] = c.t;
    world.log.clear();
    // The worker starts first: a forwarding layer waits inside the dispatch routine of the read.
    Completer completer{ExtOf(0), STATUS_SUCCESS, 7};
    PVOID thread = nullptr;
    if (c.completeFromWorker) {
        platform::MachineScope scope(machine);
        HANDLE h;
        ASSERT_EQ(PsCreateSystemThread(&h, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr, CompleteQueuedThread,
                                       &completer),
                  STATUS_SUCCESS);
        ASSERT_EQ(ObReferenceObjectByHandle(h, THREAD_ALL_ACCESS, nullptr, KernelMode, &thread, nullptr),
                  STATUS_SUCCESS);
        ZwClose(h);
    }
    platform::IoRequest* r = machine.StartRead(file, 16);
    ASSERT_NE(r, nullptr);
    if (c.cancel) {
        EXPECT_FALSE(machine.IsDone(r));
        EXPECT_EQ(machine.RequestStatus(r), STATUS_PENDING);
    }
    if (thread != nullptr) {
        EXPECT_EQ(machine.Wait(r), c.status);
        EXPECT_EQ(KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
        ObDereferenceObject(thread);
    }
    if (c.cancel) { EXPECT_TRUE(machine.Cancel(r)); }
    EXPECT_EQ(machine.Wait(r), c.status);
    EXPECT_EQ(machine.RequestInformation(r), c.information);
    EXPECT_EQ(world.log, c.log);
    machine.FreeRequest(r);
}

const NTSTATUS kFail = STATUS_UNSUCCESSFUL;

INSTANTIATE_TEST_SUITE_P(
    Table, IrpFlowTable,
    ::testing::Values(
        FlowCase{"SkipToBottom", Complete(STATUS_SUCCESS, 5), Skip(), Skip(), false, false, STATUS_SUCCESS, 5,
                 {"T dispatch", "M dispatch", "B dispatch"}},
        FlowCase{"CompletionRoutinesRunLowestFirst", Complete(STATUS_SUCCESS, 3), Copy(), Copy(), false, false,
                 STATUS_SUCCESS, 3,
                 {"T dispatch", "M dispatch", "B dispatch", "M completion ok", "T completion ok"}},
        FlowCase{"SkippedLayerKeepsUpperRoutine", Complete(STATUS_SUCCESS, 1), Skip(), Copy(), false, false,
                 STATUS_SUCCESS, 1, {"T dispatch", "M dispatch", "B dispatch", "T completion ok"}},
        FlowCase{"ErrorSkipsSuccessOnlyRoutine", Complete(kFail, 0), Copy(true, false, false), Copy(), false, false,
                 kFail, 0, {"T dispatch", "M dispatch", "B dispatch", "T completion error"}},
        FlowCase{"SuccessSkipsErrorOnlyRoutine", Complete(STATUS_SUCCESS, 2), Copy(false, true, false), Copy(), false,
                 false, STATUS_SUCCESS, 2, {"T dispatch", "M dispatch", "B dispatch", "T completion ok"}},
        FlowCase{"PendingCompletedFromWorker", Pend(), Copy(), Copy(), true, false, STATUS_SUCCESS, 7,
                 {"T dispatch", "M dispatch", "B dispatch", "B completes from worker", "M completion ok pending",
                  "T completion ok pending"}},
        FlowCase{"PendingPropagatesThroughSkip", Pend(), Skip(), Copy(), true, false, STATUS_SUCCESS, 7,
                 {"T dispatch", "M dispatch", "B dispatch", "B completes from worker", "T completion ok pending"}},
        FlowCase{"CancelQueued", Pend(), Copy(), Copy(true, false, true), false, true, STATUS_CANCELLED, 0,
                 {"T dispatch", "M dispatch", "B dispatch", "B cancel", "M completion error pending",
                  "T completion error pending"}},
        FlowCase{"MoreProcessingRequiredResumesForwarder", Complete(STATUS_SUCCESS, 4), Forward(STATUS_SUCCESS, 10),
                 Copy(), false, false, STATUS_SUCCESS, 14,
                 {"T dispatch", "M dispatch", "B dispatch", "M resumed ok", "T completion ok"}},
        FlowCase{"ForwarderWaitsForPendingBelow", Pend(), Forward(STATUS_SUCCESS, 1), Copy(), true, false,
                 STATUS_SUCCESS, 8,
                 // M waited and completed within its dispatch routine: not pending for T.
                 {"T dispatch", "M dispatch", "B dispatch", "B completes from worker", "M resumed ok",
                  "T completion ok"}}),
    [](const ::testing::TestParamInfo<FlowCase>& i) { return std::string(i.param.name); });

TEST_F(IrpFlow, CancelWithoutCancelRoutineOnlyMarksTheRequest)
{
    world.behaviour[0] = Pend();
    platform::IoRequest* r = machine.StartRead(file, 4);
    PIRP irp = machine.RequestIrp(r);
    // Take the request off the queue as a worker would, then cancel: no routine, so only Cancel is set.
    Ext* b = ExtOf(0);
    {
        platform::MachineScope scope(machine);
        KIRQL old;
        KeAcquireSpinLock(&b->lock, &old);
        RemoveEntryList(&irp->Tail.Overlay.ListEntry);
        EXPECT_EQ(IoSetCancelRoutine(irp, nullptr), CancelQueued);
        KeReleaseSpinLock(&b->lock, old);
    }
    EXPECT_FALSE(machine.Cancel(r));
    EXPECT_TRUE(irp->Cancel);
    EXPECT_FALSE(machine.IsDone(r));
    irp->IoStatus.Status = STATUS_CANCELLED;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    EXPECT_EQ(machine.Wait(r), STATUS_CANCELLED);
    machine.FreeRequest(r);
}

}  // namespace
