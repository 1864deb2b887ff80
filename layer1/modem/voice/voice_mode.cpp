// Voice mode's commands and block handler: the start on 0x97 with its rate and format tables, the sub-mode
// command 0x95, the silence settings 0x96, the line control 0x9C, entering and stopping voice, and the
// mailbox refill that keeps several data chunks a block moving.
#include "layer1/modem/voice/voice_mode.h"

#include <cstring>

#include "layer1/dsp/command_dispatcher.h"
#include "layer1/dsp/mode_entries.h"
#include "layer1/dsp/register_window.h"

namespace {

constexpr int16_t kSilenceThresholdDefault = -40;
constexpr uint8_t kSilenceEnableDefault = 1;
constexpr uint8_t kSilenceTimeDefault = 35;
constexpr uint8_t kPumpStateVoice = 12;
constexpr int32_t kDetectorModeVoice = 2;   // the detector mode (0x65) that lets voice start at once
constexpr int32_t kVoiceChunk = 30;

// Rate codes (0x97 payload[0]): voice rate, stream rate and block, voice block and the resamplers' codes (0:
// none). Codes above 4 are taken as code 3.
struct VoiceRate {
    int32_t sampleRate;
    int16_t detectRate;
    uint16_t streamRate;
    uint16_t block;
    int32_t voiceBlock;
    int32_t detectCode;   // A
    int32_t recordCode;   // B
    int32_t playCode;     // C
};

constexpr VoiceRate kVoiceRates[] = {
    {4800, 4800, 4800, 48, 48, RESAMPLE_4896, 0, 0},
    {7200, 7200, 7200, 72, 72, RESAMPLE_7296, 0, 0},
    {8000, 8000, 8000, 80, 80, RESAMPLE_8096, 0, 0},
    {9600, 9600, 9600, 96, 96, 0, 0, 0},
    {11000, 9600, 9600, 96, 110, RESAMPLE_11096, RESAMPLE_96110, RESAMPLE_11096},
};
constexpr int32_t kRateCodes = sizeof(kVoiceRates) / sizeof(kVoiceRates[0]);

DspContext* Ctx(void* owner) { return static_cast<DspContext*>(owner); }

void SetRateAndResamplers(DspContext* ctx, int32_t rateCode)
{
    VoiceState& v = ctx->voice;
    const VoiceRate& r = kVoiceRates[rateCode >= 0 && rateCode < kRateCodes ? rateCode : 3];
    v.sampleRate = r.sampleRate;
    v.sampleRate16 = r.detectRate;
    v.blockLength = r.block;
    v.voiceBlock = r.voiceBlock;
    v.resampleDetect = r.detectRate != 9600;
    if (r.detectCode != 0)
        SetupResampler(&v.resamplerA, r.detectCode);
    if (r.recordCode != 0)
        SetupResampler(&v.resamplerB, r.recordCode);
    if (r.playCode != 0)
        SetupResampler(&v.resamplerC, r.playCode);
}

// The 0x95 sub-codes in voice mode: sub-mode and the two line-hook values (-1: the code changes nothing).
struct VoiceSubCode {
    int32_t subMode;
    int32_t hook[2];
};

constexpr VoiceSubCode kSubCodes[10] = {
    {2, {0, 0}}, {-1, {0, 0}}, {1, {0, 0}}, {0, {0, 0}}, {1, {0, 0}},
    {0, {0, 0}}, {3, {1, 0}},  {4, {0, 1}}, {4, {1, 1}}, {2, {1, 1}},
};
constexpr int32_t kSubCodeIdle = 1;
constexpr int32_t kSubCodeEnter = 9;

void PostQueuedRx(DspContext* ctx)
{
    VoiceState& v = ctx->voice;
    if (v.rxQueue.count == 0 || !RxMailboxFree(ctx->interfaceBlock))
        return;
    uint8_t chunk[kVoiceChunk];
    const uint32_t n = v.rxQueue.Take(chunk, kVoiceChunk);
    PostRxBytes(ctx->interfaceBlock, 0, static_cast<uint8_t>(n), chunk);
}

bool PlaysBytes(const DspContext* ctx)
{
    const StepEntry* e = ctx->voice.txSeq.list;
    const int32_t p = ctx->voice.txSeq.position;
    return ctx->command.voiceActive && e == kVoiceTxList && (p == 0 || p == 4);
}

}  // namespace

void InitVoiceState(DspContext* ctx)
{
    std::memset(&ctx->voice, 0, sizeof(ctx->voice));
    ctx->voice.dtmf.confirmed = kDtmfNoDigit;
    ctx->voice.dtmf.candidate = kDtmfNoDigit;
    StartVoiceLists(ctx, kVoiceSubModeNone);
}

