#include "support/pump_harness.h"

#include <atomic>
#include <map>

#include "stack/modem_stack.h"
#include "window/window_access.h"

namespace pumptest {

namespace {

// The probe driver: the controller's place in the stack.
struct ProbeExtension {
    PDEVICE_OBJECT lower;
    NTSTATUS startStatus;
    ULONG_PTR startInformation;
};

std::mutex gModemsLock;
std::map<DspInterfaceBlock*, PumpModem*> gModems;

void ProbeCallback(DspInterfaceBlock* block)
{
    PumpModem* modem = nullptr;
    {
        std::lock_guard<std::mutex> guard(gModemsLock);
        auto it = gModems.find(block);
        if (it != gModems.end())
            modem = it->second;
    }
    if (modem != nullptr)
        modem->RecordCallback(block);
}

NTSTATUS ProbeCompletion(PDEVICE_OBJECT, PIRP irp, PVOID context)
{
    if (irp->PendingReturned)
        IoMarkIrpPending(irp);
    KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS ProbePnp(PDEVICE_OBJECT device, PIRP irp)
{
    auto* ext = static_cast<ProbeExtension*>(device->DeviceExtension);
    const UCHAR minor = IoGetCurrentIrpStackLocation(irp)->MinorFunction;
    if (minor == IRP_MN_START_DEVICE) {
        irp->IoStatus.Information = reinterpret_cast<ULONG_PTR>(&ProbeCallback);
        KEVENT done;
        KeInitializeEvent(&done, NotificationEvent, FALSE);
        IoCopyCurrentIrpStackLocationToNext(irp);
        IoSetCompletionRoutine(irp, ProbeCompletion, &done, TRUE, TRUE, TRUE);
        if (IoCallDriver(ext->lower, irp) == STATUS_PENDING)
            KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
        ext->startStatus = irp->IoStatus.Status;
        ext->startInformation = irp->IoStatus.Information;
        const NTSTATUS status = irp->IoStatus.Status;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return status;
    }
    PDEVICE_OBJECT lower = ext->lower;
    IoSkipCurrentIrpStackLocation(irp);
    const NTSTATUS status = IoCallDriver(lower, irp);
    if (minor == IRP_MN_REMOVE_DEVICE) {
        IoDetachDevice(lower);
        IoDeleteDevice(device);
    }
    return status;
}

NTSTATUS ProbePassDown(PDEVICE_OBJECT device, PIRP irp)
{
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(static_cast<ProbeExtension*>(device->DeviceExtension)->lower, irp);
}

NTSTATUS ProbePower(PDEVICE_OBJECT device, PIRP irp)
{
    PoStartNextPowerIrp(irp);
    IoSkipCurrentIrpStackLocation(irp);
    return PoCallDriver(static_cast<ProbeExtension*>(device->DeviceExtension)->lower, irp);
}

NTSTATUS ProbeAddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT physical)
{
    PDEVICE_OBJECT device = nullptr;
    NTSTATUS status = IoCreateDevice(driver, sizeof(ProbeExtension), nullptr, FILE_DEVICE_MODEM, 0, FALSE, &device);
    if (!NT_SUCCESS(status))
        return status;
    auto* ext = static_cast<ProbeExtension*>(device->DeviceExtension);
    ext->lower = IoAttachDeviceToDeviceStack(device, physical);
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

NTSTATUS ProbeDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    driver->MajorFunction[IRP_MJ_PNP] = ProbePnp;
    driver->MajorFunction[IRP_MJ_POWER] = ProbePower;
    driver->MajorFunction[IRP_MJ_CREATE] = ProbePassDown;
    driver->MajorFunction[IRP_MJ_CLOSE] = ProbePassDown;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = ProbePassDown;
    driver->DriverExtension->AddDevice = ProbeAddDevice;
    return STATUS_SUCCESS;
}

uint8_t Load(DspInterfaceBlock* block, int reg)
{
    return WindowLoad(block, reg);
}

void Store(DspInterfaceBlock* block, int reg, uint8_t value)
{
    WindowStore(block, reg, value);
}

}  // namespace

PumpModem::PumpModem(platform::Clock& clock, LineNetwork* network, const ModemOptions& options)
    : network_(network), withPort_(options.withPort)
{
    platform::MachineConfig config;
    config.clock = &clock;
    config.name = options.name;
    machine_ = std::make_unique<platform::Machine>(config);
    if (options.withPort) {
        LinePortConfig portConfig = options.port;
        if (portConfig.name == "port")
            portConfig.name = options.name;
        port_ = LineNetworkAddPort(network, portConfig);
    }
    stack_ = std::make_unique<ModemStack>(*machine_);
    ModemStackConfig stackConfig;
    stackConfig.port = port_;
    stackConfig.controllerEntry = ProbeDriverEntry;
    stackConfig.controllerService = "Probe";
    stackConfig.start = false;
    stack_->Load(stackConfig);
}

PumpModem::~PumpModem()
{
    Remove();
    UnloadDrivers();
}

void PumpModem::UnloadDrivers()
{
    stack_->Unload();
}

NTSTATUS PumpModem::Start(uint64_t failAllocation)
{
    NTSTATUS status = stack_->Add();
    if (!NT_SUCCESS(status))
        return status;
    machine_->FailAllocation(failAllocation);
    status = stack_->Start();
    machine_->FailAllocation(0);
    if (DspContext* ctx = Context()) {
        std::lock_guard<std::mutex> guard(gModemsLock);
        gModems[ctx->interfaceBlock] = this;
    }
    return status;
}

NTSTATUS PumpModem::Remove()
{
    if (stack_->Stack() == nullptr)
        return STATUS_SUCCESS;
    if (DspContext* ctx = Context()) {
        std::lock_guard<std::mutex> guard(gModemsLock);
        gModems.erase(ctx->interfaceBlock);
    }
    return stack_->RemoveStack();
}

PDEVICE_OBJECT PumpModem::TopDevice() const
{
    return stack_->Top();
}

ULONG_PTR PumpModem::StartInformation() const
{
    PDEVICE_OBJECT top = TopDevice();
    return top != nullptr ? static_cast<ProbeExtension*>(top->DeviceExtension)->startInformation : 0;
}

DspContext* PumpModem::Context() const
{
    return reinterpret_cast<DspContext*>(StartInformation());
}

PDEVICE_OBJECT PumpModem::PumpDevice() const
{
    PDEVICE_OBJECT top = TopDevice();
    return top != nullptr ? static_cast<ProbeExtension*>(top->DeviceExtension)->lower : nullptr;
}

DspDeviceExtension* PumpModem::PumpExtension() const
{
    PDEVICE_OBJECT d = PumpDevice();
    return d != nullptr ? static_cast<DspDeviceExtension*>(d->DeviceExtension) : nullptr;
}

void PumpModem::SendCommand(uint8_t code, const std::vector<uint8_t>& payload)
{
    DspContext* ctx = Context();
    DspInterfaceBlock* block = ctx->interfaceBlock;
    const size_t n = std::min<size_t>(payload.size(), 16);
    for (size_t i = 0; i < n; ++i)
        Store(block, 68 + static_cast<int>(i), payload[i]);
    Store(block, 65, 0);
    Store(block, 66, static_cast<uint8_t>((payload.size() + 1) & ~size_t{1}));
    Store(block, 67, 0);
    Store(block, 64, code);
    platform::MachineScope scope(*machine_);
    block->commandEntry(ctx);
}

void PumpModem::SetRegister(int reg, uint8_t value)
{
    Store(Context()->interfaceBlock, reg, value);
}

uint8_t PumpModem::Register(int reg)
{
    return Load(Context()->interfaceBlock, reg);
}

void PumpModem::RecordCallback(DspInterfaceBlock* block)
{
    if (void (*routine)(DspInterfaceBlock*) = forward_.load()) {
        routine(block);
        return;
    }
    PumpEvent e;
    e.time = static_cast<LONGLONG>(KeQueryInterruptTime());
    e.status = Load(block, 54);
    e.progress = Load(block, 56);
    e.detector = Load(block, 57);
    const uint8_t code = Load(block, 0);
    if (code != 0) {
        e.packet = true;
        const uint8_t length = std::min<uint8_t>(Load(block, 2), 16);
        e.bytes = {code, Load(block, 1), Load(block, 2), Load(block, 3)};
        for (int i = 0; i < length; ++i)
            e.bytes.push_back(Load(block, 4 + i));
        Store(block, 0, 0);  // the reply mailbox is free again
    }
    std::lock_guard<std::mutex> guard(eventsLock_);
    events_.push_back(std::move(e));
}

std::vector<PumpEvent> PumpModem::Events()
{
    std::lock_guard<std::mutex> guard(eventsLock_);
    return events_;
}

void PumpModem::ClearEvents()
{
    std::lock_guard<std::mutex> guard(eventsLock_);
    events_.clear();
}

NTSTATUS PumpModem::SendIoctl(ULONG code)
{
    PDEVICE_OBJECT device = PumpDevice();
    platform::MachineScope scope(*machine_);
    PIRP irp = IoAllocateIrp(device->StackSize, FALSE);
    if (irp == nullptr)
        return STATUS_INSUFFICIENT_RESOURCES;
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = code;
    const NTSTATUS status = machine_->CallAndWait(device, irp);
    IoFreeIrp(irp);
    return status;
}

bool PumpModem::Capture(const std::string& txPath, const std::string& rxPath, std::string* error)
{
    return LinePortSetCaptures(port_, txPath, rxPath, error);
}

void RunFor(LONGLONG ms)
{
    platform::SleepMs(ms);
}

}  // namespace pumptest
