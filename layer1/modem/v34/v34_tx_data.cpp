// The transmit handlers of MP, MP' and data mode.
#include "layer1/dsp/detector_reports.h"
#include "layer1/dsp/dsp_context.h"
#include "layer1/dsp/mode_entries.h"
#include "layer1/dsp/register_window.h"
#include "layer1/modem/v34/v34_framing.h"
#include "layer1/modem/v34/v34_power.h"
#include "layer1/modem/v34/v34_scrambler.h"
#include "layer1/modem/v34/v34_tx_steps.h"

namespace {


V34Pump* Pump(void* owner) { return static_cast<V34Pump*>(owner); }

void StartMp(V34Pump* p, int32_t acknowledge)
{
    V34Transmitter& t = p->tx;
    t.mp.type = 1;
    t.mp.acknowledge = static_cast<uint8_t>(acknowledge);
    t.mp.maxCallToAnswer = static_cast<uint8_t>(p->caller != 0 ? p->rateCodes[0] : p->rateCodes[1]);
    t.mp.maxAnswerToCall = static_cast<uint8_t>(p->caller != 0 ? p->rateCodes[1] : p->rateCodes[0]);
    t.mp.rateMask = p->rateMask;
    MpPacked packed{};
    BuildMpFrame(&t.mp, &packed);
    t.mpBits = WriteMpFrame(&t.mp, &packed, t.mpWords);
    t.mpPosition = 0;
    t.bitsPerSymbol = t.fourPoint != 0 ? 2 : 4;
    t.scale = t.fourPoint != 0 ? kFourPointScale : kSixteenPointScale;
    TxMp(p);
}

// The next 32 data bits, scrambled: two 16-bit pieces from the framer, marks when it has nothing.
uint32_t NextDataWord(V34Pump* p)
{
    uint32_t word = 0xFFFFFFFFu;
    if (p->context != nullptr) {
        const int32_t low = FramerGetTxBits(p->context, 16);
        const int32_t high = FramerGetTxBits(p->context, 16);
        word = (low < 0 ? 0xFFFFu : static_cast<uint32_t>(low) & 0xFFFFu) |
               ((high < 0 ? 0xFFFFu : static_cast<uint32_t>(high) & 0xFFFFu) << 16);
    }
    return ScrambleWord(32, p->tx.polynomial, word, &p->tx.scrambler);
}

// One data symbol: a new mapping frame every eight symbols.
void AppendDataSymbol(V34Pump* p)
{
    V34Transmitter& t = p->tx;
    V34EncoderState& e = t.encoder;
    if (t.framePosition >= 8) {
        while (e.reservoir.count < MappingFrameBits(&e))
            ReservoirPut(&e.reservoir, NextDataWord(p));
        MappingFrame frame{};
        if (ParseMappingFrame(&e, &frame) != 0)
            frame = MappingFrame{};
        EncodeFrame(&e, &frame, t.framePoints);
        t.framePosition = 0;
        if (t.framesLeft > 0)
            t.framesLeft -= 1;
    }
    AppendV34Symbol(p, t.framePoints[t.framePosition++]);
}

void ReportConnection(V34Pump* p)
{
    if (p->context == nullptr)
        return;
    DspInterfaceBlock* block = p->context->interfaceBlock;
    UpdateStatusRegister(block, p->directStart != 0 ? kPumpStateQuickData : kPumpStateData, 1);
    UpdateStatusRegister(block, kStatusConnected, 1);
    NotifyController(block);
}

}  // namespace

void TxMpFirst(void* owner) { StartMp(Pump(owner), 0); }

void TxMpPrimeFirst(void* owner)
{
    V34Pump* p = Pump(owner);
    p->shared.mpReceived = 0;
    StartMp(p, 1);
}

void TxMp(void* owner)
{
    V34Pump* p = Pump(owner);
    V34Transmitter& t = p->tx;
    const int32_t n = t.bitsPerSymbol;
    uint32_t bits = 0;
    for (int32_t i = 0; i < n; ++i) {
        const int32_t at = t.mpPosition + i;
        if (at < t.mpBits)
            bits |= ((t.mpWords[at / 32] >> (at % 32)) & 1u) << i;
    }
    const uint32_t scrambled = ScrambleWord(n, t.polynomial, bits, &t.scrambler);
    AppendV34Symbol(p, RotateQuadrant(scrambled, &t.quadrant));
    t.mpPosition += n;
    if (t.mpPosition < t.mpBits)
        return;
    // A frame ends: MP stops once the far end's MP came in, MP' once the exchange is done; else again.
    t.mpPosition = 0;
    const int32_t code = p->shared.rxCode;
    const bool done = t.mp.acknowledge == 0 ? (code == kV34RxGoodMp || code == kV34RxGoodMpAck)
                                            : (code == kV34RxGoodMpAck || code == kV34RxMpDone);
    if (done)
        ControlSequencer(&t.sequencer, SEQ_END_STEP, nullptr, 0);
}

void TxDataStart(void* owner)
{
    V34Pump* p = Pump(owner);
    V34Transmitter& t = p->tx;
    V34EncoderState& e = t.encoder;
    const int32_t shaping = t.mp.shaping;
    e.frame.symbolRateIndex = p->rateIndex;
    e.frame.rateMultiple = p->rateCodes[0] > 0 ? p->rateCodes[0] : 1;
    e.frame.extraMultiple = 0;
    e.frame.row = shaping;
    e.frame.symbolRate = p->symbolRate;
    const int32_t trellis = t.mp.trellis <= 2 ? t.mp.trellis : 0;  // 3 (128 states) is not a code
    InitV34Encoder(&e, 16 << trellis, t.mp.nonlinear, t.polynomial);
    int32_t scale = 0;
    int32_t receiveGain = 0;
    V34PowerScale(p->rateIndex, e.frame.rateMultiple, shaping, e.frame.b, e.coefficients, &scale, &receiveGain);
    t.scale = scale;
    t.nonlinear = e.nonlinear;
    t.gain = 0x7FFF;
    t.framePosition = 8;
    t.framesLeft = e.frame.P;
    AppendDataSymbol(p);
}

void TxDataFirstFrame(void* owner)
{
    V34Pump* p = Pump(owner);
    V34Transmitter& t = p->tx;
    AppendDataSymbol(p);
    if (t.framesLeft > 0 || t.framePosition < 8)
        return;
    // The first data frame is out: the connection is made.
    ControlSequencer(&t.sequencer, SEQ_END_STEP, nullptr, 0);
    if (p->txState == kV34TxRenegotiating)
        p->txState = kV34TxRunning;
    if (t.connectReport != 0)
        ReportConnection(p);
}

void TxData(void* owner) { AppendDataSymbol(Pump(owner)); }
