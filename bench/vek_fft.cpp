// Float FFT per column against FFTW float (FFTW_MEASURE, same placement), N = 2^4 .. 2^16: complex forward
// out of place and in place, and the real forward and inverse in packed layout 2. Each of our rows prints
// the ratio to FFTW's time of the same transform (measured earlier in the same run) as "vs_fftw".
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <map>
#include <random>
#include <vector>

#ifdef HAVE_FFTW
#include <fftw3.h>
#endif

#include "layer1/vek/fft/fft32f.h"

namespace {

enum Kind { kComplexOut, kComplexIn, kRealFwd, kRealInv };

std::map<std::pair<int, int>, double>& fftw_ns()  // (kind, order) -> ns per transform
{
    static std::map<std::pair<int, int>, double> m;
    return m;
}

std::vector<float> noise(std::size_t n)
{
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    std::vector<float> v(n);
    for (auto& x : v) {
        x = u(rng);
    }
    return v;
}

void Vek(benchmark::State& state)
{
    const int col = static_cast<int>(state.range(0));
    const int kind = static_cast<int>(state.range(1));
    const auto order = static_cast<std::int32_t>(state.range(2));
    const std::int64_t n = std::int64_t{1} << order;
    const Fft32fOps& ops = vek_fft32f_ops(col);
    const int k = kind <= kComplexIn ? 0 : 2;
    FftSpec32f* spec = nullptr;
    ops.init[k](&spec, order, VEK_FFT_NORM_INV, 0);
    std::int32_t bytes = 0;
    ops.size[k](spec, &bytes);
    std::vector<std::uint8_t> work(static_cast<std::size_t>(bytes) + 16);
    const std::size_t floats = static_cast<std::size_t>(kind <= kComplexIn ? 2 * n : n + 2);
    std::vector<float> src = noise(floats), dst(floats);
    const auto t0 = std::chrono::steady_clock::now();
    for (auto _ : state) {
        switch (kind) {
        case kComplexOut: ops.complex[0](src.data(), dst.data(), spec, work.data()); break;
        case kComplexIn: ops.complex[0](dst.data(), dst.data(), spec, work.data()); break;
        case kRealFwd: ops.realFwd[1](src.data(), dst.data(), spec, work.data()); break;
        default: ops.realInv[1](src.data(), dst.data(), spec, work.data()); break;
        }
        benchmark::DoNotOptimize(dst.data());
    }
    const double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count() /
                      static_cast<double>(state.iterations());
    ops.free[k](spec);
    const auto it = fftw_ns().find({kind, order});
    if (it != fftw_ns().end()) {
        state.counters["vs_fftw"] = ns / it->second;
    }
}

#ifdef HAVE_FFTW
void Fftw(benchmark::State& state)
{
    const int kind = static_cast<int>(state.range(1));
    const auto order = static_cast<int>(state.range(2));
    const int n = 1 << order;
    auto* in = fftwf_alloc_real(2 * static_cast<std::size_t>(n) + 2);
    auto* out = fftwf_alloc_real(2 * static_cast<std::size_t>(n) + 2);
    fftwf_plan p = nullptr;
    switch (kind) {
    case kComplexOut:
        p = fftwf_plan_dft_1d(n, reinterpret_cast<fftwf_complex*>(in), reinterpret_cast<fftwf_complex*>(out),
                              FFTW_FORWARD, FFTW_MEASURE);
        break;
    case kComplexIn:
        p = fftwf_plan_dft_1d(n, reinterpret_cast<fftwf_complex*>(out), reinterpret_cast<fftwf_complex*>(out),
                              FFTW_FORWARD, FFTW_MEASURE);
        break;
    case kRealFwd: p = fftwf_plan_dft_r2c_1d(n, in, reinterpret_cast<fftwf_complex*>(out), FFTW_MEASURE); break;
    default: p = fftwf_plan_dft_c2r_1d(n, reinterpret_cast<fftwf_complex*>(in), out, FFTW_MEASURE); break;
    }
    const auto v = noise(2 * static_cast<std::size_t>(n) + 2);
    std::memcpy(in, v.data(), v.size() * 4);
    std::memcpy(out, v.data(), v.size() * 4);
    const auto t0 = std::chrono::steady_clock::now();
    for (auto _ : state) {
        fftwf_execute(p);
        benchmark::DoNotOptimize(out);
    }
    fftw_ns()[{kind, order}] = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count() /
                               static_cast<double>(state.iterations());
    fftwf_destroy_plan(p);
    fftwf_free(in);
    fftwf_free(out);
}
#endif

void Args(benchmark::internal::Benchmark* b, bool columns)
{
    for (int kind = kComplexOut; kind <= kRealInv; ++kind) {
        for (int order = 4; order <= 16; order += 2) {
            if (columns) {
                for (int col = 0; col < 4; ++col) {
                    b->Args({col, kind, order});
                }
            } else {
                b->Args({-1, kind, order});
            }
        }
    }
}

}  // namespace

// FFTW rows first: the ratio of each of our rows to the FFTW row with the same kind and order is the figure
// to compare (column 0 gen, 1 mm, 2 ss, 3 wd; kind 0 complex out of place, 1 in place, 2 real forward,
// 3 real inverse, both in packed layout 2 for ours).
#ifdef HAVE_FFTW
BENCHMARK(Fftw)->ArgNames({"col", "kind", "order"})->Apply([](benchmark::internal::Benchmark* b) { Args(b, false); });
#endif
BENCHMARK(Vek)->ArgNames({"col", "kind", "order"})->Apply([](benchmark::internal::Benchmark* b) { Args(b, true); });

BENCHMARK_MAIN();
