// The voice-mode DTMF detector.
#include "layer1/modem/voice/voice_dtmf.h"

#include <array>
#include <cmath>

#include "platform/saturate.h"

namespace {

constexpr int16_t kDtmfFrequency[kDtmfFilters] = {697, 770, 852, 941, 1209, 1336, 1477, 1633};
constexpr int16_t kOscillatorAmplitude = 4096;

// Low-group filter by high-group filter.
constexpr int8_t kDtmfDigitTable[4][4] = {
    {1, 2, 3, 10},
    {4, 5, 6, 11},
    {7, 8, 9, 12},
    {14, 0, 15, 13},
};

// Decision limits: the block energy and the sum of the filter powers, and each group peak between 0.2 and
// 0.8 of that sum (Q15).
constexpr int32_t kMinEnergy = 1640;
constexpr int32_t kMinPowerSum = 3280;
constexpr int32_t kPeakLow = 6556;
constexpr int32_t kPeakHigh = 26214;
constexpr int32_t kPowerScale = 41942;     // 1.28 in Q15
constexpr int32_t kGainSmoothing = 29491;  // 0.9 in Q15
constexpr int32_t kGainScale = 3276;       // 0.1 in Q15
constexpr int16_t kConfirmBlocks = 6;      // a digit needs more equal blocks than this
constexpr int16_t kReportGap = 8;          // digit-free blocks before the report
constexpr int16_t kMissLimit = 12;

std::array<int16_t, kDtmfSineEntries> MakeSineTable()
{
    std::array<int16_t, kDtmfSineEntries> t{};
    const double pi = 3.14159265358979323846;
    for (int k = 0; k < kDtmfSineEntries; ++k)
        t[k] = static_cast<int16_t>(std::trunc(32700.0 * std::sin(2.0 * pi * k / 128.0)));
    return t;
}

std::array<int16_t, kInvSqrtEntries> MakeInvSqrtTable()
{
    std::array<int16_t, kInvSqrtEntries> t{};
    for (int i = 0; i < kInvSqrtEntries; ++i) {
        const long v = std::lround(32768.0 / std::sqrt(1.0 + i / 16.0));
        t[i] = static_cast<int16_t>(v > 32767 ? 32767 : v);
    }
    return t;
}

const std::array<int16_t, kDtmfSineEntries> gSine = MakeSineTable();
const std::array<int16_t, kInvSqrtEntries> gInvSqrt = MakeInvSqrtTable();

// An arithmetic shift left for s >= 0, right for s < 0, on a 64-bit intermediate.
int64_t ShiftBy(int64_t v, int32_t s)
{
    return s >= 0 ? v * (int64_t{1} << s) : v >> -s;
}

void OscillatorStep(DtmfFilter* f, int32_t* os, int32_t* oc)
{
    if (f->frequency == 0) {
        *os = 0;
        *oc = 0;
        return;
    }
    f->phase = static_cast<uint16_t>(f->phase + static_cast<uint16_t>(f->increment));
    int16_t s;
    int16_t c;
    SineCosine(f->phase, &s, &c);
    *os = (f->amplitude * s) >> 15;
    *oc = (f->amplitude * c) >> 15;
}

// The peak of one group of four powers (the first of equal ones) and the group's sum.
void GroupPeak(const int16_t* power, int32_t* peak, int32_t* index, int32_t* sum)
{
    *peak = power[0];
    *index = 0;
    *sum = 0;
    for (int32_t i = 0; i < 4; ++i) {
        *sum += power[i];
        if (power[i] > *peak) {
            *peak = power[i];
            *index = i;
        }
    }
}

}  // namespace

const int16_t* const kDtmfSineTable = gSine.data();
const int16_t* const kInvSqrtTable = gInvSqrt.data();

int32_t CountSignBits(int32_t v)
{
    if (v == 0)
        return 0;
    if (v == -1)
        return 31;
    uint32_t u = static_cast<uint32_t>(v < 0 ? ~v : v);
    int32_t n = 0;
    while (u < 0x40000000u) {
        u <<= 1;
        ++n;
    }
    return n;
}

