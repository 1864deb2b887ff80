// The transmit lists of the fax modulations: the training segments, the data and the trailing ones. Each step
// leaves the symbol of its tick in tx->symbol; counts are in symbols.
#include "layer1/modem/common/scrambler23.h"
#include "layer1/modem/fax/fax_training.h"
#include "layer1/modem/fax/fax_tx.h"

namespace {

constexpr uint32_t kV17BridgeWord = 0x8880;  // the bridge's 16 bits, two per symbol
constexpr uint8_t kStateFax = 8;
constexpr uint8_t kStatusInData = 0x10;
constexpr int32_t kLongTrainEvery = 11;

FaxTxState* Tx(void* owner) { return static_cast<FaxTxState*>(owner); }

void Silence(void* owner) { Tx(owner)->symbol = FaxPoint{0, 0}; }

// The carrier alone (echo protection): a constant point.
void Carrier(void* owner)
{
    FaxTxState* tx = Tx(owner);
    tx->symbol = tx->params.modulation == FAX_V17 ? FaxV17TrainingPoint(2)
                                                  : tx->params.modulation == FAX_V29 ? FaxPoint{-FaxV29TrainingA().re, 0}
                                                                                     : FaxV27Point(0);
}

// Silence until the controller lets the transmitter go.
void Wait(void* owner)
{
    FaxTxState* tx = Tx(owner);
    Silence(owner);
    tx->inData = 0;
    if (tx->port.released != nullptr && tx->port.released(tx->port.owner))
        ControlSequencer(&tx->inner, SEQ_END_STEP, nullptr, 0);
}

// The last symbol of the first silence decides long or short training: of every eleven short-training
// requests of the device the first trains long (so a receiver that lost its equaliser recovers).
void V17TrainingChoice(void* owner)
{
    FaxTxState* tx = Tx(owner);
    Silence(owner);
    if (!(tx->code & kFaxShortTrainBit) || tx->longTrainCounter == nullptr)
        return;
    const int32_t count = *tx->longTrainCounter;
    *tx->longTrainCounter = count + 1 >= kLongTrainEvery ? 0 : count + 1;
    if (count != 0)
        return;
    tx->code &= ~kFaxShortTrainBit;
    tx->params.shortTrain = 0;
    const int32_t position = tx->inner.position;
    tx->list = FaxTxListOf(tx->code);
    // The long list has the same entries up to here: carry on at the same position.
    tx->inner.list = tx->list;
    tx->inner.position = position;
}

// V.17 segment 1: A B A B ...; the scrambler is preset for the training sequence that follows.
void V17Abab(void* owner)
{
    FaxTxState* tx = Tx(owner);
    tx->symbol = FaxV17TrainingPoint((tx->inner.remaining & 1) ? 1 : 0);
    tx->scrambler = kFaxV17TrainingPreset;
    tx->phase = 0;
}

// V.17 segment 2: scrambled ones, two bits per symbol to C, B, D, A.
void V17Trn(void* owner)
{
    FaxTxState* tx = Tx(owner);
    tx->phase = FaxV17TrainingStep(&tx->scrambler);
    tx->symbol = FaxV17TrainingPoint(tx->phase);
}

// V.17 segment 3: the bridge word, scrambled, as quarter-turn steps over A B C D.
void V17Bridge(void* owner)
{
    FaxTxState* tx = Tx(owner);
    const int32_t k = (tx->inner.remaining - 1) & 7;
    const uint32_t pair = (kV17BridgeWord >> (2 * (7 - k))) & 3;
    const uint32_t dibit = Scramble23(&tx->scrambler, pair, 2);
    tx->phase = (tx->phase + static_cast<int32_t>(dibit)) & 3;
    tx->symbol = FaxV17TrainingPoint(tx->phase);
}

void V17Ones(void* owner)
{
    FaxTxState* tx = Tx(owner);
    tx->symbol = FaxEncodeV17(tx, (1u << tx->params.bitsPerSymbol) - 1u);
}

// V.29 segment 2: A B A B ...; segment 3's generator is preset.
void V29Alternations(void* owner)
{
    FaxTxState* tx = Tx(owner);
    tx->symbol = (tx->inner.remaining & 1) ? FaxV29TrainingB(FaxRateIndexOf(tx->code)) : FaxV29TrainingA();
    tx->trainingRegister = kFaxV29ConditioningPreset;
}

// V.29 segment 3: one bit per symbol from 1 + x^-6 + x^-7, C = -A for 0 and D = -B for 1.
void V29Conditioning(void* owner)
{
    FaxTxState* tx = Tx(owner);
    const FaxPoint p = FaxV29ConditioningStep(&tx->trainingRegister) ? FaxV29TrainingB(FaxRateIndexOf(tx->code)) : FaxV29TrainingA();
    tx->symbol = FaxPoint{-p.re, -p.im};
}

void V29OnesFirst(void* owner)
{
    FaxTxState* tx = Tx(owner);
    tx->scrambler = 0;
    tx->phase = 0;
    tx->symbol = FaxEncodeV29(tx, (1u << tx->params.bitsPerSymbol) - 1u);
}

void V29Ones(void* owner)
{
    FaxTxState* tx = Tx(owner);
    tx->symbol = FaxEncodeV29(tx, (1u << tx->params.bitsPerSymbol) - 1u);
}

// V.27ter segment 3: a half turn every symbol; segment 4's generator is preset.
void V27Reversals(void* owner)
{
    FaxTxState* tx = Tx(owner);
    tx->phase = (tx->phase + 4) & 7;
    tx->symbol = FaxV27Point(tx->phase);
    FaxV27ConditioningStart(&tx->scrambler, &tx->guardCount);
}

// V.27ter segment 4: three bits per symbol from the scrambler fed with ones; the first turns the phase by a
// half turn.
void V27Conditioning(void* owner)
{
    FaxTxState* tx = Tx(owner);
    if (FaxV27ConditioningStep(&tx->scrambler, &tx->guardCount))
        tx->phase = (tx->phase + 4) & 7;
    tx->symbol = FaxV27Point(tx->phase);
}

void V27Ones(void* owner)
{
    FaxTxState* tx = Tx(owner);
    tx->symbol = FaxEncodeV27(tx, (1u << tx->params.bitsPerSymbol) - 1u);
}

FaxPoint Encode(FaxTxState* tx, uint32_t bits)
{
    switch (tx->params.modulation) {
    case FAX_V17: return FaxEncodeV17(tx, bits);
    case FAX_V29: return FaxEncodeV29(tx, bits);
    default: return FaxEncodeV27(tx, bits);
    }
}

// The first data symbol (ones): the controller learns that the transmitter is in data.
void DataStart(void* owner)
{
    FaxTxState* tx = Tx(owner);
    tx->symbol = Encode(tx, (1u << tx->params.bitsPerSymbol) - 1u);
    tx->inData = 1;
    if (tx->port.status != nullptr) {
        tx->port.status(tx->port.owner, kStateFax, 1);
        tx->port.status(tx->port.owner, kStatusInData, 1);
    }
}

// Data bits from the port; when it has nothing more the data step ends (the trailing ones follow).
void Data(void* owner)
{
    FaxTxState* tx = Tx(owner);
    const int32_t bits = tx->port.getBits != nullptr ? tx->port.getBits(tx->port.owner, tx->params.bitsPerSymbol) : -1;
    if (bits < 0) {
        tx->inData = 0;
        tx->symbol = Encode(tx, (1u << tx->params.bitsPerSymbol) - 1u);
        ControlSequencer(&tx->inner, SEQ_END_STEP, nullptr, 0);
        return;
    }
    tx->symbol = Encode(tx, static_cast<uint32_t>(bits));
}

void Ones(void* owner)
{
    FaxTxState* tx = Tx(owner);
    tx->symbol = Encode(tx, (1u << tx->params.bitsPerSymbol) - 1u);
}

// The end: back to the wait step, silent.
void End(void* owner)
{
    FaxTxState* tx = Tx(owner);
    Silence(owner);
    tx->inData = 0;
    ControlSequencer(&tx->inner, SEQ_START_AT, tx->list, 0);
}

#define S(h, n) {{h}, n}

const StepEntry kV17Long[] = {
    S(Wait, -1),   S(Silence, 356), S(V17TrainingChoice, 1), S(Carrier, 482), S(Silence, 157), S(V17Abab, 256),
    S(V17Trn, 2976), S(V17Bridge, 64), S(V17Ones, 48), S(DataStart, 1), S(Data, -1), S(Ones, 168), S(End, 1),
    kStepEnd,
};
const StepEntry kV17Short[] = {
    S(Wait, -1),   S(Silence, 356), S(V17TrainingChoice, 1), S(Carrier, 482), S(Silence, 157), S(V17Abab, 256),
    S(V17Trn, 38), S(V17Bridge, 0), S(V17Ones, 48), S(DataStart, 1), S(Data, -1), S(Ones, 168), S(End, 1),
    kStepEnd,
};
const StepEntry kV29[] = {
    S(Wait, -1), S(Silence, 262), S(Carrier, 482), S(Silence, 62), S(V29Alternations, 128),
    S(V29Conditioning, 384), S(V29OnesFirst, 1), S(V29Ones, 47), S(DataStart, 1), S(Data, -1), S(Ones, 48),
    S(End, 1), kStepEnd,
};
const StepEntry kV27[] = {
    S(Wait, -1), S(Silence, 42), S(Carrier, 322), S(Silence, 42), S(V27Reversals, 50), S(V27Conditioning, 1074),
    S(V27Ones, 8), S(DataStart, 1), S(Data, -1), S(Ones, 8), S(End, 1), kStepEnd,
};
// At 1200 baud the echo-protection carrier and the silence after it keep their durations (200 and 20 ms).
const StepEntry kV27Slow[] = {
    S(Wait, -1), S(Silence, 42), S(Carrier, 242), S(Silence, 32), S(V27Reversals, 50), S(V27Conditioning, 1074),
    S(V27Ones, 8), S(DataStart, 1), S(Data, -1), S(Ones, 8), S(End, 1), kStepEnd,
};

#undef S

}  // namespace

const StepEntry* FaxTxListOf(int32_t code)
{
    switch (FaxModulationOf(code)) {
    case FAX_V27TER: return FaxRateIndexOf(code) == 1 ? kV27Slow : kV27;
    case FAX_V29: return kV29;
    default: return (code & kFaxShortTrainBit) ? kV17Short : kV17Long;
    }
}
