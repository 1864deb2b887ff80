// Detector modes (command 0x65) and the per-block detector step: the front end, the calling-tone detector
// ('N'), the ring energy reports, the call-progress detector with cadence matching ('b', 'r', register 56)
// and the caller-ID guard.
#include <cstring>

#include "layer1/dsp/command_dispatcher.h"
#include "layer1/dsp/detector_reports.h"
#include "layer1/dsp/mode_entries.h"
#include "layer1/dsp/register_window.h"

namespace {

constexpr int32_t kCallingToneRun = 960;      // 100 ms of 1100 Hz
constexpr int32_t kCallProgressRun = 24;      // a quarter block of call-progress tone
constexpr int32_t kDefaultLevelDb = 51;       // a stored level of 0
constexpr int32_t kCallProgressOnDb = 51;     // the fixed limits of mode 1
constexpr int32_t kCallProgressOffDb = 57;
constexpr int32_t kCallerIdLoud = 511;
constexpr int32_t kCallerIdGuardBlocks = 2;
constexpr uint8_t kProgressBusy = 3;
constexpr uint8_t kProgressRingback = 5;

void SetCallProgressLevels(DspContext* ctx, int32_t onDb, int32_t offDb)
{
    ctx->detector.callProgressOnLevel = DbToGain(ctx->lowerAudio, -onDb);
    ctx->detector.callProgressOffLevel = DbToGain(ctx->lowerAudio, -offDb);
}

void CallingToneDetector(DspContext* ctx, int32_t n)
{
    DetectorState& d = ctx->detector;
    if (RunNotchToneDetector(&d.callingTone, d.input, n, kCallingToneRun) != 0)
        PostEventChar(ctx->interfaceBlock, 'N');
}

// Time stamp of a report: a free-running 16-bit sample counter in milliseconds (wraps at 6827 ms).
uint16_t TimeStamp(uint16_t samples)
{
    return static_cast<uint16_t>(static_cast<uint32_t>(samples) * 10u / 96u);
}

void EnergyReports(DspContext* ctx, const int16_t* block, int32_t n)
{
    DetectorState& d = ctx->detector;
    for (int32_t i = 0; i < n; ++i) {
        const int32_t on = PulseTrainSample(&d.energy, block[i]);
        if (on == d.energyOn)
            continue;
        d.energyOn = static_cast<int16_t>(on);
        const uint16_t stamp = TimeStamp(static_cast<uint16_t>(d.sampleCounter + i));
        if (on) {
            d.energyDetections += 1;
            PostDetectorReport(ctx->interfaceBlock, 1, stamp, 0);
        } else {
            PostDetectorReport(ctx->interfaceBlock, 1, stamp, static_cast<uint16_t>(d.energy.lastScore));
        }
    }
}

// The call-progress detector: the block holds a call-progress tone when the three notches over the band take
// out most of its power for a run of samples at the end of the block and its level is above the on limit, until it falls below the
// off limit. It looks at the pre-filtered block: the ratio needs no normalising, and so it does not see the
// normaliser's overshoot at the start of a tone.
int32_t CallProgressTone(DspContext* ctx, int32_t n)
{
    DetectorState& d = ctx->detector;
    int64_t sum = 0;
    for (int32_t i = 0; i < n; ++i)
        sum += d.preFiltered[i] < 0 ? -static_cast<int64_t>(d.preFiltered[i]) : d.preFiltered[i];
    const int64_t mean = n > 0 ? sum / n : 0;
    if (!d.callProgressLevelOn && mean > d.callProgressOnLevel)
        d.callProgressLevelOn = 1;
    else if (d.callProgressLevelOn && mean < d.callProgressOffLevel)
        d.callProgressLevelOn = 0;
    // A detection in the last part of the block: the tone lasts to the block's end (the decay of a tone that
    // stopped early in the block still passes the ratio test for a few samples).
    int32_t detected = 0;
    for (int32_t i = 0; i < n;) {
        int32_t at;
        const int32_t r = ScanNotchToneDetector(&d.callProgress, d.preFiltered + i, n - i, kCallProgressRun, &at);
        if (r != 0 && i + at >= n - 2 * kCallProgressRun)
            detected = 1;
        i += at + 1;
    }
    d.callProgressTone = static_cast<int16_t>(detected && d.callProgressLevelOn);
    return d.callProgressTone;
}

// Busy and fast busy report 3 and 'b', ringback 5 and 'r', a cadence that no longer holds 0. A cadence is
// reported when it starts to hold, not again on every block while it holds.
void CallProgressCadence(DspContext* ctx, int32_t on)
{
    DetectorState& d = ctx->detector;
    if (!d.cadenceEnabled)
        return;
    TrackCadence(&d.cadence, on);
    uint8_t code = 0;
    for (int k = 0; k < CADENCE_KINDS; ++k) {
        if (MatchCadence(&d.cadence, &d.cadenceSpec[k]) && code == 0)
            code = k == CADENCE_RINGBACK ? kProgressRingback : kProgressBusy;
    }
    if (code == d.cadenceReport)
        return;
    d.cadenceReport = code;
    SetRegister(ctx->interfaceBlock, kRegProgress, code);
    NotifyController(ctx->interfaceBlock);
    if (code == kProgressBusy)
        PostEventChar(ctx->interfaceBlock, 'b');
    else if (code == kProgressRingback)
        PostEventChar(ctx->interfaceBlock, 'r');
}

void ClearCadence(DetectorState& d)
{
    std::memset(&d.cadence, 0, sizeof(d.cadence));
    std::memcpy(d.cadenceSpec, kCadenceSpecs, sizeof(d.cadenceSpec));
    d.cadenceReport = 0;
}

// Mode 5: while no digit is sent, a receiver input that stays loud for two blocks clears its carrier flag.
void CallerIdGuard(DspContext* ctx, const int16_t* block, int32_t n)
{
    DetectorState& d = ctx->detector;
    if (!ctx->command.digitBusy) {
        if (ctx->fsk.demod.agc.level > kCallerIdLoud) {
            if (d.callerIdGuard > 0)
                d.callerIdGuard -= 1;
            if (d.callerIdGuard == 0)
                ctx->fsk.demod.carrierOn = 0;
        } else {
            d.callerIdGuard = kCallerIdGuardBlocks;
        }
    }
    RunFskReceiver(ctx, block, n);
}

}  // namespace

