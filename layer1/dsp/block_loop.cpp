// The per-block entry of the block thread, the idle block handler and its two steps (with the codec
// watchdog), the block power estimate, and hold.
#include <cstring>

#include "layer1/dsp/dsp_context.h"
#include "layer1/dsp/command_dispatcher.h"
#include "layer1/dsp/line_statistics.h"
#include "layer1/dsp/mode_entries.h"
#include "layer1/dsp/register_window.h"

namespace {

constexpr uint32_t kWatchdogCheckBlock = 1000;
constexpr uint32_t kWatchdogRestoreBlock = 1006;
constexpr uint32_t kWatchdogWrapBlock = 1007;

uint32_t CodecRead(DspContext* ctx, uint32_t selector)
{
    LowerCodecAccess access{selector, 0};
    LowerControl(ctx->lowerAudio, LOWER_CODE_CODEC_READ, &access, &access);
    return access.value;
}

void CodecWrite(DspContext* ctx, uint32_t selector, uint32_t value)
{
    LowerCodecAccess access{selector, value};
    LowerCodecAccess out{};
    LowerControl(ctx->lowerAudio, LOWER_CODE_CODEC_WRITE, &access, &out);
}

void RunCodecWatchdog(DspContext* ctx)
{
    CodecWatchdog& w = ctx->watchdog;
    w.counter += 1;
    const uint8_t statusState = GetRegister(ctx->interfaceBlock, kRegStatus) & kStatusPumpStateMask;
    if (w.counter < kWatchdogCheckBlock || statusState != 0 || ctx->modeState != 0 || ctx->modeBusy[0] != 0 ||
        ctx->modeBusy[1] != 0) {
        if (w.counter >= kWatchdogWrapBlock)
            w.counter = 0;
        return;
    }
    if (w.counter == kWatchdogCheckBlock) {
        const uint32_t a = CodecRead(ctx, LOWER_CODEC_BANK1 | 0x01);
        const uint32_t b = CodecRead(ctx, LOWER_CODEC_BANK1 | 0x0C);
        if (!(a == 1 && b == 64)) {
            LowerControl(ctx->lowerAudio, LOWER_CODE_CODEC_REINIT, nullptr, nullptr);
            w.reinitialised = 1;
        }
    } else if (w.counter >= kWatchdogRestoreBlock && w.reinitialised) {
        w.counter = 0;
        w.reinitialised = 0;
        CodecWrite(ctx, LOWER_CODEC_BANK1 | 0x10, ctx->tableParam6191[0] & 0xFFu);
        CodecWrite(ctx, LOWER_CODEC_BANK1 | 0x11, ctx->tableParam6186[0] & 0xFFu);
    }
}

// Number of halvings that take v down to 1 (v >= 1).
int32_t Halvings(uint32_t v)
{
    int32_t s = 0;
    while (v > 1) {
        v >>= 1;
        ++s;
    }
    return s;
}

}  // namespace

const StepEntry kIdleListA[] = {{{IdleTxStep}, -1}, kStepEnd};
const StepEntry kIdleListB[] = {{{IdleRxStep}, -1}, kStepEnd};

// One block under the device lock, so no command runs in the middle of it; a command that arrived meanwhile
// from DISPATCH_LEVEL runs after it. The callbacks the block raised are made after the lock is released.
void PerBlockEntry(DspContext* ctx)
{
    LockDsp(ctx->interfaceBlock);
    ResetBlockIndices(ctx->lowerAudio);
    UpdateStreamState(ctx);
    ctx->blockHandler(ctx);
    UpdateLineStatistics(ctx);
    DeliverPendingPhase2Event(ctx);
    RunPendingCommand(ctx);
    UnlockDsp(ctx->interfaceBlock);
}

