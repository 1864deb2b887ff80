// Our signal paths beside libspandsp's doing the same job, in one run: DTMF generation and detection, the
// FSK modems (V.21, V.23, Bell 103) modulating and demodulating, call-progress and calling-tone detection,
// HDLC framing both ways, V.22bis, and the fax modems transmitting and receiving (side_by_side_modems.h). Each pair gets the same signal (ours at the pump's 9600 Hz, the peer's at 8000 Hz:
// the same tones, bits or frames) and each row prints how many seconds of signal one second of thread CPU
// time handles ("times real time"), medians of 5 runs, and ours over the peer's. HDLC rows count line bits
// at 9600 bit/s as one second. The table follows the benchmark's own output.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "layer1/dsp/detector_state.h"
#include "layer1/dsp/dsp_context.h"
#include "layer1/dsp/framer.h"
#include "layer1/dsp/register_window.h"
#include "layer1/dsp/tone_dual.h"
#include "layer1/modem/fsk/fsk_state.h"
#include "line/exchange_dtmf.h"

#include "bench_fixtures.h"
#include "side_by_side_modems.h"

#ifdef HAVE_SPANDSP
#include <spandsp.h>
#endif

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kOurBlock = 96;   // 10 ms at 9600 Hz
constexpr int kPeerBlock = 80;  // 10 ms at 8000 Hz
using sidebyside::CountSignal;
using sidebyside::kBlockSeconds;

struct Lfsr {
    uint32_t v = 0xACE1u;
    int Next()
    {
        v = (v >> 1) ^ (-(v & 1u) & 0xB400u);
        return static_cast<int>(v & 1u);
    }
};

std::vector<int16_t> Tones(int rate, double seconds, std::initializer_list<double> hz, double amplitude, double onS,
                           double offS)
{
    std::vector<int16_t> x(static_cast<size_t>(rate * seconds));
    for (size_t i = 0; i < x.size(); ++i) {
        const double t = static_cast<double>(i) / rate;
        const double inCycle = std::fmod(t, onS + offS);
        double v = 0;
        if (inCycle < onS)
            for (double f : hz)
                v += amplitude * std::sin(2 * kPi * f * t);
        x[i] = static_cast<int16_t>(std::lround(v));
    }
    return x;
}

// Plays a recording in a loop, one block at a time.
struct Loop {
    std::vector<int16_t> x;
    size_t at = 0;
    const int16_t* Next(size_t n)
    {
        if (at + n > x.size())
            at = 0;
        const int16_t* p = x.data() + at;
        at += n;
        return p;
    }
};

// ---- DTMF ---------------------------------------------------------------------------------------------------

void DtmfGenerateOurs(benchmark::State& state)
{
    DualToneGenerator g{};
    g.level1 = 20675;
    g.level2 = 16423;
    SetDtmfDigit(&g, 5);
    int16_t block[kOurBlock];
    for (auto _ : state) {
        DualToneFillBlock(&g, block, kOurBlock);
        benchmark::DoNotOptimize(block);
    }
    CountSignal(state, kBlockSeconds);
}

// Digits of 50 ms with pauses of 50 ms at 8000 Hz: the input of both DTMF receivers.
std::vector<int16_t> DtmfSignal();

void DtmfDetectOurs(benchmark::State& state)
{
    Loop in{DtmfSignal()};
    auto r = std::make_unique<DtmfReceiver>();
    DtmfReceiverInit(r.get());
    for (auto _ : state) {
        DtmfReceiverRun(r.get(), in.Next(kPeerBlock), kPeerBlock);
        r->verdictCount = 0;
    }
    CountSignal(state, kBlockSeconds);
}

// ---- FSK ----------------------------------------------------------------------------------------------------

struct FskBits {
    Lfsr lfsr;
    static int32_t Get(void* owner) { return static_cast<FskBits*>(owner)->lfsr.Next(); }
    static void Put(void*, int32_t) {}
    static void Status(void*, uint8_t, int) {}
};

