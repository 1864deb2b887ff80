// The line-probing measurement: collection and input gain, then two passes of 128-point transforms, during
// L1 (the spectrum, the timing drift and the frequency offset between transforms 4 blocks apart) and during
// L2 (the spectrum again with the offset removed, transforms 8 blocks apart). L1 and L2 repeat every 64
// samples, so a 128-sample transform holds whole periods: the even bins carry the tones, the odd bins only
// noise.
#include "layer1/modem/v34/probe_analysis.h"

#include <cstring>

#include "layer1/modem/v34/fixed_point.h"
#include "layer1/vek/core/vek_dispatch.h"
#include "layer1/vek/util/root.h"

namespace {

constexpr int32_t kSettleSamples = 32;
constexpr int32_t kMinEnergy = 30;           // per 128 samples (sum of x^2 >> 6): below it, no signal
constexpr int64_t kTargetLevel = 3000;       // rms after the input gain
constexpr int32_t kGapSamples = 200;
constexpr int32_t kPass1Blocks = 10;
constexpr int32_t kPass1Lag = 4;
constexpr int32_t kPass2Blocks = 16;
constexpr int32_t kPass2Lag = 8;
constexpr int16_t kLevelPole = 32704;
constexpr int32_t kMixPerUnit = 4474;        // phase step per sample for 0.02 Hz, 2^31 a turn
constexpr int32_t kOffsetScale = 38198;      // phase per block (1024 a radian) to 0.02 Hz units, Q16
constexpr int32_t kDelayScale = -159152;
constexpr int32_t kMaxWeight = 128;
constexpr int32_t kMinWeight = 4;
// The four tones L1 and L2 leave out (900, 1200, 1800, 2400 Hz), as indices of tone k x 150 Hz less one.
constexpr int kMissing[4] = {5, 7, 11, 15};

bool IsMissing(int i)
{
    for (int m : kMissing)
        if (m == i)
            return true;
    return false;
}

int16_t ApplyGain(const ProbeAnalysis* p, int16_t x)
{
    int32_t v = x;
    if (p->gainExponent >= 0)
        v = static_cast<int32_t>(static_cast<uint32_t>(v) << (p->gainExponent > 15 ? 15 : p->gainExponent));
    else
        v >>= (-p->gainExponent > 15 ? 15 : -p->gainExponent);
    int16_t overflow = 0;
    return MulScaleSat(v, p->gainMantissa, &overflow);
}

void RunLevelFilter(ProbeAnalysis* p, int16_t sample)
{
    int32_t x = sample;
    for (int32_t& y : p->levelFilter) {
        y = Add32(63 * 2 * x, MulQ31Q15(y, kLevelPole));
        x = y >> 16;
    }
}

// The gain that brings the collected level to about kTargetLevel, as a mantissa in 0x2FFF-0x5FFF and an
// exponent.
void ChooseGain(ProbeAnalysis* p)
{
    const int64_t meanSquare = p->energy * 64 / kProbeBlock;
    const int64_t quotient = kTargetLevel * kTargetLevel * (int64_t{1} << 28) / (meanSquare > 0 ? meanSquare : 1);
    int64_t m = 2 * static_cast<int64_t>(vek::root::isqrt(static_cast<uint64_t>(quotient)));  // quotient > 0
    int16_t e = 0;
    while (m > 0x5FFF) {
        m >>= 1;
        ++e;
    }
    while (m < 0x2FFF && m > 0) {
        m <<= 1;
        --e;
    }
    p->gainMantissa = static_cast<int16_t>(m);
    p->gainExponent = e;
}

// 128-point decimation-in-frequency transform; every butterfly halves, so the result is the transform / 128.
void Transform(ProbeAnalysis* p, int32_t* re, int32_t* im)
{
    for (int span = kProbeBlock / 2, step = 1; span >= 1; span >>= 1, step <<= 1) {
        for (int start = 0; start < kProbeBlock; start += 2 * span) {
            for (int k = 0; k < span; ++k) {
                const int a = start + k;
                const int b = a + span;
                const int32_t sr = (re[a] + re[b]) >> 1;
                const int32_t si = (im[a] + im[b]) >> 1;
                const int32_t dr = (re[a] - re[b]) >> 1;
                const int32_t di = (im[a] - im[b]) >> 1;
                const int32_t c = p->twiddleCos[k * step];
                const int32_t s = p->twiddleSin[k * step];
                re[a] = sr;
                im[a] = si;
                // (dr + j di) (c - j s)
                re[b] = (dr * c + di * s) >> 15;
                im[b] = (di * c - dr * s) >> 15;
            }
        }
    }
}

int BitReverse7(int v)
{
    int r = 0;
    for (int i = 0; i < 7; ++i)
        r |= ((v >> i) & 1) << (6 - i);
    return r;
}

// Phase difference of bin k between two transforms, 4096 a radian.
int16_t CrossPhase(PackedComplex a, PackedComplex b)
{
    // a times the conjugate of b.
    int64_t re = static_cast<int64_t>(RealPart(a)) * RealPart(b) + static_cast<int64_t>(ImagPart(a)) * ImagPart(b);
    int64_t im = static_cast<int64_t>(ImagPart(a)) * RealPart(b) - static_cast<int64_t>(RealPart(a)) * ImagPart(b);
    while (re > 32700 || re < -32700 || im > 32700 || im < -32700) {
        re /= 2;
        im /= 2;
    }
    const VekC16 z{static_cast<int16_t>(re), static_cast<int16_t>(im)};
    int16_t phase = 0;
    if (vek_phase_complex_16(&z, &phase, 1, -12) < 0)
        return 0;
    return phase;
}

// Slope and intercept (per tone number) of the phase differences between two transforms, weighted by how
// far each tone stands above the noise beside it.
void EstimatePhaseSlope(ProbeAnalysis* p, const PackedComplex* now, const PackedComplex* before, int64_t* slope,
                        int64_t* intercept)
{
    int64_t weight[kProbeTones];
    int64_t largest = 0;
    for (int i = 0; i < kProbeTones; ++i) {
        const int64_t tone = p->power[2 * (i + 1)];
        const int64_t beside = p->power[2 * (i + 1) - 1];
        int64_t w = tone / (beside > 0 ? beside : 1);
        w = w > (int64_t{1} << 24) ? (int64_t{1} << 24) : w;
        weight[i] = IsMissing(i) ? 0 : w;
        largest = weight[i] > largest ? weight[i] : largest;
    }
    if (largest >= kMaxWeight) {
        const int64_t d = largest >> 7;
        for (int64_t& w : weight) {
            w /= d;
            w = w > kMaxWeight ? kMaxWeight : w;
        }
    }
    int64_t phase[kProbeTones];
    for (int i = 0; i < kProbeTones; ++i) {
        if (weight[i] < kMinWeight)
            weight[i] = 0;
        phase[i] = 8 * static_cast<int64_t>(CrossPhase(now[2 * (i + 1)], before[2 * (i + 1)]));
    }
    for (int m : kMissing)
        phase[m] = (phase[m - 1] + phase[m + 1]) / 2;
    int64_t sw = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (int i = 0; i < kProbeTones; ++i) {
        const int64_t x = i + 1;
        sw += weight[i];
        sx += weight[i] * x;
        sy += weight[i] * phase[i];
        sxx += weight[i] * x * x;
        sxy += weight[i] * x * phase[i];
    }
    const int64_t det = sw * sxx - sx * sx;
    if (sw == 0 || det == 0) {
        *slope = 0;
        *intercept = 0;
        return;
    }
    *slope = (sw * sxy - sx * sy) / det;
    *intercept = (sy * sxx - sx * sxy) / det;
}

// Accumulated powers scaled into 31 bits; returns the right shift used.
int32_t StoreSpectrum(const int64_t* power, int32_t* out)
{
    int64_t largest = 0;
    for (int k = 0; k < kProbeBins; ++k)
        largest = power[k] > largest ? power[k] : largest;
    int32_t shift = 0;
    while ((largest >> shift) >= (int64_t{1} << 30))
        ++shift;
    for (int k = 0; k < kProbeBins; ++k)
        out[k] = static_cast<int32_t>(power[k] >> shift);
    return shift;
}

void StartPass(ProbeAnalysis* p, int32_t lag, int32_t blocks)
{
    std::memset(p->power, 0, sizeof(p->power));
    std::memset(p->history, 0, sizeof(p->history));
    p->slopeSum = 0;
    p->interceptSum = 0;
    p->comparisons = 0;
    p->blocks = 0;
    p->count = 0;
    p->lag = lag;
    p->blockTarget = blocks;
}

// One full buffer: mix, transform, accumulate, compare. Returns 1 when the pass has its blocks.
int32_t RunBlock(ProbeAnalysis* p)
{
    int32_t re[kProbeBlock];
    int32_t im[kProbeBlock];
    for (int n = 0; n < kProbeBlock; ++n) {
        int16_t s;
        int16_t c;
        SinCosQ15(static_cast<uint16_t>(p->mixPhase >> 15), &s, &c);
        p->mixPhase += static_cast<uint32_t>(p->mixStep);
        re[n] = (p->buffer[n] * c) >> 15;
        im[n] = (p->buffer[n] * s) >> 15;
    }
    Transform(p, re, im);
    PackedComplex* out = p->history[p->blocks % kProbeHistory];
    for (int k = 0; k < kProbeBins; ++k) {
        const int j = BitReverse7(k);
        // Conjugated.
        out[k] = PackComplex(re[j], -im[j]);
        p->work[k] = out[k];
        p->power[k] += static_cast<int64_t>(re[j]) * re[j] + static_cast<int64_t>(im[j]) * im[j];
    }
    if (p->blocks >= p->lag) {
        int64_t slope;
        int64_t intercept;
        EstimatePhaseSlope(p, out, p->history[(p->blocks - p->lag) % kProbeHistory], &slope, &intercept);
        p->slopeSum += slope;
        p->interceptSum += intercept;
        p->comparisons += 1;
    }
    p->blocks += 1;
    p->count = 0;
    return p->blocks >= p->blockTarget;
}

// The pass's slope and intercept per block, scaled to a delay and to 0.02 Hz.
void PassResults(const ProbeAnalysis* p, int32_t* delay, int32_t* offset)
{
    const int64_t d = static_cast<int64_t>(p->lag) * (p->comparisons > 0 ? p->comparisons : 1);
    const int64_t slope = p->slopeSum / d;
    const int64_t intercept = (p->interceptSum / d) >> 5;
    *delay = static_cast<int32_t>((slope * kDelayScale) >> 16);
    *offset = static_cast<int32_t>((intercept * kOffsetScale) >> 16);
}

}  // namespace

