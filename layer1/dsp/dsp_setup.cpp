// Set-up of the interface block and the DspContext at device start, and the idle state every mode returns to.
#include <cstring>

#include "layer1/dsp/command_dispatcher.h"
#include "layer1/dsp/mode_entries.h"
#include "layer1/dsp/register_window.h"
#include "layer1/dsp/tone_generator.h"
#include "layer1/modem/voice/voice_mode.h"

void InitInterfaceBlock(DspInterfaceBlock* block, ControllerCallback callback, DspCommandEntry commandEntry)
{
    block->controllerCallback = callback;
    block->commandEntry = commandEntry;
    block->memoryDirectory = block->memoryDirectoryArray;
    block->tableDirectory = block->tableDirectoryArray;
    block->memoryDirectoryCount = 0;
    block->tableDirectoryCount = 0;
    std::memset(block->window.reg, 0, sizeof(block->window.reg));
    InitPumpLink(block);
}

void InitDspContext(DspContext* ctx, LowerAudioInterface* lowerAudio, DspInterfaceBlock* block)
{
    ctx->interfaceBlock = block;
    ctx->command.filtersCreated = 0;
    ctx->command.voiceActive = 0;
    ctx->pcm.liveWord = 0;
    ctx->lowerAudio = lowerAudio;

    std::memset(&ctx->deviceRecord, 0, sizeof(ctx->deviceRecord));
    LowerControl(lowerAudio, LOWER_CODE_DEVICE_RECORD, nullptr, &ctx->deviceRecord);
    lowerAudio->rxDepthBlocks = ctx->deviceRecord.rxDepthBlocks;
    lowerAudio->txDepthBlocks = ctx->deviceRecord.txDepthBlocks;
    lowerAudio->extraSamples = ctx->deviceRecord.extraSamples;

    ctx->command.payload[0] = 0;
    CmdSetFraming(ctx);  // framer type 0 for both directions
    InitToneGenerators(ctx);
    InitVoiceState(ctx);

    ctx->blockHandler = IdleBlockHandler;
    ctx->commandEntry = CommandDispatcher;
    ctx->perBlockEntry = PerBlockEntry;

    ControlSequencer(&ctx->seqA, SEQ_START_AT, kIdleListA, 0);
    ControlSequencer(&ctx->seqB, SEQ_START_AT, kIdleListB, 0);
    ctx->modeFlags = 0;
    const int32_t b = lowerAudio->format.blockLength;
    const size_t n = static_cast<size_t>(b > 0 && b <= kLowerBufferSamples ? b : kLowerBufferSamples);
    std::memset(ctx->rxWork, 0, n * sizeof(int16_t));
    std::memset(ctx->txWork, 0, n * sizeof(int16_t));
}

void EnterIdleMode(DspContext* ctx)
{
    StopVoice(ctx);
    SetLowerFormat(ctx->lowerAudio, 9600, 96);
    ctx->blockHandler = IdleBlockHandler;
    ControlSequencer(&ctx->seqA, SEQ_START_AT, kIdleListA, 0);
    ControlSequencer(&ctx->seqB, SEQ_START_AT, kIdleListB, 0);
    // A digit cut off here never reaches the step that ends DigitBusy: without this every later command
    // would be taken and dropped.
    ctx->command.digitBusy = 0;
    UpdateStatusRegister(ctx->interfaceBlock, 0, 1);
    UpdateStatusRegister(ctx->interfaceBlock, 0x10, 0);
    WriteRegister(ctx->interfaceBlock, kRegNotify, 1);
}

void ReturnToIdle(DspContext* ctx)
{
    EnterIdleMode(ctx);
}