void PrepareFsk(FskState* f, FskBits* bits, int32_t id)
{
    *f = FskState{};
    FskSelectChannels(f, id, id);
    f->mod.gain = 14289;
    f->port = FskPort{bits, FskBits::Get, FskBits::Put, nullptr, nullptr, FskBits::Status};
    FskResetModulator(f);
    FskResetReceiver(f);
}

void FskModulateOurs(benchmark::State& state)
{
    FskBits bits;
    auto f = std::make_unique<FskState>();
    PrepareFsk(f.get(), &bits, static_cast<int32_t>(state.range(0)));
    int16_t block[kOurBlock];
    for (auto _ : state) {
        FskModulate(f.get(), block, kOurBlock);
        benchmark::DoNotOptimize(block);
    }
    CountSignal(state, kBlockSeconds);
}

void FskDemodulateOurs(benchmark::State& state)
{
    const int32_t id = static_cast<int32_t>(state.range(0));
    FskBits bits;
    auto tx = std::make_unique<FskState>();
    auto rx = std::make_unique<FskState>();
    PrepareFsk(tx.get(), &bits, id);
    PrepareFsk(rx.get(), &bits, id);
    Loop in;
    in.x.resize(9600 * 2);
    for (size_t i = 0; i < in.x.size(); i += kOurBlock)
        FskModulate(tx.get(), in.x.data() + i, kOurBlock);
    for (auto _ : state)
        FskDemodulate(rx.get(), in.Next(kOurBlock), kOurBlock);
    CountSignal(state, kBlockSeconds);
}

// ---- Call progress and calling tone -----------------------------------------------------------------------

using benchsupport::DetectorPump;

// Mode 1 on the busy tone (480 + 620 Hz, 0.5 s on, 0.5 s off); mode 0 on the fax calling tone (1100 Hz).
void DetectorOurs(benchmark::State& state)
{
    const int32_t mode = static_cast<int32_t>(state.range(0));
    DetectorPump p;
    DspContext* ctx = p.ctx.get();
    ConfigureSection(&ctx->detector.bank, 0, kCallProgressBandSection);
    SetDetectorMode(ctx, mode);
    ctx->detector.energyReportFlag = 1;
    Loop in{mode == 1 ? Tones(9600, 1.0, {480, 620}, 2000, 0.5, 0.5) : Tones(9600, 3.5, {1100}, 4000, 0.5, 3.0)};
    for (auto _ : state) {
        std::memcpy(ctx->rxWork, in.Next(kOurBlock), kOurBlock * sizeof(int16_t));
        DetectorBlockStep(ctx);
        WindowStore(p.blk.get(), kRegReplyCode, 0);  // the controller takes what was posted
    }
    CountSignal(state, kBlockSeconds);
}

// ---- HDLC ---------------------------------------------------------------------------------------------------

constexpr int kHdlcBytesPerIteration = 36;  // 288 line bits: one 32-byte chunk with stuffing and flags
constexpr double kHdlcLineRate = 9600.0;

using benchsupport::FullRateMailbox;

// Transmit framing looped into the receive framer, eight bits at a time.
void HdlcOurs(benchmark::State& state)
{
    FullRateMailbox mailbox;
    auto framer = std::make_unique<BitStreamFramer>();
    *framer = BitStreamFramer{};
    framer->port = mailbox.Port();
    InitTxFramer(framer.get(), 2);
    InitRxFramer(framer.get(), 2);
    for (auto _ : state) {
        for (int i = 0; i < kHdlcBytesPerIteration; ++i)
            FramerPutRxBits(framer.get(), static_cast<uint32_t>(FramerGetTxBits(framer.get(), 8)), 8);
        FramerPostRxBytes(framer.get());
    }
    CountSignal(state, kHdlcBytesPerIteration * 8 / kHdlcLineRate);
}

#ifdef HAVE_SPANDSP

