// The V.34 Viterbi decoder: the 32-state table's fixed rows, noiseless identity through the superframe marker
// in every library column, the decision delay and the tie rule, the error rate against a hard slicer, a
// floating-point Viterbi written here, metrics under full-scale burst noise, and garbage input.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "layer1/modem/v34/trellis_code.h"
#include "layer1/modem/v34/v34_encoder.h"
#include "layer1/modem/v34/v34_trellis_decoder.h"
#include "layer1/vek/core/vek_dispatch.h"
#include "layer1/vek/core/vek_select.h"
#include "layer1/vek/trellis/trellis_shape.h"
#include "tests/modem/v34_rx_chain.h"

namespace {

using v34test::RatePair;
using v34test::TxChain;

#if defined(MODEM_UNDER_SANITIZER)
constexpr int kNoisySymbols = 3000;
#else
constexpr int kNoisySymbols = 40000;
#endif

// Selects a library column for the test's life, then the generic one again.
struct Column {
    explicit Column(int c) { EXPECT_EQ(vek_install_column(c), 1); }
    ~Column() { vek_install_column(VEK_CPU_GEN); }
};

// A stream of four-dimensional symbols from the encoder: received (with noise) and ideal pairs, and the
// marker inversion of each.
struct Stream {
    std::vector<PackedComplex> rx;
    std::vector<PackedComplex> ideal;
    std::vector<int> invert;
};

// 2400 baud at 4800 bit/s has short data frames, so the marker comes every few symbols.
Stream MakeStream(int states, int symbols, double sigma, uint32_t seed, RatePair p = {0, 2}, bool precoding = true)
{
    TxChain tx(p, 0, states, precoding, 1, seed);
    V34MarkerSchedule marks{};
    InitV34MarkerSchedule(&marks, tx.encoder().frame.J, tx.encoder().frame.P);
    Stream s;
    while (static_cast<int>(s.invert.size()) < symbols) {
        PackedComplex rx[8], ideal[8];
        tx.NextFrame(sigma, rx, ideal);
        s.rx.insert(s.rx.end(), rx, rx + 8);
        s.ideal.insert(s.ideal.end(), ideal, ideal + 8);
        for (int k = 0; k < 4; ++k)
            s.invert.push_back(NextMarkerInversion(&marks));
    }
    return s;
}

// Every decision of a run: tentative and final pairs, fill markers and metrics after each symbol.
struct Decisions {
    std::vector<PackedComplex> tentative;
    std::vector<PackedComplex> final;   // 0 before the path memory is full
    std::vector<int> fill;
    std::vector<uint16_t> metrics;
};

Decisions Decode(int states, const Stream& s)
{
    V34TrellisDecoder d{};
    InitV34TrellisDecoder(&d, states);
    Decisions r;
    for (size_t n = 0; n < s.invert.size(); ++n) {
        PackedComplex fin[2] = {}, tent[2] = {};
        r.fill.push_back(TrellisDecode(&d, &s.rx[2 * n], s.invert[n], fin, tent));
        r.tentative.insert(r.tentative.end(), tent, tent + 2);
        r.final.insert(r.final.end(), fin, fin + 2);
        r.metrics.insert(r.metrics.end(), d.metrics, d.metrics + states);
    }
    return r;
}

TEST(V34TrellisDecoder, ThirtyTwoStateTableBeginsWithTheLibrarysFixedRows)
{
    V34TrellisDecoder d{};
    InitV34TrellisDecoder(&d, 32);
    std::vector<int> reached(32, 0);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 8; ++j) {
            EXPECT_EQ(d.next[i * 8 + j], vek_trellis::kFixed32[i][j]) << i << "," << j;
            reached[d.next[i * 8 + j]] += 1;
        }
    for (int n = 0; n < 32; ++n)
        EXPECT_EQ(reached[n], 1) << n;
    // Each row of every code reaches distinct states, and the branches are the code's coded label bits.
    for (const int states : {16, 32, 64}) {
        InitV34TrellisDecoder(&d, states);
        for (int i = 0; i < states; ++i) {
            std::vector<int> seen(states, 0);
            for (int j = 0; j < states / 4; ++j)
                EXPECT_EQ(seen[d.next[i * (states / 4) + j]]++, 0) << states << " state " << i;
        }
    }
}

