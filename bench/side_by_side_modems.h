// The modem rows of the side-by-side table: V.22bis at 2400 bit/s (one modem transmitting a block and
// receiving a block of its trained peer's recorded data signal) and the fax modems (a block of transmit, a
// block of receive of a recorded training and data burst), ours at 96 samples and the peer's at 80 samples a
// block (10 ms each). The counter helper serves every row of the table.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "fax_fixture.h"
#include "v22bis_fixture.h"

namespace sidebyside {

constexpr double kBlockSeconds = 0.01;

// Seconds of signal per iteration as a rate counter: divided by the thread CPU time it gives times real time.
inline void CountSignal(benchmark::State& state, double secondsPerIteration)
{
    state.counters["xRT"] = benchmark::Counter(secondsPerIteration * static_cast<double>(state.iterations()),
                                               benchmark::Counter::kIsRate);
}

inline void V22bisOurs(benchmark::State& state)
{
    auto pair = std::make_unique<benchsupport::OurV22Pair>();
    int16_t out[96];
    size_t at = 0;
    for (auto _ : state) {
        V22TxBlock(&pair->answerer, out, 96);
        benchmark::DoNotOptimize(V22RxBlock(&pair->answerer, &pair->recording[at], 96));
        at = (at + 96) % pair->recording.size();
    }
    CountSignal(state, kBlockSeconds);
}

// The fax rows' argument: an index into kFaxRates.
inline int32_t FaxCode(const benchmark::State& state)
{
    const benchsupport::FaxRate& r = benchsupport::kFaxRates[state.range(0)];
    return FaxCodeOf(r.nibbleMod, r.nibbleRate);
}

inline void FaxTransmitOurs(benchmark::State& state)
{
    auto tx = std::make_unique<FaxTxState>();
    FaxTxInit(tx.get(), FaxCode(state), FaxTxPort{nullptr, benchsupport::OurBits, benchsupport::Released, nullptr},
              FaxTxGainOf(-13.0), nullptr);
    int16_t block[kFaxBlockSamples];
    for (auto _ : state) {
        FaxTxBlock(tx.get(), block, kFaxBlockSamples);
        benchmark::DoNotOptimize(block);
    }
    CountSignal(state, kBlockSeconds);
}

// Five seconds of our transmitter's burst (training, then data), received in a loop by a receiver started
// afresh at each pass (outside the timing).
inline void FaxReceiveOurs(benchmark::State& state)
{
    const int32_t code = FaxCode(state);
    auto tx = std::make_unique<FaxTxState>();
    FaxTxInit(tx.get(), code, FaxTxPort{nullptr, benchsupport::OurBits, benchsupport::Released, nullptr},
              FaxTxGainOf(-13.0), nullptr);
    std::vector<int16_t> signal(500 * kFaxBlockSamples);
    for (size_t at = 0; at < signal.size(); at += kFaxBlockSamples)
        FaxTxBlock(tx.get(), signal.data() + at, kFaxBlockSamples);
    auto rx = std::make_unique<FaxRxState>();
    FaxRxInit(rx.get(), code, FaxRxPort{nullptr, benchsupport::NoBits, nullptr}, 0);
    size_t at = 0;
    for (auto _ : state) {
        FaxRxBlock(rx.get(), signal.data() + at, kFaxBlockSamples);
        at += kFaxBlockSamples;
        if (at == signal.size()) {
            state.PauseTiming();
            at = 0;
            *rx = FaxRxState{};
            FaxRxInit(rx.get(), code, FaxRxPort{nullptr, benchsupport::NoBits, nullptr}, 0);
            state.ResumeTiming();
        }
    }
    CountSignal(state, kBlockSeconds);
}

#ifdef HAVE_SPANDSP
inline void V22bisPeer(benchmark::State& state)
{
    auto pair = std::make_unique<benchsupport::PeerV22Pair>();
    int16_t out[80];
    size_t at = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(v22bis_tx(pair->answerer, out, 80));
        v22bis_rx(pair->answerer, &pair->recording[at], 80);
        at = (at + 80) % pair->recording.size();
    }
    CountSignal(state, kBlockSeconds);
}

inline void FaxTransmitPeer(benchmark::State& state)
{
    const benchsupport::FaxRate& r = benchsupport::kFaxRates[state.range(0)];
    benchsupport::FaxPeer peer(FaxModulationOf(FaxCode(state)), r.bitRate);
    int16_t block[80];
    for (auto _ : state) {
        peer.Tx(block, 80);
        benchmark::DoNotOptimize(block);
    }
    CountSignal(state, kBlockSeconds);
}

inline void FaxReceivePeer(benchmark::State& state)
{
    const benchsupport::FaxRate& r = benchsupport::kFaxRates[state.range(0)];
    const int modulation = FaxModulationOf(FaxCode(state));
    auto peer = std::make_unique<benchsupport::FaxPeer>(modulation, r.bitRate);
    std::vector<int16_t> signal(500 * 80);
    for (size_t at = 0; at < signal.size(); at += 80)
        peer->Tx(signal.data() + at, 80);
    peer = std::make_unique<benchsupport::FaxPeer>(modulation, r.bitRate);
    size_t at = 0;
    for (auto _ : state) {
        peer->Rx(signal.data() + at, 80);
        at += 80;
        if (at == signal.size()) {
            state.PauseTiming();
            at = 0;
            peer = std::make_unique<benchsupport::FaxPeer>(modulation, r.bitRate);
            state.ResumeTiming();
        }
    }
    CountSignal(state, kBlockSeconds);
}
#endif

}  // namespace sidebyside
