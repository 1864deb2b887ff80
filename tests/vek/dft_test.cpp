// The DFT of any length (slots 241-244) in every column against a long-double DFT that is scaled, rounded to
// nearest and saturated: small lengths, direct lengths, powers of two and chirp-z lengths, both directions,
// every flag, in place; plus the exact small cases, argument checks and clean failures.
#include <cmath>

#include "fft_reference.h"
#include "layer1/vek/core/vek_memory.h"
#include "layer1/vek/fft/dft.h"
#include "vek_harness.h"

namespace {

using ffttest::CL;

constexpr std::int32_t kFlags[] = {VEK_FFT_NORM_FWD, VEK_FFT_NORM_INV, VEK_FFT_NORM_SQRT, VEK_FFT_NORM_NONE};

int rounded(long double v)
{
    const long double r = nearbyintl(v);
    return static_cast<int>(r > 32767 ? 32767 : (r < -32768 ? -32768 : r));
}

// Largest |got - want| of one transform; sf is chosen so that the outputs stay in range.
int worst_error(int col, std::int32_t n, bool inverse, std::int32_t flag, bool inPlace, std::size_t workOffset)
{
    DftSpec* spec = nullptr;
    EXPECT_EQ(vek_variant<VekSlot::vek_dft_init>(col)(&spec, n, flag, 5), VEK_OK);
    if (spec == nullptr) {
        return 1 << 20;
    }
    std::mt19937 rng(static_cast<std::uint32_t>(n * 8 + flag));
    std::uniform_int_distribution<int> u(-20000, 20000);
    std::vector<VekC16> src(static_cast<std::size_t>(n)), out(static_cast<std::size_t>(n));
    std::vector<CL> x(static_cast<std::size_t>(n));
    for (std::int32_t i = 0; i < n; ++i) {
        src[i] = VekC16{static_cast<std::int16_t>(u(rng)), static_cast<std::int16_t>(u(rng))};
        x[i] = CL(src[i].re, src[i].im);
    }
    auto want = ffttest::reference_dft(x, inverse ? 1 : -1);
    long double s = 1.0L;
    if (flag == VEK_FFT_NORM_SQRT) {
        s = 1.0L / sqrtl(n);
    } else if (flag == (inverse ? VEK_FFT_NORM_INV : VEK_FFT_NORM_FWD)) {
        s = 1.0L / n;
    }
    long double peak = 0;
    for (const auto& v : want) {
        peak = std::max({peak, fabsl(v.real() * s), fabsl(v.imag() * s)});
    }
    std::int32_t sf = n % 3 == 0 ? -1 : 0;
    while (ldexpl(peak, -sf) > 30000) {
        ++sf;
    }
    vektest::GuardedBuffer work(static_cast<std::size_t>(spec->workBytes), workOffset);
    VekC16* dst = inPlace ? src.data() : out.data();
    const auto run = inverse ? vek_variant<VekSlot::vek_dft_inv>(col) : vek_variant<VekSlot::vek_dft_fwd>(col);
    EXPECT_EQ(run(src.data(), dst, spec, sf, spec->workBytes > 0 ? work.data() : nullptr), VEK_OK);
    EXPECT_TRUE(work.intact());
    EXPECT_EQ(vek_variant<VekSlot::vek_dft_free>(col)(spec), VEK_OK);
    int worst = 0;
    for (std::int32_t k = 0; k < n; ++k) {
        worst = std::max(worst, std::abs(dst[k].re - rounded(ldexpl(want[k].real() * s, -sf))));
        worst = std::max(worst, std::abs(dst[k].im - rounded(ldexpl(want[k].imag() * s, -sf))));
    }
    return worst;
}

std::vector<std::int32_t> lengths()
{
    std::vector<std::int32_t> v;
    for (std::int32_t n = 1; n <= 160; ++n) {
        v.push_back(n);
    }
    for (std::int32_t n : {199, 256, 257, 300, 509, 1000, 1021, 4095, 4096, 10007}) {
        v.push_back(n);
    }
    return v;
}

TEST(Dft16, EveryLengthClassWithinOneLsbInEveryColumn)
{
    for (std::int32_t n : lengths()) {
        for (int col : vektest::kColumns) {
            for (int inv = 0; inv < 2; ++inv) {
                const std::int32_t flag = kFlags[(n + inv + col) % 4];
                const int e = worst_error(col, n, inv != 0, flag, (n + col) % 2 == 0, static_cast<std::size_t>(n % 16));
                EXPECT_LE(e, 1) << vektest::column_name(col) << " n " << n << " inv " << inv << " flag " << flag;
            }
        }
    }
}

TEST(Dft16, LengthOneRoundsHalfUpAndSmallLengthsAreExact)
{
    for (int col : vektest::kColumns) {
        DftSpec* spec = nullptr;
        ASSERT_EQ(vek_variant<VekSlot::vek_dft_init>(col)(&spec, 1, 99, 0), VEK_OK);  // the flag is not looked at
        VekC16 v{3, -3};
        VekC16 out{};
        EXPECT_EQ(vek_variant<VekSlot::vek_dft_fwd>(col)(&v, &out, spec, 1, nullptr), VEK_OK);
        EXPECT_EQ(out.re, 2);
        EXPECT_EQ(out.im, -1);
        vek_variant<VekSlot::vek_dft_free>(col)(spec);
        for (std::int32_t n : {2, 3, 4}) {
            ASSERT_EQ(vek_variant<VekSlot::vek_dft_init>(col)(&spec, n, VEK_FFT_NORM_NONE, 0), VEK_OK);
            const VekC16 in[4] = {{1, 2}, {-3, 4}, {5, -6}, {7, 8}};
            VekC16 y[4];
            vek_variant<VekSlot::vek_dft_fwd>(col)(in, y, spec, 0, nullptr);
            if (n == 4) {
                EXPECT_EQ(y[0].re, 10);
                EXPECT_EQ(y[0].im, 8);
                EXPECT_EQ(y[1].re, 1 + 4 - 5 - 8);  // re(x0 - i x1 - x2 + i x3)
                EXPECT_EQ(y[2].re, 1 + 3 + 5 - 7);
            } else if (n == 2) {
                EXPECT_EQ(y[1].re, 4);
                EXPECT_EQ(y[1].im, -2);
            }
            vek_variant<VekSlot::vek_dft_free>(col)(spec);
        }
    }
}

TEST(Dft16, ArgumentChecksAndCleanFailures)
{
    const std::int64_t before = vek_pool_outstanding();
    for (int col : vektest::kColumns) {
        DftSpec* spec = nullptr;
        const auto init = vek_variant<VekSlot::vek_dft_init>(col);
        EXPECT_EQ(init(nullptr, 0, 3, 0), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(init(&spec, 0, 1, 0), VEK_ERR_SIZE);
        EXPECT_EQ(init(&spec, 5, 3, 0), VEK_ERR_FFT_FLAG);
        EXPECT_EQ(init(&spec, 0x7FFFFFFF, 1, 0), VEK_ERR_NO_MEMORY);
        EXPECT_EQ(init(&spec, 1 << 28, 1, 0), VEK_ERR_NO_MEMORY);
        EXPECT_EQ(spec, nullptr);
        for (std::int32_t n : {3, 8, 100, 151, 1024}) {
            for (int k = 1;; ++k) {
                vek_pool_fail_at(k);
                const VekStatus st = init(&spec, n, VEK_FFT_NORM_INV, 0);
                vek_pool_fail_at(0);
                if (st == VEK_OK) {
                    std::vector<VekC16> d(static_cast<std::size_t>(n));
                    vek_pool_fail_at(1);
                    EXPECT_EQ(vek_variant<VekSlot::vek_dft_fwd>(col)(d.data(), d.data(), spec, 0, nullptr),
                              VEK_ERR_NO_MEMORY);
                    vek_pool_fail_at(0);
                    EXPECT_EQ(vek_variant<VekSlot::vek_fft_free_complex>(col)(reinterpret_cast<FftSpec*>(spec)),
                              VEK_ERR_CONTEXT_MISMATCH);
                    EXPECT_EQ(vek_variant<VekSlot::vek_dft_fwd>(col)(nullptr, d.data(), spec, 0, nullptr),
                              VEK_ERR_NULL_POINTER);
                    EXPECT_EQ(vek_variant<VekSlot::vek_dft_free>(col)(spec), VEK_OK);
                    break;
                }
                EXPECT_EQ(st, VEK_ERR_NO_MEMORY);
                EXPECT_EQ(vek_pool_outstanding(), before) << n << " " << k;
            }
        }
    }
    EXPECT_EQ(vek_pool_outstanding(), before);
}

}  // namespace
