// Saturating 32-bit helpers and packed complex values: the edge values, division by zero and beyond the
// quotient's range, and error bounds of the phase, square root, magnitude and rotation against double
// precision.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "layer1/modem/v34/complex_fixed.h"

namespace {

const double kPi = std::acos(-1.0);

TEST(V34ComplexFixed, EdgeTable)
{
    int32_t quad[4] = {1, 2, 3, 4};
    const struct {
        const char* name;
        int32_t got;
        int32_t want;
    } cases[] = {
        {"AbsSat16 0x8000", AbsSat16(0x8000), 0x7FFF},
        {"AbsSat16 -5", AbsSat16(-5), 5},
        {"AbsSat16 keeps upper bits", AbsSat16(0x12340005), 0x12340005},
        {"AbsSat16 low half negative", AbsSat16(0x1234FFFF), 1},
        {"AbsSat32 min", AbsSat32(INT32_MIN), INT32_MAX},
        {"AbsSat32 -7", AbsSat32(-7), 7},
        {"AddSat32 top", AddSat32(INT32_MAX, 1), INT32_MAX},
        {"AddSat32 bottom", AddSat32(INT32_MIN, -1), INT32_MIN},
        {"AddSat32 halves", AddSat32(0x40000000, 0x40000000), INT32_MAX},
        {"AddSat32 plain", AddSat32(-5, 3), -2},
        {"DivQ15 0 divisor positive", DivQ15(100, 0), 0x7FFF},
        {"DivQ15 0 divisor negative", DivQ15(-100, 0), -0x8000},
        {"DivQ15 0 by 0", DivQ15(0, 0), 1},
        {"DivQ15 divisor only low 16 bits", DivQ15(100, 0x10000), 0x7FFF},
        {"DivQ15 quarter", DivQ15(0x2000 << 16 >> 2, 0x2000), 0x2000},
        {"DivQ15 negative quarter", DivQ15(-(0x2000 << 14), 0x2000), -0x2000},
        {"DivQ15 both negative", DivQ15(-(0x2000 << 14), -0x2000), 0x2000},
        {"DivQ31 by 0", DivQ31(5, 0), INT32_MAX},
        {"DivQ31 0 by 0", DivQ31(0, 0), INT32_MAX},
        {"DivQ31 half", DivQ31(1, 2), 1 << 30},
        {"DivQ31 one saturates", DivQ31(7, 7), INT32_MAX},
        {"DivQ31 minus one saturates", DivQ31(7, -7), -INT32_MAX},
        {"DivQ31 beyond, positive", DivQ31(1000, 3), INT32_MAX},
        {"DivQ31 beyond, negative", DivQ31(-1000, 3), -INT32_MAX},
        {"MulQ31 -1 x -1 wraps", MulQ31(INT32_MIN, INT32_MIN), INT32_MIN},
        {"MulQ31 half x half", MulQ31(1 << 30, 1 << 30), 1 << 29},
        {"ShiftLeft16", ShiftLeft16(0x1FFFF, 4), -16},
        {"ShiftLeft16 count low 5 bits", ShiftLeft16(3, 33), 6},
        {"ShiftRight16 arithmetic", ShiftRight16(0x8000, 3), -4096},
        {"ShiftRight16 31", ShiftRight16(-1, 31), -1},
        {"PhaseDifference equal", PhaseDifference(PackComplex(1000, -2000), PackComplex(1000, -2000)), 0},
        {"PhaseDifference zero", PhaseDifference(0, PackComplex(1000, 0)), 0},
        {"ApproxMagnitude real", ApproxMagnitude(PackComplex(-32768, 0)), 0x1FFF},
        {"ApproxMagnitude equal parts", ApproxMagnitude(PackComplex(4000, 4000)), 1000 + ((1000 * 9850) >> 15)},
        {"SqrtNewton 0", SqrtNewton(0), 0},
        {"SqrtNewton negative", SqrtNewton(-9), 0},
        {"ClearQuad", ClearQuad(quad), 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.got, c.want) << c.name;
    EXPECT_EQ(quad[0] | quad[1] | quad[2] | quad[3], 0);
}

TEST(V34ComplexFixed, DivQ15IsTheQ15Quotient)
{
    std::mt19937 rng(3);
    for (int i = 0; i < 100000; ++i) {
        const int16_t d = static_cast<int16_t>(rng());
        if (d == 0 || d == INT16_MIN)
            continue;
        // |n| below |d| << 16: the quotient n / (d << 16) is a Q15 fraction.
        const int64_t limit = std::abs(d) * 65536LL - 1;
        const int32_t n = static_cast<int32_t>(static_cast<int64_t>(rng() % (2 * limit + 1)) - limit);
        const double exact = 32768.0 * n / (65536.0 * d);
        ASSERT_LE(std::fabs(DivQ15(n, d) - exact), 1.0) << n << " " << d;
    }
}

// The stated seventh-order polynomial evaluated in double precision.
double AtanPolynomial(double t)
{
    const double t2 = t * t;
    return t * (2147398663.0 + t2 * (-712615343.0 + t2 * (396203717.0 - t2 * 170572058.0))) / 2147483648.0;
}

TEST(V34ComplexFixed, PhaseDifferenceWithin45Degrees)
{
    std::mt19937 rng(9);
    std::uniform_real_distribution<double> angle(-kPi, kPi), delta(-0.99 * kPi / 4, 0.99 * kPi / 4),
        radius(2000, 32000);
    double worstPolynomial = 0, worstAngle = 0;
    for (int i = 0; i < 100000; ++i) {
        const double a = angle(rng), d = delta(rng), ra = radius(rng), rb = radius(rng);
        const PackedComplex pa = PackComplex(std::lround(ra * std::cos(a)), std::lround(ra * std::sin(a)));
        const PackedComplex pb = PackComplex(std::lround(rb * std::cos(a + d)), std::lround(rb * std::sin(a + d)));
        const double ar = RealPart(pa), ai = ImagPart(pa), br = RealPart(pb), bi = ImagPart(pb);
        const double t = (ar * bi - br * ai) / (ai * bi + ar * br);
        const double got = PhaseDifference(pa, pb) / 2147483648.0;
        worstPolynomial = std::max(worstPolynomial, std::fabs(got - AtanPolynomial(t)));
        worstAngle = std::max(worstAngle, std::fabs(got - std::atan(t)));
    }
    EXPECT_LT(worstPolynomial, 1e-8);  // the fixed-point evaluation of the polynomial
    EXPECT_LT(worstAngle, 0.0125);     // the polynomial's own error, largest at 45 degrees
}

TEST(V34ComplexFixed, PhaseDifferenceBeyond45DegreesKeepsItsSign)
{
    // Between 45 and 90 degrees the quotient saturates at +-1 instead of wrapping: the result stays at the
    // polynomial's value for 45 degrees with the angle's sign.
    for (double deg : {46.0, 50.0, 80.0, 89.0, -46.0, -50.0, -80.0, -89.0}) {
        const double r = deg * kPi / 180;
        const PackedComplex a = PackComplex(20000, 0);
        const PackedComplex b = PackComplex(std::lround(20000 * std::cos(r)), std::lround(20000 * std::sin(r)));
        const double got = PhaseDifference(a, b) / 2147483648.0;
        EXPECT_NEAR(got, std::copysign(AtanPolynomial(1.0), deg), 1e-8) << deg;
    }
}

TEST(V34ComplexFixed, SqrtNewtonIsCloseToTheRoot)
{
    double worst = 0;
    for (int32_t x = 1; x <= 32767; ++x) {
        const double exact = std::sqrt(x * 2097152.0) / 8.0;
        worst = std::max(worst, std::fabs(SqrtNewton(x) - exact) / exact);
    }
    EXPECT_LT(worst, 0.02);
}

TEST(V34ComplexFixed, RotationAndMagnitudeAgainstDouble)
{
    std::mt19937 rng(4);
    for (int i = 0; i < 20000; ++i) {
        const int16_t re = static_cast<int16_t>(static_cast<int32_t>(rng() % 40000) - 20000);
        const int16_t im = static_cast<int16_t>(static_cast<int32_t>(rng() % 40000) - 20000);
        const int32_t phase = static_cast<int32_t>(rng());
        const double a = 2 * kPi * (static_cast<uint32_t>(phase) >> 16) / 65536.0;
        const PackedComplex z = RotateComplex(PackComplex(re, im), phase);
        const double wantRe = (re * std::cos(a) - im * std::sin(a)) * 32700 / 32768;
        const double wantIm = (re * std::sin(a) + im * std::cos(a)) * 32700 / 32768;
        ASSERT_LE(std::fabs(RealPart(z) - wantRe), 40) << re << " " << im << " " << phase;
        ASSERT_LE(std::fabs(ImagPart(z) - wantIm), 40) << re << " " << im << " " << phase;
        const PackedComplex p = PhaseToPhasor(phase);
        ASSERT_LE(std::fabs(RealPart(p) - 32700 * std::cos(a)), 42);
        ASSERT_LE(std::fabs(ImagPart(p) - 32700 * std::sin(a)), 42);
        // max + 0.3 min of the quarter parts: within 4 % of the magnitude plus the truncations.
        const double mag = std::hypot(re, im) / 4;
        ASSERT_LE(std::fabs(ApproxMagnitude(PackComplex(re, im)) - mag), 0.09 * mag + 2) << re << " " << im;
    }
}

}  // namespace
