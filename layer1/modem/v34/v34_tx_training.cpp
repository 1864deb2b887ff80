// The transmit symbol handlers of the training signals: time-outs, silence, S and S-bar, the echo-training
// sweep, PP, TRN, J, J', E. Each appends exactly one symbol except the time-out setters. The owner of the
// script is the V34Pump.
#include "layer1/modem/v34/v34_tx_steps.h"

#include <cmath>

#include "layer1/modem/v34/v34_framing.h"
#include "layer1/modem/v34/v34_power.h"
#include "layer1/modem/v34/v34_scrambler.h"

namespace {

constexpr int32_t kEchoScale = 340;
constexpr int32_t kUnityGain = 0x7FFF;
constexpr uint32_t kAllOnes = 0xFFFFFFFFu;
constexpr int32_t kEchoGap = 200;      // symbols sent as 0 after the canceller's mark
constexpr uint32_t kQuarterSteps = 42; // quarter-wave table steps per 90 degrees

// The PP sequence: byte n gives the point (T[high nibble], T[low nibble]) with T 10923 x sin of 0, 30, 60, 90
// degrees and their negatives: constant magnitude and an ideal periodic autocorrelation over 48 symbols.
constexpr uint8_t kPpTable[48] = {
    0x30, 0x30, 0x30, 0x30, 0x62, 0x51, 0x40, 0x56, 0x30, 0x12, 0x62, 0x40, 0x30, 0x03, 0x40, 0x04,
    0x62, 0x65, 0x30, 0x62, 0x30, 0x51, 0x15, 0x03, 0x30, 0x40, 0x30, 0x40, 0x62, 0x26, 0x40, 0x21,
    0x30, 0x65, 0x62, 0x30, 0x30, 0x04, 0x40, 0x03, 0x62, 0x12, 0x30, 0x15, 0x30, 0x26, 0x15, 0x04,
};
constexpr int16_t kPpLevels[8] = {0, 5461, 9459, 10923, -10923, -9459, -5461, 0};

V34Pump* Pump(void* owner) { return static_cast<V34Pump*>(owner); }

// cos and sin (Q14) of phase x 90/42 degrees from the quarter-wave table.
PackedComplex QuarterWavePoint(uint32_t phase)
{
    const int16_t* t = V34QuarterWaveTable();
    const uint32_t q = (phase / kQuarterSteps) & 3u;
    const uint32_t r = phase % kQuarterSteps;
    const int32_t c = t[r];
    const int32_t s = t[kQuarterSteps - r];
    switch (q) {
    case 1: return PackComplex(-s, c);
    case 2: return PackComplex(-c, -s);
    case 3: return PackComplex(s, -c);
    default: return PackComplex(c, s);
    }
}

// One symbol of the scrambled training signals: n bits of the source through the scrambler, a quadrant step
// and (with 4 bits) one of the four first-quadrant points.
void AppendTrainingBits(V34Pump* p, uint32_t source, int32_t n)
{
    V34Transmitter& t = p->tx;
    const uint32_t bits = ScrambleWord(n, t.polynomial, source, &t.scrambler);
    AppendV34Symbol(p, RotateQuadrant(n == 2 ? bits & 3u : bits & 15u, &t.quadrant));
}

void SetConstellation(V34Transmitter& t, int32_t fourPoint)
{
    t.bitsPerSymbol = fourPoint != 0 ? 2 : 4;
    t.scale = fourPoint != 0 ? kFourPointScale : kSixteenPointScale;
}

// Ends a step that runs until the receiver reaches a state.
void EndWhen(V34Pump* p, bool done)
{
    if (done)
        ControlSequencer(&p->tx.sequencer, SEQ_END_STEP, nullptr, 0);
}

template <int32_t Code, int32_t Ms, int32_t Factor>
void TxTimeout(void* owner)
{
    V34Pump* p = Pump(owner);
    if (Code >= 0)
        p->shared.rxExpected = Code;
    const int64_t symbols = static_cast<int64_t>(p->symbolRate) * Ms / 1000 + int64_t{p->pathLatency} * Factor;
    p->shared.rxTimeoutBlocks = static_cast<int32_t>(symbols / kV34BlockSymbols);
}

}  // namespace

