// Phase 2's control head through the pump's commands and parameter reads: the start for each connection type,
// the options, the restart lists, results bounded against hostile INFO1 fields, and the PCM choice event
// delivered once however long the controller leaves the reply mailbox full.
#include <gtest/gtest.h>

#include <cstring>

#include "dsp_fixture.h"
#include "layer1/dsp/dsp_context.h"
#include "layer1/dsp/parameter_directory.h"
#include "layer1/modem/v34/info_frames.h"
#include "layer1/modem/v34/phase2_state.h"
#include "window/parameter_ids.h"

using dsptest::Bytes;
using dsptest::DspBench;

namespace {

Bytes Lo(uint32_t id)
{
    return Bytes{static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8)};
}

// The 16-bit words of a table parameter as the controller reads them (command 0x09, reply 0x14).
std::vector<uint16_t> ReadWords(DspBench& bench, uint32_t id)
{
    const Bytes r = bench.Reply(0x09, Lo(id));
    std::vector<uint16_t> w;
    if (r.size() < 4 || r[0] != 0x14)
        return w;
    for (size_t i = 4; i + 1 < r.size(); i += 2)
        w.push_back(static_cast<uint16_t>(r[i] | r[i + 1] << 8));
    return w;
}

uint16_t ResultWord(DspBench& bench, int word)
{
    // Every id covers 8 words from its own.
    const uint32_t base = kParamPhase2Result + static_cast<uint32_t>(word / 8) * 8;
    return ReadWords(bench, base)[word % 8];
}

LowerDeviceRecord Depths()
{
    LowerDeviceRecord r{};
    r.rxDepthBlocks = 1;
    r.txDepthBlocks = 1;
    return r;
}

// Starts phase 2 the way a test bypasses the V.8 procedure: 0xA1 {2} then a 6-byte start with a phase-2 kind.
void StartThroughCommands(DspBench& bench, uint8_t mode, bool originate, uint8_t optionByte = 0)
{
    bench.Send(0xA1, {2});
    bench.Send(0x68, {9, mode, static_cast<uint8_t>(originate ? 0x04 : 0x00), 1, optionByte, 0});
}

TEST(V34Phase2, StartForEachConnectionType)
{
    struct Case {
        uint8_t mode;
        bool originate;
        uint16_t flags;
        uint16_t originateWord;
    };
    const Case cases[] = {
        {17, true, kPhase2Caller, 1},
        {17, false, 0, 0},
        {18, false, 0, 0},
        {18, true, kPhase2Caller, 1},
        {23, true, kPhase2PcmCandidate, 0},  // a PCM candidate always answers
        {23, false, kPhase2PcmCandidate, 0},
        {24, true, kPhase2PcmCandidate, 0},
    };
    for (const Case& c : cases) {
        const LowerDeviceRecord record = Depths();
        DspBench bench(true, &record);
        StartThroughCommands(bench, c.mode, c.originate);
        const Phase2State& s = bench.context->phase2;
        EXPECT_EQ(s.flags, c.flags) << int(c.mode) << c.originate;
        EXPECT_EQ(ResultWord(bench, 31), c.originateWord) << int(c.mode) << c.originate;
        EXPECT_EQ(bench.context->connection.originate, c.originateWord) << int(c.mode);
        EXPECT_EQ(bench.context->blockHandler, &Phase2BlockHandler);
        EXPECT_EQ(s.sequencer.list, Phase2FirstList(c.flags & kPhase2Caller));
        // keptWord1: bit 0 and 30079 in the upper half; keptWord0 untouched.
        EXPECT_EQ(ReadWords(bench, kParamKeptWords), std::vector<uint16_t>{0});
        EXPECT_EQ(ReadWords(bench, kParamKeptWords + 1), std::vector<uint16_t>{0});
        EXPECT_EQ(ReadWords(bench, kParamKeptWords + 2), std::vector<uint16_t>{1});
        EXPECT_EQ(ReadWords(bench, kParamKeptWords + 3), std::vector<uint16_t>{30079});
        // The sample stream: code 10 once, then 9600 Hz in 96-sample blocks; the path latency of 1 + 1 blocks.
        EXPECT_EQ(bench.lower.CallsOf(LOWER_CODE_PHASE2).size(), 1u);
        const std::vector<dsptest::ControlCall> format = bench.lower.CallsOf(LOWER_CODE_FORMAT);
        ASSERT_FALSE(format.empty());
        EXPECT_EQ(format.back().input, (Bytes{0x80, 0x25, 96, 0}));
        EXPECT_EQ(s.pathLatency, 240);
        EXPECT_EQ(s.receiver.maxLength, static_cast<int32_t>(kInfo0Body));
        EXPECT_EQ(s.receiver.coefI, InfoRxFilterI(c.flags & kPhase2Caller));
    }
}

