// The fax pump in the data pump: the start on command 0x73, the block-level steps of sequencers A and B that
// run the transmitter and the receiver, and the ports that join them to the data framer, the status register
// and the notifications.
#include "layer1/dsp/dsp_context.h"
#include "layer1/dsp/mode_entries.h"
#include "layer1/dsp/register_window.h"

namespace {

constexpr int32_t kFramerSync = 1;
constexpr uint8_t kStatusInData = 0x10;

DspContext* Ctx(void* owner) { return static_cast<DspContext*>(owner); }

int32_t PortGetBits(void* owner, int32_t n) { return FramerGetTxBits(Ctx(owner), n); }

int32_t PortReleased(void* owner) { return Ctx(owner)->command.hold; }

void PortPutBits(void* owner, uint32_t bits, int32_t n) { FramerPutRxBits(Ctx(owner), bits, n); }

void PortStatus(void* owner, uint8_t value, int set)
{
    DspInterfaceBlock* block = Ctx(owner)->interfaceBlock;
    UpdateStatusRegister(block, value, set);
    WriteRegister(block, kRegNotify, 1);
}

void FaxTxStep(void* owner)
{
    DspContext* ctx = Ctx(owner);
    FaxTxBlock(&ctx->fax.tx, ctx->txWork, ctx->lowerAudio->format.blockLength);
}

// The page receiver, and while it waits for its carrier the watch for control-frame flags: heard, they are
// reported once (the controller answers the application that the carrier is of the other kind).
void FaxRxStep(void* owner)
{
    DspContext* ctx = Ctx(owner);
    FaxPumpState& f = ctx->fax;
    const int32_t n = ctx->lowerAudio->format.blockLength;
    if (f.watching && FaxRxDelivering(&f.rx))
        f.watching = 0;
    if (f.watching && FaxFlagWatchBlock(&f.watch, ctx->rxWork, n)) {
        f.watching = 0;
        PortStatus(ctx, kStatusFaxFlags, 1);
    }
    FaxRxBlock(&f.rx, ctx->rxWork, n);
}

const StepEntry kFaxTxList[] = {{{FaxTxStep}, -1}, kStepEnd};
const StepEntry kFaxRxList[] = {{{FaxRxStep}, -1}, kStepEnd};

}  // namespace

void StartFaxPump(DspContext* ctx)
{
    FaxPumpState& f = ctx->fax;
    const int32_t code = FaxCodeOf(ctx->faxModulation, ctx->faxRate);
    f.code = code;
    f.watching = 0;
    ControlSequencer(&ctx->seqA, SEQ_START_AT, kIdleListA, 0);
    ControlSequencer(&ctx->seqB, SEQ_START_AT, kIdleListB, 0);
    ctx->blockHandler = IdleBlockHandler;
    ctx->fskV21Ch2List = nullptr;
    InitRxFramer(ctx, kFramerSync);
    InitTxFramer(ctx, kFramerSync);
    SetLowerFormat(ctx->lowerAudio, kFaxSampleRate, kFaxBlockSamples);
    if (code >= 0 && ctx->faxFlags[0]) {
        // A V.17 short training keeps the equaliser of the long training before it.
        FaxRxInit(&f.rx, code, FaxRxPort{ctx, PortPutBits, PortStatus}, 1);
        FaxFlagWatchInit(&f.watch);
        f.watching = 1;
        ControlSequencer(&ctx->seqB, SEQ_START_AT, kFaxRxList, 0);
    } else if (code >= 0) {
        const int32_t level = ctx->txLevelDb < -1 ? ctx->txLevelDb + 1 : -9;
        FaxTxInit(&f.tx, code, FaxTxPort{ctx, PortGetBits, PortReleased, PortStatus}, DbToGain(ctx->lowerAudio, level),
                  &f.longTrainCounter);
        ControlSequencer(&ctx->seqA, SEQ_START_AT, kFaxTxList, 0);
    }
    UpdateStatusRegister(ctx->interfaceBlock, 0, 1);
    UpdateStatusRegister(ctx->interfaceBlock, kStatusInData, 0);
    UpdateStatusRegister(ctx->interfaceBlock, kStatusFaxFlags, 0);
    WriteRegister(ctx->interfaceBlock, kRegNotify, 1);
    // The transmitter leaves its wait step at once.
    SetHold(ctx);
}
