// The constant tables of the modem, computed once from their rules: the transmit pulse (16 phases of 8
// symbols) and the receive low-pass. Both are Hamming-windowed root-raised-cosine pulses centred between the
// samples 63 and 64 of their 128-sample span.
#include <cmath>

#include "layer1/modem/v22/v22.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kCentre = 63.5;  // samples

// Root-raised-cosine impulse response at x symbol periods, roll-off b.
double RootRaisedCosine(double x, double b)
{
    if (std::fabs(x) < 1e-12)
        return 1.0 - b + 4.0 * b / kPi;
    if (std::fabs(std::fabs(4.0 * b * x) - 1.0) < 1e-9) {
        return b / std::sqrt(2.0) *
               ((1.0 + 2.0 / kPi) * std::sin(kPi / (4.0 * b)) + (1.0 - 2.0 / kPi) * std::cos(kPi / (4.0 * b)));
    }
    return (std::sin(kPi * x * (1.0 - b)) + 4.0 * b * x * std::cos(kPi * x * (1.0 + b))) /
           (kPi * x * (1.0 - 16.0 * b * b * x * x));
}

// Windowed pulse at sample t of the 128-sample span.
double Pulse(double t, double b)
{
    const double window = 0.54 - 0.46 * std::cos(2.0 * kPi * (t + 0.5) / kV22RxFilterTaps);
    return RootRaisedCosine((t - kCentre) / kV22SamplesPerSymbol, b) / RootRaisedCosine(0.0, b) * window;
}

// Transmit roll-off 57 %: the spectrum stays within 300 x 1.57 = 471 Hz of the carrier, so the two channels
// (1200 and 2400 Hz) keep a guard band of about 260 Hz for the receive filters.
constexpr double kTxRollOff = 0.57;
// Receive roll-off 29 %: the low-pass passes the signal to -3 dB at 300 Hz and is more than 60 dB down from
// 550 Hz, so the echo of the own channel (1200 Hz away) and the mixer image are gone; the equaliser makes up
// the difference to the transmit pulse.
constexpr double kRxRollOff = 0.29;
constexpr double kRxFilterSum = 32406.0;  // DC gain just under 1

struct Tables {
    int16_t pulse[kV22SamplesPerSymbol][kV22PulseTaps];
    int16_t rx[kV22RxFilterTaps];
    Tables()
    {
        for (int p = 0; p < kV22SamplesPerSymbol; ++p) {
            for (int k = 0; k < kV22PulseTaps; ++k) {
                const double t = kV22SamplesPerSymbol * k + p;
                pulse[p][k] = static_cast<int16_t>(std::lround(32767.0 * Pulse(t, kTxRollOff)));
            }
        }
        double h[kV22RxFilterTaps];
        double sum = 0.0;
        for (int n = 0; n < kV22RxFilterTaps; ++n) {
            h[n] = Pulse(n, kRxRollOff);
            sum += h[n];
        }
        for (int n = 0; n < kV22RxFilterTaps; ++n)
            rx[n] = static_cast<int16_t>(std::lround(kRxFilterSum * h[n] / sum));
        // Exactly symmetric, whatever the rounding of the two halves.
        for (int n = 0; n < kV22RxFilterTaps / 2; ++n)
            rx[kV22RxFilterTaps - 1 - n] = rx[n];
    }
};

const Tables& TheTables()
{
    static const Tables tables;
    return tables;
}

}  // namespace

const int16_t* V22PulseRow(int32_t phase)
{
    return TheTables().pulse[phase & (kV22SamplesPerSymbol - 1)];
}

const int16_t* V22RxFilter()
{
    return TheTables().rx;
}
