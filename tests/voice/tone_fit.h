// The amplitude of a tone in a recorded signal, shared by the voice level tests.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace voicetest {

// The amplitude of the tone at f Hz in x (sampled at fs): a least-squares fit of a sine and a cosine over
// each 10 ms window of the second half, and the median of the windows (so the rare window with a dropped
// sample at rate code 4 does not count, nor does the coding's noise).
inline double ToneAmplitude(const std::vector<int16_t>& x, double f, double fs)
{
    constexpr double kTwoPi = 2 * 3.14159265358979323846;
    const size_t w = static_cast<size_t>(fs / 100.0);
    std::vector<double> amplitudes;
    for (size_t from = x.size() / 2; from + w <= x.size(); from += w) {
        double ss = 0, sc = 0, cc = 0, xs = 0, xc = 0;
        for (size_t i = from; i < from + w; ++i) {
            const double s = std::sin(kTwoPi * f * static_cast<double>(i) / fs);
            const double c = std::cos(kTwoPi * f * static_cast<double>(i) / fs);
            ss += s * s;
            sc += s * c;
            cc += c * c;
            xs += x[i] * s;
            xc += x[i] * c;
        }
        const double det = ss * cc - sc * sc;
        amplitudes.push_back(std::hypot((xs * cc - xc * sc) / det, (xc * ss - xs * sc) / det));
    }
    std::sort(amplitudes.begin(), amplitudes.end());
    return amplitudes.empty() ? 0.0 : amplitudes[amplitudes.size() / 2];
}

}  // namespace voicetest
