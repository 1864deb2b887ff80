// Parameter directories through commands 0x09-0x0E: packed rate limits, live codec reads and writes, voice
// gains, the download table and its bounds, detector coefficient sets, and exact echoes of absent ids.
#include <gtest/gtest.h>

#include "dsp_fixture.h"
#include "layer1/dsp/parameter_directory.h"
#include "window/parameter_ids.h"

using dsptest::Bytes;
using dsptest::DspBench;

namespace {

Bytes Lo(uint32_t id)
{
    return Bytes{static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8)};
}

Bytes Cat(Bytes a, const Bytes& b)
{
    for (uint8_t v : b)
        a.push_back(v);
    return a;
}

Bytes ReadMemory(DspBench& bench, uint32_t id)
{
    return bench.Reply(id & 0x10000 ? 0x0B : 0x0A, Lo(id));
}

TEST(DspParameters, PackedRateLimitsAfterStart)
{
    const struct {
        const char* name;
        Bytes start;
        uint16_t packed;
    } cases[] = {
        // originating, rate code 9 (limit 6) on field 1, the other direction 14
        {"mode 17 originating", {9, 17, 0x04, 0}, static_cast<uint16_t>(14 + 6 * 32)},
        // answering, rate code 20 (limit 13) on field 0
        {"mode 18 answering", {20, 18, 0x00, 0}, static_cast<uint16_t>(13 + 14 * 32)},
        {"code 11 originating", {11, 17, 0x04, 0}, static_cast<uint16_t>(14 + 8 * 32)},
        {"code 16 answering", {16, 17, 0x00, 0}, static_cast<uint16_t>(9 + 14 * 32)},
        {"code 12 clears both", {12, 17, 0x04, 0}, 0},
        {"code 3 clears both", {3, 17, 0x04, 0}, 0},
    };
    for (const auto& c : cases) {
        DspBench bench;
        bench.Send(0x68, c.start);
        EXPECT_EQ(ReadMemory(bench, 193), Cat({0x15, 0, 2, 0}, Lo(c.packed))) << c.name;
    }
    // All six fields take their places.
    DspBench bench;
    const uint16_t f[6] = {31, 15, 1, 7, 1, 1};
    for (int i = 0; i < 6; ++i)
        bench.context->parameters.rateRecord[i] = f[i];
    EXPECT_EQ(ReadMemory(bench, 192), Cat({0x15, 0, 2, 0}, Lo(0x7FFF)));
    bench.context->parameters.rateRecord[0] = 0;
    bench.context->parameters.rateRecord[3] = 2;  // f4 = 2 sits at bits 10-12
    EXPECT_EQ(ReadMemory(bench, 192), Cat({0x15, 0, 2, 0}, Lo(0x7FFF - 31 - (5 << 10))));
}

TEST(DspParameters, RateLimitAndRenegotiateUseTheDirection)
{
    DspBench bench;
    bench.Send(0x68, {9, 17, 0x04, 0});
    bench.context->v34.directionFlag = 0;
    EXPECT_EQ(bench.Reply(0x85, {5}), (Bytes{0x85, 0, 1, 0, 5}));
    EXPECT_EQ(bench.context->v34.rateLimit[0], 2);
    bench.context->v34.directionFlag = 1;
    bench.Send(0x6B, {0xC0 | 18});  // bits 6-7 are not part of the rate code
    EXPECT_EQ(bench.context->v34.rateLimit[1], 11);
    EXPECT_EQ(bench.context->v34.v34State, 1);
    bench.context->v34.v34State = 5;
    bench.Send(0x6B, {2});
    EXPECT_EQ(bench.context->v34.rateLimit[1], 0);
    EXPECT_EQ(bench.context->v34.v34State, 5);
    // Outside V.34 the limit command changes nothing.
    bench.Send(0x68, {5, 6, 0x04, 0});
    bench.Send(0x85, {9});
    EXPECT_EQ(bench.context->v34.rateLimit[1], 0);
}

TEST(DspParameters, LiveCodecReads)
{
    LowerDeviceRecord record{};
    record.codecAddressA[4] = 0x10;
    record.codecAddressA[6] = 0x12;
    record.codecAddressA[7] = 0x13;
    record.codecAddressB[63] = 0x3F;
    DspBench bench(true, &record);
    bench.lower.codec[0x2000010] = 0x11223344;
    bench.lower.codec[0x2000012] = 0xA0B0C0D0;
    bench.lower.codec[0x2000013] = 7;
    bench.lower.codec[0x100003F] = 0xCAFEF00D;
    // Index 5 has a zero address: it reads 0 without a query.
    EXPECT_EQ(ReadMemory(bench, 6408), (Bytes{0x15, 0, 16, 0, 0x44, 0x33, 0x22, 0x11, 0, 0, 0, 0, 0xD0, 0xC0, 0xB0,
                                              0xA0, 7, 0, 0, 0}));
    EXPECT_EQ(bench.lower.CallsOf(17).size(), 3u);
    EXPECT_EQ(ReadMemory(bench, 6528 + 8 * 15),
              (Bytes{0x15, 0, 16, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x0D, 0xF0, 0xFE, 0xCA}));
}

