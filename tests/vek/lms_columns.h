// The LMS functions of each column, read from the library's variant rows, so every test runs on every column
// through exactly what the dispatch table would install.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

#include "layer1/vek/lms/lms_state.h"
#include "vek_harness.h"

struct LmsColumnFns {
  const char* name;
  VekSlotFn<VekSlot::vek_lms_init_real> initReal;
  VekSlotFn<VekSlot::vek_lms_init_complex> initComplex;
  VekSlotFn<VekSlot::vek_lms_free> free;
  VekSlotFn<VekSlot::vek_lms_free_complex> freeComplex;
  VekSlotFn<VekSlot::vek_lms_set_taps_real> setTapsReal;
  VekSlotFn<VekSlot::vek_lms_get_taps_real> getTapsReal;
  VekSlotFn<VekSlot::vek_lms_get_taps_ptr> getTapsPtr;
  VekSlotFn<VekSlot::vek_lms_set_taps_complex> setTapsComplex;
  VekSlotFn<VekSlot::vek_lms_get_taps_complex> getTapsComplex;
  VekSlotFn<VekSlot::vek_lms_get_taps_ptr_complex> getTapsPtrComplex;
  VekSlotFn<VekSlot::vek_lms_set_delay_real> setDelayReal;
  VekSlotFn<VekSlot::vek_lms_get_delay_real> getDelayReal;
  VekSlotFn<VekSlot::vek_lms_get_delay_value_real> getDelayValueReal;
  VekSlotFn<VekSlot::vek_lms_set_delay_complex> setDelayComplex;
  VekSlotFn<VekSlot::vek_lms_get_delay_complex> getDelayComplex;
  VekSlotFn<VekSlot::vek_lms_get_delay_value_complex> getDelayValueComplex;
  VekSlotFn<VekSlot::vek_lms_put_value_real> putReal;
  VekSlotFn<VekSlot::vek_lms_put_value_complex> putComplex;
  VekSlotFn<VekSlot::vek_lms_set_mu_real> setMuReal;
  VekSlotFn<VekSlot::vek_lms_set_mu_complex> setMuComplex;
  VekSlotFn<VekSlot::vek_lms_filter_real> filterReal;
  VekSlotFn<VekSlot::vek_lms_put_filter_real> putFilterReal;
  VekSlotFn<VekSlot::vek_lms_filter_complex> filterComplex;
  VekSlotFn<VekSlot::vek_lms_put_filter_complex> putFilterComplex;
  VekSlotFn<VekSlot::vek_lms_update_real> updateReal;
  VekSlotFn<VekSlot::vek_lms_update_complex> updateComplex;
  VekSlotFn<VekSlot::vek_lms_direct_one> directOne;
};

inline LmsColumnFns LmsColumnOf(int c) {
  return LmsColumnFns{vektest::column_name(c),
                      vek_variant<VekSlot::vek_lms_init_real>(c),
                      vek_variant<VekSlot::vek_lms_init_complex>(c),
                      vek_variant<VekSlot::vek_lms_free>(c),
                      vek_variant<VekSlot::vek_lms_free_complex>(c),
                      vek_variant<VekSlot::vek_lms_set_taps_real>(c),
                      vek_variant<VekSlot::vek_lms_get_taps_real>(c),
                      vek_variant<VekSlot::vek_lms_get_taps_ptr>(c),
                      vek_variant<VekSlot::vek_lms_set_taps_complex>(c),
                      vek_variant<VekSlot::vek_lms_get_taps_complex>(c),
                      vek_variant<VekSlot::vek_lms_get_taps_ptr_complex>(c),
                      vek_variant<VekSlot::vek_lms_set_delay_real>(c),
                      vek_variant<VekSlot::vek_lms_get_delay_real>(c),
                      vek_variant<VekSlot::vek_lms_get_delay_value_real>(c),
                      vek_variant<VekSlot::vek_lms_set_delay_complex>(c),
                      vek_variant<VekSlot::vek_lms_get_delay_complex>(c),
                      vek_variant<VekSlot::vek_lms_get_delay_value_complex>(c),
                      vek_variant<VekSlot::vek_lms_put_value_real>(c),
                      vek_variant<VekSlot::vek_lms_put_value_complex>(c),
                      vek_variant<VekSlot::vek_lms_set_mu_real>(c),
                      vek_variant<VekSlot::vek_lms_set_mu_complex>(c),
                      vek_variant<VekSlot::vek_lms_filter_real>(c),
                      vek_variant<VekSlot::vek_lms_put_filter_real>(c),
                      vek_variant<VekSlot::vek_lms_filter_complex>(c),
                      vek_variant<VekSlot::vek_lms_put_filter_complex>(c),
                      vek_variant<VekSlot::vek_lms_update_real>(c),
                      vek_variant<VekSlot::vek_lms_update_complex>(c),
                      vek_variant<VekSlot::vek_lms_direct_one>(c)};
}

inline const std::array<LmsColumnFns, 4> kLmsColumns = {LmsColumnOf(VEK_CPU_GEN), LmsColumnOf(VEK_CPU_MM),
                                                        LmsColumnOf(VEK_CPU_SS), LmsColumnOf(VEK_CPU_WD)};

// Complex samples as packed words (real part in the low half) and back.
inline VekC16 ToC16(uint32_t w) {
  VekC16 c;
  std::memcpy(&c, &w, sizeof c);
  return c;
}
inline uint32_t FromC16(VekC16 c) {
  uint32_t w;
  std::memcpy(&w, &c, sizeof w);
  return w;
}
