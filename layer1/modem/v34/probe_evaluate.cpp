// The line evaluation after probing: the exclude test (3600 Hz far below 1950 Hz), the power-reduction
// suggestion, and for each of the 11 symbol-rate/carrier combinations the best of 11 pre-emphasis filters
// (the smallest spread of the shaped spectrum among the filters whose band edges are usable) and the
// data-rate code from the signal-to-noise score.
#include <cstring>

#include "layer1/modem/v34/fixed_point.h"
#include "layer1/modem/v34/phase2_state.h"
#include "layer1/modem/v34/probe_analysis.h"

namespace {

constexpr int kToneBins = kProbeTones + 1;  // tone numbers 0-25 (0 unused)

struct Combination {
    int lower;
    int upper;
    int centre;
    int32_t gain;        // Q13
    int32_t scoreOffset;
};
const Combination kCombinations[kProbeCombinations] = {
    {3, 18, 9, 8192, 0},     {4, 20, 9, 7710, 0},     {2, 20, 10, 6898, -198}, {4, 21, 10, 7282, -198},
    {2, 20, 11, 6899, -228}, {4, 21, 11, 7282, -228}, {2, 22, 12, 6242, -330}, {4, 23, 12, 6554, -330},
    {2, 22, 12, 6242, -426}, {3, 23, 12, 6242, -426}, {2, 24, 13, 5699, -528},
};
// Pre-emphasis slopes per symbol rate: filters 1-5 over the whole band, 6-10 above the centre.
const int32_t kSlopes[kSymbolRates][10] = {
    {0x3BD, 0x796, 0xB8B, 0xF9E, 0x13D0, 0x4B0, 0x98D, 0xE97, 0x13D0, 0x193A},
    {0x344, 0x69D, 0xA0C, 0xD91, 0x112D, 0x418, 0x851, 0xCAD, 0x112D, 0x15D2},
    {0x332, 0x679, 0x9D5, 0xD47, 0x10CE, 0x402, 0x825, 0xC68, 0x10CE, 0x1557},
    {0x2FB, 0x608, 0x928, 0xC59, 0xF9E, 0x3BD, 0x796, 0xB8B, 0xF9E, 0x13D0},
    {0x2CB, 0x5A6, 0x890, 0xB8B, 0xE97, 0x380, 0x719, 0xACB, 0xE97, 0x127D},
    {0x29B, 0x543, 0x7F9, 0xABE, 0xD91, 0x344, 0x69D, 0xA0B, 0xD91, 0x112D},
};
const int32_t kMinCode[kSymbolRates] = {1, 2, 2, 2, 2, 2};
const int32_t kMaxCode[kSymbolRates] = {9, 11, 11, 12, 13, 14};
const int16_t kCodeSlope[kSymbolRates] = {16384, 18726, 19115, 20480, 21846, 23409};
// Interpolation of the band edges between the edge tone and the one outside it.
const int16_t kUpperWeight[kProbeCombinations] = {10922, 32767, 28945, 21736, 15291, 7208,
                                                  32767, 21845, 4587,  17476, 16711};
const int16_t kLowerWeight[kProbeCombinations] = {10922, 0, 5570, 31129, 4369, 29054, 0, 21845, 15510, 28398, 12124};

constexpr int32_t kFlat = 1536;
constexpr int32_t kAboveCentre = 2048;
constexpr int16_t kEdgeLimit = 12800;     // a band edge more than about 23 dB below the level is unusable
constexpr int32_t kScoreFloor = 5839;     // a score at or below it gives code 0
// The score is the mean signal-to-noise ratio of the band's tones (1024 an octave) plus this constant: the
// tone against one 75 Hz bin of noise stands about 4 dB above the line's ratio over the 4 kHz band, and the
// constant sets code 9 at 2400 baud for about 30 dB.
constexpr int32_t kScoreConstant = 3473;
constexpr int32_t kExcludeLimit = 32;
constexpr int kToneAt1950 = 13;
constexpr int kToneAt3600 = 24;
const int kLowBand[] = {3, 4, 5, 8, 10};
const int kHighBand[] = {19, 21, 22, 23};
const int kMissingTones[] = {6, 8, 12, 16};

struct Spectra {
    int32_t signal[kToneBins];
    int32_t noise[kToneBins];
    int32_t signalShift;  // x 1024
    int32_t noiseShift;
};

int32_t RateOf(int c)
{
    return c / 2;
}

bool EdgeUsable(int c, const int32_t* shaped, int32_t level)
{
    auto e = [&](int k) -> int16_t {
        const int64_t x = static_cast<int64_t>(shaped[k]) * 4 / level;
        return NegLog2Q10(static_cast<int32_t>(x > INT32_MAX ? INT32_MAX : x));
    };
    const Combination& cb = kCombinations[c];
    const int16_t d = e(cb.upper + 1);
    const int16_t upper = static_cast<int16_t>(d + MulQ15(kUpperWeight[c], static_cast<int16_t>(e(cb.upper) - d)));
    const int16_t f = e(cb.lower);
    const int16_t lower = static_cast<int16_t>(f + MulQ15(kLowerWeight[c], static_cast<int16_t>(e(cb.lower - 1) - f)));
    return upper < kEdgeLimit && lower < kEdgeLimit;
}

// Mean signal-to-noise ratio over the band's tones, 1024 an octave, with the normalisation shifts undone.
int32_t BandScore(int c, const Spectra& sp)
{
    const Combination& cb = kCombinations[c];
    int32_t sum = 0;
    for (int k = cb.lower; k <= cb.upper; ++k)
        sum += NegLog2Q10(sp.noise[k]) - NegLog2Q10(sp.signal[k]);
    const int32_t mean = sum / (cb.upper - cb.lower + 1);
    int32_t score = cb.scoreOffset + mean + (sp.noiseShift - sp.signalShift) + kScoreConstant;
    return score < 1 ? 1 : (score > 0x7FFF ? 0x7FFF : score);
}

int32_t RateCode(int rate, int32_t score)
{
    if (score == 0)
        return 0;
    const int32_t d = MulQ15(static_cast<int16_t>(score - kScoreFloor > -32768 ? score - kScoreFloor : -32768),
                             kCodeSlope[rate]);
    const int32_t code = d >> 9;
    if (code < kMinCode[rate])
        return 0;
    return code > kMaxCode[rate] ? kMaxCode[rate] : code;
}

void EvaluateCombination(int c, const Spectra& sp, Phase2ProbeResults* r)
{
    const Combination& cb = kCombinations[c];
    int32_t bestSpread = 0x7FFF;
    int best = -1;
    for (int j = 0; j < kProbeFilters; ++j) {
        int32_t response[kToneBins];
        PreEmphasisResponse(c, j, response);
        int32_t shaped[kToneBins];
        int64_t total = 0;
        for (int k = 0; k < kToneBins; ++k)
            shaped[k] = ((sp.signal[k] >> 16) * response[k]) >> 8;
        int32_t hi = shaped[cb.lower];
        int32_t lo = shaped[cb.lower];
        for (int k = cb.lower; k <= cb.upper; ++k) {
            hi = shaped[k] > hi ? shaped[k] : hi;
            lo = shaped[k] < lo ? shaped[k] : lo;
            total += shaped[k];
        }
        int64_t level = total / (cb.upper - cb.lower + 1) * cb.gain / 8192 / 256;
        level = level < 1 ? 1 : level;
        const int32_t spread = hi - lo;
        if (EdgeUsable(c, shaped, static_cast<int32_t>(level)) && spread <= bestSpread) {
            bestSpread = spread;
            best = j;
        }
    }
    r->preEmphasis[c] = static_cast<uint16_t>(best < 0 ? 0 : best);
    r->maxRate[c] = static_cast<uint16_t>(RateCode(RateOf(c), best < 0 ? 0 : BandScore(c, sp)));
}

void PowerReductions(const Spectra& sp, bool exclude, Phase2ProbeResults* r)
{
    int64_t low = 0;
    int64_t high = 0;
    for (int k : kLowBand)
        low += sp.signal[k];
    for (int k : kHighBand)
        high += sp.signal[k];
    int64_t o = 0x7FFF;
    if (low >= 0x8000) {
        o = (high << 12) / low;
        o = o > 0x7FFF ? 0x7FFF : o;
    }
    const int32_t rank = o >= 20481 ? 0 : (o >= 4097 ? 1 : (o >= 1281 ? 2 : 3));
    int32_t u = (exclude ? 49 : (18 - rank) * 2) / 2 - 12;
    int32_t extra = 0;
    if (u > 7) {
        extra = u - 7;
        u = 7;
    }
    r->reduction[0] = static_cast<uint16_t>(u < 0 ? 0 : u);
    r->reduction[1] = static_cast<uint16_t>(extra > 7 ? 7 : extra);
}

}  // namespace

