// Decisions of the fax receiver: the nearest point of the modulation's data constellation. The returned
// index is the point's phase (eighths of a turn) with the V.29 amplitude bit in bit 3; for V.17 the label.
#include "layer1/modem/common/trellis_qam.h"
#include "layer1/modem/fax/fax_rx.h"

int32_t FaxDistance(FaxPoint a, FaxPoint b)
{
    const int64_t dr = static_cast<int64_t>(a.re) - b.re;
    const int64_t di = static_cast<int64_t>(a.im) - b.im;
    const int64_t d = (dr * dr + di * di) >> 8;
    return d > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(d);
}

FaxPoint FaxDecide(FaxRxState* rx, uint32_t* index)
{
    const FaxPoint p = rx->point;
    FaxPoint best{0, 0};
    int32_t bestDistance = 0x7FFFFFFF;
    uint32_t bestIndex = 0;
    const int32_t rate = FaxRateIndexOf(rx->code);
    if (rx->params.modulation == FAX_V17) {
        const TrellisPoint* c = TrellisQamConstellation(rx->params.bitsPerSymbol);
        for (int32_t k = 0; k < TrellisQamPoints(rx->params.bitsPerSymbol); ++k) {
            const FaxPoint q{c[k].re * kFaxV17Unit, c[k].im * kFaxV17Unit};
            const int32_t d = FaxDistance(p, q);
            if (d < bestDistance) {
                bestDistance = d;
                best = q;
                bestIndex = static_cast<uint32_t>(k);
            }
        }
    } else {
        const int32_t amplitudes = rx->params.modulation == FAX_V29 && rate == 0 ? 2 : 1;
        // V.29 at 4800 and V.27ter at 2400 use the four axis points only.
        const int32_t phaseStep = rx->params.bitsPerSymbol == 2 ? 2 : 1;
        for (int32_t phase = 0; phase < 8; phase += phaseStep) {
            for (int32_t a = 0; a < amplitudes; ++a) {
                const FaxPoint q = rx->params.modulation == FAX_V29 ? FaxV29Point(rate, phase, a) : FaxV27Point(phase);
                const int32_t d = FaxDistance(p, q);
                if (d < bestDistance) {
                    bestDistance = d;
                    best = q;
                    bestIndex = static_cast<uint32_t>(phase | (a << 3));
                }
            }
        }
    }
    *index = bestIndex;
    return best;
}
