// Tones and digits as the pump sends them on the line, captured at 8000 samples per second on the port's
// network side: DTMF pairs against the telephone standard's frequencies, levels of the level command,
// on and off times, the calling and answer tones with their cadences and phase reversals, tone pairs, pulse
// digits as break and make of the loop, and an independent DTMF receiver decoding what was dialled.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "layer1/dsp/mode_entries.h"
#include "layer1/dsp/register_window.h"
#include "layer1/dsp/tone_dual.h"
#include "layer1/dsp/tone_generator.h"
#include "line/wav_file.h"
#include "support/line_signal.h"
#include "support/pump_harness.h"
#include "tone_measure.h"

#ifdef HAVE_SPANDSP
#include <spandsp.h>
#endif

using pumptest::PumpModem;
using pumptest::RunFor;
using tonetest::Amplitude;
using tonetest::PeakFrequency;

namespace {

constexpr size_t kBlock = 80;  // one 10 ms block at 8000 samples per second

// One pump on the line, looped back, with its transmit direction captured.
struct ToneLine {
    platform::Clock clock;
    platform::ClockThread self{clock};
    LineNetwork* network = LineNetworkCreate();
    LineEndpoint* loop = LineLoopbackCreate();
    std::unique_ptr<PumpModem> modem;
    std::string path = linetest::TempPrefix() + "tone_line_tx.raw";
    std::vector<double> line;

