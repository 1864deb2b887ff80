// Per-sample cost of the IIR filters in each column beside a plain scalar loop of the same recursion: a 4th-order
// arbitrary-order filter and an 8-section cascade over blocks of 256 and 4096 samples. Google Benchmark reports
// "items_per_second"; invert it for the cost of one sample.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "layer1/vek/vek.h"

namespace {

const char* const kColumnNames[4] = {"gen", "mm", "ss", "wd"};

std::vector<std::int16_t> signal(std::size_t n) {
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> any(-8000, 8000);
    std::vector<std::int16_t> x(n);
    for (auto& v : x) v = static_cast<std::int16_t>(any(rng));
    return x;
}

// A stable 4th-order high-pass in Q24 (b0..b4, a0..a4: (1 - z^-1)^4 / 16 over two pole pairs) and a stable section in Q28 (b0 b1 b2 a0 a1 a2).
const std::int32_t kOrder4[10] = {1048576, -4194304, 6291456, -4194304, 1048576,
                                  16777216, -33554432, 29527900, -12750684, 2516582};
const std::int32_t kSection[6] = {268435456, -483183821, 268435456, 268435456, -322122547, 150994944};

void finish(benchmark::State& state, int column, std::size_t n) {
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(n));
    state.SetLabel(column < 0 ? "plain loop" : kColumnNames[column]);
}

void BM_arbitrary4(benchmark::State& state, int column) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const auto x = signal(n);
    std::vector<std::int16_t> y(n);
    IirState* st = nullptr;
    vek_variant<VekSlot::vek_iir_init_real>(column < 0 ? VEK_CPU_GEN : column)(&st, kOrder4, 4, -24, nullptr);
    std::int64_t d[4] = {};
    for (auto _ : state) {
        if (column < 0) {  // transposed direct form II, 64-bit, truncating shifts
            for (std::size_t i = 0; i < n; ++i) {
                const std::int64_t acc = ((std::int64_t{kOrder4[0]} * x[i]) >> 24) + d[0];
                for (int j = 0; j < 4; ++j)
                    d[j] = ((std::int64_t{kOrder4[j + 1]} * x[i]) >> 24) + (j < 3 ? d[j + 1] : 0) -
                           ((std::int64_t{kOrder4[6 + j]} * acc) >> 24);
                y[i] = static_cast<std::int16_t>(acc > 32767 ? 32767 : (acc < -32768 ? -32768 : acc));
            }
        } else {
            vek_variant<VekSlot::vek_iir_block_real>(column)(x.data(), y.data(), static_cast<std::int32_t>(n), st, 0);
        }
        benchmark::ClobberMemory();
    }
    vek_variant<VekSlot::vek_iir_free_real>(VEK_CPU_GEN)(st);
    finish(state, column, n);
}

void BM_cascade8(benchmark::State& state, int column) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const auto x = signal(n);
    std::vector<std::int16_t> y(n);
    std::vector<std::int32_t> taps;
    for (int j = 0; j < 8; ++j) taps.insert(taps.end(), kSection, kSection + 6);
    IirState* st = nullptr;
    vek_variant<VekSlot::vek_iir_init_biquad_real>(column < 0 ? VEK_CPU_GEN : column)(&st, taps.data(), 8, -28, nullptr);
    std::int64_t w[8][2] = {};
    for (auto _ : state) {
        if (column < 0) {  // direct form II sections, 64-bit, truncating shifts
            for (std::size_t i = 0; i < n; ++i) {
                std::int64_t r = x[i];
                for (auto& s : w) {
                    const std::int64_t v = r - ((std::int64_t{kSection[4]} * s[0] + std::int64_t{kSection[5]} * s[1]) >> 28);
                    r = v + ((std::int64_t{kSection[1]} * s[0] + std::int64_t{kSection[2]} * s[1]) >> 28);
                    s[1] = s[0];
                    s[0] = v;
                }
                y[i] = static_cast<std::int16_t>(r > 32767 ? 32767 : (r < -32768 ? -32768 : r));
            }
        } else {
            vek_variant<VekSlot::vek_iir_block_real>(column)(x.data(), y.data(), static_cast<std::int32_t>(n), st, 0);
        }
        benchmark::ClobberMemory();
    }
    vek_variant<VekSlot::vek_iir_free_real>(VEK_CPU_GEN)(st);
    finish(state, column, n);
}

void sizes(benchmark::internal::Benchmark* b) {
    b->Arg(256)->Arg(4096);
}

#define VEK_BENCH_ALL_COLUMNS(fn)                   \
    BENCHMARK_CAPTURE(fn, plain, -1)->Apply(sizes); \
    BENCHMARK_CAPTURE(fn, gen, 0)->Apply(sizes);    \
    BENCHMARK_CAPTURE(fn, mm, 1)->Apply(sizes);     \
    BENCHMARK_CAPTURE(fn, ss, 2)->Apply(sizes);     \
    BENCHMARK_CAPTURE(fn, wd, 3)->Apply(sizes)

VEK_BENCH_ALL_COLUMNS(BM_arbitrary4);
VEK_BENCH_ALL_COLUMNS(BM_cascade8);

}  // namespace

BENCHMARK_MAIN();
