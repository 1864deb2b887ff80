// Mean, standard deviation and the L2 and Inf norms in every column against exact rational references, with the
// Parts' values and the SSE2 column's documented mean without the scale-factor shortcut.
#include <gtest/gtest.h>

#include "layer1/vek/util/utilities.h"
#include "utilities_support.h"
#include "vek_harness.h"

namespace {

using namespace vekutil_test;
using namespace utiltest;
using vektest::column_name;
using vektest::kColumns;

using i128 = __int128;

// sum * 2^-sf / len, ties to even, saturated; shortcut: gen, mm and ss below -14 and above 15.
int16_t ref_mean(int64_t sum, int64_t len, int sf, bool shortcut) {
    if (shortcut && sf > 15) return 0;
    if (shortcut && sf <= -15) return sum > 0 ? 32767 : (sum < 0 ? -32768 : 0);
    if (sf > 40) return 0;
    if (sf < -40) return sum > 0 ? 32767 : (sum < 0 ? -32768 : 0);
    i128 num = sf < 0 ? static_cast<i128>(sum) << -sf : sum;
    const i128 den = sf > 0 ? static_cast<i128>(len) << sf : len;
    const bool neg = num < 0;
    if (neg) num = -num;
    i128 q = num / den;
    const i128 r2 = 2 * (num % den);
    if (r2 > den || (r2 == den && (q & 1))) ++q;
    if (neg) q = -q;
    return static_cast<int16_t>(q > 32767 ? 32767 : (q < -32768 ? -32768 : q));
}

int32_t ref_stddev(const std::vector<int16_t>& x, int sf) {
    i128 s1 = 0, s2 = 0;
    for (int16_t v : x) {
        s1 += v;
        s2 += int64_t{v} * v;
    }
    const i128 len = static_cast<i128>(x.size());
    const i128 n = len * s2 - s1 * s1;
    if (n <= 0) return 0;
    unsigned __int128 num = static_cast<unsigned __int128>(n), den = static_cast<unsigned __int128>(len * (len - 1));
    if (sf > 0) den <<= 2 * sf;
    if (sf < 0) num <<= -2 * sf;
    if (num / den >= (static_cast<unsigned __int128>(1) << 62)) return INT32_MAX;
    const uint64_t r = round_sqrt_ratio(num, den);
    return r > INT32_MAX ? INT32_MAX : static_cast<int32_t>(r);
}

int32_t ref_l2(uint64_t s, int sf) {
    // floor(sqrt(s) * 2^-sf): the largest k with k^2 * 4^sf <= s (sf >= 0) or k^2 <= s * 4^-sf
    unsigned __int128 num = s, den = 1;
    if (sf > 0) den <<= 2 * sf;
    if (sf < 0) num <<= -2 * sf;
    uint64_t k = 0;
    for (int bit = 40; bit >= 0; --bit) {
        const uint64_t t = k | (uint64_t{1} << bit);
        if (static_cast<unsigned __int128>(t) * t * den <= num) k = t;
    }
    return k > INT32_MAX ? INT32_MAX : static_cast<int32_t>(k);
}

TEST(VekStats, EveryLayoutAndColumnAgainstExactValues) {
    std::mt19937 rng(81);
    for (const Layout& l : layouts()) {
        const auto a = samples16(rng, l.n), b = samples16(rng, 2 * l.n);
        const int sf = static_cast<int>((l.n * 5 + l.offset) % 24) - 12;
        int64_t sum = 0, cre = 0, cim = 0;
        uint64_t sq = 0, dsq = 0;
        uint32_t maxd = 0;
        for (int i = 0; i < l.n; ++i) {
            sum += a[i];
            sq += static_cast<uint64_t>(int64_t{a[i]} * a[i]);
            cre += b[2 * i];
            cim += b[2 * i + 1];
            const int64_t d = int64_t{a[i]} - b[i];
            dsq += static_cast<uint64_t>(d * d);
            maxd = std::max<uint32_t>(maxd, static_cast<uint32_t>(d < 0 ? -d : d));
        }
        Guarded<int16_t> s(l.n, l.offset), t(2 * l.n, other_offset(l.offset));
        s.fill(a);
        t.fill(b);
        const int32_t want_sd = l.n >= 2 ? ref_stddev(a, sf) : 0;
        for (int col : kColumns) {
            const bool shortcut = col != VEK_CPU_WD;
            int16_t m = 0;
            VekC16 cm{};
            int32_t sd = 0, l2 = 0, inf = 0, dl2 = 0;
            ASSERT_EQ(vek_variant<VekSlot::vek_mean_16>(col)(s.data(), l.n, &m, sf), VEK_OK);
            ASSERT_EQ(m, ref_mean(sum, l.n, sf, shortcut)) << column_name(col) << " n=" << l.n << " sf=" << sf;
            ASSERT_EQ(vek_variant<VekSlot::vek_mean_complex_16>(col)(reinterpret_cast<const VekC16*>(t.data()), l.n,
                                                                     &cm, sf),
                      VEK_OK);
            ASSERT_EQ(cm.re, ref_mean(cre, l.n, sf, shortcut)) << column_name(col);
            ASSERT_EQ(cm.im, ref_mean(cim, l.n, sf, shortcut)) << column_name(col);
            if (l.n >= 2) {
                int16_t sd16 = 0;
                ASSERT_EQ(vek_variant<VekSlot::vek_stddev_16>(col)(s.data(), l.n, &sd, sf), VEK_OK);
                ASSERT_EQ(sd, want_sd) << column_name(col) << " n=" << l.n << " sf=" << sf;
                ASSERT_EQ(vek_variant<VekSlot::vek_stddev_16_scaled>(col)(s.data(), l.n, &sd16, sf), VEK_OK);
                ASSERT_EQ(sd16, std::min(want_sd, 32767));
            }
            ASSERT_EQ(vek_variant<VekSlot::vek_norm_l2_16>(col)(s.data(), l.n, &l2, sf), VEK_OK);
            ASSERT_EQ(l2, ref_l2(sq, sf)) << column_name(col) << " n=" << l.n << " sf=" << sf;
            ASSERT_EQ(vek_variant<VekSlot::vek_norm_diff_inf_16>(col)(s.data(), t.data(), l.n, &inf, sf), VEK_OK);
            ASSERT_EQ(inf, static_cast<int32_t>(sf >= 0 ? maxd >> sf : maxd << -sf)) << column_name(col);
            ASSERT_EQ(vek_variant<VekSlot::vek_norm_diff_l2_16>(col)(s.data(), t.data(), l.n, &dl2, sf), VEK_OK);
            ASSERT_EQ(dl2, ref_l2(dsq, sf)) << column_name(col) << " n=" << l.n << " sf=" << sf;
        }
    }
}

TEST(VekStats, DocumentedValues) {
    const std::vector<int16_t> big(65536, -32768);
    for (int col : kColumns) {
        const char* c = column_name(col);
        int32_t r = 0;
        const int16_t v34[2] = {3, 4};
        for (auto [sf, want] : {std::pair{0, 5}, {1, 2}, {-1, 10}}) {
            ASSERT_EQ(vek_variant<VekSlot::vek_norm_l2_16>(col)(v34, 2, &r, sf), VEK_OK);
            EXPECT_EQ(r, want) << c << " sf=" << sf;
        }
        ASSERT_EQ(vek_variant<VekSlot::vek_norm_l2_16>(col)(big.data(), 65536, &r, 0), VEK_OK);
        EXPECT_EQ(r, 8388608) << c;
        ASSERT_EQ(vek_variant<VekSlot::vek_norm_l2_16>(col)(big.data(), 65536, &r, -9), VEK_OK);
        EXPECT_EQ(r, INT32_MAX) << c;
        const int16_t lo[1] = {-32768}, hi[1] = {32767};
        ASSERT_EQ(vek_variant<VekSlot::vek_norm_diff_inf_16>(col)(lo, hi, 1, &r, 0), VEK_OK);
        EXPECT_EQ(r, 65535) << c;
        ASSERT_EQ(vek_variant<VekSlot::vek_norm_diff_inf_16>(col)(lo, hi, 1, &r, -16), VEK_OK);
        EXPECT_EQ(static_cast<uint32_t>(r), 0xFFFF0000u) << c;
        const int16_t s4[4] = {1, 2, 3, 4}, s01[2] = {0, 1}, same[3] = {7, 7, 7};
        ASSERT_EQ(vek_variant<VekSlot::vek_stddev_16>(col)(s4, 4, &r, 0), VEK_OK);
        EXPECT_EQ(r, 1) << c;
        ASSERT_EQ(vek_variant<VekSlot::vek_stddev_16>(col)(s01, 2, &r, -1), VEK_OK);
        EXPECT_EQ(r, 1) << c;
        ASSERT_EQ(vek_variant<VekSlot::vek_stddev_16>(col)(same, 3, &r, 0), VEK_OK);
        EXPECT_EQ(r, 0) << c;
        EXPECT_EQ(vek_variant<VekSlot::vek_stddev_16>(col)(s4, 1, &r, 0), VEK_ERR_SIZE) << c;
        const int16_t wide[2] = {-32768, 32767};
        int16_t sd16 = 0;
        ASSERT_EQ(vek_variant<VekSlot::vek_stddev_16_scaled>(col)(wide, 2, &sd16, 0), VEK_OK);
        EXPECT_EQ(sd16, 32767) << c;

        int16_t m = 0;
        const int16_t m12[2] = {1, 2}, m14[2] = {1, 4}, mneg[2] = {-1, -2};
        for (auto [v, want] : {std::pair{m12, 2}, {m14, 2}, {mneg, -2}}) {
            ASSERT_EQ(vek_variant<VekSlot::vek_mean_16>(col)(v, 2, &m, 0), VEK_OK);
            EXPECT_EQ(m, want) << c;
        }
        ASSERT_EQ(vek_variant<VekSlot::vek_mean_16>(col)(m12, 2, &m, 16), VEK_OK);
        EXPECT_EQ(m, 0) << c;
        const int16_t one4[4] = {1, 0, 0, 0};
        ASSERT_EQ(vek_variant<VekSlot::vek_mean_16>(col)(one4, 4, &m, -15), VEK_OK);
        EXPECT_EQ(m, col == VEK_CPU_WD ? 8192 : 32767) << c;  // documented: SSE2 has no shortcut
        ASSERT_EQ(vek_variant<VekSlot::vek_mean_16>(col)(big.data(), 65536, &m, 0), VEK_OK);
        EXPECT_EQ(m, -32768) << c;
        ASSERT_EQ(vek_variant<VekSlot::vek_mean_16>(col)(big.data(), 65536, &m, -1), VEK_OK);
        EXPECT_EQ(m, -32768) << c;
        const VekC16 z[2] = {{1, -1}, {2, -2}};
        VekC16 cm{};
        ASSERT_EQ(vek_variant<VekSlot::vek_mean_complex_16>(col)(z, 2, &cm, 0), VEK_OK);
        EXPECT_EQ(cm.re, 2) << c;
        EXPECT_EQ(cm.im, -2) << c;
    }
}

// Ties of the mean: 98 elements whose sum is -39935 give -407.5, which rounds to -408 in every column (a product
// with the reciprocal of the length would give -407).
TEST(VekStats, MeanTiesRoundToEvenInEveryColumn) {
    std::vector<int16_t> re(98, -407);
    re[0] = static_cast<int16_t>(-39935 + 407 * 97);
    std::vector<VekC16> z(98);
    for (int i = 0; i < 98; ++i) z[i] = VekC16{re[i], static_cast<int16_t>(-re[i])};
    for (int col : kColumns) {
        int16_t m = 0;
        VekC16 cm{};
        ASSERT_EQ(vek_variant<VekSlot::vek_mean_16>(col)(re.data(), 98, &m, 0), VEK_OK);
        EXPECT_EQ(m, -408) << column_name(col);
        ASSERT_EQ(vek_variant<VekSlot::vek_mean_complex_16>(col)(z.data(), 98, &cm, 0), VEK_OK);
        EXPECT_EQ(cm.re, -408) << column_name(col);
        EXPECT_EQ(cm.im, 408) << column_name(col);
    }
}

}  // namespace
