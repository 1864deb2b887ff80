// The INFO1 decisions: what the caller proposes for the answerer's transmitter (INFO1c, one entry per symbol
// rate) and what the answerer decides for both directions (INFO1a), from the probe's result block, the two
// INFO0 frames and the modem's options.
#include <cstring>

#include "layer1/dsp/dsp_context.h"
#include "layer1/modem/v34/fixed_point.h"
#include "layer1/modem/v34/phase2_state.h"
#include "layer1/modem/v34/probe_analysis.h"

namespace {

constexpr int kRate2400 = 0;
constexpr int kRate3200 = 4;
constexpr int kRate3429 = 5;
constexpr uint32_t kNoReductionLimit = 1u << 28;  // bit 4 of keptWord1's fourth byte
constexpr uint32_t kFreqOffsetMask = 0x3FF;

// Whether a symbol rate with the given carrier is offered by an INFO0.
bool Offers(const Info0Fields& f, int rate, int high)
{
    switch (rate) {
    case 0: return true;
    case 1: return f.capability[kInfo0Cap2743] != 0;
    case 2: return f.capability[kInfo0Cap2800] != 0;
    case 3: return f.capability[high ? kInfo0Cap3000High : kInfo0Cap3000Low] != 0;
    case 4: return f.capability[high ? kInfo0Cap3200High : kInfo0Cap3200Low] != 0;
    default: return f.capability[kInfo0Cap3429] != 0 && f.capability[kInfo0Cap3429Allowed] != 0;
    }
}

bool PcmMode(const Phase2State& s)
{
    return (s.flags & kPhase2PcmCandidate) != 0 && s.restartType != kRestartV34Fallback;
}

// The rate codes the probe gives for a rate's low and high carrier, 0 where either INFO0 lacks them.
void CarrierCodes(const Phase2State& s, int rate, int32_t* low, int32_t* high)
{
    for (int h = 0; h < 2; ++h) {
        int32_t code = s.probe.maxRate[ProbeCombination(rate, h)];
        if (!Offers(s.localInfo0, rate, h) || !Offers(s.remoteInfo0, rate, h))
            code = 0;
        (h ? *high : *low) = code;
    }
}

// Minimum and additional power reduction from the kept option word, limited by the probe's suggestion.
void PowerReduction(const Phase2State& s, uint16_t* minimum, uint16_t* additional)
{
    const uint32_t n = (s.keptWord1 >> 8) & 15u;
    uint32_t extra = n >= 7 ? n - 7 : 0;
    uint32_t least = n - extra;
    if ((s.keptWord1 & kNoReductionLimit) == 0) {
        const uint32_t suggestion = s.probe.powerSuggestion;
        extra = extra < ((suggestion >> 3) & 7u) ? extra : ((suggestion >> 3) & 7u);
        least = least < (suggestion & 7u) ? least : (suggestion & 7u);
    }
    if (s.localInfo0.capability[kInfo0CapPowerReduction] == 0) {
        extra = 0;
        least = 0;
    }
    *minimum = static_cast<uint16_t>(least);
    *additional = static_cast<uint16_t>(extra);
}

uint16_t MdField(int32_t units)
{
    return static_cast<uint16_t>(units > 127 ? 127 : units);
}

uint16_t FreqOffsetField(const Phase2State& s)
{
    // The negated measurement: the offset the far end's signal arrives with.
    return static_cast<uint16_t>((0u - static_cast<uint32_t>(s.probe.frequencyOffset)) & kFreqOffsetMask);
}

}  // namespace

void ComputeInfo1c(Phase2State* s)
{
    Info1cFields& f = s->info1c;
    std::memset(&f, 0, sizeof(f));
    f.mdLength = MdField(MdLengthForRtd(s->rtd, -1, 1));
    f.freqOffset = FreqOffsetField(*s);
    PowerReduction(*s, &f.minPowerReduction, &f.extraPowerReduction);
    for (int i = 0; i < kSymbolRates; ++i) {
        int32_t low;
        int32_t high;
        CarrierCodes(*s, i, &low, &high);
        if ((s->probe.exclude != 0 && i >= kRate3200) || (s->only2400 == 1 && i != kRate2400)) {
            low = 0;
            high = 0;
        }
        const int h = low < high ? 1 : 0;
        f.rate[i].highCarrier = static_cast<uint16_t>(h);
        f.rate[i].preEmphasis = s->probe.preEmphasis[ProbeCombination(i, h)];
        f.rate[i].maxRate = static_cast<uint16_t>(h ? high : low);
    }
}

void ComputeInfo1a(Phase2State* s)
{
    Info1aFields& f = s->info1a;
    std::memset(&f, 0, sizeof(f));
    const bool pcm = PcmMode(*s);
    int32_t best[kSymbolRates];
    int32_t highOf[kSymbolRates];
    int chosen = pcm ? kRate3200 : 0;
    int32_t chosenValue = -1;
    for (int i = 0; i < kSymbolRates; ++i) {
        const int32_t a = s->info1c.rate[i].maxRate;
        int32_t low;
        int32_t high;
        CarrierCodes(*s, i, &low, &high);
        if (a == 0) {
            low = 0;
            high = 0;
        }
        best[i] = low > high ? low : high;
        highOf[i] = high >= low ? 1 : 0;
        if (i == kRate2400)
            highOf[i] = s->info1c.rate[0].highCarrier != 0 ? 0 : 1;
        if (!pcm && s->probe.exclude != 0 && i >= kRate3200)
            best[i] = 0;
        if (!Offers(s->localInfo0, i, highOf[i]))
            best[i] = 0;
        if ((pcm && i != kRate3200) || (!pcm && s->only2400 == 1 && i != kRate2400))
            best[i] = 0;
        const int32_t value = a < best[i] ? a : best[i];
        if (!pcm && value > chosenValue) {
            chosenValue = value;
            chosen = i;
        }
    }
    const int h = highOf[chosen];
    f.highCarrier = static_cast<uint16_t>(h);
    f.preEmphasis = s->probe.preEmphasis[ProbeCombination(chosen, h)];
    int32_t low;
    int32_t high;
    CarrierCodes(*s, chosen, &low, &high);
    f.maxRate = static_cast<uint16_t>(best[chosen] == 0 ? 0 : (h ? high : low));
    f.answererRateIndex = static_cast<uint16_t>(chosen);
    f.callerRateIndex = static_cast<uint16_t>(pcm ? kPcmRateIndex : chosen);
    if (!pcm && s->only2400 == 1) {
        f.answererRateIndex = 0;
        f.callerRateIndex = 0;
    }
    f.mdLength = pcm ? 0 : MdField(MdLengthForRtd(s->rtd, -1, s->flags & kPhase2Caller));
    f.freqOffset = FreqOffsetField(*s);
    PowerReduction(*s, &f.minPowerReduction, &f.extraPowerReduction);
}

uint32_t BuildInfo1c(Phase2State* s, uint32_t* words)
{
    ComputeInfo1c(s);
    return BuildInfo1cFrame(s->info1c, words);
}

uint32_t BuildInfo1a(Phase2State* s, uint32_t* words)
{
    ComputeInfo1a(s);
    return BuildInfo1aFrame(s->info1a, PcmMode(*s), words);
}
