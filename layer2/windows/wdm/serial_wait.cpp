// The wait-on-mask request: SET_WAIT_MASK, WAIT_ON_MASK, its cancel and the waiter's pass.
#include <cstring>

#include "layer2/corecode/mt/port_ops.h"
#include "layer2/corecode/mt/port_table.h"
#include "layer2/windows/wdm/request_accounting.h"
#include "layer2/windows/wdm/serial_queue.h"

namespace {

constexpr ULONG kWaitMaskBits = 0x7FF;

void put_events(PIRP irp, ULONG events)
{
    std::memcpy(irp->AssociatedIrp.SystemBuffer, &events, sizeof events);
    irp->IoStatus.Information = sizeof events;
}

// Notification routine of the port: an enabled event is pending, wake the waiter.
void wake_waiter(PortRecord* port, void* data, uint32_t code, uint32_t events)
{
    (void)port;
    (void)code;
    (void)events;
    auto* ext = static_cast<ModemDeviceExtension*>(data);
    KeSetEvent(&ext->wait_check_event, IO_NO_INCREMENT, FALSE);
}

void set_notification(ModemDeviceExtension* ext, bool on)
{
    if (ext->port == nullptr)
        return;
    port_call(ext->port, PORT_ENABLE_NOTIFICATION, on ? reinterpret_cast<uintptr_t>(&wake_waiter) : 0,
              reinterpret_cast<uintptr_t>(ext));
}

void cancel_wait(PDEVICE_OBJECT device, PIRP irp)
{
    ModemDeviceExtension* ext = ModemExtension(device);
    KIRQL old;
    KeAcquireSpinLock(&ext->wait_lock, &old);
    if (ext->pending_wait == irp)
        ext->pending_wait = nullptr;
    KeReleaseSpinLock(&ext->wait_lock, old);
    IoReleaseCancelSpinLock(irp->CancelIrql);
    set_notification(ext, false);
    irp->IoStatus.Information = 0;
    CompleteRequest(ext, irp, STATUS_CANCELLED);
}

// Takes the pending wait off when its cancel routine is not running; null otherwise.
PIRP take_pending(ModemDeviceExtension* ext)
{
    PIRP irp = ext->pending_wait;
    if (irp == nullptr || IoSetCancelRoutine(irp, nullptr) == nullptr)
        return nullptr;
    ext->pending_wait = nullptr;
    return irp;
}

ULONG enabled_events_set(ModemDeviceExtension* ext)
{
    KIRQL old;
    KeAcquireSpinLock(&ext->event_mask_lock, &old);
    ULONG events = ext->events_seen & ext->wait_mask;
    KeReleaseSpinLock(&ext->event_mask_lock, old);
    return events;
}

ULONG enabled_mask(ModemDeviceExtension* ext)
{
    KIRQL old;
    KeAcquireSpinLock(&ext->event_mask_lock, &old);
    ULONG mask = ext->wait_mask;
    KeReleaseSpinLock(&ext->event_mask_lock, old);
    return mask;
}

}  // namespace

NTSTATUS ModemSetWaitMask(ModemDeviceExtension* ext, PIRP irp, ULONG mask)
{
    (void)irp;
    mask &= kWaitMaskBits;
    KIRQL old;
    KeAcquireSpinLock(&ext->wait_lock, &old);
    PIRP previous = take_pending(ext);
    KeReleaseSpinLock(&ext->wait_lock, old);
    if (previous != nullptr) {
        put_events(previous, 0);
        CompleteRequest(ext, previous, STATUS_SUCCESS);
    }
    KeAcquireSpinLock(&ext->event_mask_lock, &old);
    ext->events_seen &= mask;
    ext->events_report &= mask;
    ext->wait_mask = mask;
    KeReleaseSpinLock(&ext->event_mask_lock, old);
    if (ext->port == nullptr ||
        !port_call(ext->port, PORT_SET_EVENT_MASK, mask, reinterpret_cast<uintptr_t>(&ext->events_seen)))
        return STATUS_INVALID_PARAMETER;
    return STATUS_SUCCESS;
}

NTSTATUS ModemWaitOnMask(ModemDeviceExtension* ext, PIRP irp)
{
    if (IrpCancelled(irp)) {
        irp->IoStatus.Information = 0;
        return STATUS_CANCELLED;
    }
    KIRQL old;
    KeAcquireSpinLock(&ext->wait_lock, &old);
    if (ext->pending_wait != nullptr || enabled_mask(ext) == 0) {
        KeReleaseSpinLock(&ext->wait_lock, old);
        return STATUS_INVALID_PARAMETER;
    }
    IoMarkIrpPending(irp);
    ext->pending_wait = irp;
    IoSetCancelRoutine(irp, cancel_wait);
    if (IrpCancelled(irp) && IoSetCancelRoutine(irp, nullptr) != nullptr) {
        ext->pending_wait = nullptr;
        KeReleaseSpinLock(&ext->wait_lock, old);
        irp->IoStatus.Information = 0;
        CompleteRequest(ext, irp, STATUS_CANCELLED);
        return STATUS_PENDING;
    }
    KeReleaseSpinLock(&ext->wait_lock, old);
    set_notification(ext, true);
    if (enabled_events_set(ext) != 0)
        KeSetEvent(&ext->wait_check_event, IO_NO_INCREMENT, FALSE);
    return STATUS_PENDING;
}

void ModemServeWaitMask(ModemDeviceExtension* ext, BOOLEAN abort)
{
    KIRQL old;
    KeAcquireSpinLock(&ext->wait_lock, &old);
    PIRP irp = nullptr;
    ULONG events = 0;
    if (ext->pending_wait != nullptr) {
        if (abort || IrpCancelled(ext->pending_wait)) {
            irp = take_pending(ext);
        } else {
            events = enabled_events_set(ext);
            if (events != 0) {
                irp = take_pending(ext);
                if (irp != nullptr) {
                    KIRQL mask_irql;
                    KeAcquireSpinLock(&ext->event_mask_lock, &mask_irql);
                    ext->events_seen &= ~events;
                    KeReleaseSpinLock(&ext->event_mask_lock, mask_irql);
                }
            }
        }
    }
    KeReleaseSpinLock(&ext->wait_lock, old);
    if (irp != nullptr) {
        if (IrpCancelled(irp)) {
            irp->IoStatus.Information = 0;
            CompleteRequest(ext, irp, STATUS_CANCELLED);
        } else {
            put_events(irp, abort ? 0 : events);
            CompleteRequest(ext, irp, STATUS_SUCCESS);
        }
    }
    KeSetEvent(&ext->wait_ack_event, IO_NO_INCREMENT, FALSE);
}

void ModemCancelPendingWait(ModemDeviceExtension* ext, PFILE_OBJECT file)
{
    KIRQL old;
    KeAcquireSpinLock(&ext->wait_lock, &old);
    PIRP irp = nullptr;
    if (ext->pending_wait != nullptr &&
        (file == nullptr || IoGetCurrentIrpStackLocation(ext->pending_wait)->FileObject == file))
        irp = take_pending(ext);
    KeReleaseSpinLock(&ext->wait_lock, old);
    if (irp != nullptr) {
        set_notification(ext, false);
        irp->IoStatus.Information = 0;
        CompleteRequest(ext, irp, STATUS_CANCELLED);
    }
}
