// IIR contexts and the filters' documented behaviour: stored taps, argument-check order, allocation failures, the
// Parts' examples, the exact one-sample products, and impulse and step responses against a double-precision filter.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "layer1/vek/core/vek_memory.h"
#include "layer1/vek/iir/iir.h"
#include "vek_harness.h"

namespace {

using vektest::column_name;
using vektest::kColumns;

template <class T>
std::vector<T> stored_taps(const IirState* st, size_t n) {
    const T* p = static_cast<const T*>(st->taps);
    return std::vector<T>(p, p + n);
}

TEST(VekIirContext, StoredTapsOfTheArbitraryOrder) {
    for (int col : kColumns) {
        IirState* st = nullptr;
        // a0 = 2^14 with tapsFactor -14: copied unchanged
        const int32_t copy[4] = {100, -7, 16384, 5};
        ASSERT_EQ(vek_variant<VekSlot::vek_iir_init_real>(col)(&st, copy, 1, -14, nullptr), VEK_OK);
        EXPECT_EQ(st->kind, VEK_IIR_REAL_ARBITRARY);
        EXPECT_EQ(st->order, 1);
        EXPECT_EQ(st->tapsFactor, -14);
        EXPECT_EQ(stored_taps<int32_t>(st, 3), (std::vector<int32_t>{100, -7, 5}));
        EXPECT_EQ(reinterpret_cast<uintptr_t>(st->taps) % 32, 0u);
        ASSERT_EQ(vek_iir_free_real(st), VEK_OK);
        // a0 = 2^15: every tap halved toward zero (t * 2^14 / 2^15)
        const int32_t half[4] = {101, -7, 32768, 5};
        ASSERT_EQ(vek_variant<VekSlot::vek_iir_init_real>(col)(&st, half, 1, -14, nullptr), VEK_OK);
        EXPECT_EQ(stored_taps<int32_t>(st, 3), (std::vector<int32_t>{50, -3, 2}));
        ASSERT_EQ(vek_iir_free_real(st), VEK_OK);
        // positive tapsFactor: the unit is 0, taps shifted right then divided; beyond 32 bits saturated
        const int32_t pos[4] = {-9, 1, 1, 0};
        ASSERT_EQ(vek_variant<VekSlot::vek_iir_init_real>(col)(&st, pos, 1, 2, nullptr), VEK_OK);
        EXPECT_EQ(stored_taps<int32_t>(st, 3), (std::vector<int32_t>{-2, 0, 0}));
        ASSERT_EQ(vek_iir_free_real(st), VEK_OK);
        const int32_t big[4] = {INT32_MAX, INT32_MIN, 1, 3};
        ASSERT_EQ(vek_variant<VekSlot::vek_iir_init_real>(col)(&st, big, 1, -40, nullptr), VEK_OK);
        EXPECT_EQ(stored_taps<int32_t>(st, 3), (std::vector<int32_t>{INT32_MAX, INT32_MIN, INT32_MAX}));
        ASSERT_EQ(vek_iir_free_real(st), VEK_OK);
        // order 0: one tap, no delay line; the delay functions copy nothing and return 0
        const int32_t gain[2] = {3 << 14, 1 << 14};
        ASSERT_EQ(vek_variant<VekSlot::vek_iir_init_real>(col)(&st, gain, 0, -14, nullptr), VEK_OK);
        EXPECT_EQ(st->delay, nullptr);
        int32_t dl[1] = {77};
        EXPECT_EQ(vek_variant<VekSlot::vek_iir_get_delay_real>(col)(st, dl), VEK_OK);
        EXPECT_EQ(dl[0], 77);
        EXPECT_EQ(vek_variant<VekSlot::vek_iir_set_delay_real>(col)(st, nullptr), VEK_OK);
        int16_t y = 0;
        ASSERT_EQ(vek_variant<VekSlot::vek_iir_one_real>(col)(1000, &y, st, 0), VEK_OK);
        EXPECT_EQ(y, 3000);
        ASSERT_EQ(vek_iir_free_real(st), VEK_OK);
        // complex a0 with an imaginary part: rotated by conj(a0), divided by |a0|^2
        const VekC32 ct[4] = {{10, 0}, {0, 4}, {0, 2}, {6, 6}};
        ASSERT_EQ(vek_variant<VekSlot::vek_iir_init_complex>(col)(&st, ct, 1, 0, nullptr), VEK_OK);
        const auto c = stored_taps<VekC32>(st, 3);
        EXPECT_EQ(c[0].re, 0);   // 10 / 2i = -5i
        EXPECT_EQ(c[0].im, -5);
        EXPECT_EQ(c[1].re, 2);   // 4i / 2i = 2
        EXPECT_EQ(c[1].im, 0);
        EXPECT_EQ(c[2].re, 3);   // (6 + 6i) / 2i = 3 - 3i
        EXPECT_EQ(c[2].im, -3);
        ASSERT_EQ(vek_iir_free_complex(st), VEK_OK);
    }
}

TEST(VekIirContext, StoredTapsOfTheCascade) {
    // two sections in Q14: gain (b0/a0) products, a1/a0, a2/a0, b1/b0, b2/b0
    const int32_t t[12] = {8192, 4096, -8192, 16384, -16384, 8192,  // b0 = 0.5, a0 = 1
                           32768, 16384, 0, 32768, 8192, -4096};   // b0 = 2, a0 = 2
    for (int col : kColumns) {
        IirState* st = nullptr;
        ASSERT_EQ(vek_variant<VekSlot::vek_iir_init_biquad_real>(col)(&st, t, 2, -14, nullptr), VEK_OK);
        EXPECT_EQ(st->kind, VEK_IIR_REAL_BIQUAD);
        EXPECT_EQ(st->order, 4);
        EXPECT_EQ(stored_taps<int32_t>(st, 9),
                  (std::vector<int32_t>{8192, -16384, 8192, 8192, -16384, 4096, -2048, 8192, 0}));
        ASSERT_EQ(vek_iir_free_real(st), VEK_OK);
        // a positive tapsFactor starts the gain at 0
        ASSERT_EQ(vek_variant<VekSlot::vek_iir_init_biquad_real>(col)(&st, t, 1, 1, nullptr), VEK_OK);
        EXPECT_EQ(stored_taps<int32_t>(st, 1)[0], 0);
        ASSERT_EQ(vek_iir_free_real(st), VEK_OK);
    }
}

TEST(VekIirContext, ArgumentOrderAndFailuresLeaveNothingAllocated) {
    const int64_t before = vek_pool_outstanding();
    const int32_t t[12] = {1, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0};  // second section b0 = 0
    const int32_t a0zero[4] = {1, 0, 0, 0};
    const VekC32 c[6] = {{1, 0}, {0, 0}, {0, 0}, {1, 0}, {0, 0}, {0, 0}};
    const VekC32 c1[4] = {{1, 0}, {0, 0}, {1, 0}, {0, 0}};
    for (int col : kColumns) {
        IirState* st = nullptr;
        EXPECT_EQ(vek_variant<VekSlot::vek_iir_init_real>(col)(nullptr, t, -1, 0, nullptr), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(vek_variant<VekSlot::vek_iir_init_real>(col)(&st, nullptr, 1, 0, nullptr), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(vek_variant<VekSlot::vek_iir_init_real>(col)(&st, t, -1, 0, nullptr), VEK_ERR_IIR_ORDER);
        EXPECT_EQ(vek_variant<VekSlot::vek_iir_init_biquad_real>(col)(&st, t, 0, 0, nullptr), VEK_ERR_IIR_ORDER);
        EXPECT_EQ(vek_variant<VekSlot::vek_iir_init_real>(col)(&st, a0zero, 1, 0, nullptr), VEK_ERR_DIV_BY_ZERO);
        EXPECT_EQ(vek_variant<VekSlot::vek_iir_init_biquad_real>(col)(&st, t, 2, 0, nullptr), VEK_ERR_DIV_BY_ZERO);
        EXPECT_EQ(st, nullptr);
        // each of the three allocations failing
        for (int k = 1; k <= 3; ++k) {
            vek_pool_fail_at(k);
            EXPECT_EQ(vek_variant<VekSlot::vek_iir_init_biquad_complex>(col)(&st, c, 1, 0, nullptr), VEK_ERR_NO_MEMORY);
            vek_pool_fail_at(0);
        }
        ASSERT_EQ(vek_variant<VekSlot::vek_iir_init_complex>(col)(&st, c1, 1, 0, nullptr), VEK_OK);
        EXPECT_EQ(vek_iir_free_real(st), VEK_ERR_CONTEXT_MISMATCH);
        EXPECT_EQ(vek_variant<VekSlot::vek_iir_get_delay_real>(col)(st, nullptr), VEK_ERR_NULL_POINTER);
        int32_t d[2];
        EXPECT_EQ(vek_variant<VekSlot::vek_iir_get_delay_real>(col)(st, d), VEK_ERR_CONTEXT_MISMATCH);
        EXPECT_EQ(vek_variant<VekSlot::vek_iir_set_delay_real>(col)(st, nullptr), VEK_ERR_CONTEXT_MISMATCH);
        // the context before the data: a wrong kind with a null source is -17, not -8
        EXPECT_EQ(vek_variant<VekSlot::vek_iir_block_real>(col)(nullptr, nullptr, 0, st, 0), VEK_ERR_CONTEXT_MISMATCH);
        EXPECT_EQ(vek_variant<VekSlot::vek_iir_one_real>(col)(1, nullptr, st, 0), VEK_ERR_CONTEXT_MISMATCH);
        EXPECT_EQ(vek_variant<VekSlot::vek_iir_block_complex>(col)(nullptr, nullptr, 0, nullptr, 0), VEK_ERR_NULL_POINTER);
        VekC16 v[2] = {{1, 1}, {2, 2}};
        EXPECT_EQ(vek_variant<VekSlot::vek_iir_block_complex>(col)(v, nullptr, 2, st, 0), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(vek_variant<VekSlot::vek_iir_block_complex_inplace>(col)(v, 0, st, -5), VEK_ERR_SIZE);
        EXPECT_EQ(st->tapsFactor, 0);  // a refused call does not rescale
        EXPECT_EQ(vek_variant<VekSlot::vek_iir_one_complex>(col)(v[0], nullptr, st, 0), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(vek_iir_free_complex(nullptr), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(vek_iir_free_complex(st), VEK_OK);
    }
    EXPECT_EQ(vek_pool_outstanding(), before);
}

TEST(VekIirContext, DelayLineLoadClearAndCopy) {
    const VekC32 t[12] = {{1, 0}, {0, 0}, {0, 0}, {1, 0}, {0, 0}, {0, 0}, {1, 0}, {0, 0}, {0, 0}, {1, 0}, {0, 0}, {0, 0}};
    const VekC32 init[4] = {{1, 2}, {3, 4}, {5, 6}, {7, 8}};
    for (int col : kColumns) {
        IirState* st = nullptr;
        ASSERT_EQ(vek_variant<VekSlot::vek_iir_init_biquad_complex>(col)(&st, t, 2, 0, init), VEK_OK);
        VekC32 d[5] = {};
        d[4] = {99, 99};
        ASSERT_EQ(vek_variant<VekSlot::vek_iir_get_delay_complex>(col)(st, d), VEK_OK);
        EXPECT_EQ(d[3].im, 8);
        EXPECT_EQ(d[4].re, 99);
        ASSERT_EQ(vek_variant<VekSlot::vek_iir_set_delay_complex>(col)(st, nullptr), VEK_OK);
        ASSERT_EQ(vek_variant<VekSlot::vek_iir_get_delay_complex>(col)(st, d), VEK_OK);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(d[i].re | d[i].im, 0);
        ASSERT_EQ(vek_variant<VekSlot::vek_iir_set_delay_complex>(col)(st, init), VEK_OK);
        ASSERT_EQ(vek_variant<VekSlot::vek_iir_get_delay_complex>(col)(st, d), VEK_OK);
        EXPECT_EQ(d[2].re, 5);
        ASSERT_EQ(vek_iir_free_complex(st), VEK_OK);
    }
}

// The arbitrary-order example: y(t) = x(t) + 0.5 y(t - 1) in Q15, each feedback product cut toward zero.
TEST(VekIirFilter, HalvingFeedbackExampleBothForms) {
    const int32_t t[4] = {32768, 0, 32768, -16384};
    const int16_t x[7] = {1000, 0, 0, 0, 0, 0, 0};
    const int16_t want[7] = {1000, 500, 250, 125, 62, 31, 15};
    for (int col : kColumns) {
        for (bool block : {false, true}) {
            IirState* st = nullptr;
            ASSERT_EQ(vek_variant<VekSlot::vek_iir_init_real>(col)(&st, t, 1, -15, nullptr), VEK_OK);
            int16_t y[7];
            if (block) {
                ASSERT_EQ(vek_variant<VekSlot::vek_iir_block_real>(col)(x, y, 7, st, 0), VEK_OK);
            } else {
                for (int i = 0; i < 7; ++i) ASSERT_EQ(vek_variant<VekSlot::vek_iir_one_real>(col)(x[i], &y[i], st, 0), VEK_OK);
            }
            for (int i = 0; i < 7; ++i) EXPECT_EQ(y[i], want[i]) << column_name(col) << " i=" << i;
            int32_t d = 0;
            ASSERT_EQ(vek_variant<VekSlot::vek_iir_get_delay_real>(col)(st, &d), VEK_OK);
            EXPECT_EQ(d, 7);
            ASSERT_EQ(vek_iir_free_real(st), VEK_OK);
        }
    }
}

TEST(VekIirFilter, ScaleFactorsRescaleAndTruncation) {
    for (int col : kColumns) {
        IirState* st = nullptr;
        const int32_t t[4] = {1, -3, 1, 5};  // B0 = 1, B1 = -3, A1 = 5, tapsFactor 0
        ASSERT_EQ(vek_variant<VekSlot::vek_iir_init_real>(col)(&st, t, 1, 0, nullptr), VEK_OK);
        int16_t y = 0;
        // sf one above tapsFactor: the feed-forward product -3 * 1 halves toward zero
        ASSERT_EQ(vek_variant<VekSlot::vek_iir_one_real>(col)(-3, &y, st, 1), VEK_OK);
        EXPECT_EQ(y, -1);
        // sf two below: every tap times 4, tapsFactor lowered for good; the same sf again changes nothing
        ASSERT_EQ(vek_variant<VekSlot::vek_iir_block_real_inplace>(col)(&y, 1, st, -2), VEK_OK);
        EXPECT_EQ(st->tapsFactor, -2);
        EXPECT_EQ(stored_taps<int32_t>(st, 3), (std::vector<int32_t>{4, -12, 20}));
        ASSERT_EQ(vek_variant<VekSlot::vek_iir_one_real>(col)(0, &y, st, -2), VEK_OK);
        EXPECT_EQ(stored_taps<int32_t>(st, 3), (std::vector<int32_t>{4, -12, 20}));
        ASSERT_EQ(vek_iir_free_real(st), VEK_OK);

        // biquad: unit gain and empty sections pass x * 2^-sf and leave it in W1
        const int32_t bq[6] = {32768, 0, 0, 32768, 0, 0};
        ASSERT_EQ(vek_variant<VekSlot::vek_iir_init_biquad_real>(col)(&st, bq, 1, -15, nullptr), VEK_OK);
        ASSERT_EQ(vek_variant<VekSlot::vek_iir_one_real>(col)(1234, &y, st, 0), VEK_OK);
        EXPECT_EQ(y, 1234);
        ASSERT_EQ(vek_variant<VekSlot::vek_iir_one_real>(col)(-3, &y, st, 1), VEK_OK);
        EXPECT_EQ(y, -1);
        int32_t d[2];
        ASSERT_EQ(vek_variant<VekSlot::vek_iir_get_delay_real>(col)(st, d), VEK_OK);
        EXPECT_EQ(d[0], -1);
        EXPECT_EQ(d[1], 1234);
        ASSERT_EQ(vek_iir_free_real(st), VEK_OK);
    }
}

// The one-sample real kernel forms its products exactly: B0 = 2^17 and x = 2^14 give 2^31, which saturates the
// output to 32767 in both forms (a 32-bit product would wrap to -2^31).
TEST(VekIirFilter, OneSampleProductsAreExact) {
    for (int col : kColumns) {
        for (int order : {0, 1}) {
            const int32_t t0[2] = {131072, 1};
            const int32_t t1[4] = {131072, 0, 1, 0};
            IirState* st = nullptr;
            ASSERT_EQ(vek_variant<VekSlot::vek_iir_init_real>(col)(&st, order ? t1 : t0, order, 0, nullptr), VEK_OK);
            for (int32_t sf : {0, 1}) {
                int16_t y = 0, yb = 0;
                const int16_t x = 16384;
                ASSERT_EQ(vek_variant<VekSlot::vek_iir_one_real>(col)(x, &y, st, sf), VEK_OK);
                EXPECT_EQ(y, 32767) << column_name(col) << " order " << order << " sf " << sf;
                vek_variant<VekSlot::vek_iir_set_delay_real>(col)(st, nullptr);
                ASSERT_EQ(vek_variant<VekSlot::vek_iir_block_real>(col)(&x, &yb, 1, st, sf), VEK_OK);
                EXPECT_EQ(yb, y);
                vek_variant<VekSlot::vek_iir_set_delay_real>(col)(st, nullptr);
            }
            ASSERT_EQ(vek_iir_free_real(st), VEK_OK);
        }
        // k = 0, order 1: B0 = 65536, x = 32767 and d0 = 2^31 - 1 sum beyond 32 bits: saturated, not wrapped
        const int32_t t[4] = {65536, 0, 1, 0};
        const int32_t dmax = INT32_MAX;
        IirState* st = nullptr;
        ASSERT_EQ(vek_variant<VekSlot::vek_iir_init_real>(col)(&st, t, 1, 0, &dmax), VEK_OK);
        int16_t y = 0;
        ASSERT_EQ(vek_variant<VekSlot::vek_iir_one_real>(col)(32767, &y, st, 0), VEK_OK);
        EXPECT_EQ(y, 32767);
        ASSERT_EQ(vek_iir_free_real(st), VEK_OK);
    }
}

// --- against a double-precision filter ------------------------------------------------------------------------

// lfilter: y[t] = (sum b[k] x[t-k] - sum_{k>=1} a[k] y[t-k]) / a[0].
std::vector<double> lfilter(const std::vector<double>& b, const std::vector<double>& a, const std::vector<double>& x) {
    std::vector<double> y(x.size());
    for (size_t t = 0; t < x.size(); ++t) {
        double s = 0;
        for (size_t k = 0; k < b.size() && k <= t; ++k) s += b[k] * x[t - k];
        for (size_t k = 1; k < a.size() && k <= t; ++k) s -= a[k] * y[t - k];
        y[t] = s / a[0];
    }
    return y;
}

std::vector<double> poly_mul(const std::vector<double>& p, const std::vector<double>& q) {
    std::vector<double> r(p.size() + q.size() - 1);
    for (size_t i = 0; i < p.size(); ++i)
        for (size_t j = 0; j < q.size(); ++j) r[i + j] += p[i] * q[j];
    return r;
}

// Section j of the test cascades: zeros on the unit circle near DC, poles of radius 0.7-0.84 in the pass band,
// numerator and denominator with a leading 1.
void section(int j, std::vector<double>& b, std::vector<double>& a) {
    const double w0 = 2 * M_PI * (0.02 + 0.01 * j), wp = 2 * M_PI * (0.1 + 0.04 * j), r = 0.7 + 0.02 * j;
    b = {1, -2 * std::cos(w0), 1};
    a = {1, -2 * r * std::cos(wp), r * r};
}

double l1(const std::vector<double>& h) {
    double s = 0;
    for (double v : h) s += std::fabs(v);
    return s;
}

// Impulse and step responses of 1-, 2- and 4-section cascades (Q28 taps) and of a 4th-order filter (Q24 taps)
// against the double-precision filter of the same stored taps. The bound is the fixed-point one: every cut toward
// zero is an error below one unit, injected where it happens and amplified by the l1 norm of the impulse response
// from there to the output.
TEST(VekIirFilter, ImpulseAndStepResponsesWithinTheFixedPointBound) {
    const double q28 = std::ldexp(1.0, 28), q24 = std::ldexp(1.0, 24);
    std::vector<double> impulse(3000, 0.0);
    impulse[0] = 1;
    for (int sections : {1, 2, 4}) {
        std::vector<int32_t> bq;
        std::vector<double> B{1}, A{1};
        for (int j = 0; j < sections; ++j) {
            std::vector<double> b, a;
            section(j, b, a);
            for (double v : b) bq.push_back(static_cast<int32_t>(std::lround(v * q28)));
            for (double v : a) bq.push_back(static_cast<int32_t>(std::lround(v * q28)));
            B = poly_mul(B, b);
            A = poly_mul(A, a);
        }
        IirState* probe = nullptr;
        ASSERT_EQ(vek_iir_init_biquad_real_gen(&probe, bq.data(), sections, -28, nullptr), VEK_OK);
        const auto stored = stored_taps<int32_t>(probe, 4 * sections + 1);
        ASSERT_EQ(vek_iir_free_real(probe), VEK_OK);
        // the stored sections (numerators normalised to 1) in double precision, and the error bound
        std::vector<std::vector<double>> nb(sections), na(sections);
        for (int j = 0; j < sections; ++j) {
            na[j] = {1, stored[4 * j + 1] / q28, stored[4 * j + 2] / q28};
            nb[j] = {1, stored[4 * j + 3] / q28, stored[4 * j + 4] / q28};
        }
        auto chain = [&](int from, std::vector<double> x) {
            for (int j = from; j < sections; ++j) x = lfilter(nb[j], na[j], x);
            return x;
        };
        double bound = 0;
        for (int j = 0; j < sections; ++j) bound += l1(chain(j, impulse)) + l1(chain(j + 1, impulse));
        // an amplitude that no section signal or output can saturate
        const double amplitude = std::floor(12000.0 / std::max(1.0, l1(chain(0, impulse))));
        ASSERT_GE(amplitude, 200.0);  // the outputs still reach a thousand units and more
        for (bool step : {false, true}) {
            std::vector<double> x(300, 0.0);
            for (size_t i = 0; i < x.size(); ++i) x[i] = (step || i == 0) ? amplitude : 0.0;
            std::vector<double> r(x.size());  // the input after the gain, cut toward zero at the output scale
            for (size_t i = 0; i < x.size(); ++i) r[i] = std::trunc(stored[0] * x[i] / q28);
            const std::vector<double> ref = chain(0, r);
            std::vector<int16_t> in(x.begin(), x.end());
            for (int col : kColumns) {
                IirState* st = nullptr;
                ASSERT_EQ(vek_variant<VekSlot::vek_iir_init_biquad_real>(col)(&st, bq.data(), sections, -28, nullptr),
                          VEK_OK);
                std::vector<int16_t> out(in.size());
                ASSERT_EQ(vek_variant<VekSlot::vek_iir_block_real>(col)(in.data(), out.data(), 151, st, 0), VEK_OK);
                ASSERT_EQ(vek_variant<VekSlot::vek_iir_block_real>(col)(in.data() + 151, out.data() + 151, 149, st, 0),
                          VEK_OK);
                for (size_t i = 0; i < out.size(); ++i)
                    ASSERT_NEAR(out[i], ref[i], bound) << column_name(col) << " sections " << sections << " i=" << i;
                ASSERT_EQ(vek_iir_free_real(st), VEK_OK);
            }
        }
        if (sections != 2) continue;
        // the same 4th-order filter as one arbitrary-order section
        std::vector<int32_t> t;
        for (double v : B) t.push_back(static_cast<int32_t>(std::lround(v * q24)));
        for (double v : A) t.push_back(static_cast<int32_t>(std::lround(v * q24)));
        std::vector<double> qb, qa;
        for (int k = 0; k < 5; ++k) qb.push_back(t[k] / q24), qa.push_back(t[5 + k] / q24);
        const double bound4 = l1(lfilter({1}, qa, impulse)) * (1 + 2 * 4);
        const double amplitude4 = std::floor(12000.0 / std::max(1.0, l1(lfilter(qb, qa, impulse))));
        for (bool step : {false, true}) {
            std::vector<double> x(300, 0.0);
            for (size_t i = 0; i < x.size(); ++i) x[i] = (step || i == 0) ? amplitude4 : 0.0;
            const std::vector<double> ref = lfilter(qb, qa, x);
            std::vector<int16_t> in(x.begin(), x.end());
            for (int col : kColumns) {
                IirState* st = nullptr;
                ASSERT_EQ(vek_variant<VekSlot::vek_iir_init_real>(col)(&st, t.data(), 4, -24, nullptr), VEK_OK);
                std::vector<int16_t> out(in.size());
                for (size_t i = 0; i < 7; ++i)
                    ASSERT_EQ(vek_variant<VekSlot::vek_iir_one_real>(col)(in[i], &out[i], st, 0), VEK_OK);
                ASSERT_EQ(vek_variant<VekSlot::vek_iir_block_real>(col)(in.data() + 7, out.data() + 7, 293, st, 0), VEK_OK);
                for (size_t i = 0; i < out.size(); ++i)
                    ASSERT_NEAR(out[i], ref[i], bound4) << column_name(col) << " order 4, i=" << i;
                ASSERT_EQ(vek_iir_free_real(st), VEK_OK);
            }
        }
    }
}

}  // namespace

