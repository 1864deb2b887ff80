// Byte widening and the float conversion kernels, the shift entries and the shift and logic kernel family, in every
// column against exact references.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "layer1/vek/util/bits.h"
#include "layer1/vek/util/utilities.h"
#include "utilities_support.h"
#include "vek_harness.h"

namespace {

using namespace vekutil_test;
using namespace utiltest;
using vektest::column_name;
using vektest::kColumns;

TEST(VekConvertS8, EveryByteEveryLayoutEveryColumn) {
    for (const Layout& l : layouts()) {
        std::vector<int8_t> x(l.n);
        for (int i = 0; i < l.n; ++i) x[i] = static_cast<int8_t>(i * 37 + l.offset);
        for (int col : kColumns) {
            Guarded<int8_t> s(l.n, l.offset);
            Guarded<int16_t> d(l.n, other_offset(l.offset));
            s.fill(x);
            ASSERT_EQ(vek_variant<VekSlot::vek_convert_s8_s16>(col)(s.data(), d.data(), l.n), VEK_OK);
            for (int i = 0; i < l.n; ++i) ASSERT_EQ(d.get(i), x[i]) << column_name(col) << " n=" << l.n;
            ASSERT_TRUE(d.guards_intact());
        }
    }
    // The mm and ss rows hold one entry.
    EXPECT_EQ(vek_variant<VekSlot::vek_convert_s8_s16>(VEK_CPU_MM), vek_variant<VekSlot::vek_convert_s8_s16>(VEK_CPU_SS));
}

using F2S = void (*)(const float*, int16_t*, int32_t, int32_t, int32_t);
const F2S kF2S[3] = {vek_k_convert_f32_s16_scaled_body_wd, vek_k_convert_f32_s16_scaled_body_ss,
                     vek_k_convert_f32_s16_scaled_body_mm};
const char* const kF2SNames[3] = {"wd", "ss", "mm"};

int16_t f2s(int form, float x, int mode, int sf) {
    int16_t r = 0x5555;
    kF2S[form](&x, &r, 1, mode, sf);
    return r;
}

TEST(VekConvertFloat, DocumentedValuesInEveryForm) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        float x;
        int mode, sf;
        int16_t wd, ss, mm;
    } cases[] = {
        {2.5f, 1, 0, 2, 2, 2},          {3.5f, 1, 0, 4, 4, 4},         {-2.5f, 1, 0, -2, -2, -2},
        {32767.4f, 1, 0, 32767, 32767, 32767}, {40000.0f, 1, 0, 32767, 32767, 32767},
        {-40000.0f, 1, 0, -32768, -32768, -32768}, {-32768.4f, 1, 0, -32768, -32768, -32768},
        {2.9f, 0, 0, 2, 2, 2},          {-2.9f, 0, 0, -2, -2, -2},     {5.0f, 1, 1, 2, 2, 2},
        {7.0f, 1, 1, 4, 4, 4},          {3.25f, 1, -2, 13, 13, 13},    {2.7f, 2, 0, 3, 2, 2},
        {nan, 1, 0, 32767, 32767, 32767}, {-nan, 1, 0, 32767, 32767, -32768},
        {1.0f, 1, -140, 32767, 32767, 32767}, {0.0f, 1, -200, 0, 0, 0}, {-3.0f, 0, -130, -32768, -32768, -32768},
        {3.0e38f, 1, 150, 0, 0, 0},     {-1.5f, 1, 0, -2, -2, -2},     {32767.5f, 1, 0, 32767, 32767, 32767},
    };
    for (const auto& c : cases) {
        const int16_t want[3] = {c.wd, c.ss, c.mm};
        for (int form = 0; form < 3; ++form)
            EXPECT_EQ(f2s(form, c.x, c.mode, c.sf), want[form])
                << kF2SNames[form] << " x=" << c.x << " mode=" << c.mode << " sf=" << c.sf;
    }
}

