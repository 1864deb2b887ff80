// The receiver's constant tables, computed from their rules: the carrier phasors of each symbol-rate and
// carrier combination (cos and sin x 32768 rounded, held to 32767, as the printed 32767/0, 5690/32270,
// -30792/11207 of the nine-entry table have it), and the rails' low-pass filter.
#include <cmath>

#include "layer1/modem/v34/v34_rx.h"

namespace {

// The rail filter: a Kaiser-windowed sinc at three samples per symbol. The baseband of every symbol rate
// reaches (1 + 0.25) / 2 of the symbol rate, 0.208 of the sample rate; the image of the negative carrier
// frequency lies at twice the carrier, whose flat part starts 0.26 of the sample rate away at 3429 and 3200
// baud (the closest). Cut-off 0.235, beta 4: flat within 0.5 dB to 0.19, at least 40 dB down from 0.265; the
// equaliser takes up the passband's slope. DC gain 2 in Q15: the demodulation halves the line signal's
// amplitude, and the gain gives it back, so the equaliser's taps keep headroom at the AGC's level.
constexpr double kCutOff = 0.235;
constexpr double kBeta = 4.0;

double BesselI0(double x)
{
    double sum = 1.0;
    double term = 1.0;
    for (int k = 1; k < 40; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
    }
    return sum;
}

struct RailFilter {
    int32_t taps[kV34RailTaps];
    RailFilter()
    {
        const double pi = std::acos(-1.0);
        double h[kV34RailTaps];
        double sum = 0.0;
        for (int i = 0; i < kV34RailTaps; ++i) {
            const double t = i - (kV34RailTaps - 1) / 2.0;
            const double sinc = std::sin(2.0 * pi * kCutOff * t) / (pi * t);
            const double r = 2.0 * t / (kV34RailTaps - 1);
            const double window = BesselI0(kBeta * std::sqrt(1.0 - r * r)) / BesselI0(kBeta);
            h[i] = sinc * window;
            sum += h[i];
        }
        for (int i = 0; i < kV34RailTaps; ++i)
            taps[i] = static_cast<int32_t>(std::lround(h[i] / sum * 65536.0));
    }
};

}  // namespace

int32_t V34RxCarrierTable(int32_t combination, int16_t cosine[kV34RxCarrierPeriod], int16_t sine[kV34RxCarrierPeriod])
{
    // 3429 baud has one carrier: its high-carrier combination is the same one.
    if (combination == 11)
        combination = 10;
    int32_t period = 0;
    int32_t step = 0;
    V34CarrierPeriod(combination, &period, &step);
    const double pi = std::acos(-1.0);
    for (int32_t n = 0; n < kV34RxCarrierPeriod; ++n) {
        const double phase = 2.0 * pi * step * (n % period) / period;
        const long c = std::lround(32768.0 * std::cos(phase));
        const long s = std::lround(32768.0 * std::sin(phase));
        cosine[n] = static_cast<int16_t>(c > 32767 ? 32767 : c);
        sine[n] = static_cast<int16_t>(s > 32767 ? 32767 : s);
    }
    return period;
}

void V34RailFilterTaps(int32_t taps[kV34RailTaps])
{
    static const RailFilter filter;
    for (int i = 0; i < kV34RailTaps; ++i)
        taps[i] = filter.taps[i];
}