    ToneLine()
    {
        modem = std::make_unique<PumpModem>(clock, network);
        LineConnect(network, &modem->Port()->endpoint, loop, LineConnectionParams{});
        std::string error;
        EXPECT_TRUE(modem->Capture(path, "", &error)) << error;
        EXPECT_EQ(modem->Start(), STATUS_SUCCESS);
    }
    ~ToneLine()
    {
        modem.reset();
        LineNetworkDestroy(network);
        LineEndpointDestroy(loop);
        std::remove(path.c_str());
    }
    DspContext* Ctx() { return modem->Context(); }
    void Send(uint8_t code, const std::vector<uint8_t>& payload) { modem->SendCommand(code, payload); }
    // Runs a pump-internal start as the block thread would, under the device lock.
    void StartToneNow(int32_t type)
    {
        platform::MachineScope scope(modem->Machine());
        LockDsp(Ctx()->interfaceBlock);
        StartTone(Ctx(), type);
        UnlockDsp(Ctx()->interfaceBlock);
    }
    // Removes the pump and reads what it sent into `line`.
    void Finish()
    {
        ASSERT_EQ(modem->Remove(), STATUS_SUCCESS);
        LinePortCloseCaptures(modem->Port());
        SampleFileReader r;
        std::string error;
        ASSERT_TRUE(SampleFileOpenRead(&r, path, LINE_FILE_RAW, &error)) << error;
        int16_t buffer[800];
        size_t n;
        while ((n = SampleFileRead(&r, buffer, 800)) != 0)
            line.insert(line.end(), buffer, buffer + n);
        SampleFileCloseRead(&r);
    }
};

struct Burst {
    size_t begin;
    size_t end;  // one past the last sample above the threshold
};

// Runs of signal above a quarter of its peak; quieter gaps shorter than `bridge` samples do not end a run.
// The quarter-peak threshold keeps the converter's ringing at the edges out of the runs.
std::vector<Burst> Bursts(const std::vector<double>& x, size_t bridge = 40)
{
    double peak = 0;
    for (double v : x)
        peak = std::max(peak, std::fabs(v));
    const double threshold = peak / 4;
    std::vector<Burst> out;
    size_t i = 0;
    while (i < x.size()) {
        if (std::fabs(x[i]) <= threshold) {
            ++i;
            continue;
        }
        size_t last = i;
        size_t j = i + 1;
        for (; j < x.size() && j - last <= bridge; ++j) {
            if (std::fabs(x[j]) > threshold)
                last = j;
        }
        out.push_back({i, last + 1});
        i = j;
    }
    return out;
}

// A burst's length in blocks: exact to the block means within a fifth of one.
void ExpectBlocks(const Burst& b, int blocks, const char* what)
{
    const double n = static_cast<double>(b.end - b.begin);
    EXPECT_NEAR(n, blocks * static_cast<double>(kBlock), 16.0) << what;
}

std::vector<double> Middle(const std::vector<double>& x, const Burst& b, size_t trim)
{
    return std::vector<double>(x.begin() + static_cast<long>(b.begin + trim), x.begin() + static_cast<long>(b.end - trim));
}

double GainDb(int16_t gain) { return 20 * std::log10(gain / 32768.0); }

struct LevelCase {
    const char* name;
    bool command;              // send 0x88 (else the levels the pump starts with)
    uint8_t low;               // 0x88 payload[0]: low group, 0.1 dB of attenuation
    uint8_t high;              // payload[1]: high group
    int32_t lowDb, highDb;     // the levels those select
    bool clean;                // no clipping: the levels can be measured
};

// Dials 0-9, A-D, * and # with 100 ms on, 100 ms off; returns the captured line.
std::vector<double> DialAll(const LevelCase& c)
{
    ToneLine t;
    if (c.command)
        t.Send(0x88, {c.low, c.high});
    t.Send(0x66, {100, 100, 0, 0, 0, 0});
    for (uint8_t digit = 0; digit < 16; ++digit) {
        t.Send(0x67, {digit});
        RunFor(250);
    }
    t.Finish();
    return t.line;
}

const LevelCase kLevels[] = {
    {"default", false, 0, 0, kDefaultLowGroupDb, kDefaultHighGroupDb, true},
    {"-10/-8 dB", true, 100, 80, -10, -8, true},
    {"lowest", true, 255, 255, -26, -26, true},
    {"highest", true, 0, 0, 0, 0, false},
};

#ifdef HAVE_SPANDSP
std::string Decode(const std::vector<double>& x)
{
    std::vector<int16_t> pcm(x.size());
    for (size_t i = 0; i < x.size(); ++i)
        pcm[i] = static_cast<int16_t>(x[i]);
    dtmf_rx_state_t* rx = dtmf_rx_init(nullptr, nullptr, nullptr);
    dtmf_rx(rx, pcm.data(), static_cast<int>(pcm.size()));
    char digits[64] = {};
    dtmf_rx_get(rx, digits, 63);
    dtmf_rx_free(rx);
    return digits;
}
#endif

TEST(ToneLine, DtmfPairsLevelsAndOnTimesOnTheLine)
{
    for (const LevelCase& c : kLevels) {
        SCOPED_TRACE(c.name);
        const std::vector<double> x = DialAll(c);
        const std::vector<Burst> bursts = Bursts(x);
        ASSERT_EQ(bursts.size(), 16u);
        for (int digit = 0; digit < 16; ++digit) {
            SCOPED_TRACE(digit);
            ExpectBlocks(bursts[digit], 10, "on time");
            if (digit > 0) {  // the next digit was sent 250 ms after the last: 15 blocks of silence between
                EXPECT_NEAR(static_cast<double>(bursts[digit].begin - bursts[digit - 1].end), 15.0 * kBlock, 16.0);
            }
            if (!c.clean)
                continue;
            const std::vector<double> mid = Middle(x, bursts[digit], kBlock);
            const DtmfRow row = kDtmfTable[digit];
            const double f1 = PeakFrequency(mid, row.tone1Hz);
            const double f2 = PeakFrequency(mid, row.tone2Hz);
            EXPECT_NEAR(f1, row.tone1Hz, 0.5);
            EXPECT_NEAR(f2, row.tone2Hz, 0.5);
            EXPECT_NEAR(GainDb(static_cast<int16_t>(std::lround(Amplitude(mid, f1)))),
                        GainDb(kGainTable[-c.highDb]), 0.2);
            EXPECT_NEAR(GainDb(static_cast<int16_t>(std::lround(Amplitude(mid, f2)))),
                        GainDb(kGainTable[-c.lowDb]), 0.2);
        }
#ifdef HAVE_SPANDSP
        EXPECT_EQ(Decode(x), "0123456789ABCD*#");
#endif
    }
}

}  // namespace
