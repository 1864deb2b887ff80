// The element-wise complex multiplies: the 16-bit members against an exact 64-bit model of their rule
// (floored shift, the one held overflow, saturation) and the listed edge values; the float members against
// the same products formed element by element in the element type.
#include <cstring>

#include "layer1/vek/fft/engine/fft64f.h"
#include "vek_harness.h"

namespace {

using Mul16 = void (*)(const std::int16_t*, const std::int16_t*, std::int16_t*, std::int32_t, std::int32_t);
using Mul16InPlace = void (*)(const std::int16_t*, std::int16_t*, std::int32_t, std::int32_t);

struct Tier16 {
    const char* name;
    Mul16 outOfPlace;
    Mul16InPlace inPlace;
};
const Tier16 kTiers16[] = {
    {"wd", vek_k_fft_mul_c16_scaled_wd, vek_k_fft_mul_c16_inplace_scaled_wd},
    {"ss", vek_k_fft_mul_c16_scaled_ss, vek_k_fft_mul_c16_inplace_scaled_ss},
};

// The model: exact products, I = 2^31 held as 2^31 - 1, floor right shifts (0 or -1 from 32 on), left shifts
// saturating, then int16 saturation.
std::int16_t model_part(std::int64_t v, std::int32_t sf)
{
    if (sf > 0) {
        v = sf >= 32 ? (v < 0 ? -1 : 0) : (v >> sf);
    } else if (sf < 0) {
        for (int i = 0; i < -sf && v != 0 && v > -(std::int64_t{1} << 40) && v < (std::int64_t{1} << 40); ++i) {
            v *= 2;
        }
    }
    return static_cast<std::int16_t>(std::clamp<std::int64_t>(v, -32768, 32767));
}

void model(const std::int16_t* a, const std::int16_t* b, std::int16_t* out, std::int32_t sf)
{
    const std::int64_t r = std::int64_t{a[0]} * b[0] - std::int64_t{a[1]} * b[1];
    const std::int64_t i = std::min<std::int64_t>(std::int64_t{a[0]} * b[1] + std::int64_t{a[1]} * b[0], INT32_MAX);
    out[0] = model_part(r, sf);
    out[1] = model_part(i, sf);
}

struct Edge {
    std::int16_t a[2], b[2];
    std::int32_t sf;
    std::int16_t want[2];
};

TEST(FftMul16, EdgeValues)
{
    const Edge cases[] = {
        {{-32768, -32768}, {-32768, -32768}, 0, {0, 32767}},  // I = 2^31, held as 2^31 - 1
        {{1, 1}, {0, -32768}, 0, {32767, -32768}},            // R = 32768 saturates
        {{3, 0}, {1, 0}, 1, {1, 0}},
        {{-3, 0}, {1, 0}, 1, {-2, 0}},                        // floors, no rounding bias
        {{-32768, -32768}, {-32768, -32768}, 1, {0, 32767}},
        {{5, 7}, {3, -2}, 32, {0, 0}},                        // 29 + 11i: non-negative parts give 0
        {{-5, 7}, {3, 2}, 40, {-1, 0}},                       // -29 + 11i
        {{100, 0}, {300, 0}, -1, {32767, 0}},                 // 60000 saturates
        {{1, 0}, {1, -1}, -20, {32767, -32768}},
        {{1, 0}, {1, -1}, -40, {32767, -32768}},              // a shift of 32 or more still saturates
        {{0, 0}, {1, 1}, -40, {0, 0}},
    };
    for (const Tier16& t : kTiers16) {
        for (const Edge& e : cases) {
            // Several elements so the SSE2 member runs the four-element step and the single step alike.
            std::int16_t a[10], b[10], out[10];
            for (int k = 0; k < 5; ++k) {
                std::memcpy(a + 2 * k, e.a, 4);
                std::memcpy(b + 2 * k, e.b, 4);
            }
            t.outOfPlace(a, b, out, 5, e.sf);
            for (int k = 0; k < 5; ++k) {
                EXPECT_EQ(out[2 * k], e.want[0]) << t.name << " sf " << e.sf << " element " << k;
                EXPECT_EQ(out[2 * k + 1], e.want[1]) << t.name << " sf " << e.sf << " element " << k;
            }
            t.inPlace(a, b, 5, e.sf);
            EXPECT_EQ(std::memcmp(b, out, sizeof out), 0) << t.name << " in place";
        }
    }
}

TEST(FftMul16, RandomDataMatchTheModelAtEveryLengthAndScale)
{
    std::mt19937 rng(17);
    std::uniform_int_distribution<int> full(-32768, 32767);
    std::uniform_int_distribution<int> pick(0, 7);
    for (const Tier16& t : kTiers16) {
        for (std::int32_t sf : {-40, -32, -31, -16, -3, -1, 0, 1, 2, 7, 15, 16, 30, 31, 32, 33}) {
            for (std::int32_t len = 1; len <= 13; ++len) {
                std::vector<std::int16_t> a(2 * len + 1), b(2 * len + 1), out(2 * len + 2, 99), want(2 * len);
                for (std::size_t i = 0; i < a.size(); ++i) {  // extremes often, so the corrections are hit
                    const int ka = pick(rng), kb = pick(rng);
                    a[i] = static_cast<std::int16_t>(ka == 0 ? -32768 : (ka == 1 ? 32767 : full(rng)));
                    b[i] = static_cast<std::int16_t>(kb == 0 ? -32768 : (kb == 1 ? 32767 : full(rng)));
                }
                // Misaligned by one element of int16.
                t.outOfPlace(a.data() + 1, b.data() + 1, out.data() + 1, len, sf);
                for (std::int32_t k = 0; k < len; ++k) {
                    model(a.data() + 1 + 2 * k, b.data() + 1 + 2 * k, want.data() + 2 * k, sf);
                }
                ASSERT_EQ(std::vector<std::int16_t>(out.begin() + 1, out.begin() + 1 + 2 * len), want)
                    << t.name << " sf " << sf << " len " << len;
                EXPECT_EQ(out[0], 99);
                EXPECT_EQ(out[static_cast<std::size_t>(2 * len + 1)], 99);
            }
        }
    }
}

TEST(FftMul16, SseTwoMemberWritesNothingForLengthZero)
{
    std::int16_t a[2] = {1, 2}, b[2] = {3, 4}, out[2] = {5, 6};
    vek_k_fft_mul_c16_scaled_wd(a, b, out, 0, 0);
    vek_k_fft_mul_c16_inplace_scaled_wd(a, b, 0, 0);
    EXPECT_EQ(out[0], 5);
    EXPECT_EQ(b[0], 3);
}

// Float products element by element: (ac - bd) + i(ad + bc), or with the conjugate (ac + bd) + i(bc - ad).
template <class T>
void expected_product(const T* x, const T* y, T* out, bool conj)
{
    const T a = x[0], b = x[1], c = y[0], d = y[1];
    const T ac = a * c, bd = b * d, ad = a * d, bc = b * c;
    out[0] = conj ? ac + bd : ac - bd;
    out[1] = conj ? bc - ad : ad + bc;
}

TEST(FftMulFloat, SingleMembersAgreeWithTheElementwiseProducts)
{
    using Out = void (*)(const float*, const float*, float*, std::int32_t);
    using InPlace = void (*)(const float*, float*, std::int32_t);
    struct Member {
        const char* name;
        Out outOfPlace;
        InPlace inPlace;
        bool conj;
    };
    const Member members[] = {
        {"c32 wd", vek_k_fft_mul_c32_wd, vek_k_fft_mul_c32_inplace_wd, false},
        {"c32 ss", vek_k_fft_mul_c32_ss, vek_k_fft_mul_c32_inplace_ss, false},
        {"conj pairs wd", nullptr, vek_k_mul_packed_spectra_conj_pairs_wd, true},
        {"conj pairs ss", nullptr, vek_k_mul_packed_spectra_conj_pairs_ss, true},
    };
    std::mt19937 rng(4);
    std::uniform_real_distribution<float> u(-3.0f, 3.0f);
    for (const Member& m : members) {
        for (std::int32_t len = 0; len <= 11; ++len) {
            std::vector<float> x(2 * len + 1), y(2 * len + 1), want(2 * len);
            for (std::size_t i = 0; i < x.size(); ++i) {
                x[i] = u(rng);
                y[i] = u(rng);
            }
            for (std::int32_t k = 0; k < len; ++k) {
                expected_product(x.data() + 1 + 2 * k, y.data() + 1 + 2 * k, want.data() + 2 * k, m.conj);
            }
            if (m.outOfPlace != nullptr) {
                std::vector<float> out(2 * len + 2, 7.0f);
                m.outOfPlace(x.data() + 1, y.data() + 1, out.data() + 1, len);
                EXPECT_EQ(std::vector<float>(out.begin() + 1, out.end() - 1), want) << m.name << " len " << len;
                EXPECT_EQ(out.back(), 7.0f);
            }
            std::vector<float> sd = y;
            m.inPlace(x.data() + 1, sd.data() + 1, len);
            EXPECT_EQ(std::vector<float>(sd.begin() + 1, sd.begin() + 1 + 2 * len), want) << m.name << " len " << len;
            EXPECT_EQ(sd[0], y[0]);
        }
    }
}

TEST(FftMulFloat, DoubleMemberFormsEveryFullProduct)
{
    const double x[6] = {1.5, -2.0, 0.25, 3.0, -1.0, -1.0};
    const double y[6] = {2.0, 0.5, -4.0, 1.0, 3.0, -2.0};
    double out[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    vek_k_fft_mul_c64_wd(x, y, out, 3);
    for (int k = 0; k < 3; ++k) {
        double want[2];
        expected_product(x + 2 * k, y + 2 * k, want, false);
        EXPECT_EQ(out[2 * k], want[0]) << k;
        EXPECT_EQ(out[2 * k + 1], want[1]) << k;
    }
    EXPECT_EQ(out[6], 9.0);
    vek_k_fft_mul_c64_wd(x, y, out + 6, 0);
    EXPECT_EQ(out[6], 9.0);
}

}  // namespace
