// Multi-rate FIR filters against a reference built from their definition: up-sample by U (input k lands at
// position k*U + pu), filter with the caller's taps, keep every D-th value from pd on.
#include <gtest/gtest.h>

#include "tests/vek/fir_support.h"

namespace {

using namespace firtest;

template <class Elem>
struct MultirateReference {
    std::vector<std::int64_t> re, im;  // normalised taps, caller order (im empty for real filters)
    std::int64_t scale = 0;
    std::int64_t U, pu, D, pd;
    std::vector<Elem> hist;  // most recent first
    std::vector<Elem> x;     // every input since creation
    std::int64_t produced = 0;

    static std::int64_t part(const std::int16_t& v, int) { return v; }
    static std::int64_t part(const VekC16& v, int h) { return h == 0 ? v.re : v.im; }

    Elem input(std::int64_t q) const {
        if (q >= 0) return x.at(static_cast<std::size_t>(q));
        const std::size_t i = static_cast<std::size_t>(-1 - q);
        return i < hist.size() ? hist[i] : Elem{};
    }

    // Output number j of the filter's life, before scaling: {re, im} accumulators wrapped to 32 bits.
    std::pair<std::int64_t, std::int64_t> acc(std::int64_t j) const {
        const std::int64_t t = j * D + pd;
        std::int64_t ar = 0, ai = 0;
        for (std::size_t k = 0; k < re.size(); ++k) {
            const std::int64_t s = t - static_cast<std::int64_t>(k) - pu;
            if (((s % U) + U) % U != 0) continue;
            const std::int64_t q = (s >= 0 ? s : s - (U - 1)) / U;
            const Elem v = input(q);
            if (im.empty()) {
                ar = wrap32(ar + re[k] * part(v, 0));
            } else {
                ar = wrap32(ar + re[k] * part(v, 0) - im[k] * part(v, 1));
                ai = wrap32(ai + re[k] * part(v, 1) + im[k] * part(v, 0));
            }
        }
        return {ar, ai};
    }