// Each candidate code's offset from the cell corner names the point the library measured: a point of the
// subset its entry stands for, at the distance it reports.
TEST(V34TrellisDecoder, CandidateOffsetsNameTheLibrarysPoints)
{
    std::mt19937 rng(17);
    std::vector<int> seen(12, 0);
    for (int n = 0; n < 20000; ++n) {
        const int16_t point[2] = {static_cast<int16_t>(static_cast<int>(rng() % 12001) - 6000),
                                  static_cast<int16_t>(static_cast<int>(rng() % 12001) - 6000)};
        int32_t corner = 0;
        int32_t entries[8];
        ASSERT_EQ(vek_trellis_metric_2d(point, &corner, entries, V34TrellisLabelMap(), 64), VEK_OK);
        for (int subset = 0; subset < 8; ++subset) {
            const int code = vek_trellis::Code(entries[subset]);
            ASSERT_LT(code, 12);
            seen[code] += 1;
            int dx = 0, dy = 0;
            V34CandidateOffset(code, &dx, &dy);
            const int x = static_cast<int16_t>(corner & 0xFFFF) + 256 * dx;
            const int y = static_cast<int16_t>(static_cast<uint32_t>(corner) >> 16) + 256 * dy;
            const int ex = x - point[0], ey = y - point[1];
            ASSERT_EQ(x % 256 != 0 && y % 256 != 0, true);
            EXPECT_EQ(V34SubsetLabel(x / 128, y / 128), subset) << "code " << code;
            EXPECT_EQ(vek_trellis::Distance(entries[subset]), ((ex * ex) >> 4) + ((ey * ey) >> 4))
                << "code " << code << " subset " << subset;
        }
    }
    for (int code = 0; code < 12; ++code)
        EXPECT_GT(seen[code], 0) << code;
}

TEST(V34TrellisDecoder, NoiselessStreamsComeBackInEveryColumnThroughTheMarker)
{
    for (int column = 0; column < VEK_COLUMN_COUNT; ++column) {
        Column use(column);
        for (const int states : {16, 32, 64}) {
            SCOPED_TRACE(testing::Message() << "column " << column << " states " << states);
            const Stream s = MakeStream(states, 600, 0, 7u + static_cast<uint32_t>(states));
            int marked = 0;
            for (const int f : s.invert)
                marked += f;
            ASSERT_GT(marked, 5);
            const Decisions r = Decode(states, s);
            for (size_t n = 0; n < s.invert.size(); ++n) {
                ASSERT_EQ(r.tentative[2 * n], s.ideal[2 * n]) << n;
                ASSERT_EQ(r.tentative[2 * n + 1], s.ideal[2 * n + 1]) << n;
                // No final decision before the ring is full; then the symbol S - 1 before.
                const int late = static_cast<int>(n) - (states - 1);
                ASSERT_EQ(r.fill[n], late >= 0 ? kV34TrellisFilled : 0) << n;
                if (late >= 0) {
                    ASSERT_EQ(r.final[2 * n], s.ideal[2 * late]) << n;
                    ASSERT_EQ(r.final[2 * n + 1], s.ideal[2 * late + 1]) << n;
                }
            }
        }
    }
}

TEST(V34TrellisDecoder, EveryColumnDecidesAlikeUnderNoise)
{
    for (const int states : {16, 32, 64}) {
        const Stream s = MakeStream(states, kNoisySymbols / 4, 80.0, 21u);
        Decisions base;
        {
            Column use(VEK_CPU_GEN);
            base = Decode(states, s);
        }
        for (int column = 1; column < VEK_COLUMN_COUNT; ++column) {
            Column use(column);
            const Decisions r = Decode(states, s);
            EXPECT_EQ(r.tentative, base.tentative) << "column " << column << " states " << states;
            EXPECT_EQ(r.final, base.final) << "column " << column << " states " << states;
            EXPECT_EQ(r.metrics, base.metrics) << "column " << column << " states " << states;
        }
    }
}

