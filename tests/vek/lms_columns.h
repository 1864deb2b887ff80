// The LMS functions of each column, as the variant rows list them, so every test runs on every column.
#pragma once

#include <array>

#include "layer1/vek/lms/lms_state.h"

struct LmsColumnFns {
  const char* name;
  decltype(&vek_lms_init_real_gen) initReal;
  decltype(&vek_lms_init_complex_gen) initComplex;
  decltype(&vek_lms_free_gen) free;
  decltype(&vek_lms_set_taps_real_gen) setTapsReal;
  decltype(&vek_lms_get_taps_real_gen) getTapsReal;
  decltype(&vek_lms_get_taps_ptr_gen) getTapsPtr;
  decltype(&vek_lms_set_taps_complex_gen) setTapsComplex;
  decltype(&vek_lms_get_taps_complex_gen) getTapsComplex;
  decltype(&vek_lms_set_delay_real_gen) setDelayReal;
  decltype(&vek_lms_get_delay_real_gen) getDelayReal;
  decltype(&vek_lms_get_delay_value_real_gen) getDelayValueReal;
  decltype(&vek_lms_set_delay_complex_gen) setDelayComplex;
  decltype(&vek_lms_get_delay_complex_gen) getDelayComplex;
  decltype(&vek_lms_get_delay_value_complex_gen) getDelayValueComplex;
  decltype(&vek_lms_put_value_real_gen) putReal;
  decltype(&vek_lms_put_value_complex_gen) putComplex;
  decltype(&vek_lms_set_mu_real_gen) setMuReal;
  decltype(&vek_lms_set_mu_complex_gen) setMuComplex;
  decltype(&vek_lms_filter_real_gen) filterReal;
  decltype(&vek_lms_put_filter_real_gen) putFilterReal;
  decltype(&vek_lms_filter_complex_gen) filterComplex;
  decltype(&vek_lms_put_filter_complex_gen) putFilterComplex;
  decltype(&vek_lms_update_real_gen) updateReal;
  decltype(&vek_lms_update_complex_gen) updateComplex;
  decltype(&vek_lms_direct_one_gen) directOne;
};

// clang-format off
inline const std::array<LmsColumnFns, 4> kLmsColumns = {{
  {"gen", vek_lms_init_real_gen, vek_lms_init_complex_gen, vek_lms_free_gen,
   vek_lms_set_taps_real_gen, vek_lms_get_taps_real_gen, vek_lms_get_taps_ptr_gen,
   vek_lms_set_taps_complex_gen, vek_lms_get_taps_complex_gen,
   vek_lms_set_delay_real_gen, vek_lms_get_delay_real_gen, vek_lms_get_delay_value_real_gen,
   vek_lms_set_delay_complex_gen, vek_lms_get_delay_complex_gen, vek_lms_get_delay_value_complex_gen,
   vek_lms_put_value_real_gen, vek_lms_put_value_complex_gen, vek_lms_set_mu_real_gen, vek_lms_set_mu_complex_gen,
   vek_lms_filter_real_gen, vek_lms_put_filter_real_gen, vek_lms_filter_complex_gen, vek_lms_put_filter_complex_gen,
   vek_lms_update_real_gen, vek_lms_update_complex_gen, vek_lms_direct_one_gen},
  {"mm", vek_lms_init_real_mm, vek_lms_init_complex_mm, vek_lms_free_gen,
   vek_lms_set_taps_real_mm, vek_lms_get_taps_real_gen, vek_lms_get_taps_ptr_gen,
   vek_lms_set_taps_complex_mm, vek_lms_get_taps_complex_gen,
   vek_lms_set_delay_real_mm, vek_lms_get_delay_real_mm, vek_lms_get_delay_value_real_gen,
   vek_lms_set_delay_complex_mm, vek_lms_get_delay_complex_mm, vek_lms_get_delay_value_complex_gen,
   vek_lms_put_value_real_mm, vek_lms_put_value_complex_mm, vek_lms_set_mu_real_gen, vek_lms_set_mu_complex_gen,
   vek_lms_filter_real_mm, vek_lms_put_filter_real_mm, vek_lms_filter_complex_mm, vek_lms_put_filter_complex_mm,
   vek_lms_update_real_mm, vek_lms_update_complex_mm, vek_lms_direct_one_mm},
  {"ss", vek_lms_init_real_ss, vek_lms_init_complex_ss, vek_lms_free_gen,
   vek_lms_set_taps_real_ss, vek_lms_get_taps_real_gen, vek_lms_get_taps_ptr_gen,
   vek_lms_set_taps_complex_ss, vek_lms_get_taps_complex_gen,
   vek_lms_set_delay_real_ss, vek_lms_get_delay_real_ss, vek_lms_get_delay_value_real_gen,
   vek_lms_set_delay_complex_ss, vek_lms_get_delay_complex_ss, vek_lms_get_delay_value_complex_gen,
   vek_lms_put_value_real_mm, vek_lms_put_value_complex_mm, vek_lms_set_mu_real_gen, vek_lms_set_mu_complex_gen,
   vek_lms_filter_real_ss, vek_lms_put_filter_real_ss, vek_lms_filter_complex_ss, vek_lms_put_filter_complex_ss,
   vek_lms_update_real_ss, vek_lms_update_complex_ss, vek_lms_direct_one_ss},
  {"wd", vek_lms_init_real_wd, vek_lms_init_complex_wd, vek_lms_free_gen,
   vek_lms_set_taps_real_wd, vek_lms_get_taps_real_wd, vek_lms_get_taps_ptr_wd,
   vek_lms_set_taps_complex_wd, vek_lms_get_taps_complex_wd,
   vek_lms_set_delay_real_wd, vek_lms_get_delay_real_wd, vek_lms_get_delay_value_real_wd,
   vek_lms_set_delay_complex_wd, vek_lms_get_delay_complex_wd, vek_lms_get_delay_value_complex_wd,
   vek_lms_put_value_real_wd, vek_lms_put_value_complex_wd, vek_lms_set_mu_real_wd, vek_lms_set_mu_complex_wd,
   vek_lms_filter_real_wd, vek_lms_put_filter_real_wd, vek_lms_filter_complex_wd, vek_lms_put_filter_complex_wd,
   vek_lms_update_real_wd, vek_lms_update_complex_wd, vek_lms_direct_one_wd},
}};
// clang-format on
