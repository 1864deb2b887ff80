// Scramblers and the data symbol encoder: trellis-coded rates through the constellations shared with the
// fax pump, the uncoded rates (4800, 9600) through the quadrant-differential maps.
#include "layer1/modem/common/scrambler23.h"
#include "layer1/modem/common/trellis_qam.h"
#include "layer1/modem/v32/v32.h"

namespace {

// The caller sends with 1 + x^-18 + x^-23, the answerer with 1 + x^-5 + x^-23.
int32_t NearTap(int32_t caller) { return caller ? 18 : 5; }

}  // namespace

uint32_t V32Scramble(uint32_t* reg, uint32_t bits, int32_t n, int32_t caller)
{
    return ScrambleSerial23(reg, bits, n, NearTap(caller));
}

uint32_t V32Descramble(uint32_t* reg, uint32_t bits, int32_t n, int32_t caller)
{
    return DescrambleSerial23(reg, bits, n, NearTap(caller));
}

V32Point V32EncodeData(V32Tx* tx, uint32_t bits, int32_t caller)
{
    const int32_t n = tx->bitsPerSymbol;
    const uint32_t line = V32Scramble(&tx->scrambler, bits, n, caller);
    if (tx->trellis) {
        const int32_t label = TrellisEncodeLabel(&tx->diffPair, &tx->trellisState, line);
        const TrellisPoint p = TrellisQamConstellation(n)[label];
        return V32Point{p.re * kV32Unit, p.im * kV32Unit};
    }
    tx->quadrant = V32DiffQuadrant(tx->quadrant, static_cast<int32_t>(line & 3));
    if (n == 2)
        return V32Point4800(tx->quadrant);
    return V32Point9600(tx->quadrant, static_cast<int32_t>((line >> 2) & 3));
}

int32_t V32NearestTraining(V32Point p)
{
    int32_t best = 0;
    int64_t low = INT64_MAX;
    for (int32_t k = 0; k < 4; ++k) {
        const V32Point q = V32TrainingPoint(k);
        const int64_t dr = p.re - q.re, di = p.im - q.im;
        const int64_t d = dr * dr + di * di;
        if (d < low) {
            low = d;
            best = k;
        }
    }
    return best;
}
