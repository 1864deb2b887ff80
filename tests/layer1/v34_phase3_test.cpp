// V.34 phase 3 through the pump: the start after phase 2 from a filled-in result, the preset start with the
// transmit level of each level word, the pump's reset that keeps its first 44 bytes, and the block handler
// turning the transmit script into line samples at three samples per symbol.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "dsp_fixture.h"
#include "layer1/dsp/dsp_context.h"
#include "layer1/modem/v34/phase2_state.h"
#include "layer1/modem/v34/v34_pump.h"

using dsptest::DspBench;

namespace {

LowerDeviceRecord Depths()
{
    LowerDeviceRecord r{};
    r.rxDepthBlocks = 1;
    r.txDepthBlocks = 1;
    return r;
}

double BlockDb(const int16_t* x)
{
    double s = 0;
    for (int i = 0; i < kV34BlockSamples; ++i)
        s += double(x[i]) * x[i];
    return 10 * std::log10(s / kV34BlockSamples + 1e-9);
}

void FillResult(Phase2Result& r, int originate)
{
    r.callerRateIndex = 4;     // 3200 baud, high carrier
    r.callerHighCarrier = 1;
    r.callerPreEmphasis = 3;
    r.callerMdLength = 2;
    r.callerPowerReduction = 2;
    r.answererRateIndex = 3;   // 3000 baud, low carrier
    r.answererPreEmphasis = 12;  // out of range: flat
    r.answererPowerReduction = 1;
    r.answererExtraReduction = 1;
    r.rtd = 1200;
    r.gainExponent = 3u | (0x7000u << 16);
    r.probeLevel32 = 2;
    r.originate = static_cast<uint16_t>(originate);
}

TEST(V34Phase3, StartTakesEachRolesParametersFromPhase2)
{
    for (int originate = 0; originate < 2; ++originate) {
        const LowerDeviceRecord depths = Depths();
        DspBench bench(true, &depths);
        DspContext* ctx = bench.context.get();
        FillResult(ctx->phase2Result, originate);
        StartV34Phase3(ctx);
        const V34Pump& p = ctx->v34pump;
        EXPECT_EQ(ctx->blockHandler, V34BlockHandler);
        EXPECT_EQ(p.caller, originate);
        EXPECT_EQ(p.kept.optionWords[0], 0);
        EXPECT_EQ(p.kept.optionWords[1], 1);
        EXPECT_EQ(p.kept.optionWords[2], 1);
        EXPECT_EQ(p.rateCodes[0], 14);
        EXPECT_EQ(p.rateCodes[1], 14);
        if (originate) {
            EXPECT_EQ(p.symbolRate, 3200);
            EXPECT_EQ(p.highCarrier, 1);
            EXPECT_EQ(p.preEmphasis, 3);
            EXPECT_EQ(p.mdSymbols, 2 * 3200 * 35 / 1000);
            EXPECT_EQ(p.modulator.outputGain, TxLevelFor(13) >> 2);
            EXPECT_EQ(p.modulator.period, 5);
            EXPECT_EQ(p.tx.sequencer.list, V34TransmitScript(kV34ScriptCaller));
            EXPECT_EQ(p.rx.rateCarrierCode, 2 * 3 + 0) << "the caller receives the answerer's 3000 baud";
        } else {
            EXPECT_EQ(p.symbolRate, 3000);
            EXPECT_EQ(p.preEmphasis, 0);
            EXPECT_EQ(p.modulator.outputGain, TxLevelFor(13) >> 2);
            EXPECT_EQ(p.tx.sequencer.list, V34TransmitScript(kV34ScriptAnswerer));
            EXPECT_EQ(p.rx.rateCarrierCode, 2 * 4 + 1);
            EXPECT_EQ(p.rx.carrierConstant, 0x664E94CFu) << "3000 baud, low carrier";
        }
        // Latency: two blocks of depth, less half a block, in symbols; the far echo beyond it.
        EXPECT_EQ(p.pathLatency, (2 * 96 - 48) / 3);
        EXPECT_EQ(p.farEchoPosition, 1200 * p.symbolRate / 9600 + p.pathLatency + 96);
        // Input gain: exponent from the low byte less one; mantissa 0x7000 x 23014 >> 14 exceeds 0x6000.
        EXPECT_EQ(p.rx.inputGainExponent, 3);
        EXPECT_EQ(p.rx.inputGainMantissa, ((0x7000 * 23014) >> 14) / 2);
        EXPECT_EQ(p.rx.gainWord, -4555 * 2);
    }
}

TEST(V34Phase3, ResetKeepsTheFirst44Bytes)
{
    DspBench bench;
    DspContext* ctx = bench.context.get();
    V34Pump& p = ctx->v34pump;
    p.kept.optionWords[0] = 7;
    p.kept.retrainType = 5;
    p.kept.reserved[2] = 9;
    p.txState = 3;
    p.rateCodes[0] = 12;
    ResetV34Pump(ctx);
    EXPECT_EQ(p.kept.optionWords[0], 7);
    EXPECT_EQ(p.kept.retrainType, 5);
    EXPECT_EQ(p.kept.reserved[2], 9);
    EXPECT_EQ(p.txState, 0);
    EXPECT_EQ(p.rateCodes[0], 0);
    EXPECT_EQ(p.context, ctx);
    EXPECT_EQ(p.branches[0], ctx->filters.fir16[0]);
    EXPECT_EQ(p.branches[1], ctx->filters.fir16[4]);
}

TEST(V34Phase3, BlockHandlerSendsTheScriptAtThreeSamplesPerSymbol)
{
    const LowerDeviceRecord depths = Depths();
    DspBench bench(true, &depths);
    DspContext* ctx = bench.context.get();
    FillResult(ctx->phase2Result, 0);
    StartV34Phase3(ctx);
    V34Pump& p = ctx->v34pump;
    // The answerer: 141 symbols of silence (3000 baud x 47 ms), then S.
    double db[8];
    for (int b = 0; b < 8; ++b) {
        ctx->blockHandler(ctx);
        db[b] = BlockDb(p.txBlock);
    }
    EXPECT_LT(db[0], 0.0) << "silence";
    EXPECT_LT(db[3], 0.0);
    EXPECT_GT(db[6], 50.0) << "S";
    EXPECT_EQ(p.modulator.carrierIndex, (8 * 96) % 5);
    EXPECT_EQ(p.receiver.echo.ring.writeIndex, 8u * 32u);
}

// The level word (0 to -16 dB): its magnitude is the table index held to 2-42; 0 is the default 11.
TEST(V34Phase3, PresetStartTakesTheLevelWord)
{
    double reference = 0;
    for (int level = 0; level >= -16; --level) {
        DspBench bench;
        DspContext* ctx = bench.context.get();
        ctx->txLevelDb = static_cast<int16_t>(level);
        ctx->connection.originate = 1;
        InstallV34BlockHandler(ctx);
        EXPECT_EQ(ctx->blockHandler, V34PresetStart);
        ctx->blockHandler(ctx);
        EXPECT_EQ(ctx->blockHandler, V34BlockHandler);
        const V34Pump& p = ctx->v34pump;
        const int index = level == 0 ? 11 : std::max(2, -level);
        EXPECT_EQ(p.kept.presetLevelIndex, index);
        EXPECT_EQ(p.directStart, 1);
        EXPECT_EQ(p.symbolRate, 3429);
        EXPECT_EQ(p.tx.sequencer.list, V34TransmitScript(kV34ScriptPreset));
        // Through the silence into S: the block level follows the table.
        double db = 0;
        for (int b = 0; b < 34; ++b) {
            ctx->blockHandler(ctx);
            db = BlockDb(ctx->v34pump.txBlock);
        }
        if (level == 0)
            reference = db;
        else
            EXPECT_NEAR(db - reference, -(index - 11), 0.2) << "level " << level;
    }
}

TEST(V34Phase3, PresetStartCopiesTheRateLimit)
{
    DspBench bench;
    DspContext* ctx = bench.context.get();
    ctx->connection.originate = 0;
    ctx->v34.rateLimit[0] = 1;  // an answering modem copies its transmit code: 2400 bit/s
    V34PresetStart(ctx);
    const V34Pump& p = ctx->v34pump;
    EXPECT_EQ(p.rateCodes[0], 1);
    EXPECT_EQ(p.rateCodes[1], 1);
    EXPECT_EQ(p.rateMask, 1);
    EXPECT_EQ(p.symbolRate, 2400) << "code 1 runs at 2400 baud";
    EXPECT_EQ(ctx->phase2Result.callerMaxRate, 1);
}

}  // namespace