TEST(V34Phase2, KeptWordsSurviveResetAndOptionBitsKeepThem)
{
    DspBench bench;
    // The controller writes the kept words through their parameters (command 0x0C).
    for (uint32_t k = 0; k < 4; ++k)
        bench.Send(0x0C, {static_cast<uint8_t>(kParamKeptWords + k), static_cast<uint8_t>((kParamKeptWords + k) >> 8),
                          0, 0, static_cast<uint8_t>(0x10 + k), 0x80});
    EXPECT_EQ(bench.context->phase2.keptWord0, 0x80118010u);
    EXPECT_EQ(bench.context->phase2.keptWord1, 0x80138012u);
    bench.Send(0x60, {0});  // a reset keeps them
    EXPECT_EQ(bench.context->phase2.keptWord1, 0x80138012u);
    struct Case {
        uint32_t optionWord;
        uint32_t kept1;
    };
    const Case cases[] = {
        {0, (30079u << 16) | 0x8013},
        {1u << 1, (30079u << 16) | 0x8012},
        {1u << 3, 0x80138013u},
        {(1u << 1) | (1u << 3), 0x80138012u},
    };
    for (const Case& c : cases) {
        bench.context->phase2.keptWord1 = 0x80138012u;
        bench.context->v34.connectionOptionWord = c.optionWord;
        StartThroughCommands(bench, 17, true);
        EXPECT_EQ(bench.context->phase2.keptWord1, c.kept1) << c.optionWord;
    }
}

TEST(V34Phase2, SetOptionResultsAndInitialWait)
{
    DspBench bench;
    DspContext* ctx = bench.context.get();
    struct Case {
        int32_t option, value, returned;
    };
    const Case cases[] = {{3, 45, 30}, {3, -2, 0}, {3, 12, 12}, {2, 5, 1}, {2, 0, 0}, {1, 9, 0}, {7, 0, 4}, {4, 1, 1}};
    for (const Case& c : cases)
        EXPECT_EQ(Phase2SetOption(ctx, c.option, c.value), c.returned) << c.option << " " << c.value;
    EXPECT_NE(Phase2SetOption(ctx, 0, 3200), 0);
    ctx->phase2.restartKind = 2;
    Phase2SetOption(ctx, 1, 0);
    EXPECT_EQ(ctx->phase2.restartKind, 0);

    // The start command sets 30 ms: 288 samples before the first step's own count, on every start.
    for (int start = 0; start < 2; ++start) {
        StartThroughCommands(bench, 17, true, 0x04);
        EXPECT_EQ(ctx->phase2.shortAnswer, 1);
        EXPECT_EQ(ctx->phase2.initialWait, 30);
        EXPECT_EQ(ctx->phase2.sequencer.remaining, Phase2FirstList(1)[0].count + 288) << start;
    }
    // A start without the option in between waits the same 288 samples: the option stays in ms.
    StartPhase2(ctx);
    EXPECT_EQ(ctx->phase2.sequencer.remaining, Phase2FirstList(1)[0].count + 288);
    // The first step holds for 289 ticks: three blocks are not enough; in the fourth the one-tick INFO0
    // set-up runs and the 432-sample wait begins.
    for (int b = 0; b < 3; ++b)
        PerBlockEntry(ctx);
    EXPECT_EQ(ctx->phase2.sequencer.position, 0);
    PerBlockEntry(ctx);
    EXPECT_EQ(ctx->phase2.sequencer.position, 2);
    EXPECT_EQ(ctx->phase2.sequencer.remaining, 432 - (4 * 96 - 289 - 1));
}