// Register 242 bit 2 is the hook relay, active low: set means on hook (code 2 opens the loop), clear means off
// hook (code 1 closes it). Each change is sent once; the stream of blocks never stops.
void UpdateStreamState(DspContext* ctx)
{
    const uint8_t control = GetRegister(ctx->interfaceBlock, kRegGpioData0);
    if (ctx->streamRunning) {
        if (control & kRelayHook)
            return;
        StopLowerStream(ctx->lowerAudio);
        ctx->streamRunning = 0;
    } else if (control & kRelayHook) {
        StartLowerStream(ctx->lowerAudio);
        ctx->streamRunning = 1;
        EnterIdleMode(ctx);
        // Back on hook with no modulation: the idle detectors (mode 0) listen again, so that ringing is
        // reported whichever comes first, this block or the controller's detector set-up.
        if (ctx->modeNumber == 0) {
            ctx->modeState = 0;
            ctx->detectorMode = 0;
            SetDetectorMode(ctx, 0);
        }
    }
}

void IdleBlockHandler(DspContext* ctx)
{
    LowerAudioInterface* la = ctx->lowerAudio;
    const int32_t b = la->format.blockLength;
    std::memset(ctx->rxWork, 0, static_cast<size_t>(b) * sizeof(int16_t));
    ReadSampleBlock(la, ctx->rxWork, b);
    const int32_t level = BlockPowerDb(ctx->rxWork, b);
    ctx->rxLevel = level;
    ctx->rxLevelParam = static_cast<int16_t>(8 - level);
    RunStep(ctx, &ctx->seqB);
    RunStep(ctx, &ctx->seqA);
    FramerPostRxBytes(ctx);
    WriteSampleBlock(la, ctx->txWork, b);
    std::memset(ctx->txWork, 0, static_cast<size_t>(b) * sizeof(int16_t));
}

void IdleRxStep(void* owner)
{
    auto* ctx = static_cast<DspContext*>(owner);
    std::memset(ctx->rxWork, 0, 96 * sizeof(int16_t));
}

void IdleTxStep(void* owner)
{
    auto* ctx = static_cast<DspContext*>(owner);
    if (ctx->deviceRecord.watchdogEnable != 0)
        RunCodecWatchdog(ctx);
    std::memset(ctx->txWork, 0, 96 * sizeof(int16_t));
}

// Mean power of a block in steps of 3 dB per power of two, with two fraction bits: about 0 at full scale, -87
// for silence.
int32_t BlockPowerDb(const int16_t* x, int32_t n)
{
    if (n <= 0)
        return 0;
    const int32_t s = Halvings(static_cast<uint32_t>(n / 2) < 1 ? 1 : static_cast<uint32_t>(n / 2));
    uint32_t sum = 0;
    for (int32_t i = 0; i < n; ++i) {
        const int32_t v = x[i];
        sum += static_cast<uint32_t>(v * v) >> s;
    }
    const uint32_t c = (sum / static_cast<uint32_t>(n)) << s;
    if (c < 2)
        return -87;
    const int32_t e = Halvings(c / 2);
    // The two bits just below the leading one (bit e + 1); for e = 0 the lower one lies below bit 0.
    const uint32_t fraction = (e >= 1) ? (c >> (e - 1)) & 3u : (c << 1) & 3u;
    return 3 * e - 84 + static_cast<int32_t>(fraction);
}

void SetHold(DspContext* ctx)
{
    ctx->command.hold = 1;
}

void ReleaseHold(DspContext* ctx)
{
    ctx->command.hold = 0;
    Sequencer* target;
    if (ctx->fskV21Ch2List != nullptr && ctx->seqA.list == ctx->fskV21Ch2List) {
        target = &ctx->seqA;
        ControlSequencer(target, SEQ_SET_REMAINING, nullptr, 0);
    } else {
        target = &ctx->fax.tx.inner;
        ControlSequencer(target, SEQ_END_STEP, nullptr, 0);
    }
    if (ctx->command.holdSkip) {
        ctx->command.holdSkip = 0;
        return;
    }
    ControlSequencer(target, SEQ_RESTART_AT, nullptr, 0);
    ctx->command.holdSkip = 0;
}
