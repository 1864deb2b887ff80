// The command entry: passes a change of register 247 to the sample-stream driver, takes the command from the
// window, runs it and posts the reply the handler left in the command record. It runs in the controller's
// thread, under the device lock; the controller's callbacks follow after the lock is released.
#include "layer1/dsp/command_dispatcher.h"

#include <cstring>

#include "layer1/dsp/register_window.h"

namespace {

constexpr int32_t kModeStateCallerIdInCall = 5;

void PassHostControl(DspContext* ctx)
{
    const uint8_t value = GetRegister(ctx->interfaceBlock, kRegHostControl);
    if (value == ctx->hostControlCopy)
        return;
    ctx->hostControlCopy = value;
    if (value != 0) {
        SetLowerHostActive(ctx->lowerAudio, 0);
        SetLowerHostControl(ctx->lowerAudio, 0);
    } else {
        SetLowerHostIdle(ctx->lowerAudio);
        SetLowerHostControl(ctx->lowerAudio, 2);
    }
}

void DispatchLocked(DspContext* ctx)
{
    DspInterfaceBlock* block = ctx->interfaceBlock;
    PassHostControl(ctx);
    CommandRecord& r = ctx->command;
    // Bytes past the command's length read as zero, never as a former command's.
    std::memset(r.payload, 0, sizeof(r.payload));
    if (!FetchCommand(block, &r.code, &r.length, r.payload))
        return;
    // While a DTMF digit plays (outside caller ID during a call) a command is taken and gets no reply.
    if (r.digitBusy == 1 && ctx->modeState != kModeStateCallerIdInCall)
        return;
    const uint8_t code = r.code;
    if (code >= kFirstTableCode && code <= kLastTableCode) {
        CommandTable[code - kFirstTableCode](ctx);
        PostReply(block, r.code, r.length, r.payload);
        return;
    }
    switch (code) {
    case 0x09: ReadTableParam(ctx); break;
    case 0x0A: ReadMemoryParam(ctx, 0); break;
    case 0x0B: ReadMemoryParam(ctx, 0x10000); break;
    case 0x0C: WriteTableParam(ctx); break;
    case 0x0D: WriteMemoryParam(ctx, 0); break;
    case 0x0E: WriteMemoryParam(ctx, 0x10000); break;
    default: DefaultCommand(ctx); break;
    }
    if (r.code != 0)
        PostReply(block, r.code, r.length, r.payload);
}

}  // namespace

// Below DISPATCH_LEVEL the entry waits for a running block to end. At DISPATCH_LEVEL (the controller's DPCs)
// it cannot wait: when a block holds the lock, the command stays in register 64, not taken, and the block
// thread runs it as soon as its block ends (RunPendingCommand).
void CommandDispatcher(DspContext* ctx)
{
    if (KeGetCurrentIrql() >= DISPATCH_LEVEL) {
        if (!TryLockDsp(ctx->interfaceBlock))
            return;
    } else {
        LockDsp(ctx->interfaceBlock);
    }
    DispatchLocked(ctx);
    UnlockDsp(ctx->interfaceBlock);
}

void RunPendingCommand(DspContext* ctx)
{
    if (GetRegister(ctx->interfaceBlock, kRegCommandCode) != 0)
        DispatchLocked(ctx);
}

void SetReply(DspContext* ctx, uint8_t code, uint8_t length, const uint8_t* payload)
{
    CommandRecord& r = ctx->command;
    const uint8_t n = length < kIcdMaxPayload ? length : static_cast<uint8_t>(kIcdMaxPayload);
    if (payload != nullptr && payload != r.payload)
        std::memmove(r.payload, payload, n);
    r.code = code;
    r.length = n;
}

void AckCommand(DspContext* ctx, uint8_t code)
{
    SetReply(ctx, IcdAck, 1, &code);
}

void DefaultCommand(DspContext* ctx)
{
    AckCommand(ctx, ctx->command.code);
}
