// Filters of the INFO receiver, designed here (the receive pair is left to the implementation) and built
// once by code:
//
// - The in-phase and quadrature pair: a 63-tap lowpass prototype (Hann window, -6 dB at 600 Hz, at least
//   40 dB down from 900 Hz) shifted to the far end's carrier (1200 or 2400 Hz at 9600 Hz sampling), as
//   2 * lowpass * cos and 2 * lowpass * sin around the centre tap. Together they pass the signal's positive
//   frequencies with gain 2, so the two outputs are the input's in-phase and quadrature parts at the input's
//   amplitude; the carrier 1200 Hz away and the negative-frequency image lie at least 40 dB down.
// - The carrier filter: 64 samples of a sine at the far end's carrier, amplitude 1023 (gain 1 at the
//   carrier, about 150 Hz wide).
//
// Tables are in the order the circular FIR reads them: entry 0 weighs the oldest of the 63 samples, entry
// k >= 1 the sample k - 1 steps back; entry 63 of the pair's 64-entry tables is unused (0).
#include <cmath>

#include "layer1/modem/v34/info_receiver.h"

namespace {

constexpr double kRate = 9600.0;
constexpr double kCutoff = 600.0;
constexpr int kCentre = (kInfoRxFilterTaps - 1) / 2;

struct PairTables {
    int16_t i[2][kInfoRxFilterTable];
    int16_t q[2][kInfoRxFilterTable];
    int16_t carrier[2][kInfoCarrierTaps];

    PairTables()
    {
        const double pi = std::acos(-1.0);
        double lowpass[kInfoRxFilterTaps];
        double sum = 0;
        for (int m = 0; m < kInfoRxFilterTaps; ++m) {
            const double window = 0.5 - 0.5 * std::cos(2 * pi * (m + 1) / (kInfoRxFilterTaps + 1));
            const double t = m - kCentre;
            const double sinc = t == 0 ? 1.0 : std::sin(2 * pi * kCutoff * t / kRate) / (2 * pi * kCutoff * t / kRate);
            lowpass[m] = window * sinc;
            sum += lowpass[m];
        }
        for (int high = 0; high < 2; ++high) {
            const double w = 2 * pi * (high ? 2400.0 : 1200.0) / kRate;
            for (int m = 0; m < kInfoRxFilterTaps; ++m) {
                // Delay m sits at table entry m + 1 (entry 0 for the oldest, m = 62).
                const int entry = (m + 1) % kInfoRxFilterTaps;
                const double g = 2 * lowpass[m] / sum * 32768.0;
                i[high][entry] = static_cast<int16_t>(std::lround(g * std::cos(w * (m - kCentre))));
                q[high][entry] = static_cast<int16_t>(std::lround(g * std::sin(w * (m - kCentre))));
            }
            i[high][kInfoRxFilterTaps] = 0;
            q[high][kInfoRxFilterTaps] = 0;
            for (int k = 0; k < kInfoCarrierTaps; ++k)
                carrier[high][k] = static_cast<int16_t>(std::lround(1023.0 * std::sin(w * k)));
        }
    }
};

const PairTables& Tables()
{
    static const PairTables tables;
    return tables;
}

}  // namespace

const int16_t* InfoRxFilterI(int32_t high) { return Tables().i[high != 0]; }
const int16_t* InfoRxFilterQ(int32_t high) { return Tables().q[high != 0]; }
const int16_t* InfoCarrierFilter(int32_t high) { return Tables().carrier[high != 0]; }
