// The FIR family's rows of the variant table.
#include "layer1/vek/core/vek_dispatch.h"
#include "layer1/vek/fir/fir_columns.h"

void vek_register_fir(VekRowWriter& rows)
{
    // Creation: generic layouts for gen, mm and ss; the wide real layout for wd; padded multi-rate tables
    // for ss and wd.
    rows.set<VekSlot::vek_fir_init_real>(vek_fir_init_real_gen, vek_fir_init_real_gen, vek_fir_init_real_gen,
                                         vek_fir_init_real_wd);
    rows.set<VekSlot::vek_fir_init_real_multirate>(vek_fir_init_real_multirate_gen, vek_fir_init_real_multirate_gen,
                                                   vek_fir_init_real_multirate_ss, vek_fir_init_real_multirate_ss);
    rows.set_all<VekSlot::vek_fir_init_complex>(vek_fir_init_complex_all);
    rows.set<VekSlot::vek_fir_init_complex_multirate>(
        vek_fir_init_complex_multirate_gen, vek_fir_init_complex_multirate_gen, vek_fir_init_complex_multirate_ss,
        vek_fir_init_complex_multirate_ss);

    // Release, taps and delay lines: one routine each for every column.
    rows.set_all<VekSlot::vek_fir_free_real>(vek_fir_free_real_all);
    rows.set_all<VekSlot::vek_fir_free_complex>(vek_fir_free_complex_all);
    rows.set_all<VekSlot::vek_fir_get_taps_real>(vek_fir_get_taps_real_all);
    rows.set_all<VekSlot::vek_fir_get_taps_complex>(vek_fir_get_taps_complex_all);
    rows.set_all<VekSlot::vek_fir_get_delay_real>(vek_fir_get_delay_real_all);
    rows.set_all<VekSlot::vek_fir_set_delay_real>(vek_fir_set_delay_real_all);
    rows.set_all<VekSlot::vek_fir_get_delay_complex>(vek_fir_get_delay_complex_all);
    rows.set_all<VekSlot::vek_fir_set_delay_complex>(vek_fir_set_delay_complex_all);

    // Filtering, per column (the SSE2 column's complex functions run the SSE column's kernels).
    rows.set<VekSlot::vek_fir_one_real>(vek_fir_one_real_gen, vek_fir_one_real_mm, vek_fir_one_real_ss,
                                        vek_fir_one_real_wd);
    rows.set<VekSlot::vek_fir_one_complex>(vek_fir_one_complex_gen, vek_fir_one_complex_mm, vek_fir_one_complex_ss,
                                           vek_fir_one_complex_wd);
    rows.set<VekSlot::vek_fir_block_real>(vek_fir_block_real_gen, vek_fir_block_real_mm, vek_fir_block_real_ss,
                                          vek_fir_block_real_wd);
    rows.set<VekSlot::vek_fir_block_complex>(vek_fir_block_complex_gen, vek_fir_block_complex_mm,
                                             vek_fir_block_complex_ss, vek_fir_block_complex_wd);
    rows.set<VekSlot::vek_fir_block_real_inplace>(vek_fir_block_real_inplace_gen, vek_fir_block_real_inplace_mm,
                                                  vek_fir_block_real_inplace_ss, vek_fir_block_real_inplace_wd);
    rows.set<VekSlot::vek_fir_block_complex_inplace>(
        vek_fir_block_complex_inplace_gen, vek_fir_block_complex_inplace_mm, vek_fir_block_complex_inplace_ss,
        vek_fir_block_complex_inplace_wd);
}
