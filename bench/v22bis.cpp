// Cost per 10 ms block of one V.22bis modem in data mode, transmit plus receive, beside the independent
// V.22bis modem of libspandsp doing the same work (80 samples at 8000 Hz per block). Each modem receives a
// recording of its trained peer's data signal, replayed in a loop, and sends random data. The label gives
// the figure as "times faster than real time" (10 ms of line time per block).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "v22bis_fixture.h"

namespace {

using benchsupport::OurV22Pair;

// Seconds per block of our modem, for the ratio printed beside the independent one.
double g_oursPerBlock = 0.0;

double Since(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void V22bisOurs(benchmark::State& state)
{
    auto pair = std::make_unique<OurV22Pair>();
    V22Modem& answerer = pair->answerer;
    const std::vector<int16_t>& recording = pair->recording;
    int16_t out[96];
    size_t at = 0;
    const auto t0 = std::chrono::steady_clock::now();
    for (auto _ : state) {
        V22TxBlock(&answerer, out, 96);
        benchmark::DoNotOptimize(V22RxBlock(&answerer, &recording[at], 96));
        at = (at + 96) % recording.size();
    }
    g_oursPerBlock = Since(t0) / static_cast<double>(state.iterations());
    state.counters["x_real_time"] = benchmark::Counter(0.01 * static_cast<double>(state.iterations()),
                                                       benchmark::Counter::kIsRate);
}
BENCHMARK(V22bisOurs);

#ifdef HAVE_SPANDSP
void V22bisSpandsp(benchmark::State& state)
{
    benchsupport::PeerV22Pair pair;
    v22bis_state_t* answerer = pair.answerer;
    const std::vector<int16_t>& recording = pair.recording;
    int16_t b[80];
    size_t at = 0;
    const auto t0 = std::chrono::steady_clock::now();
    for (auto _ : state) {
        benchmark::DoNotOptimize(v22bis_tx(answerer, b, 80));
        v22bis_rx(answerer, &recording[at], 80);
        at = (at + 80) % recording.size();
    }
    const double perBlock = Since(t0) / static_cast<double>(state.iterations());
    if (g_oursPerBlock > 0.0)
        state.counters["ours_faster_by"] = perBlock / g_oursPerBlock;
    state.counters["x_real_time"] = benchmark::Counter(0.01 * static_cast<double>(state.iterations()),
                                                       benchmark::Counter::kIsRate);
}
BENCHMARK(V22bisSpandsp);
#endif

}  // namespace

BENCHMARK_MAIN();
