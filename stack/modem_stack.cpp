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

}  // namespace

NTSTATUS ModemStack::Build(const ModemStackConfig& config, std::string* error)
{
    PDRIVER_INITIALIZE pumpEntry = config.pumpEntry != nullptr ? config.pumpEntry : pumora::DriverEntry;
    NTSTATUS status = machine_.LoadDriver("Line", LineDriverEntry, &line_);
    if (NT_SUCCESS(status))
        status = machine_.LoadDriver("Pumora", pumpEntry, &pump_);
    if (NT_SUCCESS(status) && config.controller)
        status = machine_.LoadDriver("Kestrin", kestrin::DriverEntry, &ctl_);
    if (!NT_SUCCESS(status))
        return Fail(status, "a driver failed to load", error);
    platform::StackConfig stackConfig;
    stackConfig.portName = config.portName;
    stackConfig.resources.push_back(LinePortResource(config.port));
    std::vector<PDRIVER_OBJECT> drivers{line_, pump_};
    if (ctl_ != nullptr)
        drivers.push_back(ctl_);
    status = machine_.AddStack(drivers, stackConfig, &stack_);
    if (!NT_SUCCESS(status))
        return Fail(status, "the device stack could not be built", error);
    if (ctl_ != nullptr && config.modemCore)
        Controller()->core_hooks = ModemCoreHooksForCore();
    if (!config.start)
        return STATUS_SUCCESS;
    status = Start();
    if (!NT_SUCCESS(status))
        return Fail(status, "the modem did not start", error);
    return STATUS_SUCCESS;
}

NTSTATUS ModemStack::Start()
{
    return machine_.StartStack(stack_);
}

void ModemStack::Remove()
{
    if (stack_ != nullptr)
        machine_.RemoveStack(stack_);
    stack_ = nullptr;
    for (PDRIVER_OBJECT* d : {&ctl_, &pump_, &line_}) {
        if (*d != nullptr)
            machine_.UnloadDriver(*d);
        *d = nullptr;
    }
}

ModemDeviceExtension* ModemStack::Controller() const
{
    return ctl_ != nullptr && stack_ != nullptr ? ModemExtension(Top()) : nullptr;
}

DspDeviceExtension* ModemStack::PumpDevice() const
{
    if (ctl_ != nullptr || stack_ == nullptr)
        return nullptr;
    return static_cast<DspDeviceExtension*>(Top()->DeviceExtension);
}
