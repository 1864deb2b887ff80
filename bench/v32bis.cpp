// Cost of the V.32bis pump in data mode: one 48-sample block (6.67 ms) of one modem's transmitter, echo
// canceller and receiver, with two modems joined back to back (each hears the other and a near echo of
// itself; the label shows the rate code they agreed, 14400 on this loop). Beside it the peer library's V.17 receiver (same symbol rate and trellis code, no
// echo canceller) on a recorded 14400 bit/s signal. Counters: "ours_us" per block and "ours_x_realtime";
// "peer_x_realtime" and "ratio" (our times real time over the peer's).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "layer1/modem/v32/v32.h"
#include "layer1/vek/core/vek_select.h"

#ifdef HAVE_SPANDSP
#include <spandsp.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kBlockSeconds = static_cast<double>(kV32BlockSamples) / kV32SampleRate;

std::mt19937 g_rng(3);
int32_t RandomBits(void*, int32_t n) { return static_cast<int32_t>(g_rng() & ((1u << n) - 1u)); }
void Drop(void*, uint32_t, int32_t) {}

// Two modems back to back with 96 samples of delay each way and a near echo 18 dB down (the block each modem
// sent last, so its echo comes back one block later: the latency it is told).
struct Loop {
    std::unique_ptr<V32Modem> m[2];
    std::deque<int16_t> wire[2];
    std::vector<int16_t> last[2];

    Loop()
    {
        vek_init();  // the processor's column, as the pump installs it at start-up
        for (int s = 0; s < 2; ++s) {
            m[s] = std::make_unique<V32Modem>();
            V32Create(m[s].get());
            const V32Port port{nullptr, RandomBits, Drop, nullptr, nullptr, nullptr};
            V32Start(m[s].get(), port, s == 0 ? V32_START_CALLER : V32_START_ANSWERER, 0, 16, 0x9FF0, 16033, kV32BlockSamples);
            wire[s].assign(96, 0);
            last[s].assign(kV32BlockSamples, 0);
        }
    }
    ~Loop()
    {
        for (auto& x : m)
            V32Destroy(x.get());
    }
    void Step(int side)
    {
        int16_t in[kV32BlockSamples], out[kV32BlockSamples];
        for (int i = 0; i < kV32BlockSamples; ++i) {
            in[i] = static_cast<int16_t>(wire[1 - side].front() + last[side][i] / 8);
            wire[1 - side].pop_front();
        }
        V32Block(m[side].get(), in, out, kV32BlockSamples);
        for (int i = 0; i < kV32BlockSamples; ++i) {
            wire[side].push_back(out[i]);
            last[side][i] = out[i];
        }
    }
    bool Data() const { return m[0]->dataRunning && m[1]->dataRunning; }
};

#ifdef HAVE_SPANDSP
int PeerBit(void*) { return static_cast<int>(g_rng() & 1u); }
void PeerPut(void*, int) {}
#endif

void V32DataBlock(benchmark::State& state)
{
    Loop loop;
    for (int k = 0; k < 4000 && !loop.Data(); ++k) {
        loop.Step(0);
        loop.Step(1);
    }
    if (!loop.Data()) {
        const std::string why = "the modems did not reach data: tx " + std::to_string(loop.m[0]->tx.state) + "/" +
                                std::to_string(loop.m[1]->tx.state) + " rx " + std::to_string(loop.m[0]->rx.state) +
                                "/" + std::to_string(loop.m[1]->rx.state);
        state.SkipWithError(why.c_str());
        return;
    }
    double ours = 0;
    int64_t blocks = 0;
    for (auto _ : state) {
        loop.Step(1);  // the far end, not timed
        const auto t0 = Clock::now();
        loop.Step(0);
        ours += std::chrono::duration<double>(Clock::now() - t0).count();
        blocks += 1;
    }
    const double us = ours / static_cast<double>(blocks) * 1e6;
    state.counters["ours_us"] = us;
    state.counters["ours_x_realtime"] = kBlockSeconds * 1e6 / us;
    state.SetLabel("rate code " + std::to_string(loop.m[0]->rateCode));
#ifdef HAVE_SPANDSP
    // The peer's receiver over 20 s of its own transmitter's 14400 bit/s signal (training, then data).
    v17_tx_state_t* tx = v17_tx_init(nullptr, 14400, 0, PeerBit, nullptr);
    std::vector<int16_t> signal(8000 * 20);
    v17_tx(tx, signal.data(), static_cast<int>(signal.size()));
    v17_tx_free(tx);
    v17_rx_state_t* rx = v17_rx_init(nullptr, 14400, PeerPut, nullptr);
    const auto t0 = Clock::now();
    for (size_t at = 0; at + 80 <= signal.size(); at += 80)
        v17_rx(rx, signal.data() + at, 80);
    const double peer = std::chrono::duration<double>(Clock::now() - t0).count();
    v17_rx_free(rx);
    const double peerX = 20.0 / peer;
    state.counters["peer_x_realtime"] = peerX;
    state.counters["ratio"] = (kBlockSeconds * 1e6 / us) / peerX;
#endif
}
BENCHMARK(V32DataBlock)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
