// The V.34 echo canceller's pieces: the tap scaling table, the ring's wrap, the unrotated far section of mode
// 0, the estimate's refusals (no energy, buffers too short) and the Hilbert line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <random>
#include <utility>
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

namespace {

// A transmitter whose own echo comes back: the near echo through a short hybrid response after the sample
// path's latency, the far echo a round trip later with a frequency offset. The far end is silent.
class EchoLoop {
public:
    EchoLoop(int32_t latency, double erlDb, int32_t roundTrip, double farDb, double farOffsetHz)
        : rxb_(10), txb_(5, 0, 2728, &rxb_.rx.echo.ring), latency_(latency), roundTrip_(roundTrip)
    {
        // A decaying, ringing hybrid response of 40 samples scaled to the echo return loss.
        double energy = 0;
        for (int m = 0; m < 40; ++m) {
            hybrid_[m] = std::exp(-m / 8.0) * std::cos(0.9 * m + 0.4) * (m == 0 ? 1.0 : 0.8);
            energy += hybrid_[m] * hybrid_[m];
        }
        const double scale = std::pow(10.0, -erlDb / 20.0) / std::sqrt(energy);
        for (double& h : hybrid_)
            h *= scale;
        far_.gain = farDb > 0 ? std::pow(10.0, -farDb / 20.0) : 0.0;  // 0: no far echo
        far_.offsetHz = farOffsetHz;
        far_.highPassHz = 0.0;
    }
    V34Receiver& rx() { return rxb_.rx; }

    // One block: the received echo into the canceller, then the transmitter's block. Returns the echo
    // power and the residual power of the block.
    std::pair<double, double> Block()
    {
        int16_t in[kV34BlockSamples];
        double echoPower = 0;
        for (int i = 0; i < kV34BlockSamples; ++i) {
            const int64_t n = static_cast<int64_t>(received_) + i;
            double v = 0;
            for (int m = 0; m < 40; ++m)
                v += hybrid_[m] * Sent(n - latency_ - m);
            int16_t farSample = 0;
            if (far_.gain > 0 && n >= roundTrip_) {
                if (!far_.Next(&farSample))
                    farSample = 0;
            }
            v += farSample;
            in[i] = static_cast<int16_t>(std::lround(v));
            echoPower += double{in[i]} * in[i];
        }
        received_ += kV34BlockSamples;
        int16_t* block = rxb_.rx.block;
        for (int i = 0; i < kV34BlockSamples; ++i)
            block[i] = in[i];
        if (rxb_.rx.echo.estimation.capturing != 0)
            EchoCaptureBlock(&rxb_.rx.echo, block);
        rxb_.rx.cancel(&rxb_.rx.echo, block);
        double residual = 0;
        for (int i = 0; i < kV34BlockSamples; ++i)
            residual += double{block[i]} * block[i];
        // The transmitter's block after the receiver's, as in the block handler.
        PackedComplex symbols[kV34BlockSymbols];
        for (PackedComplex& s : symbols) {
            constexpr int16_t levels[4] = {-384, -128, 128, 384};
            s = ScaleTransmitPoint(0, 13848, 0x7FFF, PackComplex(levels[rng_() & 3], levels[rng_() & 3]));
        }
        int16_t out[kV34BlockSamples];
        txb_.Block(symbols, out);
        sent_.insert(sent_.end(), out, out + kV34BlockSamples);
        far_.Push(out, kV34BlockSamples);
        return {echoPower, residual};
    }

private:
    double Sent(int64_t n) const { return n < 0 || n >= static_cast<int64_t>(sent_.size()) ? 0.0 : sent_[n]; }

