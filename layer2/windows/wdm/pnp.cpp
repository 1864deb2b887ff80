// Plug and Play: start with the pointer exchange with the data pump, stop, removal and capabilities.
#include "layer2/windows/wdm/device_extension.h"
#include "layer2/windows/wdm/driver_entry.h"
#include "layer2/windows/wdm/names.h"
#include "layer2/windows/wdm/port_irql.h"
#include "layer2/windows/wdm/request_accounting.h"
#include "layer2/windows/wdm/serial_queue.h"

namespace {

NTSTATUS ModemStartDevice(ModemDeviceExtension* ext, PIRP irp)
{
    if (ext->removed.load())
        return STATUS_DELETE_PENDING;
    ext->started = 1;
    ext->stopped = 0;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    PCM_RESOURCE_LIST resources = stack->Parameters.StartDevice.AllocatedResourcesTranslated;
    if (resources != nullptr) {
        for (ULONG f = 0; f < resources->Count; f++) {
            CM_PARTIAL_RESOURCE_LIST* list = &resources->List[f].PartialResourceList;
            for (ULONG i = 0; i < list->Count; i++) {
                CM_PARTIAL_RESOURCE_DESCRIPTOR* d = &list->PartialDescriptors[i];
                if (d->Type == CmResourceTypeInterrupt) {
                    ext->irq_level = d->u.Interrupt.Level;
                    ext->irq_vector = d->u.Interrupt.Vector;
                    ext->irq_affinity = d->u.Interrupt.Affinity;
                } else if (d->Type == CmResourceTypeMemory) {
                    ext->memory_length = d->u.Memory.Length;
                }
            }
        }
    }
    ext->section_irql = DISPATCH_LEVEL;
    ext->register_window = ext->dsp_block != nullptr ? ext->dsp_block->window.reg : nullptr;
    if (ext->register_window == nullptr) {
        DbgPrint("MmMapIoSpace() failed. %s(%d)\n", "layer2\\windows\\wdm\\pnp", 1746);
        ext->started = 0;
        return STATUS_NO_MEMORY;
    }
    PortRecord* port = ext->core_hooks->core_start(ext);
    if (port == nullptr) {
        ext->started = 0;
        return STATUS_UNSUCCESSFUL;
    }
    ext->core_running = 1;
    ModemReleaseHeldRequests(ext);
    return STATUS_SUCCESS;
}

NTSTATUS start_device(ModemDeviceExtension* ext, PIRP irp)
{
    POWER_STATE d0;
    d0.DeviceState = PowerDeviceD0;
    PoRequestPowerIrp(ext->pdo, IRP_MN_SET_POWER, d0, nullptr, nullptr, nullptr);

    irp->IoStatus.Information = reinterpret_cast<ULONG_PTR>(ext->core_hooks->dsp_event_routine);
    NTSTATUS status = ModemForwardAndWait(ext, irp);
    if (NT_SUCCESS(status)) {
        auto* context = reinterpret_cast<DspContext*>(irp->IoStatus.Information);
        if (context == nullptr) {
            status = STATUS_INSUFFICIENT_RESOURCES;
        } else {
            ext->dsp_context = context;
            ext->dsp_block = InterfaceBlockOfContext(context);
            status = ModemStartDevice(ext, irp);
        }
        if (NT_SUCCESS(status))
            ext->pnp_state = PNP_STARTED;
    }
    irp->IoStatus.Information = 0;
    return ModemCompleteIrp(irp, status, 0);
}

void stop_core(ModemDeviceExtension* ext)
{
    if (ext->core_running.exchange(0) != 0) {
        ModemPurgeQueue(ext, &ext->read_queue);
        ModemPurgeQueue(ext, &ext->write_queue);
        ModemCancelPendingWait(ext, nullptr);
        ext->core_hooks->core_stop(ext);
        ext->port = nullptr;
    }
}

void hold_and_wait_idle(ModemDeviceExtension* ext)
{
    ext->stop_pending = 1;
    KeWaitForSingleObject(&ext->idle_event, Executive, KernelMode, FALSE, nullptr);
    ext->stopped = 1;
}

void stop_device(ModemDeviceExtension* ext)
{
    if (!ext->stopped.load())
        hold_and_wait_idle(ext);
    stop_core(ext);
    ext->register_window = nullptr;
    ext->started = 0;
    ext->pnp_state = PNP_STOPPED;
}

NTSTATUS remove_device(ModemDeviceExtension* ext, PIRP irp)
{
    ext->started = 0;
    ext->remove_pending = 0;
    ext->stop_pending = 0;
    ext->stopped = 0;
    ext->removed = 1;
    ext->previous_pnp_state = ext->pnp_state;
    ext->pnp_state = PNP_REMOVED;
    ModemCompleteHeldRequests(ext, STATUS_DELETE_PENDING, nullptr);
    // Queued transfers and the pending wait would hold their references for ever; end them first.
    ModemPurgeQueue(ext, &ext->read_queue);
    ModemPurgeQueue(ext, &ext->write_queue);
    ModemCancelPendingWait(ext, nullptr);
    ModemIoDecrement(ext);  // this dispatch's reference
    ModemIoDecrement(ext);  // the initial reference
    KeWaitForSingleObject(&ext->no_outstanding_event, Executive, KernelMode, FALSE, nullptr);
    ModemUnlinkNames(ext);
    stop_core(ext);
    PDEVICE_OBJECT lower = ext->lower;
    NTSTATUS status = ModemPassDown(ext, irp);
    IoDetachDevice(lower);
    ext->register_window = nullptr;
    ext->registry_path.Buffer = nullptr;  // the copy belongs to the driver record
    KeCancelTimer(&ext->port_record.read_check_timer);
    KeFlushQueuedDpcs();
    PDEVICE_OBJECT device = ext->device;
    ext->~ModemDeviceExtension();
    IoDeleteDevice(device);
    return status;
}

}  // namespace

