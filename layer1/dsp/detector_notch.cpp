// Notch-ratio tone detectors and their coefficient sets.
#include <cmath>
#include <cstring>

#include "layer1/dsp/detector_filters.h"
#include "layer1/dsp/silent_block.h"

// 9600 samples/s.
const NotchCoefficients kNotch1100 = {32767, -49271, 32767, 44344, -26541};
const NotchCoefficients kNotchCallProgress[3] = {
    {32767, -59623, 32767, 52723, -26541},
    {32767, -62392, 32767, 49913, -20971},
    {32767, -64275, 32767, 58547, -26541},
};
const NotchCoefficients kNotch2100 = {32767, -12785, 32767, 11507, -26541};
const NotchCoefficients kNotch1800 = {32767, -25079, 32767, 22571, -26541};
const NotchCoefficients kNotch2250 = {32767, -6423, 32767, 5781, -26541};
const NotchCoefficients kNotch1650 = {32767, -30893, 32767, 27803, -26541};
const NotchCoefficients kNotch1300 = {32767, -43210, 32767, 38889, -26541};
const NotchCoefficients kNotch600 = {32767, -60545, 32767, 54491, -26541};
const NotchCoefficients kNotch3000 = {32767, 25079, 32767, -22571, -26541};
const NotchCoefficients kNotch2850 = {32767, 19024, 32767, -17121, -26541};
const NotchCoefficients kNotch2225 = {32767, -7480, 32767, 6741, -26541};
const NotchCoefficients kNotch1270 = {32767, -44169, 32767, 39752, -26541};
const NotchCoefficients kNotch520 = {32767, -61775, 32767, 55598, -26541};
// 7200 samples/s.
const NotchCoefficients kNotch7200_1650 = {32767, -8554, 32767, 7699, -26541};
const NotchCoefficients kNotch7200_2250 = {32767, 25078, 32767, -22571, -26541};
const NotchCoefficients kNotch7200_2100 = {32767, 16961, 32767, -15265, -26541};
const NotchCoefficients kNotch7200_1300 = {32767, -27696, 32767, 24926, -26541};
const NotchCoefficients kNotch7200_2850 = {32767, 51992, 32767, -46792, -26541};
const NotchCoefficients kNotch7200_2225 = {32767, 23752, 32767, -21377, -26541};
const NotchCoefficients kNotch7200_600 = {32767, -56754, 32767, 51079, -26541};
const NotchCoefficients kNotch7200_1800 = {32767, 0, 32767, 0, -26541};

NotchCoefficients NotchCoefficientsFor(double hz, double sampleRate)
{
    const double c = std::cos(2.0 * 3.14159265358979323846 * hz / sampleRate);
    NotchCoefficients n{};
    n.b0 = 32767;
    n.b1 = static_cast<int32_t>(std::lround(-2.0 * c * 32767.0));
    n.b2 = 32767;
    n.a1 = static_cast<int32_t>(std::lround(1.8 * c * 32768.0));
    n.a2 = -26541;
    return n;
}

