// One ICD transaction through the real data pump, as the controller's DSP link makes it: the line driver,
// Pumora and Kestrin in one stack on the real-time clock (the block thread runs every 10 ms beside the
// transactions); the link fills its buffer with the channel held, writes registers 64-83, rings the
// doorbell, the data pump runs the command and notifies, the event routine takes and dispatches the reply.
#include <benchmark/benchmark.h>

#include <memory>

#include "layer1/drivers/wdm/dsp_device.h"
#include "layer2/corecode/mt/dsp_commands.h"
#include "layer2/corecode/mt/dsp_device.h"
#include "layer2/windows/wdm/device_extension.h"
#include "layer2/windows/wdm/driver_entry.h"
#include "layer2/windows/wdm/modem_core_link.h"
#include "line/line_driver.h"
#include "line/line_network.h"
#include "platform/clock.h"
#include "platform/machine.h"

namespace {

platform::ClockConfig RealTime()
{
    platform::ClockConfig c;
    c.mode = platform::ClockMode::Real;
    return c;
}

struct Modem {
    platform::Clock clock{RealTime()};
    platform::ClockThread self{clock, true, "bench"};
    platform::Machine machine{platform::MachineConfig{&clock, "bench", ""}};
    platform::MachineScope scope{machine};
    LineNetwork* network = LineNetworkCreate();
    LinePort* port = nullptr;
    PDRIVER_OBJECT line = nullptr, pump = nullptr, ctl = nullptr;
    platform::DeviceStack* stack = nullptr;
    bool ok = false;

    Modem()
    {
        LinePortConfig pc;
        pc.name = "modem1";
        port = LineNetworkAddPort(network, pc);
        platform::StackConfig config;
        config.portName = "COM5";
        config.resources.push_back(LinePortResource(port));
        ok = machine.LoadDriver("Line", LineDriverEntry, &line) == STATUS_SUCCESS &&
             machine.LoadDriver("Pumora", pumora::DriverEntry, &pump) == STATUS_SUCCESS &&
             machine.LoadDriver("Kestrin", kestrin::DriverEntry, &ctl) == STATUS_SUCCESS &&
             machine.AddStack({line, pump, ctl}, config, &stack) == STATUS_SUCCESS;
        if (ok) {
            ModemExtension(machine.TopDevice(stack))->core_hooks = ModemCoreHooksForCore();
            ok = machine.StartStack(stack) == STATUS_SUCCESS;
        }
    }
    ~Modem()
    {
        if (stack != nullptr)
            machine.RemoveStack(stack);
        for (PDRIVER_OBJECT d : {ctl, pump, line})
            if (d != nullptr)
                machine.UnloadDriver(d);
        LineNetworkDestroy(network);
    }
    DspDevice* Dsp() { return &ModemExtension(machine.TopDevice(stack))->dsp; }
};

void BM_icd_transaction(benchmark::State& state, uint8_t code)
{
    Modem m;
    if (!m.ok) {
        state.SkipWithError("the modem did not start");
        return;
    }
    const uint8_t payload[4] = {0x34, 0x02, 0, 0};  // 0x0B: the gain word at 0x10234
    uint8_t reply[16];
    for (auto _ : state) {
        const int r = dsp_send_command(&m.Dsp()->link, code, payload, code == 0x0B ? 4 : 2,
                                       code == 0x0B ? kReplyExpected : kReplyAck, reply);
        if (r != kIcdSent) {
            state.SkipWithError("transaction failed");
            break;
        }
        benchmark::DoNotOptimize(reply);
    }
}
BENCHMARK_CAPTURE(BM_icd_transaction, ack_0x99, uint8_t{0x99})->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_icd_transaction, version_0x94, uint8_t{0x94})->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
