// The modulator against a floating-point reference of the line signal: for all 11 symbol-rate and carrier
// combinations the spectrum lies on the carrier within the symbol rate's band, each pre-emphasis filter's
// response is that of its taps, the level follows the transmit level table, the carrier index advances by a
// block modulo its period, and the echo canceller's ring gets every symbol.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <random>
#include <vector>

#include "layer1/modem/v34/v34_framing.h"
#include "layer1/modem/v34/v34_modulator.h"
#include "layer1/modem/v34/v34_pump.h"
#include "layer1/vek/core/vek_dispatch.h"
#include "layer1/vek/core/vek_select.h"

namespace {

using Complex = std::complex<double>;

struct Modulator {
    V34ModulatorState m{};
    FirState* pre[kV34PreEmphasisFilters] = {};
    V34EchoRing echo{};
    Modulator(int preEmphasis, int rateIndex, int high, int16_t gain)
    {
        for (int rail = 0; rail < 2; ++rail) {
            for (int k = 0; k < 3; ++k) {
                int32_t taps[16];
                V34PulseBranch(k, taps);
                vek_fir_init_real(&m.branch[rail][k], taps, 16, 0, nullptr);
            }
        }
        CreateV34PreEmphasisFilters(pre);
        m.preEmphasisSet = pre;
        m.echo = &echo;
        m.outputGain = gain;
        SetupV34Modulator(preEmphasis, rateIndex, high, &m);
    }
    ~Modulator()
    {
        for (auto& rail : m.branch)
            for (FirState* b : rail)
                vek_fir_free_real(b);
        FreeV34PreEmphasisFilters(pre);
    }
};

// Random four-point symbols at the training amplitude.
std::vector<PackedComplex> RandomSymbols(int n, uint32_t seed, int amplitude = 7741)
{
    std::mt19937 rng(seed);
    std::vector<PackedComplex> v;
    for (int i = 0; i < n; ++i)
        v.push_back(PackComplex((rng() & 1) ? amplitude : -amplitude, (rng() & 2) ? amplitude : -amplitude));
    return v;
}

std::vector<double> Modulate(Modulator& mod, const std::vector<PackedComplex>& symbols)
{
    std::vector<double> out;
    int16_t block[kV34BlockSamples];
    for (size_t i = 0; i + kV34BlockSymbols <= symbols.size(); i += kV34BlockSymbols) {
        V34Modulator(&symbols[i], &mod.m, block);
        out.insert(out.end(), block, block + kV34BlockSamples);
    }
    return out;
}

// Power spectrum by averaged 512-point DFTs (Hann window), bins of sampleRate / 512.
std::vector<double> Spectrum(const std::vector<double>& x)
{
    const int n = 512;
    const double pi = std::acos(-1.0);
    static std::vector<Complex> twiddle;
    static std::vector<double> window;
    if (twiddle.empty()) {
        for (int i = 0; i < n; ++i) {
            twiddle.push_back(std::polar(1.0, -2 * pi * i / n));
            window.push_back(0.5 - 0.5 * std::cos(2 * pi * i / n));
        }
    }
    std::vector<double> p(n / 2, 0.0);
    std::vector<double> w(n);
    for (size_t start = 0; start + n <= x.size(); start += n / 2) {
        for (int i = 0; i < n; ++i)
            w[i] = window[i] * x[start + i];
        for (int k = 0; k < n / 2; ++k) {
            Complex acc = 0;
            for (int i = 0; i < n; ++i)
                acc += w[i] * twiddle[(k * i) % n];
            p[k] += std::norm(acc);
        }
    }
    return p;
}

TEST(V34Modulator, EveryCombinationSitsOnItsCarrierWithinItsBand)
{
    constexpr int kBlocks = 96;  // fewer make the spectral estimate too rough for the balance about the carrier
    for (int combination = 0; combination < kV34CarrierCombinations; ++combination) {
        const int rateIndex = combination / 2;
        const int high = combination % 2;
        Modulator mod(0, rateIndex, high, 0x1000);
        const std::vector<double> x = Modulate(mod, RandomSymbols(kBlocks * kV34BlockSymbols, 7 + combination));
        const std::vector<double> p = Spectrum(x);
        int period = 0, step = 0;
        V34CarrierPeriod(combination, &period, &step);
        const double symbolRate = rateIndex == 1 ? 19200.0 / 7 : (rateIndex == 5 ? 24000.0 / 7 : V34SymbolRate(rateIndex));
        const double fs = 3 * symbolRate;
        const double carrier = fs * step / period;
        double total = 0, outside = 0, below = 0, above = 0;
        for (size_t k = 0; k < p.size(); ++k) {
            const double f = fs * k / 512.0;
            total += p[k];
            // The band: carrier +- half the symbol rate times (1 + roll-off 0.25), plus the window's spread.
            if (std::fabs(f - carrier) > symbolRate * 0.625 + 2 * fs / 512.0)
                outside += p[k];
            (f < carrier ? below : above) += p[k];
        }
        SCOPED_TRACE(testing::Message() << "combination " << combination << " carrier " << carrier);
        EXPECT_LT(10 * std::log10(outside / total), -40.0);
        EXPECT_NEAR(10 * std::log10(below / above), 0.0, 0.5) << "centred on the carrier";
        EXPECT_EQ(mod.m.carrierIndex, (kBlocks * 96) % period);
    }
}

TEST(V34Modulator, CarrierIndexAfterOneBlock)
{
    struct Case {
        int rateIndex, high, period;
    };
    for (const Case c : {Case{0, 0, 9}, Case{0, 1, 4}, Case{1, 0, 5}, Case{4, 0, 21}, Case{5, 1, 21}}) {
        Modulator mod(0, c.rateIndex, c.high, 0x1000);
        EXPECT_EQ(mod.m.period, c.period);
        Modulate(mod, RandomSymbols(32, 1));
        EXPECT_EQ(mod.m.carrierIndex, 96 % c.period);
    }
}

// Each filter's gain at frequencies across the band against the response of its taps.
TEST(V34Modulator, PreEmphasisFollowsItsTaps)
{
    const double pi = std::acos(-1.0);
    for (int filter = 0; filter < kV34PreEmphasisFilters; ++filter) {
        Modulator flat(0, 4, 1, 0x1000), shaped(filter, 4, 1, 0x1000);
        const std::vector<PackedComplex> sym = RandomSymbols(64 * 32, 99);
        const std::vector<double> a = Spectrum(Modulate(flat, sym)), b = Spectrum(Modulate(shaped, sym));
        const int16_t(*t)[2] = V34PreEmphasisTaps(filter);
        const double fs = 9600, carrier = 1920;
        for (double f = carrier - 1400; f <= carrier + 1400; f += 200) {
            // The filter acts on the baseband signal: its response at f - carrier.
            Complex h = 0;
            for (int i = 0; i < kV34PreEmphasisTaps; ++i)
                h += Complex(t[i][0], t[i][1]) / 32768.0 * std::polar(1.0, -2 * pi * (f - carrier) * i / fs);
            const int k = static_cast<int>(std::lround(f * 512 / fs));
            const double measured = 10 * std::log10(b[k] / a[k]);
            EXPECT_NEAR(measured, 20 * std::log10(std::abs(h)), 0.5) << "filter " << filter << " at " << f;
        }
    }
}

TEST(V34Modulator, LevelFollowsTheTransmitLevelTable)
{
    const std::vector<PackedComplex> sym = RandomSymbols(64 * 32, 5);
    auto rms = [&](int index) {
        Modulator mod(0, 5, 0, static_cast<int16_t>(TxLevelFor(index) >> 2));
        const std::vector<double> x = Modulate(mod, sym);
        double s = 0;
        for (double v : x)
            s += v * v;
        return 10 * std::log10(s / x.size());
    };
    const double reference = rms(2);
    for (int index = 2; index <= 42; index += 2)
        EXPECT_NEAR(rms(index) - reference, -(index - 2), 0.2) << "level index " << index;
    // The table itself: 1 dB steps from 30757, each entry within one unit of the rule.
    const int16_t* t = TxLevelTable();
    for (int i = 2; i < kTxLevelEntries; ++i)
        EXPECT_NEAR(t[i], 30757 * std::pow(10.0, -(i - 2) / 20.0), 1.0) << i;
    EXPECT_EQ(TxLevelFor(0), 30757);
    EXPECT_EQ(TxLevelFor(99), 307);
}

TEST(V34Modulator, EchoRingGetsEverySymbolOnTheCarrier)
{
    Modulator mod(0, 0, 0, 0x1000);
    const std::vector<PackedComplex> sym = RandomSymbols(64, 3);
    Modulate(mod, sym);
    EXPECT_EQ(mod.echo.writeIndex, 64u);
    for (int n = 0; n < 64; ++n) {
        const double phase = 2 * std::acos(-1.0) * 2 * ((3 * n) % 9) / 9.0;
        const Complex want = Complex(RealPart(sym[n]), ImagPart(sym[n])) * std::polar(1.0, phase);
        EXPECT_NEAR(RealPart(mod.echo.ring[n]), want.real(), 2.0) << n;
        EXPECT_NEAR(ImagPart(mod.echo.ring[n]), want.imag(), 2.0) << n;
    }
}

// Every library column gives the same samples, level and echo ring: symbols over the whole 16-bit range (the
// filters saturate), each pre-emphasis filter, a gain that saturates the output and one that does not.
TEST(V34Modulator, EveryColumnModulatesAlike)
{
    std::mt19937 rng(31);
    std::vector<PackedComplex> symbols;
    for (int i = 0; i < 8 * kV34BlockSymbols; ++i)
        symbols.push_back(PackComplex(static_cast<int>(rng() % 65536) - 32768, static_cast<int>(rng() % 65536) - 32768));
    for (int filter = 0; filter < kV34PreEmphasisFilters; ++filter) {
        for (const int16_t gain : {int16_t{8192}, int16_t{32767}}) {
            std::vector<double> base;
            int32_t baseLevel = 0;
            std::vector<PackedComplex> baseRing;
            for (int column = 0; column < VEK_COLUMN_COUNT; ++column) {
                ASSERT_EQ(vek_install_column(column), 1);
                std::vector<double> out;
                int32_t level = 0;
                std::vector<PackedComplex> ring;
                {
                    Modulator mod(filter, filter % 6, filter % 2, gain);
                    out = Modulate(mod, symbols);
                    level = mod.m.level;
                    ring.assign(mod.echo.ring, mod.echo.ring + symbols.size());
                }
                if (column == 0) {
                    base = out;
                    baseLevel = level;
                    baseRing = ring;
                } else {
                    EXPECT_EQ(out, base) << "column " << column << " filter " << filter << " gain " << gain;
                    EXPECT_EQ(level, baseLevel) << "column " << column;
                    EXPECT_EQ(ring, baseRing) << "column " << column;
                }
            }
            vek_install_column(VEK_CPU_GEN);
        }
    }
}

}  // namespace
