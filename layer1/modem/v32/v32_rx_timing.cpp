// Symbol timing: the demodulated samples pass a cubic interpolator on their way into the equaliser, and a
// second-order loop steers the interpolator's phase so that the equaliser's taps stay where training put them.
//
// Design: the equaliser is fractionally spaced (a third of a symbol), so any timing offset is absorbed by its
// taps, which slide along the delay line as the far end's sample clock drifts (50 ppm is a third of a sample
// per second at 7200 Hz). The loop measures that slide against a copy of the taps taken early in the
// training (the peak of a parabola through their correlations at -1, 0 and +1 places) every 16 symbols and
// moves the interpolator's output times by it: a proportional part spread over the next 48 outputs and an
// integral part that learns the clock ratio, so the slide stays near zero for as long as the call lasts.
// The output times advance by a sample plus the loop's correction; when they pass a sample boundary an
// input sample gives no output or two (the equaliser's sample count keeps the symbol grid).
#include "layer1/modem/v32/v32_rx_internal.h"
#include "layer1/vek/core/vek_dispatch.h"
#include "platform/saturate.h"

#include <array>

namespace {

constexpr int32_t kPhases = 256;            // interpolation phases per sample
constexpr int32_t kOne = 1 << 24;           // output-time unit: a sample
constexpr int32_t kCheckOutputs = 3 * kV32TimingCheck;
// Loop gains per check, as shifts of the measured slide (in samples): proportional 1/8, integral 1/256.
constexpr int32_t kProportionalShift = 3;
constexpr int32_t kIntegralShift = 8;
// The clock ratio the loop may learn: 400 ppm of a sample per output.
constexpr int32_t kFrequencyLimit = kOne / 2500;

// 4-point Lagrange coefficients (Q14) for an output mu of a sample after the second of four samples.
using Row = std::array<int16_t, 4>;
const std::array<Row, kPhases + 1>& CubicRows()
{
    static const auto rows = [] {
        std::array<Row, kPhases + 1> t{};
        for (int32_t p = 0; p <= kPhases; ++p) {
            const double mu = static_cast<double>(p) / kPhases;
            const double c[4] = {-mu * (mu - 1) * (mu - 2) / 6, (mu + 1) * (mu - 1) * (mu - 2) / 2,
                                 -(mu + 1) * mu * (mu - 2) / 2, (mu + 1) * mu * (mu - 1) / 6};
            for (int32_t k = 0; k < 4; ++k)
                t[p][k] = static_cast<int16_t>(c[k] * 16384.0 + (c[k] >= 0 ? 0.5 : -0.5));
        }
        return t;
    }();
    return rows;
}

VekC16 Interpolate(const V32Rx& r, int32_t pos)
{
    const Row& c = CubicRows()[(pos + (kOne / kPhases / 2)) / (kOne / kPhases)];
    int64_t re = 0, im = 0;
    for (int32_t k = 0; k < 4; ++k) {
        const int32_t slot = (r.ringPos + 1 + k) & 3;  // oldest first
        re += static_cast<int64_t>(c[k]) * r.ringRe[slot];
        im += static_cast<int64_t>(c[k]) * r.ringIm[slot];
    }
    VekC16 y;
    y.re = Saturate16((re + 8192) >> 14);
    y.im = Saturate16((im + 8192) >> 14);
    return y;
}

// How far the taps have slid against the copy, in samples (positive: towards the newer end), or 0 when it
// cannot be told.
double TapSlide(V32Rx& r)
{
    VekC32 taps[kV32EqualiserTaps];
    if (vek_lms_get_taps_complex(r.eq, taps) < 0)
        return 0;
    if (!r.tapsSaved) {
        for (int32_t j = 0; j < kV32EqualiserTaps; ++j)
            r.savedTaps[j] = taps[j];
        r.tapsSaved = 1;
        return 0;
    }
    double c[3] = {};
    for (int32_t s = -1; s <= 1; ++s) {
        double sum = 0;
        for (int32_t j = 0; j < kV32EqualiserTaps; ++j) {
            const int32_t i = j + s;
            if (i < 0 || i >= kV32EqualiserTaps)
                continue;
            const double ar = taps[j].re >> 16, ai = taps[j].im >> 16;
            const double br = r.savedTaps[i].re >> 16, bi = r.savedTaps[i].im >> 16;
            sum += ar * br + ai * bi;
        }
        c[s + 1] = sum;
    }
    const double curve = c[0] - 2.0 * c[1] + c[2];
    if (curve >= 0)
        return 0;
    const double peak = (c[0] - c[2]) / (2.0 * curve);
    return peak > 1.0 ? 1.0 : (peak < -1.0 ? -1.0 : peak);
}

}  // namespace

void V32TimingReset(V32Rx* r)
{
    r->ringRe.fill(0);
    r->ringIm.fill(0);
    r->ringPos = 0;
    r->timingPos = 0;
    r->timingFrequency = 0;
    r->timingAdjust = 0;
    r->tapsSaved = 0;
    r->timingCheck = kV32TimingCheck;
}

void V32TimingInput(V32Modem* m, VekC16 x)
{
    V32Rx& r = m->rx;
    r.ringPos = (r.ringPos + 1) & 3;
    r.ringRe[r.ringPos] = x.re;
    r.ringIm[r.ringPos] = x.im;
    while (r.timingPos < kOne) {
        V32RxEqualiserPut(m, Interpolate(r, r.timingPos));
        r.timingPos += kOne + r.timingFrequency + r.timingAdjust;
    }
    r.timingPos -= kOne;
}

void V32TimingCheck(V32Rx* r)
{
    if (--r->timingCheck > 0)
        return;
    r->timingCheck = kV32TimingCheck;
    const double slide = TapSlide(*r);
    // Taps slid towards the newer end: the symbols arrive later than the grid, so the output times move later.
    const int32_t error = static_cast<int32_t>(slide * kOne);
    r->timingAdjust = (error >> kProportionalShift) / kCheckOutputs;
    int32_t f = r->timingFrequency + (error >> kIntegralShift) / kCheckOutputs;
    r->timingFrequency = f > kFrequencyLimit ? kFrequencyLimit : (f < -kFrequencyLimit ? -kFrequencyLimit : f);
}
