// Whole mapping frames through the encoder for every (symbol rate, data rate) pair, with and without shaping
// and precoding: the bit distribution, the trellis path of the four-dimensional labels (reference: the codes'
// parity checks, written here) with the parity inverted exactly on the marked half-data-frame symbols, the scale
// table against the printed values, and equal mean transmit power across rates.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "layer1/modem/v34/v34_encoder.h"
#include "layer1/modem/v34/v34_power.h"

namespace {

constexpr int kT2[16] = {0, 7, 4, 3, 5, 2, 1, 6, 4, 3, 0, 7, 1, 6, 5, 2};
constexpr int kT4[64] = {0, 0, 1, 1, 8, 8, 9, 9, 3, 2, 2, 3, 11, 10, 10, 11, 5, 5, 4, 4, 13, 13, 12, 12,
                         6, 7, 7, 6, 14, 15, 15, 14, 8, 8, 9, 9, 0, 0, 1, 1, 11, 10, 10, 11, 3, 2, 2, 3,
                         13, 13, 12, 12, 5, 5, 4, 4, 14, 15, 15, 14, 6, 7, 7, 6};

int Label2(int u, int v) { return kT2[(((u >> 1) % 4 + 4) % 4) + 4 * (((v >> 1) % 4 + 4) % 4)]; }

// The codes as observer-form circuits of their parity checks (octal h0, then one per bit 0-3 of w; 0 leaves
// the bit uncoded).
int NextState(int states, int s, int w)
{
    static const unsigned h16[] = {021, 002, 014, 0, 0}, h32[] = {041, 010, 022, 0, 004},
                          h64[] = {0101, 0002, 0014, 0030, 0050};
    const unsigned* h = states == 16 ? h16 : (states == 32 ? h32 : h64);
    int next = s >> 1;
    if (s & 1)
        next ^= static_cast<int>(h[0] >> 1);
    for (int i = 0; i < 4; ++i)
        if ((w >> i) & 1)
            next ^= static_cast<int>(h[i + 1] >> 1);
    return next & (states - 1);
}

// The precoder's filter output as a real-number sum, rounded as the encoder rounds (ties toward zero).
std::pair<int, int> Predict(const int16_t c[6], const std::vector<std::pair<int, int>>& past)
{
    double re = 0, im = 0;
    for (int k = 0; k < 3; ++k) {
        const size_t at = past.size() - 1 - k;
        const double xr = k < static_cast<int>(past.size()) ? past[at].first : 0;
        const double xi = k < static_cast<int>(past.size()) ? past[at].second : 0;
        re += c[2 * k] * xr - c[2 * k + 1] * xi;
        im += c[2 * k] * xi + c[2 * k + 1] * xr;
    }
    auto round = [](double v) {
        const double m = std::floor((std::fabs(v) + 8191) / 16384.0);
        return static_cast<int>(v < 0 ? -m : m);
    };
    return {round(re), round(im)};
}

struct Pair {
    int symbolRateIndex;
    int rate;
};

std::vector<Pair> AllPairs()
{
    const int lowest[6] = {1, 2, 2, 2, 2, 2}, highest[6] = {9, 11, 11, 12, 13, 14};
    std::vector<Pair> v;
    for (int s = 0; s < 6; ++s)
        for (int r = lowest[s]; r <= highest[s]; ++r)
            v.push_back({s, r});
    return v;
}

V34EncoderState MakeEncoder(const Pair& p, int shaping, int states, const int16_t coefficients[6])
{
    V34EncoderState e{};
    e.frame.symbolRateIndex = p.symbolRateIndex;
    e.frame.rateMultiple = p.rate;
    e.frame.row = shaping;
    e.frame.symbolRate = V34SymbolRate(p.symbolRateIndex);
    InitV34Encoder(&e, states, 0, 1);
    for (int k = 0; k < 3; ++k)
        e.coefficients[k] = PackComplex(coefficients[2 * k], coefficients[2 * k + 1]);
    return e;
}

TEST(V34EncoderFrames, LabelsFollowTheTrellisExceptOnTheMarkedSymbols)
{
    const int16_t none[6] = {};
    const int16_t precoding[6] = {3000, -1500, -2000, 800, 700, 300};
    std::mt19937 rng(41);
    int runs = 0;
    for (const Pair& p : AllPairs()) {
        for (int shaping = 0; shaping < 2; ++shaping) {
            for (const int16_t* c : {none, precoding}) {
                const int states = 16 << (runs % 3);
                ++runs;
                V34EncoderState e = MakeEncoder(p, shaping, states, c);
                SCOPED_TRACE(testing::Message() << "rate index " << p.symbolRateIndex << " x" << p.rate
                                                << " shaping " << shaping << " states " << states);
                std::vector<std::pair<int, int>> past;
                int state = 0;
                const int frames = 2 * e.frame.P * e.frame.J + 3;  // past one superframe
                int taken = 0;
                for (int f = 0; f < frames; ++f) {
                    while (e.reservoir.count < MappingFrameBits(&e))
                        ASSERT_EQ(ReservoirPut(&e.reservoir, static_cast<uint32_t>(rng())), 0);
                    const int want = MappingFrameBits(&e);
                    const int before = e.reservoir.count;
                    MappingFrame mf{};
                    ASSERT_EQ(ParseMappingFrame(&e, &mf), 0);
                    ASSERT_EQ(before - e.reservoir.count, want);
                    taken += want;
                    const uint32_t first = e.symbolCount;
                    PackedComplex pts[8];
                    EncodeFrame(&e, &mf, pts);
                    for (int k = 0; k < 4; ++k) {
                        int l[2];
                        for (int h = 0; h < 2; ++h) {
                            const auto pr = Predict(c, past);
                            const int re = RealPart(pts[2 * k + h]) + pr.first;
                            const int im = ImagPart(pts[2 * k + h]) + pr.second;
                            ASSERT_EQ(re % 128, 0);
                            ASSERT_EQ(im % 128, 0);
                            ASSERT_NE((re / 128) % 2, 0) << "points lie on the odd grid";
                            l[h] = Label2(re / 128, im / 128);
                            past.emplace_back(RealPart(pts[2 * k + h]), ImagPart(pts[2 * k + h]));
                        }
                        const int y0 = (l[0] ^ l[1]) & 1;
                        const uint32_t n = first + static_cast<uint32_t>(k);
                        int expected = state & 1;
                        if (n % (2 * e.frame.P) == 0) {
                            const int j = static_cast<int>(n / (2 * e.frame.P)) % (2 * e.frame.J);
                            expected ^= (V34SuperframePattern(e.frame.J) >> (2 * e.frame.J - 1 - j)) & 1;
                        }
                        ASSERT_EQ(y0, expected) << "four-dimensional symbol " << n;
                        state = NextState(states, state, kT4[l[1] + 8 * l[0]]);
                    }
                }
                // Each data frame carries R x 280 ms / J bits.
                const int perDataFrame = 2400 * p.rate * 7 / 25 / e.frame.J;
                EXPECT_EQ(e.frame.P * e.frame.b - (e.frame.P - __builtin_popcount(e.frame.switchingPattern)),
                          perDataFrame);
                (void)taken;
            }
        }
    }
    EXPECT_EQ(runs, 65 * 4);
}

TEST(V34EncoderFrames, BitDistributionOfTheShortAndLongFrames)
{
    const int16_t none[6] = {};
    // 3429 baud at 4800: b 12 with 3 long frames of 15; the short frames leave out bit 2 of the fourth I.
    V34EncoderState e = MakeEncoder({5, 2}, 0, 16, none);
    EXPECT_EQ(e.frame.b, 12);
    int longFrames = 0;
    for (int f = 0; f < e.frame.P; ++f) {
        const bool isLong = MappingFrameBits(&e) == 12;
        longFrames += isLong;
        e.reservoir = {};
        ReservoirPut(&e.reservoir, 0xFFFFFFFFu);
        MappingFrame mf{};
        ASSERT_EQ(ParseMappingFrame(&e, &mf), 0);
        EXPECT_EQ(mf.i[0], 7);
        EXPECT_EQ(mf.i[3], isLong ? 7 : 3);
        EXPECT_EQ(e.reservoir.count, 32 - (isLong ? 12 : 11));
    }
    EXPECT_EQ(longFrames, 3);
    // 2400 baud at 2400: four 8-bit frames per word, two bits to each I.
    V34EncoderState low = MakeEncoder({0, 1}, 0, 16, none);
    ReservoirPut(&low.reservoir, 0xE4E4E4E4u);  // I fields 0, 1, 2, 3 in every frame
    for (int f = 0; f < 4; ++f) {
        MappingFrame mf{};
        ASSERT_EQ(ParseMappingFrame(&low, &mf), 0);
        EXPECT_EQ(mf.i[0], 0);
        EXPECT_EQ(mf.i[1], 1);
        EXPECT_EQ(mf.i[2], 2);
        EXPECT_EQ(mf.i[3], 3);
    }
    MappingFrame mf{};
    EXPECT_EQ(ParseMappingFrame(&low, &mf), 1) << "the word is used up";
    // b >= 13: the shell index first (K bits in a long frame), then I, Q, Q per four-dimensional symbol.
    V34EncoderState top = MakeEncoder({5, 14}, 1, 64, none);  // b 79, K 27, q 5
    while (MappingFrameBits(&top) != 79)
        top.frameIndex += 1;
    for (int w = 0; w < 3; ++w)
        ReservoirPut(&top.reservoir, w == 0 ? 0x87654321u : 0);
    ASSERT_EQ(ParseMappingFrame(&top, &mf), 0);
    EXPECT_EQ(mf.shellIndex, 0x87654321u & 0x7FFFFFFu);
    EXPECT_EQ(mf.i[0], (0x87654321u >> 27) & 7u);
    EXPECT_EQ(mf.q[0] & 0xFF, (0x87654321u >> 30) & 3u);
    // b = 9 (a 200 bit/s rate part, never offered): 3 + 2 + 2 + 2 distinct bits in a long frame, bit 2 of the
    // first I field left out of a short one.
    V34EncoderState nine = MakeEncoder({0, 1}, 0, 16, none);
    nine.frame.b = 9;
    nine.frame.switchingPattern = static_cast<uint16_t>(1u << (nine.frame.P - 1));  // frame 0 long, frame 1 short
    ReservoirPut(&nine.reservoir, 0x1B5u | (0xE4u << 9));  // I fields 5, 2, 1, 3 | 0, 1, 2, 3
    ASSERT_EQ(ParseMappingFrame(&nine, &mf), 0);
    EXPECT_EQ(mf.i[0], 5);
    EXPECT_EQ(mf.i[1], 2);
    EXPECT_EQ(mf.i[2], 1);
    EXPECT_EQ(mf.i[3], 3);
    EXPECT_EQ(nine.reservoir.count, 32 - 9);
    ASSERT_EQ(ParseMappingFrame(&nine, &mf), 0);
    EXPECT_EQ(nine.reservoir.count, 32 - 17);
    EXPECT_EQ(mf.i[0], 0);
    EXPECT_EQ(mf.i[3], 3);
    // Any other b takes nothing.
    V34EncoderState odd = low;
    odd.frame.b = 10;
    EXPECT_EQ(ParseMappingFrame(&odd, &mf), 2);
}

TEST(V34EncoderFrames, ScaleTableMatchesThePrintedValues)
{
    const int16_t* t = V34ScaleTable();
    const int printed2400[18] = {30965, 30965, 23823, 23832, 16976, 17432, 11940, 12276, 8450,
                                 8726,  5976,  6177,  4232,  4369,  2994,  3092,  2115, 2185};
    for (int i = 0; i < 18; ++i)
        EXPECT_NEAR(t[i], printed2400[i], printed2400[i] * 0.001 + 1) << i;
    const int start3429 = V34ScaleIndex(5, 2, 0);
    EXPECT_EQ(start3429, 104);
    const int head[6] = {30965, 30965, 22989, 23008, 18432, 18435};
    const int tail[4] = {2048, 2110, 1623, 1665};
    for (int i = 0; i < 6; ++i)
        EXPECT_NEAR(t[start3429 + i], head[i], head[i] * 0.0012 + 1) << i;
    for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(t[126 + i], tail[i], tail[i] * 0.001 + 1) << i;
    for (int i = 0; i < kV34ScaleEntries; ++i) {
        EXPECT_GE(t[kV34ScaleEntries + i], 29812) << i;
        EXPECT_LE(t[kV34ScaleEntries + i], 31124) << i;
    }
    EXPECT_EQ(V34ScaleIndex(0, 10, 0), -1);
    EXPECT_EQ(V34ScaleIndex(5, 14, 1), 129);
}

double MeanPower(const Pair& p, int shaping, const int16_t c[6], int frames)
{
    V34EncoderState e = MakeEncoder(p, shaping, 16, c);
    int32_t scale = 0, gain = 0;
    V34PowerScale(p.symbolRateIndex, p.rate, shaping, e.frame.b, c, &scale, &gain);
    std::mt19937 rng(5);
    double sum = 0;
    int n = 0;
    for (int f = 0; f < frames; ++f) {
        while (e.reservoir.count < MappingFrameBits(&e))
            ReservoirPut(&e.reservoir, static_cast<uint32_t>(rng()));
        MappingFrame mf{};
        ParseMappingFrame(&e, &mf);
        PackedComplex pts[8];
        EncodeFrame(&e, &mf, pts);
        for (PackedComplex x : pts) {
            const PackedComplex y = ScaleTransmitPoint(0, scale, 0x7FFF, x);
            sum += double(RealPart(y)) * RealPart(y) + double(ImagPart(y)) * ImagPart(y);
            ++n;
        }
    }
    return sum / n;
}

TEST(V34EncoderFrames, MeanTransmitPowerIsTheSameAtEveryRate)
{
    // Fewer frames measure each rate's power less closely: 1000 keep every estimate within about 0.05 dB.
#ifdef MODEM_UNDER_SANITIZER
    constexpr int kFrames = 1000;
#else
    constexpr int kFrames = 2000;
#endif
    const int16_t none[6] = {};
    const int16_t mild[6] = {3000, -1500, -2000, 800, 700, 300};
    const int16_t strong[6] = {8000, -4000, -5000, 2000, 1500, 800};
    for (const int16_t* c : {none, mild, strong}) {
        SCOPED_TRACE(c == none ? "without precoding" : (c == mild ? "mild precoder" : "strong precoder"));
        std::vector<double> db;
        std::vector<int> fourPoint;   // b = 8: 2400 bit/s at 2400 baud
        for (const Pair& p : AllPairs()) {
            for (int shaping = 0; shaping < 2; ++shaping) {
                db.push_back(10 * std::log10(MeanPower(p, shaping, c, kFrames)));
                fourPoint.push_back(p.symbolRateIndex == 0 && p.rate == 1);
            }
        }
        double lo = 1e30, hi = -1e30, top = -1e30;
        for (size_t i = 0; i < db.size(); ++i) {
            lo = std::min(lo, db[i]);
            if (fourPoint[i] != 0)
                top = std::max(top, db[i]);
            else
                hi = std::max(hi, db[i]);
        }
        // Every rate within 0.5 dB of every other. At 2400 bit/s the four corner points follow each other
        // with quarter turns of 0 or +90 degrees only, so the sequence is not white: a mild precoder adds
        // more power than the scale's correction (which assumes white points) takes off, and the printed
        // 30965 with that correction leaves this one rate up to about 0.65 dB above the quietest.
        EXPECT_LT(hi - lo, 0.5) << lo << " ... " << hi;
        EXPECT_LT(top - lo, c == none || c == strong ? 0.5 : 0.7) << "2400 bit/s at " << top;
    }
}

TEST(V34EncoderFrames, NonlinearEncoderScalesAndInverts)
{
    // Flag clear: the point times scale / 512 times gain / 32768.
    const PackedComplex x = PackComplex(1280, -384);
    const PackedComplex y = ScaleTransmitPoint(0, 4096, 0x4000, x);
    EXPECT_EQ(RealPart(y), (1280 * 4096 / 512) * (0x4000 / 2) / 16384);
    EXPECT_EQ(ImagPart(y), (-384 * 4096 / 512) * (0x4000 / 2) / 16384);
    // Flag set: the gain grows with the point's power, and the receiver's inverse undoes it (scale 512 and
    // reciprocal 16384 are both unity).
    std::mt19937 rng(9);
    for (int i = 0; i < 1000; ++i) {
        const int re = static_cast<int>(rng() % 28001) - 14000;
        const int im = static_cast<int>(rng() % 28001) - 14000;
        const PackedComplex sent = ScaleTransmitPoint(1, 512, 0x7FFF, PackComplex(re, im));
        const PackedComplex plain = ScaleTransmitPoint(0, 512, 0x7FFF, PackComplex(re, im));
        EXPECT_GE(std::abs(RealPart(sent)), std::abs(RealPart(plain)));
        const PackedComplex back = UnscaleReceivePoint(1, 16384, sent);
        EXPECT_NEAR(RealPart(back), re, 3 + std::abs(re) * 0.001) << re << "," << im;
        EXPECT_NEAR(ImagPart(back), im, 3 + std::abs(im) * 0.001) << re << "," << im;
    }
}

}  // namespace
