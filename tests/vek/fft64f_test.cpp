// The double-precision FFT kernels (SSE2 in the paired layout, x87 in place) against a long-double DFT, their
// exact small cases and layouts, the column gather and scatter both on the examples and composed into a
// large transform (leaves, gathered columns, scatter) checked against the reference.
#include <cmath>
#include <cstring>

#include "fft_reference.h"
#include "layer1/vek/fft/engine/fft64f.h"
#include "layer1/vek/fft/engine/fft_engine.h"
#include "vek_harness.h"

namespace {

using ffttest::CL;
using vektest::GuardedBuffer;

constexpr long double kPi2 = 6.28318530717958647692528676655900577L;

// (cos, -sin) of 2*pi*e/size, rounded to double.
void twiddle(std::int64_t e, std::int64_t size, double* c, double* s)
{
    const long double a = kPi2 * static_cast<long double>(e) / static_cast<long double>(size);
    *c = static_cast<double>(cosl(a));
    *s = static_cast<double>(-sinl(a));
}

// Stage-layout table of the SSE2 members: per stage c, per butterfly pair (j, j+1), six vectors.
std::vector<double> stage_table(int order)
{
    std::vector<double> t;
    const std::int64_t n = std::int64_t{1} << order;
    for (std::int64_t c = (order & 1) ? 32 : 16; c <= n; c *= 4) {
        for (std::int64_t j = 0; j < c / 4; j += 2) {
            for (int m = 1; m <= 3; ++m) {
                double c0, s0, c1, s1;
                twiddle(m * j, c, &c0, &s0);
                twiddle(m * (j + 1), c, &c1, &s1);
                t.insert(t.end(), {c0, c1, s0, s1});
            }
        }
    }
    t.resize(t.size() + 2);
    return t;
}

// Entry-layout table of the x87 members: entries 0..N/4 of w^j, w^2j, w^3j.
std::vector<double> entry_table(int order)
{
    const std::int64_t n = std::int64_t{1} << order;
    std::vector<double> t(static_cast<std::size_t>(6 * (n / 4 + 1)));
    for (std::int64_t j = 0; j <= n / 4; ++j) {
        for (int m = 1; m <= 3; ++m) {
            twiddle(m * j, n, &t[6 * j + 2 * (m - 1)], &t[6 * j + 2 * (m - 1) + 1]);
        }
    }
    return t;
}

// A table copied to a 16-byte aligned buffer.
struct Aligned {
    GuardedBuffer buf;
    explicit Aligned(const std::vector<double>& v) : buf(v.size() * 8 + 8, 0)
    {
        std::memcpy(buf.data(), v.data(), v.size() * 8);
    }
    const double* get() { return buf.as<double>(); }
};

std::int64_t rev(std::int64_t i, int bits)
{
    std::int64_t r = 0;
    for (int b = 0; b < bits; ++b) {
        r = (r << 1) | ((i >> b) & 1);
    }
    return r;
}

std::vector<CL> bit_reversed(const std::vector<CL>& x, int order)
{
    std::vector<CL> y(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        y[i] = x[static_cast<std::size_t>(rev(static_cast<std::int64_t>(i), order))];
    }
    return y;
}

std::vector<CL> random_points(std::int64_t n, std::uint32_t seed)
{
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<CL> x(static_cast<std::size_t>(n));
    for (auto& v : x) {
        const double re = u(rng);
        const double im = u(rng);
        v = CL(re, im);
    }
    return x;
}

void put(const std::vector<CL>& x, double* interleaved)
{
    for (std::size_t i = 0; i < x.size(); ++i) {
        interleaved[2 * i] = static_cast<double>(x[i].real());
        interleaved[2 * i + 1] = static_cast<double>(x[i].imag());
    }
}

std::vector<CL> get(const double* interleaved, std::int64_t n)
{
    std::vector<CL> x(static_cast<std::size_t>(n));
    for (std::int64_t i = 0; i < n; ++i) {
        x[static_cast<std::size_t>(i)] = CL(interleaved[2 * i], interleaved[2 * i + 1]);
    }
    return x;
}

void put_split(const std::vector<CL>& x, double* re, double* im)
{
    for (std::size_t i = 0; i < x.size(); ++i) {
        re[i] = static_cast<double>(x[i].real());
        im[i] = static_cast<double>(x[i].imag());
    }
}

std::vector<CL> get_split(const double* re, const double* im, std::int64_t n)
{
    std::vector<CL> x(static_cast<std::size_t>(n));
    for (std::int64_t i = 0; i < n; ++i) {
        x[static_cast<std::size_t>(i)] = CL(re[i], im[i]);
    }
    return x;
}

// The bit-reversal list of the library for an order, owned for the test.
struct Index {
    std::int32_t* p;
    explicit Index(int order) : p(vek_bitrev_index(order)) {}
    ~Index() { vek_free(p); }
};

// Error bound of a double transform of 2^order points: a few units of 2^-53 per stage.
double bound(int order) { return 1.5e-16 * (order + 2); }

enum Member { kCplxReorder, kCplxReorderSame, kCplxInPlace, kSplitReorder, kSplitInPlace, kX87Cplx, kX87Split };

// Runs one member on x; offset is the distance in bytes of every data array from a 64-byte boundary.
std::vector<CL> run(Member m, bool inv, int order, const std::vector<CL>& x, std::size_t offset)
{
    const std::int64_t n = std::int64_t{1} << order;
    Aligned stage(stage_table(order < 3 ? 3 : order));
    const std::vector<double> entry = entry_table(order);
    Index index(order);
    GuardedBuffer work(static_cast<std::size_t>(16 * n), 0);
    GuardedBuffer a(static_cast<std::size_t>(16 * n), offset), b(static_cast<std::size_t>(16 * n), offset);
    double* pa = a.as<double>();
    double* pb = b.as<double>();
    double* w = work.as<double>();
    std::vector<CL> out;
    switch (m) {
    case kCplxReorder:
    case kCplxReorderSame: {
        put(x, pa);
        double* dst = m == kCplxReorderSame ? pa : pb;
        (inv ? vek_k_fft64f_radix4_inv_complex_reorder_wd : vek_k_fft64f_radix4_fwd_complex_reorder_wd)(
            pa, dst, static_cast<std::int32_t>(n), stage.get(), index.p, w);
        out = get(dst, n);
        break;
    }
    case kCplxInPlace:
        put(bit_reversed(x, order), pa);
        (inv ? vek_k_fft64f_radix4_inv_complex_wd : vek_k_fft64f_radix4_fwd_complex_wd)(
            pa, static_cast<std::int32_t>(n), stage.get(), w, 1);
        out = get(pa, n);
        break;
    case kSplitReorder:
        put_split(x, pa, pa + n);
        (inv ? vek_k_fft64f_radix4_inv_split_reorder_wd : vek_k_fft64f_radix4_fwd_split_reorder_wd)(
            pa, pa + n, pb, pb + n, static_cast<std::int32_t>(n), stage.get(), index.p, w);
        out = get_split(pb, pb + n, n);
        break;
    case kSplitInPlace:
        put_split(bit_reversed(x, order), pa, pb);
        (inv ? vek_k_fft64f_radix4_inv_split_wd : vek_k_fft64f_radix4_fwd_split_wd)(
            pa, pb, static_cast<std::int32_t>(n), stage.get(), w);
        out = get_split(pa, pb, n);
        break;
    case kX87Cplx:
        put(bit_reversed(x, order), pa);
        (inv ? vek_k_fft64f_radix4_inv_complex_ss : vek_k_fft64f_radix4_fwd_complex_ss)(
            pa, static_cast<std::int32_t>(n), entry.data());
        out = get(pa, n);
        break;
    case kX87Split:
        put_split(bit_reversed(x, order), pa, pb);
        (inv ? vek_k_fft64f_radix4_inv_split_ss : vek_k_fft64f_radix4_fwd_split_ss)(
            pa, pb, static_cast<std::int32_t>(n), entry.data());
        out = get_split(pa, pb, n);
        break;
    }
    EXPECT_TRUE(a.intact() && b.intact() && work.intact()) << "write outside an array";
    return out;
}

bool sse2(Member m) { return m != kX87Cplx && m != kX87Split; }

TEST(Fft64f, EveryMemberMatchesTheLongDoubleDftAtEveryOrderAndAlignment)
{
    for (Member m : {kCplxReorder, kCplxReorderSame, kCplxInPlace, kSplitReorder, kSplitInPlace, kX87Cplx,
                     kX87Split}) {
        const int lo = sse2(m) ? 3 : 2;
        const int hi = sse2(m) ? 13 : 10;
        for (int order = lo; order <= hi; ++order) {
            if (!sse2(m) && (order & 1) && order > 9) {
                continue;
            }
            const std::vector<CL> x = random_points(std::int64_t{1} << order, 100u + static_cast<unsigned>(order));
            for (bool inv : {false, true}) {
                const std::vector<CL> want = ffttest::reference_dft(x, inv ? 1 : -1);
                for (std::size_t offset : {std::size_t{0}, std::size_t{8}, std::size_t{24}}) {
                    const double err = ffttest::relative_rms(run(m, inv, order, x, offset), want);
                    EXPECT_LE(err, bound(order))
                        << "member " << m << " order " << order << (inv ? " inverse" : " forward") << " offset "
                        << offset;
                }
            }
        }
    }
}

TEST(Fft64f, ImpulseGivesExactOnesAndForwardThenInverseGivesNTimesTheInput)
{
    for (Member m : {kCplxReorder, kCplxInPlace, kSplitReorder, kSplitInPlace, kX87Cplx, kX87Split}) {
        for (int order : {2, 3, 4, 5, 8, 9}) {
            if (sse2(m) && order < 3) {
                continue;
            }
            const std::int64_t n = std::int64_t{1} << order;
            std::vector<CL> impulse(static_cast<std::size_t>(n));
            impulse[0] = 1;
            for (const CL& v : run(m, false, order, impulse, 0)) {
                ASSERT_TRUE(v.real() == 1.0L && v.imag() == 0.0L) << "member " << m << " order " << order;
            }
            const std::vector<CL> x = random_points(n, 7u);
            std::vector<CL> back = run(m, true, order, run(m, false, order, x, 0), 0);
            EXPECT_LE(ffttest::relative_rms(back, x, static_cast<long double>(n)), 2 * bound(order))
                << "member " << m << " order " << order;
        }
    }
}

TEST(Fft64f, SizesBelowFourLeaveTheX87DataUnchanged)
{
    const std::vector<double> t = entry_table(2);
    double d[4] = {1.5, -2.0, 3.25, 4.0};
    vek_k_fft64f_radix4_fwd_complex_ss(d, 2, t.data());
    vek_k_fft64f_radix4_inv_split_ss(d, d + 2, 1, t.data());
    EXPECT_EQ(d[0], 1.5);
    EXPECT_EQ(d[1], -2.0);
    EXPECT_EQ(d[2], 3.25);
    EXPECT_EQ(d[3], 4.0);
}

// Layout flag other than 1: the data holds the paired layout, re0, re1, im0, im1, re2, ...; the same bytes
// whether the kernel worked in the data (aligned) or in the work buffer (misaligned).
TEST(Fft64f, InPlaceMemberLeavesThePairedLayoutWithAnyFlagButOne)
{
    for (int order : {3, 4, 7, 10}) {
        const std::int64_t n = std::int64_t{1} << order;
        const std::vector<CL> x = bit_reversed(random_points(n, 11u), order);
        Aligned stage(stage_table(order));
        GuardedBuffer work(static_cast<std::size_t>(16 * n), 0);
        GuardedBuffer interleaved(static_cast<std::size_t>(16 * n), 0);
        put(x, interleaved.as<double>());
        vek_k_fft64f_radix4_inv_complex_wd(interleaved.as<double>(), static_cast<std::int32_t>(n), stage.get(),
                                           work.as<double>(), 1);
        for (std::size_t offset : {std::size_t{0}, std::size_t{8}}) {
            GuardedBuffer paired(static_cast<std::size_t>(16 * n), offset);
            put(x, paired.as<double>());
            vek_k_fft64f_radix4_inv_complex_wd(paired.as<double>(), static_cast<std::int32_t>(n), stage.get(),
                                               work.as<double>(), 0);
            const double* p = paired.as<double>();
            const double* want = interleaved.as<double>();
            for (std::int64_t b = 0; b < n / 2; ++b) {
                ASSERT_EQ(p[4 * b], want[4 * b]) << "order " << order << " block " << b;
                ASSERT_EQ(p[4 * b + 1], want[4 * b + 2]);
                ASSERT_EQ(p[4 * b + 2], want[4 * b + 1]);
                ASSERT_EQ(p[4 * b + 3], want[4 * b + 3]);
            }
            EXPECT_TRUE(paired.intact());
        }
    }
}

TEST(Fft64f, GatherMultipliesByTheRowTwiddleOrItsConjugate)
{
    // Twiddle row: column k0 (0, -1), column k0 + 1 (1, 0), columns k0 + 2 and k0 + 3 (1, 0).
    alignas(16) double rows[8] = {0, 1, -1, 0, 1, 1, 0, 0};
    alignas(16) double work[8];
    alignas(16) double one[8] = {1, 0, 0, 0, 0, 0, 0, 0};  // paired blocks: point k0 = (1, 0), the rest 0
    for (int direction : {1, 0, 2}) {
        vek_k_fft64f_gather_columns_complex_wd(one, work, rows, direction, 4, 1);
        EXPECT_EQ(work[0], 0.0);
        EXPECT_EQ(work[1], direction == 1 ? -1.0 : 1.0) << "direction " << direction;
    }
    double re[4] = {1, 0, 0, 0}, im[4] = {0, 0, 0, 0};
    vek_k_fft64f_gather_columns_split_wd(re, im, work, rows, 1, 4, 1);
    EXPECT_EQ(work[0], 0.0);
    EXPECT_EQ(work[1], -1.0);
}

TEST(Fft64f, GatherReadsMisalignedDataLikeAlignedData)
{
    const int r = 6, c = 8;
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> u(-1, 1);
    GuardedBuffer rows(64 * r, 0);
    for (int i = 0; i < 8 * r; ++i) {
        rows.as<double>()[i] = u(rng);
    }
    std::vector<double> values(2 * r * c);
    for (auto& v : values) {
        v = u(rng);
    }
    std::vector<double> first;
    for (std::size_t offset : {std::size_t{0}, std::size_t{8}}) {
        GuardedBuffer data(values.size() * 8, offset), work(64 * r, 0);
        std::memcpy(data.data(), values.data(), values.size() * 8);
        vek_k_fft64f_gather_columns_complex_wd(data.as<double>() + 4, work.as<double>(), rows.as<double>(), 1, c, r);
        std::vector<double> got(work.as<double>(), work.as<double>() + 8 * r);
        if (first.empty()) {
            first = got;
        } else {
            EXPECT_EQ(got, first);
        }
        // Row j, column 2 + i of the group: paired block at 2 * j * c + 4 + ...
        for (int j = 0; j < r; ++j) {
            for (int i = 0; i < 4; ++i) {
                const double* blk = values.data() + 2 * j * c + 4 + 4 * (i / 2);
                const double pr = blk[i % 2], pi = blk[2 + i % 2];
                const double* row = rows.as<double>() + 8 * j + 4 * (i / 2);
                const double a = row[i % 2], b = row[2 + i % 2];
                EXPECT_EQ(got[static_cast<std::size_t>(2 * (i * r + j))], pr * a - pi * b);
                EXPECT_EQ(got[static_cast<std::size_t>(2 * (i * r + j) + 1)], pi * a + pr * b);
            }
        }
    }
}

TEST(Fft64f, ScatterWritesRowsInterleavedOrPaired)
{
    const int r = 2, c = 6;
    // Work columns in the paired layout: p(col, q) = (10 * col + q) + i * (100 + 10 * col + q).
    alignas(16) double work[16];
    for (int col = 0; col < 4; ++col) {
        work[4 * col + 0] = 10 * col;
        work[4 * col + 1] = 10 * col + 1;
        work[4 * col + 2] = 100 + 10 * col;
        work[4 * col + 3] = 100 + 10 * col + 1;
    }
    for (int flag : {1, 0}) {
        std::vector<double> data(static_cast<std::size_t>(2 * r * c) + 1, -7.0);
        double* d = data.data() + 1;  // 8-byte aligned only
        vek_k_fft64f_scatter_columns_complex_wd(d + 2, work, c, r, flag);
        for (int q = 0; q < r; ++q) {
            const double* row = d + 2 * q * c + 2;
            for (int col = 0; col < 4; ++col) {
                const double re = 10 * col + q, im = 100 + 10 * col + q;
                if (flag == 1) {
                    EXPECT_EQ(row[2 * col], re);
                    EXPECT_EQ(row[2 * col + 1], im);
                } else {
                    EXPECT_EQ(row[4 * (col / 2) + col % 2], re);
                    EXPECT_EQ(row[4 * (col / 2) + 2 + col % 2], im);
                }
            }
            EXPECT_EQ(d[2 * q * c], -7.0) << "column k0 - 1 untouched";
            EXPECT_EQ(d[2 * q * c + 10], -7.0) << "column k0 + 4 untouched";
        }
    }
    std::vector<double> re(r * c, -7.0), im(r * c, -7.0);
    vek_k_fft64f_scatter_columns_split_wd(re.data() + 1, im.data() + 1, work, c, r);
    for (int q = 0; q < r; ++q) {
        for (int col = 0; col < 4; ++col) {
            EXPECT_EQ(re[static_cast<std::size_t>(q * c + 1 + col)], 10 * col + q);
            EXPECT_EQ(im[static_cast<std::size_t>(q * c + 1 + col)], 100 + 10 * col + q);
        }
    }
}

// Level twiddle rows of a level of order n with 2^f rows: group of columns k0..k0+3, row j:
// (a(k0), a(k0+1)), (b(k0), b(k0+1)), (a(k0+2), a(k0+3)), (b(k0+2), b(k0+3)), a + ib = e^(-2 pi i rev(j) k / N).
std::vector<double> level_rows(int n, int f)
{
    const std::int64_t rows = std::int64_t{1} << f, cols = std::int64_t{1} << (n - f), size = std::int64_t{1} << n;
    std::vector<double> t(static_cast<std::size_t>(2 * rows * cols) + 2);
    for (std::int64_t k0 = 0; k0 < cols; k0 += 4) {
        for (std::int64_t j = 0; j < rows; ++j) {
            double* row = &t[static_cast<std::size_t>(k0 / 4 * rows * 8 + 8 * j)];
            for (int i = 0; i < 4; ++i) {
                twiddle(rev(j, f) * (k0 + i), size, &row[4 * (i / 2) + i % 2], &row[4 * (i / 2) + 2 + i % 2]);
            }
        }
    }
    return t;
}

// A transform of 2^n points built from the kernels as one level: 2^f leaves of 2^(n-f) points on the
// bit-reversed data (left in the paired layout), then the columns gathered four at a time with the level
// twiddles, transformed in the work buffer and scattered back as interleaved points.
std::vector<CL> level_transform(const std::vector<CL>& x, int n, int f, bool inv, bool split)
{
    const std::int64_t rows = std::int64_t{1} << f, cols = std::int64_t{1} << (n - f), size = rows * cols;
    Aligned leafTable(stage_table(n - f)), colTable(stage_table(f)), twid(level_rows(n, f));
    GuardedBuffer data(static_cast<std::size_t>(16 * size), 0), work(static_cast<std::size_t>(64 * rows), 0);
    GuardedBuffer leafWork(static_cast<std::size_t>(16 * cols), 0);
    double* d = data.as<double>();
    double* w = work.as<double>();
    const std::vector<CL> br = bit_reversed(x, n);
    auto col = inv ? vek_k_fft64f_radix4_inv_complex_wd : vek_k_fft64f_radix4_fwd_complex_wd;
    if (split) {
        put_split(br, d, d + size);
        for (std::int64_t j = 0; j < rows; ++j) {
            (inv ? vek_k_fft64f_radix4_inv_split_wd : vek_k_fft64f_radix4_fwd_split_wd)(
                d + j * cols, d + size + j * cols, static_cast<std::int32_t>(cols), leafTable.get(),
                leafWork.as<double>());
        }
    } else {
        put(br, d);
        for (std::int64_t j = 0; j < rows; ++j) {
            col(d + 2 * j * cols, static_cast<std::int32_t>(cols), leafTable.get(), leafWork.as<double>(), 0);
        }
    }
    const auto c32 = static_cast<std::int32_t>(cols), r32 = static_cast<std::int32_t>(rows);
    for (std::int64_t k0 = 0; k0 < cols; k0 += 4) {
        const double* t = twid.get() + k0 / 4 * rows * 8;
        if (split) {
            vek_k_fft64f_gather_columns_split_wd(d + k0, d + size + k0, w, t, inv ? 2 : 1, c32, r32);
        } else {
            vek_k_fft64f_gather_columns_complex_wd(d + 2 * k0, w, t, inv ? 0 : 1, c32, r32);
        }
        for (int i = 0; i < 4; ++i) {
            col(w + 2 * rows * i, r32, colTable.get(), nullptr, 0);
        }
        if (split) {
            vek_k_fft64f_scatter_columns_split_wd(d + k0, d + size + k0, w, c32, r32);
        } else {
            vek_k_fft64f_scatter_columns_complex_wd(d + 2 * k0, w, c32, r32, 1);
        }
    }
    EXPECT_TRUE(data.intact() && work.intact() && leafWork.intact());
    return split ? get_split(d, d + size, size) : get(d, size);
}

TEST(Fft64f, GatherColumnTransformsAndScatterMakeALargeTransform)
{
    struct Level {
        int n, f;
    };
    for (Level l : {Level{7, 3}, Level{11, 4}, Level{14, 6}, Level{16, 8}}) {
        const std::vector<CL> x = random_points(std::int64_t{1} << l.n, 5u);
        for (bool inv : {false, true}) {
            const std::vector<CL> want = ffttest::reference_dft(x, inv ? 1 : -1);
            for (bool split : {false, true}) {
                EXPECT_LE(ffttest::relative_rms(level_transform(x, l.n, l.f, inv, split), want), bound(l.n))
                    << "order " << l.n << " factor " << l.f << (inv ? " inverse" : " forward")
                    << (split ? " split" : " complex");
            }
        }
    }
}

}  // namespace
