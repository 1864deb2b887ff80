// The INFO receiver on signals from a floating-point DPSK transmitter: frames through the line model at every
// sample offset on both carriers, CRC errors reported once, lengths that are not accepted, the tone and
// reversal events at their sample counts, and the designed filters' responses.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "layer1/modem/v34/bit_field.h"
#include "layer1/modem/v34/info_frames.h"
#include "layer1/modem/v34/info_receiver.h"
#include "support/line_path.h"
#include "v34_dpsk.h"

namespace {

using v34test::DpskTransmitter;
using v34test::kSamplesPerBit;

constexpr double kAmplitude = 7218;  // a sine at -10 dBm0

std::vector<int> FrameBits(const uint32_t* words, uint32_t n)
{
    std::vector<int> bits;
    for (uint32_t i = 0; i < n; ++i)
        bits.push_back(static_cast<int>(GetBits32(words, static_cast<int32_t>(i), 1)));
    return bits;
}

// Body bit k of a received frame of n bits: full words hold it at k mod 16; the last partly filled word holds
// its bits at the top.
int BodyBit(const uint16_t* words, int32_t n, int32_t k)
{
    const int32_t word = k / 16;
    const int32_t filled = (word + 1) * 16 <= n ? 16 : n - word * 16;
    return (words[word] >> (16 - filled + k % 16)) & 1;
}

std::vector<int> RandomInfo0(std::mt19937& rng)
{
    Info0Fields f{};
    for (uint16_t& c : f.capability)
        c = rng() & 1;
    f.maxRateDifference = rng() & 7;
    f.cme = rng() & 1;
    f.constellation1664 = rng() & 1;
    f.pcmOffer = rng() & 1;
    f.pcmOption = rng() & 1;
    f.acknowledge = rng() & 1;
    uint32_t words[kInfoFrameWords32] = {};
    return FrameBits(words, BuildInfo0(f, words));
}

struct Reports {
    int frames = 0;    // state 3 with every body bit as sent
    int wrong = 0;     // state 3 that matches no frame sent
    int crcErrors = 0; // state 4
};

// Runs samples through the receiver, reading every report and matching frames in sending order.
class Listener {
public:
    Listener(int32_t caller, std::vector<int32_t> lengths)
    {
        InitInfoReceiver(&rx, caller, lengths[0]);
        ExpectInfoLengths(&rx, lengths.data(), static_cast<int32_t>(lengths.size()));
    }
    void Run(const std::vector<int16_t>& samples, const std::vector<std::vector<int>>& sent)
    {
        for (int16_t s : samples) {
            const int32_t st = InfoReceiverSample(&rx, s);
            if (st != kInfoRxFrame && st != kInfoRxCrcError)
                continue;
            uint16_t words[kInfoBodyWords16] = {};
            int32_t n = 0;
            EXPECT_EQ(InfoReceiverRead(&rx, words, &n), st);
            EXPECT_EQ(rx.state, kInfoRxNothing);
            if (st == kInfoRxCrcError) {
                ++reports.crcErrors;
                continue;
            }
            bool matched = false;
            for (size_t j = next; j < sent.size() && j < next + 3 && !matched; ++j) {
                const std::vector<int>& f = sent[j];
                if (static_cast<int32_t>(f.size()) != n + 16)
                    continue;
                bool same = true;
                for (int32_t k = 0; k < n; ++k)
                    same = same && BodyBit(words, n, k) == f[kInfoHeadBits + k];
                if (same) {
                    matched = true;
                    next = j + 1;
                }
            }
            ++(matched ? reports.frames : reports.wrong);
        }
    }
    InfoReceiver rx;
    Reports reports;
    size_t next = 0;
};

// Sends frames with gaps of carrier; frame i starts at sample offset i mod 16 of the bit clock.
std::vector<int16_t> SendFrames(DpskTransmitter* tx, const std::vector<std::vector<int>>& frames, std::mt19937& rng)
{
    std::vector<int16_t> out;
    tx->Carrier(400, &out);
    for (size_t i = 0; i < frames.size(); ++i) {
        for (int b = 0, gap = 6 + static_cast<int>(rng() % 10); b < gap; ++b)
            tx->Bit(0, &out);
        const size_t want = i % kSamplesPerBit;
        tx->Carrier(static_cast<int>((want + kSamplesPerBit - out.size() % kSamplesPerBit) % kSamplesPerBit), &out);
        for (int bit : frames[i])
            tx->Bit(bit, &out);
    }
    tx->Carrier(400, &out);
    return out;
}

TEST(V34InfoReceiver, FindsFramesThroughTheLineAtEverySampleOffset)
{
#ifdef MODEM_UNDER_SANITIZER
    const int kFrames = 96;  // three at each offset for each sign of the offset
#else
    const int kFrames = 1000;
#endif
    // The receiving side: 1 hears the answerer's 2400 Hz, 0 the caller's 1200 Hz. Half the frames arrive
    // 7 Hz high, half 7 Hz low.
    for (int32_t caller : {1, 0}) {
        Reports total;
        for (double offsetHz : {7.0, -7.0}) {
            std::mt19937 rng(100 + caller * 2 + (offsetHz > 0));
            std::vector<std::vector<int>> frames;
            for (int i = 0; i < kFrames / 2; ++i)
                frames.push_back(RandomInfo0(rng));
            DpskTransmitter tx(caller ? 2400.0 : 1200.0, kAmplitude);
            const std::vector<int16_t> sent = SendFrames(&tx, frames, rng);
            // 20 dB of loss, noise 15 dB below the received signal, the carrier shifted by the offset.
            linetest::LinePath line(9600, 9600, 15.0, -10.0, 7 + caller, offsetHz, 20.0);
            const std::vector<int16_t> received = line.Process(sent.data(), sent.size());
            Listener listener(caller, {static_cast<int32_t>(kInfo0Body)});
            listener.Run(received, frames);
            total.frames += listener.reports.frames;
            total.wrong += listener.reports.wrong;
            total.crcErrors += listener.reports.crcErrors;
        }
        EXPECT_GE(total.frames * 1000, kFrames * 999) << caller;
        EXPECT_EQ(total.wrong, 0) << caller;
        EXPECT_LE(total.crcErrors, kFrames / 100) << caller;
        std::printf("carrier %d Hz: %d of %d frames, %d CRC errors\n", caller ? 2400 : 1200, total.frames, kFrames,
                    total.crcErrors);
    }
}

// A frame whose CRC field has one bit changed gives state 4 once; the receiver then finds the next frame.
TEST(V34InfoReceiver, FlippedCrcBitReportsOnceThenSearchesAgain)
{
    std::mt19937 rng(3);
    for (int bit = 0; bit < 16; ++bit) {
        std::vector<std::vector<int>> frames = {RandomInfo0(rng), RandomInfo0(rng)};
        frames[0][29 + bit] ^= 1;
        DpskTransmitter tx(1200.0, kAmplitude);
        const std::vector<int16_t> sent = SendFrames(&tx, frames, rng);
        Listener listener(0, {static_cast<int32_t>(kInfo0Body)});
        listener.Run(sent, {frames[1]});
        EXPECT_EQ(listener.reports.crcErrors, 1) << bit;
        EXPECT_EQ(listener.reports.frames, 1) << bit;
        EXPECT_EQ(listener.reports.wrong, 0) << bit;
    }
}

TEST(V34InfoReceiver, OnlyAcceptedLengthsReport)
{
    std::mt19937 rng(8);
    // An INFO1a (54-bit body) and an 8-bit-information frame (24-bit body) against several length lists.
    Info1aFields fa{1, 2, 3, 1, 4, 5, 2, 3, 100};
    uint32_t w[kInfoFrameWords32] = {};
    const std::vector<int> info1a = FrameBits(w, BuildInfo1aFrame(fa, false, w));
    uint32_t s[kInfoFrameWords32] = {};
    uint32_t p = PutBits(s, 0, kInfoHeadBits, kInfoFillAndSync);
    p = PutBits(s, p, 8, 0xA5);
    p = PutBits(s, p, 16, StreamCrc(s, kInfoHeadBits, 8));
    const std::vector<int> shortFrame = FrameBits(s, PutBits(s, p, 4, kInfoFill));
    struct Case {
        std::vector<int32_t> lengths;
        std::vector<int> frame;
        int found;
    };
    const Case cases[] = {
        {{33}, info1a, 0},
        {{33, 24}, info1a, 0},
        {{54}, info1a, 1},
        {{33, 54, 93}, info1a, 1},
        {{33}, shortFrame, 0},
        {{33, 24}, shortFrame, 1},
        {{46, 54}, shortFrame, 0},
    };
    for (const Case& c : cases) {
        DpskTransmitter tx(2400.0, kAmplitude);
        const std::vector<int16_t> sent = SendFrames(&tx, {c.frame}, rng);
        Listener listener(1, c.lengths);
        listener.Run(sent, {c.frame});
        EXPECT_EQ(listener.reports.frames, c.found) << c.lengths.size() << " " << c.frame.size();
        EXPECT_EQ(listener.reports.wrong, 0);
    }
}

TEST(V34InfoReceiver, LengthListsAreBounded)
{
    InfoReceiver rx;
    InitInfoReceiver(&rx, 0, 33);
    const int32_t many[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    ExpectInfoLengths(&rx, many, 10);
    EXPECT_EQ(rx.lengthCount, 8);
    EXPECT_EQ(rx.maxLength, 8);
    // Longer than the 160-bit registers: never accepted.
    const int32_t big[3] = {33, 161, 1000};
    ExpectInfoLengths(&rx, big, 3);
    EXPECT_EQ(rx.lengthCount, 1);
    EXPECT_EQ(rx.maxLength, 33);
    ExpectInfoLength(&rx, 160);
    EXPECT_EQ(rx.maxLength, 160);
}

// Random input of every kind (full-scale noise, silence, clipped tone) with the carrier filter switched at
// random: nothing breaks, no frame is reported, and the states stay within the reported set.
TEST(V34InfoReceiver, RandomInputReportsNoFrame)
{
#ifdef MODEM_UNDER_SANITIZER
    const int kSamples = 60000;
#else
    const int kSamples = 400000;
#endif
    std::mt19937 rng(99);
    for (int32_t caller : {0, 1}) {
        InfoReceiver rx;
        InitInfoReceiver(&rx, caller, 33);
        const int32_t lengths[] = {33, 24, 46, 54, 93, 160, 0, -5, 400};
        ExpectInfoLengths(&rx, lengths, 9);
        int frames = 0;
        int kind = 0;
        for (int i = 0; i < kSamples; ++i) {
            if (i % 997 == 0) {
                kind = static_cast<int>(rng() % 3);
                if (rng() % 4 == 0)
                    SetCarrierFilter(&rx, static_cast<int32_t>(rng() % 2));
            }
            const int16_t s = kind == 0 ? static_cast<int16_t>(rng())
                              : kind == 1 ? 0
                                          : static_cast<int16_t>(i % 8 < 4 ? 32767 : -32768);
            const int32_t st = InfoReceiverSample(&rx, s);
            ASSERT_TRUE(st >= kInfoRxReversalRun && st <= kInfoRxSync) << st;
            if (st == kInfoRxFrame || st == kInfoRxCrcError) {
                uint16_t words[kInfoBodyWords16];
                int32_t n = -1;
                frames += InfoReceiverRead(&rx, words, &n) == kInfoRxFrame;
            }
        }
        EXPECT_EQ(frames, 0) << caller;
    }
}

// Clean carrier at the receiver's frequency: the tone state comes when 257 samples without reversal have
// been counted, a single reversal after it gives state 6 once, and a run of reversals state 2 after 513.
TEST(V34InfoReceiver, ToneAndReversalEvents)
{
    for (int32_t caller : {0, 1}) {
        DpskTransmitter tx(caller ? 2400.0 : 1200.0, kAmplitude);
        std::vector<int16_t> x;
        tx.Carrier(1000, &x);
        const size_t reversalAt = x.size();
        tx.Reversal(&x);
        tx.Carrier(600, &x);
        const size_t runAt = x.size();
        for (int i = 0; i < 60; ++i)
            tx.Bit(1, &x);
        InfoReceiver rx;
        InitInfoReceiver(&rx, caller, 33);
        int tones = 0, singles = 0, runs = 0;
        bool toneChecked = false;
        for (size_t i = 0; i < x.size(); ++i) {
            const int32_t before = rx.toneCount;
            const int32_t runBefore = rx.reversalRunCount;
            const int32_t reversalBefore = rx.reversalCount;
            const int32_t st = InfoReceiverSample(&rx, x[i]);
            if (st == kInfoRxTone && !toneChecked) {
                EXPECT_EQ(before, 256) << caller;
                EXPECT_EQ(rx.toneCount, 257) << caller;
                toneChecked = true;
            }
            if (st == kInfoRxReversal) {
                ++singles;
                EXPECT_GT(i, reversalAt);
                EXPECT_LT(i, reversalAt + 2 * kSamplesPerBit + kInfoRxFilterTaps);
                EXPECT_GE(reversalBefore, 1);
                EXPECT_LE(reversalBefore, 31);
            }
            if (st == kInfoRxReversalRun) {
                ++runs;
                EXPECT_EQ(runBefore, 512);
                EXPECT_GT(i, runAt + 512);
            }
            if (st != kInfoRxNothing)
                InfoReceiverRead(&rx, nullptr, nullptr);
            tones += st == kInfoRxTone;
        }
        EXPECT_TRUE(toneChecked) << caller;
        EXPECT_EQ(singles, 1) << caller;
        EXPECT_EQ(runs, 1) << caller;  // 960 samples of reversals: one run of 513
    }
}

// The narrow carrier filter lets the far end's carrier through as a steady tone and keeps tones off the
// carrier out entirely (no signal); without it an off-carrier tone still never counts as the steady tone.
TEST(V34InfoReceiver, CarrierFilterPassesOnlyTheCarrier)
{
    struct Case {
        int32_t caller;
        int32_t filter;
        double hz;
        bool tone;     // state 5 reported
        bool silent;   // every sample after the first 300 seen as no signal
    };
    const Case cases[] = {
        {0, 1, 1200, true, false}, {0, 1, 1500, false, true}, {0, 1, 900, false, true},
        {1, 1, 2400, true, false}, {1, 1, 2100, false, true}, {1, 1, 1200, false, true},
        {0, 0, 1200, true, false}, {0, 0, 1500, false, false}, {1, 0, 2400, true, false},
    };
    for (const Case& c : cases) {
        DpskTransmitter tx(c.hz, kAmplitude);
        std::vector<int16_t> x;
        tx.Carrier(2000, &x);
        InfoReceiver rx;
        InitInfoReceiver(&rx, c.caller, 33);
        SetCarrierFilter(&rx, c.filter);
        bool tone = false, silent = true;
        for (size_t i = 0; i < x.size(); ++i) {
            tone = InfoReceiverSample(&rx, x[i]) == kInfoRxTone || tone;
            silent = silent && (i < 300 || rx.lowEnergyCount == 150);
        }
        EXPECT_EQ(tone, c.tone) << c.caller << " " << c.filter << " " << c.hz;
        EXPECT_EQ(silent, c.silent) << c.caller << " " << c.filter << " " << c.hz;
    }
}

// Behind the narrow carrier filter, line noise alone (band-limited by the 8000 Hz network) is never taken for
// the far end's steady tone or a reversal, however loud; the far end's carrier under noise 10 dB down is still
// a tone, found within about 100 ms. The line is a -10 dBm0 carrier's with the noise at
// -10 - snr dBm0; the carrier is switched off (silence, as when this modem probes the line) or on.
TEST(V34InfoReceiver, NoiseBehindTheCarrierFilterIsNoTone)
{
    struct Case {
        double snrDb;
        bool carrier;
    };
    const Case cases[] = {{10, false}, {17, false}, {20, false}, {25, false}, {35, false}, {10, true}, {20, true}};
    for (int32_t caller : {0, 1}) {
        for (const Case& c : cases) {
            DpskTransmitter tx(caller ? 2400.0 : 1200.0, c.carrier ? kAmplitude : 0.0);
            std::vector<int16_t> x;
            tx.Carrier(6000, &x);
            linetest::LinePath line(9600, 9600, c.snrDb, -10.0, 7 + caller);
            const std::vector<int16_t> y = line.Process(x.data(), x.size());
            InfoReceiver rx;
            InitInfoReceiver(&rx, caller, 93);
            SetCarrierFilter(&rx, 1);
            int tones = 0, reversals = 0;
            size_t firstTone = 0;
            for (size_t i = 0; i < y.size(); ++i) {
                const int32_t st = InfoReceiverSample(&rx, y[i]);
                if (st == kInfoRxTone && tones++ == 0)
                    firstTone = i;
                reversals += st == kInfoRxReversal;
                if (st != kInfoRxNothing)
                    InfoReceiverRead(&rx, nullptr, nullptr);
            }
            if (c.carrier) {
                EXPECT_GT(tones, 0) << caller << " " << c.snrDb;
                EXPECT_LT(firstTone, 1000u) << caller << " " << c.snrDb;
            } else {
                EXPECT_EQ(tones, 0) << caller << " " << c.snrDb;
            }
            EXPECT_EQ(reversals, 0) << caller << " " << c.snrDb;
        }
    }
}

// The designed pair: gain 2 at the carrier for positive frequencies, the image and the other carrier at least
// 40 dB down; the carrier filter has gain 1 at its carrier.
TEST(V34InfoReceiver, FilterResponses)
{
    const double pi = std::acos(-1.0);
    for (int32_t high : {0, 1}) {
        const double fc = high ? 2400.0 : 1200.0;
        const int16_t* ci = InfoRxFilterI(high);
        const int16_t* cq = InfoRxFilterQ(high);
        EXPECT_EQ(ci[kInfoRxFilterTaps], 0);
        // Entry k >= 1 weighs delay k - 1, entry 0 delay 62.
        auto response = [&](double f) {
            std::complex<double> g = 0;
            for (int k = 0; k < kInfoRxFilterTaps; ++k) {
                const int delay = k == 0 ? kInfoRxFilterTaps - 1 : k - 1;
                g += std::complex<double>(ci[k], cq[k]) * std::polar(1.0, -2 * pi * f * delay / 9600.0);
            }
            return std::abs(g) / 32768.0;
        };
        EXPECT_NEAR(response(fc), 2.0, 0.01) << high;
        EXPECT_GT(response(fc + 300), 1.4) << high;
        EXPECT_GT(response(fc - 300), 1.4) << high;
        for (double f = -4800; f <= 4800; f += 25) {
            if (std::fabs(f - fc) >= 900) {
                EXPECT_LT(20 * std::log10(response(f) / 2.0), -40.0) << high << " " << f;
            }
        }
        const int16_t* carrier = InfoCarrierFilter(high);
        std::complex<double> g = 0;
        for (int k = 0; k < kInfoCarrierTaps; ++k)
            g += static_cast<double>(carrier[k]) * std::polar(1.0, -2 * pi * fc * k / 9600.0);
        EXPECT_NEAR(std::abs(g) / 32768.0, 1.0, 0.01) << high;
    }
}

}  // namespace