NTSTATUS ModemPnpDispatch(PDEVICE_OBJECT device, PIRP irp)
{
    ModemDeviceExtension* ext = ModemExtension(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->MinorFunction == IRP_MN_REMOVE_DEVICE) {
        ModemIoIncrement(ext);
        return remove_device(ext, irp);
    }
    ModemIoIncrement(ext);
    NTSTATUS status;
    const bool started = ext->started.load() != 0;
    switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
        status = start_device(ext, irp);
        break;
    case IRP_MN_QUERY_STOP_DEVICE:
        if (started) {
            hold_and_wait_idle(ext);
            ext->previous_pnp_state = ext->pnp_state;
            ext->pnp_state = PNP_STOP_PENDING;
        }
        irp->IoStatus.Status = STATUS_SUCCESS;
        status = ModemPassDown(ext, irp);
        break;
    case IRP_MN_CANCEL_STOP_DEVICE:
        if (started) {
            status = ModemForwardAndWait(ext, irp);
            ext->stop_pending = 0;
            ModemReleaseHeldRequests(ext);
            ext->stopped = 0;
            ext->pnp_state = PNP_STARTED;
            ModemCompleteIrp(irp, status, irp->IoStatus.Information);
        } else {
            status = ModemPassDown(ext, irp);
        }
        break;
    case IRP_MN_STOP_DEVICE:
        stop_device(ext);
        irp->IoStatus.Status = STATUS_SUCCESS;
        status = ModemPassDown(ext, irp);
        break;
    case IRP_MN_QUERY_REMOVE_DEVICE:
        if (started) {
            KeWaitForSingleObject(&ext->idle_event, Executive, KernelMode, FALSE, nullptr);
            ext->stopped = 1;
            ext->remove_pending = 1;
            ext->previous_pnp_state = ext->pnp_state;
            ext->pnp_state = PNP_REMOVE_PENDING;
        }
        irp->IoStatus.Status = STATUS_SUCCESS;
        status = ModemPassDown(ext, irp);
        break;
    case IRP_MN_CANCEL_REMOVE_DEVICE:
        if (started) {
            status = ModemForwardAndWait(ext, irp);
            ModemReleaseHeldRequests(ext);
            ext->remove_pending = 0;
            ext->stopped = 0;
            ext->pnp_state = ext->previous_pnp_state;
            ModemCompleteIrp(irp, status, irp->IoStatus.Information);
        } else {
            status = ModemPassDown(ext, irp);
        }
        break;
    case IRP_MN_SURPRISE_REMOVAL:
        if (started) {
            ext->previous_pnp_state = ext->pnp_state;
            ext->pnp_state = PNP_SURPRISE_REMOVED;
            stop_device(ext);
            ext->pnp_state = PNP_SURPRISE_REMOVED;
        }
        irp->IoStatus.Status = STATUS_SUCCESS;
        status = ModemPassDown(ext, irp);
        break;
    case IRP_MN_QUERY_CAPABILITIES: {
        status = ModemForwardAndWait(ext, irp);
        PDEVICE_CAPABILITIES caps = stack->Parameters.DeviceCapabilities.Capabilities;
        if (NT_SUCCESS(status) && caps != nullptr) {
            caps->WakeFromD0 = 0;
            ext->capabilities = *caps;
        }
        ModemCompleteIrp(irp, status, irp->IoStatus.Information);
        break;
    }
    default:
        status = ModemPassDown(ext, irp);
        break;
    }
    ModemIoDecrement(ext);
    return status;
}
