// One modem in this process: the platform machine with the line stand-in, Pumora and Kestrin stacked on one
// line port, the serial port opened, and the line endpoint the options name.
#pragma once

#include <memory>
#include <string>

#include "host/host_options.h"
#include "platform/clock.h"
#include "platform/machine.h"

struct LineNetwork;
struct LinePort;
struct LineEndpoint;
struct LineConnection;
struct ModemDeviceExtension;

class HostModem {
public:
    explicit HostModem(platform::Clock& clock);
    ~HostModem();
    HostModem(const HostModem&) = delete;
    HostModem& operator=(const HostModem&) = delete;

    // Builds everything; false with a message on failure (what was built is torn down by the destructor).
    bool Start(const HostOptions& options, std::string* error);
    void Stop();

    platform::Machine& M() { return *machine_; }
    PFILE_OBJECT File() const { return file_; }
    ModemDeviceExtension* Ext() const;
    // The drivers' debug output since the last call.
    std::string TakeDebugText();

private:
    platform::Clock& clock_;
    LineNetwork* network_ = nullptr;
    LinePort* port_ = nullptr;
    LineEndpoint* endpoint_ = nullptr;
    LineConnection* connection_ = nullptr;
    std::unique_ptr<platform::Machine> machine_;
    PDRIVER_OBJECT line_ = nullptr;
    PDRIVER_OBJECT pump_ = nullptr;
    PDRIVER_OBJECT ctl_ = nullptr;
    platform::DeviceStack* stack_ = nullptr;
    PFILE_OBJECT file_ = nullptr;
    std::size_t debug_taken_ = 0;
};
