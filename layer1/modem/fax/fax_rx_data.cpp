// The data steps of the fax receiver: decisions, differential decoding (V.17 through the Viterbi decoder),
// descrambling and delivery; the carrier-loss and quality checks; the end of a reception.
#include "layer1/modem/common/scrambler23.h"
#include "layer1/modem/common/trellis_qam.h"
#include "layer1/modem/fax/fax_rx.h"
#include "layer1/modem/fax/fax_rx_steps.h"
#include "layer1/modem/fax/fax_tx.h"

namespace {

constexpr uint8_t kStateFax = 8;
constexpr uint8_t kStatusInData = 0x10;
// Quality: the decision error against the squared half distance between points, 256 at the boundary,
// smoothed over about 64 symbols. A clean signal at 25 dB SNR stays well below 100 at 14400 bit/s; random
// decisions (noise, a foreign signal) sit near 170.
constexpr int32_t kQualityLimit = 150;
constexpr int32_t kDescramblerHistory = 23;  // line bits

FaxRxState* Rx(void* owner) { return static_cast<FaxRxState*>(owner); }

// Phase change (eighths of a turn) back to its bits, for groups of three and of two bits.
int32_t Inverse3(int32_t change)
{
    for (uint32_t b = 0; b < 8; ++b)
        if (FaxPhaseChange3(b) == change)
            return static_cast<int32_t>(b);
    return 0;
}

int32_t Inverse2(int32_t change)
{
    for (uint32_t b = 0; b < 4; ++b)
        if (FaxPhaseChange2(b) == (change & 6))
            return static_cast<int32_t>(b);
    return 0;
}

// The self-synchronising descrambler gives out garbage until its 23-bit history holds line bits; the sender
// sends scrambled ones through that time (the end of its training), so those bits go out as the ones they
// were. Without this a false code stood in front of the page's first EOL.
void Deliver(FaxRxState* rx, uint32_t bits)
{
    const int32_t n = rx->params.bitsPerSymbol;
    if (rx->settling > 0) {
        const int32_t k = rx->settling < n ? rx->settling : n;
        bits |= (1u << k) - 1u;
        rx->settling -= k;
    }
    if (rx->delivering && rx->port.putBits != nullptr)
        rx->port.putBits(rx->port.owner, bits, n);
}

// V.17: the bits of a label the decoder settled (differential pair, the other bits as they are).
void DeliverLabel(FaxRxState* rx, int32_t label)
{
    const int32_t pair = (label >> 1) & 3;
    const uint32_t line = static_cast<uint32_t>(TrellisDiffDecode(rx->viterbi.previousPair, pair)) |
                          (static_cast<uint32_t>(label >> 3) << 2);
    rx->viterbi.previousPair = pair;
    Deliver(rx, Descramble23(&rx->descrambler, line, rx->params.bitsPerSymbol));
}

// Decides the symbol, adapts, and delivers its bits (V.17: the bits of the symbol the decoder settles).
void DecideAndDeliver(FaxRxState* rx)
{
    uint32_t index = 0;
    int32_t label = -1;
    if (rx->params.modulation == FAX_V17) {
        // The decoder's distances give the nearest point too.
        int32_t nearest;
        label = FaxViterbiStep(&rx->viterbi, rx->point, rx->params.bitsPerSymbol, &nearest);
        const TrellisPoint q = TrellisQamConstellation(rx->params.bitsPerSymbol)[nearest];
        rx->decided = FaxPoint{q.re * kFaxV17Unit, q.im * kFaxV17Unit};
    } else {
        rx->decided = FaxDecide(rx, &index);
    }
    const int32_t error = FaxDistance(rx->point, rx->decided);
    const int32_t ratio = rx->halfDistance > 0 ? static_cast<int32_t>((static_cast<int64_t>(error) * 256) / rx->halfDistance) : 0;
    rx->quality += ((ratio > 4096 ? 4096 : ratio) - rx->quality) >> 6;
    FaxEqualiserStep(rx);
    const int32_t n = rx->params.bitsPerSymbol;
    if (rx->params.modulation == FAX_V17) {
        if (label >= 0)
            DeliverLabel(rx, label);
        return;
    }
    const int32_t phase = static_cast<int32_t>(index & 7);
    const int32_t change = (phase - rx->previousPhase) & 7;
    rx->previousPhase = phase;
    uint32_t line;
    if (n == 2)
        line = static_cast<uint32_t>(Inverse2(change));
    else if (n == 3)
        line = static_cast<uint32_t>(Inverse3(change));
    else
        line = ((index >> 3) & 1) | (static_cast<uint32_t>(Inverse3(change)) << 1);
    if (rx->params.modulation == FAX_V29) {
        Deliver(rx, Descramble23(&rx->descrambler, line, n));
        return;
    }
    uint32_t bits = 0;
    for (int32_t k = 0; k < n; ++k)
        bits |= FaxV27Descramble(&rx->descrambler, &rx->guardCount, (line >> k) & 1) << k;
    Deliver(rx, bits);
}

}  // namespace

