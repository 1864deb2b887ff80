// V.44: compressed size and the cost of encode plus decode per input byte, on the same licence text the
// V.42bis benchmark uses (or generated text when the system has none) and on random data, with our
// V.42bis run beside it on the same data in the same frames.
// Counters: "ratio" input/compressed, "expansion_pct" (random data: growth in per cent), "ns_per_byte"
// encode + decode, "ratio_vs_v42bis" our V.44 ratio over our V.42bis ratio (the V.42bis benchmark here
// runs first).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "compression_corpus.h"
#include "layer2/corecode/ec/v42bis.h"
#include "layer2/corecode/ec/v44.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kFrame = 128;  // LAPM information field

using compression_corpus::corpus;

double g_v42bis_ratio[2] = {0, 0};

void set_counters(benchmark::State& state, const Bytes& data, size_t packed)
{
    double n = static_cast<double>(data.size());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
    state.counters["ratio"] = n / static_cast<double>(packed);
    state.counters["expansion_pct"] = 100.0 * (static_cast<double>(packed) - n) / n;
    state.counters["ns_per_byte"] =
        benchmark::Counter(n * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Our V.42bis with the dictionary and string length the V.42bis benchmark uses, framed the same way.
void BM_V42bisEncodeDecode(benchmark::State& state)
{
    int which = static_cast<int>(state.range(0));
    const Bytes& data = corpus(which);
    static V42bisContext ctx;
    Bytes code;
    Bytes out;
    for (auto _ : state) {
        v42b_init(&ctx, 3, 2048, 32);
        code.clear();
        uint8_t frame[kFrame];
        size_t at = 0;
        while (at < data.size()) {
            size_t made = 0;
            at += v42b_compress(&ctx, data.data() + at, data.size() - at, frame, sizeof frame, &made);
            code.insert(code.end(), frame, frame + made);
        }
        v42b_flush(&ctx);
        while (v42b_queued(&ctx) != 0) {
            size_t made = v42b_drain(&ctx, frame, sizeof frame);
            code.insert(code.end(), frame, frame + made);
        }
        size_t used = 0;
        size_t made = 0;
        out.resize(data.size() + 256);
        v42b_decompress(&ctx, code.data(), code.size(), &used, out.data(), out.size(), &made);
        out.resize(made);
        benchmark::DoNotOptimize(out.data());
    }
    if (out != data)
        state.SkipWithError("round trip differs");
    set_counters(state, data, code.size());
    g_v42bis_ratio[which] = static_cast<double>(data.size()) / static_cast<double>(code.size());
}
BENCHMARK(BM_V42bisEncodeDecode)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// V.44 with the default +DS44 sizes (2048 codewords, 8192 history, strings of 140).
void BM_V44EncodeDecode(benchmark::State& state)
{
    int which = static_cast<int>(state.range(0));
    const Bytes& data = corpus(which);
    static V44Engine engine;
    const XidV44Values v{0, 3, 2048, 2048, 140, 140, 8192, 8192};
    Bytes code;
    Bytes out;
    for (auto _ : state) {
        v44_start(&engine, &v);
        code.clear();
        uint8_t frame[kFrame];
        size_t at = 0;
        while (at < data.size()) {
            size_t made = 0;
            at += v44_compress(&engine, data.data() + at, data.size() - at, frame, sizeof frame, &made);
            code.insert(code.end(), frame, frame + made);
        }
        do {
            v44_flush(&engine);
            size_t made = v44_drain(&engine, frame, sizeof frame);
            code.insert(code.end(), frame, frame + made);
        } while (v44_queued(&engine) != 0);
        out.resize(data.size());
        size_t used = 0;
        size_t made = 0;
        v44_decompress(&engine, code.data(), code.size(), &used, out.data(), out.size(), &made);
        out.resize(made);
        benchmark::DoNotOptimize(out.data());
    }
    v44_free_dictionaries(&engine);
    if (out != data)
        state.SkipWithError("round trip differs");
    set_counters(state, data, code.size());
    if (g_v42bis_ratio[which] > 0)
        state.counters["ratio_vs_v42bis"] =
            static_cast<double>(data.size()) / static_cast<double>(code.size()) / g_v42bis_ratio[which];
}
BENCHMARK(BM_V44EncodeDecode)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
