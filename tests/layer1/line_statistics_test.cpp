// The line statistics the data pump serves to the controller's diagnostic screens: the smoothed powers of the
// sample stream's blocks read back as level readings through command 0x0A, and the entries that stay 0
// without an echo canceller.
#include <gtest/gtest.h>

#include <cmath>

#include "dsp_fixture.h"
#include "layer1/dsp/line_statistics.h"
#include "window/parameter_ids.h"

namespace {

using dsptest::Bytes;
using dsptest::DspBench;

uint32_t ReadStatistic(DspBench& bench, uint32_t id, uint8_t bytes)
{
    const Bytes r = bench.Reply(0x0A, Bytes{static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8)});
    EXPECT_EQ(r.size(), 4u + bytes) << id;
    if (r.size() != 4u + bytes || r[0] != 0x15)
        return 0xDEADBEEF;
    uint32_t v = 0;
    for (int k = bytes - 1; k >= 0; --k)
        v = (v << 8) | r[4 + k];
    return v;
}

TEST(LineStatistics, BlockPowersReadAsLevels)
{
    DspBench bench;
    LowerAudioInterface* la = bench.context->lowerAudio;
    const int32_t n = la->format.blockLength;
    const double pi = std::acos(-1.0);
    // Received: a 1000 Hz sine at -13 dBm0; sent: one at -6 dBm0, but only in blocks written whole.
    const double rxAmplitude = 22826.0 * std::pow(10.0, -13.0 / 20.0);
    const double txAmplitude = 22826.0 * std::pow(10.0, -6.0 / 20.0);
    for (int32_t i = 0; i < n; ++i) {
        la->rxBuffer[i] = static_cast<int16_t>(std::lround(rxAmplitude * std::sin(2 * pi * 1000.0 * i / 9600.0)));
        la->txBuffer[i] = static_cast<int16_t>(std::lround(txAmplitude * std::sin(2 * pi * 1000.0 * i / 9600.0)));
    }
    for (int block = 0; block < 100; ++block) {
        la->readIndex = n;
        la->writeIndex = block % 2 == 0 ? n : n / 2;
        UpdateLineStatistics(bench.context.get());
    }
    const double rxReading = std::sqrt(rxAmplitude * rxAmplitude / 2 * 36.5);
    const double txReading = std::sqrt(txAmplitude * txAmplitude / 2 * 36.5);
    EXPECT_NEAR(ReadStatistic(bench, kMemStatRxLevel, 4), rxReading, rxReading * 0.01);
    EXPECT_NEAR(ReadStatistic(bench, kMemStatTxLevel, 4), txReading, txReading * 0.01);
    const double reference = std::sqrt(txAmplitude * txAmplitude / 2 * 26.872);
    EXPECT_NEAR(ReadStatistic(bench, kMemStatEchoReference, 4), reference, reference * 0.01);
    // Without an echo canceller running there is no echo and no round trip to report.
    EXPECT_EQ(ReadStatistic(bench, kMemStatNearEcho, 4), 0u);
    EXPECT_EQ(ReadStatistic(bench, kMemStatFarEcho, 4), 0u);
    EXPECT_EQ(ReadStatistic(bench, kMemStatRoundTrip, 2), 0u);
    // A block that was not read leaves the receive power alone.
    for (int32_t i = 0; i < n; ++i)
        la->rxBuffer[i] = 0;
    la->readIndex = 0;
    UpdateLineStatistics(bench.context.get());
    EXPECT_NEAR(ReadStatistic(bench, kMemStatRxLevel, 4), rxReading, rxReading * 0.01);
}

}  // namespace
