// Scaled multiply primitives in every column against an exact reference.
#include <gtest/gtest.h>

#include "layer1/vek/arith/arith.h"
#include "vekutil_support.h"

namespace {

using namespace vekutil_test;

using MulConst16 = VekStatus (*)(int16_t, int16_t*, int32_t, int32_t);
using MulVec16 = VekStatus (*)(const int16_t*, int16_t*, int32_t, int32_t);
using MulConst32 = VekStatus (*)(int32_t, int32_t*, int32_t, int32_t);
using MulConst16NoSf = VekStatus (*)(int16_t, int16_t*, int32_t);

const MulConst16 kConst16[4] = {vek_mul_const_16_inplace_scaled_gen, vek_mul_const_16_inplace_scaled_mm,
                                vek_mul_const_16_inplace_scaled_ss, vek_mul_const_16_inplace_scaled_wd};
const MulVec16 kVec16[4] = {vek_mul_vec_16_inplace_scaled_gen, vek_mul_vec_16_inplace_scaled_mm,
                            vek_mul_vec_16_inplace_scaled_ss, vek_mul_vec_16_inplace_scaled_wd};
const MulConst32 kConst32[4] = {vek_mul_const_32_inplace_scaled_gen, vek_mul_const_32_inplace_scaled_mm,
                                vek_mul_const_32_inplace_scaled_ss, vek_mul_const_32_inplace_scaled_wd};
const MulConst16NoSf kConst16NoSf[4] = {vek_mul_const_16_inplace_gen, vek_mul_const_16_inplace_mm,
                                        vek_mul_const_16_inplace_ss, vek_mul_const_16_inplace_wd};

int16_t ref16(int64_t p, int sf) {
    return static_cast<int16_t>(exact_scaled(p, sf, -32768, 32767));
}

// Every sf from -70 to 70, lengths 1..64 (all kernel thresholds and body/tail splits), destination offsets 0..15
// bytes (odd ones included) and source offsets, random data with edge values: every column equals the exact
// reference and writes nothing outside the vector.
TEST(VekMul, EveryScaleFactorLengthAndAlignmentMatchesExactReference) {
    std::mt19937 rng(1234);
    const int16_t consts[] = {-32768, -32767, -1, 1, 2, 3, 32767, -24576, 12345};
    for (int col = 0; col < 4; ++col) {
        SCOPED_TRACE(kColumnNames[col]);
        for (int sf = -70; sf <= 70; ++sf) {
            for (int n = 1; n <= 64; ++n) {
                const size_t doff = static_cast<size_t>(n + sf + 70) % 16,
                             soff = static_cast<size_t>(n * 3 + sf + 70) % 16;
                const auto x = samples16(rng, n), y = samples16(rng, n);
                const int16_t c = consts[(n + sf + 70) % 9];
                {
                    Guarded<int16_t> v(n, doff);
                    v.fill(x);
                    ASSERT_EQ(kConst16[col](c, v.data(), n, sf), VEK_OK);
                    for (int i = 0; i < n; ++i)
                        ASSERT_EQ(v.get(i), ref16(int64_t{x[i]} * c, sf))
                            << "const sf=" << sf << " n=" << n << " i=" << i;
                    ASSERT_TRUE(v.guards_intact());
                }
                {
                    Guarded<int16_t> v(n, doff), s(n, soff);
                    v.fill(x);
                    s.fill(y);
                    ASSERT_EQ(kVec16[col](s.data(), v.data(), n, sf), VEK_OK);
                    for (int i = 0; i < n; ++i)
                        ASSERT_EQ(v.get(i), ref16(int64_t{x[i]} * y[i], sf))
                            << "vec sf=" << sf << " n=" << n << " i=" << i;
                    ASSERT_TRUE(v.guards_intact());
                    ASSERT_EQ(s.values(), y);
                }
            }
        }
    }
}

// All 32 destination offsets at lengths that run the unrolled bodies, for the kernel cases.
TEST(VekMul, AllOffsetsAtBodyLengths) {
    std::mt19937 rng(99);
    const int sfs[] = {0, 1, 2, 15, 30, -1, -15, -16};
    for (int col = 1; col < 4; ++col) {
        for (int sf : sfs) {
            for (size_t doff = 0; doff < 32; ++doff) {
                for (size_t soff = 0; soff < 32; soff += 3) {
                    const int n = 61;
                    const auto x = samples16(rng, n), y = samples16(rng, n);
                    Guarded<int16_t> v(n, doff), s(n, soff);
                    v.fill(x);
                    s.fill(y);
                    ASSERT_EQ(kVec16[col](s.data(), v.data(), n, sf), VEK_OK);
                    for (int i = 0; i < n; ++i) ASSERT_EQ(v.get(i), ref16(int64_t{x[i]} * y[i], sf));
                    ASSERT_TRUE(v.guards_intact());
                }
                const int n = 61;
                const auto x = samples16(rng, n);
                const int16_t c = static_cast<int16_t>(x[0] | 1);
                Guarded<int16_t> v(n, doff);
                v.fill(x);
                ASSERT_EQ(kConst16[col](c, v.data(), n, sf), VEK_OK);
                for (int i = 0; i < n; ++i) ASSERT_EQ(v.get(i), ref16(int64_t{x[i]} * c, sf));
                ASSERT_TRUE(v.guards_intact());
            }
        }
    }
}

TEST(VekMul, Const32EveryScaleFactorMatchesExactReference) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int32_t> any(INT32_MIN, INT32_MAX);
    const int32_t consts[] = {INT32_MIN, INT32_MAX, -1, 1, 2, 65536, -123456789};
    for (int col = 0; col < 4; ++col) {
        for (int sf = -70; sf <= 70; ++sf) {
            for (int32_t c : consts) {
                const int n = 9;
                std::vector<int32_t> x = {INT32_MIN, INT32_MAX, 0, 1, -1, any(rng), any(rng), any(rng), any(rng)};
                Guarded<int32_t> v(n, static_cast<size_t>(sf + 70) % 4 * 4);
                v.fill(x);
                ASSERT_EQ(kConst32[col](c, v.data(), n, sf), VEK_OK);
                for (int i = 0; i < n; ++i)
                    ASSERT_EQ(v.get(i), exact_scaled(static_cast<__int128>(x[i]) * c, sf, INT32_MIN, INT32_MAX))
                        << kColumnNames[col] << " sf=" << sf << " c=" << c << " x=" << x[i];
                ASSERT_TRUE(v.guards_intact());
            }
        }
    }
}

