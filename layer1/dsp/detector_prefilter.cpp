// Detector pre-filter and gain normaliser.
#include <cstdlib>

#include "layer1/dsp/detector_filters.h"
#include "layer1/dsp/silent_block.h"

namespace {

// States are kept to 32 bits by saturation; for inputs of 16-bit range they never reach it.
inline int32_t PreFilterSample(int32_t& s0, int32_t& s1, int32_t x)
{
    const int64_t a = 3 * (5461 * static_cast<int64_t>(x) - s0 - s1);
    s0 = SaturateTo32(static_cast<int64_t>(s0) + (a >> 4));
    s1 = SaturateTo32(static_cast<int64_t>(s1) + (s0 >> 3));
    return SaturateTo32(a >> 15);
}

}  // namespace

namespace {

void PreFilterRun(PreFilterState* st, const int16_t* in, int32_t* out, int32_t n)
{
    int32_t s0 = st->s0;
    int32_t s1 = st->s1;
    for (int32_t i = 0; i < n; ++i)
        out[i] = PreFilterSample(s0, s1, in[i]);
    st->s0 = s0;
    st->s1 = s1;
}

}  // namespace

void DetectorPreFilter(PreFilterState* st, const int16_t* in, int32_t* out, int32_t n)
{
    if (SilentBlock(in, n)) {
        const StateBefore<PreFilterState> before(*st);
        PreFilterRun(st, in, out, kSilentPeriod);
        if (before.CameBack(*st))
            return RepeatFirstPeriod(out, n);
        return PreFilterRun(st, in + kSilentPeriod, out + kSilentPeriod, n - kSilentPeriod);
    }
    PreFilterRun(st, in, out, n);
}

void InitGainNormaliser(GainNormaliser* g, int32_t exponent, int32_t gain)
{
    g->exponent = static_cast<int16_t>(exponent);
    g->gain = static_cast<int16_t>(gain);
    g->envelope = 0;
    g->frozen = 0;
}

void FreezeGainNormaliser(GainNormaliser* g)
{
    g->frozen = 1;
}

// The mantissa stays in 1536 ... 0x7FFF: a sum that leaves the 16-bit range upwards is held at 0x7FFF, a step
// down below 1536 stops at 1536 (a step down never turns into the largest gain). The exponent is renormalised
// so that the mantissa usually stays between 0x3000 and 0x5FFF.
namespace {

inline int32_t NormaliseSample(GainNormaliser* g, int32_t x)
{
    const int32_t shift = 15 - g->exponent;  // 5 ... 25
    int64_t y = (static_cast<int64_t>(g->gain) * x) >> shift;
    if (y > 32767)
        y = 32767;
    else if (y < -32767)
        y = -32767;
    if (g->frozen)
        return static_cast<int32_t>(y);
    const int64_t magnitude = y < 0 ? -y : y;
    int64_t envelope = (magnitude * 7680 + static_cast<int64_t>(g->envelope) * 0x7000) >> 15;
    if (envelope > 0x7FFF)
        envelope = 0x7FFF;
    g->envelope = static_cast<int32_t>(envelope);
    int32_t gain = g->gain + ((-3 * g->envelope) >> 4) + 960;
    if (gain > 0x7FFF)
        gain = 0x7FFF;
    if (gain < 1536)
        gain = 1536;
    if (gain > 0x5FFF && g->exponent < 10) {
        gain >>= 1;
        g->exponent = static_cast<int16_t>(g->exponent + 1);
    } else if (gain < 0x3000 && g->exponent >= -9) {
        gain <<= 1;
        g->exponent = static_cast<int16_t>(g->exponent - 1);
    }
    g->gain = static_cast<int16_t>(gain);
    return static_cast<int32_t>(y);
}

}  // namespace

int32_t GainNormaliserSample(GainNormaliser* g, int32_t x)
{
    return NormaliseSample(g, x);
}

namespace {

void NormaliseRun(GainNormaliser* g, const int32_t* x, int32_t* y, int32_t n)
{
    GainNormaliser local = *g;
    for (int32_t i = 0; i < n; ++i)
        y[i] = NormaliseSample(&local, x[i]);
    g->exponent = local.exponent;
    g->gain = local.gain;
    g->envelope = local.envelope;
    g->frozen = local.frozen;
}

}  // namespace

void GainNormaliserBlock(GainNormaliser* g, const int32_t* x, int32_t* y, int32_t n)
{
    if (SilentBlock(x, n)) {
        const StateBefore<GainNormaliser> before(*g);
        NormaliseRun(g, x, y, kSilentPeriod);
        if (before.CameBack(*g))
            return RepeatFirstPeriod(y, n);
        return NormaliseRun(g, x + kSilentPeriod, y + kSilentPeriod, n - kSilentPeriod);
    }
    NormaliseRun(g, x, y, n);
}
