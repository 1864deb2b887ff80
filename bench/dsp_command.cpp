// Cost of one command round trip through the doorbell (write the packet, ring, take the reply) and of one
// idle block with the command dispatcher and the device lock in place: the line driver and Pumora in one
// stack, with no controller, the packets written and read through the register window.
#include <benchmark/benchmark.h>

#include "layer1/drivers/wdm/dsp_device.h"
#include "line/line_network.h"
#include "platform/clock.h"
#include "platform/machine.h"
#include "stack/modem_stack.h"
#include "window/icd_codes.h"
#include "window/register_map.h"
#include "window/window_access.h"

namespace {

struct PumpOnly {
    platform::Clock clock;
    platform::ClockThread self{clock};
    LineNetwork* network = LineNetworkCreate();
    platform::Machine machine{platform::MachineConfig{&clock, "bench", ""}};
    ModemStack stack{machine};
    DspContext* context = nullptr;
    DspInterfaceBlock* block = nullptr;

    PumpOnly()
    {
        ModemStackConfig config;
        config.port = LineNetworkAddPort(network, LinePortConfig{});
        config.controller = false;
        if (NT_SUCCESS(stack.Build(config))) {
            context = &stack.PumpDevice()->dspContext;
            block = stack.PumpDevice()->interfaceBlock;
        }
    }
    ~PumpOnly()
    {
        stack.Remove();
        LineNetworkDestroy(network);
    }

    // Payload, length, then the code; ring; take the reply out of registers 0-19.
    uint8_t Send(uint8_t code, const uint8_t* payload, uint8_t length)
    {
        WindowStoreBytes(block, kRegCommandPayload, payload, length);
        WindowStoreRelaxed(block, kRegCommandLength, length);
        WindowStore(block, kRegCommandCode, code);
        block->commandEntry(context);
        const uint8_t reply = WindowLoad(block, kRegReplyCode);
        WindowStore(block, kRegReplyCode, 0);
        return reply;
    }
};

void BM_command_round_trip(benchmark::State& state, uint8_t code)
{
    PumpOnly pump;
    if (pump.block == nullptr) {
        state.SkipWithError("stack did not start");
        return;
    }
    const uint8_t payload[2] = {226, 0};
    const uint8_t length = code == IcdReadMemory ? 2 : 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(pump.Send(code, payload, length));
}
BENCHMARK_CAPTURE(BM_command_round_trip, version_0x94, uint8_t{IcdQueryVersion});
BENCHMARK_CAPTURE(BM_command_round_trip, unknown_0x63, uint8_t{0x63});
BENCHMARK_CAPTURE(BM_command_round_trip, memory_read_0x0A, uint8_t{IcdReadMemory});

void BM_idle_block(benchmark::State& state)
{
    PumpOnly pump;
    if (pump.context == nullptr) {
        state.SkipWithError("stack did not start");
        return;
    }
    for (auto _ : state)
        pump.context->perBlockEntry(pump.context);
}
BENCHMARK(BM_idle_block);

}  // namespace

BENCHMARK_MAIN();
