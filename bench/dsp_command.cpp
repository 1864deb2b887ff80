// Cost of one command round trip through the doorbell (write the packet, ring, take the reply) and of one
// idle block with the command dispatcher and the device lock in place.
#include <benchmark/benchmark.h>

#include "tests/layer1/dsp_fixture.h"

namespace {

void BM_command_round_trip(benchmark::State& state, uint8_t code)
{
    dsptest::DspBench bench;
    const dsptest::Bytes payload = code == 0x0A ? dsptest::Bytes{226, 0} : dsptest::Bytes{};
    for (auto _ : state) {
        auto packets = bench.Send(code, payload);
        benchmark::DoNotOptimize(packets.data());
    }
}
BENCHMARK_CAPTURE(BM_command_round_trip, version_0x94, uint8_t{0x94});
BENCHMARK_CAPTURE(BM_command_round_trip, unknown_0x63, uint8_t{0x63});
BENCHMARK_CAPTURE(BM_command_round_trip, memory_read_0x0A, uint8_t{0x0A});

void BM_idle_block(benchmark::State& state)
{
    dsptest::DspBench bench;
    DspContext* ctx = bench.context.get();
    for (auto _ : state)
        ctx->perBlockEntry(ctx);
}
BENCHMARK(BM_idle_block);

}  // namespace

BENCHMARK_MAIN();
