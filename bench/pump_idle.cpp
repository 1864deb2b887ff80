// Idle data pump: the cost of one idle 10 ms block, and how fast an idle pump runs on the simulated line in
// virtual time (simulated seconds per wall second).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <memory>

#include "layer1/drivers/wdm/dsp_device.h"
#include "line/line_network.h"
#include "platform/clock.h"
#include "platform/machine.h"
#include "stack/modem_stack.h"

namespace {

// A sample-stream driver that does nothing but hand out and take blocks.
uint16_t NullBlock(void*, int16_t*, uint32_t) { return 1; }
int32_t NullControl(void*, uint32_t, void*, void*) { return 0; }

void BM_IdleBlockHandler(benchmark::State& state)
{
    LowerDriverInterface lower{};
    lower.readBlock = NullBlock;
    lower.writeBlock = NullBlock;
    lower.control = NullControl;
    lower.secondControl = NullControl;
    auto ctx = std::make_unique<DspContext>();
    auto block = std::make_unique<DspInterfaceBlock>();
    std::memset(ctx.get(), 0, sizeof(DspContext));
    std::memset(block.get(), 0, sizeof(DspInterfaceBlock));
    SetupLowerAudio(&ctx->lowerAudioRecord, &lower);
    InitDspContext(ctx.get(), &ctx->lowerAudioRecord, block.get());
    InitInterfaceBlock(block.get(), nullptr, ctx->commandEntry);
    // Time per iteration is the cost of one idle block.
    for (auto _ : state)
        ctx->perBlockEntry(ctx.get());
}
BENCHMARK(BM_IdleBlockHandler);

// The whole idle pump (line driver, Pumora) in virtual time: each iteration runs 10 simulated seconds.
void BM_IdlePumpVirtualTime(benchmark::State& state)
{
    platform::Clock clock;
    platform::ClockThread self(clock);
    LineNetwork* network = LineNetworkCreate();
    LinePort* port = LineNetworkAddPort(network, LinePortConfig{});
    double simulated = 0;
    double wall = 0;
    {
        platform::MachineConfig config;
        config.clock = &clock;
        platform::Machine machine(config);
        ModemStack stack(machine);
        ModemStackConfig stackConfig;
        stackConfig.port = port;
        stackConfig.controller = false;
        if (!NT_SUCCESS(stack.Build(stackConfig))) {
            state.SkipWithError("stack did not start");
            return;
        }
        for (auto _ : state) {
            const auto start = std::chrono::steady_clock::now();
            platform::SleepMs(10000);
            wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            simulated += 10.0;
        }
        stack.Remove();
    }
    LineNetworkDestroy(network);
    state.counters["simulated_s_per_wall_s"] = simulated / wall;
    state.counters["us_per_block_wall"] = wall / (simulated * 100.0) * 1e6;
}
BENCHMARK(BM_IdlePumpVirtualTime)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
