// The IIR family's rows of the variant table.
#include "layer1/vek/core/vek_dispatch.h"
#include "layer1/vek/iir/iir.h"

#define VEK_IIR_ROW(name) rows.set<VekSlot::name>(name##_gen, name##_mm, name##_ss, name##_wd);
#define VEK_IIR_INIT_ROW(name) rows.set<VekSlot::name>(name##_gen, name##_mmss, name##_mmss, name##_wd);

void vek_register_iir(VekRowWriter& rows) {
    // Creation: gen, one function for mm and ss, wd with its own allocators.
    VEK_IIR_INIT_ROW(vek_iir_init_real)
    VEK_IIR_INIT_ROW(vek_iir_init_complex)
    VEK_IIR_INIT_ROW(vek_iir_init_biquad_real)
    VEK_IIR_INIT_ROW(vek_iir_init_biquad_complex)
    // Release: one function per data type for every column.
    rows.set_all<VekSlot::vek_iir_free_real>(vek_iir_free_real);
    rows.set_all<VekSlot::vek_iir_free_complex>(vek_iir_free_complex);
    // Filtering and delay lines per column.
    VEK_IIR_ROW(vek_iir_one_real)
    VEK_IIR_ROW(vek_iir_one_complex)
    VEK_IIR_ROW(vek_iir_block_real)
    VEK_IIR_ROW(vek_iir_block_complex)
    VEK_IIR_ROW(vek_iir_block_real_inplace)
    VEK_IIR_ROW(vek_iir_block_complex_inplace)
    VEK_IIR_ROW(vek_iir_get_delay_real)
    VEK_IIR_ROW(vek_iir_set_delay_real)
    VEK_IIR_ROW(vek_iir_get_delay_complex)
    VEK_IIR_ROW(vek_iir_set_delay_complex)
}
