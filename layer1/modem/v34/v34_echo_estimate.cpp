// The echo canceller's training estimate: a capture of analytic received samples, correlation with the
// transmitted symbols at the near and far delays, the tap scaling and the load into the filters.
#include <cstring>

#include "layer1/modem/v34/v34_echo_canceller.h"
#include "layer1/vek/core/vek_dispatch.h"

namespace {

constexpr int32_t kTapUnitShift = 25;   // taps = echo / symbol x 2^25
constexpr int32_t kScaleLimit = 0x8000000;
constexpr int32_t kMaxScaleShifts = 12;
constexpr int32_t kNominalShifts = 6;

int32_t LargestPart(const VekC32* taps, int32_t n)
{
    int64_t largest = 0;
    for (int32_t i = 0; i < n; ++i) {
        const int64_t re = taps[i].re < 0 ? -int64_t{taps[i].re} : taps[i].re;
        const int64_t im = taps[i].im < 0 ? -int64_t{taps[i].im} : taps[i].im;
        largest = re > largest ? re : largest;
        largest = im > largest ? im : largest;
    }
    return static_cast<int32_t>(largest > INT32_MAX ? INT32_MAX : largest);
}

int32_t Normalise(VekC32* taps)
{
    int32_t n = 0;
    while (n < kMaxScaleShifts && LargestPart(taps, kEchoTapSet) <= kScaleLimit) {
        for (int32_t i = 0; i < kEchoTapSet; ++i) {
            taps[i].re = static_cast<int32_t>(static_cast<uint32_t>(taps[i].re) << 1);
            taps[i].im = static_cast<int32_t>(static_cast<uint32_t>(taps[i].im) << 1);
        }
        ++n;
    }
    return n;
}

int32_t ClampShift(int32_t s) { return s < 1 ? 1 : (s > 31 ? 31 : s); }

int32_t Sat32(__int128 v) { return static_cast<int32_t>(v > INT32_MAX ? INT32_MAX : (v < INT32_MIN ? INT32_MIN : v)); }

}  // namespace

void StartEchoCapture(EchoCanceller* ec)
{
    EchoEstimation& e = ec->estimation;
    e.captureCount = 0;
    e.referenceCount = 0;
    e.capturing = 1;
}

int32_t EchoCaptureBlock(EchoCanceller* ec, const int16_t block[kV34BlockSamples])
{
    EchoEstimation& e = ec->estimation;
    if (e.capturing == 0)
        return 0;
    if (e.captureCount == 0)
        e.ringStart = ec->ring.readIndex;
    for (int i = 0; i < kV34BlockSamples && e.captureCount < kEchoCapture; ++i)
        e.capture[e.captureCount++] = HilbertStep(&ec->hilbert, block[i]);
    if (e.captureCount >= kEchoCapture)
        e.capturing = 0;
    return e.capturing;
}

int32_t EchoEnergy(int32_t count, int32_t shift, const PackedComplex* samples)
{
    int64_t sum = 0;
    for (int32_t n = 0; n < count; ++n) {
        const int64_t re = RealPart(samples[n]);
        const int64_t im = ImagPart(samples[n]);
        sum += (re * re + im * im) >> (shift & 31);
    }
    sum >>= 14;
    return SqrtNewton(static_cast<int32_t>(sum > INT32_MAX ? INT32_MAX : sum));
}

