// Nearest-value search against brute force over every 16-bit value.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "layer1/vek/util/util.h"
#include "vek_harness.h"
#include "vekutil_support.h"

namespace {

using vektest::kColumns;

// The lowest index among the entries at the smallest distance (unsigned comparison).
int brute_index(uint16_t v, const std::vector<uint16_t>& t) {
    int best = 0;
    for (int i = 1; i < static_cast<int>(t.size()); ++i)
        if (std::abs(int{t[i]} - v) < std::abs(int{t[best]} - v)) best = i;
    return best;
}

std::vector<uint16_t> table(std::mt19937& rng, int len, bool dups) {
    std::uniform_int_distribution<int> any(0, 65535), small(0, 40);
    std::vector<uint16_t> t(len);
    for (auto& x : t) x = static_cast<uint16_t>(dups ? small(rng) * 1600 : any(rng));
    std::sort(t.begin(), t.end());
    return t;
}

TEST(VekNearest, EqualsBruteForceForEveryValue) {
    std::mt19937 rng(11);
    std::vector<std::vector<uint16_t>> tables = {{0, 10, 20}, {5}, {0, 65535}, {1000, 1000, 1001}};
    for (int len : {2, 3, 17, 256}) tables.push_back(table(rng, len, false));
    tables.push_back(table(rng, 64, true));
    std::vector<uint16_t> all(65536);
    for (int v = 0; v < 65536; ++v) all[v] = static_cast<uint16_t>(v);
    for (const auto& t : tables) {
        std::vector<int> want(65536);
        for (int v = 0; v < 65536; ++v) want[v] = brute_index(static_cast<uint16_t>(v), t);
        // brute force picks the lowest index among equals; the search may pick another index of the same value
        for (int col : kColumns) {
            std::vector<uint16_t> entries(65536);
            std::vector<int32_t> idx(65536);
            ASSERT_EQ(vek_variant<VekSlot::vek_find_nearest>(col)(all.data(), entries.data(), idx.data(), 65536,
                                                                  t.data(), static_cast<int32_t>(t.size())),
                      VEK_OK);
            for (int v = 0; v < 65536; ++v) {
                ASSERT_EQ(entries[v], t[want[v]]) << vektest::column_name(col) << " v=" << v;
                ASSERT_EQ(t[idx[v]], entries[v]);
            }
            for (int v = 0; v < 65536; v += 97) {
                uint16_t e = 0;
                int32_t i = -1;
                ASSERT_EQ(vek_variant<VekSlot::vek_find_nearest_one>(col)(static_cast<uint16_t>(v), &e, &i, t.data(),
                                                                          static_cast<int32_t>(t.size())),
                          VEK_OK);
                ASSERT_EQ(e, entries[v]);
                ASSERT_EQ(i, idx[v]);
            }
        }
    }
}

TEST(VekNearest, DocumentedValues) {
    const uint16_t t[3] = {0, 10, 20}, big[2] = {1000, 2000};
    const struct {
        uint16_t v;
        const uint16_t* table;
        int len;
        uint16_t entry;
        int32_t index;
    } cases[] = {{15, t, 3, 10, 1},    {16, t, 3, 20, 2},        {10, t, 3, 10, 1},    {0, t, 3, 0, 0},
                 {65535, t, 3, 20, 2}, {65535, big, 2, 2000, 1}, {5, big, 2, 1000, 0}, {40000, big, 1, 1000, 0}};
    for (int col : kColumns) {
        for (const auto& e : cases) {
            uint16_t entry = 0;
            int32_t index = -1;
            ASSERT_EQ(vek_variant<VekSlot::vek_find_nearest_one>(col)(e.v, &entry, &index, e.table, e.len), VEK_OK);
            EXPECT_EQ(entry, e.entry) << vektest::column_name(col) << " v=" << e.v;
            EXPECT_EQ(index, e.index);
        }
        const uint16_t src[3] = {1, 40000, 65535};
        uint16_t ent[3];
        int32_t idx[3];
        ASSERT_EQ(vek_variant<VekSlot::vek_find_nearest>(col)(src, ent, idx, 3, big, 1), VEK_OK);
        for (int k = 0; k < 3; ++k) EXPECT_EQ(ent[k] * 10 + idx[k], 10000);
    }
}

// A table that is not ascending gives some entry of the table, and the search reads nothing outside it (the
// table sits in an allocation of exactly its size, so the address sanitizer would see a stray read).
TEST(VekNearest, UnsortedTableStaysInside) {
    std::mt19937 rng(12);
    std::uniform_int_distribution<int> any(0, 65535);
    for (int len : {2, 3, 5, 33}) {
        auto t = std::make_unique<uint16_t[]>(len);
        for (int i = 0; i < len; ++i) t[i] = static_cast<uint16_t>(any(rng));
        for (int col : kColumns) {
            for (int v = 0; v < 65536; v += 13) {
                uint16_t e = 0;
                int32_t i = -1;
                ASSERT_EQ(
                    vek_variant<VekSlot::vek_find_nearest_one>(col)(static_cast<uint16_t>(v), &e, &i, t.get(), len),
                    VEK_OK);
                ASSERT_TRUE(i >= 0 && i < len);
                ASSERT_EQ(e, t[i]);
            }
        }
    }
}

TEST(VekNearest, ArgumentErrorsAndFloatingPointState) {
    const uint16_t t[2] = {1, 2}, s[1] = {1};
    uint16_t e = 7;
    int32_t i = 7;
    const vektest::FpState before = vektest::FpState::capture();
    for (int col : kColumns) {
        auto one = vek_variant<VekSlot::vek_find_nearest_one>(col);
        auto vec = vek_variant<VekSlot::vek_find_nearest>(col);
        EXPECT_EQ(one(1, nullptr, &i, t, 2), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(one(1, &e, nullptr, t, 0), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(one(1, &e, &i, nullptr, 2), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(one(1, &e, &i, t, 0), VEK_ERR_SIZE);
        EXPECT_EQ(vec(nullptr, &e, &i, 1, t, 2), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(vec(s, &e, &i, 1, nullptr, 0), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(vec(s, &e, &i, 0, t, 2), VEK_ERR_SIZE);
        EXPECT_EQ(vec(s, &e, &i, 1, t, -1), VEK_ERR_SIZE);
        one(2, &e, &i, t, 2);
    }
    EXPECT_TRUE(vektest::FpState::capture() == before);
    EXPECT_EQ(e, 2);
}

}  // namespace
