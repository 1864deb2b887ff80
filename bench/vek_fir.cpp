// FIR filters per variant column beside a plain scalar loop compiled in the same build: nanoseconds per
// output ("ns_per_output") for real filters of 16, 48 and 128 taps on 96-sample blocks and for a complex
// 6-tap filter in place on 96 samples (the pumps' block size).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "layer1/vek/fir/fir.h"
#include "layer1/vek/vek.h"

namespace {

const char* const kColumnNames[4] = {"gen", "mm", "ss", "wd"};
constexpr int kBlock = 96;

std::vector<std::int16_t> samples(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<std::int16_t> v(n);
    for (auto& x : v) x = static_cast<std::int16_t>(rng() % 20000) - 10000;
    return v;
}

std::vector<std::int32_t> taps(std::size_t n) {
    std::vector<std::int32_t> t(n);
    for (std::size_t i = 0; i < n; ++i) t[i] = static_cast<std::int32_t>((i * 7919) % 4001) - 2000;
    return t;
}

void per_output(benchmark::State& state, std::int64_t outputsPerIteration) {
    state.counters["ns_per_output"] = benchmark::Counter(
        static_cast<double>(state.iterations() * outputsPerIteration),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_fir_real(benchmark::State& state, int column) {
    const auto len = static_cast<std::int32_t>(state.range(0));
    const auto t = taps(static_cast<std::size_t>(len));
    auto in = samples(kBlock, 1);
    std::vector<std::int16_t> out(kBlock);
    FirState* st = nullptr;
    vek_variant<VekSlot::vek_fir_init_real>(column)(&st, t.data(), len, 0, nullptr);
    const auto block = vek_variant<VekSlot::vek_fir_block_real>(column);
    for (auto _ : state) {
        block(in.data(), out.data(), kBlock, st, 15);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    vek_variant<VekSlot::vek_fir_free_real>(column)(st);
    per_output(state, kBlock);
    state.SetLabel(kColumnNames[column]);
}

void BM_fir_complex_inplace(benchmark::State& state, int column) {
    const std::int32_t len = 6;
    std::vector<VekC32> t(len);
    for (std::int32_t i = 0; i < len; ++i) t[i] = {1000 * (i + 1), -700 * i};
    const auto re = samples(kBlock, 2), im = samples(kBlock, 3);
    std::vector<VekC16> buf(kBlock);
    FirState* st = nullptr;
    vek_variant<VekSlot::vek_fir_init_complex>(column)(&st, t.data(), len, 0, nullptr);
    const auto block = vek_variant<VekSlot::vek_fir_block_complex_inplace>(column);
    for (auto _ : state) {
        for (int i = 0; i < kBlock; ++i) buf[i] = {re[i], im[i]};
        block(buf.data(), kBlock, st, 15);
        benchmark::DoNotOptimize(buf.data());
        benchmark::ClobberMemory();
    }
    vek_variant<VekSlot::vek_fir_free_complex>(column)(st);
    per_output(state, kBlock);
    state.SetLabel(kColumnNames[column]);
}

// The plain loop for comparison: history and block in one array, 32-bit accumulator, rounding shift,
// saturation.
void BM_fir_real_plain(benchmark::State& state) {
    const auto len = static_cast<std::size_t>(state.range(0));
    const auto t = taps(len);
    std::vector<std::int16_t> x(len + kBlock, 0);
    const auto in = samples(kBlock, 1);
    std::vector<std::int16_t> out(kBlock);
    for (auto _ : state) {
        std::copy(x.end() - static_cast<std::ptrdiff_t>(len), x.end(), x.begin());
        std::copy(in.begin(), in.end(), x.begin() + static_cast<std::ptrdiff_t>(len));
        for (int j = 0; j < kBlock; ++j) {
            std::uint32_t acc = 0;
            for (std::size_t i = 0; i < len; ++i)
                acc += static_cast<std::uint32_t>(t[len - 1 - i] * x[static_cast<std::size_t>(j) + 1 + i]);
            const std::int64_t v = (static_cast<std::int64_t>(static_cast<std::int32_t>(acc)) + (1 << 14)) >> 15;
            out[static_cast<std::size_t>(j)] = static_cast<std::int16_t>(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    per_output(state, kBlock);
    state.SetLabel("plain");
}

void BM_fir_complex_plain(benchmark::State& state) {
    const std::size_t len = 6;
    std::vector<std::int32_t> tr(len), ti(len);
    for (std::size_t i = 0; i < len; ++i) tr[i] = 1000 * static_cast<std::int32_t>(i + 1), ti[i] = -700 * static_cast<std::int32_t>(i);
    const auto re = samples(kBlock, 2), im = samples(kBlock, 3);
    std::vector<VekC16> x(len + kBlock, VekC16{0, 0});
    std::vector<VekC16> buf(kBlock);
    for (auto _ : state) {
        for (int i = 0; i < kBlock; ++i) buf[static_cast<std::size_t>(i)] = {re[static_cast<std::size_t>(i)], im[static_cast<std::size_t>(i)]};
        std::copy(x.end() - static_cast<std::ptrdiff_t>(len), x.end(), x.begin());
        std::copy(buf.begin(), buf.end(), x.begin() + static_cast<std::ptrdiff_t>(len));
        for (std::size_t j = 0; j < kBlock; ++j) {
            std::uint32_t ar = 0, ai = 0;
            for (std::size_t i = 0; i < len; ++i) {
                const VekC16 v = x[j + len - i];
                ar += static_cast<std::uint32_t>(tr[i] * v.re - ti[i] * v.im);
                ai += static_cast<std::uint32_t>(tr[i] * v.im + ti[i] * v.re);
            }
            auto sat = [](std::uint32_t a) {
                const std::int64_t v = (static_cast<std::int64_t>(static_cast<std::int32_t>(a)) + (1 << 14)) >> 15;
                return static_cast<std::int16_t>(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
            };
            buf[j] = {sat(ar), sat(ai)};
        }
        benchmark::DoNotOptimize(buf.data());
        benchmark::ClobberMemory();
    }
    per_output(state, kBlock);
    state.SetLabel("plain");
}

void register_all() {
    for (int column = 0; column < 4; ++column) {
        benchmark::RegisterBenchmark((std::string("fir_real/") + kColumnNames[column]).c_str(), BM_fir_real, column)
            ->Arg(16)->Arg(48)->Arg(128);
        benchmark::RegisterBenchmark((std::string("fir_complex6_inplace/") + kColumnNames[column]).c_str(),
                                     BM_fir_complex_inplace, column);
    }
    benchmark::RegisterBenchmark("fir_real/plain", BM_fir_real_plain)->Arg(16)->Arg(48)->Arg(128);
    benchmark::RegisterBenchmark("fir_complex6_inplace/plain", BM_fir_complex_plain);
}

}  // namespace

int main(int argc, char** argv) {
    register_all();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