    RxBench rxb_;
    v34test::TxBench txb_;
    int32_t latency_;
    int32_t roundTrip_;
    double hybrid_[40];
    std::vector<int16_t> sent_;
    v34test::Line far_;
    uint64_t received_ = 0;
    std::mt19937 rng_{17};
};

double Db(double a, double b) { return 10 * std::log10(a / (b > 0 ? b : 1e-9)); }

struct EchoCase {
    double erlDb;
    int32_t latency;  // samples
};

// Erle over the given number of blocks.
double Erle(EchoLoop& loop, int blocks)
{
    double echo = 0, residual = 0;
    for (int b = 0; b < blocks; ++b) {
        const auto [e, r] = loop.Block();
        echo += e;
        residual += r;
    }
    return Db(echo, residual);
}

// Capture, estimate at the given delays, scale and load; returns the ERLE of the estimate alone.
void EstimateAndLoad(EchoLoop& loop, int32_t nearDelay, int32_t farDelay)
{
    EchoCanceller& ec = loop.rx().echo;
    StartEchoCapture(&ec);
    while (ec.estimation.capturing != 0)
        loop.Block();
    VekC32 nearTaps[kEchoTapSet];
    VekC32 farTaps[kEchoTapSet];
    EXPECT_EQ(EstimateEchoTaps(&ec, nearDelay, nearTaps), 0);
    if (farDelay >= 0)
        EXPECT_EQ(EstimateEchoTaps(&ec, farDelay, farTaps), 0);
    else
        std::fill(farTaps, farTaps + kEchoTapSet, VekC32{0, 0});
    SetEchoScale(&ec, nearTaps, farTaps);
    LoadEchoTaps(ec.nearFilter, nearTaps);
    LoadEchoTaps(ec.farFilter, farTaps);
}

TEST(V34Echo, NearEchoIsCancelledByFortyDecibelsAfterEstimateAndAdaptation)
{
    for (const EchoCase c : {EchoCase{6, 205}, EchoCase{12, 250}, EchoCase{20, 301}}) {
        EchoLoop loop(c.latency, c.erlDb, 0, 0, 0);
        EchoCanceller& ec = loop.rx().echo;
        const int32_t nearDelay = c.latency / 3;
        SetEchoDelays(&ec, nearDelay, nearDelay + 3000);
        ResetEchoCanceller(&ec, 0);
        loop.rx().cancel = CancelEcho;
        for (int b = 0; b < 10; ++b)
            loop.Block();
        EXPECT_LT(Erle(loop, 10), 1.0);  // nothing cancelled yet
        EstimateAndLoad(loop, nearDelay, -1);
        const double estimated = Erle(loop, 20);
        loop.rx().cancel = CancelEchoAdapt;
        for (int i = 0; i < 3; ++i)
            vek_lms_set_mu_complex(ec.nearFilter[i], 8000);
        Erle(loop, 200);
        for (int i = 0; i < 3; ++i)
            vek_lms_set_mu_complex(ec.nearFilter[i], 0);
        loop.rx().cancel = CancelEcho;
        const double adapted = Erle(loop, 50);
        std::printf("ERL %.0f dB: ERLE %.1f dB estimated, %.1f dB adapted\n", c.erlDb, estimated, adapted);
        EXPECT_GT(estimated, 6.0) << c.erlDb;
        EXPECT_GE(adapted, 40.0) << c.erlDb;
    }
}

struct FarCase {
    double seconds;
    double offsetHz;
};

TEST(V34Echo, FarEchoWithAnOffsetIsCancelledByThirtyFiveDecibelsWithRotation)
{
    constexpr double kSampleRate = 72000.0 / 7.0;
    constexpr int32_t kLatency = 205;
    constexpr int32_t kOutputGain = 10737418;
#if defined(MODEM_UNDER_SANITIZER)
    const FarCase cases[] = {{1.1, 0.5}};
#else
    const FarCase cases[] = {{0.3, 0.5}, {0.6, -1.0}, {1.1, 0.2}, {1.1, 1.0}};
#endif
    for (const FarCase c : cases) {
        const int32_t roundTrip = static_cast<int32_t>(c.seconds * kSampleRate);
        EchoLoop loop(kLatency, 12, roundTrip, 25, c.offsetHz);
        EchoCanceller& ec = loop.rx().echo;
        const int32_t nearDelay = kLatency / 3;
        const int32_t farDelay = roundTrip / 3;
        SetEchoDelays(&ec, nearDelay, farDelay);
        ResetEchoCanceller(&ec, 0);
        loop.rx().cancel = CancelEcho;
        while (loop.Block().first == 0.0 || ec.ring.writeIndex < static_cast<uint32_t>(farDelay + 200)) {
        }
        EstimateAndLoad(loop, nearDelay, farDelay);
        // The far-echo loop, its frequency given as the training's drift measure gives it (per sample).
        ec.mode = kEchoRotation;
        const double perSample = -c.offsetHz / kSampleRate * 4294967296.0;
        ec.farLoop.integrator = static_cast<int32_t>(std::lround(perSample / (kOutputGain / 2147483648.0)));
        ec.farLoop.output = kOutputGain;
        ec.farLoop.proportional = 167772;
        ec.farLoop.integral = 3067833;
        const double estimated = Erle(loop, 20);
        loop.rx().cancel = CancelEchoAdapt;
        for (int i = 0; i < 3; ++i) {
            vek_lms_set_mu_complex(ec.nearFilter[i], 8000);
            vek_lms_set_mu_complex(ec.farFilter[i], 8000);
        }
        Erle(loop, 150);
        ec.farLoop.proportional = 33554;
        ec.farLoop.integral = 715827;
        for (int i = 0; i < 3; ++i)
            vek_lms_set_mu_complex(ec.farFilter[i], 5000);
        Erle(loop, 150);
        for (int i = 0; i < 3; ++i) {
            vek_lms_set_mu_complex(ec.nearFilter[i], 0);
            vek_lms_set_mu_complex(ec.farFilter[i], 0);
        }
        loop.rx().cancel = CancelEcho;
        const double adapted = Erle(loop, 100);
        std::printf("far %.1f s %.1f Hz: ERLE %.1f dB estimated, %.1f dB adapted\n", c.seconds, c.offsetHz, estimated, adapted);
        EXPECT_GE(adapted, 35.0) << c.seconds;
    }
}

}  // namespace
