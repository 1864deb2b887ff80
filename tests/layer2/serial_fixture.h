// A controller device over the fake data pump on a virtual-time machine, with a stand-in modem core
// whose threads serve the read, write and wait queues and run the 10 ms data-path tick.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "support/pump_stand_in.h"
#include "layer2/windows/wdm/device_extension.h"
#include "layer2/windows/wdm/serial_ioctl.h"
#include "platform/machine.h"
#include "stack/modem_stack.h"

// The stand-in modem core's hooks (threads start with the device, the tick runs always).
const ModemCoreHooks* SerialTestCoreHooks();

class SerialDevice : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Builds the stack (AddDevice), lets the test adjust the pump, then starts it.
    NTSTATUS AddStack(const char* port_name = "COM5");
    NTSTATUS Start();
    void BuildAndOpen();

    ModemDeviceExtension* Ext() const;
    FakePumpExtension* Pump() const;

    NTSTATUS Ioctl(ULONG code, const void* in, ULONG in_length, ULONG out_length, std::vector<uint8_t>* out = nullptr,
                   ULONG_PTR* information = nullptr);
    NTSTATUS IoctlUlong(ULONG code, ULONG value) { return Ioctl(code, &value, 4, 0); }
    void SetTimeouts(ULONG interval, ULONG multiplier, ULONG constant, ULONG write_multiplier = 0,
                     ULONG write_constant = 0);
    void Sleep(int ms);

    std::unique_ptr<platform::Clock> clock_;
    std::unique_ptr<platform::ClockThread> self_;
    std::unique_ptr<platform::Machine> machine_;
    std::unique_ptr<platform::MachineScope> scope_;
    std::unique_ptr<ModemStack> modem_;
    PDRIVER_OBJECT pump_driver_ = nullptr;
    PDRIVER_OBJECT ctl_driver_ = nullptr;
    platform::DeviceStack* stack_ = nullptr;
    PFILE_OBJECT file_ = nullptr;
    bool removed_ = false;   // the test removed the stack itself
};