int32_t ProbeCombination(int32_t rate, int32_t high)
{
    if (rate < 0 || rate >= kSymbolRates)
        return 0;
    return rate == kSymbolRates - 1 ? kProbeCombinations - 1 : 2 * rate + (high != 0);
}

void PreEmphasisResponse(int32_t c, int32_t j, int32_t* response)
{
    const Combination& cb = kCombinations[c];
    if (j <= 0 || j >= kProbeFilters) {
        for (int k = 0; k < kToneBins; ++k)
            response[k] = kFlat;
        return;
    }
    const int32_t b = kSlopes[RateOf(c)][j - 1];
    const int start = j <= 5 ? cb.lower : cb.centre;
    int32_t f = j <= 5 ? kFlat : kAboveCentre;
    for (int k = 0; k < kToneBins; ++k) {
        if (k > start)
            f += (b * f) >> 15;
        response[k] = f;
    }
}

void EvaluateSpectra(const int32_t* tones, const int32_t* between, Phase2ProbeResults* r)
{
    Spectra sp{};
    for (int i = 0; i < kProbeTones; ++i) {
        sp.signal[i + 1] = tones[i];
        sp.noise[i + 1] = between[i];
    }
    sp.signalShift = NormalizeBlock32(sp.signal + 1, kProbeTones);
    sp.noiseShift = NormalizeBlock32Min1(sp.noise + 1, kProbeTones);
    sp.signal[0] = sp.signal[1];
    sp.noise[0] = sp.noise[1];
    // 3600 Hz far below 1950 Hz: no 3200 or 3429 baud.
    const int32_t drop = (3 * NegLog2Q10(sp.signal[kToneAt3600]) - 3 * NegLog2Q10(sp.signal[kToneAt1950])) >> 9;
    const bool exclude = drop > kExcludeLimit;
    for (int k : kMissingTones) {
        sp.signal[k] = sp.signal[k - 1] / 2 + sp.signal[k + 1] / 2;
        sp.noise[k] = sp.noise[k - 1] / 2 + sp.noise[k + 1] / 2;
    }
    PowerReductions(sp, exclude, r);
    for (int c = 0; c < kProbeCombinations; ++c)
        EvaluateCombination(c, sp, r);
    r->exclude = exclude ? 1 : 0;
}

