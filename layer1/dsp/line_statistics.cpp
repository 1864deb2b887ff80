// Line statistics: smoothed powers of the sample stream each block, and the live memory parameters that
// turn them and the V.32bis echo canceller's state into the readings of the diagnostic screens.
#include "layer1/dsp/line_statistics.h"

#include <cmath>

#include "layer1/dsp/dsp_context.h"
#include "layer1/dsp/parameter_directory.h"
#include "layer1/modem/v32/v32_mode.h"
#include "layer1/modem/v34/v34_pump.h"
#include "layer1/modem/v34/v34_rx_readings.h"
#include "layer1/vek/util/root.h"
#include "platform/byte_order.h"
#include "window/parameter_ids.h"

namespace {

constexpr int kSmoothingShift = 3;  // each block moves the power an eighth of the way (about 80 ms)
constexpr uint64_t kLevelScaleNum = 73;   // 36.5
constexpr uint64_t kLevelScaleDen = 2;
constexpr uint64_t kEchoScaleNum = 3359;  // 26.872
constexpr uint64_t kEchoScaleDen = 125;
// The V.32bis modem runs at 7200 samples per second; the delay reading counts samples at 9600.
constexpr int32_t kV32ToDelayNum = 4;
constexpr int32_t kV32ToDelayDen = 3;

uint64_t BlockMeanSquare(const int16_t* x, int32_t n)
{
    uint64_t sum = 0;
    for (int32_t i = 0; i < n; ++i)
        sum += static_cast<uint64_t>(static_cast<int64_t>(x[i]) * x[i]);
    return n > 0 ? sum / static_cast<uint64_t>(n) : 0;
}

void Smooth(uint64_t* power, uint64_t value)
{
    const int64_t step = (static_cast<int64_t>(value) - static_cast<int64_t>(*power)) / (1 << kSmoothingShift);
    *power = static_cast<uint64_t>(static_cast<int64_t>(*power) + step);
}

uint32_t Clamp32(uint64_t v) { return v > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(v); }

// sqrt(v x num / den), saturating where v x num does not fit.
uint32_t ScaledRoot(uint64_t v, uint64_t num, uint64_t den)
{
    const uint64_t scaled = v > UINT64_MAX / num ? UINT64_MAX : v * num / den;
    return Clamp32(vek::root::isqrt(scaled));
}

// The V.32bis modem with its echo canceller running (a direct start has none).
const V32Modem* CancellingV32(const DspContext* ctx)
{
    const V32Modem* m = &ctx->v32.modem;
    if (ctx->blockHandler != V32bisBlockHandler || m->startType == V32_START_DIRECT)
        return nullptr;
    return m;
}

// What the far end sends: past the echo canceller when one runs, else the received samples.
uint64_t ReceivedPower(const DspContext* ctx)
{
    const V32Modem* m = CancellingV32(ctx);
    return m != nullptr ? static_cast<uint64_t>(m->echo.power < 0 ? 0 : m->echo.power) : ctx->lineStats.rxPower;
}

// The line's round trip in samples at 9600 Hz: the measured one less both ends' stream latency (the far
// end's taken to be like ours) and the far end's reaction; 0 until measured.
uint32_t RoundTripCount(const DspContext* ctx)
{
    const V32Modem* m = CancellingV32(ctx);
    if (m == nullptr || !m->delayMeasured || m->echoDelay <= 0)
        return 0;
    const int32_t line = m->echoDelay - 2 * m->echo.latency - kV32FarReaction;
    return line > 0 ? static_cast<uint32_t>(line * kV32ToDelayNum / kV32ToDelayDen) : 0;
}

uint64_t EchoPower(const DspContext* ctx, bool far)
{
    const V32Modem* m = CancellingV32(ctx);
    if (m == nullptr)
        return 0;
    return far ? m->echo.farPower : m->echo.nearPower;
}

// The statistics of the V.34 and PCM pumps and their sizes in bytes.
struct StatisticSize {
    uint32_t id;
    uint32_t bytes;
};
constexpr StatisticSize kV34Statistics[] = {
    {kMemStatRxLevelDb, 2},    {kMemStatSignalPower, 4}, {kMemStatErrorPower, 4}, {kMemStatTxOptions, 2},
    {kMemStatRxOptions, 2},    {kMemStatFarOffset, 4},   {kMemStatTimingOffset, 2}, {kMemStatTxSnr, 2},
    {kMemStatFrequency, 2},    {kMemStatTiming, 2},      {kMemStatRateIndexes, 2},
};
constexpr double kZeroDbm0MeanSquare = 22826.0 * 22826.0 / 2;
constexpr int32_t kLevelReadingOffset = 5;  // the receivers' level reading stands 5 above the level

bool V34Running(const DspContext* ctx) { return ctx->blockHandler == V34BlockHandler; }

// The receive level in dB below 1 mW, plus 5; 0 with nothing received.
uint16_t ReceiveLevelReading(const DspContext* ctx)
{
    const uint64_t ms = ReceivedPower(ctx);
    if (ms == 0)
        return 0;
    const double below = -10.0 * std::log10(static_cast<double>(ms) / kZeroDbm0MeanSquare);
    const long v = std::lround(below) + kLevelReadingOffset;
    return static_cast<uint16_t>(v < 0 ? 0 : v > 0x7FFF ? 0x7FFF : v);
}

// The V.34 receiver's own readings; all 0 while V.34 does not run.
V34ReceiverReadings ReceiverReadings(const DspContext* ctx)
{
    V34ReceiverReadings r{};
    if (V34Running(ctx))
        ReadV34Receiver(&ctx->v34pump, &r);
    return r;
}

// The option word of this modem's V.34 transmitter in data mode.
uint16_t TransmitOptions(const DspContext* ctx)
{
    if (!V34Running(ctx))
        return 0;
    const V34EncoderState& e = ctx->v34pump.tx.encoder;
    const uint16_t trellis = e.trellisStates == 64 ? 2 : e.trellisStates == 32 ? 1 : 0;
    return static_cast<uint16_t>((trellis << kDiagOptionTrellisShift) | (e.nonlinear != 0 ? kDiagOptionNonlinear : 0) |
                                 (e.frame.row != 0 ? kDiagOptionExpanded : 0));
}

// Phase 2's measured frequency offset (in 1/50 Hz) in the screen's unit.
uint32_t FarOffsetReading(const DspContext* ctx)
{
    const int64_t v = -static_cast<int64_t>(ctx->phase2.probe.frequencyOffset) * kDiagOffsetPerHz / 50;
    return static_cast<uint32_t>(static_cast<int32_t>(v));
}

// The symbol-rate indexes of this modem's transmitter and receiver as phase 2 chose them.
uint16_t RateIndexes(const DspContext* ctx)
{
    const Phase2Result& r = ctx->phase2Result;
    const bool caller = (ctx->phase2.flags & kPhase2Caller) != 0;
    const uint32_t txIndex = caller ? r.callerRateIndex : r.answererRateIndex;
    const uint32_t txHigh = caller ? r.callerHighCarrier : r.answererHighCarrier;
    const uint32_t rxIndex = caller ? r.answererRateIndex : r.callerRateIndex;
    const uint32_t rxHigh = caller ? r.answererHighCarrier : r.callerHighCarrier;
    return static_cast<uint16_t>((txIndex & 7) | ((txHigh & 1) << 3) | ((rxIndex & 7) << 4) | ((rxHigh & 1) << 7));
}

}  // namespace

