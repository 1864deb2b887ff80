// Shell mapping against the ordering of eight-ring tuples: the tuples sorted by total, then the sum of the
// first four rings, then the last four (their first pair's sum, the ring of their second pair, the ring of their
// first pair) and last the first four likewise. Exhaustive where M^8 is small, random indices up to K = 31.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <set>
#include <vector>

#include "layer1/modem/v34/shell_map.h"
#include "layer1/modem/v34/v34_framing.h"

namespace {

using Rings = std::array<uint8_t, 8>;
using Key = std::array<int, 8>;

Key OrderKey(const Rings& r)
{
    const int s01 = r[0] + r[1];
    const int s23 = r[2] + r[3];
    const int s45 = r[4] + r[5];
    const int s67 = r[6] + r[7];
    return Key{s01 + s23 + s45 + s67, s01 + s23, s45, r[6], r[4], s01, r[2], r[0]};
}

V34FrameParams TablesFor(int m)
{
    V34FrameParams p{};
    p.M = m;
    BuildV34ShellTables(&p);
    return p;
}

// Every M with K <= 16 in either row; M^8 is at most 5^8.
TEST(V34ShellMap, AgreesWithTheSortedTuplesUpToSixteenBits)
{
    std::set<int> ms;
    for (int row = 0; row < 2; ++row)
        for (int k = 1; k <= 16; ++k)
            ms.insert(V34RingCount(row, k));
    for (int m : ms) {
        std::vector<std::pair<Key, Rings>> all;
        Rings r{};
        const int total = [m] { int t = 1; for (int i = 0; i < 8; ++i) t *= m; return t; }();
        all.reserve(total);
        for (int code = 0; code < total; ++code) {
            int c = code;
            for (int i = 0; i < 8; ++i) {
                r[i] = static_cast<uint8_t>(c % m);
                c /= m;
            }
            all.emplace_back(OrderKey(r), r);
        }
        std::sort(all.begin(), all.end());
        const V34FrameParams t = TablesFor(m);
        const int limit = std::min(total, 1 << 16);
        for (int i = 0; i < limit; ++i) {
            Rings got{};
            ShellMap(static_cast<uint32_t>(i), &t, got.data());
            ASSERT_EQ(got, all[i].second) << "M " << m << " index " << i;
        }
    }
}

// The rank of a tuple in that order, from counts of ring pairs made by enumeration.
struct Ranker {
    int m;
    std::vector<uint64_t> n2, n4, n8;
    explicit Ranker(int rings) : m(rings), n2(2 * rings - 1), n4(4 * rings - 3), n8(8 * rings - 7)
    {
        for (int a = 0; a < m; ++a)
            for (int b = 0; b < m; ++b)
                ++n2[a + b];
        for (size_t x = 0; x < n2.size(); ++x)
            for (size_t y = 0; y < n2.size(); ++y)
                n4[x + y] += n2[x] * n2[y];
        for (size_t x = 0; x < n4.size(); ++x)
            for (size_t y = 0; y < n4.size(); ++y)
                n8[x + y] += n4[x] * n4[y];
    }
    uint64_t N2(int s) const { return s >= 0 && s < static_cast<int>(n2.size()) ? n2[s] : 0; }
    uint64_t N4(int s) const { return s >= 0 && s < static_cast<int>(n4.size()) ? n4[s] : 0; }
    uint64_t PairRank(int first, int sum) const { return static_cast<uint64_t>(first - std::max(0, sum - m + 1)); }
    uint64_t HalfRank(const uint8_t* r) const
    {
        const int p = r[0] + r[1];
        const int h = p + r[2] + r[3];
        uint64_t below = 0;
        for (int x = 0; x < p; ++x)
            below += N2(x) * N2(h - x);
        return below + PairRank(r[2], r[2] + r[3]) * N2(p) + PairRank(r[0], p);
    }
    uint64_t Rank(const Rings& r) const
    {
        const int h1 = r[0] + r[1] + r[2] + r[3];
        const int t = h1 + r[4] + r[5] + r[6] + r[7];
        uint64_t below = 0;
        for (int x = 0; x < t; ++x)
            below += n8[x];
        for (int x = 0; x < h1; ++x)
            below += N4(x) * N4(t - x);
        return below + HalfRank(r.data() + 4) * N4(h1) + HalfRank(r.data());
    }
};

TEST(V34ShellMap, RandomIndicesUpToThirtyOneBitsRankBack)
{
#ifdef MODEM_UNDER_SANITIZER
    constexpr int kIndices = 100000;
#else
    constexpr int kIndices = 1000000;
#endif
    // (M, K) for every M of both rows at K above 16, each with its largest K.
    std::vector<std::pair<int, int>> cases;
    for (int row = 0; row < 2; ++row) {
        for (int k = 17; k <= 31; ++k) {
            const int m = V34RingCount(row, k);
            auto it = std::find_if(cases.begin(), cases.end(), [m](auto& c) { return c.first == m; });
            if (it == cases.end())
                cases.emplace_back(m, k);
            else
                it->second = std::max(it->second, k);
        }
    }
    ASSERT_TRUE(std::any_of(cases.begin(), cases.end(), [](auto& c) { return c.first == 17; }));
    ASSERT_TRUE(std::any_of(cases.begin(), cases.end(), [](auto& c) { return c.first == 18; }));
    std::mt19937 rng(34);
    for (const auto& [m, k] : cases) {
        const V34FrameParams t = TablesFor(m);
        const Ranker ranker(m);
        const int n = kIndices / static_cast<int>(cases.size());
        const uint32_t top = static_cast<uint32_t>((uint64_t{1} << k) - 1);
        for (int i = 0; i < n; ++i) {
            uint32_t index = static_cast<uint32_t>(rng()) & top;
            if (i == 0)
                index = top;  // the largest index of K bits
            Rings got{};
            ShellMap(index, &t, got.data());
            for (uint8_t ring : got)
                ASSERT_LT(ring, m);
            ASSERT_EQ(ranker.Rank(got), index) << "M " << m << " K " << k;
        }
    }
}

TEST(V34ShellMap, ZeroGivesZeroRingsAndTheLastTupleHasTheLargestSum)
{
    for (int m = 2; m <= 18; ++m) {
        const V34FrameParams t = TablesFor(m);
        Rings got{};
        ShellMap(0, &t, got.data());
        EXPECT_EQ(got, Rings{}) << m;
        if (m <= 14) {  // M^8 - 1 fits the 32-bit index
            uint64_t all = 1;
            for (int i = 0; i < 8; ++i)
                all *= static_cast<uint64_t>(m);
            ShellMap(static_cast<uint32_t>(all - 1), &t, got.data());
            for (uint8_t ring : got)
                EXPECT_EQ(ring, m - 1) << m;
        }
    }
}

}  // namespace
