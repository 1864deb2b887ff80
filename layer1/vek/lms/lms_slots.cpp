// The LMS family's rows of the variant table. A name listed in several columns is one function shared by
// those columns.
#include "layer1/vek/core/vek_dispatch.h"
#include "layer1/vek/lms/lms_state.h"

void vek_register_lms(VekRowWriter& rows) {
  rows.set<VekSlot::vek_lms_direct_one>(vek_lms_direct_one_gen, vek_lms_direct_one_mm, vek_lms_direct_one_ss,
                                        vek_lms_direct_one_wd);
  rows.set<VekSlot::vek_lms_filter_real>(vek_lms_filter_real_gen, vek_lms_filter_real_mm, vek_lms_filter_real_ss,
                                         vek_lms_filter_real_wd);
  rows.set<VekSlot::vek_lms_put_filter_real>(vek_lms_put_filter_real_gen, vek_lms_put_filter_real_mm,
                                             vek_lms_put_filter_real_ss, vek_lms_put_filter_real_wd);
  rows.set<VekSlot::vek_lms_filter_complex>(vek_lms_filter_complex_gen, vek_lms_filter_complex_mm,
                                            vek_lms_filter_complex_ss, vek_lms_filter_complex_wd);
  rows.set<VekSlot::vek_lms_put_filter_complex>(vek_lms_put_filter_complex_gen, vek_lms_put_filter_complex_mm,
                                                vek_lms_put_filter_complex_ss, vek_lms_put_filter_complex_wd);
  rows.set<VekSlot::vek_lms_init_real>(vek_lms_init_real_gen, vek_lms_init_real_mm, vek_lms_init_real_ss,
                                       vek_lms_init_real_wd);
  rows.set_all<VekSlot::vek_lms_free>(vek_lms_free_gen);
  rows.set<VekSlot::vek_lms_init_complex>(vek_lms_init_complex_gen, vek_lms_init_complex_mm,
                                          vek_lms_init_complex_ss, vek_lms_init_complex_wd);
  rows.set_all<VekSlot::vek_lms_free_complex>(vek_lms_free_gen);
  rows.set<VekSlot::vek_lms_set_taps_real>(vek_lms_set_taps_real_gen, vek_lms_set_taps_real_mm,
                                           vek_lms_set_taps_real_ss, vek_lms_set_taps_real_wd);
  rows.set<VekSlot::vek_lms_get_taps_real>(vek_lms_get_taps_real_gen, vek_lms_get_taps_real_gen,
                                           vek_lms_get_taps_real_gen, vek_lms_get_taps_real_wd);
  rows.set<VekSlot::vek_lms_get_taps_ptr>(vek_lms_get_taps_ptr_gen, vek_lms_get_taps_ptr_gen,
                                          vek_lms_get_taps_ptr_gen, vek_lms_get_taps_ptr_wd);
  rows.set<VekSlot::vek_lms_set_taps_complex>(vek_lms_set_taps_complex_gen, vek_lms_set_taps_complex_mm,
                                              vek_lms_set_taps_complex_ss, vek_lms_set_taps_complex_wd);
  rows.set<VekSlot::vek_lms_get_taps_complex>(vek_lms_get_taps_complex_gen, vek_lms_get_taps_complex_gen,
                                              vek_lms_get_taps_complex_gen, vek_lms_get_taps_complex_wd);
  rows.set<VekSlot::vek_lms_get_taps_ptr_complex>(vek_lms_get_taps_ptr_gen, vek_lms_get_taps_ptr_gen,
                                                  vek_lms_get_taps_ptr_gen, vek_lms_get_taps_ptr_wd);
  rows.set<VekSlot::vek_lms_set_delay_real>(vek_lms_set_delay_real_gen, vek_lms_set_delay_real_mm,
                                            vek_lms_set_delay_real_ss, vek_lms_set_delay_real_wd);
  rows.set<VekSlot::vek_lms_get_delay_real>(vek_lms_get_delay_real_gen, vek_lms_get_delay_real_mm,
                                            vek_lms_get_delay_real_ss, vek_lms_get_delay_real_wd);
  rows.set<VekSlot::vek_lms_get_delay_value_real>(vek_lms_get_delay_value_real_gen, vek_lms_get_delay_value_real_gen,
                                                  vek_lms_get_delay_value_real_gen, vek_lms_get_delay_value_real_wd);
  rows.set<VekSlot::vek_lms_set_delay_complex>(vek_lms_set_delay_complex_gen, vek_lms_set_delay_complex_mm,
                                               vek_lms_set_delay_complex_ss, vek_lms_set_delay_complex_wd);
  rows.set<VekSlot::vek_lms_get_delay_complex>(vek_lms_get_delay_complex_gen, vek_lms_get_delay_complex_mm,
                                               vek_lms_get_delay_complex_ss, vek_lms_get_delay_complex_wd);
  rows.set<VekSlot::vek_lms_get_delay_value_complex>(
      vek_lms_get_delay_value_complex_gen, vek_lms_get_delay_value_complex_gen, vek_lms_get_delay_value_complex_gen,
      vek_lms_get_delay_value_complex_wd);
  rows.set<VekSlot::vek_lms_put_value_real>(vek_lms_put_value_real_gen, vek_lms_put_value_real_mm,
                                            vek_lms_put_value_real_mm, vek_lms_put_value_real_wd);
  rows.set<VekSlot::vek_lms_put_value_complex>(vek_lms_put_value_complex_gen, vek_lms_put_value_complex_mm,
                                               vek_lms_put_value_complex_mm, vek_lms_put_value_complex_wd);
  rows.set<VekSlot::vek_lms_set_mu_real>(vek_lms_set_mu_real_gen, vek_lms_set_mu_real_gen, vek_lms_set_mu_real_gen,
                                         vek_lms_set_mu_real_wd);
  rows.set<VekSlot::vek_lms_set_mu_complex>(vek_lms_set_mu_complex_gen, vek_lms_set_mu_complex_gen,
                                            vek_lms_set_mu_complex_gen, vek_lms_set_mu_complex_wd);
  rows.set<VekSlot::vek_lms_update_real>(vek_lms_update_real_gen, vek_lms_update_real_mm, vek_lms_update_real_ss,
                                         vek_lms_update_real_wd);
  rows.set<VekSlot::vek_lms_update_complex>(vek_lms_update_complex_gen, vek_lms_update_complex_mm,
                                            vek_lms_update_complex_ss, vek_lms_update_complex_wd);
}
