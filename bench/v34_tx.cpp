// Cost of the V.34 data-mode transmitter per symbol, stage by stage, at each symbol rate's top data rate
// (with shaping and precoding): mapping-frame framing, shell mapping, frame encoding, modulation, and the whole
// transmitter (script, framing, encoding and modulation of whole blocks), each as a multiple of real time at
// that symbol rate.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>

#include "layer1/modem/v34/shell_map.h"
#include "layer1/modem/v34/v34_encoder.h"
#include "layer1/modem/v34/v34_modulator.h"
#include "layer1/modem/v34/v34_pump.h"
#include "layer1/modem/v34/v34_tx_steps.h"
#include "layer1/vek/core/vek_dispatch.h"
#include "layer1/vek/core/vek_select.h"

namespace {

constexpr int kTopRate[6] = {9, 11, 11, 12, 13, 14};
constexpr double kExactRate[6] = {2400.0, 19200.0 / 7, 2800.0, 3000.0, 3200.0, 24000.0 / 7};
constexpr int16_t kCoefficients[6] = {3000, -1500, -2000, 800, 700, 300};

V34EncoderState TopEncoder(int s)
{
    V34EncoderState e{};
    e.frame.symbolRateIndex = s;
    e.frame.rateMultiple = kTopRate[s];
    e.frame.row = 1;
    e.frame.symbolRate = V34SymbolRate(s);
    InitV34Encoder(&e, 64, 0, 1);
    for (int k = 0; k < 3; ++k)
        e.coefficients[k] = PackComplex(kCoefficients[2 * k], kCoefficients[2 * k + 1]);
    return e;
}

void Report(benchmark::State& state, int s, int64_t symbols)
{
    state.SetItemsProcessed(symbols);
    state.counters["x_realtime"] =
        benchmark::Counter(static_cast<double>(symbols) / kExactRate[s], benchmark::Counter::kIsRate);
    state.SetLabel("symbol rate index " + std::to_string(s) + ", " + std::to_string(2400 * kTopRate[s]) + " bit/s");
}

void Framing(benchmark::State& state)
{
    const int s = static_cast<int>(state.range(0));
    V34EncoderState e = TopEncoder(s);
    std::mt19937 rng(1);
    MappingFrame f{};
    int64_t symbols = 0;
    for (auto _ : state) {
        while (e.reservoir.count < MappingFrameBits(&e))
            ReservoirPut(&e.reservoir, rng());
        ParseMappingFrame(&e, &f);
        benchmark::DoNotOptimize(f);
        symbols += 8;
    }
    Report(state, s, symbols);
}

void ShellMapping(benchmark::State& state)
{
    const int s = static_cast<int>(state.range(0));
    const V34EncoderState e = TopEncoder(s);
    std::mt19937 rng(2);
    const uint32_t mask = static_cast<uint32_t>((uint64_t{1} << e.frame.K) - 1);
    uint8_t rings[8];
    int64_t symbols = 0;
    for (auto _ : state) {
        ShellMap(rng() & mask, &e.frame, rings);
        benchmark::DoNotOptimize(rings);
        symbols += 8;
    }
    Report(state, s, symbols);
}

void Encoding(benchmark::State& state)
{
    const int s = static_cast<int>(state.range(0));
    V34EncoderState e = TopEncoder(s);
    std::mt19937 rng(3);
    MappingFrame frames[64];
    for (MappingFrame& f : frames) {
        while (e.reservoir.count < MappingFrameBits(&e))
            ReservoirPut(&e.reservoir, rng());
        ParseMappingFrame(&e, &f);
    }
    PackedComplex points[8];
    int64_t symbols = 0;
    size_t i = 0;
    for (auto _ : state) {
        EncodeFrame(&e, &frames[i++ & 63], points);
        benchmark::DoNotOptimize(points);
        symbols += 8;
    }
    Report(state, s, symbols);
}

struct Filters {
    FirState* branch[2][3] = {};
    FirState* pre[kV34PreEmphasisFilters] = {};
    Filters()
    {
        for (auto& rail : branch)
            for (int k = 0; k < 3; ++k) {
                int32_t taps[16];
                V34PulseBranch(k, taps);
                vek_fir_init_real(&rail[k], taps, 16, 0, nullptr);
            }
        CreateV34PreEmphasisFilters(pre);
    }
    ~Filters()
    {
        for (auto& rail : branch)
            for (FirState* b : rail)
                vek_fir_free_real(b);
        FreeV34PreEmphasisFilters(pre);
    }
    void Attach(V34ModulatorState* m, V34EchoRing* echo, int s)
    {
        for (int r = 0; r < 2; ++r)
            for (int k = 0; k < 3; ++k)
                m->branch[r][k] = branch[r][k];
        m->preEmphasisSet = pre;
        m->echo = echo;
        m->outputGain = 0x0A00;
        SetupV34Modulator(5, s, 0, m);
    }
};

// The library column of a run (the second argument): gen, mm, ss, wd.
void UseColumn(benchmark::State& state)
{
    if (vek_install_column(static_cast<int>(state.range(1))) != 1)
        state.SkipWithError("column not installed");
}

void Modulation(benchmark::State& state)
{
    const int s = static_cast<int>(state.range(0));
    UseColumn(state);
    Filters filters;
    static V34EchoRing echo;
    V34ModulatorState m{};
    filters.Attach(&m, &echo, s);
    PackedComplex symbols[kV34BlockSymbols];
    std::mt19937 rng(4);
    for (PackedComplex& x : symbols)
        x = PackComplex(static_cast<int16_t>(rng() % 16001) - 8000, static_cast<int16_t>(rng() % 16001) - 8000);
    int16_t samples[kV34BlockSamples];
    int64_t n = 0;
    for (auto _ : state) {
        V34Modulator(symbols, &m, samples);
        benchmark::DoNotOptimize(samples);
        n += kV34BlockSymbols;
    }
    Report(state, s, n);
}

// The whole data-mode transmitter: the script in data mode (marks from an absent framer), the encoder and the
// modulator, a block at a time.
void WholeTransmitter(benchmark::State& state)
{
    const int s = static_cast<int>(state.range(0));
    UseColumn(state);
    Filters filters;
    static V34Pump pump;
    pump = V34Pump{};
    pump.caller = 1;
    pump.rateIndex = s;
    pump.symbolRate = V34SymbolRate(s);
    pump.rateCodes[0] = pump.rateCodes[1] = kTopRate[s];
    pump.tx.polynomial = 1;
    pump.tx.mp.shaping = 1;
    pump.tx.mp.trellis = 2;
    pump.tx.framePosition = 8;
    filters.Attach(&pump.modulator, &pump.receiver.echo.ring, s);
    const StepEntry* script = V34TransmitScript(kV34ScriptCaller);
    int start = 0;
    while (script[start].handler != TxDataStart)
        ++start;
    ControlSequencer(&pump.tx.sequencer, SEQ_START_AT, script, start);
    int64_t n = 0;
    for (auto _ : state) {
        FillV34TransmitBlock(&pump);
        V34Modulator(pump.tx.symbols, &pump.modulator, pump.txBlock);
        benchmark::DoNotOptimize(pump.txBlock);
        n += kV34BlockSymbols;
    }
    Report(state, s, n);
}

}  // namespace

BENCHMARK(Framing)->DenseRange(0, 5)->ArgName("rate");
BENCHMARK(ShellMapping)->DenseRange(0, 5)->ArgName("rate");
BENCHMARK(Encoding)->DenseRange(0, 5)->ArgName("rate");
BENCHMARK(Modulation)->ArgsProduct({{0, 5}, {0, 1, 2, 3}})->ArgNames({"rate", "column"});
BENCHMARK(WholeTransmitter)->ArgsProduct({{0, 1, 2, 3, 4, 5}, {0, 3}})->ArgNames({"rate", "column"});
BENCHMARK_MAIN();
