// Up- and down-sampling in every column.
#include <gtest/gtest.h>

#include "layer1/vek/util/util.h"
#include "vek_harness.h"
#include "vekutil_support.h"

namespace {

using namespace vekutil_test;
using vektest::kColumns;

TEST(VekResample, DownsampleKeepsEveryFactorthSampleAcrossBlocks) {
    for (int col : kColumns) {
        std::vector<int16_t> src(10);
        for (int i = 0; i < 10; ++i) src[i] = static_cast<int16_t>(100 + i);
        int16_t dst[10] = {};
        int32_t len = -1, phase = 2;
        ASSERT_EQ(vek_variant<VekSlot::vek_downsample_16>(col)(src.data(), 10, dst, &len, 3, &phase), VEK_OK);
        EXPECT_EQ(len, 3);
        EXPECT_EQ(phase, 1);
        EXPECT_EQ(dst[0], 102);
        EXPECT_EQ(dst[1], 105);
        EXPECT_EQ(dst[2], 108);
        // the next block continues at index 1
        ASSERT_EQ(vek_variant<VekSlot::vek_downsample_16>(col)(src.data(), 10, dst, &len, 3, &phase), VEK_OK);
        EXPECT_EQ(len, 3);
        EXPECT_EQ(dst[0], 101);
        EXPECT_EQ(phase, 0);  // 1, 4, 7; the next sample would be index 10
    }
}

// Blocks of any length downsampled one after the other equal one pass over the concatenation.
TEST(VekResample, DownsampleStreamIsContinuous) {
    std::mt19937 rng(8);
    const auto all = samples16(rng, 1000);
    for (int col : kColumns) {
        for (int factor : {1, 2, 3, 7, 13, 2000}) {
            std::vector<int16_t> got;
            int32_t phase = 0;
            std::uniform_int_distribution<int> blk(1, 40);
            for (size_t at = 0; at < all.size();) {
                const int n = std::min<int>(blk(rng), static_cast<int>(all.size() - at));
                Guarded<int16_t> src(n, at % 16), dst(n, (at * 3) % 16);
                src.fill(std::vector<int16_t>(all.begin() + at, all.begin() + at + n));
                int32_t len = -1;
                ASSERT_EQ(
                    vek_variant<VekSlot::vek_downsample_16>(col)(src.data(), n, dst.data(), &len, factor, &phase),
                    VEK_OK);
                ASSERT_TRUE(dst.guards_intact());
                for (int i = 0; i < len; ++i) got.push_back(dst.get(i));
                at += n;
            }
            std::vector<int16_t> want;
            for (size_t i = 0; i < all.size(); i += factor) want.push_back(all[i]);
            EXPECT_EQ(got, want) << vektest::column_name(col) << " factor=" << factor;
        }
    }
}

TEST(VekResample, UpsampleInsertsZeros) {
    for (int col : kColumns) {
        const int16_t src[2] = {11, -22};
        Guarded<int16_t> dst(6, 2);
        int32_t len = 0, phase = 1;
        ASSERT_EQ(vek_variant<VekSlot::vek_upsample_16>(col)(src, 2, dst.data(), &len, 3, &phase), VEK_OK);
        EXPECT_EQ(len, 6);
        EXPECT_EQ(dst.values(), (std::vector<int16_t>{0, 11, 0, 0, -22, 0}));
        EXPECT_EQ(phase, 1);
        EXPECT_TRUE(dst.guards_intact());
        Guarded<int16_t> same(2, 0);
        ASSERT_EQ(vek_variant<VekSlot::vek_upsample_16>(col)(src, 2, same.data(), &len, 1, (phase = 0, &phase)),
                  VEK_OK);
        EXPECT_EQ(same.values(), (std::vector<int16_t>{11, -22}));
        EXPECT_EQ(len, 2);
    }
}

TEST(VekResample, ArgumentErrorsInOrder) {
    int16_t s[4] = {1, 2, 3, 4}, d[4] = {9, 9, 9, 9};
    for (int col : kColumns) {
        for (auto fn : {vek_variant<VekSlot::vek_downsample_16>(col), vek_variant<VekSlot::vek_upsample_16>(col)}) {
            int32_t len = 77, phase = 0;
            EXPECT_EQ(fn(s, 4, d, &len, 0, nullptr), VEK_ERR_NULL_POINTER);  // before the factor is looked at
            EXPECT_EQ(fn(s, 4, nullptr, &len, 2, &phase), VEK_ERR_NULL_POINTER);
            EXPECT_EQ(fn(s, 4, d, nullptr, 2, &phase), VEK_ERR_NULL_POINTER);
            EXPECT_EQ(fn(nullptr, 4, d, &len, 2, &phase), VEK_ERR_NULL_POINTER);
            EXPECT_EQ(fn(s, 0, d, &len, 0, &phase), VEK_ERR_SIZE);
            EXPECT_EQ(fn(s, 4, d, &len, 0, &phase), VEK_ERR_SAMPLE_FACTOR);
            EXPECT_EQ(fn(s, 4, d, &len, -3, &phase), VEK_ERR_SAMPLE_FACTOR);
            phase = 3;
            EXPECT_EQ(fn(s, 4, d, &len, 3, &phase), VEK_ERR_SAMPLE_PHASE);
            phase = -1;
            EXPECT_EQ(fn(s, 4, d, &len, 3, &phase), VEK_ERR_SAMPLE_PHASE);
            EXPECT_EQ(len, 77);
        }
        // a destination length beyond 32 bits is refused before anything is written
        int32_t len = 77, phase = 0;
        EXPECT_EQ(vek_variant<VekSlot::vek_upsample_16>(col)(s, 4, d, &len, 0x40000000, &phase), VEK_ERR_SIZE);
        EXPECT_EQ(len, 77);
        EXPECT_EQ(d[0] + d[1] + d[2] + d[3], 36);
    }
}

}  // namespace
