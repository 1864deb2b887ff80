// The receive lists of the fax modulations, one tick per symbol, and their training steps: energy, the
// alternation of the first training segment, the start of the next segment, training against the
// regenerated sequence. The data steps are in fax_rx_data.cpp.
#include <cmath>
#include <complex>

#include "layer1/modem/fax/fax_rx.h"
#include "layer1/modem/fax/fax_rx_steps.h"
#include "layer1/modem/fax/fax_training.h"

namespace {

constexpr int32_t kEnergySymbols = 16;       // symbols above the threshold before the search starts (the equaliser centre lies 12 back)
constexpr int32_t kAlternationLimit = 400;   // symbols the alternation may be tracked before we give up
constexpr int32_t kAlternationConfirm = 12;  // matching symbols before a mismatch counts as the next segment
constexpr int32_t kAcquireEntry = 2;         // position of the alternation search in every list
constexpr int32_t kVerifySymbols = 16;       // training symbols checked against the reference
constexpr int32_t kVerifyMisses = 5;         // more misses than this: the segment start was wrong
constexpr int32_t kStatusInData = 0x10;
constexpr double kPi = 3.14159265358979323846;

FaxRxState* Rx(void* owner) { return static_cast<FaxRxState*>(owner); }

// The alternation's two points, and the training segment's length in symbols.
FaxPoint AlternationPoint(const FaxRxState* rx, int32_t which)
{
    switch (rx->params.modulation) {
    case FAX_V17: return FaxV17TrainingPoint(which);
    case FAX_V29: return which ? FaxV29TrainingB(FaxRateIndexOf(rx->code)) : FaxV29TrainingA();
    default: return FaxV27Point(which ? 4 : 0);
    }
}

int32_t SegmentLength(const FaxRxState* rx)
{
    switch (rx->params.modulation) {
    case FAX_V17: return rx->params.shortTrain ? 38 : 2976;
    case FAX_V29: return 384;
    default: return 1074;
    }
}

// A short training relies on the equaliser of the long training before it.
bool KeepsEqualiser(const FaxRxState* rx) { return rx->params.shortTrain && rx->keepTraining; }

bool PowerGone(const FaxRxState* rx) { return rx->power < rx->onPower / 2; }

void Restart(FaxRxState* rx) { ControlSequencer(&rx->inner, SEQ_START_AT, rx->list, 0); }

// The next training reference point.
FaxPoint NextReference(FaxRxState* rx)
{
    switch (rx->params.modulation) {
    case FAX_V17: return FaxV17TrainingPoint(FaxV17TrainingStep(&rx->reference));
    case FAX_V29: {
        const FaxPoint p = AlternationPoint(rx, FaxV29ConditioningStep(&rx->reference));
        return FaxPoint{-p.re, -p.im};
    }
    default:
        // The descrambler follows the sender's scrambler through the conditioning into the data.
        if (FaxV27ConditioningStep(&rx->descrambler, &rx->guardCount))
            rx->refPhase = (rx->refPhase + 4) & 7;
        return FaxV27Point(rx->refPhase);
    }
}

// True when the point lies nearer to another point of the training segments than to the expected one
// (the training points: V.17 A B C D; V.29 A, B and their negatives; V.27ter the two phases).
bool Misses(const FaxRxState* rx, FaxPoint expected)
{
    const int32_t own = FaxDistance(rx->point, expected);
    for (int32_t k = 0; k < 4; ++k) {
        FaxPoint q;
        if (rx->params.modulation == FAX_V17) {
            q = FaxV17TrainingPoint(k);
        } else {
            q = AlternationPoint(rx, k & 1);
            if (k >= 2)
                q = FaxPoint{-q.re, -q.im};
        }
        if ((q.re != expected.re || q.im != expected.im) && FaxDistance(rx->point, q) < own)
            return true;
    }
    return false;
}

void ClearSums(FaxRxState* rx)
{
    for (auto& phase : rx->altSum)
        for (auto& window : phase)
            for (auto& parity : window)
                parity[0] = parity[1] = 0;
    for (auto& window : rx->altRaw)
        for (auto& parity : window)
            parity[0] = parity[1] = 0;
    rx->altPower[0] = rx->altPower[1] = 0;
    rx->altCount = 0;
}

// From the sums of sixteen symbols: the sampling phase whose alternating part is strongest; which of the two
// points the even symbols carry (from the turn between them); the carrier phase of each window and so the
// frequency; the gain. Returns false when the signal is not the alternation (a steady tone, say). This runs
// once per training, so it works in double precision.
bool AlternationFound(FaxRxState* rx)
{
    using C = std::complex<double>;
    auto sum = [rx](int32_t p, int32_t w, int32_t odd) {
        return C(double(rx->altSum[p][w][odd][0]), double(rx->altSum[p][w][odd][1]));
    };
    int32_t phase = 0;
    double strength[2], meanPower[2];
    for (int32_t p = 0; p < 2; ++p) {
        const C e = sum(p, 0, 0) + sum(p, 1, 0);
        const C o = sum(p, 0, 1) + sum(p, 1, 1);
        strength[p] = std::norm(e - o);
        meanPower[p] = std::norm(e + o);
    }
    if (strength[1] > strength[0])
        phase = 1;
    // The alternation's own share of the mean: equal for V.17 (A + B and A - B have one length), none for
    // V.27ter, less for V.29; a steady carrier has no alternating part at all.
    if (strength[phase] <= 0 || strength[phase] < meanPower[phase] / 4)
        return false;
    // Coherence: the two points repeat (noise gives about 1/8 here, the alternation nearly 1).
    const C e0 = sum(phase, 0, 0) + sum(phase, 1, 0);
    const C o0 = sum(phase, 0, 1) + sum(phase, 1, 1);
    if ((std::norm(e0) + std::norm(o0)) < 0.6 * kFaxAlternationWindow * double(rx->altPower[phase]))
        return false;
    // Sampling phase: the alternating part of the signal goes as cos(pi t / T) about a symbol's centre, so
    // with the half-phase sums (phase 1 is half a symbol older) alt0 ~ cos(pi tau), alt1 ~ sin(pi tau), tau
    // being how far the phase-0 instants lie after the symbols' centres (in symbols).
    const C alt0 = (sum(0, 0, 0) + sum(0, 1, 0)) - (sum(0, 0, 1) + sum(0, 1, 1));
    const C alt1 = (sum(1, 0, 0) + sum(1, 1, 0)) - (sum(1, 0, 1) + sum(1, 1, 1));
    // Both projected on the direction of the stronger one (they share it but for the sign).
    const C direction = std::abs(alt1) > std::abs(alt0) ? alt1 / std::abs(alt1) : alt0 / std::abs(alt0);
    const double tau = std::atan2(std::real(alt1 * std::conj(direction)), std::real(alt0 * std::conj(direction))) / kPi;
    const bool keep = KeepsEqualiser(rx);
    // The estimates come from the stronger half phase (a kept equaliser: from its own output).
    auto source = [rx, keep, phase, &sum](int32_t w, int32_t odd) {
        return keep ? C(double(rx->altRaw[w][odd][0]), double(rx->altRaw[w][odd][1])) : sum(phase, w, odd);
    };
    const FaxPoint fa = AlternationPoint(rx, 0);
    const FaxPoint fb = AlternationPoint(rx, 1);
    const C a(fa.re, fa.im), b(fb.re, fb.im);
    const C even = source(0, 0) + source(1, 0);
    const C odd = source(0, 1) + source(1, 1);
    // Turn from even to odd symbols against the turn from A to B (V.27ter: a half turn either way).
    const double turn = std::arg(odd * std::conj(even));
    const double ab = std::arg(b * std::conj(a));
    const bool evenIsB = std::fabs(std::remainder(turn + ab, 2 * kPi)) < std::fabs(std::remainder(turn - ab, 2 * kPi));
    const C pe = evenIsB ? b : a;
    const C po = evenIsB ? a : b;
    C z[2];
    for (int32_t w = 0; w < 2; ++w)
        z[w] = source(w, 0) * std::conj(pe) + source(w, 1) * std::conj(po);
    const double step = std::remainder(std::arg(z[1]) - std::arg(z[0]), 2 * kPi) / kFaxAlternationWindow;
    // z = g e^(j phase) x (window / 2) x (|A|^2 + |B|^2) per window.
    const double g = (std::abs(z[0]) + std::abs(z[1])) / 2 / (kFaxAlternationWindow / 2 * (std::norm(a) + std::norm(b)));
    if (!(g > 0))
        return false;
    // Phase at the last symbol (window 1's centre lies 3.5 symbols before it), then one more for the next.
    const double now = std::arg(z[1]) + step * (kFaxAlternationWindow / 2.0 - 0.5 + 1.0);
    constexpr double kTurn = 4294967296.0 / (2 * kPi);
    rx->loopPhase = static_cast<uint32_t>(static_cast<int64_t>(std::llround(std::remainder(now, 2 * kPi) * kTurn)));
    rx->loopFrequency = static_cast<int32_t>(std::llround(step * kTurn));
    // From here on the centre tap's half phase falls on the symbols' centres (for a kept equaliser, the half
    // phase it was trained on): a shift of less than a quarter symbol for the stronger phase.
    if (!keep)
        rx->centrePhase = phase;
    const double offset = std::remainder(tau - rx->centrePhase / 2.0, 1.0);
    FaxRxShiftTiming(rx, static_cast<int32_t>(std::lround(-offset * rx->params.samplesPerSymbol * 8)));
    rx->altIndex = evenIsB ? 1 : 0;
    rx->loopShift1 = 2;
    rx->loopShift2 = 6;
    if (keep)
        return true;
    // The gain to the points' scale, and the samples already in the equaliser brought to it.
    const double ratio = 1.0 / g;
    const double newGain = rx->gain * ratio;
    rx->gain = static_cast<int32_t>(newGain > 0x7FFFFFFF ? 0x7FFFFFFF : newGain);
    for (int32_t k = 0; k < 2 * kFaxEqualiserTaps; ++k) {
        rx->eqRe[k] = static_cast<int32_t>(rx->eqRe[k] * ratio);
        rx->eqIm[k] = static_cast<int32_t>(rx->eqIm[k] * ratio);
    }
    FaxEqualiserReset(rx, phase);
    rx->loopPhase = static_cast<uint32_t>(static_cast<int64_t>(std::llround(std::remainder(now, 2 * kPi) * kTurn)));
    rx->loopFrequency = static_cast<int32_t>(std::llround(step * kTurn));
    return true;
}

// --- steps ---

void Init(void* owner)
{
    FaxRxState* rx = Rx(owner);
    if (rx->port.status != nullptr) {
        rx->port.status(rx->port.owner, 0, 1);
        rx->port.status(rx->port.owner, kStatusInData, 0);
    }
    rx->delivering = 0;
    rx->onCount = 0;
    rx->adapt = 0;
    rx->loopShift1 = 0;
}

void Energy(void* owner)
{
    FaxRxState* rx = Rx(owner);
    rx->onCount = rx->power >= rx->onPower ? rx->onCount + 1 : 0;
    if (rx->onCount < kEnergySymbols)
        return;
    ClearSums(rx);
    rx->symbols = 0;
    ControlSequencer(&rx->inner, SEQ_END_STEP, nullptr, 0);
}

// Sums the two half-symbol phases at the equaliser's centre over two windows of eight symbols, even and odd
// symbols apart; then decides whether this is the alternation.
void Acquire(void* owner)
{
    FaxRxState* rx = Rx(owner);
    if (PowerGone(rx)) {
        Restart(rx);
        return;
    }
    // A window that straddles the start of the signal (or a jump in level) is begun again.
    if (rx->altCount == 0)
        rx->acquirePower = rx->power;
    else if (rx->power > 2 * rx->acquirePower || 2 * rx->power < rx->acquirePower)
        ClearSums(rx);
    if (rx->altCount == 0)
        rx->acquirePower = rx->power;
    const int32_t n = rx->altCount;
    const int32_t window = n / kFaxAlternationWindow;
    for (int32_t p = 0; p < 2; ++p) {
        const int32_t at = rx->eqPos + kFaxEqualiserSpan + p;
        const int64_t re = rx->eqRe[at];
        const int64_t im = rx->eqIm[at];
        rx->altSum[p][window][n & 1][0] += re;
        rx->altSum[p][window][n & 1][1] += im;
        rx->altPower[p] += re * re + im * im;
    }
    rx->altRaw[window][n & 1][0] += rx->raw.re;
    rx->altRaw[window][n & 1][1] += rx->raw.im;
    rx->altCount += 1;
    if (rx->altCount < 2 * kFaxAlternationWindow)
        return;
    if (AlternationFound(rx)) {
        rx->altMatched = 0;
        rx->symbols = 0;
        ControlSequencer(&rx->inner, SEQ_END_STEP, nullptr, 0);
    }
    ClearSums(rx);
}

void TrackAlternation(void* owner)
{
    FaxRxState* rx = Rx(owner);
    if (PowerGone(rx) || rx->symbols > kAlternationLimit) {
        Restart(rx);
        return;
    }
    const FaxPoint expected = AlternationPoint(rx, rx->altIndex);
    if (!Misses(rx, expected)) {
        rx->decided = expected;
        FaxEqualiserStep(rx);
        rx->altIndex ^= 1;
        rx->altMatched += 1;
        return;
    }
    if (rx->altMatched < kAlternationConfirm) {
        // Too soon for the next segment: the alternation was found in noise, or it has just begun after
        // something else. Search again.
        ClearSums(rx);
        ControlSequencer(&rx->inner, SEQ_START_AT, rx->list, kAcquireEntry);
        return;
    }
    // The next segment starts here.
    rx->mismatches = 0;
    rx->segmentLeft = SegmentLength(rx);
    switch (rx->params.modulation) {
    case FAX_V17: rx->reference = kFaxV17TrainingPreset; break;
    case FAX_V29: rx->reference = kFaxV29ConditioningPreset; break;
    default:
        FaxV27ConditioningStart(&rx->descrambler, &rx->guardCount);
        rx->refPhase = rx->altIndex ? 0 : 4;  // the last alternation symbol's phase
        break;
    }
    rx->adapt = 1;
    rx->stepShift = 4 + rx->shiftBias;
    ControlSequencer(&rx->inner, SEQ_END_STEP, nullptr, 0);
    FaxTrain(rx);
}

}  // namespace

