// Scaled subtract primitives in every column against an exact reference.
#include <gtest/gtest.h>

#include "layer1/vek/arith/arith.h"
#include "vekutil_support.h"

namespace {

using namespace vekutil_test;

using SubScaled = VekStatus (*)(const int16_t*, int16_t*, int32_t, int32_t);
using SubInplace = VekStatus (*)(const int16_t*, int16_t*, int32_t);
using SubInto = VekStatus (*)(const int16_t*, const int16_t*, int16_t*, int32_t);

const SubScaled kScaled[4] = {vek_sub_vec_16_inplace_scaled_gen, vek_sub_vec_16_inplace_scaled_mm,
                              vek_sub_vec_16_inplace_scaled_ss, vek_sub_vec_16_inplace_scaled_wd};
const SubInplace kInplace[4] = {vek_sub_vec_16_inplace_gen, vek_sub_vec_16_inplace_mm, vek_sub_vec_16_inplace_ss,
                                vek_sub_vec_16_inplace_wd};
const SubInto kInto[4] = {vek_sub_vec_16_gen, vek_sub_vec_16_mm, vek_sub_vec_16_ss, vek_sub_vec_16_wd};

int16_t ref16(int64_t d, int sf) {
    return static_cast<int16_t>(exact_scaled(d, sf, -32768, 32767));
}

TEST(VekSub, EveryScaleFactorLengthAndAlignmentMatchesExactReference) {
    std::mt19937 rng(4321);
    for (int col = 0; col < 4; ++col) {
        SCOPED_TRACE(kColumnNames[col]);
        for (int sf = -70; sf <= 70; ++sf) {
            for (int n = 1; n <= 64; ++n) {
                const size_t doff = static_cast<size_t>(n + sf + 70) % 16,
                             soff = static_cast<size_t>(n * 5 + sf + 70) % 16;
                const auto x = samples16(rng, n), y = samples16(rng, n);
                Guarded<int16_t> v(n, doff), s(n, soff);
                v.fill(x);
                s.fill(y);
                ASSERT_EQ(kScaled[col](s.data(), v.data(), n, sf), VEK_OK);
                for (int i = 0; i < n; ++i)
                    ASSERT_EQ(v.get(i), ref16(int64_t{x[i]} - y[i], sf)) << "sf=" << sf << " n=" << n << " i=" << i;
                ASSERT_TRUE(v.guards_intact());
                ASSERT_EQ(s.values(), y);
            }
        }
    }
}

// The boundary differences +-65535, +-32768, +-1 and 0 at every sf, at a length that runs every kernel's body.
TEST(VekSub, BoundaryDifferences) {
    const int16_t pairs[][2] = {{32767, -32768}, {-32768, 32767}, {0, -32768}, {-32768, 0}, {1, 0}, {0, 1}, {5, 5}};
    for (int col = 0; col < 4; ++col) {
        for (int sf = -20; sf <= 20; ++sf) {
            for (const auto& p : pairs) {
                std::vector<int16_t> v(48, p[0]), s(48, p[1]);
                ASSERT_EQ(kScaled[col](s.data(), v.data(), 48, sf), VEK_OK);
                for (int16_t r : v)
                    ASSERT_EQ(r, ref16(int64_t{p[0]} - p[1], sf)) << kColumnNames[col] << " sf=" << sf;
            }
        }
    }
}

// Every pair of source and destination offsets within 32 bytes at a length that runs the unrolled bodies.
TEST(VekSub, AllOffsetPairsAtBodyLength) {
    std::mt19937 rng(98);
    for (int col = 1; col < 4; ++col) {
        for (int sf : {0, 1, 2, 16, -1, -15, -16}) {
            for (size_t doff = 0; doff < 32; ++doff) {
                for (size_t soff = 0; soff < 32; ++soff) {
                    const int n = 57;
                    const auto x = samples16(rng, n), y = samples16(rng, n);
                    Guarded<int16_t> v(n, doff), s(n, soff);
                    v.fill(x);
                    s.fill(y);
                    ASSERT_EQ(kScaled[col](s.data(), v.data(), n, sf), VEK_OK);
                    for (int i = 0; i < n; ++i) ASSERT_EQ(v.get(i), ref16(int64_t{x[i]} - y[i], sf));
                    ASSERT_TRUE(v.guards_intact());
                }
            }
        }
    }
}

TEST(VekSub, DocumentedValues) {
    const struct {
        int16_t vec, src;
        int sf;
        int16_t want;
    } cases[] = {
        {32767, -32768, 0, 32767},
        {32767, -32768, 1, 32767},
        {32767, -32768, 2, 16384},
        {-32768, 32767, 1, -32768},
        {3, 0, 1, 2},
        {5, 0, 1, 2},
        {-3, 0, 1, -2},
        {0, -32768, 16, 0},
        {32767, -32768, 16, 1},
        {32767, -32768, 17, 0},
        {1, 0, -15, 32767},
        {-1, 0, -15, -32768},
        {1, 0, -16, 32767},
        {-1, 0, -16, -32768},
    };
    for (int col = 0; col < 4; ++col) {
        for (const auto& e : cases) {
            std::vector<int16_t> v(40, e.vec), s(40, e.src);
            ASSERT_EQ(kScaled[col](s.data(), v.data(), 40, e.sf), VEK_OK);
            for (int16_t r : v)
                ASSERT_EQ(r, e.want) << kColumnNames[col] << " " << e.vec << "-" << e.src << " sf=" << e.sf;
        }
    }
}

// The three-operand form is second minus first, saturated; the destination may be either source itself.
TEST(VekSub, IntoDestinationSecondMinusFirst) {
    std::mt19937 rng(55);
    for (int col = 0; col < 4; ++col) {
        int16_t a[1] = {1}, b[1] = {5}, d[1] = {0};
        ASSERT_EQ(kInto[col](a, b, d, 1), VEK_OK);
        EXPECT_EQ(d[0], 4);
        for (int n = 1; n <= 64; ++n) {
            for (int alias = 0; alias < 3; ++alias) {
                const auto x = samples16(rng, n), y = samples16(rng, n);
                Guarded<int16_t> s1(n, (n * 3) % 16), s2(n, (n * 7) % 16), dst(n, n % 16);
                s1.fill(x);
                s2.fill(y);
                int16_t* out = alias == 0 ? dst.data() : alias == 1 ? s1.data() : s2.data();
                ASSERT_EQ(kInto[col](s1.data(), s2.data(), out, n), VEK_OK);
                Guarded<int16_t>& res = alias == 0 ? dst : alias == 1 ? s1 : s2;
                for (int i = 0; i < n; ++i)
                    ASSERT_EQ(res.get(i), ref16(int64_t{y[i]} - x[i], 0)) << kColumnNames[col] << " n=" << n;
                ASSERT_TRUE(dst.guards_intact() && s1.guards_intact() && s2.guards_intact());
            }
            const auto x = samples16(rng, n), y = samples16(rng, n);
            std::vector<int16_t> v = x;
            ASSERT_EQ(kInplace[col](y.data(), v.data(), n), VEK_OK);
            for (int i = 0; i < n; ++i) ASSERT_EQ(v[i], ref16(int64_t{x[i]} - y[i], 0));
        }
    }
}

TEST(VekSub, ArgumentErrorsChangeNothing) {
    for (int col = 0; col < 4; ++col) {
        int16_t v[2] = {1, 2}, s[2] = {3, 4}, d[2] = {7, 7};
        EXPECT_EQ(kScaled[col](nullptr, v, 2, 0), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(kScaled[col](s, nullptr, 0, 0), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(kScaled[col](s, v, 0, 30), VEK_ERR_SIZE);
        EXPECT_EQ(kInplace[col](s, v, -5), VEK_ERR_SIZE);
        EXPECT_EQ(kInto[col](s, v, nullptr, 2), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(kInto[col](nullptr, v, d, 0), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(kInto[col](s, v, d, 0), VEK_ERR_SIZE);
        EXPECT_EQ(v[0] * 10 + v[1], 12);
        EXPECT_EQ(d[0] * 10 + d[1], 77);
    }
}

}  // namespace
