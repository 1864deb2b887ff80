// Thresholds, maximum with index, conjugate, absolute value, complex split and join, power spectrum and complex
// resampling in every column against element-wise references at every layout, with the Parts' values.
#include <gtest/gtest.h>

#include <algorithm>

#include "layer1/vek/util/utilities.h"
#include "utilities_support.h"
#include "vek_harness.h"

namespace {

using namespace vekutil_test;
using namespace utiltest;
using vektest::column_name;
using vektest::kColumns;

TEST(VekThreshold, EveryLevelSignLayoutAndColumn) {
    std::mt19937 rng(91);
    const int16_t levels[] = {-32768, -20000, -1, 0, 1, 12345, 32767};
    for (const Layout& l : layouts()) {
        if (l.n > 4096) continue;
        const auto x = samples16(rng, l.n);
        for (int16_t level : levels) {
            for (int col : kColumns) {
                Guarded<int16_t> lt(l.n, l.offset), gt(l.n, l.offset);
                lt.fill(x);
                gt.fill(x);
                ASSERT_EQ(vek_variant<VekSlot::vek_threshold_lt_16_inplace>(col)(lt.data(), l.n, level), VEK_OK);
                ASSERT_EQ(vek_variant<VekSlot::vek_threshold_gt_16_inplace>(col)(gt.data(), l.n, level), VEK_OK);
                for (int i = 0; i < l.n; ++i) {
                    ASSERT_EQ(lt.get(i), std::max(x[i], level)) << column_name(col) << " level=" << level;
                    ASSERT_EQ(gt.get(i), std::min(x[i], level)) << column_name(col) << " level=" << level;
                }
                ASSERT_TRUE(lt.guards_intact() && gt.guards_intact());
            }
        }
    }
}

// Every value against every sign of level through the three SIMD kernels (the MMX kernel's two paths).
TEST(VekThreshold, KernelsExhaustiveOverValues) {
    std::vector<int16_t> all(65536), out(65536);
    for (int i = 0; i < 65536; ++i) all[i] = static_cast<int16_t>(i - 32768);
    for (int16_t level : {-32768, -7, 0, 5, 32767}) {
        for (auto k : {vek_threshold_16_kernel, vek_k_threshold_16_ss, vek_k_threshold_16_mm}) {
            for (int mode : {0, 1}) {
                k(all.data(), out.data(), 65536, level, mode);
                for (int i = 0; i < 65536; ++i)
                    ASSERT_EQ(out[i], mode ? std::min(all[i], level) : std::max(all[i], level)) << "level=" << level;
            }
        }
    }
    int16_t v[3] = {-5, 0, 7};
    ASSERT_EQ(vek_threshold_gt_16_inplace_mm(v, 3, 0), VEK_OK);
    EXPECT_EQ(v[0] * 100 + v[1] * 10 + v[2], -500);
    EXPECT_EQ(vek_threshold_lt_16_inplace_wd(nullptr, 0, 0), VEK_ERR_NULL_POINTER);
}

TEST(VekMaxIndex, FirstOccurrenceEveryLayoutAndBlockBoundary) {
    std::mt19937 rng(92);
    auto check = [](const std::vector<int16_t>& x, size_t off, const char* what) {
        const int n = static_cast<int>(x.size());
        Guarded<int16_t> s(n, off);
        s.fill(x);
        const auto it = std::max_element(x.begin(), x.end());
        for (int col : kColumns) {
            int16_t m = 0;
            int32_t at = -1;
            ASSERT_EQ(vek_variant<VekSlot::vek_max_index_16>(col)(s.data(), n, &m, &at), VEK_OK);
            ASSERT_EQ(m, *it) << column_name(col) << " " << what << " n=" << n;
            ASSERT_EQ(at, it - x.begin()) << column_name(col) << " " << what << " n=" << n << " off=" << off;
            int16_t m2 = 0;
            ASSERT_EQ(vek_variant<VekSlot::vek_max_index_16>(col)(s.data(), n, &m2, nullptr), VEK_OK);
            ASSERT_EQ(m2, *it);
        }
    };
    for (const Layout& l : layouts()) {
        auto x = samples16(rng, l.n);
        if (l.n > 8) x[l.n / 2] = x[l.n - 1] = *std::max_element(x.begin(), x.end());
        check(x, l.offset, "random");
    }
    for (int n : {31, 32}) check(std::vector<int16_t>(n, 9), 6, "all equal");
    // equal maxima in different blocks of 4096 and of 65536: the earlier one
    std::vector<int16_t> y(140000, 0);
    y[5000] = y[70000] = y[139999] = 100;
    for (size_t off : {0, 2, 6}) check(y, off, "blocks");
    y[5000] = 0;
    for (size_t off : {0, 2}) check(y, off, "65536 blocks");
}

TEST(VekConjugate, ExhaustiveImaginaryPartsEveryLayout) {
    std::vector<VekC16> all(65536);
    for (int i = 0; i < 65536; ++i) all[i] = VekC16{static_cast<int16_t>(32767 - i), static_cast<int16_t>(i - 32768)};
    auto conj = [](VekC16 z) { return VekC16{z.re, static_cast<int16_t>(z.im == -32768 ? 32767 : -z.im)}; };
    for (int col : kColumns) {
        std::vector<VekC16> in = all, out(65536);
        ASSERT_EQ(vek_variant<VekSlot::vek_conj_16>(col)(all.data(), out.data(), 65536), VEK_OK);
        ASSERT_EQ(vek_variant<VekSlot::vek_conj_16_inplace>(col)(in.data(), 65536), VEK_OK);
        for (int i = 0; i < 65536; ++i) {
            ASSERT_EQ(out[i].re, all[i].re);
            ASSERT_EQ(out[i].im, conj(all[i]).im) << column_name(col);
            ASSERT_EQ(in[i].im, conj(all[i]).im) << column_name(col);
            ASSERT_EQ(in[i].re, all[i].re);
        }
    }
    std::mt19937 rng(93);
    for (const Layout& l : layouts()) {
        if (l.n > 4096) continue;
        const auto raw = samples16(rng, 2 * l.n);
        for (int col : kColumns) {
            Guarded<int16_t> s(2 * l.n, l.offset), d(2 * l.n, other_offset(l.offset));
            s.fill(raw);
            ASSERT_EQ(vek_variant<VekSlot::vek_conj_16>(col)(reinterpret_cast<const VekC16*>(s.data()),
                                                             reinterpret_cast<VekC16*>(d.data()), l.n),
                      VEK_OK);
            for (int i = 0; i < l.n; ++i) {
                ASSERT_EQ(d.get(2 * i), raw[2 * i]);
                ASSERT_EQ(d.get(2 * i + 1), raw[2 * i + 1] == -32768 ? 32767 : -raw[2 * i + 1]) << column_name(col);
            }
            ASSERT_TRUE(d.guards_intact());
        }
        // the reversed kernels
        std::vector<VekC16> z(l.n), flip(l.n), copy(l.n), flip2(l.n);
        std::memcpy(z.data(), raw.data(), 4 * static_cast<size_t>(l.n));
        vek_k_conj_flip_16(z.data(), flip.data(), l.n);
        vek_k_copy_conj_flip_16(z.data(), copy.data(), flip2.data(), l.n);
        for (int i = 0; i < l.n; ++i) {
            ASSERT_EQ(flip[l.n - 1 - i].re, z[i].re);
            ASSERT_EQ(flip[l.n - 1 - i].im, conj(z[i]).im);
            ASSERT_EQ(copy[i].im, z[i].im);
            ASSERT_EQ(flip2[i].im, conj(z[l.n - 1 - i]).im);
        }
    }
}

TEST(VekAbsSplitJoin, EveryLayoutAndColumn) {
    std::mt19937 rng(94);
    for (const Layout& l : layouts()) {
        const auto x = samples16(rng, 2 * l.n);
        for (int col : kColumns) {
            Guarded<int16_t> a(l.n, l.offset), b(l.n, other_offset(l.offset)), c(2 * l.n, l.offset);
            a.fill(std::vector<int16_t>(x.begin(), x.begin() + l.n));
            ASSERT_EQ(vek_variant<VekSlot::vek_abs_16>(col)(a.data(), b.data(), l.n), VEK_OK);
            ASSERT_EQ(vek_variant<VekSlot::vek_abs_16_inplace>(col)(a.data(), l.n), VEK_OK);
            for (int i = 0; i < l.n; ++i) {
                const int16_t want = x[i] == -32768 ? 32767 : static_cast<int16_t>(std::abs(x[i]));
                ASSERT_EQ(a.get(i), want) << column_name(col);
                ASSERT_EQ(b.get(i), want) << column_name(col);
            }
            c.fill(x);
            Guarded<int16_t> re(l.n, other_offset(l.offset)), im(l.n, l.offset ^ 1), j(2 * l.n, l.offset ^ 4),
                jr(2 * l.n, l.offset ^ 2), ji(2 * l.n, l.offset ^ 8);
            ASSERT_EQ(vek_variant<VekSlot::vek_complex_split_16>(col)(reinterpret_cast<const VekC16*>(c.data()),
                                                                      re.data(), im.data(), l.n),
                      VEK_OK);
            ASSERT_EQ(vek_variant<VekSlot::vek_complex_join_16>(col)(re.data(), im.data(),
                                                                     reinterpret_cast<VekC16*>(j.data()), l.n),
                      VEK_OK);
            ASSERT_EQ(vek_variant<VekSlot::vek_complex_join_16>(col)(re.data(), nullptr,
                                                                     reinterpret_cast<VekC16*>(jr.data()), l.n),
                      VEK_OK);
            ASSERT_EQ(vek_variant<VekSlot::vek_complex_join_16>(col)(nullptr, im.data(),
                                                                     reinterpret_cast<VekC16*>(ji.data()), l.n),
                      VEK_OK);
            for (int i = 0; i < l.n; ++i) {
                ASSERT_EQ(re.get(i), x[2 * i]) << column_name(col) << " n=" << l.n;
                ASSERT_EQ(im.get(i), x[2 * i + 1]) << column_name(col);
                ASSERT_EQ(jr.get(2 * i), x[2 * i]);
                ASSERT_EQ(jr.get(2 * i + 1), 0);
                ASSERT_EQ(ji.get(2 * i), 0);
                ASSERT_EQ(ji.get(2 * i + 1), x[2 * i + 1]);
            }
            ASSERT_TRUE(j.values() == x);
            ASSERT_TRUE(a.guards_intact() && b.guards_intact() && re.guards_intact() && im.guards_intact() &&
                        j.guards_intact() && jr.guards_intact() && ji.guards_intact());
        }
    }
    for (int col : kColumns) {
        VekC16 d[1];
        const int16_t r[1] = {1};
        EXPECT_EQ(vek_variant<VekSlot::vek_complex_join_16>(col)(nullptr, nullptr, d, 1), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(vek_variant<VekSlot::vek_complex_join_16>(col)(r, r, nullptr, 0), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(vek_variant<VekSlot::vek_complex_join_16>(col)(r, r, d, 0), VEK_ERR_SIZE);
        EXPECT_EQ(vek_variant<VekSlot::vek_complex_join_16>(col)(nullptr, nullptr, d, 0), VEK_ERR_SIZE);
    }
    EXPECT_EQ(vek_variant<VekSlot::vek_complex_split_16>(VEK_CPU_MM), vek_variant<VekSlot::vek_complex_split_16>(VEK_CPU_GEN));
    EXPECT_EQ(vek_variant<VekSlot::vek_complex_join_16>(VEK_CPU_SS), vek_variant<VekSlot::vek_complex_join_16>(VEK_CPU_GEN));
}

// P = re^2 + im^2 scaled with truncation; gen's sign-only shortcut starts at -14, the SIMD columns' at -15.
int16_t ref_power(int re, int im, int sf, int col) {
    const uint64_t p = static_cast<uint64_t>(int64_t{re} * re + int64_t{im} * im);
    if (sf >= 32) return 0;
    if (sf >= 0) return static_cast<int16_t>(std::min<uint64_t>(p >> sf, 32767));
    if (sf <= (col == VEK_CPU_GEN ? -14 : -15)) return p ? 32767 : 0;
    if (sf == -14) return static_cast<int16_t>(std::min<uint64_t>(std::min<uint64_t>(p, 32767) << 14, 32767));
    return static_cast<int16_t>(std::min<uint64_t>(p << -sf, 32767));
}

TEST(VekPowerSpectrum, EveryScaleFactorLayoutAndColumn) {
    std::mt19937 rng(95);
    for (const Layout& l : layouts()) {
        if (l.n > 4096) continue;
        auto x = samples16(rng, 2 * l.n);
        if (l.n > 3) x[0] = x[1] = -32768;
        if (l.n > 5) x[2] = 1, x[3] = 0;
        for (int sf : {-40, -15, -14, -13, -1, 0, 1, 16, 17, 31, 32, 100}) {
            if (l.n > 20 && (sf + l.n + static_cast<int>(l.offset)) % 4 != 0) continue;
            std::vector<int16_t> re(l.n), im(l.n);
            for (int i = 0; i < l.n; ++i) re[i] = x[2 * i], im[i] = x[2 * i + 1];
            for (int col : kColumns) {
                Guarded<int16_t> s(2 * l.n, l.offset), d1(l.n, other_offset(l.offset)), d2(l.n, l.offset ^ 6);
                s.fill(x);
                ASSERT_EQ(vek_variant<VekSlot::vek_power_spectrum_complex_16>(col)(
                              reinterpret_cast<const VekC16*>(s.data()), d1.data(), l.n, sf),
                          VEK_OK);
                ASSERT_EQ(vek_variant<VekSlot::vek_power_spectrum_split_16>(col)(re.data(), im.data(), d2.data(),
                                                                                 l.n, sf),
                          VEK_OK);
                for (int i = 0; i < l.n; ++i) {
                    const int16_t want = ref_power(re[i], im[i], sf, col);
                    ASSERT_EQ(d1.get(i), want) << column_name(col) << " sf=" << sf << " (" << re[i] << "," << im[i] << ")";
                    ASSERT_EQ(d2.get(i), want) << column_name(col) << " sf=" << sf;
                }
                ASSERT_TRUE(d1.guards_intact() && d2.guards_intact());
            }
        }
    }
    // The Part's values.
    const VekC16 m{-32768, -32768}, p2{1, 1}, p4{2, 0}, one{1, 0};
    for (int col : kColumns) {
        auto ps = [&](VekC16 z, int sf) {
            int16_t r = -1;
            EXPECT_EQ(vek_variant<VekSlot::vek_power_spectrum_complex_16>(col)(&z, &r, 1, sf), VEK_OK);
            return r;
        };
        EXPECT_EQ(ps(m, 0), 32767);
        EXPECT_EQ(ps(m, 16), 32767);
        EXPECT_EQ(ps(m, 17), 16384);
        EXPECT_EQ(ps(p2, 1), 1);  // P = 2
        EXPECT_EQ(ps(p2, 32), 0);
        EXPECT_EQ(ps(p4, -13), 32767);
        EXPECT_EQ(ps(one, -14), col == VEK_CPU_GEN ? 32767 : 16384);
    }
}

TEST(VekComplexResample, DocumentedCasesEveryColumn) {
    const VekC16 a{1, -1}, b{2, -2}, c{3, -3}, d{4, -4}, e{5, -5};
    auto eq = [](const VekC16& x, const VekC16& y) { return x.re == y.re && x.im == y.im; };
    for (int col : kColumns) {
        const VekC16 two[2] = {a, b};
        VekC16 up[6];
        int32_t len = 0, phase = 1;
        ASSERT_EQ(vek_variant<VekSlot::vek_upsample_complex_16>(col)(two, 2, up, &len, 3, &phase), VEK_OK);
        EXPECT_EQ(len, 6);
        EXPECT_EQ(phase, 1);
        const VekC16 z{0, 0};
        const VekC16 want_up[6] = {z, a, z, z, b, z};
        for (int i = 0; i < 6; ++i) EXPECT_TRUE(eq(up[i], want_up[i])) << column_name(col) << " i=" << i;

        const VekC16 five[5] = {a, b, c, d, e};
        VekC16 down[5];
        phase = 1;
        ASSERT_EQ(vek_variant<VekSlot::vek_downsample_complex_16>(col)(five, 5, down, &len, 2, &phase), VEK_OK);
        EXPECT_EQ(len, 2);
        EXPECT_EQ(phase, 0);
        EXPECT_TRUE(eq(down[0], b) && eq(down[1], d));
        ASSERT_EQ(vek_variant<VekSlot::vek_downsample_complex_16>(col)(five, 5, down, &len, 2, &phase), VEK_OK);
        EXPECT_EQ(len, 3);
        EXPECT_EQ(phase, 1);
        EXPECT_TRUE(eq(down[0], a) && eq(down[1], c) && eq(down[2], e));
        phase = 4;
        ASSERT_EQ(vek_variant<VekSlot::vek_downsample_complex_16>(col)(five, 3, down, &len, 5, &phase), VEK_OK);
        EXPECT_EQ(len, 0);
        EXPECT_EQ(phase, 1);
        phase = 0;
        ASSERT_EQ(vek_variant<VekSlot::vek_downsample_complex_16>(col)(five, 5, down, &len, 1, &phase), VEK_OK);
        EXPECT_EQ(len, 5);
        EXPECT_TRUE(eq(down[4], e));

        phase = 0;
        EXPECT_EQ(vek_variant<VekSlot::vek_upsample_complex_16>(col)(two, 2, up, &len, 0, &phase), VEK_ERR_SAMPLE_FACTOR);
        phase = 3;
        EXPECT_EQ(vek_variant<VekSlot::vek_upsample_complex_16>(col)(two, 2, up, &len, 3, &phase), VEK_ERR_SAMPLE_PHASE);
        EXPECT_EQ(vek_variant<VekSlot::vek_downsample_complex_16>(col)(two, 0, up, &len, 3, nullptr), VEK_ERR_NULL_POINTER);
        phase = 0;
        EXPECT_EQ(vek_variant<VekSlot::vek_upsample_complex_16>(col)(two, 2, up, &len, 1 << 30, &phase), VEK_ERR_SIZE);
    }
}

// A stream decimated block by block equals the whole stream decimated at once.
TEST(VekComplexResample, BlocksContinueThePattern) {
    std::vector<VekC16> s(100);
    for (int i = 0; i < 100; ++i) s[i] = VekC16{static_cast<int16_t>(i), static_cast<int16_t>(-i)};
    for (int col : kColumns) {
        std::vector<VekC16> out;
        int32_t phase = 2;
        for (int at = 0; at < 100; at += 13) {
            VekC16 d[13];
            int32_t len = 0;
            const int n = std::min(13, 100 - at);
            ASSERT_EQ(vek_variant<VekSlot::vek_downsample_complex_16>(col)(s.data() + at, n, d, &len, 3, &phase), VEK_OK);
            out.insert(out.end(), d, d + len);
        }
        ASSERT_EQ(out.size(), 33u);
        for (size_t k = 0; k < out.size(); ++k) ASSERT_EQ(out[k].re, 2 + 3 * static_cast<int>(k)) << column_name(col);
    }
}

}  // namespace