uint32_t LineLevelReading(uint64_t meanSquare)
{
    return ScaledRoot(meanSquare, kLevelScaleNum, kLevelScaleDen);
}

uint32_t LineEchoReference(uint64_t meanSquare)
{
    return ScaledRoot(meanSquare, kEchoScaleNum, kEchoScaleDen);
}

void ResetLineStatistics(DspContext* ctx) { ctx->lineStats = LineStatistics{}; }

void UpdateLineStatistics(DspContext* ctx)
{
    const LowerAudioInterface* la = ctx->lowerAudio;
    const int32_t b = la->format.blockLength;
    if (la->readIndex > 0)
        Smooth(&ctx->lineStats.rxPower, BlockMeanSquare(la->rxBuffer, b));
    if (la->writeIndex >= b)
        Smooth(&ctx->lineStats.txPower, BlockMeanSquare(la->txBuffer, b));
}

void RegisterLineStatistics(DspContext* ctx)
{
    DspInterfaceBlock* b = ctx->interfaceBlock;
    uint8_t* live = ctx->parameters.liveDummy;
    RegisterMemoryParam(b, kMemStatTxLevel, live, 4);
    RegisterMemoryParam(b, kMemStatRxLevel, live, 4);
    RegisterMemoryParam(b, kMemStatEchoReference, live, 4);
    RegisterMemoryParam(b, kMemStatNearEcho, live, 4);
    RegisterMemoryParam(b, kMemStatFarEcho, live, 4);
    RegisterMemoryParam(b, kMemStatRoundTrip, live, 2);
    for (const StatisticSize& v : kV34Statistics)
        RegisterMemoryParam(b, v.id, live, v.bytes);
}

