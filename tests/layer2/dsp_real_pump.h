// A controller over the real data pump on an idle simulated line, in virtual time: the line driver, Pumora
// and Kestrin in one stack, the serial port open, AT dialogues through read and write requests, and a log
// of every command packet the data pump is handed through the doorbell (code, length, payload as they stand
// in registers 64-83 when the command entry runs).
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core_fixture.h"
#include "serial_read.h"
#include "layer1/dsp/dsp_context.h"
#include "layer2/corecode/mt/dsp_device.h"
#include "layer2/windows/wdm/device_extension.h"
#include "layer2/windows/wdm/serial_ioctl.h"
#include "line/line_network.h"
#include "stack/modem_stack.h"

namespace dsptest {

struct WireCommand {
    uint8_t code;
    uint8_t length;
    std::vector<uint8_t> payload;
    bool operator==(const WireCommand&) const = default;
};

// The command log sits between the controller and the data pump's command entry.
struct CommandTap {
    DspCommandEntry entry = nullptr;
    std::mutex lock;
    std::vector<WireCommand> log;
};

inline std::mutex& TapMapLock()
{
    static std::mutex m;
    return m;
}

inline std::map<DspContext*, CommandTap*>& TapMap()
{
    static std::map<DspContext*, CommandTap*> m;
    return m;
}

inline void TappedEntry(DspContext* context)
{
    CommandTap* tap;
    {
        std::lock_guard<std::mutex> g(TapMapLock());
        tap = TapMap().at(context);
    }
    const DspInterfaceBlock* block = context->interfaceBlock;
    const uint8_t code = __atomic_load_n(&block->window.reg[64], __ATOMIC_ACQUIRE);
    if (code != 0) {
        WireCommand c{code, __atomic_load_n(&block->window.reg[66], __ATOMIC_RELAXED), {}};
        for (int i = 0; i < c.length && i < 16; ++i)
            c.payload.push_back(__atomic_load_n(&block->window.reg[68 + i], __ATOMIC_RELAXED));
        std::lock_guard<std::mutex> g(tap->lock);
        tap->log.push_back(c);
    }
    tap->entry(context);
}

class RealPumpModem {
public:
    // A modem alone: its own clock, machine and line network.
    explicit RealPumpModem(const std::string& registry_file)
        : own_(std::make_unique<coretest::CoreMachine>(registry_file, 100000)), m_(&own_->M()),
          network_(LineNetworkCreate()), ownNetwork_(true)
    {
        Build("modem1");
    }
    // A modem on its own machine that shares a clock and a line network with others (the caller holds a
    // ClockThread on the clock). Shut every modem of the network down (Shutdown) before the first one is
    // destroyed: the line thread belongs to the machine whose port started first.
    RealPumpModem(platform::Clock& clock, LineNetwork* network, const std::string& name,
                  const std::string& registry_file)
        : machine_(std::make_unique<platform::Machine>(platform::MachineConfig{&clock, name, registry_file})),
          m_(machine_.get()), network_(network), ownNetwork_(false)
    {
        Build(name);
    }
    ~RealPumpModem()
    {
        Shutdown();
        if (ownNetwork_)
            LineNetworkDestroy(network_);
    }
    // Closes the port, removes the stack and unloads the drivers (once).
    void Shutdown()
    {
        if (stack_ == nullptr)
            return;
        platform::Machine& m = *m_;
        if (file_ != nullptr)
            m.Close(file_);
        file_ = nullptr;
        DspContext* context = Ext()->dsp_context;
        stack_->Remove();
        stack_.reset();
        {
            std::lock_guard<std::mutex> g(TapMapLock());
            TapMap().erase(context);
        }
        EXPECT_EQ(m.LiveBlocks(POOL_TAG('W', 'd', 'm', ' ')), 0);
    }

    ModemDeviceExtension* Ext() { return stack_->Controller(); }
    DspDevice* Dsp() { return &Ext()->dsp; }
    DspInterfaceBlock* Block() { return Ext()->dsp_block; }
    platform::Machine& M() { return *m_; }
    coretest::CoreMachine& Core() { return *own_; }  // a modem alone only
    LineNetwork* Network() { return network_; }
    LinePort* Port() { return port_; }

