#include "layer1/modem/v34/v34_rx_front_end.h"

#include "layer1/modem/v34/fixed_point.h"

namespace {

constexpr int32_t kDcGain = 28551;
constexpr int32_t kAgcActivity = 50;
constexpr int16_t kGainHigh = 0x6000;
constexpr int16_t kGainLow = 0x3000;
constexpr int32_t kFaultLevel = 14336;
constexpr int32_t kHalfQ31 = 0x3FFFFFFF;
constexpr int32_t kInverseRootTwo = 1518500249;

int32_t Wrap(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v))); }

int16_t Clamp16(int64_t v) { return static_cast<int16_t>(v > INT16_MAX ? INT16_MAX : (v < INT16_MIN ? INT16_MIN : v)); }

}  // namespace

void PhaseLoopUpdate(PhaseLoop* loop, int32_t error)
{
    if ((loop->flags & kLoopFrozen) != 0)
        error = 0;
    loop->integrator = Add32(loop->integrator, MulQ31(loop->integral, error));
    loop->phase = Add32(loop->phase, Add32(MulQ31(loop->integrator, loop->output), MulQ31(error, loop->proportional)));
}

void RemoveDc(DcRemoval* dc, int16_t* samples, int32_t n)
{
    for (int32_t k = 0; k < n; ++k) {
        const int64_t e = static_cast<int64_t>(samples[k]) - 3 * static_cast<int64_t>(dc->i1) - 3 * static_cast<int64_t>(dc->i2);
        dc->i1 = Wrap(dc->i1 + (e >> 4));
        dc->i2 = Wrap(dc->i2 + (dc->i1 >> 3));
        samples[k] = Clamp16((e * kDcGain) >> 15);
    }
}

int32_t RxAgcStep(RxAgcState* agc, int16_t x)
{
    // The average of the magnitude: the signed samples of a signal without DC average to about 0, which would
    // hold the gain for ever.
    agc->inputAverage = (15 * agc->inputAverage + (x < 0 ? -int32_t{x} : int32_t{x})) / 16;
    int64_t y = static_cast<int64_t>(x) * agc->gain;
    y = agc->shift >= 0 ? y << (agc->shift > 15 ? 15 : agc->shift) : y >> (-agc->shift > 31 ? 31 : -agc->shift);
    const int32_t out = static_cast<int32_t>(y > INT32_MAX ? INT32_MAX : (y < INT32_MIN ? INT32_MIN : y));
    const int64_t q = (static_cast<int64_t>(out) + 0x4000) >> 15;
    const int64_t square = q * q > INT32_MAX ? INT32_MAX : q * q;
    agc->power = static_cast<int32_t>(agc->power - ((static_cast<int64_t>(agc->power) - square) >> 3));
    if (agc->inputAverage >= kAgcActivity) {
        agc->lastError = AddSat32(agc->target, -agc->power);
        agc->lastStep = MulQ31(MulQ31(agc->lastError, agc->gain), agc->rate);
        int32_t g = agc->gain + agc->lastStep;
        g = g > INT16_MAX ? INT16_MAX : (g < 1 ? 1 : g);
        if (g > kGainHigh) {
            g /= 2;
            agc->shift += 1;
        } else if (g < kGainLow) {
            g *= 2;
            agc->shift -= 1;
        }
        agc->gain = static_cast<int16_t>(g);
    }
    return out;
}

void ResetSignalDetector(SignalDetector* d)
{
    *d = SignalDetector{};
    d->gain = 0x4000;
}

void SignalDetectorStep(SignalDetector* d, PackedComplex s)
{
    const PackedComplex old = d->ring[d->index & 3u];
    d->ring[d->index & 3u] = s;
    d->index = (d->index + 1u) & 3u;
    const int64_t sr = RealPart(s), si = ImagPart(s);
    const int64_t dr = sr - RealPart(old), di = si - ImagPart(old);
    d->power = Wrap(d->power + (((sr * sr + si * si) >> 1) - d->power) / 32);
    d->differencePower = Wrap(d->differencePower + (((dr * dr + di * di) >> 1) - d->differencePower) / 32);
    if (static_cast<int64_t>(d->power) >= 3 * (static_cast<int64_t>(d->differencePower) + 1))
        d->sCount += d->sCount < INT16_MAX ? 1 : 0;
    else if (d->sCount > 0)
        d->sCount -= 1;
    // Predictor of the difference from the last two differences (Q15 coefficients).
    int64_t pr = 0, pi = 0;
    for (int k = 0; k < 2; ++k) {
        const int64_t cr = RealPart(d->coefficient[k]), ci = ImagPart(d->coefficient[k]);
        const int64_t xr = RealPart(d->past[k]), xi = ImagPart(d->past[k]);
        pr += cr * xr - ci * xi;
        pi += cr * xi + ci * xr;
    }
    const int64_t ar = (d->gain * (dr - (pr >> 15))) >> 15;
    const int64_t ai = (d->gain * (di - (pi >> 15))) >> 15;
    const int64_t br = (d->gain * ar) >> 15, bi = (d->gain * ai) >> 15;
    for (int k = 0; k < 2; ++k) {
        const int64_t xr = RealPart(d->past[k]), xi = ImagPart(d->past[k]);
        const int64_t nr = RealPart(d->coefficient[k]) + ((br * xr + bi * xi) >> 16);
        const int64_t ni = ImagPart(d->coefficient[k]) + ((bi * xr - br * xi) >> 16);
        d->coefficient[k] = PackComplex(Clamp16(nr), Clamp16(ni));
    }
    d->past[1] = d->past[0];
    d->past[0] = PackComplex(Clamp16(dr), Clamp16(di));
    if (((ar * ar + ai * ai) >> 16) >= kFaultLevel)
        d->faultCount += d->faultCount < INT16_MAX ? 1 : 0;
    else if (d->faultCount > 0)
        d->faultCount -= 1;
}

void SetInterpolatorPhase(Interpolator* in, int32_t timingPhase)
{
    const int32_t tau = Wrap(static_cast<int64_t>(kTimingHalfSample) - timingPhase);
    const int32_t square = MulQ31(tau, tau);
    const int32_t b = MulQ31(tau, kInverseRootTwo);
    in->c[0] = square;
    in->c[2] = Wrap(static_cast<int64_t>(square) - 2 * static_cast<int64_t>(b) + kHalfQ31);
    in->c[1] = Wrap(2 * static_cast<int64_t>(b) - 2 * static_cast<int64_t>(square) + kHalfQ31);
}

int32_t InterpolateRail(Interpolator* in, int32_t rail, int32_t x)
{
    int32_t* h = in->history[rail & 1];
    const int32_t y = Add32(Add32(MulQ31(in->c[0], x), MulQ31(in->c[1], h[0])), MulQ31(in->c[2], h[1]));
    h[2] = h[1];
    h[1] = h[0];
    h[0] = x;
    return y;
}

void InterpolatorBackUp(Interpolator* in)
{
    for (int32_t* h : in->history) {
        h[0] = h[1];
        h[1] = h[2];
    }
}
