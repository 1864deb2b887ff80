// The answer-tone amplitude tracker (see am_tracker.h).
#include "layer1/dsp/am_tracker.h"

#include <cmath>

#include "layer1/dsp/detector_filters.h"
#include "layer1/modem/v34/complex_fixed.h"  // MulQ31: the 64-bit product shifted right by 31

namespace {

constexpr double kSampleRate = 9600.0;
constexpr double kCutoffHz = 1500.0;
constexpr int32_t kPowerKeep = 0x7FE00000;      // 1 - 2^-10
constexpr int32_t kResonatorA = 0x7F9C0000;     // y1 x 0.99695 + y1: a pole pair near 15 Hz
constexpr int32_t kResonatorB = 0x7FA00000;     // radius^2 0.99707
constexpr int32_t kAmKeep = 0x7FF50000;         // 1 - 1/2979
constexpr int32_t kAmMargin = 272;
constexpr int32_t kPowerFloor = 0x18000;
constexpr int32_t kArmingBlocks = 15;

int32_t ToQ31(double v) { return static_cast<int32_t>(std::lround(v * 2147483648.0)); }

}  // namespace

const AnsamSection* AnsamBandSections()
{
    static const auto sections = [] {
        struct Set {
            AnsamSection s[kAnsamFilterSections];
        } set{};
        const double w0 = 2.0 * M_PI * kCutoffHz / kSampleRate;
        for (int32_t k = 0; k < kAnsamFilterSections; ++k) {
            // Butterworth Q of the pole pair, the lowest first.
            const double q = 1.0 / (2.0 * std::sin((2 * (kAnsamFilterSections - 1 - k) + 1) * M_PI /
                                                   (4.0 * kAnsamFilterSections)));
            const double alpha = std::sin(w0) / (2.0 * q);
            const double a0 = 1.0 + alpha;
            const double gain = k == 0 ? 0.5 : 1.0;
            const double b0 = gain * (1.0 + std::cos(w0)) / 2.0 / a0;
            set.s[k] = AnsamSection{ToQ31(b0 / 2), ToQ31(-b0), ToQ31(b0 / 2), ToQ31(-std::cos(w0) / a0),
                                    ToQ31((1.0 - alpha) / a0 / 2)};
        }
        return set;
    }();
    return sections.s;
}

void StartAmTracker(AmTracker* t, int32_t blockLength)
{
    *t = AmTracker{};
    t->blockLength = blockLength;
}

void AnsamBandFilter(AmTracker* t, const int32_t* x, int32_t* y, int32_t n)
{
    const AnsamSection* c = AnsamBandSections();
    for (int32_t i = 0; i < n; ++i) {
        int32_t v = SaturateTo32(static_cast<int64_t>(x[i]) * 65536);
        for (int32_t k = 0; k < kAnsamFilterSections; ++k) {
            int32_t* s = t->filter.s[k];
            const int64_t sum = static_cast<int64_t>(MulQ31(c[k].b0, v)) + MulQ31(c[k].b1, s[0]) +
                                MulQ31(c[k].b2, s[1]) - MulQ31(c[k].a1, s[2]) - MulQ31(c[k].a2, s[3]);
            const int32_t out = SaturateTo32(2 * sum);
            s[1] = s[0];
            s[0] = v;
            s[3] = s[2];
            s[2] = out;
            v = out;
        }
        y[i] = v;
    }
}

void TrackAm(AmTracker* t, const int32_t* y, int32_t n)
{
    for (int32_t i = 0; i < n; ++i) {
        const int32_t a = SaturateTo32(static_cast<int64_t>(y[i]) * 4);
        t->power = SaturateTo32(static_cast<int64_t>(MulQ31(t->power, kPowerKeep)) + (MulQ31(a, a) >> 10));
        const int32_t m = a < 0 ? (a == INT32_MIN ? INT32_MAX : -a) : a;
        const int64_t r = static_cast<int64_t>(MulQ31(t->y1, kResonatorA)) + t->y1 - MulQ31(t->y2, kResonatorB) +
                          ((static_cast<int64_t>(m) - t->previousMagnitude) >> 5);
        t->previousMagnitude = m;
        t->y2 = t->y1;
        t->y1 = SaturateTo32(r);
        const int32_t c = t->y1 < 0 ? (t->y1 == INT32_MIN ? INT32_MAX : -t->y1) : t->y1;
        t->am = SaturateTo32(static_cast<int64_t>(MulQ31(t->am, kAmKeep)) + (c >> 11));
        if ((t->am >> 16) - (t->power >> 14) <= kAmMargin || t->power < kPowerFloor)
            t->runCount = 0;
        else if (t->runCount < INT16_MAX)
            t->runCount = static_cast<int16_t>(t->runCount + 1);
    }
    t->armedBlocks += 1;
    if (t->armedBlocks < kArmingBlocks)
        t->runCount = 0;
}
