// A small fixture for the modem core and its settings: one virtual clock, one machine with a registry file,
// and a ModemCore bound to a stand-in device and a set of recording services (no driver frame needed).
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <unistd.h>

#include "layer2/windows/wdm/modem_core.h"
#include "platform/clock.h"
#include "platform/machine.h"

namespace coretest {

inline const char* kServicePath = "\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Kestrin";
inline std::string ParamsKey() { return std::string(kServicePath) + "\\Parameters"; }

// What the recording services saw.
struct Recorder {
    std::atomic<unsigned> port_setups{0};
    std::atomic<unsigned> dsp_starts{0};
    std::atomic<unsigned> shutdowns{0};
    std::atomic<unsigned> msg_ms{0};
    std::atomic<unsigned> dte_ticks{0};
    std::atomic<unsigned> command_steps{0};
    std::atomic<unsigned> cc_ticks{0};
    std::atomic<unsigned> ring_services{0};
    std::atomic<unsigned> rx_ints{0};
    std::atomic<unsigned> restarts{0};
    std::atomic<unsigned> mask_passes{0};
    std::atomic<unsigned> mask_aborts{0};
    std::atomic<unsigned> reads_queued{0};
    std::atomic<unsigned> reads_served{0};
    std::atomic<uint8_t> port_open{0};
    std::atomic<uint8_t> online{0};
    std::atomic<uint8_t> cc_mode{0};
    std::atomic<uint8_t> substate{0};
    std::atomic<uint8_t> app_state{0};
    bool fail_port_setup = false;
    PortRecord* port = reinterpret_cast<PortRecord*>(this);
};

inline const ModemCoreServices* RecordingServices()
{
    static const ModemCoreServices s = [] {
        ModemCoreServices v{};
        auto R = [](void* c) { return static_cast<Recorder*>(c); };
        (void)R;
        v.port_setup = [](void* c) -> PortRecord* {
            Recorder* r = static_cast<Recorder*>(c);
            ++r->port_setups;
            return r->fail_port_setup ? nullptr : r->port;
        };
        v.dsp_start = [](void* c) { ++static_cast<Recorder*>(c)->dsp_starts; };
        v.port_shutdown = [](void* c) { ++static_cast<Recorder*>(c)->shutdowns; };
        v.event_mask_pass = [](void* c, BOOLEAN abort) {
            ++static_cast<Recorder*>(c)->mask_passes;
            if (abort)
                ++static_cast<Recorder*>(c)->mask_aborts;
        };
        v.read_pass = [](void* c) -> BOOLEAN {
            Recorder* r = static_cast<Recorder*>(c);
            if (r->reads_served.load() == r->reads_queued.load())
                return FALSE;
            ++r->reads_served;
            return TRUE;
        };
        v.dsp_msg_add_ms = [](void* c, ULONG ms) { static_cast<Recorder*>(c)->msg_ms += ms; };
        v.dte_periodic_tick = [](void* c) { ++static_cast<Recorder*>(c)->dte_ticks; };
        v.port_is_open = [](void* c) -> BOOLEAN { return static_cast<Recorder*>(c)->port_open.load(); };
        v.online_data_mode = [](void* c) -> BOOLEAN { return static_cast<Recorder*>(c)->online.load(); };
        v.mc_rx_int = [](void* c) { ++static_cast<Recorder*>(c)->rx_ints; };
        v.dte_ring_service = [](void* c) { ++static_cast<Recorder*>(c)->ring_services; };
        v.task_restart = [](void* c) { ++static_cast<Recorder*>(c)->restarts; };
        v.command_step = [](void* c) { ++static_cast<Recorder*>(c)->command_steps; };
        v.call_control_tick = [](void* c) { ++static_cast<Recorder*>(c)->cc_ticks; };
        v.cc_mode = [](void* c) -> UCHAR { return static_cast<Recorder*>(c)->cc_mode.load(); };
        v.cc_substate = [](void* c) -> UCHAR { return static_cast<Recorder*>(c)->substate.load(); };
        v.app_state = [](void* c) -> UCHAR { return static_cast<Recorder*>(c)->app_state.load(); };
        return v;
    }();
    return &s;
}

// A registry file in a fresh temporary folder, removed at the end.
class TempRegistry {
public:
    TempRegistry()
    {
        char tmpl[] = "/tmp/ctlcore-XXXXXX";
        char* d = mkdtemp(tmpl);
        dir_ = d != nullptr ? d : "/tmp";
        path_ = dir_ + "/registry.txt";
    }
    ~TempRegistry()
    {
        std::remove(path_.c_str());
        rmdir(dir_.c_str());
    }
    const std::string& Path() const { return path_; }

private:
    std::string dir_;
    std::string path_;
};

// One machine on a virtual clock with the test thread taking part; the machine is current for the test
// thread, so kernel services can be called directly.
class CoreMachine {
public:
    explicit CoreMachine(const std::string& registry_file, ULONG time_increment = 156250, bool align = false)
        : clock_(MakeConfig(time_increment, align)), self_(clock_, true, "test"),
          machine_(platform::MachineConfig{&clock_, "ctlcore", registry_file}),
          scope_(std::make_unique<platform::MachineScope>(machine_))
    {
    }
    ~CoreMachine() { scope_.reset(); }
    platform::Machine& M() { return machine_; }
    platform::Clock& C() { return clock_; }
    bool LogHas(const std::string& text) const { return machine_.DebugText().find(text) != std::string::npos; }

private:
    static platform::ClockConfig MakeConfig(ULONG increment, bool align)
    {
        platform::ClockConfig c;
        c.timeIncrement = increment;
        c.alignTimersToTick = align;
        return c;
    }
    platform::Clock clock_;
    platform::ClockThread self_;
    platform::Machine machine_;
    std::unique_ptr<platform::MachineScope> scope_;
};

// A ModemCore bound to a stand-in device object (service key mode off: the device key is the parameters
// key) and the recording services.
struct CoreUnderTest {
    Recorder rec;
    DEVICE_OBJECT device{};
    std::unique_ptr<ModemCore> core = std::make_unique<ModemCore>();
    explicit CoreUnderTest(BOOLEAN service_key_mode = FALSE)
    {
        ModemCoreInit(core.get(), RecordingServices(), &rec, &device, kServicePath, service_key_mode);
    }
    CoreSettings* S() { return &core->settings; }
};

}  // namespace coretest
