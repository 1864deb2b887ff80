// The V.34 receiver's symbol path, piece by piece: the carrier tables of every combination, the rail filter,
// the training slicer against the transmitter's quadrant rotation, a symbol split across blocks, the timing
// step, the decision monitor's limit, the AGC's activity floor, DC removal, the rate monitor and the far-end
// retrain tone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "layer1/modem/v34/v34_framing.h"
#include "tests/modem/v34_rx_line.h"

namespace {

using v34test::RxBench;

TEST(V34RxTables, CarrierTablesFollowTheTransmitCarrierOfEveryCombination)
{
    for (int32_t c = 0; c < 12; ++c) {
        int16_t cosine[kV34RxCarrierPeriod];
        int16_t sine[kV34RxCarrierPeriod];
        const int32_t period = V34RxCarrierTable(c, cosine, sine);
        int32_t wantPeriod = 0, step = 0;
        V34CarrierPeriod(c == 11 ? 10 : c, &wantPeriod, &step);  // 3429 has one carrier
        ASSERT_EQ(period, wantPeriod) << c;
        for (int n = 0; n < period; ++n) {
            const double a = 2 * M_PI * step * n / period;
            EXPECT_EQ(cosine[n], std::min(32767L, std::lround(32768 * std::cos(a)))) << c << " " << n;
            EXPECT_EQ(sine[n], std::min(32767L, std::lround(32768 * std::sin(a)))) << c << " " << n;
        }
    }
    // The nine-entry table's printed start.
    int16_t cosine[kV34RxCarrierPeriod];
    int16_t sine[kV34RxCarrierPeriod];
    ASSERT_EQ(V34RxCarrierTable(0, cosine, sine), 9);
    EXPECT_EQ(cosine[0], 32767);
    EXPECT_EQ(sine[0], 0);
    EXPECT_EQ(cosine[1], 5690);
    EXPECT_EQ(sine[1], 32270);
    EXPECT_EQ(cosine[2], -30792);
    EXPECT_EQ(sine[2], 11207);
}

// |H(f)| of the rail filter (f in cycles per sample), DC gain 2.
double RailResponse(double f)
{
    int32_t taps[kV34RailTaps];
    V34RailFilterTaps(taps);
    std::complex<double> h = 0;
    for (int i = 0; i < kV34RailTaps; ++i)
        h += std::polar(taps[i] / 65536.0, -2 * M_PI * f * i);
    return std::abs(h);
}

TEST(V34RxTables, RailFilterPassesTheBasebandAndStopsTheImage)
{
    int32_t taps[kV34RailTaps];
    V34RailFilterTaps(taps);
    for (int i = 0; i < kV34RailTaps; ++i)
        EXPECT_EQ(taps[i], taps[kV34RailTaps - 1 - i]) << i;
    for (double f = 0.0; f <= 0.19; f += 0.01)
        EXPECT_NEAR(20 * std::log10(RailResponse(f)), 0.0, 0.5) << f;
    for (double f = 0.265; f <= 0.5; f += 0.005)
        EXPECT_LT(20 * std::log10(RailResponse(f)), -40.0) << f;
}

TEST(V34RxSlicer, DecodesTheTransmittersQuadrantsAndLabels)
{
    for (int four = 0; four < 2; ++four) {
        std::mt19937 rng(5 + four);
        uint8_t txQuadrant = 0, rxQuadrant = 0;
        for (int i = 0; i < 2000; ++i) {
            const uint32_t bits = rng() & (four ? 3u : 15u);
            const PackedComplex p = RotateQuadrant(bits, &txQuadrant);
            // Noise below half the distance between points.
            const PackedComplex soft = PackComplex(RealPart(p) + static_cast<int32_t>(rng() % 200) - 100,
                                                   ImagPart(p) + static_cast<int32_t>(rng() % 200) - 100);
            PackedComplex decision = 0;
            EXPECT_EQ(SliceTrainingPoint(soft, four, &rxQuadrant, &decision), bits) << four << " " << i;
            EXPECT_EQ(decision, p);
        }
    }
    // Levels beyond the constellation are held to its edge.
    uint8_t q = 0;
    PackedComplex d = 0;
    SliceTrainingPoint(PackComplex(-30000, 30000), 1, &q, &d);
    EXPECT_EQ(d, PackComplex(-128, 128));
    SliceTrainingPoint(PackComplex(-30000, 30000), 0, &q, &d);
    EXPECT_EQ(d, PackComplex(-384, 384));
}

std::vector<int16_t> TestSignal(int n, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<int16_t> x(n);
    for (int i = 0; i < n; ++i)
        x[i] = static_cast<int16_t>(3000 * std::sin(0.9 * i) + static_cast<int32_t>(rng() % 2001) - 1000);
    return x;
}

// Symbols of a receiver fed in chunks of the given length (samples placed straight into its block).
std::vector<VekC32> Outputs(const std::vector<int16_t>& x, int chunk)
{
    RxBench b(10);
    vek_lms_set_mu_complex(b.rx.equaliser, -3000);
    VekC32 taps[kV34EqualiserTaps] = {};
    taps[36].re = 8000 << 16;
    vek_lms_set_taps_complex(b.rx.equaliser, taps);
    b.rx.agc.rate = 0x27000000;
    std::vector<VekC32> out;
    size_t at = 0;
    while (at < x.size()) {
        const int n = static_cast<int>(std::min<size_t>(chunk, x.size() - at));
        for (int i = 0; i < n; ++i)
            b.rx.block[i] = x[at + i];
        at += n;
        b.rx.readIndex = 0;
        b.rx.blockLength = n;
        for (;;) {
            const VekC32 y = V34ReceiveSymbol(&b.rx);
            if (b.rx.skip != 0)
                break;
            CurrentSlot(&b.rx)->decision = PackComplex(128, -128);
            b.rx.symbolCount += 1;
            out.push_back(y);
        }
    }
    return out;
}

TEST(V34RxSymbol, ASymbolSplitAcrossBlocksGivesTheSameResult)
{
    const std::vector<int16_t> x = TestSignal(96 * 20, 3);
    const std::vector<VekC32> whole = Outputs(x, 96);
    for (int chunk : {1, 2, 5, 7, 50, 95}) {
        const std::vector<VekC32> split = Outputs(x, chunk);
        ASSERT_EQ(split.size(), whole.size()) << chunk;
        for (size_t i = 0; i < whole.size(); ++i) {
            ASSERT_EQ(split[i].re, whole[i].re) << chunk << " " << i;
            ASSERT_EQ(split[i].im, whole[i].im) << chunk << " " << i;
        }
    }
}

TEST(V34RxSymbol, TimingPhaseAtTheEdgeStepsOnceAndTakesTwoSamples)
{
    RxBench b(10);
    b.rx.timing.flags = kLoopFrozen;
    b.rx.timing.phase = kTimingHalfSample;  // 759250124: still inside
    EXPECT_EQ(TimingEstimateCore(&b.rx, 0, 0), 0);
    b.rx.timing.phase = kTimingHalfSample + 1;  // 759250125: one step
    EXPECT_EQ(TimingEstimateCore(&b.rx, 0, 0), 1);
    EXPECT_EQ(b.rx.timing.phase, kTimingHalfSample + 1 - kTimingSample);
    EXPECT_EQ(TimingEstimateCore(&b.rx, 0, 0), 0);
    b.rx.timing.phase = -kTimingHalfSample - 1;
    EXPECT_EQ(TimingEstimateCore(&b.rx, 0, 0), -1);

    // Through the symbol path: the symbol after a +1 step takes two new samples, after -1 four.
    const std::vector<int16_t> x = TestSignal(96, 4);
    TakeReceiveBlock(&b.rx, x.data());
    b.rx.estimator = [](V34Receiver* rx) -> int32_t { return rx->symbolCount == 2 ? 1 : (rx->symbolCount == 5 ? -1 : 0); };
    std::vector<int32_t> taken;
    for (int s = 0; s < 8; ++s) {
        const int32_t before = b.rx.readIndex;
        V34ReceiveSymbol(&b.rx);
        ASSERT_EQ(b.rx.skip, 0);
        b.rx.symbolCount += 1;
        taken.push_back(b.rx.readIndex - before);
    }
    EXPECT_EQ(taken, (std::vector<int32_t>{3, 3, 3, 2, 3, 3, 4, 3}));
}

// The decision average that the next symbol, with a soft point equal to its decision, turns into t.
int32_t PreviousFor(int32_t t)
{
    for (int64_t p = (int64_t{t} * 2048) / 2047 - 2; p < (int64_t{t} * 2048) / 2047 + 4; ++p) {
        if (((2047 * p) >> 11) == t)
            return static_cast<int32_t>(p);
    }
    return -1;
}

TEST(V34RxSymbol, DecisionMonitorCountsDownAtTheLimitAndUpAboveIt)
{
    struct Case {
        int32_t t;
        int32_t badBefore;
        int32_t badAfter;
    };
    for (const Case c : {Case{688000, 5, 4}, Case{688000, 0, 0}, Case{688001, 5, 6}}) {
        RxBench b(10);
        const std::vector<int16_t> x = TestSignal(96, 6);
        TakeReceiveBlock(&b.rx, x.data());
        b.rx.monitorOn = 1;
        b.rx.monitor.bad = c.badBefore;
        RxSlot* slot = CurrentSlot(&b.rx);
        slot->soft = slot->decision = PackComplex(128, 128);
        b.rx.decisionAverage = PreviousFor(c.t);
        ASSERT_GE(b.rx.decisionAverage, 0);
        V34ReceiveSymbol(&b.rx);
        EXPECT_EQ(b.rx.decisionAverage, c.t);
        EXPECT_EQ(b.rx.monitor.bad, c.badAfter) << c.t << " " << c.badBefore;
    }
}

TEST(V34RxFrontEnd, AgcHoldsBelowAnInputAverageOfFifty)
{
    RxAgcState agc{};
    agc.gain = 0x4000;
    agc.shift = 1;
    agc.rate = 0x70000000;
    agc.target = kV34AgcTarget;
    // A signal whose magnitude averages below 50 leaves the gain alone.
    for (int i = 0; i < 2000; ++i)
        RxAgcStep(&agc, static_cast<int16_t>(i & 1 ? 48 : -48));
    EXPECT_LT(agc.inputAverage, 50);
    EXPECT_EQ(agc.gain, 0x4000);
    EXPECT_EQ(agc.shift, 1);
    // Above it the gain moves towards the target and stays within 0x3000 ... 0x6000 by the shift.
    for (int i = 0; i < 20000; ++i)
        RxAgcStep(&agc, static_cast<int16_t>(i & 1 ? 600 : -600));
    EXPECT_GE(agc.inputAverage, 50);
    EXPECT_GE(agc.gain, 0x3000);
    EXPECT_LE(agc.gain, 0x6000);
    EXPECT_NEAR(std::sqrt(static_cast<double>(agc.power)), std::sqrt(static_cast<double>(kV34AgcTarget)), 300.0);
}

TEST(V34RxFrontEnd, DcRemovalTakesOutAnOffset)
{
    DcRemoval dc{};
    std::vector<int16_t> x(9600);
    for (size_t i = 0; i < x.size(); ++i)
        x[i] = static_cast<int16_t>(2000 + 1000 * std::sin(0.7 * i));
    RemoveDc(&dc, x.data(), static_cast<int32_t>(x.size()));
    double mean = 0, power = 0;
    for (size_t i = 4800; i < x.size(); ++i) {
        mean += x[i];
        power += double{x[i]} * x[i];
    }
    mean /= 4800;
    EXPECT_NEAR(mean, 0.0, 20.0);
    EXPECT_GT(std::sqrt(power / 4800), 500.0);  // the tone passes
}

TEST(V34RxBlock, RateMonitorStepsDownUpAndHoldsAtTheEnds)
{
    RateMonitor m{};
    m.symbolRateIndex = 5;
    m.current = 14;
    m.agreedMax = 14;
    m.mask = 0x3FFF;
    m.armLength = 400;
    m.bad = 101;
    EXPECT_EQ(RateMonitorStep(&m), -1);
    EXPECT_EQ(m.current, 13);
    m.bad = 100;
    m.armed = 1;
    m.good = 1001;
    EXPECT_EQ(RateMonitorStep(&m), 1);
    EXPECT_EQ(m.current, 14);
    EXPECT_EQ(m.armed, 0);
    // At the symbol rate's top no step up; the good count is cleared.
    m.armed = 1;
    m.good = 1001;
    EXPECT_EQ(RateMonitorStep(&m), 0);
    EXPECT_EQ(m.good, 0);
    // At the lowest rate no step down.
    m.current = V34MinRateIndex(5);
    m.bad = 500;
    EXPECT_EQ(RateMonitorStep(&m), 0);
    EXPECT_EQ(m.current, V34MinRateIndex(5));
    // A rate the far end cannot take is not stepped up to.
    m.current = 10;
    m.bad = 0;
    m.armed = 1;
    m.good = 2000;
    m.mask = 0x3FFF & ~(1 << 10);
    EXPECT_EQ(RateMonitorStep(&m), 0);
    EXPECT_EQ(m.current, 10);
}

TEST(V34RxBlock, FarEndsPhaseTwoToneIsHeardAndDataIsNot)
{
    const int32_t fs = 72000 / 7;
    const int32_t coefficient = V34ToneCoefficient(2400, fs);
    int16_t block[kV34BlockSamples];
    for (int i = 0; i < kV34BlockSamples; ++i)
        block[i] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 2400.0 * i / (72000.0 / 7) + 0.3));
    EXPECT_EQ(V34PhaseTwoToneBlock(block, coefficient), 1);
    EXPECT_EQ(V34PhaseTwoToneBlock(block, V34ToneCoefficient(1200, fs)), 0);
    // A V.34 signal is no tone.
    v34test::TxBench tx(5, 0, 2728, nullptr);
    v34test::KnownSymbols k(kV34BlockSymbols * 20, 8);
    int hits = 0;
    for (int b = 0; b < 20; ++b) {
        tx.Block(&k.sent[b * kV34BlockSymbols], block);
        hits += V34PhaseTwoToneBlock(block, coefficient);
    }
    EXPECT_EQ(hits, 0);
}

}  // namespace
