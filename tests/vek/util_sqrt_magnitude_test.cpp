// Square root and magnitude in every column against exact references, the phase of split vectors against the
// interleaved form, and the documented values of the Parts' tables.
#include <gtest/gtest.h>

#include <cmath>

#include "layer1/vek/util/utilities.h"
#include "utilities_support.h"
#include "vek_harness.h"

namespace {

using namespace vekutil_test;
using namespace utiltest;
using vektest::column_name;
using vektest::kColumns;

int16_t ref_sqrt(int x, int sf) {
    if (x < 0 || sf > 8) return 0;
    if (sf < -14) return x > 0 ? 32767 : 0;
    const unsigned __int128 num = sf >= 0 ? static_cast<unsigned __int128>(x) : static_cast<unsigned __int128>(x) << (-2 * sf);
    const unsigned __int128 den = sf >= 0 ? static_cast<unsigned __int128>(1) << (2 * sf) : 1;
    const uint64_t r = round_sqrt_ratio(num, den);
    return static_cast<int16_t>(r > 32767 ? 32767 : r);
}

int16_t ref_magnitude(int re, int im, int sf) {
    const uint64_t s = static_cast<uint64_t>(int64_t{re} * re + int64_t{im} * im);
    if (sf > 16) return 0;
    if (sf < -14) return s != 0 ? 32767 : 0;
    const unsigned __int128 num = sf >= 0 ? s : static_cast<unsigned __int128>(s) << (-2 * sf);
    const unsigned __int128 den = sf >= 0 ? static_cast<unsigned __int128>(1) << (2 * sf) : 1;
    const uint64_t r = round_sqrt_ratio(num, den);
    return static_cast<int16_t>(r > 32767 ? 32767 : r);
}

// All 65536 inputs at every scale factor from -16 to 10, in both forms, in every column.
TEST(VekSqrt, ExhaustiveEveryScaleFactorAndColumn) {
    std::vector<int16_t> all(65536);
    for (int i = 0; i < 65536; ++i) all[i] = static_cast<int16_t>(i - 32768);
    std::vector<int16_t> out(65536), inplace;
    for (int sf = -16; sf <= 10; ++sf) {
        std::vector<int16_t> want(65536);
        for (int i = 0; i < 65536; ++i) want[i] = ref_sqrt(all[i], sf);
        for (int col : kColumns) {
            const FpState before = FpState::now();
            ASSERT_EQ(vek_variant<VekSlot::vek_sqrt_16>(col)(all.data(), out.data(), 65536, sf), VEK_WARN_SQRT_NEGATIVE);
            ASSERT_TRUE(FpState::now() == before) << column_name(col);
            inplace = all;
            ASSERT_EQ(vek_variant<VekSlot::vek_sqrt_16_inplace>(col)(inplace.data(), 65536, sf), VEK_WARN_SQRT_NEGATIVE);
            for (int i = 0; i < 65536; ++i) {
                ASSERT_EQ(out[i], want[i]) << column_name(col) << " x=" << all[i] << " sf=" << sf;
                ASSERT_EQ(inplace[i], want[i]) << column_name(col) << " x=" << all[i] << " sf=" << sf;
            }
        }
    }
}

TEST(VekSqrt, DocumentedValues) {
    const struct {
        int16_t x;
        int sf;
        int16_t want;
    } cases[] = {
        {0, 0, 0},       {1, 0, 1},        {2, 0, 1},        {3, 0, 2},        {6, 0, 2},
        {7, 0, 3},       {32767, 0, 181},  {9, 1, 2},        {1, 1, 0},        {25, 1, 2},
        {32767, 9, 0},   {0, -15, 0},      {1, -15, 32767},  {16383, -8, 32767}, {16384, -8, 32767},
        {1783, -9, 21619}, {2321, -9, 24667}, {4018, -9, 32455}, {4096, -9, 32767}, {20727, -4, 2303},
        {25590, -4, 2559}, {30965, -4, 2815}, {9213, -5, 3071},  {26513, -5, 5211},
    };
    for (int col : kColumns) {
        for (const auto& c : cases) {
            int16_t v = c.x;
            ASSERT_EQ(vek_variant<VekSlot::vek_sqrt_16_inplace>(col)(&v, 1, c.sf), VEK_OK);
            EXPECT_EQ(v, c.want) << column_name(col) << " x=" << c.x << " sf=" << c.sf;
        }
        int16_t neg[2] = {-1, 4};
        EXPECT_EQ(vek_variant<VekSlot::vek_sqrt_16_inplace>(col)(neg, 2, 12), VEK_WARN_SQRT_NEGATIVE);
        EXPECT_EQ(neg[0], 0);
        EXPECT_EQ(neg[1], 0);
    }
}

// Every length and alignment: guards intact, the source of the second form unchanged.
TEST(VekSqrt, EveryLengthAndOffset) {
    std::mt19937 rng(61);
    for (const Layout& l : layouts()) {
        const auto x = samples16(rng, l.n);
        const int sf = static_cast<int>(l.offset % 12) - 6;
        for (int col : kColumns) {
            Guarded<int16_t> s(l.n, l.offset), d(l.n, other_offset(l.offset));
            s.fill(x);
            const VekStatus st = vek_variant<VekSlot::vek_sqrt_16>(col)(s.data(), d.data(), l.n, sf);
            bool neg = false;
            for (int i = 0; i < l.n; ++i) {
                neg |= x[i] < 0;
                ASSERT_EQ(d.get(i), ref_sqrt(x[i], sf)) << column_name(col) << " n=" << l.n << " off=" << l.offset;
            }
            ASSERT_EQ(st, neg ? VEK_WARN_SQRT_NEGATIVE : VEK_OK);
            ASSERT_TRUE(s.values() == x);
            ASSERT_TRUE(s.guards_intact() && d.guards_intact());
        }
    }
}

std::vector<int16_t> edge_parts() {
    std::vector<int16_t> v = {0, 1, -1, 2, 3, 4, 5, 7, -32768, 32767, -32767, 181, 182, 23170, 23171, -23170};
    std::mt19937 rng(62);
    std::uniform_int_distribution<int> any(-32768, 32767);
    for (int i = 0; i < 24; ++i) v.push_back(static_cast<int16_t>(any(rng)));
    return v;
}

// A grid of edge and random parts at every scale factor from -16 to 18, interleaved and split, every column.
TEST(VekMagnitude, GridEveryScaleFactorAndColumn) {
    const auto parts = edge_parts();
    std::vector<int16_t> inter, re, im;
    for (int16_t a : parts)
        for (int16_t b : parts) {
            inter.push_back(a);
            inter.push_back(b);
            re.push_back(a);
            im.push_back(b);
        }
    const int n = static_cast<int>(re.size());
    std::vector<int16_t> out1(n), out2(n);
    for (int sf = -16; sf <= 18; ++sf) {
        for (int col : kColumns) {
            const FpState before = FpState::now();
            ASSERT_EQ(vek_variant<VekSlot::vek_magnitude_complex_16>(col)(
                          reinterpret_cast<const VekC16*>(inter.data()), out1.data(), n, sf),
                      VEK_OK);
            ASSERT_EQ(vek_variant<VekSlot::vek_magnitude_split_16>(col)(re.data(), im.data(), out2.data(), n, sf),
                      VEK_OK);
            ASSERT_TRUE(FpState::now() == before) << column_name(col);
            for (int i = 0; i < n; ++i) {
                const int16_t want = ref_magnitude(re[i], im[i], sf);
                ASSERT_EQ(out1[i], want) << column_name(col) << " (" << re[i] << "," << im[i] << ") sf=" << sf;
                ASSERT_EQ(out2[i], want) << column_name(col) << " (" << re[i] << "," << im[i] << ") sf=" << sf;
            }
        }
    }
}

TEST(VekMagnitude, DocumentedValuesAndLayouts) {
    const struct {
        int16_t re, im;
        int sf;
        int16_t want;
    } cases[] = {
        {3, 4, 0, 5},     {-32768, -32768, 0, 32767}, {0, 0, 0, 0},      {3, 0, 1, 2},    {5, 0, 1, 2},
        {7, 0, 1, 4},     {-32768, 0, 16, 0},         {-32768, 1, 16, 1}, {-32768, 1, 17, 0}, {0, 0, -15, 0},
        {0, 1, -15, 32767},
    };
    for (int col : kColumns) {
        for (const auto& c : cases) {
            const VekC16 z{c.re, c.im};
            int16_t m = -1;
            ASSERT_EQ(vek_variant<VekSlot::vek_magnitude_complex_16>(col)(&z, &m, 1, c.sf), VEK_OK);
            EXPECT_EQ(m, c.want) << column_name(col) << " (" << c.re << "," << c.im << ") sf=" << c.sf;
        }
    }
    std::mt19937 rng(63);
    for (const Layout& l : layouts()) {
        if (l.n > 4096) continue;
        const auto x = samples16(rng, 2 * l.n);
        const int sf = static_cast<int>(l.offset) - 8;
        for (int col : kColumns) {
            Guarded<int16_t> s(2 * l.n, l.offset), d(l.n, other_offset(l.offset));
            s.fill(x);
            ASSERT_EQ(vek_variant<VekSlot::vek_magnitude_complex_16>(col)(reinterpret_cast<const VekC16*>(s.data()),
                                                                          d.data(), l.n, sf),
                      VEK_OK);
            for (int i = 0; i < l.n; ++i) ASSERT_EQ(d.get(i), ref_magnitude(x[2 * i], x[2 * i + 1], sf));
            ASSERT_TRUE(d.guards_intact());
        }
    }
}

// The split phase gives exactly what the interleaved phase gives for the same values, in every column.
TEST(VekPhaseSplit, EqualsTheInterleavedForm) {
    std::mt19937 rng(64);
    for (int sf = -31; sf <= 3; ++sf) {
        for (int n : {1, 3, 4, 5, 17, 70}) {
            const auto x = samples16(rng, 2 * n);
            std::vector<int16_t> re(n), im(n);
            for (int i = 0; i < n; ++i) {
                re[i] = x[2 * i];
                im[i] = x[2 * i + 1];
            }
            for (int col : kColumns) {
                Guarded<int16_t> d1(n, 3), d2(n, 5);
                ASSERT_EQ(vek_variant<VekSlot::vek_phase_complex_16>(col)(reinterpret_cast<const VekC16*>(x.data()),
                                                                          d1.data(), n, sf),
                          VEK_OK);
                ASSERT_EQ(vek_variant<VekSlot::vek_phase_split_16>(col)(re.data(), im.data(), d2.data(), n, sf),
                          VEK_OK);
                ASSERT_TRUE(d1.values() == d2.values()) << column_name(col) << " sf=" << sf << " n=" << n;
                ASSERT_TRUE(d2.guards_intact());
            }
        }
    }
}

// The Part's table, with the documented difference at sf = 2: gen and mm round pi/4 up, SSE and SSE2 give 0.
TEST(VekPhaseSplit, DocumentedValues) {
    const struct {
        int16_t re, im;
        int sf;
        int16_t gen_mm, ss_wd;
    } cases[] = {
        {1, 0, 0, 0, 0},   {0, 5, 0, 2, 2},   {0, -5, 0, -2, -2}, {-1, 0, 0, 3, 3},   {0, 0, 0, 0, 0},
        {-1, 0, -13, 25736, 25736}, {-1, 0, -14, 32767, 32767}, {-1, -1, -14, -32768, -32768}, {-1, 0, 2, 1, 0},
    };
    for (int col : kColumns) {
        for (const auto& c : cases) {
            int16_t p = 99;
            ASSERT_EQ(vek_variant<VekSlot::vek_phase_split_16>(col)(&c.re, &c.im, &p, 1, c.sf), VEK_OK);
            EXPECT_EQ(p, col <= VEK_CPU_MM ? c.gen_mm : c.ss_wd)
                << column_name(col) << " (" << c.re << "," << c.im << ") sf=" << c.sf;
        }
    }
}

}  // namespace
