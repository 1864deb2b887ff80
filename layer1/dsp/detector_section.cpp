// Detector bank sections: the two-stage filter, the energy detector and the bank's per-sample run.
#include <cstring>

#include "layer1/dsp/detector_bank.h"
#include "layer1/dsp/detector_filters.h"
#include "layer1/dsp/silent_block.h"
#include "layer1/modem/v34/fixed_point.h"
#include "platform/saturate.h"

namespace {

constexpr int16_t W(int32_t v)
{
    return static_cast<int16_t>(static_cast<uint16_t>(v));
}

constexpr int32_t kTalkOffHoldSamples = 4800;  // 0.5 s

// s = c4 y1 + c3 y2 (32-bit states times Q15) + c2 x + c1 x1 + c0 x2 (16-bit products doubled); y = 2 s.
inline int32_t StageStep(const int16_t* c, int16_t& x1, int16_t& x2, int32_t& y1, int32_t& y2, int16_t x)
{
    const int64_t acc = static_cast<int64_t>(MulQ31Q15(y1, c[4])) + MulQ31Q15(y2, c[3]) +
                        2 * static_cast<int64_t>(c[2]) * x + 2 * static_cast<int64_t>(c[1]) * x1 +
                        2 * static_cast<int64_t>(c[0]) * x2;
    const int32_t y = SaturateTo32(2 * acc);
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = y;
    return y;
}

int32_t Stage(DetectorSection* s, int k, int16_t x)
{
    return StageStep(s->coefficient[k], s->x1[k], s->x2[k], s->y1[k], s->y2[k], x);
}

// energy = leak energy (Q15) + 2 gain |x|, held at 0x7FFFFFFF when it overflows (and at 0 for a negative gain);
// the on state follows energy / 65536 with hysteresis.
inline int16_t DetectStep(int32_t& energy, int16_t on, int16_t gain, int16_t leak, int16_t onThreshold,
                          int16_t offThreshold, int32_t x)
{
    const int64_t magnitude = x < 0 ? -static_cast<int64_t>(x) : x;
    int64_t e = static_cast<int64_t>(MulQ31Q15(energy, leak)) + 2 * gain * magnitude;
    if (e > INT32_MAX)
        e = INT32_MAX;
    if (e < 0)
        e = 0;
    energy = static_cast<int32_t>(e);
    const int32_t level = energy >> 16;
    if (on && level < offThreshold)
        return 0;
    if (!on && level > onThreshold)
        return 1;
    return on;
}

// One section with its own input over a run of samples, its states in locals; returns the last on state. With
// a bank given, the input level control runs in the same loop (x is then the raw input, v receives the controlled
// samples for the other sections): the two recursions overlap instead of running one after the other.
template <bool WithLevel>
int16_t RunSectionBlock(DetectorSection* s, DetectorBank* bank, const int32_t* x, int16_t* v, int32_t n)
{
    const int16_t* c0 = s->coefficient[0];
    const int16_t* c1 = s->coefficient[1];
    int16_t ax1 = s->x1[0], ax2 = s->x2[0], bx1 = s->x1[1], bx2 = s->x2[1];
    int32_t ay1 = s->y1[0], ay2 = s->y2[0], by1 = s->y1[1], by2 = s->y2[1];
    int32_t energy = s->energy;
    int16_t on = s->on;
    const int16_t gain = s->gain, leak = s->leak, onThreshold = s->onThreshold, offThreshold = s->offThreshold;
    int16_t levelGain = WithLevel ? bank->levelGain : 0;
    const int16_t levelRate = WithLevel ? bank->levelRate : 0;
    const int16_t levelTarget = WithLevel ? bank->levelTarget : 0;
    for (int32_t k = 0; k < n; ++k) {
        if (WithLevel)
            v[k] = Saturate16(AgcSample(Saturate16(x[k]), &levelGain, levelRate, levelTarget));
        const int32_t y1 = StageStep(c0, ax1, ax2, ay1, ay2, v[k]);
        const int32_t y2 = StageStep(c1, bx1, bx2, by1, by2, static_cast<int16_t>(y1 >> 16));
        on = DetectStep(energy, on, gain, leak, onThreshold, offThreshold, y2 >> 16);
    }
    if (WithLevel)
        bank->levelGain = levelGain;
    s->x1[0] = ax1;
    s->x2[0] = ax2;
    s->x1[1] = bx1;
    s->x2[1] = bx2;
    s->y1[0] = ay1;
    s->y2[0] = ay2;
    s->y1[1] = by1;
    s->y2[1] = by2;
    s->energy = energy;
    s->on = on;
    return on;
}

// Without the talk-off guard and with no section fed by another, every section runs on the bank input alone:
// the bank can run section by section over the whole block, the result being the last sample's.
bool SectionsIndependent(const DetectorBank* bank)
{
    if (bank->talkOff)
        return false;
    for (int32_t i = 0; i < kDetectorSections; ++i)
        if (bank->enabled[i] && bank->chainSource[i] >= 0)
            return false;
    return true;
}

uint16_t RunIndependentSections(DetectorBank* bank, const int32_t* x, int32_t n)
{
    uint16_t bits = 0;
    int16_t v[128];
    for (int32_t start = 0; start < n; start += 128) {
        const int32_t m = n - start < 128 ? n - start : 128;
        bits = 0;
        bank->section9Active = 0;
        bool levelDone = false;
        for (int32_t i = 0; i < kDetectorSections; ++i) {
            if (!bank->enabled[i])
                continue;
            DetectorSection* s = &bank->section[i];
            const int16_t on = levelDone ? RunSectionBlock<false>(s, nullptr, nullptr, v, m)
                                         : RunSectionBlock<true>(s, bank, x + start, v, m);
            levelDone = true;
            if (!on)
                continue;
            if (i == 9)
                bank->section9Active = 1;
            else
                bits = static_cast<uint16_t>(bits | static_cast<uint16_t>(bank->section[i].bits));
        }
        if (!levelDone)
            for (int32_t k = 0; k < m; ++k)
                AgcSample(Saturate16(x[start + k]), &bank->levelGain, bank->levelRate, bank->levelTarget);
    }
    return bits;
}

void ClearSectionStates(DetectorSection* s)
{
    std::memset(s->x1, 0, sizeof(s->x1));
    std::memset(s->x2, 0, sizeof(s->x2));
    std::memset(s->y1, 0, sizeof(s->y1));
    std::memset(s->y2, 0, sizeof(s->y2));
    s->energy = 0;
    s->on = 0;
}

// The filter output of section i for this sample, computed once per sample: a section with a chain source
// runs on that section's output (squared when asked), any other on the bank input.
int32_t SectionOutput(DetectorBank* bank, int32_t i, int16_t x, uint32_t* computed, int32_t* out, int32_t depth)
{
    if (*computed & (1u << i))
        return out[i];
    int32_t v = x;
    const int32_t d = bank->chainSource[i];
    if (d >= 0 && d < kDetectorSections && d != i && depth < kDetectorSections) {
        v = SectionOutput(bank, d, x, computed, out, depth + 1);
        if (bank->square[i])
            v = (v * v) >> 16;
    }
    out[i] = SectionFilterSample(&bank->section[i], v);
    *computed |= 1u << i;
    return out[i];
}

}  // namespace

