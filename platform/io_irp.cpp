// IRPs: allocation, passing down, completion through the stack locations, cancel.
#include <cstdio>
#include <cstdlib>
#include <new>

#include "platform/internal.h"

using namespace platform;

namespace {

KSPIN_LOCK g_cancelLock;  // the cancel spin lock (one for the process, as in the kernel)

PIO_STACK_LOCATION StackBase(PIRP Irp) { return reinterpret_cast<PIO_STACK_LOCATION>(Irp + 1); }

[[noreturn]] void IrpFault(const char* what, PIRP Irp)
{
    std::string text = Format("platform: IRP %p: %s\n", static_cast<void*>(Irp), what);
    AppendLog(CurrentKernel(), text);
    std::fprintf(stderr, "%s", text.c_str());
    std::fflush(stderr);
    std::abort();
}

// Runs a driver routine with its machine current on this thread.
struct KernelOf {
    explicit KernelOf(PDEVICE_OBJECT device) : saved(CurrentKernel())
    {
        if (device != nullptr && device->DriverObject != nullptr && device->DriverObject->Kernel != nullptr) {
            SetCurrentKernel(device->DriverObject->Kernel);
        }
    }
    ~KernelOf() { SetCurrentKernel(saved); }
    KernelInstance* saved;
};

}  // namespace

USHORT IoSizeOfIrp(CCHAR StackSize)
{
    return static_cast<USHORT>(sizeof(IRP) + static_cast<size_t>(StackSize) * sizeof(IO_STACK_LOCATION));
}

VOID IoInitializeIrp(PIRP Irp, USHORT PacketSize, CCHAR StackSize)
{
    std::memset(Irp, 0, PacketSize);
    Irp->Type = 6;
    Irp->Size = PacketSize;
    Irp->StackCount = StackSize;
    Irp->CurrentLocation = static_cast<CHAR>(StackSize + 1);
    Irp->Tail.Overlay.CurrentStackLocation = StackBase(Irp) + StackSize;
    InitializeListHead(&Irp->ThreadListEntry);
}

PIRP IoAllocateIrp(CCHAR StackSize, BOOLEAN)
{
    if (StackSize < 1) return nullptr;
    USHORT size = IoSizeOfIrp(StackSize);
    void* raw = ::operator new(size, std::nothrow);
    if (raw == nullptr) return nullptr;
    auto* irp = static_cast<PIRP>(raw);
    IoInitializeIrp(irp, size, StackSize);
    return irp;
}

VOID IoFreeIrp(PIRP Irp)
{
    if (Irp == nullptr) return;
    Irp->Type = 0;
    ::operator delete(Irp);
}

VOID IoReuseIrp(PIRP Irp, NTSTATUS Iostatus)
{
    USHORT size = Irp->Size;
    CCHAR stack = Irp->StackCount;
    IoInitializeIrp(Irp, size, stack);
    Irp->IoStatus.Status = Iostatus;
}

