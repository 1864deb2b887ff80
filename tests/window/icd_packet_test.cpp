// The shared packet layouts: exact byte images both drivers agree on, and decode as the inverse of encode.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "window/icd_packet.h"
#include "window/register_map.h"
#include "window/window_access.h"

namespace {

std::vector<uint8_t> Bytes(const uint8_t* p, int n)
{
    return std::vector<uint8_t>(p, p + n);
}

TEST(IcdPacket, ParameterAddressesHaveTheirByteImages)
{
    struct Case {
        uint32_t address;
        bool table;
        uint8_t readCode;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        {0x1234, false, IcdReadMemory, {0x34, 0x12}},
        {0x101D8, false, IcdReadMemoryHigh, {0xD8, 0x01}},
        {0x0FFFF, false, IcdReadMemory, {0xFF, 0xFF}},
        {0x1820, true, IcdReadTable, {0x20, 0x18, 0x00, 0x00}},
        {0x10123, true, IcdReadTable, {0x23, 0x81, 0x40, 0x00}},
        {0x38123, true, IcdReadTable, {0x23, 0x01, 0xE0, 0x00}},
    };
    for (const Case& c : cases) {
        uint8_t payload[kIcdMaxPayload] = {};
        const int n = c.table ? IcdEncodeTableAddress(c.address, payload) : IcdEncodeMemoryAddress(c.address, payload);
        EXPECT_EQ(Bytes(payload, n), c.bytes) << std::hex << c.address;
        if (!c.table) {
            EXPECT_EQ(IcdMemoryReadCode(c.address), c.readCode);
            EXPECT_EQ(IcdMemoryWriteCode(c.address), c.readCode == IcdReadMemory ? IcdWriteMemory : IcdWriteMemoryHigh);
            EXPECT_EQ(IcdDecodeParamId(payload), c.address & 0xFFFFu);
        }
    }
}

TEST(IcdPacket, WordsFollowTheAddressLowByteFirst)
{
    uint8_t payload[kIcdMaxPayload] = {};
    const uint16_t words[2] = {0x0102, 0xA0B0};
    const int n = IcdEncodeWords(payload, IcdEncodeMemoryAddress(0x92, payload), words, 2);
    EXPECT_EQ(Bytes(payload, n), (std::vector<uint8_t>{0x92, 0x00, 0x02, 0x01, 0xB0, 0xA0}));
}

TEST(IcdPacket, FixedLayoutsEncodeExactlyAndDecodeBack)
{
    uint8_t b[kIcdMaxPayload] = {};
    int n = IcdEncode(IcdVersionPayload{{1, 4, 4, 67}}, b);
    EXPECT_EQ(Bytes(b, n), (std::vector<uint8_t>{1, 0, 4, 0, 4, 0, 67, 0}));
    EXPECT_EQ(IcdDecodeVersion(b).part[3], 67);

    n = IcdEncode(IcdTonePairPayload{0x1234, 0xABCD, 5}, b);
    EXPECT_EQ(Bytes(b, n), (std::vector<uint8_t>{0x34, 0x12, 0xCD, 0xAB, 5, 0}));
    const IcdTonePairPayload t = IcdDecodeTonePair(b);
    EXPECT_EQ(t.step1, 0x1234);
    EXPECT_EQ(t.step2, 0xABCD);
    EXPECT_EQ(t.control, 5);

    n = IcdEncode(IcdDetectorReportPayload{1, 6826, 0x0203}, b);
    EXPECT_EQ(Bytes(b, n), (std::vector<uint8_t>{1, 0, 0xAA, 0x1A, 3, 2}));
    const IcdDetectorReportPayload r = IcdDecodeDetectorReport(b);
    EXPECT_EQ(r.kind, 1);
    EXPECT_EQ(r.timeStamp, 6826);
    EXPECT_EQ(r.value, 0x0203);

    n = IcdEncode(IcdEventPayload{6, 5}, b);
    EXPECT_EQ(Bytes(b, n), (std::vector<uint8_t>{6, 5}));
    EXPECT_EQ(IcdDecodeEvent(b).kind, 5);
}

TEST(IcdPacket, ConnectionOptionsPackEveryField)
{
    IcdConnectionPayload c{};
    c.rateCode = 21;
    c.rateOption = 2;
    c.mode = 18;
    c.modeOption = 1;
    c.lineOption = 3;
    c.originate = 1;
    c.procedureKind = 2;
    c.singleTone = 1;
    c.flag6 = 1;
    c.phase2Kind = 1;
    c.phase2Flags[0] = 1;
    c.phase2Flags[1] = 0;
    uint8_t b[kIcdConnectionLength];
    ASSERT_EQ(IcdEncode(c, b), kIcdConnectionLength);
    EXPECT_EQ(Bytes(b, 4), (std::vector<uint8_t>{21 | 0x80, 18 | 0x40, 3 | 4 | 0x10 | 0x20 | 0x40, 1 | 4}));
    const IcdConnectionPayload d = IcdDecodeConnection(b);
    EXPECT_EQ(d.rateCode, 21);
    EXPECT_EQ(d.rateOption, 2);
    EXPECT_EQ(d.mode, 18);
    EXPECT_EQ(d.modeOption, 1);
    EXPECT_EQ(d.lineOption, 3);
    EXPECT_EQ(d.originate, 1);
    EXPECT_EQ(d.procedureKind, 2);
    EXPECT_EQ(d.singleTone, 1);
    EXPECT_EQ(d.flag6, 1);
    EXPECT_EQ(d.phase2Kind, 1);
    EXPECT_EQ(d.phase2Flags[0], 1);
    EXPECT_EQ(d.phase2Flags[1], 0);
}

TEST(WindowAccess, PairsPublishCountAndFlagsTogether)
{
    auto block = std::make_unique<DspInterfaceBlock>();
    WindowStorePair(block.get(), kRegRxCount, static_cast<uint16_t>(7 | (kRxBadFrame << 8)));
    EXPECT_EQ(WindowLoad(block.get(), kRegRxCount), 7);
    EXPECT_EQ(WindowLoad(block.get(), kRegRxFlags), kRxBadFrame);
    // An odd register names the same pair.
    EXPECT_EQ(WindowLoadPair(block.get(), kRegRxFlags), 7 | (kRxBadFrame << 8));
    const uint8_t bytes[3] = {1, 2, 3};
    WindowStoreBytes(block.get(), kRegTxData, bytes, 3);
    uint8_t back[3] = {};
    WindowLoadBytes(block.get(), kRegTxData, back, 3);
    EXPECT_EQ(Bytes(back, 3), Bytes(bytes, 3));
    // Register numbers wrap at 256.
    WindowStore(block.get(), 256 + kRegStatus, 9);
    EXPECT_EQ(WindowLoad(block.get(), kRegStatus), 9);
}

}  // namespace
