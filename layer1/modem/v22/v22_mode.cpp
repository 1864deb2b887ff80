// Starting the V.22 / V.22bis mode: after a connection procedure (StartV22) or by command 0x6E
// (StartV22Quick, both directions on one carrier). The modem's port joins it to the data framer.
#include "layer1/modem/v22/v22_mode.h"

#include "layer1/dsp/dsp_context.h"
#include "layer1/dsp/mode_entries.h"
#include "layer1/dsp/register_window.h"

namespace {

constexpr int32_t kModeV22 = 6;
constexpr int32_t kModeV22bis = 7;
constexpr int32_t kRate1200 = 3;
constexpr int32_t kRate2400 = 4;

const StepEntry kV22ListA[] = {{{V22TxSequencerStep}, -1}, kStepEnd};
const StepEntry kV22ListB[] = {{{V22RxSequencerStep}, -1}, kStepEnd};

DspContext* Ctx(void* owner) { return static_cast<DspContext*>(owner); }

int32_t PortGetTxBits(void* owner, int32_t n) { return FramerGetTxBits(Ctx(owner), n); }

void PortPutRxBits(void* owner, uint32_t bits, int32_t n) { FramerPutRxBits(Ctx(owner), bits, n); }

// The mode and bits per symbol: mode 7 with rate code 4 is V.22bis, anything else V.22 at 1200 bit/s.
int32_t ChooseRate(DspContext* ctx)
{
    const bool bis = ctx->modeNumber == kModeV22bis && ctx->connection.rateCode == kRate2400;
    ctx->modeNumber = bis ? kModeV22bis : kModeV22;
    ctx->connection.rateCode = bis ? kRate2400 : kRate1200;
    ctx->v22.modem.bits_per_symbol = bis ? 4 : 2;
    return bis;
}

void CommonStart(DspContext* ctx, int16_t txStep, int16_t rxStep)
{
    V22Pump& p = ctx->v22;
    ctx->blockHandler = IdleBlockHandler;
    V22BindPort(ctx);
    p.modem.tx.carrier_step = txStep;
    p.modem.rx.rx_carrier_step = rxStep;
    p.modem.tx.tx_gain = ctx->txLevelDb < 0 ? DbToGain(ctx->lowerAudio, ctx->txLevelDb) : DbToGain(ctx->lowerAudio, -10);
    p.modem.rx.prefilter[0] = 0;
    p.modem.rx.prefilter[1] = 0;
    p.rateEntered = 0;
    p.energyBlocks = 0;
    V22TxReset(&p.modem.tx);
    V22RxInit(&p.modem);
    ControlSequencer(&ctx->seqA, SEQ_START_AT, kV22ListA, 0);
    ControlSequencer(&ctx->seqB, SEQ_START_AT, kV22ListB, 0);
}

}  // namespace

void V22BindPort(DspContext* ctx)
{
    ctx->v22.modem.port = V22Port{ctx, PortGetTxBits, PortPutRxBits};
}

void StartV22(DspContext* ctx)
{
    V22Pump& p = ctx->v22;
    if (ctx->modeNumber != 1 && ctx->modeNumber != kModeV22 && ctx->modeNumber != kModeV22bis) {
        ctx->modeNumber = kModeV22bis;
        ctx->connection.rateCode = kRate2400;
    }
    const int32_t bis = ChooseRate(ctx);
    const int32_t originate = ctx->connection.originate;
    p.quick = 0;
    CommonStart(ctx, originate ? kV22Carrier1200 : kV22Carrier2400, originate ? kV22Carrier2400 : kV22Carrier1200);
    const StepEntry* list = originate ? V22OriginateSteps : V22AnswerSteps;
    const int32_t start = bis ? 0 : (originate ? 10 : 3);
    ControlSequencer(&p.tx, SEQ_START_AT, list, start);
    ControlSequencer(&p.rx, SEQ_START_AT, V22RxSteps, 0);
}

void StartV22Quick(DspContext* ctx)
{
    V22Pump& p = ctx->v22;
    SetLowerFormat(ctx->lowerAudio, 9600, 96);
    uint32_t value = 2u | (4u << 16);
    uint32_t out = 0;
    LowerControl(ctx->lowerAudio, LOWER_CODE_MODE13, &value, &out);
    const int32_t bis = ChooseRate(ctx);
    const int16_t step = ctx->connection.originate ? kV22Carrier1200 : kV22Carrier2400;
    p.quick = 1;
    CommonStart(ctx, step, step);
    ControlSequencer(&p.tx, SEQ_START_AT, bis ? V22bisQuickSteps : V22QuickSteps, 0);
    ControlSequencer(&p.rx, SEQ_START_AT, V22RxSteps, 0);
}
