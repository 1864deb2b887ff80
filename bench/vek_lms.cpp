// LMS filter-and-update per call in every column beside a plain scalar loop, for the shapes the data pumps
// use (real 60 taps; complex 48, 120 at step 1 and 72 at step 2), and trellis add-compare-select per 4D
// symbol for 16, 32 and 64 states.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "layer1/vek/lms/lms_state.h"
#include "layer1/vek/trellis/trellis.h"
#include "layer1/vek/vek.h"

namespace {

const char* const kNames[4] = {"gen", "mm", "ss", "wd"};

// One put, filter, and update with a gain that fits the kernels.
void BM_LmsRealFilterUpdate(benchmark::State& state) {
  const int column = static_cast<int>(state.range(0));
  const auto init = vek_variant<VekSlot::vek_lms_init_real>(column);
  const auto putFilter = vek_variant<VekSlot::vek_lms_put_filter_real>(column);
  const auto update = vek_variant<VekSlot::vek_lms_update_real>(column);
  LmsState* ctx = nullptr;
  init(&ctx, nullptr, 60, nullptr, 0, 1, 2, 300);
  std::mt19937 rng(1);
  int32_t out = 0;
  for (auto _ : state) {
    putFilter(static_cast<int16_t>(rng()), &out, ctx);
    update(out >> 12, ctx);
    benchmark::DoNotOptimize(out);
  }
  vek_lms_free_gen(ctx);
  state.SetLabel(kNames[column]);
}
BENCHMARK(BM_LmsRealFilterUpdate)->DenseRange(0, 3);

void BM_LmsComplexFilterUpdate(benchmark::State& state) {
  const int column = static_cast<int>(state.range(0));
  const int32_t taps = static_cast<int32_t>(state.range(1));
  const int32_t step = static_cast<int32_t>(state.range(2));
  const auto init = vek_variant<VekSlot::vek_lms_init_complex>(column);
  const auto putFilter = vek_variant<VekSlot::vek_lms_put_filter_complex>(column);
  const auto update = vek_variant<VekSlot::vek_lms_update_complex>(column);
  LmsState* ctx = nullptr;
  init(&ctx, nullptr, taps, nullptr, 0, step, step == 2 ? 6 : 1, 300);
  std::mt19937 rng(1);
  VekC32 out{};
  for (auto _ : state) {
    putFilter(VekC16{static_cast<int16_t>(rng()), static_cast<int16_t>(rng())}, &out, ctx);
    update(out.re >> 12, out.im >> 12, ctx);
    benchmark::DoNotOptimize(out);
  }
  vek_lms_free_gen(ctx);
  state.SetLabel(kNames[column]);
}
BENCHMARK(BM_LmsComplexFilterUpdate)
    ->ArgsProduct({{0, 1, 2, 3}, {48, 120}, {1}})
    ->ArgsProduct({{0, 1, 2, 3}, {72}, {2}});

// The same work as a plain loop over a time-ordered history (no library call, no doubled line).
void BM_ScalarComplexFilterUpdate(benchmark::State& state) {
  const int32_t taps = static_cast<int32_t>(state.range(0));
  const int32_t step = static_cast<int32_t>(state.range(1));
  const int32_t span = taps * step + 8;
  std::vector<int32_t> tr(taps, 0), ti(taps, 0);
  std::vector<int16_t> xr(span, 0), xi(span, 0);
  std::mt19937 rng(1);
  int pos = 0;
  for (auto _ : state) {
    pos = (pos + 1) % (span - taps * step);
    xr[pos] = static_cast<int16_t>(rng());
    xi[pos] = static_cast<int16_t>(rng());
    uint32_t re = 0, im = 0;
    for (int32_t k = 0; k < taps; ++k) {
      const int32_t a = tr[k] >> 16, b = ti[k] >> 16;
      const int32_t sr = xr[pos + k * step], si = xi[pos + k * step];
      re += static_cast<uint32_t>(a * sr) - static_cast<uint32_t>(b * si);
      im += static_cast<uint32_t>(b * sr) + static_cast<uint32_t>(a * si);
    }
    const int32_t gr = ((static_cast<int32_t>(re) >> 12) * 300 + 16384) >> 15;
    const int32_t gi = ((static_cast<int32_t>(im) >> 12) * 300 + 16384) >> 15;
    for (int32_t k = 0; k < taps; ++k) {
      const int32_t sr = xr[pos + 1 + k * step], si = xi[pos + 1 + k * step];
      tr[k] = static_cast<int32_t>(static_cast<uint32_t>(tr[k]) + static_cast<uint32_t>(gr * sr + gi * si));
      ti[k] = static_cast<int32_t>(static_cast<uint32_t>(ti[k]) + static_cast<uint32_t>(gi * sr - gr * si));
    }
    benchmark::DoNotOptimize(tr.data());
  }
  state.SetLabel("scalar loop");
}
BENCHMARK(BM_ScalarComplexFilterUpdate)->Args({48, 1})->Args({120, 1})->Args({72, 2});

void BM_ScalarRealFilterUpdate(benchmark::State& state) {
  constexpr int32_t kTaps = 60;
  std::vector<int32_t> t(kTaps, 0);
  std::vector<int16_t> x(kTaps + 64, 0);
  std::mt19937 rng(1);
  int pos = 0;
  for (auto _ : state) {
    pos = (pos + 1) % 60;
    x[pos] = static_cast<int16_t>(rng());
    uint32_t acc = 0;
    for (int32_t k = 0; k < kTaps; ++k) acc += static_cast<uint32_t>((t[k] >> 16) * x[pos + k]);
    const int32_t g = ((static_cast<int32_t>(acc) >> 12) * 300 + 16384) >> 15;
    for (int32_t k = 0; k < kTaps; ++k) {
      t[k] = static_cast<int32_t>(static_cast<uint32_t>(t[k]) + static_cast<uint32_t>(g * x[pos + 2 + k]));
    }
    benchmark::DoNotOptimize(t.data());
  }
  state.SetLabel("scalar loop");
}
BENCHMARK(BM_ScalarRealFilterUpdate);

// One add-compare-select per 4D symbol.
void BM_TrellisAcs(benchmark::State& state) {
  const int column = static_cast<int>(state.range(0));
  const int states = static_cast<int>(state.range(1));
  const int branches = states / 4;
  const auto acs = vek_variant<VekSlot::vek_trellis_acs>(column);
  static const uint8_t kFixed[4][8] = {{0, 4, 9, 13, 2, 6, 11, 15}, {16, 20, 25, 29, 18, 22, 27, 31},
                                       {1, 5, 8, 12, 3, 7, 10, 14}, {17, 21, 24, 28, 19, 23, 26, 30}};
  std::vector<uint8_t> next(states * branches);
  for (int i = 0; i < states; ++i) {
    for (int j = 0; j < branches; ++j) {
      next[i * branches + j] = static_cast<uint8_t>(states == 32 ? (kFixed[i & 3][j] + 4 * (i >> 2)) % 32
                                                                 : (branches * i + j) % states);
    }
  }
  std::mt19937 rng(2);
  std::vector<uint16_t> oldM(states), newM(states);
  for (auto& v : oldM) v = static_cast<uint16_t>(rng() % 2000);
  std::vector<TrellisMetric4d> r4(states / 2);
  for (auto& r : r4) r = {static_cast<uint16_t>(rng()), static_cast<uint16_t>(rng() % 2000)};
  std::vector<int32_t> surv(states);
  for (auto _ : state) {
    std::fill(newM.begin(), newM.end(), 65535);
    acs(oldM.data(), next.data(), newM.data(), r4.data(), surv.data(), states, 0);
    benchmark::DoNotOptimize(newM.data());
  }
  state.SetLabel(kNames[column]);
}
BENCHMARK(BM_TrellisAcs)->ArgsProduct({{0, 1, 2, 3}, {16, 32, 64}});

}  // namespace

BENCHMARK_MAIN();
