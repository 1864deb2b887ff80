// Ring energy detector: pulses of high samples at a ringing rate.
#include "layer1/dsp/pulse_train.h"

#include <cstdint>

namespace {

constexpr int32_t kHighSample = 16385;
constexpr int32_t kInPulse = 16;
constexpr int32_t kPulseHighSamples = 5;    // more than this many high samples make a pulse
constexpr int32_t kPulseEndLowSamples = 8;  // more than this many low samples end it
constexpr int32_t kTooSoon = 50;            // samples since the previous pulse: 50 or less is too soon
constexpr int32_t kTooLate = 900;           // 900 or more is too late
constexpr int32_t kQuietSamples = 500;      // a longer low stretch clears the score

}  // namespace

void ClearPulseTrainDetector(PulseTrainDetector* d)
{
    d->highCount = 0;
    d->lowCount = 0;
    d->sincePulse = 0;
    d->state = 0;
    d->score = 0;
    d->lastScore = 0;
}

int32_t PulseTrainSample(PulseTrainDetector* d, int32_t v)
{
    if (v < kHighSample)
        d->lowCount += 1;
    else if (d->highCount < INT32_MAX)
        d->highCount += 1;
    if (d->sincePulse < kTooLate)
        d->sincePulse += 1;
    if (d->state == kInPulse) {
        if (d->lowCount > kPulseEndLowSamples) {
            d->state = 0;
            d->highCount = 0;
            d->lowCount = 0;
        }
    } else if (d->state != 0) {
        d->state = 0;
    }
    if (d->state == 0 && d->highCount > kPulseHighSamples) {
        d->state = kInPulse;
        if (d->sincePulse <= kTooSoon || d->sincePulse >= kTooLate) {
            if (d->score > 0)
                d->score = static_cast<int16_t>(d->score - 1);
        } else if (d->score < INT16_MAX) {
            d->score = static_cast<int16_t>(d->score + 1);
        }
        d->sincePulse = 0;
        d->lowCount = 0;
        d->highCount = 0;
    }
    if (d->score != 0)
        d->lastScore = d->score;
    if (d->lowCount > kQuietSamples) {
        d->score = 0;
        d->lowCount = kQuietSamples + 1;  // held, so a long silence cannot overflow the count
    }
    return d->score > 0;
}

int32_t PulseTrainDetect(PulseTrainDetector* d, const int16_t* samples, int32_t n)
{
    int32_t r = d->score > 0;
    for (int32_t i = 0; i < n; ++i)
        r = PulseTrainSample(d, samples[i]);
    return r;
}