bool IsLineStatistic(uint32_t id)
{
    for (const StatisticSize& v : kV34Statistics)
        if (id == v.id)
            return true;
    return id == kMemStatTxLevel || id == kMemStatRxLevel || id == kMemStatEchoReference ||
           id == kMemStatNearEcho || id == kMemStatFarEcho || id == kMemStatRoundTrip;
}

void ReadLineStatistic(DspContext* ctx, uint32_t id, uint8_t* out)
{
    const LineStatistics& s = ctx->lineStats;
    switch (id) {
    case kMemStatTxLevel: WriteLe32(out, LineLevelReading(s.txPower)); break;
    case kMemStatRxLevel: WriteLe32(out, LineLevelReading(ReceivedPower(ctx))); break;
    case kMemStatEchoReference: WriteLe32(out, LineEchoReference(s.txPower)); break;
    case kMemStatNearEcho: WriteLe32(out, Clamp32(EchoPower(ctx, false))); break;
    case kMemStatFarEcho: WriteLe32(out, Clamp32(EchoPower(ctx, true))); break;
    case kMemStatRoundTrip: WriteLe16(out, static_cast<uint16_t>(RoundTripCount(ctx) > 0xFFFF ? 0xFFFF : RoundTripCount(ctx))); break;
    case kMemStatRxLevelDb: WriteLe16(out, ReceiveLevelReading(ctx)); break;
    case kMemStatTxOptions: WriteLe16(out, TransmitOptions(ctx)); break;
    case kMemStatFarOffset: WriteLe32(out, FarOffsetReading(ctx)); break;
    case kMemStatRateIndexes: WriteLe16(out, RateIndexes(ctx)); break;
    case kMemStatSignalPower: WriteLe32(out, ReceiverReadings(ctx).signal); break;
    case kMemStatErrorPower: WriteLe32(out, ReceiverReadings(ctx).error); break;
    case kMemStatRxOptions: WriteLe16(out, ReceiverReadings(ctx).options); break;
    case kMemStatFrequency: WriteLe16(out, static_cast<uint16_t>(ReceiverReadings(ctx).frequency)); break;
    case kMemStatTiming: WriteLe16(out, static_cast<uint16_t>(ReceiverReadings(ctx).timing)); break;
    // Phase 2's timing offset and the far end's SNR are not measured: these read 0 (nothing measured).
    default: WriteLe32(out, 0); break;
    }
}