int32_t EvaluateProbe(const ProbeAnalysis* p, Phase2ProbeResults* r)
{
    int32_t tones[kProbeTones];
    int32_t between[kProbeTones];
    int64_t signal = 0;
    int64_t noise = 0;
    for (int i = 0; i < kProbeTones; ++i) {
        // A tone bin holds the tone and as much noise as the bins beside it: the tone's power is the
        // difference, and a tone not clearly above the noise counts as none, so a band edge filled with noise
        // does not look usable.
        between[i] = p->secondSpectrum[2 * (i + 1) - 1];
        const int64_t beside = (static_cast<int64_t>(between[i]) + p->secondSpectrum[2 * (i + 1) + 1]) / 2;
        const int64_t t = p->secondSpectrum[2 * (i + 1)];
        tones[i] = t * 2 > beside * 5 ? static_cast<int32_t>(t - beside) : 1;
        signal += tones[i];
        noise += between[i];
    }
    EvaluateSpectra(tones, between, r);
    auto clip = [](int64_t v) { return static_cast<int32_t>(v > INT32_MAX ? INT32_MAX : v); };
    r->level = static_cast<uint16_t>(NegLog2Q10(clip(signal)));
    r->noise = static_cast<uint16_t>(NegLog2Q10(clip(noise)));
    r->dcLevel = static_cast<uint16_t>(p->levelFilter[3] >> 16);
    r->gainExponent = static_cast<uint32_t>(static_cast<int32_t>(p->gainExponent));
    r->frequencyOffset = p->frequencyOffset + p->residualOffset;
    // The suggestion word: how far the received level stands above the level the gain aims at (bits 0-2),
    // limited by the input gain's headroom.
    const int32_t e = NegLog2Q10(clip(p->secondShift > 20 ? 0 : signal)) - NegLog2Q10(clip(signal - noise / 4 > 0
                                                                                                ? signal - noise / 4
                                                                                                : 0));
    const int32_t f = e < -1024 ? 0 : (e >= 6144 ? 7 : (e + 1024) >> 10);
    const int32_t g = 48 - (((29675 - (p->gainExponent >> 15)) * 16) >> 15) - 6 * p->gainExponent;
    r->powerSuggestion = static_cast<uint16_t>(g <= 0 ? 0 : (f < g ? f : g));
    std::memset(r->spectrum, 0, sizeof(r->spectrum));
    for (int k = 0; k < kProbeBins; ++k)
        r->spectrum[k] = static_cast<uint32_t>(p->secondSpectrum[k]);
    return 1;
}
