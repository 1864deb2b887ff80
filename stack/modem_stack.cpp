// Loading and binding of the Line/Pumora/Kestrin device stack.
#include "stack/modem_stack.h"

#include "layer1/drivers/wdm/dsp_device.h"
#include "layer2/windows/wdm/device_extension.h"
#include "layer2/windows/wdm/driver_entry.h"
#include "layer2/windows/wdm/modem_core_link.h"
#include "line/line_driver.h"
#include "line/line_network.h"

namespace {

NTSTATUS Fail(NTSTATUS status, const char* what, std::string* error)
{
    if (error != nullptr)
        *error = what;
    return status;
}

bool IsKestrin(const ModemStackConfig& c)
{
    return c.controller && c.controllerEntry == nullptr;
}

}  // namespace

NTSTATUS ModemStack::Build(const ModemStackConfig& config, std::string* error)
{
    NTSTATUS status = Load(config);
    if (!NT_SUCCESS(status))
        return Fail(status, "a driver failed to load", error);
    status = Add();
    if (!NT_SUCCESS(status))
        return Fail(status, "the device stack could not be built", error);
    if (!config.start)
        return STATUS_SUCCESS;
    status = Start();
    if (!NT_SUCCESS(status))
        return Fail(status, "the modem did not start", error);
    return STATUS_SUCCESS;
}

NTSTATUS ModemStack::Load(const ModemStackConfig& config)
{
    config_ = config;
    NTSTATUS status = STATUS_SUCCESS;
    if (config.withLine)
        status = machine_.LoadDriver("Line", LineDriverEntry, &line_);
    if (NT_SUCCESS(status)) {
        PDRIVER_INITIALIZE entry = config.pumpEntry != nullptr ? config.pumpEntry : pumora::DriverEntry;
        status = machine_.LoadDriver(config.pumpService, entry, &pump_);
    }
    if (NT_SUCCESS(status) && config.controller) {
        PDRIVER_INITIALIZE entry = IsKestrin(config) ? kestrin::DriverEntry : config.controllerEntry;
        status = machine_.LoadDriver(config.controllerService, entry, &ctl_);
    }
    return status;
}

NTSTATUS ModemStack::Add()
{
    platform::StackConfig stackConfig;
    stackConfig.portName = config_.portName;
    std::vector<PDRIVER_OBJECT> drivers;
    if (line_ != nullptr) {
        if (config_.port != nullptr)
            stackConfig.resources.push_back(LinePortResource(config_.port));
        drivers.push_back(line_);
    }
    drivers.push_back(pump_);
    if (ctl_ != nullptr)
        drivers.push_back(ctl_);
    const NTSTATUS status = machine_.AddStack(drivers, stackConfig, &stack_);
    if (!NT_SUCCESS(status)) {
        stack_ = nullptr;
        return status;
    }
    if (IsKestrin(config_))
        Controller()->core_hooks = config_.coreHooks != nullptr ? config_.coreHooks : ModemCoreHooksForCore();
    return status;
}

NTSTATUS ModemStack::Start()
{
    return machine_.StartStack(stack_);
}

NTSTATUS ModemStack::RemoveStack()
{
    NTSTATUS status = STATUS_SUCCESS;
    if (stack_ != nullptr)
        status = machine_.RemoveStack(stack_);
    stack_ = nullptr;
    return status;
}

void ModemStack::Unload()
{
    for (PDRIVER_OBJECT* d : {&ctl_, &pump_, &line_}) {
        if (*d != nullptr)
            machine_.UnloadDriver(*d);
        *d = nullptr;
    }
}

NTSTATUS ModemStack::Remove()
{
    const NTSTATUS status = RemoveStack();
    Unload();
    return status;
}

ModemDeviceExtension* ModemStack::Controller() const
{
    return IsKestrin(config_) && ctl_ != nullptr && stack_ != nullptr ? ModemExtension(Top()) : nullptr;
}

DspDeviceExtension* ModemStack::PumpDevice() const
{
    if (ctl_ != nullptr || stack_ == nullptr || config_.pumpEntry != nullptr)
        return nullptr;
    return static_cast<DspDeviceExtension*>(Top()->DeviceExtension);
}
