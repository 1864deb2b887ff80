// Cost of the V.34 phase-2 receive path and of the fixed-point helpers: the INFO receiver per sample while it
// searches (steady carrier) and while it collects frames (back-to-back INFO0 frames), with its speed as a
// multiple of real time (9600 samples a second), and each helper family per call; and two pumps through the
// whole of phase 2, the CPU of each block filed under the step it started in (mean, 99.9th percentile and
// maximum as multiples of real time).
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "layer1/dsp/command_dispatcher.h"
#include "layer1/dsp/register_window.h"
#include "layer1/modem/v34/phase2_state.h"

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

// ---- Two pumps through phase 2: CPU per block in each step ----

// A sample stream that hands each pump the block the other wrote one block earlier (a clean line with one
// block of delay each way) and reports that latency.
struct BenchSide {
    LowerDriverInterface iface{};
    LowerDeviceRecord record{};
    LowerAudioInterface audio{};
    std::unique_ptr<DspContext> context = std::make_unique<DspContext>();
    std::unique_ptr<DspInterfaceBlock> block = std::make_unique<DspInterfaceBlock>();
    int16_t rx[96] = {};
    int16_t tx[96] = {};

    static uint16_t Read(void* h, int16_t* b, uint32_t bytes)
    {
        std::memcpy(b, static_cast<BenchSide*>(h)->rx, std::min<uint32_t>(bytes, sizeof(rx)));
        return 1;
    }
    static uint16_t Write(void* h, int16_t* b, uint32_t bytes)
    {
        std::memcpy(static_cast<BenchSide*>(h)->tx, b, std::min<uint32_t>(bytes, sizeof(tx)));
        return 1;
    }
    static int32_t Control(void* h, uint32_t code, void*, void* out)
    {
        if (code == LOWER_CODE_DEVICE_RECORD && out != nullptr)
            std::memcpy(out, &static_cast<BenchSide*>(h)->record, sizeof(record));
        return 0;
    }
    static void Event(DspInterfaceBlock* b) { WindowStore(b, kRegReplyCode, 0); }

    BenchSide()
    {
        std::memset(context.get(), 0, sizeof(DspContext));
        std::memset(block.get(), 0, sizeof(DspInterfaceBlock));
        iface.readBlock = Read;
        iface.writeBlock = Write;
        iface.control = Control;
        iface.secondControl = Control;
        iface.handle = this;
        record.rxDepthBlocks = 1;
        record.txDepthBlocks = 0;
        InitInterfaceBlock(block.get(), Event, CommandDispatcher);
        SetupLowerAudio(&audio, &iface);
        InitDspContext(context.get(), &audio, block.get());
    }
    void Send(uint8_t code, std::vector<uint8_t> payload)
    {
        for (size_t i = 0; i < payload.size(); ++i)
            WindowStore(block.get(), kRegCommandPayload + static_cast<int>(i), payload[i]);
        WindowStore(block.get(), kRegCommandLength, static_cast<uint8_t>(payload.size()));
        WindowStore(block.get(), kRegCommandCode, code);
        block->commandEntry(context.get());
    }
};

uint64_t CpuNs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<uint64_t>(t.tv_sec) * 1000000000u + static_cast<uint64_t>(t.tv_nsec);
}

// Per block of 10 ms: the CPU time of each pump's block, filed under the step the block started in.
void Phase2Pair(benchmark::State& state)
{
    std::map<std::pair<int, int>, std::vector<uint64_t>> steps;  // (side, step of its main list) -> ns
    for (auto _ : state) {
        BenchSide side[2];
        for (int s = 0; s < 2; ++s) {
            side[s].Send(0x60, {0});
            side[s].Send(0xA1, {2, 0});
            side[s].Send(0x68, {9, static_cast<uint8_t>(s == 0 ? 17 : 18), static_cast<uint8_t>(s == 0 ? 4 : 0), 1, 0, 0});
        }
        for (int b = 0; b < 600; ++b) {
            bool running = false;
            for (int s = 0; s < 2; ++s) {
                DspContext* c = side[s].context.get();
                if (c->blockHandler != &Phase2BlockHandler)
                    continue;
                running = true;
                const Phase2State& p = c->phase2;
                const int step = p.sequencer.list == Phase2MainList(s == 0) ? p.sequencer.position : -1;
                const uint64_t t0 = CpuNs();
                PerBlockEntry(c);
                steps[{s, step}].push_back(CpuNs() - t0);
            }
            if (!running)
                break;
            std::memcpy(side[0].rx, side[1].tx, sizeof(side[0].rx));
            std::memcpy(side[1].rx, side[0].tx, sizeof(side[1].rx));
        }
    }
    double worst = 1e300;
    for (auto& [key, ns] : steps) {
        std::sort(ns.begin(), ns.end());
        double mean = 0;
        for (uint64_t v : ns)
            mean += static_cast<double>(v);
        mean /= static_cast<double>(ns.size());
        const double p999 = static_cast<double>(ns[std::min(ns.size() - 1, ns.size() * 999 / 1000)]);
        const double max = static_cast<double>(ns.back());
        const std::string name = std::string(key.first == 0 ? "caller" : "answerer") +
                                 (key.second < 0 ? "_start" : "_main" + std::to_string(key.second));
        // Times real time: a block is 10 ms.
        state.counters[name + "_mean_x"] = 1e7 / mean;
        state.counters[name + "_p999_x"] = 1e7 / p999;
        state.counters[name + "_max_x"] = 1e7 / max;
        worst = std::min(worst, 1e7 / p999);
    }
    state.counters["worst_p999_x"] = worst;
}
BENCHMARK(Phase2Pair)->Iterations(10)->Unit(benchmark::kMillisecond);


// The line evaluation alone, on a measurement of L1 and L2 straight from the transmitter.
void EvaluateProbeOnly(benchmark::State& state)
{
    Phase2Transmitter t;
    InitPhase2Transmitter(&t, 1);
    TxProbeL1(&t);
    ProbeAnalysis p;
    InitProbeAnalysis(&p);
    for (int n = 0; n < 20000; ++n) {
        if (n == 1536)
            TxProbeL2(&t);
        if (ProbeAnalysisSample(&p, Phase2TransmitSample(&t)) == 1)
            break;
    }
    Phase2ProbeResults r{};
    for (auto _ : state)
        benchmark::DoNotOptimize(EvaluateProbe(&p, &r));
    state.counters["x_realtime_of_a_block"] = benchmark::Counter(static_cast<double>(state.iterations()) * 0.01,
                                                                 benchmark::Counter::kIsRate);
}
BENCHMARK(EvaluateProbeOnly);

}  // namespace

BENCHMARK_MAIN();
