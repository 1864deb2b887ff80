// The low-speed FSK mode of the data pump: the start types, the transmit and receive step lists, and the port
// that joins the modem to the data framer, the status register and the notifications.
#include "layer1/dsp/dsp_context.h"
#include "layer1/dsp/mode_entries.h"
#include "layer1/dsp/register_window.h"
#include "platform/saturate.h"

namespace {

constexpr int32_t kFramerAsync = 0;
constexpr int32_t kFramerHdlcType = 2;
constexpr int32_t kFramerMarkIdle = 5;
constexpr int32_t kDataTimeout = 10000000;
constexpr int32_t kV23Timeout = 1500000;

DspContext* Ctx(void* owner) { return static_cast<DspContext*>(owner); }

int32_t PortGetTxBit(void* owner)
{
    const int32_t bits = FramerGetTxBits(Ctx(owner), 1);
    return bits < 0 ? -1 : (bits & 1);
}

void PortPutRxBit(void* owner, int32_t bit) { FramerPutRxBits(Ctx(owner), static_cast<uint32_t>(bit & 1), 1); }

uint32_t PortRxFlagCount(void* owner) { return Ctx(owner)->signal.framer.counters.flagsReceived; }

void PortRestartRxFramer(void* owner) { RestartRxFramer(Ctx(owner)); }

void PortStatus(void* owner, uint8_t value, int set)
{
    DspInterfaceBlock* block = Ctx(owner)->interfaceBlock;
    UpdateStatusRegister(block, value, set);
    WriteRegister(block, kRegNotify, 1);
}

void BindPort(DspContext* ctx)
{
    ctx->fsk.port = FskPort{ctx, PortGetTxBit, PortPutRxBit, PortRxFlagCount, PortRestartRxFramer, PortStatus};
}

DspContext* Owner(void* owner) { return static_cast<DspContext*>(owner); }

// --- transmit steps ---

void FskTxSilent(void* owner)
{
    DspContext* ctx = Owner(owner);
    for (int16_t& v : ctx->txWork)
        v = 0;
}

// While the hold flag is set the step ends at once and remembers that it did.
void FskTxHold(void* owner)
{
    DspContext* ctx = Owner(owner);
    FskTxSilent(owner);
    if (ctx->command.hold) {
        ControlSequencer(&ctx->seqA, SEQ_END_STEP, nullptr, 0);
        ctx->command.holdSkip = 1;
    }
}

void FskTxClearHoldSkip(void* owner)
{
    DspContext* ctx = Owner(owner);
    FskTxSilent(owner);
    ctx->command.holdSkip = 0;
}

void FskTxModulate(void* owner)
{
    DspContext* ctx = Owner(owner);
    FskModulate(&ctx->fsk, ctx->txWork, ctx->lowerAudio->format.blockLength);
}

void FskTxRestart(void* owner);

constexpr int32_t kToneWaitLimit = 24;  // samples

// Fax receive: the flags' 1650 Hz mark, found by the notch detector on the pre-filtered block, ends the wait.
void FskToneWait(void* owner)
{
    DspContext* ctx = Owner(owner);
    const int32_t n = ctx->lowerAudio->format.blockLength;
    int32_t filtered[kLowerBufferSamples];
    DetectorPreFilter(&ctx->fsk.preFilter, ctx->rxWork, filtered, n);
    if (RunNotchToneDetector(&ctx->fsk.toneWait, filtered, n, kToneWaitLimit) != 0)
        ControlSequencer(&ctx->seqB, SEQ_END_STEP, nullptr, 0);
}

// Fax receive after the wait: the pre-filtered block (in place) through the demodulator.
void FskPreFilteredDemod(void* owner)
{
    DspContext* ctx = Owner(owner);
    const int32_t n = ctx->lowerAudio->format.blockLength;
    int32_t filtered[kLowerBufferSamples];
    DetectorPreFilter(&ctx->fsk.preFilter, ctx->rxWork, filtered, n);
    for (int32_t i = 0; i < n; ++i)
        ctx->rxWork[i] = Saturate16(filtered[i]);
    FskDemodulate(&ctx->fsk, ctx->rxWork, n);
    FskAfterBlock(&ctx->fsk);
}

// --- receive steps ---

void FskRxDemodulate(void* owner)
{
    DspContext* ctx = Owner(owner);
    FskDemodulate(&ctx->fsk, ctx->rxWork, ctx->lowerAudio->format.blockLength);
    FskAfterBlock(&ctx->fsk);
}

// Transmit: one silent block, the hold step, modulation until a command or a release of hold ends it; then the
// hold-skip flag is cleared and the list starts again.
const StepEntry kFskTxList[] = {
    {{FskTxSilent}, 1}, {{FskTxHold}, 1}, {{FskTxModulate}, -1}, {{FskTxClearHoldSkip}, 1}, {{FskTxRestart}, 1},
    kStepEnd,
};
// Transmit of the fax receiver (start type 3): silence.
const StepEntry kFskTxQuietList[] = {{{FskTxSilent}, -1}, kStepEnd};

const StepEntry kFskRxList[] = {{{FskRxDemodulate}, -1}, kStepEnd};
// Receive of the fax receiver: two idle blocks, the wait for the 1650 Hz flags, then the demodulator on the
// pre-filtered signal.
const StepEntry kFskFaxRxList[] = {
    {{IdleRxStep}, 2}, {{FskToneWait}, -1}, {{FskPreFilteredDemod}, -1}, kStepEnd,
};

void FskTxRestart(void* owner)
{
    DspContext* ctx = Owner(owner);
    FskTxSilent(owner);
    FskResetModulator(&ctx->fsk);
    ControlSequencer(&ctx->seqA, SEQ_START_AT, ctx->fsk.txList, 0);
}

struct TypeRow {
    int32_t tx;           // channel, or -1: by the originate flag
    int32_t rx;
    int32_t rateCode;     // -1: unchanged
    int32_t modeNumber;   // -1: unchanged
    int32_t hold;
    int32_t framers;      // framer type of both directions, -1: unchanged
    int32_t timeout;
    int32_t kind;
};

const TypeRow& RowOf(int32_t type)
{
    static const TypeRow kTypes[16] = {
        /* 0 */ {-1, -1, 2, 2, 1, kFramerAsync, kDataTimeout, FSK_RX_DATA},
        /* 1 */ {FSK_V21_CH2, FSK_V21_CH2, -1, -1, 0, -1, 0, FSK_RX_DATA},
        /* 2 */ {FSK_V21_CH2, FSK_V21_CH2, 2, 3, 0, -1, 0, FSK_RX_FAX},
        /* 3 */ {FSK_V21_CH2, FSK_V21_CH2, 2, 3, 0, -1, 0, FSK_RX_FAX},
        /* 4 */ {FSK_BELL103_ORIGINATE, FSK_BELL103_ANSWER, -1, 0, 1, -1, kDataTimeout, FSK_RX_DATA},
        /* 5 */ {FSK_BELL103_ANSWER, FSK_BELL103_ORIGINATE, -1, 0, 1, -1, kDataTimeout, FSK_RX_DATA},
        /* 6 */ {FSK_V23_BACKWARD, FSK_V23_1200, 0, 4, 1, -1, kV23Timeout, FSK_RX_DATA},
        /* 7 */ {FSK_V23_1200, FSK_V23_BACKWARD, 1, 4, 1, -1, kV23Timeout, FSK_RX_DATA},
        /* 8 */ {FSK_V23_BACKWARD, FSK_V23_1200, 0, 5, 1, -1, kV23Timeout, FSK_RX_DATA},
        /* 9 */ {FSK_V23_1200, FSK_V23_BACKWARD, 1, 5, 1, -1, kV23Timeout, FSK_RX_DATA},
        /* 10 */ {FSK_V23_1200, FSK_V23_1200, -1, -1, 0, -1, 0, FSK_RX_DATA},
        /* 11 */ {FSK_V21_CH1, FSK_V21_CH2, -1, -1, 0, kFramerMarkIdle, 0, FSK_RX_QUIET},
        /* 12 */ {FSK_V21_CH2, FSK_V21_CH1, -1, -1, 1, kFramerMarkIdle, 0, FSK_RX_QUIET},
        /* 13 */ {FSK_V21_CH2, FSK_V23_1200, 3, 4, 0, -1, 0, FSK_RX_DATA},
        /* 14 */ {FSK_V21_CH2, FSK_V21_CH2, -1, -1, 0, -1, 0, FSK_RX_DATA},
        /* 15 */ {-1, -2, 2, 2, 1, kFramerHdlcType, 0, FSK_RX_DATA},
    };
    return kTypes[(type >= 0 && type < 16) ? type : 1];
}

}  // namespace

