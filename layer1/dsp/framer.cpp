// The device's data framer on the register window: the port that links it to the receive chunk
// (registers 20-53) and the transmit chunk (84-117), and the entries the command table and the pumps call.
#include "layer1/dsp/dsp_context.h"
#include "layer1/dsp/mode_entries.h"
#include "layer1/dsp/register_window.h"

namespace {

DspInterfaceBlock* Block(void* owner) { return static_cast<DspContext*>(owner)->interfaceBlock; }

int PortPostRxBytes(void* owner, uint8_t flags, uint8_t count, const uint8_t* bytes)
{
    return PostRxBytes(Block(owner), flags, count, bytes);
}

int PortRxMailboxFree(void* owner) { return RxMailboxFree(Block(owner)); }

// Count and flags are read as one pair, so a chunk is seen whole or not at all.
int PortTxChunkWaiting(void* owner)
{
    const uint16_t pair = WindowLoadPair(Block(owner), kRegTxCount);
    if (pair == 0)
        return -1;
    const int count = pair & 0xFF;
    return count < kMailboxBytes ? count : kMailboxBytes;
}

int PortFetchTxBytes(void* owner, uint8_t* flags, uint8_t* count, uint8_t* bytes)
{
    return FetchTxBytes(Block(owner), flags, count, bytes);
}

void PortTxDataWanted(void* owner, int set)
{
    DspInterfaceBlock* block = Block(owner);
    UpdateStatusRegister(block, kTxDataWantedBit, set);
    WriteRegister(block, kRegNotify, 1);
}

void BindPort(DspContext* ctx)
{
    ctx->signal.framer.port = FramerPort{ctx,           PortPostRxBytes,  PortRxMailboxFree,
                                         PortTxChunkWaiting, PortFetchTxBytes, PortTxDataWanted};
}

}  // namespace

void InitRxFramer(DspContext* ctx, int32_t type)
{
    BindPort(ctx);
    InitRxFramer(&ctx->signal.framer, type);
}

void InitTxFramer(DspContext* ctx, int32_t type)
{
    BindPort(ctx);
    InitTxFramer(&ctx->signal.framer, type);
}

void RestartRxFramer(DspContext* ctx) { RestartRxFramer(&ctx->signal.framer); }
void RestartTxFramer(DspContext* ctx) { RestartTxFramer(&ctx->signal.framer); }

void FramerPutRxBits(DspContext* ctx, uint32_t bits, int32_t n) { FramerPutRxBits(&ctx->signal.framer, bits, n); }
int32_t FramerGetTxBits(DspContext* ctx, int32_t n) { return FramerGetTxBits(&ctx->signal.framer, n); }
void FramerPostRxBytes(DspContext* ctx) { FramerPostRxBytes(&ctx->signal.framer); }
