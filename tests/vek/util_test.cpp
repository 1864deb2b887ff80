// Conversion, sum, extrema, dot products and L1 norms in every column against exact references.
#include <gtest/gtest.h>

#include <algorithm>

#include "layer1/vek/util/util.h"
#include "vek_harness.h"
#include "vekutil_support.h"

namespace {

using namespace vekutil_test;
using vektest::kColumns;

const int kLengths[] = {1, 2, 3, 7, 8, 15, 16, 17, 31, 32, 33, 48, 96, 4095, 4096, 4097, 65535, 65536, 65537, 70000};
const int kNtLengths[] = {2730, 2731, 2732, 2740, 43690, 43692, 43700};

// Offsets to try for a length: every offset 0..15 for short vectors, a few for long ones.
std::vector<size_t> offsets_for(int n) {
    if (n <= 96) return {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    if (n <= 4097) return {0, 2, 6, 1};
    return {0, 6};
}

std::vector<int> scale_factors_for(int n) {
    std::vector<int> s;
    if (n <= 96) {
        for (int sf = -70; sf <= 70; ++sf) s.push_back(sf);
    } else {
        s = {0, 1, 2, 15, 16, 31, 32, 48, 49, -1, -15, -16, -31, -32, -40};
    }
    return s;
}

TEST(VekUtilConvert, WidenAndNarrowEveryColumnLengthAndOffset) {
    std::mt19937 rng(1);
    std::uniform_int_distribution<int32_t> wide(-70000, 70000);
    std::vector<int> lengths(std::begin(kLengths), std::end(kLengths));
    lengths.insert(lengths.end(), std::begin(kNtLengths), std::end(kNtLengths));
    for (int col : kColumns) {
        for (int n : lengths) {
            for (size_t off : offsets_for(n)) {
                const auto x = samples16(rng, n);
                Guarded<int16_t> s(n, off);
                Guarded<int32_t> d(n, (off * 3) % 16);
                s.fill(x);
                ASSERT_EQ(vek_variant<VekSlot::vek_convert_s16_s32>(col)(s.data(), d.data(), n), VEK_OK);
                for (int i = 0; i < n; ++i) ASSERT_EQ(d.get(i), x[i]) << vektest::column_name(col) << " n=" << n;
                ASSERT_TRUE(d.guards_intact());

                std::vector<int32_t> w(n);
                for (int i = 0; i < n; ++i) w[i] = i % 5 == 0 ? (i % 2 ? INT32_MIN : INT32_MAX) : wide(rng);
                Guarded<int32_t> s2(n, off);
                Guarded<int16_t> d2(n, (off * 5) % 16);
                s2.fill(w);
                ASSERT_EQ(vek_variant<VekSlot::vek_convert_s32_s16_sat>(col)(s2.data(), d2.data(), n), VEK_OK);
                for (int i = 0; i < n; ++i)
                    ASSERT_EQ(d2.get(i), std::clamp(w[i], -32768, 32767)) << vektest::column_name(col);
                ASSERT_TRUE(d2.guards_intact());
            }
        }
    }
}

TEST(VekUtilSum, EveryColumnMatchesExactScaledSum) {
    std::mt19937 rng(2);
    for (int n : kLengths) {
        const auto x = samples16(rng, n);
        int64_t exact = 0;
        for (int16_t v : x) exact += v;
        for (size_t off : offsets_for(n)) {
            Guarded<int16_t> s(n, off);
            s.fill(x);
            for (int sf : scale_factors_for(n)) {
                for (int col : kColumns) {
                    int32_t r = 12345;
                    ASSERT_EQ(vek_variant<VekSlot::vek_sum_16>(col)(s.data(), n, &r, sf), VEK_OK);
                    ASSERT_EQ(r, exact_scaled(exact, sf, INT32_MIN, INT32_MAX))
                        << vektest::column_name(col) << " n=" << n << " sf=" << sf << " off=" << off;
                }
            }
        }
    }
}

TEST(VekUtilSum, DocumentedValues) {
    std::vector<int16_t> big(70000, 32767);
    const struct {
        std::vector<int16_t> v;
        int sf;
        int32_t want;
    } cases[] = {
        {big, 0, 2147483647},
        {big, 16, 34999},
        {{3}, 1, 2},
        {{5}, 1, 2},
        {{-3}, 1, -2},
        {{100, -1}, 49, 0},
        {{1}, -40, 2147483647},
        {{-1}, -40, -2147483647 - 1},
        {{0}, -40, 0},
    };
    for (int col : kColumns) {
        for (const auto& e : cases) {
            int32_t r = 0;
            ASSERT_EQ(vek_variant<VekSlot::vek_sum_16>(col)(e.v.data(), static_cast<int32_t>(e.v.size()), &r, e.sf),
                      VEK_OK);
            EXPECT_EQ(r, e.want) << vektest::column_name(col) << " sf=" << e.sf;
        }
    }
}

TEST(VekUtilExtrema, MinIndexAndMaxEveryColumn) {
    std::mt19937 rng(3);
    for (int n : kLengths) {
        for (size_t off : offsets_for(n)) {
            auto x = samples16(rng, n);
            // plant a repeated minimum so that ties matter
            if (n > 10) {
                const int16_t m = *std::min_element(x.begin(), x.end());
                x[n / 3] = m;
                x[n - 1] = m;
            }
            Guarded<int16_t> s(n, off);
            s.fill(x);
            const auto mn = std::min_element(x.begin(), x.end());
            const int16_t mx = *std::max_element(x.begin(), x.end());
            for (int col : kColumns) {
                int16_t m = 0, big = 0;
                int32_t at = -1;
                ASSERT_EQ(vek_variant<VekSlot::vek_min_index_16>(col)(s.data(), n, &m, &at), VEK_OK);
                ASSERT_EQ(m, *mn) << vektest::column_name(col) << " n=" << n;
                ASSERT_EQ(at, mn - x.begin()) << vektest::column_name(col) << " n=" << n << " off=" << off;
                ASSERT_EQ(vek_variant<VekSlot::vek_max_16>(col)(s.data(), n, &big), VEK_OK);
                ASSERT_EQ(big, mx) << vektest::column_name(col) << " n=" << n;
                int16_t m2 = 0;
                ASSERT_EQ(vek_variant<VekSlot::vek_min_index_16>(col)(s.data(), n, &m2, nullptr), VEK_OK);
                ASSERT_EQ(m2, *mn);
            }
        }
    }
}

// Equal minima in different 4096-sample blocks: the first stays, later equal ones never replace it.
TEST(VekUtilExtrema, FirstOccurrenceAcrossBlocks) {
    const struct {
        std::vector<int> at;
        int want;
    } cases[] = {
        {{4100, 8200}, 4100}, {{8200, 4100, 12000}, 4100}, {{5, 70000}, 5}, {{65540, 65541}, 65540}, {{33, 31}, 31}};
    for (int col : kColumns) {
        for (const auto& e : cases) {
            std::vector<int16_t> x(70001, 1000);
            for (int i : e.at) x[i] = -7;
            int16_t m = 0;
            int32_t at = -1;
            ASSERT_EQ(vek_variant<VekSlot::vek_min_index_16>(col)(x.data(), 70001, &m, &at), VEK_OK);
            EXPECT_EQ(m, -7);
            EXPECT_EQ(at, e.want) << vektest::column_name(col);
        }
        const int16_t small[4] = {5, -3, 7, -3};
        int16_t m = 0;
        int32_t at = -1;
        ASSERT_EQ(vek_variant<VekSlot::vek_min_index_16>(col)(small, 4, &m, &at), VEK_OK);
        EXPECT_EQ(m, -3);
        EXPECT_EQ(at, 1);
    }
}

int16_t ref_dot16(const std::vector<int16_t>& a, const std::vector<int16_t>& b, int sf) {
    uint32_t acc = 0;
    for (size_t i = 0; i < a.size(); ++i) acc += static_cast<uint32_t>(int32_t{a[i]} * b[i]);
    const int s = std::clamp(sf, -14, 31);
    return static_cast<int16_t>(exact_scaled(static_cast<int32_t>(acc), s, -32768, 32767));
}

int32_t ref_dot32(int64_t sum, int sf) {
    if (sf > 31) sf = 31;
    if (sf < 0) sf = -std::min(-sf, sum < 0 ? 31 : 30);
    return static_cast<int32_t>(exact_scaled(sum, sf, INT32_MIN, INT32_MAX));
}

TEST(VekUtilDot, EveryColumnMatchesReference) {
    std::mt19937 rng(4);
    for (int n : kLengths) {
        if (n > 4097) continue;
        for (size_t off : offsets_for(n)) {
            auto a = samples16(rng, n), b = samples16(rng, n), c = samples16(rng, 2 * n);
            if (off == 3)  // all products at -32768 * -32768: pair sums of 2^31 and a wrapping accumulator
                std::fill(a.begin(), a.end(), -32768), std::fill(b.begin(), b.end(), -32768),
                    std::fill(c.begin(), c.end(), -32768);
            Guarded<int16_t> ga(n, off), gb(n, (off * 3) % 16), gc(2 * n, (off * 7) % 16);
            ga.fill(a);
            gb.fill(b);
            gc.fill(c);
            int64_t re = 0, im = 0;
            for (int i = 0; i < n; ++i) re += int64_t{a[i]} * c[2 * i], im += int64_t{a[i]} * c[2 * i + 1];
            for (int sf : scale_factors_for(n)) {
                for (int col : kColumns) {
                    int16_t r = 0;
                    ASSERT_EQ(vek_variant<VekSlot::vek_dot_16_to16>(col)(ga.data(), gb.data(), n, &r, sf), VEK_OK);
                    ASSERT_EQ(r, ref_dot16(a, b, sf)) << vektest::column_name(col) << " n=" << n << " sf=" << sf;
                    VekC32 z{};
                    ASSERT_EQ(vek_variant<VekSlot::vek_dot_16_c16_to32>(col)(
                                  ga.data(), reinterpret_cast<const VekC16*>(gc.data()), n, &z, sf),
                              VEK_OK);
                    ASSERT_EQ(z.re, ref_dot32(re, sf)) << vektest::column_name(col) << " n=" << n << " sf=" << sf;
                    ASSERT_EQ(z.im, ref_dot32(im, sf)) << vektest::column_name(col) << " n=" << n << " sf=" << sf;
                }
            }
        }
    }
}

TEST(VekUtilDot, DocumentedValuesAndClamps) {
    const int16_t h[2] = {16384, 16384};
    const int16_t one[1] = {1};
    const VekC16 c1[1] = {{1, -1}};
    for (int col : kColumns) {
        int16_t r = 0;
        vek_variant<VekSlot::vek_dot_16_to16>(col)(h, h, 2, &r, 15);
        EXPECT_EQ(r, 16384);
        vek_variant<VekSlot::vek_dot_16_to16>(col)(h, h, 2, &r, 0);
        EXPECT_EQ(r, 32767);
        // sf below -13 acts as -14: 1 * 2^14, not saturated
        vek_variant<VekSlot::vek_dot_16_to16>(col)(one, one, 1, &r, -20);
        EXPECT_EQ(r, 16384);
        // the rounding of a sum near 2^31 keeps its sign: (2^31 - 2^17) / 2^31 rounds to 1
        std::vector<int16_t> a(2, -32768), b(2, -32767);
        vek_variant<VekSlot::vek_dot_16_to16>(col)(a.data(), b.data(), 2, &r, 31);
        EXPECT_EQ(r, 1) << vektest::column_name(col);
        // non-negative sums shift left by at most 30, negative ones by at most 31
        VekC32 z{};
        vek_variant<VekSlot::vek_dot_16_c16_to32>(col)(one, c1, 1, &z, -40);
        EXPECT_EQ(z.re, 1 << 30);
        EXPECT_EQ(z.im, INT32_MIN);
    }
}

uint64_t ref_l1_total(const std::vector<int16_t>& a, const std::vector<int16_t>* b) {
    uint64_t t = 0;
    for (size_t i = 0; i < a.size(); ++i) t += static_cast<uint64_t>(std::abs(int64_t{a[i]} - (b ? (*b)[i] : 0)));
    return t;
}
int32_t ref_l1(uint64_t t, int sf) {
    unsigned __int128 v = t;
    if (sf > 0) v = sf >= 64 ? 0 : v >> sf;
    if (sf < 0 && v != 0) v = -sf >= 40 ? (unsigned __int128)INT32_MAX : v << -sf;
    return static_cast<int32_t>(v > INT32_MAX ? INT32_MAX : static_cast<uint64_t>(v));
}

TEST(VekUtilNorm, EveryColumnMatchesExactShiftedTotals) {
    std::mt19937 rng(5);
    for (int n : kLengths) {
        for (size_t off : offsets_for(n)) {
            auto a = samples16(rng, n), b = samples16(rng, n);
            if (off == 5) std::fill(a.begin(), a.end(), -32768), std::fill(b.begin(), b.end(), 32767);
            Guarded<int16_t> ga(n, off), gb(n, (off * 3) % 16);
            ga.fill(a);
            gb.fill(b);
            const uint64_t t1 = ref_l1_total(a, nullptr), t2 = ref_l1_total(a, &b);
            for (int sf : scale_factors_for(n)) {
                for (int col : kColumns) {
                    int32_t r = 0;
                    ASSERT_EQ(vek_variant<VekSlot::vek_norm_l1_16>(col)(ga.data(), n, &r, sf), VEK_OK);
                    ASSERT_EQ(r, ref_l1(t1, sf)) << vektest::column_name(col) << " n=" << n << " sf=" << sf;
                    ASSERT_EQ(vek_variant<VekSlot::vek_norm_diff_l1_16>(col)(ga.data(), gb.data(), n, &r, sf),
                              VEK_OK);
                    ASSERT_EQ(r, ref_l1(t2, sf)) << vektest::column_name(col) << " n=" << n << " sf=" << sf;
                }
            }
        }
    }
}

TEST(VekUtilNorm, DocumentedValuesAndSaturatingShifts) {
    const int16_t m[1] = {-32768}, three[1] = {3};
    std::vector<int16_t> big(32, -32768);  // total 2^20
    for (int col : kColumns) {
        int32_t r = 0;
        vek_variant<VekSlot::vek_norm_l1_16>(col)(m, 1, &r, 0);
        EXPECT_EQ(r, 32768);
        vek_variant<VekSlot::vek_norm_l1_16>(col)(three, 1, &r, 1);
        EXPECT_EQ(r, 1);
        // a left shift that leaves 31 bits saturates instead of losing bits, whatever the count
        for (int sf : {-12, -32, -33, -100}) {
            vek_variant<VekSlot::vek_norm_l1_16>(col)(big.data(), 32, &r, sf);
            EXPECT_EQ(r, INT32_MAX) << vektest::column_name(col) << " sf=" << sf;
        }
        vek_variant<VekSlot::vek_norm_l1_16>(col)(big.data(), 32, &r, 32);
        EXPECT_EQ(r, 0);
    }
}

TEST(VekUtil, ArgumentErrors) {
    const int16_t s[2] = {1, 2};
    int16_t d16[2] = {9, 9};
    int32_t d32[2] = {9, 9}, r = 9;
    VekC32 z{9, 9};
    for (int col : kColumns) {
        EXPECT_EQ(vek_variant<VekSlot::vek_convert_s16_s32>(col)(nullptr, d32, 2), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(vek_variant<VekSlot::vek_convert_s16_s32>(col)(s, d32, 0), VEK_ERR_SIZE);
        EXPECT_EQ(vek_variant<VekSlot::vek_convert_s32_s16_sat>(col)(d32, nullptr, 2), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(vek_variant<VekSlot::vek_sum_16>(col)(s, 2, nullptr, 0), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(vek_variant<VekSlot::vek_sum_16>(col)(s, -1, &r, 0), VEK_ERR_SIZE);
        EXPECT_EQ(vek_variant<VekSlot::vek_min_index_16>(col)(nullptr, 2, d16, nullptr), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(vek_variant<VekSlot::vek_min_index_16>(col)(s, 0, d16, &r), VEK_ERR_SIZE);
        EXPECT_EQ(vek_variant<VekSlot::vek_max_16>(col)(s, 2, nullptr), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(vek_variant<VekSlot::vek_dot_16_to16>(col)(s, nullptr, 2, d16, 0), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(vek_variant<VekSlot::vek_dot_16_c16_to32>(col)(s, nullptr, 0, &z, 0), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(vek_variant<VekSlot::vek_dot_16_c16_to32>(col)(s, reinterpret_cast<const VekC16*>(s), 0, &z, 0),
                  VEK_ERR_SIZE);
        EXPECT_EQ(vek_variant<VekSlot::vek_norm_l1_16>(col)(s, 0, &r, 0), VEK_ERR_SIZE);
        EXPECT_EQ(vek_variant<VekSlot::vek_norm_diff_l1_16>(col)(s, s, 2, nullptr, 0), VEK_ERR_NULL_POINTER);
    }
    EXPECT_EQ(d16[0] + d16[1], 18);
    EXPECT_EQ(d32[0] + d32[1] + r + z.re + z.im, 45);
}

TEST(VekUtil, FloatingPointStateUnchanged) {
    std::vector<int16_t> a(1000, 7), b(1000, -3);
    std::vector<int32_t> w(1000);
    const vektest::FpState before = vektest::FpState::capture();
    for (int col : kColumns) {
        int32_t r;
        int16_t m;
        VekC32 z;
        vek_variant<VekSlot::vek_convert_s16_s32>(col)(a.data(), w.data(), 1000);
        vek_variant<VekSlot::vek_convert_s32_s16_sat>(col)(w.data(), b.data(), 1000);
        vek_variant<VekSlot::vek_sum_16>(col)(a.data(), 1000, &r, 3);
        vek_variant<VekSlot::vek_min_index_16>(col)(a.data(), 1000, &m, &r);
        vek_variant<VekSlot::vek_max_16>(col)(a.data(), 1000, &m);
        vek_variant<VekSlot::vek_dot_16_to16>(col)(a.data(), b.data(), 1000, &m, 3);
        vek_variant<VekSlot::vek_dot_16_c16_to32>(col)(a.data(), reinterpret_cast<const VekC16*>(b.data()), 500, &z,
                                                       3);
        vek_variant<VekSlot::vek_norm_diff_l1_16>(col)(a.data(), b.data(), 1000, &r, 0);
        const vektest::FpState after = vektest::FpState::capture();
        EXPECT_EQ(after.x87Control, before.x87Control) << vektest::column_name(col);
        EXPECT_EQ(after.x87Tags, before.x87Tags) << vektest::column_name(col);
        EXPECT_EQ(after.mxcsr & ~0x3Fu, before.mxcsr & ~0x3Fu) << vektest::column_name(col);
    }
}

}  // namespace

namespace {

// The most extreme scale factors give the limit results (0 or saturation by sign) in every column, with no
// overflow on the way (the sanitizer tree checks the arithmetic).
TEST(VekUtil, ExtremeScaleFactors) {
    const int16_t pos[3] = {3, 5, 7}, neg[3] = {-3, -5, -7};
    const VekC16 c[3] = {{1, -1}, {1, -1}, {1, -1}};
    for (int col : kColumns) {
        int32_t r = 0;
        int16_t h = 0;
        VekC32 z{};
        vek_variant<VekSlot::vek_sum_16>(col)(neg, 3, &r, INT32_MIN);
        EXPECT_EQ(r, INT32_MIN) << vektest::column_name(col);
        vek_variant<VekSlot::vek_sum_16>(col)(pos, 3, &r, INT32_MAX);
        EXPECT_EQ(r, 0);
        vek_variant<VekSlot::vek_norm_l1_16>(col)(neg, 3, &r, INT32_MIN);
        EXPECT_EQ(r, INT32_MAX);
        vek_variant<VekSlot::vek_norm_diff_l1_16>(col)(neg, pos, 3, &r, INT32_MAX);
        EXPECT_EQ(r, 0);
        vek_variant<VekSlot::vek_dot_16_to16>(col)(pos, neg, 3, &h, INT32_MIN);
        EXPECT_EQ(h, -32768);
        vek_variant<VekSlot::vek_dot_16_to16>(col)(pos, neg, 3, &h, INT32_MAX);
        EXPECT_EQ(h, 0);
        vek_variant<VekSlot::vek_dot_16_c16_to32>(col)(pos, c, 3, &z, INT32_MIN);
        EXPECT_EQ(z.re, INT32_MAX);  // 15 * 2^30 saturates
        EXPECT_EQ(z.im, INT32_MIN);
        int16_t ph[3] = {1, 1, 1};
        vek_variant<VekSlot::vek_phase_complex_16>(col)(c, ph, 3, INT32_MIN);
        EXPECT_EQ(ph[0], -32768);
        vek_variant<VekSlot::vek_phase_complex_16>(col)(c, ph, 3, INT32_MAX);
        EXPECT_EQ(ph[2], 0);
    }
}

}  // namespace
