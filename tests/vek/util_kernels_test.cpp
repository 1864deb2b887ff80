// The kernels of the utility families that no slot reaches, against their contracts: exact integer results where
// they are defined exactly, floating results within the element's precision, and the documented special values.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "layer1/vek/util/float_kernels.h"
#include "utilities_support.h"

namespace {

using utiltest::round_sqrt_ratio;

uint64_t ref_root(uint64_t x, int sf, uint64_t hi) {
    if (x == 0) return 0;
    unsigned __int128 num = x, den = 1;
    if (sf > 0) den <<= 2 * sf;
    if (sf < 0) {
        if (-sf >= 31) return hi;
        num <<= -2 * sf;
        if (num >= (static_cast<unsigned __int128>(1) << 62)) return hi;
    }
    const uint64_t r = round_sqrt_ratio(num, den);
    return r > hi ? hi : r;
}

TEST(VekKernelsSqrt, IntegerRootsAreExactAndSaturate) {
    std::vector<uint16_t> all(65536), out(65536);
    for (int i = 0; i < 65536; ++i) all[i] = static_cast<uint16_t>(i);
    for (int sf : {-17, -16, -15, -8, -1, 0, 1, 4, 9, 17}) {
        vek_k_sqrt_16u_scaled(all.data(), out.data(), 65536, sf);
        for (int i = 0; i < 65536; ++i) ASSERT_EQ(out[i], ref_root(i, sf, 65535)) << "x=" << i << " sf=" << sf;
    }
    std::mt19937 rng(111);
    std::vector<int32_t> w(2000), r(2000);
    for (auto& v : w) v = static_cast<int32_t>(rng());
    w[0] = INT32_MAX, w[1] = 0, w[2] = -5, w[3] = 1;
    for (int sf : {-31, -16, -15, -3, 0, 1, 7, 16, 25}) {
        vek_k_sqrt_32s_scaled(w.data(), r.data(), 2000, sf);
        for (int i = 0; i < 2000; ++i)
            ASSERT_EQ(r[i], w[i] <= 0 ? 0 : static_cast<int32_t>(ref_root(w[i], sf, INT32_MAX))) << "sf=" << sf;
    }
    const int64_t big[5] = {INT64_MAX, 0, -9, 2, 6};  // sqrt(2) rounds to 1, sqrt(6) = 2.449 to 2
    int64_t br[5];
    vek_k_sqrt_64s(big, br, 5);
    EXPECT_EQ(br[0], 3037000500);
    EXPECT_EQ(br[1] + br[2], 0);
    EXPECT_EQ(br[3], 1);
    EXPECT_EQ(br[4], 2);
}

TEST(VekKernelsSqrt, FloatingRoots) {
    std::vector<float> x = {0.0f, 1.0f, 2.0f, 1e-30f, 3e38f, 12345.678f, 0.25f};
    std::vector<float> exact(x.size()), approx(x.size());
    vek_k_sqrt_32f(x.data(), exact.data(), static_cast<int32_t>(x.size()));
    const unsigned csr = _mm_getcsr();
    _mm_setcsr(csr | 0x6000);  // the caller truncates
    vek_k_sqrt_32f_approx(x.data(), approx.data(), static_cast<int32_t>(x.size()));
    EXPECT_EQ(_mm_getcsr(), csr | 0x6000);
    _mm_setcsr(csr);
    for (size_t i = 0; i < x.size(); ++i) {
        EXPECT_EQ(exact[i], std::sqrt(x[i]));
        EXPECT_NEAR(approx[i], exact[i], 2e-6 * exact[i]) << x[i];
    }
    const VekC64f z[3] = {{-4, 0}, {1e308, 1e308}, {0, 2}};
    VekC64f r[3];
    vek_k_sqrt_c64f(z, r, 3);
    EXPECT_NEAR(r[0].re, 0, 1e-15);
    EXPECT_NEAR(r[0].im, 2, 1e-15);
    EXPECT_TRUE(std::isfinite(r[1].re) && r[1].re > 0);  // the halving keeps the squares finite
    EXPECT_NEAR(r[2].re, 1, 1e-15);
    EXPECT_NEAR(r[2].im, 1, 1e-15);
    uint8_t table[256], in[4] = {0, 1, 200, 255}, out[4];
    for (int i = 0; i < 256; ++i) table[i] = static_cast<uint8_t>(255 - i);
    vek_k_lookup_8u(in, out, 4, table);
    EXPECT_EQ(out[2], 55);
}

TEST(VekKernelsConvert, WideningExactNarrowingRoundedAndSaturated) {
    const int8_t s8[3] = {-128, -1, 127};
    float f8[3];
    vek_k_convert_8s_f32(s8, f8, 3);
    EXPECT_EQ(f8[0], -128.0f);
    const uint16_t u16[2] = {0, 65535};
    float fu[2];
    vek_k_convert_16u_f32(u16, fu, 2);
    EXPECT_EQ(fu[1], 65535.0f);
    const int32_t s32[2] = {INT32_MIN, 123456789};
    double d32[2];
    vek_k_convert_32s_f64(s32, d32, 2);
    EXPECT_EQ(d32[0], -2147483648.0);
    EXPECT_EQ(d32[1], 123456789.0);

    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float f[8] = {2.5f, 3.5f, -2.5f, 300.0f, -1.0f, nan, 2.9f, 1e10f};
    int8_t r8[8];
    uint8_t ru[8];
    int32_t r32[8];
    vek_k_convert_f32_8s_scaled(f, r8, 8, 1, 0);
    EXPECT_EQ(r8[0], 2);
    EXPECT_EQ(r8[1], 4);
    EXPECT_EQ(r8[2], -2);
    EXPECT_EQ(r8[3], 127);
    vek_k_convert_f32_8u_scaled(f, ru, 8, 0, 0);
    EXPECT_EQ(ru[4], 0);
    EXPECT_EQ(ru[6], 2);
    EXPECT_EQ(ru[3], 255);
    vek_k_convert_f32_32s_scaled(f, r32, 8, 1, -3);
    EXPECT_EQ(r32[0], 20);
    EXPECT_EQ(r32[5], INT32_MAX);  // a NaN gives the upper bound
    EXPECT_EQ(r32[7], INT32_MAX);
    const double dd[2] = {-1e300, 1e300};
    float df[2];
    vek_k_convert_f64_f32(dd, df, 2);
    EXPECT_EQ(df[0], -FLT_MAX);
    EXPECT_EQ(df[1], FLT_MAX);
    const int16_t s16[2] = {-3, 4};
    const float half = 0.5f;
    float fs[2];
    vek_k_convert_16s_f32_times(s16, fs, 2, &half);
    EXPECT_EQ(fs[0], -1.5f);
}

TEST(VekKernelsMagnitudePhasePower, AgainstTheFormulas) {
    std::mt19937 rng(112);
    std::uniform_int_distribution<int> any(-32768, 32767);
    std::vector<VekC16> z(300);
    for (auto& v : z) v = VekC16{static_cast<int16_t>(any(rng)), static_cast<int16_t>(any(rng))};
    z[0] = VekC16{-32768, -32768};
    std::vector<float> m(300), p(300), ps(300);
    vek_k_magnitude_c16_32f(z.data(), m.data(), 300);
    vek_k_phase_c16_32f(z.data(), p.data(), 300);
    vek_k_power_spectrum_16_to32f(z.data(), ps.data(), 300);
    for (int i = 0; i < 300; ++i) {
        EXPECT_FLOAT_EQ(m[i], static_cast<float>(std::hypot(double(z[i].re), double(z[i].im))));
        EXPECT_NEAR(p[i], std::atan2(double(z[i].im), double(z[i].re)), 1e-6);
        EXPECT_EQ(ps[i], static_cast<float>(double(z[i].re) * z[i].re + double(z[i].im) * z[i].im));
    }
    EXPECT_EQ(ps[0], 2147483648.0f);  // 2^31 stays positive
    const VekC64f c[2] = {{3, 4}, {-1, 0}};
    double mag[2], ph[2], pw[2];
    vek_k_magnitude_c64f(c, mag, 2);
    vek_k_phase_c64f(c, ph, 2);
    vek_k_power_spectrum_c64f(c, pw, 2);
    EXPECT_EQ(mag[0], 5.0);
    EXPECT_EQ(ph[1], M_PI);
    EXPECT_EQ(pw[0], 25.0);
}

TEST(VekKernelsStats, NormsSumsAndStandardDeviation) {
    const int16_t m16[3] = {5, -32768, 7};
    int32_t inf = 0;
    EXPECT_EQ(vek_k_norm_inf_16(m16, 3, &inf), 32768);
    EXPECT_EQ(inf, 32768);
    std::vector<double> a(101), b(101);
    for (int i = 0; i < 101; ++i) a[i] = i - 50.5, b[i] = 0.25 * i;
    double v = 0;
    vek_k_norm_inf_f64(a.data(), 101, &v);
    EXPECT_EQ(v, 50.5);
    vek_k_norm_l1_f64(a.data(), 101, &v);
    EXPECT_EQ(v, 2550.5);
    vek_k_norm_l2_f64(a.data(), 3, &v);
    EXPECT_EQ(v, 50.5 * 50.5 + 49.5 * 49.5 + 48.5 * 48.5);  // no square root
    vek_k_norm_diff_inf_f64(a.data(), b.data(), 101, &v);
    EXPECT_EQ(v, 50.5);
    vek_k_stddev_f64(b.data(), 101, &v);
    EXPECT_NEAR(v, 0.25 * std::sqrt(101.0 * 102 / 12), 1e-12);
    const double same[3] = {2, 2, 2};
    vek_k_stddev_f64(same, 3, &v);
    EXPECT_EQ(v, 0.0);
    EXPECT_EQ(vek_k_sum_f64(b.data(), 101), 0.25 * 5050);
    std::vector<float> f(1000, 0.1f);
    EXPECT_NEAR(vek_k_sum_f32(f.data(), 1000), 100.0f, 1e-3);
    const VekC32f cz[2] = {{1, -1}, {2.5f, 3}};
    double cs[2];
    vek_k_sum_complex_f32(cz, 2, cs);
    EXPECT_EQ(cs[0], 3.5);
    EXPECT_EQ(cs[1], 2.0);
}

TEST(VekKernelsExtrema, FirstOccurrenceAndNaNFollowsTheSecondOperand) {
    const double d[6] = {1, 7, -3, 7, -3, 2};
    int32_t at = -1;
    EXPECT_EQ(vek_k_max_index_64f(d, 6, &at), 7);
    EXPECT_EQ(at, 1);
    EXPECT_EQ(vek_k_min_index_64f(d, 6, &at), -3);
    EXPECT_EQ(at, 2);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float f[8] = {1, nan, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(vek_k_max_block_32f(f, 8), 0.0f);
    const int64_t w[3] = {INT64_MIN, 5, INT64_MAX};
    int64_t m = 0;
    vek_k_max_64s(w, 3, &m);
    EXPECT_EQ(m, INT64_MAX);
    vek_k_min_64s(w, 3, &m);
    EXPECT_EQ(m, INT64_MIN);
    const int32_t s[5] = {4, 9, 2, 9, 1};
    EXPECT_EQ(vek_k_find_value_index_32(s, 9), 1);
    int32_t m32 = 0;
    vek_k_min_32s(s, 5, &m32);
    EXPECT_EQ(m32, 1);
}

TEST(VekKernelsThreshold, ClampsSubstitutionsAndMagnitudes) {
    const float f[4] = {-5, 0, 7, 2};
    float r[4];
    vek_k_threshold_32f(f, r, 4, 1.0f, 1);
    EXPECT_EQ(r[2], 1.0f);
    EXPECT_EQ(r[0], -5.0f);
    vek_k_threshold_32f(f, r, 4, 1.0f, 0);
    EXPECT_EQ(r[0], 1.0f);
    EXPECT_EQ(r[2], 7.0f);
    int64_t w[3] = {-9, 3, 12};
    vek_k_threshold_gt_val_64s_inplace(w, 3, 3, 100);
    EXPECT_EQ(w[2], 100);
    EXPECT_EQ(w[1], 3);
    const int16_t s[3] = {-4, 5, 6};
    int16_t o[3];
    vek_k_threshold_lt_val_16s(s, o, 3, 5, 0);
    EXPECT_EQ(o[0], 0);
    EXPECT_EQ(o[1], 5);

    // 16-bit complex by magnitude: lowered elements stay within the level, raised ones reach it
    const VekC16 z[4] = {{3, 4}, {0, 0}, {-32768, -32768}, {1, 1}};
    VekC16 low[4], high[4];
    vek_k_threshold_c16(2, z, low, 4, 1);
    EXPECT_EQ(low[0].re, 1);  // (3, 4) * 0.4 cut toward zero
    EXPECT_EQ(low[0].im, 1);
    EXPECT_EQ(low[3].re, 1);  // |z| = 1.41 is below 2: unchanged
    vek_k_threshold_c16(10, z, high, 4, 0);
    EXPECT_EQ(high[0].re, 6);
    EXPECT_EQ(high[0].im, 8);
    EXPECT_EQ(high[1].re, 10);  // zero raised to {level, 0}
    EXPECT_EQ(high[1].im, 0);
    EXPECT_EQ(high[2].re, -32768);  // above the level when raising: unchanged
    std::mt19937 rng(113);
    std::uniform_int_distribution<int> any(-32768, 32767);
    std::vector<VekC16> v(500), lo(500), hi(500);
    for (auto& e : v) e = VekC16{static_cast<int16_t>(any(rng)), static_cast<int16_t>(any(rng))};
    vek_k_threshold_c16(1000, v.data(), lo.data(), 500, 1);
    vek_k_threshold_c16(20000, v.data(), hi.data(), 500, 0);
    for (int i = 0; i < 500; ++i) {
        ASSERT_LE(std::hypot(double(lo[i].re), double(lo[i].im)), 1000.0);
        ASSERT_GE(std::hypot(double(hi[i].re), double(hi[i].im)), 20000.0 - 1e-9);
    }
    // value substitution by magnitude; (-32768, -32768) is the largest magnitude there is
    const VekC16 mark{7, 7};
    VekC16 sub[4];
    vek_k_threshold_gt_val_c16(z, sub, 4, 32767, mark);
    EXPECT_EQ(sub[2].re, 7);
    EXPECT_EQ(sub[0].re, 3);
    vek_k_threshold_lt_val_c16(z, sub, 4, 2, mark);
    EXPECT_EQ(sub[1].re, 7);
    EXPECT_EQ(sub[3].re, 7);
    EXPECT_EQ(sub[0].re, 3);
    const VekC64f cz[2] = {{0, 0}, {30, 40}};
    VekC64f cr[2];
    vek_k_threshold_c64f(5.0, cz, cr, 2, 0);
    EXPECT_EQ(cr[0].re, 5.0);
    vek_k_threshold_c64f(5.0, cz, cr, 2, 1);
    EXPECT_NEAR(cr[1].re, 3.0, 1e-12);
    EXPECT_NEAR(cr[1].im, 4.0, 1e-12);
}

TEST(VekKernelsDot, ComplexIntegerAndFloatingForms) {
    const VekC16 a[2] = {{-32768, -32768}, {3, -2}}, b[2] = {{-32768, 32767}, {5, 7}};
    int64_t s[2];
    vek_k_dot_c16_to64(a, b, 2, s);
    const int64_t re = int64_t{-32768} * -32768 - int64_t{-32768} * 32767 + 3 * 5 - (-2) * 7;
    const int64_t im = int64_t{-32768} * 32767 + int64_t{-32768} * -32768 + 3 * 7 + (-2) * 5;
    EXPECT_EQ(s[0], re);
    EXPECT_EQ(s[1], im);
    VekC16 r16{};
    vek_k_dot_c16_to16(a, b, 2, &r16, 16);
    EXPECT_EQ(re, 2147450909);  // fits 32 bits: / 2^16 is 32767.5, to even 32768, saturated
    EXPECT_EQ(r16.re, 32767);
    EXPECT_EQ(r16.im, static_cast<int16_t>(std::lround(static_cast<double>(im) / 65536)));
    const float x[3] = {1.5f, -2, 4}, y[3] = {2, 3, 0.25f};
    EXPECT_EQ(vek_k_dot_32f(x, y, 3), -2.0f);
    EXPECT_EQ(vek_k_dot_32f_to64f(x, y, 3), -2.0);
    const VekC64f c1[1] = {{1, 2}}, c2[1] = {{3, -1}};
    const VekC64f cd = vek_k_dot_c64f(c1, c2, 1);
    EXPECT_EQ(cd.re, 5.0);
    EXPECT_EQ(cd.im, 5.0);
    const int16_t i16[2] = {-32768, 2};
    const int32_t i32[2] = {INT32_MIN, 3};
    EXPECT_EQ(vek_k_dot_16_32_to64f(i16, i32, 2), 70368744177664.0 + 6);
}

TEST(VekKernelsAbsSplitJoin, SignBitsAndElementOrder) {
    const double d[3] = {-0.0, -2.5, std::numeric_limits<double>::infinity()};
    double r[3];
    vek_k_abs_64f(d, r, 3);
    EXPECT_FALSE(std::signbit(r[0]));
    EXPECT_EQ(r[1], 2.5);
    const float f[2] = {-0.0f, -std::numeric_limits<float>::quiet_NaN()};
    float rf[2];
    vek_k_abs_32f(f, rf, 2);
    EXPECT_FALSE(std::signbit(rf[0]) || std::signbit(rf[1]));
    std::vector<int32_t> c(34), re(17), im(17), back(34), onlyre(34);
    for (int i = 0; i < 34; ++i) c[i] = i * 1000 - 7;
    vek_k_complex_real_32(c.data(), re.data(), 17);
    vek_k_complex_imag_32(c.data(), im.data(), 17);
    vek_k_complex_join_32(re.data(), im.data(), back.data(), 17);
    EXPECT_EQ(back, c);
    vek_k_complex_join_re_32(re.data(), onlyre.data(), 17);
    EXPECT_EQ(onlyre[2], c[2]);
    EXPECT_EQ(onlyre[3], 0);
    std::vector<int64_t> c64(20000), r64(10000), i64(10000, 5), j64(20000);
    for (int i = 0; i < 20000; ++i) c64[i] = int64_t{i} << 33;
    vek_k_complex_real_64(c64.data(), r64.data(), 10000);
    EXPECT_EQ(r64[9999], int64_t{19998} << 33);
    vek_k_complex_join_64(r64.data(), i64.data(), j64.data(), 10000);
    EXPECT_EQ(j64[19998], int64_t{19998} << 33);
    EXPECT_EQ(j64[19999], 5);
}

}  // namespace