const int16_t* V34QuarterWaveTable()
{
    struct Table {
        int16_t v[kQuarterSteps + 1];
        Table()
        {
            const double pi = std::acos(-1.0);
            for (uint32_t i = 0; i <= kQuarterSteps; ++i)
                v[i] = static_cast<int16_t>(std::trunc(16384.0 * std::cos(i * pi / 2.0 / kQuarterSteps)));
            v[0] = 16383;
        }
    };
    static const Table table;
    return table.v;
}

void AppendV34Symbol(V34Pump* p, PackedComplex point)
{
    V34Transmitter& t = p->tx;
    if (t.count < kV34BlockSymbols)
        t.symbols[t.count++] = ScaleTransmitPoint(t.nonlinear, t.scale, t.gain, point);
}

StepHandler TxTimeoutStep(int32_t which)
{
    static const StepHandler kTimeouts[] = {
        TxTimeout<6, 800, 1>, TxTimeout<6, 3000, 2>, TxTimeout<4, 200, 1>, TxTimeout<7, 2800, 3>,
        TxTimeout<7, 3200, 2>, TxTimeout<3, 800, 1>, TxTimeout<7, 2800, 2>, TxTimeout<-1, 2800, 3>,
    };
    return kTimeouts[which >= 0 && which < 8 ? which : 7];
}

void TxZeroSymbol(void* owner)
{
    V34Pump* p = Pump(owner);
    V34Transmitter& t = p->tx;
    if (t.sequencer.position == 0 && p->caller == 0 && t.zeroCountSet == 0) {
        // The answerer's opening silence lasts 47 ms.
        t.zeroCountSet = 1;
        ControlSequencer(&t.sequencer, SEQ_SET_REMAINING, nullptr, p->symbolRate * 47 / 1000);
    }
    if (t.count < kV34BlockSymbols)
        t.symbols[t.count++] = 0;
    EndWhen(p, p->shared.rxCode == kV34RxSSeen);
}

void TxSFirst(void* owner)
{
    V34Pump* p = Pump(owner);
    V34Transmitter& t = p->tx;
    t.nonlinear = 0;
    t.scale = kFourPointScale;
    t.gain = kUnityGain;
    t.sPoint = PackComplex(128, 128);
    AppendV34Symbol(p, t.sPoint);
}

void TxSBarFirst(void* owner)
{
    V34Pump* p = Pump(owner);
    p->tx.sPoint = PackComplex(-128, -128);
    AppendV34Symbol(p, p->tx.sPoint);
}

void TxSNext(void* owner)
{
    V34Pump* p = Pump(owner);
    V34Transmitter& t = p->tx;
    t.sPoint = PackComplex(-RealPart(t.sPoint), -ImagPart(t.sPoint));
    AppendV34Symbol(p, t.sPoint);
}

void TxEchoTrainingStart(void* owner)
{
    V34Pump* p = Pump(owner);
    V34Transmitter& t = p->tx;
    TxSNext(owner);
    if (p->shared.echoNoTraining != 0) {
        // Over the echo-training segment and the repeated S and S-bar, to PP.
        ControlSequencer(&t.sequencer, SEQ_RESTART_AT, nullptr, t.sequencer.position + 6);
        return;
    }
    p->shared.rxCode = kV34RxEchoTraining;
    t.scale = kEchoScale;
    t.echoSymbol = 0;
    t.echoPhase = 0;
    t.echoStep = 0;
}

