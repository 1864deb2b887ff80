// Cost of the V.34 receiver's decisions per symbol: the Viterbi decoder at 16, 32 and 64 states in each
// library column (gen, mm, ss, wd), the demapper with the byte descrambler, and the two together at 64 states
// at 3429 baud and 33600 bit/s with shaping and precoding, each as a multiple of real time at 3429 baud.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "layer1/modem/v34/v34_demapper.h"
#include "layer1/modem/v34/v34_encoder.h"
#include "layer1/modem/v34/v34_scrambler.h"
#include "layer1/modem/v34/v34_trellis_decoder.h"
#include "layer1/vek/core/vek_dispatch.h"
#include "layer1/vek/core/vek_select.h"

namespace {

constexpr double kSymbolRate = 24000.0 / 7;
const PackedComplex kPrecoder[3] = {PackComplex(3000, -1500), PackComplex(-2000, 800), PackComplex(700, 300)};

void SetTopRate(V34FrameParams* f)
{
    f->symbolRateIndex = 5;
    f->rateMultiple = 14;
    f->row = 1;
    f->symbolRate = V34SymbolRate(5);
}

// Received points of the encoder at the top rate with a little noise (the precoder's filter added back).
std::vector<PackedComplex> Points(int states, int frames)
{
    static V34EncoderState e;
    e = V34EncoderState{};
    SetTopRate(&e.frame);
    InitV34Encoder(&e, states, 0, 1);
    for (int k = 0; k < 3; ++k)
        e.coefficients[k] = kPrecoder[k];
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0.0, 30.0);
    PackedComplex past[3] = {};
    std::vector<PackedComplex> v;
    for (int f = 0; f < frames; ++f) {
        while (e.reservoir.count < MappingFrameBits(&e))
            ReservoirPut(&e.reservoir, static_cast<uint32_t>(rng()));
        MappingFrame mf{};
        ParseMappingFrame(&e, &mf);
        PackedComplex out[8];
        EncodeFrame(&e, &mf, out);
        for (const PackedComplex o : out) {
            const PackedComplex p = PrecoderOutput(e.coefficients, past);
            past[2] = past[1];
            past[1] = past[0];
            past[0] = o;
            v.push_back(PackComplex(RealPart(o) + RealPart(p) + static_cast<int>(noise(rng)),
                                    ImagPart(o) + ImagPart(p) + static_cast<int>(noise(rng))));
        }
    }
    return v;
}

void Report(benchmark::State& state, int64_t symbols)
{
    state.SetItemsProcessed(symbols);
    state.counters["x_realtime"] = benchmark::Counter(static_cast<double>(symbols) / kSymbolRate, benchmark::Counter::kIsRate);
}

void Viterbi(benchmark::State& state)
{
    const int states = static_cast<int>(state.range(0));
    if (vek_install_column(static_cast<int>(state.range(1))) != 1)
        state.SkipWithError("column not installed");
    const std::vector<PackedComplex> pts = Points(states, 512);
    static V34TrellisDecoder d;
    InitV34TrellisDecoder(&d, states);
    PackedComplex fin[2], tent[2];
    size_t i = 0;
    int64_t n = 0;
    for (auto _ : state) {
        TrellisDecode(&d, &pts[i], (i & 62) == 0, fin, tent);
        benchmark::DoNotOptimize(fin);
        i = (i + 2) % pts.size();
        n += 2;
    }
    Report(state, n);
}

void Demapper(benchmark::State& state)
{
    const std::vector<PackedComplex> pts = Points(64, 512);
    static V34Demapper d;
    d = V34Demapper{};
    SetTopRate(&d.frame);
    InitV34Demapper(&d, kPrecoder);
    uint32_t reg = 0;
    uint8_t bytes[16];
    size_t i = 0;
    int64_t n = 0;
    for (auto _ : state) {
        // Decisions: the received points on their lattice points.
        PackedComplex frame[8];
        for (int k = 0; k < 8; ++k) {
            const PackedComplex p = pts[i + static_cast<size_t>(k)];
            frame[k] = PackComplex((RealPart(p) & ~255) + 128, (ImagPart(p) & ~255) + 128);
        }
        DemapFrame(&d, frame);
        benchmark::DoNotOptimize(DescrambleBytes(&d.bits, 0, &reg, bytes, 16));
        i = (i + 8) % pts.size();
        n += 8;
    }
    Report(state, n);
}

// The Viterbi at 64 states, the demapper and the descrambler: the data-mode receiver's decision stage.
void Decisions(benchmark::State& state)
{
    if (vek_install_column(static_cast<int>(state.range(0))) != 1)
        state.SkipWithError("column not installed");
    const std::vector<PackedComplex> pts = Points(64, 512);
    static V34TrellisDecoder dec;
    static V34Demapper map;
    InitV34TrellisDecoder(&dec, 64);
    map = V34Demapper{};
    SetTopRate(&map.frame);
    InitV34Demapper(&map, kPrecoder);
    uint32_t reg = 0;
    uint8_t bytes[16];
    PackedComplex frame[8];
    int held = 0;
    size_t i = 0;
    int64_t n = 0;
    for (auto _ : state) {
        PackedComplex tent[2];
        if (TrellisDecode(&dec, &pts[i], 0, frame + held, tent) == kV34TrellisFilled)
            held += 2;
        if (held == 8) {
            DemapFrame(&map, frame);
            benchmark::DoNotOptimize(DescrambleBytes(&map.bits, 0, &reg, bytes, 16));
            held = 0;
        }
        i = (i + 2) % pts.size();
        n += 2;
    }
    Report(state, n);
}

}  // namespace

BENCHMARK(Viterbi)->ArgsProduct({{16, 32, 64}, {0, 1, 2, 3}})->ArgNames({"states", "column"});
BENCHMARK(Demapper);
BENCHMARK(Decisions)->DenseRange(0, 3)->ArgName("column");
BENCHMARK_MAIN();
