#include "support/line_signal.h"

#include <cmath>
#include <complex>

#include <gtest/gtest.h>
#include <unistd.h>

namespace linetest {

std::vector<double> Tone(double hz, double rate, double amplitude, size_t n, double phase)
{
    std::vector<double> x(n);
    for (size_t i = 0; i < n; ++i)
        x[i] = amplitude * std::cos(2.0 * M_PI * hz * static_cast<double>(i) / rate + phase);
    return x;
}

std::vector<int16_t> ToneS16(double hz, double rate, double amplitude, size_t n)
{
    std::vector<int16_t> x(n);
    for (size_t i = 0; i < n; ++i)
        x[i] = static_cast<int16_t>(std::lround(amplitude * std::cos(2.0 * M_PI * hz * static_cast<double>(i) / rate)));
    return x;
}

std::vector<double> ToDouble(const std::vector<int16_t>& x)
{
    return std::vector<double>(x.begin(), x.end());
}

std::string TempPrefix()
{
    return ::testing::TempDir() + "modem" + std::to_string(getpid()) + "_";
}

double Db(double ratio)
{
    return 10.0 * std::log10(ratio);
}

double PowerDb(const std::vector<double>& x, size_t begin, size_t end)
{
    double sum = 0;
    for (size_t i = begin; i < end; ++i)
        sum += x[i] * x[i];
    return Db(sum / static_cast<double>(end - begin) + 1e-300);
}

namespace {

std::complex<double> Demodulate(const std::vector<double>& x, double w, size_t begin, size_t end)
{
    std::complex<double> acc = 0;
    for (size_t i = begin; i < end; ++i)
        acc += x[i] * std::polar(1.0, -w * static_cast<double>(i));
    return acc;
}

}  // namespace

ToneFit FitTone(const std::vector<double>& x, double rate, double f0, size_t begin, size_t end)
{
    ToneFit fit;
    const size_t n = end - begin;
    const size_t half = n / 2;
    const double w0 = 2.0 * M_PI * f0 / rate;
    const std::complex<double> c1 = Demodulate(x, w0, begin, begin + half);
    const std::complex<double> c2 = Demodulate(x, w0, begin + half, begin + 2 * half);
    const double dphi = std::arg(c2 / c1);
    fit.frequency = f0 + dphi * rate / (2.0 * M_PI * static_cast<double>(half));
    // Least squares for a cos + b sin at the estimated frequency.
    const double w = 2.0 * M_PI * fit.frequency / rate;
    double cc = 0, ss = 0, cs = 0, xc = 0, xs = 0;
    for (size_t i = begin; i < end; ++i) {
        const double c = std::cos(w * static_cast<double>(i));
        const double s = std::sin(w * static_cast<double>(i));
        cc += c * c;
        ss += s * s;
        cs += c * s;
        xc += x[i] * c;
        xs += x[i] * s;
    }
    const double det = cc * ss - cs * cs;
    const double a = (xc * ss - xs * cs) / det;
    const double b = (xs * cc - xc * cs) / det;
    fit.amplitude = std::hypot(a, b);
    fit.phase = std::atan2(-b, a);
    double residual = 0;
    for (size_t i = begin; i < end; ++i) {
        const double e = x[i] - a * std::cos(w * static_cast<double>(i)) - b * std::sin(w * static_cast<double>(i));
        residual += e * e;
    }
    const double tonePower = fit.amplitude * fit.amplitude / 2.0;
    fit.residualDb = Db(residual / static_cast<double>(n) / tonePower + 1e-300);
    return fit;
}

}  // namespace linetest
