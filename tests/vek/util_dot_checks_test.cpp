// The scaled dot products the pumps do not use, the argument-check order of every utility slot, the caller's
// floating-point control state around every call, and the filled rows of the dispatch table.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "layer1/vek/util/utilities.h"
#include "utilities_support.h"
#include "vek_harness.h"

namespace {

using namespace vekutil_test;
using namespace utiltest;
using vektest::column_name;
using vektest::kColumns;

// Slot 233: sf above 31 acts as 31; a left shift is limited to 30 for a non-negative sum and 31 for a negative one.
int32_t ref_dot32(__int128 sum, int sf) {
    if (sf > 31) sf = 31;
    if (sf < 0) sf = -std::min(-sf, sum < 0 ? 31 : 30);
    return static_cast<int32_t>(exact_scaled(sum, sf, INT32_MIN, INT32_MAX));
}
// Slot 234: 32-bit sums that wrap, sf clamped to -14..31, the 16-bit rule.
int16_t ref_dot16(uint32_t acc, int sf) {
    return static_cast<int16_t>(exact_scaled(static_cast<int32_t>(acc), std::clamp(sf, -14, 31), -32768, 32767));
}

TEST(VekDotScaled, EveryLayoutColumnAndScaleFactor) {
    std::mt19937 rng(101);
    for (const Layout& l : layouts()) {
        auto a = samples16(rng, l.n), b = samples16(rng, l.n), c = samples16(rng, 2 * l.n);
        if (l.offset == 3)  // all operands -32768: every pair sum is 2^31
            std::fill(a.begin(), a.end(), -32768), std::fill(b.begin(), b.end(), -32768),
                std::fill(c.begin(), c.end(), -32768);
        Guarded<int16_t> ga(l.n, l.offset), gb(l.n, other_offset(l.offset)), gc(2 * l.n, l.offset ^ 6);
        ga.fill(a);
        gb.fill(b);
        gc.fill(c);
        __int128 s = 0;
        uint32_t re = 0, im = 0;
        for (int i = 0; i < l.n; ++i) {
            s += int64_t{a[i]} * b[i];
            re += static_cast<uint32_t>(int32_t{a[i]} * c[2 * i]);
            im += static_cast<uint32_t>(int32_t{a[i]} * c[2 * i + 1]);
        }
        for (int sf : {-40, -31, -16, -14, -13, -1, 0, 1, 2, 15, 16, 30, 31, 32, 100}) {
            if (l.n > 16 && (sf + l.n) % 3 != 0) continue;
            for (int col : kColumns) {
                int32_t r = 0;
                VekC16 z{};
                ASSERT_EQ(vek_variant<VekSlot::vek_dot_16_to32>(col)(ga.data(), gb.data(), l.n, &r, sf), VEK_OK);
                ASSERT_EQ(r, ref_dot32(s, sf)) << column_name(col) << " n=" << l.n << " off=" << l.offset << " sf=" << sf;
                ASSERT_EQ(vek_variant<VekSlot::vek_dot_16_c16_to16>(col)(
                              ga.data(), reinterpret_cast<const VekC16*>(gc.data()), l.n, &z, sf),
                          VEK_OK);
                ASSERT_EQ(z.re, ref_dot16(re, sf)) << column_name(col) << " n=" << l.n << " sf=" << sf;
                ASSERT_EQ(z.im, ref_dot16(im, sf)) << column_name(col) << " n=" << l.n << " sf=" << sf;
            }
        }
    }
}

TEST(VekDotScaled, DocumentedValues) {
    const int16_t big[3] = {32767, 32767, 32767};
    const int16_t three[1] = {3}, five[1] = {5}, mthree[1] = {-3}, one[1] = {1}, mone[1] = {-1};
    for (int col : kColumns) {
        const char* c = column_name(col);
        auto dot = [&](const int16_t* a, const int16_t* b, int n, int sf) {
            int32_t r = 0;
            EXPECT_EQ(vek_variant<VekSlot::vek_dot_16_to32>(col)(a, b, n, &r, sf), VEK_OK);
            return r;
        };
        EXPECT_EQ(dot(big, big, 3, 0), INT32_MAX) << c;
        EXPECT_EQ(dot(big, big, 3, 2), 805257217) << c;  // 3 * 32767^2 / 4 = 805257216.75
        EXPECT_EQ(dot(three, one, 1, 1), 2) << c;
        EXPECT_EQ(dot(five, one, 1, 1), 2) << c;
        EXPECT_EQ(dot(mthree, one, 1, 1), -2) << c;
        EXPECT_EQ(dot(one, one, 1, -40), 1 << 30) << c;
        EXPECT_EQ(dot(mone, one, 1, -40), INT32_MIN) << c;
        // slot 234: sf -20 acts as -14, 100 as 31; a sum near 2^31 rounds without changing sign
        const VekC16 z1[1] = {{1, -1}};
        VekC16 r{};
        ASSERT_EQ(vek_variant<VekSlot::vek_dot_16_c16_to16>(col)(one, z1, 1, &r, -20), VEK_OK);
        EXPECT_EQ(r.re, 16384) << c;
        EXPECT_EQ(r.im, -16384) << c;
        const int16_t m2[2] = {-32768, -32768};
        const VekC16 z2[2] = {{-32767, 32767}, {-32767, 32767}};
        ASSERT_EQ(vek_variant<VekSlot::vek_dot_16_c16_to16>(col)(m2, z2, 2, &r, 31), VEK_OK);
        EXPECT_EQ(r.re, 1) << c;   // (2^31 - 2^16) / 2^31 rounds to 1
        EXPECT_EQ(r.im, -1) << c;
        ASSERT_EQ(vek_variant<VekSlot::vek_dot_16_c16_to16>(col)(m2, z2, 2, &r, 100), VEK_OK);
        EXPECT_EQ(r.re, 1) << c;
    }
}

// --- argument checks ------------------------------------------------------------------------------------------

struct CheckCase {
    const char* name;
    std::function<VekStatus(int col)> call;
    VekStatus want;
};

std::vector<CheckCase> check_cases() {
    static int16_t v[8];
    static VekC16 c[8];
    static int32_t w[8];
    static int8_t b[8];
    static int32_t len, ph;
    int16_t* const n16 = nullptr;
    VekC16* const nc = nullptr;
    return {
        {"sqrt null first", [=](int k) { return vek_variant<VekSlot::vek_sqrt_16_inplace>(k)(n16, 0, 0); }, VEK_ERR_NULL_POINTER},
        {"sqrt size", [](int k) { return vek_variant<VekSlot::vek_sqrt_16>(k)(v, v, 0, 0); }, VEK_ERR_SIZE},
        {"sqrt dst null", [=](int k) { return vek_variant<VekSlot::vek_sqrt_16>(k)(v, n16, -1, 0); }, VEK_ERR_NULL_POINTER},
        {"s8 null", [=](int k) { return vek_variant<VekSlot::vek_convert_s8_s16>(k)(b, n16, 0); }, VEK_ERR_NULL_POINTER},
        {"s8 size", [](int k) { return vek_variant<VekSlot::vek_convert_s8_s16>(k)(b, v, 0); }, VEK_ERR_SIZE},
        {"magnitude null", [=](int k) { return vek_variant<VekSlot::vek_magnitude_complex_16>(k)(c, n16, 0, 0); }, VEK_ERR_NULL_POINTER},
        {"magnitude split im null", [=](int k) { return vek_variant<VekSlot::vek_magnitude_split_16>(k)(v, n16, v, 1, 0); }, VEK_ERR_NULL_POINTER},
        {"magnitude size", [](int k) { return vek_variant<VekSlot::vek_magnitude_split_16>(k)(v, v, v, 0, 0); }, VEK_ERR_SIZE},
        {"phase split im null", [=](int k) { return vek_variant<VekSlot::vek_phase_split_16>(k)(v, n16, v, 0, 0); }, VEK_ERR_NULL_POINTER},
        {"phase split size", [](int k) { return vek_variant<VekSlot::vek_phase_split_16>(k)(v, v, v, -3, 0); }, VEK_ERR_SIZE},
        {"upsample phase null", [](int k) { return vek_variant<VekSlot::vek_upsample_complex_16>(k)(c, 0, c, &len, 0, nullptr); }, VEK_ERR_NULL_POINTER},
        {"upsample size", [](int k) { ph = 5; return vek_variant<VekSlot::vek_upsample_complex_16>(k)(c, 0, c, &len, 0, &ph); }, VEK_ERR_SIZE},
        {"upsample factor", [](int k) { ph = 0; return vek_variant<VekSlot::vek_upsample_complex_16>(k)(c, 1, c, &len, 0, &ph); }, VEK_ERR_SAMPLE_FACTOR},
        {"downsample phase", [](int k) { ph = 2; return vek_variant<VekSlot::vek_downsample_complex_16>(k)(c, 1, c, &len, 2, &ph); }, VEK_ERR_SAMPLE_PHASE},
        {"shift null", [](int k) { return vek_variant<VekSlot::vek_shift_left_32_inplace>(k)(-1, nullptr, 0); }, VEK_ERR_NULL_POINTER},
        {"shift size", [](int k) { return vek_variant<VekSlot::vek_shift_32_inplace>(k)(-1, w, 0); }, VEK_ERR_SIZE},
        {"mean null", [=](int k) { return vek_variant<VekSlot::vek_mean_16>(k)(v, 0, n16, 0); }, VEK_ERR_NULL_POINTER},
        {"mean size", [](int k) { return vek_variant<VekSlot::vek_mean_16>(k)(v, 0, v, 0); }, VEK_ERR_SIZE},
        {"complex mean null", [=](int k) { return vek_variant<VekSlot::vek_mean_complex_16>(k)(c, 0, nc, 0); }, VEK_ERR_NULL_POINTER},
        {"stddev len 1", [](int k) { return vek_variant<VekSlot::vek_stddev_16>(k)(v, 1, w, 0); }, VEK_ERR_SIZE},
        {"stddev16 len 1", [](int k) { return vek_variant<VekSlot::vek_stddev_16_scaled>(k)(v, 1, v, 0); }, VEK_ERR_SIZE},
        {"stddev null", [](int k) { return vek_variant<VekSlot::vek_stddev_16>(k)(v, 1, nullptr, 0); }, VEK_ERR_NULL_POINTER},
        {"l2 null", [](int k) { return vek_variant<VekSlot::vek_norm_l2_16>(k)(nullptr, 0, w, 0); }, VEK_ERR_NULL_POINTER},
        {"inf diff null", [=](int k) { return vek_variant<VekSlot::vek_norm_diff_inf_16>(k)(v, n16, 0, w, 0); }, VEK_ERR_NULL_POINTER},
        {"l2 diff size", [](int k) { return vek_variant<VekSlot::vek_norm_diff_l2_16>(k)(v, v, 0, w, 0); }, VEK_ERR_SIZE},
        {"threshold null", [=](int k) { return vek_variant<VekSlot::vek_threshold_lt_16_inplace>(k)(n16, 0, 0); }, VEK_ERR_NULL_POINTER},
        {"threshold size", [](int k) { return vek_variant<VekSlot::vek_threshold_gt_16_inplace>(k)(v, 0, 0); }, VEK_ERR_SIZE},
        {"max index null src", [](int k) { return vek_variant<VekSlot::vek_max_index_16>(k)(nullptr, 0, v, w); }, VEK_ERR_NULL_POINTER},
        {"max index size", [](int k) { return vek_variant<VekSlot::vek_max_index_16>(k)(v, 0, v, nullptr); }, VEK_ERR_SIZE},
        {"conj null", [=](int k) { return vek_variant<VekSlot::vek_conj_16_inplace>(k)(nc, 0); }, VEK_ERR_NULL_POINTER},
        {"conj dst null", [=](int k) { return vek_variant<VekSlot::vek_conj_16>(k)(c, nc, 0); }, VEK_ERR_NULL_POINTER},
        {"conj size", [](int k) { return vek_variant<VekSlot::vek_conj_16>(k)(c, c, 0); }, VEK_ERR_SIZE},
        {"dot32 result null", [](int k) { return vek_variant<VekSlot::vek_dot_16_to32>(k)(v, v, 0, nullptr, 0); }, VEK_ERR_NULL_POINTER},
        {"dotc16 result null", [=](int k) { return vek_variant<VekSlot::vek_dot_16_c16_to16>(k)(v, c, -1, nc, 0); }, VEK_ERR_NULL_POINTER},
        {"dotc16 size", [](int k) { return vek_variant<VekSlot::vek_dot_16_c16_to16>(k)(v, c, 0, c, 0); }, VEK_ERR_SIZE},
        {"power null", [=](int k) { return vek_variant<VekSlot::vek_power_spectrum_split_16>(k)(v, n16, v, 0, 0); }, VEK_ERR_NULL_POINTER},
        {"power size", [](int k) { return vek_variant<VekSlot::vek_power_spectrum_complex_16>(k)(c, v, 0, 0); }, VEK_ERR_SIZE},
        {"abs null", [=](int k) { return vek_variant<VekSlot::vek_abs_16_inplace>(k)(n16, 0); }, VEK_ERR_NULL_POINTER},
        {"abs size", [](int k) { return vek_variant<VekSlot::vek_abs_16>(k)(v, v, 0); }, VEK_ERR_SIZE},
        {"split null", [=](int k) { return vek_variant<VekSlot::vek_complex_split_16>(k)(c, v, n16, 0); }, VEK_ERR_NULL_POINTER},
        {"split size", [](int k) { return vek_variant<VekSlot::vek_complex_split_16>(k)(c, v, v, 0); }, VEK_ERR_SIZE},
    };
}

TEST(VekUtilityChecks, NullPointersBeforeSizesBeforeTheRestInEveryColumn) {
    for (const CheckCase& c : check_cases())
        for (int col : kColumns) EXPECT_EQ(c.call(col), c.want) << c.name << " " << column_name(col);
}

// Nothing is written when a check fails.
TEST(VekUtilityChecks, FailedCallsWriteNothing) {
    for (int col : kColumns) {
        int16_t v[2] = {100, -100};
        int32_t out = 77;
        EXPECT_EQ(vek_variant<VekSlot::vek_sqrt_16_inplace>(col)(v, 0, 0), VEK_ERR_SIZE);
        EXPECT_EQ(vek_variant<VekSlot::vek_norm_l2_16>(col)(v, -1, &out, 0), VEK_ERR_SIZE);
        EXPECT_EQ(vek_variant<VekSlot::vek_stddev_16>(col)(v, 1, &out, 0), VEK_ERR_SIZE);
        EXPECT_EQ(v[0] + v[1], 0);
        EXPECT_EQ(out, 77);
    }
}

// Every utility slot leaves the caller's x87 control word and SSE control bits as they were, after MMX code too
// (an extended-precision computation right after each call is still exact).
TEST(VekUtilityChecks, FloatingPointStateUnchangedAndMmxLeft) {
    std::vector<int16_t> a(300), b(300), d(600);
    std::vector<int32_t> w(300);
    std::vector<VekC16> c(300), e(300);
    for (int i = 0; i < 300; ++i) a[i] = static_cast<int16_t>(i * 97 - 14000), b[i] = static_cast<int16_t>(i * 31 - 4000);
    for (int i = 0; i < 300; ++i) c[i] = VekC16{a[i], b[i]};
    const std::vector<std::function<void(int)>> calls = {
        [&](int k) { vek_variant<VekSlot::vek_sqrt_16>(k)(a.data(), d.data(), 300, -3); },
        [&](int k) { vek_variant<VekSlot::vek_sqrt_16>(k)(a.data(), d.data(), 300, 2); },
        [&](int k) { vek_variant<VekSlot::vek_magnitude_complex_16>(k)(c.data(), d.data(), 300, 1); },
        [&](int k) { vek_variant<VekSlot::vek_magnitude_split_16>(k)(a.data(), b.data(), d.data(), 300, -2); },
        [&](int k) { vek_variant<VekSlot::vek_phase_split_16>(k)(a.data(), b.data(), d.data(), 300, 0); },
        [&](int k) { vek_variant<VekSlot::vek_phase_split_16>(k)(a.data(), b.data(), d.data(), 300, -12); },
        [&](int k) { vek_variant<VekSlot::vek_shift_16_inplace>(k)(3, d.data(), 300); },
        [&](int k) { vek_variant<VekSlot::vek_shift_left_32_inplace>(k)(3, w.data(), 300); },
        [&](int k) { int16_t m; vek_variant<VekSlot::vek_mean_16>(k)(a.data(), 300, &m, 0); },
        [&](int k) { VekC16 m; vek_variant<VekSlot::vek_mean_complex_16>(k)(c.data(), 300, &m, 0); },
        [&](int k) { int32_t m; vek_variant<VekSlot::vek_stddev_16>(k)(a.data(), 300, &m, 0); },
        [&](int k) { int32_t m; vek_variant<VekSlot::vek_norm_l2_16>(k)(a.data(), 300, &m, 0); },
        [&](int k) { int32_t m; vek_variant<VekSlot::vek_norm_diff_inf_16>(k)(a.data(), b.data(), 300, &m, 0); },
        [&](int k) { int32_t m; vek_variant<VekSlot::vek_norm_diff_l2_16>(k)(a.data(), b.data(), 300, &m, 0); },
        [&](int k) { vek_variant<VekSlot::vek_threshold_gt_16_inplace>(k)(d.data(), 300, 5); },
        [&](int k) { int16_t m; int32_t i; vek_variant<VekSlot::vek_max_index_16>(k)(a.data(), 300, &m, &i); },
        [&](int k) { vek_variant<VekSlot::vek_conj_16>(k)(c.data(), e.data(), 300); },
        [&](int k) { int32_t r; vek_variant<VekSlot::vek_dot_16_to32>(k)(a.data(), b.data(), 300, &r, 3); },
        [&](int k) { VekC16 r; vek_variant<VekSlot::vek_dot_16_c16_to16>(k)(a.data(), c.data(), 300, &r, 3); },
        [&](int k) { vek_variant<VekSlot::vek_power_spectrum_complex_16>(k)(c.data(), d.data(), 300, -3); },
        [&](int k) { vek_variant<VekSlot::vek_abs_16>(k)(a.data(), d.data(), 300); },
        [&](int k) { vek_variant<VekSlot::vek_complex_split_16>(k)(c.data(), d.data(), d.data() + 300, 300); },
        [&](int k) { vek_variant<VekSlot::vek_complex_join_16>(k)(a.data(), b.data(), e.data(), 300); },
    };
    for (int col : kColumns) {
        for (size_t i = 0; i < calls.size(); ++i) {
            const FpState before = FpState::now();
            calls[i](col);
            ASSERT_TRUE(FpState::now() == before) << column_name(col) << " call " << i;
            volatile long double x = 1.0L / 3.0L;
            ASSERT_EQ(static_cast<long double>(x) * 3.0L, 1.0L) << column_name(col) << " call " << i;
        }
    }
}

TEST(VekUtilityChecks, EverySlotOfTheFamilyIsFilled) {
    const int slots[] = {20, 21, 22, 23, 58, 59, 108, 109, 110, 111, 113, 114, 116, 119, 121, 124, 125, 224,
                         225, 226, 227, 228, 229, 231, 233, 234, 236, 237, 245, 247, 250, 251};
    for (int slot : slots)
        for (int col : kColumns) EXPECT_FALSE(vek_is_placeholder(slot, col)) << vek_slot_name(slot) << " " << column_name(col);
}

}  // namespace
