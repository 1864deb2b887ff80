// V.34 from phase 3 on: the start after phase 2, the pump's reset, the transmitter's and the receiver's
// parameters, and the preset start that needs no phase 2.
#include <cstring>

#include "layer1/dsp/dsp_context.h"
#include "layer1/modem/v34/phase2_state.h"
#include "layer1/modem/v34/v34_pump.h"

namespace {

constexpr int16_t kTxLevels[kTxLevelEntries] = {
    -30000, -1, 30757, 27413, 24431, 21775, 19407, 17296, 15415, 13739, 12245, 10913, 9726, 8669, 7726,
    6886, 6137, 5470, 4875, 4345, 3872, 3451, 3076, 2741, 2443, 2177, 1941, 1730, 1542, 1374, 1224, 1091,
    973, 867, 773, 689, 614, 547, 487, 434, 387, 345, 307,
};
constexpr int32_t kDefaultLevelIndex = 11;
constexpr int32_t kTopRateCode = 14;              // 33600 bit/s
constexpr int32_t kEchoGainWord = 35216;
constexpr uint32_t kLowCarrierConstant = 0x664E94CF;
constexpr int32_t kConnectionPcmUpstream = 23;
constexpr uint32_t kLowerPresetMode[2] = {2, 4};  // lower-driver code 13 of the preset start

int32_t BoundedRateIndex(int32_t index) { return index >= 0 && index <= 5 ? index : 0; }
int32_t BoundedPreEmphasis(int32_t index) { return index >= 0 && index <= 10 ? index : 0; }

// The sample path's delay in symbols: both buffer depths and the extra samples, less half a block.
int32_t LatencySymbols(const V34Pump& p)
{
    return ((p.lowerWords[0] + p.lowerWords[1]) * kV34BlockSamples + p.lowerWords[2] - 48) / 3;
}

int32_t FarEchoSymbols(const Phase2Result& r, int32_t symbolRate)
{
    const int32_t rtd = r.rtd > 32 ? r.rtd : 32;
    return rtd * symbolRate / 9600;
}

}  // namespace

const int16_t* TxLevelTable() { return kTxLevels; }

int16_t TxLevelFor(int32_t index)
{
    return kTxLevels[index < 2 ? 2 : (index > kTxLevelEntries - 1 ? kTxLevelEntries - 1 : index)];
}

void CreateV34Objects(DspContext* ctx)
{
    CreateV34PreEmphasisFilters(ctx->filters.v34PreEmphasis);
}

void FreeV34Objects(DspContext* ctx)
{
    FreeV34PreEmphasisFilters(ctx->filters.v34PreEmphasis);
}

void ResetV34Pump(DspContext* ctx)
{
    V34Link& v = ctx->v34;
    v.v34State = 0;
    v.v34Active = 0;
    v.retrainInPlace = 0;
    V34Pump& p = ctx->v34pump;
    std::memset(reinterpret_cast<uint8_t*>(&p) + sizeof(V34PumpKept), 0, sizeof(V34Pump) - sizeof(V34PumpKept));
    p.context = ctx;
    if (ctx->lowerAudio != nullptr) {
        p.lowerWords[0] = ctx->lowerAudio->rxDepthBlocks;
        p.lowerWords[1] = ctx->lowerAudio->txDepthBlocks;
        p.lowerWords[2] = static_cast<int32_t>(ctx->lowerAudio->extraSamples);
    }
    // Branches 0 and 2 of each rail are the prototype and its reversal, branch 1 the middle phase.
    const DspFilters& f = ctx->filters;
    FirState* const order[6] = {f.fir16[0], f.fir16[4], f.fir16[2], f.fir16[1], f.fir16[5], f.fir16[3]};
    for (int i = 0; i < 6; ++i)
        p.branches[i] = order[i];
    AttachV34ReceiveSide(ctx);
    p.shared.rxCode = kV34RxIdle;
    p.shared.echoMark = -1;
    p.shared.farEchoFlag = 1;
}

