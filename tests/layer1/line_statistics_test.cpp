// The line statistics the data pump serves to the controller's diagnostic screens: the smoothed powers of the
// sample stream's blocks read back as level readings through command 0x0A, and the entries that stay 0
// without an echo canceller.
#include <gtest/gtest.h>

#include <cmath>

#include "dsp_fixture.h"
#include "layer1/dsp/line_statistics.h"
#include "layer1/modem/v34/v34_pump.h"
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

// The V.34 readings: the symbol-rate indexes and the frequency offset phase 2 left, the option word of the
// transmitter in data mode, the receive level in dB (plus 5) of what arrives; what the receiver does not keep
// yet reads 0.
TEST(LineStatistics, V34ReadingsFromPhase2AndTheTransmitter)
{
    DspBench bench;
    DspContext* ctx = bench.context.get();
    LowerAudioInterface* la = ctx->lowerAudio;
    const int32_t n = la->format.blockLength;
    const double pi = std::acos(-1.0);
    const double amplitude = 22826.0 * std::pow(10.0, -13.0 / 20.0);
    for (int32_t i = 0; i < n; ++i)
        la->rxBuffer[i] = static_cast<int16_t>(std::lround(amplitude * std::sin(2 * pi * 1000.0 * i / 9600.0)));
    for (int block = 0; block < 100; ++block) {
        la->readIndex = n;
        UpdateLineStatistics(ctx);
    }
    EXPECT_EQ(ReadStatistic(bench, kMemStatRxLevelDb, 2), 13u + 5u);
    // Before the transmitter runs its option word is 0.
    EXPECT_EQ(ReadStatistic(bench, kMemStatTxOptions, 2), 0u);

    ctx->phase2.flags = kPhase2Caller;
    ctx->phase2Result.callerRateIndex = 5;   // this modem sends at 3429
    ctx->phase2Result.callerHighCarrier = 1;
    ctx->phase2Result.answererRateIndex = 4; // and receives 3200 on the low carrier
    ctx->phase2Result.answererHighCarrier = 0;
    ctx->phase2.probe.frequencyOffset = -250;  // +5 Hz measured (1/50 Hz units, negated)
    const BlockHandler idle = ctx->blockHandler;
    ctx->blockHandler = V34BlockHandler;
    ctx->v34pump.tx.encoder.trellisStates = 32;
    ctx->v34pump.tx.encoder.nonlinear = 1;
    ctx->v34pump.tx.encoder.frame.row = 1;
    EXPECT_EQ(ReadStatistic(bench, kMemStatRateIndexes, 2), 5u | 8u | (4u << 4));
    EXPECT_EQ(ReadStatistic(bench, kMemStatFarOffset, 4), 5u * kDiagOffsetPerHz);
    EXPECT_EQ(ReadStatistic(bench, kMemStatTxOptions, 2), (1u << kDiagOptionTrellisShift) | kDiagOptionNonlinear |
                                                              kDiagOptionExpanded);
    ctx->phase2Result.callerRateIndex = 0;
    ctx->phase2.flags = 0;  // the answerer: the directions swap
    EXPECT_EQ(ReadStatistic(bench, kMemStatRateIndexes, 2), 4u | (0u << 4) | (1u << 7));
    for (uint32_t id : {kMemStatSignalPower, kMemStatErrorPower})
        EXPECT_EQ(ReadStatistic(bench, id, 4), 0u) << id;
    for (uint32_t id : {kMemStatRxOptions, kMemStatTimingOffset, kMemStatTxSnr, kMemStatFrequency, kMemStatTiming})
        EXPECT_EQ(ReadStatistic(bench, id, 2), 0u) << id;
    ctx->blockHandler = idle;
}

}  // namespace
