// The receive script's data-mode steps.
#include "layer1/modem/v34/v34_rx_steps.h"

#include "layer1/dsp/mode_entries.h"
#include "layer1/vek/core/vek_dispatch.h"

namespace {

constexpr int32_t kDataEqualiserStep = -768;
constexpr int32_t kDataFeedbackStep = -30;
constexpr int32_t kSettleSymbols = 7;
constexpr int32_t kReadaptSymbol = 1000;
constexpr int32_t kFarEndS = 50;        // the S counter above this: the far end sends S
constexpr int32_t kMaxTicks = 40;       // symbols a block can hold, with room
constexpr int32_t kChunk = 16;

V34Pump* Pump(void* owner) { return static_cast<V34Pump*>(owner); }

void SetDataSteps(V34Receiver* rx)
{
    if (rx->equaliser != nullptr)
        vek_lms_set_mu_complex(rx->equaliser, kDataEqualiserStep);
    if (rx->feedback != nullptr)
        vek_lms_set_mu_complex(rx->feedback, kDataFeedbackStep);
}

// One data symbol; the bytes it completed go to the framer. Returns 0 when the block ran out first.
int32_t DataSymbol(V34Pump* p)
{
    uint8_t bytes[kChunk];
    const int32_t n = ReceiveDataBytes(&p->receiver, &p->rxData, bytes, kChunk);
    if (n < 0)
        return 0;
    if (p->context != nullptr) {
        for (int32_t i = 0; i < n; ++i)
            FramerPutRxBits(p->context, bytes[i], 8);
    }
    p->rxSymbols += 1;
    return 1;
}

void EndStep(V34Pump* p)
{
    ControlSequencer(&p->rxScript, SEQ_END_STEP, nullptr, 0);
    p->rxSymbols = 0;
}

const StepEntry kDataList[] = {
    {{StepDataStart}, -1},
    {{StepData}, -1},
    {{StepReceive}, -1},
    kStepEnd,
};

}  // namespace

int32_t StartV34RxData(V34Pump* p, const V34RxDataParams* params)
{
    if (StartV34DataReceive(&p->receiver, &p->rxData, params) != 0) {
        p->receiver.retrainReason = 4;
        p->receiver.skip = 1;
        return -1;
    }
    p->watch.dataMode = 1;
    p->rxSymbols = 0;
    ControlSequencer(&p->rxScript, SEQ_START_AT, kDataList, 0);
    return 0;
}

void StepDataStart(void* owner)
{
    V34Pump* p = Pump(owner);
    if (DataSymbol(p) == 0)
        return;
    if (p->rxSymbols >= kSettleSymbols) {
        SetDataSteps(&p->receiver);
        EndStep(p);
    }
}

void StepData(void* owner)
{
    V34Pump* p = Pump(owner);
    if (p->rxSymbols == kReadaptSymbol)
        SetDataSteps(&p->receiver);
    if (DataSymbol(p) == 0)
        return;
    V34Receiver& rx = p->receiver;
    if (rx.detector.sCount > kFarEndS) {
        if (rx.retrainReason != 5)
            rx.retrainReason = 2;
        if (p->txState == kV34TxRunning)
            p->txState = kV34TxRenegotiate;
        p->watch.dataMode = 0;
        rx.monitorOn = 0;
        EndStep(p);
    }
}

void StepReceive(void* owner) { V34ReceiveSymbol(&Pump(owner)->receiver); }

const StepEntry* V34RxDataList() { return kDataList; }

void RunV34ReceiveScript(V34Pump* p)
{
    if (p->rxScript.list == nullptr)
        return;
    for (int32_t tick = 0; tick < kMaxTicks && p->receiver.readIndex < p->receiver.blockLength; ++tick) {
        RunStep(p, &p->rxScript);
        if (p->receiver.skip != 0)
            break;
    }
}
