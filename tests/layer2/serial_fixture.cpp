#include "serial_fixture.h"

#include <map>
#include <mutex>

#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/mt/port_ops.h"
#include "layer2/windows/wdm/driver_entry.h"
#include "layer2/windows/wdm/port_irql.h"
#include "layer2/windows/wdm/serial_queue.h"

namespace {

enum ThreadKind { kRead, kWrite, kWaiter, kTick, kThreadCount };

struct TestCore {
    ModemDeviceExtension* ext = nullptr;
    KEVENT stop;
    PKTHREAD threads[kThreadCount] = {};
};

struct ThreadStart {
    TestCore* core;
    ThreadKind kind;
};

std::mutex g_cores_mutex;
std::map<ModemDeviceExtension*, TestCore*> g_cores;

void worker(PVOID context)
{
    auto* start = static_cast<ThreadStart*>(context);
    TestCore* core = start->core;
    ThreadKind kind = start->kind;
    delete start;
    ModemDeviceExtension* ext = core->ext;
    for (;;) {
        if (kind == kRead || kind == kWrite) {
            RequestQueue* q = kind == kRead ? &ext->read_queue : &ext->write_queue;
            BOOLEAN served = kind == kRead ? ModemServeNextRead(ext) : ModemServeNextWrite(ext);
            if (KeReadStateEvent(&core->stop))
                break;
            if (served)
                continue;
            PVOID objects[3] = {&q->work_event, &q->abort_event, &core->stop};
            NTSTATUS w = KeWaitForMultipleObjects(3, objects, WaitAny, Executive, KernelMode, FALSE, nullptr, nullptr);
            if (w == STATUS_WAIT_0 + 2)
                break;
        } else if (kind == kWaiter) {
            PVOID objects[3] = {&ext->wait_check_event, &ext->wait_abort_event, &core->stop};
            NTSTATUS w = KeWaitForMultipleObjects(3, objects, WaitAny, Executive, KernelMode, FALSE, nullptr, nullptr);
            if (w == STATUS_WAIT_0 + 2)
                break;
            ModemServeWaitMask(ext, w == STATUS_WAIT_0 + 1);
        } else {
            LARGE_INTEGER period;
            period.QuadPart = -10LL * 10000;
            NTSTATUS w = KeWaitForSingleObject(&core->stop, Executive, KernelMode, FALSE, &period);
            if (w != STATUS_TIMEOUT)
                break;
            dte_periodic_tick(&ext->dte);
        }
    }
    PsTerminateSystemThread(STATUS_SUCCESS);
}

PortRecord* test_core_start(ModemDeviceExtension* ext)
{
    PortRecord* port = ModemPortSetup(ext);
    auto* core = new TestCore;
    core->ext = ext;
    KeInitializeEvent(&core->stop, NotificationEvent, FALSE);
    for (int k = 0; k < kThreadCount; k++) {
        HANDLE handle;
        auto* start = new ThreadStart{core, static_cast<ThreadKind>(k)};
        NTSTATUS status = PsCreateSystemThread(&handle, 0, nullptr, nullptr, nullptr, worker, start);
        EXPECT_TRUE(NT_SUCCESS(status));
        PVOID object = nullptr;
        ObReferenceObjectByHandle(handle, 0, nullptr, KernelMode, &object, nullptr);
        ZwClose(handle);
        core->threads[k] = static_cast<PKTHREAD>(object);
    }
    std::lock_guard<std::mutex> lock(g_cores_mutex);
    g_cores[ext] = core;
    return port;
}

void test_core_stop(ModemDeviceExtension* ext)
{
    TestCore* core;
    {
        std::lock_guard<std::mutex> lock(g_cores_mutex);
        core = g_cores[ext];
        g_cores.erase(ext);
    }
    if (core == nullptr)
        return;
    KeSetEvent(&core->stop, IO_NO_INCREMENT, FALSE);
    for (PKTHREAD t : core->threads) {
        KeWaitForSingleObject(t, Executive, KernelMode, FALSE, nullptr);
        ObDereferenceObject(t);
    }
    delete core;
    if (ext->port_record.open_marker.load() == PORT_OPEN_MARKER)
        port_close(&ext->port_record);
    port_irql_reset(ext);
}

const ModemCoreHooks kTestHooks = {
    test_core_start,
    test_core_stop,
    ModemCoreDefaultHooks()->task_start,
    ModemCoreDefaultHooks()->timers_start,
    ModemCoreDefaultHooks()->timers_stop,
    ModemCoreDefaultHooks()->dsp_event_routine,
};

}  // namespace

