// Cost of the V.34 phase-2 receive path and of the fixed-point helpers: the INFO receiver per sample while it
// searches (steady carrier) and while it collects frames (back-to-back INFO0 frames), with its speed as a
// multiple of real time (9600 samples a second), and each helper family per call.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "layer1/modem/v34/bit_field.h"
#include "layer1/modem/v34/complex_fixed.h"
#include "layer1/modem/v34/fixed_point.h"
#include "layer1/modem/v34/info_frames.h"
#include "layer1/modem/v34/info_receiver.h"

namespace {

// 600 bit/s DPSK at 1200 Hz, a hard phase flip per 1 (no shaping: enough to keep the receiver collecting).
std::vector<int16_t> FrameSignal(bool frames)
{
    Info0Fields f{};
    for (uint16_t& c : f.capability)
        c = 1;
    uint32_t words[kInfoFrameWords32] = {};
    const uint32_t n = BuildInfo0(f, words);
    std::vector<int16_t> out;
    double sign = 1;
    const double pi = std::acos(-1.0);
    for (int rep = 0; rep < 40; ++rep) {
        for (uint32_t b = 0; b < n + 8; ++b) {
            const bool one = frames && b < n && GetBits32(words, static_cast<int32_t>(b), 1) != 0;
            sign = one ? -sign : sign;
            for (int k = 0; k < 16; ++k) {
                const size_t i = out.size();
                out.push_back(static_cast<int16_t>(std::lround(3000 * sign * std::cos(2 * pi * 1200 * i / 9600))));
            }
        }
    }
    return out;
}

void InfoReceiverRun(benchmark::State& state)
{
    const std::vector<int16_t> x = FrameSignal(state.range(0) != 0);
    InfoReceiver rx;
    InitInfoReceiver(&rx, 0, kInfo0Body);
    size_t i = 0;
    int64_t frames = 0;
    for (auto _ : state) {
        const int32_t st = InfoReceiverSample(&rx, x[i]);
        if (st == kInfoRxFrame || st == kInfoRxCrcError) {
            uint16_t body[kInfoBodyWords16];
            int32_t len;
            frames += InfoReceiverRead(&rx, body, &len) == kInfoRxFrame;
        }
        i = i + 1 == x.size() ? 0 : i + 1;
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["x_realtime"] = benchmark::Counter(static_cast<double>(state.iterations()) / 9600.0,
                                                      benchmark::Counter::kIsRate);
    state.counters["frames"] = static_cast<double>(frames);
}
BENCHMARK(InfoReceiverRun)->Arg(0)->Arg(1)->ArgName("frames");

// Each helper family on a table of random inputs, one call per iteration.
template <typename F>
void Helper(benchmark::State& state, F f)
{
    std::mt19937 rng(1);
    std::vector<uint32_t> in(4096);
    for (uint32_t& v : in)
        v = rng();
    size_t i = 0;
    int64_t sink = 0;
    for (auto _ : state) {
        sink += f(in[i], in[(i + 1) & 4095]);
        i = (i + 1) & 4095;
    }
    benchmark::DoNotOptimize(sink);
    state.SetItemsProcessed(state.iterations());
}

void SinCos(benchmark::State& s)
{
    Helper(s, [](uint32_t a, uint32_t) {
        int16_t sn, cs;
        SinCosQ15(static_cast<uint16_t>(a), &sn, &cs);
        return sn + cs;
    });
}
void Logarithm(benchmark::State& s)
{
    Helper(s, [](uint32_t a, uint32_t) { return NegLog2Q10(static_cast<int32_t>(a >> 1)); });
}
void SquareRoots(benchmark::State& s)
{
    Helper(s, [](uint32_t a, uint32_t b) {
        int16_t e = static_cast<int16_t>(b & 15);
        return SqrtNewton(static_cast<int32_t>(a & 0x7FFF)) + SqrtMantExp(static_cast<int16_t>(a >> 17), &e, nullptr);
    });
}
void Products(benchmark::State& s)
{
    Helper(s, [](uint32_t a, uint32_t b) {
        int16_t o = 0;
        return MulQ15(static_cast<int16_t>(a), static_cast<int16_t>(b), &o) + MulQ31Q15(static_cast<int32_t>(a), static_cast<int16_t>(b)) +
               MulScaleSat(static_cast<int32_t>(a), static_cast<int16_t>(b), &o) + AddSat16(static_cast<int32_t>(a), static_cast<int32_t>(b), &o);
    });
}
void Divisions(benchmark::State& s)
{
    Helper(s, [](uint32_t a, uint32_t b) {
        return DivQ15(static_cast<int32_t>(a >> 2), static_cast<int32_t>(b)) + DivQ31(static_cast<int32_t>(a >> 4), static_cast<int32_t>(b)) +
               DivQ15Half(static_cast<int16_t>(a), static_cast<int16_t>(b));
    });
}
void Phase(benchmark::State& s)
{
    Helper(s, [](uint32_t a, uint32_t b) { return PhaseDifference(a, b) + static_cast<int32_t>(RotateComplex(a, static_cast<int32_t>(b))); });
}
void Crc(benchmark::State& s)
{
    Helper(s, [](uint32_t a, uint32_t b) { return static_cast<int32_t>(Crc16BitStep(a & 1u, static_cast<uint16_t>(b))); });
}
BENCHMARK(SinCos);
BENCHMARK(Logarithm);
BENCHMARK(SquareRoots);
BENCHMARK(Products);
BENCHMARK(Divisions);
BENCHMARK(Phase);
BENCHMARK(Crc);

}  // namespace

BENCHMARK_MAIN();
