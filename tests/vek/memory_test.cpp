// Aligned allocation, the block header, null rules, pool accounting; the x87 control word service.
#include <cstring>

#include "platform/ex.h"
#include "vek_harness.h"

namespace {

using vektest::column_name;
using vektest::kColumns;

using AllocFn = void* (*)(std::int32_t);

struct AllocSlot {
    int slot;
    std::size_t elementSize;
};

// Every allocation slot with its element size.
const AllocSlot kAllocSlots[] = {
    {2, 1}, {5, 1}, {3, 2}, {6, 2}, {9, 2}, {4, 4}, {7, 4}, {10, 4}, {8, 8}, {11, 8}, {12, 16},
};

AllocFn alloc_fn(int slot, int column)
{
    return reinterpret_cast<AllocFn>(vek_variant_table()[slot].variant[column]);
}

TEST(VekMemory, BlocksAreAlignedWithTheRawAddressJustBefore)
{
    const std::int64_t outstanding = vek_pool_outstanding();
    for (int column : kColumns) {
        for (const AllocSlot& a : kAllocSlots) {
            for (std::int32_t n : {1, 2, 3, 31, 100, 4097}) {
                auto* block = static_cast<std::uint8_t*>(alloc_fn(a.slot, column)(n));
                ASSERT_NE(block, nullptr) << vek_slot_name(a.slot) << " " << column_name(column);
                EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 32, 0u);
                void* raw = nullptr;
                std::memcpy(&raw, block - sizeof raw, sizeof raw);
                EXPECT_EQ(raw, vek_block_raw(block));
                const auto* rawBytes = static_cast<std::uint8_t*>(raw);
                EXPECT_GE(block - rawBytes, static_cast<std::ptrdiff_t>(sizeof raw));
                EXPECT_LT(block - rawBytes, static_cast<std::ptrdiff_t>(sizeof raw + 32));
                // The whole block is usable (the sanitizer build checks the bounds).
                std::memset(block, 0x3C, static_cast<std::size_t>(n) * a.elementSize);
                vek_variant<VekSlot::vek_free>(column)(block);
            }
        }
    }
    EXPECT_EQ(vek_pool_outstanding(), outstanding);
}

TEST(VekMemory, NonPositiveCountsGiveNullWithoutTouchingThePool)
{
    for (int column : kColumns) {
        for (const AllocSlot& a : kAllocSlots) {
            const std::int64_t requests = vek_pool_requests();
            EXPECT_EQ(alloc_fn(a.slot, column)(0), nullptr);
            EXPECT_EQ(alloc_fn(a.slot, column)(-1), nullptr);
            EXPECT_EQ(alloc_fn(a.slot, column)(INT32_MIN), nullptr);
            EXPECT_EQ(vek_pool_requests(), requests) << vek_slot_name(a.slot);
        }
    }
}

TEST(VekMemory, RequestsBeyond32BitsGiveNull)
{
    // n x element size + header no longer fits a 32-bit pool request: null, and the pool is not asked.
    const std::int64_t requests = vek_pool_requests();
    EXPECT_EQ(vek_alloc_128(INT32_MAX), nullptr);
    EXPECT_EQ(vek_alloc_64(INT32_MAX), nullptr);
    EXPECT_EQ(vek_alloc_32_wd(0x3FFFFFFF), nullptr);
    EXPECT_EQ(vek_alloc_16(INT32_MAX), nullptr);
    EXPECT_EQ(vek_alloc_128(0x10000000), nullptr);
    EXPECT_EQ(vek_pool_requests(), requests);
}

TEST(VekMemory, PoolFailureGivesNullAndFreeOfNullDoesNothing)
{
    const std::int64_t outstanding = vek_pool_outstanding();
    vek_pool_fail_at(2);
    void* first = vek_alloc_8(16);
    void* second = vek_alloc_32(16);
    void* third = vek_alloc_64(16);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(second, nullptr);
    EXPECT_NE(third, nullptr);
    vek_free(first);
    vek_free(third);
    vek_free(nullptr);
    for (int column : kColumns) {
        vek_variant<VekSlot::vek_free>(column)(nullptr);
    }
    EXPECT_EQ(vek_pool_outstanding(), outstanding);
    vek_pool_fail_at(0);
}

TEST(VekMemory, PoolTagIsWdmSpace)
{
    char tag[4];
    std::memcpy(tag, &VEK_POOL_TAG, 4);
    EXPECT_EQ(std::memcmp(tag, "Wdm ", 4), 0);
    EXPECT_EQ(VEK_POOL_TAG, POOL_TAG('W', 'd', 'm', ' '));
}

std::uint16_t read_x87_control()
{
    std::uint16_t cw = 0;
    asm volatile("fnstcw %0" : "=m"(cw));
    return cw;
}

TEST(VekFpu, SetControlReturnsTheOldWordAndLoadsOnlyTheMaskedBits)
{
    const std::uint16_t original = read_x87_control();
    const std::uint32_t mxcsr = _mm_getcsr();

    EXPECT_EQ(vek_fpu_set_control(0x0C00, 0), original); // mask 0 only reads
    EXPECT_EQ(read_x87_control(), original);

    const std::uint16_t old = vek_fpu_set_control(0x0C00, 0x0C00); // rounding: truncation
    EXPECT_EQ(old, original);
    EXPECT_EQ(read_x87_control(), static_cast<std::uint16_t>((original & ~0x0C00) | 0x0C00));

    // Precision 24 bits and round to nearest; bits outside the mask stay, value bits outside it are ignored.
    const std::uint16_t truncating = vek_fpu_set_control(0xF000, 0x0F00);
    EXPECT_EQ(truncating, static_cast<std::uint16_t>((original & ~0x0C00) | 0x0C00));
    EXPECT_EQ(read_x87_control(), static_cast<std::uint16_t>(original & ~0x0F00));

    vek_fpu_load_control(old);
    EXPECT_EQ(read_x87_control(), original);
    EXPECT_EQ(_mm_getcsr(), mxcsr);
}

TEST(VekFpu, CoreCallsLeaveTheFloatingPointStateAlone)
{
    for (int column : kColumns) {
        const vektest::FpState before = vektest::FpState::capture();
        (void)vek_variant<VekSlot::vek_get_version>(column)();
        (void)vek_variant<VekSlot::vek_status_text>(column)(-8);
        void* block = vek_variant<VekSlot::vek_alloc_128>(column)(64);
        vek_variant<VekSlot::vek_zero_32>(column)(static_cast<std::int32_t*>(block), 256);
        vek_variant<VekSlot::vek_free>(column)(block);
        EXPECT_TRUE(vektest::FpState::capture() == before) << column_name(column);
    }
    const vektest::FpState before = vektest::FpState::capture();
    (void)vek_cpu_has_cpuid();
    (void)vek_cpu_type();
    EXPECT_EQ(vek_init(), 1);
    EXPECT_TRUE(vektest::FpState::capture() == before);
}

} // namespace