TEST(V34Phase2, RateLimitsOnTheLocalInfo0)
{
    using B = std::vector<uint16_t>;
    // Capability bits in line order: 2743, 2800, 3429, 3000 low, 3000 high, 3200 low, 3200 high, 3429 allowed,
    // power reduction.
    struct Case {
        int32_t limit;
        B caps;
    };
    const Case cases[] = {
        {2400, {0, 0, 0, 0, 0, 0, 0, 1, 1}}, {2743, {0, 0, 0, 0, 0, 0, 0, 1, 1}},
        {2800, {1, 0, 0, 0, 0, 0, 0, 1, 1}}, {3000, {1, 1, 0, 0, 0, 0, 0, 1, 1}},
        {3200, {1, 1, 0, 1, 1, 0, 0, 1, 1}}, {3429, {1, 1, 0, 1, 1, 1, 1, 1, 1}},
        {0, {1, 1, 0, 1, 1, 1, 1, 1, 1}},
    };
    for (const Case& c : cases) {
        DspBench bench;
        DspContext* ctx = bench.context.get();
        StartThroughCommands(bench, 18, false);  // the defaults
        Phase2SetOption(ctx, 0, c.limit);
        StartThroughCommands(bench, 18, false);  // the limits stay
        const Info0Fields& f = ctx->phase2.localInfo0;
        EXPECT_EQ(B(f.capability, f.capability + kInfo0Capabilities), c.caps) << c.limit;
        EXPECT_EQ(f.support2400, 1);
        EXPECT_EQ(f.constellation1664, 1);
        // After a reset the record is cleared; the next start gives the defaults, never an empty INFO0.
        bench.Send(0x60, {0});
        StartThroughCommands(bench, 18, false);
        EXPECT_EQ(ctx->phase2.localInfo0.support2400, 1) << c.limit;
        EXPECT_EQ(ctx->phase2.localInfo0.capability[kInfo0Cap2800], 1) << c.limit;
    }
}

TEST(V34Phase2, RestartTypesChooseTheirLists)
{
    struct Case {
        int32_t type;
        bool ownList;
    };
    const Case cases[] = {{1, true}, {2, true}, {3, true}, {4, true}, {6, true},
                          {5, false}, {7, false}, {8, false}, {9, false}, {16, false}};
    for (bool caller : {true, false}) {
        for (const Case& c : cases) {
            DspBench bench;
            DspContext* ctx = bench.context.get();
            StartThroughCommands(bench, 17, caller);
            Phase2Result* r = RestartPhase2(ctx, c.type);
            EXPECT_EQ(r, &ctx->phase2Result);
            const StepEntry* list = ctx->phase2.sequencer.list;
            EXPECT_EQ(list, Phase2RestartList(c.type, caller)) << c.type;
            EXPECT_EQ(list != Phase2RestartList(16, caller), c.ownList) << c.type;
            EXPECT_EQ(ctx->phase2.restartType, c.type);
            EXPECT_NE(ctx->phase2.flags & kPhase2Restarting, 0);
            EXPECT_EQ(ctx->phase2.exchangeState, 1);
            EXPECT_EQ(r->restarting, 0u);
            EXPECT_EQ(ctx->phase2.sequencer.remaining, list[0].count);  // no initial wait on a restart
        }
    }
    EXPECT_NE(Phase2RestartList(16, 1), Phase2RestartList(16, 0));
}

// Retrain commands restart phase 2: type 7 in V.34, 8 in PCM mode, 9 for a PCM candidate asked to fall back.
TEST(V34Phase2, RetrainCommandRestarts)
{
    struct Case {
        uint8_t mode;
        int16_t restartKind;
        int32_t type;
    };
    const Case cases[] = {{17, 0, 7}, {18, 2, 7}, {23, 0, 8}, {23, 2, 9}};
    for (const Case& c : cases) {
        DspBench bench;
        StartThroughCommands(bench, c.mode, true);
        bench.context->phase2.restartKind = c.restartKind;
        bench.Send(0x69, {});
        EXPECT_EQ(bench.context->phase2.restartType, c.type) << int(c.mode) << " " << c.restartKind;
        EXPECT_EQ(bench.context->phase2.sequencer.list, Phase2RestartList(c.type, c.mode != 23));
    }
}

TEST(V34Phase2, FallbackRestartEndsInV34Phase3)
{
    DspBench bench;
    DspContext* ctx = bench.context.get();
    ctx->modeFlagByte |= 0x02;  // PCM offered
    StartThroughCommands(bench, 23, false);
    ctx->phase2.restartKind = 2;
    RestartPhase2(ctx, 5);
    EXPECT_EQ(ctx->phase2.restartType, kRestartV34Fallback);
    ctx->phase2.remoteInfo0.pcmAnswer = 1;
    ctx->phase2.flags |= kPhase2Finished;
    PerBlockEntry(ctx);
    EXPECT_EQ(ctx->v34.fallenBackToV34, 1);
    EXPECT_EQ(ctx->v34.txRateCode, 14);
    EXPECT_EQ(ctx->v34.phase3Starts, 1);
    EXPECT_EQ(ctx->pcm.modeStarts, 0);
    EXPECT_TRUE(bench.Taken().empty());  // no PCM event
    EXPECT_EQ(ctx->phase2.flags & kPhase2Restarting, 0);
    // A reset clears the fall-back word.
    bench.Send(0x60, {0});
    EXPECT_EQ(ctx->v34.fallenBackToV34, 0);
}