TEST(DspParameters, CodecImageOnlyInLiveMode)
{
    LowerDeviceRecord record{};
    record.codecMode = 4;
    DspBench live(true, &record);
    for (uint32_t s = 1; s <= 19; ++s)
        live.lower.codec[s] = 0x100 + s;  // low byte s, a bit above it
    const Bytes image = live.Reply(0x09, {0x20, 0x18, 0, 0});  // 6176
    ASSERT_EQ(image.size(), 20u);
    EXPECT_EQ(Bytes(image.begin(), image.begin() + 4), (Bytes{0x14, 0, 16, 0}));
    // word 0: query 1 (0x101) OR low byte of query 2 (0x02) << 8
    EXPECT_EQ(image[4], 0x01);
    EXPECT_EQ(image[5], 0x03);
    // word 7: query 17 OR 18 << 8
    EXPECT_EQ(image[18], 0x11);
    EXPECT_EQ(image[19], 0x13);
    EXPECT_EQ(live.Reply(0x09, {0x28, 0x18, 0, 0}), (Bytes{0x14, 0, 2, 0, 0x00, 19}));  // 6184

    DspBench idle;
    idle.lower.codec[1] = 0x55;
    EXPECT_EQ(idle.Reply(0x09, {0x20, 0x18, 0, 0}), Cat({0x14, 0, 16, 0}, Bytes(16, 0)));
    EXPECT_EQ(idle.Reply(0x09, {0x28, 0x18, 0, 0}), (Bytes{0x14, 0, 2, 0, 0, 0}));
    EXPECT_TRUE(idle.lower.CallsOf(17).empty());
}

TEST(DspParameters, CodecSettingWrites)
{
    {
        LowerDeviceRecord record{};
        record.codecMode = 4;
        DspBench bench(true, &record);
        EXPECT_TRUE(bench.Send(0x0C, {0x2F, 0x18, 0, 0, 0x5A, 0x21}).empty());  // 6191 = {x 0x5A, y 0x21}
        EXPECT_EQ(bench.lower.codec[0x1000021], 0x5Au);
        EXPECT_EQ(bench.context->tableParam6191[0], 0x215A);
    }
    DspBench bench;
    bench.lower.codec[0x100005C] = 0xFF;
    bench.Send(0x0C, {0x2F, 0x18, 0, 0, 0x6F, 0});  // x = 0x6F
    // (0xFF & ~0xA2) | (0x6F & 0x21) | ((0x6F & 0x4E) * 2)
    EXPECT_EQ(bench.lower.codec[0x100005C], (0xFFu & ~0xA2u) | 0x21u | (0x4Eu * 2));
    bench.lower.codec[0x1000062] = 0xE7;
    bench.Send(0x0C, {0x2A, 0x18, 0, 0, 0x08, 0});  // 6186, x = 0x08
    EXPECT_EQ(bench.lower.codec[0x1000062], 0xEFu);
}

TEST(DspParameters, VoiceGainsSendTwoControl30Calls)
{
    const struct {
        uint16_t value;
        uint32_t low;
        uint32_t high;
    } cases[] = {{0x5A00, 1, 2}, {0x0000, 3, 3}, {0xF900, 2, 1}, {0x1100, 2, 2}};
    for (const auto& c : cases) {
        DspBench bench;
        // 66100 is bank 1, address 564.
        EXPECT_TRUE(bench.Send(0x0E, Cat(Lo(564), Lo(c.value))).empty());
        const auto calls = bench.lower.CallsOf(30);
        ASSERT_EQ(calls.size(), 2u);
        auto gain = [](uint32_t sel, uint32_t v, uint32_t level) {
            Bytes b;
            for (uint32_t w : {sel, v, level})
                for (int i = 0; i < 4; ++i)
                    b.push_back(static_cast<uint8_t>(w >> (8 * i)));
            return b;
        };
        EXPECT_EQ(calls[0].input, gain(3, c.value, c.low)) << c.value;
        EXPECT_EQ(calls[1].input, gain(4, c.value, c.high)) << c.value;
    }
}

