// Region kernels of the correlation for float, double and complex data: each kernel of each column exact
// against a 64-bit brute force on integer data (below and above the short-work thresholds, results and
// moving vector at every 4-byte offset from a 16-byte boundary, the head writing only its own slots), the
// four regions together giving conj(src1) * src2 at every lag, and a complex self-correlation real at lag 0.
#include <cmath>

#include "layer1/vek/fft/xcorr_kernels.h"
#include "vek_harness.h"

namespace {

template <class E>
using Kernel = void (*)(const E*, const E*, std::int32_t, E*, std::int32_t);

enum Reg { kTail, kHead, kSrc1, kSrc2 };

template <class E>
struct Family {
    const char* name;
    Kernel<E> k[4];  // tail, head, src1 inside, src2 inside
};

#define FAMILY(tag, col)                                                                                          \
    {                                                                                                             \
        #tag "_" #col,                                                                                            \
        {                                                                                                         \
            vek_k_cross_corr_##tag##_tail_##col, vek_k_cross_corr_##tag##_head_##col,                             \
                vek_k_cross_corr_##tag##_src1_inside_##col, vek_k_cross_corr_##tag##_src2_inside_##col            \
        }                                                                                                         \
    }
const Family<float> k32f[] = {FAMILY(32f, wd), FAMILY(32f, ss)};
const Family<double> k64f[] = {FAMILY(64f, wd)};
const Family<VekC32f> k32fc[] = {FAMILY(32fc, wd), FAMILY(32fc, ss)};
const Family<VekC64f> k64fc[] = {FAMILY(64fc, wd)};
#undef FAMILY

template <class E>
constexpr bool is_complex = std::is_same_v<E, VekC32f> || std::is_same_v<E, VekC64f>;

struct V {
    std::int64_t re = 0, im = 0;
};

template <class E>
V val(const E& e)
{
    if constexpr (is_complex<E>) {
        return {static_cast<std::int64_t>(e.re), static_cast<std::int64_t>(e.im)};
    } else {
        return {static_cast<std::int64_t>(e), 0};
    }
}

// x * conj(y) in 64 bits.
V mul_conj(V x, V y)
{
    return {x.re * y.re + x.im * y.im, x.im * y.re - x.re * y.im};
}

template <class E>
E make(int re, int im)
{
    if constexpr (is_complex<E>) {
        return E{static_cast<decltype(E::re)>(re), static_cast<decltype(E::re)>(im)};
    } else {
        (void)im;
        return static_cast<E>(re);
    }
}

template <class E>
bool equal(const E& got, V want)
{
    const V g = val(got);
    if constexpr (is_complex<E>) {
        return g.re == want.re && g.im == want.im && got.re == std::trunc(got.re) && got.im == std::trunc(got.im);
    } else {
        return g.re == want.re && got == std::trunc(got);
    }
}

// A copy of v whose first element lies `offset` bytes past a 16-byte boundary.
template <class E>
struct Placed {
    std::vector<unsigned char> storage;
    E* p;
    Placed(const std::vector<E>& v, std::size_t offset) : storage(v.size() * sizeof(E) + 64)
    {
        const auto base = (reinterpret_cast<std::uintptr_t>(storage.data()) + 15) & ~std::uintptr_t{15};
        p = reinterpret_cast<E*>(base + offset);
        std::memcpy(static_cast<void*>(p), v.data(), v.size() * sizeof(E));
    }
};

struct Case {
    std::int32_t n, count;
    std::size_t outOffset, movingOffset;  // bytes past a 16-byte boundary
};

const Case kCases[] = {
    {40, 5, 0, 0},   {40, 6, 0, 0},  {40, 6, 4, 4},   {40, 6, 8, 8},   {40, 6, 12, 12}, {40, 3, 8, 0},
    {40, 4, 4, 12},  {6, 6, 0, 0},   {7, 6, 4, 0},    {7, 7, 12, 4},   {3, 3, 0, 0},    {2, 2, 8, 0},
    {2, 1, 0, 8},    {1, 1, 4, 4},   {100, 37, 12, 4}, {64, 64, 8, 12}, {33, 4, 4, 8},  {129, 9, 12, 12},
    {40, 0, 0, 0},
};

template <class E>
void check_family(const Family<E>& f, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> u(-40, 40);
    for (const Case& c : kCases) {
        for (int r = kTail; r <= kSrc2; ++r) {
            const bool shrinking = r == kTail || r == kHead;
            // Moving elements the region reads: head/tail 0..n-1, src1 inside 0..count+n-2,
            // src2 inside -(count-1)..n-1.
            const std::int64_t movingLen = shrinking ? c.n : c.n + std::max(c.count, 1) - 1;
            std::vector<E> moving(static_cast<std::size_t>(movingLen)), anchored(static_cast<std::size_t>(c.n));
            for (auto& e : moving) e = make<E>(u(rng), u(rng));
            for (auto& e : anchored) e = make<E>(u(rng), u(rng));
            const std::size_t align = alignof(E);
            Placed<E> m(moving, c.movingOffset / align * align), a(anchored, 0);
            const E* mp = r == kSrc2 ? m.p + (std::max(c.count, 1) - 1) : m.p;
            vektest::GuardedBuffer out(static_cast<std::size_t>(c.count) * sizeof(E), c.outOffset / align * align);
            E* o = out.as<E>() + (r == kHead && c.count > 0 ? c.count - 1 : 0);
            f.k[r](mp, a.p, c.n, o, c.count);
            SCOPED_TRACE(testing::Message() << f.name << " region " << r << " n " << c.n << " count " << c.count
                                            << " offsets " << c.outOffset << "/" << c.movingOffset);
            EXPECT_TRUE(out.intact());
            for (std::int64_t i = 0; i < c.count; ++i) {
                V want;
                const std::int64_t terms = shrinking ? c.n - i : c.n;
                for (std::int64_t t = 0; t < terms; ++t) {
                    const V an = val(a.p[t]);
                    const V mv = val(r == kSrc2 ? mp[t - i] : mp[i + t]);
                    const V p = (r == kHead || r == kSrc2) ? mul_conj(an, mv) : mul_conj(mv, an);
                    want.re += p.re;
                    want.im += p.im;
                }
                const E& got = r == kHead ? o[-i] : o[i];
                EXPECT_TRUE(equal(got, want)) << "result " << i << " got " << val(got).re << "," << val(got).im
                                              << " want " << want.re << "," << want.im;
            }
        }
    }
}

TEST(XcorrKernels, EveryKernelExactOnIntegerData)
{
    for (const auto& f : k32f) check_family(f, 11);
    for (const auto& f : k64f) check_family(f, 12);
    for (const auto& f : k32fc) check_family(f, 13);
    for (const auto& f : k64fc) check_family(f, 14);
}

// c(L) = sum conj(src1[j]) * src2[j + L] for every lag of two vectors, the regions called as the 16-bit
// correlation's walk calls them.
template <class E>
void check_walk(const Family<E>& f, std::int32_t len1, std::int32_t len2)
{
    std::mt19937 rng(static_cast<std::uint32_t>(len1 * 100 + len2));
    std::uniform_int_distribution<int> u(-30, 30);
    std::vector<E> s1(static_cast<std::size_t>(len1)), s2(static_cast<std::size_t>(len2));
    for (auto& e : s1) e = make<E>(u(rng), u(rng));
    for (auto& e : s2) e = make<E>(u(rng), u(rng));
    const std::int64_t lo = -(len1 - 1), total = std::int64_t{len1} + len2 - 1;
    std::vector<E> res(static_cast<std::size_t>(total));
    const std::int32_t d = std::abs(len1 - len2);
    E* p = res.data();
    if (len1 <= len2) {
        f.k[kHead](s1.data() + 1, s2.data(), len1 - 1, p + (len1 - 2), len1 - 1);  // lags -(len1-1) .. -1
        f.k[kSrc1](s2.data(), s1.data(), len1, p + (len1 - 1), d);                    // lags 0 .. d-1
        f.k[kTail](s2.data() + d, s1.data(), len2 - d, p + (len1 - 1) + d, len2 - d);  // lags d .. len2-1
    } else {
        f.k[kHead](s1.data() + d + 1, s2.data(), len2 - 1, p + (len2 - 2), len2 - 1);  // lags .. -D-1
        f.k[kSrc2](s1.data() + d, s2.data(), len2, p + (len2 - 1), d);       // lags -D .. -1
        f.k[kTail](s2.data(), s1.data(), len2, p + (len1 - 1), len2);                  // lags 0 .. len2-1
    }
    for (std::int64_t k = 0; k < total; ++k) {
        V want;
        for (std::int64_t j = 0; j < len1; ++j) {
            const std::int64_t m = j + lo + k;
            if (m >= 0 && m < len2) {
                const V x = mul_conj(val(s2[static_cast<std::size_t>(m)]), val(s1[static_cast<std::size_t>(j)]));
                want.re += x.re;
                want.im += x.im;
            }
        }
        EXPECT_TRUE(equal(res[static_cast<std::size_t>(k)], want))
            << f.name << " len " << len1 << "/" << len2 << " lag " << lo + k;
    }
}

TEST(XcorrKernels, RegionsTogetherGiveTheCorrelationOfTheFirstConjugated)
{
    const std::pair<std::int32_t, std::int32_t> lens[] = {{5, 9}, {9, 5}, {12, 12}, {20, 7}, {3, 30}};
    for (const auto& [l1, l2] : lens) {
        for (const auto& f : k32fc) check_walk(f, l1, l2);
        for (const auto& f : k64fc) check_walk(f, l1, l2);
        for (const auto& f : k32f) check_walk(f, l1, l2);
        for (const auto& f : k64f) check_walk(f, l1, l2);
    }
}

TEST(XcorrKernels, ComplexSelfCorrelationIsRealAtLagZero)
{
    std::mt19937 rng(5);
    std::normal_distribution<double> g(0.0, 1.0);
    for (const std::int32_t n : {1, 2, 5, 17, 64}) {
        std::vector<VekC32f> x(static_cast<std::size_t>(n));
        std::vector<VekC64f> y(static_cast<std::size_t>(n));
        long double energy = 0;
        for (std::size_t j = 0; j < x.size(); ++j) {
            y[j] = {g(rng), g(rng)};
            x[j] = {static_cast<float>(y[j].re), static_cast<float>(y[j].im)};
            energy += static_cast<long double>(y[j].re) * y[j].re + static_cast<long double>(y[j].im) * y[j].im;
        }
        for (const auto& f : k32fc) {
            for (const Reg r : {kSrc1, kTail}) {
                VekC32f o{1, 1};
                f.k[r](x.data(), x.data(), n, &o, 1);
                EXPECT_EQ(o.im, 0.0f) << f.name << " n " << n;
                EXPECT_GE(o.re, 0.0f);
                EXPECT_NEAR(o.re, static_cast<double>(energy), 1e-5 * static_cast<double>(energy) + 1e-6);
            }
        }
        for (const auto& f : k64fc) {
            for (const Reg r : {kSrc1, kTail}) {
                VekC64f o{1, 1};
                f.k[r](y.data(), y.data(), n, &o, 1);
                EXPECT_EQ(o.im, 0.0) << f.name << " n " << n;
                EXPECT_NEAR(o.re, static_cast<double>(energy), 1e-12 * static_cast<double>(energy));
            }
        }
    }
}

}  // namespace
