// Tone detection: the cadence match over a filter's interval history, and the programming of a detector
// filter into DSP memory.
#include "layer2/corecode/mt/dsp_link.h"
#include "layer2/corecode/mt/dsp_tone_detect.h"

namespace {

// Coefficient sets of the three filters in DSP memory (bank 1) and their threshold words.
constexpr uint32_t kFilterAddress[kToneFilters] = {0x101D8, 0x101E7, 0x101F6};
constexpr uint32_t kThresholdAddress[kToneFilters] = {0x92, 0x94, 0x96};
constexpr uint16_t kFilterModeWord[kToneFilters] = {256, 512, 1024};

bool element_matches(const DspToneInterval& iv, const CountryCadenceElement& e)
{
    return (iv.on != 0) == (e.on != 0) && iv.ms >= e.min_ms && iv.ms <= e.max_ms;
}

}  // namespace

bool dsp_tone_cadence_match(const DspToneInterval* intervals, int count, const CountryCadenceElement* elements,
                            int n)
{
    if (n <= 0 || count < n)
        return false;
    for (int start = 0; start + n <= count; ++start) {
        int k = 0;
        while (k < n && element_matches(intervals[start + k], elements[k]))
            ++k;
        if (k == n)
            return true;
    }
    return false;
}

uint32_t dsp_tone_filter_address(int filter)
{
    return filter >= 0 && filter < kToneFilters ? kFilterAddress[filter] : 0;
}

uint32_t dsp_tone_threshold_address(int filter)
{
    return filter >= 0 && filter < kToneFilters ? kThresholdAddress[filter] : 0;
}

int dsp_tone_program_filter(DspLink* link, int filter, const uint16_t set[16], uint16_t word_a, uint16_t word_b)
{
    if (filter < 0 || filter >= kToneFilters)
        return kIcdNotTaken;
    const uint32_t a = kFilterAddress[filter];
    const uint16_t second[7] = {set[9], set[10], set[11], set[12], set[13], kFilterModeWord[filter], set[14]};
    const uint16_t levels[2] = {word_a, word_b};
    const DspValueRequest writes[4] = {{a, 0}, {a + 7, 0}, {a + 14, 0}, {kThresholdAddress[filter], 0}};
    const uint16_t* words[4] = {set + 2, second, set + 15, levels};
    const int counts[4] = {7, 7, 1, 2};
    for (int i = 0; i < 4; ++i) {
        const int r = dsp_write_value(link, &writes[i], words[i], counts[i]);
        if (r != kIcdSent)
            return r;
    }
    return kIcdSent;
}
