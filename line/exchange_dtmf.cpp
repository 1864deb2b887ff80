#include "line/exchange_dtmf.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "line/line_model.h"

namespace {

constexpr double kTwoPi = 6.283185307179586476925;
constexpr int kFrequency[kDtmfChannels] = {697, 770, 852, 941, 1209, 1336, 1477, 1633};
constexpr char kKeys[4][4] = {{'1', '2', '3', 'A'}, {'4', '5', '6', 'B'}, {'7', '8', '9', 'C'}, {'*', '0', '#', 'D'}};
constexpr double kStepSeconds = static_cast<double>(kDtmfDecimation) / kLineRate;

constexpr double kMinToneDbm0 = -35.0;     // each tone at least this loud to count as present
constexpr double kDominance = 0.6;         // the two tones carry at least this share of the power
constexpr double kMaxDeviation = 0.025;    // relative frequency deviation
constexpr double kMaxForwardTwist = 5.0;   // high group above low, dB
constexpr double kMaxReverseTwist = 9.0;   // high group below low, dB
constexpr double kMinDurationMs = 31.0;
constexpr int kBridgeSteps = 20;           // ms of absence bridged inside one digit
constexpr double kOscillatorScale = 1073741824.0;  // 2^30
constexpr double kAverageGain = static_cast<double>(kDtmfAverage) * kDtmfAverage * kDtmfAverage;

// One second of the oscillators: 2^30 x cos and sin of 2 pi n / 8000, rounded.
struct OscillatorTable {
    std::vector<int32_t> cosine, sine;
    OscillatorTable() : cosine(kLineRate), sine(kLineRate)
    {
        for (int n = 0; n < kLineRate; ++n) {
            cosine[n] = static_cast<int32_t>(std::lround(kOscillatorScale * std::cos(kTwoPi * n / kLineRate)));
            sine[n] = static_cast<int32_t>(std::lround(kOscillatorScale * std::sin(kTwoPi * n / kLineRate)));
        }
    }
};

const OscillatorTable& Oscillators()
{
    static const OscillatorTable table;
    return table;
}

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

// The phase advance of channel k from its previous baseband value to y: y times the conjugate of the previous
// one, with the products and sums of the library's complex multiplication (same doubles), which only the two
// channels of the run need.
std::complex<double> Advance(std::complex<double> y, std::complex<double> previous)
{
    const double a = y.real(), b = y.imag(), c = previous.real(), d = -previous.imag();
    return {a * c - b * d, a * d + b * c};
}

// Keeps every channel's baseband value for the next step's phase advance.
void KeepLast(DtmfReceiver* r, const double* yr, const double* yi)
{
    for (int k = 0; k < kDtmfChannels; ++k)
        r->last[k] = std::complex<double>(yr[k], yi[k]);
}

// One decision step: yr and yi hold the channels' baseband values, total the signal's smoothed power.
void Decide(DtmfReceiver* r, const double* yr, const double* yi, double total)
{
    double p[kDtmfChannels];
    for (int k = 0; k < kDtmfChannels; ++k)
        p[k] = yr[k] * yr[k] + yi[k] * yi[k];
    int lo = 0, hi = 4;
    for (int k = 1; k < 4; ++k)
        if (p[k] > p[lo])
            lo = k;
    for (int k = 5; k < 8; ++k)
        if (p[k] > p[hi])
            hi = k;
    // A real tone's power is twice the baseband value's.
    const double minPower = r->minPower;
    const bool present = 2 * p[lo] >= minPower && 2 * p[hi] >= minPower && 2 * (p[lo] + p[hi]) >= kDominance * total;

    if (r->inRun && present && (lo != r->runLow || hi != r->runHigh)) {
        // Another pair took over without a pause.
        const double now = p[r->runLow] + p[r->runHigh];
        if (p[lo] + p[hi] > now)
            Judge(r);
    }
    if (!r->inRun && !present) {
        KeepLast(r, yr, yi);
        return;
    }
    if (!r->inRun)
        StartRun(r, lo, hi);
    const double run = p[r->runLow] + p[r->runHigh];
    r->energy += run;
    const int l = r->runLow, h = r->runHigh;
    r->advanceLow += Advance({yr[l], yi[l]}, r->last[l]);
    r->advanceHigh += Advance({yr[h], yi[h]}, r->last[h]);
    KeepLast(r, yr, yi);
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

// The combs of one decision step: three differences over 5 ms of every lane's third integrator (its value at
// the end of the step) give the three moving sums; scaled back, the channels' baseband values and the signal's
// power.
void DecisionStep(DtmfReceiver* r, const uint64_t* third)
{
    int64_t out[kDtmfLanes];
    const int pos = r->combPos;
    uint64_t* c0 = r->comb[0][pos];
    uint64_t* c1 = r->comb[1][pos];
    uint64_t* c2 = r->comb[2][pos];
    for (int lane = 0; lane < kDtmfLanes; ++lane) {
        const uint64_t v0 = third[lane];
        const uint64_t v1 = v0 - c0[lane];
        const uint64_t v2 = v1 - c1[lane];
        out[lane] = static_cast<int64_t>(v2 - c2[lane]);
        c0[lane] = v0;
        c1[lane] = v1;
        c2[lane] = v2;
    }
    r->combPos = pos + 1 == kDtmfCombDelay ? 0 : pos + 1;
    double yr[kDtmfChannels], yi[kDtmfChannels];
    const double scale = 1.0 / (kAverageGain * kOscillatorScale);
    for (int k = 0; k < kDtmfChannels; ++k) {
        yr[k] = static_cast<double>(out[k]) * scale;
        yi[k] = static_cast<double>(out[kDtmfChannels + k]) * scale;
    }
    Decide(r, yr, yi, static_cast<double>(out[2 * kDtmfChannels]) / kAverageGain);
}

}  // namespace

void DtmfReceiverInit(DtmfReceiver* r)
{
    *r = DtmfReceiver();
    r->cosine = Oscillators().cosine.data();
    r->sine = Oscillators().sine.data();
    r->edgeMs = EdgeLossMs();
    r->minPower = LinePowerOfDbm0(kMinToneDbm0);
}

bool DtmfReceiverActive(const DtmfReceiver* r)
{
    return r->inRun;
}

namespace {

// The three integrators of one lane over a run of inputs, held in registers.
struct Integrators {
    uint64_t a, b, c;
    void Add(uint64_t in)
    {
        a += in;
        b += a;
        c += b;
    }
};

// Samples per pass of the integrators (the decision steps of a pass follow it).
constexpr int kDtmfPass = 128;
constexpr int kDtmfPassSteps = kDtmfPass / kDtmfDecimation + 1;

// The third integrator of every lane at the end of each decision step within a pass.
struct StepEnds {
    uint64_t third[kDtmfPassSteps][kDtmfLanes];
    int count = 0;
};

// Runs add(j) over samples 0 ... m-1 of a pass and end(step) after each sample that ends a decision step (the
// first after first samples, then every kDtmfDecimation).
template <class Add, class End>
inline void Segments(int m, int first, Add add, End end)
{
    int j = 0;
    int step = 0;
    for (int next = first; j < m; next += kDtmfDecimation) {
        const int stop = next < m ? next : m;
        for (; j < stop; ++j)
            add(j);
        if (j == next)
            end(step++);
    }
}

// A pass of m samples, lane by lane: each channel's oscillator and both of its lanes, then the power lane, their
// integrators held in registers over the whole pass. The integrators are linear and independent per lane, so the
// order of the additions within a lane is all that matters, and that is the order of the samples; the decision
// steps only need each lane's third integrator at their ends, which the pass keeps.
void IntegratePass(DtmfReceiver* r, const int16_t* samples, int m, StepEnds* ends)
{
    const int first = kDtmfDecimation - r->phase;
    for (int k = 0; k < kDtmfChannels; ++k) {
        const int32_t step = kFrequency[k];
        const int32_t* cosine = r->cosine;
        const int32_t* sine = r->sine;
        int32_t p = r->oscillator[k];
        Integrators re{r->integrator[0][k], r->integrator[1][k], r->integrator[2][k]};
        const int im0 = kDtmfChannels + k;
        Integrators im{r->integrator[0][im0], r->integrator[1][im0], r->integrator[2][im0]};
        Segments(
            m, first,
            [&](int j) {
                const int64_t x = samples[j];
                re.Add(static_cast<uint64_t>(x * cosine[p]));
                im.Add(static_cast<uint64_t>(-x * sine[p]));
                const int32_t next = p + step;
                p = next >= kLineRate ? next - kLineRate : next;
            },
            [&](int s) {
                ends->third[s][k] = re.c;
                ends->third[s][im0] = im.c;
            });
        r->oscillator[k] = p;
        r->integrator[0][k] = re.a;
        r->integrator[1][k] = re.b;
        r->integrator[2][k] = re.c;
        r->integrator[0][im0] = im.a;
        r->integrator[1][im0] = im.b;
        r->integrator[2][im0] = im.c;
    }
    const int pw = 2 * kDtmfChannels;
    Integrators power{r->integrator[0][pw], r->integrator[1][pw], r->integrator[2][pw]};
    int steps = 0;
    Segments(
        m, first,
        [&](int j) {
            const int64_t x = samples[j];
            power.Add(static_cast<uint64_t>(x * x));
        },
        [&](int s) {
            ends->third[s][pw] = power.c;
            ends->third[s][pw + 1] = r->integrator[2][pw + 1];
            steps = s + 1;
        });
    r->integrator[0][pw] = power.a;
    r->integrator[1][pw] = power.b;
    r->integrator[2][pw] = power.c;
    ends->count = steps;
    r->phase = (r->phase + m) % kDtmfDecimation;
}

}  // namespace

void DtmfReceiverRun(DtmfReceiver* r, const int16_t* samples, size_t n)
{
    StepEnds ends;
    for (size_t i = 0; i < n;) {
        const int m = n - i < static_cast<size_t>(kDtmfPass) ? static_cast<int>(n - i) : kDtmfPass;
        IntegratePass(r, samples + i, m, &ends);
        for (int s = 0; s < ends.count; ++s)
            DecisionStep(r, ends.third[s]);
        i += static_cast<size_t>(m);
    }
}
