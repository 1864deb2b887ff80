// The V.34 block handler from phase 3 on: the receive block in (V34ReceiveBlock: the receiver, its script, the
// far-end retrain and carrier-loss watches, the rate monitor), the retrain and rate-change counters, the
// transmit states, and the transmit block out through the script and the modulator.
#include "layer1/dsp/detector_reports.h"
#include "layer1/dsp/dsp_context.h"
#include "layer1/dsp/mode_entries.h"
#include "layer1/dsp/register_window.h"
#include "layer1/modem/v34/phase2_state.h"
#include "layer1/modem/v34/v34_pump.h"

namespace {

constexpr int32_t kRetrainBlocks = 2;
constexpr int32_t kEchoReferenceLevel = 500;
constexpr int32_t kRxRetrain = 2;

void Notify(DspContext* ctx, uint8_t pumpState)
{
    UpdateStatusRegister(ctx->interfaceBlock, pumpState, 1);
    NotifyController(ctx->interfaceBlock);
}

// Steps 2 to 5: the retrain countdown, a far-end retrain request, the rate-change timer. Returns false when
// the block handler changed.
bool RunCounters(DspContext* ctx, V34Pump& p)
{
    if (p.retrainCountdown > 0) {
        p.retrainCountdown -= 1;
        if (p.retrainCountdown == 0)
            p.txState = kV34TxRestartPhase2;
    }
    if (p.shared.farRetrainRequest != 0) {
        p.shared.farRetrainRequest = 0;
        p.shared.rxCode = kRxRetrain;
        p.retrainCountdown = kRetrainBlocks;
        p.kept.retrainType = 7;
    }
    if (p.kept.rateChangeTimer > 0 && --p.kept.rateChangeTimer == 0) {
        if (p.kept.rateChangeAsked != 0) {
            if (p.directStart != 0) {
                ctx->blockHandler = V34PresetStart;
                return false;
            }
            Phase2SetOption(ctx, 0, p.kept.symbolRateLimit);
        }
        p.txState = kV34TxRestartPhase2;
    }
    return true;
}

}  // namespace

void V34BlockHandler(DspContext* ctx)
{
    V34Pump& p = ctx->v34pump;
    LowerAudioInterface* la = ctx->lowerAudio;
    V34ReceiveBlock(ctx);
    if (!RunCounters(ctx, p))
        return;
    if (p.txState == kV34TxCarrierLost) {
        p.txState = kV34TxRunning;
        UpdateStatusRegister(ctx->interfaceBlock, kPumpStateIdle, 1);
        UpdateStatusRegister(ctx->interfaceBlock, kStatusConnected, 0);
        NotifyController(ctx->interfaceBlock);
    } else if (p.txState == kV34TxRestartPhase2 && p.directStart == 0) {
        p.txState = kV34TxRunning;
        RestartRxFramer(ctx);
        RestartTxFramer(ctx);
        Notify(ctx, kPumpStateRetrain);
        RestartPhase2(ctx, p.kept.retrainType);
        return;
    }
    FillV34TransmitBlock(&p);
    V34Modulator(p.tx.symbols, &p.modulator, p.txBlock);
    // The echo canceller's reference gain follows the transmitted level.
    const int32_t level = p.modulator.level >> 14;
    if (level > kEchoReferenceLevel)
        p.echoGainWord = 0x8000 / level;
    if (la != nullptr)
        WriteSampleBlock(la, p.txBlock, kV34BlockSamples);
    FramerPostRxBytes(ctx);
    if (p.txState != kV34TxRunning && p.txState != kV34TxRenegotiating) {
        StartV34TransmitScript(&p, kV34ScriptRenegotiation);
        p.renegotiating = 1;
        p.txState = kV34TxRenegotiating;
        Notify(ctx, kPumpStateRenegotiating);
    }
}