const SectionConfig kTalkOffFilterSection = {
    {{4543, W(59111), 4543, W(55051), 1526}, {3332, W(58871), 3332, W(55051), 3234}}, 0, 0, 0, 0x7FFF, 0, -1, 0};
const SectionConfig kTalkOffDetectSection = {
    {{9189, W(58503), 9189, W(55051), 1526}, {3652, W(58788), 3652, W(55051), 3234}}, 255, 0x7F00, 0, 100, 80,
    8, 0};
const SectionConfig kCallProgressBandSection = {
    {{1638, W(62265), 1638, W(49961), 31150}, {0x3FFF, W(58974), 0x3FFF, W(50523), 28969}}, 255, 0x7F00, 1,
    0x3000, 8192, -1, 0};

int32_t SectionFilterSample(DetectorSection* s, int32_t x)
{
    const int32_t y1 = Stage(s, 0, Saturate16(x));
    const int32_t y2 = Stage(s, 1, static_cast<int16_t>(y1 >> 16));
    return y2 >> 16;
}

int32_t SectionDetectSample(DetectorSection* s, int32_t x)
{
    s->on = DetectStep(s->energy, s->on, s->gain, s->leak, s->onThreshold, s->offThreshold, x);
    return s->on;
}

void ConfigureSection(DetectorBank* bank, int32_t i, const SectionConfig& c)
{
    if (i < 0 || i >= kDetectorSections)
        return;
    DetectorSection* s = &bank->section[i];
    std::memcpy(s->coefficient, c.coefficient, sizeof(s->coefficient));
    s->gain = c.gain;
    s->leak = c.leak;
    s->bits = c.bits;
    s->onThreshold = c.onThreshold;
    s->offThreshold = c.offThreshold;
    ClearSectionStates(s);
    bank->enabled[i] = 1;
    bank->chainSource[i] = (c.chainSource >= 0 && c.chainSource < kDetectorSections) ? c.chainSource : -1;
    bank->square[i] = c.square ? 1 : 0;
}

