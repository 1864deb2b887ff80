// Data symbol encoders of the fax transmitter.
#include "layer1/modem/common/scrambler23.h"
#include "layer1/modem/common/trellis_qam.h"
#include "layer1/modem/fax/fax_tx.h"

// V.17: scramble, differentially code the first two bits, add the trellis bit Y0, then the point of the label.
FaxPoint FaxEncodeV17(FaxTxState* tx, uint32_t bits)
{
    const int32_t n = tx->params.bitsPerSymbol;
    const uint32_t line = Scramble23(&tx->scrambler, bits, n);
    const int32_t label = TrellisEncodeLabel(&tx->diffPair, &tx->trellisState, line);
    const TrellisPoint p = TrellisQamConstellation(n)[label];
    return FaxPoint{p.re * kFaxV17Unit, p.im * kFaxV17Unit};
}

// V.29: at 9600 the first bit is the amplitude and the other three a Gray-coded phase change; at 7200 three
// bits and at 4800 two bits of phase change.
FaxPoint FaxEncodeV29(FaxTxState* tx, uint32_t bits)
{
    const int32_t index = FaxRateIndexOf(tx->code);
    const int32_t n = tx->params.bitsPerSymbol;
    const uint32_t line = Scramble23(&tx->scrambler, bits, n);
    int32_t amplitude = 0;
    if (index == 0) {
        amplitude = static_cast<int32_t>(line & 1);
        tx->phase = (tx->phase + FaxPhaseChange3(line >> 1)) & 7;
    } else if (index == 1) {
        tx->phase = (tx->phase + FaxPhaseChange3(line)) & 7;
    } else {
        tx->phase = (tx->phase + FaxPhaseChange2(line)) & 7;
    }
    return FaxV29Point(index, tx->phase, amplitude);
}

// V.27ter: scrambled bits, Gray-coded phase changes of three (4800) or two (2400) bits.
FaxPoint FaxEncodeV27(FaxTxState* tx, uint32_t bits)
{
    const int32_t n = tx->params.bitsPerSymbol;
    uint32_t line = 0;
    for (int32_t k = 0; k < n; ++k)
        line |= FaxV27Scramble(&tx->scrambler, &tx->guardCount, (bits >> k) & 1) << k;
    const int32_t change = n == 3 ? FaxPhaseChange3(line) : FaxPhaseChange2(line);
    tx->phase = (tx->phase + change) & 7;
    return FaxV27Point(tx->phase);
}

// The history holds the line bits, the newest in bit 0. The guard counts line bits that repeat the bit 8, 9
// or 12 bits before them; after 32 such bits in a row the next line bit is inverted (which restarts the count).
namespace {

uint32_t GuardStep(uint32_t* history, int32_t* guardCount, uint32_t lineBit, int32_t* inverted)
{
    const uint32_t h = *history;
    *inverted = 0;
    if (*guardCount >= 33) {
        lineBit ^= 1;
        *inverted = 1;
        *guardCount = 0;
    } else if (lineBit != ((h >> 7) & 1) && lineBit != ((h >> 8) & 1) && lineBit != ((h >> 11) & 1)) {
        *guardCount = 0;
    } else {
        *guardCount += 1;
    }
    *history = ((h << 1) | lineBit) & 0xFFFu;
    return lineBit;
}

}  // namespace

uint32_t FaxV27Scramble(uint32_t* history, int32_t* guardCount, uint32_t bit)
{
    const uint32_t h = *history;
    const uint32_t line = (bit ^ (h >> 5) ^ (h >> 6)) & 1;
    int32_t inverted;
    return GuardStep(history, guardCount, line, &inverted);
}

uint32_t FaxV27Descramble(uint32_t* history, int32_t* guardCount, uint32_t lineBit)
{
    // The sender inverted this bit when its guard had counted 32: undo that before descrambling.
    const uint32_t h = *history;
    uint32_t sent = lineBit & 1;
    const uint32_t unguarded = *guardCount >= 33 ? sent ^ 1 : sent;
    int32_t inverted;
    GuardStep(history, guardCount, unguarded, &inverted);
    // GuardStep re-inverts when the count had reached 32, so the history holds the bit as received.
    return (unguarded ^ (h >> 5) ^ (h >> 6)) & 1;
}
