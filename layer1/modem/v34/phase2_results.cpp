// The phase-2 results: what the INFO1 frames and the line probing decided, gathered into Phase2Result for
// phases 3 and 4 and for PCM mode. Fields that come from the far end are bounded before anything indexes
// with them.
#include "layer1/dsp/dsp_context.h"
#include "layer1/modem/v34/fixed_point.h"
#include "layer1/modem/v34/phase2_state.h"

namespace {

constexpr uint16_t kMaxRateIndex = 5;      // 3429 baud
constexpr uint16_t kMaxPreEmphasis = 10;   // 11 filters
constexpr uint16_t kMaxRateCode = 14;      // 33600 bit/s
constexpr int kRate3200 = 4;
constexpr int kRate3429 = 5;

uint16_t BoundRateIndex(uint16_t i) { return i > kMaxRateIndex ? 0 : i; }
uint16_t BoundPreEmphasis(uint16_t p) { return p > kMaxPreEmphasis ? 0 : p; }
uint16_t BoundRateCode(uint16_t c) { return c > kMaxRateCode ? kMaxRateCode : c; }

// The probe's combination for a symbol rate and carrier: 3429 has a single one.
int Combination(int rate, int high)
{
    return rate == kRate3429 ? kProbeCombinations - 1 : 2 * rate + (high != 0);
}

void CopyRemotePcmFields(const Phase2State& s, Phase2Result* r)
{
    r->remotePcmFields[0] = s.remoteInfo0.pcmField4;
    r->remotePcmFields[1] = s.remoteInfo0.pcmField5;
    r->remotePcmFields[2] = s.remoteInfo0.pcmBit[0];
    r->remotePcmFields[3] = s.remoteInfo0.pcmBit[1];
}

void CollectCapabilities(const Phase2ProbeResults& p, Phase2Result* r)
{
    for (int rate = 0; rate < kSymbolRates; ++rate) {
        const int low = Combination(rate, 0);
        uint32_t w = (p.preEmphasis[low] & 15u) | (p.maxRate[low] & 15u) << 4;
        if (rate != kRate3429) {
            const int high = Combination(rate, 1);
            w |= (p.preEmphasis[high] & 15u) << 8 | (p.maxRate[high] & 15u) << 12;
        }
        r->capabilityWords[rate] = static_cast<uint16_t>(w);
    }
}

}  // namespace

int32_t MdLengthForRtd(int32_t rtd, int32_t rateIndex, int32_t caller)
{
    // Per symbol rate: the rate / 9600 in Q15, the scale of a long round trip, the MD length of a short one.
    static const int16_t kRatio[kSymbolRates] = {8193, 9363, 9558, 10241, 10923, 11705};
    static const int16_t kLongScale[kSymbolRates] = {18725, 16384, 16050, 14980, 14044, 13106};
    static const int16_t kShort[kSymbolRates] = {84, 96, 98, 105, 112, 120};
    static const int16_t kWordScale[kSymbolRates] = {10, 9, 8, 8, 7, 7};
    const int16_t t = static_cast<int16_t>(rtd);
    int32_t m = 0;
    uint32_t longTrip = 0;
    for (int k = 0; k < kSymbolRates; ++k) {
        const int32_t symbols = MulQ15(kRatio[k], t);
        int32_t v = kShort[k];
        if (symbols > 288) {
            v = MulQ15(static_cast<int16_t>((symbols + 48) / 48 + 8), kLongScale[k]) + 1;
            longTrip = 0x8000u;
        }
        m = v > m ? v : m;
    }
    if (caller != 0)
        m += MulQ15(t, 98) + 1;
    if (rateIndex < 0 || rateIndex >= kSymbolRates)
        return m;
    return static_cast<int32_t>(static_cast<uint32_t>(kWordScale[rateIndex] * m) | longTrip);
}

void CollectPhase2Results(DspContext* ctx)
{
    const Phase2State& s = ctx->phase2;
    Phase2Result* r = s.result;
    r->info0FirstWord = s.remoteInfo0.rawFirstWord;
    if (s.shortAnswer != 0) {
        CopyRemotePcmFields(s, r);
        return;
    }
    const bool pcm = (s.flags & kPhase2PcmCandidate) != 0 && s.restartType != kRestartV34Fallback;
    const Info1aFields& a = s.info1a;
    const Info1cFields& c = s.info1c;

    r->callerRateIndex = pcm ? static_cast<uint16_t>(kPcmRateIndex) : BoundRateIndex(a.callerRateIndex);
    r->callerHighCarrier = pcm ? 0 : static_cast<uint16_t>(a.highCarrier & 1u);
    r->callerPreEmphasis = pcm ? 0 : BoundPreEmphasis(a.preEmphasis);
    r->callerMaxRate = BoundRateCode(a.maxRate);
    r->callerMdLength = c.mdLength;
    r->callerFreqOffset = c.freqOffset;
    r->callerPowerReduction = a.minPowerReduction;
    r->callerExtraReduction = a.extraPowerReduction;

    r->answererRateIndex = BoundRateIndex(a.answererRateIndex);
    const Info1cRate& entry = c.rate[pcm ? kRate3200 : r->answererRateIndex];
    r->answererHighCarrier = static_cast<uint16_t>(entry.highCarrier & 1u);
    r->answererPreEmphasis = BoundPreEmphasis(entry.preEmphasis);
    r->answererMaxRate = BoundRateCode(entry.maxRate);
    r->answererPowerReduction = c.minPowerReduction;
    r->answererExtraReduction = c.extraPowerReduction;
    if (pcm && s.probe.reduction[0] + s.probe.reduction[1] >= c.minPowerReduction + c.extraPowerReduction) {
        r->answererPowerReduction = s.probe.reduction[0];
        r->answererExtraReduction = s.probe.reduction[1];
    }
    r->answererMdLength = pcm ? 0 : a.mdLength;
    r->answererFreqOffset = pcm ? 0 : a.freqOffset;
    r->rtdWord = pcm ? 0
                     : static_cast<uint16_t>(MdLengthForRtd(s.rtd, r->callerRateIndex, (s.flags & kPhase2Caller) != 0));

    const Phase2ProbeResults& p = s.probe;
    r->gainExponent = p.gainExponent;
    r->probeLevel = p.level;
    r->probeLevel32 = p.level;
    r->probeNoise = p.noise;
    r->rtd = static_cast<uint16_t>(s.rtd);
    r->dcLevel = p.dcLevel;
    CollectCapabilities(p, r);
    r->powerSuggestion = p.powerSuggestion;
    r->freqOffset = static_cast<uint32_t>(0u - static_cast<uint32_t>(p.frequencyOffset));
    if (pcm)
        CopyRemotePcmFields(s, r);
    for (int k = 0; k < kSpectrumBins; ++k)
        r->spectrum[k] = p.spectrum[k];
}