// The normalised inverse square root: about 2^30 / sqrt(v), from a 49-entry table with linear interpolation.
int32_t InverseSqrt(int32_t v)
{
    if (v <= 0)
        return 0x3FFFFFFF;
    const int32_t n = CountSignBits(v);
    int32_t w = static_cast<int32_t>(static_cast<uint32_t>(v) << n);
    if ((n & 1) == 0)
        w >>= 1;
    const int32_t i = (w >> 25) - 16;
    const int32_t f = (w >> 10) & 0x7FFF;
    const int64_t t = kInvSqrtTable[i];
    const int64_t r = ((t << 15) - (t - kInvSqrtTable[i + 1]) * f) * 2;
    return static_cast<int32_t>(r >> (((30 - n) >> 1) + 1));
}

void SineCosine(uint16_t phase, int16_t* sine, int16_t* cosine)
{
    const int32_t i = (phase >> 9) & 0x7F;
    const int32_t s = kDtmfSineTable[i];
    const int32_t c = kDtmfSineTable[i + 32];
    const int32_t delta = static_cast<int16_t>((((phase & 0x1FF) << 2) * 25735) >> 15);
    *sine = Saturate16(s + ((delta * c) >> 15));
    *cosine = Saturate16(c - ((delta * s) >> 15));
}

// The block's energy sets a gain of about 0.1 x 2^25 / sqrt(E) per block; the running gain follows it with a
// factor of 0.9 per sample, so a normalised tone comes out near 3350 rms whatever its level. The energy sum
// and the gains saturate (a loud block or a quiet one never wraps them round).
void DtmfLevelNormaliser(int16_t* gain, const int16_t* x, int16_t* y, int32_t n)
{
    int64_t energy = 0;
    for (int32_t i = 0; i < n; ++i) {
        const int32_t v = x[i] >> 2;
        energy += v * v;
    }
    const int32_t e = energy > INT32_MAX ? INT32_MAX : static_cast<int32_t>(energy);
    int32_t g = 0;
    if (e != 0) {
        const int32_t k = CountSignBits(e) - 1;   // -1 for an energy of 2^30 or more
        const int32_t m = static_cast<int16_t>((ShiftBy(e, k) - 32768) >> 16);
        int64_t q = (static_cast<int64_t>(m) << 15) / 16384;
        q = ShiftBy(q << 7, -(k - 4));
        const int32_t r = InverseSqrt(static_cast<int32_t>(q)) >> 7;
        g = (Saturate16(r) * kGainScale) >> 15;
    }
    int32_t G = *gain;
    for (int32_t i = 0; i < n; ++i) {
        G = Saturate16(g + ((G * kGainSmoothing) >> 15));
        y[i] = Saturate16((static_cast<int32_t>(x[i]) * G) >> 12);
    }
    *gain = static_cast<int16_t>(G);
}

void DtmfCorrelate(DtmfDetector* d, const int16_t* y, int32_t n)
{
    int32_t energy = 0;
    int32_t sumS[kDtmfFilters] = {};
    int32_t sumC[kDtmfFilters] = {};
    for (int32_t i = 0; i < n; ++i) {
        energy = Saturate16(energy + ((y[i] * y[i]) >> 16));
        for (int32_t f = 0; f < kDtmfFilters; ++f) {
            int32_t os;
            int32_t oc;
            OscillatorStep(&d->filter[f], &os, &oc);
            sumS[f] = Saturate16(((static_cast<int64_t>(sumS[f]) << 15) + y[i] * os) * 2 >> 16);
            sumC[f] = Saturate16(((static_cast<int64_t>(sumC[f]) << 15) + y[i] * oc) * 2 >> 16);
        }
    }
    d->energy = static_cast<int16_t>(energy);
    for (int32_t f = 0; f < kDtmfFilters; ++f) {
        d->sumSine[f] = static_cast<int16_t>(sumS[f]);
        d->sumCosine[f] = static_cast<int16_t>(sumC[f]);
        const int64_t square = static_cast<int64_t>(sumS[f]) * sumS[f] + static_cast<int64_t>(sumC[f]) * sumC[f];
        const int32_t p = Saturate16((square * 2) >> 16);
        d->power[f] = Saturate16((static_cast<int64_t>(p) * kPowerScale) >> 15);
    }
}

