// The echo canceller's block routines (frozen and adapting), its reset, and the Hilbert and delay lines of
// the far-echo loop.
#include "layer1/modem/v34/v34_echo_canceller.h"

#include <cstring>

#include "layer1/modem/v34/fixed_point.h"
#include "layer1/vek/core/vek_dispatch.h"

namespace {

constexpr int32_t kHilbertNumerator = 17396;
constexpr int32_t kNearShift = 16;
constexpr int32_t kFarShift = 15;

const VekC32 kZeroTaps[kEchoTaps] = {};
const VekC16 kZeroLine[2 * kEchoTaps] = {};

int16_t Sat16(int64_t v) { return static_cast<int16_t>(v > INT16_MAX ? INT16_MAX : (v < INT16_MIN ? INT16_MIN : v)); }

int32_t ClearFilters(LmsState* const filters[3], bool taps)
{
    int32_t status = 0;
    for (int i = 0; i < 3; ++i) {
        if (filters[i] == nullptr)
            continue;
        status |= vek_lms_set_delay_complex(filters[i], kZeroLine, 0);
        if (taps)
            status |= vek_lms_set_taps_complex(filters[i], kZeroTaps);
    }
    return status;
}

VekC16 Entry(const V34EchoRing& ring, uint32_t index)
{
    const PackedComplex p = ring.ring[index & kEchoRingMask];
    return VekC16{RealPart(p), ImagPart(p)};
}

// The far section of one sample: filter output (adapting first), rotation and the far-echo loop; returns the
// estimate to subtract.
template <bool Adapt>
int32_t FarEstimate(EchoCanceller* ec, int32_t i, VekC16 reference, int16_t received)
{
    LmsState* f = ec->farFilter[i];
    if (f == nullptr)
        return 0;
    const bool rotate = (ec->mode & kEchoRotation) != 0;
    VekC32 out{0, 0};
    if (Adapt) {
        vek_lms_put_value_complex(reference, f);
        const int32_t e = ec->farScaler(ec->residual[i], ec->farScalerCount);
        if (rotate) {
            // The estimate is Re(y e^-j theta); its gradient in the taps is e e^j theta times the conjugate
            // sample, so the error goes in rotated by the phase this sample used in the last group.
            const PackedComplex phasor = PhaseToPhasor(ec->samplePhase[i]);
            vek_lms_update_complex(static_cast<int32_t>((int64_t{e} * RealPart(phasor)) >> 15),
                                   static_cast<int32_t>((int64_t{e} * ImagPart(phasor)) >> 15), f);
        } else {
            vek_lms_update_complex(e, 0, f);
        }
        vek_lms_filter_complex(&out, f);
    } else {
        vek_lms_put_filter_complex(reference, &out, f);
    }
    const int16_t re = Sat16(out.re >> ec->farShift);
    const int16_t im = Sat16(out.im >> ec->farShift);
    const int32_t power = ((int32_t{re} * re + int32_t{im} * im) >> 12) - ec->farPower / 8;
    ec->farPower = Sat16(int32_t{ec->farPower} + power);
    if (!rotate)
        return re;
    const PackedComplex u = RotateComplex(PackComplex(re, -int32_t{im}), ec->farLoop.phase);
    ec->samplePhase[i] = ec->farLoop.phase;
    const PackedComplex h = HilbertStep(&ec->hilbert, received);
    const PackedComplex delayed = DelayStep(&ec->delay, u);
    PhaseLoopUpdate(&ec->farLoop, PhaseDifference(delayed, h));
    return RealPart(u);
}

template <bool Adapt>
void Cancel(EchoCanceller* ec, int16_t block[kV34BlockSamples])
{
    const uint32_t base = ec->ring.readIndex;
    const int32_t nearShift = ec->nearShift > 1 ? ec->nearShift - 1 : 0;
    for (uint32_t g = 0; g < kV34BlockSymbols; ++g) {
        const VekC16 nearRef = Entry(ec->ring, base + g - static_cast<uint32_t>(ec->nearDelay));
        const VekC16 farRef = Entry(ec->ring, base + g - static_cast<uint32_t>(ec->farDelay));
        for (int32_t i = 0; i < 3; ++i) {
            int32_t x = block[3 * g + i];
            LmsState* n = ec->nearFilter[i];
            if (n != nullptr) {
                VekC32 out{0, 0};
                if (Adapt) {
                    vek_lms_put_value_complex(nearRef, n);
                    vek_lms_update_complex(ec->nearScaler(ec->residual[i], ec->nearScalerCount), 0, n);
                    vek_lms_filter_complex(&out, n);
                } else {
                    vek_lms_put_filter_complex(nearRef, &out, n);
                }
                x -= out.re >> (nearShift > 31 ? 31 : nearShift);
            }
            x = Sat16(x);
            x -= FarEstimate<Adapt>(ec, i, farRef, static_cast<int16_t>(x));
            block[3 * g + i] = Sat16(x);
            ec->residual[i] = block[3 * g + i];
        }
    }
    ec->ring.readIndex = (base + kV34BlockSymbols) & kEchoRingMask;
    ec->farReadIndex = (base + kV34BlockSymbols - static_cast<uint32_t>(ec->farDelay)) & kEchoRingMask;
}

}  // namespace

