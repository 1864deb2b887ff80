// Read and write requests: served at once or queued for the workers, cancel and purge.
#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/mt/port_ops.h"
#include "layer2/corecode/mt/port_table.h"
#include "layer2/windows/wdm/driver_entry.h"
#include "layer2/windows/wdm/request_accounting.h"
#include "layer2/windows/wdm/serial_ioctl.h"
#include "layer2/windows/wdm/serial_queue.h"

namespace {

uintptr_t serving_state(PIRP irp)
{
    return reinterpret_cast<uintptr_t>(irp->Tail.Overlay.DriverContext[0]);
}

void set_serving_state(PIRP irp, uintptr_t state)
{
    irp->Tail.Overlay.DriverContext[0] = reinterpret_cast<PVOID>(state);
}

bool is_read(PIRP irp)
{
    return IoGetCurrentIrpStackLocation(irp)->MajorFunction == IRP_MJ_READ;
}

RequestQueue* queue_of(ModemDeviceExtension* ext, PIRP irp)
{
    return is_read(irp) ? &ext->read_queue : &ext->write_queue;
}

void abort_transfer(ModemDeviceExtension* ext, RequestQueue* q)
{
    PortRecord* port = &ext->port_record;
    if (q == &ext->read_queue)
        port_abort_read(port);
    else
        port_abort_write(port);
    KeSetEvent(&q->abort_event, IO_NO_INCREMENT, FALSE);
}

// Cancel routine of a queued or served read or write; entered with the cancel spin lock held, which
// is kept until the request's state has been read so that a worker can wait the routine out.
void cancel_transfer(PDEVICE_OBJECT device, PIRP irp)
{
    ModemDeviceExtension* ext = ModemExtension(device);
    RequestQueue* q = queue_of(ext, irp);
    KIRQL old;
    KeAcquireSpinLock(&q->lock, &old);
    uintptr_t state = serving_state(irp);
    if (state == SERVE_QUEUED) {
        RemoveEntryList(&irp->Tail.Overlay.ListEntry);
        if (IsListEmpty(&q->list) && q->current == nullptr)
            KeSetEvent(&q->empty_event, IO_NO_INCREMENT, FALSE);
    } else if (state == SERVE_BY_WORKER) {
        abort_transfer(ext, q);
    }
    KeReleaseSpinLock(&q->lock, old);
    IoReleaseCancelSpinLock(irp->CancelIrql);
    if (state == SERVE_QUEUED || state == SERVE_PURGED) {
        irp->IoStatus.Information = 0;
        CompleteRequest(ext, irp, STATUS_CANCELLED);
    }
}

// Makes sure no cancel routine of the request is running any more, after the worker took it.
void cancel_routine_done(PIRP irp)
{
    IoSetCancelRoutine(irp, nullptr);
    KIRQL cancel;
    IoAcquireCancelSpinLock(&cancel);
    IoReleaseCancelSpinLock(cancel);
}

NTSTATUS queue_request(ModemDeviceExtension* ext, RequestQueue* q, PIRP irp)
{
    IoMarkIrpPending(irp);
    KIRQL old;
    KeAcquireSpinLock(&q->lock, &old);
    set_serving_state(irp, SERVE_QUEUED);
    IoSetCancelRoutine(irp, cancel_transfer);
    if (IrpCancelled(irp) && IoSetCancelRoutine(irp, nullptr) != nullptr) {
        KeReleaseSpinLock(&q->lock, old);
        irp->IoStatus.Information = 0;
        CompleteRequest(ext, irp, STATUS_CANCELLED);
        return STATUS_PENDING;
    }
    InsertTailList(&q->list, &irp->Tail.Overlay.ListEntry);
    KeClearEvent(&q->empty_event);
    KeReleaseSpinLock(&q->lock, old);
    KeSetEvent(&q->work_event, IO_NO_INCREMENT, FALSE);
    ReleaseRequest(ext);
    return STATUS_PENDING;
}

// Serving a read at once or queueing it, by what is waiting and the read time-outs.
bool serve_read_at_once(PortRecord* port, ULONG length)
{
    if (KeGetCurrentIrql() != PASSIVE_LEVEL)
        return false;
    uint32_t waiting = dte_app_rx_count(port->dte);
    if (waiting >= length)
        return true;
    uint32_t interval = port->read_interval;
    uint32_t multiplier = port->read_multiplier;
    uint32_t constant = port->read_constant;
    if (interval == 0 && multiplier == 0 && constant == 0)
        return false;
    if (interval == PORT_MAXDWORD && multiplier == 0 && constant == 0)
        return true;
    if (interval != 0 && interval != PORT_MAXDWORD)
        return waiting != 0;
    if (constant == PORT_MAXDWORD)
        return false;
    if (multiplier == PORT_MAXDWORD)
        return waiting != 0;  // served at once for one byte
    return true;
}

BOOLEAN serve_next(ModemDeviceExtension* ext, RequestQueue* q, bool read)
{
    KIRQL old;
    KeAcquireSpinLock(&q->lock, &old);
    if (IsListEmpty(&q->list)) {
        q->current = nullptr;
        KeSetEvent(&q->empty_event, IO_NO_INCREMENT, FALSE);
        KeReleaseSpinLock(&q->lock, old);
        return FALSE;
    }
    PIRP irp = CONTAINING_RECORD(RemoveHeadList(&q->list), IRP, Tail.Overlay.ListEntry);
    set_serving_state(irp, SERVE_BY_WORKER);
    q->current = irp;
    PortRecord* port = ext->port;
    if (port != nullptr) {
        if (read)
            port->read_abort = 0;
        else
            port->write_abort = 0;
    }
    KeReleaseSpinLock(&q->lock, old);

    NTSTATUS status;
    ULONG_PTR information = 0;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (IrpCancelled(irp)) {
        status = STATUS_CANCELLED;
    } else if (!read && stack->MajorFunction == IRP_MJ_FLUSH_BUFFERS) {
        status = STATUS_SUCCESS;
    } else if (port == nullptr) {
        status = STATUS_UNSUCCESSFUL;
    } else {
        uint32_t count = 0;
        int ok;
        if (read)
            ok = port_call(port, PORT_READ, reinterpret_cast<uintptr_t>(irp->AssociatedIrp.SystemBuffer),
                           stack->Parameters.Read.Length, reinterpret_cast<uintptr_t>(&count));
        else
            ok = port_call(port, PORT_WRITE, reinterpret_cast<uintptr_t>(irp->AssociatedIrp.SystemBuffer),
                           stack->Parameters.Write.Length, reinterpret_cast<uintptr_t>(&count));
        status = ok ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
        information = count;
    }
    KeAcquireSpinLock(&q->lock, &old);
    q->current = nullptr;
    set_serving_state(irp, 0);
    KeReleaseSpinLock(&q->lock, old);
    cancel_routine_done(irp);
    irp->IoStatus.Information = information;
    CompleteRequest(ext, irp, status);
    KeSetEvent(&q->abort_ack_event, IO_NO_INCREMENT, FALSE);
    return TRUE;
}

NTSTATUS transfer_dispatch(PDEVICE_OBJECT device, PIRP irp, bool read)
{
    ModemDeviceExtension* ext = ModemExtension(device);
    NTSTATUS status = AcquireRequest(ext, irp);
    if (!NT_SUCCESS(status))
        return status;
    irp->IoStatus.Information = 0;
    set_serving_state(irp, SERVE_IN_DISPATCH);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const bool flush = stack->MajorFunction == IRP_MJ_FLUSH_BUFFERS;
    ULONG length = read ? stack->Parameters.Read.Length : stack->Parameters.Write.Length;
    if (!flush && length == 0)
        status = STATUS_INVALID_USER_BUFFER;
    else if (IrpCancelled(irp))
        status = STATUS_CANCELLED;
    else if (ext->port == nullptr)
        status = STATUS_UNSUCCESSFUL;
    else
        status = STATUS_PENDING;
    if (status != STATUS_PENDING) {
        CompleteRequest(ext, irp, status);
        ReleaseRequest(ext);
        return status;
    }
    RequestQueue* q = read ? &ext->read_queue : &ext->write_queue;
    if (read && serve_read_at_once(ext->port, length)) {
        KeSetEvent(&q->work_event, IO_NO_INCREMENT, FALSE);
        KeWaitForSingleObject(&q->empty_event, Executive, irp->RequestorMode, FALSE, nullptr);
        uint32_t count = 0;
        int ok = port_call(ext->port, PORT_READ, reinterpret_cast<uintptr_t>(irp->AssociatedIrp.SystemBuffer),
                           length, reinterpret_cast<uintptr_t>(&count));
        irp->IoStatus.Information = count;
        status = ok ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
        CompleteRequest(ext, irp, status);
        ReleaseRequest(ext);
        return status;
    }
    return queue_request(ext, q, irp);
}

// Takes the queued requests (from the tail) that match the file, marked as purged, with their cancel
// routines cleared or already running.
void cancel_queued(ModemDeviceExtension* ext, RequestQueue* q, PFILE_OBJECT file, bool abort_current)
{
    for (;;) {
        KIRQL cancel;
        IoAcquireCancelSpinLock(&cancel);
        KIRQL old;
        KeAcquireSpinLock(&q->lock, &old);
        PIRP found = nullptr;
        for (LIST_ENTRY* e = q->list.Blink; e != &q->list; e = e->Blink) {
            PIRP irp = CONTAINING_RECORD(e, IRP, Tail.Overlay.ListEntry);
            if (file == nullptr || IoGetCurrentIrpStackLocation(irp)->FileObject == file) {
                found = irp;
                break;
            }
        }
        if (found == nullptr) {
            if (abort_current && q->current != nullptr &&
                (file == nullptr || IoGetCurrentIrpStackLocation(q->current)->FileObject == file))
                abort_transfer(ext, q);
            KeReleaseSpinLock(&q->lock, old);
            IoReleaseCancelSpinLock(cancel);
            return;
        }
        RemoveEntryList(&found->Tail.Overlay.ListEntry);
        set_serving_state(found, SERVE_PURGED);
        if (IsListEmpty(&q->list) && q->current == nullptr)
            KeSetEvent(&q->empty_event, IO_NO_INCREMENT, FALSE);
        KeReleaseSpinLock(&q->lock, old);
        if (IoSetCancelRoutine(found, nullptr) == nullptr) {
            // Its cancel routine is already waiting for the cancel lock; it completes the request.
            IoReleaseCancelSpinLock(cancel);
            continue;
        }
        __atomic_store_n(&found->Cancel, TRUE, __ATOMIC_RELEASE);
        found->CancelIrql = cancel;
        cancel_transfer(ext->device, found);  // releases the cancel spin lock
    }
}

}  // namespace

NTSTATUS ModemReadDispatch(PDEVICE_OBJECT device, PIRP irp)
{
    return transfer_dispatch(device, irp, true);
}

NTSTATUS ModemWriteDispatch(PDEVICE_OBJECT device, PIRP irp)
{
    return transfer_dispatch(device, irp, false);
}

BOOLEAN ModemServeNextRead(ModemDeviceExtension* ext)
{
    return serve_next(ext, &ext->read_queue, true);
}

BOOLEAN ModemServeNextWrite(ModemDeviceExtension* ext)
{
    return serve_next(ext, &ext->write_queue, false);
}

void ModemPurgeQueue(ModemDeviceExtension* ext, RequestQueue* queue)
{
    cancel_queued(ext, queue, nullptr, true);
}

void ModemCancelFileRequests(ModemDeviceExtension* ext, RequestQueue* queue, PFILE_OBJECT file)
{
    cancel_queued(ext, queue, file, true);
}
