// Power manager: power requests passed along and requested, device power state.
#include "platform/internal.h"

using namespace platform;

namespace {

struct PowerRequest {
    PDEVICE_OBJECT device;
    UCHAR minor;
    POWER_STATE state;
    PREQUEST_POWER_COMPLETE completion;
    PVOID context;
};

void PowerRequestDone(PIRP Irp, PVOID Context)
{
    auto* r = static_cast<PowerRequest*>(Context);
    if (r->completion != nullptr) {
        KernelInstance* saved = CurrentKernel();
        if (r->device->DriverObject != nullptr && r->device->DriverObject->Kernel != nullptr) {
            SetCurrentKernel(r->device->DriverObject->Kernel);
        }
        IO_STATUS_BLOCK iosb = Irp->IoStatus;
        r->completion(r->device, r->minor, r->state, r->context, &iosb);
        SetCurrentKernel(saved);
    }
    delete r;
    IoFreeIrp(Irp);
}

}  // namespace

NTSTATUS PoCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp) { return IoCallDriver(DeviceObject, Irp); }

VOID PoStartNextPowerIrp(PIRP) {}

NTSTATUS PoRequestPowerIrp(PDEVICE_OBJECT DeviceObject, UCHAR MinorFunction, POWER_STATE PowerState,
                           PREQUEST_POWER_COMPLETE CompletionFunction, PVOID Context, PIRP* Irp)
{
    if (DeviceObject == nullptr) return STATUS_INVALID_PARAMETER;
    if (MinorFunction != IRP_MN_SET_POWER && MinorFunction != IRP_MN_QUERY_POWER &&
        MinorFunction != IRP_MN_WAIT_WAKE) {
        return STATUS_INVALID_PARAMETER_2;
    }
    PDEVICE_OBJECT base = DeviceObject->PlatformNode != nullptr ? DeviceObject->PlatformNode->pdo : DeviceObject;
    PDEVICE_OBJECT top = IoGetAttachedDevice(base);
    PIRP irp = IoAllocateIrp(top->StackSize, FALSE);
    if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_POWER;
    next->MinorFunction = MinorFunction;
    if (MinorFunction == IRP_MN_WAIT_WAKE) {
        next->Parameters.WaitWake.PowerState = PowerState.SystemState;
    } else {
        next->Parameters.Power.Type = DevicePowerState;
        next->Parameters.Power.State = PowerState;
        next->Parameters.Power.ShutdownType = PowerActionNone;
    }
    irp->PlatformCompletion = PowerRequestDone;
    irp->PlatformCompletionContext = new PowerRequest{DeviceObject, MinorFunction, PowerState, CompletionFunction, Context};
    if (Irp != nullptr) *Irp = irp;
    IoCallDriver(top, irp);
    return STATUS_PENDING;
}

POWER_STATE PoSetPowerState(PDEVICE_OBJECT DeviceObject, POWER_STATE_TYPE Type, POWER_STATE State)
{
    POWER_STATE previous;
    if (Type == DevicePowerState) {
        previous.DeviceState = DeviceObject->PlatformPowerState;
        DeviceObject->PlatformPowerState = State.DeviceState;
    } else {
        previous.SystemState = PowerSystemWorking;
    }
    return previous;
}

// ---------------------------------------------------------------------------------------------------------
// The physical device object at the bottom of every stack: a minimal bus driver.

namespace {

VOID WaitWakeCancel(PDEVICE_OBJECT DeviceObject, PIRP Irp)
{
    IoReleaseCancelSpinLock(Irp->CancelIrql);
    ::PlatformDeviceNode* node = DeviceObject->PlatformNode;
    {
        std::lock_guard<std::mutex> lk(node->kernel->mu);
        if (node->waitWake == Irp) node->waitWake = nullptr;
    }
    Irp->IoStatus.Status = STATUS_CANCELLED;
    Irp->IoStatus.Information = 0;
    IoCompleteRequest(Irp, IO_NO_INCREMENT);
}

void FillCapabilities(PDEVICE_CAPABILITIES c)
{
    c->DeviceD1 = 0;
    c->DeviceD2 = 1;
    c->SurpriseRemovalOK = 1;
    c->WakeFromD0 = 1;
    c->WakeFromD2 = 1;
    c->WakeFromD3 = 1;
    c->Address = 0xFFFFFFFF;
    c->UINumber = 0xFFFFFFFF;
    c->DeviceState[PowerSystemUnspecified] = PowerDeviceUnspecified;
    c->DeviceState[PowerSystemWorking] = PowerDeviceD0;
    for (int s = PowerSystemSleeping1; s <= PowerSystemShutdown; s++) c->DeviceState[s] = PowerDeviceD3;
    c->SystemWake = PowerSystemSleeping3;
    c->DeviceWake = PowerDeviceD3;
}

}  // namespace

