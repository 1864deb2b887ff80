// Pool accounting per tag and per machine, fault injection.
#include <gtest/gtest.h>

#include <cstdint>

#include "platform/machine.h"

namespace {

const ULONG kWdm = POOL_TAG('W', 'd', 'm', ' ');
const ULONG kDict = POOL_TAG('D', 'I', 'C', 'T');

class Pool : public ::testing::Test {
protected:
    platform::Clock clock;
    platform::Machine machine{{&clock, "pool", ""}};
};

TEST_F(Pool, CountsLiveBlocksAndBytesPerTag)
{
    platform::MachineScope scope(machine);
    EXPECT_EQ(kWdm, 0x206D6457u);  // "Wdm " with the first character in the low byte
    PVOID a = ExAllocatePoolWithTag(PagedPool, 256, kWdm);
    PVOID b = ExAllocatePoolWithTag(NonPagedPool, 4896, kWdm);
    PVOID c = ExAllocatePoolWithTag(NonPagedPool, 100, kDict);
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % 16, 0u);
    EXPECT_EQ(machine.LiveBlocks(kWdm), 2);
    EXPECT_EQ(machine.LiveBytes(kWdm), 256 + 4896);
    EXPECT_EQ(machine.LiveBlocks(kDict), 1);
    EXPECT_EQ(machine.LiveBlocks(), 3);
    ExFreePool(a);
    ExFreePoolWithTag(c, kDict);
    EXPECT_EQ(machine.LiveBlocks(kWdm), 1);
    EXPECT_EQ(machine.LiveBytes(kWdm), 4896);
    EXPECT_EQ(machine.LiveBlocks(kDict), 0);
    ExFreePool(b);
    EXPECT_EQ(machine.LiveBlocks(), 0);
    EXPECT_EQ(machine.LiveBytes(), 0);
    for (const auto& s : machine.PoolStats()) {
        if (s.tag == kWdm) { EXPECT_EQ(s.allocations, 2u); }
    }
}

TEST_F(Pool, MachinesKeepSeparateAccounts)
{
    platform::Machine other({&clock, "other", ""});
    PVOID a;
    {
        platform::MachineScope scope(machine);
        a = ExAllocatePoolWithTag(PagedPool, 10, kWdm);
    }
    EXPECT_EQ(machine.LiveBlocks(), 1);
    EXPECT_EQ(other.LiveBlocks(), 0);
    {
        // Freed on another machine's thread: still charged back to the allocating machine.
        platform::MachineScope scope(other);
        ExFreePool(a);
    }
    EXPECT_EQ(machine.LiveBlocks(), 0);
}

TEST_F(Pool, FailsTheKthAllocationOnly)
{
    platform::MachineScope scope(machine);
    machine.FailAllocation(3);
    PVOID p[5];
    for (PVOID& x : p) x = ExAllocatePoolWithTag(PagedPool, 8, kWdm);
    EXPECT_NE(p[0], nullptr);
    EXPECT_NE(p[1], nullptr);
    EXPECT_EQ(p[2], nullptr);
    EXPECT_NE(p[3], nullptr);
    EXPECT_NE(p[4], nullptr);
    EXPECT_EQ(machine.LiveBlocks(kWdm), 4);
    for (PVOID x : p) {
        if (x) ExFreePool(x);
    }
    // Disarmed: nothing fails.
    machine.FailAllocation(1);
    machine.FailAllocation(0);
    PVOID q = ExAllocatePoolWithTag(PagedPool, 8, kWdm);
    EXPECT_NE(q, nullptr);
    ExFreePool(q);
}

TEST_F(Pool, ZeroSizeIsRefused)
{
    platform::MachineScope scope(machine);
    EXPECT_EQ(ExAllocatePoolWithTag(PagedPool, 0, kWdm), nullptr);
    EXPECT_EQ(machine.LiveBlocks(), 0);
}

TEST_F(Pool, DoubleFreeStopsTheProgram)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    platform::MachineScope scope(machine);
    PVOID a = ExAllocatePoolWithTag(PagedPool, 8, kWdm);
    ExFreePool(a);
    EXPECT_DEATH(ExFreePool(a), "freed twice");
    int local = 0;
    EXPECT_DEATH(ExFreePool(&local), "not from the pool");
}

}  // namespace
