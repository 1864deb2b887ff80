// V.44 parameters (+DS44 checks against the supported maxima, defaults, the 20-byte record) and the
// dictionary memory: blocks under "DICT", "DICR" and "DICS" of the documented sizes while the engine
// runs, none after it stops, none when an allocation fails.
#include <gtest/gtest.h>

#include <cstring>

#include "layer2/corecode/ec/v44.h"
#include "platform/machine.h"

namespace {

const ULONG kDict = POOL_TAG('D', 'I', 'C', 'T');
const ULONG kDicr = POOL_TAG('D', 'I', 'C', 'R');
const ULONG kDics = POOL_TAG('D', 'I', 'C', 'S');

V44Settings unlimited()
{
    V44Settings s{};
    v44_supported_defaults(&s);
    return s;
}

TEST(V44Params, ChecksTakeTheRangesOfPlusDS44)
{
    V44Settings s = unlimited();
    struct Row {
        const char* what;
        int (*check)(const V44Settings*, uint32_t);
        uint32_t value;
        bool ok;
    };
    const Row rows[] = {
        {"tx codewords 255", v44_check_tx_codewords, 255, false}, {"tx codewords 256", v44_check_tx_codewords, 256, true},
        {"rx codewords 65535", v44_check_rx_codewords, 65535, true}, {"rx codewords 65536", v44_check_rx_codewords, 65536, false},
        {"tx history 511", v44_check_tx_history, 511, false},     {"tx history 512", v44_check_tx_history, 512, true},
        {"rx history 65535", v44_check_rx_history, 65535, true},  {"rx history 512", v44_check_rx_history, 512, true},
    };
    for (const Row& r : rows)
        EXPECT_EQ(r.check(&s, r.value) != 0, r.ok) << r.what;
    for (uint32_t v : {31u, 256u, 1000u})
        EXPECT_FALSE(v44_check_string_length(v)) << v;
    for (uint32_t v : {32u, 140u, 255u})
        EXPECT_TRUE(v44_check_string_length(v)) << v;
    EXPECT_TRUE(v44_check_direction(3));
    EXPECT_FALSE(v44_check_direction(4));
    EXPECT_TRUE(v44_check_negotiation(1));
    EXPECT_FALSE(v44_check_negotiation(2));
    EXPECT_TRUE(v44_check_capability(0));
    EXPECT_FALSE(v44_check_capability(1));
}

TEST(V44Params, BudgetSetsTheSupportedMaxima)
{
    V44Settings s{};
    v44_supported_maxima(&s, 28000);
    EXPECT_EQ(s.supported.tx_codewords, 1000);
    EXPECT_EQ(s.supported.rx_codewords, 2000);
    EXPECT_EQ(s.supported.tx_history, 4000);
    EXPECT_EQ(s.supported.rx_history, 8000);
    EXPECT_EQ(s.supported.direction, 3);
    EXPECT_EQ(s.supported.tx_string, 140);
    EXPECT_FALSE(v44_check_tx_codewords(&s, 1001));
    EXPECT_TRUE(v44_check_rx_codewords(&s, 2000));
    // Defaults follow the maxima below the usual 2048 and 8192.
    v44_params_default(&s);
    EXPECT_EQ(s.request.tx_codewords, 1000);
    EXPECT_EQ(s.request.rx_codewords, 2000);
    EXPECT_EQ(s.request.tx_history, 4000);
    EXPECT_EQ(s.request.rx_history, 8000);
    // A large budget is capped at 65535.
    v44_supported_maxima(&s, 10'000'000);
    EXPECT_EQ(s.supported.tx_codewords, 65535);
    EXPECT_EQ(s.supported.rx_history, 65535);
}

TEST(V44Params, DefaultsWithNoLimitAre2048CodewordsAnd8192History)
{
    V44Settings s = unlimited();
    EXPECT_EQ(s.supported.tx_codewords, 65535);
    EXPECT_EQ(s.supported.rx_history, 65535);
    v44_params_default(&s);
    V44Params p{};
    v44_get_params(&s, &p);
    EXPECT_EQ(p.direction, 3);
    EXPECT_EQ(p.tx_codewords, 2048);
    EXPECT_EQ(p.rx_codewords, 2048);
    EXPECT_EQ(p.tx_history, 8192);
    EXPECT_EQ(p.rx_history, 8192);
    EXPECT_EQ(p.tx_string, 140);
    EXPECT_EQ(p.rx_string, 140);
    EXPECT_EQ(p.negotiation, 0u);
    EXPECT_EQ(p.capability, 0u);
    // The record is the 20-byte image +DS44 reads and writes.
    p.tx_codewords = 1024;
    v44_set_params(&s, &p);
    uint8_t image[20];
    std::memcpy(image, &s.request, sizeof image);
    EXPECT_EQ(image[8], 3);  // direction, after the two 32-bit words
    EXPECT_EQ(image[10] | image[11] << 8, 1024);
    EXPECT_EQ(v44_set_negotiation(&s, 1), 1u);
    EXPECT_EQ(v44_set_negotiation(&s, 2), 1u);  // refused: stays
    XidV44Values x = v44_xid_request(&s);
    EXPECT_EQ(x.direction, 3);
    EXPECT_EQ(x.tx_codewords, 1024);
    EXPECT_EQ(x.rx_history, 8192);
}

class V44Memory : public ::testing::Test {
protected:
    platform::Clock clock;
    platform::Machine machine{{&clock, "v44", ""}};
};

TEST_F(V44Memory, DictionariesAreTaggedSizedAndGivenBack)
{
    platform::MachineScope scope(machine);
    struct Row {
        uint8_t direction;
        int64_t dict, dicr, dics;
    };
    // Transmit 1024 codewords / 4000 history, receive 2048 / 8000.
    const Row rows[] = {{3, 4000 + 8 * 1024, 8000, 4 * 2048}, {1, 4000 + 8 * 1024, 0, 0}, {2, 0, 8000, 4 * 2048}, {0, 0, 0, 0}};
    for (const Row& r : rows) {
        V44Engine e{};
        XidV44Values v{0, r.direction, 1024, 2048, 100, 120, 4000, 8000};
        ASSERT_TRUE(v44_start(&e, &v));
        EXPECT_EQ(machine.LiveBytes(kDict), r.dict) << int(r.direction);
        EXPECT_EQ(machine.LiveBytes(kDicr), r.dicr) << int(r.direction);
        EXPECT_EQ(machine.LiveBytes(kDics), r.dics) << int(r.direction);
        // A second set-up gives back the first one's blocks.
        ASSERT_TRUE(v44_start(&e, &v));
        EXPECT_EQ(machine.LiveBlocks(kDict), r.dict ? 1 : 0);
        v44_free_dictionaries(&e);
        EXPECT_EQ(machine.LiveBlocks(), 0);
        EXPECT_EQ(e.tx.flags | e.rx.flags, 0);
    }
}

TEST_F(V44Memory, FailedAllocationLeavesNothingAndTheEngineOff)
{
    platform::MachineScope scope(machine);
    for (uint64_t k = 1; k <= 3; ++k) {
        V44Engine e{};
        XidV44Values v{0, 3, 2048, 2048, 140, 140, 8192, 8192};
        machine.FailAllocation(k);
        EXPECT_FALSE(v44_start(&e, &v)) << k;
        EXPECT_EQ(machine.LiveBlocks(), 0) << k;
        EXPECT_EQ(e.tx.flags | e.rx.flags, 0) << k;
        EXPECT_EQ(e.dict, nullptr);
        machine.FailAllocation(0);
    }
}

} // namespace
