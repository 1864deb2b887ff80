#include "support/pump_stand_in.h"

#include <atomic>
#include <cstring>
#include <new>

#include "layer2/corecode/mt/dsp_device.h"
#include "platform/byte_order.h"
#include "window/icd_packet.h"
#include "window/register_map.h"
#include "window/window_access.h"

namespace {

std::mutex g_postLock;  // one reply mailbox writer at a time across the stand-in's threads

uint8_t get(DspIcdPump* p, int reg)
{
    return WindowLoad(&p->block, reg);
}

void put(DspIcdPump* p, int reg, uint8_t v)
{
    WindowStore(&p->block, reg, v);
}

bool post_locked(DspIcdPump* p, uint8_t code, const uint8_t* payload, int length)
{
    if (get(p, kRegReplyCode) != 0)
        return false;
    put(p, kRegReplyReserved1, 0);
    put(p, kRegReplyLength, static_cast<uint8_t>(length));
    put(p, kRegReplyReserved3, 0);
    for (int i = 0; i < length && i < kIcdMaxPayload; ++i)
        put(p, kRegReplyPayload + i, payload[i]);
    put(p, kRegReplyCode, code);
    return true;
}

void command_entry(DspContext* context)
{
    DspIcdPump* p = reinterpret_cast<DspIcdPump*>(context);
    const uint8_t code = get(p, kRegCommandCode);
    if (code == 0 || p->neverTake)
        return;
    IcdLogEntry e;
    e.code = code;
    e.length = get(p, kRegCommandLength);
    const int n = e.length > kIcdMaxPayload ? kIcdMaxPayload : e.length;
    for (int i = 0; i < n; ++i)
        e.payload.push_back(get(p, kRegCommandPayload + i));
    put(p, kRegCommandCode, 0);
    {
        std::lock_guard<std::mutex> g(p->logLock);
        p->log.push_back(e);
    }
    p->notify(p->notifyArg);
    if (p->neverReply)
        return;
    uint8_t reply[16] = {};
    bool posted;
    {
        std::lock_guard<std::mutex> g(g_postLock);
        if (code == IcdQueryVersion) {
            uint8_t v[kIcdVersionLength];
            posted = post_locked(p, IcdVersionReport, v, IcdEncode(IcdVersionPayload{{1, 4, 4, 67}}, v));
        } else if (code == IcdReadTable || code == IcdReadMemory || code == IcdReadMemoryHigh) {
            WriteLe16(reply, static_cast<uint16_t>(p->memoryValue));
            posted = post_locked(p, code == IcdReadTable ? IcdTableParamValue : IcdMemoryValue, reply, 2);
        } else if (code == IcdQueryRate) {
            posted = post_locked(p, IcdRateReport, &p->rateByte, 1);
        } else if (code == IcdQueryMode) {
            posted = post_locked(p, IcdModeReport, &p->modeByte, 1);
        } else if (code == IcdQueryLinkParams) {
            posted = post_locked(p, IcdLinkParamsReport, p->linkParams, 8);
        } else {
            reply[0] = code;
            posted = post_locked(p, IcdAck, reply, 1);
        }
    }
    if (posted)
        p->notify(p->notifyArg);
}

}  // namespace

void DspIcdPumpInit(DspIcdPump* pump, void (*notify)(void*), void* arg)
{
    std::memset(&pump->context, 0, sizeof pump->context);
    std::memset(&pump->block, 0, sizeof pump->block);
    pump->context.interfaceBlock = &pump->block;
    pump->context.commandEntry = command_entry;
    pump->block.commandEntry = command_entry;
    pump->notify = notify;
    pump->notifyArg = arg;
    pump->neverTake = false;
    pump->neverReply = false;
    pump->memoryValue = 0;
    pump->log.clear();
}

bool DspIcdPumpPost(DspIcdPump* pump, uint8_t code, const uint8_t* payload, int length)
{
    bool posted;
    {
        std::lock_guard<std::mutex> g(g_postLock);
        posted = post_locked(pump, code, payload, length);
    }
    if (posted)
        pump->notify(pump->notifyArg);
    return posted;
}

std::vector<IcdLogEntry> DspIcdPumpLog(DspIcdPump* pump)
{
    std::lock_guard<std::mutex> g(pump->logLock);
    return pump->log;
}

void DspIcdPumpBindDevice(DspIcdPump* pump, DspDevice* dev, const DspLinkHooks* hooks)
{
    dsp_device_init(dev, hooks);
    DspIcdPumpInit(pump, [](void* d) { dsp_notify_callback(&static_cast<DspDevice*>(d)->link); }, dev);
    dsp_device_bind(dev, &pump->block, &pump->context);
    dsp_set_port_ready(&dev->link, true);
}

