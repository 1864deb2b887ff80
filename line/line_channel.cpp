// Channel responses for the line model: a gain shape over frequency and its linear-phase FIR at 8000 Hz.
#include <cmath>

#include "line/line_model.h"

LineChannelShape LineFlatChannel(double lowHz, double highHz)
{
    LineChannelShape s;
    s.lowHz = lowHz;
    s.highHz = highHz;
    return s;
}

LineChannelShape LineCodecChannel()
{
    LineChannelShape s;
    s.lowHz = 300.0;
    s.highHz = 3400.0;
    s.edgeHz = 400.0;
    s.stopDb = 28.0;
    return s;
}

double LineChannelGainDb(const LineChannelShape& s, double hz)
{
    double db = s.tiltDb * (hz - 1000.0) / 2000.0;
    auto edge = [&](double outside) {
        if (outside <= 0.0)
            return 0.0;
        if (outside >= s.edgeHz)
            return -s.stopDb;
        return -s.stopDb * 0.5 * (1.0 - std::cos(M_PI * outside / s.edgeHz));
    };
    db += edge(s.lowHz - hz);
    db += edge(hz - s.highHz);
    if (hz > s.rolloffHz)
        db -= s.rolloffDbPerKHz * (hz - s.rolloffHz) / 1000.0;
    return db;
}

// Frequency sampling on a fine grid, then a Blackman-windowed centred impulse response.
std::vector<double> LineChannelTaps(const LineChannelShape& shape, int taps)
{
    if (taps % 2 == 0)
        taps += 1;
    const int m = taps / 2;
    const int grid = 2048;  // points over 0 .. 4000 Hz
    std::vector<double> gain(static_cast<size_t>(grid) + 1);
    for (int k = 0; k <= grid; ++k)
        gain[static_cast<size_t>(k)] = std::pow(10.0, LineChannelGainDb(shape, 4000.0 * k / grid) / 20.0);
    std::vector<double> h(static_cast<size_t>(taps));
    for (int n = -m; n <= m; ++n) {
        // h[n] = (1/pi) integral over 0..pi of G(w) cos(w n) dw, by the trapezoid rule.
        double sum = 0.0;
        for (int k = 0; k <= grid; ++k) {
            const double w = M_PI * k / grid;
            const double weight = (k == 0 || k == grid) ? 0.5 : 1.0;
            sum += weight * gain[static_cast<size_t>(k)] * std::cos(w * n);
        }
        const double x = static_cast<double>(n + m) / (2.0 * m);
        const double window = 0.42 - 0.5 * std::cos(2.0 * M_PI * x) + 0.08 * std::cos(4.0 * M_PI * x);
        h[static_cast<size_t>(n + m)] = sum / grid * window;
    }
    return h;
}
