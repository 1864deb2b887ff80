// Single-rate FIR filters: normalisation, output scaling, block against one-sample, statuses, delay lines.
#include <gtest/gtest.h>

#include "tests/vek/fir_support.h"

namespace {

using namespace firtest;

struct NormCase {
    std::vector<std::int32_t> taps;
    std::int32_t tapsFactor;
    std::vector<std::int32_t> stored;
    std::int32_t factor;
};

TEST(FirNormalise, StoredTapsAndScaleWord) {
    const NormCase cases[] = {
        {{32766, -5, 7}, 0, {32766, -5, 7}, 0},
        {{-32766, 1}, 3, {-32766, 1}, 3},
        {{32767, -3, 5}, 0, {16383, -2, 2}, 1},   // arithmetic shift: -3 becomes -2
        {{-32767, 4}, -2, {-16384, 2}, -1},
        {{INT32_MIN, 1, -1}, 0, {-16384, 0, -1}, 17},
        {{65532 * 4, 3}, 0, {32766, 0}, 3},
    };
    for (const Column& col : columns())
        for (const NormCase& c : cases) {
            FirState* st = nullptr;
            ASSERT_EQ(col.initReal(&st, c.taps.data(), static_cast<std::int32_t>(c.taps.size()), c.tapsFactor, nullptr), VEK_OK);
            std::vector<std::int32_t> got(c.taps.size());
            std::int32_t factor = 0;
            EXPECT_EQ(vek_fir_get_taps_real_all(st, got.data(), &factor), VEK_OK);
            EXPECT_EQ(got, c.stored) << col.name;
            EXPECT_EQ(factor, c.factor) << col.name;
            EXPECT_EQ(vek_fir_free_real_all(st), VEK_OK);
        }
}

TEST(FirNormalise, ComplexLooksAtBothParts) {
    const std::vector<VekC32> taps = {{100, -40000}, {32767, 3}};
    FirState* st = nullptr;
    ASSERT_EQ(vek_fir_init_complex_all(&st, taps.data(), 2, 0, nullptr), VEK_OK);
    VekC32 got[2];
    std::int32_t factor;
    ASSERT_EQ(vek_fir_get_taps_complex_all(st, got, &factor), VEK_OK);
    EXPECT_EQ(got[0].re, 50);
    EXPECT_EQ(got[0].im, -20000);
    EXPECT_EQ(got[1].re, 16383);
    EXPECT_EQ(got[1].im, 1);
    EXPECT_EQ(factor, 1);
    EXPECT_EQ(vek_fir_free_complex_all(st), VEK_OK);
}

// One-tap filters make the output rule visible: output = tap * x * 2^(taps factor - sf), rounded and
// saturated.
struct ScaleCase {
    std::int32_t tap, tapsFactor;
    std::int16_t x;
    std::int32_t sf;
    std::int16_t expected;
};

TEST(FirScale, OutputRule) {
    const ScaleCase cases[] = {
        {1, 0, 3, 1, 2},   {1, 0, 5, 1, 2},   {1, 0, -3, 1, -2},  {1, 0, -5, 1, -2},
        {1, 0, 1, 1, 0},   {1, 0, 7, 2, 2},   {1, 0, -1, 1, 0},   {3, 0, 1000, 0, 3000},
        {100, 0, 1000, 0, 32767},            {100, 0, -1000, 0, -32768},
        // A positive net shift scales in 64 bits: 16384 * 4 * 2^16 saturates instead of wrapping to 0.
        {16384, 16, 4, 0, 32767},             {16384, 16, -4, 0, -32768},
        {1, 0, 1, -40, 32767},                // net shift limited to 31
        {32766, 0, 32767, 100, 0},            // net shift limited to -31
        {32766, 0, -32768, 31, 0},            // -1073676288 / 2^31 is just above -0.5
        {16384, 0, -32768, 30, 0},            // -2^29 / 2^30 is exactly -0.5: ties go to the even 0
        {16384, 0, -32768, 29, -1},           // exactly -1
        {16384, 0, 32767, 29, 1},             // 0.99997
    };
    for (const Column& col : columns())
        for (const ScaleCase& c : cases) {
            FirState* st = nullptr;
            ASSERT_EQ(col.initReal(&st, &c.tap, 1, c.tapsFactor, nullptr), VEK_OK);
            std::int16_t out = 0;
            ASSERT_EQ(col.oneReal(c.x, &out, st, c.sf), VEK_OK);
            RealReference ref({c.tap}, c.tapsFactor, nullptr);
            EXPECT_EQ(out, ref.push(c.x, c.sf)) << col.name << " tap " << c.tap << " x " << c.x << " sf " << c.sf;
            EXPECT_EQ(out, c.expected) << col.name << " tap " << c.tap << " x " << c.x;
            vek_fir_free_real_all(st);
        }
}

// Rounding at the top of the accumulator range: 2^31 - 1 halved is 2^30 - 0.5, rounded to even 2^30, then
// saturated. A 32-bit rounding bias would overflow here and flip the sign.
TEST(FirScale, RoundingAtTheTopOfTheRange) {
    const std::int32_t taps[] = {1, 6, 32766, 32766};  // newest input meets the first tap
    const std::int16_t in[] = {32767, 32767, 32767, 1};
    for (const Column& col : columns()) {
        FirState* st = nullptr;
        ASSERT_EQ(col.initReal(&st, taps, 4, 0, nullptr), VEK_OK);
        std::int16_t out[4];
        ASSERT_EQ(col.blockReal(in, out, 4, st, 1), VEK_OK);
        EXPECT_EQ(out[3], 32767) << col.name;
        vek_fir_free_real_all(st);
    }
}

TEST(FirSingle, OneTapKeepsOneSampleOfHistory) {
    const std::int32_t tap = 3;
    for (const Column& col : columns()) {
        FirState* st = nullptr;
        ASSERT_EQ(col.initReal(&st, &tap, 1, 0, nullptr), VEK_OK);
        const std::int16_t in[] = {5, -7, 11000, 2};
        std::int16_t out[4];
        ASSERT_EQ(col.blockReal(in, out, 4, st, 0), VEK_OK);
        EXPECT_EQ(std::vector<std::int16_t>(out, out + 4), (std::vector<std::int16_t>{15, -21, 32767, 6})) << col.name;
        std::int16_t hist = 0;
        ASSERT_EQ(vek_fir_get_delay_real_all(st, &hist), VEK_OK);
        EXPECT_EQ(hist, 2);
        vek_fir_free_real_all(st);
    }
}

TEST(FirSingle, ScaleFactorEqualToScaleWordGivesSaturatedAccumulator) {
    const std::int32_t taps[] = {70000, -3};  // s = 2: stored 17500, -1, scale word 2
    for (const Column& col : columns()) {
        FirState* st = nullptr;
        ASSERT_EQ(col.initReal(&st, taps, 2, 0, nullptr), VEK_OK);
        std::int16_t out;
        ASSERT_EQ(col.oneReal(1, &out, st, 2), VEK_OK);
        EXPECT_EQ(out, 17500);
        ASSERT_EQ(col.oneReal(2, &out, st, 2), VEK_OK);
        EXPECT_EQ(out, 32767);  // 35000 - 1
        vek_fir_free_real_all(st);
    }
}

// Block calls of any count, mixed with one-sample calls, continue one filter life without a seam.
TEST(FirSingle, BlockAndOneSampleFollowTheReference) {
    std::mt19937 rng(11);
    const std::int32_t lens[] = {1, 2, 3, 4, 5, 7, 16, 17, 48};
    for (const Column& col : columns())
        for (std::int32_t len : lens) {
            const std::int64_t B = (len + 3) / 4 * 4 + 1;
            const std::int64_t counts[] = {1, 3, B - 1, B, B + 1, 2 * B + 3, 96};
            auto taps = random_taps(rng, len);
            auto hist = random16(rng, len);
            const std::int32_t tf = static_cast<std::int32_t>(rng() % 3);
            FirState* st = nullptr;
            ASSERT_EQ(col.initReal(&st, taps.data(), len, tf, hist.data()), VEK_OK);
            RealReference ref(taps, tf, &hist);
            for (std::int64_t count : counts) {
                for (std::int64_t k = 0; k < (count % 3); ++k) {  // a few one-sample calls in between
                    const std::int16_t x = random16(rng, 1)[0];
                    std::int16_t out;
                    ASSERT_EQ(col.oneReal(x, &out, st, 14), VEK_OK);
                    ASSERT_EQ(out, ref.push(x, 14)) << col.name << " len " << len;
                }
                auto in = random16(rng, count);
                std::vector<std::int16_t> out(count);
                const std::int32_t sf = static_cast<std::int32_t>(rng() % 20);
                ASSERT_EQ(col.blockReal(in.data(), out.data(), static_cast<std::int32_t>(count), st, sf), VEK_OK);
                for (std::int64_t j = 0; j < count; ++j)
                    ASSERT_EQ(out[j], ref.push(in[j], sf)) << col.name << " len " << len << " count " << count << " j " << j;
            }
            vek_fir_free_real_all(st);
        }
}

// Twin filters, one fed by blocks and one sample by sample, for every count up to past both block-pass
// lengths, with one-sample calls in between the blocks.
TEST(FirSingle, BlockEqualsRepeatedOneSampleForEveryCount) {
    std::mt19937 rng(13);
    for (const Column& col : columns())
        for (std::int32_t len : {1, 4, 5, 13, 48}) {
            const std::int64_t B = (len + 3) / 4 * 4 + 1, P = (len + 4 + 7) / 8 * 8;
            auto taps = random_taps(rng, len);
            FirState *blocks = nullptr, *singles = nullptr;
            ASSERT_EQ(col.initReal(&blocks, taps.data(), len, 0, nullptr), VEK_OK);
            ASSERT_EQ(col.initReal(&singles, taps.data(), len, 0, nullptr), VEK_OK);
            for (std::int64_t count = 1; count <= 2 * std::max(B, P) + 9; ++count) {
                for (std::int64_t k = 0; k < count % 4; ++k) {
                    const std::int16_t x = random16(rng, 1)[0];
                    std::int16_t ya, yb;
                    ASSERT_EQ(col.oneReal(x, &ya, blocks, 15), VEK_OK);
                    ASSERT_EQ(col.oneReal(x, &yb, singles, 15), VEK_OK);
                    ASSERT_EQ(ya, yb);
                }
                auto in = random16(rng, static_cast<std::size_t>(count));
                std::vector<std::int16_t> ya(count), yb(count);
                ASSERT_EQ(col.blockReal(in.data(), ya.data(), static_cast<std::int32_t>(count), blocks, 15), VEK_OK);
                for (std::int64_t j = 0; j < count; ++j) ASSERT_EQ(col.oneReal(in[j], &yb[j], singles, 15), VEK_OK);
                ASSERT_EQ(ya, yb) << col.name << " len " << len << " count " << count;
                std::vector<std::int16_t> ha(len), hb(len);
                ASSERT_EQ(vek_fir_get_delay_real_all(blocks, ha.data()), VEK_OK);
                ASSERT_EQ(vek_fir_get_delay_real_all(singles, hb.data()), VEK_OK);
                ASSERT_EQ(ha, hb) << col.name << " len " << len << " count " << count;
            }
            vek_fir_free_real_all(blocks);
            vek_fir_free_real_all(singles);
        }
}

TEST(FirSingle, ComplexFollowsTheReference) {
    std::mt19937 rng(12);
    const std::int32_t lens[] = {1, 2, 5, 6, 9};
    for (const Column& col : columns())
        for (std::int32_t len : lens) {
            std::vector<VekC32> taps(len);
            auto parts = random_taps(rng, 2 * len);
            for (std::int32_t i = 0; i < len; ++i) taps[i] = {parts[2 * i], parts[2 * i + 1]};
            std::vector<VekC16> hist(len);
            for (auto& h : hist) h = {random16(rng, 1)[0], random16(rng, 1)[0]};
            FirState* st = nullptr;
            ASSERT_EQ(col.initComplex(&st, taps.data(), len, 0, hist.data()), VEK_OK);
            ComplexReference ref(taps, 0, &hist);
            for (std::int64_t count : {1, 4, 7, 8, 9, 30, 96}) {
                VekC16 x{random16(rng, 1)[0], random16(rng, 1)[0]}, out;
                ASSERT_EQ(col.oneComplex(x, &out, st, 15), VEK_OK);
                const VekC16 want = ref.push(x, 15);
                ASSERT_EQ(out.re, want.re);
                ASSERT_EQ(out.im, want.im);
                std::vector<VekC16> in(count), res(count);
                for (auto& v : in) v = {random16(rng, 1)[0], random16(rng, 1)[0]};
                ASSERT_EQ(col.blockComplexInplace == nullptr, false);
                res = in;
                ASSERT_EQ(col.blockComplexInplace(res.data(), static_cast<std::int32_t>(count), st, 13), VEK_OK);
                for (std::int64_t j = 0; j < count; ++j) {
                    const VekC16 w = ref.push(in[j], 13);
                    ASSERT_EQ(res[j].re, w.re) << col.name << " len " << len << " count " << count << " j " << j;
                    ASSERT_EQ(res[j].im, w.im) << col.name << " len " << len << " count " << count << " j " << j;
                }
            }
            vek_fir_free_complex_all(st);
        }
}

// The complex product convention: (a + bi)(c + di) with the real part in the low half.
TEST(FirSingle, ComplexProductSigns) {
    const VekC32 tap{3, -2};
    FirState* st = nullptr;
    ASSERT_EQ(vek_fir_init_complex_all(&st, &tap, 1, 0, nullptr), VEK_OK);
    VekC16 out;
    ASSERT_EQ(vek_fir_one_complex_ss(VekC16{5, 7}, &out, st, 0), VEK_OK);
    EXPECT_EQ(out.re, 3 * 5 + 2 * 7);
    EXPECT_EQ(out.im, 3 * 7 - 2 * 5);
    vek_fir_free_complex_all(st);
}

TEST(FirSingle, DelayLineGetAfterSetAndNewestFirst) {
    const std::int32_t taps[] = {1, 2, 3, 4};
    const std::int16_t hist[] = {10, 20, 30, 40};
    for (const Column& col : columns()) {
        FirState* st = nullptr;
        ASSERT_EQ(col.initReal(&st, taps, 4, 0, nullptr), VEK_OK);
        std::int16_t out;
        ASSERT_EQ(col.oneReal(9, &out, st, 0), VEK_OK);  // position moves off 0
        ASSERT_EQ(vek_fir_set_delay_real_all(st, hist), VEK_OK);
        std::int16_t got[4];
        ASSERT_EQ(vek_fir_get_delay_real_all(st, got), VEK_OK);
        EXPECT_EQ(std::vector<std::int16_t>(got, got + 4), std::vector<std::int16_t>(hist, hist + 4));
        // Next output uses history elements 0..2: 1*5 + 2*10 + 3*20 + 4*30.
        ASSERT_EQ(col.oneReal(5, &out, st, 0), VEK_OK);
        EXPECT_EQ(out, 5 + 20 + 60 + 120) << col.name;
        ASSERT_EQ(vek_fir_get_delay_real_all(st, got), VEK_OK);
        EXPECT_EQ(std::vector<std::int16_t>(got, got + 4), (std::vector<std::int16_t>{5, 10, 20, 30}));
        ASSERT_EQ(vek_fir_set_delay_real_all(st, nullptr), VEK_OK);
        ASSERT_EQ(vek_fir_get_delay_real_all(st, got), VEK_OK);
        EXPECT_EQ(std::vector<std::int16_t>(got, got + 4), (std::vector<std::int16_t>{0, 0, 0, 0}));
        vek_fir_free_real_all(st);
    }
}

TEST(FirStatus, CreationChecksPointersThenLength) {
    const std::int32_t taps[] = {1};
    const VekC32 ctaps[] = {{1, 0}};
    FirState* st = nullptr;
    EXPECT_EQ(vek_fir_init_real_gen(nullptr, taps, 1, 0, nullptr), VEK_ERR_NULL_POINTER);
    EXPECT_EQ(vek_fir_init_real_wd(&st, nullptr, 1, 0, nullptr), VEK_ERR_NULL_POINTER);
    EXPECT_EQ(vek_fir_init_real_gen(nullptr, taps, 0, 0, nullptr), VEK_ERR_NULL_POINTER);
    EXPECT_EQ(vek_fir_init_real_gen(&st, taps, 0, 0, nullptr), VEK_ERR_FIR_LENGTH);
    EXPECT_EQ(vek_fir_init_real_wd(&st, taps, -1, 0, nullptr), VEK_ERR_FIR_LENGTH);
    EXPECT_EQ(vek_fir_init_complex_all(&st, nullptr, 1, 0, nullptr), VEK_ERR_NULL_POINTER);
    EXPECT_EQ(vek_fir_init_complex_all(&st, ctaps, 0, 0, nullptr), VEK_ERR_FIR_LENGTH);
    EXPECT_EQ(st, nullptr);
}

TEST(FirStatus, FilteringChecksStateKindPointersCount) {
    const std::int32_t taps[] = {1, 2, 3};
    const VekC32 ctaps[] = {{1, 0}};
    for (const Column& col : columns()) {
        FirState *real = nullptr, *cplx = nullptr, *multi = nullptr;
        ASSERT_EQ(col.initReal(&real, taps, 3, 0, nullptr), VEK_OK);
        ASSERT_EQ(col.initComplex(&cplx, ctaps, 1, 0, nullptr), VEK_OK);
        ASSERT_EQ(col.initRealMultirate(&multi, taps, 3, 0, 2, 0, 1, 0, nullptr), VEK_OK);
        std::int16_t buf[4] = {1, 2, 3, 4}, out[4];
        VekC16 cbuf[2] = {}, cout;
        EXPECT_EQ(col.blockReal(nullptr, nullptr, 0, nullptr, 0), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(col.blockReal(nullptr, nullptr, 0, cplx, 0), VEK_ERR_CONTEXT_MISMATCH);
        EXPECT_EQ(col.blockReal(nullptr, out, 0, real, 0), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(col.blockReal(buf, nullptr, 4, real, 0), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(col.blockReal(buf, out, 0, real, 0), VEK_ERR_SIZE);
        EXPECT_EQ(col.blockReal(buf, out, -5, multi, 0), VEK_ERR_SIZE);
        EXPECT_EQ(col.blockRealInplace(nullptr, 0, cplx, 0), VEK_ERR_CONTEXT_MISMATCH);
        EXPECT_EQ(col.blockRealInplace(nullptr, 4, real, 0), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(col.blockRealInplace(buf, 0, real, 0), VEK_ERR_SIZE);
        EXPECT_EQ(col.blockComplex(cbuf, cbuf, 2, real, 0), VEK_ERR_CONTEXT_MISMATCH);
        EXPECT_EQ(col.blockComplexInplace(cbuf, -1, cplx, 0), VEK_ERR_SIZE);
        EXPECT_EQ(col.oneReal(1, out, nullptr, 0), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(col.oneReal(1, nullptr, multi, 0), VEK_ERR_CONTEXT_MISMATCH);  // single-rate kinds only
        EXPECT_EQ(col.oneReal(1, out, cplx, 0), VEK_ERR_CONTEXT_MISMATCH);
        EXPECT_EQ(col.oneReal(1, nullptr, real, 0), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(col.oneComplex(VekC16{}, &cout, real, 0), VEK_ERR_CONTEXT_MISMATCH);
        EXPECT_EQ(col.oneComplex(VekC16{}, nullptr, cplx, 0), VEK_ERR_NULL_POINTER);
        // Errors leave the filter untouched.
        std::int16_t hist[3];
        ASSERT_EQ(vek_fir_get_delay_real_all(real, hist), VEK_OK);
        EXPECT_EQ(std::vector<std::int16_t>(hist, hist + 3), (std::vector<std::int16_t>{0, 0, 0}));
        EXPECT_EQ(real->position, 0);
        EXPECT_EQ(vek_fir_free_real_all(cplx), VEK_ERR_CONTEXT_MISMATCH);
        EXPECT_EQ(vek_fir_free_complex_all(real), VEK_ERR_CONTEXT_MISMATCH);
        EXPECT_EQ(vek_fir_free_real_all(nullptr), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(vek_fir_free_real_all(real), VEK_OK);
        EXPECT_EQ(vek_fir_free_real_all(multi), VEK_OK);
        EXPECT_EQ(vek_fir_free_complex_all(cplx), VEK_OK);
    }
}

TEST(FirStatus, GetAndSetChecks) {
    const std::int32_t taps[] = {1, 2};
    FirState* st = nullptr;
    ASSERT_EQ(vek_fir_init_real_gen(&st, taps, 2, 0, nullptr), VEK_OK);
    std::int32_t t[2], f;
    VekC32 ct[2];
    std::int16_t d[2];
    VekC16 c[2];
    EXPECT_EQ(vek_fir_get_taps_real_all(st, nullptr, &f), VEK_ERR_NULL_POINTER);
    EXPECT_EQ(vek_fir_get_taps_real_all(st, t, nullptr), VEK_ERR_NULL_POINTER);
    EXPECT_EQ(vek_fir_get_taps_complex_all(st, ct, &f), VEK_ERR_CONTEXT_MISMATCH);
    EXPECT_EQ(vek_fir_get_delay_real_all(nullptr, d), VEK_ERR_NULL_POINTER);
    EXPECT_EQ(vek_fir_get_delay_complex_all(st, c), VEK_ERR_CONTEXT_MISMATCH);
    EXPECT_EQ(vek_fir_set_delay_real_all(nullptr, d), VEK_ERR_NULL_POINTER);
    EXPECT_EQ(vek_fir_set_delay_complex_all(st, nullptr), VEK_ERR_CONTEXT_MISMATCH);
    vek_fir_free_real_all(st);
}

}  // namespace