std::vector<uint8_t> IcdWireBytes(const IcdLogEntry& entry)
{
    std::vector<uint8_t> b;
    b.reserve(2 + entry.payload.size());
    b.push_back(entry.code);
    b.push_back(entry.length);
    b.insert(b.end(), entry.payload.begin(), entry.payload.end());
    return b;
}

// The stand-in as a lower filter driver.

namespace {

void notify_controller(void* arg)
{
    auto* ext = static_cast<FakePumpExtension*>(arg);
    if (ext->block.controllerCallback != nullptr)
        ext->block.controllerCallback(&ext->block);
}

FakePumpExtension* ext_of(PDEVICE_OBJECT device)
{
    return static_cast<FakePumpExtension*>(device->DeviceExtension);
}

NTSTATUS complete(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS signal_done(PDEVICE_OBJECT, PIRP, PVOID context)
{
    KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS forward_and_wait(FakePumpExtension* ext, PIRP irp)
{
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, signal_done, &done, TRUE, TRUE, TRUE);
    NTSTATUS status = IoCallDriver(ext->lower, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
        status = irp->IoStatus.Status;
    }
    return status;
}

NTSTATUS pass_down(FakePumpExtension* ext, PIRP irp)
{
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(ext->lower, irp);
}

NTSTATUS pump_pnp(PDEVICE_OBJECT device, PIRP irp)
{
    FakePumpExtension* ext = ext_of(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE: {
        ext->controller_callback = reinterpret_cast<ControllerCallback>(irp->IoStatus.Information);
        irp->IoStatus.Information = 0;
        NTSTATUS status = forward_and_wait(ext, irp);
        ULONG_PTR answer = 0;
        if (NT_SUCCESS(status) && !ext->answer_null_context) {
            ext->context.interfaceBlock = ext->answer_null_block ? nullptr : &ext->block;
            ext->block.controllerCallback = ext->controller_callback;
            answer = reinterpret_cast<ULONG_PTR>(&ext->context);
        }
        return complete(irp, status, answer);
    }
    case IRP_MN_REMOVE_DEVICE: {
        irp->IoStatus.Status = STATUS_SUCCESS;
        NTSTATUS status = pass_down(ext, irp);
        IoDetachDevice(ext->lower);
        ext->~FakePumpExtension();
        IoDeleteDevice(device);
        return status;
    }
    default:
        return pass_down(ext, irp);
    }
}

NTSTATUS pump_power(PDEVICE_OBJECT device, PIRP irp)
{
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(ext_of(device)->lower, irp);
}

NTSTATUS pump_create_close(PDEVICE_OBJECT device, PIRP irp)
{
    FakePumpExtension* ext = ext_of(device);
    if (IoGetCurrentIrpStackLocation(irp)->MajorFunction == IRP_MJ_CREATE)
        ext->creates++;
    else if (IoGetCurrentIrpStackLocation(irp)->MajorFunction == IRP_MJ_CLOSE)
        ext->closes++;
    return complete(irp, STATUS_SUCCESS, 0);
}

// Device controls the controller passes on are not the pump's: refused.
NTSTATUS pump_other(PDEVICE_OBJECT, PIRP irp)
{
    return complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
}

NTSTATUS pump_add_device(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo)
{
    PDEVICE_OBJECT device = nullptr;
    NTSTATUS status = IoCreateDevice(driver, sizeof(FakePumpExtension), nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE,
                                     &device);
    if (!NT_SUCCESS(status))
        return status;
    auto* ext = new (device->DeviceExtension) FakePumpExtension();
    DspIcdPumpInit(ext, notify_controller, ext);
    ext->neverTake = true;
    ext->device = device;
    ext->lower = IoAttachDeviceToDeviceStack(device, pdo);
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    device->Flags |= DO_BUFFERED_IO | DO_POWER_PAGABLE;
    return STATUS_SUCCESS;
}

}  // namespace

NTSTATUS FakePumpDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    for (auto& f : driver->MajorFunction)
        f = pump_other;
    driver->MajorFunction[IRP_MJ_PNP] = pump_pnp;
    driver->MajorFunction[IRP_MJ_POWER] = pump_power;
    driver->MajorFunction[IRP_MJ_CREATE] = pump_create_close;
    driver->MajorFunction[IRP_MJ_CLOSE] = pump_create_close;
    driver->MajorFunction[IRP_MJ_CLEANUP] = pump_create_close;
    driver->DriverExtension->AddDevice = pump_add_device;
    return STATUS_SUCCESS;
}

FakePumpExtension* FakePumpOf(PDEVICE_OBJECT pump_device)
{
    return ext_of(pump_device);
}