TEST(V34TrellisDecoder, TheBestStateIsTheLowestOfEqualMetrics)
{
    for (const int states : {16, 32, 64}) {
        const Stream s = MakeStream(states, 2000, 90.0, 3u);
        V34TrellisDecoder d{};
        InitV34TrellisDecoder(&d, states);
        int ties = 0;
        for (size_t n = 0; n < s.invert.size(); ++n) {
            PackedComplex fin[2], tent[2];
            TrellisDecode(&d, &s.rx[2 * n], s.invert[n], fin, tent);
            ASSERT_EQ(d.metrics[d.best], 0);
            for (int i = 0; i < d.best; ++i)
                ASSERT_GT(d.metrics[i], 0) << n;
            for (int i = d.best + 1; i < states; ++i)
                ties += d.metrics[i] == 0;
        }
        // Right after reset every state is equal: the first decision comes from state 0's tie break.
        InitV34TrellisDecoder(&d, states);
        const PackedComplex mid[2] = {PackComplex(0, 0), PackComplex(0, 0)};
        PackedComplex fin[2], tent[2];
        TrellisDecode(&d, mid, 0, fin, tent);
        for (int i = 0; i < d.best; ++i)
            EXPECT_GT(d.metrics[i], 0);
        EXPECT_EQ(d.metrics[d.best], 0);
        (void)ties;
    }
}

// Hard decisions: each coordinate to the nearest odd multiple of 128.
int Slice(int v)
{
    const int k = static_cast<int>(std::floor(v / 256.0));
    return 256 * k + 128;
}

TEST(V34TrellisDecoder, CodedErrorsAreAtMostATenthOfTheSlicersAtEqualNoise)
{
    // Slicer symbol error rates from about 0.4 % to 5 % (beyond that the code's error events run together).
    const double sigmas[] = {42.0, 50.0, 58.0};
    long previous = 1L << 30;
    for (const int states : {16, 32, 64}) {
        for (const double sigma : sigmas) {
            const Stream s = MakeStream(states, kNoisySymbols / 2, sigma, 31u, {5, 14});
            const Decisions r = Decode(states, s);
            long hard = 0, coded = 0, points = 0;
            for (size_t n = states; n < s.invert.size(); ++n) {
                const size_t late = n - static_cast<size_t>(states - 1);
                for (int h = 0; h < 2; ++h) {
                    const PackedComplex rx = s.rx[2 * n + h], ideal = s.ideal[2 * n + h];
                    hard += Slice(RealPart(rx)) != RealPart(ideal) || Slice(ImagPart(rx)) != ImagPart(ideal);
                    coded += r.final[2 * n + h] != s.ideal[2 * late + h];
                    ++points;
                }
            }
            SCOPED_TRACE(testing::Message() << "states " << states << " sigma " << sigma << ": slicer " << hard
                                            << " coded " << coded << " of " << points);
            EXPECT_GT(hard, points / 1000);
            EXPECT_LE(coded * 10, hard);
            if (sigma == sigmas[2]) {
                EXPECT_LE(coded, previous) << "more states, fewer errors";
                previous = coded;
            }
        }
    }
}

// ---- a floating-point Viterbi written from the code's definition ----

struct FloatViterbi {
    int states;
    std::vector<double> metric;
    std::vector<std::vector<int>> pred;     // per symbol, per state
    std::vector<std::vector<int>> label;    // per symbol, per state: the decided pair as (u1, v1, u2, v2) index
    std::vector<std::vector<std::array<int, 4>>> pair;

    explicit FloatViterbi(int s) : states(s), metric(s, 0.0) {}

    // The coded label bits a branch j stands for.
    int Coded(int j) const { return states == 32 ? ((j & 3) | ((j >> 2) << 3)) : j; }

