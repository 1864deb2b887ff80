// The voice transmit and receive steps: play, drain and silence on the transmit side; detection (DTMF, the
// 1100 Hz calling tone, silence, call-progress cadence), encoding and posting on the receive side.
#include <cstring>

#include "layer1/dsp/detector_reports.h"
#include "layer1/dsp/detector_state.h"
#include "layer1/dsp/dsp_context.h"
#include "layer1/dsp/mode_entries.h"
#include "layer1/dsp/register_window.h"
#include "layer1/modem/voice/voice_mode.h"

namespace {

constexpr int32_t kCallingToneRun = 960;     // 100 ms of 1100 Hz
constexpr int32_t kSilenceMargin = 3;
constexpr int32_t kBlocksPer100Ms = 10;

DspContext* Ctx(void* owner) { return static_cast<DspContext*>(owner); }

int32_t StreamBlock(const DspContext* ctx)
{
    const int32_t b = ctx->lowerAudio->format.blockLength;
    return b <= kVoiceMaxBlock ? b : kVoiceMaxBlock;
}

void WriteSilence(DspContext* ctx)
{
    const int16_t silence[kVoiceMaxBlock] = {};
    WriteSampleBlock(ctx->lowerAudio, silence, StreamBlock(ctx));
}

// Takes one voice block of bytes from the transmit queue and decodes it; at rate code 4 resampler C turns
// the 110 samples into 96 or 97, of which the first 96 are kept. Returns the samples made, 0 when too few
// bytes wait (they stay queued for the next block).
int32_t DecodeVoiceBlock(DspContext* ctx, int16_t* out)
{
    VoiceState& v = ctx->voice;
    const uint32_t n = static_cast<uint32_t>(v.voiceBlock);
    VoiceFetchTxBytes(ctx, n);
    if (v.txQueue.count < n)
        return 0;
    uint8_t bytes[kVoiceMaxBlock];
    v.txQueue.Take(bytes, n);
    for (uint32_t i = 0; i < n; ++i)
        v.output[i] = v.coder.decode(&v.txCoder, bytes[i]);
    if (v.rateCode != 4) {
        std::memcpy(out, v.output, n * sizeof(int16_t));
        return static_cast<int32_t>(n);
    }
    int16_t resampled[kResamplerMaxOutput] = {};
    RunResampler(&v.resamplerC, v.output, resampled, &v.resamplerC.phase, 0);
    std::memcpy(out, resampled, 96 * sizeof(int16_t));
    return 96;
}

void VoicePlayStep(void* owner)
{
    DspContext* ctx = Ctx(owner);
    int16_t samples[kVoiceMaxBlock];
    const int32_t n = DecodeVoiceBlock(ctx, samples);
    if (n == 0) {
        WriteSilence(ctx);
        return;
    }
    WriteSampleBlock(ctx->lowerAudio, samples, n);
}

void VoiceDrainStep(void* owner)
{
    DspContext* ctx = Ctx(owner);
    WriteSilence(ctx);
    int16_t samples[kVoiceMaxBlock];
    DecodeVoiceBlock(ctx, samples);
}

void VoiceSilenceStep(void* owner) { WriteSilence(Ctx(owner)); }

void VoiceNoStep(void*) {}

// The block at 9600 Hz for the detectors: the line block itself at rate codes 3 and 4, else resampler A's
// output. Returns its length.
int32_t DetectorBlock(DspContext* ctx, int16_t* block9600)
{
    VoiceState& v = ctx->voice;
    const int32_t b = StreamBlock(ctx);
    if (!v.resampleDetect) {
        std::memcpy(block9600, v.input, static_cast<size_t>(b) * sizeof(int16_t));
        return b;
    }
    if (RunResampler(&v.resamplerA, v.input, block9600, &v.resamplerA.phase, 0) != 0)
        return 0;
    return v.resamplerA.outputCount;
}

void Detection(DspContext* ctx, int32_t* wide, int32_t* n)
{
    VoiceState& v = ctx->voice;
    int16_t block[kResamplerMaxOutput];
    *n = DetectorBlock(ctx, block);
    const uint8_t digit = VoiceDtmfBlock(&v.dtmf, block, *n);
    if (digit != 0)
        PostEventChar(ctx->interfaceBlock, digit);
    for (int32_t i = 0; i < *n; ++i)
        wide[i] = block[i];
    VoiceCallProgress(ctx, block, *n);
}

void CallingToneReport(DspContext* ctx, const int32_t* wide, int32_t n)
{
    VoiceState& v = ctx->voice;
    if (RunNotchToneDetector(&v.callingTone, wide, n, kCallingToneRun) != 0 && !v.callingToneReported) {
        v.callingToneReported = 1;
        PostEventChar(ctx->interfaceBlock, 'N');
    }
}

// Each block below the threshold + 3 counts; silenceTime x 10 blocks make a period: 'q' for the first, 's'
// for each further one. A louder block starts again.
void SilenceDetector(DspContext* ctx)
{
    VoiceState& v = ctx->voice;
    if (!v.silenceEnable)
        return;
    if (v.level >= v.silenceThreshold + kSilenceMargin) {
        v.quietBlocks = 0;
        v.silencePeriods = 0;
        return;
    }
    v.quietBlocks += 1;
    if (v.quietBlocks < static_cast<int32_t>(v.silenceTime) * kBlocksPer100Ms)
        return;
    PostEventChar(ctx->interfaceBlock, v.silencePeriods == 0 ? 'q' : 's');
    v.silencePeriods += 1;
    v.quietBlocks = 0;
}

// Encodes the block (at rate code 4 first resampled from 96 to 109 or 110 samples) into the receive queue,
// then moves what the mailbox takes.
void EncodeAndPost(DspContext* ctx)
{
    VoiceState& v = ctx->voice;
    int32_t n = StreamBlock(ctx);
    if (v.rateCode == 4) {
        int16_t resampled[kResamplerMaxOutput] = {};
        RunResampler(&v.resamplerB, v.input, resampled, &v.resamplerB.phase, 0);
        n = v.resamplerB.outputCount <= kVoiceMaxBlock ? v.resamplerB.outputCount : kVoiceMaxBlock;
        std::memcpy(v.input, resampled, static_cast<size_t>(n) * sizeof(int16_t));
    }
    uint8_t bytes[kVoiceMaxBlock];
    for (int32_t i = 0; i < n; ++i)
        bytes[i] = static_cast<uint8_t>(v.coder.encode(&v.rxCoder, v.input[i]));
    const uint32_t kept = v.rxQueue.Put(bytes, static_cast<uint32_t>(n));
    v.rxOverruns += static_cast<uint32_t>(n) - kept;
    VoiceMailboxRefill(ctx);
}

void VoiceDetectStep(void* owner)
{
    int32_t wide[kResamplerMaxOutput];
    int32_t n = 0;
    Detection(Ctx(owner), wide, &n);
}

void VoiceRecordStep(void* owner)
{
    DspContext* ctx = Ctx(owner);
    int32_t wide[kResamplerMaxOutput];
    int32_t n = 0;
    Detection(ctx, wide, &n);
    CallingToneReport(ctx, wide, n);
    EncodeAndPost(ctx);
}

void VoiceMonitorStep(void* owner)
{
    DspContext* ctx = Ctx(owner);
    SilenceDetector(ctx);
    int32_t wide[kResamplerMaxOutput];
    int32_t n = 0;
    Detection(ctx, wide, &n);
    CallingToneReport(ctx, wide, n);
}

void VoiceEncodeStep(void* owner) { EncodeAndPost(Ctx(owner)); }

}  // namespace

// Entry k is sub-mode k.
const StepEntry kVoiceTxList[] = {
    {{VoicePlayStep}, -1}, {{VoiceNoStep}, -1},   {{VoiceSilenceStep}, -1},
    {{VoiceSilenceStep}, -1}, {{VoiceDrainStep}, -1}, {{VoiceNoStep}, -1}, kStepEnd,
};
const StepEntry kVoiceRxList[] = {
    {{VoiceDetectStep}, -1}, {{VoiceRecordStep}, -1}, {{VoiceMonitorStep}, -1},
    {{VoiceEncodeStep}, -1}, {{VoiceNoStep}, -1},     {{VoiceNoStep}, -1}, kStepEnd,
};
