// The receiver's half-symbol-spaced equaliser and its carrier loop.
//
// Output: y = sum over the 48 taps of tap x input (inputs newest first, two per symbol), then the point is y
// turned back by the loop phase. Adaptation (least mean squares) moves each tap by the error, turned into
// the equaliser's frame, times the conjugate input: taps += (e e^(j phase) x*) >> stepShift. The loop is of
// second order: the phase error of the point against its decision (radians, from the cross product over the
// decision's power) moves the phase directly and, more slowly, the frequency.
#include "layer1/dsp/nco.h"
#include "layer1/modem/fax/fax_rx.h"

namespace {

constexpr int32_t kTapOne = 1 << 28;  // tap 1.0 in Q28

int32_t Clamp32(int64_t v) { return static_cast<int32_t>(v > 0x7FFFFFFF ? 0x7FFFFFFF : (v < -0x7FFFFFFF ? -0x7FFFFFFF : v)); }

}  // namespace

void FaxEqualiserReset(FaxRxState* rx, int32_t centreHalf)
{
    for (int32_t k = 0; k < kFaxEqualiserTaps; ++k)
        rx->tapRe[k] = rx->tapIm[k] = 0;
    rx->tapRe[kFaxEqualiserSpan + centreHalf] = kTapOne;
    rx->loopPhase = 0;
    rx->loopFrequency = 0;
}

FaxPoint FaxRotate(FaxPoint p, uint32_t phase)
{
    int16_t s, c;
    NcoSinCos(phase >> 16, &s, &c);
    const int64_t re = static_cast<int64_t>(p.re) * c - static_cast<int64_t>(p.im) * s;
    const int64_t im = static_cast<int64_t>(p.re) * s + static_cast<int64_t>(p.im) * c;
    return FaxPoint{static_cast<int32_t>(re >> 15), static_cast<int32_t>(im >> 15)};
}

uint32_t FaxAngleOf(FaxPoint p)
{
    // Octant reduction, then atan(t) for t in [0, 1] by a rational approximation (error below 0.3 degrees in
    // the worst place, about 2^23 of the 2^32 turn), all in integers.
    int64_t x = p.re, y = p.im;
    uint32_t base = 0;
    if (x < 0) {
        x = -x;
        y = -y;
        base = 0x80000000u;
    }
    if (y < 0) {
        const int64_t t = x;
        x = -y;
        y = t;
        base -= 0x40000000u;
    }
    // Now x >= 0, y >= 0.
    uint32_t a;
    if (x == 0 && y == 0)
        return 0;
    if (y <= x) {
        const int64_t t = (y << 16) / x;  // Q16, 0..1
        // atan(t) ~ t (pi/4 + 0.273 (1 - t)) in radians; in turns x 2^32: t (2^29 + 0.273 (1 - t) 2^32 / 2pi).
        const int64_t k = (static_cast<int64_t>(1) << 29) + ((186626000LL * (65536 - t)) >> 16);
        a = static_cast<uint32_t>((t * k) >> 16);
    } else {
        const int64_t t = (x << 16) / y;
        const int64_t k = (static_cast<int64_t>(1) << 29) + ((186626000LL * (65536 - t)) >> 16);
        a = 0x40000000u - static_cast<uint32_t>((t * k) >> 16);
    }
    return base + a;
}

void FaxEqualiserRun(FaxRxState* rx)
{
    const int32_t* xr = rx->eqRe + rx->eqPos;
    const int32_t* xi = rx->eqIm + rx->eqPos;
    int64_t yr = 0, yi = 0;
    for (int32_t k = 0; k < kFaxEqualiserTaps; ++k) {
        yr += static_cast<int64_t>(rx->tapRe[k]) * xr[k] - static_cast<int64_t>(rx->tapIm[k]) * xi[k];
        yi += static_cast<int64_t>(rx->tapRe[k]) * xi[k] + static_cast<int64_t>(rx->tapIm[k]) * xr[k];
    }
    rx->raw = FaxPoint{Clamp32(yr >> 28), Clamp32(yi >> 28)};
    rx->point = FaxRotate(rx->raw, 0u - rx->loopPhase);
}

void FaxEqualiserStep(FaxRxState* rx)
{
    const FaxPoint d = rx->decided;
    const FaxPoint p = rx->point;
    // Carrier loop: phase error = Im(p d*) / |d|^2 radians, as a fraction of a turn x 2^32.
    const int64_t cross = static_cast<int64_t>(p.im) * d.re - static_cast<int64_t>(p.re) * d.im;
    const int64_t norm = static_cast<int64_t>(d.re) * d.re + static_cast<int64_t>(d.im) * d.im;
    if (norm > 0 && rx->loopShift1 > 0) {
        int64_t err = (cross << 16) / norm;  // radians, Q16
        if (err > 32768)
            err = 32768;
        if (err < -32768)
            err = -32768;
        const int64_t turns = (err * 683565276LL) >> 16;  // x 2^32 / 2 pi
        rx->loopFrequency += static_cast<int32_t>(turns >> rx->loopShift2);
        rx->loopPhase += static_cast<uint32_t>(static_cast<int32_t>(turns >> rx->loopShift1));
    }
    rx->loopPhase += static_cast<uint32_t>(rx->loopFrequency);
    if (!rx->adapt)
        return;
    // Equaliser: the error turned into the equaliser's frame.
    const FaxPoint e = FaxRotate(FaxPoint{d.re - p.re, d.im - p.im}, rx->loopPhase);
    const int32_t* xr = rx->eqRe + rx->eqPos;
    const int32_t* xi = rx->eqIm + rx->eqPos;
    const int32_t s = rx->stepShift;
    for (int32_t k = 0; k < kFaxEqualiserTaps; ++k) {
        // e times the conjugate of x.
        const int64_t ur = static_cast<int64_t>(e.re) * xr[k] + static_cast<int64_t>(e.im) * xi[k];
        const int64_t ui = static_cast<int64_t>(e.im) * xr[k] - static_cast<int64_t>(e.re) * xi[k];
        rx->tapRe[k] = Clamp32(rx->tapRe[k] + (ur >> s));
        rx->tapIm[k] = Clamp32(rx->tapIm[k] + (ui >> s));
    }
}
