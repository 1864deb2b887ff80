// Idle data pump: the cost of one idle 10 ms block, and how fast one, 4 and 16 idle pumps run on the simulated
// line in virtual time (simulated seconds per wall second, CPU time per block of one modem).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

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

double ProcessCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Whole idle pumps (line driver, Pumora) on one simulated exchange in virtual time, one machine each, all on
// one clock: each iteration runs 10 simulated seconds. Reports the clock's simulated seconds per wall second,
// the sum over the modems, and the process CPU time per block of one modem.
void BM_IdlePumpVirtualTime(benchmark::State& state)
{
    const int modems = static_cast<int>(state.range(0));
    platform::Clock clock;
    platform::ClockThread self(clock);
    LineNetwork* network = LineNetworkCreate();
    double simulated = 0;
    double wall = 0;
    double cpu = 0;
    {
        std::vector<std::unique_ptr<platform::Machine>> machines;
        std::vector<std::unique_ptr<ModemStack>> stacks;
        for (int i = 0; i < modems; ++i) {
            platform::MachineConfig config;
            config.clock = &clock;
            machines.push_back(std::make_unique<platform::Machine>(config));
            stacks.push_back(std::make_unique<ModemStack>(*machines.back()));
            ModemStackConfig stackConfig;
            stackConfig.port = LineNetworkAddPort(network, LinePortConfig{});
            stackConfig.controller = false;
            if (!NT_SUCCESS(stacks.back()->Build(stackConfig))) {
                state.SkipWithError("stack did not start");
                return;
            }
        }
        const platform::ClockStats before = clock.Stats();
        for (auto _ : state) {
            const auto start = std::chrono::steady_clock::now();
            const double cpuStart = ProcessCpuSeconds();
            platform::SleepMs(10000);
            cpu += ProcessCpuSeconds() - cpuStart;
            wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            simulated += 10.0;
        }
        const platform::ClockStats after = clock.Stats();
        const double blocks = modems * simulated * 100.0;
        state.counters["wakeups_per_modem_block"] = static_cast<double>(after.wakeups - before.wakeups) / blocks;
        state.counters["expiries_per_modem_block"] = static_cast<double>(after.expiries - before.expiries) / blocks;
        state.counters["dpcs_per_modem_block"] = static_cast<double>(after.dpcs - before.dpcs) / blocks;
        for (auto& stack : stacks)
            stack->Remove();
    }
    LineNetworkDestroy(network);
    state.counters["simulated_s_per_wall_s"] = simulated / wall;
    state.counters["modem_s_per_wall_s"] = modems * simulated / wall;
    state.counters["cpu_us_per_modem_block"] = cpu / (modems * simulated * 100.0) * 1e6;
}
BENCHMARK(BM_IdlePumpVirtualTime)->Arg(1)->Arg(4)->Arg(16)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