    void Step(const PackedComplex rx[2], int invert)
    {
        // Nearest point of each two-dimensional subset, by search over the lattice around the point.
        double dist[2][8];
        int nu[2][8], nv[2][8];
        for (int k = 0; k < 2; ++k) {
            for (int l = 0; l < 8; ++l)
                dist[k][l] = std::numeric_limits<double>::infinity();
            const double x = RealPart(rx[k]) / 128.0, y = ImagPart(rx[k]) / 128.0;
            const int cu = 2 * static_cast<int>(std::floor(x / 2.0)) + 1, cv = 2 * static_cast<int>(std::floor(y / 2.0)) + 1;
            for (int du = -6; du <= 6; du += 2)
                for (int dv = -6; dv <= 6; dv += 2) {
                    const int u = cu + du, v = cv + dv;
                    const int l = V34SubsetLabel(u, v);
                    const double d = (x - u) * (x - u) + (y - v) * (y - v);
                    if (d < dist[k][l]) {
                        dist[k][l] = d;
                        nu[k][l] = u;
                        nv[k][l] = v;
                    }
                }
        }
        // The best pair of each four-dimensional subset (parity, coded label bits).
        const uint32_t mask = TrellisCodedMask(states);
        double bm[2][16];
        std::array<int, 4> bq[2][16];
        for (int y0 = 0; y0 < 2; ++y0)
            for (int c = 0; c < 16; ++c)
                bm[y0][c] = std::numeric_limits<double>::infinity();
        for (int l1 = 0; l1 < 8; ++l1)
            for (int l2 = 0; l2 < 8; ++l2) {
                const int y0 = (l1 ^ l2) & 1;
                const int c = static_cast<int>(static_cast<uint32_t>(V34FourDimensionalLabel(l1, l2)) & mask);
                if (dist[0][l1] + dist[1][l2] < bm[y0][c]) {
                    bm[y0][c] = dist[0][l1] + dist[1][l2];
                    bq[y0][c] = {nu[0][l1], nv[0][l1], nu[1][l2], nv[1][l2]};
                }
            }
        std::vector<double> next(states, std::numeric_limits<double>::infinity());
        std::vector<int> p(states, 0);
        std::vector<std::array<int, 4>> best(states);
        for (int i = 0; i < states; ++i) {
            const int y0 = (i & 1) ^ invert;
            for (int j = 0; j < states / 4; ++j) {
                const double m = bm[y0][Coded(j)];
                const std::array<int, 4> q = bq[y0][Coded(j)];
                const int to = TrellisNextState(static_cast<uint8_t>(i), states, static_cast<uint32_t>(Coded(j)));
                if (metric[i] + m < next[to]) {
                    next[to] = metric[i] + m;
                    p[to] = i;
                    best[to] = q;
                }
            }
        }
        double low = next[0];
        for (int i = 1; i < states; ++i)
            low = std::min(low, next[i]);
        for (int i = 0; i < states; ++i)
            metric[i] = next[i] - low;
        pred.push_back(p);
        pair.push_back(best);
    }

    // The pair S - 1 symbols back from the best state (the lowest of equal metrics).
    std::array<int, 4> Final() const
    {
        int state = 0;
        for (int i = 1; i < states; ++i)
            if (metric[i] < metric[state])
                state = i;
        size_t n = pred.size() - 1;
        for (int k = 1; k < states; ++k)
            state = pred[n--][state];
        return pair[n][state];
    }
};

TEST(V34TrellisDecoder, AFloatingPointViterbiDecidesTheSame)
{
    for (const int states : {16, 32, 64}) {
        const Stream s = MakeStream(states, kNoisySymbols / 8, 70.0, 77u);
        const Decisions r = Decode(states, s);
        FloatViterbi ref(states);
        long differ = 0, compared = 0;
        for (size_t n = 0; n < s.invert.size(); ++n) {
            ref.Step(&s.rx[2 * n], s.invert[n]);
            if (static_cast<int>(n) < states - 1)
                continue;
            const std::array<int, 4> q = ref.Final();
            const bool same = r.final[2 * n] == PackComplex(128 * q[0], 128 * q[1]) &&
                              r.final[2 * n + 1] == PackComplex(128 * q[2], 128 * q[3]);
            differ += !same;
            ++compared;
        }
        // The fixed-point metrics truncate each squared term to 1/16; only near-ties can differ.
        EXPECT_LE(differ * 1000, compared) << "states " << states << ": " << differ << " of " << compared;
    }
}

