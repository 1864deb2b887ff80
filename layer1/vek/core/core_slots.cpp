// The core's rows of the variant table: version, status text, allocation, free, copy and zero.
#include "layer1/vek/core/vek_copy.h"
#include "layer1/vek/core/vek_dispatch.h"
#include "layer1/vek/core/vek_memory.h"
#include "layer1/vek/core/vek_version.h"

void vek_register_core(VekRowWriter& rows)
{
    rows.set<VekSlot::vek_get_version>(vek_get_version_gen, vek_get_version_mm, vek_get_version_ss,
                                       vek_get_version_wd);
    rows.set_all<VekSlot::vek_status_text>(vek_status_text);

    rows.set_all<VekSlot::vek_alloc_8>(vek_alloc_8);
    rows.set_all<VekSlot::vek_alloc_8_b>(vek_alloc_8);
    rows.set_all<VekSlot::vek_alloc_16>(vek_alloc_16);
    rows.set_all<VekSlot::vek_alloc_16_b>(vek_alloc_16);
    rows.set_all<VekSlot::vek_alloc_16_c>(vek_alloc_16);
    rows.set<VekSlot::vek_alloc_32>(vek_alloc_32_gen, vek_alloc_32_gen, vek_alloc_32_gen, vek_alloc_32_wd);
    rows.set<VekSlot::vek_alloc_32_b>(vek_alloc_32_gen, vek_alloc_32_gen, vek_alloc_32_gen, vek_alloc_32_wd);
    rows.set<VekSlot::vek_alloc_32_c>(vek_alloc_32_gen, vek_alloc_32_gen, vek_alloc_32_gen, vek_alloc_32_wd);
    rows.set<VekSlot::vek_alloc_64>(vek_alloc_64_gen, vek_alloc_64_gen, vek_alloc_64_gen, vek_alloc_64_wd);
    rows.set<VekSlot::vek_alloc_64_b>(vek_alloc_64_gen, vek_alloc_64_gen, vek_alloc_64_gen, vek_alloc_64_wd);
    rows.set<VekSlot::vek_alloc_128>(vek_alloc_128_gen, vek_alloc_128_gen, vek_alloc_128_gen, vek_alloc_128_wd);
    rows.set_all<VekSlot::vek_free>(vek_free);

    rows.set<VekSlot::vek_copy_8>(vek_copy_8_gen, vek_copy_8_mm, vek_copy_8_ss, vek_copy_8_wd);
    rows.set<VekSlot::vek_copy_16>(vek_copy_16_gen, vek_copy_16_mm, vek_copy_16_ss, vek_copy_16_wd);
    rows.set<VekSlot::vek_copy_32>(vek_copy_32_gen, vek_copy_32_mm, vek_copy_32_ss, vek_copy_32_wd);
    rows.set<VekSlot::vek_zero_8>(vek_zero_8_gen, vek_zero_8_mm, vek_zero_8_ss, vek_zero_8_wd);
    rows.set<VekSlot::vek_zero_16>(vek_zero_16_gen, vek_zero_16_mm, vek_zero_16_ss, vek_zero_16_wd);
    rows.set<VekSlot::vek_zero_32>(vek_zero_32_gen, vek_zero_32_mm, vek_zero_32_ss, vek_zero_32_wd);
}