int32_t CorrelateEcho(int32_t a, int32_t groups, const EchoEstimation* e, VekC32 taps[kEchoTaps])
{
    std::memset(taps, 0, sizeof(VekC32) * kEchoTaps);
    if (a < 0 || a > 2 || groups <= 0)
        return -1;
    const int64_t lastSample = 3 * int64_t{groups - 1} + a + kEchoHilbertDelay;
    if (lastSample >= e->captureCount || int64_t{groups} + kEchoTaps - 1 > e->referenceCount)
        return -1;
    int64_t energy = 0;
    for (int32_t g = 0; g < groups; ++g) {
        const int64_t re = RealPart(e->reference[g + kEchoTaps - 1]);
        const int64_t im = ImagPart(e->reference[g + kEchoTaps - 1]);
        energy += re * re + im * im;
    }
    if (energy == 0)
        return -1;
    for (int32_t k = 0; k < kEchoTaps; ++k) {
        int64_t sr = 0, si = 0;
        for (int32_t g = 0; g < groups; ++g) {
            const PackedComplex x = e->capture[3 * g + a + kEchoHilbertDelay];
            const PackedComplex r = e->reference[g + kEchoTaps - 1 - k];
            // The real part (the received sample itself): E[x conj r] = c E|r|^2 / 2 for a tap c, since the
            // symbols times the carrier have no correlation with their own conjugates. The Hilbert part's gain
            // is not one, so it is left out of the estimate.
            const int64_t xr = RealPart(x), rr = RealPart(r), ri = ImagPart(r);
            sr += xr * rr;
            si -= xr * ri;
        }
        taps[k].re = Sat32((static_cast<__int128>(sr) << (kTapUnitShift + 1)) / energy);
        taps[k].im = Sat32((static_cast<__int128>(si) << (kTapUnitShift + 1)) / energy);
    }
    return 0;
}

int32_t EstimateEchoTaps(EchoCanceller* ec, int32_t delay, VekC32 taps[kEchoTapSet])
{
    EchoEstimation& e = ec->estimation;
    std::memset(taps, 0, sizeof(VekC32) * kEchoTapSet);
    const int32_t groups = (e.captureCount - kEchoHilbertDelay) / 3;
    if (groups < kEchoTaps || e.capturing != 0)
        return -1;
    const int32_t count = groups + kEchoTaps - 1 <= kEchoReference ? groups + kEchoTaps - 1 : kEchoReference;
    const uint32_t first = e.ringStart - static_cast<uint32_t>(delay) - (kEchoTaps - 1);
    for (int32_t m = 0; m < count; ++m)
        e.reference[m] = ec->ring.ring[(first + static_cast<uint32_t>(m)) & kEchoRingMask];
    e.referenceCount = count;
    int32_t status = 0;
    for (int32_t a = 0; a < 3; ++a)
        status |= CorrelateEcho(a, count - (kEchoTaps - 1), &e, taps + kEchoTaps * a);
    return status != 0 ? -1 : 0;
}

void RotateEchoTaps(VekC32 taps[kEchoTapSet], int32_t phase)
{
    const PackedComplex p = PhaseToPhasor(phase);
    const int64_t c = RealPart(p), s = ImagPart(p);
    for (int32_t i = 0; i < kEchoTapSet; ++i) {
        const int64_t re = taps[i].re, im = taps[i].im;
        taps[i].re = Sat32((re * c - im * s) >> 15);
        taps[i].im = Sat32((re * s + im * c) >> 15);
    }
}

int32_t SetEchoScale(EchoCanceller* ec, VekC32 nearTaps[kEchoTapSet], VekC32 farTaps[kEchoTapSet])
{
    const int32_t nNear = Normalise(nearTaps);
    const int32_t nFar = Normalise(farTaps);
    ec->farShift = static_cast<int16_t>(ClampShift(ec->farShift + nFar - kNominalShifts));
    if (ec->farShift < 16) {
        ec->farScaler = ShiftRight16;
        ec->farScalerCount = 15 - ec->farShift;
    } else {
        ec->farScaler = ShiftLeft16;
        ec->farScalerCount = ec->farShift - 15;
    }
    ec->nearShift = static_cast<int16_t>(ClampShift(ec->nearShift + nNear - kNominalShifts));
    if (ec->nearShift <= 16) {
        ec->nearScaler = ShiftRight16;
        ec->nearScalerCount = 16 - ec->nearShift;
    } else {
        ec->nearScaler = ShiftLeft16;
        ec->nearScalerCount = ec->nearShift - 16;
    }
    return nNear | nFar << 8;
}

void LoadEchoTaps(LmsState* const filters[3], const VekC32 taps[kEchoTapSet])
{
    for (int32_t a = 0; a < 3; ++a) {
        if (filters[a] != nullptr)
            vek_lms_set_taps_complex(filters[a], taps + kEchoTaps * a);
    }
}
