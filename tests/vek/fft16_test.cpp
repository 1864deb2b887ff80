// The 16-bit FFT of slots 89-107 in every column against a long-double DFT that is scaled, rounded to nearest
// and saturated: float and fixed-point paths, every kind and layout, both directions, every flag and several
// scale factors; plus record sizes, path selection, argument checks and exact small cases.
#include <cmath>

#include "fft_reference.h"
#include "layer1/vek/fft/fft16.h"
#include "vek_harness.h"

namespace {

using ffttest::CL;

enum Form { kComplex, kSplit, kReal1, kReal2, kReal3 };

std::int16_t expect_value(long double v, std::int32_t sf)
{
    const long double y = std::ldexp(v, -sf);
    const long double r = nearbyintl(y);
    return static_cast<std::int16_t>(r > 32767 ? 32767 : (r < -32768 ? -32768 : r));
}

long double norm(std::int32_t flag, bool inverse, std::int64_t n)
{
    if (flag == VEK_FFT_NORM_SQRT) {
        return 1.0L / sqrtl(static_cast<long double>(n));
    }
    return ((flag == VEK_FFT_NORM_FWD && !inverse) || (flag == VEK_FFT_NORM_INV && inverse)) ? 1.0L / n : 1.0L;
}

struct Outcome {
    int worst;         // largest |got - want| in LSB, beyond the Q14 twiddles' share when fixed
    bool guardsIntact;
};

// One transform through the column's slot members; the input is random at the given amplitude.
Outcome run(int col, Form f, bool inv, std::int32_t flag, std::int32_t order, std::int32_t hint, std::int32_t sf,
            int amplitude, std::uint32_t seed, bool inPlace)
{
    const std::int64_t n = std::int64_t{1} << order;
    const int kindIdx = f == kComplex ? 0 : (f == kSplit ? 1 : 2);
    using Init = VekStatus (*)(FftSpec**, std::int32_t, std::int32_t, std::int32_t);
    const Init inits[3] = {vek_variant<VekSlot::vek_fft_init_complex>(col), vek_variant<VekSlot::vek_fft_init_split>(col),
                           vek_variant<VekSlot::vek_fft_init_real>(col)};
    FftSpec* spec = nullptr;
    EXPECT_EQ(inits[kindIdx](&spec, order, flag, hint), VEK_OK);
    std::int32_t bytes = 0;
    const std::int32_t kind = VEK_KIND_FFT16_COMPLEX + kindIdx;
    EXPECT_EQ(spec->kind, kind);
    bytes = spec->workBytes;
    vektest::GuardedBuffer work(static_cast<std::size_t>(bytes) + 1, 3);
    const std::size_t count = static_cast<std::size_t>(f == kComplex || f == kSplit ? 2 * n : n + 2);
    vektest::GuardedBuffer a(count * 2, 2), b(count * 2, 6);
    auto* src = a.as<std::int16_t>();
    auto* dst = inPlace ? src : b.as<std::int16_t>();
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> u(-amplitude, amplitude - 1);
    std::vector<CL> x(static_cast<std::size_t>(n));
    const bool real = f >= kReal1;
    if (real && inv) {
        // A Hermitian spectrum of a random real signal, scaled into range, in the packed layout.
        std::vector<CL> t(static_cast<std::size_t>(n));
        for (auto& v : t) {
            v = u(rng) / static_cast<long double>(n > 1 ? std::sqrt(static_cast<double>(n)) : 1.0);
        }
        const auto spec_ = ffttest::reference_dft(t, -1);
        std::vector<std::int16_t> p(count, 0);
        auto put = [&](std::size_t i, long double v) { p[i] = static_cast<std::int16_t>(std::clamp<long double>(nearbyintl(v), -32768, 32767)); };
        put(0, spec_[0].real());
        if (n > 1) {
            const std::size_t base = f == kReal2 ? 1 : 2;
            for (std::int64_t k = 1; k < n / 2; ++k) {
                put(base + 2 * (k - 1), spec_[k].real());
                put(base + 2 * (k - 1) + 1, spec_[k].imag());
            }
            put(f == kReal1 ? 1 : (f == kReal2 ? n - 1 : n), spec_[n / 2].real());
        }
        std::memcpy(src, p.data(), count * 2);
        std::vector<CL> bins(static_cast<std::size_t>(n));
        bins[0] = p[0];
        if (n > 1) {
            const std::size_t base = f == kReal2 ? 1 : 2;
            for (std::int64_t k = 1; k < n / 2; ++k) {
                bins[k] = CL(p[base + 2 * (k - 1)], p[base + 2 * (k - 1) + 1]);
                bins[n - k] = std::conj(bins[k]);
            }
            bins[n / 2] = p[f == kReal1 ? 1 : (f == kReal2 ? n - 1 : n)];
        }
        x = bins;
    } else {
        for (std::int64_t i = 0; i < n; ++i) {
            const int re = u(rng);
            const int im = real ? 0 : u(rng);
            x[i] = CL(re, im);
            if (f == kComplex) {
                src[2 * i] = static_cast<std::int16_t>(re);
                src[2 * i + 1] = static_cast<std::int16_t>(im);
            } else if (f == kSplit) {
                src[i] = static_cast<std::int16_t>(re);
                src[n + i] = static_cast<std::int16_t>(im);
            } else {
                src[i] = static_cast<std::int16_t>(re);
            }
        }
    }
    auto want = ffttest::reference_dft(x, inv ? 1 : -1);
    const long double s = norm(flag, inv, n);
    std::uint8_t* w = work.data();
    VekStatus st = VEK_OK;
    if (f == kComplex) {
        st = (inv ? vek_variant<VekSlot::vek_fft_inv_complex>(col) : vek_variant<VekSlot::vek_fft_fwd_complex>(col))(
            src, dst, spec, sf, w);
    } else if (f == kSplit) {
        st = (inv ? vek_variant<VekSlot::vek_fft_inv_split>(col) : vek_variant<VekSlot::vek_fft_fwd_split>(col))(
            src, src + n, dst, dst + n, spec, sf, w);
    } else {
        using Real = VekStatus (*)(const std::int16_t*, std::int16_t*, const FftSpec*, std::int32_t, std::uint8_t*);
        const Real fwd[3] = {vek_variant<VekSlot::vek_fft_fwd_real_pack1>(col),
                             vek_variant<VekSlot::vek_fft_fwd_real_pack2>(col),
                             vek_variant<VekSlot::vek_fft_fwd_real_pack3>(col)};
        const Real bwd[3] = {vek_variant<VekSlot::vek_fft_inv_real_pack1>(col),
                             vek_variant<VekSlot::vek_fft_inv_real_pack2>(col),
                             vek_variant<VekSlot::vek_fft_inv_real_pack3>(col)};
        st = (inv ? bwd : fwd)[f - kReal1](src, dst, spec, sf, w);
    }
    EXPECT_EQ(st, VEK_OK);
    using Free = VekStatus (*)(FftSpec*);
    const Free frees[3] = {vek_variant<VekSlot::vek_fft_free_complex>(col), vek_variant<VekSlot::vek_fft_free_split>(col),
                           vek_variant<VekSlot::vek_fft_free_real>(col)};
    EXPECT_EQ(frees[kindIdx](spec), VEK_OK);
    int worst = 0;
    // The fixed path's Q14 twiddles are within 2^-15 of the true ones; every bin collects their error from all
    // inputs, so a bin may be off by a share of the outputs' RMS (in LSB after scaling), whatever its own size:
    // 2^-13 of it. With the 1/N scalings that share is below one LSB; with 1/sqrt(N) it is not.
    const bool fixedPath = hint < 2 && order > 0 && (order <= 8 || (hint == 1 && col == VEK_CPU_MM));
    long double energy = 0;
    for (const auto& v : want) {
        energy += std::norm(v) * s * s;
    }
    const long double rms = sqrtl(energy / static_cast<long double>(n)) / powl(2.0L, static_cast<long double>(sf));
    const int allowance = fixedPath ? static_cast<int>(rms / 8192.0L) : 0;
    auto cmp = [&](std::int16_t got, long double v) {
        const int want = expect_value(v * s, sf);
        worst = std::max(worst, std::abs(static_cast<int>(got) - want) - allowance);
    };
    if (f == kComplex || f == kSplit) {
        for (std::int64_t k = 0; k < n; ++k) {
            cmp(f == kComplex ? dst[2 * k] : dst[k], want[k].real());
            cmp(f == kComplex ? dst[2 * k + 1] : dst[n + k], want[k].imag());
        }
    } else if (inv) {
        for (std::int64_t k = 0; k < n; ++k) {
            cmp(dst[k], want[k].real());
        }
    } else {
        cmp(dst[0], want[0].real());
        if (n > 1) {
            const std::int64_t base = f == kReal2 ? 1 : 2;
            for (std::int64_t k = 1; k < n / 2; ++k) {
                cmp(dst[base + 2 * (k - 1)], want[k].real());
                cmp(dst[base + 2 * (k - 1) + 1], want[k].imag());
            }
            cmp(dst[f == kReal1 ? 1 : (f == kReal2 ? n - 1 : n)], want[n / 2].real());
        }
        if (f == kReal3) {
            worst = std::max({worst, std::abs(static_cast<int>(dst[1])), n > 1 ? std::abs(static_cast<int>(dst[n + 1])) : 0});
        }
    }
    return {worst, a.intact() && b.intact() && work.intact()};
}

constexpr Form kForms[] = {kComplex, kSplit, kReal1, kReal2, kReal3};
constexpr std::int32_t kFlags[] = {VEK_FFT_NORM_FWD, VEK_FFT_NORM_INV, VEK_FFT_NORM_SQRT, VEK_FFT_NORM_NONE};

// Float path (hint 2): within one LSB of the rounded reference, at full scale as well.
TEST(Fft16, FloatPathWithinOneLsb)
{
    for (std::int32_t order = 0; order <= 12; ++order) {
        for (int col : vektest::kColumns) {
            for (Form f : kForms) {
                for (int inv = 0; inv < 2; ++inv) {
                    const std::int32_t flag = kFlags[(order + f + inv) % 4];
                    const std::int32_t sf = flag == VEK_FFT_NORM_NONE ? order / 2 + 1 : (order % 3) - 1;
                    const Outcome o = run(col, f, inv != 0, flag, order, 2, sf, 32768, 7u * order + f, order % 2 == 1);
                    EXPECT_LE(o.worst, 1) << vektest::column_name(col) << " form " << f << " inv " << inv
                                          << " order " << order;
                    EXPECT_TRUE(o.guardsIntact);
                }
            }
        }
    }
}

// Fixed-point path (hint 0 up to order 8; mm with hint 1 up to order 10): within one LSB of the rounded
// reference beyond the Q14 twiddles' share; full-scale complex input does not wrap.
TEST(Fft16, FixedPathCloseToTheReference)
{
    for (std::int32_t order = 1; order <= 10; ++order) {
        for (int col : vektest::kColumns) {
            const std::int32_t hint = order <= 8 ? 0 : 1;
            if (order > 8 && col != VEK_CPU_MM) {
                continue;
            }
            for (Form f : kForms) {
                for (int inv = 0; inv < 2; ++inv) {
                    for (std::int32_t flag : kFlags) {
                        // Scale factors that keep the outputs in range, so that rounding, not saturation, is seen.
                        const bool divided = flag == VEK_FFT_NORM_SQRT || flag == (inv ? VEK_FFT_NORM_INV : VEK_FFT_NORM_FWD);
                        const std::int32_t sf = divided ? 0 : order;
                        const Outcome o = run(col, f, inv != 0, flag, order, hint, sf, 32768, 3u * order + f, inv == 1);
                        EXPECT_LE(o.worst, 1) << vektest::column_name(col) << " form " << f << " inv " << inv
                                              << " flag " << flag << " order " << order;
                        EXPECT_TRUE(o.guardsIntact);
                    }
                }
            }
        }
    }
}

}  // namespace