const ModemCoreHooks* SerialTestCoreHooks()
{
    return &kTestHooks;
}

void SerialDevice::SetUp()
{
    clock_ = std::make_unique<platform::Clock>();
    self_ = std::make_unique<platform::ClockThread>(*clock_);
    platform::MachineConfig config;
    config.clock = clock_.get();
    config.name = "serial";
    machine_ = std::make_unique<platform::Machine>(config);
    scope_ = std::make_unique<platform::MachineScope>(*machine_);
    modem_ = std::make_unique<ModemStack>(*machine_);
    ModemStackConfig stack_config;
    stack_config.withLine = false;
    stack_config.pumpEntry = FakePumpDriverEntry;
    stack_config.pumpService = "FakePump";
    stack_config.coreHooks = SerialTestCoreHooks();
    stack_config.start = false;
    ASSERT_EQ(modem_->Load(stack_config), STATUS_SUCCESS);
    pump_driver_ = modem_->PumpDriver();
    ctl_driver_ = modem_->ControllerDriver();
}

void SerialDevice::TearDown()
{
    if (file_ != nullptr)
        machine_->Close(file_);
    file_ = nullptr;
    if (modem_) {
        if (removed_)
            modem_->ForgetStack();
        modem_->Remove();
        EXPECT_EQ(machine_->LiveBlocks(POOL_TAG('W', 'd', 'm', ' ')), 0);
    }
    modem_.reset();
    stack_ = nullptr;
    scope_.reset();
    machine_.reset();
    self_.reset();
    clock_.reset();
}

NTSTATUS SerialDevice::AddStack(const char* port_name)
{
    modem_->SetPortName(port_name != nullptr ? port_name : "");
    const NTSTATUS status = modem_->Add();
    stack_ = modem_->Stack();
    return status;
}

NTSTATUS SerialDevice::Start()
{
    return modem_->Start();
}

void SerialDevice::BuildAndOpen()
{
    ASSERT_EQ(AddStack(), STATUS_SUCCESS);
    ASSERT_EQ(Start(), STATUS_SUCCESS);
    ASSERT_EQ(machine_->Open(stack_, &file_), STATUS_SUCCESS);
}

ModemDeviceExtension* SerialDevice::Ext() const
{
    return ModemExtension(machine_->TopDevice(stack_));
}

FakePumpExtension* SerialDevice::Pump() const
{
    return FakePumpOf(Ext()->lower);
}

NTSTATUS SerialDevice::Ioctl(ULONG code, const void* in, ULONG in_length, ULONG out_length,
                             std::vector<uint8_t>* out, ULONG_PTR* information)
{
    std::vector<uint8_t> buffer(out_length + 1);
    ULONG_PTR info = 0;
    NTSTATUS status =
        machine_->DeviceIoControl(file_, code, in, in_length, buffer.data(), out_length, &info);
    if (out != nullptr)
        out->assign(buffer.begin(), buffer.begin() + (info < out_length ? info : out_length));
    if (information != nullptr)
        *information = info;
    return status;
}

void SerialDevice::SetTimeouts(ULONG interval, ULONG multiplier, ULONG constant, ULONG write_multiplier,
                               ULONG write_constant)
{
    ULONG t[5] = {interval, multiplier, constant, write_multiplier, write_constant};
    ASSERT_EQ(Ioctl(IOCTL_SERIAL_SET_TIMEOUTS, t, sizeof t, 0), STATUS_SUCCESS);
}

void SerialDevice::Sleep(int ms)
{
    LARGE_INTEGER delay;
    delay.QuadPart = -10000LL * ms;
    KeDelayExecutionThread(KernelMode, FALSE, &delay);
}
