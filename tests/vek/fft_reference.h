// Reference transforms of the FFT tests: a direct long-double DFT up to 2^12 points, and above that FFTW's
// long-double plans (when the tests were built with FFTW). Plus the relative RMS error measure.
#pragma once

#include <cmath>
#include <complex>
#include <cstdint>
#include <map>
#include <random>
#include <utility>
#include <vector>

#ifdef HAVE_FFTW
#include <fftw3.h>
#endif

namespace ffttest {

using CL = std::complex<long double>;

inline bool reference_available(std::int64_t n)
{
#ifdef HAVE_FFTW
    (void)n;
    return true;
#else
    return n <= 4096;
#endif
}

// X[k] = sum x[n] e^(sign * 2 pi i k n / N), unscaled.
inline std::vector<CL> reference_dft(const std::vector<CL>& x, int sign)
{
    const std::size_t n = x.size();
    std::vector<CL> out(n);
#ifdef HAVE_FFTW
    if (n > 64) {
        std::vector<fftwl_complex> buf(n);
        for (std::size_t i = 0; i < n; ++i) {
            buf[i][0] = x[i].real();
            buf[i][1] = x[i].imag();
        }
        fftwl_plan p = fftwl_plan_dft_1d(static_cast<int>(n), buf.data(), buf.data(),
                                         sign < 0 ? FFTW_FORWARD : FFTW_BACKWARD, FFTW_ESTIMATE);
        fftwl_execute(p);
        fftwl_destroy_plan(p);
        for (std::size_t i = 0; i < n; ++i) {
            out[i] = CL(buf[i][0], buf[i][1]);
        }
        return out;
    }
#endif
    std::vector<CL> w(n);
    const long double pi2 = 2.0L * 3.14159265358979323846264338327950288L;
    for (std::size_t k = 0; k < n; ++k) {
        const long double a = pi2 * static_cast<long double>(k) / static_cast<long double>(n);
        w[k] = CL(cosl(a), sign * sinl(a));
    }
    for (std::size_t k = 0; k < n; ++k) {
        CL s = 0;
        std::size_t e = 0;
        for (std::size_t j = 0; j < n; ++j) {
            s += x[j] * w[e];
            e += k;
            if (e >= n) {
                e -= n;
            }
        }
        out[k] = s;
    }
    return out;
}

// sqrt(sum |got - s*want|^2 / sum |s*want|^2) over the elements of got.
inline double relative_rms(const std::vector<CL>& got, const std::vector<CL>& want, long double s = 1.0L)
{
    long double num = 0;
    long double den = 0;
    for (std::size_t i = 0; i < got.size(); ++i) {
        const long double wr = want[i].real() * s;
        const long double wi = want[i].imag() * s;
        const long double dr = got[i].real() - wr;
        const long double di = got[i].imag() - wi;
        num += dr * dr + di * di;
        den += wr * wr + wi * wi;
    }
    return den == 0 ? static_cast<double>(sqrtl(num)) : static_cast<double>(sqrtl(num / den));
}

// Uniform values in [-1, 1) as floats, widened.
inline std::vector<CL> random_signal(std::size_t n, std::uint32_t seed, bool real)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    std::vector<CL> x(n);
    for (auto& v : x) {
        const float re = u(rng);
        const float im = real ? 0.0f : u(rng);
        v = CL(re, im);
    }
    return x;
}

}  // namespace ffttest