void FreeVoiceResamplers(DspContext* ctx)
{
    FreeResampler(&ctx->voice.resamplerA);
    FreeResampler(&ctx->voice.resamplerB);
    FreeResampler(&ctx->voice.resamplerC);
}

void StartVoiceLists(DspContext* ctx, int32_t subMode)
{
    if (subMode < 0 || subMode >= kVoiceSubModes)
        subMode = kVoiceSubModeNone;
    ControlSequencer(&ctx->voice.txSeq, SEQ_START_AT, kVoiceTxList, subMode);
    ControlSequencer(&ctx->voice.rxSeq, SEQ_START_AT, kVoiceRxList, subMode);
}

void ResetVoiceState(DspContext* ctx)
{
    VoiceState& v = ctx->voice;
    ResetCoderState(&v.txCoder);
    ResetCoderState(&v.rxCoder);
    v.level = 0;
    v.quietBlocks = 0;
    v.silencePeriods = 0;
    v.silenceThreshold = kSilenceThresholdDefault;
    v.silenceEnable = v.paramsPending ? v.pendingEnable : kSilenceEnableDefault;
    v.silenceTime = v.paramsPending ? v.pendingTime : kSilenceTimeDefault;
    std::memset(v.input, 0, sizeof(v.input));
    std::memset(v.output, 0, sizeof(v.output));
    InitNotchToneDetector(&v.callingTone, &kNotch1100, 5, 2);
    v.callingToneReported = 0;
}

void StartVoiceMode(DspContext* ctx)
{
    VoiceState& v = ctx->voice;
    const uint8_t* p = ctx->command.payload;
    StartVoiceLists(ctx, kVoiceSubModeNone);
    if (!ctx->command.voiceActive) {
        v.rxQueue.Clear();
        v.txQueue.Clear();
    }
    ResetVoiceState(ctx);
    const int16_t silence[kVoiceMaxBlock] = {};
    const int32_t b = ctx->lowerAudio->format.blockLength;
    WriteSampleBlock(ctx->lowerAudio, silence, b <= kVoiceMaxBlock ? b : kVoiceMaxBlock);
    v.rateCode = p[0];
    v.formatCode = p[1];
    v.subMode = p[2];
    v.coder = SelectVoiceCodec(v.formatCode);
    SetRateAndResamplers(ctx, v.rateCode);
    if (ctx->modeState == kDetectorModeVoice) {
        InitDtmfDetector(&v.dtmf, 9600);
        ConfigureSection(&ctx->detector.bank, 0, kCallProgressBandSection);
        EnterVoice(ctx);
    } else {
        v.startPending = 1;
    }
}

// Voice entered through the pending path sets the DTMF detector up too, so digits are reported whichever
// way voice began.
void EnterVoice(DspContext* ctx)
{
    VoiceState& v = ctx->voice;
    v.startPending = 0;
    if (v.dtmf.filterCount == 0)
        InitDtmfDetector(&v.dtmf, 9600);
    ctx->blockHandler = VoiceBlockHandler;
    ctx->command.voiceActive = 1;
    SetLowerFormat(ctx->lowerAudio, static_cast<uint16_t>(v.sampleRate16 == 9600 ? 9600 : v.sampleRate),
                   static_cast<uint16_t>(v.blockLength));
    StartVoiceLists(ctx, v.subMode);
    ctx->interfaceBlock->link.refillOwner = ctx;
    ctx->interfaceBlock->link.refill = VoiceMailboxRefill;
    UpdateStatusRegister(ctx->interfaceBlock, kPumpStateVoice, 1);
    SetRegister(ctx->interfaceBlock, kRegNotify, 1);
}

void StopVoice(DspContext* ctx)
{
    VoiceState& v = ctx->voice;
    VoiceLineHook(ctx, 0);
    VoiceLineHook(ctx, 0);
    v.startPending = 0;
    v.paramsPending = 0;
    ctx->command.voiceActive = 0;
    StartVoiceLists(ctx, kVoiceSubModeNone);
    ctx->interfaceBlock->link.refill = nullptr;
    v.rxQueue.Clear();
    v.txQueue.Clear();
}

void VoiceLineHook(DspContext* ctx, int32_t value)
{
    (void)ctx;
    (void)value;
}

