// The one stack builder: the line stand-in at the bottom of a device stack, the data pump above it and the
// controller on top, loaded, bound and started on a platform machine the way the host, the tests and the
// benchmarks all need them.
#pragma once

#include <string>

#include "platform/machine.h"

struct DspDeviceExtension;
struct LinePort;
struct ModemCoreHooks;
struct ModemDeviceExtension;

struct ModemStackConfig {
    bool withLine = true;                   // the line driver at the bottom
    LinePort* port = nullptr;               // the line port it serves (null: none, its start then fails)
    std::string portName;                   // the serial port's "PortName" (empty: none)
    PDRIVER_INITIALIZE pumpEntry = nullptr; // the data pump's entry routine; null: Pumora
    const char* pumpService = "Pumora";
    bool controller = true;                 // a driver on top of the data pump
    // The top driver's entry routine; null: Kestrin (a test probe may stand in for the controller).
    PDRIVER_INITIALIZE controllerEntry = nullptr;
    const char* controllerService = "Kestrin";
    // Kestrin's modem-core hooks, installed before the start; null: the real modem core.
    const ModemCoreHooks* coreHooks = nullptr;
    bool start = true;                      // Build sends the start request once the stack is added
};

class ModemStack {
public:
    explicit ModemStack(platform::Machine& machine) : machine_(machine) {}
    ~ModemStack() { Remove(); }
    ModemStack(const ModemStack&) = delete;
    ModemStack& operator=(const ModemStack&) = delete;

    // Load, Add and (with config.start) Start. On failure *error says which step failed; what was built
    // stays until Remove.
    NTSTATUS Build(const ModemStackConfig& config, std::string* error = nullptr);
    // The steps one by one, for tests of the frame: the drivers' entry routines; the stack added bottom to
    // top (AddDevice) with the core hooks in place; the start request.
    NTSTATUS Load(const ModemStackConfig& config);
    // The serial port name the next Add gives the stack (empty: none).
    void SetPortName(const std::string& name) { config_.portName = name; }
    NTSTATUS Add();
    NTSTATUS Start();
    // Removes the stack (the drivers stay loaded); the removal's status.
    NTSTATUS RemoveStack();
    // Lets go of a stack that was removed by other means (a removal request sent to the machine directly).
    void ForgetStack() { stack_ = nullptr; }
    void Unload();
    // RemoveStack and Unload (nothing when nothing was built).
    NTSTATUS Remove();

    platform::Machine& M() { return machine_; }
    platform::DeviceStack* Stack() const { return stack_; }
    PDEVICE_OBJECT Top() const { return stack_ != nullptr ? machine_.TopDevice(stack_) : nullptr; }
    // Kestrin's device extension; null without it.
    ModemDeviceExtension* Controller() const;
    // Pumora's device extension when it is the top of the stack (no driver above it); else null.
    DspDeviceExtension* PumpDevice() const;
    PDRIVER_OBJECT PumpDriver() const { return pump_; }
    PDRIVER_OBJECT ControllerDriver() const { return ctl_; }

private:
    platform::Machine& machine_;
    ModemStackConfig config_;
    PDRIVER_OBJECT line_ = nullptr;
    PDRIVER_OBJECT pump_ = nullptr;
    PDRIVER_OBJECT ctl_ = nullptr;
    platform::DeviceStack* stack_ = nullptr;
};
