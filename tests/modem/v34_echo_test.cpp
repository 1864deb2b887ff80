// The V.34 echo canceller's pieces: the tap scaling table, the ring's wrap, the unrotated far section of mode
// 0, the estimate's refusals (no energy, buffers too short) and the Hilbert line.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "tests/modem/v34_rx_line.h"

namespace {

using v34test::RxBench;

void FillTaps(VekC32 taps[kEchoTapSet], int32_t largest)
{
    for (int i = 0; i < kEchoTapSet; ++i)
        taps[i] = VekC32{0, 0};
    taps[17].im = -largest;
    taps[90].re = largest / 3;
}

TEST(V34Echo, SetEchoScaleShiftsUpToTheLimitAtMostTwelveTimes)
{
    struct Case {
        int32_t largest;
        int32_t shifts;
    };
    for (const Case c : {Case{0, 12}, Case{1, 12}, Case{0x8000000, 1}, Case{0x8000001, 0}, Case{0x4000000, 2},
                         Case{0x7FFFFFFF, 0}}) {
        RxBench b(10);
        EchoCanceller& ec = b.rx.echo;
        VekC32 nearTaps[kEchoTapSet];
        VekC32 farTaps[kEchoTapSet];
        FillTaps(nearTaps, c.largest);
        FillTaps(farTaps, c.largest);
        const int32_t n = SetEchoScale(&ec, nearTaps, farTaps);
        EXPECT_EQ(n & 0xFF, c.shifts) << c.largest;
        EXPECT_EQ(n >> 8, c.shifts) << c.largest;
        EXPECT_EQ(nearTaps[17].im, static_cast<int32_t>(static_cast<uint32_t>(-c.largest) << c.shifts));
        EXPECT_EQ(ec.nearShift, 16 + c.shifts - 6);
        EXPECT_EQ(ec.farShift, 15 + c.shifts - 6);
        // The error scalers follow the shifts: right below the nominal shift, left above it.
        if (ec.nearShift <= 16) {
            EXPECT_EQ(ec.nearScaler, &ShiftRight16);
            EXPECT_EQ(ec.nearScalerCount, 16 - ec.nearShift);
        } else {
            EXPECT_EQ(ec.nearScaler, &ShiftLeft16);
            EXPECT_EQ(ec.nearScalerCount, ec.nearShift - 16);
        }
        if (ec.farShift < 16) {
            EXPECT_EQ(ec.farScaler, &ShiftRight16);
            EXPECT_EQ(ec.farScalerCount, 15 - ec.farShift);
        } else {
            EXPECT_EQ(ec.farScaler, &ShiftLeft16);
            EXPECT_EQ(ec.farScalerCount, ec.farShift - 15);
        }
    }
}

// Taps that give each sample phase the symbol's real part (unit gain at lag 0).
void UnitTaps(LmsState* const filters[3])
{
    VekC32 taps[kEchoTapSet] = {};
    for (int a = 0; a < 3; ++a)
        taps[kEchoTaps * a].re = 0x7FFF0000;  // high half 32767: the near output is shifted right by 15
    LoadEchoTaps(filters, taps);
}

TEST(V34Echo, NearSectionReadsTheRingAcrossItsWrap)
{
    RxBench b(10);
    EchoCanceller& ec = b.rx.echo;
    SetEchoDelays(&ec, 5, 500);
    ResetEchoCanceller(&ec, 0);
    UnitTaps(ec.nearFilter);
    for (uint32_t i = 0; i < 4096; ++i)
        ec.ring.ring[i] = PackComplex(static_cast<int32_t>(i % 2000) - 1000, 77);
    ec.ring.readIndex = 4090;  // groups 0 ... 31 read entries 4085 ... 4095, 0 ... 20
    int16_t block[kV34BlockSamples] = {};
    CancelEcho(&ec, block);
    for (int g = 0; g < kV34BlockSymbols; ++g) {
        const uint32_t at = (4090u + g - 5u) & 4095u;
        const int32_t want = -(static_cast<int32_t>(at % 2000) - 1000);
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(block[3 * g + i], want, 1) << g << " " << i;
    }
    EXPECT_EQ(ec.ring.readIndex, (4090u + 32u) & 4095u);
}

TEST(V34Echo, ModeZeroSubtractsTheFarEstimateUnrotated)
{
    for (int32_t mode : {int32_t{0}, int32_t{kEchoRotation}}) {
        RxBench b(10);
        EchoCanceller& ec = b.rx.echo;
        SetEchoDelays(&ec, 5, 400);
        ResetEchoCanceller(&ec, 0);
        VekC32 taps[kEchoTapSet] = {};
        for (int a = 0; a < 3; ++a)
            taps[kEchoTaps * a].re = 0x40000000;
        // The far output is shifted right by s_f = 15: the high half 16384 gives half the symbol.
        LoadEchoTaps(ec.farFilter, taps);
        for (uint32_t i = 0; i < 4096; ++i)
            ec.ring.ring[i] = PackComplex(3000, 2000);
        ec.mode = mode;
        ec.farLoop.phase = 0x40000000;  // a quarter turn
        int16_t block[kV34BlockSamples] = {};
        CancelEcho(&ec, block);
        // (1500, 1000) unrotated: -1500; conjugated and turned a quarter: (1000, 1500), so -1000.
        EXPECT_NEAR(block[95], mode == 0 ? -1500 : -999, 3) << mode;
        if (mode == 0)
            EXPECT_EQ(ec.farLoop.phase, 0x40000000);
    }
}

TEST(V34Echo, EstimateRefusesWhatItCannotMeasure)
{
    RxBench b(10);
    EchoCanceller& ec = b.rx.echo;
    SetEchoDelays(&ec, 5, 400);
    ResetEchoCanceller(&ec, 0);
    VekC32 taps[kEchoTapSet];
    // No capture yet.
    EXPECT_EQ(EstimateEchoTaps(&ec, 5, taps), -1);
    // A full capture against a silent ring: no energy, a zero estimate.
    StartEchoCapture(&ec);
    int16_t block[kV34BlockSamples];
    for (int i = 0; i < kV34BlockSamples; ++i)
        block[i] = static_cast<int16_t>(1000 * std::sin(0.3 * i));
    while (EchoCaptureBlock(&ec, block) != 0) {
    }
    EXPECT_EQ(ec.estimation.captureCount, kEchoCapture);
    for (int i = 0; i < kEchoTapSet; ++i)
        taps[i] = VekC32{5, 5};
    EXPECT_EQ(EstimateEchoTaps(&ec, 5, taps), -1);
    for (int i = 0; i < kEchoTapSet; ++i) {
        EXPECT_EQ(taps[i].re, 0);
        EXPECT_EQ(taps[i].im, 0);
    }
    // More symbols than the buffers hold are refused, not read.
    VekC32 phase[kEchoTaps];
    EXPECT_EQ(CorrelateEcho(0, kEchoCaptureGroups + 1, &ec.estimation, phase), -1);
    EXPECT_EQ(CorrelateEcho(3, 10, &ec.estimation, phase), -1);
    EXPECT_EQ(EchoEnergy(kEchoCapture, 8, ec.estimation.capture) > 0, true);
    const PackedComplex zeros[16] = {};
    EXPECT_EQ(EchoEnergy(16, 8, zeros), 0);
}

TEST(V34Echo, HilbertLineGivesTheConjugateAnalyticSignalNineSamplesLate)
{
    HilbertLine line;
    BuildHilbertLine(&line);
    EXPECT_EQ(line.coefficient[0], 1932);
    EXPECT_EQ(line.coefficient[4], 17396);
    EXPECT_EQ(line.coefficient[5], -17396);
    EXPECT_EQ(line.coefficient[9], -1932);
    const double w = 2 * M_PI * 0.18;
    for (int n = 0; n < 200; ++n) {
        const PackedComplex h = HilbertStep(&line, static_cast<int16_t>(std::lround(10000 * std::cos(w * n))));
        if (n < 30)
            continue;
        // Real part: the sample nine back; imaginary part: -sin, the conjugate of the analytic signal, with the
        // filter's gain (about 0.82 here: its coefficients are 17396 / 32768 times 1 / (2k + 1), not 2 / pi).
        EXPECT_NEAR(RealPart(h), 10000 * std::cos(w * (n - 9)), 1.0);
        EXPECT_NEAR(ImagPart(h), -8200 * std::sin(w * (n - 9)), 400.0);
    }
    EchoDelayLine d{};
    for (int n = 0; n < 30; ++n) {
        const PackedComplex old = DelayStep(&d, static_cast<PackedComplex>(n + 1));
        EXPECT_EQ(old, n >= 9 ? static_cast<PackedComplex>(n - 8) : 0u);
    }
}

}  // namespace