void CmdVoiceMode(DspContext* ctx)
{
    VoiceState& v = ctx->voice;
    const int32_t s = ctx->command.payload[0];
    if (v.startPending && s == kSubCodeEnter)
        EnterVoice(ctx);
    if (!ctx->command.voiceActive) {
        if (s == 0) {
            VoiceLineHook(ctx, 0);
            VoiceLineHook(ctx, 0);
        }
        return;  // echoed
    }
    ResetVoiceState(ctx);
    if (s == kSubCodeIdle) {
        ReturnToIdle(ctx);
        AckCommand(ctx, IcdVoiceMode);
        return;
    }
    if (s < 10) {
        const VoiceSubCode& c = kSubCodes[s];
        VoiceLineHook(ctx, c.hook[0]);
        VoiceLineHook(ctx, c.hook[1]);
        v.subMode = c.subMode;
        StartVoiceLists(ctx, c.subMode);
    }
    AckCommand(ctx, IcdVoiceMode);
}

void CmdSetVoiceParams(DspContext* ctx)
{
    VoiceState& v = ctx->voice;
    const uint8_t* p = ctx->command.payload;
    v.pendingEnable = p[0];
    v.pendingTime = p[1];
    v.silenceEnable = p[0];
    v.silenceTime = p[1];
    v.paramsPending = 1;
    AckCommand(ctx, IcdSetVoiceParams);
}

void CmdSetLineControl(DspContext* ctx)
{
    VoiceState& v = ctx->voice;
    const uint8_t* p = ctx->command.payload;
    const uint8_t flags = p[2];
    const uint8_t value = p[3];
    const uint8_t index = p[4];
    if (index == 0) {
        if (value == 18 && flags == 0) {
            VoiceLineHook(ctx, 1);
            VoiceLineHook(ctx, 1);
        } else {
            if ((p[0] & 0x0C) == 0) {
                if ((flags & 0x0C) == 0x0C)
                    VoiceLineHook(ctx, 1);
                else if ((flags & 0x0C) == 0)
                    VoiceLineHook(ctx, 0);
            }
            if ((p[1] & 0x03) == 0)
                SetLowerGain30(ctx->lowerAudio, 4, value & 0x03u, 0);
            if ((p[1] & 0x0C) == 0)
                SetLowerGain30(ctx->lowerAudio, 3, (value >> 2) & 0x03u, 0);
            if ((p[1] & 0x30) == 0) {
                const int32_t hook = (value >> 4) & 3;
                VoiceLineHook(ctx, hook >> 1);
                if (hook != 1 && hook != 2)
                    VoiceLineHook(ctx, hook >> 1);
            }
        }
    }
    if (index < kVoiceLineIndices) {
        v.lineControl[index][0] = value;
        v.lineControl[index][1] = flags;
    }
    AckCommand(ctx, IcdSetLineControl);
}

void VoiceMailboxRefill(void* owner)
{
    DspContext* ctx = Ctx(owner);
    if (!ctx->command.voiceActive)
        return;
    PostQueuedRx(ctx);
    if (PlaysBytes(ctx))
        VoiceFetchTxBytes(ctx, kVoiceTxQueueBytes);
}

void VoiceFetchTxBytes(DspContext* ctx, uint32_t n)
{
    VoiceState& v = ctx->voice;
    while (v.txQueue.count < n && v.txQueue.Free() >= kMailboxBytes) {
        uint8_t flags = 0;
        uint8_t count = 0;
        uint8_t bytes[kMailboxBytes];
        if (FetchTxBytes(ctx->interfaceBlock, &flags, &count, bytes) != 1)
            break;
        v.txQueue.Put(bytes, count);
    }
}

// Reads the block, keeps its level (memory parameter 226 and the silence detector), runs the receive and
// then the transmit list, and completes the stream block with silence when no step wrote it.
void VoiceBlockHandler(DspContext* ctx)
{
    VoiceState& v = ctx->voice;
    LowerAudioInterface* la = ctx->lowerAudio;
    const int32_t b = la->format.blockLength <= kVoiceMaxBlock ? la->format.blockLength : kVoiceMaxBlock;
    std::memset(v.input, 0, sizeof(v.input));
    std::memset(ctx->rxWork, 0, 96 * sizeof(int16_t));
    ReadSampleBlock(la, v.input, b);
    std::memcpy(ctx->rxWork, v.input, static_cast<size_t>(b < 96 ? b : 96) * sizeof(int16_t));
    v.level = BlockPowerDb(v.input, b);
    ctx->rxLevel = v.level;
    ctx->rxLevelParam = static_cast<int16_t>(8 - v.level);
    RunStep(ctx, &v.rxSeq);
    RunStep(ctx, &v.txSeq);
    FramerPostRxBytes(ctx);
    if (la->writeIndex < b) {
        const int16_t silence[kVoiceMaxBlock] = {};
        WriteSampleBlock(la, silence, b - la->writeIndex);
    }
}

void EnterVoiceIfPending(DspContext* ctx)
{
    if (ctx->voice.startPending)
        EnterVoice(ctx);
}