TEST(DspParameters, DownloadTableCounterAndBounds)
{
    DspBench bench;
    ParameterArea& a = bench.context->parameters;
    const Bytes twelve{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    // 16-byte command: 12 bytes at word 0, counter + 12, no reply.
    EXPECT_TRUE(bench.Send(0x0C, Cat(Cat(Lo(33840), {0, 0}), twelve)).empty());
    EXPECT_EQ(a.downloadCounter, 12);
    EXPECT_EQ(bench.Reply(0x09, Cat(Lo(33840), {0, 0})), Cat(Cat({0x14, 0, 16, 0}, twelve), {0, 0, 0, 0}));
    // 4-byte command: echoed, nothing counted.
    EXPECT_EQ(bench.Reply(0x0C, Cat(Lo(33840), {0, 0})), Cat({0x0C, 0, 4, 0}, Cat(Lo(33840), {0, 0})));
    EXPECT_EQ(a.downloadCounter, 12);
    // A short command writes only the bytes it carries.
    a.downloadTable[11] = 0xBEEF;
    bench.Send(0x0C, Cat(Lo(33850), {0, 0, 0x11, 0x22}));
    EXPECT_EQ(a.downloadTable[10], 0x2211);
    EXPECT_EQ(a.downloadTable[11], 0xBEEF);
    EXPECT_EQ(a.downloadCounter, 14);
    // Near the end: the write stops at the table's last word; the counter after the table is intact.
    bench.Send(0x0C, Cat(Cat(Lo(35647), {0, 0}), twelve));
    EXPECT_EQ(a.downloadTable[1807], 0x0201);
    EXPECT_EQ(a.downloadCounter, 26);
    bench.Send(0x0C, Cat(Cat(Lo(35648), {0, 0}), twelve));  // word 1808 is past the end: nothing written
    EXPECT_EQ(a.downloadCounter, 38);
    // Above the table: no entry, echoed.
    const Bytes above = Cat(Cat(Lo(35649), {0, 0}), {1, 2});
    EXPECT_EQ(bench.Reply(0x0C, above), Cat({0x0C, 0, 6, 0}, above));
    // 0xA3 with payload[0] = 0 clears the counter (and is echoed).
    EXPECT_EQ(bench.Reply(0xA3, {1}), (Bytes{0xA3, 0, 1, 0, 1}));
    EXPECT_EQ(a.downloadCounter, 38);
    EXPECT_EQ(bench.Reply(0xA3, {0}), (Bytes{0xA3, 0, 1, 0, 0}));
    EXPECT_EQ(a.downloadCounter, 0);
}

TEST(DspParameters, AbsentIdsAreEchoedExactly)
{
    const struct {
        uint8_t code;
        Bytes payload;
    } cases[] = {
        {0x09, {0x07, 0x00, 0x00, 0x00}},       {0x0A, {0xE7, 0x03}},
        {0x0B, {0x20, 0x00}},                    {0x0C, {0x01, 0x00, 0x00, 0x00, 0xAA, 0xBB}},
        {0x0D, {0x03, 0x00, 0x12, 0x34}},        {0x0E, {0x00, 0x01, 0x55}},
        {0x0A, {0x34, 0x02}},                    // 564 is 66100 only in bank 1
        {0x0D, {0x05, 0x02, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9}},
    };
    for (const auto& c : cases) {
        DspBench bench;
        Bytes expected{c.code, 0, static_cast<uint8_t>(c.payload.size()), 0};
        for (uint8_t v : c.payload)
            expected.push_back(v);
        EXPECT_EQ(bench.Reply(c.code, c.payload), expected) << int(c.code);
    }
}

TEST(DspParameters, WritesCopyOnlyWhatTheCommandCarried)
{
    DspBench bench;
    ParameterArea& a = bench.context->parameters;
    for (uint16_t& w : a.block258)
        w = 0x7777;
    // 258 is 12 bytes: a 2-byte value changes one word.
    EXPECT_TRUE(bench.Send(0x0D, Cat(Lo(258), {0x01, 0x02})).empty());
    EXPECT_EQ(a.block258[0], 0x0201);
    EXPECT_EQ(a.block258[1], 0x7777);
    // 288 shares its storage.
    EXPECT_EQ(ReadMemory(bench, 288), (Bytes{0x15, 0, 12, 0, 1, 2, 0x77, 0x77, 0x77, 0x77, 0x77, 0x77, 0x77, 0x77,
                                             0x77, 0x77}));
    // A 16-byte table entry written with 12 bytes keeps its last two words.
    Phase2Result& result = bench.context->phase2Result;
    std::memset(&result, 0x55, 16);
    bench.Send(0x0C, Cat(Cat(Lo(5731), {0, 0}), Bytes(12, 0x11)));
    EXPECT_EQ(result.callerFreqOffset, 0x1111);      // word 5, the last one written
    EXPECT_EQ(result.callerPowerReduction, 0x5555);  // word 6 kept
    // Writes to the mode parameters and option words mark what changed.
    bench.Send(0x0C, Cat(Cat(Lo(5633), {0, 0}), {1, 0}));
    bench.Send(0x0C, Cat(Cat(Lo(5635), {0, 0}), {1, 0}));
    bench.Send(0x0D, Cat(Lo(195), {1, 0}));
    EXPECT_EQ(a.parameterChanged, 0x01u | 0x08u | 0x40u);
}

TEST(DspParameters, LiveMemoryValues)
{
    DspBench bench;
    V34Link& v = bench.context->v34;
    v.pumpWord116 = 0xABCD1234;
    EXPECT_EQ(ReadMemory(bench, 116), (Bytes{0x15, 0, 2, 0, 0xCD, 0xAB}));
    v.counter65603 = 4875u * 300 + 4874;
    EXPECT_EQ(ReadMemory(bench, 65603), Cat({0x15, 0, 2, 0}, Lo(300)));
    v.equaliserTaps[0][4][0] = 0x12345678;
    v.equaliserTaps[0][4][1] = -0x10000;
    v.equaliserTaps[0][7][1] = 0x7FFF0000;
    EXPECT_EQ(ReadMemory(bench, 66808),
              (Bytes{0x15, 0, 16, 0, 0x34, 0x12, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0x7F}));
    bench.context->pcm.liveWord = 0x0102;
    EXPECT_EQ(ReadMemory(bench, 67578), (Bytes{0x15, 0, 2, 0, 2, 1}));
    bench.context->rxLevelParam = -5;
    EXPECT_EQ(ReadMemory(bench, 226), (Bytes{0x15, 0, 2, 0, 0xFB, 0xFF}));
}

// Every DSP address the controller writes or reads exists in the pump's directories.
TEST(DspParameters, ControllerAddressesExist)
{
    DspBench bench;
    const DspInterfaceBlock* b = bench.block.get();
    const uint32_t memory[] = {
        0x101D8, 0x101DF, 0x101E6,           // voice path: 7 + 7 + 1 words
        66008, 66015, 66022,                 // detector filter 0
        66023, 66030, 66037,                 // filter 1
        0x101F6, 0x101F6 + 7, 0x101F6 + 14,  // filter 2
        146, 148, 150, 152, 154, 192, 193, 194, 195, 196, 226, 66100, 116, 65603, 143, 228,
        kMemStatTxLevel, kMemStatRxLevel, kMemStatEchoReference, kMemStatNearEcho, kMemStatFarEcho,  // statistics
        kMemStatRoundTrip,
    };
    for (uint32_t id : memory)
        EXPECT_NE(FindMemoryParam(b, id), nullptr) << id;
    const uint32_t table[] = {5767, 6176, 6184, 6191, 6186, 33840, 5632, 5633, 5634, 5635, 256, 257};
    for (uint32_t id : table)
        EXPECT_NE(FindTableParam(b, id), nullptr) << id;
    EXPECT_EQ(MemoryParamSize(b, 0x101D8), 14u);
    EXPECT_EQ(MemoryParamSize(b, 0x101E6), 2u);
    // The duplicate 67340 keeps its first registration.
    int n = 0;
    for (int i = 0; i < b->memoryDirectoryCount; ++i)
        n += b->memoryDirectory[i].id == 67340;
    EXPECT_EQ(n, 1);
}

TEST(DspParameters, DetectorSetsReloadOnTheirTrigger)
{
    DspBench bench;
    ParameterArea& a = bench.context->parameters;
    const struct {
        uint32_t address;  // bank-1 address
        uint32_t bits;
    } cases[] = {{66008 - 65536, 0}, {66022 - 65536, 1}, {66037 - 65536, 2}, {66052 - 65536, 4}, {66045 - 65536, 0}};
    for (const auto& c : cases) {
        a.reloadRequests = 0;
        EXPECT_TRUE(bench.Send(0x0E, Cat(Lo(c.address), {1, 2})).empty());
        EXPECT_EQ(a.reloadRequests, c.bits) << c.address;
    }
    // 14-byte blocks take seven words.
    bench.Send(0x0E, Cat(Lo(0x101DF - 65536), {1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 7, 0}));
    EXPECT_EQ(a.detectorSet[0].second[6], 7);
}

}  // namespace
