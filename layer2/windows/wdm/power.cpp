// Power requests: state checks, the system-to-device map, and the DSP-side steps of a device power
// change (the power marker tells which steps ran).
#include "layer2/corecode/mt/dsp_control.h"
#include "layer2/windows/wdm/device_extension.h"
#include "layer2/windows/wdm/driver_entry.h"
#include "layer2/windows/wdm/power_map.h"
#include "layer2/windows/wdm/request_accounting.h"

namespace {

bool port_open(ModemDeviceExtension* ext)
{
    return ext->port != nullptr && ext->port->open_marker.load() == PORT_OPEN_MARKER;
}

// The DSP link's power steps run only when the link is bound to a data pump.
bool dsp_bound(ModemDeviceExtension* ext)
{
    return ext->dsp.link.block.load() != nullptr;
}

// Device power actions, taken only while the port is open.
void device_power_actions(ModemDeviceExtension* ext, DEVICE_POWER_STATE state)
{
    if (!port_open(ext))
        return;
    if (state == PowerDeviceD0) {
        ext->power_marker = 1;
        volatile uint8_t* w = ext->register_window;
        if (w != nullptr && !(w[247] & 0x02))
            w[247] = static_cast<uint8_t>(w[247] | 0x02);  // DSP notifications on
        if (dsp_bound(ext))
            dsp_power_step(&ext->dsp, 6);
        ext->core_hooks->timers_start(ext);
        ext->power_marker = 2;
    } else {
        if (dsp_bound(ext))
            dsp_power_step(&ext->dsp, state == PowerDeviceD1 ? 7 : state == PowerDeviceD2 ? 8 : 9);
        ext->core_hooks->timers_stop(ext);
        ext->power_marker = static_cast<uint8_t>(state == PowerDeviceD1 ? 3 : state == PowerDeviceD2 ? 4 : 5);
    }
}

NTSTATUS pass_power_down(ModemDeviceExtension* ext, PIRP irp)
{
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(ext->lower, irp);
}

NTSTATUS signal_done(PDEVICE_OBJECT device, PIRP irp, PVOID context)
{
    (void)device;
    (void)irp;
    KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS forward_power_and_wait(ModemDeviceExtension* ext, PIRP irp)
{
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, signal_done, &done, TRUE, TRUE, TRUE);
    NTSTATUS status = PoCallDriver(ext->lower, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
        status = irp->IoStatus.Status;
    }
    return status;
}

NTSTATUS complete_power(PIRP irp, NTSTATUS status)
{
    PoStartNextPowerIrp(irp);
    return ModemCompleteIrp(irp, status, irp->IoStatus.Information);
}

NTSTATUS set_device_power(ModemDeviceExtension* ext, PIRP irp, DEVICE_POWER_STATE target)
{
    POWER_STATE state;
    state.DeviceState = target;
    if (target < ext->device_power) {
        // Towards D0: the lower devices first, then this one.
        NTSTATUS status = forward_power_and_wait(ext, irp);
        if (NT_SUCCESS(status)) {
            ext->device_power = target;
            PoSetPowerState(ext->device, DevicePowerState, state);
            device_power_actions(ext, target);
        }
        return complete_power(irp, status);
    }
    if (target != ext->device_power) {
        device_power_actions(ext, target);
        ext->device_power = target;
        PoSetPowerState(ext->device, DevicePowerState, state);
    }
    return pass_power_down(ext, irp);
}

NTSTATUS query_device_power(ModemDeviceExtension* ext, PIRP irp, DEVICE_POWER_STATE target)
{
    bool refuse = target == PowerDeviceD1;
    if (port_open(ext) && ext->dte.conn_state.load() != 0)
        refuse = true;
    if (ext->pending_wait_wake != nullptr && target > ext->capabilities.DeviceWake)
        refuse = true;
    if (refuse)
        return complete_power(irp, STATUS_POWER_STATE_INVALID);
    return pass_power_down(ext, irp);
}

NTSTATUS system_power(ModemDeviceExtension* ext, PIRP irp, bool query, SYSTEM_POWER_STATE target)
{
    if (query && ext->pending_wait_wake != nullptr && target > ext->capabilities.SystemWake &&
        target != PowerSystemHibernate)
        return complete_power(irp, STATUS_POWER_STATE_INVALID);
    NTSTATUS status = forward_power_and_wait(ext, irp);
    if (NT_SUCCESS(status)) {
        if (!query)
            ext->system_power = target;
        POWER_STATE device_state;
        device_state.DeviceState = ModemSystemToDeviceState(&ext->capabilities, target);
        PoRequestPowerIrp(ext->device, query ? IRP_MN_QUERY_POWER : IRP_MN_SET_POWER, device_state, nullptr,
                          nullptr, nullptr);
    }
    return complete_power(irp, status);
}

}  // namespace

NTSTATUS ModemPowerDispatch(PDEVICE_OBJECT device, PIRP irp)
{
    ModemDeviceExtension* ext = ModemExtension(device);
    if (ext->removed.load())
        return complete_power(irp, STATUS_DELETE_PENDING);
    ModemIoIncrement(ext);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    NTSTATUS status;
    switch (stack->MinorFunction) {
    case IRP_MN_SET_POWER:
    case IRP_MN_QUERY_POWER: {
        bool query = stack->MinorFunction == IRP_MN_QUERY_POWER;
        if (stack->Parameters.Power.Type == SystemPowerState)
            status = system_power(ext, irp, query, stack->Parameters.Power.State.SystemState);
        else if (query)
            status = query_device_power(ext, irp, stack->Parameters.Power.State.DeviceState);
        else
            status = set_device_power(ext, irp, stack->Parameters.Power.State.DeviceState);
        break;
    }
    default:
        status = pass_power_down(ext, irp);
        break;
    }
    ModemIoDecrement(ext);
    return status;
}
