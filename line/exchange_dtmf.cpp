#include "line/exchange_dtmf.h"

#include <cmath>
#include <cstring>

#include "line/line_model.h"

namespace {

constexpr double kTwoPi = 6.283185307179586476925;
constexpr double kFrequency[kDtmfChannels] = {697, 770, 852, 941, 1209, 1336, 1477, 1633};
constexpr char kKeys[4][4] = {{'1', '2', '3', 'A'}, {'4', '5', '6', 'B'}, {'7', '8', '9', 'C'}, {'*', '0', '#', 'D'}};
constexpr double kStepSeconds = static_cast<double>(kDtmfDecimation) / kLineRate;

constexpr double kMinToneDbm0 = -35.0;     // each tone at least this loud to count as present
constexpr double kDominance = 0.6;         // the two tones carry at least this share of the power
constexpr double kMaxDeviation = 0.025;    // relative frequency deviation
constexpr double kMaxForwardTwist = 5.0;   // high group above low, dB
constexpr double kMaxReverseTwist = 9.0;   // high group below low, dB
constexpr double kMinDurationMs = 31.0;
constexpr int kBridgeSteps = 20;           // ms of absence bridged inside one digit

// Amplitude gain of the three moving averages for a tone df Hz off the channel's frequency.
double Gain(double df)
{
    const double x = M_PI * df / kLineRate;
    if (std::fabs(x) < 1e-12)
        return 1.0;
    const double g = std::sin(x * kDtmfAverage) / (kDtmfAverage * std::sin(x));
    return std::fabs(g * g * g);
}

// Loss of a tone's measured duration to the filter's rising and falling edges: 2 * sum S (1 - S) over the
// step response S.
double EdgeLossMs()
{
    double a[3] = {0, 0, 0};
    double ring[3][kDtmfAverage] = {};
    double loss = 0;
    for (int n = 0; n < 3 * kDtmfAverage; ++n) {
        double v = 1.0;
        for (int s = 0; s < 3; ++s) {
            a[s] += v - ring[s][n % kDtmfAverage];
            ring[s][n % kDtmfAverage] = v;
            v = a[s] / kDtmfAverage;
        }
        loss += 2.0 * v * (1.0 - v);
    }
    return loss * 1000.0 / kLineRate;
}

void Judge(DtmfReceiver* r)
{
    DtmfVerdict v;
    const double p0 = LinePowerOfDbm0(0.0);
    v.durationMs = (r->peak > 0 ? r->energy / r->peak : 0.0) * kStepSeconds * 1000.0 + r->edgeMs;
    v.lowHz = kFrequency[r->runLow] + std::arg(r->advanceLow) / (kTwoPi * kStepSeconds);
    v.highHz = kFrequency[r->runHigh] + std::arg(r->advanceHigh) / (kTwoPi * kStepSeconds);
    const double gl = Gain(v.lowHz - kFrequency[r->runLow]);
    const double gh = Gain(v.highHz - kFrequency[r->runHigh]);
    v.lowDbm0 = 10.0 * std::log10(2.0 * r->peakLow / (gl * gl) / p0 + 1e-30);
    v.highDbm0 = 10.0 * std::log10(2.0 * r->peakHigh / (gh * gh) / p0 + 1e-30);
    const double twist = v.highDbm0 - v.lowDbm0;
    if (std::fabs(v.lowHz / kFrequency[r->runLow] - 1.0) > kMaxDeviation ||
        std::fabs(v.highHz / kFrequency[r->runHigh] - 1.0) > kMaxDeviation)
        v.reject = "frequency deviation";
    else if (twist > kMaxForwardTwist || twist < -kMaxReverseTwist)
        v.reject = "twist";
    else if (v.durationMs < kMinDurationMs)
        v.reject = "too short";
    else
        v.digit = kKeys[r->runLow][r->runHigh - 4];
    if (r->verdictCount < 8)
        r->verdicts[r->verdictCount++] = v;
    r->inRun = false;
}

void StartRun(DtmfReceiver* r, int low, int high)
{
    r->inRun = true;
    r->runLow = low;
    r->runHigh = high;
    r->gap = 0;
    r->energy = r->peak = r->peakLow = r->peakHigh = 0;
    r->advanceLow = r->advanceHigh = 0;
}

// One decision step: y holds the channels' baseband values, total the signal's smoothed power.
void Decide(DtmfReceiver* r, const std::complex<double>* y, double total)
{
    double p[kDtmfChannels];
    std::complex<double> adv[kDtmfChannels];
    for (int k = 0; k < kDtmfChannels; ++k) {
        p[k] = std::norm(y[k]);
        adv[k] = y[k] * std::conj(r->last[k]);
        r->last[k] = y[k];
    }
    int lo = 0, hi = 4;
    for (int k = 1; k < 4; ++k)
        if (p[k] > p[lo])
            lo = k;
    for (int k = 5; k < 8; ++k)
        if (p[k] > p[hi])
            hi = k;
    // A real tone's power is twice the baseband value's.
    const double minPower = LinePowerOfDbm0(kMinToneDbm0);
    const bool present = 2 * p[lo] >= minPower && 2 * p[hi] >= minPower && 2 * (p[lo] + p[hi]) >= kDominance * total;

    if (r->inRun && present && (lo != r->runLow || hi != r->runHigh)) {
        // Another pair took over without a pause.
        const double now = p[r->runLow] + p[r->runHigh];
        if (p[lo] + p[hi] > now)
            Judge(r);
    }
    if (!r->inRun) {
        if (!present)
            return;
        StartRun(r, lo, hi);
    }
    const double run = p[r->runLow] + p[r->runHigh];
    r->energy += run;
    r->advanceLow += adv[r->runLow];
    r->advanceHigh += adv[r->runHigh];
    if (run > r->peak) {
        r->peak = run;
        r->peakLow = p[r->runLow];
        r->peakHigh = p[r->runHigh];
    }
    const bool same = present && lo == r->runLow && hi == r->runHigh;
    if (same && run >= r->peak / 4)
        r->gap = 0;
    else if (++r->gap > kBridgeSteps)
        Judge(r);
}

void Resum(DtmfReceiver* r)
{
    for (int s = 0; s < 3; ++s) {
        r->powerSum[s] = 0;
        for (int i = 0; i < kDtmfAverage; ++i)
            r->powerSum[s] += r->powerRing[s][i];
        for (int k = 0; k < kDtmfChannels; ++k) {
            r->sum[s][k] = 0;
            for (int i = 0; i < kDtmfAverage; ++i)
                r->sum[s][k] += r->ring[s][k][i];
        }
    }
}

}  // namespace

