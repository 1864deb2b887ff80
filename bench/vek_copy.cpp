// Copy and zero throughput of each variant column beside the C library's memcpy and memset.
// Bytes per second are reported by Google Benchmark ("bytes_per_second").
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "layer1/vek/vek.h"

namespace {

const char* const kColumnNames[4] = {"gen", "mm", "ss", "wd"};

struct Buffers {
    std::vector<std::uint8_t> src;
    std::vector<std::uint8_t> dst;
    explicit Buffers(std::size_t n) : src(n + 64, 0x5A), dst(n + 64, 0) {}
    // 32-byte aligned starts, as the library's own blocks are.
    std::uint8_t* s() { return align(src.data()); }
    std::uint8_t* d() { return align(dst.data()); }
    static std::uint8_t* align(std::uint8_t* p)
    {
        return reinterpret_cast<std::uint8_t*>((reinterpret_cast<std::uintptr_t>(p) + 31) & ~std::uintptr_t{31});
    }
};

void BM_copy(benchmark::State& state, int column)
{
    const auto n = static_cast<std::size_t>(state.range(0));
    Buffers b(n);
    const auto copy = vek_variant<VekSlot::vek_copy_8>(column);
    for (auto _ : state) {
        copy(b.s(), b.d(), static_cast<std::int32_t>(n));
        benchmark::DoNotOptimize(b.d());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(n));
    state.SetLabel(kColumnNames[column]);
}

void BM_zero(benchmark::State& state, int column)
{
    const auto n = static_cast<std::size_t>(state.range(0));
    Buffers b(n);
    const auto zero = vek_variant<VekSlot::vek_zero_8>(column);
    for (auto _ : state) {
        zero(b.d(), static_cast<std::int32_t>(n));
        benchmark::DoNotOptimize(b.d());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(n));
    state.SetLabel(kColumnNames[column]);
}

void BM_memcpy(benchmark::State& state)
{
    const auto n = static_cast<std::size_t>(state.range(0));
    Buffers b(n);
    for (auto _ : state) {
        std::memcpy(b.d(), b.s(), n);
        benchmark::DoNotOptimize(b.d());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(n));
}

void BM_memset(benchmark::State& state)
{
    const auto n = static_cast<std::size_t>(state.range(0));
    Buffers b(n);
    for (auto _ : state) {
        std::memset(b.d(), 0, n);
        benchmark::DoNotOptimize(b.d());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(n));
}

void sizes(benchmark::internal::Benchmark* b)
{
    for (std::int64_t n : {64, 1024, 16 * 1024, 256 * 1024, 8 * 1024 * 1024}) {
        b->Arg(n);
    }
}

BENCHMARK_CAPTURE(BM_copy, gen, VEK_CPU_GEN)->Apply(sizes);
BENCHMARK_CAPTURE(BM_copy, mm, VEK_CPU_MM)->Apply(sizes);
BENCHMARK_CAPTURE(BM_copy, ss, VEK_CPU_SS)->Apply(sizes);
BENCHMARK_CAPTURE(BM_copy, wd, VEK_CPU_WD)->Apply(sizes);
BENCHMARK(BM_memcpy)->Apply(sizes);
BENCHMARK_CAPTURE(BM_zero, gen, VEK_CPU_GEN)->Apply(sizes);
BENCHMARK_CAPTURE(BM_zero, mm, VEK_CPU_MM)->Apply(sizes);
BENCHMARK_CAPTURE(BM_zero, ss, VEK_CPU_SS)->Apply(sizes);
BENCHMARK_CAPTURE(BM_zero, wd, VEK_CPU_WD)->Apply(sizes);
BENCHMARK(BM_memset)->Apply(sizes);

} // namespace

BENCHMARK_MAIN();