void DisableSection(DetectorBank* bank, int32_t i)
{
    if (i < 0 || i >= kDetectorSections)
        return;
    bank->enabled[i] = 0;
    ClearSectionStates(&bank->section[i]);
}

void ResetBank(DetectorBank* bank)
{
    for (int i = 0; i < kDetectorSections; ++i) {
        bank->enabled[i] = 0;
        bank->section[i].on = 0;
        bank->chainSource[i] = -1;
        bank->square[i] = 0;
    }
    bank->result = 0;
    bank->previousResult = 0;
    bank->talkOff = 0;
    bank->section9Active = 0;
    bank->holdOff = 0;
    bank->levelGain = 0;
    bank->levelCeiling = 0x7FFF;
    bank->levelRate = 1638;
    bank->levelTarget = 4096;
}

void SetTalkOff(DetectorBank* bank, int32_t on)
{
    if (on) {
        if (!bank->talkOff) {
            ConfigureSection(bank, 8, kTalkOffFilterSection);
            ConfigureSection(bank, 9, kTalkOffDetectSection);
            bank->talkOff = 1;
        }
    } else if (bank->talkOff) {
        DisableSection(bank, 8);
        DisableSection(bank, 9);
        bank->talkOff = 0;
        bank->holdOff = 0;
    }
}

namespace {

uint16_t BankSamples(DetectorBank* bank, const int32_t* x, int32_t n)
{
    if (n > 0 && SectionsIndependent(bank))
        return RunIndependentSections(bank, x, n);
    uint16_t bits = bank->result;
    for (int32_t k = 0; k < n; ++k) {
        const int16_t v = AgcSample(Saturate16(x[k]), &bank->levelGain, bank->levelRate, bank->levelTarget);
        bank->section9Active = 0;
        bits = 0;
        uint32_t computed = 0;
        int32_t out[kDetectorSections];
        for (int32_t i = 0; i < kDetectorSections; ++i) {
            if (!bank->enabled[i])
                continue;
            const int32_t y = SectionOutput(bank, i, v, &computed, out, 0);
            if (!SectionDetectSample(&bank->section[i], y))
                continue;
            if (i == 9)
                bank->section9Active = 1;
            else
                bits = static_cast<uint16_t>(bits | static_cast<uint16_t>(bank->section[i].bits));
        }
        if (bank->talkOff) {
            if (bank->section9Active)
                bank->holdOff = kTalkOffHoldSamples;
            else if (bank->holdOff > 0)
                bank->holdOff -= 1;
            if (bank->holdOff > 0)
                bits = 0;
        }
    }
    return bits;
}

}  // namespace

uint16_t RunBankSamples(DetectorBank* bank, const int32_t* x, int32_t n)
{
    if (SilentBlock(x, n)) {
        const StateBefore<DetectorBank> before(*bank);
        const uint16_t bits = BankSamples(bank, x, kSilentPeriod);
        if (before.CameBack(*bank))
            return bits;
        return BankSamples(bank, x + kSilentPeriod, n - kSilentPeriod);
    }
    return BankSamples(bank, x, n);
}