std::vector<int16_t> DtmfSignal()
{
    dtmf_tx_state_t* tx = dtmf_tx_init(nullptr);
    dtmf_tx_set_level(tx, -10, 2);
    dtmf_tx_set_timing(tx, 50, 50);
    dtmf_tx_put(tx, "1234567890*#ABCD", -1);
    std::vector<int16_t> x;
    int16_t buf[kPeerBlock];
    int n;
    while ((n = dtmf_tx(tx, buf, kPeerBlock)) > 0)
        x.insert(x.end(), buf, buf + n);
    dtmf_tx_free(tx);
    return x;
}

void DtmfGeneratePeer(benchmark::State& state)
{
    dtmf_tx_state_t* tx = dtmf_tx_init(nullptr);
    dtmf_tx_set_level(tx, -10, 2);
    dtmf_tx_set_timing(tx, 1000, 0);
    int16_t block[kPeerBlock];
    for (auto _ : state) {
        if (dtmf_tx(tx, block, kPeerBlock) < kPeerBlock)
            dtmf_tx_put(tx, "5555555555", -1);
        benchmark::DoNotOptimize(block);
    }
    dtmf_tx_free(tx);
    CountSignal(state, kBlockSeconds);
}

void IgnoreDigits(void*, const char*, int) {}

void DtmfDetectPeer(benchmark::State& state)
{
    Loop in{DtmfSignal()};
    dtmf_rx_state_t* rx = dtmf_rx_init(nullptr, IgnoreDigits, nullptr);
    for (auto _ : state)
        dtmf_rx(rx, in.Next(kPeerBlock), kPeerBlock);
    dtmf_rx_free(rx);
    CountSignal(state, kBlockSeconds);
}

const fsk_spec_t* PeerSpec(int32_t id)
{
    switch (id) {
    case FSK_V21_CH1: return &preset_fsk_specs[FSK_V21CH1];
    case FSK_BELL103_ORIGINATE: return &preset_fsk_specs[FSK_BELL103CH2];
    case FSK_V23_BACKWARD: return &preset_fsk_specs[FSK_V23CH2];
    default: return &preset_fsk_specs[FSK_V23CH1];
    }
}

int PeerGetBit(void* user) { return static_cast<Lfsr*>(user)->Next(); }
void PeerPutBit(void*, int) {}

void FskModulatePeer(benchmark::State& state)
{
    Lfsr bits;
    fsk_tx_state_t* tx = fsk_tx_init(nullptr, PeerSpec(static_cast<int32_t>(state.range(0))), PeerGetBit, &bits);
    int16_t block[kPeerBlock];
    for (auto _ : state) {
        fsk_tx(tx, block, kPeerBlock);
        benchmark::DoNotOptimize(block);
    }
    fsk_tx_free(tx);
    CountSignal(state, kBlockSeconds);
}

void FskDemodulatePeer(benchmark::State& state)
{
    const fsk_spec_t* spec = PeerSpec(static_cast<int32_t>(state.range(0)));
    Lfsr bits;
    fsk_tx_state_t* tx = fsk_tx_init(nullptr, spec, PeerGetBit, &bits);
    Loop in;
    in.x.resize(8000 * 2);
    for (size_t i = 0; i < in.x.size(); i += kPeerBlock)
        fsk_tx(tx, in.x.data() + i, kPeerBlock);
    fsk_tx_free(tx);
    fsk_rx_state_t* rx = fsk_rx_init(nullptr, spec, FSK_FRAME_MODE_SYNC, PeerPutBit, nullptr);
    for (auto _ : state)
        fsk_rx(rx, in.Next(kPeerBlock), kPeerBlock);
    fsk_rx_free(rx);
    CountSignal(state, kBlockSeconds);
}

void IgnoreTone(void*, int, int, int) {}

