// Data-mode decisions: the trellis decoder's final pairs gathered into mapping frames for the demapper.
#include "layer1/modem/v34/v34_rx_data.h"

#include "layer1/modem/v34/v34_framing.h"

void InitV34DataDecisions(V34DataDecisions* d, int32_t symbolRateIndex, int32_t rateMultiple, int32_t shaping,
                          int32_t trellisStates, const PackedComplex coefficients[3], int32_t polynomial)
{
    InitV34TrellisDecoder(&d->decoder, trellisStates);
    V34FrameParams& f = d->demapper.frame;
    f.symbolRateIndex = symbolRateIndex >= 0 && symbolRateIndex < kV34SymbolRates ? symbolRateIndex : 0;
    f.rateMultiple = rateMultiple < 1 ? 1 : (rateMultiple > 14 ? 14 : rateMultiple);
    f.extraMultiple = 0;
    f.row = shaping != 0 ? 1 : 0;
    f.symbolRate = V34SymbolRate(f.symbolRateIndex);
    InitV34Demapper(&d->demapper, coefficients);
    d->held = 0;
    d->polynomial = polynomial;
}

int32_t DecideDataPair(V34DataDecisions* d, const PackedComplex soft[2], int32_t invert, PackedComplex tentative[2])
{
    if (TrellisDecode(&d->decoder, soft, invert, d->frame + d->held, tentative) != kV34TrellisFilled)
        return 0;
    d->held += 2;
    if (d->held < 8)
        return 0;
    d->held = 0;
    return DemapFrame(&d->demapper, d->frame);
}

int32_t ReadDataBytes(V34DataDecisions* d, uint8_t* out, int32_t max)
{
    return DescrambleBytes(&d->demapper.bits, d->polynomial, &d->descrambler, out, max);
}