namespace {

void Setup(NotchToneDetector* d, int32_t stages, int32_t shift, int32_t residualStart, int32_t onRatio,
           int32_t offRatio)
{
    std::memset(d->state, 0, sizeof(d->state));
    d->stages = stages;
    d->shift = shift;
    d->residualStart = residualStart;
    d->total = 0;
    d->residual = residualStart;
    d->onRatio = onRatio;
    d->offRatio = offRatio;
    d->runCount = 0;
}

// One notch's state in the caller's locals: the last two inputs and outputs.
struct NotchLocal {
    int32_t x1, x2, y1, y2;
};

// y = (b0 u + b1 x1 + b2 x2 + a1 y1 + a2 y2) >> 15, then the state shifts. With b0 = b2 (every notch of the
// tables) b0 (u + x2) is the same sum with one product less.
template <bool EqualB>
inline int32_t Biquad(const NotchCoefficients& c, NotchLocal& s, int32_t u)
{
    const int64_t outer = EqualB ? static_cast<int64_t>(c.b0) * (static_cast<int64_t>(u) + s.x2)
                                 : static_cast<int64_t>(c.b0) * u + static_cast<int64_t>(c.b2) * s.x2;
    const int64_t acc = outer + static_cast<int64_t>(c.b1) * s.x1 + static_cast<int64_t>(c.a1) * s.y1 +
                        static_cast<int64_t>(c.a2) * s.y2;
    const int32_t y = SaturateTo32(acc >> 15);
    s.x2 = s.x1;
    s.x1 = u;
    s.y2 = s.y1;
    s.y1 = y;
    return y;
}

// The notches from K on, unrolled at compile time so that every state stays in a register.
template <int K, int Stages, bool EqualB>
inline int32_t Cascade(const NotchCoefficients* c, NotchLocal* s, int32_t y)
{
    if constexpr (K == Stages)
        return y;
    else
        return Cascade<K + 1, Stages, EqualB>(c, s, Biquad<EqualB>(c[K], s[K], y));
}

int32_t Average(int32_t average, int64_t power, int32_t shift)
{
    return SaturateTo32(average + ((power - average) >> shift));
}

// Whether t / d, rounded towards zero, is at least a (d > 0): t >= a d for t >= 0; for t < 0 the quotient
// rounds up, so t > (a - 1) d. Exact in 64 bits for 32-bit operands.
bool QuotientAtLeast(int64_t t, int64_t d, int64_t a)
{
    return t >= 0 ? t >= a * d : t > (a - 1) * d;
}

// Clears a multi-notch detector after an overload.
void Restart(NotchToneDetector* d)
{
    d->runCount = 0;
    std::memset(d->state, 0, sizeof(d->state));
    d->total = 0;
    d->residual = 1;
}

// The detector over up to n samples with its coefficients and states held in locals (Stages notches): stops at
// a detection (returns the ratio, at least 1) or an overload (clears the detector, or only its run for a single
// notch, and returns 0).
template <int Stages, bool EqualB>
int32_t RunCascade(NotchToneDetector* d, const int32_t* x, int32_t n, int32_t limit, int32_t* stoppedAt)
{
    NotchCoefficients c[Stages];
    NotchLocal s[Stages];
    for (int k = 0; k < Stages; ++k) {
        c[k] = *d->coefficients[k];
        s[k] = NotchLocal{d->state[k][0], d->state[k][1], d->state[k][2], d->state[k][3]};
    }
    const int32_t shift = d->shift;
    const int32_t onRatio = d->onRatio;
    const int32_t offRatio = d->offRatio;
    int32_t total = d->total;
    int32_t residual = d->residual;
    int32_t run = d->runCount;
    int32_t result = 0;
    int32_t i = 0;
    for (; i < n; ++i) {
        const int64_t magnitude = x[i] < 0 ? -static_cast<int64_t>(x[i]) : x[i];
        if (magnitude > 0xFFFF) {
            result = -1;
            break;
        }
        const int32_t u = x[i] / 4;
        total = Average(total, static_cast<int64_t>(u) * u, shift);
        const int32_t y = Cascade<0, Stages, EqualB>(c, s, u);
        // The residual stays at least 1. (Restarting a multi-notch detector whenever its residual rounds down
        // to nothing would throw away the run of a clean tone pair, which leaves no residual at all.)
        residual = Average(residual, static_cast<int64_t>(y) * y, shift);
        if (residual < 1)
            residual = 1;
        // The ratio total / residual (rounded towards zero) against the limits, by products instead of a
        // division on every sample; the quotient itself only for a detection.
        if (QuotientAtLeast(total, residual, onRatio))
            run += 1;
        if (!QuotientAtLeast(total, residual, offRatio))
            run = 0;
        if (run > limit) {
            run = 0;
            const int32_t ratio = total / residual;
            result = ratio > 0 ? ratio : 1;
            break;
        }
    }
    *stoppedAt = i;
    for (int k = 0; k < Stages; ++k) {
        d->state[k][0] = s[k].x1;
        d->state[k][1] = s[k].x2;
        d->state[k][2] = s[k].y1;
        d->state[k][3] = s[k].y2;
    }
    d->total = total;
    d->residual = residual;
    d->runCount = run;
    if (result >= 0)
        return result;
    if (Stages > 1)
        Restart(d);
    else
        d->runCount = 0;
    return 0;
}

}  // namespace

