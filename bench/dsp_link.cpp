// One ICD transaction through the real data pump, as the controller's DSP link makes it: the line driver,
// Pumora and Kestrin in one stack on the real-time clock (the block thread runs every 10 ms beside the
// transactions); the link fills its buffer with the channel held, writes registers 64-83, rings the
// doorbell, the data pump runs the command and notifies, the event routine takes and dispatches the reply.
#include <benchmark/benchmark.h>

#include <memory>

#include "layer2/corecode/mt/dsp_commands.h"
#include "layer2/corecode/mt/dsp_device.h"
#include "layer2/windows/wdm/device_extension.h"
#include "line/line_network.h"
#include "platform/clock.h"
#include "platform/machine.h"
#include "stack/modem_stack.h"

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
    ModemStack stack{machine};
    bool ok = false;

    Modem()
    {
        LinePortConfig pc;
        pc.name = "modem1";
        ModemStackConfig config;
        config.port = LineNetworkAddPort(network, pc);
        config.portName = "COM5";
        ok = NT_SUCCESS(stack.Build(config));
    }
    ~Modem()
    {
        stack.Remove();
        LineNetworkDestroy(network);
    }
    DspDevice* Dsp() { return &stack.Controller()->dsp; }
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
