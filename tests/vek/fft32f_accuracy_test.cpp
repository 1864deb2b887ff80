// The float FFT of every column against a long-double reference: every kind, packed layout, direction and
// normalisation, in place and out of place, at misaligned addresses, with and without a caller's work buffer.
#include <cstring>
#include <map>
#include <tuple>

#include "fft_reference.h"
#include "layer1/vek/fft/fft32f.h"
#include "vek_harness.h"

namespace {

using ffttest::CL;

enum Form { kComplex, kSplit, kReal1, kReal2, kReal3 };

struct Case {
    int column;
    Form form;
    bool inverse;
    std::int32_t flag;
    std::int32_t order;
    bool inPlace;
    std::size_t offset;  // bytes past a 64-byte boundary of every array
    bool callerWork;
};

long double scale_of(std::int32_t flag, bool inverse, std::int64_t n)
{
    if (flag == VEK_FFT_NORM_SQRT) {
        return 1.0L / sqrtl(static_cast<long double>(n));
    }
    if ((flag == VEK_FFT_NORM_FWD && !inverse) || (flag == VEK_FFT_NORM_INV && inverse)) {
        return 1.0L / static_cast<long double>(n);
    }
    return 1.0L;
}

// Packed spectrum (floats) of bins 0..N/2 in a layout.
std::vector<float> pack(const std::vector<CL>& bins, std::int64_t n, Form f)
{
    std::vector<float> p(static_cast<std::size_t>(n + 2), 0.0f);
    p[0] = static_cast<float>(bins[0].real());
    if (n == 1) {
        return p;
    }
    const int base = f == kReal2 ? 1 : 2;
    for (std::int64_t k = 1; k < n / 2; ++k) {
        p[base + 2 * (k - 1) + (f == kReal2 ? 0 : 0)] = static_cast<float>(bins[k].real());
        p[base + 2 * (k - 1) + 1] = static_cast<float>(bins[k].imag());
    }
    const float nyq = static_cast<float>(bins[n / 2].real());
    if (f == kReal1) {
        p[1] = nyq;
    } else if (f == kReal2) {
        p[n - 1] = nyq;
    } else {
        p[n] = nyq;
    }
    return p;
}

std::vector<CL> unpack(const float* p, std::int64_t n, Form f)
{
    std::vector<CL> bins(static_cast<std::size_t>(n / 2 + 1));
    bins[0] = p[0];
    if (n == 1) {
        return bins;
    }
    const int base = f == kReal2 ? 1 : 2;
    for (std::int64_t k = 1; k < n / 2; ++k) {
        bins[k] = CL(p[base + 2 * (k - 1)], p[base + 2 * (k - 1) + 1]);
    }
    bins[n / 2] = f == kReal1 ? p[1] : (f == kReal2 ? p[n - 1] : p[n]);
    return bins;
}

// Runs one case; returns the relative RMS error against the reference (negative: a call failed).
double run_case(const Case& c, bool* guardsIntact = nullptr)
{
    const Fft32fOps& ops = vek_fft32f_ops(c.column);
    const std::int64_t n = std::int64_t{1} << c.order;
    const bool real = c.form >= kReal1;
    const int kindIdx = c.form == kComplex ? 0 : (c.form == kSplit ? 1 : 2);
    FftSpec32f* spec = nullptr;
    if (ops.init[kindIdx](&spec, c.order, c.flag, 0) != VEK_OK) {
        return -1.0;
    }
    std::int32_t workBytes = 0;
    ops.size[kindIdx](spec, &workBytes);
    vektest::GuardedBuffer work(static_cast<std::size_t>(workBytes) + 1, c.offset);

    const auto x = ffttest::random_signal(static_cast<std::size_t>(n), 1000u + static_cast<std::uint32_t>(c.order),
                                          real);
    // One reference per order, data kind and direction: every layout and flag sees the same input values.
    static std::map<std::tuple<std::int32_t, bool, bool>, std::vector<CL>> cache;
    std::vector<CL> input = x;
    if (real && c.inverse) {
        auto& spectrum = cache[{c.order, true, false}];  // the forward reference is a Hermitian spectrum
        if (spectrum.empty()) {
            spectrum = ffttest::reference_dft(x, -1);
        }
        input = spectrum;
    }
    const std::size_t floats = static_cast<std::size_t>(real ? n + 2 : 2 * n);
    vektest::GuardedBuffer a(floats * 4, c.offset);
    vektest::GuardedBuffer b(floats * 4, c.offset);
    float* src = a.as<float>();
    float* dst = c.inPlace ? src : b.as<float>();
    if (c.form == kComplex) {
        for (std::int64_t i = 0; i < n; ++i) {
            src[2 * i] = static_cast<float>(input[i].real());
            src[2 * i + 1] = static_cast<float>(input[i].imag());
        }
    } else if (c.form == kSplit) {
        for (std::int64_t i = 0; i < n; ++i) {
            src[i] = static_cast<float>(input[i].real());
            src[n + i] = static_cast<float>(input[i].imag());
        }
    } else if (!c.inverse) {
        for (std::int64_t i = 0; i < n; ++i) {
            src[i] = static_cast<float>(input[i].real());
        }
    } else {
        const auto p = pack(input, n, c.form);
        std::memcpy(src, p.data(), static_cast<std::size_t>(c.form == kReal3 ? n + 2 : n) * 4);
    }
    // The reference sees exactly the float values the transform sees.
    std::vector<CL> in(static_cast<std::size_t>(n));
    if (real && c.inverse) {
        const auto bins = unpack(src, n, c.form);
        for (std::int64_t k = 0; k < n; ++k) {
            in[k] = k <= n / 2 ? bins[k] : std::conj(bins[n - k]);
        }
    } else {
        for (std::int64_t i = 0; i < n; ++i) {
            in[i] = c.form == kComplex ? CL(src[2 * i], src[2 * i + 1])
                                       : (c.form == kSplit ? CL(src[i], src[n + i]) : CL(src[i], 0));
        }
    }
    auto& cached = cache[{c.order, real, c.inverse}];
    if (cached.empty()) {
        cached = ffttest::reference_dft(in, c.inverse ? 1 : -1);
    }
    const std::vector<CL>& want = cached;
    const long double s = scale_of(c.flag, c.inverse, n);
    std::uint8_t* w = c.callerWork ? work.data() : nullptr;
    VekStatus st;
    if (c.form == kComplex) {
        st = ops.complex[c.inverse](src, dst, spec, w);
    } else if (c.form == kSplit) {
        st = ops.split[c.inverse](src, src + n, dst, dst + n, spec, w);
    } else {
        st = (c.inverse ? ops.realInv : ops.realFwd)[c.form - kReal1](src, dst, spec, w);
    }
    ops.free[kindIdx](spec);
    if (st != VEK_OK) {
        return -2.0;
    }
    if (guardsIntact != nullptr) {
        *guardsIntact = a.intact() && b.intact() && work.intact();
    }
    std::vector<CL> got(static_cast<std::size_t>(n));
    if (c.form == kComplex) {
        for (std::int64_t i = 0; i < n; ++i) {
            got[i] = CL(dst[2 * i], dst[2 * i + 1]);
        }
    } else if (c.form == kSplit) {
        for (std::int64_t i = 0; i < n; ++i) {
            got[i] = CL(dst[i], dst[n + i]);
        }
    } else if (!c.inverse) {
        const auto bins = unpack(dst, n, c.form);
        got.assign(bins.begin(), bins.end());
        if (c.form == kReal3 && (dst[1] != 0.0f || (n > 1 && dst[n + 1] != 0.0f))) {
            return -3.0;
        }
    } else {
        for (std::int64_t i = 0; i < n; ++i) {
            got[i] = dst[i];
        }
    }
    return ffttest::relative_rms(got, want, s);
}

constexpr Form kForms[] = {kComplex, kSplit, kReal1, kReal2, kReal3};
constexpr std::int32_t kFlags[] = {VEK_FFT_NORM_FWD, VEK_FFT_NORM_INV, VEK_FFT_NORM_SQRT, VEK_FFT_NORM_NONE};

#ifdef MODEM_UNDER_SANITIZER
constexpr std::int32_t kFullMatrixTop = 11;
constexpr std::int32_t kLargeTop = 15;
#else
constexpr std::int32_t kFullMatrixTop = 12;
constexpr std::int32_t kLargeTop = 18;
#endif

TEST(Fft32fAccuracy, EveryKindLayoutDirectionAndFlagUpTo4096Points)
{
    for (std::int32_t order = 0; order <= kFullMatrixTop; ++order) {
        for (int col : vektest::kColumns) {
            for (Form f : kForms) {
                for (int inv = 0; inv < 2; ++inv) {
                    for (std::int32_t flag : kFlags) {
                        const Case c{col, f, inv != 0, flag, order, false, 0, true};
                        const double e = run_case(c);
                        ASSERT_GE(e, 0.0) << vektest::column_name(col) << " form " << f << " order " << order;
                        EXPECT_LE(e, 1e-6) << vektest::column_name(col) << " form " << f << " inv " << inv
                                           << " flag " << flag << " order " << order;
                    }
                }
            }
        }
    }
}

void large_orders(std::int32_t first, std::int32_t last)
{
    for (std::int32_t order = first; order <= last; ++order) {
        if (!ffttest::reference_available(std::int64_t{1} << order)) {
            GTEST_SKIP() << "no reference above 4096 points without FFTW";
        }
        const std::int32_t flag = kFlags[order % 4];
        for (int col : vektest::kColumns) {
            // Every kind up to 2^16; above it the complex and packed-layout-2 real routes.
            for (Form f : kForms) {
                if (order > 16 && f != kComplex && f != kReal2) {
                    continue;
                }
                for (int inv = 0; inv < 2; ++inv) {
                    const Case c{col, f, inv != 0, flag, order, order % 2 == 0, 0, true};
                    const double e = run_case(c);
                    ASSERT_GE(e, 0.0);
                    EXPECT_LE(e, order > 16 ? 2e-6 : 1e-6) << vektest::column_name(col) << " form " << f
                                                           << " inv " << inv << " order " << order;
                }
            }
        }
    }
}

TEST(Fft32fAccuracy, LargeOrdersEveryColumn) { large_orders(kFullMatrixTop + 1, kLargeTop); }

// Orders 19 to 22 take about a minute (the long-double reference dominates): run with
// --gtest_also_run_disabled_tests.
TEST(Fft32fAccuracy, DISABLED_LargestOrdersEveryColumn) { large_orders(19, 22); }

// In place and out of place, every misalignment of the arrays and the work buffer, with and without a
// caller's buffer, across the routes of each column (small, reordering, direct, block scheme, levels).
TEST(Fft32fAccuracy, PlacementAlignmentAndWorkBuffers)
{
#ifdef MODEM_UNDER_SANITIZER
    constexpr std::int32_t kOrders[] = {2, 3, 5, 9, 10, 11};
#else
    constexpr std::int32_t kOrders[] = {2, 3, 5, 9, 10, 11, 13, 14, 15};
#endif
    for (std::int32_t order : kOrders) {
        for (int col : vektest::kColumns) {
            for (Form f : kForms) {
                for (std::size_t offset : {4u, 8u, 12u}) {
                    for (int variant = 0; variant < 4; ++variant) {
                        const Case c{col, f, variant % 2 == 1, VEK_FFT_NORM_INV, order, variant < 2, offset,
                                     variant != 3};
                        bool intact = false;
                        const double e = run_case(c, &intact);
                        ASSERT_GE(e, 0.0);
                        EXPECT_LE(e, 1e-6) << vektest::column_name(col) << " form " << f << " order " << order
                                           << " offset " << offset << " variant " << variant;
                        EXPECT_TRUE(intact) << vektest::column_name(col) << " form " << f << " order " << order;
                    }
                }
            }
        }
    }
}

}  // namespace