struct EdgeCase {
    int16_t x, c;
    int sf;
    int16_t want;
};

TEST(VekMul, DocumentedValues) {
    const EdgeCase cases[] = {
        {-32768, -32768, 0, 32767},
        {-32768, -32768, 15, 32767},
        {-32768, -32768, 16, 16384},
        {-32768, -32768, 30, 1},
        {-32768, -16384, 30, 0},
        {-24576, -32768, 29, 2},
        {3, 1, 1, 2},
        {5, 1, 1, 2},
        {-3, 1, 1, -2},
        {1, 1, -15, 32767},
        {-1, 1, -15, -32768},
        {0, 5, -15, 0},
        {1, 1, -16, 32767},
        {-1, 1, -16, -32768},
        {0, 5, -16, 0},
        {-32768, -32768, 31, 0},
        {7, 0, -20, 0},
        {1234, 1, 0, 1234},
    };
    for (int col = 0; col < 4; ++col) {
        for (const EdgeCase& e : cases) {
            // a long vector so that the kernels' bodies see the value as well as their scalar parts
            std::vector<int16_t> v(40, e.x);
            ASSERT_EQ(kConst16[col](e.c, v.data(), 40, e.sf), VEK_OK);
            for (int16_t r : v)
                ASSERT_EQ(r, e.want) << kColumnNames[col] << " x=" << e.x << " c=" << e.c << " sf=" << e.sf;
        }
    }
}

TEST(VekMul, Documented32BitValues) {
    const int32_t m = INT32_MIN;
    const struct {
        int sf;
        int32_t want;
    } cases[] = {{0, INT32_MAX}, {32, 1073741824}, {62, 1}, {63, 0}};
    for (int col = 0; col < 4; ++col) {
        for (const auto& e : cases) {
            int32_t v[3] = {m, m, m};
            ASSERT_EQ(kConst32[col](m, v, 3, e.sf), VEK_OK);
            for (int32_t r : v) ASSERT_EQ(r, e.want) << kColumnNames[col] << " sf=" << e.sf;
        }
    }
}

TEST(VekMul, UnscaledFormSaturatesAndLeavesOnesAlone) {
    for (int col = 0; col < 4; ++col) {
        std::vector<int16_t> v(30, 20000);
        ASSERT_EQ(kConst16NoSf[col](2, v.data(), 30), VEK_OK);
        for (int16_t r : v) ASSERT_EQ(r, 32767);
        std::vector<int16_t> w(30, -123);
        ASSERT_EQ(kConst16NoSf[col](1, w.data(), 30), VEK_OK);
        for (int16_t r : w) ASSERT_EQ(r, -123);
    }
}

TEST(VekMul, ArgumentErrorsChangeNothing) {
    for (int col = 0; col < 4; ++col) {
        int16_t v[4] = {1, 2, 3, 4}, s[4] = {1, 1, 1, 1};
        int32_t w[2] = {5, 6};
        EXPECT_EQ(kConst16[col](0, nullptr, 4, 0), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(kConst16[col](0, v, 0, 0), VEK_ERR_SIZE);  // n = 0 with c = 0 is still a size error
        EXPECT_EQ(kConst16[col](0, v, -1, -20), VEK_ERR_SIZE);
        EXPECT_EQ(kVec16[col](nullptr, v, 4, 0), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(kVec16[col](s, nullptr, 0, 0), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(kVec16[col](s, v, 0, 0), VEK_ERR_SIZE);
        EXPECT_EQ(kConst32[col](0, nullptr, 2, 0), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(kConst32[col](0, w, 0, 0), VEK_ERR_SIZE);
        EXPECT_EQ(kConst16NoSf[col](0, v, 0), VEK_ERR_SIZE);
        EXPECT_EQ(v[0] + v[1] + v[2] + v[3], 10);
        EXPECT_EQ(w[0] + w[1], 11);
    }
}

TEST(VekMul, FloatingPointControlUnchanged) {
    const FpState before = FpState::now();
    std::vector<int16_t> v(100, 3), s(100, -7);
    for (int col = 0; col < 4; ++col)
        for (int sf : {0, 1, 5, -3, -20}) kVec16[col](s.data(), v.data(), 100, sf);
    EXPECT_TRUE(FpState::now() == before);
}

}  // namespace
