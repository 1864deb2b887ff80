#include "host/host_modem.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <unistd.h>

#include "layer2/windows/wdm/device_extension.h"
#include "layer2/windows/wdm/modem_core.h"
#include "layer2/windows/wdm/serial_ioctl.h"
#include "stack/modem_stack.h"

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
    return stack_ != nullptr ? stack_->Controller() : nullptr;
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
    stack_ = std::make_unique<ModemStack>(*machine_);
    ModemStackConfig stack_config;
    stack_config.port = port_;
    stack_config.portName = "COM" + std::to_string(index + 1);
    if (!NT_SUCCESS(stack_->Build(stack_config, error)))
        return false;
    if (machine_->Open(stack_->Stack(), &file_) != STATUS_SUCCESS) {
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
        stack_.reset();
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
