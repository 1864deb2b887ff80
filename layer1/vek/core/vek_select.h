// Processor test and the choice of the variant column that fills the dispatch table.
#pragma once

#include <cstdint>

#include "layer1/vek/core/vek_dispatch.h"
#include "layer1/vek/core/vek_types.h"

// Fields filled from the processor identification instruction, in this order. Only the base family of
// leaf 1 (4 bits) is taken; the extended family is not looked at. Leaf 2 is kept and not used.
struct CpuInfo {
    std::int32_t family;        // leaf 1 EAX bits 8-11
    std::int32_t stepping;      // leaf 1 EAX bits 0-3
    std::int32_t model;         // leaf 1 EAX bits 4-7
    std::int32_t processorType; // always 0
    std::int32_t features;      // leaf 1 EDX
    std::int32_t leaf2Eax;
    std::int32_t leaf2Edx;
    std::int32_t mmx;           // EDX bit 23
    std::int32_t reserved;      // never written
    std::int32_t sse;           // EDX bit 25
    std::int32_t sse2;          // EDX bit 26
};

// Columns tried, in order, for each processor type; each list ends with VEK_CPU_END.
extern const std::int32_t VekFallbackLists[VEK_COLUMN_COUNT][5];

// 1 when the identification instruction exists (bit 21 of the flags register can be toggled).
int vek_cpu_has_cpuid();
// Executes leaves 1 and 2 and fills the record; returns leaf 2 EAX.
std::int32_t vek_cpu_get_info(CpuInfo* info);
// The processor type by the family rules: no identification -> gen; family 15 -> wd with SSE2, else gen;
// family 6 -> ss with SSE, else mm with MMX, else gen; any other family -> gen. The vendor is not looked at.
VekCpuType vek_cpu_type_from_info(int hasCpuid, const CpuInfo& info);
VekCpuType vek_cpu_type();

// Copies one column into every slot; 1 on success, 0 at the first null entry (slots before it are already
// overwritten). The _rows form works on any rows (tests use their own rows and slots).
int vek_install_column(int column);
int vek_install_column_rows(const VekVariantRow* rows, std::int32_t rowCount, int column);

// Installs the first complete column of the fallback list of a processor type. Returns 1 when a column was
// installed; when none could be, 1 for types 2 and 3 and 0 otherwise.
int vek_select_variant_rows(VekCpuType type, const VekVariantRow* rows, std::int32_t rowCount);
int vek_select_variant();

// The library's start-up entry: selects and installs the processor's column. Safe to call again and from
// several devices at once: every call installs the same column.
int vek_init();
