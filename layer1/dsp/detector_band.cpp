// Fourth-order band filters: the band tone detectors (elliptic-style band-passes, a pole pair near the tone
// and transmission zeros on either side) and the front end's own-tone band-stops.
#include <cstring>

#include "layer1/dsp/detector_filters.h"

namespace {

constexpr int32_t kHalf = 0x40000000;  // 0.5 in Q31 (words 0, 2, 5, 7)

constexpr FourthOrderBandFilter Filter(int32_t w1, int32_t w3, int32_t w4, int32_t w6, int32_t w8, int32_t w9)
{
    return FourthOrderBandFilter{{kHalf, w1, kHalf, w3, w4, kHalf, w6, kHalf, w8, w9}};
}

struct BandInstance {
    FourthOrderBandFilter filter;
    int32_t e1, e2, integratorShift, on, off;
};

const BandInstance kBandInstances[BAND_TONE_COUNT] = {
    {Filter(-520764948, -1066106646, 405024840, -315172242, -1066172184, 429863742), 3, -2, 8, 640, 480},
    {Filter(-1946083107, -1066106110, 1973355476, -2018134729, -1066106110, 1980505095), 2, -1, 5, 640, 480},
    {Filter(907990397, -1066106110, -827501689, 734042393, -1066106110, -810240982), 2, -1, 7, 256, 128},
    {Filter(-115899455, -1066106110, 209740440, -339410556, -1066106110, 244555169), 3, -2, 7, 640, 480},
    {Filter(-928319574, -1066106110, 1000462897, -1094367677, -1066106110, 1016939704), 2, -1, 7, 640, 480},
    {Filter(-893396887, -1068000000, 828398771, -748030352, -1068000000, 810829923), 2, -1, 7, 640, 480},
    {Filter(-1343795008, -1066106110, 1403854098, -1485351378, -1066106110, 1417900611), 2, -1, 7, 640, 480},
};

const FourthOrderBandFilter kOwnToneNotches[OWN_NOTCH_COUNT] = {
    Filter(-1609921422, -723393439, 1325233878, -1619188674, -723393439, 1325233878),
    Filter(-1410643137, -723393439, 1162198919, -1421210413, -723393439, 1162198919),
    Filter(-412058456, -723393439, 343876849, -425843611, -723393439, 343876849),
};

// 32-bit wrap-around arithmetic, as the fixed-point filter keeps every sum to 32 bits.
int32_t Wrap(int64_t v)
{
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v)));
}

int32_t MulQ31(int32_t a, int32_t b)
{
    return Wrap((static_cast<int64_t>(a) * b) >> 31);
}

// t >> e for e >= 0, t << -e for e < 0 (counts bounded to the word).
int32_t Shift(int32_t e, int32_t t)
{
    if (e >= 0)
        return t >> (e > 31 ? 31 : e);
    const int32_t left = -e > 31 ? 31 : -e;
    return static_cast<int32_t>(static_cast<uint32_t>(t) << left);
}

void ClearStates(BandToneDetector* d)
{
    d->x2 = d->x1 = d->p2 = d->p1 = d->w2 = d->w1 = 0;
    d->integrator = 0;
    d->onBlocks = 0;
    d->offBlocks = 0;
}

}  // namespace

void InitBandToneDetector(BandToneDetector* d, BandTone tone)
{
    const BandInstance& b = kBandInstances[tone];
    d->filter = &b.filter;
    d->inputShift = 2;
    d->e1 = b.e1;
    d->e2 = b.e2;
    d->e3 = 4;
    d->integratorShift = b.integratorShift;
    d->onThreshold = b.on;
    d->offThreshold = b.off;
    ClearStates(d);
}

void InitOwnToneNotch(BandToneDetector* d, OwnToneNotch notch)
{
    d->filter = &kOwnToneNotches[notch];
    d->inputShift = 2;
    d->e1 = 0;
    d->e2 = notch == OWN_NOTCH_2100 ? 0 : 1;
    d->e3 = notch == OWN_NOTCH_2100 ? 0 : -1;
    d->integratorShift = 0;
    d->onThreshold = 0;
    d->offThreshold = 0;
    ClearStates(d);
}

void ResetBandToneDetector(BandToneDetector* d)
{
    ClearStates(d);
}

int32_t FourthOrderBandSample(BandToneDetector* d, int32_t x)
{
    const int32_t* w = d->filter->word;
    const int32_t u = Shift(-(17 - d->inputShift), x);
    const int32_t p = Wrap(static_cast<int64_t>(Shift(d->e1, Wrap(static_cast<int64_t>(MulQ31(w[1], d->x1)) +
                                                                   d->x2 / 2 + u / 2))) +
                           2 * (static_cast<int64_t>(MulQ31(w[3], d->p2)) + MulQ31(w[4], d->p1)));
    const int32_t inner = Wrap(static_cast<int64_t>(Shift(d->e2, p)) + MulQ31(w[6], Shift(d->e2 - 1, d->p1)) +
                               Shift(d->e2, d->p2));
    const int32_t out = Wrap(static_cast<int64_t>(Shift(d->e3, inner)) +
                             2 * (static_cast<int64_t>(MulQ31(w[8], d->w2)) + MulQ31(w[9], d->w1)));
    d->x2 = d->x1;
    d->x1 = u;
    d->p2 = d->p1;
    d->p1 = p;
    d->w2 = d->w1;
    d->w1 = out;
    return out >> 16;
}

int32_t RunBandToneDetector(const int32_t* x, BandToneDetector* d, int32_t minBlocks, int32_t n)
{
    const int32_t s = d->integratorShift;
    for (int32_t i = 0; i < n; ++i) {
        const int32_t y = FourthOrderBandSample(d, x[i]);
        const int32_t magnitude = y < 0 ? ~y : y;  // one's-complement magnitude
        const int32_t m = static_cast<int32_t>(static_cast<uint32_t>(magnitude) << 16);
        d->integrator = Wrap(static_cast<int64_t>(d->integrator) + (m >> s) - (d->integrator >> s));
    }
    const int32_t level = d->integrator >> 16;
    if (level >= d->onThreshold) {
        if (d->onBlocks < INT16_MAX)
            d->onBlocks = static_cast<int16_t>(d->onBlocks + 1);
        d->offBlocks = 0;
    } else if (level < d->offThreshold) {
        if (d->offBlocks < INT32_MAX)
            d->offBlocks += 1;
        d->onBlocks = 0;
    }
    return d->onBlocks >= minBlocks;
}
