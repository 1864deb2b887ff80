// The answer tone with amplitude modulation (ANSam): 2100 Hz, its envelope modulated about 19 % at 15 Hz,
// with a 180-degree phase reversal every 4321 samples (about 450 ms).
#include "layer1/dsp/dsp_context.h"
#include "layer1/dsp/nco.h"
#include "layer1/dsp/procedure_state.h"
#include "platform/saturate.h"

namespace {

constexpr uint16_t kAnswerToneStep = 0x3800;   // 2100 Hz at 9600 samples/s
constexpr uint16_t kAmStep = 102;              // 14.94 Hz
constexpr int32_t kReversalSamples = 4320;     // a reversal when the count exceeds this
constexpr int32_t kAmDepth = 6100;             // of 32768

DspContext* Ctx(void* owner) { return static_cast<DspContext*>(owner); }

void AnsamSetUp(void* owner)
{
    DspContext* ctx = Ctx(owner);
    AnsamGenerator& g = ctx->procedure.ansam;
    g.phase = 0;
    g.amPhase = 0;
    g.reversalCount = 0;
    g.amplitude = DbToGain(ctx->lowerAudio, ctx->txLevelDb - 2);
    g.samplesPerCall = ctx->lowerAudio->format.blockLength;
    IdleTxStep(owner);
}

void AnsamStep(void* owner) { GenerateAnsam(Ctx(owner), kAnswerToneStep, kAmStep); }

}  // namespace

void GenerateAnsam(DspContext* ctx, uint16_t phaseStep, uint16_t amStep)
{
    AnsamGenerator& g = ctx->procedure.ansam;
    for (int32_t i = 0; i < g.samplesPerCall && i < kLowerBufferSamples; ++i) {
        g.phase = static_cast<uint16_t>(g.phase + phaseStep);
        if (g.reversalCount > kReversalSamples) {
            g.reversalCount = 0;
            g.phase = static_cast<uint16_t>(g.phase + 0x8000u);
        }
        int16_t s;
        int16_t c;
        NcoSinCos(g.phase, &s, &c);
        int32_t y = (s * g.amplitude) >> 15;
        if (amStep > 0) {
            g.amPhase = static_cast<uint16_t>(g.amPhase + amStep);
            g.reversalCount += 1;
            int16_t ms;
            int16_t mc;
            NcoSinCos(g.amPhase, &ms, &mc);
            y += (y * ((ms * kAmDepth) >> 15)) >> 15;
        }
        ctx->txWork[i] = Saturate16(y);
    }
}

const StepEntry AnsamSteps[] = {{{AnsamSetUp}, 1}, {{AnsamStep}, -1}, kStepEnd};