void InitNotchToneDetector(NotchToneDetector* d, const NotchCoefficients* set, int32_t onRatio, int32_t offRatio)
{
    d->coefficients[0] = set;
    d->coefficients[1] = nullptr;
    d->coefficients[2] = nullptr;
    Setup(d, 1, 6, 1, onRatio, offRatio);
}

void InitTwoNotchDetector(NotchToneDetector* d, const NotchCoefficients* first, const NotchCoefficients* second,
                          int32_t onRatio, int32_t offRatio)
{
    d->coefficients[0] = first;
    d->coefficients[1] = second;
    d->coefficients[2] = nullptr;
    Setup(d, 2, 3, 10, onRatio, offRatio);
}

void InitThreeNotchDetector(NotchToneDetector* d, const NotchCoefficients sets[3], int32_t onRatio,
                            int32_t offRatio)
{
    for (int k = 0; k < 3; ++k)
        d->coefficients[k] = &sets[k];
    Setup(d, 3, 4, 1, onRatio, offRatio);
}

namespace {

int32_t Scan(NotchToneDetector* d, const int32_t* x, int32_t n, int32_t limit, int32_t* stoppedAt)
{
    *stoppedAt = n;
    bool equalB = d->stages >= 1 && d->stages <= kMaxNotchStages;
    for (int32_t k = 0; equalB && k < d->stages; ++k)
        equalB = d->coefficients[k]->b0 == d->coefficients[k]->b2;
    switch (d->stages * 2 + (equalB ? 1 : 0)) {
    case 2:
        return RunCascade<1, false>(d, x, n, limit, stoppedAt);
    case 3:
        return RunCascade<1, true>(d, x, n, limit, stoppedAt);
    case 4:
        return RunCascade<2, false>(d, x, n, limit, stoppedAt);
    case 5:
        return RunCascade<2, true>(d, x, n, limit, stoppedAt);
    case 6:
        return RunCascade<3, false>(d, x, n, limit, stoppedAt);
    case 7:
        return RunCascade<3, true>(d, x, n, limit, stoppedAt);
    default:
        return 0;
    }
}

}  // namespace

int32_t ScanNotchToneDetector(NotchToneDetector* d, const int32_t* x, int32_t n, int32_t limit, int32_t* stoppedAt)
{
    if (SilentBlock(x, n)) {
        const StateBefore<NotchToneDetector> before(*d);
        int32_t at;
        const int32_t r = Scan(d, x, kSilentPeriod, limit, &at);
        if (at < kSilentPeriod) {
            *stoppedAt = at;
            return r;
        }
        // No detection in the period and the state came back: none in the rest of the block either.
        if (before.CameBack(*d)) {
            *stoppedAt = n;
            return 0;
        }
        const int32_t rest = Scan(d, x + kSilentPeriod, n - kSilentPeriod, limit, &at);
        *stoppedAt = kSilentPeriod + at;
        return rest;
    }
    return Scan(d, x, n, limit, stoppedAt);
}

int32_t RunNotchToneDetector(NotchToneDetector* d, const int32_t* x, int32_t n, int32_t limit)
{
    int32_t stoppedAt;
    return ScanNotchToneDetector(d, x, n, limit, &stoppedAt);
}

int32_t NotchToneDetectorSample(NotchToneDetector* d, int32_t x, int32_t limit)
{
    return RunNotchToneDetector(d, &x, 1, limit);
}
