// Costs per 10 ms block (96 samples at 9600 per second): DTMF generation, and HDLC framing of both
// directions at the full mailbox rate (one 32-byte chunk out and in per block, 96 bits in groups of 4); each
// once for the signal core alone and once in the pump (the block entry with its sequencers, and the framer
// on the register window's data chunks).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <memory>

#include "layer1/dsp/command_dispatcher.h"
#include "layer1/dsp/framer.h"
#include "layer1/dsp/mode_entries.h"
#include "layer1/dsp/register_window.h"
#include "layer1/dsp/tone_dual.h"

#include "bench_fixtures.h"

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

using benchsupport::FullRateMailbox;

void HdlcBlock(benchmark::State& state)
{
    FullRateMailbox mailbox;
    BitStreamFramer framer{};
    framer.port = mailbox.Port();
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

// A pump on a sample-stream driver that only hands out and takes blocks.
uint16_t NullBlock(void*, int16_t*, uint32_t) { return 1; }
int32_t NullControl(void*, uint32_t, void*, void*) { return 0; }

struct BenchPump {
    LowerDriverInterface lower{};
    std::unique_ptr<DspContext> ctx = std::make_unique<DspContext>();
    std::unique_ptr<DspInterfaceBlock> block = std::make_unique<DspInterfaceBlock>();

    BenchPump()
    {
        lower.readBlock = NullBlock;
        lower.writeBlock = NullBlock;
        lower.control = NullControl;
        lower.secondControl = NullControl;
        std::memset(ctx.get(), 0, sizeof(DspContext));
        std::memset(block.get(), 0, sizeof(DspInterfaceBlock));
        SetupLowerAudio(&ctx->lowerAudioRecord, &lower);
        InitDspContext(ctx.get(), &ctx->lowerAudioRecord, block.get());
        InitInterfaceBlock(block.get(), nullptr, ctx->commandEntry);
    }
    void Command(void (*handler)(DspContext*), std::initializer_list<uint8_t> payload)
    {
        std::memset(ctx->command.payload, 0, sizeof(ctx->command.payload));
        std::memcpy(ctx->command.payload, payload.begin(), payload.size());
        handler(ctx.get());
    }
};

// One block of the pump while a digit plays (started again whenever one ends).
void DtmfBlockInPump(benchmark::State& state)
{
    BenchPump p;
    p.Command(CmdSetDtmfTiming, {250, 10, 0, 0, 10, 0});
    for (auto _ : state) {
        if (p.ctx->seqA.list == kIdleListA)
            p.Command(CmdStartDigit, {5});
        p.ctx->perBlockEntry(p.ctx.get());
    }
}
BENCHMARK(DtmfBlockInPump);

// One block of HDLC framing in the pump: a 32-byte chunk from registers 84-117 framed, looped to the receive
// side and posted to registers 20-53, which the controller empties.
void HdlcBlockThroughWindow(benchmark::State& state)
{
    BenchPump p;
    p.Command(CmdSetFraming, {kFramerHdlc});
    DspInterfaceBlock* b = p.block.get();
    uint8_t chunk = 0;
    for (auto _ : state) {
        if (WindowLoadPair(b, kRegTxCount) == 0) {
            for (int i = 0; i < kMailboxBytes; ++i)
                WindowStore(b, kRegTxData + i, static_cast<uint8_t>(chunk + i * 37));
            const uint8_t flags = (++chunk & 3) == 0 ? kTxEndOfFrame : 0;
            WindowStorePair(b, kRegTxCount, static_cast<uint16_t>(kMailboxBytes | (flags << 8)));
        }
        for (int i = 0; i < 70; ++i)
            FramerPutRxBits(p.ctx.get(), static_cast<uint32_t>(FramerGetTxBits(p.ctx.get(), 4)), 4);
        FramerPostRxBytes(p.ctx.get());
        WindowStorePair(b, kRegRxCount, 0);
    }
}
BENCHMARK(HdlcBlockThroughWindow);

}  // namespace
BENCHMARK_MAIN();