TEST(V34TrellisDecoder, FullScaleBurstNoiseNeverWrapsAMetric)
{
    std::mt19937 rng(99);
    for (const int states : {16, 32, 64}) {
        V34TrellisDecoder d{};
        InitV34TrellisDecoder(&d, states);
        const Stream clean = MakeStream(states, 3000, 0, 4u);
        // Reference metrics in 64 bits over the same four-dimensional subset metrics.
        std::vector<int64_t> ref(states, 0);
        const int branches = states / 4;
        int recovered = -1;
        for (size_t n = 0; n < clean.invert.size(); ++n) {
            PackedComplex in[2];
            const bool burst = n >= 200 && n < 1200;
            for (int k = 0; k < 2; ++k) {
                const uint32_t v = static_cast<uint32_t>(rng());
                const int16_t full[4] = {32767, -32768, 32767, -32768};
                in[k] = burst ? PackComplex(full[v & 3], full[(v >> 2) & 3]) ^ (v & 0x00FF00FFu) : clean.rx[2 * n + k];
            }
            int32_t m2[16];
            int32_t corner;
            TrellisMetric4d m4[32];
            for (int k = 0; k < 2; ++k) {
                const int16_t pt[2] = {RealPart(in[k]), ImagPart(in[k])};
                vek_trellis_metric_2d(pt, &corner, m2 + 8 * k, V34TrellisLabelMap(), states);
            }
            vek_trellis_metric_4d(m2, m4, states, 0);
            std::vector<int64_t> next(states, std::numeric_limits<int64_t>::max());
            for (int i = 0; i < states; ++i)
                for (int j = 0; j < branches; ++j) {
                    const int rec = ((i & 1) ^ clean.invert[n]) + 2 * j;
                    const int to = d.next[i * branches + j];
                    next[to] = std::min(next[to], ref[i] + m4[rec].metric);
                }
            int64_t low = next[0];
            for (int i = 1; i < states; ++i)
                low = std::min(low, next[i]);
            for (int i = 0; i < states; ++i)
                ref[i] = std::min<int64_t>(next[i] - low, 0x7FFF);

            PackedComplex fin[2], tent[2];
            TrellisDecode(&d, in, clean.invert[n], fin, tent);
            for (int i = 0; i < states; ++i)
                ASSERT_EQ(d.metrics[i], ref[i]) << "states " << states << " symbol " << n << " state " << i;
            // After the burst the decisions come right again.
            const int late = static_cast<int>(n) - (states - 1);
            if (n >= 1200 && late >= 1200 && recovered < 0 && fin[0] == clean.ideal[2 * late] &&
                fin[1] == clean.ideal[2 * late + 1])
                recovered = static_cast<int>(n);
        }
        EXPECT_GE(recovered, 0) << states;
        EXPECT_LT(recovered, 1200 + 4 * states) << states;
    }
}

TEST(V34TrellisDecoder, GarbageSymbolsNeverLeaveTheArrays)
{
    std::mt19937 rng(1234);
    for (const int states : {16, 32, 64, 0, 128, -5}) {
        V34TrellisDecoder d{};
        InitV34TrellisDecoder(&d, states);
        for (int n = 0; n < 5000; ++n) {
            const PackedComplex in[2] = {static_cast<PackedComplex>(rng()), static_cast<PackedComplex>(rng())};
            PackedComplex fin[2], tent[2];
            const int fill = TrellisDecode(&d, in, static_cast<int>(rng() & 1u), fin, tent);
            ASSERT_TRUE(fill == 0 || fill == kV34TrellisFilled);
            ASSERT_LT(d.best, d.states);
        }
    }
}

}  // namespace
