// Costs per 10 ms block (96 samples at 9600 per second): DTMF generation, and HDLC framing of both
// directions at the full mailbox rate (one 32-byte chunk out and in per block, 96 bits in groups of 4).
#include <benchmark/benchmark.h>

#include <cstdint>

#include "layer1/dsp/framer.h"
#include "layer1/dsp/tone_dual.h"

namespace {

void DtmfBlock(benchmark::State& state)
{
    DualToneGenerator g{};
    g.level1 = 20675;
    g.level2 = 16423;
    SetDtmfDigit(&g, 5);
    int16_t block[96];
    for (auto _ : state) {
        DualToneFillBlock(&g, block, 96);
        benchmark::DoNotOptimize(block);
    }
}
BENCHMARK(DtmfBlock);

// A mailbox that always has a full chunk waiting and always takes what is posted.
struct FullRateMailbox {
    uint8_t chunk = 0;
    static int Post(void*, uint8_t, uint8_t, const uint8_t*) { return 1; }
    static int Free(void*) { return 1; }
    static int Waiting(void*) { return kFramerChunkBytes; }
    static int Fetch(void* owner, uint8_t* flags, uint8_t* count, uint8_t* bytes)
    {
        FullRateMailbox* m = static_cast<FullRateMailbox*>(owner);
        for (int i = 0; i < kFramerChunkBytes; ++i)
            bytes[i] = static_cast<uint8_t>(m->chunk + i * 37);
        *count = kFramerChunkBytes;
        *flags = (++m->chunk & 3) == 0 ? kTxEndOfFrame : 0;
        return 1;
    }
    static void Wanted(void*, int) {}
};

void HdlcBlock(benchmark::State& state)
{
    FullRateMailbox mailbox;
    BitStreamFramer framer{};
    framer.port = FramerPort{&mailbox, FullRateMailbox::Post, FullRateMailbox::Free, FullRateMailbox::Waiting,
                             FullRateMailbox::Fetch, FullRateMailbox::Wanted};
    InitTxFramer(&framer, 2);
    InitRxFramer(&framer, 2);
    for (auto _ : state) {
        // 32 bytes a block is about 280 line bits with stuffing and flags.
        for (int i = 0; i < 70; ++i) {
            const int32_t bits = FramerGetTxBits(&framer, 4);
            FramerPutRxBits(&framer, static_cast<uint32_t>(bits), 4);
        }
        FramerPostRxBytes(&framer);
    }
}
BENCHMARK(HdlcBlock);

}  // namespace
BENCHMARK_MAIN();