const StepEntry kDetectorList[] = {{{DetectorBlockStep}, -1}, kStepEnd};

void DetectorFrontEnd(DspContext* ctx, int32_t flags, const int16_t* block, int32_t n)
{
    DetectorState& d = ctx->detector;
    if (n > kDetectorBlockSamples)
        n = kDetectorBlockSamples;
    if (n <= 0)
        return;
    if (flags & kFrontPreFilter)
        DetectorPreFilter(&d.preFilter, block, d.preFiltered, n);
    const int32_t* source = d.preFiltered;
    if ((flags & kFrontOwnNotch) && d.ownNotchKind != OWN_NOTCH_NONE) {
        for (int32_t i = 0; i < n; ++i)
            d.notched[i] = FourthOrderBandSample(&d.ownNotch, d.preFiltered[i]);
        source = d.notched;
    }
    if (flags & kFrontNormalise)
        GainNormaliserBlock(&d.normaliser, source, d.input, n);
}

void SetOwnToneNotch(DspContext* ctx, int32_t notch)
{
    DetectorState& d = ctx->detector;
    if (notch < 0 || notch >= OWN_NOTCH_COUNT) {
        d.ownNotchKind = OWN_NOTCH_NONE;
        return;
    }
    InitOwnToneNotch(&d.ownNotch, static_cast<OwnToneNotch>(notch));
    d.ownNotchKind = notch;
}

void ClearEnergyDetector(DspContext* ctx)
{
    ClearPulseTrainDetector(&ctx->detector.energy);
    ctx->detector.energyOn = 0;
}

// Memory parameter 146: two 16-bit levels in dB (0 taken as 51), the on and the off limit.
void ResetCallProgressLevels(DspContext* ctx)
{
    const uint32_t word = ctx->parameters.callProgressLevel[0];
    int32_t on = static_cast<int32_t>(word & 0xFFFF);
    int32_t off = static_cast<int32_t>(word >> 16);
    if (on == 0)
        on = kDefaultLevelDb;
    if (off == 0)
        off = kDefaultLevelDb;
    SetCallProgressLevels(ctx, on, off);
}

