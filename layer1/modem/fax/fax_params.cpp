// Codes, constants, signal points and the shaping filter of the fax modulations.
#include "layer1/modem/fax/fax_params.h"

#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;

// Eighth-turn phases to unit vectors scaled by r: axis points at r, diagonal points at r on each axis
// component when diagonal is true (the V.29 grid), else on the circle (V.27ter).
FaxPoint Rotate(int32_t phase, int32_t axis, int32_t diagonalComponent)
{
    static const int8_t kDir[8][2] = {{1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}, {1, -1}};
    const int8_t* d = kDir[phase & 7];
    const int32_t s = (phase & 1) ? diagonalComponent : axis;
    return FaxPoint{d[0] * s, d[1] * s};
}

}  // namespace

int32_t FaxCodeOf(int32_t modulationNibble, int32_t rateNibble)
{
    switch (modulationNibble) {
    case 0xA: return (FAX_V27TER << 4) | (rateNibble == 4 ? 1 : 0);
    case 0xB: return (FAX_V29 << 4) | (rateNibble == 5 ? 2 : rateNibble == 6 ? 1 : 0);
    case 0xD:
    case 0xE: {
        const int32_t index = rateNibble >= 5 && rateNibble <= 8 ? 9 - rateNibble : 0;
        return (FAX_V17 << 4) | (modulationNibble == 0xD ? kFaxShortTrainBit : 0) | index;
    }
    default: return -1;
    }
}

FaxModemParams FaxParamsOf(int32_t code)
{
    const int32_t index = FaxRateIndexOf(code);
    FaxModemParams p{};
    p.modulation = FaxModulationOf(code);
    switch (p.modulation) {
    case FAX_V27TER:
        p.bitsPerSymbol = index == 1 ? 2 : 3;
        p.baud = index == 1 ? 1200 : 1600;
        p.carrierHz = 1800;
        break;
    case FAX_V29:
        p.bitsPerSymbol = index == 2 ? 2 : index == 1 ? 3 : 4;
        p.baud = 2400;
        p.carrierHz = 1700;
        break;
    default:
        p.modulation = FAX_V17;
        p.bitsPerSymbol = index >= 3 ? 3 : 6 - index;
        p.baud = 2400;
        p.carrierHz = 1800;
        p.shortTrain = (code & kFaxShortTrainBit) ? 1 : 0;
        break;
    }
    p.samplesPerSymbol = kFaxSampleRate / p.baud;
    p.symbolsPerBlock = kFaxBlockSamples / p.samplesPerSymbol;
    p.bitRate = p.bitsPerSymbol * p.baud;
    return p;
}

FaxPoint FaxV17TrainingPoint(int32_t index)
{
    static const int8_t kAbcd[4][2] = {{-6, -2}, {2, -6}, {6, 2}, {-2, 6}};
    const int8_t* p = kAbcd[index & 3];
    return FaxPoint{p[0] * kFaxV17Unit, p[1] * kFaxV17Unit};
}

FaxPoint FaxV29TrainingA() { return FaxPoint{-3 * kFaxV29Unit, 0}; }

FaxPoint FaxV29TrainingB(int32_t rateIndex)
{
    // 9600: amplitude 3 at -45 degrees on the grid (3, -3); 7200: (1, -1); 4800: 3 at -90 degrees.
    if (rateIndex == 2)
        return FaxPoint{0, -3 * kFaxV29Unit};
    const int32_t c = rateIndex == 1 ? 1 : 3;
    return FaxPoint{c * kFaxV29Unit, -c * kFaxV29Unit};
}

FaxPoint FaxV29Point(int32_t rateIndex, int32_t phase, int32_t amplitudeBit)
{
    // Axis points at 3 (5 with the amplitude bit), diagonal points at (1, 1) (3, 3); 7200 and 4800 use the
    // low amplitude only.
    const int32_t high = rateIndex == 0 && amplitudeBit;
    return Rotate(phase, (high ? 5 : 3) * kFaxV29Unit, (high ? 3 : 1) * kFaxV29Unit);
}

FaxPoint FaxV27Point(int32_t phase)
{
    const int32_t diagonal = static_cast<int32_t>(std::lround(kFaxV27Radius * std::sqrt(0.5)));
    return Rotate(phase, kFaxV27Radius, diagonal);
}

int32_t FaxPhaseChange3(uint32_t bits)
{
    // Indexed by the group with its first bit as the most significant: 000 45, 001 0, 010 90, 011 135,
    // 100 270, 101 315, 110 225, 111 180 degrees.
    static const int8_t kChange[8] = {1, 0, 2, 3, 6, 7, 5, 4};
    const uint32_t msbFirst = ((bits & 1) << 2) | (bits & 2) | ((bits >> 2) & 1);
    return kChange[msbFirst];
}

int32_t FaxPhaseChange2(uint32_t bits)
{
    // First bit most significant: 00 0, 01 90, 10 270, 11 180 degrees.
    static const int8_t kChange[4] = {0, 2, 6, 4};
    return kChange[((bits & 1) << 1) | ((bits >> 1) & 1)];
}

int32_t FaxShapingFilter(const FaxModemParams& params, int16_t* taps, int32_t eighths)
{
    const int32_t sps = params.samplesPerSymbol;
    const int32_t n = kFaxFilterSpan * sps;
    const double beta = params.modulation == FAX_V27TER ? 0.5 : 0.25;
    for (int32_t k = 0; k < n; ++k) {
        const double centre = (n - 1) / 2.0 + eighths / 8.0;
        const double t = (k - centre) / sps;  // in symbols
        double h;
        const double edge = 1.0 / (4.0 * beta);
        if (std::fabs(t) < 1e-9) {
            h = 1.0 - beta + 4.0 * beta / kPi;
        } else if (std::fabs(std::fabs(t) - edge) < 1e-9) {
            h = beta / std::sqrt(2.0) *
                ((1 + 2 / kPi) * std::sin(kPi / (4 * beta)) + (1 - 2 / kPi) * std::cos(kPi / (4 * beta)));
        } else {
            h = (std::sin(kPi * t * (1 - beta)) + 4 * beta * t * std::cos(kPi * t * (1 + beta))) /
                (kPi * t * (1 - (4 * beta * t) * (4 * beta * t)));
        }
        // A Hann-like taper over the span keeps the truncated tails from raising the sidelobes.
        const double w = 0.5 + 0.5 * std::cos(2 * kPi * (k - centre) / (n + 1));
        taps[k] = static_cast<int16_t>(std::lround(h * w * 16384.0));
    }
    return n;
}
