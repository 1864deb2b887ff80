// Phase of a complex vector: each column against the exact angle with its own rounding rule.
#include <gtest/gtest.h>

#include <cmath>

#include "layer1/vek/util/util.h"
#include "vek_harness.h"
#include "vekutil_support.h"

namespace {

using namespace vekutil_test;
using vektest::kColumns;

constexpr long double kPi = 3.14159265358979323846264338327950288L;

long double first_order(int re, int im) {
    if (re == 0 && im == 0) return 0;
    const long double x = re, y = im, g = std::fabs(y) + 1e-10L, q = kPi / 4;
    const long double a = x >= 0 ? q - q * (x - g) / (x + g) : 3 * q - q * (x + g) / (g - x);
    return y < 0 ? -a : a;
}

// The value before rounding, as each column's rule defines it.
long double ideal(int col, int re, int im, int sf) {
    if (sf == 0) return first_order(re, im);
    if (col >= 2 && sf >= 2) return 0;
    return std::atan2(static_cast<long double>(im), static_cast<long double>(re)) * std::pow(2.0L, -sf);
}

int16_t round_rule(long double v, bool ties_even) {
    long double r = ties_even ? std::nearbyint(v) : std::trunc(v >= 0 ? v + 0.5L : v - 0.5L);
    return static_cast<int16_t>(r > 32767 ? 32767 : (r < -32768 ? -32768 : r));
}

// Whether v lies within the column's precision of a rounding boundary, where either neighbour is acceptable.
bool near_boundary(int col, long double v, int sf) {
    const long double frac = std::fabs(v - std::floor(v) - 0.5L);
    const long double tol = col < 2 ? 1e-9L * (std::fabs(v) + 1) : 4e-6L * (std::fabs(v) + 1) + (sf == 0 ? 1e-3L : 0);
    return frac <= tol;
}

TEST(VekPhase, EveryColumnFollowsItsRule) {
    std::mt19937 rng(21);
    const int16_t edges[] = {0, 1, -1, 100, -100, 32767, -32768, 3, -7};
    std::uniform_int_distribution<int> any(-32768, 32767), pick(0, 8), which(0, 3);
    for (int sf = -70; sf <= 70; ++sf) {
        const int n = 1 + (sf + 70) % 23;  // groups of four and leftovers
        std::vector<int16_t> raw(2 * n);
        for (auto& x : raw) x = which(rng) == 0 ? edges[pick(rng)] : static_cast<int16_t>(any(rng));
        Guarded<int16_t> src(2 * n, static_cast<size_t>(sf + 70) % 8 * 2);
        src.fill(raw);
        for (int col : kColumns) {
            Guarded<int16_t> dst(n, static_cast<size_t>(sf + 71) % 16);
            ASSERT_EQ(vek_variant<VekSlot::vek_phase_complex_16>(col)(reinterpret_cast<const VekC16*>(src.data()),
                                                                      dst.data(), n, sf),
                      VEK_OK);
            ASSERT_TRUE(dst.guards_intact());
            for (int i = 0; i < n; ++i) {
                const int re = raw[2 * i], im = raw[2 * i + 1];
                const long double v = ideal(col, re, im, sf);
                // ss and wd round in the SSE mode (ties to even) except below -28, where they add half and truncate
                const bool even = col >= 2 && sf >= -28;
                const int16_t want = round_rule(v, even), got = dst.get(i);
                if (got == want) continue;
                ASSERT_TRUE(near_boundary(col, v, sf) && std::abs(int{got} - int{want}) == 1)
                    << vektest::column_name(col) << " sf=" << sf << " {" << re << "," << im << "} got " << got
                    << " want " << want << " v=" << static_cast<double>(v);
            }
        }
    }
}

// The block size of the pumps: 52 samples at sf = -12, every column within one unit of the exact angle and
// equal to it away from a rounding boundary.
TEST(VekPhase, PumpScaleOnManyAngles) {
    std::mt19937 rng(22);
    std::uniform_int_distribution<int> any(-32768, 32767);
    for (int rep = 0; rep < 200; ++rep) {
        std::vector<int16_t> raw(104);
        for (auto& x : raw) x = static_cast<int16_t>(any(rng));
        for (int col : kColumns) {
            int16_t out[52];
            ASSERT_EQ(vek_variant<VekSlot::vek_phase_complex_16>(col)(reinterpret_cast<const VekC16*>(raw.data()),
                                                                      out, 52, -12),
                      VEK_OK);
            for (int i = 0; i < 52; ++i) {
                const long double v =
                    std::atan2(static_cast<long double>(raw[2 * i + 1]), static_cast<long double>(raw[2 * i])) * 4096;
                const int16_t want = round_rule(v, col >= 2);
                if (out[i] != want) {
                    ASSERT_TRUE(near_boundary(col, v, -12)) << vektest::column_name(col);
                }
            }
        }
    }
}

TEST(VekPhase, DocumentedValues) {
    const struct {
        int16_t re, im;
        int sf;
        int16_t want;
    } cases[] = {{0, 100, -12, 6434}, {0, -100, -12, -6434}, {-100, 0, -12, 12868}, {-100, 0, -14, 32767},
                 {100, 100, 0, 1},    {-100, 1, 0, 3},       {100, 0, -12, 0},      {-100, -1, 0, -3}};
    for (int col : kColumns) {
        for (const auto& e : cases) {
            // one sample alone and the same sample inside a group of four
            VekC16 in[5];
            for (auto& c : in) c = {e.re, e.im};
            int16_t out[5];
            ASSERT_EQ(vek_variant<VekSlot::vek_phase_complex_16>(col)(in, out, 5, e.sf), VEK_OK);
            for (int16_t r : out)
                EXPECT_EQ(r, e.want) << vektest::column_name(col) << " {" << e.re << "," << e.im << "} sf=" << e.sf;
        }
        for (int sf = -70; sf <= 70; ++sf) {
            const VekC16 zero[1] = {{0, 0}};
            int16_t out = 99;
            ASSERT_EQ(vek_variant<VekSlot::vek_phase_complex_16>(col)(zero, &out, 1, sf), VEK_OK);
            EXPECT_EQ(out, 0) << vektest::column_name(col) << " sf=" << sf;
        }
    }
    // sf = 2: the exact form keeps +-1, the single-precision columns give 0
    const VekC16 neg[1] = {{-100, 0}};
    int16_t out = 0;
    vek_variant<VekSlot::vek_phase_complex_16>(VEK_CPU_GEN)(neg, &out, 1, 2);
    EXPECT_EQ(out, 1);
    vek_variant<VekSlot::vek_phase_complex_16>(VEK_CPU_WD)(neg, &out, 1, 2);
    EXPECT_EQ(out, 0);
}

TEST(VekPhase, ArgumentErrors) {
    const VekC16 in[1] = {{1, 1}};
    int16_t out = 7;
    for (int col : kColumns) {
        auto fn = vek_variant<VekSlot::vek_phase_complex_16>(col);
        EXPECT_EQ(fn(in, nullptr, 0, -12), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(fn(nullptr, &out, 1, -12), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(fn(in, &out, 0, -12), VEK_ERR_SIZE);
        EXPECT_EQ(fn(in, &out, -4, 0), VEK_ERR_SIZE);
    }
    EXPECT_EQ(out, 7);
}

// Rounding modes and exception masks are left alone; the x87 tags show no MMX state left behind.
TEST(VekPhase, FloatingPointControlUnchanged) {
    std::vector<int16_t> raw(40, 0);
    for (int i = 0; i < 40; ++i) raw[i] = static_cast<int16_t>(i * 977 - 17000);
    const vektest::FpState before = vektest::FpState::capture();
    for (int col : kColumns) {
        for (int sf : {-40, -12, -1, 0, 1, 5}) {
            int16_t out[20];
            vek_variant<VekSlot::vek_phase_complex_16>(col)(reinterpret_cast<const VekC16*>(raw.data()), out, 20, sf);
            const vektest::FpState after = vektest::FpState::capture();
            EXPECT_EQ(after.x87Control, before.x87Control);
            EXPECT_EQ(after.x87Tags, before.x87Tags) << vektest::column_name(col);
            EXPECT_EQ(after.mxcsr & ~0x3Fu, before.mxcsr & ~0x3Fu);
        }
    }
}

}  // namespace
