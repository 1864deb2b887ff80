// Sample-stream interface and idle block loop against a recording fake of the sample-stream driver.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "layer1/dsp/detector_state.h"
#include "layer1/dsp/dsp_context.h"

namespace {

struct ControlCall {
    int entry;  // 1 control, 2 second control
    uint32_t code;
    uint32_t word0;
    uint32_t word1;
    uint32_t word2;
};

struct FakeLower {
    LowerDriverInterface iface{};
    std::vector<ControlCall> calls;
    std::vector<uint32_t> readBytes;
    std::vector<uint32_t> writeBytes;
    std::vector<int16_t> lastWrite;
    int16_t nextSample = 0;
    bool failIo = false;
    uint32_t codec1 = 1;      // value of codec register 0x1000001
    uint32_t codec12 = 64;    // value of codec register 0x100000C
    uint32_t watchdogEnable = 0;

    static uint16_t Read(void* h, int16_t* buf, uint32_t bytes)
    {
        auto* f = static_cast<FakeLower*>(h);
        f->readBytes.push_back(bytes);
        if (f->failIo)
            return 0;
        for (uint32_t i = 0; i < bytes / 2; ++i)
            buf[i] = f->nextSample++;
        return 1;
    }
    static uint16_t Write(void* h, int16_t* buf, uint32_t bytes)
    {
        auto* f = static_cast<FakeLower*>(h);
        f->writeBytes.push_back(bytes);
        f->lastWrite.assign(buf, buf + bytes / 2);
        return f->failIo ? 0 : 1;
    }
    static int32_t Record(FakeLower* f, int entry, uint32_t code, void* in, void* out)
    {
        uint32_t w[3] = {};
        size_t size = (code == 30) ? 12 : (code == 16 || code == 17) ? 8 : 4;
        if (in != nullptr && code != 20)
            std::memcpy(w, in, size);
        f->calls.push_back({entry, code, w[0], w[1], w[2]});
        if (code == 17 && out != nullptr) {
            auto* a = static_cast<LowerCodecAccess*>(out);
            a->value = (w[0] == 0x1000001) ? f->codec1 : (w[0] == 0x100000C) ? f->codec12 : 0;
        }
        if (code == 20 && out != nullptr) {
            auto* r = static_cast<LowerDeviceRecord*>(out);
            r->rxDepthBlocks = 2;
            r->txDepthBlocks = 1;
            r->extraSamples = 37;
            r->watchdogEnable = f->watchdogEnable;
        }
        return 0;
    }
    static int32_t Control(void* h, uint32_t code, void* in, void* out)
    {
        return Record(static_cast<FakeLower*>(h), 1, code, in, out);
    }
    static int32_t Control2(void* h, uint32_t code, void* in, void* out)
    {
        return Record(static_cast<FakeLower*>(h), 2, code, in, out);
    }
    FakeLower()
    {
        iface.readBlock = Read;
        iface.writeBlock = Write;
        iface.control = Control;
        iface.secondControl = Control2;
        iface.handle = this;
    }
    std::vector<uint32_t> Codes() const
    {
        std::vector<uint32_t> out;
        for (const auto& c : calls)
            out.push_back(c.code);
        return out;
    }
};

struct LowerAudioFixture : ::testing::Test {
    FakeLower fake;
    std::unique_ptr<LowerAudioInterface> la = std::make_unique<LowerAudioInterface>();
    void SetUp() override { ASSERT_EQ(SetupLowerAudio(la.get(), &fake.iface), la.get()); }
};

TEST_F(LowerAudioFixture, SetupDefaultsAndNullInterface)
{
    EXPECT_EQ(la->format.rate, 9600);
    EXPECT_EQ(la->format.blockLength, 96);
    EXPECT_EQ(SetupLowerAudio(la.get(), nullptr), nullptr);
}

TEST_F(LowerAudioFixture, ReadTwiceInOneBlockGivesBlockThenNothing)
{
    int16_t buf[kLowerBufferSamples];
    EXPECT_EQ(ReadSampleBlock(la.get(), buf, 96), 96);
    EXPECT_EQ(ReadSampleBlock(la.get(), buf, 96), 0);
    EXPECT_EQ(fake.readBytes, std::vector<uint32_t>({192}));
    // Partial reads hand out the rest of the fetched block in order.
    ResetBlockIndices(la.get());
    EXPECT_EQ(ReadSampleBlock(la.get(), buf, 50), 50);
    EXPECT_EQ(buf[0], 96);
    EXPECT_EQ(ReadSampleBlock(la.get(), buf, 50), 46);
    EXPECT_EQ(buf[0], 96 + 50);
}

TEST_F(LowerAudioFixture, WritesOf40TakeFortyFortySixteenAndHandTheBlockDown)
{
    int16_t src[96];
    for (int i = 0; i < 96; ++i)
        src[i] = static_cast<int16_t>(i + 1);
    EXPECT_EQ(WriteSampleBlock(la.get(), src, 40), 40);
    EXPECT_EQ(WriteSampleBlock(la.get(), src, 40), 40);
    EXPECT_TRUE(fake.writeBytes.empty());
    EXPECT_EQ(WriteSampleBlock(la.get(), src, 40), 16);
    EXPECT_EQ(fake.writeBytes, std::vector<uint32_t>({192}));
    EXPECT_EQ(fake.lastWrite[80], 1);
    EXPECT_EQ(WriteSampleBlock(la.get(), src, 40), 0);
}

TEST_F(LowerAudioFixture, BadCountsAndIoFailures)
{
    int16_t buf[kLowerBufferSamples] = {};
    const struct {
        int32_t n;
        bool write;
        int32_t status;
    } cases[] = {{-1, false, kLowerStatusBadCount}, {97, false, kLowerStatusBadCount},
                 {-1, true, kLowerStatusBadCount},  {97, true, kLowerStatusBadCount},
                 {INT32_MIN, true, kLowerStatusBadCount}};
    for (const auto& c : cases) {
        ResetBlockIndices(la.get());
        EXPECT_EQ(c.write ? WriteSampleBlock(la.get(), buf, c.n) : ReadSampleBlock(la.get(), buf, c.n), 0);
        EXPECT_EQ(la->status, c.status) << c.n;
    }
    fake.failIo = true;
    ResetBlockIndices(la.get());
    EXPECT_EQ(ReadSampleBlock(la.get(), buf, 96), 0);
    EXPECT_EQ(la->status, kLowerStatusIoFailure);
    EXPECT_EQ(WriteSampleBlock(la.get(), buf, 96), 0);
    EXPECT_EQ(la->status, kLowerStatusIoFailure);
}

TEST_F(LowerAudioFixture, FormatChangeTakesEffectForTheNextBlock)
{
    int16_t buf[kLowerBufferSamples];
    ReadSampleBlock(la.get(), buf, 96);
    EXPECT_EQ(SetLowerFormat(la.get(), 7200, 48), 0);
    ResetBlockIndices(la.get());
    EXPECT_EQ(ReadSampleBlock(la.get(), buf, 96), 0);  // more than the new block
    EXPECT_EQ(ReadSampleBlock(la.get(), buf, 48), 48);
    EXPECT_EQ(fake.readBytes, std::vector<uint32_t>({192, 96}));
    // A block longer than the buffers is refused and the format kept.
    EXPECT_NE(SetLowerFormat(la.get(), 9600, 2000), 0);
    EXPECT_NE(SetLowerFormat(la.get(), 9600, 0), 0);
    EXPECT_EQ(la->format.blockLength, 48);
}

TEST_F(LowerAudioFixture, ControlRoutingAndStoredArguments)
{
    StopLowerStream(la.get());
    EXPECT_EQ(la->streamByte, 1);
    StartLowerStream(la.get());
    EXPECT_EQ(la->streamByte, 0);
    SetLowerOption8(la.get(), 2);
    SetLowerHostActive(la.get(), 0);
    SetLowerHostIdle(la.get());
    SetLowerGain30(la.get(), 4, 5, 6);
    SetLowerHostControl(la.get(), 2);
    SetLowerCallerId(la.get(), 1);
    uint32_t v13 = 0x01020304;
    LowerControl(la.get(), 13, &v13, nullptr);
    LowerControl(la.get(), 24, nullptr, nullptr);
    const std::vector<ControlCall> expected = {
        {1, 1, 0, 0, 0},  {1, 2, 0, 0, 0},  {2, 30, 3, 0, 2}, {1, 8, 2, 0, 0},   {2, 32, 0, 0, 0},
        {2, 33, 0, 0, 0}, {2, 30, 4, 5, 6}, {1, 18, 2, 0, 0}, {1, 19, 1, 0, 0}, {1, 13, 0x01020304, 0, 0},
        {2, 24, 0, 0, 0},
    };
    ASSERT_EQ(fake.calls.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(fake.calls[i].entry, expected[i].entry) << i;
        EXPECT_EQ(fake.calls[i].code, expected[i].code) << i;
        EXPECT_EQ(fake.calls[i].word0, expected[i].word0) << i;
        EXPECT_EQ(fake.calls[i].word1, expected[i].word1) << i;
        EXPECT_EQ(fake.calls[i].word2, expected[i].word2) << i;
    }
    uint32_t stored;
    std::memcpy(&stored, la->lastArg13, 4);
    EXPECT_EQ(stored, 0x01020304u);
    std::memcpy(&stored, la->lastArg8, 4);
    EXPECT_EQ(stored, 2u);
}

TEST_F(LowerAudioFixture, GainTable)
{
    const struct {
        int32_t dB;
        int16_t gain;
        int32_t status;
    } cases[] = {{0, 32767, 0},  {-1, 31990, 0}, {-20, 3589, 0}, {-91, 1, 0},        {-92, 0, 0},
                 {-95, 0, 0},    {1, 0, -10},    {-96, 0, -10},  {INT32_MIN, 0, -10}, {INT32_MAX, 0, -10}};
    for (const auto& c : cases) {
        EXPECT_EQ(DbToGain(la.get(), c.dB), c.gain) << c.dB;
        EXPECT_EQ(la->status, c.status) << c.dB;
    }
    // Monotonic, and from entry 1 on each entry is 1 dB below the previous one until the values get too small
    // to resolve a dB.
    for (int k = 1; k < kGainTableEntries; ++k)
        EXPECT_LE(kGainTable[k], kGainTable[k - 1]);
    for (int k = 2; k < 40; ++k)
        EXPECT_NEAR(20.0 * std::log10(static_cast<double>(kGainTable[k]) / kGainTable[k - 1]), -1.0, 0.1) << k;
}

TEST(BlockPower, LevelsTable)
{
    std::vector<int16_t> x(96);
    EXPECT_EQ(BlockPowerDb(x.data(), 96), -87);
    EXPECT_EQ(BlockPowerDb(x.data(), 0), 0);
    EXPECT_EQ(BlockPowerDb(x.data(), -5), 0);
    // A sine of amplitude A * 10^(-d/20): the result moves by about -d.
    int previous = 0;
    for (int d = 0; d <= 60; d += 3) {
        const double a = 32767.0 * std::pow(10.0, -d / 20.0);
        for (int i = 0; i < 96; ++i)
            x[i] = static_cast<int16_t>(std::lround(a * std::sin(2.0 * M_PI * 1000.0 * i / 9600.0)));
        const int level = BlockPowerDb(x.data(), 96);
        EXPECT_NEAR(level, -d, 1) << d;
        if (d > 0) {
            EXPECT_LT(level, previous);
        }
        previous = level;
    }
    // The smallest powers, where the leading bit sits at the bottom of the scale (no shift by -1).
    const struct {
        std::vector<int16_t> samples;
        int32_t level;
    } small[] = {{{1, 1}, -87}, {{2, 0}, -84}, {{3, 0, 0}, -82}, {{2, 2}, -81}};
    for (const auto& c : small)
        EXPECT_EQ(BlockPowerDb(c.samples.data(), static_cast<int32_t>(c.samples.size())), c.level);
}

// The idle loop with a DspContext on the fake driver.
struct IdleLoopFixture : ::testing::Test {
    FakeLower fake;
    std::unique_ptr<DspContext> ctx = std::make_unique<DspContext>();
    std::unique_ptr<DspInterfaceBlock> block = std::make_unique<DspInterfaceBlock>();
    int callbacks = 0;
    static IdleLoopFixture* current;

