// The phase-2 transmitter against the line format, measured independently: the probe period against its
// cosine sum, L1 and L2 tone by tone with a DFT, the carriers and the 1800 Hz tone with Goertzel filters, and
// INFO frames decoded by a floating-point differential detector written here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

#include "layer1/modem/v34/bit_field.h"
#include "layer1/modem/v34/info_frames.h"
#include "layer1/modem/v34/phase2_transmitter.h"

namespace {

using Complex = std::complex<double>;
const double kPi = std::acos(-1.0);

std::vector<int16_t> Samples(Phase2Transmitter* t, int n)
{
    std::vector<int16_t> out(static_cast<size_t>(n));
    for (int16_t& v : out)
        v = Phase2TransmitSample(t);
    return out;
}

// The correlation of x[first, first + n) with a complex tone: amplitude and phase of a cosine at hz.
Complex Tone(const std::vector<int16_t>& x, size_t first, size_t n, double hz)
{
    Complex sum = 0;
    for (size_t i = 0; i < n; ++i) {
        const double w = 2 * kPi * hz * static_cast<double>(i) / 9600.0;
        sum += static_cast<double>(x[first + i]) * Complex(std::cos(w), -std::sin(w));
    }
    return sum * 2.0 / static_cast<double>(n);
}

double Goertzel(const std::vector<int16_t>& x, size_t first, size_t n, double hz)
{
    const double c = 2 * std::cos(2 * kPi * hz / 9600.0);
    double s1 = 0, s2 = 0;
    for (size_t i = 0; i < n; ++i) {
        const double s = x[first + i] + c * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    return std::sqrt(s1 * s1 + s2 * s2 - c * s1 * s2) * 2.0 / static_cast<double>(n);
}

int ProbeSign(int k)
{
    for (int m : {2, 11, 15, 18, 20, 21, 22, 23})
        if (m == k)
            return -1;
    return 1;
}

bool ProbeTone(int k)
{
    return k >= 1 && k <= 25 && k != 6 && k != 8 && k != 12 && k != 16;
}

// Differential detection of 600 bit/s DPSK: the carrier mixed to baseband, averaged over half a bit around
// each symbol's centre, and the phase compared with the symbol before (a reversal is a 1). The shaping filter
// centres the symbol of bit b three bits after its boundary (sample 16 b + 48); symbol -1 is the carrier.
std::vector<int> DecodeDpsk(const std::vector<int16_t>& x, double carrierHz, int bits)
{
    std::vector<int> out;
    Complex previous = 0;
    for (int b = -1; b < bits; ++b) {
        Complex sum = 0;
        const size_t centre = static_cast<size_t>(16 * b + 48);
        for (size_t i = centre - 4; i < centre + 4; ++i) {
            const double w = 2 * kPi * carrierHz * static_cast<double>(i + 1) / 9600.0;
            sum += static_cast<double>(x[i]) * Complex(std::cos(w), -std::sin(w));
        }
        if (b >= 0)
            out.push_back(std::real(sum * std::conj(previous)) < 0 ? 1 : 0);
        previous = sum;
    }
    return out;
}

std::vector<int> FrameBits(const uint32_t* words, uint32_t n)
{
    std::vector<int> bits;
    for (uint32_t i = 0; i < n; ++i)
        bits.push_back(static_cast<int>(GetBits32(words, static_cast<int32_t>(i), 1)));
    return bits;
}

Info0Fields DefaultInfo0()
{
    Info0Fields f{};
    f.support2400 = 1;
    for (uint16_t& c : f.capability)
        c = 1;
    f.constellation1664 = 1;
    return f;
}

// The period as typed is the sum of 21 cosines scaled so that its deepest trough is -32767 (an amplitude of
// 6410.797 per tone), rounded: every entry equals it. Against the rounded amplitude 6411 the entries lie within
// 1.255 units (the largest differences, 1.254, at n = 14 and 48), within 0.56 at the best-fitting amplitude.
TEST(V34Phase2Tx, ProbeWaveformIsItsCosineSum)
{
    double fit = 0, norm = 0, peak = 0;
    std::vector<double> basis(kProbePeriod);
    for (int n = 0; n < kProbePeriod; ++n) {
        for (int k = 1; k <= 25; ++k)
            if (ProbeTone(k))
                basis[n] += ProbeSign(k) * std::cos(2 * kPi * k * (n + 1) / 64.0);
        fit += kProbeWaveform[n] * basis[n];
        norm += basis[n] * basis[n];
        peak = std::max(peak, std::abs(basis[n]));
    }
    EXPECT_NEAR(fit / norm, 6411.0, 0.5);
    EXPECT_NEAR(32767.0 / peak, 6410.797, 0.001);
    for (int n = 0; n < kProbePeriod; ++n) {
        EXPECT_EQ(kProbeWaveform[n], std::lround(32767.0 * basis[n] / peak)) << n;
        EXPECT_NEAR(kProbeWaveform[n], 6411.0 * basis[n], 1.255) << n;
        EXPECT_NEAR(kProbeWaveform[n], fit / norm * basis[n], 0.56) << n;
        // Symmetric about n = 31 and n = 63.
        EXPECT_EQ(kProbeWaveform[n], kProbeWaveform[(62 - n + 64) % 64]) << n;
    }
}

TEST(V34Phase2Tx, ProbeSignalsHoldTheTonesTheyShouldAndNoOthers)
{
    Phase2Transmitter t;
    InitPhase2Transmitter(&t, 1);
    TxProbeL1(&t);
    std::vector<int16_t> x = Samples(&t, 1536);
    TxProbeL2(&t);
    const std::vector<int16_t> l2 = Samples(&t, 1536);
    x.insert(x.end(), l2.begin(), l2.end());
    // Every 64 samples repeat: whole periods in each window, so each 75 Hz bin is exact.
    const double tone = 21697.0 * 6411.0 / 32768.0;
    for (int k = 1; k <= 50; ++k) {
        const double hz = 75.0 * k;
        const Complex a1 = Tone(x, 0, 1536, hz);
        const Complex a2 = Tone(x, 1536, 1536, hz);
        if (k % 2 == 0 && ProbeTone(k / 2)) {
            EXPECT_NEAR(std::abs(a1), tone, tone * 0.002) << hz;
            EXPECT_NEAR(std::abs(a2) / std::abs(a1), 0.5, 0.002) << hz;
            // Cosines at phase 2 pi k (n + 1) / 64, the listed ones inverted.
            const double expected = 2 * kPi * (k / 2) / 64.0 + (ProbeSign(k / 2) < 0 ? kPi : 0.0);
            EXPECT_NEAR(std::remainder(std::arg(a1) - expected, 2 * kPi), 0.0, 0.01) << hz;
            EXPECT_NEAR(std::remainder(std::arg(a2) - std::arg(a1), 2 * kPi), 0.0, 0.01) << hz;
        } else {
            // 900, 1200, 1800 and 2400 Hz and everything between the 150 Hz comb: at least 60 dB down.
            EXPECT_LT(std::abs(a1), tone * 1e-3) << hz;
            EXPECT_LT(std::abs(a2), tone * 1e-3) << hz;
        }
    }
}

TEST(V34Phase2Tx, CarriersAndSecondTone)
{
    struct Case {
        int answerer;
        int16_t second;
        double carrierHz;
    };
    for (const Case& c : {Case{0, 0, 1200.0}, Case{1, 0, 2400.0}, Case{1, 3464, 2400.0}}) {
        Phase2Transmitter t;
        InitPhase2Transmitter(&t, c.answerer);
        SetSecondTone(&t, c.second);
        TxCarrier(&t);
        const std::vector<int16_t> x = Samples(&t, 960);
        // The carrier: the symbol through the shaping taps of the row's sum, times 11/8.
        const double a = Goertzel(x, 0, 960, c.carrierHz);
        EXPECT_GT(a, 8000.0) << c.carrierHz;
        for (double hz : {c.carrierHz - 150.0, c.carrierHz + 150.0, 600.0, 3000.0})
            EXPECT_LT(Goertzel(x, 0, 960, hz), a * 0.01) << hz;
        const double second = Goertzel(x, 0, 960, 1800.0);
        if (c.second == 0)
            EXPECT_LT(second, a * 0.01);
        else
            EXPECT_NEAR(second, 3464.0 * 32700.0 / 32768.0, 40.0);
    }
}

TEST(V34Phase2Tx, ReversalTurnsTheCarrierByHalfATurn)
{
    for (int answerer = 0; answerer < 2; ++answerer) {
        const double hz = answerer ? 2400.0 : 1200.0;
        Phase2Transmitter t;
        InitPhase2Transmitter(&t, answerer);
        TxCarrier(&t);
        const std::vector<int16_t> before = Samples(&t, 320);
        TxReversal(&t);
        const std::vector<int16_t> after = Samples(&t, 320);
        // Both windows start on the same carrier phase (whole cycles), so their phases differ by pi.
        const double d = std::arg(Tone(after, 160, 160, hz)) - std::arg(Tone(before, 160, 160, hz));
        EXPECT_NEAR(std::fabs(std::remainder(d, 2 * kPi)), kPi, 0.02) << hz;
    }
}

TEST(V34Phase2Tx, Info0DecodesToItsLineBitsAndEndsOnCarrier)
{
    uint32_t words[kInfoFrameWords32] = {};
    const uint32_t n = BuildInfo0(DefaultInfo0(), words);
    ASSERT_EQ(n, 49u);
    const std::vector<int> expected = FrameBits(words, n);
    const char* line = "1111011100101111111110000100010001111110110011111";
    for (uint32_t i = 0; i < n; ++i)
        ASSERT_EQ(expected[i], line[i] - '0') << i;
    for (int answerer = 0; answerer < 2; ++answerer) {
        Phase2Transmitter t;
        InitPhase2Transmitter(&t, answerer);
        TxFrame(&t, words, static_cast<int32_t>(n));
        std::vector<int16_t> x = Samples(&t, 16 * 49);
        EXPECT_EQ(TxTakeDone(&t), 0);
        const std::vector<int16_t> tail = Samples(&t, 16 * 20);
        x.insert(x.end(), tail.begin(), tail.end());
        const std::vector<int> bits = DecodeDpsk(x, answerer ? 2400.0 : 1200.0, 49 + 16);
        for (uint32_t i = 0; i < n; ++i)
            EXPECT_EQ(bits[i], expected[i]) << answerer << " bit " << i;
        // Then the carrier without a reversal.
        for (size_t i = n; i < bits.size(); ++i)
            EXPECT_EQ(bits[i], 0) << "carrier after the frame, bit " << i;
        // Done once, and only once.
        EXPECT_EQ(TxTakeDone(&t), 1);
        Samples(&t, 320);
        EXPECT_EQ(TxTakeDone(&t), 0);
        EXPECT_EQ(t.mode, kTxModeCarrier);
    }
}

TEST(V34Phase2Tx, RepeatedFrameRunsBackToBack)
{
    Info0Fields f = DefaultInfo0();
    f.acknowledge = 1;
    uint32_t words[kInfoFrameWords32] = {};
    const uint32_t n = BuildInfo0(f, words);
    const std::vector<int> frame = FrameBits(words, n);
    Phase2Transmitter t;
    InitPhase2Transmitter(&t, 0);
    TxFrame(&t, words, static_cast<int32_t>(n));
    TxSetMode(&t, kTxModeFrameRepeat);
    const std::vector<int16_t> x = Samples(&t, static_cast<int>(16 * 3 * n));
    const std::vector<int> bits = DecodeDpsk(x, 1200.0, static_cast<int>(3 * n) - 3);
    for (size_t i = 0; i + 3 < 3 * n; ++i)
        EXPECT_EQ(bits[i], frame[i % n]) << i;
    EXPECT_EQ(TxTakeDone(&t), 0);
    // Mode 4 from here: the running frame ends, then carrier and the done flag once.
    TxSetMode(&t, kTxModeFrameOnce);
    Samples(&t, static_cast<int>(16 * (n + 2)));
    EXPECT_EQ(TxTakeDone(&t), 1);
    EXPECT_EQ(TxTakeDone(&t), 0);
}

}  // namespace
