// Tones and digits as the pump sends them on the line, captured at 8000 samples per second on the port's
// network side: DTMF pairs against the telephone standard's frequencies, levels of the level command,
// on and off times, the calling and answer tones with their cadences and phase reversals, tone pairs, pulse
// digits as break and make of the loop, and an independent DTMF receiver decoding what was dialled.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "layer1/dsp/mode_entries.h"
#include "layer1/dsp/nco.h"
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

double QuarterPeak(const std::vector<double>& x)
{
    double peak = 0;
    for (double v : x)
        peak = std::max(peak, std::fabs(v));
    return peak / 4;
}

// Runs of signal above the threshold; quieter gaps shorter than `bridge` samples do not end a run. A quarter
// of the tone's amplitude keeps the converter's ringing at the edges out of the runs.
std::vector<Burst> Bursts(const std::vector<double>& x, double threshold, size_t bridge = 40)
{
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

double GainDb(double gain) { return 20 * std::log10(gain / 32768.0); }

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


TEST(ToneLine, DtmfPairsLevelsAndOnTimesOnTheLine)
{
    for (const LevelCase& c : kLevels) {
        SCOPED_TRACE(c.name);
        const std::vector<double> x = DialAll(c);
        const std::vector<Burst> bursts = Bursts(x, QuarterPeak(x));
        ASSERT_EQ(bursts.size(), 16u);
        for (int digit = 0; digit < 16; ++digit) {
            SCOPED_TRACE(digit);
            ExpectBlocks(bursts[digit], 10, "on time");
            if (!c.clean)
                continue;
            const std::vector<double> mid = Middle(x, bursts[digit], kBlock);
            const DtmfRow row = kDtmfTable[digit];
            // The frequencies do not depend on the level: searched for once.
            const bool search = &c == &kLevels[0];
            const double f1 = search ? PeakFrequency(mid, row.tone1Hz) : row.tone1Hz;
            const double f2 = search ? PeakFrequency(mid, row.tone2Hz) : row.tone2Hz;
            EXPECT_NEAR(f1, row.tone1Hz, 0.5);
            EXPECT_NEAR(f2, row.tone2Hz, 0.5);
            EXPECT_NEAR(GainDb(Amplitude(mid, f1)), GainDb(kGainTable[-c.highDb]), 0.2);
            EXPECT_NEAR(GainDb(Amplitude(mid, f2)), GainDb(kGainTable[-c.lowDb]), 0.2);
        }
#ifdef HAVE_SPANDSP
        EXPECT_EQ(tonetest::DecodeDtmf(x), "0123456789ABCD*#");
#endif
    }
}

struct PulseCase {
    uint8_t digit;
    size_t pulses;
};

// Pulse mode: each pulse opens the loop (code 2) for the on time and closes it (code 1) for the off time.
TEST(ToneLine, PulseDigitsBreakAndMakeTheLoop)
{
    ToneLine t;
    t.modem->SetRegister(kRegGpioData0, 0x04);
    RunFor(30);
    t.modem->SetRegister(kRegGpioData0, 0x00);  // off hook
    RunFor(30);
    ASSERT_TRUE(LinePortLoopClosed(t.modem->Port()));
    std::vector<LineControlRecord> log(kLineControlLogEntries);
    const size_t before = LinePortGetLog(t.modem->Port(), log.data(), log.size());
    t.Send(0x66, {60, 40, 1, 0, 44, 1});  // 60 ms break, 40 ms make, 300 ms between digits
    const PulseCase digits[] = {{0, 10}, {3, 3}, {1, 1}};
    for (const PulseCase& d : digits) {
        t.Send(0x67, {d.digit});
        RunFor(static_cast<LONGLONG>(d.pulses) * 100 + 400);
    }
    EXPECT_TRUE(LinePortLoopClosed(t.modem->Port()));
    const size_t n = LinePortGetLog(t.modem->Port(), log.data(), log.size());
    std::vector<LineControlRecord> hook;
    for (size_t i = before; i < n; ++i) {
        if (log[i].entry == 1 && (log[i].code == 1 || log[i].code == 2))
            hook.push_back(log[i]);
    }
    ASSERT_EQ(hook.size(), 2u * (10 + 3 + 1));
    size_t at = 0;
    for (const PulseCase& d : digits) {
        for (size_t p = 0; p < d.pulses; ++p, at += 2) {
            SCOPED_TRACE(testing::Message() << "digit " << int(d.digit) << " pulse " << p);
            EXPECT_EQ(hook[at].code, 2u);      // break
            EXPECT_EQ(hook[at + 1].code, 1u);  // make
            EXPECT_EQ(hook[at + 1].time - hook[at].time, 600000);
            if (p + 1 < d.pulses) {
                EXPECT_EQ(hook[at + 2].time - hook[at + 1].time, 400000);
            }
        }
    }
}

// StartTone(2): 61 blocks of 1300 Hz at the transmit level, 170 blocks of silence, then the tone again at
// amplitude 6916.
TEST(ToneLine, CallingToneCadenceAndTheLevelAfterSilence)
{
    ToneLine t;
    t.StartToneNow(2);
    RunFor(610 + 1700 + 610 + 300);
    t.Finish();
    const std::vector<Burst> bursts = Bursts(t.line, 6916 / 4.0);
    ASSERT_EQ(bursts.size(), 2u);
    ExpectBlocks(bursts[0], 61, "first tone");
    ExpectBlocks(Burst{bursts[0].end, bursts[1].begin}, 170, "silence");
    ExpectBlocks(bursts[1], 61, "second tone");
    const double expected[] = {GainDb(kGainTable[0]), GainDb(6916)};
    for (int i = 0; i < 2; ++i) {
        const std::vector<double> mid = Middle(t.line, bursts[i], kBlock);
        const double f = PeakFrequency(mid, 1300);
        EXPECT_NEAR(f, 1300, 0.5);
        EXPECT_NEAR(GainDb(Amplitude(mid, f)), expected[i], 0.2);
    }
}

// StartTone(1), the fax calling tone: 1100 Hz for 0.5 s every 3.5 s (0.5 s on, 3 s off), every burst at the
// level of the bursts after a silence (about -10 dBm0), the first too.
TEST(ToneLine, FaxCallingToneCadenceAndLevel)
{
    ToneLine t;
    t.StartToneNow(1);
    RunFor(500 + 3000 + 500 + 3000 + 500 + 300);
    t.Finish();
    const std::vector<Burst> bursts = Bursts(t.line, 6916 / 4.0);
    ASSERT_EQ(bursts.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        ExpectBlocks(bursts[i], 50, "tone");
        if (i > 0)
            ExpectBlocks(Burst{bursts[i - 1].end, bursts[i].begin}, 300, "silence");
        const std::vector<double> mid = Middle(t.line, bursts[i], kBlock);
        const double f = PeakFrequency(mid, 1100);
        EXPECT_NEAR(f, 1100, 0.5);
        EXPECT_NEAR(GainDb(Amplitude(mid, f)), GainDb(6916), 0.2);
    }
}

// Answering with the single-tone option: 2100 Hz at the transmit level for 341 blocks, then status state 8
// with a notification, then silence.
TEST(ToneLine, AnswerToneAtTheTransmitLevelThenSingleToneState)
{
    ToneLine t;
    t.modem->SetRegister(kRegHostControl, kNotifyEnable);
    t.Send(0x7B, {12730 & 0xFF, 12730 >> 8, 0});  // -6 dB
    t.modem->ClearEvents();
    t.Send(0x68, {0x04, 0x01, 0x20, 0x00});
    EXPECT_EQ(t.modem->Register(kRegStatus) & 0x0F, 7);
    RunFor(3300);
    EXPECT_EQ(t.modem->Register(kRegStatus) & 0x0F, 7);
    RunFor(300);
    EXPECT_EQ(t.modem->Register(kRegStatus) & 0x0F, 8);
    bool notified = false;
    for (const pumptest::PumpEvent& e : t.modem->Events())
        notified = notified || (!e.packet && (e.status & 0x0F) == 8);
    EXPECT_TRUE(notified);
    RunFor(300);
    t.Finish();
    const std::vector<Burst> bursts = Bursts(t.line, QuarterPeak(t.line));
    ASSERT_EQ(bursts.size(), 1u);
    ExpectBlocks(bursts[0], 341, "answer tone");
    const std::vector<double> mid = Middle(t.line, bursts[0], 40 * kBlock);
    const double f = PeakFrequency(mid, 2100);
    EXPECT_NEAR(f, 2100, 0.5);
    EXPECT_NEAR(GainDb(Amplitude(mid, f)), GainDb(kGainTable[6]), 0.2);
}

// StartTone(5): 2100 Hz whose phase turns by half a cycle every 45 blocks.
TEST(ToneLine, AnswerToneReversesItsPhaseEvery45Blocks)
{
    ToneLine t;
    t.StartToneNow(5);
    RunFor(2500);
    t.Finish();
    const std::vector<Burst> bursts = Bursts(t.line, QuarterPeak(t.line));
    ASSERT_EQ(bursts.size(), 1u);
    const double pi = std::acos(-1.0);
    std::vector<std::complex<double>> window;
    for (size_t w = bursts[0].begin; w + kBlock <= bursts[0].end; w += kBlock) {
        std::complex<double> z;
        for (size_t i = w; i < w + kBlock; ++i)
            z += t.line[i] * std::polar(1.0, -2 * pi * 2100.0 * static_cast<double>(i) / 8000.0);
        window.push_back(z);
    }
    ASSERT_GE(window.size(), 200u);
    const double full = std::abs(window[2]);
    std::vector<size_t> flips;
    int state = 0;
    for (size_t w = 1; w < window.size(); ++w) {
        if (std::abs(window[w]) < 0.8 * full)
            continue;  // the window that holds the reversal
        const int s = std::real(window[w] * std::conj(window[0])) > 0 ? 0 : 1;
        const double drift = std::abs(std::arg(window[w] * std::conj(window[0]) * (s ? -1.0 : 1.0)));
        EXPECT_LT(drift, 0.2) << w;
        if (s != state)
            flips.push_back(w);
        state = s;
    }
    ASSERT_GE(flips.size(), 4u);
    EXPECT_NEAR(static_cast<double>(flips[0]), 44, 1);
    for (size_t i = 1; i < flips.size(); ++i)
        EXPECT_EQ(flips[i] - flips[i - 1], 45u) << i;
}

struct PairCase {
    const char* name;
    uint8_t control;
    double tone1Hz, tone2Hz;  // the tones at level 1 and level 2
    int16_t gain1, gain2;
};

// The words of 0x7C are phase steps, swapped unless control bit 2 is set, which also sets level 1 to the
// transmit level. The pair plays until a 0x7C with control 0, and commands are answered meanwhile.
TEST(ToneLine, TonePairPlaysUntilStopped)
{
    const uint32_t w1 = NcoPhaseStep(1000);
    const uint32_t w2 = NcoPhaseStep(1800);
    const PairCase cases[] = {
        {"swapped", 1, 1800, 1000, kGainTable[8], kGainTable[10]},
        {"in order at the transmit level", 5, 1000, 1800, kGainTable[6], kGainTable[10]},
    };
    for (const PairCase& c : cases) {
        SCOPED_TRACE(c.name);
        ToneLine t;
        t.Send(0x7B, {12730 & 0xFF, 12730 >> 8, 0});  // -6 dB
        t.Send(0x88, {100, 80});                      // low group (level 2) -10 dB, high group (level 1) -8 dB
        t.modem->ClearEvents();
        t.Send(0x7C, {uint8_t(w1), uint8_t(w1 >> 8), uint8_t(w2), uint8_t(w2 >> 8), c.control, 0});
        RunFor(300);
        t.Send(0x7C, {0, 0, 0, 0, 0, 0});
        int acks = 0;
        for (const pumptest::PumpEvent& e : t.modem->Events())
            acks += e.bytes == std::vector<uint8_t>{0xC0, 0, 1, 0, 0x7C} ? 1 : 0;
        EXPECT_EQ(acks, 2);
        RunFor(200);
        t.Finish();
        const std::vector<Burst> bursts = Bursts(t.line, QuarterPeak(t.line));
        ASSERT_EQ(bursts.size(), 1u);
        // 30 blocks between the commands, the first silent; each command meets the block of its instant
        // before or after that block runs.
        EXPECT_NEAR(static_cast<double>(bursts[0].end - bursts[0].begin), 29.0 * kBlock, kBlock + 16.0);
        const std::vector<double> mid = Middle(t.line, bursts[0], kBlock);
        const double f1 = PeakFrequency(mid, c.tone1Hz);
        const double f2 = PeakFrequency(mid, c.tone2Hz);
        EXPECT_NEAR(f1, c.tone1Hz, 0.5);
        EXPECT_NEAR(f2, c.tone2Hz, 0.5);
        EXPECT_NEAR(GainDb(Amplitude(mid, f1)), GainDb(c.gain1), 0.2);
        EXPECT_NEAR(GainDb(Amplitude(mid, f2)), GainDb(c.gain2), 0.2);
    }
}

#ifdef HAVE_SPANDSP
struct ConnectToneCase {
    const char* name;
    int32_t type;        // StartTone type
    int detector;        // the independent detector's tone kind
    int expected;        // what it must report
    int unexpected;      // what it must not
};

void RecordTone(void* user, int code, int, int)
{
    static_cast<std::vector<int>*>(user)->push_back(code);
}

// An independent detector of modem connect tones recognises the calling and answer tones on the line, and
// tells the answer tone with phase reversals from the plain one.
TEST(ToneLine, IndependentDetectorRecognisesCallingAndAnswerTones)
{
    const ConnectToneCase cases[] = {
        {"plain answer tone", 4, MODEM_CONNECT_TONES_ANS_PR, MODEM_CONNECT_TONES_ANS, MODEM_CONNECT_TONES_ANS_PR},
        {"answer tone with reversals", 5, MODEM_CONNECT_TONES_ANS_PR, MODEM_CONNECT_TONES_ANS_PR, -1},
        {"1300 Hz calling tone", 2, MODEM_CONNECT_TONES_CALLING_TONE, MODEM_CONNECT_TONES_CALLING_TONE, -1},
        {"1100 Hz calling tone", 1, MODEM_CONNECT_TONES_FAX_CNG, MODEM_CONNECT_TONES_FAX_CNG, -1},
    };
    for (const ConnectToneCase& c : cases) {
        SCOPED_TRACE(c.name);
        ToneLine t;
        t.Send(0x7B, {8032 & 0xFF, 8032 >> 8, 0});  // -10 dB
        t.StartToneNow(c.type);
        RunFor(3000);
        t.Finish();
        std::vector<int16_t> pcm(t.line.begin(), t.line.end());
        std::vector<int> reports;
        modem_connect_tones_rx_state_t* rx = modem_connect_tones_rx_init(nullptr, c.detector, RecordTone, &reports);
        modem_connect_tones_rx(rx, pcm.data(), static_cast<int>(pcm.size()));
        modem_connect_tones_rx_free(rx);
        EXPECT_NE(std::find(reports.begin(), reports.end(), c.expected), reports.end());
        EXPECT_EQ(std::find(reports.begin(), reports.end(), c.unexpected), reports.end());
    }
}
#endif

}  // namespace