void SetupV34Transmitter(DspContext* ctx)
{
    V34Pump& p = ctx->v34pump;
    const Phase2Result& r = ctx->phase2Result;
    V34Transmitter& t = p.tx;
    std::memset(&t, 0, sizeof t);
    p.connectionType = ctx->modeNumber;
    (void)kConnectionPcmUpstream;  // the PCM upstream transmitter links its own record when it exists
    const bool caller = p.caller != 0;
    p.rateIndex = BoundedRateIndex(caller ? r.callerRateIndex : r.answererRateIndex);
    p.highCarrier = (caller ? r.callerHighCarrier : r.answererHighCarrier) != 0;
    p.symbolRate = V34SymbolRate(p.rateIndex);
    const int32_t md = caller ? r.callerMdLength : r.answererMdLength;
    p.mdSymbols = md * p.symbolRate * 35 / 1000;
    p.preEmphasis = BoundedPreEmphasis(caller ? r.callerPreEmphasis : r.answererPreEmphasis);
    const int32_t reduction = caller ? r.callerPowerReduction + r.callerExtraReduction
                                     : r.answererPowerReduction + r.answererExtraReduction;
    p.modulator.outputGain = static_cast<int16_t>(TxLevelFor(kDefaultLevelIndex + reduction) >> 2);
    t.polynomial = caller ? 1 : 0;
    t.jPattern = kV34J16Point;
    t.framePosition = 8;
    t.connectReport = 1;
    if (caller)
        StartV34TransmitScript(&p, kV34ScriptCaller);
    if (ctx->lowerAudio != nullptr)
        SetLowerFormat(ctx->lowerAudio, static_cast<uint16_t>(3 * p.symbolRate), kV34BlockSamples);
    p.longRoundTrip = (r.rtdWord & 0x8000u) == 0;
    p.pathLatency = LatencySymbols(p);
    p.farEchoPosition = FarEchoSymbols(r, p.symbolRate) + p.pathLatency + 96;
    p.echoGainWord = kEchoGainWord;
    p.blockLength = kV34BlockSamples;
    // The echo-training segment lasts until the canceller's estimate at the far-echo position is done.
    p.shared.echoTrainingSymbols = p.farEchoPosition + 31 * kV34BlockSymbols;
    V34ModulatorState& m = p.modulator;
    for (int i = 0; i < 6; ++i)
        m.branch[i / 3][i % 3] = p.branches[i];
    m.preEmphasisSet = ctx->filters.v34PreEmphasis;
    m.echo = &p.receiver.echo.ring;
    SetupV34Modulator(p.preEmphasis, p.rateIndex, p.highCarrier, &m);
}

void SetupV34Receiver(DspContext* ctx)
{
    V34Pump& p = ctx->v34pump;
    const Phase2Result& r = ctx->phase2Result;
    V34ReceiverParams& rx = p.rx;
    rx.answerer = p.caller == 0;
    rx.pathLatency = LatencySymbols(p);
    // Each side receives the other's transmitter.
    const int32_t farRate = BoundedRateIndex(rx.answerer ? r.callerRateIndex : r.answererRateIndex);
    const int32_t farHigh = (rx.answerer ? r.callerHighCarrier : r.answererHighCarrier) != 0;
    const int32_t md = rx.answerer ? r.callerMdLength : r.answererMdLength;
    rx.mdSymbols = md * V34SymbolRate(farRate) * 35 / 1000;
    rx.rateCarrierCode = 2 * farRate + farHigh;
    rx.script = rx.answerer ? 1 : 0;
    rx.symbolRate = p.symbolRate;
    rx.farEchoPosition = rx.pathLatency + FarEchoSymbols(r, p.symbolRate);
    const bool lowSet = (p.rateIndex == 4 && p.highCarrier) ||
                        (!p.highCarrier && (p.rateIndex == 1 || p.rateIndex == 2 || p.rateIndex == 3));
    rx.carrierConstant = lowSet ? kLowCarrierConstant : 0;
    int32_t exponent = static_cast<int8_t>(r.gainExponent & 0xFFu) - 1;
    int32_t mantissa = static_cast<int32_t>(((r.gainExponent >> 16) * 23014u) >> 14);
    if (mantissa > 0x6000) {
        exponent += 1;
        mantissa /= 2;
    }
    rx.inputGainExponent = exponent;
    rx.inputGainMantissa = mantissa;
    rx.gainWord = static_cast<int32_t>(static_cast<uint32_t>(-4555) * r.probeLevel32);
    rx.tracking[0] = 400;
    rx.tracking[1] = 340000;
    rx.txRateIndex = p.rateIndex;
    SetupV34ReceiveSide(ctx);
}

