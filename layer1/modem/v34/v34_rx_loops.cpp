// The receiver's carrier loop with its jitter predictor, and the symbol-timing estimate from the equaliser's
// taps.
#include "layer1/modem/v34/fixed_point.h"
#include "layer1/modem/v34/v34_rx.h"
#include "layer1/vek/core/vek_dispatch.h"

namespace {

constexpr int32_t kTimingGain = 10;

// 16384 cos(60 n degrees) and -16384 sin(60 n degrees), n = 0 ... 71: the taps' response at a sixth of a
// cycle per tap (a quarter of the symbol rate at the equaliser's spacing of two thirds of a symbol).
struct TimingReference {
    int16_t cosine[kV34EqualiserTaps];
    int16_t sine[kV34EqualiserTaps];
    TimingReference()
    {
        constexpr int16_t c[6] = {16384, 8192, -8192, -16384, -8192, 8192};
        constexpr int16_t s[6] = {0, -14188, -14188, 0, 14188, 14188};
        for (int n = 0; n < kV34EqualiserTaps; ++n) {
            cosine[n] = c[n % 6];
            sine[n] = s[n % 6];
        }
    }
};

const TimingReference& Reference()
{
    static const TimingReference reference;
    return reference;
}

int16_t Sat16(int64_t v) { return static_cast<int16_t>(v > INT16_MAX ? INT16_MAX : (v < INT16_MIN ? INT16_MIN : v)); }

}  // namespace

PackedComplex RotateSaturating(PackedComplex x, int32_t phase)
{
    int16_t s, c;
    SinCosQ15(static_cast<uint16_t>(static_cast<uint32_t>(phase) >> 16), &s, &c);
    const int64_t re = RealPart(x), im = ImagPart(x);
    return PackComplex(Sat16((re * c - im * s) >> 15), Sat16((re * s + im * c) >> 15));
}

int32_t CarrierUpdate(V34Receiver* rx, RxSlot* slot, PackedComplex y, PackedComplex z)
{
    const int32_t phi = rx->carrier.phase;
    const int32_t e = PhaseDifference(slot->rotated, z);
    PhaseLoopUpdate(&rx->carrier, e);
    rx->carrierSymbols += 1;
    slot->rotated = RotateSaturating(y, phi);
    int32_t j = 0;
    if (rx->jitter != nullptr)
        vek_lms_put_filter_real(Sat16((static_cast<int64_t>(e) + 0x4000) >> 15), &j, rx->jitter);
    if (rx->predictorOff == 1 || rx->jitter == nullptr) {
        slot->corrected = slot->rotated;
        return phi;
    }
    const int32_t d = PhaseDifference(slot->corrected, z);
    slot->corrected = RotateSaturating(slot->rotated, j);
    vek_lms_update_real(d >> 16, rx->jitter);
    return Add32(phi, j);
}

int32_t TimingEstimateCore(V34Receiver* rx, int32_t flags, int32_t recompute)
{
    if (recompute != 0 && rx->equaliser != nullptr) {
        VekC32 taps[kV34EqualiserTaps];
        VekC16 high[kV34EqualiserTaps];
        vek_lms_get_taps_complex(rx->equaliser, taps);
        for (int n = 0; n < kV34EqualiserTaps; ++n)
            high[n] = VekC16{static_cast<int16_t>(taps[n].re >> 16), static_cast<int16_t>(taps[n].im >> 16)};
        VekC32 a{0, 0};
        VekC32 b{0, 0};
        const TimingReference& ref = Reference();
        vek_dot_16_c16_to32(ref.cosine, high, kV34EqualiserTaps, &a, 0);
        vek_dot_16_c16_to32(ref.sine, high, kV34EqualiserTaps, &b, 0);
        // u = A - jB and v = A + jB, each half >> 16.
        const PackedComplex u = PackComplex(Sat16((int64_t{a.re} + b.im) >> 16), Sat16((int64_t{a.im} - b.re) >> 16));
        const PackedComplex v = PackComplex(Sat16((int64_t{a.re} - b.im) >> 16), Sat16((int64_t{a.im} + b.re) >> 16));
        if ((flags & 1) != 0) {
            rx->bandEdge[0] = u;
            rx->bandEdge[1] = v;
        }
        int64_t e = 0;
        if ((flags & 2) == 0)
            e = kTimingGain * (static_cast<int64_t>(PhaseDifference(v, rx->bandEdge[1])) - PhaseDifference(u, rx->bandEdge[0]));
        rx->timingError = static_cast<int32_t>(e > INT32_MAX ? INT32_MAX : (e < INT32_MIN ? INT32_MIN : e));
        rx->bandEdge[0] = u;
        rx->bandEdge[1] = v;
    }
    PhaseLoopUpdate(&rx->timing, rx->timingError);
    if (rx->timing.phase < -kTimingHalfSample) {
        rx->timing.phase += kTimingSample;
        return -1;
    }
    if (rx->timing.phase > kTimingHalfSample) {
        rx->timing.phase -= kTimingSample;
        return 1;
    }
    return 0;
}

int32_t TimingEstimate(V34Receiver* rx)
{
    const int32_t flags = rx->timing.flags & kLoopFirstEstimate;
    rx->timing.flags &= ~kLoopFirstEstimate;
    return TimingEstimateCore(rx, flags, 1);
}

int32_t TimingEstimateData(V34Receiver* rx)
{
    const int32_t flags = rx->timing.flags & kLoopFirstEstimate;
    const int32_t refresh = (rx->symbolCount & 7u) == 0 ? 1 : 0;
    if (refresh != 0)
        rx->timing.flags &= ~kLoopFirstEstimate;
    return TimingEstimateCore(rx, flags, refresh);
}