// A frequency sweep on the quarter-wave circle: the phase step grows by one table step per symbol.
void TxEchoTraining(void* owner)
{
    V34Pump* p = Pump(owner);
    V34Transmitter& t = p->tx;
    if (t.echoSymbol == 0 && p->shared.echoTrainingSymbols > 0)
        ControlSequencer(&t.sequencer, SEQ_SET_REMAINING, nullptr, p->shared.echoTrainingSymbols);
    const int32_t mark = p->shared.echoMark;
    const bool gap = p->shared.farEchoFlag == 0 && mark >= 0 && t.echoSymbol > mark && t.echoSymbol < mark + kEchoGap;
    const PackedComplex point = QuarterWavePoint(t.echoPhase);
    t.echoStep = (t.echoStep + 1u) % (4u * kQuarterSteps);
    t.echoPhase = (t.echoPhase + t.echoStep) % (4u * kQuarterSteps);
    t.echoSymbol += 1;
    if (gap) {
        if (t.count < kV34BlockSymbols)
            t.symbols[t.count++] = 0;
        return;
    }
    // The table's Q14 points at a quarter of the PP amplitude's grid: 340 x 16384 / 512 = 510 x 10923 / 512.
    AppendV34Symbol(p, point);
}

PackedComplex V34PpPoint(int32_t n)
{
    const uint8_t byte = kPpTable[static_cast<uint32_t>(n) % 48u];
    return PackComplex(kPpLevels[byte >> 4], kPpLevels[byte & 7u]);
}

void TxPpFirst(void* owner)
{
    V34Pump* p = Pump(owner);
    p->tx.scale = kV34PpScale;
    p->tx.ppIndex = 0;
    TxPpNext(owner);
}

void TxPpNext(void* owner)
{
    V34Pump* p = Pump(owner);
    V34Transmitter& t = p->tx;
    const PackedComplex point = V34PpPoint(t.ppIndex);
    t.ppIndex = (t.ppIndex + 1) % 48;
    AppendV34Symbol(p, point);
}

void TxTrnFirst(void* owner)
{
    V34Pump* p = Pump(owner);
    V34Transmitter& t = p->tx;
    if (p->shared.rxCode == kV34RxStepDone) {
        ControlSequencer(&t.sequencer, SEQ_RESTART_AT, nullptr, t.sequencer.position + 3);
    } else {
        p->shared.rxCode = kV34RxTraining;
        t.quadrant = 0;
        t.scrambler = 0;
        t.gain = kUnityGain;
        SetConstellation(t, t.fourPoint != 0 || t.sequencer.position <= 16);
    }
    AppendTrainingBits(p, kAllOnes, t.bitsPerSymbol);
}

void TxTrn(void* owner)
{
    V34Pump* p = Pump(owner);
    AppendTrainingBits(p, kAllOnes, p->tx.bitsPerSymbol);
    if (p->tx.sequencer.remaining < 0)
        EndWhen(p, p->shared.rxCode == kV34RxStepDone);
}

void TxJFirst(void* owner)
{
    V34Pump* p = Pump(owner);
    AppendTrainingBits(p, p->tx.jPattern, 2);
    p->tx.jIndex = 1;
}

void TxJ(void* owner)
{
    V34Pump* p = Pump(owner);
    V34Transmitter& t = p->tx;
    t.jIndex &= 7;
    AppendTrainingBits(p, static_cast<uint32_t>(t.jPattern) >> (2 * t.jIndex), 2);
    t.jIndex = (t.jIndex + 1) & 7;
    if (t.jIndex == 0)
        EndWhen(p, p->shared.rxCode == kV34RxSSeen);
}

void TxJPrimeFirst(void* owner)
{
    V34Pump* p = Pump(owner);
    AppendTrainingBits(p, 63, 2);
    p->tx.jIndex = 1;
}

void TxJPrime(void* owner)
{
    V34Pump* p = Pump(owner);
    V34Transmitter& t = p->tx;
    AppendTrainingBits(p, static_cast<uint32_t>(kV34JPrime) >> (2 * (t.jIndex & 7)), 2);
    t.jIndex = (t.jIndex + 1) & 7;
}

void TxEFirst(void* owner)
{
    V34Pump* p = Pump(owner);
    V34Transmitter& t = p->tx;
    SetConstellation(t, t.fourPoint);
    if (t.fourPoint == 0)
        ControlSequencer(&t.sequencer, SEQ_RESTART_AT, nullptr, t.sequencer.position + 2);
    AppendTrainingBits(p, kAllOnes, t.bitsPerSymbol);
}

void TxE(void* owner)
{
    V34Pump* p = Pump(owner);
    AppendTrainingBits(p, kAllOnes, p->tx.bitsPerSymbol);
}