void FaxTrain(void* owner)
{
    FaxRxState* rx = Rx(owner);
    const FaxPoint ref = NextReference(rx);
    const int32_t done = SegmentLength(rx) - rx->segmentLeft;
    if (done < kVerifySymbols && Misses(rx, ref)) {
        rx->mismatches += 1;
        if (rx->mismatches > kVerifyMisses) {
            ClearSums(rx);
            ControlSequencer(&rx->inner, SEQ_START_AT, rx->list, kAcquireEntry);
            return;
        }
    }
    rx->decided = ref;
    // Fast adaptation first, then finer.
    if (done == 200)
        rx->stepShift = 5 + rx->shiftBias;
    if (done == 800)
        rx->stepShift = 6 + rx->shiftBias;
    FaxEqualiserStep(rx);
    rx->segmentLeft -= 1;
    if (rx->segmentLeft <= 0)
        ControlSequencer(&rx->inner, SEQ_END_STEP, nullptr, 0);
}

namespace {

void Train(void* owner)
{
    FaxRxState* rx = Rx(owner);
    if (PowerGone(rx)) {
        Restart(rx);
        return;
    }
    FaxTrain(rx);
}

// V.17 bridge: decisions among the four training points.
void Bridge(void* owner)
{
    FaxRxState* rx = Rx(owner);
    int32_t best = 0x7FFFFFFF;
    for (int32_t k = 0; k < 4; ++k) {
        const FaxPoint q = FaxV17TrainingPoint(k);
        const int32_t d = FaxDistance(rx->point, q);
        if (d < best) {
            best = d;
            rx->decided = q;
        }
    }
    rx->stepShift = 6 + rx->shiftBias;
    FaxEqualiserStep(rx);
}

#define S(h, n) {{h}, n}

const StepEntry kV17Long[] = {
    S(Init, 1), S(Energy, -1), S(Acquire, -1), S(TrackAlternation, -1), S(Train, -1), S(Bridge, 64),
    S(FaxRxDataStart, 1), S(FaxRxData, -1), S(FaxRxEnd, 1), kStepEnd,
};
const StepEntry kV17Short[] = {
    S(Init, 1), S(Energy, -1), S(Acquire, -1), S(TrackAlternation, -1), S(Train, -1), S(Bridge, 0),
    S(FaxRxDataStart, 1), S(FaxRxData, -1), S(FaxRxEnd, 1), kStepEnd,
};
const StepEntry kOther[] = {
    S(Init, 1), S(Energy, -1), S(Acquire, -1), S(TrackAlternation, -1), S(Train, -1),
    S(FaxRxDataStart, 1), S(FaxRxData, -1), S(FaxRxEnd, 1), kStepEnd,
};

#undef S

}  // namespace

const StepEntry* FaxRxListOf(int32_t code)
{
    if (FaxModulationOf(code) == FAX_V17)
        return (code & kFaxShortTrainBit) ? kV17Short : kV17Long;
    return kOther;
}
