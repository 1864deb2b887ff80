// The V.32bis transmitter's line signals: AA is the 1800 Hz carrier alone, AC the pair 600 + 3000 Hz.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "layer1/modem/v32/v32.h"
#include "support/line_signal.h"

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

}  // namespace
