// Request references, completion, passing down and the held-request list.
#include "layer2/windows/wdm/request_accounting.h"

namespace {

// One I/O reference: the outstanding-request count (which drives the idle event) and a removal
// reference (which drives the no-outstanding-requests event).
void request_ref(ModemDeviceExtension* ext)
{
    KIRQL old;
    KeAcquireSpinLock(&ext->spare_lock, &old);
    if (InterlockedIncrement(&ext->outstanding) == 1)
        KeClearEvent(&ext->idle_event);
    KeReleaseSpinLock(&ext->spare_lock, old);
    ModemIoIncrement(ext);
}

void request_unref(ModemDeviceExtension* ext)
{
    KIRQL old;
    KeAcquireSpinLock(&ext->spare_lock, &old);
    if (InterlockedDecrement(&ext->outstanding) == 0)
        KeSetEvent(&ext->idle_event, IO_NO_INCREMENT, FALSE);
    KeReleaseSpinLock(&ext->spare_lock, old);
    ModemIoDecrement(ext);
}

}  // namespace

void ModemIoIncrement(ModemDeviceExtension* ext)
{
    InterlockedIncrement(&ext->remove_refs);
}

void ModemIoDecrement(ModemDeviceExtension* ext)
{
    if (InterlockedDecrement(&ext->remove_refs) == 0)
        KeSetEvent(&ext->no_outstanding_event, IO_NO_INCREMENT, FALSE);
}

NTSTATUS ModemCompleteIrp(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, NT_SUCCESS(status) ? IO_SERIAL_INCREMENT : IO_NO_INCREMENT);
    return status;
}

NTSTATUS AcquireRequest(ModemDeviceExtension* ext, PIRP irp)
{
    request_ref(ext);
    if (ext->removed.load() || !ext->started.load()) {
        request_unref(ext);  // the early completion gives its reference back
        irp->IoStatus.Information = 0;
        return ModemCompleteIrp(irp, STATUS_UNSUCCESSFUL, 0);
    }
    request_ref(ext);
    return STATUS_SUCCESS;
}

NTSTATUS CompleteRequest(ModemDeviceExtension* ext, PIRP irp, NTSTATUS status)
{
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, NT_SUCCESS(status) ? IO_SERIAL_INCREMENT : IO_NO_INCREMENT);
    request_unref(ext);
    return status;
}

void ReleaseRequest(ModemDeviceExtension* ext)
{
    request_unref(ext);
}

NTSTATUS ModemPassDown(ModemDeviceExtension* ext, PIRP irp)
{
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(ext->lower, irp);
}

namespace {

NTSTATUS signal_on_completion(PDEVICE_OBJECT device, PIRP irp, PVOID context)
{
    (void)device;
    (void)irp;
    KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

void held_cancel(PDEVICE_OBJECT device, PIRP irp)
{
    ModemDeviceExtension* ext = ModemExtension(device);
    KIRQL old;
    KeAcquireSpinLock(&ext->held_lock, &old);
    RemoveEntryList(&irp->Tail.Overlay.ListEntry);
    KeReleaseSpinLock(&ext->held_lock, old);
    IoReleaseCancelSpinLock(irp->CancelIrql);
    ModemCompleteIrp(irp, STATUS_CANCELLED, 0);
}

// Takes the held requests off the list (clearing their cancel routines); requests whose cancel
// routine already runs stay with it.
void take_held(ModemDeviceExtension* ext, LIST_ENTRY* out, PFILE_OBJECT only_file, NTSTATUS* first_status)
{
    (void)first_status;
    InitializeListHead(out);
    KIRQL cancel;
    IoAcquireCancelSpinLock(&cancel);
    KIRQL old;
    KeAcquireSpinLock(&ext->held_lock, &old);
    LIST_ENTRY* e = ext->held_list.Flink;
    while (e != &ext->held_list) {
        LIST_ENTRY* next = e->Flink;
        PIRP irp = CONTAINING_RECORD(e, IRP, Tail.Overlay.ListEntry);
        if (only_file == nullptr || IoGetCurrentIrpStackLocation(irp)->FileObject == only_file) {
            if (IoSetCancelRoutine(irp, nullptr) != nullptr) {
                RemoveEntryList(e);
                InsertTailList(out, e);
            }
        }
        e = next;
    }
    KeReleaseSpinLock(&ext->held_lock, old);
    IoReleaseCancelSpinLock(cancel);
}

}  // namespace

NTSTATUS ModemForwardAndWait(ModemDeviceExtension* ext, PIRP irp)
{
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, signal_on_completion, &done, TRUE, TRUE, TRUE);
    NTSTATUS status = IoCallDriver(ext->lower, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
        status = irp->IoStatus.Status;
    }
    return status;
}

NTSTATUS ModemHoldRequest(ModemDeviceExtension* ext, PIRP irp)
{
    IoMarkIrpPending(irp);
    KIRQL old;
    KeAcquireSpinLock(&ext->held_lock, &old);
    IoSetCancelRoutine(irp, held_cancel);
    if (IrpCancelled(irp) && IoSetCancelRoutine(irp, nullptr) != nullptr) {
        KeReleaseSpinLock(&ext->held_lock, old);
        ModemCompleteIrp(irp, STATUS_CANCELLED, 0);
        return STATUS_PENDING;
    }
    InsertTailList(&ext->held_list, &irp->Tail.Overlay.ListEntry);
    KeReleaseSpinLock(&ext->held_lock, old);
    return STATUS_PENDING;
}

void ModemReleaseHeldRequests(ModemDeviceExtension* ext)
{
    LIST_ENTRY list;
    take_held(ext, &list, nullptr, nullptr);
    while (!IsListEmpty(&list)) {
        PIRP irp = CONTAINING_RECORD(RemoveHeadList(&list), IRP, Tail.Overlay.ListEntry);
        ModemPassDown(ext, irp);
    }
}

void ModemCompleteHeldRequests(ModemDeviceExtension* ext, NTSTATUS status, PFILE_OBJECT only_file)
{
    LIST_ENTRY list;
    take_held(ext, &list, only_file, nullptr);
    while (!IsListEmpty(&list)) {
        PIRP irp = CONTAINING_RECORD(RemoveHeadList(&list), IRP, Tail.Overlay.ListEntry);
        ModemCompleteIrp(irp, status, 0);
    }
}