void StartV34Phase3(DspContext* ctx)
{
    ctx->v34.phase3Starts += 1;
    V34Pump& p = ctx->v34pump;
    p.kept.optionWords[0] = 0;
    p.kept.optionWords[1] = 1;
    p.kept.optionWords[2] = 1;
    ctx->blockHandler = V34BlockHandler;
    const int32_t caller = ctx->phase2Result.originate != 0;
    ResetV34Pump(ctx);
    p.caller = caller;
    SetupV34Transmitter(ctx);
    if (!caller)
        StartV34TransmitScript(&p, kV34ScriptAnswerer);
    SetupV34Receiver(ctx);
    p.rateCodes[0] = kTopRateCode;
    p.rateCodes[1] = kTopRateCode;
    p.rateMask = 0x3FFF;
    p.rx.txRateIndex = p.rateIndex;
    ctx->v34.v34Active = 1;
}

void InstallV34BlockHandler(DspContext* ctx)
{
    ctx->blockHandler = V34PresetStart;
}

void V34PresetStart(DspContext* ctx)
{
    V34Pump& p = ctx->v34pump;
    Phase2Result& r = ctx->phase2Result;
    p.kept.optionWords[1] = 0;
    p.kept.optionWords[2] = 1;
    // Clear the results up to the spectrum's first 21 bins; the rest of the spectrum stays.
    std::memset(&r, 0, offsetof(Phase2Result, spectrum) + 21 * sizeof r.spectrum[0]);
    r.callerRateIndex = 5;
    r.answererRateIndex = 5;
    const int32_t caller = ctx->connection.originate != 0;
    // The controller's rate limits (0: none): the originating modem takes its receive limit for both
    // directions, the answering modem its transmit limit.
    int32_t code = ctx->v34.rateLimit[caller ? 1 : 0];
    if (code < 0 || code > kTopRateCode)
        code = 0;
    r.callerMaxRate = static_cast<uint16_t>(code);
    r.answererMaxRate = static_cast<uint16_t>(code);
    if (code == 1) {
        r.callerRateIndex = 0;
        r.answererRateIndex = 0;
    }
    const uint16_t mask = code != 0 ? static_cast<uint16_t>(1u << (code - 1)) : 0x3FFF;
    r.gainExponent = 2u | (20500u << 16);
    r.originate = static_cast<uint16_t>(caller);
    ResetV34Pump(ctx);
    p.caller = caller;
    SetupV34Transmitter(ctx);
    // The level word is a signed dB value, 0 to -16: its magnitude, held to the levels 2-42, is the table
    // index; 0 gives the default.
    const int32_t db = ctx->txLevelDb;
    const int32_t index = db == 0 ? kDefaultLevelIndex : (db < 0 ? -db : db);
    p.kept.presetLevelIndex = index < 2 ? 2 : (index > kTxLevelEntries - 1 ? kTxLevelEntries - 1 : index);
    p.modulator.outputGain = static_cast<int16_t>(TxLevelFor(p.kept.presetLevelIndex) >> 2);
    StartV34TransmitScript(&p, kV34ScriptPreset);
    SetupV34Receiver(ctx);
    p.rx.script = 2;
    p.rateCodes[0] = code != 0 ? code : kTopRateCode;
    p.rateCodes[1] = p.rateCodes[0];
    p.rateMask = mask;
    p.directStart = 1;
    if (ctx->lowerAudio != nullptr) {
        uint32_t words[2] = {kLowerPresetMode[0], kLowerPresetMode[1]};
        LowerControl(ctx->lowerAudio, LOWER_CODE_MODE13, words, nullptr);
    }
    ctx->v34.v34Active = 1;
    ctx->blockHandler = V34BlockHandler;
}
