// Cross-correlation (slot 117) in every column against a 64-bit brute force: the direct route exactly (while
// the sums stay below 2^24), the FFT route within one LSB, the lags without terms zero, the route threshold,
// argument checks and the pair guard of the 16-bit kernels.
#include <cmath>

#include "layer1/vek/core/vek_memory.h"
#include "vek_harness.h"

namespace {

std::int64_t brute(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b, std::int64_t lag)
{
    std::int64_t s = 0;
    for (std::int64_t j = 0; j < static_cast<std::int64_t>(a.size()); ++j) {
        const std::int64_t k = j + lag;
        if (k >= 0 && k < static_cast<std::int64_t>(b.size())) {
            s += std::int64_t{a[j]} * b[k];
        }
    }
    return s;
}

int scaled(std::int64_t c, std::int32_t sf)
{
    const long double r = nearbyintl(ldexpl(static_cast<long double>(c), -sf));
    return static_cast<int>(r > 32767 ? 32767 : (r < -32768 ? -32768 : r));
}

struct Case {
    std::int32_t len1, len2, dstLen, lowLag, sf, amplitude;
};

// Largest |got - want| over the case; the guards around dst stay intact.
int worst(int col, const Case& c, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> u(-c.amplitude, c.amplitude);
    std::vector<std::int16_t> a(static_cast<std::size_t>(c.len1)), b(static_cast<std::size_t>(c.len2));
    for (auto& v : a) v = static_cast<std::int16_t>(u(rng));
    for (auto& v : b) v = static_cast<std::int16_t>(u(rng));
    // sf 99: the smallest scale factor that keeps every result in range (rounding seen, not saturation).
    std::int32_t sf = c.sf;
    if (sf == 99) {
        std::int64_t peak = 0;
        for (std::int32_t k = 0; k < c.dstLen; ++k) {
            const std::int64_t v = brute(a, b, std::int64_t{c.lowLag} + k);
            peak = std::max(peak, v < 0 ? -v : v);
        }
        for (sf = 0; (peak >> sf) > 30000; ++sf) {
        }
    }
    vektest::GuardedBuffer out(static_cast<std::size_t>(c.dstLen) * 2, 2);
    auto* d = out.as<std::int16_t>();
    EXPECT_EQ(vek_variant<VekSlot::vek_cross_corr_16>(col)(a.data(), c.len1, b.data(), c.len2, d, c.dstLen,
                                                          c.lowLag, sf),
              VEK_OK);
    EXPECT_TRUE(out.intact());
    int w = 0;
    for (std::int32_t k = 0; k < c.dstLen; ++k) {
        w = std::max(w, std::abs(d[k] - scaled(brute(a, b, std::int64_t{c.lowLag} + k), sf)));
    }
    return w;
}

TEST(CrossCorr, DirectRouteIsExact)
{
    const Case cases[] = {
        {1, 10, 20, -5, 0, 300},   {10, 1, 12, -12, 0, 300},  {7, 7, 13, -6, 0, 300},   {40, 100, 50, -45, 2, 100},
        {100, 40, 60, -70, 1, 100}, {5, 200, 30, 170, 0, 500}, {33, 33, 65, -32, 0, 200}, {3, 9, 40, -20, -1, 50},
        {300, 30, 400, -320, 3, 60}, {64, 64, 5, 100, 0, 100}, {64, 64, 5, -200, 0, 100}, {17, 50, 1, 10, 0, 1000},
    };
    for (int col : vektest::kColumns) {
        std::uint32_t seed = 1;
        for (const Case& c : cases) {
            EXPECT_EQ(worst(col, c, seed++), 0) << vektest::column_name(col) << " len1 " << c.len1 << " len2 "
                                                << c.len2 << " lag " << c.lowLag;
        }
    }
}

TEST(CrossCorr, FftRouteWithinOneLsb)
{
    const Case cases[] = {
        {384, 384, 384, 0, 99, 32767},    {1000, 700, 1699, -999, 99, 20000}, {500, 2000, 1600, -100, 99, 30000},
        {2000, 500, 2000, -1800, 99, 30000}, {384, 384, 500, -450, 99, 5000}, {1000, 700, 1699, -999, 4, 300},
    };
    for (int col : vektest::kColumns) {
        std::uint32_t seed = 11;
        for (const Case& c : cases) {
            EXPECT_LE(worst(col, c, seed++), 1) << vektest::column_name(col) << " len1 " << c.len1;
        }
    }
}

// 384 lags of two 384-long vectors take the FFT route, 383 the direct one; both agree with the brute force.
TEST(CrossCorr, RouteThresholdAndLagsWithoutTerms)
{
    for (int col : vektest::kColumns) {
        EXPECT_LE(worst(col, {384, 384, 384, 0, 6, 3000}, 5), 1);
        EXPECT_EQ(worst(col, {384, 384, 383, 0, 6, 3000}, 5), 0);
        const std::int64_t before = vek_pool_outstanding();
        const std::vector<std::int16_t> a(10, 100), b(20, 100);
        std::vector<std::int16_t> d(30, 7);
        vek_pool_fail_at(1);  // no allocation happens for ranges without terms
        EXPECT_EQ(vek_variant<VekSlot::vek_cross_corr_16>(col)(a.data(), 10, b.data(), 20, d.data(), 30, -60, 0), VEK_OK);
        EXPECT_EQ(vek_variant<VekSlot::vek_cross_corr_16>(col)(a.data(), 10, b.data(), 20, d.data(), 30, 20, 0), VEK_OK);
        vek_pool_fail_at(0);
        EXPECT_EQ(d, std::vector<std::int16_t>(30, 0));
        EXPECT_EQ(vek_variant<VekSlot::vek_cross_corr_16>(col)(nullptr, 0, b.data(), 20, d.data(), 30, 0, 0),
                  VEK_ERR_NULL_POINTER);
        EXPECT_EQ(vek_variant<VekSlot::vek_cross_corr_16>(col)(a.data(), 10, b.data(), 0, d.data(), 30, 0, 0),
                  VEK_ERR_SIZE);
        // Extreme lags do not overflow the bookkeeping.
        EXPECT_EQ(vek_variant<VekSlot::vek_cross_corr_16>(col)(a.data(), 10, b.data(), 20, d.data(), 30, INT32_MIN, 0),
                  VEK_OK);
        EXPECT_EQ(vek_variant<VekSlot::vek_cross_corr_16>(col)(a.data(), 10, b.data(), 20, d.data(), 30, INT32_MAX, 0),
                  VEK_OK);
        vek_pool_fail_at(1);
        EXPECT_EQ(vek_variant<VekSlot::vek_cross_corr_16>(col)(a.data(), 10, b.data(), 20, d.data(), 30, -5, 0),
                  VEK_ERR_NO_MEMORY);
        vek_pool_fail_at(0);
        EXPECT_EQ(vek_pool_outstanding(), before);
    }
}

// Vectors of -32768 on the 16-bit kernels (ss, wd): an anchored element at an odd index counts as -32767,
// so no pair sum wraps; gen and mm are exact.
TEST(CrossCorr, PairGuardOfTheSixteenBitKernels)
{
    const std::vector<std::int16_t> a(40, -32768), b(40, -32768);
    for (int col : vektest::kColumns) {
        std::vector<std::int16_t> d(1);
        ASSERT_EQ(vek_variant<VekSlot::vek_cross_corr_16>(col)(a.data(), 40, b.data(), 40, d.data(), 1, 0, 27), VEK_OK);
        const double exact = 40.0 * 32768 * 32768 / (1 << 27);
        const double guarded = 20.0 * 32768 * (32768 + 32767) / (1 << 27);
        EXPECT_EQ(d[0], col >= VEK_CPU_SS ? static_cast<int>(std::nearbyint(guarded)) : static_cast<int>(exact));
    }
}

}  // namespace