void AttachEchoFilters(EchoCanceller* ec, LmsState* const nearFilters[3], LmsState* const farFilters[3])
{
    for (int i = 0; i < 3; ++i) {
        ec->nearFilter[i] = nearFilters[i];
        ec->farFilter[i] = farFilters[i];
    }
}

void SetEchoDelays(EchoCanceller* ec, int32_t nearDelay, int32_t farDelay)
{
    ec->nearDelay = nearDelay & kEchoRingMask;
    ec->farDelay = farDelay & kEchoRingMask;
}

int32_t ResetNearEcho(EchoCanceller* ec, int32_t keep)
{
    const int32_t status = ClearFilters(ec->nearFilter, (keep & 1) == 0);
    if (keep == 0)
        std::memset(ec->estimation.nearTaps, 0, sizeof ec->estimation.nearTaps);
    std::memset(ec->ring.ring, 0, sizeof ec->ring.ring);
    ec->ring.writeIndex = 0;
    // The ring is read from the write index on (the modulator sets the read index to it after every symbol).
    ec->ring.readIndex = 0;
    ec->residual[0] = ec->residual[1] = ec->residual[2] = 0;
    ec->nearShift = kNearShift;
    ec->nearScaler = ShiftRight16;
    ec->nearScalerCount = 0;
    return status;
}

int32_t ResetEchoCanceller(EchoCanceller* ec, int32_t keep)
{
    int32_t status = ResetNearEcho(ec, keep);
    status |= ClearFilters(ec->farFilter, (keep & 1) == 0);
    if (keep == 0)
        std::memset(ec->estimation.farTaps, 0, sizeof ec->estimation.farTaps);
    ec->farReadIndex = static_cast<uint32_t>(-ec->farDelay) & kEchoRingMask;
    BuildHilbertLine(&ec->hilbert);
    ec->delay = EchoDelayLine{};
    ec->farLoop = PhaseLoop{};
    ec->samplePhase[0] = ec->samplePhase[1] = ec->samplePhase[2] = 0;
    ec->farPower = 0;
    ec->farScaler = ShiftRight16;
    ec->farScalerCount = 1;
    ec->farShift = kFarShift;
    ec->estimation.storedDelay = -1;
    return status != 0 ? -2 : 0;
}

void CancelEcho(EchoCanceller* ec, int16_t block[kV34BlockSamples]) { Cancel<false>(ec, block); }
void CancelEchoAdapt(EchoCanceller* ec, int16_t block[kV34BlockSamples]) { Cancel<true>(ec, block); }

void BuildHilbertLine(HilbertLine* line)
{
    *line = HilbertLine{};
    for (int k = 0; k < 5; ++k) {
        line->coefficient[k] = static_cast<int16_t>(kHilbertNumerator / (2 * (4 - k) + 1));
        line->coefficient[5 + k] = static_cast<int16_t>(-kHilbertNumerator / (2 * k + 1));
    }
}

PackedComplex HilbertStep(HilbertLine* line, int16_t sample)
{
    line->position = line->position >= 18 ? 0 : line->position + 1;
    line->line[line->position] = sample;
    int64_t sum = 0;
    for (int k = 0; k < 10; ++k)
        sum += int64_t{line->coefficient[k]} * line->line[(line->position + 19 - 2 * k) % 19];
    return PackComplex(line->line[(line->position + 19 - 9) % 19], Sat16(sum >> 15));
}

PackedComplex DelayStep(EchoDelayLine* line, PackedComplex value)
{
    const PackedComplex old = line->line[line->position];
    line->line[line->position] = value;
    line->position = line->position >= 8 ? 0 : line->position + 1;
    return old;
}