    std::vector<WireCommand> Log()
    {
        std::lock_guard<std::mutex> g(tap_.lock);
        return tap_.log;
    }
    void ClearLog()
    {
        std::lock_guard<std::mutex> g(tap_.lock);
        tap_.log.clear();
    }

    void Send(const std::string& text)
    {
        ULONG_PTR info = 0;
        ASSERT_EQ(m_->Write(file_, text.data(), static_cast<ULONG>(text.size()), &info), STATUS_SUCCESS);
    }
    // Writes what the port takes within `ms` of virtual time; how many bytes it took.
    size_t SendSome(const uint8_t* data, size_t length, ULONG ms)
    {
        ULONG t[5] = {0xFFFFFFFF, 0, 0, 0, ms};
        ULONG_PTR info = 0;
        EXPECT_EQ(m_->DeviceIoControl(file_, IOCTL_SERIAL_SET_TIMEOUTS, t, sizeof t, nullptr, 0, &info),
                  STATUS_SUCCESS);
        ULONG_PTR written = 0;
        const NTSTATUS status = m_->Write(file_, data, static_cast<ULONG>(length), &written);
        EXPECT_TRUE(status == STATUS_SUCCESS || status == STATUS_TIMEOUT) << std::hex << status;
        return written;
    }
    // The modem-status byte of the port (CTS 0x10, DSR 0x20, RI 0x40, DCD 0x80).
    ULONG ModemStatus()
    {
        ULONG status = 0;
        ULONG_PTR info = 0;
        EXPECT_EQ(m_->DeviceIoControl(file_, IOCTL_SERIAL_GET_MODEMSTATUS, nullptr, 0, &status, sizeof status, &info),
                  STATUS_SUCCESS);
        return status;
    }
    // Everything the modem sends within `ms` of virtual time.
    std::string Read(int ms)
    {
        return serialtest::ReadFor(*m_, file_, ms);
    }
    std::string Dialogue(const std::string& text, int ms = 400)
    {
        Send(text);
        return Read(ms);
    }

    // What the modem sent since the last call, without waiting.
    std::string Take()
    {
        std::string out;
        for (;;) {
            char buffer[512];
            ULONG_PTR info = 0;
            EXPECT_EQ(m_->Read(file_, buffer, sizeof buffer, &info), STATUS_SUCCESS);
            out.append(buffer, info);
            if (info < sizeof buffer)
                return out;
        }
    }
    // A serial device control without data (DTR, RTS and the like).
    NTSTATUS Control(ULONG code)
    {
        ULONG_PTR info = 0;
        return m_->DeviceIoControl(file_, code, nullptr, 0, nullptr, 0, &info);
    }

private:
    void Build(const std::string& name)
    {
        platform::Machine& m = *m_;
        LinePortConfig port_config;
        port_config.name = name;
        port_ = LineNetworkAddPort(network_, port_config);
        stack_ = std::make_unique<ModemStack>(m);
        ModemStackConfig config;
        config.port = port_;
        config.portName = "COM7";
        EXPECT_EQ(stack_->Build(config), STATUS_SUCCESS);
        DspContext* context = Ext()->dsp_context;
        if (context != nullptr) {
            tap_.entry = context->interfaceBlock->commandEntry;
            {
                std::lock_guard<std::mutex> g(TapMapLock());
                TapMap()[context] = &tap_;
            }
            context->interfaceBlock->commandEntry = TappedEntry;
        }
        EXPECT_EQ(m.Open(stack_->Stack(), &file_), STATUS_SUCCESS);
        ULONG t[5] = {0xFFFFFFFF, 0, 0, 0, 0};  // reads return at once with what is waiting
        ULONG_PTR info = 0;
        EXPECT_EQ(m.DeviceIoControl(file_, IOCTL_SERIAL_SET_TIMEOUTS, t, sizeof t, nullptr, 0, &info),
                  STATUS_SUCCESS);
        m.DeviceIoControl(file_, IOCTL_SERIAL_SET_DTR, nullptr, 0, nullptr, 0, &info);
    }

    std::unique_ptr<coretest::CoreMachine> own_;
    std::unique_ptr<platform::Machine> machine_;
    platform::Machine* m_;
    LineNetwork* network_ = nullptr;
    bool ownNetwork_;
    LinePort* port_ = nullptr;
    std::unique_ptr<ModemStack> stack_;
    PFILE_OBJECT file_ = nullptr;
    CommandTap tap_;
};

}  // namespace dsptest
