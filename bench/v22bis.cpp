// Cost per 10 ms block of one V.22bis modem in data mode, transmit plus receive, beside the independent
// V.22bis modem of libspandsp doing the same work (80 samples at 8000 Hz per block). Each modem receives a
// recording of its trained peer's data signal, replayed in a loop, and sends random data. The label gives
// the figure as "times faster than real time" (10 ms of line time per block).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "layer1/modem/v22/v22.h"

#ifdef HAVE_SPANDSP
#include <spandsp.h>
#endif

namespace {

constexpr int kRecordBlocks = 600;  // 6 s of the peer's signal
// Seconds per block of our modem, for the ratio printed beside the independent one.
double g_oursPerBlock = 0.0;

double Since(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

struct Bits {
    uint32_t lfsr = 0xACE1u;
    int32_t Next(int32_t n)
    {
        int32_t v = 0;
        for (int32_t i = 0; i < n; ++i) {
            lfsr = (lfsr >> 1) ^ (-(lfsr & 1u) & 0xB400u);
            v |= static_cast<int32_t>(lfsr & 1u) << i;
        }
        return v;
    }
    static int32_t Get(void* owner, int32_t n) { return static_cast<Bits*>(owner)->Next(n); }
    static int GetOne(void* owner) { return static_cast<Bits*>(owner)->Next(1); }
    static void Put(void*, uint32_t, int32_t) {}
    static void PutOne(void*, int) {}
};

void Prepare(V22Modem* m, Bits* bits, int16_t txStep, int16_t rxStep)
{
    *m = V22Modem{};
    m->tx.carrier_step = txStep;
    m->tx.tx_gain = 10362;
    m->rx.rx_carrier_step = rxStep;
    m->bits_per_symbol = 4;
    m->port = V22Port{bits, Bits::Get, Bits::Put};
    V22TxReset(&m->tx);
    V22RxInit(m);
}

// Trains the answerer's receiver on the caller's signal through the handshake stages, then records the
// caller's data signal.
std::vector<int16_t> TrainAndRecord(V22Modem* caller, V22Modem* answerer)
{
    int16_t block[96];
    auto run = [&](uint16_t control, int blocks) {
        for (int i = 0; i < blocks; ++i) {
            caller->tx.tx_control = control;
            V22TxBlock(caller, block, 96);
            V22RxBlock(answerer, block, 96);
        }
    };
    V22RxReset(answerer);
    run(kV22TxOnes1200, 3);
    V22RxSettle(answerer);
    run(kV22TxOnes1200, 5);
    V22RxSeed(answerer);
    run(kV22TxOnes1200, 1);
    V22RxTrain1(answerer);
    run(kV22TxOnes1200, 8);
    V22RxTrain2(answerer);
    run(kV22TxOnes1200, 30);
    V22RxTimingReference(answerer);
    V22RxRateSettings(answerer);
    run(kV22TxOnes2400, 20);
    V22RxConnect(answerer, 1);
    run(kV22TxData2400, 20);
    std::vector<int16_t> recording(96 * kRecordBlocks);
    for (int i = 0; i < kRecordBlocks; ++i) {
        caller->tx.tx_control = kV22TxData2400;
        V22TxBlock(caller, &recording[96 * i], 96);
    }
    return recording;
}

void V22bisOurs(benchmark::State& state)
{
    Bits bits;
    V22Modem caller;
    V22Modem answerer;
    Prepare(&caller, &bits, kV22Carrier1200, kV22Carrier2400);
    Prepare(&answerer, &bits, kV22Carrier2400, kV22Carrier1200);
    const std::vector<int16_t> recording = TrainAndRecord(&caller, &answerer);
    answerer.tx.tx_control = kV22TxData2400;
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
    Bits bits;
    v22bis_state_t* caller = v22bis_init(nullptr, 2400, 0, 1, Bits::GetOne, &bits, Bits::PutOne, &bits);
    v22bis_state_t* answerer = v22bis_init(nullptr, 2400, 0, 0, Bits::GetOne, &bits, Bits::PutOne, &bits);
    int16_t a[80];
    int16_t b[80];
    for (int i = 0; i < 500; ++i) {  // 5 s: both trained
        const int na = v22bis_tx(caller, a, 80);
        const int nb = v22bis_tx(answerer, b, 80);
        for (int k = na; k < 80; ++k)
            a[k] = 0;
        for (int k = nb; k < 80; ++k)
            b[k] = 0;
        v22bis_rx(answerer, a, 80);
        v22bis_rx(caller, b, 80);
    }
    std::vector<int16_t> recording(80 * kRecordBlocks);
    for (int i = 0; i < kRecordBlocks; ++i) {
        const int n = v22bis_tx(caller, &recording[80 * i], 80);
        for (int k = n; k < 80; ++k)
            recording[80 * i + k] = 0;
    }
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
    v22bis_free(caller);
    v22bis_free(answerer);
}
BENCHMARK(V22bisSpandsp);
#endif

}  // namespace

BENCHMARK_MAIN();
