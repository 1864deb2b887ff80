// Every column against the generic one: outputs, delay lines and taps bit-identical over counts and byte
// offsets, nothing written outside the caller's buffers, records usable by any column, clean failures.
#include <gtest/gtest.h>

#include "tests/vek/fir_support.h"

namespace {

using namespace firtest;
using vektest::GuardedBuffer;

std::vector<std::int16_t> real_history(const FirState* st) {
    std::vector<std::int16_t> h(static_cast<std::size_t>(st->tapsLength));
    EXPECT_EQ(vek_fir_get_delay_real_all(st, h.data()), VEK_OK);
    return h;
}

std::vector<std::int32_t> real_taps(const FirState* st, std::int32_t* factor) {
    std::vector<std::int32_t> t(static_cast<std::size_t>(st->tapsLength));
    EXPECT_EQ(vek_fir_get_taps_real_all(st, t.data(), factor), VEK_OK);
    return t;
}

// One block call in a column: input at one byte offset, output at another, both guarded.
std::vector<std::int16_t> run_real_block(const Column& col, FirState* st, const std::vector<std::int16_t>& in,
                                         std::size_t srcOffset, std::size_t dstOffset, std::int32_t sf, bool inplace) {
    const std::size_t n = in.size();
    GuardedBuffer src(2 * n, srcOffset), dst(2 * n, dstOffset);
    std::memcpy(src.data(), in.data(), 2 * n);
    if (inplace) {
        EXPECT_EQ(col.blockRealInplace(src.as<std::int16_t>(), static_cast<std::int32_t>(n), st, sf), VEK_OK);
        EXPECT_TRUE(src.intact()) << col.name;
        std::vector<std::int16_t> out(n);
        std::memcpy(out.data(), src.data(), 2 * n);
        return out;
    }
    EXPECT_EQ(col.blockReal(src.as<std::int16_t>(), dst.as<std::int16_t>(), static_cast<std::int32_t>(n), st, sf), VEK_OK);
    EXPECT_TRUE(dst.intact()) << col.name;
    EXPECT_TRUE(src.intact()) << col.name;
    EXPECT_EQ(std::memcmp(src.data(), in.data(), 2 * n), 0) << "input changed";
    std::vector<std::int16_t> out(n);
    std::memcpy(out.data(), dst.data(), 2 * n);
    return out;
}

TEST(FirColumns, RealOutputsDelayAndTapsIdenticalToGeneric) {
    std::mt19937 rng(99);
    const std::int32_t lens[] = {1, 2, 3, 4, 5, 7, 8, 9, 12, 15, 16, 17, 31, 48, 63, 70};
    for (int c : {VEK_CPU_MM, VEK_CPU_SS, VEK_CPU_WD}) {
        const Column gen = column(VEK_CPU_GEN), col = column(c);
        for (std::int32_t len : lens) {
            const std::int64_t P = (len + 4 + 7) / 8 * 8, B = (len + 3) / 4 * 4 + 1;
            // 32: a modulator's block; 900 and 1200: past the SSE2 column's stack window.
            const std::int64_t counts[] = {1, 7, 8, 9, P - 1, P, P + 1, B - 1, B, 96, 16, 200, 3, 2 * P + 5, 32, 900, 1200};
            auto taps = random_taps(rng, len);
            auto hist = random16(rng, len);
            FirState *a = nullptr, *b = nullptr;
            ASSERT_EQ(gen.initReal(&a, taps.data(), len, 1, hist.data()), VEK_OK);
            ASSERT_EQ(col.initReal(&b, taps.data(), len, 1, hist.data()), VEK_OK);
            std::int32_t fa, fb;
            ASSERT_EQ(real_taps(a, &fa), real_taps(b, &fb));
            ASSERT_EQ(fa, fb);
            RealReference ref(taps, 1, &hist);
            int step = 0;
            for (std::int64_t count : counts) {
                ++step;
                for (int k = 0; k < step % 3; ++k) {  // one-sample calls move the position off 0
                    const std::int16_t x = random16(rng, 1)[0];
                    std::int16_t ya, yb;
                    ASSERT_EQ(gen.oneReal(x, &ya, a, 15), VEK_OK);
                    ASSERT_EQ(col.oneReal(x, &yb, b, 15), VEK_OK);
                    ASSERT_EQ(ya, yb) << col.name << " len " << len;
                    ASSERT_EQ(ya, ref.push(x, 15));
                }
                auto in = random16(rng, static_cast<std::size_t>(count));
                const std::int32_t sf = static_cast<std::int32_t>(rng() % 24) - 2;
                const std::size_t so = (3 * step) % 16, dOff = (5 * step + 1) % 16;
                const bool inplace = step % 4 == 0;
                auto ya = run_real_block(gen, a, in, so, dOff, sf, inplace);
                auto yb = run_real_block(col, b, in, so, dOff, sf, inplace);
                ASSERT_EQ(ya, yb) << col.name << " len " << len << " count " << count << " offsets " << so << "/" << dOff;
                for (std::size_t j = 0; j < in.size(); ++j) ASSERT_EQ(ya[j], ref.push(in[j], sf));
                ASSERT_EQ(real_history(a), real_history(b)) << col.name << " len " << len << " count " << count;
            }
            vek_fir_free_real_all(a);
            vek_fir_free_real_all(b);
        }
    }
}

TEST(FirColumns, ComplexOutputsAndDelayIdenticalToGeneric) {
    std::mt19937 rng(98);
    for (int c : {VEK_CPU_MM, VEK_CPU_SS, VEK_CPU_WD}) {
        const Column gen = column(VEK_CPU_GEN), col = column(c);
        // 32 and 33 taps: the most and one more than the SSE2 column's window kernel takes.
        for (std::int32_t len : {1, 2, 3, 5, 6, 8, 9, 17, 32, 33}) {
            std::vector<VekC32> taps(len);
            auto parts = random_taps(rng, 2 * len);
            for (std::int32_t i = 0; i < len; ++i) taps[i] = {parts[2 * i], parts[2 * i + 1]};
            FirState *a = nullptr, *b = nullptr;
            ASSERT_EQ(gen.initComplex(&a, taps.data(), len, 0, nullptr), VEK_OK);
            ASSERT_EQ(col.initComplex(&b, taps.data(), len, 0, nullptr), VEK_OK);
            int step = 0;
            // 600 and 700: at and past the SSE2 column's stack window.
            for (std::int64_t count : {1, 2, 3, 7, 8, 9, 96, 4, 33, 5, 6, 600, 700}) {
                ++step;
                VekC16 x{random16(rng, 1)[0], random16(rng, 1)[0]}, ya, yb;
                ASSERT_EQ(gen.oneComplex(x, &ya, a, 14), VEK_OK);
                ASSERT_EQ(col.oneComplex(x, &yb, b, 14), VEK_OK);
                ASSERT_EQ(std::memcmp(&ya, &yb, 4), 0);
                std::vector<VekC16> in(count);
                for (auto& v : in) v = {random16(rng, 1)[0], random16(rng, 1)[0]};
                const std::size_t so = (7 * step) % 16, dOff = (3 * step + 2) % 16;
                GuardedBuffer s1(4 * count, so), d1(4 * count, dOff), s2(4 * count, so), d2(4 * count, dOff);
                std::memcpy(s1.data(), in.data(), 4 * count);
                std::memcpy(s2.data(), in.data(), 4 * count);
                const std::int32_t sf = static_cast<std::int32_t>(rng() % 24) - 2;   // net shifts of both signs
                ASSERT_EQ(gen.blockComplex(s1.as<VekC16>(), d1.as<VekC16>(), static_cast<std::int32_t>(count), a, sf), VEK_OK);
                ASSERT_EQ(col.blockComplex(s2.as<VekC16>(), d2.as<VekC16>(), static_cast<std::int32_t>(count), b, sf), VEK_OK);
                ASSERT_TRUE(d1.intact() && d2.intact() && s2.intact());
                ASSERT_EQ(std::memcmp(d1.data(), d2.data(), 4 * count), 0) << col.name << " len " << len << " count " << count;
                std::vector<VekC16> ha(len), hb(len);
                ASSERT_EQ(vek_fir_get_delay_complex_all(a, ha.data()), VEK_OK);
                ASSERT_EQ(vek_fir_get_delay_complex_all(b, hb.data()), VEK_OK);
                ASSERT_EQ(std::memcmp(ha.data(), hb.data(), 4 * len), 0);
            }
            vek_fir_free_complex_all(a);
            vek_fir_free_complex_all(b);
        }
    }
}

// A record created by one column and used by another (the dispatch table may be refilled between them)
// still filters correctly: every kernel checks the record's layout and falls back to the generic loop.
TEST(FirColumns, RecordsWorkInEveryColumn) {
    std::mt19937 rng(97);
    for (int maker : vektest::kColumns)
        for (int user : vektest::kColumns) {
            const Column mk = column(maker), us = column(user);
            for (std::int32_t len : {3, 16, 48}) {
                auto taps = random_taps(rng, len);
                FirState *single = nullptr, *multi = nullptr;
                ASSERT_EQ(mk.initReal(&single, taps.data(), len, 0, nullptr), VEK_OK);
                ASSERT_EQ(mk.initRealMultirate(&multi, taps.data(), len, 0, 1, 0, 1, 0, nullptr), VEK_OK);
                RealReference ref(taps, 0, nullptr), refMulti(taps, 0, nullptr);
                for (std::int32_t count : {5, 100, 9}) {
                    auto in = random16(rng, count);
                    std::int16_t one;
                    ASSERT_EQ(us.oneReal(in[0], &one, single, 14), VEK_OK);
                    ASSERT_EQ(one, ref.push(in[0], 14)) << mk.name << "->" << us.name << " len " << len;
                    std::vector<std::int16_t> y(count);
                    ASSERT_EQ(us.blockReal(in.data() + 1, y.data(), count - 1, single, 14), VEK_OK);
                    for (std::int32_t j = 0; j + 1 < count; ++j)
                        ASSERT_EQ(y[j], ref.push(in[j + 1], 14)) << mk.name << "->" << us.name << " len " << len;
                    ASSERT_EQ(us.blockReal(in.data(), y.data(), count, multi, 14), VEK_OK);
                    for (std::int32_t j = 0; j < count; ++j)
                        ASSERT_EQ(y[j], refMulti.push(in[j], 14)) << mk.name << "->" << us.name << " len " << len;
                }
                vek_fir_free_real_all(single);
                vek_fir_free_real_all(multi);
            }
        }
}

TEST(FirColumns, FailedAllocationsLeakNothing) {
    const std::int32_t taps[] = {1, 2, 3, 4, 5};
    const VekC32 ctaps[] = {{1, 2}, {3, 4}};
    for (const Column& col : columns())
        for (int k = 1; k <= 6; ++k) {
            const std::int64_t before = vek_pool_outstanding();
            FirState* st = nullptr;
            vek_pool_fail_at(k);
            VekStatus s1 = col.initReal(&st, taps, 5, 0, nullptr);
            vek_pool_fail_at(0);
            if (s1 == VEK_OK) {
                vek_fir_free_real_all(st);
            } else {
                EXPECT_EQ(s1, VEK_ERR_NO_MEMORY);
            }
            vek_pool_fail_at(k);
            VekStatus s2 = col.initComplex(&st, ctaps, 2, 0, nullptr);
            vek_pool_fail_at(0);
            if (s2 == VEK_OK) {
                vek_fir_free_complex_all(st);
            } else {
                EXPECT_EQ(s2, VEK_ERR_NO_MEMORY);
            }
            vek_pool_fail_at(k);
            VekStatus s3 = col.initRealMultirate(&st, taps, 5, 0, 3, 1, 2, 1, nullptr);
            vek_pool_fail_at(0);
            if (s3 == VEK_OK) {
                vek_fir_free_real_all(st);
            } else {
                EXPECT_EQ(s3, VEK_ERR_NO_MEMORY);
            }
            EXPECT_EQ(vek_pool_outstanding(), before) << col.name << " failing request " << k;
            if (k <= 4) {
                EXPECT_EQ(s1, VEK_ERR_NO_MEMORY) << col.name << " " << k;
            }
        }
}

TEST(FirColumns, InplaceTemporaryFailureLeavesTheFilterAlone) {
    const std::int32_t taps[] = {1, 2, 3};
    for (const Column& col : columns()) {
        FirState* st = nullptr;
        ASSERT_EQ(col.initReal(&st, taps, 3, 0, nullptr), VEK_OK);
        std::vector<std::int16_t> buf(4000, 7);
        vek_pool_fail_at(1);
        EXPECT_EQ(col.blockRealInplace(buf.data(), 4000, st, 0), VEK_ERR_NO_MEMORY);
        vek_pool_fail_at(0);
        EXPECT_EQ(buf[0], 7);
        EXPECT_EQ(real_history(st), (std::vector<std::int16_t>{0, 0, 0}));
        // Small blocks need no allocation at all.
        vek_pool_fail_at(1);
        EXPECT_EQ(col.blockRealInplace(buf.data(), 96, st, 0), VEK_OK);
        vek_pool_fail_at(0);
        vek_fir_free_real_all(st);
    }
}

TEST(FirColumns, FloatingPointStateUnchanged) {
    const std::int32_t taps[] = {5, -3, 2, 8, 1, 1, 1, 1, 1};
    const VekC32 ctaps[] = {{1, 2}, {3, 4}, {5, 6}};
    std::int16_t in[64], out[64];
    VekC16 cin[16] = {}, cout[16];
    for (int i = 0; i < 64; ++i) in[i] = static_cast<std::int16_t>(i * 100);
    for (const Column& col : columns()) {
        FirState *r = nullptr, *c = nullptr, *m = nullptr;
        ASSERT_EQ(col.initReal(&r, taps, 9, 0, nullptr), VEK_OK);
        ASSERT_EQ(col.initComplex(&c, ctaps, 3, 0, nullptr), VEK_OK);
        ASSERT_EQ(col.initRealMultirate(&m, taps, 9, 0, 2, 0, 3, 1, nullptr), VEK_OK);
        const auto before = vektest::FpState::capture();
        std::int16_t y;
        VekC16 cy;
        ASSERT_EQ(col.oneReal(3, &y, r, 0), VEK_OK);
        ASSERT_EQ(col.blockReal(in, out, 64, r, 0), VEK_OK);
        ASSERT_EQ(col.oneComplex(VekC16{1, 1}, &cy, c, 0), VEK_OK);
        ASSERT_EQ(col.blockComplex(cin, cout, 16, c, 0), VEK_OK);
        ASSERT_EQ(col.blockReal(in, out, 20, m, 0), VEK_OK);
        EXPECT_TRUE(vektest::FpState::capture() == before) << col.name;
        vek_fir_free_real_all(r);
        vek_fir_free_complex_all(c);
        vek_fir_free_real_all(m);
    }
}

// The pump entry points reach the FIR slots through the dispatch table in whatever column is installed.
TEST(FirColumns, EntryPointsFollowTheInstalledColumn) {
    vektest::DispatchTableGuard guard;
    const std::int32_t taps[] = {100, 200, 300};
    for (int c : vektest::kColumns) {
        ASSERT_EQ(vek_install_column(c), 1);
        FirState* st = nullptr;
        ASSERT_EQ(vek_fir_init_real(&st, taps, 3, 0, nullptr), VEK_OK);
        EXPECT_EQ(st->paddedLength != 0, c == VEK_CPU_WD);
        const std::int16_t in[4] = {1, 0, 0, 0};
        std::int16_t out[4];
        ASSERT_EQ(vek_fir_block_real(in, out, 4, st, 0), VEK_OK);
        EXPECT_EQ(std::vector<std::int16_t>(out, out + 4), (std::vector<std::int16_t>{100, 200, 300, 0}));
        ASSERT_EQ(vek_fir_set_delay_real(st, nullptr), VEK_OK);
        std::int16_t y;
        ASSERT_EQ(vek_fir_one_real(2, &y, st, 0), VEK_OK);
        EXPECT_EQ(y, 200);
        ASSERT_EQ(vek_fir_free_real(st), VEK_OK);
    }
}

}  // namespace
