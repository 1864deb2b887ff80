// Test harness for the data pump on the simulated line: one machine per modem with the line driver at the
// bottom, Pumora above it and a probe standing in for the controller on top (it passes a DSP event routine
// down at START and keeps the DspContext that comes back). The harness plays ICD packets into the register
// window, logs every reply, event packet and notification with its time stamp, and can capture both line
// directions to files.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "layer1/drivers/wdm/dsp_device.h"
#include "line/line_network.h"
#include "platform/clock.h"
#include "platform/machine.h"

class ModemStack;

namespace pumptest {

// One callback into the controller's event routine, with what the window held.
struct PumpEvent {
    LONGLONG time = 0;        // clock time, 100 ns
    bool packet = false;      // a reply or event packet was in registers 0-19 (taken and cleared)
    std::vector<uint8_t> bytes;  // the packet: code, 0, length, 0, payload
    uint8_t status = 0;       // register 54
    uint8_t progress = 0;     // register 56
    uint8_t detector = 0;     // register 57
};

struct ModemOptions {
    std::string name = "modem";
    LinePortConfig port;
    bool withPort = true;     // false: the line device gets no port and answers START with no interface
};

class PumpModem {
public:
    PumpModem(platform::Clock& clock, LineNetwork* network, const ModemOptions& options = {});
    ~PumpModem();

    // Adds and starts the stack; failAllocation k > 0 makes the k-th pool allocation of START fail.
    NTSTATUS Start(uint64_t failAllocation = 0);
    NTSTATUS Remove();        // removes the stack (REMOVE through all three drivers)
    void UnloadDrivers();

    platform::Machine& Machine() { return *machine_; }
    LinePort* Port() const { return port_; }
    DspContext* Context() const;           // as completed up by START (null when it failed)
    DspDeviceExtension* PumpExtension() const;
    PDEVICE_OBJECT PumpDevice() const;
    PDEVICE_OBJECT TopDevice() const;
    ULONG_PTR StartInformation() const;    // what START completed up with

    // Writes a command packet into the window (payload, length, then the code) and calls the command entry.
    void SendCommand(uint8_t code, const std::vector<uint8_t>& payload);
    void SetRegister(int reg, uint8_t value);
    uint8_t Register(int reg);
    std::vector<PumpEvent> Events();
    void ClearEvents();

    // Sends a device-control request straight to the pump's device and waits for it.
    NTSTATUS SendIoctl(ULONG code);

    bool Capture(const std::string& txPath, const std::string& rxPath, std::string* error);

    void RecordCallback(DspInterfaceBlock* block);
    // Hands every later callback to `routine` (a controller's event routine) instead of logging it.
    void Forward(void (*routine)(DspInterfaceBlock* block)) { forward_.store(routine); }

private:
    std::unique_ptr<platform::Machine> machine_;
    LineNetwork* network_;
    LinePort* port_ = nullptr;
    std::unique_ptr<ModemStack> stack_;
    std::mutex eventsLock_;
    std::vector<PumpEvent> events_;
    bool withPort_;
    std::atomic<void (*)(DspInterfaceBlock*)> forward_{nullptr};
};

// Sleeps the calling (clock-registered) thread for ms of clock time.
void RunFor(LONGLONG ms);

}  // namespace pumptest