// Data starts: the controller learns it, the loop and equaliser settle to tracking.
void FaxRxDataStart(void* owner)
{
    FaxRxState* rx = Rx(owner);
    rx->trainedPower = rx->power;
    rx->lossPower = rx->power;
    rx->quality = 0;
    rx->keepTraining = 1;
    rx->stepShift = 9 + rx->shiftBias;
    rx->loopShift1 = 4;
    rx->loopShift2 = 10;
    FaxViterbiReset(&rx->viterbi);
    // The first data symbol's phase change counts from the last training symbol.
    rx->previousPhase = static_cast<int32_t>(((FaxAngleOf(rx->decided) + (1u << 28)) >> 29) & 7);
    rx->delivering = 1;
    // V.27ter's descrambler follows the sender's through the conditioning segment; the others start here.
    // V.17's first pair is decoded against a reference of 0, while the sender's differential coder carries on
    // from the end of its training (which differs between long and short training): a wrong first pair
    // spoils line bits of the first symbol, which the descrambler echoes up to 23 bits later.
    rx->settling = 0;
    if (rx->params.modulation == FAX_V29)
        rx->settling = kDescramblerHistory;
    else if (rx->params.modulation == FAX_V17)
        rx->settling = kDescramblerHistory + rx->params.bitsPerSymbol;
    if (rx->port.status != nullptr) {
        rx->port.status(rx->port.owner, kStateFax, 1);
        rx->port.status(rx->port.owner, kStatusInData, 1);
    }
    DecideAndDeliver(rx);
}

// Holds while the carrier lasts: the power falling 12 dB below its level at the data start, or decisions
// persistently far from their points, ends the reception.
void FaxRxData(void* owner)
{
    FaxRxState* rx = Rx(owner);
    rx->lossPower += (rx->power - rx->lossPower) >> 3;
    if (rx->lossPower < rx->trainedPower / 16 || rx->quality > kQualityLimit) {
        ControlSequencer(&rx->inner, SEQ_END_STEP, nullptr, 0);
        return;
    }
    DecideAndDeliver(rx);
}

void FaxRxEnd(void* owner)
{
    FaxRxState* rx = Rx(owner);
    // The symbols still in the decoder's path memory are the end of the data (the last EOLs of a page and
    // the sender's closing ones): they go out before the reception ends.
    if (rx->delivering && rx->params.modulation == FAX_V17) {
        int32_t labels[kFaxViterbiDepth];
        const int32_t n = FaxViterbiFlush(&rx->viterbi, labels);
        for (int32_t k = 0; k < n; ++k)
            DeliverLabel(rx, labels[k]);
    }
    rx->delivering = 0;
    if (rx->port.status != nullptr)
        rx->port.status(rx->port.owner, kStatusInData, 0);
    ControlSequencer(&rx->inner, SEQ_START_AT, rx->list, 0);
}