// Fields from the line outside their ranges are bounded before phases 3 and 4 index with them.
TEST(V34Phase2, HostileInfo1FieldsAreBounded)
{
    struct Case {
        const char* name;
        Info1aFields a;
        uint16_t entryPre, entryRate, entryHigh;
        uint16_t callerIndex, callerPre, callerRate, answererIndex, answererPre, answererRate;
    };
    const Case cases[] = {
        {"answerer index 6", {0, 0, 0, 0, 3, 9, 6, 2, 0}, 4, 9, 0, 2, 3, 9, 0, 4, 9},
        {"answerer index 7", {0, 0, 0, 0, 3, 9, 7, 2, 0}, 4, 9, 0, 2, 3, 9, 0, 4, 9},
        {"caller index 7", {0, 0, 0, 0, 3, 9, 1, 7, 0}, 4, 9, 0, 0, 3, 9, 1, 4, 9},
        {"pre-emphasis 15", {0, 0, 0, 1, 15, 9, 3, 3, 0}, 15, 9, 0, 3, 0, 9, 3, 0, 9},
        {"pre-emphasis 11", {0, 0, 0, 1, 11, 9, 3, 3, 0}, 11, 9, 0, 3, 0, 9, 3, 0, 9},
        {"rate code 15", {0, 0, 0, 0, 2, 15, 1, 1, 0}, 2, 15, 1, 1, 2, 14, 1, 2, 14},
        {"3429 high carrier", {0, 0, 0, 1, 2, 12, 5, 5, 0}, 2, 12, 1, 5, 2, 12, 5, 2, 12},
    };
    for (const Case& c : cases) {
        DspBench bench;
        DspContext* ctx = bench.context.get();
        StartThroughCommands(bench, 17, true);
        Phase2State& s = ctx->phase2;
        s.info1a = c.a;
        for (Info1cRate& r : s.info1c.rate)
            r = {c.entryHigh, c.entryPre, c.entryRate};
        CollectPhase2Results(ctx);
        const std::vector<uint16_t> caller = ReadWords(bench, kParamPhase2Result);
        const std::vector<uint16_t> answerer = ReadWords(bench, kParamPhase2Result + 8);
        EXPECT_EQ(caller[0], c.callerIndex) << c.name;
        EXPECT_EQ(caller[2], c.callerPre) << c.name;
        EXPECT_EQ(caller[3], c.callerRate) << c.name;
        EXPECT_EQ(answerer[0], c.answererIndex) << c.name;
        EXPECT_EQ(answerer[2], c.answererPre) << c.name;
        EXPECT_EQ(answerer[3], c.answererRate) << c.name;
        EXPECT_EQ(answerer[1], c.entryHigh) << c.name;
    }
}