    std::vector<Elem> run(const std::vector<Elem>& in, std::int32_t sf) {
        x.insert(x.end(), in.begin(), in.end());
        const std::int64_t m = static_cast<std::int64_t>(in.size()) / D;
        std::vector<Elem> out;
        for (std::int64_t j = produced; j < produced + U * m; ++j) {
            auto [ar, ai] = acc(j);
            if constexpr (std::is_same_v<Elem, std::int16_t>)
                out.push_back(ref_scale(ar, scale, sf));
            else
                out.push_back(VekC16{ref_scale(ar, scale, sf), ref_scale(ai, scale, sf)});
        }
        produced += U * m;
        return out;
    }
};

MultirateReference<std::int16_t> real_reference(const std::vector<std::int32_t>& taps, std::int32_t tf, std::int64_t U,
                                                std::int64_t pu, std::int64_t D, std::int64_t pd,
                                                const std::vector<std::int16_t>& hist) {
    MultirateReference<std::int16_t> r{};
    std::vector<std::int64_t> t(taps.begin(), taps.end());
    const int s = ref_shift(t);
    for (auto v : t) r.re.push_back(v >> s);
    r.scale = tf + s;
    r.U = U, r.pu = pu, r.D = D, r.pd = pd, r.hist = hist;
    return r;
}

TEST(FirMultirate, UpByTwoPlacesTheInputAtPhaseOne) {
    const std::int32_t taps[] = {1, 1};
    for (const Column& col : columns()) {
        FirState* st = nullptr;
        ASSERT_EQ(col.initRealMultirate(&st, taps, 2, 0, 2, 1, 1, 0, nullptr), VEK_OK);
        const std::int16_t in[] = {100, -7};
        std::int16_t out[4];
        ASSERT_EQ(col.blockReal(in, out, 2, st, 0), VEK_OK);
        EXPECT_EQ(std::vector<std::int16_t>(out, out + 4), (std::vector<std::int16_t>{0, 100, 100, -7})) << col.name;
        EXPECT_EQ(vek_fir_free_real_all(st), VEK_OK);
    }
}

TEST(FirMultirate, FactorsOfOneMatchTheSingleRateFilter) {
    std::mt19937 rng(5);
    for (const Column& col : columns())
        for (std::int32_t len : {1, 5, 16, 33}) {
            auto taps = random_taps(rng, len);
            auto hist = random16(rng, len);
            FirState *single = nullptr, *multi = nullptr;
            ASSERT_EQ(col.initReal(&single, taps.data(), len, 1, hist.data()), VEK_OK);
            ASSERT_EQ(col.initRealMultirate(&multi, taps.data(), len, 1, 1, 0, 1, 0, hist.data()), VEK_OK);
            for (std::int32_t count : {1, 3, 40, 7, 100}) {
                auto in = random16(rng, count);
                std::vector<std::int16_t> a(count), b(count);
                ASSERT_EQ(col.blockReal(in.data(), a.data(), count, single, 16), VEK_OK);
                ASSERT_EQ(col.blockReal(in.data(), b.data(), count, multi, 16), VEK_OK);
                ASSERT_EQ(a, b) << col.name << " len " << len << " count " << count;
            }
            vek_fir_free_real_all(single);
            vek_fir_free_real_all(multi);
        }
}

// Random factors, phases, lengths and block splits (short blocks inside the delay window and long ones
// far past it, some in place) in every column.
TEST(FirMultirate, RealMatchesTheDefinitionOnRandomConfigurations) {
    std::mt19937 rng(2024);
    for (int config = 0; config < 1000; ++config) {
        const Column col = column(config % 4);
        const std::int32_t U = 1 + static_cast<std::int32_t>(rng() % 7), D = 1 + static_cast<std::int32_t>(rng() % 7);
        const std::int32_t pu = static_cast<std::int32_t>(rng() % U), pd = static_cast<std::int32_t>(rng() % D);
        const std::int32_t len = 1 + static_cast<std::int32_t>(rng() % 40);
        const std::int32_t tf = static_cast<std::int32_t>(rng() % 3);
        const std::int64_t n = (len + U - 1) / U;
        const std::int64_t T = (n / (4 * D) + 1) * 4 * D;
        auto taps = random_taps(rng, len);
        const bool withHistory = rng() % 2;
        auto hist = withHistory ? random16(rng, n) : std::vector<std::int16_t>(n, 0);
        FirState* st = nullptr;
        ASSERT_EQ(col.initRealMultirate(&st, taps.data(), len, tf, U, pu, D, pd, withHistory ? hist.data() : nullptr),
                  VEK_OK);
        auto ref = real_reference(taps, tf, U, pu, D, pd, hist);
        for (int call = 0; call < 4; ++call) {
            const std::int64_t m = rng() % 2 ? 1 + rng() % ((T + 1) / D + 1) : (T + 1) / D + 1 + rng() % 60;
            auto in = random16(rng, D * m);
            const std::int32_t sf = static_cast<std::int32_t>(rng() % 20);
            std::vector<std::int16_t> out(U * m);
            if (rng() % 3 == 0) {
                std::vector<std::int16_t> buf(std::max(U, D) * m);
                std::copy(in.begin(), in.end(), buf.begin());
                ASSERT_EQ(col.blockRealInplace(buf.data(), static_cast<std::int32_t>(m), st, sf), VEK_OK);
                std::copy(buf.begin(), buf.begin() + U * m, out.begin());
            } else {
                ASSERT_EQ(col.blockReal(in.data(), out.data(), static_cast<std::int32_t>(m), st, sf), VEK_OK);
            }
            ASSERT_EQ(out, ref.run(in, sf)) << col.name << " U " << U << " pu " << pu << " D " << D << " pd " << pd
                                            << " len " << len << " call " << call << " m " << m;
        }
        // The history is the newest n inputs, most recent first.
        std::vector<std::int16_t> got(n);
        ASSERT_EQ(vek_fir_get_delay_real_all(st, got.data()), VEK_OK);
        for (std::int64_t i = 0; i < n; ++i) ASSERT_EQ(got[i], ref.input(static_cast<std::int64_t>(ref.x.size()) - 1 - i));
        vek_fir_free_real_all(st);
    }
}

TEST(FirMultirate, ComplexMatchesTheDefinitionOnRandomConfigurations) {
    std::mt19937 rng(77);
    for (int config = 0; config < 200; ++config) {
        const Column col = column(config % 4);
        const std::int32_t U = 1 + static_cast<std::int32_t>(rng() % 5), D = 1 + static_cast<std::int32_t>(rng() % 5);
        const std::int32_t pu = static_cast<std::int32_t>(rng() % U), pd = static_cast<std::int32_t>(rng() % D);
        const std::int32_t len = 1 + static_cast<std::int32_t>(rng() % 20);
        const std::int64_t n = (len + U - 1) / U;
        const std::int64_t T = (n / (4 * D) + 1) * 4 * D;
        auto parts = random_taps(rng, 2 * len);
        std::vector<VekC32> taps(len);
        for (std::int32_t i = 0; i < len; ++i) taps[i] = {parts[2 * i], parts[2 * i + 1]};
        std::vector<VekC16> hist(n);
        for (auto& h : hist) h = {random16(rng, 1)[0], random16(rng, 1)[0]};
        FirState* st = nullptr;
        ASSERT_EQ(col.initComplexMultirate(&st, taps.data(), len, 0, U, pu, D, pd, hist.data()), VEK_OK);
        MultirateReference<VekC16> ref{};
        std::vector<std::int64_t> all;
        for (auto t : taps) all.push_back(t.re), all.push_back(t.im);
        const int s = ref_shift(all);
        for (auto t : taps) ref.re.push_back(std::int64_t{t.re} >> s), ref.im.push_back(std::int64_t{t.im} >> s);
        ref.scale = s, ref.U = U, ref.pu = pu, ref.D = D, ref.pd = pd, ref.hist = hist;
        for (int call = 0; call < 3; ++call) {
            const std::int64_t m = rng() % 2 ? 1 + rng() % ((T + 1) / D + 1) : (T + 1) / D + 1 + rng() % 40;
            std::vector<VekC16> in(D * m), out(U * m);
            for (auto& v : in) v = {random16(rng, 1)[0], random16(rng, 1)[0]};
            if (call == 1) {
                std::vector<VekC16> buf(std::max(U, D) * m);
                std::copy(in.begin(), in.end(), buf.begin());
                ASSERT_EQ(col.blockComplexInplace(buf.data(), static_cast<std::int32_t>(m), st, 15), VEK_OK);
                std::copy(buf.begin(), buf.begin() + U * m, out.begin());
            } else {
                ASSERT_EQ(col.blockComplex(in.data(), out.data(), static_cast<std::int32_t>(m), st, 15), VEK_OK);
            }
            auto want = ref.run(in, 15);
            for (std::size_t j = 0; j < out.size(); ++j) {
                ASSERT_EQ(out[j].re, want[j].re) << col.name << " U " << U << " D " << D << " len " << len << " j " << j;
                ASSERT_EQ(out[j].im, want[j].im) << col.name << " U " << U << " D " << D << " len " << len << " j " << j;
            }
        }
        vek_fir_free_complex_all(st);
    }
}

TEST(FirMultirate, CreationStatusesInOrder) {
    const std::int32_t taps[] = {1, 2, 3};
    struct Case {
        bool nullState;
        std::int32_t len, U, pu, D, pd;
        VekStatus expected;
    };
    const Case cases[] = {
        {true, 0, 0, 5, 0, 0, VEK_ERR_NULL_POINTER}, {false, 0, 0, 5, 1, 0, VEK_ERR_FIR_LENGTH},
        {false, 3, 0, 5, 1, 0, VEK_ERR_MR_FACTOR},   {false, 3, 2, 0, -1, 0, VEK_ERR_MR_FACTOR},
        {false, 3, 2, 2, 1, 0, VEK_ERR_MR_PHASE},    {false, 3, 2, -1, 1, 0, VEK_ERR_MR_PHASE},
        {false, 3, 2, 1, 3, 3, VEK_ERR_MR_PHASE},    {false, 3, 2, 1, 3, -1, VEK_ERR_MR_PHASE},
        {false, 3, 2, 1, 3, 2, VEK_OK},
    };
    const VekC32 ctaps[] = {{1, 0}, {2, 0}, {3, 0}};
    for (const Column& col : columns())
        for (const Case& c : cases) {
            FirState *real = nullptr, *cplx = nullptr;
            const std::int64_t requests = vek_pool_requests();
            EXPECT_EQ(col.initRealMultirate(c.nullState ? nullptr : &real, taps, c.len, 0, c.U, c.pu, c.D, c.pd, nullptr),
                      c.expected);
            EXPECT_EQ(col.initComplexMultirate(c.nullState ? nullptr : &cplx, ctaps, c.len, 0, c.U, c.pu, c.D, c.pd,
                                               nullptr),
                      c.expected);
            if (c.expected != VEK_OK) {
                EXPECT_EQ(vek_pool_requests(), requests) << "allocated on a bad argument";
            }
            if (real) vek_fir_free_real_all(real);
            if (cplx) vek_fir_free_complex_all(cplx);
        }
}

// Caller arrays at any byte address give the same outputs as aligned ones and nothing is written around
// the output.
TEST(FirMultirate, AnyByteOffset) {
    std::mt19937 rng(31);
    for (const Column& col : columns())
        for (int k = 0; k < 16; ++k) {
            const std::int32_t U = 1 + k % 4, D = 1 + (k / 4) % 4, len = 5 + 3 * k;
            auto taps = random_taps(rng, len);
            FirState *a = nullptr, *b = nullptr;
            ASSERT_EQ(col.initRealMultirate(&a, taps.data(), len, 0, U, U - 1, D, 0, nullptr), VEK_OK);
            ASSERT_EQ(col.initRealMultirate(&b, taps.data(), len, 0, U, U - 1, D, 0, nullptr), VEK_OK);
            for (std::int32_t m : {3, 40}) {
                auto in = random16(rng, static_cast<std::size_t>(D * m));
                std::vector<std::int16_t> want(static_cast<std::size_t>(U * m));
                ASSERT_EQ(col.blockReal(in.data(), want.data(), m, a, 12), VEK_OK);
                vektest::GuardedBuffer src(in.size() * 2, static_cast<std::size_t>(k)), dst(want.size() * 2, 15 - k);
                std::memcpy(src.data(), in.data(), in.size() * 2);
                ASSERT_EQ(col.blockReal(src.as<std::int16_t>(), dst.as<std::int16_t>(), m, b, 12), VEK_OK);
                ASSERT_TRUE(dst.intact() && src.intact()) << col.name << " offset " << k;
                ASSERT_EQ(std::memcmp(dst.data(), want.data(), want.size() * 2), 0) << col.name << " offset " << k;
            }
            vek_fir_free_real_all(a);
            vek_fir_free_real_all(b);
        }
}

TEST(FirMultirate, DelayGetSetActOnTheHistoryOnly) {
    const std::int32_t taps[] = {1, 2, 3, 4, 5};  // U = 2: n = 3 history elements
    const std::int16_t hist[] = {7, 8, 9};
    for (const Column& col : columns()) {
        FirState* st = nullptr;
        ASSERT_EQ(col.initRealMultirate(&st, taps, 5, 0, 2, 0, 3, 1, nullptr), VEK_OK);
        const std::int32_t position = st->position;
        EXPECT_EQ(position, 3);
        ASSERT_EQ(vek_fir_set_delay_real_all(st, hist), VEK_OK);
        std::int16_t got[3];
        ASSERT_EQ(vek_fir_get_delay_real_all(st, got), VEK_OK);
        EXPECT_EQ(std::vector<std::int16_t>(got, got + 3), std::vector<std::int16_t>(hist, hist + 3));
        EXPECT_EQ(st->position, position);
        vek_fir_free_real_all(st);
    }
}

}  // namespace