// The busy tone as a supervisory tone: 480 + 620 Hz, 0.5 s on, 0.5 s off, twice.
void BusyPeer(benchmark::State& state)
{
    super_tone_rx_descriptor_t* desc = super_tone_rx_make_descriptor(nullptr);
    const int tone = super_tone_rx_add_tone(desc);
    super_tone_rx_add_element(desc, tone, 480, 620, 400, 600);
    super_tone_rx_add_element(desc, tone, 0, 0, 400, 600);
    super_tone_rx_add_element(desc, tone, 480, 620, 400, 600);
    super_tone_rx_add_element(desc, tone, 0, 0, 400, 600);
    super_tone_rx_state_t* rx = super_tone_rx_init(nullptr, desc, IgnoreTone, nullptr);
    Loop in{Tones(8000, 1.0, {480, 620}, 2000, 0.5, 0.5)};
    for (auto _ : state)
        super_tone_rx(rx, in.Next(kPeerBlock), kPeerBlock);
    super_tone_rx_free(rx);
    super_tone_rx_free_descriptor(desc);
    CountSignal(state, kBlockSeconds);
}

void CallingTonePeer(benchmark::State& state)
{
    modem_connect_tones_rx_state_t* rx =
        modem_connect_tones_rx_init(nullptr, MODEM_CONNECT_TONES_FAX_CNG, IgnoreTone, nullptr);
    Loop in{Tones(8000, 3.5, {1100}, 4000, 0.5, 3.0)};
    for (auto _ : state)
        modem_connect_tones_rx(rx, in.Next(kPeerBlock), kPeerBlock);
    modem_connect_tones_rx_free(rx);
    CountSignal(state, kBlockSeconds);
}

struct PeerFrames {
    hdlc_tx_state_t* tx = nullptr;
    uint8_t chunk = 0;
    static void Underflow(void* user)
    {
        PeerFrames* p = static_cast<PeerFrames*>(user);
        uint8_t frame[4 * kMailboxBytes];
        for (int c = 0; c < 4; ++c, ++p->chunk)
            for (int i = 0; i < kMailboxBytes; ++i)
                frame[c * kMailboxBytes + i] = static_cast<uint8_t>(p->chunk + i * 37);
        hdlc_tx_frame(p->tx, frame, sizeof(frame));
    }
    static void Frame(void*, const uint8_t*, int, int) {}
};

// The same 128-byte frames, transmit framing looped into the receiver a byte at a time.
void HdlcPeer(benchmark::State& state)
{
    PeerFrames frames;
    frames.tx = hdlc_tx_init(nullptr, false, 1, false, PeerFrames::Underflow, &frames);
    hdlc_rx_state_t* rx = hdlc_rx_init(nullptr, false, false, 1, PeerFrames::Frame, nullptr);
    PeerFrames::Underflow(&frames);
    for (auto _ : state) {
        for (int i = 0; i < kHdlcBytesPerIteration; ++i)
            hdlc_rx_put_byte(rx, hdlc_tx_get_byte(frames.tx));
    }
    hdlc_rx_free(rx);
    hdlc_tx_free(frames.tx);
    CountSignal(state, kHdlcBytesPerIteration * 8 / kHdlcLineRate);
}

#else

std::vector<int16_t> DtmfSignal()
{
    std::vector<int16_t> x;
    for (int d = 0; d < 16; ++d) {
        const DtmfRow row = kDtmfTable[d];
        const std::vector<int16_t> t = Tones(8000, 0.1, {double(row.tone1Hz), double(row.tone2Hz)}, 6000, 0.05, 0.05);
        x.insert(x.end(), t.begin(), t.end());
    }
    return x;
}

#endif

// Registration: every row once for ours and once for the peer, named "row/ours" and "row/peer".
struct Row {
    const char* name;
    void (*ours)(benchmark::State&);
    void (*peer)(benchmark::State&);
    int64_t arg;
};

#ifdef HAVE_SPANDSP
#define PEER(f) f
#else
#define PEER(f) nullptr
#endif