int32_t DtmfDecide(const DtmfDetector* d)
{
    if (d->filterCount == 0 || d->energy < kMinEnergy)
        return kDtmfNoDigit;
    int32_t total = 0;
    for (int32_t f = 0; f < kDtmfFilters; ++f)
        total += d->power[f];
    if (total < kMinPowerSum)
        return kDtmfNoDigit;
    int32_t pl, il, sl, ph, ih, sh;
    GroupPeak(d->power, &pl, &il, &sl);
    GroupPeak(d->power + 4, &ph, &ih, &sh);
    const int32_t lo = static_cast<int32_t>((int64_t{total} * kPeakLow) >> 15);
    const int32_t hi = static_cast<int32_t>((int64_t{total} * kPeakHigh) >> 15);
    if (pl < lo || ph < lo || pl > hi || ph > hi || 3 * pl < 2 * sl || 3 * ph < 2 * sh)
        return kDtmfNoDigit;
    return kDtmfDigitTable[il][ih];
}

// A block with no digit while none is in progress restarts the count: only an unbroken run of equal blocks
// confirms a digit, so two short presses of one key never add up to a long one.
int32_t DtmfConfirmDigit(DtmfDetector* d, int32_t code)
{
    if (!d->inProgress && code != kDtmfNoDigit) {
        if (code == d->candidate) {
            d->run += 1;
        } else {
            d->candidate = code;
            d->run = 1;
        }
        if (d->run > kConfirmBlocks) {
            d->confirmed = code;
            d->inProgress = 1;
            d->candidate = kDtmfNoDigit;
            d->run = 0;
        }
        return kDtmfNoDigit;
    }
    if (d->confirmed == kDtmfNoDigit) {
        d->candidate = kDtmfNoDigit;
        d->run = 0;
        return kDtmfNoDigit;
    }
    if (code == kDtmfNoDigit) {
        d->run += 1;
    } else {
        d->run = 0;
        if (code == d->confirmed)
            return kDtmfNoDigit;
    }
    int32_t report = kDtmfNoDigit;
    if (d->run >= kReportGap) {
        report = d->confirmed;
        d->miss = 0;
        d->inProgress = 0;
        d->confirmed = kDtmfNoDigit;
    }
    if (d->miss > kMissLimit) {
        d->miss = 0;
        d->inProgress = 0;
        d->confirmed = kDtmfNoDigit;
    }
    d->miss += 1;
    return report;
}

void InitDtmfDetector(DtmfDetector* d, int32_t rate)
{
    if (d->filterCount == 0) {
        d->gain = 0;
        d->inProgress = 0;
        d->confirmed = kDtmfNoDigit;
        d->candidate = kDtmfNoDigit;
        d->run = 0;
        d->miss = 0;
    }
    for (int32_t f = 0; f < kDtmfFilters; ++f) {
        DtmfFilter& o = d->filter[f];
        o.frequency = kDtmfFrequency[f];
        o.phase = 0;
        o.increment = static_cast<int16_t>(static_cast<uint16_t>(kDtmfFrequency[f] * 65536 / (rate > 0 ? rate : 9600)));
        o.amplitude = kOscillatorAmplitude;
        o.sampleRate = static_cast<int16_t>(rate);
    }
    d->filterCount = kDtmfFilters;
}

uint8_t VoiceDtmfBlock(DtmfDetector* d, const int16_t* samples, int32_t n)
{
    if (d->filterCount == 0 || n <= 0)
        return 0;
    int16_t y[128];
    if (n > 128)
        n = 128;
    DtmfLevelNormaliser(&d->gain, samples, y, n);
    DtmfCorrelate(d, y, n);
    const int32_t digit = DtmfConfirmDigit(d, DtmfDecide(d));
    if (digit == kDtmfNoDigit)
        return 0;
    return static_cast<uint8_t>(digit < 10 ? '0' + digit : 'A' + digit - 10);
}
