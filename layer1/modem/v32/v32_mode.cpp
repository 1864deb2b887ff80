// Starting the V.32bis pump (after a connection procedure, or at once by command 0x6E), its block handler,
// and the retrain and renegotiation commands.
#include "layer1/modem/v32/v32_mode.h"

#include <cstring>

#include "layer1/dsp/dsp_context.h"
#include "layer1/dsp/mode_entries.h"
#include "layer1/dsp/register_window.h"

namespace {

constexpr int32_t kModeV32bis = 16;

DspContext* Ctx(void* owner) { return static_cast<DspContext*>(owner); }

int32_t PortGetBits(void* owner, int32_t n) { return FramerGetTxBits(Ctx(owner), n); }
void PortPutBits(void* owner, uint32_t bits, int32_t n) { FramerPutRxBits(Ctx(owner), bits, n); }

// Data starting (state 2, or 5 after 0x6E) makes the agreed rate the connection's, for the rate query.
void PortStatus(void* owner, uint8_t value, int set)
{
    DspContext* ctx = Ctx(owner);
    if (set && (value == 2 || value == 5) && ctx->v32.modem.rateCode != 0)
        ctx->connection.rateCode = ctx->v32.modem.rateCode;
    UpdateStatusRegister(ctx->interfaceBlock, value, set);
    WriteRegister(ctx->interfaceBlock, kRegNotify, 1);
}

void PortAnswerFallback(void* owner) { V32bisAnswerFallback(Ctx(owner)); }
int32_t PortFallbackDetect(void* owner, int32_t sample) { return V32bisFallbackDetect(Ctx(owner), sample); }

// The transmit gain: the level option plus 3 dB, where an option of 3 or more counts as -4. A level above
// -3 dB would ask the 0 .. -95 dB gain table for a positive index and send nothing: it is held at 0 dB.
int16_t TransmitGain(DspContext* ctx)
{
    int32_t level = ctx->txLevelDb >= 3 ? -4 : ctx->txLevelDb;
    level += 3;
    if (level > 0)
        level = 0;
    return DbToGain(ctx->lowerAudio, level);
}

uint16_t Capability(DspContext* ctx, int32_t type)
{
    const int32_t rate = ctx->connection.rateCode;
    if (type == V32_START_DIRECT)
        return static_cast<uint16_t>(ctx->v32OptionWord | (rate >= 4 ? V32RateWordOf(rate) : V32CapabilityWord(
                                                                                                  static_cast<uint8_t>(ctx->pumpOption), ctx->modeNumber)));
    return V32CapabilityWord(static_cast<uint8_t>(ctx->pumpOption), ctx->modeNumber);
}

}  // namespace

bool CreateV32Objects(DspContext* ctx) { return V32Create(&ctx->v32.modem); }

void DestroyV32Objects(DspContext* ctx) { V32Destroy(&ctx->v32.modem); }

bool V32bisAvailable() { return true; }

void StartV32bis(DspContext* ctx, int32_t type)
{
    LowerAudioInterface* la = ctx->lowerAudio;
    uint32_t query = 0;
    uint32_t answer = 0;
    LowerControl(la, LOWER_CODE_QUERY12, &query, &answer);
    if ((answer & 0xFFFFu) != 0) {
        uint32_t value = answer & 0xFFFFu;
        uint32_t out = 0;
        LowerControl(la, LOWER_CODE_RX_GAIN, &value, &out);
    }
    SetLowerFormat(la, kV32SampleRate, kV32BlockSamples);
    if (type == V32_START_DIRECT) {
        uint32_t value = 0;
        uint32_t out = 0;
        LowerControl(la, LOWER_CODE_MODE13, &value, &out);
    }
    if (ctx->modeNumber != 12 && ctx->modeNumber != 13)
        ctx->modeNumber = kModeV32bis;
    if (!CreateV32Objects(ctx))
        return;
    const V32Port port{ctx, PortGetBits, PortPutBits, PortStatus, PortAnswerFallback, PortFallbackDetect};
    InitV32bisFallbackDetectors(ctx);
    ctx->v32.blocks = 0;
    // The stream's buffering as the sample-stream driver reported it: whole blocks each way plus the samples
    // it queues (counted at the rate of its report, the pump's default 9600).
    const int32_t latency = kV32BlockSamples * (la->rxDepthBlocks + la->txDepthBlocks) +
                            static_cast<int32_t>(la->extraSamples * kV32SampleRate / 9600u);
    V32Start(&ctx->v32.modem, port, type, ctx->connection.procedureKind, ctx->modeNumber, Capability(ctx, type),
             TransmitGain(ctx), latency, ctx->connection.originate);
    ctx->blockHandler = V32bisBlockHandler;
}

void V32bisBlockHandler(DspContext* ctx)
{
    LowerAudioInterface* la = ctx->lowerAudio;
    V32Pump& p = ctx->v32;
    std::memset(ctx->rxWork, 0, sizeof(int16_t) * kV32BlockSamples);
    std::memset(ctx->txWork, 0, sizeof(int16_t) * kV32BlockSamples);
    ReadSampleBlock(la, ctx->rxWork, kV32BlockSamples);
    V32Block(&p.modem, ctx->rxWork, ctx->txWork, kV32BlockSamples);
    const int32_t level = BlockPowerDb(ctx->rxWork, kV32BlockSamples);
    ctx->rxLevel = level;
    ctx->rxLevelParam = static_cast<int16_t>(8 - level);
    p.blocks += 1;
    if ((p.blocks & 7) == 0) {
        const int32_t grade = ctx->modeNumber == kModeV32bis ? V32ModemGrade(&p.modem) : 1;
        WriteRegister(ctx->interfaceBlock, kRegLineQuality, static_cast<uint8_t>(grade * 8));
    }
    FramerPostRxBytes(ctx);
    WriteSampleBlock(la, ctx->txWork, kV32BlockSamples);
}

void V32Retrain(DspContext* ctx)
{
    if (ctx->blockHandler == V32bisBlockHandler)
        V32ModemRetrain(&ctx->v32.modem);
}

void V32Renegotiate(DspContext* ctx)
{
    if (ctx->blockHandler == V32bisBlockHandler)
        V32ModemRenegotiate(&ctx->v32.modem);
}
