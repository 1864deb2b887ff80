// One modem in this process: the platform machine with the line stand-in, Pumora and Kestrin stacked on its
// line port (from HostLine), the serial port opened. Several modems share one clock and one line network.
#pragma once

#include <memory>
#include <string>

#include "host/host_options.h"
#include "platform/clock.h"
#include "platform/machine.h"

class ModemStack;
struct CountryBlock;
struct LinePort;
struct ModemDeviceExtension;

class HostModem {
public:
    explicit HostModem(platform::Clock& clock);
    ~HostModem();
    HostModem(const HostModem&) = delete;
    HostModem& operator=(const HostModem&) = delete;

    // Builds modem `index` (0-based) on its port; false with a message on failure (what was built is torn down
    // by Stop). Modem 0 keeps its settings in the --registry file, modem k > 0 in FILE.(k + 1).
    bool Start(const HostOptions& options, size_t index, LinePort* port, std::string* error);
    // Removes the device stack. With several modems on one network every stack goes before any machine.
    void StopStack();
    void Stop();

    platform::Machine& M() { return *machine_; }
    PFILE_OBJECT File() const { return file_; }
    ModemDeviceExtension* Ext() const;
    // The country block the controller works with.
    const CountryBlock* Country() const;
    // The drivers' debug output since the last call.
    std::string TakeDebugText();

private:
    platform::Clock& clock_;
    LinePort* port_ = nullptr;
    std::unique_ptr<platform::Machine> machine_;
    std::unique_ptr<ModemStack> stack_;
    PFILE_OBJECT file_ = nullptr;
    std::size_t debug_taken_ = 0;
};
