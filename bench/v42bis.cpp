// V.42bis: compressed size and the cost of encode plus decode per input byte, on the system's licence text
// (or generated text when the system has none) and on random data, beside libspandsp doing the same job.
// Counters: "ratio" input/compressed, "expansion_pct" (random data: growth in per cent), "ns_per_byte"
// encode + decode, "size_vs_peer" our compressed size over the peer's, "time_vs_peer" our time over the
// peer's (the peer's benchmark runs first).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "compression_corpus.h"
#include "layer2/corecode/ec/v42bis.h"

#if HAVE_SPANDSP
#include <spandsp.h>
#endif

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t kP1 = 2048;
constexpr uint8_t kP2 = 32;

using compression_corpus::corpus;

struct PeerFigures {
    double size[2] = {0, 0};
    double ns_per_byte[2] = {0, 0};
};
PeerFigures g_peer;

void set_counters(benchmark::State& state, const Bytes& data, size_t packed)
{
    double n = static_cast<double>(data.size());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
    state.counters["ratio"] = n / static_cast<double>(packed);
    state.counters["expansion_pct"] = 100.0 * (static_cast<double>(packed) - n) / n;
    state.counters["ns_per_byte"] =
        benchmark::Counter(n * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Encode in LAPM-sized frames (128 octets of room), flush at the end, then decode the whole stream.
size_t our_round(V42bisContext* ctx, const Bytes& data, Bytes* code, Bytes* out)
{
    v42b_init(ctx, 3, kP1, kP2);
    code->clear();
    uint8_t frame[128];
    size_t at = 0;
    while (at < data.size()) {
        size_t made = 0;
        at += v42b_compress(ctx, data.data() + at, data.size() - at, frame, sizeof(frame), &made);
        code->insert(code->end(), frame, frame + made);
    }
    v42b_flush(ctx);
    while (v42b_queued(ctx) != 0) {
        size_t made = v42b_drain(ctx, frame, sizeof(frame));
        code->insert(code->end(), frame, frame + made);
    }
    size_t used = 0;
    size_t made = 0;
    out->resize(data.size() + 256);
    v42b_decompress(ctx, code->data(), code->size(), &used, out->data(), out->size(), &made);
    out->resize(made);
    return code->size();
}

#if HAVE_SPANDSP
struct Peer {
    alignas(64) static inline uint8_t memory[1 << 18];
    v42bis_state_t* state;
    size_t encoded = 0;
    size_t decoded = 0;
    Peer()
    {
        state = v42bis_init(reinterpret_cast<v42bis_state_t*>(memory), 3, kP1, kP2, on_encoded, this, 128,
                            on_decoded, this, 128);
    }
    ~Peer() { v42bis_release(state); }
    static void on_encoded(void* user, const uint8_t*, int len) { static_cast<Peer*>(user)->encoded += len; }
    static void on_decoded(void* user, const uint8_t*, int len) { static_cast<Peer*>(user)->decoded += len; }
};

void BM_PeerEncodeDecode(benchmark::State& state)
{
    int which = static_cast<int>(state.range(0));
    const Bytes& data = corpus(which);
    Bytes code;
    size_t packed = 0;
    for (auto _ : state) {
        // Compress with the code kept, then decompress it on a second instance.
        static thread_local Bytes* sink = nullptr;
        code.clear();
        sink = &code;
        Peer enc;
        v42bis_state_t* s = v42bis_init(enc.state, 3, kP1, kP2,
                                        [](void*, const uint8_t* m, int n) { sink->insert(sink->end(), m, m + n); },
                                        nullptr, 128, Peer::on_decoded, &enc, 128);
        v42bis_compress(s, data.data(), static_cast<int>(data.size()));
        v42bis_compress_flush(s);
        v42bis_release(s);
        Peer dec;
        v42bis_decompress(dec.state, code.data(), static_cast<int>(code.size()));
        v42bis_decompress_flush(dec.state);
        packed = code.size();
        benchmark::DoNotOptimize(dec.decoded);
    }
    set_counters(state, data, packed);
    g_peer.size[which] = static_cast<double>(packed);
}
BENCHMARK(BM_PeerEncodeDecode)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
#endif

void BM_OurEncodeDecode(benchmark::State& state)
{
    int which = static_cast<int>(state.range(0));
    const Bytes& data = corpus(which);
    static V42bisContext ctx;
    Bytes code;
    Bytes out;
    size_t packed = 0;
    for (auto _ : state) {
        packed = our_round(&ctx, data, &code, &out);
        benchmark::DoNotOptimize(out.data());
    }
    if (out != data)
        state.SkipWithError("round trip differs");
    set_counters(state, data, packed);
    if (g_peer.size[which] > 0)
        state.counters["size_vs_peer"] = static_cast<double>(packed) / g_peer.size[which];
}
BENCHMARK(BM_OurEncodeDecode)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
