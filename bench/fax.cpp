// Cost per 10 ms block of the fax pumps (V.27ter, V.29, V.17 at each rate): the transmitter making a block
// of a page of random data, the receiver taking a block of a recorded burst (training, then data), beside the
// peer library's modems doing the same work (80 samples at 8000 per second). Counters: "ours_us" and
// "peer_us" per block, "ours_x_realtime", and "speedup" = peer time / our time.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "fax_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;
using benchsupport::kFaxRates;
using benchsupport::NoBits;
using benchsupport::OurBits;
using benchsupport::FaxRate;
using benchsupport::Released;
#ifdef HAVE_SPANDSP
using benchsupport::FaxPeer;
#endif

void Report(benchmark::State& state, double ours, double peer, int64_t blocks, const FaxRate& r)
{
    const double ourUs = ours / static_cast<double>(blocks) * 1e6;
    state.counters["ours_us"] = ourUs;
    state.counters["ours_x_realtime"] = 10000.0 / ourUs;
    if (peer > 0) {
        state.counters["peer_us"] = peer / static_cast<double>(blocks) * 1e6;
        state.counters["speedup"] = peer / ours;
    }
    state.SetLabel(std::to_string(r.bitRate) + (r.nibbleMod == 0xA ? " V.27ter" : r.nibbleMod == 0xB ? " V.29" : " V.17"));
}

void FaxTransmit(benchmark::State& state)
{
    const FaxRate& r = kFaxRates[state.range(0)];
    const int32_t code = FaxCodeOf(r.nibbleMod, r.nibbleRate);
    FaxTxState tx;
    FaxTxInit(&tx, code, FaxTxPort{nullptr, OurBits, Released, nullptr}, FaxTxGainOf(-13.0), nullptr);
    int16_t block[kFaxBlockSamples];
#ifdef HAVE_SPANDSP
    FaxPeer peer(FaxModulationOf(code), r.bitRate);
    int16_t peerBlock[80];
#endif
    double ours = 0, theirs = 0;
    int64_t blocks = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        FaxTxBlock(&tx, block, kFaxBlockSamples);
        const auto t1 = Clock::now();
        benchmark::DoNotOptimize(block);
#ifdef HAVE_SPANDSP
        peer.Tx(peerBlock, 80);
        benchmark::DoNotOptimize(peerBlock);
        theirs += std::chrono::duration<double>(Clock::now() - t1).count();
#endif
        ours += std::chrono::duration<double>(t1 - t0).count();
        blocks += 1;
    }
    Report(state, ours, theirs, blocks, r);
}

void FaxReceive(benchmark::State& state)
{
    const FaxRate& r = kFaxRates[state.range(0)];
    const int32_t code = FaxCodeOf(r.nibbleMod, r.nibbleRate);
    // Five seconds of each side's own burst, recorded once.
    FaxTxState tx;
    FaxTxInit(&tx, code, FaxTxPort{nullptr, OurBits, Released, nullptr}, FaxTxGainOf(-13.0), nullptr);
    std::vector<int16_t> ourSignal(500 * kFaxBlockSamples);
    for (size_t at = 0; at < ourSignal.size(); at += kFaxBlockSamples)
        FaxTxBlock(&tx, ourSignal.data() + at, kFaxBlockSamples);
    FaxRxState rx{};
    FaxRxInit(&rx, code, FaxRxPort{nullptr, NoBits, nullptr}, 0);
#ifdef HAVE_SPANDSP
    FaxPeer peer(FaxModulationOf(code), r.bitRate);
    std::vector<int16_t> peerSignal(500 * 80);
    for (size_t at = 0; at < peerSignal.size(); at += 80)
        peer.Tx(peerSignal.data() + at, 80);
#endif
    double ours = 0, theirs = 0;
    int64_t blocks = 0;
    size_t k = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        FaxRxBlock(&rx, ourSignal.data() + k * kFaxBlockSamples, kFaxBlockSamples);
        const auto t1 = Clock::now();
#ifdef HAVE_SPANDSP
        peer.Rx(peerSignal.data() + k * 80, 80);
        theirs += std::chrono::duration<double>(Clock::now() - t1).count();
#endif
        ours += std::chrono::duration<double>(t1 - t0).count();
        blocks += 1;
        k = (k + 1) % 500;
    }
    Report(state, ours, theirs, blocks, r);
}

BENCHMARK(FaxTransmit)->DenseRange(0, 8);
BENCHMARK(FaxReceive)->DenseRange(0, 8);

}  // namespace

BENCHMARK_MAIN();