    static void Callback(DspInterfaceBlock*) { current->callbacks++; }
    void Start()
    {
        current = this;
        *ctx = DspContext{};
        *block = DspInterfaceBlock{};
        SetupLowerAudio(&ctx->lowerAudioRecord, &fake.iface);
        InitDspContext(ctx.get(), &ctx->lowerAudioRecord, block.get());
        InitInterfaceBlock(block.get(), Callback, ctx->commandEntry);
        fake.calls.clear();
    }
    void Block() { ctx->perBlockEntry(ctx.get()); }
};
IdleLoopFixture* IdleLoopFixture::current = nullptr;

TEST_F(IdleLoopFixture, StartFillsHeadAndReadsTheDeviceRecord)
{
    Start();
    EXPECT_EQ(ctx->interfaceBlock, block.get());
    EXPECT_EQ(ctx->blockHandler, &IdleBlockHandler);
    EXPECT_EQ(ctx->perBlockEntry, &PerBlockEntry);
    EXPECT_EQ(block->commandEntry, ctx->commandEntry);
    EXPECT_EQ(ctx->lowerAudio->rxDepthBlocks, 2);
    EXPECT_EQ(ctx->lowerAudio->extraSamples, 37u);
}

TEST_F(IdleLoopFixture, IdleBlockReadsAndWritesOneBlockAndMeasuresLevel)
{
    Start();
    Block();
    Block();
    EXPECT_EQ(fake.readBytes, std::vector<uint32_t>({192, 192}));
    EXPECT_EQ(fake.writeBytes, std::vector<uint32_t>({192, 192}));
    EXPECT_GT(ctx->rxLevel, -87);  // the fake delivers a ramp
    EXPECT_EQ(ctx->rxLevelParam, 8 - ctx->rxLevel);
    EXPECT_EQ(fake.lastWrite, std::vector<int16_t>(96, 0));
}

TEST_F(IdleLoopFixture, HookBitSendsEachChangeOnce)
{
    Start();
    block->window.reg[242] = 0x04;  // on hook (relay active low)
    Block();
    Block();
    Block();
    // Code 2 once, then idle mode's format (code 4); nothing more while the bit stays.
    EXPECT_EQ(fake.Codes(), std::vector<uint32_t>({2, 4}));
    EXPECT_EQ(ctx->modeState, 0);
    block->window.reg[242] = 0x00;
    Block();
    Block();
    EXPECT_EQ(fake.Codes(), std::vector<uint32_t>({2, 4, 1}));
    EXPECT_EQ(fake.readBytes.size(), 5u);  // the stream never stopped
}

// Back on hook with no modulation the idle detectors run again (ring reports come from them); after a
// modulation was started the hook change leaves the detectors to the controller.
TEST_F(IdleLoopFixture, OnHookWithNoModulationRunsTheIdleDetectors)
{
    for (const int32_t mode : {0, 18}) {
        Start();
        ctx->modeNumber = mode;
        block->window.reg[242] = 0x04;
        Block();
        EXPECT_EQ(ctx->seqB.list == kDetectorList, mode == 0) << "mode number " << mode;
        EXPECT_EQ(ctx->modeState, 0) << "mode number " << mode;
    }
}

TEST_F(IdleLoopFixture, IdleModeNotifiesOnlyWhenEnabled)
{
    Start();
    block->window.reg[242] = 0x04;
    Block();
    EXPECT_EQ(callbacks, 0);
    EXPECT_EQ(block->window.reg[255], 1);
    block->window.reg[242] = 0;
    Block();
    block->window.reg[247] = 0x02;
    block->window.reg[255] = 0;
    block->window.reg[242] = 0x04;
    Block();
    EXPECT_EQ(callbacks, 1);
    EXPECT_EQ(block->window.reg[255], 0);
}

TEST_F(IdleLoopFixture, CodecWatchdogReinitialisesABadCodecAndRestores)
{
    fake.watchdogEnable = 1;
    fake.codec12 = 5;  // unhealthy
    Start();
    ctx->modeState = 0;
    ctx->tableParam6191[0] = 0x1234;
    ctx->tableParam6186[0] = 0x0056;
    for (int i = 0; i < 999; ++i)
        Block();
    EXPECT_TRUE(fake.calls.empty());
    Block();  // block 1000: two reads, then code 21
    EXPECT_EQ(fake.Codes(), std::vector<uint32_t>({17, 17, 21}));
    for (int i = 0; i < 5; ++i)
        Block();
    EXPECT_EQ(fake.Codes().size(), 3u);
    Block();  // block 1006: restore
    EXPECT_EQ(fake.Codes(), std::vector<uint32_t>({17, 17, 21, 16, 16}));
    EXPECT_EQ(fake.calls[3].word0, 0x1000010u);
    EXPECT_EQ(fake.calls[3].word1, 0x34u);
    EXPECT_EQ(fake.calls[4].word0, 0x1000011u);
    EXPECT_EQ(fake.calls[4].word1, 0x56u);
    EXPECT_EQ(ctx->watchdog.counter, 0u);
}

TEST_F(IdleLoopFixture, CodecWatchdogLeavesAHealthyCodecAndABusyPump)
{
    fake.watchdogEnable = 1;
    Start();
    ctx->modeState = 0;
    for (int i = 0; i < 1010; ++i)
        Block();
    EXPECT_EQ(fake.Codes(), std::vector<uint32_t>({17, 17}));
    fake.calls.clear();
    ctx->watchdog.counter = 0;
    ctx->modeState = 2;
    for (int i = 0; i < 1010; ++i)
        Block();
    EXPECT_TRUE(fake.calls.empty());
}

TEST(Hold, ReleaseEndsTheStepAndRestartsUnlessSkipped)
{
    static const StepEntry list[] = {{{nullptr}, -1}, kStepEnd};
    auto ctx = std::make_unique<DspContext>();
    ControlSequencer(&ctx->fax.tx.inner, SEQ_START_AT, list, 0);
    SetHold(ctx.get());
    EXPECT_EQ(ctx->command.hold, 1);
    ReleaseHold(ctx.get());
    EXPECT_EQ(ctx->command.hold, 0);
    EXPECT_EQ(ctx->fax.tx.inner.position, -1);
    EXPECT_EQ(ctx->fax.tx.inner.remaining, 0);

    ControlSequencer(&ctx->fax.tx.inner, SEQ_START_AT, list, 0);
    ctx->command.holdSkip = 1;
    ReleaseHold(ctx.get());
    EXPECT_EQ(ctx->fax.tx.inner.position, 0);
    EXPECT_EQ(ctx->fax.tx.inner.remaining, 0);
    EXPECT_EQ(ctx->command.holdSkip, 0);

    ctx->fskV21Ch2List = list;
    ControlSequencer(&ctx->seqA, SEQ_START_AT, list, 0);
    ReleaseHold(ctx.get());
    EXPECT_EQ(ctx->seqA.position, -1);
}

}  // namespace
