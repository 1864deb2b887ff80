#include "host/host_modem.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <unistd.h>

#include "layer1/drivers/wdm/dsp_device.h"
#include "layer2/windows/wdm/device_extension.h"
#include "layer2/windows/wdm/driver_entry.h"
#include "layer2/windows/wdm/modem_core.h"
#include "layer2/windows/wdm/modem_core_link.h"
#include "layer2/windows/wdm/serial_ioctl.h"
#include "line/line_driver.h"
#include "line/line_network.h"

namespace {

// A registry file must be loadable now and writable later: an existing file is checked by the machine, a
// missing one needs a folder it can be created in.
bool registry_usable(const std::string& file, std::string* error)
{
    if (file.empty())
        return true;
    std::error_code ec;
    if (std::filesystem::exists(file, ec))
        return true;
    std::filesystem::path dir = std::filesystem::path(file).parent_path();
    if (dir.empty())
        dir = ".";
    if (!std::filesystem::is_directory(dir, ec) || access(dir.c_str(), W_OK) != 0) {
        *error = "registry file '" + file + "' cannot be created (no writable folder '" + dir.string() + "')";
        return false;
    }
    return true;
}

}  // namespace

HostModem::HostModem(platform::Clock& clock) : clock_(clock) {}

HostModem::~HostModem()
{
    Stop();
}

ModemDeviceExtension* HostModem::Ext() const
{
    return stack_ != nullptr ? ModemExtension(machine_->TopDevice(stack_)) : nullptr;
}

const CountryBlock* HostModem::Country() const
{
    ModemDeviceExtension* ext = Ext();
    return ext != nullptr && ext->core != nullptr ? &ext->core->settings.block : nullptr;
}

bool HostModem::Start(const HostOptions& options, size_t index, LinePort* port, std::string* error)
{
    const std::string name = "modem" + std::to_string(index + 1);
    std::string registry = options.registry;
    if (!registry.empty() && index > 0) {
        registry += '.';
        registry += std::to_string(index + 1);
    }
    if (!registry_usable(registry, error))
        return false;
    platform::MachineConfig config;
    config.clock = &clock_;
    config.name = name;
    config.registryFile = registry;
    machine_ = std::make_unique<platform::Machine>(config);
    if (!NT_SUCCESS(machine_->Status())) {
        *error = machine_->Error();
        return false;
    }
    port_ = port;
    if (machine_->LoadDriver("Line", LineDriverEntry, &line_) != STATUS_SUCCESS ||
        machine_->LoadDriver("Pumora", pumora::DriverEntry, &pump_) != STATUS_SUCCESS ||
        machine_->LoadDriver("Kestrin", kestrin::DriverEntry, &ctl_) != STATUS_SUCCESS) {
        *error = "a driver failed to load";
        return false;
    }
    platform::StackConfig stack_config;
    stack_config.portName = "COM" + std::to_string(index + 1);
    stack_config.resources.push_back(LinePortResource(port_));
    if (machine_->AddStack({line_, pump_, ctl_}, stack_config, &stack_) != STATUS_SUCCESS) {
        *error = "the device stack could not be built";
        return false;
    }
    Ext()->core_hooks = ModemCoreHooksForCore();
    if (machine_->StartStack(stack_) != STATUS_SUCCESS) {
        *error = "the modem did not start";
        return false;
    }
    if (machine_->Open(stack_, &file_) != STATUS_SUCCESS) {
        file_ = nullptr;
        *error = "the serial port could not be opened";
        return false;
    }
    ULONG t[5] = {0xFFFFFFFF, 0, 0, 0, 0};  // reads return at once with what is waiting
    ULONG_PTR info = 0;
    machine_->DeviceIoControl(file_, IOCTL_SERIAL_SET_TIMEOUTS, t, sizeof t, nullptr, 0, &info);
    machine_->DeviceIoControl(file_, IOCTL_SERIAL_SET_DTR, nullptr, 0, nullptr, 0, &info);
    return true;
}

void HostModem::StopStack()
{
    if (machine_) {
        if (file_ != nullptr)
            machine_->Close(file_);
        file_ = nullptr;
        if (stack_ != nullptr)
            machine_->RemoveStack(stack_);
        stack_ = nullptr;
        if (ctl_ != nullptr)
            machine_->UnloadDriver(ctl_);
        if (pump_ != nullptr)
            machine_->UnloadDriver(pump_);
        if (line_ != nullptr)
            machine_->UnloadDriver(line_);
        ctl_ = pump_ = line_ = nullptr;
    }
}

void HostModem::Stop()
{
    StopStack();
    machine_.reset();
    port_ = nullptr;
}

std::string HostModem::TakeDebugText()
{
    if (!machine_)
        return std::string();
    std::string all = machine_->DebugText();
    if (all.size() < debug_taken_)
        debug_taken_ = 0;
    std::string fresh = all.substr(debug_taken_);
    debug_taken_ = all.size();
    return fresh;
}
