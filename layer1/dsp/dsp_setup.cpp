// Set-up of the DspContext and the interface block at device start, idle mode, and a minimal command entry.
//
// These are the frame's minimal versions: the emulated DSP (register primitives, command table, parameter
// directories, filter objects) replaces CommandDispatcher and grows InitDspContext, EnterIdleMode and
// DestroyDspFilters in place.
#include <cstring>

#include "layer1/dsp/dsp_context.h"

namespace {

constexpr int kRegReplyCode = 0;
constexpr int kRegReplyLength = 2;
constexpr int kRegReplyPayload = 4;
constexpr int kRegStatus = 54;
constexpr int kRegCommandCode = 64;
constexpr int kRegHostControl = 247;
constexpr int kRegNotify = 255;
constexpr uint8_t kNotifyEnable = 0x02;
constexpr uint8_t kIcdAck = 0xC0;

void Notify(DspContext* ctx, uint8_t value)
{
    DspInterfaceBlock* block = ctx->interfaceBlock;
    if ((LoadWindowRegister(block, kRegHostControl) & kNotifyEnable) && block->controllerCallback != nullptr)
        block->controllerCallback(block);
    else
        StoreWindowRegister(block, kRegNotify, value);
}

}  // namespace

void InitInterfaceBlock(DspInterfaceBlock* block, ControllerCallback callback, DspCommandEntry commandEntry)
{
    block->controllerCallback = callback;
    block->commandEntry = commandEntry;
    block->memoryDirectory = block->memoryDirectoryArray;
    block->tableDirectory = block->tableDirectoryArray;
    block->memoryDirectoryCount = 0;
    block->tableDirectoryCount = 0;
    std::memset(block->window.reg, 0, sizeof(block->window.reg));
}

void InitDspContext(DspContext* ctx, LowerAudioInterface* lowerAudio, DspInterfaceBlock* block)
{
    ctx->interfaceBlock = block;
    ctx->command.filtersCreated = 0;
    ctx->command.voiceActive = 0;
    ctx->lowerAudio = lowerAudio;

    std::memset(&ctx->deviceRecord, 0, sizeof(ctx->deviceRecord));
    LowerControl(lowerAudio, LOWER_CODE_DEVICE_RECORD, nullptr, &ctx->deviceRecord);
    lowerAudio->rxDepthBlocks = ctx->deviceRecord.rxDepthBlocks;
    lowerAudio->txDepthBlocks = ctx->deviceRecord.txDepthBlocks;
    lowerAudio->extraSamples = ctx->deviceRecord.extraSamples;

    ctx->command.payload[0] = 0;  // framer type 0 for both directions once the framer exists

    ctx->blockHandler = IdleBlockHandler;
    ctx->commandEntry = CommandDispatcher;
    ctx->perBlockEntry = PerBlockEntry;

    ControlSequencer(&ctx->seqA, SEQ_START_AT, kIdleListA, 0);
    ControlSequencer(&ctx->seqB, SEQ_START_AT, kIdleListB, 0);
    ctx->modeFlags = 0;
    const int32_t b = lowerAudio->format.blockLength;
    std::memset(ctx->rxWork, 0, static_cast<size_t>(b) * sizeof(int16_t));
    std::memset(ctx->txWork, 0, static_cast<size_t>(b) * sizeof(int16_t));
}

void DestroyDspFilters(DspContext* ctx)
{
    ctx->command.filtersCreated = 0;
}

void EnterIdleMode(DspContext* ctx)
{
    SetLowerFormat(ctx->lowerAudio, 9600, 96);
    ctx->blockHandler = IdleBlockHandler;
    ControlSequencer(&ctx->seqA, SEQ_START_AT, kIdleListA, 0);
    ControlSequencer(&ctx->seqB, SEQ_START_AT, kIdleListB, 0);
    // Status state 0 and the in-data bit (0x10) cleared.
    const uint8_t status = LoadWindowRegister(ctx->interfaceBlock, kRegStatus);
    StoreWindowRegister(ctx->interfaceBlock, kRegStatus, static_cast<uint8_t>(status & 0xE0));
    Notify(ctx, 1);
}

// Minimal command entry: takes a command from register 64 and acknowledges it (0xC0 with the command code)
// when the reply mailbox is free.
void CommandDispatcher(DspContext* ctx)
{
    DspInterfaceBlock* block = ctx->interfaceBlock;
    const uint8_t code = LoadWindowRegister(block, kRegCommandCode);
    if (code == 0)
        return;
    StoreWindowRegister(block, kRegCommandCode, 0);
    if (block->controllerCallback != nullptr)
        block->controllerCallback(block);
    if (LoadWindowRegister(block, kRegReplyCode) != 0)
        return;
    StoreWindowRegister(block, 1, 0);
    StoreWindowRegister(block, kRegReplyLength, 1);
    StoreWindowRegister(block, 3, 0);
    StoreWindowRegister(block, kRegReplyPayload, code);
    StoreWindowRegister(block, kRegReplyCode, kIcdAck);
    if (block->controllerCallback != nullptr)
        block->controllerCallback(block);
}
