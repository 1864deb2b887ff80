// Measurement of tones in signals at 8000 samples per second, for the tone tests.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#ifdef HAVE_SPANDSP
#include <spandsp.h>
#endif

namespace tonetest {

// Amplitude of a tone at f Hz in x (8000 samples per second), Hann-windowed.
inline double Amplitude(const std::vector<double>& x, double f)
{
    const double pi = std::acos(-1.0);
    double re = 0, im = 0, wsum = 0;
    const size_t n = x.size();
    for (size_t i = 0; i < n; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2 * pi * static_cast<double>(i) / static_cast<double>(n - 1));
        re += w * x[i] * std::cos(2 * pi * f * static_cast<double>(i) / 8000.0);
        im += w * x[i] * std::sin(2 * pi * f * static_cast<double>(i) / 8000.0);
        wsum += w;
    }
    return 2 * std::sqrt(re * re + im * im) / wsum;
}

// The frequency of the strongest component within 2 Hz of the nominal one, to 0.005 Hz.
inline double PeakFrequency(const std::vector<double>& x, double nominal)
{
    double best = nominal;
    for (double span : {2.0, 0.1}) {
        const double centre = best;
        double bestA = -1;
        for (double f = centre - span; f <= centre + span; f += span / 20) {
            const double a = Amplitude(x, f);
            if (a > bestA) {
                bestA = a;
                best = f;
            }
        }
    }
    return best;
}

#ifdef HAVE_SPANDSP
// The digits an independent DTMF receiver finds in x (8000 samples per second), as keys "0"-"9", "A"-"D",
// "*" and "#".
inline std::string DecodeDtmf(const std::vector<double>& x)
{
    std::vector<int16_t> pcm(x.size());
    for (size_t i = 0; i < x.size(); ++i)
        pcm[i] = static_cast<int16_t>(std::lround(std::max(-32768.0, std::min(32767.0, x[i]))));
    dtmf_rx_state_t* rx = dtmf_rx_init(nullptr, nullptr, nullptr);
    dtmf_rx(rx, pcm.data(), static_cast<int>(pcm.size()));
    char digits[64] = {};
    dtmf_rx_get(rx, digits, 63);
    dtmf_rx_free(rx);
    return digits;
}
#endif

}  // namespace tonetest
