// MNP class 5: compressed size and the cost of encode plus decode per input byte, on the same licence text
// and random data as the V.42bis and V.44 benchmarks, in frames of 256 octets.
// Counters: "ratio" input/compressed, "expansion_pct" (random data: growth in per cent), "ns_per_byte"
// encode + decode.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "compression_corpus.h"
#include "layer2/corecode/ec/mnp5.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kFrame = 256;

void BM_Mnp5EncodeDecode(benchmark::State& state)
{
    const Bytes& data = compression_corpus::corpus(static_cast<int>(state.range(0)));
    static Mnp5Context ctx;
    Bytes out(data.size() + kFrame);
    size_t coded = 0;
    size_t total = 0;
    for (auto _ : state) {
        mnp5_reset(&ctx);
        coded = 0;
        total = 0;
        size_t at = 0;
        uint8_t frame[kFrame];
        while (at < data.size()) {
            size_t made = 0;
            at += mnp5_encode(&ctx.enc, data.data() + at, data.size() - at, frame, kFrame, &made);
            made += mnp5_end_frame(&ctx.enc, frame + made, kFrame - made);
            coded += made;
            size_t pos = 0;
            for (;;) {
                size_t used = 0;
                size_t got = 0;
                int st = mnp5_decode(&ctx.dec, frame + pos, made - pos, &used, out.data() + total,
                                     out.size() - total, &got);
                pos += used;
                total += got;
                if (st != MNP5_MORE)
                    break;
            }
        }
        benchmark::DoNotOptimize(out.data());
    }
    if (total != data.size() || !std::equal(data.begin(), data.end(), out.begin()))
        state.SkipWithError("round trip differs");
    double n = static_cast<double>(data.size());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
    state.counters["ratio"] = n / static_cast<double>(coded);
    state.counters["expansion_pct"] = 100.0 * (static_cast<double>(coded) - n) / n;
    state.counters["ns_per_byte"] =
        benchmark::Counter(n * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Mnp5EncodeDecode)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
