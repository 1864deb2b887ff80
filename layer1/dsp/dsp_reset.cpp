// Command 0x60: light reset (payload[0] = 1) and full reset (any other value).
#include "layer1/dsp/command_dispatcher.h"
#include "layer1/dsp/mode_entries.h"
#include "layer1/dsp/register_window.h"

namespace {

constexpr uint8_t kResetMarker = 2;
constexpr int32_t kCallProgressSection = 7;
constexpr int32_t kSectionFullLevel = 0x7FFF;

void LightReset(DspContext* ctx)
{
    ctx->seqB.auxTimer = 0;
    ctx->blockHandler = IdleBlockHandler;
    InitRxFramer(ctx, kFramerAsync);
    InitTxFramer(ctx, kFramerAsync);
    if (!ctx->command.filtersCreated)
        CreateDspFilters(ctx);
}

void FullReset(DspContext* ctx)
{
    DspInterfaceBlock* block = ctx->interfaceBlock;
    uint32_t mode13 = 0;
    uint32_t out13 = 0;
    LowerControl(ctx->lowerAudio, LOWER_CODE_MODE13, &mode13, &out13);
    StopVoice(ctx);
    ctx->modeState = -1;
    ctx->blockHandler = IdleBlockHandler;
    ctx->command.digitBusy = 0;
    ControlSequencer(&ctx->seqA, SEQ_START_AT, kIdleListA, 0);
    ControlSequencer(&ctx->seqB, SEQ_START_AT, kIdleListB, 0);
    ctx->seqB.auxTimer = 0;
    BuildParameterDirectory(ctx);
    UpdateStatusRegister(block, 0, 1);
    UpdateStatusRegister(block, 0x10, 0);
    SetRegister(block, kRegResetMarker, kResetMarker);
    InitRxFramer(ctx, kFramerAsync);
    InitTxFramer(ctx, kFramerAsync);
    ResetCallProgressLevels(ctx);
    SetDetectorSectionLevel(ctx, kCallProgressSection, kSectionFullLevel);
    if (!ctx->command.filtersCreated)
        CreateDspFilters(ctx);
    ctx->modeFlagByte = static_cast<uint8_t>(ctx->modeFlagByte & ~0x02u);
    uint8_t gain11[2] = {0, 0};
    uint8_t out11[2] = {0, 0};
    LowerControl(ctx->lowerAudio, LOWER_CODE_RX_GAIN, gain11, out11);
    ResetDetectorBank(ctx);
}

}  // namespace

void FullResetDsp(DspContext* ctx)
{
    SetLowerFormat(ctx->lowerAudio, 9600, 96);
    FullReset(ctx);
}

void ResetDsp(DspContext* ctx)
{
    SetLowerFormat(ctx->lowerAudio, 9600, 96);
    if (ctx->command.payload[0] == 1)
        LightReset(ctx);
    else
        FullReset(ctx);
}
