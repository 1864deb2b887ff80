// The modulator's constant tables: the pulse-shaping prototype (computed), the pre-emphasis filters and the
// carrier periods.
#include <cmath>

#include "layer1/modem/v34/v34_modulator.h"

namespace {

constexpr double kRollOff = 0.25;

// A raised-cosine pulse at three samples per symbol, centred between taps 23 and 24, each branch summing to
// one half (Q14): its spectrum ends at (1 + roll-off) / 2 of the symbol rate with the truncation's leakage
// near -58 dB, and the symbols keep headroom at the largest constellation.
struct Prototype {
    int16_t taps[kV34PulseTaps];
    Prototype()
    {
        const double pi = std::acos(-1.0);
        double h[kV34PulseTaps];
        for (int i = 0; i < kV34PulseTaps; ++i) {
            const double t = (i - (kV34PulseTaps - 1) / 2.0) / 3.0;
            const double sinc = std::sin(pi * t) / (pi * t);
            const double d = 1.0 - 4.0 * kRollOff * kRollOff * t * t;
            const double shape = std::fabs(d) < 1e-12 ? pi / 4.0 : std::cos(pi * kRollOff * t) / d;
            h[i] = sinc * shape;
        }
        double branchSum = 0;
        for (int n = 0; n < kV34PulseTaps / 3; ++n)
            branchSum += h[3 * n + 1];
        for (int i = 0; i < kV34PulseTaps; ++i)
            taps[i] = static_cast<int16_t>(std::lround(h[i] / branchSum * 8192.0));
    }
};

// Filter 0 passes the signal unchanged.
constexpr int16_t kPreEmphasis[kV34PreEmphasisFilters][kV34PreEmphasisTaps][2] = {
    {{0x7FFF, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}},
    {{-0xB6E, 0x228}, {0x253E, -0x10AB}, {0x4510, 0x1211}, {0x3397, -0xDEC}, {-0x1A9A, 0xFA9}, {0x5EB, -0x5DD}},
    {{0x6AE, 0x627}, {-0x1CCA, -0xFE1}, {0x3776, 0x75D}, {0x3F3D, -0x153A}, {0x29B3, 0x1C7F}, {-0xEB7, -0x46C}},
    {{-0xF6A, 0x2B0}, {0x2ADF, -0x1F90}, {0x3DB9, 0x10A4}, {0x37BC, 0x1B5}, {-0x1DE5, 0x11D1}, {0x5BB, -0x828}},
    {{-0x111C, 0x460}, {0x2B48, -0x2A1B}, {0x3BA7, 0x1353}, {0x3C0A, 0x7E4}, {-0x22F9, 0x129D}, {0x6EF, -0x90C}},
    {{0xAC8, 0xA43}, {-0x3214, -0x1732}, {0x53C5, -0x415}, {0x230F, -0x2156}, {0x391C, 0x3C97}, {-0x17F2, -0x933}},
    {{-0xDB5, 0x733}, {0x254E, -0x1A85}, {0x455F, 0x20EF}, {0x3856, -0x1966}, {-0x219E, 0x115A}, {0x7E7, -0x51E}},
    {{-0x1050, 0x7CB}, {0x26FC, -0x1F94}, {0x42EA, 0x1E13}, {0x40E1, -0xFB3}, {-0x2BDE, 0xF1C}, {0xACC, -0x564}},
    {{-0x1684, 0xB4B}, {0x2F60, -0x2B10}, {0x37C9, 0x2211}, {0x4CB9, -0xB54}, {-0x3634, 0xF84}, {0xD0C, -0x689}},
    {{-0x1981, 0xDFF}, {0x2DA0, -0x34A0}, {0x3B41, 0x2317}, {0x4F94, -0x3F9}, {-0x3CFE, 0xED6}, {0xEBC, -0x7AA}},
    {{-0x1C73, 0x95F}, {0x2A6C, -0x2DBA}, {0x4715, 0x14AF}, {0x3E57, 0x94E}, {-0x3302, 0xFE7}, {0x95C, -0xACE}},
};

// Per combination 2 x rate index + high carrier: the period in samples and the cycles in it.
constexpr int8_t kCarrier[kV34CarrierCombinations][2] = {
    {9, 2}, {4, 1}, {5, 1}, {9, 2}, {5, 1}, {9, 2}, {5, 1}, {9, 2}, {21, 4}, {5, 1}, {21, 4},
};

}  // namespace

const int16_t* V34PulsePrototype()
{
    static const Prototype prototype;
    return prototype.taps;
}

void V34PulseBranch(int32_t k, int32_t taps[16])
{
    const int16_t* h = V34PulsePrototype();
    for (int n = 0; n < 16; ++n)
        taps[n] = h[3 * n + (k < 0 ? 0 : (k > 2 ? 2 : k))];
}

const int16_t (*V34PreEmphasisTaps(int32_t filter))[2]
{
    return kPreEmphasis[filter >= 0 && filter < kV34PreEmphasisFilters ? filter : 0];
}

void V34CarrierPeriod(int32_t combination, int32_t* period, int32_t* step)
{
    if (combination < 0 || combination >= kV34CarrierCombinations)
        combination = 0;
    *period = kCarrier[combination][0];
    *step = kCarrier[combination][1];
}
