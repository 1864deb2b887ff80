// Copy, zero and fill in every column: byte-identical results over sizes around every kernel threshold and
// source/destination offsets, nothing written outside the destination, argument checks, FP state untouched.
#include <cstring>
#include <vector>

#include "vek_harness.h"

namespace {

using vektest::column_name;
using vektest::FpState;
using vektest::GuardedBuffer;
using vektest::kColumns;

using Set8Fn = VekStatus (*)(std::uint8_t, std::uint8_t*, std::int32_t);
using Set32Fn = VekStatus (*)(std::int32_t, std::int32_t*, std::int32_t);
const Set8Fn kSet8[4] = {vek_set_8_gen, vek_set_8_mm, vek_set_8_ss, vek_set_8_wd};
const Set32Fn kSet32[4] = {vek_set_32_gen, vek_set_32_mm, vek_set_32_ss, vek_set_32_wd};

// Byte sizes: both sides of every head, round and non-temporal threshold of the four columns.
const std::size_t kSmallSizes[] = {1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 32, 33, 63, 64, 65, 79, 80, 127,
                                   128, 129, 200, 1000, 8191, 8192, 8193, 16383, 16384, 16385, 20479, 20480,
                                   20481, 24575, 24577};
const std::size_t kLargeSizes[] = {36864 + 17, 131200, 131200 + 16, 131200 + 64 + 17, 262144 + 16,
                                   262144 + 64 + 33};
const std::size_t kAllOffsets[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
const std::size_t kSomeOffsets[] = {0, 3, 8, 13};

struct Shape {
    std::size_t bytes;
    std::size_t srcOffset;
    std::size_t dstOffset;
};

std::vector<Shape> shapes()
{
    std::vector<Shape> out;
    for (std::size_t n : kSmallSizes) {
        for (std::size_t so : kAllOffsets) {
            for (std::size_t d : kAllOffsets) {
                out.push_back({n, so, d});
            }
        }
    }
    for (std::size_t n : kLargeSizes) {
        for (std::size_t so : kSomeOffsets) {
            for (std::size_t d : kAllOffsets) {
                out.push_back({n, so, d});
            }
        }
    }
    return out;
}

::testing::AssertionResult region_holds(const std::uint8_t* got, const std::uint8_t* want, std::size_t n)
{
    if (std::memcmp(got, want, n) == 0) {
        return ::testing::AssertionSuccess();
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (got[i] != want[i]) {
            return ::testing::AssertionFailure() << "first difference at byte " << i;
        }
    }
    return ::testing::AssertionSuccess();
}

TEST(VekCopy, CopyIsByteIdenticalInEveryColumn)
{
    for (int column : kColumns) {
        const auto copy8 = vek_variant<VekSlot::vek_copy_8>(column);
        const auto copy16 = vek_variant<VekSlot::vek_copy_16>(column);
        const auto copy32 = vek_variant<VekSlot::vek_copy_32>(column);
        for (const Shape& s : shapes()) {
            GuardedBuffer src(s.bytes, s.srcOffset);
            GuardedBuffer dst(s.bytes, s.dstOffset);
            src.fill_random(static_cast<std::uint32_t>(s.bytes * 31 + s.srcOffset));
            const FpState before = FpState::capture();
            VekStatus st = VEK_OK;
            // The element width follows the size, so that 16- and 32-bit entries see misaligned vectors too.
            if (s.bytes % 4 == 0 && (s.srcOffset + s.dstOffset) % 3 == 0) {
                st = copy32(src.as<std::int32_t>(), dst.as<std::int32_t>(), static_cast<std::int32_t>(s.bytes / 4));
            } else if (s.bytes % 2 == 0 && s.srcOffset % 2 == 1) {
                st = copy16(src.as<std::int16_t>(), dst.as<std::int16_t>(), static_cast<std::int32_t>(s.bytes / 2));
            } else {
                st = copy8(src.data(), dst.data(), static_cast<std::int32_t>(s.bytes));
            }
            ASSERT_EQ(st, VEK_OK);
            ASSERT_TRUE(FpState::capture() == before) << column_name(column) << " bytes " << s.bytes;
            ASSERT_TRUE(region_holds(dst.data(), src.data(), s.bytes))
                << column_name(column) << " bytes " << s.bytes << " src+" << s.srcOffset << " dst+" << s.dstOffset;
            ASSERT_TRUE(dst.intact()) << column_name(column) << " bytes " << s.bytes << " dst+" << s.dstOffset;
            ASSERT_TRUE(src.intact());
        }
    }
}

TEST(VekCopy, ZeroAndByteFillAreByteIdenticalInEveryColumn)
{
    for (int column : kColumns) {
        const auto zero8 = vek_variant<VekSlot::vek_zero_8>(column);
        const auto zero16 = vek_variant<VekSlot::vek_zero_16>(column);
        const auto zero32 = vek_variant<VekSlot::vek_zero_32>(column);
        for (const Shape& s : shapes()) {
            if (s.srcOffset != 0 && s.srcOffset != 5) {
                continue; // the source offset picks zero (0) or fill (5) here
            }
            GuardedBuffer dst(s.bytes, s.dstOffset);
            dst.fill_random(static_cast<std::uint32_t>(s.bytes + s.dstOffset));
            const std::uint8_t value = s.srcOffset == 0 ? 0x00 : 0x5C;
            const FpState before = FpState::capture();
            VekStatus st = VEK_OK;
            if (value != 0) {
                st = kSet8[column](value, dst.data(), static_cast<std::int32_t>(s.bytes));
            } else if (s.bytes % 4 == 0 && s.dstOffset % 2 == 0) {
                st = zero32(dst.as<std::int32_t>(), static_cast<std::int32_t>(s.bytes / 4));
            } else if (s.bytes % 2 == 0) {
                st = zero16(dst.as<std::int16_t>(), static_cast<std::int32_t>(s.bytes / 2));
            } else {
                st = zero8(dst.data(), static_cast<std::int32_t>(s.bytes));
            }
            ASSERT_EQ(st, VEK_OK);
            ASSERT_TRUE(FpState::capture() == before) << column_name(column);
            const std::vector<std::uint8_t> want(s.bytes, value);
            ASSERT_TRUE(region_holds(dst.data(), want.data(), s.bytes))
                << column_name(column) << " value " << int(value) << " bytes " << s.bytes << " dst+" << s.dstOffset;
            ASSERT_TRUE(dst.intact()) << column_name(column) << " bytes " << s.bytes << " dst+" << s.dstOffset;
        }
    }
}

TEST(VekCopy, WordFillIsIdenticalInEveryColumn)
{
    const std::size_t counts[] = {1, 2, 3, 4, 5, 15, 16, 17, 31, 33, 100, 5119, 5120, 5121, 65536, 65537 + 16};
    const std::int32_t value = 0x12345678; // distinct bytes: a store out of phase shows
    for (int column : kColumns) {
        for (std::size_t n : counts) {
            for (std::size_t offset : {0, 1, 2, 4, 6, 8, 12, 13}) {
                GuardedBuffer dst(n * 4, offset);
                dst.fill_random(static_cast<std::uint32_t>(n));
                const FpState before = FpState::capture();
                ASSERT_EQ(kSet32[column](value, dst.as<std::int32_t>(), static_cast<std::int32_t>(n)), VEK_OK);
                ASSERT_TRUE(FpState::capture() == before);
                std::vector<std::uint8_t> want(n * 4);
                for (std::size_t i = 0; i < n; ++i) {
                    std::memcpy(want.data() + 4 * i, &value, 4);
                }
                ASSERT_TRUE(region_holds(dst.data(), want.data(), n * 4))
                    << column_name(column) << " count " << n << " dst+" << offset;
                ASSERT_TRUE(dst.intact()) << column_name(column) << " count " << n << " dst+" << offset;
            }
        }
    }
}

TEST(VekCopy, ArgumentsAreCheckedNullFirstThenLength)
{
    for (int column : kColumns) {
        std::uint8_t b[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        std::int16_t h[4] = {1, 2, 3, 4};
        std::int32_t w[2] = {1, 2};
        const auto copy8 = vek_variant<VekSlot::vek_copy_8>(column);
        const auto copy16 = vek_variant<VekSlot::vek_copy_16>(column);
        const auto copy32 = vek_variant<VekSlot::vek_copy_32>(column);
        const auto zero8 = vek_variant<VekSlot::vek_zero_8>(column);
        const auto zero16 = vek_variant<VekSlot::vek_zero_16>(column);
        const auto zero32 = vek_variant<VekSlot::vek_zero_32>(column);
        std::uint8_t copyOut[8] = {9, 9, 9, 9, 9, 9, 9, 9};

        EXPECT_EQ(copy8(nullptr, copyOut, 0), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(copy8(b, nullptr, -1), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(copy8(b, copyOut, 0), VEK_ERR_SIZE);
        EXPECT_EQ(copy8(b, copyOut, -5), VEK_ERR_SIZE);
        EXPECT_EQ(copy8(b, copyOut, INT32_MIN), VEK_ERR_SIZE);
        EXPECT_EQ(copyOut[0], 9);
        EXPECT_EQ(copy16(h, nullptr, 4), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(copy16(h, h + 2, 0), VEK_ERR_SIZE);
        EXPECT_EQ(copy32(nullptr, w, 2), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(copy32(w, w + 1, -1), VEK_ERR_SIZE);
        EXPECT_EQ(zero8(nullptr, 0), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(zero8(b, 0), VEK_ERR_SIZE);
        EXPECT_EQ(zero16(h, -2), VEK_ERR_SIZE);
        EXPECT_EQ(zero32(nullptr, 2), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(kSet8[column](7, nullptr, 0), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(kSet8[column](7, b, 0), VEK_ERR_SIZE);
        EXPECT_EQ(kSet32[column](7, nullptr, 3), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(kSet32[column](7, w, -3), VEK_ERR_SIZE);
        // Nothing was written by any rejected call.
        EXPECT_EQ(b[0], 1);
        EXPECT_EQ(h[0], 1);
        EXPECT_EQ(w[0], 1);
        EXPECT_EQ(w[1], 2);
    }
}

TEST(VekCopy, ZeroKernelsTakeByteCounts)
{
    using ZeroKernel = void (*)(void*, std::size_t);
    const ZeroKernel kernels[4] = {vek_k_zero_gen, vek_k_zero_mm, vek_k_zero_ss, vek_k_zero_wd};
    for (int column : kColumns) {
        GuardedBuffer dst(37, 3);
        dst.fill_random(1);
        kernels[column](dst.data(), 37);
        for (std::size_t i = 0; i < 37; ++i) {
            ASSERT_EQ(dst.data()[i], 0) << column_name(column);
        }
        EXPECT_TRUE(dst.intact());
        kernels[column](dst.data(), 0); // zero bytes: nothing
        EXPECT_TRUE(dst.intact());
    }
}

} // namespace
