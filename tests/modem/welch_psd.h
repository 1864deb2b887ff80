// Power spectral density by Welch's method, at any frequencies: Hann-windowed segments with half overlap,
// each frequency's power averaged over the segments. For checking line signals against the spectrum masks of
// the Recommendations; slow (a direct sum per frequency) but exact at the frequency asked for.
#pragma once

#include <cmath>
#include <vector>

namespace psdtest {

inline double PsdAt(const std::vector<double>& x, double sampleRate, double hz, size_t segment = 256)
{
    const double pi = std::acos(-1.0);
    std::vector<double> w(segment);
    for (size_t n = 0; n < segment; ++n)
        w[n] = 0.5 - 0.5 * std::cos(2 * pi * static_cast<double>(n) / static_cast<double>(segment));
    const double step = 2 * pi * hz / sampleRate;
    std::vector<double> c(segment);
    std::vector<double> s(segment);
    for (size_t n = 0; n < segment; ++n) {
        c[n] = w[n] * std::cos(step * static_cast<double>(n));
        s[n] = w[n] * std::sin(step * static_cast<double>(n));
    }
    double sum = 0;
    int count = 0;
    for (size_t start = 0; start + segment <= x.size(); start += segment / 2) {
        double re = 0;
        double im = 0;
        for (size_t n = 0; n < segment; ++n) {
            re += c[n] * x[start + n];
            im -= s[n] * x[start + n];
        }
        sum += re * re + im * im;
        count += 1;
    }
    return count ? sum / count : 0.0;
}

inline double Db(double power) { return 10 * std::log10(power > 0 ? power : 1e-30); }

}  // namespace psdtest