void StartLowSpeedMode(DspContext* ctx, int32_t type)
{
    FskState& f = ctx->fsk;
    const TypeRow& row = RowOf(type);
    const int32_t originate = ctx->connection.originate;
    int32_t tx = row.tx;
    int32_t rx = row.rx;
    if (tx < 0) {
        tx = originate ? FSK_V21_CH1 : FSK_V21_CH2;
        // Type 0 receives on the other channel, type 15 on its own.
        rx = row.rx == -2 ? tx : (originate ? FSK_V21_CH2 : FSK_V21_CH1);
    }
    f.type = type;
    BindPort(ctx);
    FskSelectChannels(&f, tx, rx);
    f.demod.receiverKind = row.kind;
    f.demod.taker = nullptr;
    f.demod.takerOwner = nullptr;
    f.carrierTimeout = row.timeout;
    if (type == 13) {
        f.demod.taker = CallerIdTakeBit;
        f.demod.takerOwner = &f;
    }
    f.demod.startDelayActive = 0;
    if (row.rateCode >= 0)
        ctx->connection.rateCode = row.rateCode;
    if (row.modeNumber >= 0)
        ctx->modeNumber = row.modeNumber;
    if (row.hold)
        SetHold(ctx);
    if (row.framers >= 0) {
        InitRxFramer(ctx, row.framers);
        InitTxFramer(ctx, row.framers);
    } else if (type == 13) {
        InitRxFramer(ctx, kFramerAsync);  // the message arrives as asynchronous characters
    }
    if (type == 15) {
        uint32_t value = 2;
        uint32_t out = 0;
        LowerControl(ctx->lowerAudio, LOWER_CODE_MODE13, &value, &out);
    }
    f.mod.gain = ctx->txLevelDb < -1 ? DbToGain(ctx->lowerAudio, ctx->txLevelDb + 1) : DbToGain(ctx->lowerAudio, -9);

    f.txList = type == 3 ? kFskTxQuietList : kFskTxList;
    // Releasing hold ends the current transmit step only on the V.21 channel 2 list.
    ctx->fskV21Ch2List = (tx == FSK_V21_CH2 && type != 3) ? kFskTxList : nullptr;
    if (type != 13) {
        ctx->blockHandler = IdleBlockHandler;
        switch (type) {
        case 2:
            ControlSequencer(&ctx->seqA, SEQ_START_AT, kFskTxList, 0);
            ControlSequencer(&ctx->seqB, SEQ_START_AT, kIdleListB, 0);
            break;
        case 3:
            ControlSequencer(&ctx->seqA, SEQ_START_AT, kFskTxQuietList, 0);
            ControlSequencer(&ctx->seqB, SEQ_START_AT, kFskFaxRxList, 0);
            f.preFilter = PreFilterState{0, 0};
            InitNotchToneDetector(&f.toneWait, &kNotch1650, 5, 2);
            break;
        case 8:
            ControlSequencer(&ctx->seqA, SEQ_START_AT, kIdleListA, 0);
            ControlSequencer(&ctx->seqB, SEQ_START_AT, kFskRxList, 0);
            break;
        case 9:
            ControlSequencer(&ctx->seqA, SEQ_START_AT, kFskTxList, 0);
            ControlSequencer(&ctx->seqB, SEQ_START_AT, kIdleListB, 0);
            break;
        default:
            ControlSequencer(&ctx->seqA, SEQ_START_AT, kFskTxList, 0);
            ControlSequencer(&ctx->seqB, SEQ_START_AT, kFskRxList, 0);
            break;
        }
    }
    FskResetReceiver(&f);
    FskResetModulator(&f);
}

// Caller ID during a call: the message follows 80 ms of marks, so the carrier counts only after 96 bits whose
// discriminator shows a mark beyond the threshold; 5 bits at the level before it is on.
void SetCallerIdReceiver(DspContext* ctx)
{
    FskState& f = ctx->fsk;
    f.demod.threshold = 0x4000;
    f.demod.requiredCount = 5;
    f.demod.startDelayActive = 1;
    f.callerIdOption = 1;
    FskResetReceiver(&f);
}

void ClearFskRxStatus(DspContext* ctx)
{
    ctx->fsk.rxStatus[0] = 0;
    ctx->fsk.rxStatus[1] = 0;
}

// The FSK receiver as the detector bank runs it (caller ID while idle or during a call).
void RunFskReceiver(DspContext* ctx, const int16_t* samples, int32_t n)
{
    if (ctx->fsk.rx == nullptr)
        return;  // no FSK mode was started since the device started
    FskDemodulate(&ctx->fsk, samples, n);
    FskAfterBlock(&ctx->fsk);
}

const StepEntry* FskReceiveList()
{
    return kFskRxList;
}