// Random values over every layout against the exact scaled conversion, with the caller's rounding state (four
// rounding controls, denormals-are-zero) and x87 control word unchanged afterwards.
TEST(VekConvertFloat, LayoutsAndCallerRoundingStateKept) {
    std::mt19937 rng(71);
    std::uniform_real_distribution<float> any(-50000.0f, 50000.0f);
    const uint32_t saved = _mm_getcsr();
    for (uint32_t rc : {0x0000u, 0x2000u, 0x4000u, 0x6000u | 0x0040u}) {
        _mm_setcsr((saved & ~0x6040u) | rc);
        for (const Layout& l : layouts()) {
            if (l.n > 4096 || l.n % 3 != 0) continue;
            std::vector<float> x(l.n);
            for (auto& v : x) v = any(rng);
            Guarded<float> s(l.n, l.offset & ~size_t{3});
            s.fill(x);
            const int sf = static_cast<int>(l.offset % 5) - 2;
            for (int form = 0; form < 3; ++form) {
                for (int mode : {0, 1}) {
                    Guarded<int16_t> d(l.n, other_offset(l.offset));
                    const uint32_t csr = _mm_getcsr();
                    const FpState before = FpState::now();
                    kF2S[form](s.data(), d.data(), l.n, mode, sf);
                    ASSERT_EQ(_mm_getcsr(), csr) << kF2SNames[form];
                    ASSERT_TRUE(FpState::now() == before);
                    for (int i = 0; i < l.n; ++i) {
                        const double v = std::ldexp(static_cast<double>(x[i]), -sf);
                        double r = std::trunc(v);
                        if (mode == 1) {  // to nearest, ties to even, whatever the caller's mode
                            const double f = std::floor(v), frac = v - f;
                            r = frac > 0.5 || (frac == 0.5 && std::fmod(f, 2.0) != 0) ? f + 1 : f;
                        }
                        const int16_t want = static_cast<int16_t>(std::clamp(r, -32768.0, 32767.0));
                        ASSERT_EQ(d.get(i), want) << kF2SNames[form] << " x=" << x[i] << " sf=" << sf;
                    }
                    ASSERT_TRUE(d.guards_intact());
                }
            }
            std::vector<int16_t> ints(l.n);
            for (int i = 0; i < l.n; ++i) ints[i] = static_cast<int16_t>(x[i] / 2);
            Guarded<int16_t> si(l.n, l.offset);
            si.fill(ints);
            for (auto k : {vek_k_convert_s16_f32_body_wd, vek_k_convert_s16_f32_body_ss, vek_k_convert_s16_f32_body_mm}) {
                Guarded<float> d(l.n, other_offset(l.offset) & ~size_t{1});
                k(si.data(), d.data(), l.n);
                for (int i = 0; i < l.n; ++i) ASSERT_EQ(d.get(i), static_cast<float>(ints[i]));
                ASSERT_TRUE(d.guards_intact());
            }
        }
    }
    _mm_setcsr(saved);
}

// --- shifts ---------------------------------------------------------------------------------------------------

TEST(VekShift, EntriesEveryCountLayoutAndColumn) {
    std::mt19937 rng(72);
    for (const Layout& l : layouts()) {
        if (l.n > 4096) continue;
        const auto x = samples16(rng, 2 * l.n);
        for (int count : {0, 1, 7, 15, 16, 31, 32, 1000}) {
            if ((l.offset + l.n + count) % 3 != 0 && l.n > 8) continue;  // a third of the combinations
            for (int col : kColumns) {
                Guarded<int16_t> a(l.n, l.offset), b(l.n, l.offset);
                Guarded<int32_t> c(l.n, l.offset), e(l.n, l.offset);
                std::vector<int32_t> w(l.n);
                for (int i = 0; i < l.n; ++i) w[i] = (int32_t{x[2 * i]} << 16) ^ static_cast<uint16_t>(x[2 * i + 1]);
                a.fill(std::vector<int16_t>(x.begin(), x.begin() + l.n));
                b.fill(std::vector<int16_t>(x.begin(), x.begin() + l.n));
                c.fill(w);
                e.fill(w);
                ASSERT_EQ(vek_variant<VekSlot::vek_shift_u16_inplace>(col)(count, reinterpret_cast<uint16_t*>(a.data()), l.n), VEK_OK);
                ASSERT_EQ(vek_variant<VekSlot::vek_shift_16_inplace>(col)(count, b.data(), l.n), VEK_OK);
                ASSERT_EQ(vek_variant<VekSlot::vek_shift_left_32_inplace>(col)(count, c.data(), l.n), VEK_OK);
                ASSERT_EQ(vek_variant<VekSlot::vek_shift_32_inplace>(col)(count, e.data(), l.n), VEK_OK);
                for (int i = 0; i < l.n; ++i) {
                    const int16_t v = x[i];
                    ASSERT_EQ(a.get(i), count > 15 ? 0 : static_cast<int16_t>(static_cast<uint16_t>(v) << count))
                        << column_name(col) << " count=" << count;
                    ASSERT_EQ(b.get(i), static_cast<int16_t>(v >> std::min(count, 15)));
                    ASSERT_EQ(c.get(i), count > 31 ? 0 : static_cast<int32_t>(static_cast<uint32_t>(w[i]) << count));
                    ASSERT_EQ(e.get(i), w[i] >> std::min(count, 31));
                }
                ASSERT_TRUE(a.guards_intact() && b.guards_intact() && c.guards_intact() && e.guards_intact());
            }
        }
    }
}

