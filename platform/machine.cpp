// The machine: kernel instance, drivers, device stacks and the requests the host and tests send.
#include "platform/machine.h"

#include <new>

#include "platform/internal.h"
#include "platform/registry_store.h"

namespace platform {

namespace {

const char* kServicesKey = "\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Services\\";
const char* kModemClassGuid = "{4d36e96d-e325-11ce-bfc1-08002be10318}";

NTSTATUS InvalidRequest(PDEVICE_OBJECT, PIRP Irp)
{
    Irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
    Irp->IoStatus.Information = 0;
    IoCompleteRequest(Irp, IO_NO_INCREMENT);
    return STATUS_INVALID_DEVICE_REQUEST;
}

void SignalEvent(PIRP, PVOID Context) { KeSetEvent(static_cast<PKEVENT>(Context), IO_NO_INCREMENT, FALSE); }

void RequestDone(PIRP Irp, PVOID Context)
{
    auto* r = static_cast<IoRequest*>(Context);
    r->status = Irp->IoStatus.Status;
    r->information = Irp->IoStatus.Information;
    r->completed.store(1);
    KeSetEvent(&r->done, IO_NO_INCREMENT, FALSE);
}

struct Scope {
    explicit Scope(KernelInstance* k) : saved(CurrentKernel()) { SetCurrentKernel(k); }
    ~Scope() { SetCurrentKernel(saved); }
    KernelInstance* saved;
};

DriverRecord* NewDriver(KernelInstance* k, const std::string& name, const std::string& registryPath)
{
    auto* r = new DriverRecord();
    std::memset(&r->object, 0, sizeof(r->object));
    std::memset(&r->extension, 0, sizeof(r->extension));
    r->name = Widen("\\Driver\\" + name);
    r->registryPath = Widen(registryPath);
    PDRIVER_OBJECT d = &r->object;
    d->Type = 4;
    d->Size = static_cast<SHORT>(sizeof(DRIVER_OBJECT));
    d->DriverExtension = &r->extension;
    r->extension.DriverObject = d;
    d->DriverName.Buffer = r->name.data();
    d->DriverName.Length = static_cast<USHORT>(r->name.size() * sizeof(WCHAR));
    d->DriverName.MaximumLength = d->DriverName.Length;
    for (auto& f : d->MajorFunction) f = InvalidRequest;
    d->Kernel = k;
    return r;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------

Machine::Machine(const MachineConfig& config) : kernel_(new KernelInstance())
{
    KernelInstance* k = kernel_;
    k->machine = this;
    k->clock = config.clock;
    k->name = config.name;
    k->wdm110 = config.wdm110Available;
    k->registry = new RegistryStore();
    k->pool = NewPoolAccount();
    k->status = k->registry->Load(config.registryFile, &k->error);
    DriverRecord* root = NewDriver(k, "PlatformRoot", "");
    for (auto& f : root->object.MajorFunction) f = RootDispatch;
    k->rootDriver = &root->object;
    k->drivers.push_back(root);
}

Machine::~Machine()
{
    KernelInstance* k = kernel_;
    std::vector<::PlatformDeviceNode*> nodes;
    {
        std::lock_guard<std::mutex> lk(k->mu);
        nodes = k->nodes;
    }
    for (::PlatformDeviceNode* n : nodes) RemoveNode(k, n, true);
    {
        Scope scope(k);
        for (DriverRecord* r : k->drivers) {
            if (&r->object != k->rootDriver && r->object.DriverUnload != nullptr) r->object.DriverUnload(&r->object);
        }
    }
    std::vector<PDEVICE_OBJECT> devices = k->deletedDevices;
    for (DriverRecord* r : k->drivers) {
        for (PDEVICE_OBJECT d = r->object.DeviceObject; d != nullptr; d = d->NextDevice) devices.push_back(d);
    }
    for (auto& [file, node] : k->files) delete file;
    for (PDEVICE_OBJECT d : devices) FreeDeviceMemory(d);
    for (DriverRecord* r : k->drivers) delete r;
    delete k->registry;
    ReleasePoolAccount(k->pool);
    delete k;
}

NTSTATUS Machine::Status() const { return kernel_->status; }
const std::string& Machine::Error() const { return kernel_->error; }
Clock& Machine::GetClock() const { return *kernel_->clock; }
const std::string& Machine::Name() const { return kernel_->name; }

std::string Machine::ServiceKeyPath(const char* serviceName) const { return kServicesKey + std::string(serviceName); }

NTSTATUS Machine::LoadDriver(const char* serviceName, PDRIVER_INITIALIZE entry, PDRIVER_OBJECT* driver)
{
    return LoadDriver(serviceName, ServiceKeyPath(serviceName), entry, driver);
}

NTSTATUS Machine::LoadDriver(const char* serviceName, const std::string& registryPath, PDRIVER_INITIALIZE entry,
                             PDRIVER_OBJECT* driver)
{
    KernelInstance* k = kernel_;
    if (entry == nullptr || driver == nullptr) return STATUS_INVALID_PARAMETER;
    DriverRecord* r = NewDriver(k, serviceName, registryPath);
    k->registry->CreateKey(registryPath, false, nullptr);
    UNICODE_STRING path;
    path.Buffer = r->registryPath.data();
    path.Length = static_cast<USHORT>(r->registryPath.size() * sizeof(WCHAR));
    path.MaximumLength = path.Length;
    NTSTATUS status;
    {
        Scope scope(k);
        status = entry(&r->object, &path);
    }
    if (!NT_SUCCESS(status)) {
        delete r;
        return status;
    }
    {
        std::lock_guard<std::mutex> lk(k->mu);
        k->drivers.push_back(r);
    }
    *driver = &r->object;
    return STATUS_SUCCESS;
}

VOID Machine::UnloadDriver(PDRIVER_OBJECT driver)
{
    Scope scope(kernel_);
    if (driver->DriverUnload != nullptr) driver->DriverUnload(driver);
    driver->DriverUnload = nullptr;
}

NTSTATUS Machine::AddStack(const std::vector<PDRIVER_OBJECT>& bottomToTop, const StackConfig& config,
                           DeviceStack** stack)
{
    KernelInstance* k = kernel_;
    Scope scope(k);
    auto* node = new ::PlatformDeviceNode();
    node->kernel = k;
    uint32_t n;
    {
        std::lock_guard<std::mutex> lk(k->mu);
        n = k->nextInstance++;
    }
    node->instanceId = config.instanceId.empty() ? Format("ROOT\\MODEM\\%04u", n) : config.instanceId;
    node->driverKeyName = Format("%s\\%04u", kModemClassGuid, n);
    node->resources = config.resources;
    if (!config.portName.empty()) {
        std::u16string w = Widen(config.portName);
        k->registry->SetValue(DeviceKeyPathOf(node), "PortName", REG_SZ, w.c_str(), (w.size() + 1) * sizeof(WCHAR));
    } else {
        k->registry->CreateKey(DeviceKeyPathOf(node), false, nullptr);
    }
    std::u16string pdoName = Widen(Format("\\Device\\%08X", n + 1));
    UNICODE_STRING name{static_cast<USHORT>(pdoName.size() * 2), static_cast<USHORT>(pdoName.size() * 2),
                        pdoName.data()};
    PDEVICE_OBJECT pdo = nullptr;
    NTSTATUS status = IoCreateDevice(k->rootDriver, 0, &name, FILE_DEVICE_BUS_EXTENDER, 0, FALSE, &pdo);
    if (!NT_SUCCESS(status)) {
        delete node;
        return status;
    }
    pdo->Flags &= ~DO_DEVICE_INITIALIZING;
    pdo->PlatformNode = node;
    node->pdo = pdo;
    {
        std::lock_guard<std::mutex> lk(k->mu);
        k->nodes.push_back(node);
    }
    for (PDRIVER_OBJECT d : bottomToTop) {
        if (d->DriverExtension->AddDevice == nullptr) continue;
        status = d->DriverExtension->AddDevice(d, pdo);
        if (!NT_SUCCESS(status)) {
            RemoveNode(k, node, true);
            return status;
        }
    }
    node->record = new DeviceStack{node};
    *stack = node->record;
    return STATUS_SUCCESS;
}

NTSTATUS Machine::StartStack(DeviceStack* stack)
{
    ::PlatformDeviceNode* node = stack->node;
    PCM_RESOURCE_LIST list = nullptr;
    if (!node->resources.empty()) {
        size_t header = offsetof(CM_RESOURCE_LIST, List) + offsetof(CM_FULL_RESOURCE_DESCRIPTOR, PartialResourceList) +
                        offsetof(CM_PARTIAL_RESOURCE_LIST, PartialDescriptors);
        node->resourceList.assign(header + node->resources.size() * sizeof(CM_PARTIAL_RESOURCE_DESCRIPTOR), 0);
        list = reinterpret_cast<PCM_RESOURCE_LIST>(node->resourceList.data());
        list->Count = 1;
        list->List[0].InterfaceType = PCIBus;
        list->List[0].PartialResourceList.Version = 1;
        list->List[0].PartialResourceList.Revision = 1;
        list->List[0].PartialResourceList.Count = static_cast<ULONG>(node->resources.size());
        std::memcpy(list->List[0].PartialResourceList.PartialDescriptors, node->resources.data(),
                    node->resources.size() * sizeof(CM_PARTIAL_RESOURCE_DESCRIPTOR));
    }
    PDEVICE_OBJECT top = IoGetAttachedDevice(node->pdo);
    PIRP irp = IoAllocateIrp(top->StackSize, FALSE);
    if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_PNP;
    next->MinorFunction = IRP_MN_START_DEVICE;
    next->Parameters.StartDevice.AllocatedResources = list;
    next->Parameters.StartDevice.AllocatedResourcesTranslated = list;
    NTSTATUS status = CallAndWait(top, irp);
    IoFreeIrp(irp);
    return status;
}

NTSTATUS Machine::BuildStack(const std::vector<PDRIVER_OBJECT>& bottomToTop, const StackConfig& config,
                             DeviceStack** stack)
{
    NTSTATUS status = AddStack(bottomToTop, config, stack);
    if (!NT_SUCCESS(status)) return status;
    return StartStack(*stack);
}

PDEVICE_OBJECT Machine::TopDevice(DeviceStack* stack) const { return IoGetAttachedDevice(stack->node->pdo); }
PDEVICE_OBJECT Machine::PhysicalDevice(DeviceStack* stack) const { return stack->node->pdo; }

NTSTATUS Machine::CallAndWait(PDEVICE_OBJECT device, PIRP irp)
{
    Scope scope(kernel_);
    KEVENT done;
    InitEventOn(&done, kernel_->clock->Impl(), NotificationEvent, FALSE);
    irp->PlatformCompletion = SignalEvent;
    irp->PlatformCompletionContext = &done;
    irp->Tail.Overlay.Thread = KeGetCurrentThread();
    IoCallDriver(device, irp);
    KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
    return irp->IoStatus.Status;
}

NTSTATUS Machine::SendPnp(DeviceStack* stack, UCHAR minor, ULONG_PTR* information)
{
    PDEVICE_OBJECT top = TopDevice(stack);
    PIRP irp = IoAllocateIrp(top->StackSize, FALSE);
    if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    irp->IoStatus.Information = information != nullptr ? *information : 0;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_PNP;
    next->MinorFunction = minor;
    NTSTATUS status = CallAndWait(top, irp);
    if (information != nullptr) *information = irp->IoStatus.Information;
    IoFreeIrp(irp);
    return status;
}

NTSTATUS Machine::QueryCapabilities(DeviceStack* stack, DEVICE_CAPABILITIES* capabilities)
{
    std::memset(capabilities, 0, sizeof(*capabilities));
    capabilities->Size = sizeof(DEVICE_CAPABILITIES);
    capabilities->Version = 1;
    capabilities->Address = 0xFFFFFFFF;
    capabilities->UINumber = 0xFFFFFFFF;
    PDEVICE_OBJECT top = TopDevice(stack);
    PIRP irp = IoAllocateIrp(top->StackSize, FALSE);
    if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_PNP;
    next->MinorFunction = IRP_MN_QUERY_CAPABILITIES;
    next->Parameters.DeviceCapabilities.Capabilities = capabilities;
    NTSTATUS status = CallAndWait(top, irp);
    IoFreeIrp(irp);
    return status;
}

NTSTATUS Machine::SendPower(DeviceStack* stack, UCHAR minor, POWER_STATE_TYPE type, POWER_STATE state)
{
    PDEVICE_OBJECT top = TopDevice(stack);
    PIRP irp = IoAllocateIrp(top->StackSize, FALSE);
    if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_POWER;
    next->MinorFunction = minor;
    next->Parameters.Power.Type = type;
    next->Parameters.Power.State = state;
    next->Parameters.Power.ShutdownType = PowerActionNone;
    NTSTATUS status = CallAndWait(top, irp);
    IoFreeIrp(irp);
    return status;
}

NTSTATUS Machine::RemoveStack(DeviceStack* stack, bool surprise) { return RemoveNode(kernel_, stack->node, surprise); }

NTSTATUS Machine::RemoveNode(KernelInstance* k, ::PlatformDeviceNode* node, bool surprise)
{
    if (node->removed) return STATUS_DELETE_PENDING;
    bool hasDrivers = IoGetAttachedDevice(node->pdo) != node->pdo;
    DeviceStack stack{node};
    if (hasDrivers) {
        if (surprise) {
            SendPnp(&stack, IRP_MN_SURPRISE_REMOVAL);
        } else {
            NTSTATUS status = SendPnp(&stack, IRP_MN_QUERY_REMOVE_DEVICE);
            if (!NT_SUCCESS(status)) {
                SendPnp(&stack, IRP_MN_CANCEL_REMOVE_DEVICE);
                return status;
            }
        }
        SendPnp(&stack, IRP_MN_REMOVE_DEVICE);
    }
    {
        Scope scope(k);
        IoDeleteDevice(node->pdo);
    }
    {
        std::lock_guard<std::mutex> lk(k->mu);
        node->removed = true;
        for (auto& [file, n] : k->files) {
            if (n == node) n = nullptr;
        }
        for (auto it = k->nodes.begin(); it != k->nodes.end(); ++it) {
            if (*it == node) {
                k->nodes.erase(it);
                break;
            }
        }
        for (auto it = k->interfaces.begin(); it != k->interfaces.end();) {
            if (it->pdo == node->pdo) {
                k->links.erase(CanonicalName(it->name));
                it = k->interfaces.erase(it);
            } else {
                ++it;
            }
        }
    }
    delete node->record;
    delete node;
    return STATUS_SUCCESS;
}

// ---------------------------------------------------------------------------------------------------------
// Files and requests.

static NTSTATUS OpenDevice(Machine* m, KernelInstance* k, PDEVICE_OBJECT device, PFILE_OBJECT* file)
{
    ::PlatformDeviceNode* node = device->PlatformNode;
    PDEVICE_OBJECT top = IoGetAttachedDevice(device);
    {
        std::lock_guard<std::mutex> lk(k->mu);
        if (node != nullptr) {
            if (node->removed) return STATUS_DELETE_PENDING;
            bool exclusive = false;
            for (PDEVICE_OBJECT d = node->pdo; d != nullptr; d = d->AttachedDevice) {
                exclusive = exclusive || (d->Flags & DO_EXCLUSIVE) != 0;
            }
            if (exclusive && node->openCount > 0) return STATUS_ACCESS_DENIED;
            node->openCount++;
        }
    }
    auto* f = new FILE_OBJECT();
    std::memset(f, 0, sizeof(*f));
    f->Type = 5;
    f->Size = sizeof(FILE_OBJECT);
    f->DeviceObject = top;
    PIRP irp = IoAllocateIrp(top->StackSize, FALSE);
    NTSTATUS status = STATUS_INSUFFICIENT_RESOURCES;
    if (irp != nullptr) {
        irp->RequestorMode = UserMode;
        irp->Tail.Overlay.OriginalFileObject = f;
        PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
        next->MajorFunction = IRP_MJ_CREATE;
        next->FileObject = f;
        status = m->CallAndWait(top, irp);
        IoFreeIrp(irp);
    }
    std::lock_guard<std::mutex> lk(k->mu);
    if (!NT_SUCCESS(status)) {
        if (node != nullptr) node->openCount--;
        delete f;
        return status;
    }
    f->Opened = 1;
    k->files[f] = node;
    *file = f;
    return STATUS_SUCCESS;
}

NTSTATUS Machine::Open(DeviceStack* stack, PFILE_OBJECT* file)
{
    return OpenDevice(this, kernel_, stack->node->pdo, file);
}

NTSTATUS Machine::OpenByName(const std::string& name, PFILE_OBJECT* file)
{
    KernelInstance* k = kernel_;
    std::string current = name.find('\\') == std::string::npos ? "\\??\\" + name : name;
    PDEVICE_OBJECT device = nullptr;
    {
        std::lock_guard<std::mutex> lk(k->mu);
        for (int hops = 0; hops < 16 && device == nullptr; hops++) {
            std::string key = CanonicalName(current);
            auto link = k->links.find(key);
            if (link != k->links.end()) {
                current = link->second;
                continue;
            }
            auto dev = k->deviceNames.find(key);
            if (dev == k->deviceNames.end()) return STATUS_OBJECT_NAME_NOT_FOUND;
            device = dev->second;
        }
    }
    if (device == nullptr) return STATUS_OBJECT_NAME_NOT_FOUND;
    return OpenDevice(this, k, device, file);
}

NTSTATUS Machine::Close(PFILE_OBJECT file)
{
    KernelInstance* k = kernel_;
    ::PlatformDeviceNode* node;
    {
        std::lock_guard<std::mutex> lk(k->mu);
        auto it = k->files.find(file);
        if (it == k->files.end()) return STATUS_INVALID_HANDLE;
        node = it->second;
    }
    NTSTATUS status = STATUS_SUCCESS;
    if (node != nullptr) {
        for (UCHAR major : {static_cast<UCHAR>(IRP_MJ_CLEANUP), static_cast<UCHAR>(IRP_MJ_CLOSE)}) {
            PIRP irp = IoAllocateIrp(file->DeviceObject->StackSize, FALSE);
            if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
            irp->RequestorMode = UserMode;
            irp->Tail.Overlay.OriginalFileObject = file;
            PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
            next->MajorFunction = major;
            next->FileObject = file;
            status = CallAndWait(file->DeviceObject, irp);
            IoFreeIrp(irp);
        }
    }
    std::lock_guard<std::mutex> lk(k->mu);
    auto it = k->files.find(file);
    if (it != k->files.end() && it->second != nullptr) it->second->openCount--;
    k->files.erase(file);
    delete file;
    return status;
}

static IoRequest* NewRequest(KernelInstance* k, PFILE_OBJECT file, UCHAR major, UCHAR minor, size_t bufferSize)
{
    auto* r = new IoRequest();
    InitEventOn(&r->done, k->clock->Impl(), NotificationEvent, FALSE);
    r->buffer.assign(bufferSize, 0);
    PIRP irp = IoAllocateIrp(file->DeviceObject->StackSize, FALSE);
    if (irp == nullptr) {
        delete r;
        return nullptr;
    }
    r->irp = irp;
    irp->RequestorMode = UserMode;
    irp->Flags = IRP_BUFFERED_IO;
    irp->AssociatedIrp.SystemBuffer = bufferSize ? r->buffer.data() : nullptr;
    irp->Tail.Overlay.OriginalFileObject = file;
    irp->PlatformCompletion = RequestDone;
    irp->PlatformCompletionContext = r;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = major;
    next->MinorFunction = minor;
    next->FileObject = file;
    return r;
}

static IoRequest* Dispatch(KernelInstance* k, PFILE_OBJECT file, IoRequest* r)
{
    if (r == nullptr) return nullptr;
    Scope scope(k);
    r->irp->Tail.Overlay.Thread = KeGetCurrentThread();
    IoCallDriver(file->DeviceObject, r->irp);
    return r;
}

IoRequest* Machine::StartRead(PFILE_OBJECT file, ULONG length)
{
    IoRequest* r = NewRequest(kernel_, file, IRP_MJ_READ, 0, length);
    if (r == nullptr) return nullptr;
    r->irp->Flags |= IRP_INPUT_OPERATION;
    r->irp->UserBuffer = r->buffer.data();
    IoGetNextIrpStackLocation(r->irp)->Parameters.Read.Length = length;
    return Dispatch(kernel_, file, r);
}

IoRequest* Machine::StartWrite(PFILE_OBJECT file, const void* data, ULONG length)
{
    IoRequest* r = NewRequest(kernel_, file, IRP_MJ_WRITE, 0, length);
    if (r == nullptr) return nullptr;
    if (length) std::memcpy(r->buffer.data(), data, length);
    IoGetNextIrpStackLocation(r->irp)->Parameters.Write.Length = length;
    return Dispatch(kernel_, file, r);
}

IoRequest* Machine::StartIoctl(PFILE_OBJECT file, ULONG code, const void* in, ULONG inLength, ULONG outLength,
                               bool internal)
{
    IoRequest* r = NewRequest(kernel_, file, internal ? IRP_MJ_INTERNAL_DEVICE_CONTROL : IRP_MJ_DEVICE_CONTROL, 0,
                              inLength > outLength ? inLength : outLength);
    if (r == nullptr) return nullptr;
    if (inLength && in != nullptr) std::memcpy(r->buffer.data(), in, inLength);
    if (outLength) r->irp->Flags |= IRP_INPUT_OPERATION;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(r->irp);
    next->Parameters.DeviceIoControl.IoControlCode = code;
    next->Parameters.DeviceIoControl.InputBufferLength = inLength;
    next->Parameters.DeviceIoControl.OutputBufferLength = outLength;
    return Dispatch(kernel_, file, r);
}

IoRequest* Machine::StartRequest(PFILE_OBJECT file, UCHAR major, UCHAR minor)
{
    return Dispatch(kernel_, file, NewRequest(kernel_, file, major, minor, 0));
}

NTSTATUS Machine::Wait(IoRequest* request, PLARGE_INTEGER timeout)
{
    NTSTATUS s = KeWaitForSingleObject(&request->done, Executive, KernelMode, FALSE, timeout);
    if (s == STATUS_TIMEOUT) return STATUS_TIMEOUT;
    return request->status;
}

bool Machine::IsDone(IoRequest* request) const { return request->completed.load() != 0; }

BOOLEAN Machine::Cancel(IoRequest* request)
{
    if (IsDone(request)) return FALSE;
    Scope scope(kernel_);
    return IoCancelIrp(request->irp);
}

NTSTATUS Machine::RequestStatus(IoRequest* request) const { return IsDone(request) ? request->status : STATUS_PENDING; }
ULONG_PTR Machine::RequestInformation(IoRequest* request) const { return request->information; }

std::vector<uint8_t> Machine::RequestOutput(IoRequest* request) const
{
    size_t n = request->information < request->buffer.size() ? request->information : request->buffer.size();
    return std::vector<uint8_t>(request->buffer.begin(), request->buffer.begin() + static_cast<std::ptrdiff_t>(n));
}

PIRP Machine::RequestIrp(IoRequest* request) const { return request->irp; }

VOID Machine::FreeRequest(IoRequest* request)
{
    if (request == nullptr) return;
    KeWaitForSingleObject(&request->done, Executive, KernelMode, FALSE, nullptr);
    IoFreeIrp(request->irp);
    delete request;
}

NTSTATUS Machine::Read(PFILE_OBJECT file, void* buffer, ULONG length, ULONG_PTR* information)
{
    IoRequest* r = StartRead(file, length);
    if (r == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    NTSTATUS status = Wait(r);
    std::vector<uint8_t> out = RequestOutput(r);
    if (!out.empty()) std::memcpy(buffer, out.data(), out.size());
    if (information != nullptr) *information = r->information;
    FreeRequest(r);
    return status;
}

NTSTATUS Machine::Write(PFILE_OBJECT file, const void* data, ULONG length, ULONG_PTR* information)
{
    IoRequest* r = StartWrite(file, data, length);
    if (r == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    NTSTATUS status = Wait(r);
    if (information != nullptr) *information = r->information;
    FreeRequest(r);
    return status;
}

NTSTATUS Machine::DeviceIoControl(PFILE_OBJECT file, ULONG code, const void* in, ULONG inLength, void* out,
                                  ULONG outLength, ULONG_PTR* information, bool internal)
{
    IoRequest* r = StartIoctl(file, code, in, inLength, outLength, internal);
    if (r == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    NTSTATUS status = Wait(r);
    std::vector<uint8_t> o = RequestOutput(r);
    size_t n = o.size() < outLength ? o.size() : outLength;
    if (n && out != nullptr) std::memcpy(out, o.data(), n);
    if (information != nullptr) *information = r->information;
    FreeRequest(r);
    return status;
}

// ---------------------------------------------------------------------------------------------------------
// Names, registry, pool, log.

std::string Machine::ResolveLink(const std::string& link) const
{
    std::lock_guard<std::mutex> lk(kernel_->mu);
    auto it = kernel_->links.find(CanonicalName(link));
    return it == kernel_->links.end() ? std::string() : it->second;
}

std::vector<std::pair<std::string, std::string>> Machine::SymbolicLinks() const
{
    std::lock_guard<std::mutex> lk(kernel_->mu);
    return std::vector<std::pair<std::string, std::string>>(kernel_->links.begin(), kernel_->links.end());
}

std::vector<InterfaceInfo> Machine::Interfaces() const
{
    std::lock_guard<std::mutex> lk(kernel_->mu);
    std::vector<InterfaceInfo> out;
    for (auto& i : kernel_->interfaces) out.push_back(InterfaceInfo{i.name, i.classGuid, i.enabled});
    return out;
}

std::string Machine::DeviceKeyPath(DeviceStack* stack) const { return DeviceKeyPathOf(stack->node); }
std::string Machine::DriverKeyName(DeviceStack* stack) const { return stack->node->driverKeyName; }

NTSTATUS Machine::RegSetValue(const std::string& keyPath, const std::string& valueName, ULONG type, const void* data,
                              ULONG length)
{
    return kernel_->registry->SetValue(keyPath, valueName, type, data, length);
}

NTSTATUS Machine::RegSetString(const std::string& keyPath, const std::string& valueName, const std::string& text)
{
    std::u16string w = Widen(text);
    return RegSetValue(keyPath, valueName, REG_SZ, w.c_str(), static_cast<ULONG>((w.size() + 1) * sizeof(WCHAR)));
}

NTSTATUS Machine::RegSetDword(const std::string& keyPath, const std::string& valueName, ULONG value)
{
    UCHAR b[4] = {static_cast<UCHAR>(value), static_cast<UCHAR>(value >> 8), static_cast<UCHAR>(value >> 16),
                  static_cast<UCHAR>(value >> 24)};
    return RegSetValue(keyPath, valueName, REG_DWORD, b, 4);
}

NTSTATUS Machine::RegQueryValue(const std::string& keyPath, const std::string& valueName, ULONG* type,
                                std::vector<uint8_t>* data) const
{
    RegistryStore::Value v;
    NTSTATUS status = kernel_->registry->QueryValue(keyPath, valueName, &v);
    if (!NT_SUCCESS(status)) return status;
    if (type != nullptr) *type = v.type;
    if (data != nullptr) *data = v.data;
    return STATUS_SUCCESS;
}

NTSTATUS Machine::RegQueryString(const std::string& keyPath, const std::string& valueName, std::string* text) const
{
    RegistryStore::Value v;
    NTSTATUS status = kernel_->registry->QueryValue(keyPath, valueName, &v);
    if (!NT_SUCCESS(status)) return status;
    if (v.type != REG_SZ && v.type != REG_EXPAND_SZ) return STATUS_OBJECT_TYPE_MISMATCH;
    std::u16string w;
    for (size_t i = 0; i + 1 < v.data.size(); i += 2) {
        char16_t c = static_cast<char16_t>(v.data[i] | (v.data[i + 1] << 8));
        if (c == 0) break;
        w += c;
    }
    *text = Narrow(w.data(), w.size());
    return STATUS_SUCCESS;
}

NTSTATUS Machine::RegDeleteValue(const std::string& keyPath, const std::string& valueName)
{
    return kernel_->registry->DeleteValue(keyPath, valueName);
}

std::vector<std::string> Machine::RegValueNames(const std::string& keyPath) const
{
    return kernel_->registry->ValueNames(keyPath);
}

std::vector<PoolTagStats> Machine::PoolStats() const { return PoolAccountStats(kernel_->pool); }

int64_t Machine::LiveBlocks(ULONG tag) const
{
    int64_t n = 0;
    for (auto& s : PoolStats()) {
        if (tag == 0 || s.tag == tag) n += s.liveBlocks;
    }
    return n;
}

int64_t Machine::LiveBytes(ULONG tag) const
{
    int64_t n = 0;
    for (auto& s : PoolStats()) {
        if (tag == 0 || s.tag == tag) n += s.liveBytes;
    }
    return n;
}

uint64_t Machine::AllocationCount() const { return PoolAccountAllocations(kernel_->pool); }
void Machine::FailAllocation(uint64_t k) { PoolAccountFailAt(kernel_->pool, k); }

void Machine::FailFloatingPointSave(uint64_t k)
{
    kernel_->fpFailAt.store(k == 0 ? 0 : kernel_->fpSaveCount.load() + k);
}

std::string Machine::DebugText() const
{
    std::lock_guard<std::mutex> lk(kernel_->mu);
    return kernel_->log;
}

std::vector<std::string> Machine::DebugLines() const
{
    std::string text = DebugText();
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        out.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return out;
}

void Machine::ClearDebugLog()
{
    std::lock_guard<std::mutex> lk(kernel_->mu);
    kernel_->log.clear();
}

MachineScope::MachineScope(Machine& machine) : saved_(CurrentKernel()) { SetCurrentKernel(machine.Kernel()); }
MachineScope::~MachineScope() { SetCurrentKernel(saved_); }

}  // namespace platform