void InitDetectorState(DspContext* ctx)
{
    DetectorState& d = ctx->detector;
    std::memset(&d.preFilter, 0, sizeof(d.preFilter));
    d.ownNotchKind = OWN_NOTCH_NONE;
    InitGainNormaliser(&d.normaliser, 7, 0x7FFF);
    ClearCadence(d);
    d.cadenceEnabled = 0;
    d.callerIdGuard = kCallerIdGuardBlocks;
}

void SetDetectorMode(DspContext* ctx, int32_t mode)
{
    if (mode < 0 || mode > 2)
        return;
    DetectorState& d = ctx->detector;
    if (!ctx->command.voiceActive)
        ctx->blockHandler = IdleBlockHandler;
    ControlSequencer(&ctx->seqB, SEQ_START_AT, kDetectorList, 0);
    switch (mode) {
    case 0:
        ctx->modeState = 0;
        ClearEnergyDetector(ctx);
        ResetCallProgressLevels(ctx);
        InitNotchToneDetector(&d.callingTone, &kNotch1100, 5, 2);
        break;
    case 1:
        ctx->modeState = 1;
        InitThreeNotchDetector(&d.callProgress, kNotchCallProgress, 5, 3);
        d.callProgressLevelOn = 0;
        d.callProgressTone = 0;
        ClearCadence(d);
        SetCallProgressLevels(ctx, kCallProgressOnDb, kCallProgressOffDb);
        d.cadenceEnabled = 1;
        break;
    default:
        InitNotchToneDetector(&d.callingTone, &kNotch1100, 5, 2);
        ResetCallProgressLevels(ctx);
        ctx->modeState = 2;
        EnterVoiceIfPending(ctx);
        break;
    }
}

void CmdConfigDetectors(DspContext* ctx)
{
    const uint8_t* p = ctx->command.payload;
    DetectorState& d = ctx->detector;
    d.energyReportFlag = static_cast<int16_t>(p[1] & 1);
    d.option = static_cast<int16_t>((p[1] >> 1) & 0x0F);
    if (!ctx->connection.originate)
        ClearEnergyDetector(ctx);
    SetDetectorMode(ctx, p[0]);
    AckCommand(ctx, IcdConfigDetectors);
}

void DetectorBlockStep(void* owner)
{
    auto* ctx = static_cast<DspContext*>(owner);
    DetectorState& d = ctx->detector;
    const int16_t* block = ctx->rxWork;
    int32_t n = ctx->lowerAudio != nullptr ? ctx->lowerAudio->format.blockLength : kDetectorBlockSamples;
    if (n > kDetectorBlockSamples)
        n = kDetectorBlockSamples;
    if (n <= 0)
        return;
    DetectorFrontEnd(ctx, kFrontPreFilter | kFrontNormalise, block, n);
    switch (ctx->modeState) {
    case 0:
        CallingToneDetector(ctx, n);
        if (d.energyReportFlag)
            EnergyReports(ctx, block, n);
        if (ctx->callerIdFlag)
            RunFskReceiver(ctx, block, n);
        break;
    case 1: {
        RunDetectorBank(ctx, d.input, n, 0);
        const int32_t tone = CallProgressTone(ctx, n);
        CallProgressCadence(ctx, (d.bank.result & 1) && tone);
        break;
    }
    case 2:
        RunDetectorBank(ctx, d.input, n, 0);
        CallingToneDetector(ctx, n);
        EnterVoiceIfPending(ctx);
        break;
    case 5:
        CallerIdGuard(ctx, block, n);
        break;
    default:
        break;
    }
    d.sampleCounter = static_cast<uint16_t>(d.sampleCounter + n);
}

// Voice mode's receive steps: the detector bank and, while the cadence is enabled, the call-progress tone and
// its cadence over the block at 9600 Hz, so busy and ringback are reported while voice runs.
void VoiceCallProgress(DspContext* ctx, const int16_t* block, int32_t n)
{
    DetectorState& d = ctx->detector;
    if (n > kDetectorBlockSamples)
        n = kDetectorBlockSamples;
    if (n <= 0)
        return;
    DetectorFrontEnd(ctx, kFrontPreFilter | kFrontNormalise, block, n);
    RunDetectorBank(ctx, d.input, n, 0);
    if (d.cadenceEnabled) {
        const int32_t tone = CallProgressTone(ctx, n);
        CallProgressCadence(ctx, (d.bank.result & 1) && tone);
    }
}