namespace platform {

NTSTATUS RootDispatch(PDEVICE_OBJECT DeviceObject, PIRP Irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
    ::PlatformDeviceNode* node = DeviceObject->PlatformNode;
    NTSTATUS status = Irp->IoStatus.Status;
    switch (stack->MajorFunction) {
    case IRP_MJ_PNP:
        switch (stack->MinorFunction) {
        case IRP_MN_START_DEVICE:
        case IRP_MN_QUERY_STOP_DEVICE:
        case IRP_MN_CANCEL_STOP_DEVICE:
        case IRP_MN_STOP_DEVICE:
        case IRP_MN_QUERY_REMOVE_DEVICE:
        case IRP_MN_CANCEL_REMOVE_DEVICE:
        case IRP_MN_SURPRISE_REMOVAL:
        case IRP_MN_REMOVE_DEVICE: status = STATUS_SUCCESS; break;
        case IRP_MN_QUERY_CAPABILITIES:
            if (stack->Parameters.DeviceCapabilities.Capabilities != nullptr) {
                FillCapabilities(stack->Parameters.DeviceCapabilities.Capabilities);
                status = STATUS_SUCCESS;
            } else {
                status = STATUS_INVALID_PARAMETER;
            }
            break;
        default: break;  // not handled: the status stays as the requester set it
        }
        if (stack->MinorFunction == IRP_MN_REMOVE_DEVICE || stack->MinorFunction == IRP_MN_SURPRISE_REMOVAL) {
            PIRP wake = nullptr;
            {
                std::lock_guard<std::mutex> lk(node->kernel->mu);
                wake = node->waitWake;
                node->waitWake = nullptr;
            }
            if (wake != nullptr && IoSetCancelRoutine(wake, nullptr) != nullptr) {
                wake->IoStatus.Status = STATUS_NO_SUCH_DEVICE;
                IoCompleteRequest(wake, IO_NO_INCREMENT);
            }
        }
        break;
    case IRP_MJ_POWER:
        PoStartNextPowerIrp(Irp);
        switch (stack->MinorFunction) {
        case IRP_MN_SET_POWER:
            if (stack->Parameters.Power.Type == DevicePowerState) {
                PoSetPowerState(DeviceObject, DevicePowerState, stack->Parameters.Power.State);
            }
            status = STATUS_SUCCESS;
            break;
        case IRP_MN_QUERY_POWER: status = STATUS_SUCCESS; break;
        case IRP_MN_WAIT_WAKE: {
            std::lock_guard<std::mutex> lk(node->kernel->mu);
            if (node->waitWake != nullptr) {
                status = STATUS_DEVICE_BUSY;
                break;
            }
            node->waitWake = Irp;
            IoMarkIrpPending(Irp);
            IoSetCancelRoutine(Irp, WaitWakeCancel);
            if (Irp->Cancel && IoSetCancelRoutine(Irp, nullptr) != nullptr) {
                node->waitWake = nullptr;
                status = STATUS_CANCELLED;
                break;
            }
            return STATUS_PENDING;
        }
        default: break;
        }
        break;
    case IRP_MJ_CREATE:
    case IRP_MJ_CLOSE:
    case IRP_MJ_CLEANUP:
    case IRP_MJ_FLUSH_BUFFERS: status = STATUS_SUCCESS; break;
    case IRP_MJ_SYSTEM_CONTROL: break;
    default: status = STATUS_INVALID_DEVICE_REQUEST; break;
    }
    Irp->IoStatus.Status = status;
    IoCompleteRequest(Irp, IO_NO_INCREMENT);
    return status;
}

}  // namespace platform
