// The one stack builder: the line stand-in at the bottom of a device stack, the data pump above it and the
// controller on top, loaded, bound and started on a platform machine the way the host, the tests and the
// benchmarks all need them.
#pragma once

#include <string>

#include "platform/machine.h"

struct DspContext;
struct DspDeviceExtension;
struct LinePort;
struct ModemDeviceExtension;

struct ModemStackConfig {
    LinePort* port = nullptr;               // the line port the card's stand-in serves (required)
    std::string portName;                   // the serial port's "PortName" (empty: none)
    bool controller = true;                 // Kestrin on top of the data pump
    bool modemCore = true;                  // the controller runs its modem core (else the default hooks)
    PDRIVER_INITIALIZE pumpEntry = nullptr; // the data pump's entry routine; null: Pumora
    bool start = true;                      // send the start request once the stack is built
};

class ModemStack {
public:
    explicit ModemStack(platform::Machine& machine) : machine_(machine) {}
    ~ModemStack() { Remove(); }
    ModemStack(const ModemStack&) = delete;
    ModemStack& operator=(const ModemStack&) = delete;

    // Loads the drivers, adds the stack (bottom to top) and starts it. On failure *error says which step
    // failed; what was built stays until Remove.
    NTSTATUS Build(const ModemStackConfig& config, std::string* error = nullptr);
    NTSTATUS Start();
    // Removes the stack and unloads the drivers (nothing when nothing was built).
    void Remove();

    platform::Machine& M() { return machine_; }
    platform::DeviceStack* Stack() const { return stack_; }
    PDEVICE_OBJECT Top() const { return stack_ != nullptr ? machine_.TopDevice(stack_) : nullptr; }
    // The controller's device extension; null without a controller.
    ModemDeviceExtension* Controller() const;
    // The data pump's device extension when Pumora is the top of the stack (no controller); else null.
    DspDeviceExtension* PumpDevice() const;

private:
    platform::Machine& machine_;
    PDRIVER_OBJECT line_ = nullptr;
    PDRIVER_OBJECT pump_ = nullptr;
    PDRIVER_OBJECT ctl_ = nullptr;
    platform::DeviceStack* stack_ = nullptr;
};
