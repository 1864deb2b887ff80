// The direct DFTs of the vector columns on split and real data (no record routes to them) against a
// long-double DFT, odd and even lengths, in and out of place; the array kernels of the chirp-z transform.
#include <cmath>

#include "fft_reference.h"
#include "layer1/vek/fft/engine/dft_kernels.h"
#include "vek_harness.h"

namespace {

using ffttest::CL;

// The table of the length: (cos, -sin) of 2*pi*m/N as floats.
std::vector<float> table(std::int32_t n)
{
    std::vector<float> t(static_cast<std::size_t>(2 * n));
    for (std::int32_t m = 0; m < n; ++m) {
        const long double a = 6.28318530717958647692528676655900577L * m / n;
        t[static_cast<std::size_t>(2 * m)] = static_cast<float>(cosl(a));
        t[static_cast<std::size_t>(2 * m + 1)] = static_cast<float>(-sinl(a));
    }
    return t;
}

struct Column {
    const char* name;
    decltype(&vek_k_dft_direct_split_wd) split;
    decltype(&vek_k_dft_direct_real_fwd_wd) realFwd;
    decltype(&vek_k_dft_direct_real_inv_wd) realInv;
};
const Column kColumns[] = {
    {"wd", vek_k_dft_direct_split_wd, vek_k_dft_direct_real_fwd_wd, vek_k_dft_direct_real_inv_wd},
    {"ss", vek_k_dft_direct_split_ss, vek_k_dft_direct_real_fwd_ss, vek_k_dft_direct_real_inv_ss},
};

const std::int32_t kLengths[] = {5, 6, 7, 8, 9, 10, 11, 12, 15, 16, 31, 48, 97, 100, 149, 150};

TEST(DftDirectKernels, SplitDataBothDirectionsInAndOutOfPlace)
{
    for (const Column& c : kColumns) {
        for (std::int32_t n : kLengths) {
            const std::vector<float> t = table(n);
            const std::vector<CL> x = ffttest::random_signal(static_cast<std::size_t>(n), 60u + n, false);
            for (int direction : {1, -1}) {
                const std::vector<CL> want = ffttest::reference_dft(x, -direction);
                for (bool inPlace : {false, true}) {
                    std::vector<float> re(n), im(n), dre(n + 1, 7.0f), dim(n + 1, 7.0f), work(4 * n + 4);
                    for (std::int32_t i = 0; i < n; ++i) {
                        re[i] = static_cast<float>(x[i].real());
                        im[i] = static_cast<float>(x[i].imag());
                    }
                    float* outRe = inPlace ? re.data() : dre.data();
                    float* outIm = inPlace ? im.data() : dim.data();
                    c.split(re.data(), im.data(), outRe, outIm, n, direction, t.data(), work.data());
                    std::vector<CL> got(n);
                    for (std::int32_t i = 0; i < n; ++i) {
                        got[i] = CL(outRe[i], outIm[i]);
                    }
                    EXPECT_LE(ffttest::relative_rms(got, want), 1e-6)
                        << c.name << " n " << n << " direction " << direction << (inPlace ? " in place" : "");
                    EXPECT_EQ(dre[n], 7.0f);
                    EXPECT_EQ(dim[n], 7.0f);
                }
            }
        }
    }
}

TEST(DftDirectKernels, RealDataToThePackedSpectrumAndBack)
{
    for (const Column& c : kColumns) {
        for (std::int32_t n : kLengths) {
            const std::vector<float> t = table(n);
            const std::vector<CL> x = ffttest::random_signal(static_cast<std::size_t>(n), 70u + n, true);
            const std::vector<CL> bins = ffttest::reference_dft(x, -1);
            // Packed layout 1: R0, R(N/2) for even N, then R1, I1, ...
            std::vector<CL> packed;
            packed.push_back(bins[0].real());
            if (n % 2 == 0) {
                packed.push_back(bins[n / 2].real());
            }
            for (std::int32_t k = 1; static_cast<std::int32_t>(packed.size()) < n; ++k) {
                packed.push_back(bins[k].real());
                packed.push_back(bins[k].imag());
            }
            for (bool inPlace : {false, true}) {
                std::vector<float> a(n + 1, 7.0f), b(n + 1, 7.0f), work(2 * n + 2);
                for (std::int32_t i = 0; i < n; ++i) {
                    a[i] = static_cast<float>(x[i].real());
                }
                float* out = inPlace ? a.data() : b.data();
                c.realFwd(a.data(), out, n, t.data(), work.data());
                std::vector<CL> got(out, out + n);
                EXPECT_LE(ffttest::relative_rms(got, packed), 1e-6) << c.name << " forward n " << n;
                EXPECT_EQ(out[n], 7.0f);
                // Back from the exact spectrum: N times the input.
                for (std::int32_t i = 0; i < n; ++i) {
                    a[i] = static_cast<float>(packed[i].real());
                }
                c.realInv(a.data(), out, n, t.data(), work.data());
                got.assign(out, out + n);
                EXPECT_LE(ffttest::relative_rms(got, x, n), 1e-6) << c.name << " inverse n " << n;
            }
        }
    }
}

TEST(DftArrayKernels, ProductConjugateAndZeroFill)
{
    std::mt19937 rng(2);
    std::uniform_real_distribution<float> u(-2.0f, 2.0f);
    for (std::int32_t n : {0, 1, 3, 4, 5, 8, 11}) {
        std::vector<float> a(2 * n + 2), b(2 * n + 2);
        for (std::size_t i = 0; i < a.size(); ++i) {
            a[i] = u(rng);
            b[i] = u(rng);
        }
        std::vector<float> single(2 * n + 2, 9.0f), extended(2 * n + 2, 9.0f), inPlace = b;
        vek_k_mul_c32f_wd(a.data(), b.data(), single.data(), n);
        vek_k_mul_c32f(a.data(), b.data(), extended.data(), n);
        vek_k_mul_c32f_wd(a.data(), inPlace.data(), inPlace.data(), n);
        for (std::int32_t i = 0; i < n; ++i) {
            const float ar = a[2 * i], ai = a[2 * i + 1], br = b[2 * i], bi = b[2 * i + 1];
            const float re = ar * br - ai * bi, im = ar * bi + ai * br;  // single precision, as formed
            EXPECT_EQ(single[2 * i], re) << n << " " << i;
            EXPECT_EQ(single[2 * i + 1], im) << n << " " << i;
            EXPECT_EQ(inPlace[2 * i], re);
            EXPECT_EQ(extended[2 * i], static_cast<float>(static_cast<long double>(ar) * br -
                                                          static_cast<long double>(ai) * bi));
        }
        EXPECT_EQ(single[2 * n], 9.0f);
        for (auto conj : {vek_k_conj_c32f_wd, vek_k_conj_c32f_ss, vek_k_conj_c32f}) {
            std::vector<float> c(2 * n + 1, 9.0f);
            conj(a.data(), c.data(), n);
            for (std::int32_t i = 0; i < n; ++i) {
                EXPECT_EQ(c[2 * i], a[2 * i]);
                EXPECT_EQ(c[2 * i + 1], -a[2 * i + 1]);
            }
            EXPECT_EQ(c[2 * n], 9.0f);
        }
        for (auto zero : {vek_k_zero_c32f_wd, vek_k_zero_c32f_ss, vek_k_zero_c32f}) {
            if (n == 0) {
                continue;  // the fill takes n >= 1
            }
            std::vector<float> z(2 * n + 1, -1.0f);
            zero(z.data(), n);
            for (std::int32_t i = 0; i < 2 * n; ++i) {
                EXPECT_TRUE(z[i] == 0.0f && !std::signbit(z[i]));
            }
            EXPECT_EQ(z[2 * n], -1.0f);
        }
    }
}

}  // namespace