void DtmfReceiverInit(DtmfReceiver* r)
{
    *r = DtmfReceiver();
    for (int k = 0; k < kDtmfChannels; ++k) {
        r->rotor[k] = 1.0;
        r->step[k] = std::polar(1.0, kTwoPi * kFrequency[k] / kLineRate);
    }
    r->edgeMs = EdgeLossMs();
}

bool DtmfReceiverActive(const DtmfReceiver* r)
{
    return r->inRun;
}

void DtmfReceiverRun(DtmfReceiver* r, const int16_t* samples, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        const double x = samples[i];
        const int pos = r->pos;
        // The signal's power through the same filter.
        double v = x * x;
        for (int s = 0; s < 3; ++s) {
            r->powerSum[s] += v - r->powerRing[s][pos];
            r->powerRing[s][pos] = v;
            v = r->powerSum[s] / kDtmfAverage;
        }
        const double total = v;
        std::complex<double> y[kDtmfChannels];
        for (int k = 0; k < kDtmfChannels; ++k) {
            std::complex<double> z = x * std::conj(r->rotor[k]);
            r->rotor[k] *= r->step[k];
            for (int s = 0; s < 3; ++s) {
                r->sum[s][k] += z - r->ring[s][k][pos];
                r->ring[s][k][pos] = z;
                z = r->sum[s][k] / static_cast<double>(kDtmfAverage);
            }
            y[k] = z;
        }
        r->pos = (pos + 1) % kDtmfAverage;
        if (++r->renormalise % 4000 == 0) {
            // Keep the oscillators on the unit circle and the running sums free of accumulated rounding.
            for (int k = 0; k < kDtmfChannels; ++k)
                r->rotor[k] /= std::abs(r->rotor[k]);
            Resum(r);
        }
        if (++r->phase == kDtmfDecimation) {
            r->phase = 0;
            Decide(r, y, total);
        }
    }
}