const std::vector<Row>& Rows()
{
    static const std::vector<Row> rows = {
        {"DTMF generate", DtmfGenerateOurs, PEER(DtmfGeneratePeer), 0},
        {"DTMF detect", DtmfDetectOurs, PEER(DtmfDetectPeer), 0},
        {"V.21 ch1 modulate", FskModulateOurs, PEER(FskModulatePeer), FSK_V21_CH1},
        {"V.21 ch1 demodulate", FskDemodulateOurs, PEER(FskDemodulatePeer), FSK_V21_CH1},
        {"Bell 103 modulate", FskModulateOurs, PEER(FskModulatePeer), FSK_BELL103_ORIGINATE},
        {"Bell 103 demodulate", FskDemodulateOurs, PEER(FskDemodulatePeer), FSK_BELL103_ORIGINATE},
        {"V.23 1200 modulate", FskModulateOurs, PEER(FskModulatePeer), FSK_V23_1200},
        {"V.23 1200 demodulate", FskDemodulateOurs, PEER(FskDemodulatePeer), FSK_V23_1200},
        {"V.23 75 modulate", FskModulateOurs, PEER(FskModulatePeer), FSK_V23_BACKWARD},
        {"V.23 75 demodulate", FskDemodulateOurs, PEER(FskDemodulatePeer), FSK_V23_BACKWARD},
        {"Call progress (busy)", DetectorOurs, PEER(BusyPeer), 1},
        {"Calling tone (1100 Hz)", DetectorOurs, PEER(CallingTonePeer), 0},
        {"HDLC tx + rx", HdlcOurs, PEER(HdlcPeer), 0},
        {"V.22bis 2400 tx + rx", sidebyside::V22bisOurs, PEER(sidebyside::V22bisPeer), 0},
        {"V.27ter 4800 transmit", sidebyside::FaxTransmitOurs, PEER(sidebyside::FaxTransmitPeer), 1},
        {"V.27ter 4800 receive", sidebyside::FaxReceiveOurs, PEER(sidebyside::FaxReceivePeer), 1},
        {"V.29 9600 transmit", sidebyside::FaxTransmitOurs, PEER(sidebyside::FaxTransmitPeer), 4},
        {"V.29 9600 receive", sidebyside::FaxReceiveOurs, PEER(sidebyside::FaxReceivePeer), 4},
        {"V.17 14400 transmit", sidebyside::FaxTransmitOurs, PEER(sidebyside::FaxTransmitPeer), 8},
        {"V.17 14400 receive", sidebyside::FaxReceiveOurs, PEER(sidebyside::FaxReceivePeer), 8},
    };
    return rows;
}

// Collects the median of each row's times-real-time while the console reporter prints as usual.
class TableReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            if (r.run_type != Run::RT_Aggregate || r.aggregate_name != "median")
                continue;
            auto it = r.counters.find("xRT");
            if (it != r.counters.end())
                medians[r.run_name.function_name] = it->second.value;
        }
    }
    std::map<std::string, double> medians;
};

}  // namespace

int main(int argc, char** argv)
{
    for (const Row& row : Rows()) {
        for (int side = 0; side < 2; ++side) {
            void (*fn)(benchmark::State&) = side == 0 ? row.ours : row.peer;
            if (fn == nullptr)
                continue;
            const std::string name = std::string(row.name) + (side == 0 ? "/ours" : "/peer");
            const int64_t arg = row.arg;
            benchmark::RegisterBenchmark(name.c_str(), [fn, arg](benchmark::State& s) { fn(s); })
                ->Arg(arg)
                ->Repetitions(5)
                ->ReportAggregatesOnly(true)
                ->MinTime(0.05);
        }
    }
    benchmark::Initialize(&argc, argv);
    TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n%-24s %14s %14s %8s\n", "times real time", "ours", "libspandsp", "ratio");
    for (const Row& row : Rows()) {
        const std::string base(row.name);
        auto find = [&](const char* side) {
            auto it = reporter.medians.find(base + side);
            return it == reporter.medians.end() ? 0.0 : it->second;
        };
        const double ours = find("/ours");
        const double peer = find("/peer");
        if (ours == 0.0 && peer == 0.0)
            continue;
        if (peer > 0)
            std::printf("%-24s %14.0f %14.0f %8.2f\n", row.name, ours, peer, ours / peer);
        else
            std::printf("%-24s %14.0f %14s %8s\n", row.name, ours, "-", "-");
    }
    benchmark::Shutdown();
    return 0;
}
