// Cost per 10 ms block of voice mode in the data pump, at every rate code, resampling included: playing
// (A-law or 4-bit ADPCM bytes from the transmit mailbox, with DTMF detection on the line) and recording
// (detection, the 1100 Hz detector, coding and posting to the receive mailbox). Beside each, where the
// peer library does the same job, its DTMF receiver and coder on one 10 ms block at 8000 samples a second.
// Counters: "ours_us" and "peer_us" per block, "speedup" = peer time / our time.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "layer1/dsp/command_dispatcher.h"
#include "layer1/dsp/register_window.h"

#ifdef HAVE_SPANDSP
#include <spandsp.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

// A line of speech-band noise and tones in, anything out; the controller's side keeps the transmit mailbox
// full and empties the receive mailbox in its event routine.
struct VoicePump {
    LowerDriverInterface lower{};
    std::unique_ptr<DspContext> ctx = std::make_unique<DspContext>();
    std::unique_ptr<DspInterfaceBlock> block = std::make_unique<DspInterfaceBlock>();
    uint32_t phase = 0;
    uint8_t next = 0;

    static uint16_t Read(void* handle, int16_t* buffer, uint32_t bytes)
    {
        auto* self = static_cast<VoicePump*>(handle);
        for (uint32_t i = 0; i < bytes / 2; ++i) {
            self->phase = self->phase * 1103515245u + 12345u;
            buffer[i] = static_cast<int16_t>(static_cast<int32_t>(self->phase >> 16) / 8);
        }
        return 1;
    }
    static uint16_t Write(void*, int16_t*, uint32_t) { return 1; }
    static int32_t Control(void*, uint32_t code, void*, void* output)
    {
        if (code == LOWER_CODE_DEVICE_RECORD && output != nullptr)
            std::memset(output, 0, sizeof(LowerDeviceRecord));
        return 0;
    }
    static void Callback(DspInterfaceBlock* b)
    {
        auto* self = static_cast<VoicePump*>(b->controllerContext);
        WindowStore(b, kRegReplyCode, 0);
        WindowStorePair(b, kRegRxCount, 0);
        if (WindowLoadPair(b, kRegTxCount) == 0) {
            for (int i = 0; i < kMailboxBytes; ++i)
                WindowStore(b, kRegTxData + i, self->next++);
            WindowStorePair(b, kRegTxCount, kMailboxBytes);
        }
    }
    void Send(uint8_t code, std::vector<uint8_t> payload)
    {
        for (size_t i = 0; i < payload.size(); ++i)
            WindowStore(block.get(), kRegCommandPayload + static_cast<int>(i), payload[i]);
        WindowStore(block.get(), kRegCommandLength, static_cast<uint8_t>(payload.size()));
        WindowStore(block.get(), kRegCommandCode, code);
        block->commandEntry(ctx.get());
    }

    VoicePump(uint8_t rate, uint8_t format, uint8_t subMode)
    {
        lower.readBlock = Read;
        lower.writeBlock = Write;
        lower.control = Control;
        lower.secondControl = Control;
        lower.handle = this;
        std::memset(ctx.get(), 0, sizeof(DspContext));
        std::memset(block.get(), 0, sizeof(DspInterfaceBlock));
        InitInterfaceBlock(block.get(), Callback, CommandDispatcher);
        block->controllerContext = this;
        SetupLowerAudio(&ctx->lowerAudioRecord, &lower);
        InitDspContext(ctx.get(), &ctx->lowerAudioRecord, block.get());
        Send(IcdReset, {0});
        Send(IcdConfigDetectors, {2, 0});
        Send(IcdStartVoice, {rate, format, subMode, 0});
        Callback(block.get());
    }
    ~VoicePump()
    {
        if (ctx->command.filtersCreated)
            DestroyDspFilters(ctx.get());
    }
};

#ifdef HAVE_SPANDSP
void PeerDigit(void*, const char*, int) {}

// The peer's share of the same work on 80 samples at 8000 per second: DTMF reception and coding one way.
struct Peer {
    dtmf_rx_state_t* dtmf = dtmf_rx_init(nullptr, PeerDigit, nullptr);
    ima_adpcm_state_t* adpcm = ima_adpcm_init(nullptr, IMA_ADPCM_DVI4, 0);
    g711_state_t* alaw = g711_init(nullptr, G711_ALAW);
    int16_t samples[80];
    uint8_t bytes[84];
    Peer()
    {
        for (int i = 0; i < 80; ++i)
            samples[i] = static_cast<int16_t>(3000.0 * std::sin(i * 0.7) + 2000.0 * std::sin(i * 1.3));
    }
    ~Peer()
    {
        dtmf_rx_free(dtmf);
        ima_adpcm_free(adpcm);
        g711_free(alaw);
    }
    void Block(bool play, uint8_t format)
    {
        dtmf_rx(dtmf, samples, 80);
        if (format == 6) {
            if (play)
                ima_adpcm_decode(adpcm, samples, bytes, 40);
            else
                ima_adpcm_encode(adpcm, bytes, samples, 80);
        } else if (play) {
            g711_decode(alaw, samples, bytes, 80);
        } else {
            g711_encode(alaw, bytes, samples, 80);
        }
    }
};
#endif

// Arguments: rate code, format (0 A-law, 6 ADPCM), play (1) or record (0).
void BM_VoiceBlock(benchmark::State& state)
{
    const auto rate = static_cast<uint8_t>(state.range(0));
    const auto format = static_cast<uint8_t>(state.range(1));
    const bool play = state.range(2) != 0;
    VoicePump pump(rate, format, play ? 0 : 1);
    for (int i = 0; i < 20; ++i)
        pump.ctx->perBlockEntry(pump.ctx.get());
    double ours = 0;
    double peer = 0;
    int64_t blocks = 0;
#ifdef HAVE_SPANDSP
    Peer p;
#endif
    for (auto _ : state) {
        auto t0 = Clock::now();
        pump.ctx->perBlockEntry(pump.ctx.get());
        ours += std::chrono::duration<double>(Clock::now() - t0).count();
#ifdef HAVE_SPANDSP
        t0 = Clock::now();
        p.Block(play, format);
        peer += std::chrono::duration<double>(Clock::now() - t0).count();
#endif
        ++blocks;
    }
    state.counters["ours_us"] = ours / static_cast<double>(blocks) * 1e6;
    if (peer > 0) {
        state.counters["peer_us"] = peer / static_cast<double>(blocks) * 1e6;
        state.counters["speedup"] = peer / ours;
    }
}
BENCHMARK(BM_VoiceBlock)
    ->ArgNames({"rate", "format", "play"})
    ->ArgsProduct({{0, 1, 2, 3, 4}, {0, 6}, {0, 1}});

}  // namespace

BENCHMARK_MAIN();