TEST(VekShift, ArgumentOrder) {
    for (int col : kColumns) {
        int16_t v[2] = {5, -5};
        uint16_t u[2] = {5, 6};
        int32_t w[2] = {5, -5};
        EXPECT_EQ(vek_variant<VekSlot::vek_shift_u16_inplace>(col)(-1, nullptr, 0), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(vek_variant<VekSlot::vek_shift_16_inplace>(col)(-1, v, 0), VEK_ERR_SIZE);
        EXPECT_EQ(vek_variant<VekSlot::vek_shift_u16_inplace>(col)(-1, u, 2), VEK_ERR_SHIFT);
        EXPECT_EQ(vek_variant<VekSlot::vek_shift_16_inplace>(col)(-1, v, 2), VEK_ERR_SHIFT);
        EXPECT_EQ(vek_variant<VekSlot::vek_shift_left_32_inplace>(col)(-3, w, 2), VEK_ERR_SHIFT);
        EXPECT_EQ(vek_variant<VekSlot::vek_shift_32_inplace>(col)(-3, w, 2), VEK_ERR_SHIFT);
        EXPECT_EQ(v[0] + v[1] + w[0] + w[1] + u[0] + u[1], 11);  // untouched
        EXPECT_EQ(vek_variant<VekSlot::vek_shift_32_inplace>(col)(2, nullptr, -1), VEK_ERR_NULL_POINTER);
    }
}

// Every shift and logic kernel of both sets against the scalar operation, in place and not, at every layout.
template <class T>
void check_kernels(const char* name, void (*inplace)(int32_t, T*, int32_t), void (*into)(const T*, int32_t, T*, int32_t),
                   T (*ref)(T, int), int max_count) {
    std::mt19937 rng(73);
    for (const Layout& l : layouts()) {
        if (l.n > 4096) continue;
        std::vector<T> x(l.n);
        for (auto& v : x) v = static_cast<T>(rng());
        const int k = static_cast<int>((l.n + l.offset) % (max_count + 1));
        Guarded<T> a(l.n, l.offset), s(l.n, other_offset(l.offset)), d(l.n, l.offset ^ 5);
        a.fill(x);
        s.fill(x);
        inplace(k, a.data(), l.n);
        into(s.data(), k, d.data(), l.n);
        for (int i = 0; i < l.n; ++i) {
            ASSERT_EQ(a.get(i), ref(x[i], k)) << name << " n=" << l.n << " k=" << k;
            ASSERT_EQ(d.get(i), ref(x[i], k)) << name;
        }
        ASSERT_TRUE(a.guards_intact() && d.guards_intact());
    }
}

#define VEK_CHECK_SHIFT(name, T, expr, maxc)                                                                  \
    check_kernels<T>(#name "_sse2", vek_k_##name##_inplace_sse2, vek_k_##name##_sse2,                          \
                     [](T x, int k) { return static_cast<T>(expr); }, maxc);                                  \
    check_kernels<T>(#name "_mmx", vek_k_##name##_inplace_mmx, vek_k_##name##_mmx,                             \
                     [](T x, int k) { return static_cast<T>(expr); }, maxc);

TEST(VekShiftKernels, EveryMemberOfBothSets) {
    VEK_CHECK_SHIFT(shl_8u, uint8_t, x << k, 7)
    VEK_CHECK_SHIFT(shr_8u, uint8_t, x >> k, 7)
    VEK_CHECK_SHIFT(shl_16, int16_t, static_cast<uint16_t>(x) << k, 15)
    VEK_CHECK_SHIFT(shr_16u, uint16_t, x >> k, 15)
    VEK_CHECK_SHIFT(sar_16, int16_t, x >> k, 15)
    VEK_CHECK_SHIFT(shl_32, int32_t, static_cast<uint32_t>(x) << k, 31)
    VEK_CHECK_SHIFT(sar_32, int32_t, x >> k, 31)
}

template <class T>
void check_logic(const char* name, void (*ci)(int32_t, T*, int32_t), void (*c)(const T*, int32_t, T*, int32_t),
                 void (*vi)(const T*, T*, int32_t), void (*v)(const T*, const T*, T*, int32_t), T (*op)(T, T)) {
    std::mt19937 rng(74);
    for (const Layout& l : layouts()) {
        if (l.n > 4096) continue;
        std::vector<T> x(l.n), y(l.n);
        for (int i = 0; i < l.n; ++i) {
            x[i] = static_cast<T>(rng());
            y[i] = static_cast<T>(rng());
        }
        const int32_t value = static_cast<int32_t>(rng());
        const T cv = static_cast<T>(value);
        Guarded<T> a(l.n, l.offset), b(l.n, other_offset(l.offset)), d1(l.n, l.offset ^ 3), d2(l.n, l.offset ^ 9),
            e(l.n, l.offset ^ 6);
        a.fill(x);
        b.fill(y);
        e.fill(y);
        ci(value, a.data(), l.n);
        c(b.data(), value, d1.data(), l.n);
        vi(a.data(), e.data(), l.n);  // e = y op (x op c)
        v(b.data(), b.data(), d2.data(), l.n);
        for (int i = 0; i < l.n; ++i) {
            ASSERT_EQ(a.get(i), op(x[i], cv)) << name << " n=" << l.n;
            ASSERT_EQ(d1.get(i), op(y[i], cv)) << name;
            ASSERT_EQ(e.get(i), op(y[i], op(x[i], cv))) << name;
            ASSERT_EQ(d2.get(i), op(y[i], y[i])) << name;
        }
        ASSERT_TRUE(a.guards_intact() && d1.guards_intact() && d2.guards_intact() && e.guards_intact());
    }
}

#define VEK_CHECK_LOGIC_SET(opname, ty, T, expr, set)                                                             \
    check_logic<T>(#opname "_" #ty "_" #set, vek_k_##opname##_const_##ty##_inplace_##set,                          \
                   vek_k_##opname##_const_##ty##_##set, vek_k_##opname##_vec_##ty##_inplace_##set,                 \
                   vek_k_##opname##_vec_##ty##_##set, [](T a, T b) { return static_cast<T>(expr); });
#define VEK_CHECK_LOGIC(opname, ty, T, expr) \
    VEK_CHECK_LOGIC_SET(opname, ty, T, expr, sse2) VEK_CHECK_LOGIC_SET(opname, ty, T, expr, mmx)

TEST(VekLogicKernels, EveryMemberOfBothSets) {
    VEK_CHECK_LOGIC(and, 8u, uint8_t, a & b)
    VEK_CHECK_LOGIC(or, 8u, uint8_t, a | b)
    VEK_CHECK_LOGIC(xor, 8u, uint8_t, a ^ b)
    VEK_CHECK_LOGIC(and, 16u, uint16_t, a & b)
    VEK_CHECK_LOGIC(or, 16u, uint16_t, a | b)
    VEK_CHECK_LOGIC(xor, 16u, uint16_t, a ^ b)
}

}  // namespace