TEST(V34Phase2, ResultsFromInfo1AndTheProbe)
{
    DspBench bench;
    DspContext* ctx = bench.context.get();
    StartThroughCommands(bench, 18, false);
    Phase2State& s = ctx->phase2;
    s.info1a = Info1aFields{2, 3, 40, 1, 5, 11, 4, 3, 500};
    s.info1c.minPowerReduction = 1;
    s.info1c.extraPowerReduction = 2;
    s.info1c.mdLength = 77;
    s.info1c.freqOffset = 0x3FF;
    s.info1c.rate[4] = {1, 6, 12};
    s.remoteInfo0.rawFirstWord = 0xBEEF;
    s.rtd = 1000;
    for (int k = 0; k < kProbeCombinations; ++k) {
        s.probe.preEmphasis[k] = static_cast<uint16_t>(k);
        s.probe.maxRate[k] = static_cast<uint16_t>(14 - k);
    }
    s.probe.frequencyOffset = 5;
    s.probe.spectrum[63] = 0x12345678;
    CollectPhase2Results(ctx);
    EXPECT_EQ(ReadWords(bench, kParamPhase2Result), (std::vector<uint16_t>{3, 1, 5, 11, 77, 0x3FF, 2, 3}));
    EXPECT_EQ(ReadWords(bench, kParamPhase2Result + 8), (std::vector<uint16_t>{4, 1, 6, 12, 1, 2, 40, 500}));
    EXPECT_EQ(ResultWord(bench, 16), MdLengthForRtd(1000, 3, 0));
    // Id 0x1678: the remote INFO0's first word and the six capability words (3429 keeps only its low byte).
    EXPECT_EQ(ReadWords(bench, kParamPhase2Info0), (std::vector<uint16_t>{0xBEEF, 0xD1E0, 0xB3C2, 0x95A4, 0x7786,
                                                                         0x5968, 0x004A}));
    const std::vector<uint16_t> offset = ReadWords(bench, kParamPhase2FreqOffset);
    EXPECT_EQ(offset, (std::vector<uint16_t>{0xFFFB, 0xFFFF}));
    EXPECT_EQ(ReadWords(bench, kParamPhase2Spectrum + 8 * 15), (std::vector<uint16_t>{0, 0, 0, 0, 0, 0, 0x5678, 0x1234}));
    // With the short answer only the INFO0 word and the PCM fields change.
    s.shortAnswer = 1;
    s.info1a.callerRateIndex = 1;
    s.remoteInfo0.rawFirstWord = 0x1111;
    s.remoteInfo0.pcmField5 = 17;
    CollectPhase2Results(ctx);
    EXPECT_EQ(ResultWord(bench, 0), 3);
    EXPECT_EQ(ResultWord(bench, 21), 0x1111);
    EXPECT_EQ(ResultWord(bench, 39), 17);
}

TEST(V34Phase2, MdLengthForTheRoundTrip)
{
    EXPECT_EQ(MdLengthForRtd(0, -1, 0), 120);
    EXPECT_EQ(MdLengthForRtd(0, -1, 1), 121);
    EXPECT_EQ(MdLengthForRtd(0, 0, 0), 1200);
    EXPECT_EQ(MdLengthForRtd(0, 5, 0), 840);
    // A long round trip sets bit 15 of the rate word.
    EXPECT_NE(MdLengthForRtd(2000, 2, 0) & 0x8000, 0);
    EXPECT_EQ(MdLengthForRtd(100, 2, 0) & 0x8000, 0);
}

// The PCM choice reaches the controller exactly once, whether the mailbox is busy for many blocks with room in
// the reply queue, or the queue itself is full when phase 2 ends.
TEST(V34Phase2, PcmChoiceEventDeliveredOnce)
{
    for (int queued : {0, 15, 16}) {
        DspBench bench;
        DspContext* ctx = bench.context.get();
        ctx->modeFlagByte |= 0x02;
        StartThroughCommands(bench, 23, false);
        bench.holdMailbox = true;
        // Other packets fill register 0 and the queue behind it.
        for (int k = 0; k <= queued; ++k)
            PostReply(bench.block.get(), IcdEvent, 2, std::vector<uint8_t>{static_cast<uint8_t>(k), 9}.data());
        ctx->phase2.remoteInfo0.pcmAnswer = 1;
        ctx->phase2.flags |= kPhase2Finished;
        for (int b = 0; b < 50; ++b)
            PerBlockEntry(ctx);
        EXPECT_EQ(ctx->pcm.modeStarts, 1) << queued;
        EXPECT_EQ(ctx->phase2.eventPending, queued == 16 ? 1 : 0) << queued;  // the queue was full
        bench.holdMailbox = false;
        int events = 0, others = 0;
        for (int b = 0; b < 60; ++b) {
            DspBench::Callback(bench.block.get());
            PerBlockEntry(ctx);
            for (const Bytes& p : bench.Taken()) {
                events += p == Bytes{0xD4, 0, 2, 0, 1, 6};
                others += p.size() == 6 && p[0] == 0xD4 && p[5] == 9;
            }
        }
        EXPECT_EQ(events, 1) << queued;
        EXPECT_EQ(others, queued + 1) << queued;
    }
}

TEST(V34Phase2, PumpOptionsSetThe2400OnlyWord)
{
    DspBench bench;
    bench.Send(0x64, {1, 0});
    EXPECT_EQ(bench.context->phase2.only2400, 1);
    bench.Send(0x64, {3, 0});
    EXPECT_EQ(bench.context->phase2.only2400, 0);
    bench.Send(0x64, {1, 0});
    bench.Send(0x60, {0});
    EXPECT_EQ(bench.context->phase2.only2400, 0);
}

}  // namespace
