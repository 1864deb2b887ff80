// Dispatch table, variant rows, processor test, selection and the pump entry points.
#include <cpuid.h>

#include <cstring>
#include <iostream>
#include <set>
#include <string>
#include <thread>

#include "vek_harness.h"

namespace {

using vektest::column_name;
using vektest::kColumns;

TEST(VekDispatch, SlotListHoldsEveryNameOnceAnd58Entries)
{
    std::set<std::string> names;
    int entries = 0;
    for (int slot = 0; slot < VEK_SLOT_COUNT; ++slot) {
        ASSERT_NE(vek_slot_name(slot), nullptr);
        names.insert(vek_slot_name(slot));
        entries += vek_slot_is_entry(slot) ? 1 : 0;
    }
    EXPECT_EQ(names.size(), static_cast<std::size_t>(VEK_SLOT_COUNT));
    EXPECT_EQ(entries, VEK_ENTRY_COUNT);
    EXPECT_EQ(vek_variant_row_count, 252);
    EXPECT_STREQ(vek_slot_name(0), "vek_get_version");
    EXPECT_STREQ(vek_slot_name(41), "vek_fir_block_complex_inplace");
    EXPECT_STREQ(vek_slot_name(239), "vek_trellis_acs");
    EXPECT_STREQ(vek_slot_name(251), "vek_sqrt_16");
    EXPECT_TRUE(vek_slot_is_entry(14));
    EXPECT_FALSE(vek_slot_is_entry(16));
    EXPECT_TRUE(vek_slot_is_entry(179));
    EXPECT_EQ(vek_slot_name(252), nullptr);
}

TEST(VekDispatch, EveryRowAddressesItsOwnSlot)
{
    const VekVariantRow* rows = vek_variant_table();
    for (int slot = 0; slot < VEK_SLOT_COUNT; ++slot) {
        EXPECT_EQ(rows[slot].slot, &vek_dispatch_table().slot[slot]) << vek_slot_name(slot);
    }
}

TEST(VekDispatch, EverySlotIsNonNullInEveryColumn)
{
    const VekVariantRow* rows = vek_variant_table();
    for (int slot = 0; slot < VEK_SLOT_COUNT; ++slot) {
        for (int column : kColumns) {
            EXPECT_NE(rows[slot].variant[column], nullptr) << vek_slot_name(slot) << " " << column_name(column);
        }
    }
}

TEST(VekDispatch, ListsThePlaceholdersLeft)
{
    int left = 0;
    std::string list;
    for (int slot = 0; slot < VEK_SLOT_COUNT; ++slot) {
        std::string columns;
        for (int column : kColumns) {
            if (vek_is_placeholder(slot, column)) {
                columns += columns.empty() ? "" : ",";
                columns += column_name(column);
            }
        }
        if (!columns.empty()) {
            ++left;
            list += "  " + std::to_string(slot) + " " + vek_slot_name(slot) + " [" + columns + "]\n";
        }
    }
    std::cout << "Slots still holding placeholders: " << left << " of " << VEK_SLOT_COUNT << "\n" << list;
    RecordProperty("placeholders_left", left);
    // The core's own slots are never placeholders.
    for (int slot = 0; slot <= 19; ++slot) {
        for (int column : kColumns) {
            EXPECT_FALSE(vek_is_placeholder(slot, column)) << vek_slot_name(slot);
        }
        EXPECT_STREQ(vek_slot_family(slot), "core");
    }
}

TEST(VekDispatch, PlaceholderReportsModeNotSupported)
{
    // A slot nobody has registered answers "not supported" in every column; a registered one does not.
    for (int slot = 0; slot < VEK_SLOT_COUNT; ++slot) {
        if (!vek_is_placeholder(slot, VEK_CPU_GEN)) {
            continue;
        }
        EXPECT_EQ(vek_slot_family(slot), nullptr);
    }
    EXPECT_EQ(vek_variant<VekSlot::vek_copy_8>(VEK_CPU_GEN), &vek_copy_8_gen);
}

struct CpuCase {
    const char* what;
    int hasCpuid;
    std::int32_t family;
    std::int32_t mmx;
    std::int32_t sse;
    std::int32_t sse2;
    VekCpuType expected;
};

TEST(VekDispatch, ProcessorTypeFollowsTheFamilyRules)
{
    const CpuCase cases[] = {
        {"no identification instruction", 0, 15, 1, 1, 1, VEK_CPU_GEN},
        {"family 4", 1, 4, 0, 0, 0, VEK_CPU_GEN},
        {"family 5 with MMX", 1, 5, 1, 0, 0, VEK_CPU_GEN},
        {"family 6 without MMX", 1, 6, 0, 0, 0, VEK_CPU_GEN},
        {"family 6 with MMX", 1, 6, 1, 0, 0, VEK_CPU_MM},
        {"family 6 with SSE", 1, 6, 1, 1, 0, VEK_CPU_SS},
        {"family 6 with SSE and SSE2", 1, 6, 1, 1, 1, VEK_CPU_SS},
        {"family 15 without SSE2", 1, 15, 1, 1, 0, VEK_CPU_GEN},
        {"family 15 with SSE2", 1, 15, 1, 1, 1, VEK_CPU_WD},
        {"family 7 with everything", 1, 7, 1, 1, 1, VEK_CPU_GEN},
    };
    for (const CpuCase& c : cases) {
        CpuInfo info{};
        info.family = c.family;
        info.mmx = c.mmx;
        info.sse = c.sse;
        info.sse2 = c.sse2;
        EXPECT_EQ(vek_cpu_type_from_info(c.hasCpuid, info), c.expected) << c.what;
    }
}

TEST(VekDispatch, ProcessorInfoMatchesTheIdentificationInstruction)
{
    ASSERT_EQ(vek_cpu_has_cpuid(), 1);
    CpuInfo info{};
    info.reserved = 0x5A5A;
    const std::int32_t leaf2 = vek_cpu_get_info(&info);
    unsigned a = 0, b = 0, c = 0, d = 0;
    __cpuid(1, a, b, c, d);
    EXPECT_EQ(info.family, static_cast<std::int32_t>((a >> 8) & 0xF));
    EXPECT_EQ(info.model, static_cast<std::int32_t>((a >> 4) & 0xF));
    EXPECT_EQ(info.stepping, static_cast<std::int32_t>(a & 0xF));
    EXPECT_EQ(info.processorType, 0);
    EXPECT_EQ(info.features, static_cast<std::int32_t>(d));
    EXPECT_EQ(info.mmx, 1);
    EXPECT_EQ(info.sse, 1);
    EXPECT_EQ(info.sse2, 1);
    EXPECT_EQ(info.reserved, 0x5A5A);
    EXPECT_EQ(leaf2, info.leaf2Eax);
}

TEST(VekDispatch, FallbackListsEndWithTheGenericColumn)
{
    const std::int32_t expected[4][5] = {{0, 4, 4, 4, 4}, {1, 0, 4, 4, 4}, {2, 1, 0, 4, 4}, {3, 2, 1, 0, 4}};
    for (int t = 0; t < 4; ++t) {
        for (int k = 0; k < 5; ++k) {
            EXPECT_EQ(VekFallbackLists[t][k], expected[t][k]) << t << "," << k;
        }
    }
}

// Own rows and slots, so that a column with a null entry can be tried without touching the real table.
struct TestRows {
    static constexpr int kRows = 4;
    std::atomic<VekAnyFn> slots[kRows];
    VekVariantRow rows[kRows];
    static void f0() {}
    static void f1() {}
    static void f2() {}
    static void f3() {}