NTSTATUS IoCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp)
{
    Irp->CurrentLocation--;
    if (Irp->CurrentLocation <= 0) IrpFault("no more stack locations (IoCallDriver past the bottom)", Irp);
    Irp->Tail.Overlay.CurrentStackLocation--;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
    stack->DeviceObject = DeviceObject;
    if (stack->MajorFunction > IRP_MJ_MAXIMUM_FUNCTION) IrpFault("major function out of range", Irp);
    PDRIVER_DISPATCH dispatch = DeviceObject->DriverObject->MajorFunction[stack->MajorFunction];
    KernelOf scope(DeviceObject);
    if (dispatch == nullptr) {
        // A driver that cleared an entry of its table: the request is refused as the I/O manager would.
        Irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
        Irp->IoStatus.Information = 0;
        IoCompleteRequest(Irp, IO_NO_INCREMENT);
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    return dispatch(DeviceObject, Irp);
}

VOID IoCompleteRequest(PIRP Irp, CCHAR)
{
    if (Irp->CurrentLocation > Irp->StackCount + 1) IrpFault("completed twice", Irp);
    if (Irp->IoStatus.Status == STATUS_PENDING) IrpFault("completed with STATUS_PENDING", Irp);
    if (__atomic_load_n(&Irp->CancelRoutine, __ATOMIC_SEQ_CST) != nullptr) {
        IrpFault("completed with a cancel routine still set", Irp);
    }
    while (Irp->CurrentLocation <= Irp->StackCount) {
        PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
        Irp->PendingReturned = (stack->Control & SL_PENDING_RETURNED) ? TRUE : FALSE;
        PIO_COMPLETION_ROUTINE routine = stack->CompletionRoutine;
        PVOID context = stack->Context;
        UCHAR control = stack->Control;
        stack->CompletionRoutine = nullptr;
        stack->Context = nullptr;
        stack->Control = 0;
        IoSkipCurrentIrpStackLocation(Irp);
        NTSTATUS status = Irp->IoStatus.Status;
        bool invoke = routine != nullptr && ((NT_SUCCESS(status) && (control & SL_INVOKE_ON_SUCCESS)) ||
                                             (!NT_SUCCESS(status) && (control & SL_INVOKE_ON_ERROR)) ||
                                             (__atomic_load_n(&Irp->Cancel, __ATOMIC_SEQ_CST) &&
                                              (control & SL_INVOKE_ON_CANCEL)));
        if (invoke) {
            PDEVICE_OBJECT device = Irp->CurrentLocation <= Irp->StackCount
                                        ? IoGetCurrentIrpStackLocation(Irp)->DeviceObject
                                        : nullptr;
            KernelOf scope(device);
            if (routine(device, Irp, context) == STATUS_MORE_PROCESSING_REQUIRED) return;
        } else if (Irp->PendingReturned && Irp->CurrentLocation <= Irp->StackCount) {
            IoMarkIrpPending(Irp);
        }
    }
    // Every location is done: hand the result to whoever issued the request.
    if (__atomic_exchange_n(&Irp->PlatformCompleted, 1, __ATOMIC_SEQ_CST) != 0) IrpFault("completed twice", Irp);
    if (Irp->UserIosb != nullptr) *Irp->UserIosb = Irp->IoStatus;
    auto* completion = Irp->PlatformCompletion;
    PKEVENT event = Irp->UserEvent;
    if (completion != nullptr) {
        completion(Irp, Irp->PlatformCompletionContext);
    } else if (event != nullptr) {
        KeSetEvent(event, IO_NO_INCREMENT, FALSE);
    }
}

PDRIVER_CANCEL IoSetCancelRoutine(PIRP Irp, PDRIVER_CANCEL CancelRoutine)
{
    return __atomic_exchange_n(&Irp->CancelRoutine, CancelRoutine, __ATOMIC_SEQ_CST);
}

VOID IoAcquireCancelSpinLock(PKIRQL Irql) { KeAcquireSpinLock(&g_cancelLock, Irql); }
VOID IoReleaseCancelSpinLock(KIRQL Irql) { KeReleaseSpinLock(&g_cancelLock, Irql); }

BOOLEAN IoCancelIrp(PIRP Irp)
{
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    __atomic_store_n(&Irp->Cancel, TRUE, __ATOMIC_SEQ_CST);
    PDRIVER_CANCEL routine = IoSetCancelRoutine(Irp, nullptr);
    if (routine == nullptr) {
        IoReleaseCancelSpinLock(irql);
        return FALSE;
    }
    Irp->CancelIrql = irql;
    PDEVICE_OBJECT device = Irp->CurrentLocation <= Irp->StackCount ? IoGetCurrentIrpStackLocation(Irp)->DeviceObject
                                                                     : nullptr;
    KernelOf scope(device);
    routine(device, Irp);  // releases the cancel lock
    return TRUE;
}
