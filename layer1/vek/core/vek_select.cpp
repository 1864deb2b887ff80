// Processor test, column installation and variant selection.
#include "layer1/vek/core/vek_select.h"

#include <cpuid.h>

#include <mutex>

const std::int32_t VekFallbackLists[VEK_COLUMN_COUNT][5] = {
    {VEK_CPU_GEN, VEK_CPU_END, VEK_CPU_END, VEK_CPU_END, VEK_CPU_END},
    {VEK_CPU_MM, VEK_CPU_GEN, VEK_CPU_END, VEK_CPU_END, VEK_CPU_END},
    {VEK_CPU_SS, VEK_CPU_MM, VEK_CPU_GEN, VEK_CPU_END, VEK_CPU_END},
    {VEK_CPU_WD, VEK_CPU_SS, VEK_CPU_MM, VEK_CPU_GEN, VEK_CPU_END},
};

namespace {

// Serialises selections, so that two devices setting up at once never interleave their column walks.
std::mutex& selection_lock()
{
    static std::mutex lock;
    return lock;
}

constexpr std::uint32_t kIdFlag = 1u << 21;

} // namespace

int vek_cpu_has_cpuid()
{
#if defined(__x86_64__)
    std::uint64_t before = 0;
    std::uint64_t after = 0;
    // Toggle the ID flag once, read the flags back, restore them. The stack pointer steps over the red
    // zone first, since the pushes would otherwise write into it.
    asm volatile(
        "addq $-128, %%rsp\n\t"
        "pushfq\n\t"
        "popq %0\n\t"
        "movq %0, %1\n\t"
        "xorq %2, %1\n\t"
        "pushq %1\n\t"
        "popfq\n\t"
        "pushfq\n\t"
        "popq %1\n\t"
        "pushq %0\n\t"
        "popfq\n\t"
        "subq $-128, %%rsp\n\t"
        : "=&r"(before), "=&r"(after)
        : "i"(kIdFlag)
        : "cc", "memory");
    return ((before ^ after) & kIdFlag) != 0 ? 1 : 0;
#else
    return 0;
#endif
}

std::int32_t vek_cpu_get_info(CpuInfo* info)
{
    unsigned eax = 0;
    unsigned ebx = 0;
    unsigned ecx = 0;
    unsigned edx = 0;
    __cpuid(1, eax, ebx, ecx, edx);
    info->family = static_cast<std::int32_t>((eax >> 8) & 0xF);
    info->stepping = static_cast<std::int32_t>(eax & 0xF);
    info->model = static_cast<std::int32_t>((eax >> 4) & 0xF);
    info->processorType = 0;
    info->features = static_cast<std::int32_t>(edx);
    info->mmx = static_cast<std::int32_t>((edx >> 23) & 1);
    info->sse = static_cast<std::int32_t>((edx >> 25) & 1);
    info->sse2 = static_cast<std::int32_t>((edx >> 26) & 1);
    unsigned eax2 = 0;
    unsigned ebx2 = 0;
    unsigned ecx2 = 0;
    unsigned edx2 = 0;
    __cpuid(2, eax2, ebx2, ecx2, edx2);
    info->leaf2Eax = static_cast<std::int32_t>(eax2);
    info->leaf2Edx = static_cast<std::int32_t>(edx2);
    return info->leaf2Eax;
}

VekCpuType vek_cpu_type_from_info(int hasCpuid, const CpuInfo& info)
{
    if (hasCpuid == 0) {
        return VEK_CPU_GEN;
    }
    if (info.family == 15) {
        return info.sse2 != 0 ? VEK_CPU_WD : VEK_CPU_GEN;
    }
    if (info.family == 6) {
        if (info.sse != 0) {
            return VEK_CPU_SS;
        }
        return info.mmx != 0 ? VEK_CPU_MM : VEK_CPU_GEN;
    }
    return VEK_CPU_GEN;
}

VekCpuType vek_cpu_type()
{
    const int has = vek_cpu_has_cpuid();
    CpuInfo info{};
    if (has != 0) {
        vek_cpu_get_info(&info);
    }
    return vek_cpu_type_from_info(has, info);
}

int vek_install_column_rows(const VekVariantRow* rows, std::int32_t rowCount, int column)
{
    if (column < 0 || column >= VEK_COLUMN_COUNT) {
        return 0;
    }
    for (std::int32_t i = 0; i < rowCount; ++i) {
        const VekAnyFn fn = rows[i].variant[column];
        if (fn == nullptr) {
            return 0;
        }
        rows[i].slot->store(fn, std::memory_order_relaxed);
    }
    return 1;
}

int vek_select_variant_rows(VekCpuType type, const VekVariantRow* rows, std::int32_t rowCount)
{
    if (rowCount > 0 && type >= VEK_CPU_GEN && type <= VEK_CPU_WD) {
        for (const std::int32_t column : VekFallbackLists[type]) {
            if (column >= VEK_CPU_END) {
                break;
            }
            if (vek_install_column_rows(rows, rowCount, column) == 1) {
                return 1;
            }
        }
    }
    return (type == VEK_CPU_SS || type == VEK_CPU_WD) ? 1 : 0;
}

int vek_install_column(int column)
{
    const VekVariantRow* rows = vek_variant_table();
    std::lock_guard<std::mutex> hold(selection_lock());
    return vek_install_column_rows(rows, vek_variant_row_count, column);
}

int vek_select_variant()
{
    const VekCpuType type = vek_cpu_type();
    const VekVariantRow* rows = vek_variant_table();
    std::lock_guard<std::mutex> hold(selection_lock());
    return vek_select_variant_rows(type, rows, vek_variant_row_count);
}

int vek_init()
{
    return vek_select_variant();
}