    TestRows()
    {
        const VekAnyFn fns[4] = {&f0, &f1, &f2, &f3};
        for (int i = 0; i < kRows; ++i) {
            slots[i].store(nullptr);
            rows[i].slot = &slots[i];
            for (int c = 0; c < 4; ++c) {
                rows[i].variant[c] = fns[c];
            }
        }
    }
    bool all(VekAnyFn fn) const
    {
        for (int i = 0; i < kRows; ++i) {
            if (slots[i].load() != fn) {
                return false;
            }
        }
        return true;
    }
};

TEST(VekDispatch, InstallStopsAtANullEntryAndTheFallbackRewritesEverySlot)
{
    TestRows t;
    t.rows[2].variant[VEK_CPU_WD] = nullptr;
    EXPECT_EQ(vek_install_column_rows(t.rows, TestRows::kRows, VEK_CPU_WD), 0);
    EXPECT_EQ(t.slots[0].load(), &TestRows::f3);
    EXPECT_EQ(t.slots[1].load(), &TestRows::f3);
    EXPECT_EQ(t.slots[2].load(), nullptr);

    EXPECT_EQ(vek_select_variant_rows(VEK_CPU_WD, t.rows, TestRows::kRows), 1);
    EXPECT_TRUE(t.all(&TestRows::f2)); // ss, the next column of the list
}

TEST(VekDispatch, SelectionResultWhenNoColumnInstalls)
{
    for (VekCpuType type : {VEK_CPU_GEN, VEK_CPU_MM, VEK_CPU_SS, VEK_CPU_WD}) {
        TestRows t;
        for (int c = 0; c < 4; ++c) {
            t.rows[1].variant[c] = nullptr;
        }
        const int expected = (type == VEK_CPU_SS || type == VEK_CPU_WD) ? 1 : 0;
        EXPECT_EQ(vek_select_variant_rows(type, t.rows, TestRows::kRows), expected) << type;
    }
    TestRows t;
    EXPECT_EQ(vek_select_variant_rows(VEK_CPU_GEN, t.rows, TestRows::kRows), 1);
    EXPECT_TRUE(t.all(&TestRows::f0));
    EXPECT_EQ(vek_select_variant_rows(VEK_CPU_MM, t.rows, 0), 0);
    EXPECT_EQ(vek_select_variant_rows(static_cast<VekCpuType>(7), t.rows, TestRows::kRows), 0);
}

// True when every slot of the dispatch table holds the given column.
bool table_holds_column(int column)
{
    const VekVariantRow* rows = vek_variant_table();
    for (int slot = 0; slot < VEK_SLOT_COUNT; ++slot) {
        if (vek_dispatch_table().slot[slot].load() != rows[slot].variant[column]) {
            return false;
        }
    }
    return true;
}

TEST(VekDispatch, InstallingAColumnFillsEverySlotWithIt)
{
    vektest::DispatchTableGuard guard;
    for (int column : kColumns) {
        ASSERT_EQ(vek_install_column(column), 1);
        EXPECT_TRUE(table_holds_column(column)) << column_name(column);
        const VekVersion* v = vek_dispatched<VekSlot::vek_get_version>()();
        EXPECT_STREQ(v->targetCpu, column_name(column));
    }
    EXPECT_EQ(vek_install_column(4), 0);
    EXPECT_EQ(vek_install_column(-1), 0);
}

TEST(VekDispatch, InitInstallsTheColumnThisProcessorSelects)
{
    vektest::DispatchTableGuard guard;
    const VekCpuType type = vek_cpu_type();
    EXPECT_EQ(vek_init(), 1);
    EXPECT_TRUE(table_holds_column(type)) << column_name(type);
    EXPECT_EQ(vek_init(), 1);
    EXPECT_TRUE(table_holds_column(type));
    // Base family 15 with SSE2 selects wd, base family 6 selects ss; everything else here has SSE2.
    CpuInfo info{};
    vek_cpu_get_info(&info);
    EXPECT_EQ(type, vek_cpu_type_from_info(1, info));
    std::cout << "This processor: base family " << info.family << ", column " << column_name(type) << "\n";
}

TEST(VekDispatch, EntryPointsCallTheInstalledColumn)
{
    vektest::DispatchTableGuard guard;
    for (int column : kColumns) {
        ASSERT_EQ(vek_install_column(column), 1);
        std::uint8_t src[100];
        std::uint8_t dst[100] = {};
        for (int i = 0; i < 100; ++i) {
            src[i] = static_cast<std::uint8_t>(i + 1);
        }
        EXPECT_EQ(vek_copy_8(src, dst, 100), VEK_OK);
        EXPECT_EQ(std::memcmp(src, dst, 100), 0);
        EXPECT_EQ(vek_zero_8(dst, 50), VEK_OK);
        EXPECT_EQ(dst[49], 0);
        EXPECT_EQ(dst[50], 51);
        std::int16_t s16[3] = {1, -2, 3};
        std::int16_t d16[3] = {};
        EXPECT_EQ(vek_copy_16(s16, d16, 3), VEK_OK);
        EXPECT_EQ(d16[1], -2);
        EXPECT_EQ(vek_zero_16(d16, 0), VEK_ERR_SIZE);
        EXPECT_EQ(vek_zero_16(nullptr, 3), VEK_ERR_NULL_POINTER);
        EXPECT_EQ(vek_dispatched<VekSlot::vek_copy_8>(), vek_variant<VekSlot::vek_copy_8>(column));
    }
}

TEST(VekDispatch, TwoDevicesMaySelectAtOnce)
{
    vektest::DispatchTableGuard guard;
    const VekCpuType type = vek_cpu_type();
    std::atomic<int> failures{0};
    auto device = [&failures] {
        for (int i = 0; i < 50; ++i) {
            if (vek_init() != 1) {
                failures.fetch_add(1);
            }
            std::uint8_t src[64] = {7};
            std::uint8_t dst[64] = {};
            if (vek_copy_8(src, dst, 64) != VEK_OK || dst[0] != 7) {
                failures.fetch_add(1);
            }
        }
    };
    std::thread a(device);
    std::thread b(device);
    a.join();
    b.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_TRUE(table_holds_column(type));
}

} // namespace
