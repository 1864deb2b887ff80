// The V.32bis transmitter's line signals: AA is the 1800 Hz carrier alone, AC the pair 600 + 3000 Hz, and the
// data signal's spectrum meets the Recommendation's shaping mask.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "layer1/modem/v32/v32.h"
#include "support/line_signal.h"
#include "welch_psd.h"

namespace {

std::vector<double> Send(V32Modem* m, int32_t samples)
{
    std::vector<double> out;
    const int16_t quiet[kV32BlockSamples] = {};
    int16_t block[kV32BlockSamples];
    for (int32_t k = 0; k < samples; k += kV32BlockSamples) {
        V32Block(m, quiet, block, kV32BlockSamples);
        out.insert(out.end(), block, block + kV32BlockSamples);
    }
    return out;
}

std::unique_ptr<V32Modem> Started(int32_t type)
{
    auto m = std::make_unique<V32Modem>();
    EXPECT_TRUE(V32Create(m.get()));
    V32Start(m.get(), V32Port{}, type, 0, 16, 0x9FF0, 8192, 0);
    return m;
}

TEST(V32Tx, TheCallersAaIsTheCarrierAlone)
{
    auto m = Started(V32_START_CALLER);
    const std::vector<double> x = Send(m.get(), 7200);
    const linetest::ToneFit f = linetest::FitTone(x, kV32SampleRate, 1800, 480, 7200);
    EXPECT_NEAR(f.frequency, 1800.0, 0.5);
    EXPECT_LT(f.residualDb, -40.0);
    EXPECT_GT(f.amplitude, 3000.0);
    EXPECT_EQ(m->tx.state, 1);
    V32Destroy(m.get());
}

TEST(V32Tx, TheAnswerersAcIs600And3000HzWithoutTheCarrier)
{
    auto m = Started(V32_START_ANSWERER);
    Send(m.get(), 480);          // silence until the caller is heard
    m->detectFlag = 1;           // as the receiver sets it on AA
    const std::vector<double> x = Send(m.get(), 336);
    ASSERT_EQ(m->tx.state, 33);
    const linetest::ToneFit low = linetest::FitTone(x, kV32SampleRate, 600, 48, 336);
    const linetest::ToneFit high = linetest::FitTone(x, kV32SampleRate, 3000, 48, 336);
    const linetest::ToneFit carrier = linetest::FitTone(x, kV32SampleRate, 1800, 48, 336);
    EXPECT_NEAR(low.frequency, 600.0, 1.0);
    EXPECT_NEAR(high.frequency, 3000.0, 1.0);
    EXPECT_NEAR(low.amplitude, high.amplitude, 0.05 * low.amplitude);
    EXPECT_LT(carrier.amplitude, 0.01 * low.amplitude);
    V32Destroy(m.get());
}

// Data from random bits at the given rate word, from a caller already in data.
std::vector<double> DataSignal(uint16_t word, double seconds)
{
    struct Source {
        uint32_t state = 12345;
        static int32_t Bits(void* owner, int32_t n)
        {
            Source* s = static_cast<Source*>(owner);
            s->state = s->state * 1103515245u + 12345u;
            return static_cast<int32_t>((s->state >> 8) & ((1u << n) - 1u));
        }
    } source;
    V32Modem m{};
    EXPECT_TRUE(V32Create(&m));
    V32Start(&m, V32Port{&source, Source::Bits, nullptr, nullptr, nullptr, nullptr}, V32_START_CALLER, 0, 16, 0x9FF0,
             8192, 0);
    V32TxApplyRate(&m, word);
    m.tx.state = 9;
    m.tx.count = -1;
    m.tx.startCount = 128;
    std::vector<double> x(static_cast<size_t>(seconds * kV32SampleRate));
    for (double& v : x)
        v = V32TxSample(&m);
    V32Destroy(&m);
    x.erase(x.begin(), x.begin() + 480);  // the filter filling
    return x;
}

// With scrambled data the energy density at 600 and 3000 Hz lies 4.5 +- 2.5 dB below the highest density
// between them (the Recommendation's mask for the transmitted spectrum); the spectrum is symmetric about the
// 1800 Hz carrier (a mirrored or shifted spectrum would not be) and the band edges beyond the roll-off are
// quiet. The pulse is a full raised cosine with a small roll-off: 6 dB down at the edges, within the mask; a
// root-raised-cosine transmitter would be 3 dB down there, equally within it.
TEST(V32Tx, TheDataSpectrumMeetsTheShapingMask)
{
    for (uint16_t word : {uint16_t{0x9980}, uint16_t{0x88A0}}) {
        const std::vector<double> x = DataSignal(word, 6.0);
        double highest = 0;
        for (double f = 600; f <= 3000; f += 25)
            highest = std::max(highest, psdtest::PsdAt(x, kV32SampleRate, f));
        const double at600 = psdtest::Db(highest) - psdtest::Db(psdtest::PsdAt(x, kV32SampleRate, 600));
        const double at3000 = psdtest::Db(highest) - psdtest::Db(psdtest::PsdAt(x, kV32SampleRate, 3000));
        std::printf("rate word %04x: %.2f dB down at 600 Hz, %.2f dB down at 3000 Hz\n", word, at600, at3000);
        EXPECT_NEAR(at600, 4.5, 2.5) << std::hex << word;
        EXPECT_NEAR(at3000, 4.5, 2.5) << std::hex << word;
        for (double d = 0; d <= 1100; d += 100) {
            const double lo = psdtest::Db(psdtest::PsdAt(x, kV32SampleRate, 1800 - d));
            const double hi = psdtest::Db(psdtest::PsdAt(x, kV32SampleRate, 1800 + d));
            EXPECT_NEAR(lo, hi, 1.0) << std::hex << word << std::dec << " at 1800 +- " << d;
        }
        for (double f : {200.0, 3400.0})
            EXPECT_LT(psdtest::Db(psdtest::PsdAt(x, kV32SampleRate, f)), psdtest::Db(highest) - 25) << f;
    }
}

}  // namespace