void InitProbeAnalysis(ProbeAnalysis* p)
{
    std::memset(p, 0, sizeof(*p));
    p->gainMantissa = 0x4000;
    p->gainExponent = 1;
    for (int k = 0; k < kProbeBlock / 2; ++k) {
        int16_t s;
        int16_t c;
        SinCosQ15(static_cast<uint16_t>(k * 512), &s, &c);
        p->twiddleCos[k] = c;
        p->twiddleSin[k] = s;
    }
    p->state = kProbeSettle;
    p->sampleTarget = kSettleSamples;
    p->lag = kPass1Lag;
    p->blockTarget = kPass1Blocks;
}

int32_t ProbeAnalysisSample(ProbeAnalysis* p, int16_t sample)
{
    RunLevelFilter(p, sample);
    switch (p->state) {
    case kProbeSettle:
        if (++p->sampleCount >= p->sampleTarget) {
            p->state = kProbeGain;
            p->count = 0;
            p->energy = 0;
        }
        return 0;
    case kProbeGain: {
        const int16_t x = ApplyGain(p, sample);
        p->buffer[p->count++] = x;
        p->energy += (static_cast<int32_t>(x) * x) >> 6;
        const int32_t mag = x < 0 ? -x : x;
        p->peak = mag > p->peak ? mag : p->peak;
        if (p->count < kProbeBlock)
            return 0;
        if (p->energy < kMinEnergy) {
            p->count = 0;
            p->energy = 0;
            p->peak = 0;
            return 0;
        }
        ChooseGain(p);
        StartPass(p, kPass1Lag, kPass1Blocks);
        p->mixPhase = 0;
        p->mixStep = 0;
        p->state = kProbePass1;
        return 0;
    }
    case kProbePass1:
    case kProbePass2:
        p->buffer[p->count++] = ApplyGain(p, sample);
        if (p->count < kProbeBlock || RunBlock(p) == 0)
            return 0;
        if (p->state == kProbePass1) {
            PassResults(p, &p->delayEstimate, &p->frequencyOffset);
            p->firstShift = StoreSpectrum(p->power, p->firstSpectrum);
            p->state = kProbeGap;
            p->sampleCount = 0;
            p->sampleTarget = kGapSamples;
            return 0;
        }
        {
            int32_t delay;
            PassResults(p, &delay, &p->residualOffset);
        }
        p->secondShift = StoreSpectrum(p->power, p->secondSpectrum);
        p->state = kProbeDone;
        return 1;
    case kProbeGap:
        if (++p->sampleCount < p->sampleTarget)
            return 0;
        p->mixStep = p->frequencyOffset * kMixPerUnit;
        p->mixPhase = 0;
        StartPass(p, kPass2Lag, kPass2Blocks);
        p->state = kProbePass2;
        return 0;
    default:
        return 0;
    }
}
